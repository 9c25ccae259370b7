// The table of sources, the GPS step that runs it, and the box walk of the recording
// that most sources share.
#include "gpssource.h"
#include "gpssources.h"

#include <QFile>
#include <QtEndian>

namespace {

// A level of garbage could hold a box every 8 bytes; no real recording has
// this many boxes side by side.
constexpr int kMaxBoxesPerLevel = 4096;
// Seconds from 1904-01-01 (the box clock) to 1970-01-01.
constexpr qint64 kBoxEpoch = 2082844800;

} // namespace

GpsRecording::GpsRecording(QIODevice &device, const QString &path)
    : io(device), filePath(path), fileSize(device.size())
{
}

QByteArray GpsRecording::read(qint64 offset, qint64 length, qint64 maxBytes)
{
    if (offset < 0 || offset >= fileSize || length <= 0)
        return QByteArray();
    const qint64 n = qMin(qMin(length, fileSize - offset), maxBytes);
    if (!io.seek(offset))
        return QByteArray();
    return io.read(n);
}

QVector<GpsBox> GpsRecording::walk(qint64 from, qint64 to)
{
    QVector<GpsBox> boxes;
    qint64 pos = from;
    while (pos <= to - 8 && boxes.size() < kMaxBoxesPerLevel) {
        const QByteArray header = read(pos, 16);
        if (header.size() < 8)
            break;
        const auto *h = reinterpret_cast<const uchar *>(header.constData());
        GpsBox box;
        box.offset = pos;
        box.type = header.mid(4, 4);
        const quint32 size32 = qFromBigEndian<quint32>(h);
        if (size32 == 1) {
            if (header.size() < 16)
                break;
            const quint64 size64 = qFromBigEndian<quint64>(h + 8);
            box.headerSize = 16;
            box.size = size64 > quint64(to - pos) ? -1 : qint64(size64);
        } else if (size32 == 0) {
            box.size = to - pos;
        } else {
            box.size = size32;
        }
        if (box.size < box.headerSize || box.size > to - pos)
            break;
        boxes.append(box);
        pos += box.size;
    }
    return boxes;
}

const QVector<GpsBox> &GpsRecording::topLevel()
{
    if (!top)
        top = walk(0, fileSize);
    return *top;
}

QVector<GpsBox> GpsRecording::children(const GpsBox &parent)
{
    return walk(parent.payloadOffset(), parent.end());
}

std::optional<GpsBox> GpsRecording::topLevelBox(const char *type)
{
    for (const GpsBox &box : topLevel()) {
        if (box.type == type)
            return box;
    }
    return std::nullopt;
}

std::optional<GpsBox> GpsRecording::moovChild(const char *type)
{
    const std::optional<GpsBox> moov = topLevelBox("moov");
    if (!moov)
        return std::nullopt;
    for (const GpsBox &box : children(*moov)) {
        if (box.type == type)
            return box;
    }
    return std::nullopt;
}

std::optional<qint64> GpsRecording::creationTime()
{
    const std::optional<GpsBox> mvhd = moovChild("mvhd");
    if (!mvhd)
        return std::nullopt;
    const QByteArray payload = read(mvhd->payloadOffset(), qMin<qint64>(mvhd->payloadSize(), 12));
    if (payload.size() < 8)
        return std::nullopt;
    const auto *p = reinterpret_cast<const uchar *>(payload.constData());
    qint64 seconds = 0;
    if (p[0] == 1) {
        if (payload.size() < 12)
            return std::nullopt;
        seconds = qint64(qFromBigEndian<quint64>(p + 4) & 0x7FFFFFFFFFFFFFFFull);
    } else {
        seconds = qFromBigEndian<quint32>(p + 4);
    }
    if (seconds == 0)
        return std::nullopt; // not set
    return seconds - kBoxEpoch;
}

const QVector<GpsSource *> &gpsSources()
{
    // The first two give today's tracks; the others only run when both give nothing.
    static const QVector<GpsSource *> sources = {
        subtitleSource(), boxTextSource(),     indexedBlockSource(), scannedBlockSource(),
        nmeaBoxSource(),  topLevelBoxSource(), klvTrackSource(),     cammTrackSource(),
    };
    return sources;
}

OxTrack loadTrackFrom(GpsRecording &recording, GpsReport *report)
{
    OxTrack track;
    int skipped = 0;
    for (GpsSource *source : gpsSources()) {
        if (!source->detect(recording))
            continue;
        GpsReadStats stats;
        track.clear();
        source->read(recording, track, stats);
        skipped += stats.skipped;
        if (!track.isEmpty()) {
            if (report)
                *report = {QString::fromLatin1(source->name()), stats.skipped,
                           stats.keptBadChecksums};
            return track;
        }
    }
    if (report)
        *report = {QString(), skipped, false};
    return {};
}

void appendFix(OxTrack &track, const OxLocation &fix)
{
    if (!track.isEmpty() && track.last() == fix)
        return;
    track.append(fix);
}

OxTrack loadTrack(const QString &path, GpsReport *report)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        // Without a file to read there is still the subtitle stream, as before.
        GpsRecording unread(file, path);
        OxTrack track;
        GpsReadStats stats;
        subtitleSource()->read(unread, track, stats);
        if (report)
            *report = {track.isEmpty() ? QString() : QString::fromLatin1(subtitleSource()->name()),
                       stats.skipped, stats.keptBadChecksums};
        return track;
    }
    GpsRecording recording(file, path);
    return loadTrackFrom(recording, report);
}
