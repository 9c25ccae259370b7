#include "language.h"
#include "testhome.h"
#include "testrecordings.h"
#include "timelinestrip.h"

#include <QToolTip>
#include <QtTest>

#include <memory>

// The strip on drives of real clips: clicks and drags seek where they point and the
// position line follows; hovering tells the moment. Runs with TZ=CET-1 (UTC+1).
class tst_timelinestrip : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void seek_data();
    void seek();
    void hover_data();
    void hover();

private:
    std::unique_ptr<TestHome> home;
    QVector<Drive> drives; // the braking drive, then a locked clip without GPS
};

void tst_timelinestrip::initTestCase()
{
    home = std::make_unique<TestHome>();
    setLanguageRoot(QStringLiteral(DASHCAM_SOURCE_DIR "/language"));
    loadLanguage(QStringLiteral("english"));
    const QString card = home->path() + QStringLiteral("/card");
    QVERIFY(makeMomentsCard(card));
    RecordingSpec plain = smallRecipe(2);
    plain.audioCodec.clear();
    requireRecording(card + QStringLiteral("/Event"), QStringLiteral("EV20260314_090000"), plain);
    QVector<RecordingFacts> facts;
    for (const QString &path :
         {card + "/Front/20260314_080000_F.mp4", card + "/Front/20260314_080006_F.mp4",
          card + "/Event/EV20260314_090000.mp4"})
        facts << *probeRecordingFacts(path);
    drives = groupDrives(facts);
    QCOMPARE(drives.size(), 2);
}

void tst_timelinestrip::seek_data()
{
    QTest::addColumn<bool>("drag"); // from the middle
    QTest::addColumn<int>("x");
    QTest::addColumn<double>("fraction"); // of the drive where it seeks
    QTest::newRow("left edge") << false << 0 << 0.0;
    QTest::newRow("middle") << false << 300 << 0.5;
    QTest::newRow("right edge") << false << 600 << 1.0;
    QTest::newRow("dragged past the right edge") << true << 650 << 1.0;
    QTest::newRow("dragged past the left edge") << true << -30 << 0.0;
}

void tst_timelinestrip::seek()
{
    QFETCH(bool, drag);
    QFETCH(int, x);
    QFETCH(double, fraction);
    TimelineStrip strip;
    strip.resize(601, 72);
    strip.setDrive(drives[0], DriveTrack(drives[0]));
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    QSignalSpy seeks(&strip, &TimelineStrip::seekRequested);
    const auto send = [&strip](QEvent::Type type, int at) {
        QMouseEvent e(type, QPointF(at, 20), strip.mapToGlobal(QPoint(at, 20)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&strip, &e);
    };
    send(QEvent::MouseButtonPress, drag ? 300 : x);
    if (drag)
        send(QEvent::MouseMove, x);
    QCOMPARE(seeks.count(), drag ? 2 : 1);
    const double duration = drives[0].duration();
    QVERIFY(qAbs(seeks.last().at(0).toDouble() - fraction * duration) <= duration / 600);
    // The position line is drawn where the user pointed.
    const QImage shot = strip.grab().toImage();
    QCOMPARE(shot.pixelColor(qBound(0, x, 600), 20), strip.palette().color(QPalette::Text));
}

void tst_timelinestrip::hover_data()
{
    QTest::addColumn<int>("drive");
    QTest::addColumn<bool>("miles");
    QTest::addColumn<double>("time");
    QTest::addColumn<QString>("tip");
    QTest::newRow("braking") << 0 << false << 5.0
                             << "Time: 00:05\nClock time: 2026-03-14 08:00:05\nSpeed: 60 km/h\n"
                                "G-force: 1.00 g\nHard braking: 50.0 km/h/2s";
    QTest::newRow("in miles") << 0 << true << 8.0
                              << "Time: 00:08\nClock time: 2026-03-14 08:00:08\nSpeed: 6 mph\n"
                                 "G-force: 1.00 g";
    QTest::newRow("locked clip without GPS") << 1 << false << 1.0
                                             << "Time: 00:01\nClock time: 2026-03-14 09:00:01\n"
                                                "Event clip";
}

void tst_timelinestrip::hover()
{
    QFETCH(int, drive);
    QFETCH(bool, miles);
    QFETCH(double, time);
    QFETCH(QString, tip);
    TimelineStrip strip;
    strip.resize(601, 72);
    strip.setDrive(drives[drive], DriveTrack(drives[drive]));
    strip.setSpeedUnit(miles ? DistanceUnit::Miles : DistanceUnit::Kilometres);
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    strip.grab(); // paints the curves, or only the axis
    const QPoint at(strip.xAt(time), 30);
    QHelpEvent help(QEvent::ToolTip, at, strip.mapToGlobal(at));
    QApplication::sendEvent(&strip, &help);
    QCOMPARE(QToolTip::text(), tip);
}

QTEST_MAIN(tst_timelinestrip)
#include "tst_timelinestrip.moc"
