#include "nmea.h"

#include <QStringList>

#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

// The integer part of a parsed number as the fields use it; out-of-range values
// and NaN are clamped instead of being cast (which would be undefined).
int wholePart(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= double(INT_MAX))
        return INT_MAX;
    if (v <= double(INT_MIN))
        return INT_MIN;
    return int(v);
}

// ddmm.mmmm (or dddmm.mmmm) to decimal degrees.
double degreesMinutes(double v)
{
    const double d = std::trunc(std::trunc(v) / 100.0);
    return d + (v - 100.0 * d) / 60.0;
}

// A minimal, locale-independent stand-in for the scanf conversions of the fix
// text line: sscanf's "%lf" follows LC_NUMERIC, which a Qt application takes
// from the environment, so a German desktop would read "4807.038" as 4807.
class LineScanner
{
public:
    explicit LineScanner(const char *text) : p(text) {}

    bool literal(char c)
    {
        if (*p != c)
            return false;
        ++p;
        return true;
    }

    bool character(char &out)
    {
        if (*p == '\0')
            return false;
        out = *p++;
        return true;
    }

    // "%02d": leading white space skipped, then at most two characters
    // (a sign counts) of which at least one digit.
    bool twoDigits(int &out)
    {
        skipSpace();
        const char *start = p;
        int width = 2;
        bool negative = false;
        if (*p == '+' || *p == '-') {
            negative = *p == '-';
            ++p;
            --width;
        }
        int value = 0;
        int digits = 0;
        while (width > 0 && std::isdigit(static_cast<unsigned char>(*p))) {
            value = value * 10 + (*p - '0');
            ++p;
            --width;
            ++digits;
        }
        if (digits == 0) {
            p = start;
            return false;
        }
        out = negative ? -value : value;
        return true;
    }

    // "%lf" for decimal numbers: [sign] digits [. digits] [e [sign] digits].
    bool number(double &out)
    {
        skipSpace();
        const char *start = p;
        const char *q = p;
        if (*q == '+' || *q == '-')
            ++q;
        int digits = 0;
        while (std::isdigit(static_cast<unsigned char>(*q))) {
            ++q;
            ++digits;
        }
        if (*q == '.') {
            ++q;
            while (std::isdigit(static_cast<unsigned char>(*q))) {
                ++q;
                ++digits;
            }
        }
        if (digits == 0)
            return false;
        if (*q == 'e' || *q == 'E') {
            const char *e = q + 1;
            if (*e == '+' || *e == '-')
                ++e;
            if (std::isdigit(static_cast<unsigned char>(*e))) {
                while (std::isdigit(static_cast<unsigned char>(*e)))
                    ++e;
                q = e;
            }
        }
        bool ok = false;
        out = QByteArray(start, int(q - start)).toDouble(&ok);
        p = q;
        return ok;
    }

private:
    void skipSpace()
    {
        while (std::isspace(static_cast<unsigned char>(*p)))
            ++p;
    }

    const char *p;
};

// "%c,%02d%02d%02d,%lf,%lf,%c,%lf,%c,%lf,%lf,%lf,%lf;" — returns how many of the
// 13 items converted, as sscanf would.
struct FixLine
{
    char status = 0;
    int day = 0, month = 0, year = 0;
    double time = 0, latitude = 0;
    char northSouth = 0;
    double longitude = 0;
    char eastWest = 0;
    double speed = 0, x = 0, y = 0, z = 0;
};

int scanFixLine(const char *text, FixLine &f)
{
    LineScanner s(text);
    int n = 0;
    if (!s.character(f.status))
        return n;
    ++n;
    if (!s.literal(',') || !s.twoDigits(f.day))
        return n;
    ++n;
    if (!s.twoDigits(f.month))
        return n;
    ++n;
    if (!s.twoDigits(f.year))
        return n;
    ++n;
    if (!s.literal(',') || !s.number(f.time))
        return n;
    ++n;
    if (!s.literal(',') || !s.number(f.latitude))
        return n;
    ++n;
    if (!s.literal(',') || !s.character(f.northSouth))
        return n;
    ++n;
    if (!s.literal(',') || !s.number(f.longitude))
        return n;
    ++n;
    if (!s.literal(',') || !s.character(f.eastWest))
        return n;
    ++n;
    double *tail[] = {&f.speed, &f.x, &f.y, &f.z};
    for (double *v : tail) {
        if (!s.literal(',') || !s.number(*v))
            return n;
        ++n;
    }
    return n;
}

int parseFixLine(const char *text, OxLocation &fix)
{
    FixLine f;
    if (scanFixLine(text, f) != 13)
        return -1;
    fix.valid = f.status == 'A' || f.status == 'a';
    fix.day = f.day;
    fix.month = f.month;
    fix.year = f.year;
    const int t = wholePart(f.time);
    fix.hour = t / 10000;
    fix.minute = (t / 100) % 100;
    fix.second = t % 100;
    if (!fix.valid)
        return -1;
    fix.latitude = degreesMinutes(f.latitude);
    if (f.northSouth == 'S' || f.northSouth == 's')
        fix.latitude = -fix.latitude;
    fix.longitude = degreesMinutes(f.longitude);
    if (f.eastWest == 'W' || f.eastWest == 'w')
        fix.longitude = -fix.longitude;
    fix.speed = f.speed;
    fix.gsensorX = f.x;
    fix.gsensorY = f.y;
    fix.gsensorZ = f.z;
    fix.hasGsensor = true;
    return 0;
}

// A field's number, 0 when it does not convert. The toolkit's conversion also accepts
// "nan" and "inf", which would poison every trip figure computed from the fix.
double number(const QString &field)
{
    const double v = field.toDouble();
    return std::isfinite(v) ? v : 0.0;
}

double coordinate(const QString &value, const QString &hemisphere, QChar negative)
{
    if (hemisphere.isEmpty())
        return 0;
    const double degrees = degreesMinutes(number(value));
    return hemisphere.compare(QString(negative), Qt::CaseInsensitive) == 0 ? -degrees : degrees;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// sentence points at its "$"; the sentence ends at a line break or the end of the text.
NmeaChecksum sentenceChecksum(const char *sentence)
{
    unsigned sum = 0;
    const char *c = sentence + 1;
    for (; *c && *c != '*' && *c != '\r' && *c != '\n'; ++c)
        sum ^= static_cast<unsigned char>(*c);
    if (*c != '*')
        return NmeaChecksum::Absent;
    const int high = hexDigit(c[1]);
    const int low = high < 0 ? -1 : hexDigit(c[2]);
    if (low < 0)
        return NmeaChecksum::Absent;
    return unsigned(high * 16 + low) == sum ? NmeaChecksum::Good : NmeaChecksum::Bad;
}

} // namespace

int parseRmc(const QString &sentence, OxLocation &fix)
{
    QString text = sentence;
    // Joining the lines lets the fields of a "$GSENSOR" line below the RMC
    // sentence be found in the same list.
    text.replace(QLatin1String("  "), QLatin1String(","));
    text.replace(QLatin1String("\r\n"), QLatin1String(","));
    const QStringList parts = text.split(QLatin1Char(','), Qt::KeepEmptyParts);
    // Twelve parts up to the magnetic variation's direction (which carries the checksum
    // in sentences from before NMEA 2.3); the mode field that came with 2.3 is optional.
    if (parts.size() < 12)
        return -1;

    if (parts[1].isEmpty()) {
        fix.hour = fix.minute = fix.second = 0;
    } else {
        const int t = wholePart(parts[1].toDouble());
        fix.second = t % 100;
        fix.minute = (t / 100) % 100;
        fix.hour = (t / 10000) % 100;
    }
    fix.valid = parts[2].compare(QLatin1String("A"), Qt::CaseInsensitive) == 0;
    fix.latitude = coordinate(parts[3], parts[4], QLatin1Char('S'));
    fix.longitude = coordinate(parts[5], parts[6], QLatin1Char('W'));
    fix.speed = number(parts[7]) * 1.852;
    if (parts[9].isEmpty()) {
        fix.day = fix.month = fix.year = 0;
    } else {
        const int d = parts[9].toInt(nullptr, 10);
        fix.year = d % 100;
        fix.month = (d / 100) % 100;
        fix.day = (d / 10000) % 100;
    }

    const int g = parts.indexOf(QStringLiteral("$GSENSOR"));
    fix.hasGsensor = g > 0 && g + 6 < parts.size();
    if (!fix.hasGsensor) {
        fix.gsensorX = fix.gsensorY = fix.gsensorZ = 0;
    } else {
        fix.gsensorX = number(parts[g + 2]);
        fix.gsensorY = number(parts[g + 4]);
        fix.gsensorZ = number(parts[g + 6].chopped(parts[g + 6].isEmpty() ? 0 : 1));
    }
    return 0;
}

int parseLocation(const char *text, OxLocation &fix)
{
    NmeaChecksum checksum;
    return parseLocation(text, fix, checksum);
}

int parseLocation(const char *text, OxLocation &fix, NmeaChecksum &checksum)
{
    checksum = NmeaChecksum::Absent;
    if (!text)
        return -1;
    for (const char *tag : {"$GPRMC", "$GNRMC"}) {
        if (const char *at = std::strstr(text, tag)) {
            if (parseRmc(QString::fromLatin1(at), fix) == 0) {
                checksum = sentenceChecksum(at);
                return 0;
            }
        }
    }
    return parseFixLine(text, fix);
}

QByteArray subtitleCueText(const char *ass, const char *plain)
{
    if (!ass)
        return plain ? QByteArray(plain) : QByteArray();
    const char *text = ass;
    int commas = 0;
    for (const char *c = ass; *c && commas < 8; ++c) {
        if (*c == ',' && ++commas == 8)
            text = c + 1;
    }
    // An event line with fewer fields is not one the decoder writes; hand it
    // over whole rather than guess where the text starts.
    QByteArray cue(text);
    cue.replace("\\N", "\r\n");
    cue.replace("\\n", "\r\n");
    return cue;
}
