// A timed metadata track of format "camm": little-endian packets, each a reserved
// uint16, a type and a body of a size fixed by the type. Types 5 (position) and 6
// (GPS fix with time and velocity) carry the track; type 3 (acceleration, m/s²) gives
// each fix the accelerometer reading nearest to it in time.
#include "gpsmetatrack.h"
#include "gpssources.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 kMaxSample = qint64(1) << 20;
// 1980-01-06 (the GPS epoch) in seconds since 1970.
constexpr qint64 kGpsEpoch = 315964800;
constexpr qint64 kFiveYears = qint64(5) * 365 * 86400;
// An acceleration reading further than this from a fix's sample is not the fix's.
constexpr double kMaxReadingGap = 1.0; // seconds

qint64 packetSize(quint16 type)
{
    switch (type) {
    case 0:
    case 2:
    case 3:
    case 4:
    case 7:
        return 16;
    case 1:
        return 12;
    case 5:
        return 28;
    case 6:
        return 60;
    default:
        return 0;
    }
}

class CammTrackSource : public GpsSource
{
public:
    const char *name() const override { return "camm metadata track"; }
    bool detect(GpsRecording &recording) override { return hasMetadataTrack(recording, "camm"); }
    void read(GpsRecording &recording, OxTrack &track, GpsReadStats &stats) override
    {
        const std::optional<qint64> creation = recording.creationTime();
        std::vector<GpsRecord> records;
        std::vector<double> recordTimes; // the time of each record's sample
        std::vector<std::pair<double, CammAcceleration>> readings; // in sample order
        for (const GpsMetaSample &sample : metadataSamples(recording, "camm", stats.skipped)) {
            const QByteArray bytes = recording.read(sample.offset, sample.size, kMaxSample);
            const GpsBytes b(bytes);
            decodeCammSample(b, sample.time, creation, records, stats.skipped);
            recordTimes.resize(records.size(), sample.time);
            if (const std::optional<CammAcceleration> a = cammAcceleration(b))
                readings.emplace_back(sample.time, *a);
        }
        for (size_t i = 0; i < records.size(); ++i)
            attachNearest(readings, recordTimes[i], records[i]);
        stats.skipped += finishRecords(records, track);
    }

private:
    static void attachNearest(const std::vector<std::pair<double, CammAcceleration>> &readings,
                              double time, GpsRecord &r)
    {
        const auto later = std::lower_bound(
            readings.cbegin(), readings.cend(), time,
            [](const std::pair<double, CammAcceleration> &a, double t) { return a.first < t; });
        auto nearest = readings.cend();
        double gap = kMaxReadingGap;
        for (auto it : {later, later == readings.cbegin() ? readings.cend() : later - 1}) {
            if (it != readings.cend() && std::fabs(it->first - time) <= gap) {
                gap = std::fabs(it->first - time);
                nearest = it;
            }
        }
        if (nearest != readings.cend())
            r.setGsensor(nearest->second.x, nearest->second.y, nearest->second.z);
    }
};

} // namespace

void decodeCammSample(const GpsBytes &b, double time, std::optional<qint64> creation,
                      std::vector<GpsRecord> &records, int &skipped)
{
    for (qint64 at = 0; b.has(at, 4);) {
        const quint16 type = b.le<quint16>(at + 2);
        const qint64 size = packetSize(type);
        if (size == 0 || !b.has(at, size))
            break; // an unknown type ends the sample: its size is not known
        if (type == 5 || type == 6) {
            GpsRecord r;
            double seconds = 0;
            if (type == 6) {
                seconds = b.leDouble(at + 4);
                // Some writers count from 1970 instead of the GPS epoch; a time more than
                // five years before the file was made cannot be one of them.
                if (!creation || seconds < double(*creation - kFiveYears))
                    seconds += kGpsEpoch;
                const qint32 fix = b.le<qint32>(at + 0x0C);
                r.latitude = b.leDouble(at + 0x10);
                r.longitude = b.leDouble(at + 0x18);
                const double east = b.leFloat(at + 0x2C);
                const double north = b.leFloat(at + 0x30);
                r.speed = std::sqrt(east * east + north * north) * 3.6;
                if (fix == 0) {
                    ++skipped;
                    at += size;
                    continue;
                }
            } else {
                r.latitude = b.leDouble(at + 4);
                r.longitude = b.leDouble(at + 0x0C);
                if (!creation) {
                    ++skipped; // no date to put it at
                    at += size;
                    continue;
                }
                seconds = double(*creation) + time;
            }
            if (!std::isfinite(seconds) || std::fabs(seconds) > 1e11) {
                ++skipped;
            } else {
                setUnixTime(r, qint64(std::floor(seconds)));
                records.push_back(r);
            }
        }
        at += size;
    }
}

std::optional<CammAcceleration> cammAcceleration(const GpsBytes &b)
{
    std::optional<CammAcceleration> last;
    for (qint64 at = 0; b.has(at, 4);) {
        const quint16 type = b.le<quint16>(at + 2);
        const qint64 size = packetSize(type);
        if (size == 0 || !b.has(at, size))
            break;
        if (type == 3) {
            const double x = b.leFloat(at + 4) / kStandardGravity;
            const double y = b.leFloat(at + 8) / kStandardGravity;
            const double z = b.leFloat(at + 12) / kStandardGravity;
            if (std::isfinite(x) && std::isfinite(y) && std::isfinite(z))
                last = CammAcceleration{x, y, z};
        }
        at += size;
    }
    return last;
}

GpsSource *cammTrackSource()
{
    static CammTrackSource source;
    return &source;
}
