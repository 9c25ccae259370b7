// The timeline strip of a two-hour drive (120 one-minute clips, 7,200 fixes with
// G-sensor readings, braking now and then) at 1280 px, as the window shows it.
//
// strip_paint_ms: a repaint of the whole strip once its curves are drawn (what a
// position update or an expose costs at most on the window's thread; an update of the
// position alone repaints two narrow columns, printed too). Reference: the same repaint
// of an empty strip. Also printed, not a figure: drawing the curves into the cache,
// which happens once per drive, resize or unit.

#include "benchsupport.h"
#include "timelinestrip.h"

#include <QApplication>
#include <QDateTime>
#include <QWindow>

#include <cmath>
#include <cstdio>

namespace {

void figure(const char *name, double value, double reference, double target)
{
    std::printf("figure %s value=%.3f reference=%.3f target=%.1f\n", name, value, reference,
                target);
    std::fflush(stdout);
}

QVector<RecordingFacts> twoHours()
{
    const QDateTime day(QDate(2026, 3, 14), QTime(6, 0), Qt::UTC);
    QVector<RecordingFacts> facts;
    for (int c = 0; c < 120; ++c) {
        RecordingFacts f;
        const QDateTime start = day.addSecs(c * 60);
        f.path = QStringLiteral("/card/DCIM/Movie/%1_F.MP4")
                     .arg(start.toString(QStringLiteral("yyyyMMdd_HHmmss")));
        f.probed = true;
        f.duration = 60;
        for (int s = 0; s < 60; ++s) {
            const int at = c * 60 + s;
            const QDateTime t = start.addSecs(s);
            OxLocation fix;
            fix.valid = true;
            fix.latitude = 31.2 + at * 2e-4;
            fix.longitude = 121.4 + std::sin(at / 300.0) * 0.05;
            // Cruising with a hard stop every ten minutes.
            fix.speed = at % 600 < 590 ? 60 + 30 * std::sin(at / 90.0) : 5;
            fix.gsensorX = 0.05 * std::sin(at * 1.3);
            fix.gsensorY = 0.05 * std::cos(at * 0.7);
            fix.gsensorZ = at % 997 == 0 ? 1.8 : 1.0;
            fix.year = t.date().year() % 100;
            fix.month = t.date().month();
            fix.day = t.date().day();
            fix.hour = t.time().hour();
            fix.minute = t.time().minute();
            fix.second = t.time().second();
            f.track << fix;
        }
        deriveRecordingFacts(f);
        facts << f;
    }
    return facts;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QVector<Drive> drives = groupDrives(twoHours());
    const DriveTrack track(drives.first());
    std::printf("%d drive(s), %d fixes, %d events, %.0f s\n", int(drives.size()),
                int(track.points.size()), int(track.events.size()), drives.first().duration());

    TimelineStrip strip;
    strip.resize(1280, 72);
    strip.show();
    while (!strip.windowHandle() || !strip.windowHandle()->isExposed())
        app.processEvents();

    const auto measure = [&](const char *label) {
        app.processEvents();
        strip.repaint(); // draws the cache
        const double full = medianMs([&] { strip.repaint(); }, 201);
        double t = 0;
        const double step = strip.timeAt(7) - strip.timeAt(0) + 1e-9; // a few columns on
        const double update = medianMs(
            [&] {
                t += step;
                strip.setPosition(t);
                app.processEvents();
            },
            201);
        std::printf("%s: full repaint %.3f ms, position update %.3f ms\n", label, full, update);
        return full;
    };

    const double empty = measure("empty strip");
    strip.setDrive(drives.first(), track);
    strip.setSpeedUnit(DistanceUnit::Kilometres);
    const double drawn = measure("two-hour drive");
    bool miles = false;
    const double cache = medianMs(
        [&] {
            miles = !miles;
            strip.setSpeedUnit(miles ? DistanceUnit::Miles : DistanceUnit::Kilometres);
            strip.repaint();
        },
        21);
    std::printf("drawing the curves into the cache: %.2f ms\n", cache);
    figure("strip_paint_ms", drawn, empty, 1);
    return 0;
}
