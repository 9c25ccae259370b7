// libFuzzer target: any bytes as a recording's box structure. The walk looks for
// "gps " after "moov" and reads the blocks its index points to; the same bytes
// are also used as an index on their own. Then every source of the GPS step that
// works on a device runs on them (the "gps " box text, binary blocks through the index
// and the scan, the timestamped NMEA box, the top-level box, both metadata tracks),
// none of which may give an impossible fix, and the block and packet decoders run on
// the raw bytes.
#include "sources/gpsblocks.h"
#include "sources/gpsmetatrack.h"
#include "sources/gpssources.h"

#include <QBuffer>
#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The walk logs every header it reads; nobody reads those lines here.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QBuffer file(&bytes);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    OxTrack track;
    if (const std::optional<QByteArray> payload = findBox(file, "moov", "gps ")) {
        if (payload->size() > bytes.size())
            __builtin_trap(); // never more than the file holds
        loadTrackFromBox(file, track, *payload);
    }
    OxTrack direct;
    loadTrackFromBox(file, direct, bytes);

    // Each source that works on a device (all but the subtitle stream), whether or not
    // an earlier one found something.
    GpsRecording recording(file);
    const QVector<GpsSource *> &sources = gpsSources();
    for (GpsSource *source : sources) {
        if (!source->detect(recording))
            continue;
        OxTrack found;
        GpsReadStats stats;
        source->read(recording, found, stats);
        for (const OxLocation &fix : found) {
            if (!possibleFix(fix))
                __builtin_trap(); // an impossible fix got through
        }
    }
    GpsReport report;
    loadTrackFrom(recording, &report);

    std::vector<GpsRecord> records;
    int skipped = 0;
    decodeGpsBlock(bytes, records, skipped);
    const GpsBytes raw(bytes);
    decodeCammSample(raw, 1.0, 1710505844, records, skipped);
    decodeCammSample(raw, 1.0, std::nullopt, records, skipped);
    cammAcceleration(raw);
    GpsRecord record;
    decodeXorText(raw, 0, record);
    decodeTextRecords(raw, 0, records, skipped);
    OxTrack fromRecords;
    finishRecords(records, fromRecords);
    return 0;
}
