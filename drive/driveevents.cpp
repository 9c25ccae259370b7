#include "driveevents.h"

#include "drivetrack.h"

#include <algorithm>
#include <cmath>
#include <deque>

namespace {

// Times a few microseconds apart are equal: seconds are sums of milliseconds.
constexpr double kTimeSlack = 1e-6;

// The candidates of one kind as they pass a threshold; a run of them within a window of
// each other becomes one event at its strongest.
class EventRun
{
public:
    void offer(double at, const DriveEvent &candidate, QVector<DriveEvent> &events)
    {
        if (open && at - lastAt > kEventWindowSeconds + kTimeSlack)
            finish(events);
        if (!open || candidate.value > best.value)
            best = candidate;
        open = true;
        lastAt = at;
    }

    void finish(QVector<DriveEvent> &events)
    {
        if (open)
            events << best;
        open = false;
    }

private:
    DriveEvent best;
    bool open = false;
    double lastAt = 0;
};

// Seconds on the clips' own clock from the drive's start: drive time plus the pauses
// between clips, which the timeline leaves out.
QVector<double> recordingSeconds(const Drive &drive, const QVector<DriveTrackPoint> &points)
{
    QVector<double> seconds(points.size());
    for (int i = 0; i < points.size(); ++i) {
        const DriveTrackPoint &p = points.at(i);
        const DriveClip &clip = drive.clips.at(p.clip);
        seconds[i] = drive.hasClock() ? (clip.startMs - drive.clips.first().startMs) / 1000.0 +
                                            clip.clipIn + (p.driveTime - clip.driveStart)
                                      : p.driveTime;
    }
    return seconds;
}

DriveEvent eventAt(const QVector<DriveTrackPoint> &points, int point, DriveEventKind kind,
                   double value)
{
    return {points.at(point).driveTime, point, kind, value};
}

void findSpeedEvents(const QVector<DriveTrackPoint> &points, const QVector<double> &at,
                     QVector<DriveEvent> &events)
{
    EventRun brakes;
    EventRun accels;
    // The window's fixes by falling (fastest) and rising (slowest) speed, earliest first
    // among equals, so each front is the window's extreme.
    std::deque<int> fastest;
    std::deque<int> slowest;
    const auto speed = [&points](int i) { return points.at(i).fix.speed; };
    for (int i = 0; i < points.size(); ++i) {
        const OxLocation &fix = points.at(i).fix;
        if (!fix.valid || !std::isfinite(fix.speed))
            continue;
        const double from = at[i] - kEventWindowSeconds - kTimeSlack;
        while (!fastest.empty() && at[fastest.front()] < from)
            fastest.pop_front();
        while (!slowest.empty() && at[slowest.front()] < from)
            slowest.pop_front();
        if (!fastest.empty()) {
            const double fall = speed(fastest.front()) - fix.speed;
            if (fall > kBrakeKmh)
                brakes.offer(at[i], eventAt(points, fastest.front(), DriveEventKind::Brake, fall),
                             events);
            const double rise = fix.speed - speed(slowest.front());
            if (rise > kAccelKmh)
                accels.offer(at[i], eventAt(points, slowest.front(), DriveEventKind::Accel, rise),
                             events);
        }
        while (!fastest.empty() && speed(fastest.back()) < fix.speed)
            fastest.pop_back();
        fastest.push_back(i);
        while (!slowest.empty() && speed(slowest.back()) > fix.speed)
            slowest.pop_back();
        slowest.push_back(i);
    }
    brakes.finish(events);
    accels.finish(events);
}

void findShocks(const QVector<DriveTrackPoint> &points, const QVector<double> &at,
                QVector<DriveEvent> &events)
{
    EventRun shocks;
    double level = 0;
    double lastAt = 0;
    bool levelSet = false;
    for (int i = 0; i < points.size(); ++i) {
        const double g = points.at(i).gForce;
        if (!std::isfinite(g))
            continue;
        const double dt = at[i] - lastAt;
        if (!levelSet || dt > kShockGapSeconds) {
            level = g;
            lastAt = at[i];
            levelSet = true;
            continue;
        }
        const double jump = std::abs(g - level);
        if (jump > kShockG)
            shocks.offer(at[i], eventAt(points, i, DriveEventKind::Shock, jump), events);
        level += (1 - std::exp(-std::max(0.0, dt) / kShockLevelSeconds)) * (g - level);
        lastAt = at[i];
    }
    shocks.finish(events);
}

} // namespace

bool hasAcceleration(const OxLocation &fix)
{
    return fix.hasGsensor;
}

double gForceMagnitude(const OxLocation &fix)
{
    if (!hasAcceleration(fix))
        return qQNaN();
    const double g = std::sqrt(fix.gsensorX * fix.gsensorX + fix.gsensorY * fix.gsensorY +
                               fix.gsensorZ * fix.gsensorZ);
    return std::isfinite(g) ? g : qQNaN();
}

QString driveEventKindName(DriveEventKind kind)
{
    switch (kind) {
    case DriveEventKind::Brake:
        return QStringLiteral("brake");
    case DriveEventKind::Accel:
        return QStringLiteral("accel");
    case DriveEventKind::Shock:
        break;
    }
    return QStringLiteral("shock");
}

QString driveEventValueText(const DriveEvent &event)
{
    if (event.kind == DriveEventKind::Shock)
        return QStringLiteral("%1 g").arg(event.value, 0, 'f', 2);
    return QStringLiteral("%1 km/h/%2s").arg(event.value, 0, 'f', 1).arg(kEventWindowSeconds);
}

QVector<DriveEvent> findDriveEvents(const Drive &drive, QVector<DriveTrackPoint> &points)
{
    for (DriveTrackPoint &p : points)
        p.gForce = gForceMagnitude(p.fix);
    const QVector<double> at = recordingSeconds(drive, points);
    QVector<DriveEvent> events;
    findSpeedEvents(points, at, events);
    findShocks(points, at, events);
    std::stable_sort(events.begin(), events.end(), [](const DriveEvent &a, const DriveEvent &b) {
        return a.driveTime < b.driveTime;
    });
    for (const DriveEvent &e : events)
        points[e.point].events |= driveEventFlag(e.kind);
    return events;
}
