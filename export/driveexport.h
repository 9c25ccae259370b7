#pragma once

#include "channelpairs.h"
#include "drivetrack.h"
#include "evidenceexport.h"

// The export of the span [from, to) of a drive (drive time, seconds): its clips as the
// sources, the band's clock from the drive's timeline and its speed and position from the
// drive's track, the route of the span, and the track files written as dashcam-track
// writes a drive. The window's export and dashcam-export both build their request here.
//
// The clock is shown in the computer's time zone with its offset from UTC: GPS times are
// converted to it, and a camera clock, which writes the wall time of where it is set, is
// taken to be set to that zone.
ExportRequest driveExportRequest(const Drive &drive, const DriveTrack &track, double from,
                                 double to);

// The paired channel as the request's picture in picture.
void addPairedChannel(ExportRequest &request, const ChannelPairing &pairing);
