#include "drive.h"
#include "driveheader.h"
#include "factscache.h"
#include "factsprober.h"
#include "gpsbox.h"
#include "language.h"
#include "testhome.h"
#include "testrecordings.h"

#include <QtTest>

#include <sys/stat.h>

#include <memory>

// The drive model on recordings made here: grouping, the timeline, the drive's track and
// header, the cache and the background prober. The test runs with TZ=CET-1 (UTC+1), the
// camera's clock in the names being local time.
class tst_drive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void names_data();
    void names();
    void grouping_data();
    void grouping();
    void timeline_data();
    void timeline();
    void trackAndHeader();
    void prober();
    void damagedCache_data();
    void damagedCache();

private:
    // Copies "relative/path.mp4=source[@hh:mm:ss]" into a fresh folder (the time is the
    // file's modification time on the day of the clips) and returns the facts.
    QVector<RecordingFacts> card(const QStringList &files);

    std::unique_ptr<TestHome> home;
    QHash<QString, QString> sources;
    int cards = 0;
};

namespace {

const QDateTime kDay(QDate(2026, 3, 14), QTime(7, 0), Qt::UTC);

// Drives as "a b* | c": clips by path in their folder without extension, drives apart
// by a bar, locked clips starred.
QString describe(const QVector<Drive> &drives, const QString &root)
{
    QStringList out;
    for (const Drive &drive : drives) {
        QStringList clips;
        for (const DriveClip &clip : drive.clips) {
            const QString rel = QDir(root).relativeFilePath(clip.facts.path);
            clips << rel.left(rel.lastIndexOf(QLatin1Char('.'))) +
                         (clip.facts.event ? QStringLiteral("*") : QString());
        }
        out << clips.join(QLatin1Char(' '));
    }
    return out.join(QStringLiteral(" | "));
}

RecordingFacts timed(const QString &name, int second, double duration)
{
    RecordingFacts f;
    f.path = QStringLiteral("/card/") + name;
    f.probed = true;
    f.duration = duration;
    f.clockStartMs = kDay.addSecs(3600 + second).toMSecsSinceEpoch();
    f.clockSource = StartSource::FileName;
    f.cameraFolder = QStringLiteral("/card");
    return f;
}

} // namespace

void tst_drive::initTestCase()
{
    home = std::make_unique<TestHome>();
    setLanguageRoot(QStringLiteral(DASHCAM_SOURCE_DIR "/language"));
    loadLanguage(QStringLiteral("english"));
    const QString dir = home->path() + QStringLiteral("/sources");
    RecordingSpec recipe = smallRecipe(3);
    recipe.audioCodec.clear();
    sources["plain"] = requireRecording(dir, "plain", recipe);
    recipe.creationTime = QStringLiteral("2026-03-14T08:00:06Z");
    sources["created"] = requireRecording(dir, "created", recipe);
    recipe.creationTime.clear();
    // 360 km/h north: 100 m a second, without a fix in the first second; the second clip
    // goes on from the second second.
    recipe.subtitles = nmeaDriveCues(kDay, 3, 31.2, 121.4, 360, 0);
    recipe.subtitles[0].text = QString::fromLatin1(
        withChecksum(recipe.subtitles[0].text.replace(",A,", ",V,").toLatin1()));
    sources["gps"] = requireRecording(dir, "gps", recipe);
    recipe.subtitles = nmeaDriveCues(kDay.addSecs(1), 3, 31.2 + 0.1 / 111.195, 121.4, 360, 0);
    sources["gps2"] = requireRecording(dir, "gps2", recipe);
    sources["garbage"] = makeGarbage(dir + "/garbage.mp4", 20000);
    sources["truncated"] = makeTruncated(sources["gps"], dir + "/truncated.mp4");
}

QVector<RecordingFacts> tst_drive::card(const QStringList &files)
{
    const QString root = home->path() + QStringLiteral("/card%1").arg(++cards);
    QVector<RecordingFacts> facts;
    for (const QString &file : files) {
        const QStringList parts = file.split(QRegularExpression("[=@]"));
        const QString path = root + QLatin1Char('/') + parts[0];
        QDir().mkpath(QFileInfo(path).path());
        if (!QFile::copy(sources.value(parts[1]), path))
            qFatal("cannot copy %s", qPrintable(file));
        if (parts.size() > 2) {
            QFile f(path);
            f.open(QIODevice::ReadWrite);
            f.setFileTime(QDateTime(kDay.date(), QTime::fromString(parts[2])),
                          QFileDevice::FileModificationTime);
        }
        facts << *probeRecordingFacts(path);
    }
    return facts;
}

void tst_drive::names_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("time"); // the camera clock's digits, empty for none
    QTest::addColumn<int>("channel");
    QTest::addColumn<bool>("event");
    const int front = int(CameraChannel::Front), rear = int(CameraChannel::Rear);
    QTest::newRow("letter after the time") << "20260314_080212A.MP4"
                                           << "2026-03-14 08:02:12" << front << false;
    QTest::newRow("two-digit year") << "FILE260314-080212-0002B.MOV"
                                    << "2026-03-14 08:02:12" << rear << false;
    QTest::newRow("parking prefix") << "PA20260314080212_R.mp4"
                                    << "2026-03-14 08:02:12" << rear << true;
    QTest::newRow("event suffix") << "2026-03-14-08-02-12_E.avi"
                                  << "2026-03-14 08:02:12" << 0 << true;
    QTest::newRow("no date") << "MOVI0001.avi"
                             << "" << 0 << false;
    QTest::newRow("impossible date") << "20260231_080212_F.mp4"
                                     << "" << front << false;
}

void tst_drive::names()
{
    QFETCH(QString, name);
    QFETCH(QString, time);
    QFETCH(int, channel);
    QFETCH(bool, event);
    const RecordingNameFacts facts = parseRecordingName(name);
    QCOMPARE(facts.clockMs ? QDateTime::fromMSecsSinceEpoch(*facts.clockMs, Qt::UTC)
                                 .toString("yyyy-MM-dd hh:mm:ss")
                           : QString(),
             time);
    QCOMPARE(int(facts.channel), channel);
    QCOMPARE(facts.event, event);
}

void tst_drive::grouping_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("drives");
    QTest::addColumn<double>("length"); // of the first drive, seconds

    QTest::newRow("gap of 5 s joins")
        << QStringList{"20260314_080000.mp4=plain", "20260314_080008.mp4=plain"}
        << "20260314_080000 20260314_080008" << 6.0;
    QTest::newRow("gap over 5 s splits")
        << QStringList{"20260314_080000.mp4=plain", "20260314_080009.mp4=plain"}
        << "20260314_080000 | 20260314_080009" << 3.0;
    QTest::newRow("overlap cut once")
        << QStringList{"2026_0314_080000.MP4=plain", "2026_0314_080002.MP4=plain"}
        << "2026_0314_080000 2026_0314_080002" << 5.0;
    QTest::newRow("other camera between, by name")
        << QStringList{"NO20260314-080000-0001F.mp4=plain", "NO20260314-080002-0002R.mp4=plain",
                       "NO20260314-080003-0003F.mp4=plain"}
        << "NO20260314-080000-0001F NO20260314-080003-0003F | NO20260314-080002-0002R" << 6.0;
    QTest::newRow("other camera between, by folder")
        << QStringList{"Movie/F/20260314080000.mov=plain", "Movie/R/20260314080002.mov=plain",
                       "Movie/F/20260314080003.mov=plain"}
        << "Movie/F/20260314080000 Movie/F/20260314080003 | Movie/R/20260314080002" << 6.0;
    QTest::newRow("unreadable clip without time")
        << QStringList{"20260314_080000.mp4=plain", "20260314_080003.mp4=garbage",
                       "20260314_080006.mp4=plain"}
        << "20260314_080000 20260314_080006 | 20260314_080003" << 6.0;
    QTest::newRow("file time beside a name")
        << QStringList{"20260314_080000.mp4=plain", "two.avi=plain@08:00:06"}
        << "20260314_080000 two" << 6.0;
    QTest::newRow("local names and container time beside UTC GPS")
        << QStringList{"20260314_080000.mp4=gps", "20260314_080003.mp4=plain", "clip.mp4=created"}
        << "20260314_080000 20260314_080003 clip" << 9.0;
    QTest::newRow("event folder joins")
        << QStringList{"Normal/20260314_080000.mp4=plain", "Event/EV20260314_080003.mp4=plain",
                       "Normal/20260314_080006.mp4=plain"}
        << "Normal/20260314_080000 Event/EV20260314_080003* Normal/20260314_080006" << 9.0;
    QTest::newRow("duplicate stays apart")
        << QStringList{"20260314_080000.mp4=plain", "20260314_080000 (copy).mp4=plain",
                       "20260314_080003.mp4=plain"}
        << "20260314_080000 (copy) 20260314_080003 | 20260314_080000" << 6.0;
}

void tst_drive::grouping()
{
    QFETCH(QStringList, files);
    QFETCH(QString, drives);
    QFETCH(double, length);
    const QVector<RecordingFacts> facts = card(files);
    const QVector<Drive> grouped = groupDrives(facts);
    QCOMPARE(describe(grouped, home->path() + QStringLiteral("/card%1").arg(cards)), drives);
    QVERIFY(qAbs(grouped.first().duration() - length) < 0.05);
}

void tst_drive::timeline_data()
{
    QTest::addColumn<double>("time");
    QTest::addColumn<int>("clip");
    QTest::addColumn<double>("seconds");
    // a at 0 s, b at 2 s (a's last second cut), c at 9 s (4 s after b): a 0-2, b 2-5, c 5-8.
    QTest::newRow("before the start") << -1.0 << 0 << 0.0;
    QTest::newRow("start") << 0.0 << 0 << 0.0;
    QTest::newRow("before the cut") << 1.5 << 0 << 1.5;
    QTest::newRow("on the cut") << 2.0 << 1 << 0.0;
    QTest::newRow("on the boundary after a pause") << 5.0 << 2 << 0.0;
    QTest::newRow("end") << 8.0 << 2 << 3.0;
    QTest::newRow("past the end") << 60.0 << 2 << 3.0;
}

void tst_drive::timeline()
{
    QFETCH(double, time);
    QFETCH(int, clip);
    QFETCH(double, seconds);
    const QVector<Drive> drives =
        groupDrives({timed("a.mp4", 0, 3), timed("b.mp4", 2, 3), timed("c.mp4", 9, 3)});
    QCOMPARE(drives.size(), 1);
    const Drive &drive = drives.first();
    QCOMPARE(drive.boundaries(), (QVector<double>{2, 5}));
    const DrivePosition p = drive.locate(time);
    QCOMPARE(p.clip, clip);
    QCOMPARE(p.seconds, seconds);
    const double inside = qBound(0.0, time, 8.0);
    QCOMPARE(drive.driveTime(p.clip, p.seconds), inside);
    QCOMPARE(drive.driveTimeAtClock(*drive.clockAt(time)), inside);
    // In a's cut last second the drive is already in b; in the pause, at c's start.
    QCOMPARE(drive.driveTime(0, 2.5), 2.0);
    QCOMPARE(drive.driveTimeAtClock(kDay.addSecs(3600 + 7).toMSecsSinceEpoch()), 5.0);
}

void tst_drive::trackAndHeader()
{
    const QVector<Drive> drives =
        groupDrives(card({"20260314_080000.mp4=gps", "20260314_080001.mp4=gps2"}));
    QCOMPARE(drives.size(), 1);
    QCOMPARE(drives[0].clockKind, ClockKind::Utc);
    const DriveTrack track(drives[0]);
    // The first clip's fixes of its cut last two seconds are left out.
    QStringList times;
    for (const DriveTrackPoint &p : track.points)
        times << QString::number(p.driveTime) + '@' + QString::number(p.fix.second);
    QCOMPARE(times.join(' '), QStringLiteral("0@0 1@1 2@2 3@3"));
    QVERIFY(qAbs(track.distanceKm() - 0.2) < 0.002);
    QCOMPARE(track.pointAt(2.5)->fix.second, 2);
    QCOMPARE(track.pointAt(-1)->fix.second, 0);
    QCOMPARE(track.points.last().maxSpeed, track.points.first().fix.speed);
    // GPS time shown as the computer's local time, UTC+1 here.
    QCOMPARE(driveHeaderText(drives[0], track, DistanceUnit::Kilometres),
             QString::fromUtf8("2026-03-14 08:00–08:00 · 4 s · 0.2 km · 2 clips"));
    QCOMPARE(driveHeaderText(drives[0], track, DistanceUnit::Miles),
             QString::fromUtf8("2026-03-14 08:00–08:00 · 4 s · 0.1 mi · 2 clips"));
}

void tst_drive::prober()
{
    const QString dir = home->path() + QStringLiteral("/probed");
    QDir().mkpath(dir);
    const QString odd = dir + QStringLiteral("/20260314_080000 ,\"ç'(1)_R.mp4");
    QVERIFY(QFile::copy(sources["gps"], odd));
    const QString fifo = dir + QStringLiteral("/fifo.mp4");
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QStringList paths = {odd, fifo, sources["garbage"], sources["truncated"], dir};

    QHash<QString, RecordingFacts> got;
    for (int run = 0; run < 2; ++run) { // the second run answers from the cache
        RecordingFactsProber prober;
        QSignalSpy drained(&prober, &RecordingFactsProber::drained);
        connect(&prober, &RecordingFactsProber::factsReady,
                [&got](const RecordingFacts &f) { got.insert(f.path, f); });
        got.clear();
        prober.enqueue(paths);
        prober.enqueue({odd}, true);
        QTRY_COMPARE_WITH_TIMEOUT(got.size(), paths.size(), 60000);
        QTRY_VERIFY(drained.count() > 0);
        QCOMPARE(prober.known(odd)->track.size(), 3);
    }
    const RecordingFacts &facts = got[odd];
    QVERIFY(facts.probed);
    QCOMPARE(facts.channel, CameraChannel::Rear);
    QCOMPARE(facts.startSource(), StartSource::Gps);
    QCOMPARE(*facts.gpsStartMs, kDay.toMSecsSinceEpoch());
    QCOMPARE(facts.clockSource, StartSource::FileName);
    QCOMPARE(facts.fixPositions, (QVector<double>{0, 1, 2}));
    QVERIFY(QFileInfo::exists(factsCachePath(odd)));
    for (const QString &bad : {fifo, sources["garbage"], sources["truncated"], dir})
        QVERIFY2(!got[QFileInfo(bad).absoluteFilePath()].probed, qPrintable(bad));
}

void tst_drive::damagedCache_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("cut short") << "cut";
    QTest::newRow("other version") << "version";
    QTest::newRow("garbage") << "garbage";
    QTest::newRow("a FIFO") << "fifo";
}

void tst_drive::damagedCache()
{
    QFETCH(QString, damage);
    const QString clip = sources["gps"];
    QVERIFY(cachedOrProbedFacts(clip));
    const QString cache = factsCachePath(clip);
    QFile file(cache);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    QVERIFY(readCachedFacts(clip));
    if (damage == "cut") {
        bytes.chop(5);
    } else if (damage == "version") {
        bytes[7] = char(bytes[7] + 1);
    } else if (damage == "garbage") {
        bytes = QByteArray(bytes.size(), '\x7f');
    }
    file.resize(0);
    file.write(bytes);
    file.close();
    if (damage == "fifo")
        QVERIFY(QFile::remove(cache) && mkfifo(QFile::encodeName(cache).constData(), 0600) == 0);

    QVERIFY(!readCachedFacts(clip));
    const std::optional<RecordingFacts> again = cachedOrProbedFacts(clip);
    QCOMPARE(again->track.size(), 3);
    QCOMPARE(readCachedFacts(clip)->gpsStartMs, again->gpsStartMs);
}

QTEST_GUILESS_MAIN(tst_drive)
#include "tst_drive.moc"
