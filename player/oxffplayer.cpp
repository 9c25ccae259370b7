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

double frameSeconds(const AVFrame *frame, double timeBase)
{
    int64_t ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE)
        ts = frame->pts;
    return ts == AV_NOPTS_VALUE ? 0.0 : ts * timeBase;
}

} // namespace

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
    // A player still running would have its reader closed under its threads.
    stop();
    reader = std::make_unique<StreamReader>();
    const int r = reader->open(utf8Path);
    if (r < 0) {
        stop();
        return r;
    }
    if (!reader->videoStream() || !reader->videoContext()) {
        qDebug("open(%s): no video stream", utf8Path);
        stop();
        return -1;
    }
    prepare();
    resume();
    return 0;
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

// Called by open() on a stopped player: nothing of an earlier recording is left.
void OxFFPlayer::prepare()
{
    seekPending = false;
    seekTarget = 0;
    readResult = 0;
    audioTime = 0;
    _videoTime = 0;
    clockTime = 0;
    skipLevel = 0;
    dropped = 0;
    skipped = 0;
    soundLost = false;
    endReached = false;
    _duration = reader->duration();

    AVStream *video = reader->videoStream();
    frameCache = frameCacheForGop(videoGopSize());
    _frameTime = -1;
    pictureQueue = std::make_unique<MutexQueue>(releaseItem);
    interval = intervalFor(video->avg_frame_rate.num, video->avg_frame_rate.den);
    qDebug("frameCache = %d", frameCache.load());

    if (reader->audioStream() && reader->audioContext() &&
        !QAudioDeviceInfo::defaultOutputDevice().isNull())
        buildAudioPath();

    decodeThread = std::make_unique<OxDecodeThread>(this);
    decodeThread->start(QThread::InheritPriority);
}

void OxFFPlayer::buildAudioPath()
{
    const QAudioDeviceInfo device = QAudioDeviceInfo::defaultOutputDevice();
    const QAudioFormat preferred = device.preferredFormat();
    const int channels = preferred.channelCount();
    const AVSampleFormat format =
        OxAudioOutput::outputFormatFor(preferred.sampleType(), preferred.sampleSize());
    const uint64_t layout = channels == 1 ? AV_CH_FRONT_CENTER : AV_CH_LAYOUT_STEREO;

    const AVCodecContext *a = reader->audioContext();
    const uint64_t inLayout =
        a->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? a->ch_layout.u.mask : 0;
    auto resampler = std::make_unique<OxAudioResampler>(
        a->sample_rate, inLayout, a->ch_layout.nb_channels, a->sample_fmt, preferred.sampleRate(),
        layout, channels, format);
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
    if (!reader || !pictureQueue)
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
}

void OxFFPlayer::report(int type)
{
    if (callback)
        callback(owner, type, _videoTime.load(), duration());
}

int OxFFPlayer::seek(double seconds, int flags)
{
    if (!reader)
        return -1;
    const int r = reader->seek(seconds, flags);
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

OxYUV420P *OxFFPlayer::toYUV420P(const AVFrame *frame)
{
    if (!frame || frame->width <= 0 || frame->height <= 0)
        return nullptr;
    const int w = frame->width;
    const int h = frame->height;
    if (frame->format == AV_PIX_FMT_YUV420P) {
        const uint8_t *planes[3] = {frame->data[0], frame->data[1], frame->data[2]};
        return new OxYUV420P(planes, w, h, frame->linesize);
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
    return new OxYUV420P(planes, w, h, lines);
}

// ---------------------------------------------------------------------------------------
// Decode thread

namespace {

// What a step of decoding tells the loop.
enum class Step { Go, Stop, Seek };

} // namespace

void OxFFPlayer::decodeLoop()
{
    AVStream *video = reader->videoStream();
    AVStream *audio = reader->audioStream();
    AVCodecContext *vctx = reader->videoContext();
    AVCodecContext *actx = reader->audioContext();
    const double videoBase = av_q2d(video->time_base);
    const double audioBase = audio ? av_q2d(audio->time_base) : 0.0;
    AVPacketPtr packet = makePacket();
    AVFramePtr frame = makeFrame();
    OxDecodeThread *self = decodeThread.get();
    const double pictureSeconds = interval / 1e6;
    // Time of the picture queued last, -1 after a seek.
    double lastPictureTime = -1;
    // Pictures still to come out of a decoder that was asked to skip: gaps among them
    // are counted as skipped. Frame threads hand pictures out a few packets late.
    int skipWindow = 0;

    auto stopAsked = [&] { return !self || self->isStopRequested(); };

    // Waits for room in the picture queue; a picture decoded before a requested seek
    // or stop is not worth waiting for.
    auto pushPicture = [&](const AVFrame *f) -> Step {
        OxYUV420P *picture = toYUV420P(f);
        if (!picture)
            return Step::Go;
        picture->time = frameSeconds(f, videoBase);
        // A gap of a few frame intervals after the picture before is where the decoder
        // skipped pictures: the video thread keeps it on the clock. Larger gaps and steps
        // back are seeks or broken timestamps and count as one interval.
        picture->restartsClock = lastPictureTime < 0;
        if (lastPictureTime >= 0) {
            const long gap = std::lround((picture->time - lastPictureTime) / pictureSeconds);
            if (gap >= 2 && gap <= kMaxSteps) {
                picture->steps = int(gap);
                if (skipWindow > 0)
                    skipped += gap - 1;
            }
        }
        lastPictureTime = picture->time;
        if (skipWindow > 0)
            --skipWindow;
        while (pictureQueue->size() > frameCache) {
            if (stopAsked() || seekPending) {
                delete picture;
                return stopAsked() ? Step::Stop : Step::Seek;
            }
            QThread::msleep(1);
        }
        pictureQueue->push(picture);
        return Step::Go;
    };

    // Sends one packet (none = end of stream) and takes every frame it yields; a packet
    // refused with EAGAIN is sent again once the pending frames are out.
    auto decodeVideo = [&](const AVPacket *p) -> Step {
        for (;;) {
            const int sent = avcodec_send_packet(vctx, p);
            const bool again = sent == AVERROR(EAGAIN);
            if (sent < 0 && !again && sent != AVERROR_EOF)
                return Step::Go; // rejected: dropped
            int received = 0;
            while (avcodec_receive_frame(vctx, frame.get()) >= 0) {
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

    auto decodeAudio = [&](const AVPacket *p) {
        for (;;) {
            const int sent = avcodec_send_packet(actx, p);
            const bool again = sent == AVERROR(EAGAIN);
            if (sent < 0 && !again && sent != AVERROR_EOF)
                return;
            int received = 0;
            while (avcodec_receive_frame(actx, frame.get()) >= 0) {
                ++received;
                audioResampler->pushFrame(frame.get(), frameSeconds(frame.get(), audioBase));
                av_frame_unref(frame.get());
            }
            if (!again || received == 0)
                return;
        }
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
            if (audioResampler && actx)
                decodeAudio(nullptr);
            const Step step = decodeVideo(nullptr);
            if (step == Step::Stop)
                return;
            if (step == Step::Seek)
                continue; // the seek flushes the decoders out of their drained state
            readResult = result;
            if (result != AVERROR_EOF)
                qDebug("read frame = %x, %s", unsigned(result), qPrintable(avErrorText(result)));
            endReached = true;
            continue;
        }
        Step step = Step::Go;
        if (reader->isVideoPacket(packet.get())) {
            const int level = skipLevel;
            const AVDiscard discard = level >= 2   ? AVDISCARD_BIDIR
                                      : level == 1 ? AVDISCARD_NONREF
                                                   : AVDISCARD_DEFAULT;
            if (vctx->skip_frame != discard)
                vctx->skip_frame = discard;
            if (level > 0)
                skipWindow = kSkipWindow;
            step = decodeVideo(packet.get());
        } else if (audioResampler && actx && !soundLost && reader->isAudioPacket(packet.get()))
            decodeAudio(packet.get());
        av_packet_unref(packet.get());
        if (step == Step::Stop)
            return;
    }
}

// ---------------------------------------------------------------------------------------
// Video thread: the clock

void OxFFPlayer::videoLoop()
{
    OxVideoThread *self = videoThread.get();
    const qint64 step = interval;
    int64_t next = av_gettime();
    qDebug("interval %lld", (long long)step);

    // The picture taken from the queue and the wall time it is due at.
    OxYUV420P *pending = nullptr;
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
        if (!self || self->isStopRequested()) {
            delete pending;
            return;
        }
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
            pending = static_cast<OxYUV420P *>(pictureQueue->pop());
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
            OxYUV420P *picture = std::exchange(pending, nullptr);
            const int64_t late = now - due;
            lastTime = picture->time;
            lastDue = due;
            clockTime = picture->time + late / 1e6;
            // A late picture is not drawn while a newer one waits: drawing it would only
            // make the next one later still.
            if (late > step && pictureQueue->size() > 0) {
                delete picture;
                ++dropped;
            } else {
                _videoTime = picture->time;
                if (videoView)
                    videoView->setFrame(picture);
                else
                    delete picture;
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
    if (!reader->audioStream() || !audioResampler || !audioOutput || !self)
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
        OxAudioData *chunk = audioResampler->popChunk();
        if (chunk) {
            audioTime = chunk->time;
            // Measured against the picture on screen, not the clock: sound that a late
            // decoder brings late is played, not dropped.
            const double behind = _videoTime - chunk->time;
            catchingUp = behind > late || (catchingUp && behind > 0);
            if (catchingUp) {
                delete chunk;
                continue;
            }
            for (int i = 0; i < 2; ++i) {
                if (chunk->data[i] && chunk->size[i] > 0)
                    audioOutput->write(chunk->data[i], chunk->size[i], self->stopFlag());
            }
            delete chunk;
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
