#include "tripmath.h"

#include <algorithm>
#include <cmath>

double haversineKm(const OxLocation &a, const OxLocation &b)
{
    // The constants the trip figures have always been computed with.
    const double p = 3.141592654;
    const double phi1 = a.latitude * p / 180;
    const double phi2 = b.latitude * p / 180;
    const double lambda1 = a.longitude * p / 180;
    const double lambda2 = b.longitude * p / 180;
    const double sinLambda = std::sin((lambda1 - lambda2) * 0.5);
    const double sinPhi = std::sin((phi1 - phi2) * 0.5);
    const double h = std::cos(phi2) * std::cos(phi1) * sinLambda * sinLambda + sinPhi * sinPhi;
    // Rounding can push h a hair above 1 for antipodal points; asin would give NaN.
    return std::asin(std::sqrt(std::min(1.0, h))) * 12742.786;
}

double courseDegrees(const OxLocation &a, const OxLocation &b)
{
    const double toRadians = M_PI / 180;
    const double phi1 = a.latitude * toRadians;
    const double phi2 = b.latitude * toRadians;
    const double dLambda = (b.longitude - a.longitude) * toRadians;
    const double y = std::sin(dLambda) * std::cos(phi2);
    const double x =
        std::cos(phi1) * std::sin(phi2) - std::sin(phi1) * std::cos(phi2) * std::cos(dLambda);
    const double degrees = std::atan2(y, x) / toRadians;
    return degrees < 0 ? degrees + 360 : degrees;
}
