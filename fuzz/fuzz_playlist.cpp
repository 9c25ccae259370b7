// libFuzzer target: any bytes as a playlist file. Reading must end quietly, a "thumb" is
// only ever taken inside the thumbnail folder, and no name or path holds a NUL (which
// would cut it short on its way to the system).
#include "oxfileutils.h"
#include "oxvideoinfo.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > size_t(OxVideoInfo::kMaxFileBytes))
        return 0;
    static const QString thumbnails = QDir::cleanPath(OxFileUtils::thumbnailLocation());
    const OxVideoInfo info =
        OxVideoInfo::fromXml(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    for (const OxVideoFile &video : info.videos) {
        if (!video.thumb.isEmpty() && QFileInfo(QDir::cleanPath(video.thumb)).path() != thumbnails)
            std::abort();
        if (video.path.contains(QChar(0)) || video.name.contains(QChar(0)))
            std::abort();
    }
    return 0;
}
