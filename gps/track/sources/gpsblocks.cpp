#include "gpsblocks.h"
#include "nmea.h"

#include <QList>

#include <cmath>

namespace {

const char kTextMagic[] = "LIGOGPSINFO"; // with its NUL: 12 bytes

bool isNorthSouth(uchar c)
{
    return c == 'N' || c == 'S';
}

bool isEastWest(uchar c)
{
    return c == 'E' || c == 'W';
}

bool digits(const GpsBytes &b, qint64 offset, int count)
{
    if (!b.has(offset, count))
        return false;
    for (int i = 0; i < count; ++i) {
        if (b.u8(offset + i) < '0' || b.u8(offset + i) > '9')
            return false;
    }
    return true;
}

qint64 number(const uchar *text, int count)
{
    qint64 v = 0;
    for (int i = 0; i < count; ++i)
        v = v * 10 + (text[i] - '0');
    return v;
}

bool numberAt(const QByteArray &text, int offset, int count, qint64 &value)
{
    if (offset < 0 || offset + count > text.size())
        return false;
    const auto *p = reinterpret_cast<const uchar *>(text.constData()) + offset;
    for (int i = 0; i < count; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
    }
    value = number(p, count);
    return true;
}

void setDateTime(GpsRecord &r, qint64 year, qint64 month, qint64 day, qint64 hour, qint64 minute,
                 qint64 second)
{
    // Out-of-range values stay out of range (and are dropped later) without
    // overflowing an int on the way.
    auto clamp = [](qint64 v) { return int(qBound<qint64>(-1, v, 10000)); };
    r.year = fullYear(year);
    r.month = clamp(month);
    r.day = clamp(day);
    r.hour = clamp(hour);
    r.minute = clamp(minute);
    r.second = clamp(second);
}

// Three little-endian int32 accelerometer values at offset, perG of them to one g.
// All three zero is a layout's empty field, not a reading.
void readGsensor(const GpsBytes &b, qint64 offset, double perG, GpsRecord &r)
{
    if (!b.has(offset, 12))
        return;
    const qint32 x = b.le<qint32>(offset);
    const qint32 y = b.le<qint32>(offset + 4);
    const qint32 z = b.le<qint32>(offset + 8);
    if (x != 0 || y != 0 || z != 0)
        r.setGsensor(x / perG, y / perG, z / perG);
}

// Layouts A and B: uint32 time and date, status and hemisphere letters, float32
// DDMM coordinates and knots, all little-endian, from base.
void decodeFloat32Record(const GpsBytes &b, qint64 base, GpsRecord &r)
{
    setDateTime(r, b.le<quint32>(base + 0x0C), b.le<quint32>(base + 0x10),
                b.le<quint32>(base + 0x14), b.le<quint32>(base), b.le<quint32>(base + 4),
                b.le<quint32>(base + 8));
    r.south = b.u8(base + 0x19) == 'S';
    r.west = b.u8(base + 0x1A) == 'W';
    r.latitude = b.leFloat(base + 0x1C);
    r.longitude = b.leFloat(base + 0x20);
    r.speed = double(b.leFloat(base + 0x24)) * 1.852;
}

bool recordLetters(const GpsBytes &b, qint64 at)
{
    return b.u8(at) == 'A' && isNorthSouth(b.u8(at + 1)) && isEastWest(b.u8(at + 2)) &&
           b.u8(at + 3) == 0;
}

bool detectB(const GpsBytes &b, qint64 at)
{
    return b.u8(at) == 0 && b.u8(at + 1) == 0 && b.u8(at + 2) == 0 && b.has(at, 7) &&
           recordLetters(b, at + 3);
}

// --- the layouts, in the order their tests must run ---

bool detectXor(const GpsBytes &b)
{
    return b.equals(0x12, "\xAA\xAA\xF2\xE1\xF0\xEE\x54\x54", 8);
}

void decodeXor(const GpsBytes &b, std::vector<GpsRecord> &out, int &skipped)
{
    GpsRecord r;
    if (decodeXorText(b, 0x12, r))
        out.push_back(r);
    else
        ++skipped;
}

bool detectNmeaBlock(const GpsBytes &b)
{
    return digits(b, 0x34, 14);
}

void decodeNmeaBlock(const GpsBytes &b, std::vector<GpsRecord> &out, int &skipped)
{
    qint64 end = 0x50;
    while (end < b.size() && end < 0x50 + 1024 && b.u8(end) != 0)
        ++end;
    if (end <= 0x50) {
        ++skipped;
        return;
    }
    const QByteArray text(reinterpret_cast<const char *>(b.at(0x50)), int(end - 0x50));
    OxLocation fix;
    if (parseLocation(text.constData(), fix) != 0 || !fix.valid) {
        ++skipped;
        return;
    }
    GpsRecord r = recordFromFix(fix);
    readGsensor(b, 0x44, 256, r);
    out.push_back(r);
}

bool detectB0(const GpsBytes &b)
{
    return detectB(b, 0x25) || detectB(b, 0x55);
}

void decodeB(const GpsBytes &b, std::vector<GpsRecord> &out, int &)
{
    const bool extended = !detectB(b, 0x25);
    const qint64 base = extended ? 0x40 : 0x10;
    GpsRecord r;
    r.coordinates = GpsRecord::Coordinates::Ddmm;
    decodeFloat32Record(b, base, r);
    // The extended form writes UTC with a two-digit year and the camera's clock with a
    // four-digit one.
    r.localClock = extended && b.le<quint32>(base + 0x0C) >= 100;
    // Some firmware fills the field with 1 to 6 as int16 instead of readings.
    static const uchar kPlaceholder[12] = {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0};
    const bool placeholder =
        b.has(base + 0x2C, 12) && std::memcmp(b.at(base + 0x2C), kPlaceholder, 12) == 0;
    if (!placeholder)
        readGsensor(b, base + 0x2C, 256, r);
    out.push_back(r);
}

qint64 textMagicAt(const GpsBytes &b)
{
    for (qint64 p : {0x10, 0x30, 0x50}) {
        if (b.equals(p, kTextMagic, 12) && b.size() >= p + 0x84)
            return p;
    }
    return -1;
}

bool detectText(const GpsBytes &b)
{
    return textMagicAt(b) >= 0;
}

void decodeText(const GpsBytes &b, std::vector<GpsRecord> &out, int &skipped)
{
    decodeTextRecords(b, textMagicAt(b), out, skipped);
}

// Layouts C and D: uint32 time, status, float64 DDMM coordinates and knots, date
// after them, little-endian, from base.
void decodeFloat64Record(const GpsBytes &b, qint64 base, GpsRecord &r)
{
    setDateTime(r, b.le<quint32>(base + 0x40), b.le<quint32>(base + 0x44),
                b.le<quint32>(base + 0x48), b.le<quint32>(base), b.le<quint32>(base + 4),
                b.le<quint32>(base + 8));
    r.coordinates = GpsRecord::Coordinates::Ddmm;
    r.latitude = b.leDouble(base + 0x10);
    r.south = b.u8(base + 0x18) == 'S';
    r.longitude = b.leDouble(base + 0x20);
    r.west = b.u8(base + 0x28) == 'W';
    r.speed = b.leDouble(base + 0x30) * 1.852;
}

bool detectD(const GpsBytes &b)
{
    return b.size() >= 0x88 && b.u8(0x3C) == 'A' && b.u8(0x3D) == 0 && isNorthSouth(b.u8(0x48)) &&
           b.u8(0x49) == 0 && isEastWest(b.u8(0x58)) && b.u8(0x59) == 0;
}

void decodeD(const GpsBytes &b, std::vector<GpsRecord> &out, int &)
{
    GpsRecord r;
    decodeFloat64Record(b, 0x30, r);
    readGsensor(b, 0x7C, 1000, r);
    out.push_back(r);
}

bool detectC(const GpsBytes &b)
{
    return b.u8(0x1C) == 'A' && isNorthSouth(b.u8(0x28)) && isEastWest(b.u8(0x38));
}

void decodeC(const GpsBytes &b, std::vector<GpsRecord> &out, int &skipped)
{
    if (!b.has(0x10, 0x4C)) {
        ++skipped;
        return;
    }
    GpsRecord r;
    decodeFloat64Record(b, 0x10, r);
    // Its scale is the one of the same record at 0x30: thousandths of g give the 1 g of
    // gravity that the known samples show.
    readGsensor(b, 0x5C, 1000, r);
    out.push_back(r);
}

bool detectA(const GpsBytes &b)
{
    return recordLetters(b, 0x48);
}

void decodeA(const GpsBytes &b, std::vector<GpsRecord> &out, int &skipped)
{
    if (!b.has(0x30, 0x28)) {
        ++skipped;
        return;
    }
    GpsRecord r;
    r.coordinates = GpsRecord::Coordinates::DdmmOrShifted;
    decodeFloat32Record(b, 0x30, r);
    out.push_back(r);
}

// Layout H: 32-byte big-endian records from 0x30, as long as they pass the checks.
bool bigEndianRecord(const GpsBytes &b, qint64 at, GpsRecord *r)
{
    if (!b.has(at, 0x18))
        return false;
    const int year = b.be<quint16>(at + 6);
    const int month = b.u8(at + 8);
    const int day = b.u8(at + 9);
    const int hour = b.u8(at + 10);
    const int minute = b.u8(at + 11);
    const int tenths = b.be<quint16>(at + 12);
    if (year < 2000 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        tenths >= 600)
        return false;
    if (r) {
        setDateTime(*r, year, month, day, hour, minute, tenths / 10);
        r->latitude = b.be<qint32>(at + 0x0F) / 1e7;
        r->longitude = b.be<qint32>(at + 0x13) / 1e7;
        r->speed = b.be<quint16>(at + 2) * 0.036;
    }
    return true;
}

bool detectH(const GpsBytes &b)
{
    return bigEndianRecord(b, 0x30, nullptr);
}

void decodeH(const GpsBytes &b, std::vector<GpsRecord> &out, int &)
{
    for (qint64 at = 0x30;; at += 0x20) {
        GpsRecord r;
        if (!bigEndianRecord(b, at, &r))
            break;
        out.push_back(r);
    }
}

struct BlockLayout
{
    const char *name;
    bool (*detect)(const GpsBytes &);
    void (*decode)(const GpsBytes &, std::vector<GpsRecord> &, int &);
};

// Several patterns overlap: the first match decides.
const BlockLayout kLayouts[] = {
    {"xor text", detectXor, decodeXor},     {"nmea block", detectNmeaBlock, decodeNmeaBlock},
    {"float32 at 0x10", detectB0, decodeB}, {"encrypted text", detectText, decodeText},
    {"float64 at 0x30", detectD, decodeD},  {"float64 at 0x10", detectC, decodeC},
    {"float32 at 0x30", detectA, decodeA},  {"big-endian records", detectH, decodeH},
};

double signedValue(const QByteArray &field, bool negative)
{
    bool ok = false;
    double v = field.toDouble(&ok);
    if (!ok)
        return std::nan("");
    return negative ? -std::fabs(v) : v;
}

// "YYYY/MM/DD hh:mm:ss N:<lat> E:<lon> <speed> km/h ..."
bool parseTextRecord(const QByteArray &text, bool fuzzed, double factor, GpsRecord &r)
{
    const QList<QByteArray> parts = text.simplified().split(' ');
    if (parts.size() < 5)
        return false;
    const QByteArray &date = parts[0];
    const QByteArray &time = parts[1];
    qint64 y, mo, d, h, mi, s;
    if (date.size() != 10 || time.size() != 8 || !numberAt(date, 0, 4, y) ||
        !numberAt(date, 5, 2, mo) || !numberAt(date, 8, 2, d) || !numberAt(time, 0, 2, h) ||
        !numberAt(time, 3, 2, mi) || !numberAt(time, 6, 2, s))
        return false;
    setDateTime(r, y, mo, d, h, mi, s);
    const QByteArray &lat = parts[2];
    const QByteArray &lon = parts[3];
    if (lat.size() < 3 || lon.size() < 3 || lat[1] != ':' || lon[1] != ':')
        return false;
    const bool south = lat[0] == 'S' || lat[2] == '-';
    const bool west = lon[0] == 'W' || lon[2] == '-';
    double latitude = std::fabs(signedValue(lat.mid(2), false));
    double longitude = std::fabs(signedValue(lon.mid(2), false));
    double speed = signedValue(parts[4], false);
    if (!std::isfinite(latitude) || !std::isfinite(longitude) || !std::isfinite(speed))
        return false;

    const int point = lat.indexOf('.');
    const int integerDigits = (point < 0 ? lat.size() : point) - 2 - (lat[2] == '-' ? 1 : 0);
    if (integerDigits >= 3) {
        latitude = ddmmToDegrees(latitude);
        longitude = ddmmToDegrees(longitude);
    } else {
        speed *= fuzzed ? 1.85407333 : 1.852;
        if (fuzzed) {
            // The writer swapped the parts below ten degrees and shrank them.
            const double lat10 = std::trunc(latitude / 10) * 10;
            const double lon10 = std::trunc(longitude / 10) * 10;
            const double trueLatitude = lat10 + (longitude - lon10) * factor;
            const double trueLongitude = lon10 + (latitude - lat10) * factor;
            latitude = trueLatitude;
            longitude = trueLongitude;
        }
    }
    if (latitude > 90 || longitude > 180)
        return false;
    r.latitude = south ? -latitude : latitude;
    r.longitude = west ? -longitude : longitude;
    r.speed = speed;

    // "x:<ax> y:<ay> z:<az>" after the speed, in g.
    double axis[3] = {};
    int found = 0;
    for (int i = 5; i < parts.size(); ++i) {
        const QByteArray &part = parts[i];
        const int k = part.size() > 2 && part[1] == ':' ? QByteArray("xyz").indexOf(part[0]) : -1;
        bool ok = false;
        const double v = k >= 0 ? part.mid(2).toDouble(&ok) : 0;
        if (ok && std::isfinite(v) && !(found & (1 << k))) {
            axis[k] = v;
            found |= 1 << k;
        }
    }
    if (found == 7)
        r.setGsensor(axis[0], axis[1], axis[2]);
    return true;
}

} // namespace

bool isGpsBlockHeader(const uchar *bytes, qint64 available, quint32 *size)
{
    if (available < 12 || std::memcmp(bytes + 4, "freeGPS ", 8) != 0)
        return false;
    if (size)
        *size = qFromBigEndian<quint32>(bytes);
    return true;
}

const char *decodeGpsBlock(const QByteArray &block, std::vector<GpsRecord> &records, int &skipped)
{
    const GpsBytes b(block);
    if (b.size() < kMinGpsBlock) {
        ++skipped;
        return nullptr;
    }
    for (const BlockLayout &layout : kLayouts) {
        if (layout.detect(b)) {
            layout.decode(b, records, skipped);
            return layout.name;
        }
    }
    ++skipped; // no layout, or a block written before the first fix
    return nullptr;
}

bool decodeXorText(const GpsBytes &bytes, qint64 start, GpsRecord &r)
{
    if (!bytes.has(start, 0))
        return false;
    const qint64 n = qMin<qint64>(0x101, bytes.size() - start);
    QByteArray text(int(n), '\0');
    for (qint64 i = 0; i < n; ++i)
        text[int(i)] = char(bytes.u8(start + i) ^ 0xAA);

    qint64 y, mo, d, h, mi, s, lat, lon, speed;
    if (!numberAt(text, 8, 4, y) || !numberAt(text, 12, 2, mo) || !numberAt(text, 14, 2, d) ||
        !numberAt(text, 16, 2, h) || !numberAt(text, 18, 2, mi) || !numberAt(text, 20, 2, s))
        return false;
    if (text.size() < 65 || !isNorthSouth(uchar(text[38])) || !isEastWest(uchar(text[47])) ||
        !numberAt(text, 39, 8, lat) || !numberAt(text, 48, 9, lon))
        return false;
    // Speed: eight digits, or in the second form a sign, four unknown digits and three
    // speed digits.
    if (text[57] == '+' || text[57] == '-') {
        if (!numberAt(text, 62, 3, speed))
            return false;
    } else if (!numberAt(text, 57, 8, speed)) {
        return false;
    }
    setDateTime(r, y, mo, d, h, mi, s);
    r.coordinates = GpsRecord::Coordinates::Ddmm;
    r.latitude = lat / 10000.0;
    r.longitude = lon / 10000.0;
    r.south = text[38] == 'S';
    r.west = text[47] == 'W';
    r.speed = double(speed);

    // An optional "±ddd±ddd±ddd" in hundredths of g, after the speed or further on.
    for (int at : {65, 173}) {
        qint64 v[3];
        bool ok = true;
        for (int i = 0; i < 3 && ok; ++i) {
            const int sign = at + 4 * i;
            ok = sign < text.size() && (text[sign] == '+' || text[sign] == '-') &&
                 numberAt(text, sign + 1, 3, v[i]);
            if (ok && text[sign] == '-')
                v[i] = -v[i];
        }
        if (ok) {
            r.setGsensor(v[0] / 100.0, v[1] / 100.0, v[2] / 100.0);
            break;
        }
    }
    return true;
}

std::optional<QByteArray> decryptTextRecord(const uchar *d, qint64 n)
{
    QByteArray out;
    out.reserve(int(n * 2));
    qint64 i = 0;
    auto put = [&out](int c) { out.append(char(c & 0xFF)); };
    while (i < n) {
        const int b = d[i++];
        const int kind = b & 0xE0;
        const qint64 need = kind == 0x00 ? 1 : (kind == 0xC0 || kind == 0xE0) ? 4 : 3;
        if (kind == 0x20 || i + need > n)
            return std::nullopt;
        const uchar *x = d + i;
        i += need;
        switch (kind) {
        case 0xC0:
        case 0xE0:
            put((x[0] | (b & 0x01)) ^ 0x20);
            put((x[1] | (b & 0x02)) ^ 0x20);
            put((x[2] | (b & 0x0C)) ^ 0x20);
            put((x[3] ^ 0x20) | (b & 0x30));
            break;
        case 0x40:
            put(0x20);
            put((x[0] | (b & 0x01)) ^ 0x20);
            put((x[1] | (b & 0x06)) ^ 0x20);
            put((x[2] | (b & 0x18)) ^ 0x20);
            break;
        case 0x60:
            put((x[0] | (b & 0x03)) ^ 0x20);
            put(0x20);
            put((x[1] | (b & 0x04)) ^ 0x20);
            put((x[2] | (b & 0x18)) ^ 0x20);
            break;
        case 0x80:
            put((x[0] | (b & 0x03)) ^ 0x20);
            put((x[1] | (b & 0x0C)) ^ 0x20);
            put(0x20);
            put((x[2] | (b & 0x10)) ^ 0x20);
            break;
        case 0xA0:
            put((x[0] | (b & 0x01)) ^ 0x20);
            put((x[1] | (b & 0x06)) ^ 0x20);
            put((x[2] | (b & 0x18)) ^ 0x20);
            put(0x20);
            break;
        default: // 0x00
            put(x[0] | (b & 0x13));
            break;
        }
    }
    return out;
}

void decodeTextRecords(const GpsBytes &b, qint64 p, std::vector<GpsRecord> &records, int &skipped)
{
    if (p < 0 || !b.equals(p, kTextMagic, 12) || !b.has(p + 0x0C, 8)) {
        ++skipped;
        return;
    }
    const quint32 flag = b.be<quint32>(p + 0x0C);
    const bool fuzzed = flag != 1 && flag != 0x14;
    const bool smallFactor =
        p == 0x10 && b.equals(0x0C, "\xF0\x03\x00\x00", 4) && b.equals(0x20, "\x00\x00\x00\x00", 4);
    const double factor = smallFactor ? 1.15368 : 1.524855137;
    for (qint64 at = p + 0x14; b.has(at, 0x84); at += 0x84) {
        if (!b.equals(at, "####", 4))
            continue; // zero filler
        const quint32 n = b.le<quint32>(at + 4);
        if (n < 4 || n > 0x7C) {
            ++skipped;
            continue;
        }
        const std::optional<QByteArray> plain = decryptTextRecord(b.at(at + 8), n);
        GpsRecord r;
        if (!plain || plain->size() < 4 || !parseTextRecord(plain->mid(4), fuzzed, factor, r)) {
            ++skipped;
            continue;
        }
        records.push_back(r);
    }
}
