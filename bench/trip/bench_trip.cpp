// Measures the trip display's once-per-second update as the main window runs it:
// VideoInfoView::updatePosition and OxMapWidget::updateProgress, then the event
// processing that repaints the gauge and read-outs and posts the script call.
// The page's own work runs in the web engine's renderer process; its round trip
// is printed separately.

#include "oxmapwidget.h"
#include "videoinfoview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * (v.size() - 1) + 0.5))];
}

void figure(const char *name, double value, double reference, double target)
{
    std::printf("figure %s value=%.1f reference=%.1f target=%.1f\n", name, value, reference,
                target);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    // Keep the configuration the panel reads away from the user's own.
    QTemporaryDir home;
    for (const char *var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(var, home.path().toUtf8());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("bench_trip");

    QWidget window;
    window.resize(1280, 720);
    auto *info = new VideoInfoView(&window);
    info->setGeometry(0, 520, 1280, 200);
    OxMapWidget::setPageRoot(DASHCAM_RUNTIME_DIR);
    auto *map = new OxMapWidget(&window);
    map->setGeometry(880, 0, 400, 520);
    map->setMapType(2);
    map->setGPSCorrection(1);
    window.show();
    // The page is built once the window has been painted.
    QWebEngineView *view = nullptr;
    const bool built =
        QTest::qWaitForWindowExposed(&window) &&
        QTest::qWaitFor([&] { return (view = map->findChild<QWebEngineView *>("googleView")); },
                        60000);
    std::unique_ptr<QSignalSpy> loaded;
    if (built)
        loaded = std::make_unique<QSignalSpy>(view, &QWebEngineView::loadFinished);
    if (!built || !loaded->wait(60000)) {
        std::fprintf(stderr, "bench_trip: window or map page did not come up\n");
        return 1;
    }

    // Ten minutes at one fix per second, driving around a square.
    const int seconds = 600;
    OxTrack track;
    for (int i = 0; i < seconds; ++i) {
        OxLocation fix;
        fix.valid = true;
        fix.latitude = 31.2 + 0.01 * std::sin(i * 0.01);
        fix.longitude = 121.4 + 0.01 * std::cos(i * 0.01);
        fix.speed = 40 + 30 * std::sin(i * 0.05);
        track.append(fix);
    }
    info->setTrack(track);
    map->showTrack(track);

    auto drain = [&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(); // paint requests
    };
    for (int i = 0; i < 30; ++i)
        drain();

    std::vector<double> idle, update, mapOnly, panelRender;
    QElapsedTimer clock;
    for (int s = 0; s < seconds; ++s) {
        clock.start();
        drain();
        idle.push_back(clock.nsecsElapsed() / 1000.0);

        clock.start();
        info->updatePosition(s + 0.5, seconds);
        map->updateProgress(s + 0.5, seconds);
        drain();
        update.push_back(clock.nsecsElapsed() / 1000.0);
    }
    for (int s = 0; s < 200; ++s) {
        drain();
        clock.start();
        map->updateProgress(s + 0.5, seconds);
        drain();
        mapOnly.push_back(clock.nsecsElapsed() / 1000.0);
    }
    // The panel's own drawing, without the window's compositing: a window that
    // holds web or OpenGL views is composed through OpenGL at every flush, which
    // on a software renderer dominates the figures above.
    QImage image(info->size(), QImage::Format_ARGB32_Premultiplied);
    for (int s = 0; s < 200; ++s) {
        info->updatePosition(s + 0.5, seconds);
        clock.start();
        info->render(&image);
        panelRender.push_back(clock.nsecsElapsed() / 1000.0);
    }

    // Round trip of one play() call through the renderer process.
    std::vector<double> roundTrips;
    for (int i = 0; i < 50; ++i) {
        bool done = false;
        clock.start();
        view->page()->runJavaScript(QStringLiteral("play(%1); 0").arg(i * 10),
                                    [&done](const QVariant &) { done = true; });
        if (!QTest::qWaitFor([&done] { return done; }, 10000))
            break;
        roundTrips.push_back(clock.nsecsElapsed() / 1e6);
    }

    // Reference: the same event processing without an update. Target: a tenth of
    // a frame interval at 30 frames per second.
    figure("trip_update_gui_median_us", percentile(update, 0.5), percentile(idle, 0.5), 3333);
    figure("trip_update_gui_p95_us", percentile(update, 0.95), percentile(idle, 0.95), 3333);
    figure("trip_map_call_us", percentile(mapOnly, 0.5), percentile(idle, 0.5), 1000);
    figure("trip_panel_render_us", percentile(panelRender, 0.5), 33333, 3333);
    if (!roundTrips.empty())
        figure("trip_play_roundtrip_median_ms", percentile(roundTrips, 0.5), 1000, 100);
    return 0;
}
