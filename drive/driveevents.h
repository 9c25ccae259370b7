#pragma once

#include "oxlocation.h"

#include <QString>
#include <QVector>

// The moments of a drive worth finding: hard braking, hard acceleration and shocks,
// found in the drive's track so that the window's strip and dashcam-track --events
// list the same ones.
//
// - Speed (valid fixes only; a void fix's speed means nothing): a fall of more than
//   kBrakeKmh within kEventWindowSeconds is braking, a rise of more than kAccelKmh is
//   acceleration. Each fix is compared with the fastest and the slowest valid fix of
//   the window before it.
// - G-force: the magnitude of the accelerometer readings (in g). A reading more than
//   kShockG away from the running level (an average that follows the readings with a
//   time constant of kShockLevelSeconds) is a shock. The level starts again at the
//   next reading after a gap of more than kShockGapSeconds without readings.
// - Time is the recording's own: across a pause between two clips (which takes no
//   time on the drive's timeline) the clock of the clips is used, so a pause does not
//   look like a sudden change.
// - One hard braking gives one event: fixes that pass a threshold within a window of
//   each other form one run, and the run gives one event at its strongest change
//   (the earliest when equal). A speed event lies where its strongest change began
//   (the last fix before the fall or rise), a shock at its reading.

constexpr double kEventWindowSeconds = 2;
// Braking: the speed falls by more than this (km/h) within the window.
constexpr double kBrakeKmh = 15;
// Acceleration: the speed rises by more than this (km/h) within the window.
constexpr double kAccelKmh = 15;
// Shock: the G-force magnitude lies more than this (g) from its running level.
constexpr double kShockG = 0.4;
constexpr double kShockLevelSeconds = 5;
constexpr double kShockGapSeconds = 10;

enum class DriveEventKind : quint8 { Brake, Accel, Shock };

struct DriveEvent
{
    double driveTime = 0;
    int point = -1; // index into the drive track's points
    DriveEventKind kind = DriveEventKind::Brake;
    // Brake and Accel: the change of speed in km/h within the window, positive. Shock:
    // the distance from the running level in g.
    double value = 0;
};

// The bit of DriveTrackPoint::events that marks an event of this kind at the point.
constexpr quint32 driveEventFlag(DriveEventKind kind)
{
    return 1u << unsigned(kind);
}

// The fix carries accelerometer readings (in g).
bool hasAcceleration(const OxLocation &fix);

// The magnitude of the fix's readings in g; NaN without readings.
double gForceMagnitude(const OxLocation &fix);

// "brake", "accel" or "shock".
QString driveEventKindName(DriveEventKind kind);
// The value with its unit: "23.4 km/h/2s", "0.62 g".
QString driveEventValueText(const DriveEvent &event);

class Drive;
struct DriveTrackPoint;

// Fills the points' gForce and event flags and returns the drive's events in drive
// time order. points belong to drive (DriveTrack builds them).
QVector<DriveEvent> findDriveEvents(const Drive &drive, QVector<DriveTrackPoint> &points);
