#include "streamreader.h"

#include <QDebug>

#include <sys/stat.h>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/time.h>
}

namespace {

// The demuxers of the containers recordings come in. Others can open further files
// named inside the file they read (playlists, concatenation lists, image sequences).
constexpr char kContainers[] = "mov,avi,matroska";

// Something is there, and it is not a regular file (or a link to one): opening it
// could block (a FIFO, a device) or read without end.
bool isSomethingElse(const char *path)
{
    struct stat info = {};
    return ::stat(path, &info) == 0 && !S_ISREG(info.st_mode);
}

// The stop flag of the thread running now (see setThreadStopFlag).
thread_local const std::atomic<bool> *threadStop = nullptr;

double seconds(AVRational timeBase, int64_t value)
{
    return double(value) * timeBase.num / timeBase.den;
}

} // namespace

StreamReader::StreamReader() = default;

StreamReader::~StreamReader()
{
    // Not virtual dispatch on purpose: a derived part is already gone here.
    StreamReader::close();
}

int StreamReader::open(const char *path, AVDictionary **options)
{
    if (m_format)
        close();
    m_fileName = path ? QByteArray(path) : QByteArray();
    return openFormat(path, nullptr, options);
}

int StreamReader::openFormat(const char *path, const AVInputFormat *fmt, AVDictionary **options)
{
    m_format.reset(avformat_alloc_context());
    if (!m_format) {
        close();
        return AVERROR(ENOMEM);
    }
    const int r = openInput(path, fmt, options);
    if (r < 0) {
        close();
        return r;
    }
    return r;
}

void StreamReader::setThreadStopFlag(const std::atomic<bool> *stop)
{
    threadStop = stop;
}

// FFmpeg calls this on the thread that waits for the file.
int StreamReader::interrupted(void *opaque)
{
    const auto *reader = static_cast<const StreamReader *>(opaque);
    return (reader->m_stop && reader->m_stop->load()) || (threadStop && threadStop->load()) ||
           av_gettime_relative() > reader->m_deadline;
}

void StreamReader::startDeadline()
{
    m_deadline = av_gettime_relative() + int64_t(m_timeLimitMs) * 1000;
}

int StreamReader::openInput(const char *path, const AVInputFormat *fmt, AVDictionary **options)
{
    m_duration = 0;
    if (!path)
        path = "";
    if (isSomethingElse(path)) {
        const int e = AVERROR(EINVAL);
        qDebug("avformat_open_input(%s) = %x, not a regular file", path, unsigned(e));
        m_format.reset();
        return e;
    }
    if (!m_format)
        m_format.reset(avformat_alloc_context());
    if (!m_format)
        return AVERROR(ENOMEM);
    startDeadline();
    m_format->interrupt_callback = AVIOInterruptCB{&StreamReader::interrupted, this};
    m_format->protocol_whitelist = av_strdup("file");
    m_format->format_whitelist = av_strdup(kContainers);
    // The file protocol by name: "http://x/y.mp4" or "pipe:0" is then a local file name.
    const QByteArray local = QByteArray("file:") + path;
    // avformat_open_input frees the context itself when it fails.
    AVFormatContext *context = m_format.release();
    const int e = avformat_open_input(&context, local.constData(), fmt, options);
    m_format.reset(context);
    if (e < 0) {
        qDebug("avformat_open_input(%s) = %x, %s", path, unsigned(e), qPrintable(avErrorText(e)));
        return e;
    }
    // The open options are for the demuxer; stream analysis takes one dictionary per
    // stream, which no caller has.
    const int r = avformat_find_stream_info(m_format.get(), nullptr);
    if (r < 0)
        return r;
    av_dump_format(m_format.get(), -1, path, 0);

    for (unsigned i = 0; i < m_format->nb_streams; ++i)
        selectStream(m_format->streams[i]);

    const AVStream *timed = m_videoStream ? m_videoStream : m_audioStream;
    if (timed && timed->duration != AV_NOPTS_VALUE && timed->duration > 0)
        m_duration = seconds(timed->time_base, timed->duration);
    else if (m_format->duration != AV_NOPTS_VALUE && m_format->duration > 0)
        // Some AVI and cut recordings leave the stream's own duration unset.
        m_duration = double(m_format->duration) / AV_TIME_BASE;

    for (int kind = 0; kind < KindCount; ++kind)
        rememberFirstDts(kind);
    return r;
}

AVCodecContextPtr StreamReader::makeContext(AVStream *stream, bool video, int *result) const
{
    *result = -1;
    AVCodecContextPtr context(avcodec_alloc_context3(nullptr));
    if (!context || avcodec_parameters_to_context(context.get(), stream->codecpar) < 0)
        return nullptr;
    context->pkt_timebase = stream->time_base;
    if (video)
        context->thread_count = 0; // automatic: frame threads keep 1080p up on two cores
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec && avcodec_open2(context.get(), codec, nullptr) >= 0)
        *result = 0;
    return context;
}

int StreamReader::selectStream(AVStream *stream)
{
    if (!stream || !stream->codecpar)
        return -1;
    int result = -1;
    switch (stream->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        if (m_videoOrdinal >= 0 && videoOrdinal(stream) != m_videoOrdinal)
            return 0;
        // Selected even when its decoder fails: decoding then fails packet by packet.
        openVideoDecoder(stream);
        if (!m_videoContext) {
            m_videoStream = nullptr;
            return -1;
        }
        m_videoStream = stream;
        m_firstDts[Video] = AV_NOPTS_VALUE;
        return 0;
    case AVMEDIA_TYPE_AUDIO: {
        AVCodecContextPtr context = makeContext(stream, false, &result);
        if (result < 0)
            return -1;
        m_audioContext = std::move(context);
        m_audioStream = stream;
        m_firstDts[Audio] = AV_NOPTS_VALUE;
        return 0;
    }
    case AVMEDIA_TYPE_SUBTITLE: {
        AVCodecContextPtr context = makeContext(stream, false, &result);
        if (result < 0)
            return -1;
        m_subtitleContext = std::move(context);
        m_subtitleStream = stream;
        m_firstDts[Subtitle] = AV_NOPTS_VALUE;
        return 0;
    }
    default:
        return 0;
    }
}

int StreamReader::videoOrdinal(const AVStream *stream) const
{
    int ordinal = 0;
    for (unsigned i = 0; m_format && i < m_format->nb_streams; ++i) {
        const AVStream *other = m_format->streams[i];
        if (other == stream)
            return ordinal;
        if (other->codecpar && other->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            ++ordinal;
    }
    return -1;
}

int StreamReader::openVideoDecoder(AVStream *stream)
{
    if (!stream || !stream->codecpar)
        return -1;
    int result = -1;
    m_videoContext = makeContext(stream, true, &result);
    return result;
}

void StreamReader::rememberFirstDts(int kind)
{
    // FFmpeg no longer exposes the demuxer's first dts. The index of mp4, mov and avi
    // holds it; otherwise it is taken from the first packet read (normalizeTimestamps).
    const AVStream *streams[KindCount] = {m_videoStream, m_audioStream, m_subtitleStream};
    AVStream *stream = const_cast<AVStream *>(streams[kind]);
    if (!stream || m_firstDts[kind] != AV_NOPTS_VALUE)
        return;
    if (avformat_index_get_entries_count(stream) > 0) {
        const AVIndexEntry *first = avformat_index_get_entry(stream, 0);
        if (first && first->timestamp != AV_NOPTS_VALUE)
            m_firstDts[kind] = first->timestamp;
    }
}

int StreamReader::kindOf(const AVPacket *packet) const
{
    if (!packet)
        return -1;
    if (m_videoStream && packet->stream_index == m_videoStream->index)
        return Video;
    if (m_audioStream && packet->stream_index == m_audioStream->index)
        return Audio;
    if (m_subtitleStream && packet->stream_index == m_subtitleStream->index)
        return Subtitle;
    return -1;
}

int StreamReader::readFrame(AVPacket *packet)
{
    if (!m_format || !packet)
        return AVERROR(EINVAL);
    startDeadline();
    const int r = av_read_frame(m_format.get(), packet);
    if (r >= 0 && normalize)
        normalizeTimestamps(packet);
    return r;
}

void StreamReader::normalizeTimestamps(AVPacket *packet)
{
    const int kind = kindOf(packet);
    if (kind < 0)
        return;
    const AVStream *streams[KindCount] = {m_videoStream, m_audioStream, m_subtitleStream};
    const AVStream *stream = streams[kind];

    if (packet->dts != AV_NOPTS_VALUE && m_firstDts[kind] == AV_NOPTS_VALUE)
        m_firstDts[kind] = packet->dts;
    if (packet->pts == AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE)
        packet->pts = packet->dts;
    if (stream->start_time == AV_NOPTS_VALUE)
        return;
    // A packet without timestamps stays without: shifting "unset" would invent a time.
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts -= stream->start_time;
    if (packet->dts != AV_NOPTS_VALUE)
        packet->dts -= m_firstDts[kind];
}

bool StreamReader::isVideoPacket(const AVPacket *p) const
{
    return m_videoStream && p && p->stream_index == m_videoStream->index;
}

bool StreamReader::isAudioPacket(const AVPacket *p) const
{
    return m_audioStream && p && p->stream_index == m_audioStream->index;
}

bool StreamReader::isSubtitlePacket(const AVPacket *p) const
{
    return m_subtitleStream && p && p->stream_index == m_subtitleStream->index;
}

int StreamReader::seek(double target, int flags)
{
    if (!m_format || target < 0 || target > m_duration)
        return -1;
    // Positions are relative to the start of the recording; the demuxer counts from
    // the container's own start time.
    int64_t timestamp = int64_t(target * AV_TIME_BASE);
    if (m_format->start_time != AV_NOPTS_VALUE)
        timestamp += m_format->start_time;
    // A stream whose first dts is still unknown will not see its first packet now.
    const AVStream *streams[KindCount] = {m_videoStream, m_audioStream, m_subtitleStream};
    for (int kind = 0; kind < KindCount; ++kind) {
        if (streams[kind] && m_firstDts[kind] == AV_NOPTS_VALUE)
            m_firstDts[kind] = streams[kind]->start_time;
    }
    startDeadline();
    const int r = av_seek_frame(m_format.get(), -1, timestamp, flags);
    if (r >= 0) {
        if (m_videoContext && avcodec_is_open(m_videoContext.get()))
            avcodec_flush_buffers(m_videoContext.get());
        if (m_audioContext && avcodec_is_open(m_audioContext.get()))
            avcodec_flush_buffers(m_audioContext.get());
    }
    return r;
}

int StreamReader::close()
{
    m_videoStream = m_audioStream = m_subtitleStream = nullptr;
    m_videoContext.reset();
    m_audioContext.reset();
    m_subtitleContext.reset();
    m_format.reset();
    m_fileName.clear();
    for (int64_t &dts : m_firstDts)
        dts = AV_NOPTS_VALUE;
    return 0;
}

int StreamReader::decodeNextPicture(AVFrame *frame, const std::atomic<bool> *stop)
{
    AVCodecContext *decoder = videoContext();
    if (!frame || !decoder || !avcodec_is_open(decoder))
        return -1;
    AVPacketPtr packet = makePacket();
    if (!packet)
        return AVERROR(ENOMEM);
    bool draining = false;
    while (!(stop && stop->load())) {
        if (!draining) {
            if (readFrame(packet.get()) < 0) {
                // End of file (or a damaged one): pictures held by frame threads come out.
                avcodec_send_packet(decoder, nullptr);
                draining = true;
            } else if (isVideoPacket(packet.get())) {
                const int sent = avcodec_send_packet(decoder, packet.get());
                av_packet_unref(packet.get());
                if (sent < 0 && sent != AVERROR(EAGAIN))
                    continue;
            } else {
                av_packet_unref(packet.get());
                continue;
            }
        }
        if (avcodec_receive_frame(decoder, frame) >= 0)
            return 0;
        if (draining)
            return AVERROR_EOF; // nothing more to get out
    }
    return -1;
}
