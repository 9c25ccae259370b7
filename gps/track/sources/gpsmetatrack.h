#pragma once

#include "gpsrecord.h"

// Timed metadata tracks: a "trak" whose handler is "meta" and whose sample entry
// has the given format. The samples are found through the track's own tables
// (sizes, chunk offsets, samples per chunk, durations), so nothing else of the
// file is read.
struct GpsMetaSample
{
    qint64 offset = 0;
    qint64 size = 0;
    double time = 0;     // seconds from the track start
    double duration = 0; // seconds
};

// The samples of the first metadata track of that format, in decoding order;
// samples that do not lie inside the file are left out and counted in skipped.
QVector<GpsMetaSample> metadataSamples(GpsRecording &recording, const char *format, int &skipped);
bool hasMetadataTrack(GpsRecording &recording, const char *format);

// One KLV sample (big-endian key, type, structure size, repeat, payload padded to
// four bytes; "DEVC" ⊃ "STRM" ⊃ "GPSU", "GPSF", "SCAL", "GPS5"/"GPS9").
void decodeKlvSample(const GpsBytes &sample, double duration, std::vector<GpsRecord> &records,
                     int &skipped);

// One sample of little-endian packets (reserved, type, body); positions come from
// types 5 and 6. creation: the recording's creation time, seconds since 1970.
void decodeCammSample(const GpsBytes &sample, double time, std::optional<qint64> creation,
                      std::vector<GpsRecord> &records, int &skipped);

// The last acceleration packet (type 3) of a sample, in g; nothing when it has none.
struct CammAcceleration
{
    double x = 0;
    double y = 0;
    double z = 0;
};
std::optional<CammAcceleration> cammAcceleration(const GpsBytes &sample);
