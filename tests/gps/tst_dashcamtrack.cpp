#include "gpsbox.h"
#include "gpslayouts.h"
#include "testhome.h"
#include "testrecordings.h"

#include <QProcess>
#include <QXmlStreamReader>
#include <QtTest>

#include <memory>

// The command-line tool, run as a user would run it.
class tst_dashcamtrack : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void csvFromSubtitles();
    void csvFromBoxWithVoidFix();
    void gpx();
    void noTrack();
    void everyLayout_data();
    void everyLayout();
    void badInvocations_data();
    void badInvocations();
    void drives();
    void impossibleFixes_data();
    void impossibleFixes();

private:
    struct Run
    {
        int code = -1;
        QByteArray out;
        QByteArray err;
    };
    Run run(const QStringList &args);

    std::unique_ptr<TestHome> home;
    QString subtitled;
    QString boxed;
    QString plain;
    QString dir;
    QString card;
};

Q_DECLARE_METATYPE(GpsLayoutCase)

static const char kHeader[] =
    "valid,day,month,year,hour,minute,second,latitude,longitude,speed,gsensorX,gsensorY,gsensorZ\n";

tst_dashcamtrack::Run tst_dashcamtrack::run(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(DASHCAM_RUNTIME_DIR "/dashcam-track"), args);
    Run r;
    if (!p.waitForFinished(60000))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

void tst_dashcamtrack::initTestCase()
{
    home = std::make_unique<TestHome>();
    dir = home->path() + QStringLiteral("/rec");
    RecordingSpec recipe = smallRecipe(2, 160, 120);
    plain = requireRecording(dir, QStringLiteral("plain"), recipe);

    boxed = dir + QStringLiteral("/boxed & <named>.mp4");
    QVERIFY(QFile::copy(plain, boxed));
    GpsBoxSpec box;
    box.blocks = {rmcSentence(0), rmcSentence(1, "$GNRMC", 'V'), rmcSentence(2)};
    QVERIFY(addGpsBox(boxed, box));

    recipe.subtitles = {
        {0, 0.9, QString::fromLatin1(rmcSentence(0))},
        {1, 1.9, QStringLiteral("A,070324,080001,3112.0000,S,00030.0000,W,41.5,0.1,0.2,1.0;")},
        {2, 2.9,
         QString::fromLatin1(rmcSentence(2)) +
             QStringLiteral("\r\n$GSENSOR,X,0.5,Y,-1.5,Z,0.25;")}};
    recipe.seconds = 3;
    subtitled = requireRecording(dir, QStringLiteral("subtitled"), recipe);

    // A card: two front clips with GPS overlapping by a second, a front clip without GPS
    // a while later, a rear clip, a damaged file. Names in local time, an hour ahead.
    card = home->path() + QStringLiteral("/card");
    const QDateTime utc(QDate(2026, 3, 14), QTime(7, 0), Qt::UTC);
    recipe = smallRecipe(3);
    recipe.audioCodec.clear();
    recipe.subtitles = nmeaDriveCues(utc, 3, 31.2, 121.4, 72, 45);
    requireRecording(card + "/Front", "20260314_080000_F", recipe);
    recipe.subtitles =
        nmeaDriveCues(utc.addSecs(2), 3, 31.2 + 0.04 * M_SQRT1_2 / 111.195,
                      121.4 + 0.04 * M_SQRT1_2 / (111.195 * std::cos(0.5445)), 72, 45);
    requireRecording(card + "/Front", "20260314_080002_F", recipe);
    recipe.subtitles.clear();
    requireRecording(card + "/Front", "20260314_080020_F", recipe);
    requireRecording(card + "/Rear", "20260314_080000_R", recipe);
    makeGarbage(card + "/Front/20260314_080100_F.mp4", 20000);
    QDir().mkpath(home->path() + "/empty");
}

void tst_dashcamtrack::csvFromSubtitles()
{
    const Run r = run({subtitled});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out,
             QByteArray(kHeader) +
                 "1,7,3,24,8,0,0,31.200000,121.400000,37.040000,0.000000,0.000000,0.000000\n"
                 "1,7,3,24,8,0,1,-31.200000,-0.500000,41.500000,0.100000,0.200000,1.000000\n"
                 "1,7,3,24,8,0,2,31.200000,121.400333,40.744000,0.500000,-1.500000,0.250000\n");
    QVERIFY(r.err.isEmpty());
    QCOMPARE(run({"--format", "csv", subtitled}).out, r.out);
}

void tst_dashcamtrack::csvFromBoxWithVoidFix()
{
    const Run r = run({boxed});
    QCOMPARE(r.code, 0);
    const QList<QByteArray> lines = r.out.split('\n');
    QCOMPARE(lines.size(), 5); // header, three fixes, the empty rest after the last newline
    QCOMPARE(lines[0] + '\n', QByteArray(kHeader));
    QVERIFY(lines[1].startsWith("1,7,3,24,8,0,0,31.200000,121.400000,"));
    QVERIFY(lines[2].startsWith("0,7,3,24,8,0,1,31.200000,121.400167,"));
    QVERIFY(lines[3].startsWith("1,7,3,24,8,0,2,"));
    QVERIFY(lines[4].isEmpty());
}

void tst_dashcamtrack::gpx()
{
    const Run r = run({"--format", "gpx", boxed});
    QCOMPARE(r.code, 0);
    QXmlStreamReader xml(r.out);
    QStringList points;
    QStringList times;
    QString name;
    int tracks = 0;
    int segments = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        QCOMPARE(xml.namespaceUri().toString(),
                 QStringLiteral("http://www.topografix.com/GPX/1/1"));
        const QStringRef tag = xml.name();
        if (tag == QLatin1String("gpx"))
            QCOMPARE(xml.attributes().value(QLatin1String("version")).toString(),
                     QStringLiteral("1.1"));
        else if (tag == QLatin1String("trk"))
            ++tracks;
        else if (tag == QLatin1String("trkseg"))
            ++segments;
        else if (tag == QLatin1String("name"))
            name = xml.readElementText();
        else if (tag == QLatin1String("trkpt"))
            points << xml.attributes().value(QLatin1String("lat")).toString() + QLatin1Char(' ') +
                          xml.attributes().value(QLatin1String("lon")).toString();
        else if (tag == QLatin1String("time"))
            times << xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(tracks, 1);
    QCOMPARE(segments, 1);
    QCOMPARE(name, QStringLiteral("boxed & <named>.mp4"));
    // The void fix in the middle is left out.
    QCOMPARE(points, (QStringList{"31.200000 121.400000", "31.200000 121.400333"}));
    QCOMPARE(times, (QStringList{"2024-03-07T08:00:00Z", "2024-03-07T08:00:02Z"}));
}

void tst_dashcamtrack::noTrack()
{
    const Run csv = run({plain});
    QCOMPARE(csv.code, 1);
    QCOMPARE(csv.out, QByteArray(kHeader));

    const Run gpx = run({"--format=gpx", plain});
    QCOMPARE(gpx.code, 1);
    QXmlStreamReader xml(gpx.out);
    int points = 0;
    while (!xml.atEnd())
        points += xml.readNext() == QXmlStreamReader::StartElement &&
                  xml.name() == QLatin1String("trkpt");
    QVERIFY(!xml.hasError());
    QCOMPARE(points, 0);

    const QString garbage = makeGarbage(home->path() + QStringLiteral("/garbage.mp4"), 20000);
    QCOMPARE(run({garbage}).code, 1);
}

void tst_dashcamtrack::everyLayout_data()
{
    QTest::addColumn<GpsLayoutCase>("layout");
    for (const GpsLayoutCase &c : gpsLayoutCases())
        QTest::newRow(qPrintable(c.name)) << c;
}

// The first fix of each layout's recording as CSV, and its source on standard error.
void tst_dashcamtrack::everyLayout()
{
    QFETCH(GpsLayoutCase, layout);
    const QString path = dir + QStringLiteral("/layout.mp4");
    QVERIFY(writeGpsLayout(plain, path, layout.recipe));
    const Run r = run({"--verbose", path});
    QCOMPARE(r.code, 0);
    const QList<QByteArray> lines = r.out.split('\n');
    QCOMPARE(lines.size(), layout.fixes + 2);
    const QList<QByteArray> f = lines[1].split(',');
    QCOMPARE(f.size(), 13);
    const QDateTime date =
        QDateTime::fromString(layout.date, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QCOMPARE(f[0], QByteArray("1"));
    QCOMPARE(f[1].toInt(), date.date().day());
    QCOMPARE(f[2].toInt(), date.date().month());
    QCOMPARE(f[3].toInt(), date.date().year() % 100);
    QCOMPARE(f[4].toInt(), date.time().hour());
    QCOMPARE(f[5].toInt(), date.time().minute());
    QCOMPARE(f[6].toInt(), date.time().second());
    QVERIFY(qAbs(f[7].toDouble() - layout.latitude) < 1.01e-6);
    QVERIFY(qAbs(f[8].toDouble() - layout.longitude) < 1.01e-6);
    QVERIFY(qAbs(f[9].toDouble() - layout.speed) < 0.006);
    QVERIFY2(r.err.contains(layout.source.toUtf8()), r.err.constData());
    QVERIFY2(r.err.contains("skipped as void or damaged"), r.err.constData());
}

void tst_dashcamtrack::badInvocations_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no file") << QStringList{};
    QTest::newRow("missing file") << QStringList{"/nonexistent/clip.mp4"};
    QTest::newRow("a folder without recordings") << QStringList{home->path() + "/empty"};
    QTest::newRow("unknown format") << QStringList{"--format", "kml", "x.mp4"};
    QTest::newRow("format without value") << QStringList{"--format"};
    QTest::newRow("unknown option") << QStringList{"--loud", "x.mp4"};
    QTest::newRow("two files") << QStringList{"a.mp4", "b.mp4"};
}

void tst_dashcamtrack::badInvocations()
{
    QFETCH(QStringList, args);
    const Run r = run(args);
    QCOMPARE(r.code, 2);
    QVERIFY(r.out.isEmpty());
    QCOMPARE(r.err.count('\n'), 1);
    QVERIFY(r.err.endsWith('\n'));
}

// A card as drives: the GPX has one track for the drive with GPS, one segment per clip,
// the overlap's fixes once, and speed and course that agree with what GPSBabel
// computes from the same points; CSV of two files gives drive times.
void tst_dashcamtrack::drives()
{
    if (QStandardPaths::findExecutable("gpsbabel").isEmpty() ||
        QStandardPaths::findExecutable("xmllint").isEmpty())
        QSKIP("gpsbabel and xmllint are needed (scripts/install-deps)");
    const Run r = run({"--format", "gpx", card});
    QCOMPARE(r.code, 0);
    QVERIFY2(r.err.contains("20260314_080100_F.mp4 is not a readable recording"), r.err);
    const QString gpx = home->path() + "/card.gpx";
    QFile file(gpx);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(r.out) == r.out.size());
    file.close();
    QCOMPARE(QProcess::execute("xmllint", {"--noout", gpx}), 0);

    QXmlStreamReader xml(r.out);
    QStringList segments; // points per segment
    QStringList ours;     // time, speed and course of every point
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("trkseg"))
            segments << "0";
        else if (xml.name() == QLatin1String("trkpt"))
            segments.last() = QString::number(segments.last().toInt() + 1);
        else if (xml.name() == QLatin1String("time") || xml.name() == QLatin1String("speed") ||
                 xml.name() == QLatin1String("course"))
            ours << xml.readElementText();
    }
    QVERIFY(!xml.hasError());
    QCOMPARE(segments, (QStringList{"2", "3"}));

    QProcess babel;
    babel.start("gpsbabel", {"-t", "-i", "gpx", "-f", gpx, "-x", "track,course,speed", "-o",
                             "unicsv", "-F", "-"});
    QVERIFY(babel.waitForFinished(60000) && babel.exitCode() == 0);
    QList<QByteArray> rows = babel.readAllStandardOutput().replace('\r', "").trimmed().split('\n');
    QCOMPARE(rows.takeFirst(), QByteArray("No,Latitude,Longitude,Speed,Course,Date,Time"));
    QCOMPARE(rows.size(), 5);
    for (int i = 0; i < rows.size(); ++i) {
        const QList<QByteArray> f = rows[i].split(',');
        QCOMPARE(ours[3 * i], QString("2026-03-14T07:00:0%1Z").arg(i));
        QCOMPARE(f[6], QByteArray("07:00:0") + QByteArray::number(i));
        QVERIFY2(qAbs(ours[3 * i + 1].toDouble() - 20) < 0.01, rows[i]);
        if (i > 0) { // GPSBabel's first point has neither
            QVERIFY2(qAbs(f[3].toDouble() - ours[3 * i + 1].toDouble()) < 0.5, rows[i]);
            QVERIFY2(qAbs(f[4].toDouble() - ours[3 * i + 2].toDouble()) < 0.5, rows[i]);
        }
    }

    const Run csv =
        run({card + "/Front/20260314_080002_F.mp4", card + "/Front/20260314_080000_F.mp4"});
    QCOMPARE(csv.code, 0);
    QList<QByteArray> lines = csv.out.trimmed().split('\n');
    QCOMPARE(lines.takeFirst(), "drive,file,driveTime," + QByteArray(kHeader).trimmed());
    QStringList times;
    for (const QByteArray &line : lines)
        times << line.split(',').mid(0, 3).join(' ');
    QCOMPARE(times, (QStringList{"1 20260314_080000_F.mp4 0.000", "1 20260314_080000_F.mp4 1.000",
                                 "1 20260314_080002_F.mp4 2.000", "1 20260314_080002_F.mp4 3.000",
                                 "1 20260314_080002_F.mp4 4.000"}));
}

void tst_dashcamtrack::impossibleFixes_data()
{
    QTest::addColumn<bool>("inBox");
    QTest::addColumn<QByteArrayList>("sentences");
    QTest::addColumn<QVector<int>>("seconds");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<bool>("keptBadChecksums");

    // Three fixes a second apart; the middle one damaged as the row says.
    auto middle = [](const char *from, const char *to) {
        QByteArray damaged = rmcSentence(1);
        damaged.replace(from, to);
        return QByteArrayList{rmcSentence(0), withChecksum(damaged), rmcSentence(2)};
    };
    auto wrongSum = [](QByteArray sentence) {
        sentence.replace(sentence.size() - 2, 2, sentence.endsWith("00") ? "11" : "00");
        return sentence;
    };
    const QVector<int> outer{0, 2};
    for (bool box : {false, true}) {
        const char *where = box ? "box: " : "subtitles: ";
        auto row = [&](const char *name) -> QTestData & {
            return QTest::newRow(qPrintable(where + QString::fromLatin1(name)));
        };
        row("latitude 91.8") << box << middle("3112.0000,N", "9148.0000,N") << outer << 1 << false;
        row("longitude 199") << box << middle("12124.0100,E", "19900.0000,E") << outer << 1
                             << false;
        row("185,199,998 km/h") << box << middle(",21.0,", ",99999999,") << outer << 1 << false;
        row("speed -inf") << box << middle(",21.0,", ",-1e308,") << outer << 1 << false;
        row("day 32") << box << middle(",070324,", ",320324,") << outer << 1 << false;
        row("date 99/99/99") << box << middle(",070324,", ",999999,") << outer << 1 << false;
        row("wrong checksum among right ones")
            << box << QByteArrayList{rmcSentence(0), wrongSum(rmcSentence(1)), rmcSentence(2)}
            << outer << 1 << false;
        row("every checksum wrong")
            << box
            << QByteArrayList{wrongSum(rmcSentence(0)), wrongSum(rmcSentence(1)),
                              wrongSum(rmcSentence(2))}
            << QVector<int>{0, 1, 2} << 0 << true;
        // Receivers write void sentences without a date before their first fix.
        row("void fix without a date")
            << box
            << QByteArrayList{rmcSentence(0), withChecksum("$GPRMC,080001.000,V,,,,,,,,,,N"),
                              rmcSentence(2)}
            << QVector<int>{0, 1, 2} << 0 << false;
    }
}

// Fixes no earth or calendar allows, and sentences with a wrong checksum, are skipped
// and counted; a recording whose checksums are all wrong keeps them and says so.
void tst_dashcamtrack::impossibleFixes()
{
    QFETCH(bool, inBox);
    QFETCH(QByteArrayList, sentences);
    QFETCH(QVector<int>, seconds);
    QFETCH(int, skipped);
    QFETCH(bool, keptBadChecksums);

    const QString name =
        QString::fromLatin1(QTest::currentDataTag())
            .replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("_"));
    QString path = dir + QLatin1Char('/') + name + QStringLiteral(".mp4");
    if (inBox) {
        QFile::remove(path);
        QVERIFY(QFile::copy(plain, path));
        GpsBoxSpec box;
        box.blocks = QVector<QByteArray>(sentences.cbegin(), sentences.cend());
        QVERIFY(addGpsBox(path, box));
    } else {
        RecordingSpec recipe = smallRecipe(3, 64, 48);
        for (int i = 0; i < sentences.size(); ++i)
            recipe.subtitles.append({double(i), i + 0.9, QString::fromLatin1(sentences[i])});
        path = requireRecording(dir, name, recipe);
    }

    const Run r = run({"--verbose", path});
    QCOMPARE(r.code, 0);
    QVector<int> kept;
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    for (int i = 1; i < lines.size(); ++i)
        kept << lines[i].split(',').value(6).toInt();
    QCOMPARE(kept, seconds);
    QVERIFY2(r.err.contains(QByteArray::number(skipped) + " records skipped"), r.err.constData());
    QCOMPARE(r.err.contains("checksum is wrong"), keptBadChecksums);
}

QTEST_GUILESS_MAIN(tst_dashcamtrack)
#include "tst_dashcamtrack.moc"
