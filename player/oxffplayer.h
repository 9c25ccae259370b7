#pragma once

#include <QByteArray>
#include <QMutex>
#include <QtGlobal>

#include <atomic>
#include <memory>
#include <vector>

class StreamReader;
class MutexQueue;
class OxFrameSink;
class OxAudioResampler;
class OxAudioOutput;
class OxYUV420P;
class OxDecodeThread;
class OxVideoThread;
class OxAudioThread;
class OxStepThread;
class OxThread;
struct AVFrame;
struct AVCodecContext;

// One recording of a sequence the player plays on one timeline: the part of the file from
// clipIn to clipOut (seconds from its first picture) lands on the timeline at
// timelineStart. Parts of two recordings that would cover the same moment are cut by the
// caller through clipIn and clipOut, so each moment plays once.
struct OxPlaySource
{
    QByteArray path;          // as handed to FFmpeg (UTF-8, or the file name's own bytes)
    double clipIn = 0;        // seconds into the file where this source starts playing
    double clipOut = -1;      // seconds into the file where it stops; < 0: at its end
    double timelineStart = 0; // where clipIn lands on the timeline
    // The video stream shown: -1 the one a single recording shows (its last); otherwise
    // the ordinal among the file's video streams (a file holding two cameras).
    int videoStream = -1;
};

// Progress report, called on the video thread: the owner hands it over to its own thread.
// type 3: a picture was handed to the view; 1: the last picture was shown after end of
// file; 2: the last picture was shown after a read error. current and duration in seconds.
using PlayerCallback = void (*)(void *owner, int type, double current, double duration);

// Plays one recording: a decode thread fills the picture queue and the sound chunk queue,
// the video thread hands one picture per frame interval to the view and is the clock, the
// audio thread writes sound that is not ahead of the picture on screen.
//
// Every plain operation is called on the owner's thread. The owner creates and destroys
// threads, queues, resampler, output and reader only while the threads that use them are
// stopped.
//
// On a machine too slow for the recording the clock still runs on wall time: a picture
// more than a frame interval late is dropped while a newer one waits, the decoder leaves
// out pictures nothing refers to while pictures keep coming late, and the sound follows
// the clock rather than the last picture drawn.
//
// At the end of the file the decode thread stays, waiting for a seek: one that comes
// while the last pictures are still being shown takes reading back to its target. The
// end report comes once the last picture has been shown with no seek pending.
//
// A sequence of recordings plays as one: the decode thread opens the next source as soon
// as it has read the current one to its end (or clipOut), while the picture queue still
// holds the last pictures, and goes on queueing on the same clock, with times moved onto
// the timeline. A source that cannot be opened or read is skipped with a warning. All
// times the player reports (pictures, sound, clocks, seeks, duration) are timeline times;
// for a single recording the timeline is the recording's own time.
//
// The picture queue is bounded by bytes as well as by pictures, so a large picture size
// costs no more memory than a small one. Decoded pictures already in the queue's layout
// are queued by reference, not copied.
//
// Sound comes with the first picture: the device is opened while the first pictures are
// decoded, sound is decoded ahead of a late picture decoder (video packets wait in a
// queue of their own), and the device is kept full. The sound clock is what is heard:
// the sound written minus what the device still holds.
//
// Playback rate: the picture clock runs at the rate; up to kMaxSoundRate the sound plays
// at that tempo with its pitch kept, above it is muted; from kKeyOnlyRate on only key
// pictures are decoded, each held on screen for the time up to the next.
//
// Frame step: while paused, stepForward() shows the next picture and stepBackward() the
// one before the picture on screen (decoded from the key picture before it), across
// the sources of a sequence too.
class OxFFPlayer
{
public:
    enum ReportType { ReportEnd = 1, ReportError = 2, ReportPicture = 3 };

    // The picture queue never holds more than this many bytes of pictures (about ten
    // 1080p pictures, a third of a second), nor fewer than kMinQueuedPictures pictures.
    static constexpr qint64 kPictureQueueBytes = 32 << 20;
    static constexpr int kMinQueuedPictures = 3;
    // Rates a window offers, slowest first; setRate takes any rate between the ends.
    static constexpr double kRates[] = {0.25, 0.5, 1, 2, 4, 8, 16};
    // Up to this rate the sound plays; faster, it is muted.
    static constexpr double kMaxSoundRate = 2;
    // From this rate on only key pictures are decoded.
    static constexpr double kKeyOnlyRate = 8;

    OxFFPlayer();
    virtual ~OxFFPlayer();

    virtual void decodeLoop();
    virtual void videoLoop();
    virtual void audioLoop();
    virtual int seek(double seconds, int flags);
    // The frame step thread's work: the steps asked for, one after the other.
    void stepLoop();

    void setVideoView(OxFrameSink *view);
    void setCallback(void *owner, PlayerCallback cb);
    // Makes this player a follower of leader (null: an ordinary player again), set before
    // it opens: it plays no sound, and instead of keeping time itself it shows, of its own
    // pictures, the one for the time of the picture the leader shows (see followLoop).
    // Both play on one timeline. The leader must outlive the follower's playback; it does
    // not know it is followed and is never held back.
    void setLeader(const OxFFPlayer *leader);

    // 0, or the negative reader result; a recording without a video stream gives -1.
    int open(const char *utf8Path);
    // Plays the sources one after the other from timeline time startAt. Only the source
    // that holds startAt (or the first after it that opens) is opened here; the others are
    // opened by the decode thread when it comes to them. 0, or the result of the last
    // failed open when no source from startAt on could be opened.
    int openSequence(std::vector<OxPlaySource> sources, double startAt = 0);
    void pause();
    void resume();
    void requestSeek(double seconds);
    void stop();
    bool isOpened() const;
    bool isPlaying() const;

    // Playback rate, kept within kRates' ends; takes effect at once, playing or paused,
    // and stays for the next recording opened. Any thread.
    void setRate(double rate);
    double rate() const { return playRate.load(); }
    // The rate of kRates one step faster (direction > 0) or slower than current; the
    // same rate at either end. For the window's rate keys.
    static double stepRate(double current, int direction);

    // Frame step. A playing player pauses first. The picture reaches the view from a
    // worker thread and is reported with type 3 like any other; videoTime() follows.
    // Steps asked for while one is under way are carried out in turn. Nothing happens at
    // either end of the timeline. False when nothing is open.
    bool stepForward();
    bool stepBackward();
    // A seek that is seen while paused: the picture on screen at seconds is decoded (from
    // the key picture before it) and shown as a frame step shows one. Playing, the same
    // as requestSeek. False when nothing is open.
    bool showAt(double seconds);

    // Read-outs for the owner, tests and benchmarks; safe from any thread.
    double videoTime() const { return _videoTime.load(); }
    double audioClock() const { return audioTime.load(); }
    // The timeline's length in seconds, 0 when nothing is open. When the last source has
    // no clipOut its length is known once it has been opened; until then this is where it
    // starts.
    double duration() const { return _duration.load(); }
    // Index of the source whose picture is on screen (right after an open: the one opened);
    // -1 when nothing is open.
    int currentSource() const { return shownSource.load(); }
    int frameCacheLimit() const { return frameCache.load(); }
    qint64 frameInterval() const { return interval.load(); }
    // Since open(): pictures that came too late to be drawn, and pictures the decoder did
    // not decode to catch up with the clock.
    qint64 droppedPictures() const { return dropped.load(); }
    // Counts the seeks carried out since open(), so a follower sees every jump.
    int seekGeneration() const { return seekCount.load(); }
    qint64 skippedPictures() const { return skipped.load(); }

    // Owner thread only: these look at objects that stop() releases.
    qint64 queuedPictures() const;
    bool hasAudioOutput() const { return audioOutput != nullptr; }
    // True while any worker thread of this player runs.
    bool anyThreadRunning() const;

    // A tightly packed YUV 4:2:0 copy of a decoded frame, or none when it can't be converted.
    static std::unique_ptr<OxYUV420P> toYUV420P(const AVFrame *frame);
    // The picture queue limit for a gop size: twice the gop, kept within 30..60.
    static int frameCacheForGop(int gop);
    // That limit lowered so the queue holds no more than kPictureQueueBytes of pictures of
    // width x height, and raised to kMinQueuedPictures.
    static int frameCacheFor(int gop, int width, int height);
    // Microseconds per picture for an average frame rate; 33000 when it is unknown.
    static qint64 intervalFor(int num, int den);

private:
    struct Playing;
    // Where a seek lands: at the key picture at or before the target (what the owner's
    // seeks do), exactly at the picture on screen at the target, or at the first picture
    // after it. Pictures and sound before an exact target are decoded but not queued.
    enum SeekKind { SeekToKey, SeekAt, SeekAfter };

    int openSource(int index, std::unique_ptr<StreamReader> *opened) const;
    int sourceAt(double timelineSeconds) const;
    double sourceEnd(int index, const StreamReader *opened) const;
    void play(int index);
    bool advance();
    void prepare(int index, double position);
    bool buildResampler(const AVCodecContext *audio);
    void startAudioOutput();
    template <class Thread> static void stopThread(std::unique_ptr<Thread> &thread);
    void stopStepping();
    // Asks for a step; replace drops the steps still wanted (a seek to show comes first).
    bool step(int direction, bool replace = false);
    bool stepOnce(int direction);
    std::unique_ptr<OxYUV420P> nextPicture();
    void show(std::unique_ptr<OxYUV420P> picture);
    void askSeek(double seconds, SeekKind kind);
    void report(int type);
    void setClock(double seconds);
    double clockNow() const;
    int videoGopSize() const;
    // The video thread of a follower (oxffplayerfollow.cpp).
    void followLoop();
    int sourceCovering(double timelineSeconds) const;

    // The sequence, written by openSequence() while no worker runs, read by the decode
    // thread. intervals: microseconds per picture of each source, written by the decode
    // thread before it queues that source's first picture, read by the video thread.
    std::vector<OxPlaySource> sources;
    std::unique_ptr<std::atomic<qint64>[]> intervals;
    // The source whose picture is on screen: written by the video thread (and by the owner
    // while no worker runs), read by the owner.
    std::atomic<int> shownSource{-1};
    // What the decode thread knows of the source it reads; set up by the owner before the
    // decode thread starts, then the decode thread's alone.
    std::unique_ptr<Playing> playing;

    // Owned; created by open() and resume(), released by stop() alone. The decode thread
    // replaces the reader when it moves to another source; nobody else touches it while
    // the decode thread runs.
    std::unique_ptr<StreamReader> reader;
    std::unique_ptr<OxDecodeThread> decodeThread;
    std::unique_ptr<OxVideoThread> videoThread;
    std::unique_ptr<OxAudioThread> audioThread;
    std::unique_ptr<OxStepThread> stepThread;
    std::unique_ptr<MutexQueue> pictureQueue;
    std::unique_ptr<OxAudioResampler> audioResampler;
    std::unique_ptr<OxAudioOutput> audioOutput;

    // Written by the video thread (and by a seek on the decode thread), read by all.
    std::atomic<double> _videoTime{0};
    // Written by the audio thread (and by a seek on the decode thread), read by all.
    std::atomic<double> audioTime{0};
    double _frameTime = -1;
    // Where playback is: the time of the last picture shown or dropped, moved on with the
    // wall clock while the decoder is late. Sound is released up to it. Written by the
    // video thread (and by a seek on the decode thread), read by the audio thread.
    std::atomic<double> clockTime{0};
    // When clockTime was set (av_gettime microseconds); written after it (setClock).
    std::atomic<int64_t> clockAt{0};
    // Counts a successful seek, so the video thread knows its last picture is stale.
    // Written by the decode thread, read by the video, audio and step threads.
    std::atomic<int> seekCount{0};
    // Set by the decode thread while it carries out a seek it has taken; read by the step
    // thread, which waits for the pictures of the new position.
    std::atomic<bool> seeking{false};
    // Where the requested seek lands (a SeekKind). Written with the request (owner, step
    // thread or the decode thread itself), read by the decode thread.
    std::atomic<int> seekKind{0};
    // The video thread runs (set by resume(), cleared by pause() and stop()); read by the
    // decode thread, which decodes key pictures only at a fast rate while pictures flow.
    std::atomic<bool> picturesFlowing{false};
    // The decode thread decodes key pictures only: written by it, read by pause().
    std::atomic<bool> keysOnlyDecoding{false};
    // The playback rate: written by setRate() (any thread), read by the workers.
    std::atomic<double> playRate{1.0};
    // The picture clock runs: set by the video thread with its first picture after
    // resume(), cleared by resume(). The sound waits for it, so it starts with the picture.
    std::atomic<bool> clockRunning{false};
    // A picture the video thread had taken from the queue and not yet shown when it was
    // stopped; shown first by whoever shows the next picture. Written by the video thread
    // as it ends, taken by the thread started after it (stopThread joins in between).
    std::unique_ptr<OxYUV420P> unshown;
    // Steps asked for and not yet carried out (+ forward, - backward), and whether a step
    // thread is working on them. Guarded by stepMutex: the owner adds, the step thread
    // takes.
    QMutex stepMutex;
    int stepsWanted = 0;
    bool stepping = false;
    // How much the decoder leaves out to catch up: 0 nothing, 1 pictures nothing refers
    // to, 2 every bidirectional picture. Written by the video thread, read by the decode
    // thread.
    std::atomic<int> skipLevel{0};
    // Written by the video thread (dropped) and the decode thread (skipped); reset by open().
    std::atomic<qint64> dropped{0};
    std::atomic<qint64> skipped{0};
    // Written by the owner while no worker runs, and by the decode thread when it opens
    // another source (frameCache, _duration) or the video thread when it shows its first
    // picture (interval).
    std::atomic<int> frameCache{30};
    std::atomic<qint64> interval{33000};
    std::atomic<double> _duration{0};
    // Written by the owner (and the step and decode threads for their own seeks), cleared
    // by the decode thread once taken.
    std::atomic<bool> seekPending{false};
    std::atomic<double> seekTarget{0};
    // Written by the decode thread as it reaches the end, read by the video thread.
    std::atomic<int> readResult{0};
    // Set by the decode thread once it has read and decoded everything, cleared when a
    // seek takes it back into the file; read by the video thread.
    std::atomic<bool> endReached{false};
    // Set by the video thread as it sends the end report, cleared by resume(); the audio
    // thread plays on until then, so a seek during the last pictures keeps the sound.
    std::atomic<bool> pictureEnded{false};
    // Set by the audio thread when the sound device is gone; read by the decode thread.
    std::atomic<bool> soundLost{false};

    OxFrameSink *videoView = nullptr;
    // Set by the owner while nothing plays; read by this player's threads.
    const OxFFPlayer *leader = nullptr;
    void *owner = nullptr;
    PlayerCallback callback = nullptr;
    float volume = 1.0f;
};
