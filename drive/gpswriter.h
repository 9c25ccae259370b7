#pragma once

#include "drivetrack.h"

#include <QIODevice>
#include <QString>

// The GPS files dashcam-track writes, for one recording and for drives; an export of a
// part of a drive writes its GPS file with the same code.
//
// GPX is version 1.1. For drives each point carries, in the TrackPointExtension v2
// schema, its speed in m/s and its course in degrees (from the valid fix before it,
// for the first one towards the fix after it; a fix that has not moved keeps the last
// course). CSV numbers always use a decimal point, whatever the locale.

enum class GpsFileFormat { Csv, Gpx };

// One recording as dashcam-track FILE has always written it: CSV with every fix, or
// GPX with one track named name and one segment of the valid fixes with their times.
void writeRecordingTrack(QIODevice &out, const OxTrack &track, const QString &name,
                         GpsFileFormat format);

// Drives in the order given. GPX: one <trk> per drive that has a valid fix, named
// after its first and last file, one <trkseg> per clip. CSV: one row per fix of every
// drive: the drive's number (from 1, in the order given), the clip's file, the drive
// time, then the columns of the one-recording CSV.
void writeDriveTracks(QIODevice &out, const QVector<Drive> &drives, GpsFileFormat format);

// The fixes of one drive between drive times from and to (both included), as
// writeDriveTracks writes a drive.
void writeDriveSpan(QIODevice &out, const Drive &drive, const DriveTrack &track, double from,
                    double to, GpsFileFormat format);
