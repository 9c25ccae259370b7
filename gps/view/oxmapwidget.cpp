#include "oxmapwidget.h"

#include "configkeys.h"
#include "gpspoint.h"

#include <QCoreApplication>
#include <QTimer>
#include <QUrl>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// A drive's route goes to the page in scripts of this many addAddress calls.
constexpr int kRouteCallsPerScript = 2000;

QString &pageRoot()
{
    static QString root;
    return root;
}

// Before the web engine starts (with the first view), so that it reads them.
void prepareWebEngine()
{
    static bool prepared = false;
    if (prepared)
        return;
    prepared = true;
    const char *const variable = "QTWEBENGINE_CHROMIUM_FLAGS";
    const QByteArray given = qgetenv(variable);
    // The engine turns its sandbox off for this variable or this switch.
    const bool sandboxOff = qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX") ||
                            given.split(' ').contains("--no-sandbox") ||
                            QCoreApplication::arguments().contains(QStringLiteral("--no-sandbox"));
    qputenv(variable, OxMapWidget::webEngineFlags(given, sandboxOff));
}

} // namespace

QByteArray OxMapWidget::webEngineFlags(const QByteArray &given, bool sandboxOff)
{
    QList<QByteArray> flags = given.simplified().split(' ');
    flags.removeAll(QByteArray());
    QList<QByteArray> wanted = {"--renderer-process-limit=1"};
    // Without a sandbox a renderer process keeps only the page's crashes apart from the
    // program, not the user's files from the page; it costs a second loading of the whole
    // engine library and some 50 MB: the page is drawn inside the program instead.
    if (sandboxOff)
        wanted << "--no-zygote"
               << "--single-process";
    for (const QByteArray &flag : wanted) {
        const int equals = flag.indexOf('=');
        const QByteArray name = equals < 0 ? flag : flag.left(equals);
        const bool named = std::any_of(flags.cbegin(), flags.cend(), [&](const QByteArray &f) {
            return f == name || f.startsWith(name + '=');
        });
        if (!named)
            flags.append(flag);
    }
    return flags.join(' ');
}

void OxMapWidget::setPageRoot(const QString &folder)
{
    pageRoot() = folder;
}

void RouteBridge::routeClicked(double latitude, double longitude)
{
    if (std::isfinite(latitude) && std::isfinite(longitude))
        emit clicked(latitude, longitude);
}

OxMapWidget::OxMapWidget(QWidget *parent) : QWidget(parent), bridge(new RouteBridge(this))
{
    connect(bridge, &RouteBridge::clicked, this, [this](double latitude, double longitude) {
        const QPointF wgs = pageToWgs84(mapType, gpsCorrection, latitude, longitude);
        emit routeClicked(wgs.y(), wgs.x());
    });
}

// The corrections have no closed inverse; a few steps of x -= f(x) - y get within
// millimetres, the offsets changing slowly with the place.
QPointF OxMapWidget::pageToWgs84(int mapType, int gpsCorrection, double latitude, double longitude)
{
    if (gpsCorrection == GPSCorrection::Raw ||
        (mapType != MapPage::Baidu && mapType != MapPage::Google))
        return {longitude, latitude};
    auto forward = [mapType](double lat, double lng) {
        GPSPoint wgs;
        wgs.lat = lat;
        wgs.lng = lng;
        GPSPoint page = wgs84ToGcj02(wgs);
        return mapType == MapPage::Baidu ? gcj02ToBd09(page) : page;
    };
    double lat = latitude, lng = longitude;
    for (int step = 0; step < 6; ++step) {
        const GPSPoint there = forward(lat, lng);
        lat -= there.lat - latitude;
        lng -= there.lng - longitude;
    }
    return {lng, lat};
}

OxMapWidget::~OxMapWidget() = default;

QWebEngineView *OxMapWidget::makeView(const QString &page, PageQueue *queue)
{
    prepareWebEngine();
    auto *view = new QWebEngineView(this);
    view->setGeometry(0, 0, width(), height());
    QWebEngineSettings *settings = view->settings();
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    auto *channel = new QWebChannel(view->page());
    channel->registerObject(QStringLiteral("routeBridge"), bridge);
    view->page()->setWebChannel(channel);
    connect(view, &QWebEngineView::loadStarted, this, [queue] { queue->loaded = false; });
    connect(view, &QWebEngineView::loadFinished, this, [view, queue](bool) {
        // A page that failed to load gets the calls too: they fail quietly there,
        // and the queue does not grow for ever.
        queue->loaded = true;
        const QStringList scripts = std::move(queue->scripts);
        queue->scripts.clear();
        for (const QString &script : scripts)
            view->page()->runJavaScript(script);
    });
    view->load(QUrl::fromLocalFile(page));
    return view;
}

OxMapWidget::PageQueue *OxMapWidget::currentQueue()
{
    return mapType == MapPage::Google ? &googleQueue : &baiduQueue;
}

void OxMapWidget::buildCurrentPage()
{
    if (!pagesAllowed || !typeChosen || pagesHeld)
        return;
    const QString root = pageRoot().isEmpty() ? QCoreApplication::applicationDirPath() : pageRoot();
    if (mapType == MapPage::Google && !googleView) {
        googleView = makeView(QStringLiteral("%1/Map/googleMap.html").arg(root), &googleQueue);
        googleView->setObjectName(QStringLiteral("googleView"));
    } else if (mapType != MapPage::Google && !baiduView) {
        baiduView = makeView(QStringLiteral("%1/Map/baiduMap.html").arg(root), &baiduQueue);
        baiduView->setObjectName(QStringLiteral("baiduView"));
    }
    currentView = mapType == MapPage::Google ? googleView : baiduView;
    if (baiduView)
        baiduView->setVisible(currentView == baiduView);
    if (googleView)
        googleView->setVisible(currentView == googleView);
}

void OxMapWidget::runScript(const QString &script)
{
    if (!typeChosen)
        return;
    PageQueue *queue = currentQueue();
    if (currentView && queue->loaded) {
        currentView->page()->runJavaScript(script);
        return;
    }
    // initGpsInfo() forgets everything the page was told before, so the calls
    // queued ahead of it need not be kept.
    if (script.startsWith(QLatin1String("initGpsInfo(")))
        queue->scripts.clear();
    queue->scripts.append(script);
}

void OxMapWidget::setMapType(int type)
{
    mapType = type;
    typeChosen = true;
    buildCurrentPage();
    resize(size());
}

void OxMapWidget::holdPages(bool hold)
{
    pagesHeld = hold;
    buildCurrentPage();
}

void OxMapWidget::setGPSCorrection(int flag)
{
    gpsCorrection = flag;
}

void OxMapWidget::clearMap()
{
    runScript(QStringLiteral("initGpsInfo();"));
}

void OxMapWidget::showTrack(const OxTrack &newTrack)
{
    sendTrack(newTrack, 1);
}

void OxMapWidget::showRoute(const OxTrack &route)
{
    sendTrack(route, kRouteCallsPerScript);
}

void OxMapWidget::sendTrack(const OxTrack &newTrack, int callsPerScript)
{
    runScript(QStringLiteral("initGpsInfo();"));
    track.clear();
    routeIndex.clear();
    track.reserve(newTrack.size());
    routeIndex.reserve(newTrack.size());
    QString calls;
    int pending = 0;
    int valid = 0;
    for (const OxLocation &fix : newTrack) {
        track.append(fix);
        routeIndex.append(fix.valid ? valid++ : valid - 1);
        if (!fix.valid)
            continue;
        double lat = fix.latitude;
        double lng = fix.longitude;
        if (gpsCorrection != GPSCorrection::Raw &&
            (mapType == MapPage::Baidu || mapType == MapPage::Google)) {
            // GPSPoint's two-value constructor already converts, so the WGS-84
            // values go in through the fields.
            GPSPoint wgs;
            wgs.lat = lat;
            wgs.lng = lng;
            GPSPoint corrected = wgs84ToGcj02(wgs);
            if (mapType == MapPage::Baidu)
                corrected = gcj02ToBd09(corrected);
            lat = corrected.lat;
            lng = corrected.lng;
        }
        calls += QString::asprintf("addAddress(%lf,%lf);", lat, lng);
        if (++pending == callsPerScript) {
            runScript(calls);
            calls.clear();
            pending = 0;
        }
    }
    if (pending > 0)
        runScript(calls);
    runScript(QStringLiteral("showPolyline();"));
    play(0);
    pointCount = track.size();
}

void OxMapWidget::showFix(int fix)
{
    if (fix < 0 || fix >= routeIndex.size())
        return;
    const int index = routeIndex.at(fix);
    if (index >= 0)
        play(index);
}

void OxMapWidget::play(int index)
{
    runScript(QString::asprintf("play(%d)", index));
}

void OxMapWidget::updateProgress(double current, double duration)
{
    double n = duration != 0 ? std::trunc(pointCount * current / duration) : 0;
    // NaN and out-of-range values would make the integer conversion undefined.
    if (!(n > 0))
        n = 0;
    const int fix = int(std::min(n, double(INT_MAX)));
    if (routeIndex.isEmpty()) {
        // An empty track: the page holds no route and ignores the call.
        play(fix);
        return;
    }
    // The car's fix among all fixes, turned into the page's index among the valid ones;
    // before the first valid fix the car is not on the route yet.
    const int index = routeIndex.at(std::min(fix, int(routeIndex.size()) - 1));
    if (index >= 0)
        play(index);
}

void OxMapWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    for (QWebEngineView *view : {baiduView, googleView}) {
        if (view)
            view->setGeometry(0, 0, width(), height());
    }
}

void OxMapWidget::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    if (pagesScheduled)
        return;
    // Starting the web engine takes a good part of a second: the window this widget is
    // in goes to the screen first, and the page is built on the next turn of the loop.
    pagesScheduled = true;
    QTimer::singleShot(0, this, [this] {
        pagesAllowed = true;
        buildCurrentPage();
    });
}
