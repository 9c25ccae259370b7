#pragma once

#include "ffmpeg_ptr.h"

#include <QAudioFormat>
#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

struct AVFilterContext;
struct AVFilterGraph;
class MutexQueue;
class OxAudioData;
class QAudioOutput;
class QIODevice;

// The sound device, written in push mode. Created, started and stopped on the owner's
// thread; write() is called on the audio thread.
class OxAudioOutput
{
public:
    OxAudioOutput();
    ~OxAudioOutput();

    void setVolume(float v);
    int start(int sampleRate, int sampleFormat, int channels);
    // Writes all bytes, waiting while the device is full. Returns 0, or -1 when the device
    // failed (the rest of the bytes are dropped) or abort was raised while waiting.
    int write(const uint8_t *bytes, qint64 length, const std::atomic<bool> *abort = nullptr);
    // Writes as much as the device has room for, without waiting: the bytes written (0
    // when it is full), or -1 when the device failed.
    qint64 writeSome(const uint8_t *bytes, qint64 length);
    void stop();

    bool isStarted() const { return output != nullptr; }
    // False once the device has failed for good (for example its server went away).
    bool isUsable() const;
    // Seconds of sound the device buffers; 0 when not started.
    double bufferSeconds() const;
    // Seconds of sound written and not yet played: what is heard now trails the last
    // byte written by this much. 0 when not started.
    double queuedSeconds() const;
    // Bytes of one second of sound in the opened format.
    int bytesPerSecond() const { return opened.bytesForDuration(1000000); }
    // The format the device was opened with (after any fallback to the nearest one).
    QAudioFormat format() const { return opened; }

    // FFmpeg sample format -> sample size and type; other fields as given.
    static QAudioFormat formatFor(int sampleFormat, int sampleRate, int channels);
    // The device's preferred format -> the packed FFmpeg sample format to convert to.
    static AVSampleFormat outputFormatFor(QAudioFormat::SampleType type, int sampleSize);

private:
    std::unique_ptr<QAudioOutput> output;
    QIODevice *device = nullptr; // made and owned by output; gone when output stops
    float volume = 1.0f;
    QAudioFormat opened;
};

// Converts decoded sound into the device's format and cuts it into chunks of 1024
// samples, queued for the audio thread. pushFrame and setInput run on the decode thread,
// popChunk on the audio thread; the chunk queue is the only thing the two share.
class OxAudioResampler
{
public:
    OxAudioResampler(int inRate, uint64_t inLayout, int inChannels, int inFormat, int outRate,
                     uint64_t outLayout, int outChannels, int outFormat);
    ~OxAudioResampler();
    OxAudioResampler(const OxAudioResampler &) = delete;
    OxAudioResampler &operator=(const OxAudioResampler &) = delete;

    void pushFrame(const AVFrame *frame, double time);
    // Only count samples of the frame from first on (count < 0: to its end); time is that
    // of sample first. Lets a recording be cut at a moment inside a frame.
    void pushFrame(const AVFrame *frame, double time, int first, int count);
    std::unique_ptr<OxAudioData> popChunk();
    void reset();
    void allocBuffers(int samples);
    // Takes sound of another input format from now on, for the next recording of a
    // sequence: what the converter still holds of the old input is cut into chunks first,
    // and the bytes waiting for a chunk and the queued chunks stay, so the sound goes on
    // without a break. False when the new format cannot be converted (its sound is then
    // dropped).
    bool setInput(int rate, uint64_t layout, int channels, int format);

    bool needsConversion() const { return needConvert; }
    bool canConvert() const { return !needConvert || converter != nullptr; }
    int chunkSize(int plane) const { return chunkBytes[plane]; }
    int samplesPerChunk() const { return chunkSamples; }
    uint64_t outputLayout() const { return outLayout; }
    int outputRate() const { return outRate; }
    int outputFormat() const { return outFormat; }
    int outputChannels() const { return outChannels; }
    // Bytes of one second of converted sound, all planes together.
    int outputBytesPerSecond() const { return outRate * outChannels * bytesPerSample; }
    uint64_t inputLayout() const { return inLayout; }
    qint64 queuedChunks() const;

private:
    void appendAndCut(const uint8_t *const planes[2], int samples, int frameFormat, double time);
    void buildConverter();
    void flushConverter();

    int inRate;
    uint64_t inLayout;
    int inChannels;
    int inFormat;
    int outRate;
    uint64_t outLayout;
    int outChannels;
    int outFormat;
    bool needConvert = false;
    bool planar = false;
    int bytesPerSample = 0;
    AVBufferPtr buffers[2];
    int chunkBytes[2] = {0, 0};
    int chunkSamples = 0;
    AVFifoPtr fifos[2];
    SwrContextPtr converter;
    std::unique_ptr<MutexQueue> chunks;
    // Format of the last frame pushed and the time of its end, for what a flush of the
    // converter yields.
    int lastFormat = 0;
    double lastEnd = 0;
};

// Plays sound faster or slower with its pitch kept (FFmpeg's atempo filter, two of them
// in a row below half speed). Takes and gives packed sound in one format; used by the
// audio thread alone. The filter library is loaded the first time a tempo other than 1
// is set; without it the sound passes unchanged.
class OxAudioTempo
{
public:
    OxAudioTempo(int sampleRate, int sampleFormat, int channels);
    ~OxAudioTempo();
    OxAudioTempo(const OxAudioTempo &) = delete;
    OxAudioTempo &operator=(const OxAudioTempo &) = delete;

    // Tempo 1 passes the sound unchanged. False when the filter cannot be built for the
    // tempo or the format; the sound then passes unchanged too.
    bool setTempo(double tempo);
    double tempo() const { return current; }
    // Appends to out what the filter gives for these bytes (a whole number of frames).
    void process(const uint8_t *bytes, int size, std::vector<uint8_t> *out);
    // Seconds of input taken and not given out yet.
    double heldSeconds() const;
    // Drops what the filter holds (after a seek).
    void reset();

    // The lowest tempo one filter takes; below it two are chained.
    static constexpr double kMinFilterTempo = 0.5;

private:
    bool build();

    int rate;
    int format;
    int channels;
    int frameBytes;
    double current = 1;
    struct GraphDeleter
    {
        void operator()(AVFilterGraph *graph) const;
    };
    // None at tempo 1 or when it could not be built.
    std::unique_ptr<AVFilterGraph, GraphDeleter> graph;
    AVFilterContext *source = nullptr; // owned by graph
    AVFilterContext *sink = nullptr;   // owned by graph
    AVFramePtr in;
    AVFramePtr out;
    qint64 inSamples = 0;
    qint64 outSamples = 0;
};
