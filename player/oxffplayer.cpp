#include "oxffplayer.h"

#include "oxaudio.h"
#include "oxffplayerthreads.h"
#include "oxframesink.h"
#include "oxmediadata.h"
#include "oxqueue.h"
#include "streamreader.h"

#include <QAudioDeviceInfo>
#include <QDebug>

#include <algorithm>
#include <cmath>
#include <deque>
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

// Sound is decoded this far ahead of the playing position (seconds) before the next
// video packet is decoded, so a slow picture never leaves the device without sound.
constexpr double kSoundAhead = 0.5;
// Video packets that may wait for the decoder while sound is read ahead of them.
constexpr int kMaxWaitingPackets = 120;
constexpr qint64 kMaxWaitingBytes = 32 << 20;

constexpr double kNever = -std::numeric_limits<double>::infinity();

// What is heard follows the picture clock (seconds at 1x): sound this far behind it is
// skipped at once (after a stall of the device); sound this far ahead waits.
constexpr double kFarBehind = 0.1;
constexpr double kFarAhead = 0.05;
// Between those, the offset is averaged over kDriftSmoothing microseconds and set right
// (sound skipped, or silence put in) when the average leaves kMaxDrift, at most once per
// kDriftSettle microseconds after the first sound.
constexpr double kMaxDrift = 0.008;
constexpr double kDriftSmoothing = 300000;
constexpr int64_t kDriftSettle = 1000000;
// Changes of what the device has taken smaller than this (seconds) are rounding.
constexpr double kTakenNoise = 0.0005;
// Chunk times this far from where the sound before them ended are a jump, not rounding.
constexpr double kSoundJump = 0.1;
// The longest sleep (microseconds) of a thread that waits for a picture's time or for room
// in the picture queue: a seek, a new rate or the stop is seen within it. Polling every
// millisecond instead woke each of those threads 900 times a second.
constexpr int64_t kWaitStep = 5000;

// Sleeps until the wall time until (microseconds), or for kWaitStep if that is sooner.
void sleepTowards(int64_t until, int64_t now)
{
    QThread::usleep(static_cast<unsigned long>(std::clamp<int64_t>(until - now, 1, kWaitStep)));
}

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
    // Pictures from one key picture to the next (0: unknown).
    int keyGap = 0;
    // The seek being carried out lands exactly (a frame step, a change of rate): a target
    // past the end of a source stays in that source.
    bool exactSeek = false;
    // Time in the file of the last picture queued from this source; -1 before the first.
    double lastFileTime = -1;
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

void OxFFPlayer::setLeader(const OxFFPlayer *lead)
{
    leader = lead;
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

int OxFFPlayer::frameCacheFor(int gop, int width, int height)
{
    const int byGop = frameCacheForGop(gop);
    const qint64 pictureBytes = qint64(std::max(width, 0)) * std::max(height, 0) * 3 / 2;
    if (pictureBytes <= 0)
        return byGop;
    // The queue holds one picture more than its limit (the decoder checks for room before
    // it decodes the next one).
    const qint64 byBytes = kPictureQueueBytes / pictureBytes - 1;
    return int(std::max<qint64>(kMinQueuedPictures, std::min<qint64>(byGop, byBytes)));
}

double OxFFPlayer::stepRate(double current, int direction)
{
    constexpr int count = int(sizeof(kRates) / sizeof(kRates[0]));
    int nearest = 0;
    for (int i = 1; i < count; ++i) {
        if (std::fabs(std::log(kRates[i] / current)) <
            std::fabs(std::log(kRates[nearest] / current)))
            nearest = i;
    }
    return kRates[qBound(0, nearest + (direction > 0 ? 1 : direction < 0 ? -1 : 0), count - 1)];
}

void OxFFPlayer::setRate(double r)
{
    if (!(r > 0)) // also NaN
        return;
    r = qBound(kRates[0], r, kRates[sizeof(kRates) / sizeof(kRates[0]) - 1]);
    if (playRate.exchange(r) != r)
        qDebug("rate %g", r);
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
    candidate->setVideoStreamOrdinal(sources[size_t(index)].videoStream);
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
        // A follower says it always: the leader plays on alone.
        if (sources.size() > 1 || leader)
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
    p.lastFileTime = -1;
    const qint64 step = intervalFor(video->avg_frame_rate.num, video->avg_frame_rate.den);
    intervals[size_t(index)] = step;
    p.pictureSeconds = step / 1e6;
    p.keyGap = videoGopSize();
    frameCache = frameCacheFor(p.keyGap, p.vctx->width, p.vctx->height);
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
    setClock(start);
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
    if (!leader && (audio || sources.size() > 1) &&
        !QAudioDeviceInfo::defaultOutputDevice().isNull() && !buildResampler(audio))
        qDebug("audio output unavailable, playing without sound");
    play(index);
    interval = intervals[size_t(index)].load();
    qDebug("frameCache = %d", frameCache.load());

    // Not from the start: the decode thread's first step is the seek there.
    if (position > 0) {
        seekTarget = start;
        seekKind = SeekToKey;
        seekPending = true;
    }
    // resume() follows at once: at a fast rate the first pictures are key pictures too.
    picturesFlowing = true;
    decodeThread = std::make_unique<OxDecodeThread>(this);
    decodeThread->start(QThread::InheritPriority);
    // Opening the device takes about as long as the first pictures take to decode: it is
    // done meanwhile, so the sound is ready for the first picture.
    if (audioResampler)
        startAudioOutput();
}

// The converter to the device's preferred format; from the given decoder's format, or,
// without one, from the device's own until a source with sound comes. False when the
// sound cannot be converted.
bool OxFFPlayer::buildResampler(const AVCodecContext *a)
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
    if (!resampler->canConvert())
        return false;
    audioResampler = std::move(resampler);
    return true;
}

// Runs on the owner's thread while the decode thread already fills the resampler.
void OxFFPlayer::startAudioOutput()
{
    auto output = std::make_unique<OxAudioOutput>();
    output->setVolume(volume);
    if (output->start(audioResampler->outputRate(), audioResampler->outputFormat(),
                      audioResampler->outputChannels()) < 0) {
        // No usable sound path: play silently at the picture rate, and stop decoding sound.
        qDebug("audio output unavailable, playing without sound");
        soundLost = true;
        return;
    }
    audioOutput = std::move(output);
}

void OxFFPlayer::resume()
{
    // The picture queue lives from a successful open to stop(); the reader may be in the
    // decode thread's hands.
    if (!pictureQueue)
        return;
    stopStepping();
    stopThread(videoThread);
    stopThread(audioThread);
    pictureEnded = false;
    clockRunning = false;
    picturesFlowing = true;
    videoThread = std::make_unique<OxVideoThread>(this);
    videoThread->start(QThread::InheritPriority);
    audioThread = std::make_unique<OxAudioThread>(this);
    audioThread->start(QThread::InheritPriority);
}

void OxFFPlayer::pause()
{
    picturesFlowing = false;
    stopThread(videoThread);
    stopThread(audioThread);
    // The pictures queued at a fast rate are key pictures only: a frame step must find
    // the one after the picture on screen next.
    if (keysOnlyDecoding && !seekPending)
        askSeek(_videoTime, SeekAfter);
}

void OxFFPlayer::requestSeek(double seconds)
{
    qDebug("seek %lf", seconds);
    askSeek(seconds, SeekToKey);
}

// The target and its kind are written before the request, which the decode thread takes
// first and then reads them.
void OxFFPlayer::askSeek(double seconds, SeekKind kind)
{
    seekTarget = seconds;
    seekKind = kind;
    seekPending = true;
}

bool OxFFPlayer::stepForward()
{
    return step(1);
}

bool OxFFPlayer::stepBackward()
{
    return step(-1);
}

bool OxFFPlayer::showAt(double seconds)
{
    if (!pictureQueue || !decodeThread)
        return false;
    if (isPlaying()) {
        requestSeek(seconds);
        return true;
    }
    // The step thread waits for the seek and takes the first picture it brings; steps
    // still wanted from before (a step under way is one) are dropped, or it would go on
    // past that picture.
    askSeek(seconds, SeekAt);
    return step(1, true);
}

bool OxFFPlayer::step(int direction, bool replace)
{
    if (!pictureQueue || !decodeThread)
        return false;
    pause();
    {
        QMutexLocker lock(&stepMutex);
        stepsWanted = replace ? direction : stepsWanted + direction;
        if (stepping)
            return true; // the step thread at work takes this one too
        stepping = true;
    }
    stopThread(stepThread); // one that has carried out its steps and ended
    stepThread = std::make_unique<OxStepThread>(this);
    stepThread->start(QThread::InheritPriority);
    return true;
}

void OxFFPlayer::stopStepping()
{
    stopThread(stepThread);
    QMutexLocker lock(&stepMutex);
    stepsWanted = 0;
    stepping = false;
}

// Step thread.
void OxFFPlayer::stepLoop()
{
    OxStepThread *self = stepThread.get();
    for (;;) {
        int direction = 0;
        {
            QMutexLocker lock(&stepMutex);
            if (stepsWanted == 0 || !self || self->isStopRequested()) {
                stepping = false;
                return;
            }
            direction = stepsWanted > 0 ? 1 : -1;
        }
        const bool done = stepOnce(direction);
        QMutexLocker lock(&stepMutex);
        // At either end the steps still wanted cannot be carried out.
        stepsWanted = done ? stepsWanted - direction : 0;
    }
}

// Step thread: one picture forward, or back to the picture before the one on screen.
bool OxFFPlayer::stepOnce(int direction)
{
    if (direction < 0) {
        const int source = shownSource;
        if (source < 0)
            return false;
        // The picture on screen half an interval before this one is the one before it,
        // in this source or at the end of the source before.
        const double target = _videoTime - intervals[size_t(source)] / 2e6;
        if (target < sources.front().timelineStart)
            return false;
        unshown.reset();
        const int before = seekCount;
        askSeek(target, SeekAt);
        while (seekPending || seeking) {
            if (stepThread->isStopRequested())
                return false;
            QThread::msleep(1);
        }
        if (seekCount == before)
            return false; // the seek failed: nothing before
    }
    std::unique_ptr<OxYUV420P> picture = nextPicture();
    if (!picture)
        return false;
    setClock(picture->time);
    show(std::move(picture));
    return true;
}

// Step thread: the next picture of the current position, waiting for the decoder; none
// at the end of the timeline or when the thread is stopped.
std::unique_ptr<OxYUV420P> OxFFPlayer::nextPicture()
{
    for (;;) {
        if (stepThread->isStopRequested())
            return nullptr;
        // The pictures of a seek under way come next.
        if (!seekPending && !seeking) {
            std::unique_ptr<OxYUV420P> picture =
                unshown ? std::move(unshown)
                        : std::unique_ptr<OxYUV420P>(static_cast<OxYUV420P *>(pictureQueue->pop()));
            if (picture && picture->generation == seekCount)
                return picture;
            if (picture)
                continue; // from before a seek
            if (endReached && pictureQueue->size() == 0)
                return nullptr;
        }
        QThread::msleep(1);
    }
}

// Video or step thread: the picture goes to the view and is reported.
void OxFFPlayer::show(std::unique_ptr<OxYUV420P> picture)
{
    _videoTime = picture->time;
    shownSource = picture->source;
    if (videoView)
        videoView->setFrame(picture.release());
    report(ReportPicture);
}

// The one place where the player's objects are released.
void OxFFPlayer::stop()
{
    // The workers go first, video, audio and steps before decode (they read what it fills).
    stopStepping();
    picturesFlowing = false;
    stopThread(videoThread);
    stopThread(audioThread);
    stopThread(decodeThread);
    keysOnlyDecoding = false;
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
    unshown.reset();
    _duration = 0;
    shownSource = -1;
}

// The time first, then when: a reader that sees the same "when" before and after reading
// the time has a pair that belongs together.
void OxFFPlayer::setClock(double seconds)
{
    clockTime = seconds;
    clockAt = av_gettime();
}

// Where the picture clock is now: it runs on from its last setting for at most a
// picture's time (the next picture, or the video thread moving it on, comes by then).
double OxFFPlayer::clockNow() const
{
    for (;;) {
        const int64_t at = clockAt;
        const double seconds = clockTime;
        if (clockAt != at)
            continue;
        const double ran = std::max<int64_t>(0, av_gettime() - at) / 1e6 * playRate;
        return seconds + std::min(ran, interval / 1e6);
    }
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
            if (playing->exactSeek) {
                // Its last pictures are what was on screen until the next source.
                position = std::min(position, sourceEnd(index, target));
            } else if (!last && position > sourceEnd(index, target)) {
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
        setClock(seconds);
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
    // Rows already as the picture lays them out: the picture holds on to the decoder's
    // frame instead of a copy of it.
    if (OxYUV420P::isPacked(frame)) {
        AVFramePtr ref = makeFrame();
        if (ref && av_frame_ref(ref.get(), frame) >= 0)
            return std::make_unique<OxYUV420P>(std::move(ref));
    }
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
    // Video packets read and not yet decoded, oldest first: sound is read and decoded
    // ahead of them while a slow decoder works.
    std::deque<AVPacketPtr> waiting;
    qint64 waitingBytes = 0;
    // The read result that ended the current source; 0 while it is being read.
    int readEnd = 0;
    // Timeline time up to which sound has been decoded.
    double soundDecoded = clockTime;
    // After an exact seek: pictures up to this timeline time are held back, the latest
    // one kept, until a later one shows which was on screen at the target. Sound before
    // soundFrom is dropped.
    double holdUntil = kNever;
    bool holdKeeps = false; // false: the pictures up to holdUntil are dropped, none held
    double soundFrom = kNever;
    AVFramePtr held;
    double heldTime = 0;
    // Decoding key pictures only, for a fast rate.
    bool keysOnly = false;

    auto stopAsked = [&] { return !self || self->isStopRequested(); };
    auto soundWanted = [&] { return p.sound && !soundLost && !keysOnly; };
    auto clearWaiting = [&] {
        waiting.clear();
        waitingBytes = 0;
    };

    // Waits for room in the picture queue; a picture decoded before a requested seek
    // or stop is not worth waiting for.
    auto queuePicture = [&](std::unique_ptr<OxYUV420P> picture) -> Step {
        picture->generation = seekCount;
        // A gap of a few frame intervals after the picture before is where the decoder
        // skipped pictures: the video thread keeps it on the clock. Larger gaps and steps
        // back are seeks or broken timestamps and count as one interval, and so does the
        // step to the next source (a gap between two sources is not held on screen).
        // Key pictures alone are held up to the next one, across sources too.
        picture->restartsClock = lastPictureTime < 0;
        if (lastPictureTime >= 0 && (!p.continues || keysOnly)) {
            const long gap = std::lround((picture->time - lastPictureTime) / p.pictureSeconds);
            const long most = keysOnly ? std::max(kMaxSteps, 2 * p.keyGap) : kMaxSteps;
            if (gap >= 2 && gap <= most) {
                picture->steps = int(gap);
                if (skipWindow > 0 && !keysOnly)
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
            // Room comes when the next picture is shown, a picture's time away.
            QThread::usleep(kWaitStep);
        }
        pictureQueue->push(picture.release());
        return Step::Go;
    };

    auto makePicture = [&](const AVFrame *f, double time) {
        std::unique_ptr<OxYUV420P> picture = toYUV420P(f);
        if (picture) {
            picture->time = time;
            picture->source = p.index;
        }
        return picture;
    };

    // The picture held back after an exact seek goes first, once a later picture or the
    // end of its source shows it was the one on screen at the target.
    auto releaseHeld = [&]() -> Step {
        holdUntil = kNever;
        if (!held)
            return Step::Go;
        std::unique_ptr<OxYUV420P> picture = makePicture(held.get(), heldTime);
        held.reset();
        return picture ? queuePicture(std::move(picture)) : Step::Go;
    };

    auto pushPicture = [&](AVFrame *f) -> Step {
        const double fileTime = frameSeconds(f, p.videoBase);
        if (fileTime >= p.cutOut) {
            p.videoDone = true;
            return Step::Go;
        }
        if (fileTime < p.cutIn)
            return Step::Go;
        p.lastFileTime = fileTime;
        const double time = fileTime + p.offset;
        if (time <= holdUntil + kCutTolerance) {
            if (!holdKeeps)
                return Step::Go;
            if (!held)
                held = makeFrame();
            av_frame_unref(held.get());
            if (av_frame_ref(held.get(), f) < 0)
                held.reset();
            heldTime = time;
            return Step::Go;
        }
        if (const Step s = releaseHeld(); s != Step::Go)
            return s;
        std::unique_ptr<OxYUV420P> picture = makePicture(f, time);
        return picture ? queuePicture(std::move(picture)) : Step::Go;
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

    // Sound outside the cuts, and before the target of an exact seek, is dropped to the
    // sample.
    auto pushSound = [&](const AVFrame *f) {
        const double start = frameSeconds(f, p.audioBase);
        const int rate = f->sample_rate > 0 ? f->sample_rate : p.actx->sample_rate;
        if (rate <= 0)
            return;
        const double end = start + double(f->nb_samples) / rate;
        if (end > p.cutOut)
            p.audioDone = true;
        soundDecoded = std::min(end, p.cutOut) + p.offset;
        const double from = std::max(p.cutIn, soundFrom - p.offset);
        if (end <= from || start >= p.cutOut)
            return;
        const int first = start < from ? int(std::lround((from - start) * rate)) : 0;
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

    // Reads one packet: sound is decoded at once, a video packet waits in line.
    auto readPacket = [&] {
        const int result = reader->readFrame(packet.get());
        if (result < 0) {
            readEnd = result;
            return;
        }
        if (reader->isVideoPacket(packet.get())) {
            if (!keysOnly || (packet->flags & AV_PKT_FLAG_KEY)) {
                AVPacketPtr waits = makePacket();
                av_packet_move_ref(waits.get(), packet.get());
                waitingBytes += waits->size;
                waiting.push_back(std::move(waits));
            }
        } else if (soundWanted() && reader->isAudioPacket(packet.get())) {
            decodeAudio(packet.get());
        }
        av_packet_unref(packet.get());
    };

    // The current source is read to its end (or its cut): on to the next, or the end of
    // it all.
    auto sourceFinished = [&](int result) -> Step {
        if (const Step s = releaseHeld(); s != Step::Go)
            return s;
        clearWaiting();
        readEnd = 0;
        if (result != AVERROR_EOF && (sources.size() > 1 || leader))
            qWarning("dashcam-player: skipping the rest of %s: %s",
                     sources[size_t(p.index)].path.constData(), qPrintable(avErrorText(result)));
        else if (leader && std::isfinite(p.cutOut) && p.lastFileTime < p.cutOut - 1.0)
            // A cut file reads to its end early; its part of the timeline stays black.
            qWarning("dashcam-player: %s ends at %.1f s, before %.1f s",
                     sources[size_t(p.index)].path.constData(), std::max(0.0, p.lastFileTime),
                     p.cutOut);
        if (advance())
            return Step::Go;
        readResult = result;
        if (result != AVERROR_EOF)
            qDebug("read frame = %x, %s", unsigned(result), qPrintable(avErrorText(result)));
        endReached = true;
        return Step::Go;
    };

    for (;;) {
        if (stopAsked())
            return;
        if (seekPending) {
            // Seen as under way before the request is taken, so a step waiting for the
            // pictures of the new position never takes one from before it.
            seeking = true;
            // Back into the file before the request is taken, so the video thread never
            // sees the end reached with no seek pending while this one is carried out.
            const bool wasAtEnd = endReached.exchange(false);
            // Taken in one step, so a request that arrives during the seek is kept for
            // the next turn.
            seekPending.exchange(false);
            const int kind = seekKind;
            const double target = seekTarget;
            p.exactSeek = kind != SeekToKey;
            if (seek(target, kSeekFlags) < 0) {
                if (wasAtEnd)
                    endReached = true; // a failed seek leaves everything as it was
            } else {
                lastPictureTime = -1;
                clearWaiting();
                readEnd = 0;
                held.reset();
                holdUntil = kind != SeekToKey ? target : kNever;
                holdKeeps = kind == SeekAt;
                soundFrom = holdUntil;
                soundDecoded = clockTime;
            }
            p.exactSeek = false;
            seeking = false;
        }
        // A rate fast enough for key pictures only while the pictures flow, or back from
        // one. The pictures queued ahead on the way back are key pictures, and the decoder
        // has not seen the ones between: decoding starts again exactly where playback is,
        // or, paused, right after the picture on screen.
        if (const bool wanted = playRate >= kKeyOnlyRate && picturesFlowing; wanted != keysOnly) {
            keysOnly = wanted;
            keysOnlyDecoding = wanted;
            if (!keysOnly && !seekPending) {
                if (picturesFlowing)
                    askSeek(clockTime, SeekAt);
                else
                    askSeek(_videoTime, SeekAfter);
            }
            continue;
        }
        if (endReached) {
            // Everything is queued: wait for a seek or the stop.
            QThread::msleep(1);
            continue;
        }
        const bool soundBehind = soundWanted() && soundDecoded < clockTime + kSoundAhead;
        const bool roomToWait =
            int(waiting.size()) < kMaxWaitingPackets && waitingBytes < kMaxWaitingBytes;
        if (readEnd == 0 && (waiting.empty() || (soundBehind && roomToWait))) {
            readPacket();
            continue;
        }
        if (!waiting.empty()) {
            if (pictureQueue->size() > frameCache) {
                // Room comes when the next picture is shown, a picture's time away.
                QThread::usleep(kWaitStep);
                continue;
            }
            AVPacketPtr next = std::move(waiting.front());
            waiting.pop_front();
            waitingBytes -= next->size;
            const int level = keysOnly ? 0 : skipLevel.load();
            const AVDiscard discard = level >= 2   ? AVDISCARD_BIDIR
                                      : level == 1 ? AVDISCARD_NONREF
                                                   : AVDISCARD_DEFAULT;
            if (p.vctx->skip_frame != discard)
                p.vctx->skip_frame = discard;
            if (level > 0)
                skipWindow = kSkipWindow;
            // Packets that came before a change to key pictures only are left out too.
            const Step step =
                keysOnly && !(next->flags & AV_PKT_FLAG_KEY) ? Step::Go : decodeVideo(next.get());
            if (step == Step::Stop)
                return;
            // Cut at clipOut: what follows in the file is not played. The decoders'
            // held-back pictures and sound all come later still.
            if (step == Step::Go && p.videoDone && (p.audioDone || !soundWanted()) &&
                sourceFinished(AVERROR_EOF) == Step::Stop)
                return;
            continue;
        }
        // Read to the end and every waiting packet decoded: drain, the decoders still hold
        // the last pictures and sound of the file.
        if (soundWanted())
            decodeAudio(nullptr);
        const Step step = decodeVideo(nullptr);
        if (step == Step::Stop)
            return;
        if (step == Step::Seek)
            continue; // the seek flushes the decoders out of their drained state
        if (sourceFinished(readEnd) == Step::Stop)
            return;
    }
}

// ---------------------------------------------------------------------------------------
// Video thread: the clock

void OxFFPlayer::videoLoop()
{
    if (leader) {
        followLoop();
        return;
    }
    OxVideoThread *self = videoThread.get();
    // The frame interval of the source on screen (each source of a sequence has its
    // own), and the wall time between pictures at the rate.
    qint64 sourceStep = interval;
    double r = playRate;
    qint64 step = std::max<qint64>(1, qint64(sourceStep / r));
    int stepSource = -1;
    int64_t next = av_gettime();
    qDebug("interval %lld", (long long)sourceStep);

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

    auto take = [&](std::unique_ptr<OxYUV420P> picture, int64_t now) {
        pending = std::move(picture);
        if (pending->source != stepSource) {
            stepSource = pending->source;
            if (const qint64 s = intervals[size_t(stepSource)]; s > 0)
                sourceStep = s;
            interval = sourceStep;
            step = std::max<qint64>(1, qint64(sourceStep / r));
        }
        // The first picture after a start or a seek sets the clock: the time the decoder
        // took to bring it is no lateness.
        if ((pending->restartsClock || lastDue < 0) && now > next)
            next = now;
        due = next + (pending->steps - 1) * step;
    };

    // A picture taken and not shown when the thread was stopped before comes first.
    if (unshown && unshown->generation == seekCount)
        take(std::move(unshown), next);
    unshown.reset();

    for (;;) {
        if (!self || self->isStopRequested()) {
            unshown = std::move(pending);
            return;
        }
        const int64_t now = av_gettime();
        if (now >= nextLog) {
            nextLog = now + 1000000;
            qDebug("position %lf: pictures dropped %lld, skipped %lld", _videoTime.load(),
                   (long long)dropped.load(), (long long)skipped.load());
        }
        if (const double wanted = playRate; wanted != r) {
            // The new pace starts with the next picture.
            r = wanted;
            step = std::max<qint64>(1, qint64(sourceStep / r));
            next = std::min(next, now);
            if (pending)
                due = next + (pending->steps - 1) * step;
        }
        if (seekCount != seenSeeks) {
            // The first picture of the new position is shown as soon as it is decoded.
            seenSeeks = seekCount;
            lastDue = -1;
            next = std::min(next, now);
            if (pending && pending->generation != seenSeeks)
                pending.reset();
        }
        if (now < next) {
            sleepTowards(next, now);
            continue;
        }
        if (!pending) {
            std::unique_ptr<OxYUV420P> picture(static_cast<OxYUV420P *>(pictureQueue->pop()));
            if (picture && picture->generation != seekCount)
                continue; // taken while a seek cleared the queue
            if (picture)
                take(std::move(picture), now);
        }
        if (pending) {
            if (now < due) {
                // A picture that stands for skipped ones is due later than the next step:
                // the clock runs on meanwhile, as it does while the decoder is behind.
                if (lastDue >= 0)
                    setClock(lastTime + (now - lastDue) / 1e6 * r);
                sleepTowards(due, now);
                continue;
            }
            std::unique_ptr<OxYUV420P> picture = std::move(pending);
            const int64_t late = now - due;
            lastTime = picture->time;
            lastDue = due;
            setClock(picture->time + late / 1e6 * r);
            // A late picture is not drawn while a newer one waits: drawing it would only
            // make the next one later still.
            if (late > step && pictureQueue->size() > 0) {
                ++dropped;
            } else {
                show(std::move(picture));
                clockRunning = true;
            }
            followLateness(late);
            next = due + step;
            continue;
        }
        // The pending seek is read before the end: a seek taken from the end clears the
        // end before it clears its request, so one of the two is always seen.
        if (seekPending || !endReached) {
            // No picture yet although the next is due: the decoder is behind. The clock
            // goes on without it from the moment it is due, so the sound does not wait,
            // nor finds itself ahead of a clock held a picture's time back.
            if (lastDue >= 0 && now > next)
                setClock(lastTime + (now - lastDue) / 1e6 * r);
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
    const double bytesPerSecond = audioResampler->outputBytesPerSecond();
    if (bytesPerSecond <= 0)
        return;
    OxAudioTempo tempo(audioResampler->outputRate(), audioResampler->outputFormat(),
                       audioResampler->outputChannels());
    double tempoRate = 0; // the rate the tempo filter is built for
    // Sound for the device, written from offset on.
    std::vector<uint8_t> out;
    size_t offset = 0;
    // Timeline time at the end of the sound given to the tempo filter, and whether any was
    // given since this loop began or the last seek: until then the clock is where the
    // seek or the start put it.
    double fedEnd = 0;
    bool fed = false;
    // What the device had taken when it last took more, the start of that block (timeline
    // seconds) and when it was taken (microseconds).
    double lastTaken = 0;
    double blockStart = 0;
    int64_t blockAt = 0;
    std::unique_ptr<OxAudioData> chunk;
    int seenSeeks = seekCount;
    // The heard time less the clock, averaged, and when it was last brought up to date;
    // no correction of it before settledFrom (microseconds).
    double drift = 0;
    int64_t driftAt = av_gettime();
    // Sound still to skip to catch up with the clock (media seconds).
    double toSkip = 0;
    int64_t settledFrom = 0;
    for (;;) {
        if (self->isStopRequested())
            return;
        const double r = playRate;
        const bool audible = r <= kMaxSoundRate;
        if (seekCount != seenSeeks) {
            seenSeeks = seekCount;
            chunk.reset();
            out.clear();
            offset = 0;
            tempo.reset();
            fed = false; // the offset is measured afresh from the next sound fed
            toSkip = 0;
        }
        if (audible && r != tempoRate) {
            tempoRate = r;
            if (!tempo.setTempo(r))
                qDebug("no tempo filter for rate %g: the sound plays unchanged", r);
        }
        if (fed) {
            // What the device has taken: the sound given out, less what the filter holds,
            // what is not written yet and what the device still holds. It takes sound in
            // blocks and plays each while it takes the next, so what is heard lags what it
            // has taken by a block: heard runs on from where the last block began, and
            // never past what was taken (the device stalls, or runs dry).
            const double unwritten = double(out.size() - offset) / bytesPerSecond;
            const double taken = fedEnd - tempo.heldSeconds() -
                                 (unwritten + audioOutput->queuedSeconds()) * tempo.tempo();
            const int64_t now = av_gettime();
            if (taken > lastTaken + kTakenNoise) {
                blockStart = lastTaken;
                blockAt = now;
            }
            lastTaken = taken;
            audioTime = std::min(taken, blockStart + (now - blockAt) / 1e6 * tempo.tempo());
            if (clockRunning && audible) {
                drift += (audioTime - clockNow() - drift) *
                         (1 - std::exp(-double(now - driftAt) / kDriftSmoothing));
            }
            driftAt = now;
        }
        if (offset < out.size()) {
            const qint64 n =
                audioOutput->writeSome(out.data() + offset, qint64(out.size() - offset));
            if (n < 0 || !audioOutput->isUsable()) {
                // The device is gone: the picture plays on without sound.
                qDebug("audio output lost, playing without sound");
                soundLost = true; // nobody takes the chunks any more: stop making them
                return;
            }
            offset += size_t(n);
            if (offset >= out.size()) {
                out.clear();
                offset = 0;
            }
            if (n == 0)
                QThread::msleep(1); // full: the device's consumption paces this thread
            continue;
        }
        // The sound starts with the first picture, and what is heard stays with the picture
        // clock (which runs on while a late decoder catches up).
        if (!clockRunning || (fed && audioTime > clockNow() + kFarAhead * tempo.tempo())) {
            QThread::msleep(1);
            continue;
        }
        if (!chunk)
            chunk = audioResampler->popChunk();
        if (!chunk) {
            if (!pictureEnded || audioResampler->queuedChunks() > 0) {
                QThread::msleep(1);
                continue;
            }
            return;
        }
        if (!audible) {
            // Muted: the sound is passed over as the picture reaches it.
            if (chunk->time > clockTime) {
                QThread::msleep(1);
                continue;
            }
            audioTime = chunk->time;
            fed = false;
            chunk.reset();
            continue;
        }
        double seconds = 0;
        for (int i = 0; i < 2; ++i)
            seconds += chunk->size[i] / bytesPerSecond;
        // Sound far behind the clock came after a stall of the device (a sound server
        // starting up, say); played, it would stay that far behind for good, so as much of
        // it is skipped as it lags. A small offset that lasts (a device a little slower or
        // faster than the clock, or one that started late) is set right the same way, or
        // with silence when the sound is ahead.
        const int64_t now = av_gettime();
        const double ahead = audioTime - clockNow();
        double correction = 0; // media seconds: > 0 to skip, < 0 silence to put in
        if (fed && toSkip == 0 && -ahead > kFarBehind * tempo.tempo()) {
            correction = -ahead;
        } else if (fed && now >= settledFrom && std::fabs(drift) > kMaxDrift * tempo.tempo()) {
            correction = std::max(-drift, -kFarAhead * tempo.tempo());
        }
        if (correction != 0) {
            settledFrom = now + kDriftSettle;
            if (correction > 0)
                toSkip = correction;
            else
                drift += correction;
        }
        const int rate = audioResampler->outputRate();
        const int samples = int(std::lround(seconds * rate));
        const int skip = int(std::min<double>(samples, toSkip * rate));
        const int frameBytes = int(bytesPerSecond) / rate;
        if (correction < 0) {
            const int silence = int(-correction / tempo.tempo() * rate);
            const int format = audioResampler->outputFormat();
            out.insert(out.end(), size_t(silence) * frameBytes,
                       format == AV_SAMPLE_FMT_U8 ? 0x80 : 0);
        }
        for (int i = 0; i < 2 && samples > 0; ++i) {
            const int unit = chunk->size[i] / samples; // bytes of one sample in this buffer
            if (chunk->data[i] && skip < samples)
                tempo.process(chunk->data[i] + skip * unit, (samples - skip) * unit, &out);
        }
        const double skipped = samples > 0 ? seconds * skip / samples : 0;
        toSkip = skip < samples ? 0 : std::max(0.0, toSkip - skipped);
        drift += skipped;
        // The sound runs on from the chunk before unless the times part (a gap between
        // sources, broken timestamps).
        const double start =
            fed && std::fabs(chunk->time - fedEnd) < kSoundJump ? fedEnd : chunk->time;
        if (!fed) {
            // The first sound after a start or a seek: heard from its own time on.
            lastTaken = blockStart = start;
            blockAt = av_gettime();
            // The offset is measured, and set right, from this sound on: the wait for the
            // first picture is no offset.
            drift = 0;
            driftAt = blockAt;
            settledFrom = blockAt + kDriftSettle;
        } else {
            // Skipped sound is never heard, and a jump in the sound's times is no block
            // taken by the device: the heard time moves with them.
            const double shift = start - fedEnd + skipped + std::min(correction, 0.0);
            lastTaken += shift;
            blockStart += shift;
        }
        fedEnd = start + seconds;
        fed = true;
        chunk.reset();
    }
}
