#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QVector>

class OxYUV420P;

// One picture of a composed screenshot and the rectangle of the canvas it fills, in
// canvas pixels. The picture is scaled to the rectangle as it is.
struct OxPlacedPicture
{
    const OxYUV420P *picture = nullptr;
    QRect rect;
};

// Draws the pictures into a black canvas of the given size, each later one over the ones
// before, and saves the canvas as saveYUV420PAsJpeg saves one picture. Rectangles are
// kept to even pixels (the chroma planes are half size) and to the canvas. 0, or a
// negative result when nothing was written.
int saveComposedJpeg(const QVector<OxPlacedPicture> &pictures, QSize size, const QString &path);
