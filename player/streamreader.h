#pragma once

#include "ffmpeg_ptr.h"

#include <QByteArray>

#include <atomic>

// One recording opened with the decoders of the streams the system uses: at most one
// video, one audio and one subtitle stream. Used by one thread at a time; the engine,
// the thumbnail probe and the GPS step each have their own.
//
// Each selected stream has a decoding context allocated from its codec parameters,
// opened and owned here; users decode with it directly. close() frees everything, and
// so does the destructor for a reader that was not closed.
//
// Recordings are local regular files. Anything else (a FIFO, a device, a socket, a
// folder) is refused before FFmpeg sees it, FFmpeg may open nothing but local files (a
// path that looks like a URL is a file name), and only the containers recordings come
// in are read. Every open, read and seek gives up with AVERROR_EXIT when the stop flag
// is set or the time limit has passed, so a slow or stuck file never holds up its
// thread for long.
class StreamReader
{
public:
    StreamReader();
    StreamReader(const StreamReader &) = delete;
    StreamReader &operator=(const StreamReader &) = delete;
    virtual ~StreamReader();

    virtual int openFormat(const char *path, const AVInputFormat *fmt, AVDictionary **options);
    virtual int open(const char *path, AVDictionary **options = nullptr);
    virtual int close();
    // seconds are relative to the start of the recording; outside [0, duration()] gives -1.
    virtual int seek(double seconds, int flags);
    virtual int openInput(const char *path, const AVInputFormat *fmt, AVDictionary **options);
    virtual int selectStream(AVStream *stream);
    virtual int openVideoDecoder(AVStream *stream);
    // Makes the packet's timestamps relative to the start of its stream, so that the
    // first picture has time 0.
    virtual void normalizeTimestamps(AVPacket *packet);

    int readFrame(AVPacket *packet);

    // The flag of the thread that uses this reader: set by another thread to stop it,
    // read here while FFmpeg waits for the file. Null (the default) for none; the flag
    // must outlive the reader's use of it.
    void setStopFlag(const std::atomic<bool> *stop) { m_stop = stop; }
    // The same for every reader while it is used on the calling thread: OxThread sets
    // its own flag here when it starts and clears it when it ends, so that any reader its
    // worker opens or reads stops with it.
    static void setThreadStopFlag(const std::atomic<bool> *stop);
    // Which video stream open selects: -1 (the default) the last one of the file, else
    // the one of that ordinal among its video streams. Set before open.
    void setVideoStreamOrdinal(int ordinal) { m_videoOrdinal = ordinal; }
    // Each open, read or seek ends after this long at most.
    void setTimeLimit(int milliseconds) { m_timeLimitMs = milliseconds; }
    static constexpr int kDefaultTimeLimitMs = 20000;

    // Decodes from the current position until the video decoder gives a picture, dropping
    // the packets of other streams; at the end of the file the decoder is drained of the
    // pictures it still holds. 0 with the picture in frame; negative when none came (end
    // of file, no video decoder, or stop, polled between packets, set).
    int decodeNextPicture(AVFrame *frame, const std::atomic<bool> *stop = nullptr);

    bool isVideoPacket(const AVPacket *p) const;
    bool isAudioPacket(const AVPacket *p) const;
    bool isSubtitlePacket(const AVPacket *p) const;

    AVStream *videoStream() const { return m_videoStream; }
    AVStream *audioStream() const { return m_audioStream; }
    AVStream *subtitleStream() const { return m_subtitleStream; }
    AVCodecContext *videoContext() const { return m_videoContext.get(); }
    AVCodecContext *audioContext() const { return m_audioContext.get(); }
    AVCodecContext *subtitleContext() const { return m_subtitleContext.get(); }
    AVFormatContext *formatContext() const { return m_format.get(); }
    const char *fileName() const { return m_fileName.isNull() ? nullptr : m_fileName.constData(); }

    // Length of the recording in seconds, set by openInput.
    double duration() const { return m_duration; }

    bool normalize = true;

private:
    enum Kind { Video, Audio, Subtitle, KindCount };

    AVCodecContextPtr makeContext(AVStream *stream, bool video, int *result) const;
    static int interrupted(void *reader);
    void startDeadline();
    int kindOf(const AVPacket *packet) const;
    void rememberFirstDts(int kind);
    // The stream's place among the file's video streams.
    int videoOrdinal(const AVStream *stream) const;

    AVFormatContextPtr m_format;
    AVStream *m_videoStream = nullptr;
    AVStream *m_audioStream = nullptr;
    AVStream *m_subtitleStream = nullptr;
    AVCodecContextPtr m_videoContext;
    AVCodecContextPtr m_audioContext;
    AVCodecContextPtr m_subtitleContext;
    QByteArray m_fileName;
    double m_duration = 0;
    // dts of the first packet of each selected stream, subtracted from every dts.
    int64_t m_firstDts[KindCount] = {AV_NOPTS_VALUE, AV_NOPTS_VALUE, AV_NOPTS_VALUE};
    const std::atomic<bool> *m_stop = nullptr;
    int m_timeLimitMs = kDefaultTimeLimitMs;
    int m_videoOrdinal = -1;
    // When the running open, read or seek has to give up (av_gettime_relative).
    int64_t m_deadline = 0;
};
