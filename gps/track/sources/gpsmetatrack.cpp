#include "gpsmetatrack.h"

namespace {

// Tables larger than this are read only in part: a million samples.
constexpr qint64 kMaxTable = qint64(4) << 20;

struct TrackTables
{
    QByteArray format;
    double timescale = 0;
    QByteArray stts, stsc, stsz, stco;
    bool wideOffsets = false;
};

std::optional<GpsBox> child(GpsRecording &recording, const GpsBox &parent, const char *type)
{
    for (const GpsBox &box : recording.children(parent)) {
        if (box.type == type)
            return box;
    }
    return std::nullopt;
}

QByteArray payloadOf(GpsRecording &recording, const std::optional<GpsBox> &box)
{
    return box ? recording.read(box->payloadOffset(), box->payloadSize(), kMaxTable) : QByteArray();
}

std::optional<TrackTables> metaTrack(GpsRecording &recording, const char *format)
{
    const std::optional<GpsBox> moov = recording.topLevelBox("moov");
    if (!moov)
        return std::nullopt;
    for (const GpsBox &trak : recording.children(*moov)) {
        if (trak.type != "trak")
            continue;
        const std::optional<GpsBox> mdia = child(recording, trak, "mdia");
        if (!mdia)
            continue;
        const QByteArray hdlr = payloadOf(recording, child(recording, *mdia, "hdlr"));
        if (hdlr.mid(8, 4) != "meta")
            continue;
        const std::optional<GpsBox> minf = child(recording, *mdia, "minf");
        const std::optional<GpsBox> stbl = minf ? child(recording, *minf, "stbl") : std::nullopt;
        if (!stbl)
            continue;
        TrackTables t;
        t.format = payloadOf(recording, child(recording, *stbl, "stsd")).mid(12, 4);
        if (t.format != format)
            continue;
        const QByteArray mdhdPayload = payloadOf(recording, child(recording, *mdia, "mdhd"));
        const GpsBytes mdhd(mdhdPayload);
        t.timescale = mdhd.u8(0) == 1 ? mdhd.be<quint32>(20) : mdhd.be<quint32>(12);
        t.stts = payloadOf(recording, child(recording, *stbl, "stts"));
        t.stsc = payloadOf(recording, child(recording, *stbl, "stsc"));
        t.stsz = payloadOf(recording, child(recording, *stbl, "stsz"));
        t.stco = payloadOf(recording, child(recording, *stbl, "stco"));
        if (t.stco.isEmpty()) {
            t.stco = payloadOf(recording, child(recording, *stbl, "co64"));
            t.wideOffsets = true;
        }
        return t;
    }
    return std::nullopt;
}

} // namespace

bool hasMetadataTrack(GpsRecording &recording, const char *format)
{
    return bool(metaTrack(recording, format));
}

QVector<GpsMetaSample> metadataSamples(GpsRecording &recording, const char *format, int &skipped)
{
    QVector<GpsMetaSample> samples;
    const std::optional<TrackTables> t = metaTrack(recording, format);
    if (!t || t->timescale <= 0)
        return samples;

    // Every count is capped by the entries its table really holds.
    const GpsBytes stsz(t->stsz);
    const qint64 fixedSize = stsz.be<quint32>(4);
    qint64 count = stsz.be<quint32>(8);
    if (fixedSize == 0)
        count = qMin(count, qMax<qint64>(0, (stsz.size() - 12) / 4));
    else
        count = qMin(count, kMaxTable / 4);
    const GpsBytes stco(t->stco);
    const int offsetWidth = t->wideOffsets ? 8 : 4;
    const qint64 chunks =
        qMin<qint64>(stco.be<quint32>(4), qMax<qint64>(0, (stco.size() - 8) / offsetWidth));
    const GpsBytes stsc(t->stsc);
    const qint64 runs = qMin<qint64>(stsc.be<quint32>(4), qMax<qint64>(0, (stsc.size() - 8) / 12));
    if (count <= 0 || chunks <= 0 || runs <= 0)
        return samples;
    samples.reserve(int(qMin(count, chunks * 64)));

    // Durations: runs of (count, delta) in timescale units.
    const GpsBytes stts(t->stts);
    const qint64 timeRuns =
        qMin<qint64>(stts.be<quint32>(4), qMax<qint64>(0, (stts.size() - 8) / 8));
    qint64 timeRun = 0;
    qint64 leftInRun = timeRuns > 0 ? stts.be<quint32>(8) : 0;
    double ticks = 0;

    qint64 sample = 0;
    qint64 run = 0;
    for (qint64 chunk = 1; chunk <= chunks && sample < count; ++chunk) {
        while (run + 1 < runs && stsc.be<quint32>(8 + 12 * (run + 1)) <= chunk)
            ++run;
        const qint64 perChunk = stsc.be<quint32>(8 + 12 * run + 4);
        qint64 offset = t->wideOffsets ? qint64(stco.be<quint64>(8 + 8 * (chunk - 1)))
                                       : qint64(stco.be<quint32>(8 + 4 * (chunk - 1)));
        for (qint64 k = 0; k < perChunk && sample < count; ++k, ++sample) {
            const qint64 size = fixedSize ? fixedSize : stsz.be<quint32>(12 + 4 * sample);
            while (leftInRun == 0 && timeRun + 1 < timeRuns) {
                ++timeRun;
                leftInRun = stts.be<quint32>(8 + 8 * timeRun);
            }
            const qint64 delta = timeRun < timeRuns ? stts.be<quint32>(12 + 8 * timeRun) : 0;
            if (leftInRun > 0)
                --leftInRun;
            GpsMetaSample s;
            s.offset = offset;
            s.size = size;
            s.time = ticks / t->timescale;
            s.duration = delta / t->timescale;
            ticks += delta;
            if (offset >= 0 && size > 0 && offset <= recording.size() &&
                size <= recording.size() - offset)
                samples.append(s);
            else
                ++skipped;
            offset += size;
            if (offset < 0 || offset > recording.size())
                break; // a damaged size: the rest of this chunk is not in the file
        }
    }
    return samples;
}
