#pragma once

#include "oxlocation.h"

#include <QByteArray>
#include <QString>

// Reads one fix out of a piece of camera text: an RMC sentence ("$GPRMC" is
// preferred to "$GNRMC"), optionally followed on later lines by a "$GSENSOR"
// sentence, or else a fix text line. The "$GSENSOR" readings and the fix text line's
// three readings are taken as g, as cameras write them; the fix then hasGsensor. text is
// NUL-terminated and may be null. Returns 0 when a fix was read, -1 otherwise; on -1 the record may
// be partly written and is to be discarded.
int parseLocation(const char *text, OxLocation &fix);

// The checksum of the sentence a fix was read from: "*" and two hexadecimal digits
// after its last field, the XOR of every character between "$" and "*". A fix text line
// has none.
enum class NmeaChecksum { Absent, Good, Bad };

// parseLocation that also tells the checksum of the RMC sentence it read.
int parseLocation(const char *text, OxLocation &fix, NmeaChecksum &checksum);

// sentence starts at the RMC tag and runs to the end of the available text.
// Returns 0 when it had at least 13 fields (the record is then filled), -1
// otherwise (the record is untouched).
int parseRmc(const QString &sentence, OxLocation &fix);

// The text of one subtitle cue as FFmpeg's decoder hands it over. An ASS event
// line ("ReadOrder,Layer,Style,Name,MarginL,MarginR,MarginV,Effect,Text") is cut
// down to its Text field and its "\N" and "\n" line breaks become "\r\n", so
// that the parser sees the lines the camera wrote. Plain text is kept as is.
QByteArray subtitleCueText(const char *ass, const char *plain);
