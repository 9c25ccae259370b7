// The subtitle stream: every text of the recording's subtitle stream through
// parseLocation, read with a stream reader of its own.
#include "gpssources.h"
#include "nmea.h"
#include "streamreader.h"

#include <QFile>

namespace {

// Frees the rectangles of one decoded subtitle on every path.
struct SubtitleGuard
{
    AVSubtitle subtitle{};
    ~SubtitleGuard() { avsubtitle_free(&subtitle); }
};

// One text of the subtitle stream that parsed, with the checksum of its sentence.
struct SubtitleFix
{
    OxLocation fix;
    NmeaChecksum checksum = NmeaChecksum::Absent;
};

// The fixes of every subtitle text of the recording, in file order; false when it has
// no subtitle stream with a decoder.
bool readSubtitleFixes(const QString &path, std::vector<SubtitleFix> &fixes)
{
    StreamReader reader;
    if (reader.open(QFile::encodeName(path).constData()) < 0 || !reader.subtitleStream() ||
        !reader.subtitleContext()) {
        reader.close();
        return false;
    }

    // Only the subtitle packets matter: with every other stream discarded the
    // demuxer skips the picture and sound payloads instead of reading them.
    AVFormatContext *format = reader.formatContext();
    const int subtitleIndex = reader.subtitleStream()->index;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (int(i) != subtitleIndex)
            format->streams[i]->discard = AVDISCARD_ALL;
    }

    AVCodecContext *decoder = reader.subtitleContext();
    AVPacketPtr packet = makePacket();
    if (!packet) {
        reader.close();
        return false;
    }
    while (reader.readFrame(packet.get()) >= 0) {
        if (reader.isSubtitlePacket(packet.get())) {
            SubtitleGuard guard;
            int got = 0;
            if (avcodec_decode_subtitle2(decoder, &guard.subtitle, &got, packet.get()) >= 0 &&
                got) {
                for (unsigned r = 0; r < guard.subtitle.num_rects; ++r) {
                    const AVSubtitleRect *rect = guard.subtitle.rects[r];
                    if (!rect || (!rect->ass && !rect->text))
                        continue;
                    const QByteArray text = subtitleCueText(rect->ass, rect->text);
                    SubtitleFix parsed;
                    if (parseLocation(text.constData(), parsed.fix, parsed.checksum) == 0)
                        fixes.push_back(parsed);
                }
            }
        }
        av_packet_unref(packet.get());
    }
    reader.close();
    return true;
}

// The fixes into the track with the duplicate rule; with a filter, those it accepts.
void appendFixes(const std::vector<SubtitleFix> &fixes, OxTrack &track, GpsTextFilter *filter)
{
    for (const SubtitleFix &parsed : fixes) {
        if (!track.isEmpty() && track.last() == parsed.fix)
            continue;
        if (!filter || filter->accept(parsed.fix, parsed.checksum))
            track.append(parsed.fix);
    }
}

class SubtitleSource : public GpsSource
{
public:
    const char *name() const override { return "subtitle stream"; }
    bool detect(GpsRecording &recording) override { return !recording.path().isEmpty(); }
    void read(GpsRecording &recording, OxTrack &track, GpsReadStats &stats) override
    {
        std::vector<SubtitleFix> fixes;
        track.clear();
        if (!readSubtitleFixes(recording.path(), fixes))
            return;
        readTextSource([&](GpsTextFilter &filter) { appendFixes(fixes, track, &filter); }, track,
                       stats);
    }
};

} // namespace

GpsSource *subtitleSource()
{
    static SubtitleSource source;
    return &source;
}

bool loadTrackFromSubtitles(OxTrack &track, const QString &path)
{
    track.clear();
    std::vector<SubtitleFix> fixes;
    if (!readSubtitleFixes(path, fixes))
        return false;
    appendFixes(fixes, track, nullptr);
    return !track.isEmpty();
}
