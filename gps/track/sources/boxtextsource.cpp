// The "gps " box inside "moov" whose index points to blocks of NMEA text. Its box walk
// is its own: see GpsRecording in gpssource.h for why.
#include "gpssources.h"
#include "nmea.h"

#include <QtDebug>
#include <QtEndian>

#include <cstring>

namespace {

constexpr qint64 kBoxPositionLimit = qint64(1) << 31;
constexpr qint64 kBlockSize = 4096;
// The largest block index read: 131,072 entries, a fix a second for 36 hours. A
// damaged size field must not make the player read gigabytes and walk millions of
// entries before the first picture.
constexpr qint64 kMaxPayload = qint64(1) << 20;

struct BoxHeader
{
    qint32 size = 0; // read as a signed count: sizes of 2 GiB and more end the walk
    char type[5] = {};
};

// A header cut short by the end of the file ends the walk like a missing one,
// and so do the sizes that are not a plain byte count (0: to the end of the
// file, 1: 64-bit size follows) or could not hold the header. An empty box
// (size 8) is stepped over: FFmpeg's own muxer puts one before "mdat".
bool readHeader(QIODevice &file, BoxHeader &header)
{
    uchar raw[8];
    if (file.read(reinterpret_cast<char *>(raw), 8) != 8)
        return false;
    header.size = qFromBigEndian<qint32>(raw);
    std::memcpy(header.type, raw + 4, 4);
    return header.size >= 8;
}

// Sizes and offsets in the file are outside data: the position is kept in 64
// bits and boxes are only looked for where a 32-bit position would reach.
bool seekTo(QIODevice &file, qint64 p)
{
    const bool ok = p < kBoxPositionLimit && file.seek(p);
    qDebug("seek %lld = %s", static_cast<long long>(p), ok ? "true" : "false");
    return ok;
}

class BoxTextSource : public GpsSource
{
public:
    const char *name() const override { return "gps box text blocks"; }
    bool detect(GpsRecording &) override { return true; }
    void read(GpsRecording &recording, OxTrack &track, GpsReadStats &stats) override
    {
        track.clear();
        const std::optional<QByteArray> payload = findBox(recording.device(), "moov", "gps ");
        if (!payload)
            return;
        readTextSource(
            [&](GpsTextFilter &filter) {
                loadTrackFromBox(recording.device(), track, *payload, &filter);
            },
            track, stats);
    }
};

} // namespace

GpsSource *boxTextSource()
{
    static BoxTextSource source;
    return &source;
}

std::optional<QByteArray> findBox(QIODevice &file, const char *outerType, const char *innerType)
{
    if (!file.seek(0))
        return std::nullopt;
    qint64 p = 0;
    BoxHeader header;
    for (;;) {
        if (!readHeader(file, header))
            return std::nullopt;
        qDebug("data = %s", header.type);
        if (std::memcmp(header.type, outerType, 4) == 0)
            break;
        p += header.size;
        if (!seekTo(file, p))
            return std::nullopt;
    }
    p += 8;
    if (!file.seek(p))
        return std::nullopt;
    for (;;) {
        if (!readHeader(file, header))
            return std::nullopt;
        qDebug("data2 = %s", header.type);
        if (std::memcmp(header.type, innerType, 4) == 0) {
            // Never trust the size field for the allocation: read what is left.
            const qint64 left = qMax<qint64>(0, file.size() - file.pos());
            return file.read(qMin(qMin<qint64>(header.size - 8, left), kMaxPayload));
        }
        p += header.size;
        if (!seekTo(file, p))
            return std::nullopt;
    }
}

int loadTrackFromBox(QIODevice &file, OxTrack &track, const QByteArray &payload,
                     GpsTextFilter *filter)
{
    const int length = payload.size();
    if (length < 8)
        return 0;
    const auto *bytes = reinterpret_cast<const uchar *>(payload.constData());
    const qint64 fileSize = file.size();
    for (qint64 entry = 8; entry + 4 <= length; entry += 8) {
        const qint32 offset = qFromBigEndian<qint32>(bytes + entry);
        if (offset < 0 || offset >= fileSize || !file.seek(offset))
            continue;
        // QByteArray keeps a NUL after its data, so the text ends at the last
        // byte read even when the block on disk is not terminated.
        const QByteArray block = file.read(kBlockSize);
        const int n = block.size();
        const char *data = block.constData();
        for (int i = 0; i < n - 6; ++i) {
            if (std::memcmp(data + i, "$GPRMC", 6) != 0 && std::memcmp(data + i, "$GNRMC", 6) != 0)
                continue;
            OxLocation fix;
            NmeaChecksum checksum;
            if (parseLocation(data + i, fix, checksum) != 0)
                break;
            if (!track.isEmpty() && track.last() == fix)
                continue;
            // A sentence the filter refuses is passed over like a repeated one.
            if (filter && !filter->accept(fix, checksum))
                continue;
            track.append(fix);
            break;
        }
    }
    return track.size();
}
