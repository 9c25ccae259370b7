#pragma once

#include "drivetrack.h"

#include <optional>

// Seeking from the map: the moment the car was at a clicked place.
//
// The click is compared with every stretch of the route between two valid fixes; the
// answer lies on the nearest stretch, at the drive time interpolated along it. A route
// can pass a place more than once (there and back, a roundabout twice): every passage
// that comes about as near as the nearest one (within kPassageSlackFactor times its
// distance plus kPassageSlackMetres, the width of a road drawn on a map and the error
// of a fix) is a candidate, and the passage nearest in drive time to the present
// position wins, so a click near where the car is now stays there.

constexpr double kPassageSlackFactor = 1.5;
constexpr double kPassageSlackMetres = 30;

// The drive time of the route's place nearest to (latitude, longitude); nothing for a
// track without a valid fix or a position that is not a number.
std::optional<double> routeTimeNear(const DriveTrack &track, double latitude, double longitude,
                                    double presentTime);
