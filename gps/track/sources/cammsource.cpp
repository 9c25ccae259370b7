// A timed metadata track of format "camm": little-endian packets, each a reserved
// uint16, a type and a body of a size fixed by the type. Types 5 (position) and 6
// (GPS fix with time and velocity) carry the track.
#include "gpsmetatrack.h"
#include "gpssources.h"

#include <cmath>

namespace {

constexpr qint64 kMaxSample = qint64(1) << 20;
// 1980-01-06 (the GPS epoch) in seconds since 1970.
constexpr qint64 kGpsEpoch = 315964800;
constexpr qint64 kFiveYears = qint64(5) * 365 * 86400;

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
        for (const GpsMetaSample &sample : metadataSamples(recording, "camm", stats.skipped)) {
            const QByteArray bytes = recording.read(sample.offset, sample.size, kMaxSample);
            decodeCammSample(GpsBytes(bytes), sample.time, creation, records, stats.skipped);
        }
        stats.skipped += finishRecords(records, track);
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

GpsSource *cammTrackSource()
{
    static CammTrackSource source;
    return &source;
}
