#pragma once

#include "gpssource.h"
#include "nmea.h"
#include "oxlocation.h"

#include <QVector>

#include <QtEndian>
#include <vector>

#include <cstring>

// No car a camera rides in goes faster; a fix that says so is damaged.
constexpr double kMaxSpeedKmh = 500;

// Whether a fix read from text holds what the earth and the calendar allow: finite
// coordinates within ±90 and ±180, a finite speed from 0 to kMaxSpeedKmh, a time of
// day and a date that exist (day 32 and 99/99/99 do not). A void fix may have no date
// at all (0/0/0), as receivers write before their first fix.
bool possibleFix(const OxLocation &fix);

// What the two text sources (the subtitle stream and the "gps " box blocks) do with
// each fix they parse. A fix with impossible values is skipped; so is one whose
// sentence carries a wrong checksum, unless keepBadChecksums. Some cameras write a
// wrong checksum in every sentence: a source that saw only wrong ones reads again
// with keepBadChecksums, and says so.
class GpsTextFilter
{
public:
    explicit GpsTextFilter(bool keepBadChecksums = false) : keepBad(keepBadChecksums) {}

    // True when the fix may go on to the track; counts what it refuses.
    bool accept(const OxLocation &fix, NmeaChecksum checksum);
    int skipped() const { return refused; }
    // At least one sentence had a checksum and not one of them was right.
    bool onlyBadChecksums() const { return bad > 0 && good == 0; }

private:
    bool keepBad = false;
    int refused = 0;
    int good = 0;
    int bad = 0;
};

// A text source's reading: once with a filter that drops wrong checksums, and when it
// saw nothing but wrong ones, once more keeping them. read(filter) fills the track
// (which is emptied before each reading).
template <typename Read> void readTextSource(Read read, OxTrack &track, GpsReadStats &stats)
{
    GpsTextFilter filter;
    track.clear();
    read(filter);
    if (filter.onlyBadChecksums()) {
        filter = GpsTextFilter(true);
        track.clear();
        read(filter);
        stats.keptBadChecksums = true;
    }
    stats.skipped += filter.skipped();
}

// One decoded record of a binary or timestamped layout, before it becomes a fix:
// full year, signed decimal degrees and km/h, or raw DDMM values whose
// conversion waits until the whole track is known (see finishRecords).
struct GpsRecord
{
    enum class Coordinates { Degrees, Ddmm, DdmmOrShifted };

    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    Coordinates coordinates = Coordinates::Degrees;
    double latitude = 0;  // |DDMM| for the two Ddmm forms, with the sign in south
    double longitude = 0; // likewise, with west
    bool south = false;
    bool west = false;
    double speed = 0; // km/h
    // Accelerometer readings in g, when hasGsensor. What each source stores: "$GSENSOR"
    // and fix-line readings are g already; layouts B and G hold int32 in 256ths of g, C
    // and D in thousandths (C's scale is D's, and gives the 1 g of gravity its samples
    // show), E "±ddd" in hundredths, F's "x:/y:/z:" g; camm packets of type 3 hold m/s²
    // (divided by kStandardGravity). The KLV GPS items and the other layouts carry none;
    // the "3gf " readings beside the timestamped NMEA text are not read, their unit
    // being unknown.
    double gsensorX = 0;
    double gsensorY = 0;
    double gsensorZ = 0;
    bool hasGsensor = false;
    bool localClock = false; // the camera's clock, not UTC: kept only when nothing else is

    void setGsensor(double x, double y, double z)
    {
        gsensorX = x;
        gsensorY = y;
        gsensorZ = z;
        hasGsensor = true;
    }
};

// Standard gravity: accelerometers that measure in m/s² are divided by it to give g.
constexpr double kStandardGravity = 9.80665;

// DDMM.MMMM as stored (degrees × 100 + minutes) to decimal degrees, unsigned.
double ddmmToDegrees(double value);

// A stored year: below 100 counts from 2000, 2000 and later is the full year,
// anything else is impossible (-1).
int fullYear(qint64 stored);

// A record from a fix parsed out of NMEA text: its date, time, position, speed and
// accelerometer readings.
GpsRecord recordFromFix(const OxLocation &fix);

// Fills the date and time of the record from seconds since 1970 (UTC).
void setUnixTime(GpsRecord &record, qint64 seconds);

// Turns records into fixes: decides between plain and shifted DDMM floats for the
// whole set, drops the impossible ones (date, time, coordinates outside ±90/±180,
// both coordinates zero, years outside 2000–2099, which the two-digit fix cannot
// hold), drops local-clock records when UTC ones exist, sorts by time and appends with the
// duplicate rule. Returns how many records were dropped.
int finishRecords(std::vector<GpsRecord> records, OxTrack &track);

// Bounded little- and big-endian reads from a byte buffer; out-of-range reads
// give 0 so that a short buffer can never be read past.
class GpsBytes
{
public:
    explicit GpsBytes(const QByteArray &bytes)
        : data(reinterpret_cast<const uchar *>(bytes.constData())), length(bytes.size())
    {
    }
    GpsBytes(const uchar *bytes, qint64 size) : data(bytes), length(size) {}
    // The bytes are not copied: a temporary array would be gone before they are read.
    explicit GpsBytes(QByteArray &&) = delete;

    qint64 size() const { return length; }
    const uchar *at(qint64 offset) const { return data + offset; }
    bool has(qint64 offset, qint64 count) const
    {
        return offset >= 0 && count >= 0 && offset <= length && count <= length - offset;
    }
    uchar u8(qint64 o) const { return has(o, 1) ? data[o] : 0; }
    template <typename T> T le(qint64 o) const
    {
        return has(o, sizeof(T)) ? qFromLittleEndian<T>(data + o) : T(0);
    }
    template <typename T> T be(qint64 o) const
    {
        return has(o, sizeof(T)) ? qFromBigEndian<T>(data + o) : T(0);
    }
    float leFloat(qint64 o) const { return fromBits<float>(le<quint32>(o)); }
    double leDouble(qint64 o) const { return fromBits<double>(le<quint64>(o)); }
    double beDouble(qint64 o) const { return fromBits<double>(be<quint64>(o)); }
    float beFloat(qint64 o) const { return fromBits<float>(be<quint32>(o)); }
    bool equals(qint64 o, const char *text, qint64 count) const
    {
        return has(o, count) && std::memcmp(data + o, text, size_t(count)) == 0;
    }

private:
    template <typename F, typename I> static F fromBits(I bits)
    {
        static_assert(sizeof(F) == sizeof(I), "same width");
        F f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }

    const uchar *data;
    qint64 length;
};
