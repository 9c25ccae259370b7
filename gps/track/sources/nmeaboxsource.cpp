// NMEA lines with millisecond time stamps, "[1710505845000]$GPRMC,...", in a "gps "
// child of a top-level "free" box that also holds "sttm" (the recording start).
#include "gpsrecord.h"
#include "gpssources.h"
#include "nmea.h"

#include <QList>

namespace {

constexpr qint64 kMaxText = qint64(8) << 20;

bool isNmeaContainer(GpsRecording &recording, const GpsBox &box)
{
    if (box.type != "free" || box.payloadSize() < 8)
        return false;
    const QByteArray head = recording.read(box.payloadOffset(), 8);
    if (head.size() < 8 || head[0] != 0 || head[1] != 0)
        return false;
    static const char *const kChildren[] = {"cprt", "sttm", "ptnm", "ptrh", "thum", "gps ", "3gf "};
    for (const char *type : kChildren) {
        if (head.mid(4, 4) == type)
            return true;
    }
    return false;
}

std::optional<GpsBox> nmeaContainer(GpsRecording &recording)
{
    for (const GpsBox &box : recording.topLevel()) {
        if (isNmeaContainer(recording, box))
            return box;
    }
    return std::nullopt;
}

class NmeaBoxSource : public GpsSource
{
public:
    const char *name() const override { return "timestamped nmea box"; }
    bool detect(GpsRecording &recording) override { return bool(nmeaContainer(recording)); }
    void read(GpsRecording &recording, OxTrack &track, GpsReadStats &stats) override
    {
        const std::optional<GpsBox> container = nmeaContainer(recording);
        if (!container)
            return;
        std::vector<GpsRecord> records;
        for (const GpsBox &child : recording.children(*container)) {
            if (child.type != "gps ")
                continue;
            const QByteArray text =
                recording.read(child.payloadOffset(), child.payloadSize(), kMaxText);
            readText(text, records, stats);
        }
        stats.skipped += finishRecords(records, track);
    }

private:
    // Each piece after a '[' is "<ms>]" and maybe a sentence; a time stamp can follow
    // a checksum on the same line. Checksums are not checked: cameras get them wrong.
    static void readText(const QByteArray &text, std::vector<GpsRecord> &records,
                         GpsReadStats &stats)
    {
        const QList<QByteArray> pieces = text.split('[');
        for (const QByteArray &piece : pieces) {
            const int close = piece.indexOf(']');
            if (close < 0)
                continue;
            QByteArray sentence = piece.mid(close + 1);
            const int nul = sentence.indexOf('\0');
            if (nul >= 0)
                sentence.truncate(nul);
            if (!sentence.startsWith("$GPRMC") && !sentence.startsWith("$GNRMC"))
                continue;
            OxLocation fix;
            if (parseLocation(sentence.constData(), fix) != 0 || !fix.valid) {
                ++stats.skipped;
                continue;
            }
            records.push_back(recordFromFix(fix));
        }
    }
};

} // namespace

GpsSource *nmeaBoxSource()
{
    static NmeaBoxSource source;
    return &source;
}
