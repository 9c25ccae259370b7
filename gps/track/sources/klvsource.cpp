// A timed metadata track of format "gpmd": KLV items, big-endian, GPS in "GPS5" or
// "GPS9" items scaled by the "SCAL" item before them; a payload that has "GPS9" is read
// from it alone.
#include "gpsblocks.h"
#include "gpsmetatrack.h"
#include "gpssources.h"

#include <cmath>

namespace {

constexpr qint64 kMaxSample = qint64(1) << 20;
constexpr int kMaxDepth = 8;
// 2000-01-01 in seconds since 1970.
constexpr qint64 kEpoch2000 = 946684800;

// The stream descriptors that apply to the data items after them.
struct StreamState
{
    QVector<double> scale;
    std::optional<double> utc; // seconds since 1970
    bool noFix = false;        // "GPSF" said 0
};

double numberOf(const GpsBytes &b, qint64 at, char type)
{
    switch (type) {
    case 'b':
        return qint8(b.u8(at));
    case 'B':
        return b.u8(at);
    case 's':
        return b.be<qint16>(at);
    case 'S':
        return b.be<quint16>(at);
    case 'l':
        return b.be<qint32>(at);
    case 'L':
        return b.be<quint32>(at);
    case 'j':
        return double(b.be<qint64>(at));
    case 'J':
        return double(b.be<quint64>(at));
    case 'f':
        return b.beFloat(at);
    case 'd':
        return b.beDouble(at);
    case 'q':
        return b.be<qint32>(at) / 65536.0;
    case 'Q':
        return double(b.be<qint64>(at)) / 4294967296.0;
    default:
        return 0;
    }
}

int widthOf(char type)
{
    switch (type) {
    case 'b':
    case 'B':
        return 1;
    case 's':
    case 'S':
        return 2;
    case 'l':
    case 'L':
    case 'f':
    case 'q':
        return 4;
    case 'j':
    case 'J':
    case 'd':
    case 'Q':
        return 8;
    default:
        return 0;
    }
}

double scaleFor(const StreamState &s, int i)
{
    double v = 1;
    if (s.scale.size() == 1)
        v = s.scale[0];
    else if (i < s.scale.size())
        v = s.scale[i];
    return v != 0 && std::isfinite(v) ? v : 1;
}

// "yymmddhhmmss.sss" to seconds since 1970.
std::optional<double> utcOf(const GpsBytes &b, qint64 at, qint64 length)
{
    if (length < 16)
        return std::nullopt;
    int v[6];
    for (int i = 0; i < 6; ++i) {
        const uchar hi = b.u8(at + 2 * i);
        const uchar lo = b.u8(at + 2 * i + 1);
        if (hi < '0' || hi > '9' || lo < '0' || lo > '9')
            return std::nullopt;
        v[i] = (hi - '0') * 10 + (lo - '0');
    }
    if (b.u8(at + 12) != '.' || v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31)
        return std::nullopt;
    int ms = 0;
    for (int i = 13; i < 16; ++i) {
        const uchar c = b.u8(at + i);
        ms = ms * 10 + (c >= '0' && c <= '9' ? c - '0' : 0);
    }
    // Days from civil date (proleptic Gregorian).
    const int y = 2000 + v[0] - (v[1] <= 2 ? 1 : 0);
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int mp = (v[1] + 9) % 12;
    const int doy = (153 * mp + 2) / 5 + v[2] - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const qint64 days = qint64(era) * 146097 + doe - 719468;
    return days * 86400.0 + v[3] * 3600 + v[4] * 60 + v[5] + ms / 1000.0;
}

// A time no fix can have (not finite, or thousands of years away) gives a record
// that is dropped as impossible.
GpsRecord recordAt(double seconds)
{
    GpsRecord r;
    if (std::isfinite(seconds) && std::fabs(seconds) < 1e11)
        setUnixTime(r, qint64(std::floor(seconds)));
    return r;
}

// What one sample holds: the records of its "GPS5" and "GPS9" items apart, each with
// what it skipped, since a sample that has "GPS9" is read from it alone.
struct KlvFound
{
    std::vector<GpsRecord> gps5;
    std::vector<GpsRecord> gps9;
    int skipped = 0; // damaged items
    int skipped5 = 0;
    int skipped9 = 0;
    bool hasGps9 = false;
};

void walk(const GpsBytes &b, qint64 from, qint64 to, int depth, StreamState &state, double duration,
          KlvFound &found)
{
    qint64 at = from;
    while (at <= to - 8) {
        const QByteArray key(reinterpret_cast<const char *>(b.at(at)), 4);
        const char type = char(b.u8(at + 4));
        const qint64 structSize = b.u8(at + 5);
        const qint64 repeat = b.be<quint16>(at + 6);
        const qint64 length = structSize * repeat;
        const qint64 body = at + 8;
        if (length > to - body) {
            ++found.skipped; // a length past the end of its container
            return;
        }
        if (type == 0) {
            if (depth < kMaxDepth) {
                if (key == "STRM") {
                    StreamState stream;
                    walk(b, body, body + length, depth + 1, stream, duration, found);
                } else {
                    walk(b, body, body + length, depth + 1, state, duration, found);
                }
            }
        } else if (key == "SCAL") {
            const int width = widthOf(type);
            state.scale.clear();
            if (width > 0 && structSize >= width) {
                for (qint64 i = 0; i < length / width && i < 16; ++i)
                    state.scale.append(numberOf(b, body + i * width, type));
            }
        } else if (key == "GPSU") {
            state.utc = utcOf(b, body, length);
        } else if (key == "GPSF") {
            const int width = widthOf(type);
            state.noFix = width > 0 && length >= width && numberOf(b, body, type) == 0;
        } else if (key == "GPS5" && type == 'l' && structSize == 20) {
            for (qint64 i = 0; i < repeat; ++i) {
                const qint64 s = body + i * 20;
                if (state.noFix || !state.utc) {
                    ++found.skipped5; // no fix, or no time to put it at
                    continue;
                }
                GpsRecord r = recordAt(*state.utc + i * duration / repeat);
                r.latitude = b.be<qint32>(s) / scaleFor(state, 0);
                r.longitude = b.be<qint32>(s + 4) / scaleFor(state, 1);
                r.speed = b.be<qint32>(s + 12) / scaleFor(state, 3) * 3.6;
                found.gps5.push_back(r);
            }
        } else if (key == "GPS9" && structSize == 32) {
            found.hasGps9 = true;
            for (qint64 i = 0; i < repeat; ++i) {
                const qint64 s = body + i * 32;
                const double days = b.be<qint32>(s + 20) / scaleFor(state, 5);
                const double seconds = b.be<qint32>(s + 24) / scaleFor(state, 6);
                const int fix = b.be<quint16>(s + 30);
                if (fix == 0 || !std::isfinite(days) || std::fabs(days) > 1e6) {
                    ++found.skipped9;
                    continue;
                }
                GpsRecord r = recordAt(kEpoch2000 + std::floor(days) * 86400 + seconds);
                r.latitude = b.be<qint32>(s) / scaleFor(state, 0);
                r.longitude = b.be<qint32>(s + 4) / scaleFor(state, 1);
                r.speed = b.be<qint32>(s + 12) / scaleFor(state, 3) * 3.6;
                found.gps9.push_back(r);
            }
        }
        at = body + ((length + 3) & ~qint64(3));
    }
}

bool startsWith(const GpsBytes &b, const char *text, qint64 n)
{
    return b.equals(0, text, n);
}

class KlvTrackSource : public GpsSource
{
public:
    const char *name() const override { return "klv metadata track"; }
    bool detect(GpsRecording &recording) override { return hasMetadataTrack(recording, "gpmd"); }
    void read(GpsRecording &recording, OxTrack &track, GpsReadStats &stats) override
    {
        std::vector<GpsRecord> records;
        for (const GpsMetaSample &sample : metadataSamples(recording, "gpmd", stats.skipped)) {
            const QByteArray bytes = recording.read(sample.offset, sample.size, kMaxSample);
            const GpsBytes b(bytes);
            GpsRecord r;
            if (startsWith(b, "DEVC", 4)) {
                decodeKlvSample(b, sample.duration, records, stats.skipped);
            } else if (startsWith(b, "\x00\x00\xF2\xE1\xF0\xEE\x54\x54", 8)) {
                // The XOR text, from the first byte of the sample.
                if (decodeXorText(b, 0, r))
                    records.push_back(r);
                else
                    ++stats.skipped;
            } else if (b.equals(21, "\x00\x00\x00\x41", 4) && b.equals(0x50, "LIGOGPSINFO", 12)) {
                decodeTextRecords(b, 0x50, records, stats.skipped);
            } else {
                ++stats.skipped;
            }
        }
        stats.skipped += finishRecords(records, track);
    }
};

} // namespace

void decodeKlvSample(const GpsBytes &sample, double duration, std::vector<GpsRecord> &records,
                     int &skipped)
{
    StreamState top;
    KlvFound found;
    walk(sample, 0, sample.size(), 0, top, duration, found);
    // Cameras that write both streams measure the same fixes twice, and there "GPSU"
    // (the time of the "GPS5" samples) can run more than a second behind the "GPS9"
    // times: merged, the track would repeat itself late. "GPS9" alone, where it is.
    const std::vector<GpsRecord> &kept = found.hasGps9 ? found.gps9 : found.gps5;
    records.insert(records.end(), kept.cbegin(), kept.cend());
    skipped += found.skipped + (found.hasGps9 ? found.skipped9 : found.skipped5);
}

GpsSource *klvTrackSource()
{
    static KlvTrackSource source;
    return &source;
}
