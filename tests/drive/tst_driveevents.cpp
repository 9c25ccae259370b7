#include "drivetrack.h"
#include "routeseek.h"
#include "testhome.h"
#include "testrecordings.h"

#include <QProcess>
#include <QtTest>

#include <cmath>
#include <memory>

// The moments of a drive: the events of real clips found in the drive's track and
// listed by dashcam-track --events, and the place of the route nearest a map click.
class tst_driveevents : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void events();
    void routeTime_data();
    void routeTime();

private:
    std::unique_ptr<TestHome> home;
    QString card;
};

void tst_driveevents::initTestCase()
{
    home = std::make_unique<TestHome>();
    card = home->path() + QStringLiteral("/card");
    QVERIFY(makeMomentsCard(card));
    makeGarbage(card + QStringLiteral("/Front/20260314_080100_F.mp4"), 20000);
}

// The front drive brakes across its clip boundary, after a void fix of speed 0 that is
// no braking; a braking over three fixes is one event. The rear clip is a drive of its
// own, and the tool lists the events of both drives in time order.
void tst_driveevents::events()
{
    QVector<RecordingFacts> facts;
    for (const QString &path : recordingsUnder(card)) {
        const std::optional<RecordingFacts> f = probeRecordingFacts(path);
        if (f && f->probed)
            facts << *f;
    }
    const QVector<Drive> drives = groupDrives(facts);
    QCOMPARE(drives.size(), 2);
    const DriveTrack front(drives[0]);
    QStringList found;
    for (const DriveEvent &e : front.events)
        found << driveEventKindName(e.kind) + QLatin1Char('@') + QString::number(e.driveTime);
    QCOMPARE(found.join(QLatin1Char(' ')), QStringLiteral("shock@2 brake@5 accel@9"));
    QCOMPARE(front.points[5].events, driveEventFlag(DriveEventKind::Brake));

    QProcess tool;
    tool.start(QStringLiteral(DASHCAM_RUNTIME_DIR "/dashcam-track"), {"--events", card});
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 0);
    QVERIFY(tool.readAllStandardError().contains("20260314_080100_F.mp4 is not a readable"));
    const QString a = card + "/Front/20260314_080000_F.mp4";
    const QString b = card + "/Front/20260314_080006_F.mp4";
    const QString r = card + "/Rear/20260314_080000_R.mp4";
    QCOMPARE(QString::fromUtf8(tool.readAllStandardOutput()),
             QStringList({"2026-03-14T07:00:01Z\t" + r + "\t1.0\tshock\t0.64 g",
                          "2026-03-14T07:00:02Z\t" + a + "\t2.0\tshock\t0.64 g",
                          "2026-03-14T07:00:05Z\t" + a + "\t5.0\tbrake\t50.0 km/h/2s",
                          "2026-03-14T07:00:09Z\t" + b + "\t3.0\taccel\t35.0 km/h/2s", ""})
                 .join('\n'));
}

void tst_driveevents::routeTime_data()
{
    // A route north and back, a fix every 10 s and 100 m: the turn at 1 km after 100 s,
    // back at the start after 200 s. Where "parallel", the way back lies 200 m east.
    QTest::addColumn<bool>("parallel");
    QTest::addColumn<double>("north"); // metres from the start of the click
    QTest::addColumn<double>("east");
    QTest::addColumn<double>("present");  // drive time now
    QTest::addColumn<double>("expected"); // NaN: no answer
    QTest::newRow("way there, playing there") << false << 300.0 << 5.0 << 20.0 << 30.0;
    QTest::newRow("way back, playing there") << false << 300.0 << 5.0 << 190.0 << 170.0;
    QTest::newRow("the turn, wherever playing") << false << 1050.0 << 0.0 << 0.0 << 100.0;
    QTest::newRow("a road 200 m away is elsewhere") << true << 300.0 << 5.0 << 190.0 << 30.0;
    QTest::newRow("the other road") << true << 300.0 << 195.0 << 10.0 << 170.0;
    QTest::newRow("not a number") << false << qQNaN() << 0.0 << 0.0 << qQNaN();
}

void tst_driveevents::routeTime()
{
    QFETCH(bool, parallel);
    QFETCH(double, north);
    QFETCH(double, east);
    QFETCH(double, present);
    QFETCH(double, expected);
    const double perMetreNorth = 1 / 111195.0;
    const double perMetreEast = perMetreNorth / std::cos(31.2 * M_PI / 180);
    DriveTrack track;
    for (int i = 0; i <= 20; ++i) {
        DriveTrackPoint p;
        p.driveTime = i * 10;
        p.fix.valid = true;
        p.fix.latitude = 31.2 + (i <= 10 ? i : 20 - i) * 100 * perMetreNorth;
        p.fix.longitude = 121.4 + (parallel && i > 10 ? 200 * perMetreEast : 0);
        track.points << p;
    }
    const std::optional<double> t =
        routeTimeNear(track, 31.2 + north * perMetreNorth, 121.4 + east * perMetreEast, present);
    QCOMPARE(t.has_value(), !qIsNaN(expected));
    if (t)
        QVERIFY2(std::abs(*t - expected) < 0.5, qPrintable(QString::number(*t)));
    for (DriveTrackPoint &p : track.points)
        p.fix.valid = false;
    QVERIFY(!routeTimeNear(track, 31.2, 121.4, present));
}

QTEST_GUILESS_MAIN(tst_driveevents)
#include "tst_driveevents.moc"
