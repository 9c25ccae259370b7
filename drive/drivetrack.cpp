#include "drivetrack.h"

#include "tripmath.h"

#include <algorithm>

DriveTrack::DriveTrack(const Drive &drive)
{
    double distance = 0;
    double maxSpeed = 0;
    double speedSum = 0;
    for (int c = 0; c < drive.clips.size(); ++c) {
        const DriveClip &clip = drive.clips.at(c);
        // Only a clip cut short by the next one has fixes that are not played.
        const bool cut = c < drive.clips.size() - 1 && clip.clipOut < clip.facts.duration;
        const OxTrack &track = clip.facts.track;
        for (int i = 0; i < track.size() && i < clip.facts.fixPositions.size(); ++i) {
            const double at = clip.facts.fixPositions.at(i);
            if (at < clip.clipIn || (cut && at >= clip.clipOut))
                continue;
            const OxLocation &fix = track.at(i);
            if (!points.isEmpty() && points.last().clip != c && points.last().fix == fix)
                continue;
            DriveTrackPoint point;
            point.driveTime = drive.driveTime(c, at);
            point.clip = c;
            point.fix = fix;
            if (points.isEmpty()) {
                maxSpeed = fix.speed;
            } else {
                maxSpeed = std::max(maxSpeed, fix.speed);
                const OxLocation &before = points.last().fix;
                if (before.valid && fix.valid)
                    distance += haversineKm(before, fix);
            }
            speedSum += fix.speed;
            point.distanceKm = distance;
            point.maxSpeed = maxSpeed;
            point.averageSpeed = speedSum / (points.size() + 1);
            points << point;
        }
    }
    events = findDriveEvents(drive, points);
}

bool DriveTrack::hasValidFix() const
{
    return std::any_of(points.begin(), points.end(),
                       [](const DriveTrackPoint &p) { return p.fix.valid; });
}

OxTrack DriveTrack::fixes() const
{
    OxTrack track;
    track.reserve(points.size());
    for (const DriveTrackPoint &p : points)
        track << p.fix;
    return track;
}

int DriveTrack::indexAt(double t) const
{
    if (points.isEmpty())
        return -1;
    const auto it =
        std::upper_bound(points.begin(), points.end(), t,
                         [](double v, const DriveTrackPoint &p) { return v < p.driveTime; });
    return std::max(0, int(it - points.begin()) - 1);
}

const DriveTrackPoint *DriveTrack::pointAt(double t) const
{
    const int i = indexAt(t);
    return i < 0 ? nullptr : &points.at(i);
}
