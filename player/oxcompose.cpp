#include "oxcompose.h"

#include "ffmpeg_ptr.h"
#include "oxjpeg.h"
#include "oxmediadata.h"

#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

// The largest even number not above value.
int even(int value)
{
    return value & ~1;
}

} // namespace

int saveComposedJpeg(const QVector<OxPlacedPicture> &pictures, QSize size, const QString &path)
{
    const int width = even(size.width());
    const int height = even(size.height());
    if (width <= 0 || height <= 0)
        return -1;
    const int chromaWidth = width / 2;
    std::vector<uint8_t> y(size_t(width) * height, 0);
    std::vector<uint8_t> u(size_t(chromaWidth) * (height / 2), 128);
    std::vector<uint8_t> v(u.size(), 128);

    for (const OxPlacedPicture &placed : pictures) {
        const OxYUV420P *picture = placed.picture;
        // The packed chroma holds the rounded-down halves: an odd last column or row of
        // the picture is left out rather than read past.
        const int pw = picture ? even(picture->width) : 0;
        const int ph = picture ? even(picture->height) : 0;
        QRect rect = placed.rect.intersected(QRect(0, 0, width, height));
        rect =
            QRect(even(rect.x() + 1), even(rect.y() + 1), even(rect.width()), even(rect.height()))
                .intersected(QRect(0, 0, width, height));
        if (pw <= 0 || ph <= 0 || rect.width() < 2 || rect.height() < 2)
            continue;
        SwsContextPtr sws(sws_getContext(pw, ph, AV_PIX_FMT_YUV420P, rect.width(), rect.height(),
                                         AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                                         nullptr));
        if (!sws)
            return -1;
        const uint8_t *source[4] = {picture->y, picture->u, picture->v, nullptr};
        const int sourceLines[4] = {picture->width, picture->chromaWidth(), picture->chromaWidth(),
                                    0};
        const size_t chromaAt = size_t(rect.y() / 2) * chromaWidth + rect.x() / 2;
        uint8_t *target[4] = {y.data() + size_t(rect.y()) * width + rect.x(), u.data() + chromaAt,
                              v.data() + chromaAt, nullptr};
        const int targetLines[4] = {width, chromaWidth, chromaWidth, 0};
        sws_scale(sws.get(), source, sourceLines, 0, ph, target, targetLines);
    }
    return saveYUV420PAsJpeg(y.data(), u.data(), v.data(), width, height, path);
}
