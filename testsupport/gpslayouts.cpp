#include "gpslayouts.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>

namespace {

struct TopBox
{
    qint64 offset = -1;
    qint64 size = 0;
};

TopBox topLevel(const QByteArray &data, const char *type)
{
    qint64 offset = 0;
    while (offset + 8 <= data.size()) {
        const qint64 size = qFromBigEndian<quint32>(data.constData() + offset);
        if (size < 8)
            break;
        if (data.mid(int(offset) + 4, 4) == type)
            return {offset, size};
        offset += size;
    }
    return {};
}

// Adds delta to every chunk offset in the tracks of a moov box (header included).
void shiftChunkOffsets(QByteArray &box, int from, int to, qint64 delta)
{
    int at = from;
    while (at + 8 <= to) {
        const int size = int(qFromBigEndian<quint32>(box.constData() + at));
        if (size < 8 || at + size > to)
            return;
        const QByteArray type = box.mid(at + 4, 4);
        if (type == "trak" || type == "mdia" || type == "minf" || type == "stbl") {
            shiftChunkOffsets(box, at + 8, at + size, delta);
        } else if (type == "stco" || type == "co64") {
            const int width = type == "stco" ? 4 : 8;
            const int count = int(qFromBigEndian<quint32>(box.constData() + at + 12));
            for (int i = 0; i < count; ++i) {
                char *p = box.data() + at + 16 + width * i;
                if (width == 4)
                    qToBigEndian(quint32(qFromBigEndian<quint32>(p) + delta), p);
                else
                    qToBigEndian(quint64(qFromBigEndian<quint64>(p) + delta), p);
            }
        }
        at += size;
    }
}

QByteArray fullBox(const char *type, const QByteArray &payload)
{
    return gpsBox(type, QByteArray(4, '\0') + payload); // version and flags 0
}

QByteArray metaTrak(const GpsMetaTrackSpec &t, const QVector<qint64> &offsets)
{
    const quint32 n = quint32(t.samples.size());
    QByteArray tkhd(80, '\0');
    qToBigEndian(quint32(99), tkhd.data() + 8); // track id
    qToBigEndian(quint32(0x00010000), tkhd.data() + 36);
    qToBigEndian(quint32(0x00010000), tkhd.data() + 52);
    qToBigEndian(quint32(0x40000000), tkhd.data() + 68);
    const QByteArray mdhd =
        fullBox("mdhd", gpsBe32(0) + gpsBe32(0) + gpsBe32(t.timescale) +
                            gpsBe32(n * t.sampleDuration) + QByteArray("\x55\xc4\x00\x00", 4));
    const QByteArray hdlr =
        fullBox("hdlr", gpsBe32(0) + "meta" + QByteArray(12, '\0') + QByteArray("gps\0", 4));
    QByteArray entry = gpsBe32(16) + t.format + QByteArray(6, '\0') + QByteArray("\x00\x01", 2);
    QByteArray sizes, chunks;
    for (int i = 0; i < t.samples.size(); ++i) {
        sizes += gpsBe32(t.sizeOverride ? t.sizeOverride : quint32(t.samples[i].size()));
        chunks += gpsBe32(quint32(offsets[i]));
    }
    const QByteArray stbl =
        gpsBox("stbl", fullBox("stsd", gpsBe32(1) + entry) +
                           fullBox("stts", gpsBe32(1) + gpsBe32(n) + gpsBe32(t.sampleDuration)) +
                           fullBox("stsc", gpsBe32(1) + gpsBe32(1) + gpsBe32(1) + gpsBe32(1)) +
                           fullBox("stsz", gpsBe32(0) + gpsBe32(n) + sizes) +
                           fullBox("stco", gpsBe32(n) + chunks));
    const QByteArray dinf =
        gpsBox("dinf", fullBox("dref", gpsBe32(1) + fullBox("url ", QByteArray()).mid(0, 8) +
                                           QByteArray("\x00\x00\x00\x01", 4)));
    const QByteArray minf = gpsBox("minf", fullBox("nmhd", QByteArray()) + dinf + stbl);
    return gpsBox("trak", fullBox("tkhd", tkhd) + gpsBox("mdia", mdhd + hdlr + minf));
}

// Writes count zero bytes.
bool writeZeros(QFile &out, qint64 count)
{
    static const QByteArray zeros(1 << 20, '\0');
    while (count > 0) {
        const qint64 n = qMin<qint64>(count, zeros.size());
        if (out.write(zeros.constData(), n) != n)
            return false;
        count -= n;
    }
    return true;
}

} // namespace

QByteArray gpsBe32(quint32 v)
{
    QByteArray out(4, '\0');
    qToBigEndian(v, out.data());
    return out;
}

QByteArray gpsBox(const char *type, const QByteArray &payload)
{
    return gpsBe32(quint32(8 + payload.size())) + QByteArray(type, 4) + payload;
}

QByteArray gpsBlock(int size, const QVector<QPair<int, const char *>> &hexAt)
{
    QByteArray block(size, '\0');
    for (const auto &part : hexAt) {
        const QByteArray bytes = QByteArray::fromHex(part.second);
        block.replace(part.first, bytes.size(), bytes);
    }
    return block;
}

bool writeGpsLayout(const QString &source, const QString &dest, const GpsLayoutSpec &recipe)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = in.readAll();
    in.close();
    const TopBox ftyp = topLevel(data, "ftyp");
    const TopBox mdat = topLevel(data, "mdat");
    const TopBox moov = topLevel(data, "moov");
    if (ftyp.offset != 0 || mdat.offset < 0 || moov.offset < mdat.offset ||
        moov.offset + moov.size != data.size())
        return false;

    QByteArray top;
    for (const QByteArray &box : recipe.topLevelBoxes)
        top += box;
    // The region inserted into mdat starts on a multiple of 0x8000, as cameras write.
    const qint64 mdatPayload = mdat.offset + 8 + top.size();
    const qint64 regionStart = (mdatPayload + 0x7FFF) / 0x8000 * 0x8000;
    const qint64 pad = regionStart - mdatPayload;
    const int slotCount = qMax(recipe.blocks.size(), recipe.track.samples.size());
    const qint64 regionSize = qMax(slotCount * recipe.slot + recipe.blockShift, recipe.regionSize);
    const qint64 delta = top.size() + pad + regionSize;
    if (mdat.size + pad + regionSize > 0xFFFFFFFFll)
        return false;

    QVector<QPair<qint64, QByteArray>> pieces; // offsets within the region
    QByteArray index;
    for (int i = 0; i < recipe.blocks.size(); ++i) {
        pieces.append({i * recipe.slot + recipe.blockShift, recipe.blocks[i]});
        index += gpsBe32(quint32(regionStart + i * recipe.slot + recipe.blockShift)) +
                 gpsBe32(quint32(recipe.blocks[i].size()));
    }
    QVector<qint64> sampleOffsets;
    for (int i = 0; i < recipe.track.samples.size(); ++i) {
        pieces.append({i * recipe.slot + recipe.slot / 2, recipe.track.samples[i]});
        sampleOffsets.append(regionStart + i * recipe.slot + recipe.slot / 2);
    }
    std::sort(pieces.begin(), pieces.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &entry : recipe.extraEntries)
        index += gpsBe32(entry.first) + gpsBe32(entry.second);

    QByteArray newMoov = data.mid(int(moov.offset));
    shiftChunkOffsets(newMoov, 8, newMoov.size(), delta);
    const TopBox mvhd = topLevel(newMoov.mid(8), "mvhd");
    if (mvhd.offset < 0)
        return false;
    if (recipe.creationTime)
        qToBigEndian(recipe.creationTime, newMoov.data() + 8 + mvhd.offset + 12);
    if (recipe.index && !index.isEmpty()) {
        const quint32 count =
            recipe.indexCount >= 0 ? quint32(recipe.indexCount) : quint32(index.size() / 8);
        newMoov.insert(int(8 + mvhd.offset + mvhd.size),
                       gpsBox("gps ", QByteArray("\x00\x00\x01\x01", 4) + gpsBe32(count) + index));
    }
    if (!recipe.track.format.isEmpty())
        newMoov += metaTrak(recipe.track, sampleOffsets);
    qToBigEndian(quint32(newMoov.size()), newMoov.data());

    QByteArray head = data.left(int(mdat.offset + 8));
    head.insert(int(ftyp.size), top);
    qToBigEndian(quint32(mdat.size + pad + regionSize),
                 head.data() + ftyp.size + top.size() + (mdat.offset - ftyp.size));

    QFile out(dest);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    bool ok = out.write(head) == head.size() && writeZeros(out, pad);
    qint64 at = 0;
    for (const auto &piece : pieces) {
        ok = ok && piece.first >= at && writeZeros(out, piece.first - at) &&
             out.write(piece.second) == piece.second.size();
        at = piece.first + piece.second.size();
    }
    ok = ok && at <= regionSize && writeZeros(out, regionSize - at);
    const QByteArray rest = data.mid(int(mdat.offset + 8), int(mdat.size - 8));
    ok = ok && out.write(rest) == rest.size() && out.write(newMoov) == newMoov.size();
    return ok;
}
