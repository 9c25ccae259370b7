#pragma once

#include "oxlocation.h"

#include <QStringList>
#include <QVector>
#include <QWidget>

class QWebEngineView;

// The route on a web map page with a marker that follows playback. Two local pages
// (Map/googleMap.html, Map/baiduMap.html beside the executable) load at once; the
// one chosen by setMapType receives the script calls.
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

    // The folder that holds Map/ (the executable's folder unless set). Takes effect
    // for widgets made afterwards.
    static void setPageRoot(const QString &folder);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // Scripts run before a page has finished loading would run in the empty
    // document that precedes it and be lost; they wait here instead.
    struct PageQueue
    {
        bool loaded = false;
        QStringList scripts;
    };

    QWebEngineView *makeView(const QString &page, PageQueue *queue);
    void runScript(const QString &script);
    PageQueue *queueOf(QWebEngineView *view);

    QWebEngineView *currentView = nullptr;
    QWebEngineView *baiduView;
    QWebEngineView *googleView;
    int mapType = 0;
    int pointCount = 0;
    int gpsCorrection = 1;
    OxTrack track;
    // For each fix of the track, the page's index of the last valid fix at or before
    // it (the page holds only the valid ones), or -1 before the first valid fix.
    QVector<int> routeIndex;
    PageQueue baiduQueue;
    PageQueue googleQueue;
};
