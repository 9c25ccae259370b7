#pragma once

#include "drive.h"
#include "driveevents.h"

#include <QVector>

// One point of a drive's track: a fix placed on the drive's timeline with the trip
// figures up to it, computed as the trip panel computes them for one recording (every
// fix counts for the speeds, only steps between two valid fixes for the distance).
struct DriveTrackPoint
{
    double driveTime = 0;
    int clip = 0;
    OxLocation fix;
    double distanceKm = 0;   // from the drive's first fix
    double maxSpeed = 0;     // km/h
    double averageSpeed = 0; // km/h
    double gForce = qQNaN(); // magnitude of the accelerometer readings in g, NaN without
    quint32 events = 0;      // driveEventFlag of each kind of event that lies here
};

// The clips' tracks joined on a drive's timeline. Fixes that lie in a cut overlap (after
// a clip's clipOut, where the next clip plays) are left out, and so is a fix that
// repeats the date and time of the one before it across a boundary, as the GPS step
// does inside one recording. The events of the drive are found once, here (see
// driveevents.h).
class DriveTrack
{
public:
    DriveTrack() = default;
    explicit DriveTrack(const Drive &drive);

    QVector<DriveTrackPoint> points; // in drive time order
    QVector<DriveEvent> events;      // in drive time order

    bool isEmpty() const { return points.isEmpty(); }
    bool hasValidFix() const;
    // The drive's whole route as one track, for the map and the trip panel.
    OxTrack fixes() const;
    double distanceKm() const { return points.isEmpty() ? 0 : points.last().distanceKm; }

    // The point shown at drive time t: the last one at or before t (the first one
    // before it), -1 for an empty track. Binary search.
    int indexAt(double t) const;
    const DriveTrackPoint *pointAt(double t) const;
};
