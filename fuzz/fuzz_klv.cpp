// libFuzzer target: any bytes as one sample of a KLV GPS metadata track (nested
// big-endian key, type, structure size, repeat and padded payload), then the
// records it gave through the checks that turn them into fixes.
#include "sources/gpsmetatrack.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    const GpsBytes sample(data, qint64(size));
    std::vector<GpsRecord> records;
    int skipped = 0;
    decodeKlvSample(sample, 1.0, records, skipped);
    decodeKlvSample(sample, 0.0, records, skipped);
    OxTrack track;
    finishRecords(records, track);
    for (const OxLocation &fix : track) {
        if (!(fix.latitude >= -90 && fix.latitude <= 90 && fix.longitude >= -180 &&
              fix.longitude <= 180))
            __builtin_trap(); // an impossible fix got through
    }
    return 0;
}
