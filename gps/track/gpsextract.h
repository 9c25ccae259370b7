#pragma once

#include "oxlocation.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <optional>

// Appends fix unless it repeats the date and time of the track's last fix.
void appendFix(OxTrack &track, const OxLocation &fix);

// The payload of the first box of type innerType found after the start of the
// first top-level box of type outerType (types are four characters, e.g. "moov"
// and "gps "). The inner walk is not bounded by the outer box, so a box that
// follows it at the top level is found too. Nothing when no such box is reached,
// when a header has a size below 8 (64-bit and to-the-end boxes included) or of
// 2 GiB and more, or when a box starts at or beyond 2 GiB. The payload holds what the file still
// has, never more than the size field claims.
std::optional<QByteArray> findBox(QIODevice &file, const char *outerType, const char *innerType);

// Reads the NMEA blocks that a "gps " box payload points to: an 8-byte header,
// then 8-byte entries whose first four bytes are a file offset. Each block
// gives at most one fix, the first RMC sentence whose time differs from the
// last fix kept. Returns the number of fixes in the track.
int loadTrackFromBox(QIODevice &file, OxTrack &track, const QByteArray &payload);

// The subtitle source: every text of the recording's subtitle stream through
// parseLocation. True when at least one fix was found.
bool loadTrackFromSubtitles(OxTrack &track, const QString &path);

// The GPS step of opening a recording: the subtitle source, else the "gps "
// box inside "moov", else the binary and timed layouts of gpssource.h. An empty
// track when the recording has none.
OxTrack loadTrack(const QString &path);
