#pragma once

#include <QString>
#include <atomic>
#include <cstdint>

struct AVFrame;

// What probeVideo finds out about a recording.
struct ProbeResult
{
    QString thumb;       // in: full path of the thumbnail JPEG to write when missing
    double duration = 0; // seconds
    double fps = 0;
    int width = 0;
    int height = 0;
};

// Encode one decoded picture at full size with the MJPEG encoder at its finest
// quantiser and replace the file at path with it. 0 on success, a negative FFmpeg code
// (or -1) when nothing was written; a failure never leaves a partial file behind.
int saveFrameAsJpeg(const AVFrame *frame, const QString &path);

// Tightly packed YUV 4:2:0 planes as an OxYUV420P holds them.
int saveYUV420PAsJpeg(const uint8_t *y, const uint8_t *u, const uint8_t *v, int width, int height,
                      const QString &path);

// Opens the recording, fills result, and writes result.thumb from its first picture when
// that file is not a usable JPEG yet. Negative when the recording cannot be opened
// (result untouched); otherwise >= 0. stop, when given, is polled between packets and
// ends a slow open or read too (then the open fails); another thread may set it.
int probeVideo(const char *path, ProbeResult &result, const std::atomic<bool> *stop = nullptr);
