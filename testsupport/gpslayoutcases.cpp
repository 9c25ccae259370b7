// A known sample of every layout, byte for byte, and the fix it decodes to.
#include "gpslayouts.h"

namespace {

const char kIndexed[] = "binary blocks through the gps index";
const char kScanned[] = "binary blocks found by scanning";

const char kHeader8000[] = "00 00 80 00 66 72 65 65 47 50 53 20 4c 00 00 00";

// Float32 record at 0x30.
QByteArray blockA(const char *letters = "41 4e 45 00 5d 9a a9 45")
{
    return gpsBlock(0x8000, {{0x00, kHeader8000},
                             {0x30, "10 00 00 00 2d 00 00 00 14 00 00 00 11 00 00 00"},
                             {0x40, "0c 00 00 00 1f 00 00 00"},
                             {0x48, letters},
                             {0x50, "ab 1e e5 44 ec 51 f0 40 b8 5e a5 43 00 00 00 00"}});
}

QByteArray blockAShifted()
{
    return gpsBlock(0x8000, {{0x00, kHeader8000},
                             {0x30, "10 00 00 00 2d 00 00 00 14 00 00 00 11 00 00 00"},
                             {0x40, "0c 00 00 00 1f 00 00 00"},
                             {0x48, "41 4e 57 00 e9 7e 90 43 48 76 17 45 0c 02 48 42"}});
}

// With accelerometer values -12, 256 and 10 (in 256ths of g) at 0x3C.
const char kRecordB[] = "05 00 00 00 2f 00 00 00 03 00 00 00 13 00 00 00"
                        "09 00 00 00 1b 00 00 00 41 4e 57 00 25 d1 99 45"
                        "f1 47 40 46 66 66 d2 41 85 eb 83 41 f4 ff ff ff"
                        "00 01 00 00 0a 00 00 00";
const char kHeader4000[] = "00 00 40 00 66 72 65 65 47 50 53 20 f0 03 00 00";

QByteArray blockB()
{
    return gpsBlock(0x4000, {{0x00, kHeader4000}, {0x10, kRecordB}});
}

// Firmware that writes 1 to 6 where the readings go.
QByteArray blockBPlaceholder()
{
    return gpsBlock(
        0x4000,
        {{0x00, kHeader4000}, {0x10, kRecordB}, {0x3C, "01 00 02 00 03 00 04 00 05 00 06 00"}});
}

QByteArray blockBExtended()
{
    // 48 bytes of text starting "MN:" after the header move the record by 0x30.
    return gpsBlock(0x4000, {{0x00, kHeader4000}, {0x10, "4d 4e 3a 31 32 33"}, {0x40, kRecordB}});
}

QByteArray blockC()
{
    QByteArray b = gpsBlock(0x8000, {{0x00, "00 00 80 00 66 72 65 65 47 50 53 20"},
                                     {0x10, "0d 00 00 00 16 00 00 00 1e 00 00 00 41 00 00 00"
                                            "2c b7 b4 1a 5a 71 b2 40 4e 00 00 00 00 00 00 00"
                                            "fb ae 08 fe 77 f6 89 40 45 00 00 00 00 00 00 00"
                                            "be 9f 1a 2f dd 84 36 40 5c 8f c2 f5 28 fc 68 40"
                                            "16 00 00 00 0c 00 00 00 0e 00 00 00 f2 fb ff ff"
                                            "42 00 00 00 02 00 00 00"}});
    const QByteArray rmc(
        " $GNRMC,132230.000,A,4721.35197,N,00830.80859,E,22.519,199.88,141222,,,A*75");
    b.replace(0x68, rmc.size(), rmc);
    return b;
}

QByteArray blockD()
{
    return gpsBlock(0x8000, {{0x00, "00 00 80 00 66 72 65 65 47 50 53 20 08 01 00 00"},
                             {0x30, "0c 00 00 00 1e 00 00 00 2d 00 00 00 41 00 00 00"
                                    "2c b7 b4 1a 5a 71 b2 40 4e 00 00 00 00 00 00 00"
                                    "fb ae 08 fe 77 f6 89 40 45 00 00 00 00 00 00 00"
                                    "be 9f 1a 2f dd 84 36 40 5c 8f c2 f5 28 fc 68 40"
                                    "18 00 00 00 03 00 00 00 0f 00 00 00 f4 ff ff ff"
                                    "d5 03 00 00 28 00 00 00"}});
}

QByteArray blockE()
{
    return gpsBlock(0x8000, {{0x00, "00 00 80 00 66 72 65 65 47 50 53 20 05 01 00 00"
                                    "01 03 aa aa f2 e1 f0 ee 54 54 98 9a 9b 92 9a 93"
                                    "98 9e 98 98 9e 93 98 92 a6 9f 9f 9c 9d ed fa 8a"
                                    "8a 8a aa aa aa aa aa a9 e4 9e 9a 9e 9c 9e 99 9f"
                                    "9a fd 9a 9a 9d 9a 9e 9a 99 9a 92 9a 9a 9a 9a 9a"
                                    "9a 9a 9d aa"}});
}

// The same with readings in hundredths of g after the speed.
QByteArray blockEWithReadings()
{
    QByteArray b = blockE();
    const QByteArray readings("-001+098+004");
    for (int i = 0; i < readings.size(); ++i)
        b[0x12 + 65 + i] = char(readings[i] ^ 0xAA);
    return b;
}

QByteArray blockF()
{
    return gpsBlock(0xA8, {{0x00, "00 00 00 a8 66 72 65 65 47 50 53 20 4c 00 00 00"
                                  "4c 49 47 4f 47 50 53 49 4e 46 4f 00 00 00 00 05"
                                  "0a 00 00 00 23 23 23 23 60 00 00 00 c1 20 20 20"
                                  "20 f0 12 10 12 24 e1 0e 10 13 2f 95 10 11 01 f2"
                                  "12 18 13 20 b4 1a 10 05 f6 6e 18 10 25 f8 0e 15"
                                  "10 23 bb 10 11 00 e7 64 18 10 2e f2 18 10 13 29"
                                  "97 14 13 02 f6 12 0c 11 20 4d 4a 49 07 78 48 58"
                                  "02 fd 0c 10 02 20 91 10 12 49 fc 1a 10 02 29 90"
                                  "18 11 4a fc 1a 10 02 20 10 24 10 20 00 00 00 00"}});
}

QByteArray blockG()
{
    QByteArray b = gpsBlock(0x8000, {{0x00, "00 00 80 00 66 72 65 65 47 50 53 20"},
                                     {0x30, "00 00 00 00 32 30 31 38 30 39 31 39 31 30 30 39"
                                            "35 39 00 00 00 00 00 00 00 01 00 00 00 00 00 00"}});
    const QByteArray text(
        " $GPRMC,080951.000,A,5207.9097,N,00505.5175,E,55.11,125.58,190918,,,A*59\r\n");
    b.replace(0x50, text.size(), text);
    return b;
}

QByteArray blockH()
{
    return gpsBlock(0x8000, {{0x00, kHeader8000},
                             {0x30, "24 53 02 79 d4 85 07 e2 0a 08 06 2a 01 d1 02 20"
                                    "14 98 ff ff 21 67 97 10"}});
}

QByteArray topLevelGpsBox()
{
    return gpsBlock(0x50, {{0x00, "00 00 00 50 47 50 53 20 01 00 00 00 01 00 00 00"
                                  "01 00 00 00 00 00 00 00 4e dc b5 5a 00 45 7a de 2d"}});
}

QByteArray nmeaBox()
{
    // The known sample, then a bare time stamp, and one glued after a checksum
    // whose sentence has a wrong checksum of its own.
    const QByteArray text =
        "[1710505845000]$GPRMC,123045.00,A,4721.35197,N,00830.80859,E,22.519,199.88,150324,,,"
        "A*5C\n"
        "[1710505845000]$GPGGA,123045.00,4721.35197,N,00830.80859,E,1,09,0.9,412.3,M,47.0,M,,*64"
        "[1710505846000]$GPRMC,123046.00,A,4721.36000,N,00830.81000,E,22.519,199.88,150324,,,"
        "A*00\n"
        "[1710505847000]\n";
    return gpsBox("free",
                  gpsBox("sttm", QByteArray::fromHex("0000018e4217dd20")) + gpsBox("gps ", text));
}

QByteArray klvSample()
{
    return QByteArray::fromHex("44 45 56 43 00 04 00 1c 53 54 52 4d 00 04 00 1a"
                               "47 50 53 46 4c 04 00 01 00 00 00 03 47 50 53 55"
                               "55 10 00 01 32 34 30 33 31 35 31 32 33 30 34 35"
                               "2e 35 30 30 47 50 53 50 53 02 00 01 00 96 00 00"
                               "53 43 41 4c 6c 04 00 05 00 98 96 80 00 98 96 80"
                               "00 00 03 e8 00 00 03 e8 00 00 00 64 47 50 53 35"
                               "6c 14 00 01 1c 39 ee 86 05 13 0d ad 00 06 4a b9"
                               "00 00 2d 41 00 00 04 87");
}

// The same fix as a "GPS9" sample, with the typical scales before it.
QByteArray klvGps9Sample()
{
    return QByteArray::fromHex("44 45 56 43 00 04 00 17 53 54 52 4d 00 04 00 15"
                               "53 43 41 4c 6c 04 00 09 00 98 96 80 00 98 96 80"
                               "00 00 03 e8 00 00 03 e8 00 00 00 64 00 00 00 01"
                               "00 00 03 e8 00 00 00 64 00 00 00 01 47 50 53 39"
                               "3f 20 00 01 1c 39 ee 86 05 13 0d ad 00 06 4a b9"
                               "00 00 2d 41 00 00 04 87 00 00 22 88 02 af 56 fc"
                               "00 96 00 03");
}

// One KLV item: key, type, structure size, repeat, payload padded to four bytes.
QByteArray klvItem(const char *key, char type, int structSize, const QByteArray &payload)
{
    const int repeat = payload.size() / structSize;
    QByteArray item = QByteArray(key, 4) + type + char(structSize) + char(repeat >> 8) +
                      char(repeat & 0xFF) + payload;
    while (item.size() % 4)
        item += '\0';
    return item;
}

// A payload of a camera that writes both streams for the same measurements: "GPS5" at a
// "GPSU" time 1.4 s behind, then "GPS9" with three fixes from 12:30:45.5 on.
QByteArray klvGps5AndGps9Sample()
{
    QByteArray scale5, gps5, scale9, gps9;
    for (quint32 v : {10000000u, 10000000u, 1000u, 1000u, 100u})
        scale5 += gpsBe32(v);
    for (quint32 v : {10000000u, 10000000u, 1000u, 1000u, 100u, 1u, 1000u, 100u, 1u})
        scale9 += gpsBe32(v);
    const QByteArray position = QByteArray::fromHex("1c39ee86 05130dad 00064ab9 00002d41 00000487");
    for (int i = 0; i < 3; ++i) {
        gps5 += position;
        gps9 += position + gpsBe32(8840) + gpsBe32(45045500 + 1000 * i) +
                QByteArray::fromHex("0096 0003");
    }
    const QByteArray stream = klvItem("GPSU", 'U', 16, "240315123044.100") +
                              klvItem("SCAL", 'l', 4, scale5) + klvItem("GPS5", 'l', 20, gps5) +
                              klvItem("SCAL", 'l', 4, scale9) + klvItem("GPS9", '?', 32, gps9);
    return klvItem("DEVC", '\0', 4, klvItem("STRM", '\0', 4, stream));
}

QByteArray cammSample()
{
    // An acceleration packet first, to step over.
    return QByteArray::fromHex("00 00 03 00 00 00 00 00 00 00 00 00 cd cc 1c 41"
                               "00 00 06 00 00 00 40 7d c0 c7 d4 41 03 00 00 00"
                               "3b 60 0d 06 8d ad 47 40 72 87 4d 64 e6 06 21 40"
                               "66 26 ce 43 00 00 60 40 00 00 a0 40 00 00 80 c0"
                               "66 66 2e 41 00 00 00 00 00 00 00 3f");
}

GpsLayoutCase withGsensor(GpsLayoutCase c, double x, double y, double z)
{
    c.hasGsensor = true;
    c.gsensor[0] = x;
    c.gsensor[1] = y;
    c.gsensor[2] = z;
    return c;
}

GpsLayoutCase blocks(const char *name, QVector<QByteArray> list, bool index, const char *date,
                     double lat, double lon, double speed)
{
    GpsLayoutCase c;
    c.name = QString::fromLatin1(name);
    c.recipe.blocks = std::move(list);
    c.recipe.index = index;
    c.source = QString::fromLatin1(index ? kIndexed : kScanned);
    c.date = QString::fromLatin1(date);
    c.latitude = lat;
    c.longitude = lon;
    c.speed = speed;
    return c;
}

} // namespace

QVector<GpsLayoutCase> gpsLayoutCases()
{
    QVector<GpsLayoutCase> cases;
    const char *dateA = "2017-12-31 16:45:20";
    cases << blocks("float32 at 0x30", {blockA()}, true, dateA, 54.454924, 18.549306, 13.91);
    // A block written before the first fix, and one with a void status, are skipped.
    cases << blocks(
        "float32 at 0x30 after void blocks",
        {gpsBlock(0x8000, {{0, kHeader8000}}), blockA("56 4e 45 00 5d 9a a9 45"), blockA()}, true,
        dateA, 54.454924, 18.549306, 13.91);
    cases << blocks("float32 at 0x30 scanned", {blockA(), blockA()}, false, dateA, 54.454924,
                    18.549306, 13.91);
    cases << blocks("float32 at 0x30 shifted", {blockAShifted()}, true, dateA, 33.669774,
                    -112.096920, 92.60);
    const GpsLayoutCase b = blocks("float32 at 0x10", {blockB()}, true, "2019-09-27 05:47:03",
                                   49.369051, -123.099756, 48.71);
    cases << withGsensor(b, -0.046875, 1.0, 0.0390625);
    GpsLayoutCase placeholder = b;
    placeholder.name = QStringLiteral("float32 at 0x10 placeholder readings");
    placeholder.recipe.blocks = {blockBPlaceholder()};
    cases << placeholder;
    cases << withGsensor(blocks("float32 at 0x10 extended", {blockBExtended()}, false,
                                "2019-09-27 05:47:03", 49.369051, -123.099756, 48.71),
                         -0.046875, 1.0, 0.0390625);
    // Nothing but the header pattern finds a block that is off the 0x8000 grid.
    GpsLayoutCase offGrid = blocks("float32 at 0x10 off the grid", {blockB(), blockB()}, false,
                                   "2019-09-27 05:47:03", 49.369051, -123.099756, 48.71);
    offGrid.recipe.blockShift = 0x1235;
    cases << withGsensor(offGrid, -0.046875, 1.0, 0.0390625);
    cases << withGsensor(blocks("float64 at 0x10", {blockC()}, false, "2022-12-14 13:22:30",
                                47.355866, 8.5134765, 41.71),
                         -1.038, 0.066, 0.002);
    cases << withGsensor(blocks("float64 at 0x30", {blockD()}, true, "2024-03-15 12:30:45",
                                47.355866, 8.5134765, 41.71),
                         -0.012, 0.981, 0.040);
    const GpsLayoutCase e =
        blocks("xor text", {blockE()}, true, "2018-09-24 22:49:28", 40.773917, -7.067180, 7.00);
    cases << e;
    GpsLayoutCase eReadings = withGsensor(e, -0.01, 0.98, 0.04);
    eReadings.name = QStringLiteral("xor text with readings");
    eReadings.recipe.blocks = {blockEWithReadings()};
    cases << eReadings;
    cases << withGsensor(blocks("encrypted text", {blockF()}, true, "2024-03-15 12:30:45",
                                47.355866, 8.513477, 41.72),
                         -0.012, 0.981, 0.040);
    cases << withGsensor(blocks("nmea in block", {blockG()}, false, "2018-09-19 08:09:51",
                                52.131828, 5.091958, 102.06),
                         0, 1.0, 0);
    cases << blocks("big-endian records", {blockH()}, true, "2018-10-08 06:42:46", 53.8220799,
                    -1.4588009, 22.79);

    GpsLayoutCase nmea;
    nmea.name = QStringLiteral("timestamped nmea box");
    nmea.recipe.topLevelBoxes = {nmeaBox()};
    nmea.source = QStringLiteral("timestamped nmea box");
    nmea.fixes = 2;
    nmea.date = QStringLiteral("2024-03-15 12:30:45");
    nmea.latitude = 47.355866;
    nmea.longitude = 8.5134765;
    nmea.speed = 41.71;
    cases << nmea;

    // No date of its own: one second after the recording's creation time.
    GpsLayoutCase top;
    top.name = QStringLiteral("top-level GPS box");
    top.recipe.topLevelBoxes = {topLevelGpsBox()};
    top.recipe.creationTime = kGpsLayoutCreation;
    top.source = QStringLiteral("top-level GPS box");
    top.date = QStringLiteral("2024-03-15 12:30:45");
    top.latitude = 59.746600;
    top.longitude = 30.101233;
    top.speed = 0;
    cases << top;

    GpsLayoutCase klv;
    klv.name = QStringLiteral("klv track");
    klv.recipe.track.format = "gpmd";
    klv.recipe.track.samples = {klvSample()};
    klv.source = QStringLiteral("klv metadata track");
    klv.date = QStringLiteral("2024-03-15 12:30:45");
    klv.latitude = 47.3558662;
    klv.longitude = 8.5134765;
    klv.speed = 41.71;
    cases << klv;

    GpsLayoutCase camm;
    camm.name = QStringLiteral("camm track");
    camm.recipe.track.format = "camm";
    camm.recipe.track.samples = {cammSample()};
    camm.recipe.creationTime = kGpsLayoutCreation;
    camm.source = QStringLiteral("camm metadata track");
    camm.date = QStringLiteral("2024-03-15 12:30:45");
    camm.latitude = 47.3558662;
    camm.longitude = 8.5134765;
    camm.speed = 41.80;
    cases << withGsensor(camm, 0, 0, 9.8f / 9.80665);
    GpsLayoutCase gps9 = klv;
    gps9.name = QStringLiteral("klv track gps9");
    gps9.recipe.track.samples = {klvGps9Sample()};
    cases << gps9;
    GpsLayoutCase both = klv;
    both.name = QStringLiteral("klv track gps5 and gps9");
    both.recipe.track.samples = {klvGps5AndGps9Sample()};
    both.recipe.track.sampleDuration = 3000;
    both.fixes = 3;
    cases << both;

    // A position without a time: the sample's time after the creation time.
    GpsLayoutCase position = camm;
    position.hasGsensor = false;
    position.name = QStringLiteral("camm track position");
    position.recipe.track.samples = {QByteArray::fromHex(
        "00 00 05 00 3b 60 0d 06 8d ad 47 40 72 87 4d 64 e6 06 21 40 cd cc cc cc cc c4 79 40")};
    position.date = QStringLiteral("2024-03-15 12:30:44");
    position.speed = 0;
    cases << position;
    return cases;
}
