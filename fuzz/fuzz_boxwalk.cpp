// libFuzzer target: any bytes as a recording's box structure. The walk looks for
// "gps " after "moov" and reads the blocks its index points to; the same bytes
// are also used as an index on their own.
#include "gpsextract.h"

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
    return 0;
}
