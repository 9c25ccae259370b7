#pragma once

#include "oxlocation.h"

#include <QPointF>
#include <QStringList>
#include <QVector>
#include <QWidget>

class QWebEngineView;

// The one object a map page reaches through its web channel: clicks on the route.
class RouteBridge : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
public slots:
    // Where the route was clicked, in the page's datum.
    void routeClicked(double latitude, double longitude);
signals:
    void clicked(double latitude, double longitude);
};

// The route on a web map page with a marker that follows playback. Two local pages
// (Map/googleMap.html, Map/baiduMap.html beside the executable); the one chosen by
// setMapType receives the script calls. A page's web view is built the first time it is
// chosen, and none before the widget has been painted once: the web engine starts only
// after the window is on screen. Calls for a page that is not there yet wait for it.
class OxMapWidget : public QWidget
{
    Q_OBJECT
public:
    explicit OxMapWidget(QWidget *parent = nullptr);
    ~OxMapWidget() override;

    // 2 = Google page, anything else the Baidu page.
    void setMapType(int type);
    // Non-zero: coordinates are converted to the datum of the page.
    void setGPSCorrection(int flag);
    void clearMap();
    void showTrack(const OxTrack &track);
    void play(int index);
    // Both in seconds.
    void updateProgress(double current, double duration);

    // A drive's whole route at once: what showTrack sends, with the page's calls joined
    // into a few scripts (a drive of hours has tens of thousands of fixes).
    void showRoute(const OxTrack &route);
    // The marker on fix number fix of the track or route last shown (void fixes count,
    // as in showTrack); before the first valid fix nothing moves.
    void showFix(int fix);
    // Fixes of the track or route last shown, void ones included.
    int routeSize() const { return pointCount; }

    // While held, no page is built (calls wait as for a page still loading). The window
    // holds the page back while a recording starts, so that starting the web engine does
    // not hold up its first pictures. Releasing builds the chosen page when it is due.
    void holdPages(bool hold);

    // The folder that holds Map/ (the executable's folder unless set). Takes effect
    // for widgets made afterwards.
    static void setPageRoot(const QString &folder);

    // The web engine's switches: those given (QTWEBENGINE_CHROMIUM_FLAGS), then the ones
    // a page this small wants that were not given. One renderer at most; with the
    // sandbox off anyway (as root), the renderer runs inside the program, and no zygote
    // processes are started for it. The first page built puts them in place.
    static QByteArray webEngineFlags(const QByteArray &given, bool sandboxOff);

    // A place in the page's datum back to WGS-84, as the track holds it.
    static QPointF pageToWgs84(int mapType, int gpsCorrection, double latitude, double longitude);

signals:
    // A click on the route: the place (WGS-84), for the window to seek to the moment the
    // car was there.
    void routeClicked(double latitude, double longitude);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // Scripts run before a page has finished loading would run in the empty
    // document that precedes it and be lost; they wait here instead.
    struct PageQueue
    {
        bool loaded = false;
        QStringList scripts;
    };

    QWebEngineView *makeView(const QString &page, PageQueue *queue);
    // Sends the track with at most callsPerScript addAddress calls in one script.
    void sendTrack(const OxTrack &track, int callsPerScript);
    // Builds the chosen page's view when pages may be built and it is not there yet.
    void buildCurrentPage();
    void runScript(const QString &script);
    PageQueue *currentQueue();

    // The chosen page's view, none until it is built.
    QWebEngineView *currentView = nullptr;
    QWebEngineView *baiduView = nullptr;
    QWebEngineView *googleView = nullptr;
    // Set by the first setMapType: script calls before it go nowhere.
    bool typeChosen = false;
    // Set just after the first paint; views are built from then on.
    bool pagesAllowed = false;
    bool pagesScheduled = false;
    bool pagesHeld = false;
    int mapType = 0;
    int pointCount = 0;
    int gpsCorrection = 1;
    OxTrack track;
    // For each fix of the track, the page's index of the last valid fix at or before
    // it (the page holds only the valid ones), or -1 before the first valid fix.
    QVector<int> routeIndex;
    PageQueue baiduQueue;
    PageQueue googleQueue;
    RouteBridge *bridge = nullptr;
};
