#include "oxjpeg.h"

#include "ffmpeg_ptr.h"
#include "localfiles.h"
#include "streamreader.h"

#include <QSaveFile>

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace {

bool encoderLists(const AVCodec *codec, AVPixelFormat format)
{
    if (!codec->pix_fmts)
        return false;
    for (const AVPixelFormat *f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
        if (*f == format)
            return true;
    }
    return false;
}

// Full-range formats only: the encoder refuses limited-range YUV unless told to write
// a non-standard file, and JPEG readers would show it washed out anyway.
bool isFullRangeJpegFormat(AVPixelFormat format)
{
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
           format == AV_PIX_FMT_YUVJ444P;
}

int writeFile(const QString &path, const AVPacket *packet)
{
    // A temporary file renamed over the target: a longer old file leaves no tail, and a
    // failed write leaves no half-written JPEG. Unbuffered, so that a write cut short by
    // a full disk shows in write()'s count: QSaveFile commits a buffered file whose last
    // flush failed.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return -1;
    if (file.write(reinterpret_cast<const char *>(packet->data), packet->size) != packet->size) {
        file.cancelWriting();
        return -1;
    }
    return file.commit() ? 0 : -1;
}

int probe(const char *path, ProbeResult &result, const std::atomic<bool> *stop)
{
    StreamReader reader;
    reader.setStopFlag(stop);
    const int opened = reader.open(path);
    if (opened < 0)
        return opened;

    result.duration = reader.duration();
    AVStream *stream = reader.videoStream();
    AVCodecContext *decoder = reader.videoContext();
    if (stream && decoder) {
        const AVRational rate = stream->avg_frame_rate;
        result.fps = rate.den ? av_q2d(rate) : 0;
        result.width = decoder->width;
        result.height = decoder->height;
    } else {
        result.fps = 0;
        result.width = 0;
        result.height = 0;
    }

    int ret = opened;
    // An empty or cut thumbnail (a full disk) is written again.
    if (!decoder || !avcodec_is_open(decoder) || result.thumb.isEmpty() ||
        isUsableJpeg(result.thumb)) {
        reader.close();
        return ret;
    }

    AVFramePtr frame = makeFrame();
    if (frame && reader.decodeNextPicture(frame.get(), stop) >= 0 &&
        saveFrameAsJpeg(frame.get(), result.thumb) >= 0)
        ret = 0;
    reader.close();
    return ret;
}

} // namespace

int saveFrameAsJpeg(const AVFrame *frame, const QString &path)
{
    if (!frame || frame->width <= 0 || frame->height <= 0 || path.isEmpty())
        return -1;
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (!codec)
        return AVERROR_ENCODER_NOT_FOUND;
    AVCodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context)
        return AVERROR(ENOMEM);

    context->codec_id = AV_CODEC_ID_MJPEG;
    context->codec_type = AVMEDIA_TYPE_VIDEO;
    context->width = frame->width;
    context->height = frame->height;
    context->bit_rate = 32000;
    context->time_base = AVRational{1, 30};
    context->flags |= AV_CODEC_FLAG_QSCALE;
    context->global_quality = context->qmin * FF_QP2LAMBDA;
    context->mb_lmin = context->qmin * FF_QP2LAMBDA;
    context->mb_lmax = context->qmax * FF_QP2LAMBDA;

    const auto source = AVPixelFormat(frame->format);
    AVFramePtr picture = makeFrame();
    if (!picture)
        return AVERROR(ENOMEM);
    int r = 0;
    if (isFullRangeJpegFormat(source) && encoderLists(codec, source)) {
        context->pix_fmt = source;
        r = av_frame_ref(picture.get(), frame);
    } else {
        context->pix_fmt = AV_PIX_FMT_YUVJ420P;
        SwsContextPtr scaler(sws_getContext(frame->width, frame->height, source, context->width,
                                            context->height, AV_PIX_FMT_YUVJ420P, SWS_POINT,
                                            nullptr, nullptr, nullptr));
        if (!scaler)
            return -1;
        picture->width = context->width;
        picture->height = context->height;
        picture->format = AV_PIX_FMT_YUVJ420P;
        r = av_frame_get_buffer(picture.get(), 0);
        if (r >= 0)
            r = sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height,
                          picture->data, picture->linesize);
    }
    if (r < 0)
        return r;
    picture->pts = 1;
    picture->quality = context->global_quality;

    r = avcodec_open2(context.get(), codec, nullptr);
    if (r < 0)
        return r;
    r = avcodec_send_frame(context.get(), picture.get());
    if (r < 0)
        return r;
    avcodec_send_frame(context.get(), nullptr);
    AVPacketPtr packet = makePacket();
    if (!packet)
        return AVERROR(ENOMEM);
    r = avcodec_receive_packet(context.get(), packet.get());
    if (r < 0)
        return r;
    return writeFile(path, packet.get());
}

int saveYUV420PAsJpeg(const uint8_t *y, const uint8_t *u, const uint8_t *v, int width, int height,
                      const QString &path)
{
    if (!y || !u || !v || width <= 0 || height <= 0)
        return -1;
    AVFramePtr frame = makeFrame();
    if (!frame)
        return AVERROR(ENOMEM);
    frame->width = width;
    frame->height = height;
    frame->format = AV_PIX_FMT_YUV420P;
    const int chromaWidth = width / 2;
    const int chromaHeight = height / 2;
    if (width % 2 == 0 && height % 2 == 0) {
        // Borrows the planes: no buffer references, so freeing the frame leaves them alone.
        frame->data[0] = const_cast<uint8_t *>(y);
        frame->data[1] = const_cast<uint8_t *>(u);
        frame->data[2] = const_cast<uint8_t *>(v);
        frame->linesize[0] = width;
        frame->linesize[1] = chromaWidth;
        frame->linesize[2] = chromaWidth;
        return saveFrameAsJpeg(frame.get(), path);
    }
    // FFmpeg rounds chroma up for odd sizes while the packed planes hold the rounded-down
    // halves: copy, repeating the last chroma column and row, so nothing reads past them.
    const int r = av_frame_get_buffer(frame.get(), 0);
    if (r < 0)
        return r;
    for (int row = 0; row < height; ++row)
        memcpy(frame->data[0] + row * frame->linesize[0], y + size_t(row) * width, size_t(width));
    const uint8_t *chroma[2] = {u, v};
    const int fullWidth = (width + 1) / 2;
    const int fullHeight = (height + 1) / 2;
    for (int plane = 0; plane < 2; ++plane) {
        for (int row = 0; row < fullHeight; ++row) {
            uint8_t *to = frame->data[plane + 1] + row * frame->linesize[plane + 1];
            if (chromaWidth == 0 || chromaHeight == 0) {
                memset(to, 128, size_t(fullWidth));
                continue;
            }
            const uint8_t *from =
                chroma[plane] + size_t(std::min(row, chromaHeight - 1)) * chromaWidth;
            memcpy(to, from, size_t(chromaWidth));
            if (fullWidth > chromaWidth)
                to[chromaWidth] = from[chromaWidth - 1];
        }
    }
    return saveFrameAsJpeg(frame.get(), path);
}

int probeVideo(const char *path, ProbeResult &result, const std::atomic<bool> *stop)
{
    return probe(path, result, stop);
}
