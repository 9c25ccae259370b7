#include "gpsbox.h"
#include "gpsextract.h"
#include "sources/gpssources.h"
#include "testhome.h"
#include "testrecordings.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(GpsBoxSpec)

// Extraction from real recordings made by FFmpeg at test time, with the "gps "
// box written by the test support code.
class tst_gpsextract : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void subtitleTrack();
    void sentencesMatchIndependentReader();
    void fixLinesInEveryContainer_data();
    void fixLinesInEveryContainer();
    void repeatedTimeStamps();
    void voidFixLinesFallBackToBox();
    void subtitlesWinOverBox();
    void boxTrack_data();
    void boxTrack();
    void noTrack();
    void hostileBoxSizes_data();
    void hostileBoxSizes();
    void hostileIndexEntries();

private:
    QString make(const QString &name, const QVector<QByteArray> &cueTexts,
                 const QString &container = QStringLiteral("mp4"));
    QString copyOfPlain(const QString &name);

    std::unique_ptr<TestHome> home;
    QString dir;
    QString plain; // no subtitles, moov at the end
};

namespace {

QVector<int> secondsOf(const OxTrack &track)
{
    QVector<int> out;
    for (const OxLocation &f : track)
        out << f.minute * 60 + f.second;
    return out;
}

QVector<QByteArray> rmcRange(int from, int to)
{
    QVector<QByteArray> out;
    for (int s = from; s <= to; ++s)
        out << rmcSentence(s);
    return out;
}

QByteArray fixLine(int s, char status = 'A')
{
    return QString::asprintf("%c,070324,0800%02d,3112.0000,N,%.4f,E,%d.5,0.1,0.2,1.0;", status, s,
                             12124.0 + s * 0.01, 30 + s)
        .toLatin1();
}

QByteArray be32(quint32 v)
{
    QByteArray out(4, '\0');
    qToBigEndian(v, out.data());
    return out;
}

} // namespace

void tst_gpsextract::initTestCase()
{
    home = std::make_unique<TestHome>();
    dir = home->path() + QStringLiteral("/rec");
    plain = requireRecording(dir, QStringLiteral("plain"), smallRecipe(2, 160, 120));
}

QString tst_gpsextract::make(const QString &name, const QVector<QByteArray> &cueTexts,
                             const QString &container)
{
    RecordingSpec recipe = smallRecipe(qMax(2, int(cueTexts.size())), 160, 120);
    recipe.container = container;
    for (int i = 0; i < cueTexts.size(); ++i)
        recipe.subtitles.append({double(i), i + 0.9, QString::fromLatin1(cueTexts[i])});
    return makeRecording(dir, name, recipe);
}

QString tst_gpsextract::copyOfPlain(const QString &name)
{
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".mp4");
    QFile::remove(path);
    return QFile::copy(plain, path) ? path : QString();
}

// RMC cues, one with a "$GSENSOR" line below the sentence: the decoder's event
// fields and its "\N" line break must not hide either.
void tst_gpsextract::subtitleTrack()
{
    QVector<QByteArray> cues = rmcRange(0, 3);
    cues[1] += "\r\n$GSENSOR,X,0.10,Y,-0.20,Z,0.98;";
    const QString path = make(QStringLiteral("rmc"), cues);
    QVERIFY(!path.isEmpty());

    OxTrack track{OxLocation()};
    QVERIFY(loadTrackFromSubtitles(track, path));
    QCOMPARE(secondsOf(track), (QVector<int>{0, 1, 2, 3}));
    QCOMPARE(secondsOf(loadTrack(path)), secondsOf(track));

    const OxLocation &first = track[0];
    QVERIFY(first.valid);
    QCOMPARE(QString::number(first.latitude, 'f', 6), QStringLiteral("31.200000"));
    QCOMPARE(QString::number(first.longitude, 'f', 6), QStringLiteral("121.400000"));
    QCOMPARE(QString::number(first.speed, 'f', 6), QStringLiteral("37.040000"));
    QCOMPARE(first.day, 7);
    QCOMPARE(first.month, 3);
    QCOMPARE(first.year, 24);
    QCOMPARE(first.hour, 8);
    QCOMPARE(first.gsensorX, 0.0);
    QCOMPARE(track[1].gsensorX, 0.10);
    QCOMPARE(track[1].gsensorY, -0.20);
    QCOMPARE(track[1].gsensorZ, 0.98);
}

// The clips hold what the tests think they hold, by a reader that shares no
// code with ours.
void tst_gpsextract::sentencesMatchIndependentReader()
{
    const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
    if (exiftool.isEmpty())
        QSKIP("exiftool is not installed (libimage-exiftool-perl)");
    QVector<QByteArray> cues = rmcRange(0, 2);
    cues[2] += "\r\n$GSENSOR,X,0.10,Y,-0.20,Z,0.98;";
    const QString path = make(QStringLiteral("exif"), cues);
    QVERIFY(!path.isEmpty());

    QProcess p;
    p.start(exiftool, {"-ee", "-a", "-G3", "-json", "-Text", path});
    QVERIFY(p.waitForFinished(60000));
    const QJsonArray docs = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    QCOMPARE(docs.size(), 1);
    const QJsonObject o = docs[0].toObject();
    QStringList texts;
    for (int i = 1; o.contains(QStringLiteral("Doc%1:Text").arg(i)); ++i) {
        const QString t = o.value(QStringLiteral("Doc%1:Text").arg(i)).toString();
        if (!t.isEmpty())
            texts << t;
    }
    QStringList expected;
    for (const QByteArray &c : cues)
        expected << QString::fromLatin1(c).replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QCOMPARE(texts, expected);

    const OxTrack track = loadTrack(path);
    QCOMPARE(secondsOf(track), (QVector<int>{0, 1, 2}));
    QCOMPARE(track[2].gsensorZ, 0.98);
}

void tst_gpsextract::fixLinesInEveryContainer_data()
{
    QTest::addColumn<QString>("container");
    QTest::newRow("mp4") << QStringLiteral("mp4");
    QTest::newRow("mov") << QStringLiteral("mov");
    QTest::newRow("mkv, SubRip") << QStringLiteral("mkv");
}

void tst_gpsextract::fixLinesInEveryContainer()
{
    QFETCH(QString, container);
    const QString path =
        make(QStringLiteral("lines_") + container, {fixLine(0), fixLine(1), fixLine(2)}, container);
    QVERIFY(!path.isEmpty());
    const OxTrack track = loadTrack(path);
    QCOMPARE(secondsOf(track), (QVector<int>{0, 1, 2}));
    QCOMPARE(track[2].speed, 32.5);
    QCOMPARE(track[1].gsensorZ, 1.0);
    QCOMPARE(QString::number(track[2].longitude, 'f', 6), QStringLiteral("121.400333"));
}

// Only the last fix kept is compared: t0 t0 t1 t0 gives three fixes.
void tst_gpsextract::repeatedTimeStamps()
{
    const QString path = make(QStringLiteral("repeat"),
                              {rmcSentence(0), rmcSentence(0), rmcSentence(1), rmcSentence(0)});
    QVERIFY(!path.isEmpty());
    QCOMPARE(secondsOf(loadTrack(path)), (QVector<int>{0, 1, 0}));
}

void tst_gpsextract::voidFixLinesFallBackToBox()
{
    const QString path =
        make(QStringLiteral("voidlines"), {fixLine(0, 'V'), fixLine(1, 'V'), "not gps at all"});
    QVERIFY(!path.isEmpty());
    GpsBoxSpec box;
    box.blocks = rmcRange(10, 12);
    QVERIFY(addGpsBox(path, box));

    OxTrack track;
    QVERIFY(!loadTrackFromSubtitles(track, path));
    QVERIFY(track.isEmpty());
    QCOMPARE(secondsOf(loadTrack(path)), (QVector<int>{10, 11, 12}));
}

void tst_gpsextract::subtitlesWinOverBox()
{
    const QString path = make(QStringLiteral("both"), rmcRange(0, 1));
    QVERIFY(!path.isEmpty());
    GpsBoxSpec box;
    box.blocks = rmcRange(20, 25);
    QVERIFY(addGpsBox(path, box));
    QCOMPARE(secondsOf(loadTrack(path)), (QVector<int>{0, 1}));
}

void tst_gpsextract::boxTrack_data()
{
    QTest::addColumn<GpsBoxSpec>("box");
    QTest::addColumn<QVector<int>>("seconds");

    GpsBoxSpec box;
    box.blocks = rmcRange(0, 4);
    QTest::newRow("one block per second") << box << QVector<int>{0, 1, 2, 3, 4};

    GpsBoxSpec gn;
    gn.blocks = {rmcSentence(5, "$GNRMC"), rmcSentence(6, "$GNRMC", 'V')};
    QTest::newRow("gnrmc blocks, void fixes kept") << gn << QVector<int>{5, 6};

    GpsBoxSpec payload = box;
    payload.payloadSize = 8;
    QTest::newRow("payload of 8 bytes") << payload << QVector<int>{};
    payload.payloadSize = 10;
    QTest::newRow("payload of 10 bytes") << payload << QVector<int>{};
    payload.payloadSize = 12;
    QTest::newRow("payload of 12 bytes") << payload << QVector<int>{0};
    payload.payloadSize = 7;
    QTest::newRow("payload of 7 bytes") << payload << QVector<int>{};

    GpsBoxSpec repeat;
    repeat.blocks = {rmcSentence(0), rmcSentence(0) + "\r\n" + rmcSentence(1),
                     rmcSentence(1) + "\r\n", QByteArray("$GPRMC,broken\0", 14) + rmcSentence(2),
                     rmcSentence(3) + "\r\n" + rmcSentence(4)};
    QTest::newRow("block repeating the last fix gives its next sentence, a bad one ends it")
        << repeat << QVector<int>{0, 1, 3};

    GpsBoxSpec packed;
    packed.blockStride = 0; // each read of 4096 bytes runs on into the next blocks
    packed.blocks = {rmcSentence(0), rmcSentence(0), rmcSentence(1)};
    QTest::newRow("packed blocks") << packed << QVector<int>{0, 1};

    GpsBoxSpec noise;
    noise.blocks = {QByteArray("text before the sentence ") + rmcSentence(3),
                    QByteArray("no sentence here"), QByteArray(20, '\0') + rmcSentence(4)};
    QTest::newRow("sentence inside a block, empty and NUL-led blocks")
        << noise << QVector<int>{3, 4};

    GpsBoxSpec after = box;
    after.afterMoov = true;
    QTest::newRow("box after moov at the top level") << after << QVector<int>{0, 1, 2, 3, 4};

    GpsBoxSpec wide = box;
    wide.wideBoxBeforeMoov = true;
    QTest::newRow("64-bit box before moov ends the search") << wide << QVector<int>{};

    GpsBoxSpec far = box;
    far.extraOffsets = {0x7ffffff0, 0xfffffff0, 0x80000000, 3};
    QTest::newRow("offsets past the end, negative and into the header")
        << far << QVector<int>{0, 1, 2, 3, 4};
}

void tst_gpsextract::boxTrack()
{
    QFETCH(GpsBoxSpec, box);
    QFETCH(QVector<int>, seconds);
    const QString path = copyOfPlain(QStringLiteral("box_") + QTest::currentDataTag());
    QVERIFY(!path.isEmpty());
    QVERIFY(addGpsBox(path, box));
    const OxTrack track = loadTrack(path);
    QCOMPARE(secondsOf(track), seconds);

    // The recording still opens for playback with the box in it.
    OxTrack none;
    QVERIFY(!loadTrackFromSubtitles(none, path));

    if (!seconds.isEmpty()) {
        const OxLocation &f = track[0];
        QCOMPARE(QString::number(f.latitude, 'f', 6), QStringLiteral("31.200000"));
        QCOMPARE(f.year, 24);
    }
}

void tst_gpsextract::noTrack()
{
    QVERIFY(loadTrack(plain).isEmpty());
    QVERIFY(loadTrack(dir + QStringLiteral("/missing.mp4")).isEmpty());
    QVERIFY(loadTrack(makeGarbage(dir + QStringLiteral("/garbage.mp4"), 50000)).isEmpty());
    QVERIFY(loadTrack(makeEmpty(dir + QStringLiteral("/empty.mp4"))).isEmpty());
    QVERIFY(loadTrack(dir).isEmpty());

    // A recording cut in its media data: the sentences before the cut, or none,
    // but an answer.
    const QString full = make(QStringLiteral("tocut"), rmcRange(0, 3));
    const QString cut = makeTruncated(full, dir + QStringLiteral("/cut.mp4"));
    QVERIFY(!cut.isEmpty());
    QVERIFY(loadTrack(cut).size() <= 4);
}

// Sizes and offsets of a box come from the file: none of them may make the walk
// allocate more than the file holds, run past it or loop.
void tst_gpsextract::hostileBoxSizes_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("payload"); // expected payload length, -1 for nothing found
    const QByteArray ftyp = be32(16) + "ftypisom" + be32(0);
    const QByteArray tail(100, 'x');
    QTest::newRow("huge gps size reads what is left")
        << QByteArray(ftyp + be32(0x7fffffff) + "moov" + be32(0x7ffffff0) + "gps " + tail) << 100;
    QTest::newRow("a damaged size never reads more than 1 MiB")
        << QByteArray(ftyp + be32(0x7fffffff) + "moov" + be32(0x7ffffff0) + "gps " +
                      QByteArray(3 << 20, 'x'))
        << (1 << 20);
    QTest::newRow("gps size past the end")
        << QByteArray(ftyp + be32(200) + "moov" + be32(60) + "gps " + tail.left(20)) << 20;
    QTest::newRow("size field of 2^31 and more")
        << QByteArray(ftyp + be32(0x80000000) + "moov" + be32(0xfffffff0) + "gps ") << -1;
    QTest::newRow("gps box with an empty payload at the end")
        << QByteArray(ftyp + be32(16) + "moov" + be32(9) + "gps ") << 0;
    QTest::newRow("top-level sizes running past 2^31")
        << QByteArray(be32(0x7ffffff8) + "free" + be32(0x7ffffff8) + "free") << -1;
    QTest::newRow("to-the-end box")
        << QByteArray(ftyp + be32(0) + "moov" + be32(16) + "gps " + tail) << -1;
    QTest::newRow("empty box stepped over")
        << QByteArray(ftyp + be32(8) + "free" + be32(24) + "moov" + be32(16) + "gps ") << 0;
    QTest::newRow("size below 8 stops")
        << QByteArray(ftyp + be32(7) + "free" + be32(24) + "moov" + be32(16) + "gps ") << -1;
    QTest::newRow("header cut short") << QByteArray(ftyp + be32(24) + "mo") << -1;
    QTest::newRow("inner walk past moov")
        << QByteArray(ftyp + be32(24) + "moov" + be32(16) + "trak" + "12345678" + be32(12) +
                      "gps " + "abcd")
        << 4;
    QTest::newRow("nothing") << QByteArray() << -1;
}

void tst_gpsextract::hostileBoxSizes()
{
    QFETCH(QByteArray, data);
    QFETCH(int, payload);
    QFile file(home->path() + QStringLiteral("/hostile.bin"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
    file.close();
    QVERIFY(file.open(QIODevice::ReadOnly));
    const std::optional<QByteArray> found = findBox(file, "moov", "gps ");
    QCOMPARE(found.has_value(), payload >= 0);
    if (!found)
        return;
    QCOMPARE(found->size(), payload);
    OxTrack track;
    QCOMPARE(loadTrackFromBox(file, track, *found), 0);
}

void tst_gpsextract::hostileIndexEntries()
{
    // Index entries against a device of a few bytes: offsets at, past and far
    // past its end, negative ones, and one pointing at a sentence that ends the
    // block without its final fields.
    QByteArray bytes = rmcSentence(7);
    QBuffer device(&bytes);
    QVERIFY(device.open(QIODevice::ReadOnly));
    QByteArray index = "HEADER!!" + be32(0) + be32(0) + be32(quint32(bytes.size())) + be32(0) +
                       be32(0xffffffff) + be32(0) + be32(quint32(bytes.size() - 20)) + be32(0) +
                       be32(0x7fffffff);
    OxTrack track;
    QCOMPARE(loadTrackFromBox(device, track, index), 1);
    QCOMPARE(track[0].second, 7);
    QCOMPARE(loadTrackFromBox(device, track, "HEADER!!"), 1);
    QCOMPARE(loadTrackFromBox(device, track, "HEAD"), 0);
}

QTEST_GUILESS_MAIN(tst_gpsextract)
#include "tst_gpsextract.moc"
