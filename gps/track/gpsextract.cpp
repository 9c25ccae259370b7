#include "gpsextract.h"
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

} // namespace

bool loadTrackFromSubtitles(OxTrack &track, const QString &path)
{
    track.clear();
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
                    OxLocation fix;
                    if (parseLocation(text.constData(), fix) == 0)
                        appendFix(track, fix);
                }
            }
        }
        av_packet_unref(packet.get());
    }
    reader.close();
    return !track.isEmpty();
}
