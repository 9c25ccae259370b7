#include "oxlocation.h"

OxLocation::OxLocation() : QObject(nullptr)
{
}

OxLocation::OxLocation(const OxLocation &other) : QObject(nullptr)
{
    *this = other;
}

OxLocation &OxLocation::operator=(const OxLocation &other)
{
    if (this == &other)
        return *this;
    valid = other.valid;
    latitude = other.latitude;
    longitude = other.longitude;
    speed = other.speed;
    gsensorX = other.gsensorX;
    gsensorY = other.gsensorY;
    gsensorZ = other.gsensorZ;
    day = other.day;
    month = other.month;
    year = other.year;
    hour = other.hour;
    minute = other.minute;
    second = other.second;
    hasGsensor = other.hasGsensor;
    return *this;
}

OxLocation::~OxLocation() = default;

bool OxLocation::operator==(const OxLocation &other) const
{
    return day == other.day && month == other.month && year == other.year && hour == other.hour &&
           minute == other.minute && second == other.second;
}
