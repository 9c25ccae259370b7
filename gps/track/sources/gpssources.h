#pragma once

// The sources, one file each; gpssource.cpp lists them in the order they are tried.
#include "gpsrecord.h"
#include "gpssource.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <optional>

GpsSource *subtitleSource();
GpsSource *boxTextSource();
GpsSource *indexedBlockSource();
GpsSource *scannedBlockSource();
GpsSource *nmeaBoxSource();
GpsSource *topLevelBoxSource();
GpsSource *klvTrackSource();
GpsSource *cammTrackSource();

// The subtitle source: every text of the recording's subtitle stream through
// parseLocation. True when at least one fix was found.
bool loadTrackFromSubtitles(OxTrack &track, const QString &path);

// The "gps " box text source. findBox: the payload of the first box of type innerType
// found after the start of the first top-level box of type outerType (types are four
// characters, e.g. "moov" and "gps "). The inner walk is not bounded by the outer box,
// so a box that follows it at the top level is found too. Nothing when no such box is
// reached, when a header has a size below 8 (64-bit and to-the-end boxes included) or
// of 2 GiB and more, or when a box starts at or beyond 2 GiB. The payload holds what
// the file still has, never more than the size field claims.
std::optional<QByteArray> findBox(QIODevice &file, const char *outerType, const char *innerType);

// Reads the NMEA blocks that a "gps " box payload points to: an 8-byte header,
// then 8-byte entries whose first four bytes are a file offset. Each block
// gives at most one fix, the first RMC sentence whose time differs from the
// last fix kept (and, with a filter, that the filter accepts). Returns the number
// of fixes in the track.
int loadTrackFromBox(QIODevice &file, OxTrack &track, const QByteArray &payload,
                     GpsTextFilter *filter = nullptr);
