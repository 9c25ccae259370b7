#pragma once

// Owning handles for FFmpeg objects: an early return can never leak one.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/error.h>
#include <libavutil/fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <QString>
#include <memory>

namespace oxffmpeg {

struct FormatContextDeleter
{
    void operator()(AVFormatContext *p) const
    {
        // Opened contexts need avformat_close_input; one that never opened only needs
        // freeing, and avformat_close_input handles both.
        avformat_close_input(&p);
    }
};
struct CodecContextDeleter
{
    void operator()(AVCodecContext *p) const { avcodec_free_context(&p); }
};
struct FrameDeleter
{
    void operator()(AVFrame *p) const { av_frame_free(&p); }
};
struct PacketDeleter
{
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct SwsContextDeleter
{
    void operator()(SwsContext *p) const { sws_freeContext(p); }
};
struct SwrContextDeleter
{
    void operator()(SwrContext *p) const { swr_free(&p); }
};
struct FifoDeleter
{
    void operator()(AVFifo *p) const { av_fifo_freep2(&p); }
};
struct AudioFifoDeleter
{
    void operator()(AVAudioFifo *p) const { av_audio_fifo_free(p); }
};
// A muxer made by avformat_alloc_output_context2. Its file is closed here only on the
// way out of a failure; a writer that finishes closes it with avio_closep to see the
// error of the last write.
struct OutputFormatContextDeleter
{
    void operator()(AVFormatContext *p) const
    {
        if (p->oformat && !(p->oformat->flags & AVFMT_NOFILE))
            avio_closep(&p->pb);
        avformat_free_context(p);
    }
};
struct AvFreeDeleter
{
    void operator()(void *p) const { av_free(p); }
};

} // namespace oxffmpeg

using AVFormatContextPtr = std::unique_ptr<AVFormatContext, oxffmpeg::FormatContextDeleter>;
using AVCodecContextPtr = std::unique_ptr<AVCodecContext, oxffmpeg::CodecContextDeleter>;
using AVFramePtr = std::unique_ptr<AVFrame, oxffmpeg::FrameDeleter>;
using AVPacketPtr = std::unique_ptr<AVPacket, oxffmpeg::PacketDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, oxffmpeg::SwsContextDeleter>;
using SwrContextPtr = std::unique_ptr<SwrContext, oxffmpeg::SwrContextDeleter>;
using AVFifoPtr = std::unique_ptr<AVFifo, oxffmpeg::FifoDeleter>;
using AVAudioFifoPtr = std::unique_ptr<AVAudioFifo, oxffmpeg::AudioFifoDeleter>;
using AVOutputFormatContextPtr =
    std::unique_ptr<AVFormatContext, oxffmpeg::OutputFormatContextDeleter>;
// Buffers from av_malloc.
using AVBufferPtr = std::unique_ptr<uint8_t, oxffmpeg::AvFreeDeleter>;

inline AVFramePtr makeFrame()
{
    return AVFramePtr(av_frame_alloc());
}

inline AVPacketPtr makePacket()
{
    return AVPacketPtr(av_packet_alloc());
}

// FFmpeg error code as text, for the debug lines that show "%x, %s".
inline QString avErrorText(int error)
{
    char text[1024] = {0};
    av_strerror(error, text, sizeof(text));
    return QString::fromUtf8(text);
}
