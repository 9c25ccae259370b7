#pragma once

#include "oxlocation.h"

#include <QString>

// What the GPS step found out about a recording: which source gave the track (empty
// when none did) and how many records it skipped as void, damaged or impossible; with
// no track, what every source skipped.
struct GpsReport
{
    QString source;
    int skipped = 0;
    // Every sentence of the track had a checksum and every one was wrong: some cameras
    // write them so, and the sentences were kept all the same.
    bool keptBadChecksums = false;
};

// The GPS step of opening a recording: the subtitle stream, else the "gps " box inside
// "moov", else the binary and timed layouts, tried in that order (sources/gpssource.cpp
// holds the table). The first source that gives a fix gives the track; an empty track
// when the recording has none. Fixes with impossible values never reach the track.
OxTrack loadTrack(const QString &path, GpsReport *report = nullptr);
