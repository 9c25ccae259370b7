#pragma once

// A point in degrees. Constructing it from a WGS-84 position stores the GCJ-02
// form used by maps of China (positions outside the China box are kept as they
// are); the default point is (0, 0).
class GPSPoint
{
public:
    GPSPoint() = default;
    GPSPoint(double lat, double lng);
    virtual ~GPSPoint() = default;

    GPSPoint(const GPSPoint &) = default;
    GPSPoint &operator=(const GPSPoint &) = default;

    double lat = 0;
    double lng = 0;
};

// WGS-84 to GCJ-02: the same as GPSPoint(point.lat, point.lng).
GPSPoint wgs84ToGcj02(GPSPoint point);

// GCJ-02 to BD-09, applied everywhere (no box test).
GPSPoint gcj02ToBd09(GPSPoint point);
