#include "gpslayouts.h"
#include "sources/gpsblocks.h"
#include "sources/gpssources.h"
#include "testhome.h"
#include "testrecordings.h"

#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(GpsLayoutCase)

// Binary, timestamped and metadata-track layouts, written into real recordings made
// by FFmpeg at test time and read back by the GPS step.
class tst_gpslayouts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layouts_data();
    void layouts();
    void subtitlesWinOverBlocks();
    void badInput_data();
    void badInput();
    void textRecordVector();

private:
    QString write(const QString &name, const GpsLayoutSpec &recipe, const QString &from = {});

    std::unique_ptr<TestHome> home;
    QString dir;
    QString plain;
};

namespace {

QString dateOf(const OxLocation &f)
{
    return QString::asprintf("20%02d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour,
                             f.minute, f.second);
}

GpsLayoutCase caseNamed(const char *name)
{
    for (const GpsLayoutCase &c : gpsLayoutCases()) {
        if (c.name == QLatin1String(name))
            return c;
    }
    return {};
}

} // namespace

void tst_gpslayouts::initTestCase()
{
    home = std::make_unique<TestHome>();
    dir = home->path() + QStringLiteral("/rec");
    RecordingSpec recipe;
    recipe.width = 160;
    recipe.height = 120;
    plain = makeRecording(dir, QStringLiteral("plain"), recipe);
    QVERIFY(!plain.isEmpty());
}

QString tst_gpslayouts::write(const QString &name, const GpsLayoutSpec &recipe, const QString &from)
{
    QString safe = name;
    safe.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")), QStringLiteral("_"));
    const QString path = dir + QLatin1Char('/') + safe + QStringLiteral(".mp4");
    return writeGpsLayout(from.isEmpty() ? plain : from, path, recipe) ? path : QString();
}

void tst_gpslayouts::layouts_data()
{
    QTest::addColumn<GpsLayoutCase>("layout");
    for (const GpsLayoutCase &c : gpsLayoutCases())
        QTest::newRow(qPrintable(c.name)) << c;
}

void tst_gpslayouts::layouts()
{
    QFETCH(GpsLayoutCase, layout);
    const QString path = write(layout.name, layout.recipe);
    QVERIFY(!path.isEmpty());

    GpsReport report;
    const OxTrack track = loadTrack(path, &report);
    QCOMPARE(report.source, layout.source);
    QCOMPARE(track.size(), layout.fixes);
    const OxLocation &fix = track.first();
    QVERIFY(fix.valid);
    QCOMPARE(dateOf(fix), layout.date);
    QVERIFY2(qAbs(fix.latitude - layout.latitude) < 1e-6,
             qPrintable(QString::number(fix.latitude, 'f', 7)));
    QVERIFY2(qAbs(fix.longitude - layout.longitude) < 1e-6,
             qPrintable(QString::number(fix.longitude, 'f', 7)));
    QVERIFY2(qAbs(fix.speed - layout.speed) < 0.006,
             qPrintable(QString::number(fix.speed, 'f', 4)));
    QCOMPARE(fix.hasGsensor, layout.hasGsensor);
    const double g[3] = {fix.gsensorX, fix.gsensorY, fix.gsensorZ};
    for (int i = 0; i < 3; ++i)
        QVERIFY2(qAbs(g[i] - layout.gsensor[i]) < 1e-6, qPrintable(QString::number(g[i], 'f', 7)));
    for (int i = 1; i < track.size(); ++i)
        QVERIFY(dateOf(track[i - 1]) < dateOf(track[i]));
}

// A recording that has a subtitle track keeps taking its track from there.
void tst_gpslayouts::subtitlesWinOverBlocks()
{
    RecordingSpec recipe;
    recipe.width = 160;
    recipe.height = 120;
    recipe.subtitles = {{0, 0.9,
                         QStringLiteral("$GPRMC,080000.000,A,3112.0000,N,12124.0000,E,36.5,90.0,"
                                        "070324,,,A*68")}};
    const QString subtitled = makeRecording(dir, QStringLiteral("subtitled"), recipe);
    QVERIFY(!subtitled.isEmpty());
    const QString path =
        write(QStringLiteral("subtitled-blocks"), caseNamed("float32 at 0x30").recipe, subtitled);
    QVERIFY(!path.isEmpty());

    GpsReport report;
    const OxTrack track = loadTrack(path, &report);
    QCOMPARE(report.source, QStringLiteral("subtitle stream"));
    QCOMPARE(track.size(), 1);
    QCOMPARE(dateOf(track[0]), QStringLiteral("2024-03-07 08:00:00"));
}

void tst_gpslayouts::badInput_data()
{
    QTest::addColumn<GpsLayoutSpec>("recipe");
    QTest::addColumn<int>("fixes");

    const GpsLayoutSpec a = caseNamed("float32 at 0x30").recipe;
    const QByteArray blockA = a.blocks[0];
    auto with = [](QByteArray block, int offset, const char *hex) {
        const QByteArray bytes = QByteArray::fromHex(hex);
        block.replace(offset, bytes.size(), bytes);
        return block;
    };
    GpsLayoutSpec r;

    r = a;
    r.indexCount = 0x7FFFFFFF;
    QTest::newRow("entry count past the box") << r << 1;

    r = a;
    r.extraEntries = {{0, 0x8000}, {0x100, 0}, {0x7FFFFF00, 0x8000}, {8, 0x8000}};
    QTest::newRow("entries at zero, empty, past the file, not at a block") << r << 1;

    r = {};
    r.blocks = {with(blockA.left(0x40), 0, "00 00 00 40")};
    QTest::newRow("block under 82 bytes") << r << 0;

    // The index is not trusted, but the block itself is intact: the scan finds it.
    r = {};
    r.blocks = {with(blockA, 0, "00 00 40 00")};
    QTest::newRow("index size that disagrees with the block") << r << 1;

    r = {};
    r.blocks = {with(blockA, 0x48, "56")};
    QTest::newRow("void status") << r << 0;

    r = {};
    r.blocks = {with(blockA, 0x40, "0d")};
    QTest::newRow("month 13") << r << 0;

    r = {};
    r.blocks = {with(blockA, 0x4C, "00 60 14 46")}; // 9500.0: 95 degrees
    QTest::newRow("latitude past 90") << r << 0;

    r = {};
    r.blocks = {with(blockA, 0x4C, "00 00 00 00 00 00 00 00")};
    QTest::newRow("zero coordinates") << r << 0;

    r = {};
    r.blocks = {with(blockA, 0x54, "00 00 96 43")}; // 300 knots: 555.6 km/h
    QTest::newRow("speed past 500 km/h") << r << 0;

    QByteArray garbage = blockA.left(12) + QByteArray(0x8000 - 12, '\0');
    for (int i = 12; i < garbage.size(); ++i)
        garbage[i] = char((i * 37 + 11) % 251);
    r = {};
    r.blocks = {garbage};
    QTest::newRow("garbage after the header") << r << 0;

    r = caseNamed("encrypted text").recipe;
    r.blocks[0] = with(r.blocks[0], 0x2C, "20");
    QTest::newRow("encrypted record with an invalid control byte") << r << 0;

    r = caseNamed("klv track").recipe;
    r.track.samples[0] = with(r.track.samples[0], 0x62, "00 ff");
    QTest::newRow("klv repeat past the sample") << r << 0;

    r = caseNamed("klv track").recipe;
    r.track.samples[0] = with(r.track.samples[0], 0x18, "00 00 00 00");
    QTest::newRow("klv without a fix") << r << 0;

    r = caseNamed("klv track").recipe;
    r.track.sizeOverride = 0x7FFFFFF0;
    QTest::newRow("metadata sample past the file") << r << 0;

    r = caseNamed("camm track").recipe;
    r.track.samples[0] = with(r.track.samples[0], 0x1C, "00 00 00 00");
    QTest::newRow("camm without a fix") << r << 0;

    r = caseNamed("top-level GPS box").recipe;
    r.creationTime = 0;
    QTest::newRow("top-level box without a creation time") << r << 0;
}

// Damaged or impossible data is skipped quietly; what is intact still counts.
void tst_gpslayouts::badInput()
{
    QFETCH(GpsLayoutSpec, recipe);
    QFETCH(int, fixes);
    const QString path = write(QString::fromLatin1(QTest::currentDataTag()), recipe);
    QVERIFY(!path.isEmpty());
    GpsReport report;
    const OxTrack track = loadTrack(path, &report);
    QCOMPARE(track.size(), fixes);
    if (fixes == 0)
        QVERIFY(report.skipped > 0);
}

// The real record that the encrypted-text layout's decryption was checked on.
void tst_gpslayouts::textRecordVector()
{
    const QByteArray in =
        QByteArray::fromHex("c0 20 20 20 20 f0 12 10 12 22 e1 0e 10 12 2f 90 10 13 02");
    const std::optional<QByteArray> out =
        decryptTextRecord(reinterpret_cast<const uchar *>(in.constData()), in.size());
    QVERIFY(out);
    QCOMPARE(*out, QByteArray("\0\0\0\0"
                              "2022/02/03 2",
                              16));
}

QTEST_GUILESS_MAIN(tst_gpslayouts)
#include "tst_gpslayouts.moc"
