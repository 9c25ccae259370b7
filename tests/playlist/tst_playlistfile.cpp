#include "fulldisk.h"
#include "oxfileutils.h"
#include "oxvideoinfo.h"
#include "testhome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <memory>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// One line per entry and recording, so a table row states a whole entry at once.
QString describe(const OxVideoInfo &info)
{
    QStringList parts{info.name};
    for (const OxVideoFile &v : info.videos)
        parts << QStringLiteral("[%1|%2|%3|%4x%5|%6|%7|%8]")
                     .arg(v.name, v.path, v.thumb)
                     .arg(v.width)
                     .arg(v.height)
                     .arg(v.size, 0, 'f', 0)
                     .arg(v.fps)
                     .arg(v.duration);
    return parts.join(QLatin1Char(' '));
}

OxVideoInfo exampleEntry()
{
    OxVideoInfo info;
    info.name = QStringLiteral("x");
    OxVideoFile video;
    video.name = QStringLiteral("x.mp4");
    video.path = QStringLiteral("/rec/x.mp4");
    video.width = 1920;
    video.height = 1080;
    video.fps = 29.97;
    video.duration = 60.5;
    video.size = 1073741824;
    info.videos << video;
    return info;
}

const char *const kExampleText = R"(<?xml version="1.0" encoding="UTF-8"?>
<OxVideoInfo>
    <Name>x</Name>
    <Videos>
        <Video>
            <name>x.mp4</name>
            <path>/rec/x.mp4</path>
            <thumb></thumb>
            <width>1920</width>
            <height>1080</height>
            <size>1.07374e+09</size>
            <fps>29.97</fps>
            <duration>60.5</duration>
        </Video>
    </Videos>
</OxVideoInfo>
)";

} // namespace

class tst_PlaylistFile : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestHome> home;
    QString dir;

private slots:
    void initTestCase()
    {
        home = std::make_unique<TestHome>();
        dir = home->path() + QStringLiteral("/files");
        QDir().mkpath(dir);
    }

    void writesTheExactText()
    {
        const QString path = dir + QStringLiteral("/x.xml");
        QVERIFY(exampleEntry().save(path));
        QCOMPARE(QString::fromUtf8(readAll(path)), QString::fromUtf8(kExampleText));

        OxVideoInfo back(path);
        OxVideoInfo expected = exampleEntry();
        expected.videos[0].size = 1073740000;
        QCOMPARE(describe(back), describe(expected));
    }

    void reads_data()
    {
        const QString thumbs = OxFileUtils::thumbnailLocation();
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("expected");
        QTest::newRow("capital tags")
            << QByteArray("<OXVIDEOINFO><NAME>n</NAME><VIDEOS><VIDEO><NAME>a.mp4</NAME>"
                          "<PATH>/a.mp4</PATH><WIDTH>640</WIDTH><FPS>25</FPS></VIDEO>"
                          "</VIDEOS></OXVIDEOINFO>")
            << "n [a.mp4|/a.mp4||640x0|0|25|0]";
        QTest::newRow("any tag counts as a recording, missing width is 0")
            << QByteArray("<r><Videos><Video><width>9</width></Video><Clip><height>5</height>"
                          "</Clip></Videos></r>")
            << " [|||9x0|0|0|0] [|||0x5|0|0|0]";
        QTest::newRow("gps element changes nothing")
            << QByteArray("<r><Name>g</Name><Videos><Video><gps>$GPRMC,1</gps><size>10</size>"
                          "</Video></Videos></r>")
            << "g [|||0x0|10|0|0]";
        QTest::newRow("comment inside Videos is a recording")
            << QByteArray("<r><Videos><!-- c --><Video><path>/b.mov</path></Video></Videos></r>")
            << " [|||0x0|0|0|0] [|/b.mov||0x0|0|0|0]";
        QTest::newRow("second Videos appends, later Name wins")
            << QByteArray("<r><Name>1</Name><Videos><V><path>/1</path></V></Videos><Name>2</Name>"
                          "<videos><V><path>/2</path></V></videos></r>")
            << "2 [|/1||0x0|0|0|0] [|/2||0x0|0|0|0]";
        QTest::newRow("numbers that do not parse, nan and inf are 0")
            << QByteArray("<r><Videos><V><width>w</width><fps>nan</fps><duration>inf</duration>"
                          "<size>1e999</size></V></Videos></r>")
            << " [|||0x0|0|0|0]";
        QTest::newRow("only Name") << QByteArray("<r><Name>only</Name></r>") << "only";
        QTest::newRow("empty file") << QByteArray() << "";
        QTest::newRow("not XML") << QByteArray("\x00\xff garbage <<") << "";
        QTest::newRow("thumb in the thumbnail folder")
            << QStringLiteral("<r><Videos><V><thumb>%1/t.jpg</thumb></V></Videos></r>")
                   .arg(thumbs)
                   .toUtf8()
            << QStringLiteral(" [||%1/t.jpg|0x0|0|0|0]").arg(thumbs);
        QTest::newRow("thumb elsewhere is ignored")
            << QStringLiteral("<r><Videos><V><thumb>%1/../elsewhere/deep/t.jpg</thumb></V>"
                              "<V><thumb>%1</thumb></V></Videos></r>")
                   .arg(thumbs)
                   .toUtf8()
            << " [|||0x0|0|0|0] [|||0x0|0|0|0]";
        QTest::newRow("billion laughs")
            << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\">"
                          "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                          "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                          "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
                          "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
                          "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">"
                          "<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">"
                          "<!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">"
                          "<!ENTITY i \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\">]>"
                          "<r><Name>&i;</Name></r>")
            << "";
    }

    void reads()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, expected);
        const QString path = dir + QStringLiteral("/read.xml");
        QVERIFY(writeAll(path, xml));
        QElapsedTimer timer;
        timer.start();
        const OxVideoInfo info(path);
        QVERIFY2(timer.elapsed() < 1000, "reading a playlist file must never stall");
        QCOMPARE(describe(info), expected);
        // Reading never creates anything outside the program's folders.
        QVERIFY(!QFileInfo::exists(home->path() + QStringLiteral("/.cache/elsewhere")));
    }

    void missingAndHugeFilesAreEmpty()
    {
        QCOMPARE(describe(OxVideoInfo(dir + QStringLiteral("/missing.xml"))), QString());
        // Well-formed, with the name at the start: only its size keeps it from being read.
        const QString path = dir + QStringLiteral("/huge.xml");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<r><Name>big</Name></r>");
        const QByteArray blanks(1 << 20, ' ');
        for (int i = 0; i < 16; ++i)
            file.write(blanks);
        file.close();
        QCOMPARE(describe(OxVideoInfo(path)), QString());
        QFile::remove(path);
    }

    void equality_data()
    {
        QTest::addColumn<QString>("nameA");
        QTest::addColumn<QStringList>("pathsA");
        QTest::addColumn<QString>("nameB");
        QTest::addColumn<QStringList>("pathsB");
        QTest::addColumn<bool>("equal");
        QTest::newRow("paths differ in case only")
            << "n" << QStringList{"/A/Clip.MP4"} << "n" << QStringList{"/a/clip.mp4"} << true;
        QTest::newRow("names differ in case")
            << "n" << QStringList{"/a.mp4"} << "N" << QStringList{"/a.mp4"} << false;
        QTest::newRow("no recordings, same name")
            << "e" << QStringList{} << "e" << QStringList{} << true;
        QTest::newRow("different count")
            << "n" << QStringList{"/a.mp4"} << "n" << QStringList{"/a.mp4", "/b.mp4"} << false;
        QTest::newRow("different order") << "n" << QStringList{"/a.mp4", "/b.mp4"} << "n"
                                         << QStringList{"/b.mp4", "/a.mp4"} << false;
    }

    void equality()
    {
        QFETCH(QString, nameA);
        QFETCH(QStringList, pathsA);
        QFETCH(QString, nameB);
        QFETCH(QStringList, pathsB);
        QFETCH(bool, equal);
        auto entry = [](const QString &name, const QStringList &paths) {
            OxVideoInfo info;
            info.name = name;
            for (const QString &p : paths) {
                OxVideoFile v;
                v.path = p;
                v.thumb = p + QStringLiteral(".jpg"); // takes no part
                info.videos << v;
            }
            return info;
        };
        QCOMPARE(entry(nameA, pathsA) == entry(nameB, pathsB), equal);
    }

    void setVideoFileAndFilesExist()
    {
        OxVideoInfo info;
        info.setVideoFile(QStringLiteral("C:/rec/clip.final.MOV"));
        QCOMPARE(describe(info),
                 QStringLiteral("clip.final [clip.final.MOV|C:/rec/clip.final.MOV||0x0|0|0|0]"));
        QVERIFY(!info.filesExist());
        QVERIFY(!OxVideoInfo().filesExist());

        const QString real = dir + QStringLiteral("/.mp4");
        QVERIFY(writeAll(real, "12345"));
        info.setVideoFile(real);
        QCOMPARE(info.name, QString());
        QCOMPARE(info.videos.at(0).size, 5.0);
        QVERIFY(info.filesExist());
    }

    // A save that cannot complete (here: the process may write no file longer than
    // 300 bytes, as on a full disk) reports failure and keeps the old file whole.
    void failedSaveKeepsTheOldFile()
    {
        const QString path = dir + QStringLiteral("/keep.xml");
        QVERIFY(exampleEntry().save(path));
        const QByteArray before = readAll(path);

        OxVideoInfo longer = exampleEntry();
        longer.name = QString(2000, QLatin1Char('n'));
        bool saved = true;
        {
            const FullDisk full(300);
            saved = longer.save(path);
        }
        QVERIFY(!saved);
        QCOMPARE(readAll(path), before);
        QVERIFY(!exampleEntry().save(dir + QStringLiteral("/no/such/folder/x.xml")));
    }
};

QTEST_GUILESS_MAIN(tst_PlaylistFile)
#include "tst_playlistfile.moc"
