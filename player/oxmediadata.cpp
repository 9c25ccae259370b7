#include "oxmediadata.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

uint8_t *copyPlane(const uint8_t *source, int rowBytes, int rows, const int *lineSize)
{
    if (rowBytes <= 0 || rows <= 0)
        return new uint8_t[1]();
    auto *plane = new uint8_t[size_t(rowBytes) * size_t(rows)];
    if (!source) {
        std::memset(plane, 0, size_t(rowBytes) * size_t(rows));
        return plane;
    }
    if (!lineSize) {
        std::memcpy(plane, source, size_t(rowBytes) * size_t(rows));
        return plane;
    }
    const int stride = *lineSize;
    const int copy = std::min(std::abs(stride), rowBytes);
    for (int row = 0; row < rows; ++row) {
        uint8_t *to = plane + size_t(row) * size_t(rowBytes);
        std::memcpy(to, source + std::ptrdiff_t(row) * stride, size_t(copy));
        if (copy < rowBytes) // a line size narrower than the picture: keep the rest defined
            std::memset(to + copy, 0, size_t(rowBytes - copy));
    }
    return plane;
}

} // namespace

OxYUV420P::OxYUV420P(const uint8_t *const planes[3], int w, int h, const int *lineSizes)
{
    width = std::max(w, 0);
    height = std::max(h, 0);
    y = copyPlane(planes ? planes[0] : nullptr, width, height, lineSizes ? &lineSizes[0] : nullptr);
    u = copyPlane(planes ? planes[1] : nullptr, chromaWidth(), chromaHeight(),
                  lineSizes ? &lineSizes[1] : nullptr);
    v = copyPlane(planes ? planes[2] : nullptr, chromaWidth(), chromaHeight(),
                  lineSizes ? &lineSizes[2] : nullptr);
}

OxYUV420P::OxYUV420P(AVFramePtr referenced) : frame(std::move(referenced))
{
    width = frame->width;
    height = frame->height;
    y = frame->data[0];
    u = frame->data[1];
    v = frame->data[2];
}

bool OxYUV420P::isPacked(const AVFrame *f)
{
    return f && f->format == AV_PIX_FMT_YUV420P && f->buf[0] && f->width > 0 && f->height > 0 &&
           f->data[0] && f->data[1] && f->data[2] && f->linesize[0] == f->width &&
           f->linesize[1] == f->width / 2 && f->linesize[2] == f->width / 2 && f->width % 2 == 0;
}

OxYUV420P::~OxYUV420P()
{
    if (frame) {
        frame.reset(); // the planes belong to the frame
    } else {
        delete[] y;
        delete[] u;
        delete[] v;
    }
    y = u = v = nullptr;
    width = height = 0;
}

OxAudioData::OxAudioData(int size0, int size1)
{
    const int sizes[2] = {size0, size1};
    for (int i = 0; i < 2; ++i) {
        if (sizes[i] > 0) {
            data[i] = new uint8_t[size_t(sizes[i])];
            size[i] = sizes[i];
        }
    }
}

OxAudioData::~OxAudioData()
{
    for (int i = 0; i < 2; ++i) {
        delete[] data[i];
        data[i] = nullptr;
        size[i] = 0;
    }
    format = 0;
}
