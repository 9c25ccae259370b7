#pragma once

#include "ffmpeg_ptr.h"

#include <cstdint>

// Items carried between the engine's threads. Queues and views destroy them through
// the virtual destructor without knowing their kind.
class OxMediaData
{
public:
    OxMediaData() = default;
    OxMediaData(const OxMediaData &) = delete;
    OxMediaData &operator=(const OxMediaData &) = delete;
    virtual ~OxMediaData() = default;
};

class OxYUVData : public OxMediaData
{
public:
    int width = 0;
    int height = 0;
    double time = 0; // seconds on the player's timeline (of the recording when it plays one)
};

// Planar YUV 4:2:0 with tightly packed rows: y is width x height bytes, u and v are
// (width/2) x (height/2) bytes each (integer halves, so an odd last column or row of
// chroma is dropped; every consumer uses the same halves).
class OxYUV420P : public OxYUVData
{
public:
    // Without line sizes the source planes are already packed in the layout above.
    // With line sizes each row is copied on its own, dropping the padding FFmpeg adds.
    OxYUV420P(const uint8_t *const planes[3], int width, int height,
              const int *lineSizes = nullptr);
    // Takes a reference to a decoded frame whose planes already have the packed layout
    // (see isPacked): y, u and v point into the frame's buffers and nothing is copied.
    // The decoder reuses those buffers only once this picture has let go of them.
    explicit OxYUV420P(AVFramePtr frame);
    ~OxYUV420P() override;

    // True when a decoded frame can be shown as it is: YUV 4:2:0 with rows of exactly
    // width and width/2 bytes, in reference-counted buffers.
    static bool isPacked(const AVFrame *frame);

    int chromaWidth() const { return width / 2; }
    int chromaHeight() const { return height / 2; }

    uint8_t *y = nullptr;
    uint8_t *u = nullptr;
    uint8_t *v = nullptr;
    // Frame intervals from the picture before it: more than one when the decoder skipped
    // the pictures in between. Set by the producer.
    int steps = 1;
    // The first picture after opening or a seek: the clock starts again with it.
    bool restartsClock = false;
    // Which source of the player's sequence the picture comes from.
    int source = 0;
    // The player's count of seeks when the picture was queued: older ones are stale.
    int generation = 0;

private:
    AVFramePtr frame; // the referenced frame; none when the planes are owned copies
};

// A chunk of sound ready for the output device. Interleaved sound uses data[0] only.
class OxAudioData : public OxMediaData
{
public:
    OxAudioData(int size0, int size1);
    ~OxAudioData() override;

    uint8_t *data[2] = {nullptr, nullptr};
    int size[2] = {0, 0};
    int format = 0;  // sample format of the decoded frame; carried along, never interpreted
    double time = 0; // presentation time of that frame, seconds
};
