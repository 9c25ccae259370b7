#include "nmea.h"

#include <QtTest>

#include <clocale>

namespace {

struct Expected
{
    bool valid;
    double latitude, longitude, speed;
    double gx, gy, gz;
    int day, month, year, hour, minute, second;
    bool hasGsensor = false; // rows that leave it out have none
};

} // namespace

Q_DECLARE_METATYPE(Expected)

class tst_nmea : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void rejected_data();
    void rejected();
    void cueText_data();
    void cueText();
    void cueWithSensorLine();
    void numbersIgnoreTheLocale();
    void equalityAndCopies();
};

static const char kRmc[] =
    "$GPRMC,123519.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,A*6A";

void tst_nmea::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Expected>("e");

    const Expected munich{true, 48.1173, 11.516667, 41.4848, 0, 0, 0, 23, 3, 94, 12, 35, 19};
    QTest::newRow("rmc valid") << QByteArray(kRmc) << munich;

    Expected voidFix = munich;
    voidFix.valid = false;
    QTest::newRow("rmc void keeps its position")
        << QByteArray(kRmc).replace(",A,4807", ",V,4807") << voidFix;
    QTest::newRow("rmc lower-case status")
        << QByteArray(kRmc).replace(",A,4807", ",a,4807") << munich;

    QTest::newRow("rmc inside other text") << QByteArray("garbage before ").append(kRmc) << munich;

    // Sentences from before NMEA 2.3 end at the magnetic variation, without the mode.
    QTest::newRow("rmc without mode field")
        << QByteArray("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A")
        << munich;
    QTest::newRow("rmc without mode field nor variation")
        << QByteArray("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,,*6A") << munich;
    QTest::newRow("no mode field but a following line")
        << QByteArray("$GPRMC,123519.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n"
                      "$GPGGA,1")
        << munich;

    QTest::newRow("gnrmc only") << QByteArray(kRmc).replace("$GPRMC", "$GNRMC") << munich;
    Expected later{true, 31.2, 121.4, 0, 0, 0, 0, 7, 3, 24, 8, 0, 1};
    QTest::newRow("gprmc preferred to an earlier gnrmc")
        << QByteArray(kRmc)
               .replace("$GPRMC", "$GNRMC")
               .append("\r\n$GPRMC,080001,A,3112.000,N,12124.000,E,,,070324,,,A*00")
        << later;

    Expected sensor = munich;
    sensor.gx = 0.12;
    sensor.gy = -0.5;
    sensor.gz = 1.25;
    sensor.hasGsensor = true;
    QTest::newRow("gsensor on the next line")
        << QByteArray(kRmc).append("\r\n$GSENSOR,X,0.12,Y,-0.5,Z,1.25;") << sensor;
    QTest::newRow("gsensor with double-space separators")
        << QByteArray(kRmc).append("\r\n$GSENSOR  X  0.12  Y  -0.5  Z  1.25*") << sensor;
    Expected resting = munich;
    resting.hasGsensor = true;
    QTest::newRow("gsensor of zeros is a reading")
        << QByteArray(kRmc).append("\r\n$GSENSOR,X,0,Y,0,Z,0;") << resting;
    QTest::newRow("gsensor cut short is ignored")
        << QByteArray(kRmc).append("\r\n$GSENSOR,X,0.12,Y,-0.5,Z") << munich;
    QTest::newRow("gsensor tag is case-sensitive")
        << QByteArray(kRmc).append("\r\n$gsensor,X,0.12,Y,-0.5,Z,1.25;") << munich;

    Expected southWest = munich;
    southWest.latitude = -31.835390;
    southWest.longitude = -121.509463;
    QTest::newRow("south and west are negative")
        << QByteArray("$GPRMC,123519.00,A,3150.1234,s,12130.5678,W,022.4,084.4,230394,003.1,W,A*6A")
        << southWest;

    Expected noHemisphere = munich;
    noHemisphere.latitude = 0;
    noHemisphere.longitude = 0;
    QTest::newRow("empty hemisphere gives zero")
        << QByteArray("$GPRMC,123519.00,A,4807.038,,01131.000,,022.4,084.4,230394,003.1,W,A*6A")
        << noHemisphere;

    // "nan" and "inf" convert to numbers in the toolkit; they must count as not numbers,
    // or one damaged fix poisons every trip figure.
    Expected notNumbers = munich;
    notNumbers.latitude = 0;
    notNumbers.speed = 0;
    QTest::newRow("nan and inf count as zero")
        << QByteArray("$GPRMC,123519.00,A,nan,N,01131.000,E,inf,084.4,230394,003.1,W,A*6A")
        << notNumbers;

    Expected blank{false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("empty fields") << QByteArray("$GPRMC,,,,,,,,,,,,") << blank;
    Expected junk = blank;
    junk.valid = true;
    QTest::newRow("fields that are not numbers count as zero")
        << QByteArray("$GPRMC,xx,A,yy,N,zz,E,ss,,dd,,,") << junk;

    const Expected line{true, 48.1173, -11.516667, 41.5, 0.1, 0.2, 1.0,
                        23,   3,       94,         12,   35,  19,  true};
    QTest::newRow("fix line") << QByteArray(
                                     "A,230394,123519,4807.038,N,01131.000,W,41.5,0.1,0.2,1.0;")
                              << line;
    QTest::newRow("fix line lower case")
        << QByteArray("a,230394,123519.75,4807.038,n,01131.000,w,41.5,0.1,0.2,1.0;") << line;
    QTest::newRow("fix line without semicolon")
        << QByteArray("A,230394,123519,4807.038,N,01131.000,W,41.5,0.1,0.2,1.0") << line;
    Expected lineSouth = line;
    lineSouth.latitude = -48.1173;
    QTest::newRow("fix line south")
        << QByteArray("A,230394,123519,4807.038,S,01131.000,W,41.5,0.1,0.2,1.0;") << lineSouth;
}

void tst_nmea::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(Expected, e);
    OxLocation fix;
    QCOMPARE(parseLocation(text.constData(), fix), 0);
    QCOMPARE(fix.valid, e.valid);
    QCOMPARE(QString::number(fix.latitude, 'f', 6), QString::number(e.latitude, 'f', 6));
    QCOMPARE(QString::number(fix.longitude, 'f', 6), QString::number(e.longitude, 'f', 6));
    QCOMPARE(QString::number(fix.speed, 'f', 6), QString::number(e.speed, 'f', 6));
    QCOMPARE(fix.gsensorX, e.gx);
    QCOMPARE(fix.gsensorY, e.gy);
    QCOMPARE(fix.gsensorZ, e.gz);
    QCOMPARE(fix.hasGsensor, e.hasGsensor);
    QCOMPARE(fix.day, e.day);
    QCOMPARE(fix.month, e.month);
    QCOMPARE(fix.year, e.year);
    QCOMPARE(fix.hour, e.hour);
    QCOMPARE(fix.minute, e.minute);
    QCOMPARE(fix.second, e.second);
}

void tst_nmea::rejected_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("rmc cut before the magnetic variation's direction")
        << QByteArray("$GPRMC,123519.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1");
    QTest::newRow("rmc tag alone") << QByteArray("$GPRMC");
    QTest::newRow("fix line void")
        << QByteArray("V,230394,123519,4807.038,N,01131.000,W,41.5,0.1,0.2,1.0;");
    QTest::newRow("fix line other status")
        << QByteArray("X,230394,123519,4807.038,N,01131.000,W,41.5,0.1,0.2,1.0;");
    QTest::newRow("fix line with twelve items")
        << QByteArray("A,230394,123519,4807.038,N,01131.000,W,41.5,0.1,0.2;");
    QTest::newRow("fix line with a word for a number")
        << QByteArray("A,230394,123519,north,N,01131.000,W,41.5,0.1,0.2,1.0;");
    QTest::newRow("other sentence") << QByteArray("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9");
}

void tst_nmea::rejected()
{
    QFETCH(QByteArray, text);
    OxLocation fix;
    QCOMPARE(parseLocation(text.constData(), fix), -1);
}

void tst_nmea::cueText_data()
{
    QTest::addColumn<QByteArray>("ass");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("event line") << QByteArray("0,0,Default,,0,0,0,,$GPRMC,1,A")
                                << QByteArray("$GPRMC,1,A");
    QTest::newRow("hard and soft breaks")
        << QByteArray("12,0,Default,,0,0,0,,a\\Nb\\nc") << QByteArray("a\r\nb\r\nc");
    QTest::newRow("commas in the text are kept")
        << QByteArray("0,0,Default,,0,0,0,,A,230394,1") << QByteArray("A,230394,1");
    QTest::newRow("too few fields, handed over whole")
        << QByteArray("0,0,x") << QByteArray("0,0,x");
}

void tst_nmea::cueText()
{
    QFETCH(QByteArray, ass);
    QFETCH(QByteArray, expected);
    QCOMPARE(subtitleCueText(ass.constData(), "ignored"), expected);
}

// The decoder's event line around a two-line cue and around a fix text line.
void tst_nmea::cueWithSensorLine()
{
    OxLocation fix;
    const QByteArray rmcCue =
        QByteArray("0,0,Default,,0,0,0,,").append(kRmc).append("\\N$GSENSOR,X,0.12,Y,-0.5,Z,1.25;");
    QCOMPARE(parseLocation(subtitleCueText(rmcCue.constData(), nullptr).constData(), fix), 0);
    QCOMPARE(fix.gsensorX, 0.12);
    QCOMPARE(fix.gsensorY, -0.5);
    QCOMPARE(fix.gsensorZ, 1.25);

    OxLocation line;
    const char *lineCue =
        "3,0,Default,,0,0,0,,A,230394,123519,4807.038,N,01131.000,W,41.5,0.1,0.2,1.0;";
    QCOMPARE(parseLocation(lineCue, line), -1); // the event fields get in the way
    QCOMPARE(parseLocation(subtitleCueText(lineCue, nullptr).constData(), line), 0);
    QCOMPARE(line.speed, 41.5);
    QCOMPARE(line.hour, 12);

    QCOMPARE(subtitleCueText(nullptr, "plain text"), QByteArray("plain text"));
    QVERIFY(subtitleCueText(nullptr, nullptr).isEmpty());
    QCOMPARE(parseLocation(nullptr, line), -1);
}

// A Qt program takes LC_NUMERIC from the environment; the parser must not.
void tst_nmea::numbersIgnoreTheLocale()
{
    const char *locales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"};
    const QByteArray saved = std::setlocale(LC_NUMERIC, nullptr);
    const char *used = nullptr;
    for (const char *l : locales) {
        if (std::setlocale(LC_NUMERIC, l)) {
            used = l;
            break;
        }
    }
    OxLocation fix;
    const int result =
        parseLocation("A,230394,123519,4807.038,N,01131.000,W,41.5,0.1,0.2,1.0;", fix);
    std::setlocale(LC_NUMERIC, saved.constData());
    if (!used)
        QSKIP("no other locale installed");
    QCOMPARE(result, 0);
    QCOMPARE(QString::number(fix.latitude, 'f', 6), QStringLiteral("48.117300"));
    QCOMPARE(fix.speed, 41.5);
}

void tst_nmea::equalityAndCopies()
{
    OxLocation a;
    OxLocation b;
    QVERIFY(parseLocation(kRmc, a) == 0);
    QVERIFY(parseLocation("$GPRMC,123519,V,0000.000,S,00000.000,W,1,2,230394,,,A", b) == 0);
    QVERIFY(a == b); // same date and time, different everything else
    b.second = 20;
    QVERIFY(a != b);
    b = a;
    QVERIFY(a == b);
    b.day = 24;
    QVERIFY(!(a == b));

    a.setObjectName(QStringLiteral("named"));
    const OxLocation copy(a);
    QVERIFY(copy.objectName().isEmpty());
    QCOMPARE(copy.parent(), nullptr);
    QCOMPARE(copy.latitude, a.latitude);
    QCOMPARE(copy.speed, a.speed);

    OxTrack track{a, b};
    OxTrack shared = track;
    shared[0].speed = 1;
    QCOMPARE(track[0].speed, a.speed); // value semantics through the implicitly shared vector
}

QTEST_APPLESS_MAIN(tst_nmea)
#include "tst_nmea.moc"
