#include "oxffplayer.h"

#include "oxaudio.h"
#include "oxffplayerthreads.h"
#include "oxframesink.h"
#include "oxmediadata.h"
#include "oxqueue.h"
#include "streamreader.h"

#include <QAudioDeviceInfo>
#include <QDebug>

#include <cmath>
#include <limits>
#include <utility>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/time.h>
}

namespace {

void releaseItem(void *item)
{
    delete static_cast<OxMediaData *>(item);
}

// Backward to the key frame at or before the target.
constexpr int kSeekFlags = AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_FRAME;

// The longest run of pictures a skipping decoder leaves out, plus one.
constexpr int kMaxSteps = 16;
constexpr int kSkipWindow = 32;
// Late pictures in a row that make the decoder skip: a single hiccup of the machine
// does not.
constexpr int kLateRun = 4;

// A picture or sound this close before a cut counts as at the cut (timestamps in seconds
// are not exact).
constexpr double kCutTolerance = 0.0005;

double frameSeconds(const AVFrame *frame, double timeBase)
{
    int64_t ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE)
        ts = frame->pts;
    return ts == AV_NOPTS_VALUE ? 0.0 : ts * timeBase;
}

} // namespace

struct OxFFPlayer::Playing
{
    int index = -1;
    AVCodecContext *vctx = nullptr;
    AVCodecContext *actx = nullptr; // none when the source has no sound
    double videoBase = 0;           // seconds per tick of the streams
    double audioBase = 0;
    double pictureSeconds = 0.04;
    double offset = 0; // timeline time = time in the file + offset
    // Pictures and sound before cutIn and from cutOut on (seconds in the file) are dropped.
    double cutIn = 0;
    double cutOut = 0;
    // A picture, and sound, from cutOut on has come out of the decoder: the rest of the
    // file is not wanted.
    bool videoDone = false;
    bool audioDone = false;
    // The source's sound goes to the resampler.
    bool sound = false;
    // The next picture follows the one queued before from the source before: no gap
    // between the two is held on screen.
    bool continues = false;
};

OxFFPlayer::OxFFPlayer() = default;

OxFFPlayer::~OxFFPlayer()
{
    // The owner stops first; a second stop finds nothing to do.
    stop();
}

void OxFFPlayer::setVideoView(OxFrameSink *view)
{
    videoView = view;
}

void OxFFPlayer::setCallback(void *o, PlayerCallback cb)
{
    owner = o;
    callback = cb;
}

qint64 OxFFPlayer::queuedPictures() const
{
    return pictureQueue ? pictureQueue->size() : 0;
}

bool OxFFPlayer::anyThreadRunning() const
{
    return (decodeThread && decodeThread->isRunning()) ||
           (videoThread && videoThread->isRunning()) || (audioThread && audioThread->isRunning());
}

int OxFFPlayer::frameCacheForGop(int gop)
{
    return qBound(30, 2 * gop, 60);
}

qint64 OxFFPlayer::intervalFor(int num, int den)
{
    if (num == 0 || den == 0)
        return 33000;
    return qint64(1000000.0 / (double(num) / double(den)));
}

template <class Thread> void OxFFPlayer::stopThread(std::unique_ptr<Thread> &thread)
{
    if (!thread)
        return;
    thread->requestStop();
    thread->waitFinished();
    thread->wait(); // joined: everything the worker did is seen here, so the object can go
    thread.reset();
}

bool OxFFPlayer::isOpened() const
{
    return decodeThread && !decodeThread->isStopRequested();
}

bool OxFFPlayer::isPlaying() const
{
    return videoThread && !videoThread->isStopRequested();
}

int OxFFPlayer::open(const char *utf8Path)
{
    std::vector<OxPlaySource> one(1);
    one[0].path = QByteArray(utf8Path ? utf8Path : "");
    return openSequence(std::move(one), 0);
}

int OxFFPlayer::openSequence(std::vector<OxPlaySource> list, double startAt)
{
    // A player still running would have its reader closed under its threads.
    stop();
    sources = std::move(list);
    if (sources.empty())
        return -1;
    intervals = std::make_unique<std::atomic<qint64>[]>(sources.size());
    playing = std::make_unique<Playing>();
    int index = sourceAt(startAt);
    double position = sources[size_t(index)].clipIn +
                      std::max(0.0, startAt - sources[size_t(index)].timelineStart);
    int r = -1;
    for (; index < int(sources.size()); ++index) {
        r = openSource(index, &reader);
        if (r >= 0)
            break;
        if (index + 1 < int(sources.size()))
            position = sources[size_t(index) + 1].clipIn;
    }
    if (r < 0) {
        stop();
        return r;
    }
    prepare(index, position);
    resume();
    return 0;
}

int OxFFPlayer::openSource(int index, std::unique_ptr<StreamReader> *opened) const
{
    const QByteArray &path = sources[size_t(index)].path;
    auto candidate = std::make_unique<StreamReader>();
    int r = candidate->open(path.constData());
    QString reason;
    if (r < 0) {
        reason = avErrorText(r);
    } else if (!candidate->videoStream() || !candidate->videoContext()) {
        qDebug("open(%s): no video stream", path.constData());
        reason = QStringLiteral("no video stream");
        r = -1;
    }
    if (r < 0) {
        candidate->close();
        // One recording fails as it always did; in a sequence playback goes on without it.
        if (sources.size() > 1)
            qWarning("dashcam-player: skipping %s: %s", path.constData(), qPrintable(reason));
        return r;
    }
    *opened = std::move(candidate);
    return 0;
}

// The last source starting at or before the timeline time (the first one before them all).
int OxFFPlayer::sourceAt(double timelineSeconds) const
{
    int index = 0;
    for (int i = 1; i < int(sources.size()); ++i) {
        if (sources[size_t(i)].timelineStart <= timelineSeconds)
            index = i;
    }
    return index;
}

// Where a source stops, in seconds of its file: its clipOut, else the end of the file
// when it is open, else nowhere known.
double OxFFPlayer::sourceEnd(int index, const StreamReader *opened) const
{
    const OxPlaySource &source = sources[size_t(index)];
    if (source.clipOut >= 0)
        return source.clipOut;
    return opened ? opened->duration() : std::numeric_limits<double>::infinity();
}

// Makes the reader the source the decode thread reads. Runs on the owner's thread before
// the decode thread starts, and on the decode thread afterwards.
void OxFFPlayer::play(int index)
{
    Playing &p = *playing;
    const OxPlaySource &source = sources[size_t(index)];
    AVStream *video = reader->videoStream();
    AVStream *audio = reader->audioStream();
    p.index = index;
    p.vctx = reader->videoContext();
    p.actx = audio ? reader->audioContext() : nullptr;
    p.videoBase = av_q2d(video->time_base);
    p.audioBase = audio ? av_q2d(audio->time_base) : 0.0;
    p.offset = source.timelineStart - source.clipIn;
    // A single recording is never cut: even pictures before its start play as before.
    p.cutIn = source.clipIn > 0 ? source.clipIn - kCutTolerance
                                : -std::numeric_limits<double>::infinity();
    p.cutOut = source.clipOut >= 0 ? source.clipOut - kCutTolerance
                                   : std::numeric_limits<double>::infinity();
    p.videoDone = false;
    p.audioDone = false;
    const qint64 step = intervalFor(video->avg_frame_rate.num, video->avg_frame_rate.den);
    intervals[size_t(index)] = step;
    p.pictureSeconds = step / 1e6;
    frameCache = frameCacheForGop(videoGopSize());
    p.sound = false;
    if (audioResampler && p.actx) {
        const AVCodecContext *a = p.actx;
        const uint64_t layout =
            a->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? a->ch_layout.u.mask : 0;
        p.sound = audioResampler->setInput(a->sample_rate, layout, a->ch_layout.nb_channels,
                                           a->sample_fmt);
    }
    // The timeline ends where the last source stops: known from its clipOut, or once it has
    // been opened.
    const OxPlaySource &last = sources.back();
    const bool lastOpen = index == int(sources.size()) - 1;
    const double lastEnd = sourceEnd(int(sources.size()) - 1, lastOpen ? reader.get() : nullptr);
    _duration =
        std::isfinite(lastEnd) ? last.timelineStart + lastEnd - last.clipIn : last.timelineStart;
}

// Decode thread: the next source that opens, after the current one has been read to its
// end. False when there is none.
bool OxFFPlayer::advance()
{
    for (int index = playing->index + 1; index < int(sources.size()); ++index) {
        std::unique_ptr<StreamReader> next;
        if (openSource(index, &next) < 0)
            continue;
        const double clipIn = sources[size_t(index)].clipIn;
        if (clipIn > 0)
            next->seek(clipIn, kSeekFlags); // failing, it is read from the start, cut there
        reader = std::move(next);
        play(index);
        playing->continues = true;
        return true;
    }
    return false;
}

// The key frame distance of the video stream. Decoding contexts no longer carry the
// encoder's gop size, so it is read from the demuxer's index: the time between the first
// two key frames in pictures (a clip shorter than one gop counts all its pictures).
int OxFFPlayer::videoGopSize() const
{
    AVStream *st = reader->videoStream();
    const AVRational rate =
        st->avg_frame_rate.num && st->avg_frame_rate.den ? st->avg_frame_rate : st->r_frame_rate;
    const int entries = avformat_index_get_entries_count(st);
    int64_t keys[2];
    int found = 0;
    for (int i = 0; i < entries && found < 2; ++i) {
        const AVIndexEntry *e = avformat_index_get_entry(st, i);
        if (e && (e->flags & AVINDEX_KEYFRAME))
            keys[found++] = e->timestamp;
    }
    if (rate.num > 0 && rate.den > 0) {
        const double fps = av_q2d(rate);
        if (found == 2)
            return int(std::lround((keys[1] - keys[0]) * av_q2d(st->time_base) * fps));
        if (found == 1 && st->nb_frames > 0)
            return int(st->nb_frames);
    }
    return reader->videoContext()->gop_size;
}

// Called by openSequence() on a stopped player with the reader of source index open:
// nothing of an earlier recording is left. Playback starts at position in that file.
void OxFFPlayer::prepare(int index, double position)
{
    const OxPlaySource &source = sources[size_t(index)];
    const double start = source.timelineStart + position - source.clipIn;
    seekPending = false;
    seekTarget = 0;
    readResult = 0;
    audioTime = start;
    _videoTime = start;
    clockTime = start;
    skipLevel = 0;
    dropped = 0;
    skipped = 0;
    soundLost = false;
    endReached = false;
    shownSource = index;
    _frameTime = -1;
    pictureQueue = std::make_unique<MutexQueue>(releaseItem);

    // Later sources of a sequence may bring sound although this one has none.
    const AVCodecContext *audio = reader->audioStream() ? reader->audioContext() : nullptr;
    if ((audio || sources.size() > 1) && !QAudioDeviceInfo::defaultOutputDevice().isNull())
        buildAudioPath(audio);
    play(index);
    interval = intervals[size_t(index)].load();
    qDebug("frameCache = %d", frameCache.load());

    // Not from the start: the decode thread's first step is the seek there.
    if (position > 0) {
        seekTarget = start;
        seekPending = true;
    }
    decodeThread = std::make_unique<OxDecodeThread>(this);
    decodeThread->start(QThread::InheritPriority);
}

// The sound path in the device's preferred format; from the given decoder's format, or,
// without one, from the device's own until a source with sound comes.
void OxFFPlayer::buildAudioPath(const AVCodecContext *a)
{
    const QAudioDeviceInfo device = QAudioDeviceInfo::defaultOutputDevice();
    const QAudioFormat preferred = device.preferredFormat();
    const int channels = preferred.channelCount();
    const AVSampleFormat format =
        OxAudioOutput::outputFormatFor(preferred.sampleType(), preferred.sampleSize());
    const uint64_t layout = channels == 1 ? AV_CH_FRONT_CENTER : AV_CH_LAYOUT_STEREO;

    const uint64_t inLayout = !a                                              ? layout
                              : a->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? a->ch_layout.u.mask
                                                                              : 0;
    auto resampler = std::make_unique<OxAudioResampler>(
        a ? a->sample_rate : preferred.sampleRate(), inLayout,
        a ? a->ch_layout.nb_channels : channels, a ? int(a->sample_fmt) : int(format),
        preferred.sampleRate(), layout, channels, format);
    auto output = std::make_unique<OxAudioOutput>();
    output->setVolume(volume);
    if (!resampler->canConvert() || output->start(preferred.sampleRate(), format, channels) < 0) {
        // No usable sound path (both go here): play silently at the picture rate.
        qDebug("audio output unavailable, playing without sound");
        return;
    }
    audioResampler = std::move(resampler);
    audioOutput = std::move(output);
}

void OxFFPlayer::resume()
{
    // The picture queue lives from a successful open to stop(); the reader may be in the
    // decode thread's hands.
    if (!pictureQueue)
        return;
    stopThread(videoThread);
    stopThread(audioThread);
    pictureEnded = false;
    videoThread = std::make_unique<OxVideoThread>(this);
    videoThread->start(QThread::InheritPriority);
    audioThread = std::make_unique<OxAudioThread>(this);
    audioThread->start(QThread::InheritPriority);
}

void OxFFPlayer::pause()
{
    stopThread(videoThread);
    stopThread(audioThread);
}

void OxFFPlayer::requestSeek(double seconds)
{
    qDebug("seek %lf", seconds);
    seekTarget = seconds;
    seekPending = true;
}

// The one place where the player's objects are released.
void OxFFPlayer::stop()
{
    // The workers go first, video and audio before decode (they read what it fills).
    stopThread(videoThread);
    stopThread(audioThread);
    stopThread(decodeThread);
    // Each object leaves the player before it is released: stopping the sound output can
    // run a nested event loop, and a stop re-entered from there must find nothing left to
    // release a second time.
    if (std::unique_ptr<OxAudioOutput> output = std::move(audioOutput))
        output->stop();
    if (std::unique_ptr<MutexQueue> queue = std::move(pictureQueue))
        queue->clear();
    if (std::unique_ptr<OxAudioResampler> resampler = std::move(audioResampler))
        resampler->reset();
    if (std::unique_ptr<StreamReader> r = std::move(reader))
        r->close();
    _duration = 0;
    shownSource = -1;
}

void OxFFPlayer::report(int type)
{
    if (callback)
        callback(owner, type, _videoTime.load(), duration());
}

// Lands in the source that holds the timeline time; one that cannot be opened, or a
// time past the end of a source, goes on to the start of the next source.
int OxFFPlayer::seek(double seconds, int flags)
{
    if (!reader || !playing)
        return -1;
    int r = -1;
    if (seconds >= 0) {
        int index = sourceAt(seconds);
        double position =
            sources[size_t(index)].clipIn + seconds - sources[size_t(index)].timelineStart;
        for (; index < int(sources.size()); ++index) {
            const bool last = index + 1 == int(sources.size());
            std::unique_ptr<StreamReader> other;
            if (index != playing->index && openSource(index, &other) < 0) {
                if (!last)
                    position = sources[size_t(index) + 1].clipIn;
                continue;
            }
            StreamReader *target = other ? other.get() : reader.get();
            if (!last && position > sourceEnd(index, target)) {
                position = sources[size_t(index) + 1].clipIn;
                continue;
            }
            r = target->seek(std::max(position, sources[size_t(index)].clipIn), flags);
            if (r >= 0) {
                if (other) {
                    reader = std::move(other);
                    play(index);
                }
                playing->videoDone = false;
                playing->audioDone = false;
                const OxPlaySource &source = sources[size_t(index)];
                seconds = source.timelineStart + std::max(position, source.clipIn) - source.clipIn;
            }
            break;
        }
    }
    qDebug("_videoTime = %lf, _frameTime = %lf, _doSeek %lf = %d", _videoTime.load(), _frameTime,
           seconds, r);
    if (r >= 0) {
        pictureQueue->clear();
        if (audioResampler)
            audioResampler->reset();
        _videoTime = seconds;
        clockTime = seconds;
        audioTime = seconds;
        ++seekCount;
    }
    return r;
}

std::unique_ptr<OxYUV420P> OxFFPlayer::toYUV420P(const AVFrame *frame)
{
    if (!frame || frame->width <= 0 || frame->height <= 0)
        return nullptr;
    const int w = frame->width;
    const int h = frame->height;
    if (frame->format == AV_PIX_FMT_YUV420P) {
        const uint8_t *planes[3] = {frame->data[0], frame->data[1], frame->data[2]};
        return std::make_unique<OxYUV420P>(planes, w, h, frame->linesize);
    }
    // The scaler writes rounded-up chroma for odd sizes; the picture keeps the halves.
    const int cw = (w + 1) / 2;
    const int ch = (h + 1) / 2;
    AVBufferPtr y(static_cast<uint8_t *>(av_malloc(size_t(w) * h)));
    AVBufferPtr u(static_cast<uint8_t *>(av_malloc(size_t(cw) * ch)));
    AVBufferPtr v(static_cast<uint8_t *>(av_malloc(size_t(cw) * ch)));
    SwsContextPtr sws(sws_getContext(w, h, AVPixelFormat(frame->format), w, h, AV_PIX_FMT_YUV420P,
                                     SWS_POINT, nullptr, nullptr, nullptr));
    if (!y || !u || !v || !sws)
        return nullptr;
    uint8_t *dst[4] = {y.get(), u.get(), v.get(), nullptr};
    int lines[4] = {w, cw, cw, 0};
    sws_scale(sws.get(), frame->data, frame->linesize, 0, h, dst, lines);
    const uint8_t *planes[3] = {y.get(), u.get(), v.get()};
    return std::make_unique<OxYUV420P>(planes, w, h, lines);
}

// ---------------------------------------------------------------------------------------
// Decode thread

namespace {

// What a step of decoding tells the loop.
enum class Step { Go, Stop, Seek };

} // namespace

void OxFFPlayer::decodeLoop()
{
    Playing &p = *playing;
    AVPacketPtr packet = makePacket();
    AVFramePtr frame = makeFrame();
    OxDecodeThread *self = decodeThread.get();
    // Time of the picture queued last, -1 after a seek.
    double lastPictureTime = -1;
    // Pictures still to come out of a decoder that was asked to skip: gaps among them
    // are counted as skipped. Frame threads hand pictures out a few packets late.
    int skipWindow = 0;

    auto stopAsked = [&] { return !self || self->isStopRequested(); };

    // Waits for room in the picture queue; a picture decoded before a requested seek
    // or stop is not worth waiting for.
    auto pushPicture = [&](const AVFrame *f) -> Step {
        const double fileTime = frameSeconds(f, p.videoBase);
        if (fileTime >= p.cutOut) {
            p.videoDone = true;
            return Step::Go;
        }
        if (fileTime < p.cutIn)
            return Step::Go;
        std::unique_ptr<OxYUV420P> picture = toYUV420P(f);
        if (!picture)
            return Step::Go;
        picture->time = fileTime + p.offset;
        picture->source = p.index;
        // A gap of a few frame intervals after the picture before is where the decoder
        // skipped pictures: the video thread keeps it on the clock. Larger gaps and steps
        // back are seeks or broken timestamps and count as one interval, and so does the
        // step to the next source (a gap between two sources is not held on screen).
        picture->restartsClock = lastPictureTime < 0;
        if (lastPictureTime >= 0 && !p.continues) {
            const long gap = std::lround((picture->time - lastPictureTime) / p.pictureSeconds);
            if (gap >= 2 && gap <= kMaxSteps) {
                picture->steps = int(gap);
                if (skipWindow > 0)
                    skipped += gap - 1;
            }
        }
        p.continues = false;
        lastPictureTime = picture->time;
        if (skipWindow > 0)
            --skipWindow;
        while (pictureQueue->size() > frameCache) {
            if (stopAsked() || seekPending)
                return stopAsked() ? Step::Stop : Step::Seek;
            QThread::msleep(1);
        }
        pictureQueue->push(picture.release());
        return Step::Go;
    };

    // Sends one packet (none = end of stream) and takes every frame it yields; a packet
    // refused with EAGAIN is sent again once the pending frames are out.
    auto decodeVideo = [&](const AVPacket *pk) -> Step {
        for (;;) {
            const int sent = avcodec_send_packet(p.vctx, pk);
            const bool again = sent == AVERROR(EAGAIN);
            if (sent < 0 && !again && sent != AVERROR_EOF)
                return Step::Go; // rejected: dropped
            int received = 0;
            while (avcodec_receive_frame(p.vctx, frame.get()) >= 0) {
                ++received;
                const Step s = pushPicture(frame.get());
                av_frame_unref(frame.get());
                if (s != Step::Go)
                    return s;
            }
            if (!again || received == 0)
                return Step::Go;
        }
    };

    // Sound outside the cuts is dropped to the sample.
    auto pushSound = [&](const AVFrame *f) {
        const double start = frameSeconds(f, p.audioBase);
        const int rate = f->sample_rate > 0 ? f->sample_rate : p.actx->sample_rate;
        if (rate <= 0)
            return;
        const double end = start + double(f->nb_samples) / rate;
        if (end > p.cutOut)
            p.audioDone = true;
        if (end <= p.cutIn || start >= p.cutOut)
            return;
        const int first = start < p.cutIn ? int(std::lround((p.cutIn - start) * rate)) : 0;
        const int count = end > p.cutOut ? int(std::lround((p.cutOut - start) * rate)) - first : -1;
        audioResampler->pushFrame(f, start + double(first) / rate + p.offset, first, count);
    };

    auto decodeAudio = [&](const AVPacket *pk) {
        for (;;) {
            const int sent = avcodec_send_packet(p.actx, pk);
            const bool again = sent == AVERROR(EAGAIN);
            if (sent < 0 && !again && sent != AVERROR_EOF)
                return;
            int received = 0;
            while (avcodec_receive_frame(p.actx, frame.get()) >= 0) {
                ++received;
                pushSound(frame.get());
                av_frame_unref(frame.get());
            }
            if (!again || received == 0)
                return;
        }
    };

    // The current source is read to its end: on to the next, or the end of it all.
    auto sourceFinished = [&](int result) {
        if (result != AVERROR_EOF && sources.size() > 1)
            qWarning("dashcam-player: skipping the rest of %s: %s",
                     sources[size_t(p.index)].path.constData(), qPrintable(avErrorText(result)));
        if (advance())
            return;
        readResult = result;
        if (result != AVERROR_EOF)
            qDebug("read frame = %x, %s", unsigned(result), qPrintable(avErrorText(result)));
        endReached = true;
    };

    for (;;) {
        if (stopAsked())
            return;
        if (seekPending) {
            // Back into the file before the request is taken, so the video thread never
            // sees the end reached with no seek pending while this one is carried out.
            const bool wasAtEnd = endReached.exchange(false);
            // Taken in one step, so a request that arrives during the seek is kept for
            // the next turn.
            seekPending.exchange(false);
            if (seek(seekTarget, kSeekFlags) < 0) {
                if (wasAtEnd)
                    endReached = true; // a failed seek leaves everything as it was
            } else {
                lastPictureTime = -1;
            }
        }
        if (endReached) {
            // Everything is queued: wait for a seek or the stop.
            QThread::msleep(1);
            continue;
        }
        if (pictureQueue->size() > frameCache) {
            QThread::msleep(1);
            continue;
        }
        const int result = reader->readFrame(packet.get());
        if (result < 0) {
            // Drain: the decoders still hold the last pictures and sound of the file.
            if (p.sound)
                decodeAudio(nullptr);
            const Step step = decodeVideo(nullptr);
            if (step == Step::Stop)
                return;
            if (step == Step::Seek)
                continue; // the seek flushes the decoders out of their drained state
            sourceFinished(result);
            continue;
        }
        Step step = Step::Go;
        if (reader->isVideoPacket(packet.get())) {
            const int level = skipLevel;
            const AVDiscard discard = level >= 2   ? AVDISCARD_BIDIR
                                      : level == 1 ? AVDISCARD_NONREF
                                                   : AVDISCARD_DEFAULT;
            if (p.vctx->skip_frame != discard)
                p.vctx->skip_frame = discard;
            if (level > 0)
                skipWindow = kSkipWindow;
            step = decodeVideo(packet.get());
        } else if (p.sound && !soundLost && reader->isAudioPacket(packet.get()))
            decodeAudio(packet.get());
        av_packet_unref(packet.get());
        if (step == Step::Stop)
            return;
        // Cut at clipOut: what follows in the file is not played. The decoders' held-back
        // pictures and sound all come later still.
        if (step == Step::Go && p.videoDone && (p.audioDone || !p.sound || soundLost))
            sourceFinished(AVERROR_EOF);
    }
}

// ---------------------------------------------------------------------------------------
// Video thread: the clock

void OxFFPlayer::videoLoop()
{
    OxVideoThread *self = videoThread.get();
    // The frame interval of the source on screen; each source of a sequence has its own.
    qint64 step = interval;
    int stepSource = -1;
    int64_t next = av_gettime();
    qDebug("interval %lld", (long long)step);

    // The picture taken from the queue and the wall time it is due at.
    std::unique_ptr<OxYUV420P> pending;
    int64_t due = 0;
    // The last picture shown or dropped since this loop began or the last seek: its time
    // and when it was due; lastDue < 0 while there is none.
    double lastTime = 0;
    int64_t lastDue = -1;
    int seenSeeks = seekCount;
    // Pictures in a row that came more than an interval late, and on time.
    int lateRun = 0;
    int onTimeRun = 0;
    int64_t nextLog = next + 1000000;

    // The decoder skips while pictures keep coming late and decodes everything again once
    // it is ahead: pictures on time and some of them waiting in the queue.
    auto followLateness = [&](int64_t late) {
        if (late > step) {
            onTimeRun = 0;
            if (++lateRun >= kLateRun) {
                const int level = late > 3 * step ? 2 : 1;
                if (skipLevel < level)
                    skipLevel = level;
            }
            return;
        }
        lateRun = 0;
        if (late <= step / 4 && ++onTimeRun >= 8 && skipLevel > 0 &&
            pictureQueue->size() >= frameCache / 2) {
            skipLevel = 0;
            onTimeRun = 0;
        }
    };

    for (;;) {
        if (!self || self->isStopRequested())
            return;
        const int64_t now = av_gettime();
        if (now >= nextLog) {
            nextLog = now + 1000000;
            qDebug("position %lf: pictures dropped %lld, skipped %lld", _videoTime.load(),
                   (long long)dropped.load(), (long long)skipped.load());
        }
        if (seekCount != seenSeeks) {
            seenSeeks = seekCount;
            lastDue = -1;
        }
        if (now < next) {
            QThread::msleep(1);
            continue;
        }
        if (!pending) {
            pending.reset(static_cast<OxYUV420P *>(pictureQueue->pop()));
            if (pending && pending->source != stepSource) {
                stepSource = pending->source;
                if (const qint64 sourceStep = intervals[size_t(stepSource)]; sourceStep > 0)
                    step = sourceStep;
                interval = step;
            }
            // The first picture after a start or a seek sets the clock: the time the
            // decoder took to bring it is no lateness.
            if (pending && (pending->restartsClock || lastDue < 0) && now > next)
                next = now;
            if (pending)
                due = next + (pending->steps - 1) * step;
        }
        if (pending) {
            if (now < due) {
                QThread::msleep(1);
                continue;
            }
            std::unique_ptr<OxYUV420P> picture = std::move(pending);
            const int64_t late = now - due;
            lastTime = picture->time;
            lastDue = due;
            clockTime = picture->time + late / 1e6;
            // A late picture is not drawn while a newer one waits: drawing it would only
            // make the next one later still.
            if (late > step && pictureQueue->size() > 0) {
                ++dropped;
            } else {
                _videoTime = picture->time;
                shownSource = picture->source;
                if (videoView)
                    videoView->setFrame(picture.release());
                report(ReportPicture);
            }
            followLateness(late);
            next = due + step;
            continue;
        }
        // The pending seek is read before the end: a seek taken from the end clears the
        // end before it clears its request, so one of the two is always seen.
        if (seekPending || !endReached) {
            // No picture yet although the next is due: the decoder is behind. The clock
            // goes on without it, so the sound does not wait.
            if (lastDue >= 0 && now - next > step)
                clockTime = lastTime + (now - lastDue) / 1e6;
            QThread::msleep(1);
            continue;
        }
        // The decode thread may have queued its last pictures between the pop above and
        // reaching the end: look once more before reporting.
        if (pictureQueue->size() > 0)
            continue;
        break;
    }
    pictureEnded = true;
    report(readResult == AVERROR_EOF ? ReportEnd : ReportError);
}

// ---------------------------------------------------------------------------------------
// Audio thread

void OxFFPlayer::audioLoop()
{
    OxAudioThread *self = audioThread.get();
    // No sound path: the sources play silently. With one, a source without sound simply
    // brings no chunks while the clock runs on the pictures.
    if (!audioResampler || !audioOutput || !self)
        return;
    // Sound further behind the picture than the device can hold came after a stall of
    // the device (a sound server starting up, say); playing it would leave the sound that
    // far behind for good, so it is dropped until it has caught up with the picture.
    const double late = audioOutput->bufferSeconds() + 0.05;
    bool catchingUp = false;
    for (;;) {
        if (self->isStopRequested())
            return;
        if (audioTime > clockTime) {
            QThread::msleep(1);
            continue;
        }
        if (std::unique_ptr<OxAudioData> chunk = audioResampler->popChunk()) {
            audioTime = chunk->time;
            // Measured against the picture on screen, not the clock: sound that a late
            // decoder brings late is played, not dropped.
            const double behind = _videoTime - chunk->time;
            catchingUp = behind > late || (catchingUp && behind > 0);
            if (catchingUp)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (chunk->data[i] && chunk->size[i] > 0)
                    audioOutput->write(chunk->data[i], chunk->size[i], self->stopFlag());
            }
            if (!audioOutput->isUsable()) {
                // The device is gone: the picture plays on without sound.
                qDebug("audio output lost, playing without sound");
                soundLost = true; // nobody takes the chunks any more: stop making them
                return;
            }
            continue;
        }
        if (!pictureEnded || audioResampler->queuedChunks() > 0) {
            QThread::msleep(1);
            continue;
        }
        return;
    }
}
