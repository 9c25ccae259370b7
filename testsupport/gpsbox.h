#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// Adds a "gps " box to an mp4 written by makeRecording (moov last, as FFmpeg
// writes it without faststart). The box's payload is an 8-byte header and one
// 8-byte entry (offset, length) per block; the blocks themselves go into a
// "free" box appended at the end, so no chunk offset of the recording moves.
struct GpsBoxSpec
{
    QVector<QByteArray> blocks;     // NMEA text, one index entry each
    int blockStride = 4096;         // each block zero-padded to this many bytes (0: packed)
    int payloadSize = -1;           // >= 0: cut or zero-pad the payload to this many bytes
    bool afterMoov = false;         // the box at the top level after "moov", not inside it
    bool wideBoxBeforeMoov = false; // a box with a 64-bit size (size field 1) before "moov"
    QVector<qint64> extraOffsets;   // further entries pointing anywhere, after the blocks'
};

// Rewrites path in place; false when the file is not laid out as expected.
bool addGpsBox(const QString &path, const GpsBoxSpec &recipe);

// One RMC sentence for second s after 08:00:00 on 7 March 2024, moving east at 20 + s
// knots, or at knots when given.
QByteArray rmcSentence(int s, const char *tag = "$GPRMC", char status = 'A', double knots = -1);

// The sentence ("$..." with or without "*XX") with its right checksum.
QByteArray withChecksum(const QByteArray &sentence);
