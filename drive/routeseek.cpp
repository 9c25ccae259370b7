#include "routeseek.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kMetresPerDegree = 111195;

struct Stretch
{
    double metres = 0; // from the click
    double time = 0;   // drive time of the place nearest to the click
};

} // namespace

std::optional<double> routeTimeNear(const DriveTrack &track, double latitude, double longitude,
                                    double presentTime)
{
    if (!std::isfinite(latitude) || !std::isfinite(longitude))
        return std::nullopt;
    // Metres east and north of the click, on a plane touching the earth there.
    const double east = std::cos(latitude * M_PI / 180) * kMetresPerDegree;
    struct Place
    {
        double x, y, time;
    };
    QVector<Place> route;
    for (const DriveTrackPoint &p : track.points) {
        if (p.fix.valid)
            route << Place{std::remainder(p.fix.longitude - longitude, 360) * east,
                           (p.fix.latitude - latitude) * kMetresPerDegree, p.driveTime};
    }
    if (route.isEmpty())
        return std::nullopt;
    if (route.size() == 1)
        return route.first().time;

    QVector<Stretch> stretches(route.size() - 1);
    double nearest = std::numeric_limits<double>::infinity();
    for (int i = 0; i + 1 < route.size(); ++i) {
        const Place &a = route.at(i);
        const Place &b = route.at(i + 1);
        const double dx = b.x - a.x;
        const double dy = b.y - a.y;
        const double length2 = dx * dx + dy * dy;
        // Where the foot of the perpendicular from the click falls, 0 at a and 1 at b.
        const double f = length2 > 0 ? std::clamp(-(a.x * dx + a.y * dy) / length2, 0.0, 1.0) : 0;
        stretches[i] = {std::hypot(a.x + f * dx, a.y + f * dy), a.time + f * (b.time - a.time)};
        nearest = std::min(nearest, stretches[i].metres);
    }
    if (!std::isfinite(nearest))
        return std::nullopt;

    // Each run of stretches near enough is one passage; its nearest stretch stands for it.
    const double limit = nearest * kPassageSlackFactor + kPassageSlackMetres;
    std::optional<double> best;
    const auto near = [&](int i) { return stretches[i].metres <= limit; }; // false for NaN
    for (int i = 0; i < stretches.size();) {
        if (!near(i)) {
            ++i;
            continue;
        }
        int closest = i;
        for (; i < stretches.size() && near(i); ++i) {
            if (stretches[i].metres < stretches[closest].metres)
                closest = i;
        }
        const double time = stretches[closest].time;
        if (!best || std::abs(time - presentTime) < std::abs(*best - presentTime))
            best = time;
    }
    return best;
}
