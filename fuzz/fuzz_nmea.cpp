// libFuzzer target: any bytes as a subtitle text or a block of NMEA text, both
// directly and as an event line of the subtitle decoder.
#include "nmea.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    // The parser reads NUL-terminated text; QByteArray keeps a NUL after the copy.
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    OxLocation fix;
    parseLocation(text.constData(), fix);
    const QByteArray cue = subtitleCueText(text.constData(), nullptr);
    OxLocation fromCue;
    parseLocation(cue.constData(), fromCue);
    return 0;
}
