// Groups a card of 1,000 probed one-minute clips (front and rear, names in local time,
// the front ones with a fix a second, pauses now and then) into drives, as the window
// does whenever facts arrive. Reference: sorting the same facts by start time.

#include "benchsupport.h"
#include "drive.h"
#include "drivetrack.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>

namespace {

void figure(const char *name, double value, double reference, double target)
{
    std::printf("figure %s value=%.2f reference=%.2f target=%.1f\n", name, value, reference,
                target);
    std::fflush(stdout);
}

QVector<RecordingFacts> card(int clips)
{
    const QDateTime day(QDate(2026, 3, 14), QTime(6, 0), Qt::UTC);
    QVector<RecordingFacts> facts;
    qint64 at = 0; // seconds after six o'clock
    for (int i = 0; i < clips / 2; ++i) {
        at += i % 40 == 39 ? 600 : 59; // a second of overlap, a pause every 40 clips
        for (const char *channel : {"F", "R"}) {
            const QDateTime start = day.addSecs(at);
            RecordingFacts f;
            f.path =
                QStringLiteral("/card/DCIM/Movie/%1/%2_%1.MP4")
                    .arg(QLatin1String(channel), start.toString(QStringLiteral("yyyyMMdd_HHmmss")));
            f.probed = true;
            f.duration = 60;
            f.size = 100 << 20;
            if (*channel == 'F') {
                for (int s = 0; s < 60; ++s) {
                    const QDateTime t = start.addSecs(s - 3600);
                    OxLocation fix;
                    fix.valid = true;
                    fix.latitude = 31.2 + (at + s) * 1e-4;
                    fix.longitude = 121.4;
                    fix.speed = 40;
                    fix.year = t.date().year() % 100;
                    fix.month = t.date().month();
                    fix.day = t.date().day();
                    fix.hour = t.time().hour();
                    fix.minute = t.time().minute();
                    fix.second = t.time().second();
                    f.track << fix;
                }
            }
            deriveRecordingFacts(f);
            facts << f;
        }
    }
    return facts;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QVector<RecordingFacts> facts = card(1000);

    int drives = 0;
    const double group = medianMs([&] { drives = groupDrives(facts).size(); }, 9);
    const double sort = medianMs(
        [&] {
            QVector<RecordingFacts> sorted = facts;
            std::sort(sorted.begin(), sorted.end(),
                      [](const RecordingFacts &a, const RecordingFacts &b) {
                          return a.startMs() < b.startMs();
                      });
        },
        9);
    std::printf("%d clips in %d drives\n", int(facts.size()), drives);
    figure("drive_group_1000_ms", group, sort, 100);

    // Not a target: the joined track of the longest drive, 40 clips of a fix a second.
    const QVector<Drive> grouped = groupDrives(facts);
    const Drive &longest =
        *std::max_element(grouped.begin(), grouped.end(), [](const Drive &a, const Drive &b) {
            return a.clips.size() < b.clips.size();
        });
    const double track = medianMs([&] { DriveTrack t(longest); }, 9);
    std::printf("drive track of %d clips: %.2f ms\n", int(longest.clips.size()), track);
    return 0;
}
