#pragma once

#include "oxlocation.h"

// The figures a trip is measured with, shared by the trip panel, the drives and the
// track writers so that one drive and one recording give the same numbers.

// Kilometres (and km/h) to miles (and mph).
constexpr double kKmToMiles = 0.6213712;

// Great-circle distance between two fixes in kilometres.
double haversineKm(const OxLocation &a, const OxLocation &b);

// Initial bearing from a to b in degrees, 0 north, clockwise, in [0, 360).
double courseDegrees(const OxLocation &a, const OxLocation &b);
