#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QSize>
#include <QString>
#include <QVector>

// Small deterministic recordings made on demand by the ffmpeg program.
//
// Every picture is a flat grey whose luma tells its frame number: picture n has luma
// frameLuma(n) in all of its Y plane (chroma 128), so a test reading back a decoded
// picture, a screenshot or a thumbnail knows which picture it got.

struct SubtitleCue
{
    double start = 0;
    double end = 0;
    QString text; // may hold "\r\n" line breaks
};

struct RecordingSpec
{
    QString container = QStringLiteral("mp4");   // mp4, mov, avi, mkv
    QString videoCodec = QStringLiteral("h264"); // h264, mpeg4, or empty for none
    int width = 320;
    int height = 240;
    int fpsNum = 25;
    int fpsDen = 1;
    int gop = 25;
    int bFrames = 0; // h264 only: makes dts run behind pts
    double seconds = 2;
    QString audioCodec = QStringLiteral("aac"); // aac, pcm_s16le, or empty for none
    int sampleRate = 48000;
    int channels = 2;
    QVector<SubtitleCue> subtitles; // mov_text in mp4/mov, SubRip in mkv; none when empty
    double startTime = 0;           // non-zero: every stream starts this much later
    QString creationTime;           // the container's creation_time, e.g. 2026-03-14T08:00:00Z
    // Not empty: a second video stream of this size after the first, with the same frame
    // numbers (a camera that writes both channels into one file).
    QSize secondVideo;
};
Q_DECLARE_METATYPE(RecordingSpec)

// Writes dir/name (name without extension; the container's extension is appended) and
// returns its path, or an empty string when ffmpeg failed.
QString makeRecording(const QString &dir, const QString &name, const RecordingSpec &recipe);

// makeRecording for tests that cannot go on without the recording: a failure ends the
// test program with the recording's name.
QString requireRecording(const QString &dir, const QString &name, const RecordingSpec &recipe);

// One RMC cue per second for seconds seconds, the first at the UTC time start, driving
// from (latitude, longitude) at kmh on a fixed heading (degrees from north).
QVector<SubtitleCue> nmeaDriveCues(const QDateTime &start, int seconds, double latitude,
                                   double longitude, double kmh, double heading);

struct GSensorReading
{
    double x = 0, y = 0, z = 0;
};

// As nmeaDriveCues with the speed of every second given (kmh, one cue each) and, for the
// seconds gsensor covers, a "$GSENSOR" line with its readings below the RMC sentence.
QVector<SubtitleCue> nmeaSpeedCues(const QDateTime &start, const QVector<double> &kmh,
                                   double latitude, double longitude, double heading,
                                   const QVector<GSensorReading> &gsensor = {});

// A card with moments to find, written into dir (false when ffmpeg failed). Names are
// the camera's local time, an hour ahead of the fixes' UTC; pictures 64 x 48, no sound.
// - Front/20260314_080000_F.mp4 and Front/20260314_080006_F.mp4, six seconds each with
//   one fix and one G-sensor reading (0, 0, 1) a second from 07:00:00 UTC: one drive of
//   twelve seconds. Speed 60 km/h up to drive second 5, then 35, then 10 from second 7
//   to 9, 40 at 10 and 45 at 11. The fix of second 3 is void with speed 0 and without a
//   reading. A bump of (0.8, 0.3, 1.4) at second 2.
// - Rear/20260314_080000_R.mp4: three seconds at a steady 30 km/h, a bump at second 1.
bool makeMomentsCard(const QString &dir);

// A small recording for engine tests: pictures of width x height, seconds long, the
// other fields as RecordingSpec has them.
RecordingSpec smallRecipe(double seconds, int width = 64, int height = 48);

// The channels of a camera for tests of paired playback, of different sizes and rates as
// real cameras write them: a front of 64 x 48 at 30 fps with sound, a rear of 48 x 32 at
// 25 fps without. Every key frame a second.
RecordingSpec frontChannelRecipe(double seconds);
RecordingSpec rearChannelRecipe(double seconds);

// Flat luma of picture n, and back (modulo kLumaCycle). Decoding keeps it within +-4.
constexpr int kLumaCycle = 25;
int frameLuma(int frameNumber);
int frameNumberFromLuma(int luma);

// Damaged variants: a copy cut in the middle of its "mdat" box (in the middle of the
// file when it has none), deterministic garbage bytes, an empty file. Each returns
// dest, or an empty string on failure.
QString makeTruncated(const QString &source, const QString &dest);
QString makeGarbage(const QString &dest, int bytes);
QString makeEmpty(const QString &dest);

// Runs ffmpeg with the arguments; true when it exited 0 within timeoutMs (-1: no
// limit). Output goes to the log only on failure. Tests and benchmarks share it.
bool runFfmpeg(const QStringList &arguments, int timeoutMs = 120000);
