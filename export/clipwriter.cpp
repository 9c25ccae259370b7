#include "clipwriter.h"

#include "backgroundrelease.h"
#include "exportband.h"
#include "ffmpeg_ptr.h"
#include "streamreader.h"

#include <QFile>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

// Timestamps this close are the same moment.
constexpr double kSameMoment = 1e-3;
// Sound later than this behind its place on the timeline is preceded by silence.
constexpr double kSoundSlack = 0.002;

bool isRegularFile(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

// A FIFO or a device would block the demuxer, so only regular files are opened.
QString openSource(StreamReader &reader, const QString &path)
{
    if (!isRegularFile(path))
        return QStringLiteral("%1 is not a readable file").arg(path);
    const int r = reader.open(QFile::encodeName(path).constData());
    if (r < 0)
        return QStringLiteral("cannot read %1: %2").arg(path, avErrorText(r));
    if (!reader.videoStream() || !reader.videoContext())
        return QStringLiteral("%1 holds no pictures").arg(path);
    return QString();
}

double frameSeconds(const AVFrame *frame, AVRational timeBase)
{
    int64_t ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE)
        ts = frame->pts;
    return ts == AV_NOPTS_VALUE ? std::nan("") : double(ts) * av_q2d(timeBase);
}

AVRational frameRateOf(const AVStream *stream)
{
    for (AVRational rate : {stream->avg_frame_rate, stream->r_frame_rate}) {
        if (rate.num > 0 && rate.den > 0 && av_q2d(rate) >= 1 && av_q2d(rate) <= 240)
            return rate;
    }
    return AVRational{30, 1};
}

// libx264 on a thread of its own. Handing it a picture blocks until one of its frame
// threads is free, which can take a frame's encoding time and far longer on a busy machine
// at the export's low priority; here only this thread waits, and the worker, which decodes
// and composes meanwhile, notices a cancel at once. Pictures go in, packets come back; the
// worker writes them, so this thread never touches the disk.
class PictureEncoder
{
public:
    explicit PictureEncoder(AVCodecContextPtr context)
        : context(std::move(context)), thread([this] { run(); })
    {
    }
    // Stops after the picture in hand and frees the encoder, which waits for its threads.
    ~PictureEncoder()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            quit = true;
        }
        changed.notify_all();
        thread.join();
    }
    PictureEncoder(const PictureEncoder &) = delete;
    PictureEncoder &operator=(const PictureEncoder &) = delete;

    // Hands over a reference to picture, or null for the end of the pictures; waits while
    // the encoder is behind. False when stop was set meanwhile or encoding failed.
    bool push(const AVFrame *picture, const std::atomic<bool> *stop)
    {
        AVFramePtr ref;
        if (picture) {
            ref = makeFrame();
            if (!ref || av_frame_ref(ref.get(), picture) < 0) {
                std::lock_guard<std::mutex> lock(mutex);
                error = QStringLiteral("out of memory");
                return false;
            }
        }
        std::unique_lock<std::mutex> lock(mutex);
        if (!waitFor(lock, stop, [this] { return pictures.size() < kQueued; }))
            return false;
        pictures.push_back(std::move(ref));
        lock.unlock();
        changed.notify_all();
        return true;
    }
    // Waits until the encoder has given every packet after the end of the pictures.
    bool waitDrained(const std::atomic<bool> *stop)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return waitFor(lock, stop, [this] { return drained; });
    }
    // The packets made so far, in order; the error when encoding failed.
    std::deque<AVPacketPtr> take(QString *failure)
    {
        std::lock_guard<std::mutex> lock(mutex);
        *failure = error;
        return std::move(packets);
    }
    const AVCodecContext *codec() const { return context.get(); }

private:
    // Pictures waiting for the encoder: enough to keep it busy while the worker composes.
    static constexpr size_t kQueued = 2;

    template <typename Ready>
    bool waitFor(std::unique_lock<std::mutex> &lock, const std::atomic<bool> *stop, Ready ready)
    {
        // The stop flag is set without a notification, so it is polled.
        while (error.isEmpty() && !ready()) {
            if (stop && stop->load())
                return false;
            changed.wait_for(lock, std::chrono::milliseconds(5));
        }
        return error.isEmpty();
    }

    void run()
    {
        AVPacketPtr packet = makePacket();
        for (;;) {
            AVFramePtr picture;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [this] { return quit || !pictures.empty(); });
                if (quit)
                    return;
                picture = std::move(pictures.front());
                pictures.pop_front();
            }
            changed.notify_all();
            QString failure;
            std::deque<AVPacketPtr> made;
            int r = avcodec_send_frame(context.get(), picture.get());
            while (r >= 0) {
                r = avcodec_receive_packet(context.get(), packet.get());
                if (r >= 0) {
                    made.push_back(makePacket());
                    av_packet_move_ref(made.back().get(), packet.get());
                }
            }
            if (r != AVERROR(EAGAIN) && r != AVERROR_EOF)
                failure = QStringLiteral("encoding failed: %1").arg(avErrorText(r));
            {
                std::lock_guard<std::mutex> lock(mutex);
                for (AVPacketPtr &p : made)
                    packets.push_back(std::move(p));
                error = failure;
                drained = !picture;
            }
            changed.notify_all();
            if (!picture || !failure.isEmpty())
                return;
        }
    }

    AVCodecContextPtr context; // only run() uses it once the thread has started
    std::mutex mutex;
    std::condition_variable changed;
    // Guarded by mutex: written by the worker (pictures, quit) and by run() (the rest).
    std::deque<AVFramePtr> pictures; // null: the end of the pictures
    std::deque<AVPacketPtr> packets;
    QString error;
    bool drained = false;
    bool quit = false;
    std::thread thread; // last, so that it starts after everything it uses
};

// The paired camera's pictures for the moments of the span, read forward once: each rear
// source is opened when the span reaches it, and the latest picture at or before a moment
// is the one shown then. A source that cannot be read shows nothing, with a line on
// standard error: the front is exported alone there.
class RearPictures
{
public:
    explicit RearPictures(const QVector<ExportSource> &sources) : sources(sources) {}

    // The picture for timeline time t; null where there is none.
    const AVFrame *at(double t)
    {
        int want = -1;
        for (int i = 0; i < sources.size() && want < 0; ++i) {
            const ExportSource &s = sources[i];
            if (t >= s.timelineStart - kSameMoment && t < s.timelineStart + s.clipOut - s.clipIn)
                want = i;
        }
        if (want < 0)
            return nullptr;
        const ExportSource &source = sources[want];
        if (want != index)
            open(want, source.clipIn + (t - source.timelineStart));
        if (!reader)
            return nullptr;
        const double fileTime = source.clipIn + (t - source.timelineStart);
        for (;;) {
            if (!hasNext) {
                av_frame_unref(next.get());
                if (ended || reader->decodeNextPicture(next.get()) < 0) {
                    ended = true;
                    break;
                }
                hasNext = true;
            }
            const double time = frameSeconds(next.get(), reader->videoStream()->time_base);
            if (time > fileTime + kSameMoment)
                break;
            std::swap(current, next);
            hasCurrent = true;
            ++shown;
            hasNext = false;
        }
        return hasCurrent ? current.get() : nullptr;
    }

    // Changes whenever at() gives another picture than the time before.
    quint64 pictureSerial() const { return shown; }

    // The reader, for a helper to close after a cancel.
    std::unique_ptr<StreamReader> takeReader() { return std::move(reader); }

private:
    void open(int wanted, double fileTime)
    {
        index = wanted;
        hasCurrent = hasNext = ended = false;
        ++shown;
        reader = std::make_unique<StreamReader>();
        const ExportSource &source = sources[wanted];
        if (source.videoStream >= 0)
            reader->setVideoStreamOrdinal(source.videoStream);
        const QString error = openSource(*reader, source.path);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "dashcam-export: no rear pictures: %s\n", qPrintable(error));
            reader.reset();
            return;
        }
        AVStream *video = reader->videoStream();
        if (fileTime > kSameMoment) {
            const int64_t start = video->start_time == AV_NOPTS_VALUE ? 0 : video->start_time;
            const int64_t target = start + av_rescale_q(llround(fileTime * AV_TIME_BASE),
                                                        AV_TIME_BASE_Q, video->time_base);
            if (av_seek_frame(reader->formatContext(), video->index, target,
                              AVSEEK_FLAG_BACKWARD) >= 0)
                avcodec_flush_buffers(reader->videoContext());
        }
    }

    const QVector<ExportSource> &sources;
    int index = -1;
    std::unique_ptr<StreamReader> reader;
    AVFramePtr current = makeFrame(); // the latest picture at or before the moment asked
    AVFramePtr next = makeFrame();    // the picture after it, once decoded
    bool hasCurrent = false;
    bool hasNext = false;
    bool ended = false;
    quint64 shown = 0;
};

class SpanEncoder
{
public:
    SpanEncoder(const ExportRequest &request, const std::atomic<bool> *stop,
                const std::function<void(double)> &progress)
        : request(request), stop(stop), progress(progress)
    {
    }
    ~SpanEncoder() { av_channel_layout_uninit(&resamplerLayout); }
    SpanEncoder(const SpanEncoder &) = delete;
    SpanEncoder &operator=(const SpanEncoder &) = delete;

    ClipOutcome run(const QString &path);

private:
    bool stopped() const { return stop && stop->load(); }
    void abandon(std::unique_ptr<StreamReader> reader);
    QString probe(const QVector<SpanPart> &parts);
    QString openOutput(const QString &path);
    QString readPart(const SpanPart &part);
    QString decode(AVCodecContext *decoder, const AVPacket *packet, bool video,
                   const SpanPart &part, bool *done);
    QString takePicture(AVFrame *frame, const SpanPart &part, bool *done);
    AVFrame *writablePicture();
    AVFrame *compose(const AVFrame *frame, double timelineSeconds, QString *error);
    void paintBand(AVFrame *picture, double timelineSeconds);
    void paintRear(AVFrame *picture, double timelineSeconds);
    void copyRear(AVFrame *picture, int margin);
    QString takeSound(const AVFrame *frame, const SpanPart &part, bool *done);
    QString resample(const uint8_t **data, int count);
    QString padSilence(int64_t samples);
    QString encodeSound(bool final);
    QString encode(AVCodecContext *encoder, AVStream *stream, const AVFrame *frame);
    QString writePictures();
    QString writePacket(AVPacket *packet, AVRational timeBase, AVStream *stream, bool video);
    QString finish();
    QString writeError(int code) const
    {
        return QStringLiteral("writing the clip failed: %1").arg(avErrorText(code));
    }

    const ExportRequest &request;
    const std::atomic<bool> *stop;
    std::function<void(double)> progress;
    bool cancelled = false;

    // The output's format, taken from the first source (pictures) and the first source
    // with sound.
    int width = 0;
    int height = 0;
    AVRational aspect{0, 1};
    AVRational frameRate{30, 1};
    AVColorSpace colorSpace = AVCOL_SPC_UNSPECIFIED;
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    int sampleRate = 0; // 0: no sound in the output
    int channels = 0;

    AVOutputFormatContextPtr out;
    AVCodecContextPtr videoEncoder; // until the output is open, then pictureEncoder's
    std::unique_ptr<PictureEncoder> pictureEncoder;
    AVRational pictureRate{1, 30}; // the video encoder's time base
    AVCodecContextPtr soundEncoder;
    AVStream *videoStream = nullptr;
    AVStream *soundStream = nullptr;
    AVPacketPtr packet = makePacket();
    AVPacketPtr encoded = makePacket();
    AVFramePtr decoded = makeFrame();

    std::vector<AVFramePtr> pictures; // composed pictures, reused once the encoder let go
    SwsContextPtr scaler;             // for pictures of another size or format
    std::unique_ptr<ExportBand> band;
    AVFramePtr bandPicture; // the band as YUV, converted when its look changes
    SwsContextPtr bandScaler;
    std::unique_ptr<RearPictures> rear; // with a paired camera
    AVFramePtr rearPicture;             // its picture at the size it is drawn
    quint64 rearSerial = 0;             // which of its pictures rearPicture holds; 0: none
    SwsContextPtr rearScaler;

    SwrContextPtr resampler; // per source, made at its first sound
    int resamplerRate = 0;
    int resamplerFormat = -1;
    AVChannelLayout resamplerLayout{};
    AVAudioFifoPtr soundQueue;
    int64_t queuedSamples = 0; // output samples put into soundQueue, silence included
    int64_t soundPts = 0;      // samples handed to the encoder

    AVRational pictureTimeBase{1, 1}; // of the part's streams
    AVRational soundTimeBase{1, 1};
    double lastPictureTime = 0; // in the file, for pictures without a timestamp
    double nextSoundTime = 0;
    int64_t lastPts = -1;
    int pictureCount = 0;
};

ClipOutcome SpanEncoder::run(const QString &path)
{
    ClipOutcome outcome;
    const QVector<SpanPart> parts = spanParts(request);
    QString error =
        parts.isEmpty() ? QStringLiteral("the span lies outside the recordings") : probe(parts);
    if (error.isEmpty())
        error = openOutput(path);
    for (int i = 0; error.isEmpty() && !cancelled && i < parts.size(); ++i)
        error = readPart(parts[i]);
    if (error.isEmpty() && !cancelled && stopped()) {
        cancelled = true;
        abandon(nullptr);
    }
    if (error.isEmpty() && !cancelled && pictureCount == 0)
        error = QStringLiteral("no picture of the recordings lies in the span");
    if (error.isEmpty() && !cancelled)
        error = finish();
    outcome.cancelled = cancelled;
    outcome.error = error;
    outcome.ok = error.isEmpty() && !cancelled;
    outcome.pictures = pictureCount;
    return outcome;
}

QString SpanEncoder::probe(const QVector<SpanPart> &parts)
{
    // Every source is opened once before anything is encoded, so a missing or damaged one
    // ends the export at once.
    bool first = true;
    for (const SpanPart &part : parts) {
        StreamReader reader;
        const QString error = openSource(reader, request.sources[part.source].path);
        if (!error.isEmpty())
            return error;
        if (first) {
            const AVStream *video = reader.videoStream();
            width = video->codecpar->width & ~1; // 4:2:0 needs even sizes
            height = video->codecpar->height & ~1;
            if (width <= 0 || height <= 0)
                return QStringLiteral("%1 holds no pictures")
                    .arg(request.sources[part.source].path);
            aspect = video->codecpar->sample_aspect_ratio;
            frameRate = frameRateOf(video);
            colorSpace = video->codecpar->color_space;
            primaries = video->codecpar->color_primaries;
            transfer = video->codecpar->color_trc;
            first = false;
        }
        if (sampleRate == 0 && reader.audioStream()) {
            sampleRate = reader.audioStream()->codecpar->sample_rate;
            channels = reader.audioStream()->codecpar->ch_layout.nb_channels;
            if (sampleRate <= 0 || channels <= 0)
                sampleRate = channels = 0;
        }
    }
    return QString();
}

QString SpanEncoder::openOutput(const QString &path)
{
    const QByteArray file = QFile::encodeName(path);
    AVFormatContext *context = nullptr;
    if (avformat_alloc_output_context2(&context, nullptr, "mp4", file.constData()) < 0)
        return QStringLiteral("this FFmpeg cannot write MP4 files");
    out.reset(context);
    const bool globalHeader = out->oformat->flags & AVFMT_GLOBALHEADER;

    const AVCodec *h264 = avcodec_find_encoder_by_name("libx264");
    if (!h264)
        return QStringLiteral("this FFmpeg has no H.264 encoder (libx264)");
    videoEncoder.reset(avcodec_alloc_context3(h264));
    if (!videoEncoder)
        return QStringLiteral("out of memory");
    videoEncoder->width = width;
    videoEncoder->height = height;
    videoEncoder->pix_fmt = AV_PIX_FMT_YUV420P;
    videoEncoder->time_base = av_inv_q(frameRate);
    videoEncoder->framerate = frameRate;
    videoEncoder->sample_aspect_ratio = aspect;
    videoEncoder->color_range = AVCOL_RANGE_MPEG;
    videoEncoder->colorspace = colorSpace;
    videoEncoder->color_primaries = primaries;
    videoEncoder->color_trc = transfer;
    videoEncoder->thread_count = 0; // as many as the machine has
    if (globalHeader)
        videoEncoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(videoEncoder->priv_data, "preset", "veryfast", 0);
    av_opt_set(videoEncoder->priv_data, "crf", "20", 0);
    int r = avcodec_open2(videoEncoder.get(), h264, nullptr);
    if (r < 0)
        return QStringLiteral("cannot start the H.264 encoder: %1").arg(avErrorText(r));
    videoStream = avformat_new_stream(out.get(), nullptr);
    if (!videoStream ||
        avcodec_parameters_from_context(videoStream->codecpar, videoEncoder.get()) < 0)
        return QStringLiteral("out of memory");
    videoStream->time_base = videoEncoder->time_base;
    videoStream->avg_frame_rate = frameRate;
    pictureRate = videoEncoder->time_base;
    pictureEncoder = std::make_unique<PictureEncoder>(std::move(videoEncoder));

    if (sampleRate > 0) {
        const AVCodec *aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!aac)
            return QStringLiteral("this FFmpeg has no AAC encoder");
        soundEncoder.reset(avcodec_alloc_context3(aac));
        if (!soundEncoder)
            return QStringLiteral("out of memory");
        soundEncoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
        soundEncoder->sample_rate = sampleRate;
        av_channel_layout_default(&soundEncoder->ch_layout, channels);
        soundEncoder->bit_rate = 64000 * qMin(channels, 2);
        soundEncoder->time_base = AVRational{1, sampleRate};
        if (globalHeader)
            soundEncoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        r = avcodec_open2(soundEncoder.get(), aac, nullptr);
        if (r < 0)
            return QStringLiteral("cannot start the AAC encoder: %1").arg(avErrorText(r));
        soundStream = avformat_new_stream(out.get(), nullptr);
        if (!soundStream ||
            avcodec_parameters_from_context(soundStream->codecpar, soundEncoder.get()) < 0)
            return QStringLiteral("out of memory");
        soundStream->time_base = soundEncoder->time_base;
        soundQueue.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channels, 8192));
        if (!soundQueue)
            return QStringLiteral("out of memory");
    }

    if (!request.rear.isEmpty())
        rear = std::make_unique<RearPictures>(request.rear);
    if (request.band) {
        band = std::make_unique<ExportBand>(QSize(width, height), request.speedUnit, request.route,
                                            request.routeMap);
        bandPicture = makeFrame();
        bandPicture->format = AV_PIX_FMT_YUV420P;
        bandPicture->width = width;
        bandPicture->height = band->height();
        if (av_frame_get_buffer(bandPicture.get(), 0) < 0)
            return QStringLiteral("out of memory");
    }

    // moov first, so that the clip plays while it downloads from a portal.
    av_opt_set(out->priv_data, "movflags", "+faststart", 0);
    r = avio_open(&out->pb, file.constData(), AVIO_FLAG_WRITE);
    if (r < 0)
        return QStringLiteral("cannot write %1: %2").arg(path, avErrorText(r));
    r = avformat_write_header(out.get(), nullptr);
    return r < 0 ? writeError(r) : QString();
}

QString SpanEncoder::readPart(const SpanPart &part)
{
    auto reader = std::make_unique<StreamReader>();
    QString error = openSource(*reader, request.sources[part.source].path);
    if (!error.isEmpty())
        return error;
    AVStream *video = reader->videoStream();
    AVCodecContext *videoDecoder = reader->videoContext();
    AVCodecContext *soundDecoder = soundEncoder ? reader->audioContext() : nullptr;
    if (part.fileFrom > kSameMoment) {
        const int64_t start = video->start_time == AV_NOPTS_VALUE ? 0 : video->start_time;
        const int64_t target = start + av_rescale_q(llround(part.fileFrom * AV_TIME_BASE),
                                                    AV_TIME_BASE_Q, video->time_base);
        // To the key picture before the span; the pictures up to it are decoded and
        // dropped. A failed seek reads from the start, which is slower but as right.
        if (av_seek_frame(reader->formatContext(), video->index, target, AVSEEK_FLAG_BACKWARD) >=
            0) {
            avcodec_flush_buffers(videoDecoder);
            if (soundDecoder)
                avcodec_flush_buffers(soundDecoder);
        }
    }

    pictureTimeBase = video->time_base;
    if (soundDecoder)
        soundTimeBase = reader->audioStream()->time_base;
    lastPictureTime = part.fileFrom;
    nextSoundTime = part.fileFrom;
    bool videoDone = false;
    bool soundDone = !soundDecoder;
    while (!videoDone || !soundDone) {
        if (stopped()) {
            cancelled = true;
            abandon(std::move(reader));
            return QString();
        }
        // An error before the end of the file is taken as its end: the readable part of a
        // damaged recording is exported.
        if (reader->readFrame(packet.get()) < 0)
            break;
        if (!videoDone && reader->isVideoPacket(packet.get()))
            error = decode(videoDecoder, packet.get(), true, part, &videoDone);
        else if (!soundDone && reader->isAudioPacket(packet.get()))
            error = decode(soundDecoder, packet.get(), false, part, &soundDone);
        av_packet_unref(packet.get());
        if (!error.isEmpty())
            return error;
    }
    if (!videoDone)
        error = decode(videoDecoder, nullptr, true, part, &videoDone);
    if (error.isEmpty() && !soundDone)
        error = decode(soundDecoder, nullptr, false, part, &soundDone);
    if (error.isEmpty() && resampler)
        error = resample(nullptr, 0); // what the resampler still holds
    resampler.reset();
    return error;
}

void SpanEncoder::abandon(std::unique_ptr<StreamReader> reader)
{
    // After a cancel nothing the encoders and decoders still hold matters, yet closing them
    // waits for their threads to finish the pictures in hand: a few frame times, many more
    // on a busy machine at the export's low priority. The clip's file is closed here, so
    // that the export can remove its folder at once, and they are freed on a helper that
    // never touches the disk.
    if (out && out->pb)
        avio_closep(&out->pb);
    struct Held
    {
        std::unique_ptr<PictureEncoder> pictureEncoder;
        AVCodecContextPtr soundEncoder;
        std::unique_ptr<StreamReader> reader;
        std::unique_ptr<StreamReader> rearReader;
    };
    auto held = std::make_shared<Held>();
    if (rear)
        held->rearReader = rear->takeReader();
    held->pictureEncoder = std::move(pictureEncoder);
    held->soundEncoder = std::move(soundEncoder);
    held->reader = std::move(reader);
    releaseInBackground([held] {
        held->rearReader.reset();
        held->reader.reset();
        held->pictureEncoder.reset();
        held->soundEncoder.reset();
    });
}

QString SpanEncoder::decode(AVCodecContext *decoder, const AVPacket *packet, bool video,
                            const SpanPart &part, bool *done)
{
    // A damaged packet is dropped, like the player drops it.
    if (avcodec_send_packet(decoder, packet) < 0 && packet)
        return QString();
    while (!*done && avcodec_receive_frame(decoder, decoded.get()) >= 0) {
        const QString error =
            video ? takePicture(decoded.get(), part, done) : takeSound(decoded.get(), part, done);
        av_frame_unref(decoded.get());
        if (!error.isEmpty())
            return error;
        if (stopped())
            break;
    }
    return QString();
}

QString SpanEncoder::takePicture(AVFrame *frame, const SpanPart &part, bool *done)
{
    double t = frameSeconds(frame, pictureTimeBase);
    if (std::isnan(t))
        t = lastPictureTime + 1 / av_q2d(frameRate);
    lastPictureTime = t;
    if (t >= part.fileTo - kSameMoment) {
        *done = true; // pictures leave the decoder in time order
        return QString();
    }
    if (t < part.fileFrom - kSameMoment)
        return QString();

    const double outSeconds = part.timelineFrom - request.from + (t - part.fileFrom);
    int64_t pts = llround(outSeconds / av_q2d(pictureRate));
    pts = qMax(pts, lastPts + 1);
    QString error;
    AVFrame *picture = compose(frame, part.timelineFrom + (t - part.fileFrom), &error);
    if (!picture)
        return error;
    picture->pts = pts;
    // The source's picture types would force the encoder's.
    picture->pict_type = AV_PICTURE_TYPE_NONE;
    lastPts = pts;
    ++pictureCount;
    if (progress)
        progress(qBound(0.0, (pts + 1) * av_q2d(pictureRate) / (request.to - request.from), 1.0));
    // A cancel while the encoder is behind is seen by the loop that reads the packets.
    if (!pictureEncoder->push(picture, stop) && stopped())
        return QString();
    return writePictures();
}

AVFrame *SpanEncoder::writablePicture()
{
    // The encoder lets go of a picture once it has copied it in, so a few are enough;
    // fresh ones for every picture would cost the kernel a page clearing each time.
    for (const AVFramePtr &picture : pictures) {
        if (av_frame_is_writable(picture.get()))
            return picture.get();
    }
    AVFramePtr picture = makeFrame();
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = width;
    picture->height = height;
    if (!picture || av_frame_get_buffer(picture.get(), 0) < 0)
        return nullptr;
    pictures.push_back(std::move(picture));
    return pictures.back().get();
}

AVFrame *SpanEncoder::compose(const AVFrame *frame, double timelineSeconds, QString *error)
{
    AVFrame *picture = writablePicture();
    if (!picture) {
        *error = QStringLiteral("out of memory");
        return nullptr;
    }
    const bool fullRange =
        frame->color_range == AVCOL_RANGE_JPEG || frame->format == AV_PIX_FMT_YUVJ420P;
    if (frame->format != AV_PIX_FMT_YUV420P || fullRange || frame->width != width ||
        frame->height != height) {
        scaler.reset(sws_getCachedContext(
            scaler.release(), frame->width, frame->height, AVPixelFormat(frame->format), width,
            height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!scaler) {
            *error = QStringLiteral("cannot convert the pictures of %1x%2")
                         .arg(frame->width)
                         .arg(frame->height);
            return nullptr;
        }
        if (fullRange) {
            int *inverse = nullptr, *table = nullptr;
            int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
            sws_getColorspaceDetails(scaler.get(), &inverse, &srcRange, &table, &dstRange,
                                     &brightness, &contrast, &saturation);
            sws_setColorspaceDetails(scaler.get(), inverse, 1, table, 0, brightness, contrast,
                                     saturation);
        }
        sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, picture->data,
                  picture->linesize);
    } else {
        // Decoded pictures are the decoder's references: the band goes onto a copy.
        av_frame_copy(picture, frame);
    }
    picture->sample_aspect_ratio = frame->sample_aspect_ratio;
    if (rear)
        paintRear(picture, timelineSeconds);
    if (band)
        paintBand(picture, timelineSeconds);
    return picture;
}

// The rear picture a quarter of the width wide, its aspect kept, in the top right corner
// a little off the edges; never mirrored.
void SpanEncoder::paintRear(AVFrame *picture, double timelineSeconds)
{
    const AVFrame *frame = rear->at(timelineSeconds);
    if (!frame || frame->width <= 0 || frame->height <= 0)
        return;
    const int w = (width / 4) & ~1;
    const int h = std::min(int(llround(double(w) * frame->height / frame->width)) & ~1, height / 2);
    const int margin = (width / 64) & ~1;
    if (w < 2 || h < 2)
        return;
    // The rear has fewer pictures than the front, or as many: one is scaled once.
    if (rearPicture && rearPicture->width == w && rearPicture->height == h &&
        rearSerial == rear->pictureSerial()) {
        copyRear(picture, margin);
        return;
    }
    rearSerial = 0;
    if (!rearPicture || rearPicture->width != w || rearPicture->height != h) {
        rearPicture = makeFrame();
        rearPicture->format = AV_PIX_FMT_YUV420P;
        rearPicture->width = w;
        rearPicture->height = h;
        if (av_frame_get_buffer(rearPicture.get(), 0) < 0) {
            rearPicture.reset();
            return;
        }
    }
    rearScaler.reset(sws_getCachedContext(rearScaler.release(), frame->width, frame->height,
                                          AVPixelFormat(frame->format), w, h, AV_PIX_FMT_YUV420P,
                                          SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!rearScaler)
        return;
    sws_scale(rearScaler.get(), frame->data, frame->linesize, 0, frame->height, rearPicture->data,
              rearPicture->linesize);
    rearSerial = rear->pictureSerial();
    copyRear(picture, margin);
}

void SpanEncoder::copyRear(AVFrame *picture, int margin)
{
    const int w = rearPicture->width;
    const int h = rearPicture->height;
    const int left = width - margin - w;
    const int top = margin;
    for (int plane = 0; plane < 3; ++plane) {
        const int shift = plane ? 1 : 0;
        for (int y = 0; y < h >> shift; ++y)
            memcpy(picture->data[plane] + ((top >> shift) + y) * picture->linesize[plane] +
                       (left >> shift),
                   rearPicture->data[plane] + y * rearPicture->linesize[plane], size_t(w >> shift));
    }
}

void SpanEncoder::paintBand(AVFrame *picture, double timelineSeconds)
{
    const BandSample sample = request.bandAt ? request.bandAt(timelineSeconds) : BandSample();
    if (band->update(sample)) {
        // Converted only when its look changes: about once a second.
        const QImage &image = band->picture();
        bandScaler.reset(sws_getCachedContext(
            bandScaler.release(), image.width(), image.height(), AV_PIX_FMT_RGB32, width,
            band->height(), AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr));
        if (!bandScaler)
            return;
        // The matrix players assume for the picture, so the map's colours stay true.
        const bool hd =
            colorSpace == AVCOL_SPC_BT709 || (colorSpace == AVCOL_SPC_UNSPECIFIED && height >= 720);
        const int *coefficients = sws_getCoefficients(hd ? SWS_CS_ITU709 : SWS_CS_ITU601);
        sws_setColorspaceDetails(bandScaler.get(), coefficients, 1, coefficients, 0, 0, 1 << 16,
                                 1 << 16);
        const uint8_t *rows[1] = {image.constBits()};
        const int stride[1] = {int(image.bytesPerLine())};
        if (av_frame_make_writable(bandPicture.get()) < 0)
            return;
        sws_scale(bandScaler.get(), rows, stride, 0, image.height(), bandPicture->data,
                  bandPicture->linesize);
    }
    const int top = band->top();
    for (int y = 0; y < band->height(); ++y)
        std::memcpy(picture->data[0] + (top + y) * picture->linesize[0],
                    bandPicture->data[0] + y * bandPicture->linesize[0], size_t(width));
    for (int plane = 1; plane < 3; ++plane) {
        for (int y = 0; y < (band->height() + 1) / 2; ++y)
            std::memcpy(picture->data[plane] + (top / 2 + y) * picture->linesize[plane],
                        bandPicture->data[plane] + y * bandPicture->linesize[plane],
                        size_t((width + 1) / 2));
    }
}

QString SpanEncoder::takeSound(const AVFrame *frame, const SpanPart &part, bool *done)
{
    const int rate = frame->sample_rate;
    const int count = frame->nb_samples;
    if (rate <= 0 || count <= 0)
        return QString();
    double t = frameSeconds(frame, soundTimeBase);
    if (std::isnan(t))
        t = nextSoundTime;
    nextSoundTime = t + double(count) / rate;
    if (t >= part.fileTo - kSameMoment) {
        *done = true;
        return QString();
    }
    // The samples of the part, cut on the sample.
    const int first = qBound(0, int(std::ceil((part.fileFrom - t) * rate - 0.5)), count);
    const int end = qBound(0, int(std::ceil((part.fileTo - t) * rate - 0.5)), count);
    if (end < count)
        *done = true;
    if (end <= first)
        return QString();

    if (!resampler || resamplerRate != rate || resamplerFormat != frame->format ||
        av_channel_layout_compare(&resamplerLayout, &frame->ch_layout) != 0) {
        if (resampler) {
            const QString error = resample(nullptr, 0);
            if (!error.isEmpty())
                return error;
        }
        SwrContext *context = nullptr;
        if (swr_alloc_set_opts2(&context, &soundEncoder->ch_layout, AV_SAMPLE_FMT_FLTP, sampleRate,
                                const_cast<AVChannelLayout *>(&frame->ch_layout),
                                AVSampleFormat(frame->format), rate, 0, nullptr) < 0)
            return QStringLiteral("cannot convert the sound");
        resampler.reset(context);
        if (swr_init(resampler.get()) < 0)
            return QStringLiteral("cannot convert the sound");
        resamplerRate = rate;
        resamplerFormat = frame->format;
        av_channel_layout_uninit(&resamplerLayout);
        av_channel_layout_copy(&resamplerLayout, &frame->ch_layout);
    }

    // Sound that starts later than its place (a source without sound, a gap) is
    // preceded by silence, so it stays with its pictures.
    const double at = part.timelineFrom - request.from + (t + double(first) / rate - part.fileFrom);
    const int64_t position = queuedSamples + swr_get_delay(resampler.get(), sampleRate);
    const int64_t target = llround(at * sampleRate);
    if (target - position > kSoundSlack * sampleRate) {
        const QString error = padSilence(target - position);
        if (!error.isEmpty())
            return error;
    }

    const int inChannels = frame->ch_layout.nb_channels;
    const int bytes = av_get_bytes_per_sample(AVSampleFormat(frame->format));
    std::vector<const uint8_t *> data;
    if (av_sample_fmt_is_planar(AVSampleFormat(frame->format))) {
        for (int c = 0; c < inChannels; ++c)
            data.push_back(frame->extended_data[c] + first * bytes);
    } else {
        data.push_back(frame->extended_data[0] + first * bytes * inChannels);
    }
    return resample(data.data(), end - first);
}

QString SpanEncoder::resample(const uint8_t **data, int count)
{
    const int room = swr_get_out_samples(resampler.get(), count);
    if (room <= 0)
        return QString();
    AVFramePtr buffer = makeFrame();
    buffer->format = AV_SAMPLE_FMT_FLTP;
    buffer->nb_samples = room;
    av_channel_layout_copy(&buffer->ch_layout, &soundEncoder->ch_layout);
    if (av_frame_get_buffer(buffer.get(), 0) < 0)
        return QStringLiteral("out of memory");
    const int made = swr_convert(resampler.get(), buffer->extended_data, room, data, count);
    if (made < 0)
        return QStringLiteral("cannot convert the sound");
    if (av_audio_fifo_write(soundQueue.get(), reinterpret_cast<void **>(buffer->extended_data),
                            made) < made)
        return QStringLiteral("out of memory");
    queuedSamples += made;
    return encodeSound(false);
}

QString SpanEncoder::padSilence(int64_t samples)
{
    while (samples > 0) {
        const int n = int(qMin<int64_t>(samples, 4096));
        AVFramePtr silence = makeFrame();
        silence->format = AV_SAMPLE_FMT_FLTP;
        silence->nb_samples = n;
        av_channel_layout_copy(&silence->ch_layout, &soundEncoder->ch_layout);
        if (av_frame_get_buffer(silence.get(), 0) < 0)
            return QStringLiteral("out of memory");
        av_samples_set_silence(silence->extended_data, 0, n, channels, AV_SAMPLE_FMT_FLTP);
        if (av_audio_fifo_write(soundQueue.get(), reinterpret_cast<void **>(silence->extended_data),
                                n) < n)
            return QStringLiteral("out of memory");
        queuedSamples += n;
        samples -= n;
    }
    return encodeSound(false);
}

QString SpanEncoder::encodeSound(bool final)
{
    const int frameSize = soundEncoder->frame_size > 0 ? soundEncoder->frame_size : 1024;
    while (av_audio_fifo_size(soundQueue.get()) >= frameSize ||
           (final && av_audio_fifo_size(soundQueue.get()) > 0)) {
        const int n = qMin(frameSize, av_audio_fifo_size(soundQueue.get()));
        AVFramePtr frame = makeFrame();
        frame->format = AV_SAMPLE_FMT_FLTP;
        frame->nb_samples = n;
        frame->sample_rate = sampleRate;
        av_channel_layout_copy(&frame->ch_layout, &soundEncoder->ch_layout);
        if (av_frame_get_buffer(frame.get(), 0) < 0)
            return QStringLiteral("out of memory");
        av_audio_fifo_read(soundQueue.get(), reinterpret_cast<void **>(frame->extended_data), n);
        frame->pts = soundPts;
        soundPts += n;
        const QString error = encode(soundEncoder.get(), soundStream, frame.get());
        if (!error.isEmpty())
            return error;
    }
    return QString();
}

QString SpanEncoder::encode(AVCodecContext *encoder, AVStream *stream, const AVFrame *frame)
{
    int r = avcodec_send_frame(encoder, frame);
    if (r < 0)
        return QStringLiteral("encoding failed: %1").arg(avErrorText(r));
    for (;;) {
        r = avcodec_receive_packet(encoder, encoded.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return QString();
        if (r < 0)
            return QStringLiteral("encoding failed: %1").arg(avErrorText(r));
        const QString error = writePacket(encoded.get(), encoder->time_base, stream, false);
        if (!error.isEmpty())
            return error;
    }
}

QString SpanEncoder::writePictures()
{
    QString error;
    std::deque<AVPacketPtr> packets = pictureEncoder->take(&error);
    for (AVPacketPtr &p : packets) {
        if (error.isEmpty())
            error = writePacket(p.get(), pictureRate, videoStream, true);
    }
    return error;
}

QString SpanEncoder::writePacket(AVPacket *packet, AVRational timeBase, AVStream *stream,
                                 bool video)
{
    // libx264 leaves the duration unset; each picture lasts one frame interval.
    if (packet->duration <= 0 && video)
        packet->duration = 1;
    packet->stream_index = stream->index;
    av_packet_rescale_ts(packet, timeBase, stream->time_base);
    const int r = av_interleaved_write_frame(out.get(), packet);
    return r < 0 ? writeError(r) : QString();
}

QString SpanEncoder::finish()
{
    if (!pictureEncoder->push(nullptr, stop) || !pictureEncoder->waitDrained(stop)) {
        if (stopped()) {
            cancelled = true;
            abandon(nullptr);
            return QString();
        }
    }
    QString error = writePictures();
    if (error.isEmpty() && soundEncoder) {
        // Sound as long as the pictures.
        const double end = (lastPts + 1) * av_q2d(pictureRate);
        const int64_t missing = llround(end * sampleRate) - queuedSamples;
        if (missing > 0)
            error = padSilence(missing);
        if (error.isEmpty())
            error = encodeSound(true);
        if (error.isEmpty())
            error = encode(soundEncoder.get(), soundStream, nullptr);
    }
    if (!error.isEmpty())
        return error;
    int r = av_write_trailer(out.get());
    if (r < 0)
        return writeError(r);
    r = avio_closep(&out->pb);
    return r < 0 ? writeError(r) : QString();
}

} // namespace

QVector<SpanPart> spanParts(const ExportRequest &request)
{
    QVector<SpanPart> parts;
    for (int i = 0; i < request.sources.size(); ++i) {
        const ExportSource &s = request.sources[i];
        SpanPart part;
        part.source = i;
        part.timelineFrom = qMax(request.from, s.timelineStart);
        part.timelineTo = qMin(request.to, s.timelineStart + (s.clipOut - s.clipIn));
        if (part.timelineTo - part.timelineFrom <= kSameMoment)
            continue;
        part.fileFrom = s.clipIn + (part.timelineFrom - s.timelineStart);
        part.fileTo = s.clipIn + (part.timelineTo - s.timelineStart);
        parts << part;
    }
    return parts;
}

ClipOutcome writeClip(const ExportRequest &request, const QString &path,
                      const std::atomic<bool> *stop, const std::function<void(double)> &progress)
{
    SpanEncoder encoder(request, stop, progress);
    return encoder.run(path);
}
