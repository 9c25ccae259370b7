#pragma once

#include "configkeys.h"

#include <QMetaType>
#include <QPointF>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>

// Evidence export: a span of a drive's timeline as one folder
//
//   dashcam-YYYYMMDD-HHMMSS/
//       clip.mp4      the span as H.264 (yuv420p) + AAC, moov first, the data band burned in
//       originals/    the source files that cover the span, copied bit for bit
//       track.gpx     the fixes of the span, written by ExportRequest::writeTrack
//       track.csv
//       manifest.txt  each source's path, size and SHA-256, the span as clock time and as
//                     position in each source, the program's version, the time of export
//       SHA256SUMS    every other file, in the form `sha256sum -c SHA256SUMS` checks
//
// The folder is built under a hidden temporary name inside the target folder and renamed
// when complete; cancel or any failure removes it, so nothing partial is ever left.
//
// The request carries what the drive model knows (the clips in timeline order, the data
// for a moment, the route, a track writer) as plain values and callbacks, so the export
// needs nothing of the drive model's types. Sound is decoded and encoded again (AAC), so
// the span starts and ends on the sample and clip boundaries join without the encoder
// priming of each source; pictures are decoded with the machine's threads, the band is
// painted with QPainter and copied into each picture, and libx264 (veryfast, CRF 20)
// encodes in-process.
//
// Painting text needs a QGuiApplication (a platform without a screen will do, such as
// "minimal:enable_fonts"); runExport reports an error when a band is asked for without one.

// One clip of the drive: positions in the file (seconds from its first picture, as the
// player counts them) and where the part [clipIn, clipOut) starts on the timeline.
struct ExportSource
{
    QString path;
    double clipIn = 0;
    double clipOut = 0;
    double timelineStart = 0;
    int videoStream = -1; // which video stream (ordinal) to read; -1 the one a player shows
};

// What the band shows for a moment of the timeline.
struct BandSample
{
    bool hasClock = false;
    qint64 clockMs = 0;       // UTC, milliseconds since 1970
    int utcOffsetSeconds = 0; // the clock time shown is UTC plus this
    bool hasFix = false;      // speed and position below are valid
    double speedKmh = 0;
    double latitude = 0;
    double longitude = 0;
};

struct ExportRequest
{
    QVector<ExportSource> sources; // the drive's clips in timeline order (one for a clip)
    double from = 0;               // the span on the timeline, seconds; to > from
    double to = 0;
    bool band = true;               // burn the data band into the pictures
    bool routeMap = false;          // with a small map of the route in the band
    int speedUnit = SpeedUnit::Kmh; // a value of configure.ini's Speed key
    // Data for a moment, called on the export's thread for every picture (the clock, speed
    // and position shown; the span's clock time in the manifest and the folder's name).
    // None: the band shows no data and the folder is named after the time of export.
    std::function<BandSample(double timelineSeconds)> bandAt;
    QVector<QPointF> route; // x longitude, y latitude
    // Writes the span's fixes to path as GPX (gpx true) or CSV; false when it failed. Called
    // on the export's thread. None: no track files.
    std::function<bool(const QString &path, bool gpx, double from, double to)> writeTrack;
    QString targetFolder; // must exist; the export folder is made inside it
    // The paired camera (the rear) on the same timeline, drawn as a picture in picture in
    // the top right corner, a quarter of the width; empty: none. Where it has no source or
    // cannot be read, the front shows alone. Its files are not among the originals.
    QVector<ExportSource> rear;
};

struct ExportResult
{
    bool ok = false;
    bool cancelled = false;
    QString error;  // in words, when not ok
    QString folder; // the finished export folder, when ok
    int pictures = 0;
};
Q_DECLARE_METATYPE(ExportResult)

// fraction 0..1 of the whole work, an estimate of the seconds left (negative while
// unknown). Called on the export's thread, at most about ten times a second.
using ExportProgress = std::function<void(double fraction, double secondsLeft)>;

// Runs the whole export on the calling thread (a worker: it takes seconds to minutes).
// stop, when given, is read between pictures and between blocks of copying; once it is
// set the export removes what it wrote and returns with cancelled set.
ExportResult runExport(const ExportRequest &request, const std::atomic<bool> *stop = nullptr,
                       const ExportProgress &progress = {});
