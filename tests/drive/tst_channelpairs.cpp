#include "channelpairs.h"
#include "testhome.h"
#include "testrecordings.h"

#include <QtTest>

#include <memory>

// Front and rear clips of one camera on cards made here (front 30 fps, rear 25 fps of
// another size, three seconds each): which clips pair, where the paired channel lands on
// the front's timeline, and the playlist entries the names make.
class tst_channelpairs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pairing_data();
    void pairing();

private:
    std::unique_ptr<TestHome> home;
    QHash<QString, QString> sources;
    int cards = 0;
};

namespace {

QString relative(const QString &root, const QString &path)
{
    const QString rel = QDir(root).relativeFilePath(path);
    return rel.left(rel.lastIndexOf(QLatin1Char('.')));
}

} // namespace

void tst_channelpairs::initTestCase()
{
    home = std::make_unique<TestHome>();
    const QString dir = home->path() + QStringLiteral("/sources");
    sources["front"] = requireRecording(dir, "front", frontChannelRecipe(3));
    sources["rear"] = requireRecording(dir, "rear", rearChannelRecipe(3));
    RecordingSpec both = frontChannelRecipe(3);
    both.secondVideo = QSize(48, 32);
    sources["both"] = requireRecording(dir, "both", both);
    sources["garbage"] = makeGarbage(dir + "/garbage.mp4", 20000);
}

void tst_channelpairs::pairing_data()
{
    // Files as "relative/path.mp4=source"; the first ones named in front play (more than
    // one: as a drive). pieces: the paired channel on the front's timeline as
    // "file clipIn-clipOut@timelineStart". entries: the playlist entries of the first
    // front file's folder, its sibling channel folders as partners.
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<int>("front");
    QTest::addColumn<QString>("pieces");
    QTest::addColumn<QString>("entries");

    QTest::newRow("folders Front and Rear")
        << QStringList{"Front/20260314_080000.mp4=front", "Rear/20260314_080000.mp4=rear"} << 1
        << "Rear/20260314_080000 0.0-3.0@0.0"
        << "Front/20260314_080000+Rear/20260314_080000";
    QTest::newRow("folders Movie/F and Movie/R, no times in the names")
        << QStringList{"Movie/F/MOV0001.mp4=front", "Movie/R/MOV0001.mp4=rear",
                       "Movie/R/MOV0002.mp4=rear"}
        << 1 << "Movie/R/MOV0001 0.0-3.0@0.0"
        << "Movie/F/MOV0001+Movie/R/MOV0001";
    QTest::newRow("names _F and _R")
        << QStringList{"20260314_080000_F.mp4=front", "20260314_080000_R.mp4=rear",
                       "20260314_080010_F.mp4=front"}
        << 1 << "20260314_080000_R 0.0-3.0@0.0"
        << "20260314_080000_F+20260314_080000_R | 20260314_080010_F";
    QTest::newRow("names A and B")
        << QStringList{"20260314_080000A.MP4=front", "20260314_080000B.MP4=rear"} << 1
        << "20260314_080000B 0.0-3.0@0.0"
        << "20260314_080000A+20260314_080000B";
    QTest::newRow("counters 0001F and 0001R")
        << QStringList{"NO20260314-080000-0001F.mp4=front", "NO20260314-080001-0001R.mp4=rear"} << 1
        << "NO20260314-080001-0001R 0.0-2.0@1.0"
        << "NO20260314-080000-0001F+NO20260314-080001-0001R";
    QTest::newRow("letters alone are names, not channel marks")
        << QStringList{"a.mp4=front", "b.mp4=front"} << 1 << ""
        << "a | b";
    QTest::newRow("by time: rear started two seconds earlier")
        << QStringList{"20260314_080002_F.mp4=front", "20260314_080000_R.mp4=rear"} << 1
        << "20260314_080000_R 2.0-3.0@0.0"
        << "20260314_080002_F+20260314_080000_R";
    QTest::newRow("by time: spans apart do not pair")
        << QStringList{"20260314_080000_F.mp4=front", "20260314_080005_R.mp4=rear"} << 1 << ""
        << "20260314_080000_F | 20260314_080005_R";
    QTest::newRow("the closest of two rears")
        << QStringList{"20260314_080001_F.mp4=front", "20260314_080000_R.mp4=rear",
                       "20260314_080002_R.mp4=rear"}
        << 1 << "20260314_080000_R 1.0-2.0@0.0, 20260314_080002_R 0.0-2.0@1.0"
        << "20260314_080001_F+20260314_080000_R | 20260314_080002_R";
    QTest::newRow("rear playing: the front is paired")
        << QStringList{"Rear/20260314_080000.mp4=rear", "Front/20260314_080000.mp4=front"} << 1
        << "Front/20260314_080000 0.0-3.0@0.0"
        << "Front/20260314_080000+Rear/20260314_080000";
    QTest::newRow("cabin when there is no rear")
        << QStringList{"20260314_080000_F.mp4=front", "20260314_080000_IN.mp4=rear"} << 1
        << "20260314_080000_IN 0.0-3.0@0.0"
        << "20260314_080000_F+20260314_080000_IN";
    QTest::newRow("another camera's rear does not pair")
        << QStringList{"CamA/Front/20260314_080000.mp4=front", "CamB/Rear/20260314_080000.mp4=rear"}
        << 1 << ""
        << "CamA/Front/20260314_080000";
    QTest::newRow("a broken rear does not pair")
        << QStringList{"20260314_080000_F.mp4=front", "20260314_080000_R.mp4=garbage"} << 1 << ""
        << "20260314_080000_F+20260314_080000_R";
    QTest::newRow("two video streams pair with themselves")
        << QStringList{"20260314_080000.mp4=both"} << 1 << "20260314_080000 0.0-3.0@0.0#0"
        << "20260314_080000";
    // Front 0-3 and 4-7 (a second's pause, not on the timeline), rear 0-3 and 3-6.
    QTest::newRow("a drive: rear cut at the front's pause")
        << QStringList{"20260314_080000_F.mp4=front", "20260314_080004_F.mp4=front",
                       "20260314_080000_R.mp4=rear", "20260314_080003_R.mp4=rear"}
        << 2 << "20260314_080000_R 0.0-3.0@0.0, 20260314_080003_R 1.0-3.0@3.0"
        << "20260314_080000_F+20260314_080000_R | 20260314_080004_F+20260314_080003_R";
}

void tst_channelpairs::pairing()
{
    QFETCH(QStringList, files);
    QFETCH(int, front);
    QFETCH(QString, pieces);
    QFETCH(QString, entries);

    const QString root = home->path() + QStringLiteral("/card%1").arg(++cards);
    QStringList paths;
    for (const QString &file : files) {
        const QStringList parts = file.split(QLatin1Char('='));
        const QString path = root + QLatin1Char('/') + parts[0];
        QDir().mkpath(QFileInfo(path).path());
        QVERIFY(QFile::copy(sources.value(parts[1]), path));
        paths << path;
    }

    ChannelPairFinder finder;
    QSignalSpy found(&finder, &ChannelPairFinder::found);
    quint64 id = 0;
    if (front == 1) {
        id = finder.findForClip(paths.first());
    } else {
        QVector<RecordingFacts> facts;
        for (int i = 0; i < front; ++i)
            facts << *probeRecordingFacts(paths[i]);
        const QVector<Drive> drives = groupDrives(facts);
        QCOMPARE(drives.size(), 1);
        id = finder.findForDrive(drives.first());
    }
    QTRY_COMPARE_WITH_TIMEOUT(found.count(), 1, 60000);
    QCOMPARE(found[0][0].toULongLong(), id);
    const ChannelPairing pairing = found[0][1].value<ChannelPairing>();
    QStringList got;
    for (const PairedSource &s : pairing.sources)
        got << QStringLiteral("%1 %2-%3@%4%5")
                   .arg(relative(root, s.path))
                   .arg(s.clipIn, 0, 'f', 1)
                   .arg(s.clipOut, 0, 'f', 1)
                   .arg(s.timelineStart, 0, 'f', 1)
                   .arg(s.videoStream >= 0 ? QStringLiteral("#%1").arg(s.videoStream) : QString());
    QCOMPARE(got.join(QStringLiteral(", ")), pieces);

    const QString folder = QFileInfo(paths.first()).absolutePath();
    QStringList rows;
    for (const QStringList &entry :
         pairRecordingsByName(recordingsUnder(folder, 0), siblingChannelRecordings(folder))) {
        QStringList names;
        for (const QString &path : entry)
            names << relative(root, path);
        rows << names.join(QLatin1Char('+'));
    }
    QCOMPARE(rows.join(QStringLiteral(" | ")), entries);
}

QTEST_GUILESS_MAIN(tst_channelpairs)
#include "tst_channelpairs.moc"
