#pragma once

#include <QObject>
#include <QVector>

// One GPS fix as the camera stored it: WGS-84 position, speed in km/h, three
// G-sensor readings and the UTC date and time. Copies carry the values only (the
// thirteen of the record and hasGsensor); equality compares the date and time alone.
class OxLocation : public QObject
{
    Q_OBJECT
public:
    OxLocation();
    OxLocation(const OxLocation &other);
    OxLocation &operator=(const OxLocation &other);
    ~OxLocation() override;

    bool operator==(const OxLocation &other) const;
    bool operator!=(const OxLocation &other) const { return !(*this == other); }

    bool valid = false;
    double latitude = 0;
    double longitude = 0;
    double speed = 0;
    double gsensorX = 0;
    double gsensorY = 0;
    double gsensorZ = 0;
    int day = 0;
    int month = 0;
    int year = 0; // two digits, as in the NMEA date
    int hour = 0;
    int minute = 0;
    int second = 0;
    // The recording gave accelerometer readings for this fix: gsensorX/Y/Z are then in g
    // (0, 0, 0 included). Without them the three stay 0.
    bool hasGsensor = false;
};

using OxTrack = QVector<OxLocation>;
