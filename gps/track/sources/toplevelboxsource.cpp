// A top-level "GPS " box (upper case) of 36-byte little-endian records: seconds from
// the recording start, speed, and DDMM.MMM coordinates × 1000. The date comes from
// the "mvhd" creation time.
#include "gpsrecord.h"
#include "gpssources.h"

namespace {

constexpr qint64 kRecord = 36;
constexpr qint64 kMaxPayload = qint64(4) << 20;

class TopLevelBoxSource : public GpsSource
{
public:
    const char *name() const override { return "top-level GPS box"; }
    bool detect(GpsRecording &recording) override { return bool(recording.topLevelBox("GPS ")); }
    void read(GpsRecording &recording, OxTrack &track, GpsReadStats &stats) override
    {
        const std::optional<GpsBox> box = recording.topLevelBox("GPS ");
        if (!box)
            return;
        const QByteArray payload =
            recording.read(box->payloadOffset(), box->payloadSize(), kMaxPayload);
        const GpsBytes b(payload);
        const std::optional<qint64> start = recording.creationTime();
        static const char kZero[kRecord] = {};
        std::vector<GpsRecord> records;
        for (qint64 at = 0; b.has(at, kRecord); at += kRecord) {
            if (b.equals(at, kZero, kRecord))
                break;
            if (!start) {
                ++stats.skipped; // no date to count from
                continue;
            }
            GpsRecord r;
            setUnixTime(r, *start + b.le<quint32>(at + 8));
            r.speed = b.le<quint32>(at + 0x0C) / 1000.0;
            r.coordinates = GpsRecord::Coordinates::Ddmm;
            r.south = b.u8(at + 0x10) == 'S';
            r.latitude = b.le<quint32>(at + 0x11) / 1000.0;
            r.west = b.u8(at + 0x15) == 'W';
            r.longitude = b.le<quint32>(at + 0x16) / 1000.0;
            records.push_back(r);
        }
        stats.skipped += finishRecords(records, track);
    }
};

} // namespace

GpsSource *topLevelBoxSource()
{
    static TopLevelBoxSource source;
    return &source;
}
