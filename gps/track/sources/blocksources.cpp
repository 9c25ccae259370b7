// Binary GPS blocks, found through the "gps " index inside "moov" or, without a
// usable index, by scanning the start of "mdat" for their header.
#include "gpsblocks.h"
#include "gpssources.h"

#include <QtEndian>

#include <cstring>

namespace {

// An index of 131,072 entries (36 hours at one block a second) is the most read.
constexpr qint64 kMaxIndex = qint64(1) << 20;
// A block larger than this is not a GPS block (cameras write 1 KiB to 32 KiB).
constexpr qint64 kMaxBlock = qint64(1) << 20;
// The scan reads no more than this of "mdat", in chunks of kScanChunk.
constexpr qint64 kScanLimit = qint64(20) << 20;
constexpr qint64 kScanChunk = qint64(1) << 20;

struct BlockRef
{
    qint64 offset;
    qint64 size;
};

// The entries of the index that pass its checks: inside the file, a block whose
// size field repeats the entry's size, the "freeGPS " tag, at least 82 bytes.
QVector<BlockRef> indexedBlocks(GpsRecording &recording, int *rejected = nullptr)
{
    QVector<BlockRef> blocks;
    const std::optional<GpsBox> index = recording.moovChild("gps ");
    if (!index)
        return blocks;
    const QByteArray payload =
        recording.read(index->payloadOffset(), index->payloadSize(), kMaxIndex);
    if (payload.size() < 8)
        return blocks;
    const auto *p = reinterpret_cast<const uchar *>(payload.constData());
    const qint64 count = qMin<qint64>(qFromBigEndian<quint32>(p + 4), (payload.size() - 8) / 8);
    for (qint64 i = 0; i < count; ++i) {
        const qint64 offset = qFromBigEndian<quint32>(p + 8 + 8 * i);
        const qint64 size = qFromBigEndian<quint32>(p + 12 + 8 * i);
        const QByteArray header =
            offset + size <= recording.size() ? recording.read(offset, 12) : QByteArray();
        quint32 stored = 0;
        if (offset == 0 || size < kMinGpsBlock || size > kMaxBlock ||
            !isGpsBlockHeader(reinterpret_cast<const uchar *>(header.constData()), header.size(),
                              &stored) ||
            stored != size) {
            if (rejected)
                ++*rejected;
            continue;
        }
        blocks.append({offset, size});
    }
    return blocks;
}

void decodeBlocks(GpsRecording &recording, const QVector<BlockRef> &blocks, OxTrack &track,
                  GpsReadStats &stats)
{
    std::vector<GpsRecord> records;
    for (const BlockRef &ref : blocks) {
        const QByteArray block = recording.read(ref.offset, ref.size, kMaxBlock);
        decodeGpsBlock(block, records, stats.skipped);
    }
    stats.skipped += finishRecords(records, track);
}

class IndexedBlockSource : public GpsSource
{
public:
    const char *name() const override { return "binary blocks through the gps index"; }
    bool detect(GpsRecording &recording) override { return bool(recording.moovChild("gps ")); }
    void read(GpsRecording &recording, OxTrack &track, GpsReadStats &stats) override
    {
        decodeBlocks(recording, indexedBlocks(recording, &stats.skipped), track, stats);
    }
};

// A 12-byte header: a big-endian size whose first and last bytes are zero, then the tag.
bool scanMatch(const uchar *p)
{
    return p[0] == 0 && p[3] == 0 && std::memcmp(p + 4, "freeGPS ", 8) == 0;
}

class ScannedBlockSource : public GpsSource
{
public:
    const char *name() const override { return "binary blocks found by scanning"; }
    bool detect(GpsRecording &recording) override
    {
        return recording.topLevelBox("mdat") && indexedBlocks(recording).isEmpty();
    }
    void read(GpsRecording &recording, OxTrack &track, GpsReadStats &stats) override
    {
        const std::optional<GpsBox> mdat = recording.topLevelBox("mdat");
        if (!mdat)
            return;
        const qint64 start = mdat->payloadOffset();
        const qint64 end = qMin(mdat->end(), start + kScanLimit);
        QVector<BlockRef> blocks;
        // Chunks overlap by 11 bytes so that a header cut by a chunk end is still seen.
        qint64 pos = start;
        while (pos <= end - 12) {
            const QByteArray chunk = recording.read(pos, qMin(kScanChunk, end - pos));
            if (chunk.size() < 12)
                break;
            const auto *c = reinterpret_cast<const uchar *>(chunk.constData());
            const qint64 n = chunk.size();
            qint64 next = pos + n - 11;
            for (qint64 i = 0; i + 12 <= n;) {
                const void *hit = std::memchr(c + i + 4, 'f', size_t(n - i - 4));
                if (!hit)
                    break;
                i = static_cast<const uchar *>(hit) - c - 4;
                if (i + 12 > n)
                    break;
                if (!scanMatch(c + i)) {
                    ++i;
                    continue;
                }
                const qint64 size = qFromBigEndian<quint32>(c + i);
                const qint64 offset = pos + i;
                if (size < kMinGpsBlock || offset + size > mdat->end()) {
                    ++stats.skipped; // a header whose size cannot be a block here
                    ++i;
                    continue;
                }
                blocks.append({offset, size});
                // Resume after the block, which may end beyond this chunk.
                if (i + size >= n - 11) {
                    next = offset + size;
                    break;
                }
                i += size;
            }
            pos = qMax(next, pos + 1);
        }
        decodeBlocks(recording, blocks, track, stats);
    }
};

} // namespace

GpsSource *indexedBlockSource()
{
    static IndexedBlockSource source;
    return &source;
}

GpsSource *scannedBlockSource()
{
    static ScannedBlockSource source;
    return &source;
}
