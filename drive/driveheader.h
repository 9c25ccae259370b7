#pragma once

#include "drivetrack.h"

#include <QString>

// The line the playlist shows above a drive:
//     2026-03-14 08:02–08:41 · 39 min · 31.4 km · 13 clips
// date and clock times of start and end in the computer's local time (a camera-clock
// drive as the camera wrote them, see clockToLocal), the length, the distance only when
// the clips have GPS, and the number of clips, in the window's language (languageText).
// A drive without time leaves out the date and clock times.

enum class DistanceUnit { Kilometres, Miles };

// The unit that goes with the speed-unit setting, as the trip panel reads it.
DistanceUnit configuredDistanceUnit();

QString driveHeaderText(const Drive &drive, const DriveTrack &track, DistanceUnit unit);
