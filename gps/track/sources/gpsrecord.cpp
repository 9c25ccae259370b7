#include "gpsrecord.h"

#include <QDate>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// The raw float ranges that the shifted form maps onto valid degrees.
constexpr double kShiftLatitude = 187.982162849635;
constexpr double kShiftLongitude = 2199.19873715495;

bool shiftable(const GpsRecord &r)
{
    return r.latitude >= 187.98 && r.latitude <= 457.98 && r.longitude >= 2199.20 &&
           r.longitude <= 2559.20;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(qint64 z, int &year, int &month, int &day)
{
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

bool possibleTime(int hour, int minute, int second)
{
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

// The comparisons are false for NaN, so a NaN is impossible too.
bool possiblePlace(double latitude, double longitude, double speed)
{
    return std::fabs(latitude) <= 90 && std::fabs(longitude) <= 180 && speed >= 0 &&
           speed <= kMaxSpeedKmh;
}

bool possible(const GpsRecord &r)
{
    // Years beyond 2099 cannot be held by the fix's two digits.
    if (r.year < 2000 || r.year > 2099 || !QDate::isValid(r.year, r.month, r.day) ||
        !possibleTime(r.hour, r.minute, r.second))
        return false;
    if (!possiblePlace(r.latitude, r.longitude, r.speed))
        return false;
    return r.latitude != 0 || r.longitude != 0;
}

qint64 timeKey(const GpsRecord &r)
{
    return ((((qint64(r.year) * 13 + r.month) * 32 + r.day) * 24 + r.hour) * 60 + r.minute) * 60 +
           r.second;
}

} // namespace

bool possibleFix(const OxLocation &f)
{
    if (!possiblePlace(f.latitude, f.longitude, f.speed) ||
        !possibleTime(f.hour, f.minute, f.second))
        return false;
    if (f.day == 0 && f.month == 0 && f.year == 0)
        return !f.valid;
    return f.year >= 0 && f.year <= 99 && QDate::isValid(2000 + f.year, f.month, f.day);
}

bool GpsTextFilter::accept(const OxLocation &fix, NmeaChecksum checksum)
{
    if (checksum == NmeaChecksum::Good)
        ++good;
    else if (checksum == NmeaChecksum::Bad)
        ++bad;
    if ((checksum == NmeaChecksum::Bad && !keepBad) || !possibleFix(fix)) {
        ++refused;
        return false;
    }
    return true;
}

double ddmmToDegrees(double value)
{
    const double v = std::fabs(value);
    const double degrees = std::floor(v / 100);
    return degrees + (v - 100 * degrees) / 60;
}

int fullYear(qint64 stored)
{
    if (stored >= 0 && stored < 100)
        return int(2000 + stored);
    if (stored >= 2000 && stored < 10000)
        return int(stored);
    return -1;
}

GpsRecord recordFromFix(const OxLocation &fix)
{
    GpsRecord r;
    r.year = fullYear(fix.year);
    r.month = fix.month;
    r.day = fix.day;
    r.hour = fix.hour;
    r.minute = fix.minute;
    r.second = fix.second;
    r.latitude = fix.latitude;
    r.longitude = fix.longitude;
    r.speed = fix.speed;
    if (fix.hasGsensor)
        r.setGsensor(fix.gsensorX, fix.gsensorY, fix.gsensorZ);
    return r;
}

void setUnixTime(GpsRecord &record, qint64 seconds)
{
    const qint64 days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const qint64 rest = seconds - days * 86400;
    civilFromDays(days, record.year, record.month, record.day);
    record.hour = int(rest / 3600);
    record.minute = int(rest / 60 % 60);
    record.second = int(rest % 60);
}

int finishRecords(std::vector<GpsRecord> records, OxTrack &track)
{
    // Shifted floats are told apart from DDMM only by the whole set: every raw value
    // in the shifted ranges, and at least one latitude whose minutes cannot be minutes.
    bool anyShiftable = false;
    bool allShiftable = true;
    bool proof = false;
    for (const GpsRecord &r : records) {
        if (r.coordinates != GpsRecord::Coordinates::DdmmOrShifted)
            continue;
        anyShiftable = true;
        allShiftable = allShiftable && shiftable(r);
        proof = proof || std::fmod(r.latitude, 100) >= 60;
    }
    const bool shifted = anyShiftable && allShiftable && proof;

    const bool anyUtc = std::any_of(records.cbegin(), records.cend(),
                                    [](const GpsRecord &r) { return !r.localClock; });

    int dropped = 0;
    std::vector<GpsRecord> kept;
    kept.reserve(records.size());
    for (GpsRecord r : records) {
        if (r.coordinates == GpsRecord::Coordinates::DdmmOrShifted && shifted) {
            r.latitude = (r.latitude - kShiftLatitude) / 3;
            r.longitude = (r.longitude - kShiftLongitude) / 2;
        } else if (r.coordinates != GpsRecord::Coordinates::Degrees) {
            r.latitude = ddmmToDegrees(r.latitude);
            r.longitude = ddmmToDegrees(r.longitude);
        }
        if (r.coordinates != GpsRecord::Coordinates::Degrees) {
            if (r.south)
                r.latitude = -r.latitude;
            if (r.west)
                r.longitude = -r.longitude;
        }
        if (!possible(r) || (r.localClock && anyUtc)) {
            ++dropped;
            continue;
        }
        kept.push_back(r);
    }
    // Stable: records of the same second keep their file order, and the first is kept.
    std::stable_sort(kept.begin(), kept.end(), [](const GpsRecord &a, const GpsRecord &b) {
        return timeKey(a) < timeKey(b);
    });
    for (const GpsRecord &r : kept) {
        OxLocation fix;
        fix.valid = true;
        fix.latitude = r.latitude;
        fix.longitude = r.longitude;
        fix.speed = r.speed;
        fix.gsensorX = r.gsensorX;
        fix.gsensorY = r.gsensorY;
        fix.gsensorZ = r.gsensorZ;
        fix.hasGsensor = r.hasGsensor;
        fix.year = r.year % 100;
        fix.month = r.month;
        fix.day = r.day;
        fix.hour = r.hour;
        fix.minute = r.minute;
        fix.second = r.second;
        appendFix(track, fix);
    }
    return dropped;
}
