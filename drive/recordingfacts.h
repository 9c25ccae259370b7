#pragma once

#include "oxlocation.h"

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QVector>

#include <atomic>
#include <optional>

// What the drive model needs to know about one recording file: when it started, how
// long it is, which camera wrote it, whether the camera locked it, and its GPS track
// with the place of every fix in the file.
//
// Times. A start time is kept in milliseconds since 1970 in one of two kinds:
// - Utc: a true instant, from the GPS fixes.
// - Camera: the camera's own clock, which writes its local wall time into file names,
//   the container's creation_time and the card's file times. Its digits are kept as if
//   they were UTC ("08:02:12" in a name becomes 08:02:12 UTC), so every source of the
//   camera clock compares with every other whatever zone the computer is in. Shown to
//   the user as those digits again (see clockToLocal).
// Grouping estimates a folder's offset between the two kinds (see drive.h).

enum class CameraChannel : quint8 { Unknown, Front, Rear, Cabin };
enum class ClockKind : quint8 { None, Utc, Camera };
// Where a start time came from, in the order the sources are trusted.
enum class StartSource : quint8 { None, Gps, Container, FileName, ModificationTime };

struct RecordingFacts
{
    // Found by probing (and kept in the cache).
    QString path;          // absolute
    qint64 size = 0;       // bytes
    qint64 modifiedMs = 0; // file's modification time, ms since 1970
    bool probed = false;   // opened as a recording; false: missing, not a file, damaged
    double duration = 0;   // seconds, as the player's stream reader measures it
    int videoStreams = 0;
    std::optional<qint64> containerTimeMs; // creation_time, camera clock
    OxTrack track;                         // as the player's GPS step reads it
    QString gpsSource;                     // the source that gave the track

    // Derived from the above and from the path (deriveRecordingFacts).
    QVector<double> fixPositions;       // seconds into the file, one per fix of track
    std::optional<qint64> gpsStartMs;   // Utc: first dated fix minus its place in the file
    std::optional<qint64> clockStartMs; // Camera: creation_time, else name, else file time
    StartSource clockSource = StartSource::None;
    CameraChannel channel = CameraChannel::Unknown;
    // The folder the camera writes into, without channel, event and normal-loop
    // sub-folders: "/card/DCIM/Movie" for ".../Movie/RO/F/x.MP4".
    QString cameraFolder;
    bool event = false; // locked by the camera (event folder or event mark in the name)

    // The start the header and the user see: GPS first, else the camera clock.
    std::optional<qint64> startMs() const { return gpsStartMs ? gpsStartMs : clockStartMs; }
    StartSource startSource() const;
    ClockKind startKind() const;
    // Clips with equal keys come from one camera channel and may form a drive; front
    // and rear never share a key.
    QString cameraKey() const;
    // Grouping can place the clip: it has a length and a start.
    bool hasUsableTime() const { return duration > 0 && startMs().has_value(); }
};
Q_DECLARE_METATYPE(RecordingFacts)

// Reads the recording at path: its length and streams with the player's stream reader,
// its track with the player's GPS step, then everything derived. Safe on any thread.
// stop (may be null) is polled between the steps: a set flag gives nothing at once.
// A path that is not a regular file (a folder, a FIFO, a device) is never opened.
std::optional<RecordingFacts> probeRecordingFacts(const QString &path,
                                                  const std::atomic<bool> *stop = nullptr);

// Fills the derived fields from the probed ones and the path.
void deriveRecordingFacts(RecordingFacts &facts);

// Where each fix lies in the file, in seconds. When every fix has a plausible date and
// time, the times never go back and they span no more than the recording (plus a
// second or two of rounding), a fix lies at its time minus the first fix's time. Else
// fix i of n lies at i / n of the length, the place the single-recording trip display
// shows it at.
QVector<double> fixPositions(const OxTrack &track, double duration);

// A fix's date and time as UTC ms since 1970, when they make a plausible date.
std::optional<qint64> fixTimeMs(const OxLocation &fix);

// What a file name says: a start time (the camera's clock; 20260314_080212,
// 2026_0314_080212, 20260314080212, 260314-080212 ... with prefixes and suffixes such as
// NO, EV, PA, _F, _R, A, B), a channel mark and an event mark.
struct RecordingNameFacts
{
    std::optional<qint64> clockMs;
    CameraChannel channel = CameraChannel::Unknown;
    bool event = false;
};
RecordingNameFacts parseRecordingName(const QString &fileName);

// The file name without its extension and without the letters that mark its channel:
// "20260314_080212_F.MP4" and "20260314_080212_R.MP4" both give "20260314_080212_".
QString nameWithoutChannel(const QString &fileName);
// The channel a folder of this name holds ("Front", "R", "BACK" ...); Unknown for others.
CameraChannel channelOfFolder(const QString &folderName);

// Shows a time of the given kind as the computer's local time: a Utc instant converted,
// a camera-clock time as the digits the camera wrote.
QDateTime clockToLocal(qint64 ms, ClockKind kind);

// The recordings (.mp4, .mov, .avi in any letter case) in folder and its sub-folders
// down to depth levels, sorted by path; hidden entries and linked folders are skipped.
QStringList recordingsUnder(const QString &folder, int depth = 4);
