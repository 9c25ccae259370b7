#pragma once

#include "evidenceexport.h"

#include <QFont>
#include <QImage>
#include <QPolygonF>
#include <QRect>
#include <QSize>
#include <QStringList>

// The data band burned into exported pictures: an opaque strip along the bottom of the
// picture with the clock time and its UTC offset, the speed and the position in white on
// black, and optionally a small map of the route with the moment's position. Its layout
// depends only on the picture size and the options, never on the values shown, so each
// field keeps its place from picture to picture.
class ExportBand
{
public:
    enum Field { Clock, Speed, Position, Map, FieldCount };

    ExportBand(QSize picture, int unit, const QVector<QPointF> &route, bool routeMap);

    int top() const { return bandTop; }           // first picture row of the band, even
    int height() const { return image.height(); } // even
    // Where a field is drawn, in band coordinates; empty for a map that is not shown.
    QRect fieldRect(Field field) const { return rects[field]; }

    // Paints the band for the sample; false (and the image untouched) when it would look
    // the same as the last one painted.
    bool update(const BandSample &sample);
    const QImage &picture() const { return image; }

    // The texts of the Clock, Speed and Position fields.
    static QStringList texts(const BandSample &sample, int unit);

private:
    QPointF mapPoint(double longitude, double latitude) const;

    int speedUnit; // a value of configure.ini's Speed key
    int bandTop = 0;
    QImage image;
    QFont font;
    QRect rects[FieldCount];
    QPolygonF routeLine; // in band coordinates
    // The route's bounding box and the scale that fits it into the map's rectangle.
    double west = 0, north = 0, xScale = 0, yScale = 0;
    QPointF mapOrigin;
    QString lastKey;
};
