#pragma once

#include <QtGlobal>

#include <atomic>
#include <memory>

class StreamReader;
class MutexQueue;
class OxFrameSink;
class OxAudioResampler;
class OxAudioOutput;
class OxYUV420P;
class OxDecodeThread;
class OxVideoThread;
class OxAudioThread;
class OxThread;
struct AVFrame;

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
// At the end of the file the decode thread stays, waiting for a seek: one that comes
// while the last pictures are still being shown takes reading back to its target. The
// end report comes once the last picture has been shown with no seek pending.
class OxFFPlayer
{
public:
    enum ReportType { ReportEnd = 1, ReportError = 2, ReportPicture = 3 };

    OxFFPlayer();
    virtual ~OxFFPlayer();

    virtual void decodeLoop();
    virtual void videoLoop();
    virtual void audioLoop();
    virtual int seek(double seconds, int flags);

    void setVideoView(OxFrameSink *view);
    void setCallback(void *owner, PlayerCallback cb);

    // 0, or the negative reader result; a recording without a video stream gives -1.
    int open(const char *utf8Path);
    void pause();
    void resume();
    void requestSeek(double seconds);
    void stop();
    bool isOpened() const;
    bool isPlaying() const;

    // Read-outs for the owner, tests and benchmarks; safe from any thread.
    double videoTime() const { return _videoTime.load(); }
    double audioClock() const { return audioTime.load(); }
    // The open recording's length in seconds, 0 when none is open.
    double duration() const { return _duration.load(); }
    int frameCacheLimit() const { return frameCache.load(); }
    qint64 frameInterval() const { return interval.load(); }

    // Owner thread only: these look at objects that stop() releases.
    qint64 queuedPictures() const;
    bool hasAudioOutput() const { return audioOutput != nullptr; }
    // True while any worker thread of this player runs.
    bool anyThreadRunning() const;

    // A tightly packed YUV 4:2:0 copy of a decoded frame, or none when it can't be converted.
    static OxYUV420P *toYUV420P(const AVFrame *frame);
    // The picture queue limit for a gop size: twice the gop, kept within 30..60.
    static int frameCacheForGop(int gop);
    // Microseconds per picture for an average frame rate; 33000 when it is unknown.
    static qint64 intervalFor(int num, int den);

private:
    void prepare();
    void buildAudioPath();
    template <class Thread> static void stopThread(std::unique_ptr<Thread> &thread);
    void report(int type);
    int videoGopSize() const;

    // Owned; created by open() and resume(), released by stop() alone.
    std::unique_ptr<StreamReader> reader;
    std::unique_ptr<OxDecodeThread> decodeThread;
    std::unique_ptr<OxVideoThread> videoThread;
    std::unique_ptr<OxAudioThread> audioThread;
    std::unique_ptr<MutexQueue> pictureQueue;
    std::unique_ptr<OxAudioResampler> audioResampler;
    std::unique_ptr<OxAudioOutput> audioOutput;

    // Written by the video thread (and by a seek on the decode thread), read by all.
    std::atomic<double> _videoTime{0};
    // Written by the audio thread (and by a seek on the decode thread), read by all.
    std::atomic<double> audioTime{0};
    double _frameTime = -1;
    // Written by the owner while no worker runs.
    std::atomic<int> frameCache{30};
    std::atomic<qint64> interval{33000};
    std::atomic<double> _duration{0};
    // Written by the owner, cleared by the decode thread once carried out.
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
    void *owner = nullptr;
    PlayerCallback callback = nullptr;
    float volume = 1.0f;
};
