// map_click_seek_ms: a click on the route in the map page (a real mouse click on the web
// view, through the page's channel to the window) until the picture of that moment is
// shown, median over clicks at ten places of a 1080p30 recording with a 2 s key-picture
// interval, paused. Reference: the same seeks asked of the engine directly, as the
// slider does. Target 400 ms.

#include "benchsupport.h"
#include "language.h"
#include "mainwindow.h"
#include "oxffplayer.h"
#include "oxmapwidget.h"
#include "testhome.h"
#include "testrecordings.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QPushButton>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr int kSeconds = 40;
constexpr int kTimeoutMs = 30000;

QVariant evalIn(QWebEngineView *view, const QString &script)
{
    auto result = std::make_shared<QVariant>();
    auto done = std::make_shared<bool>(false);
    view->page()->runJavaScript(script, [result, done](const QVariant &v) {
        *result = v;
        *done = true;
    });
    if (!QTest::qWaitFor([&] { return *done; }, kTimeoutMs))
        return {};
    return *result;
}

// Waits until the engine shows a picture of the key-picture interval that holds target;
// the milliseconds since timer started, or -1.
double shownMs(OxFFPlayer *engine, double target, const QElapsedTimer &timer)
{
    const bool ok = QTest::qWaitFor(
        [&] {
            const double t = engine->videoTime();
            return t > target - 2.05 && t < target + 0.5;
        },
        kTimeoutMs);
    return ok ? timer.nsecsElapsed() / 1e6 : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    TestHome home;
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bench_map_click"));
    setLanguageRoot(QStringLiteral(DASHCAM_RUNTIME_DIR "/language"));
    loadLanguage(QStringLiteral("english"));
    OxMapWidget::setPageRoot(QStringLiteral(DASHCAM_RUNTIME_DIR));

    RecordingSpec recipe = smallRecipe(kSeconds, 1920, 1080);
    recipe.fpsNum = 30;
    recipe.gop = 60;
    recipe.audioCodec.clear();
    recipe.subtitles = nmeaDriveCues(QDateTime(QDate(2026, 3, 14), QTime(7, 0), Qt::UTC), kSeconds,
                                     48.1, 11.5, 50, 60);
    const QString clip = makeRecording(home.path(), QStringLiteral("route"), recipe);
    if (clip.isEmpty()) {
        std::fprintf(stderr, "bench_map_click: ffmpeg failed\n");
        return 1;
    }

    MainWindow w;
    w.resize(1280, 800);
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return 1;
    w.openVideo(clip);
    w.playButton()->click(); // paused
    QWebEngineView *page = nullptr;
    const bool built = QTest::qWaitFor(
        [&] { return (page = w.map()->findChild<QWebEngineView *>("googleView")) != nullptr; },
        kTimeoutMs);
    if (!built || !QTest::qWaitFor(
                      [&] {
                          return evalIn(page, "typeof __state === 'function' ? "
                                              "__state().points.length : 0")
                                     .toInt() == kSeconds;
                      },
                      kTimeoutMs)) {
        std::fprintf(stderr, "bench_map_click: the map page did not get the route\n");
        return 1;
    }

    QVector<double> clicks, slider;
    for (int k = 0; k < 10; ++k) {
        // Back and forth across the recording, never the place shown now.
        const int fix = (k % 2 ? 5 : 30) + k;
        const QVariantList at =
            evalIn(page,
                   QStringLiteral("(function(){var q=__state().points[%1];"
                                  "var p=routeMap.latLngToContainerPoint(L.latLng(q[0],q[1]));"
                                  "return [p.x,p.y];})()")
                       .arg(fix))
                .toList();
        if (at.size() != 2)
            return 1;
        QElapsedTimer timer;
        timer.start();
        QTest::mouseClick(page->focusProxy(), Qt::LeftButton, {},
                          QPoint(qRound(at[0].toDouble()), qRound(at[1].toDouble())));
        clicks.append(shownMs(w.engine(), fix, timer));

        const double back = fix > 20 ? fix - 15 : fix + 15;
        timer.restart();
        w.engine()->requestSeek(back);
        slider.append(shownMs(w.engine(), back, timer));
    }
    const double value = median(clicks), reference = median(slider);
    std::printf("figure map_click_seek_ms value=%.1f reference=%.1f target=400\n", value,
                reference);
    std::printf("note map_click_seek_ms: click on the route -> picture of that moment, median "
                "of 10, 1080p30 paused; reference: the same seek from the slider\n");
    return value >= 0 ? 0 : 1;
}
