#include "gpspoint.h"

#include <cmath>

namespace {

// The conversion is defined with this ten-decimal pi; the full constant gives
// positions that differ in the seventh decimal.
constexpr double P = 3.141592654;
constexpr double A = 6378245.0;
constexpr double EE = 0.006693421622965943;
constexpr double B = 6335552.717000426; // A * (1 - EE)

// Written as comparisons that are false for NaN, so a NaN goes on to the
// conversion like any point inside the box.
bool outsideChina(double lat, double lng)
{
    return lng < 72.004 || lng > 137.8347 || lat < 0.8293 || lat > 55.8271;
}

} // namespace

GPSPoint::GPSPoint(double lat, double lng)
{
    if (outsideChina(lat, lng)) {
        this->lat = lat;
        this->lng = lng;
        return;
    }
    const double x = lng - 105.0;
    const double y = lat - 35.0;
    const double r = lat / 180.0 * P;
    const double s = std::sin(r);
    const double m = 1 - EE * s * s;
    const double q = std::sqrt(m);

    const double common = (20.0 * std::sin(6.0 * x * P) + 20.0 * std::sin(2.0 * x * P)) * 2.0 / 3.0;
    const double dLat =
        -100.0 + 2.0 * x + 3.0 * y + 0.2 * y * y + 0.1 * x * y + 0.2 * std::sqrt(std::fabs(x)) +
        common + (40.0 * std::sin(y / 3.0 * P) + 20.0 * std::sin(y * P)) * 2.0 / 3.0 +
        (160.0 * std::sin(y / 12.0 * P) + 320.0 * std::sin(y * P / 30.0)) * 2.0 / 3.0;
    const double dLng =
        300.0 + x + 2.0 * y + 0.1 * x * x + 0.1 * x * y + 0.1 * std::sqrt(std::fabs(x)) + common +
        (40.0 * std::sin(x / 3.0 * P) + 20.0 * std::sin(x * P)) * 2.0 / 3.0 +
        (150.0 * std::sin(x / 12.0 * P) + 300.0 * std::sin(x / 30.0 * P)) * 2.0 / 3.0;

    this->lat = lat + dLat * 180.0 / ((B / (q * m)) * P);
    this->lng = lng + dLng * 180.0 / (std::cos(r) * (A / q) * P);
}

GPSPoint wgs84ToGcj02(GPSPoint point)
{
    return GPSPoint(point.lat, point.lng);
}

GPSPoint gcj02ToBd09(GPSPoint point)
{
    constexpr double pi = 3.141592653589793;
    const double x = point.lng;
    const double y = point.lat;
    const double z = std::sqrt(x * x + y * y) + 0.00002 * std::sin(y * pi * 3000.0 / 180.0);
    const double t = std::atan2(y, x) + 0.000003 * std::cos(x * pi * 3000.0 / 180.0);
    GPSPoint result;
    result.lng = z * std::cos(t) + 0.0065;
    result.lat = z * std::sin(t) + 0.006;
    return result;
}
