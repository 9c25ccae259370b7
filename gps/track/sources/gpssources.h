#pragma once

// The sources, one file each; gpssource.cpp lists them in the order they are tried.
#include "gpssource.h"

GpsSource *subtitleSource();
GpsSource *boxTextSource();
GpsSource *indexedBlockSource();
GpsSource *scannedBlockSource();
GpsSource *nmeaBoxSource();
GpsSource *topLevelBoxSource();
GpsSource *klvTrackSource();
GpsSource *cammTrackSource();
