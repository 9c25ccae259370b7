#pragma once

#include "recordingfacts.h"

#include <QMetaType>
#include <QVector>

#include <optional>

// A drive: consecutive clips of one camera channel whose recording times join, played
// as one recording on one timeline. A clip that joins no other is a drive of one clip,
// and then everything behaves as for that recording alone.
//
// Grouping (groupDrives):
// - Clips are grouped by camera key (folder and channel), so front and rear never mix.
// - Times of one kind are compared. In a camera folder where some clips have GPS, the
//   offset between the GPS time and each camera-clock source (creation_time, name,
//   file time) is estimated as the median over the clips that have both; clips without
//   GPS are moved onto GPS time by it (by the median over all sources when their own
//   source has no pair). A folder without GPS keeps the camera's clock.
// - Sorted by that time, a clip joins the clip before it when it starts after it
//   started, ends after it ended, and starts no more than kMaxJoinGap after it ended.
//   A clip that starts or ends within the one before (a duplicate) is a drive of its
//   own and the drive goes on past it. Clips without a usable time (no length, not
//   probed) are drives of their own.
// - Overlaps are cut once, here, at the end of the earlier clip: it plays until the
//   later one starts, and the later one plays from its first picture, so moving on to
//   it needs no seek.
// - The drive's timeline has no gaps: a pause between two clips (at most kMaxJoinGap)
//   takes no time on it.

// The next clip joins when it starts no later than this after the previous one ended.
constexpr qint64 kMaxJoinGapMs = 5000;

struct DriveClip
{
    RecordingFacts facts;
    qint64 startMs = 0;    // clock time of the file's first picture, in the drive's kind
    double clipIn = 0;     // seconds into the file where the clip starts playing
    double clipOut = 0;    // seconds into the file where the next clip takes over
    double driveStart = 0; // where clipIn lies on the drive's timeline

    double length() const { return clipOut - clipIn; }
    double driveEnd() const { return driveStart + length(); }
};

// A place in a drive: clip index and seconds into that clip's file.
struct DrivePosition
{
    int clip = -1;
    double seconds = 0;
};

class Drive
{
public:
    QVector<DriveClip> clips; // in time order
    ClockKind clockKind = ClockKind::None;
    CameraChannel channel = CameraChannel::Unknown;
    QString cameraKey;

    bool isEmpty() const { return clips.isEmpty(); }
    double duration() const { return clips.isEmpty() ? 0 : clips.last().driveEnd(); }
    bool hasClock() const { return clockKind != ClockKind::None; }
    bool anyEvent() const;
    // The clip playing the file at path, or -1.
    int clipOf(const QString &path) const;

    // Drive time to clip and seconds into its file. Times before 0 (and NaN) give the
    // first clip's clipIn, times past the end the last clip's clipOut; a time exactly
    // on a boundary belongs to the clip that starts there.
    DrivePosition locate(double driveTime) const;
    // Seconds into a clip's file to drive time. A position inside the cut overlap at
    // the end of the clip gives the next clip's start; an index out of range clamps to
    // the first or last clip.
    double driveTime(int clip, double fileSeconds) const;
    // Clock time (of the drive's kind) at a drive time; nothing for a drive without
    // time.
    std::optional<qint64> clockAt(double driveTime) const;
    // Clock time to drive time: clamped to the drive, and a time in a pause between
    // two clips gives the start of the later one. 0 for a drive without time.
    double driveTimeAtClock(qint64 clockMs) const;
    // Drive times where a clip begins, after the first: the marks of a seek slider.
    QVector<double> boundaries() const;
};
Q_DECLARE_METATYPE(Drive)

// Groups recordings into drives, ordered by start time (drives without time last, by
// path). Every recording given lands in exactly one drive.
QVector<Drive> groupDrives(const QVector<RecordingFacts> &facts);
