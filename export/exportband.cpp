#include "exportband.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QPainter>

#include <cmath>

namespace {

// The widest texts each field can show, so the layout never moves with the values.
const char kWidestClock[] = "0000-00-00 00:00:00 UTC+00:00";
const char kWidestSpeed[] = "000 km/h";
const char kWidestPosition[] = "00.00000° N  000.00000° W";

// From fonts-dejavu-core through the system's font configuration; without it Qt falls
// back to its default sans serif.
QFont bandFont()
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

} // namespace

ExportBand::ExportBand(QSize picture, int unit, const QVector<QPointF> &route, bool routeMap)
    : speedUnit(unit), font(bandFont())
{
    const int w = qMax(2, picture.width());
    const int h = qMax(2, picture.height());
    // About a fourteenth of the picture: 80 rows at 1080p, 54 at 720p.
    int bh = qMax(16, qRound(h * 0.074));
    bh += bh & 1;
    bandTop = qMax(0, (h - bh) & ~1);
    image = QImage(w, h - bandTop, QImage::Format_RGB32);
    bh = image.height();

    const bool map = routeMap && route.size() >= 2;
    const int mapWidth = map ? 2 * bh : 0;
    int px = qMax(6, bh / 2);
    int margin = 0, gap = 0, clockWidth = 0, speedWidth = 0, positionWidth = 0;
    for (;; --px) {
        font.setPixelSize(px);
        const QFontMetrics metrics(font);
        margin = px / 2;
        gap = px;
        clockWidth = metrics.horizontalAdvance(QString::fromUtf8(kWidestClock));
        speedWidth = metrics.horizontalAdvance(QString::fromUtf8(kWidestSpeed));
        positionWidth = metrics.horizontalAdvance(QString::fromUtf8(kWidestPosition));
        const int total = 2 * margin + clockWidth + speedWidth + positionWidth + 2 * gap +
                          (map ? gap + mapWidth : 0);
        if (total <= w || px <= 6)
            break;
    }
    rects[Clock] = QRect(margin, 0, clockWidth, bh);
    rects[Speed] = QRect(rects[Clock].right() + 1 + gap, 0, speedWidth, bh);
    int right = w - margin;
    if (map) {
        rects[Map] = QRect(right - mapWidth, 2, mapWidth, bh - 4);
        right = rects[Map].left() - gap;
    }
    rects[Position] =
        QRect(qMax(rects[Speed].right() + 1 + gap, right - positionWidth), 0, positionWidth, bh);

    if (map) {
        double east = route[0].x(), south = route[0].y();
        west = east;
        north = south;
        for (const QPointF &p : route) {
            west = qMin(west, p.x());
            east = qMax(east, p.x());
            south = qMin(south, p.y());
            north = qMax(north, p.y());
        }
        // Equirectangular, with longitude shrunk by the latitude so that the shape of the
        // route is kept over the few kilometres a span covers.
        const double shrink = std::cos((north + south) / 2 * M_PI / 180);
        const double spanX = (east - west) * shrink;
        const double spanY = north - south;
        const QRectF inner = QRectF(rects[Map]).adjusted(4, 4, -4, -4);
        double scale = 0;
        if (spanX > 0 || spanY > 0)
            scale = qMin(spanX > 0 ? inner.width() / spanX : 1e12,
                         spanY > 0 ? inner.height() / spanY : 1e12);
        xScale = shrink * scale;
        yScale = scale;
        mapOrigin = QPointF(inner.left() + (inner.width() - spanX * scale) / 2,
                            inner.top() + (inner.height() - spanY * scale) / 2);
        for (const QPointF &p : route)
            routeLine << mapPoint(p.x(), p.y());
    }
}

QPointF ExportBand::mapPoint(double longitude, double latitude) const
{
    return mapOrigin + QPointF((longitude - west) * xScale, (north - latitude) * yScale);
}

QStringList ExportBand::texts(const BandSample &sample, int unit)
{
    QString clock = QStringLiteral("time unknown");
    if (sample.hasClock) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(
            sample.clockMs + qint64(sample.utcOffsetSeconds) * 1000, Qt::UTC);
        const QDate d = local.date();
        const QTime t = local.time();
        const int offset = qAbs(sample.utcOffsetSeconds) / 60;
        // Digits written here rather than by QDateTime, whose formats follow the locale.
        clock =
            QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d UTC%c%02d:%02d", d.year(), d.month(),
                              d.day(), t.hour(), t.minute(), t.second(),
                              sample.utcOffsetSeconds < 0 ? '-' : '+', offset / 60, offset % 60);
    }
    const bool mph = SpeedUnit::isMiles(unit);
    const QString unitText = mph ? QStringLiteral("mph") : QStringLiteral("km/h");
    QString speed = QStringLiteral("-- ") + unitText;
    QString position = QStringLiteral("no GPS fix");
    if (sample.hasFix) {
        const double value = mph ? sample.speedKmh / 1.609344 : sample.speedKmh;
        speed = QString::number(qRound(value)) + QLatin1Char(' ') + unitText;
        position = QString::asprintf("%.5f° %c  %.5f° %c", qAbs(sample.latitude),
                                     sample.latitude < 0 ? 'S' : 'N', qAbs(sample.longitude),
                                     sample.longitude < 0 ? 'W' : 'E');
    }
    return {clock, speed, position};
}

bool ExportBand::update(const BandSample &sample)
{
    const QStringList text = texts(sample, speedUnit);
    const bool map = !rects[Map].isEmpty();
    QPoint marker;
    if (map && sample.hasFix)
        marker = mapPoint(sample.longitude, sample.latitude).toPoint();
    const QString key =
        text.join(QLatin1Char('\n')) +
        QStringLiteral("\n%1,%2,%3").arg(map && sample.hasFix).arg(marker.x()).arg(marker.y());
    if (key == lastKey)
        return false;
    lastKey = key;

    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(rects[Clock], Qt::AlignLeft | Qt::AlignVCenter, text[0]);
    painter.drawText(rects[Speed], Qt::AlignRight | Qt::AlignVCenter, text[1]);
    painter.drawText(rects[Position], Qt::AlignRight | Qt::AlignVCenter, text[2]);
    if (map) {
        painter.fillRect(rects[Map], QColor(48, 48, 48));
        painter.setPen(QPen(QColor(220, 220, 220), qMax(1, image.height() / 40)));
        painter.drawPolyline(routeLine);
        if (sample.hasFix) {
            const double r = qMax(2, image.height() / 12);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(255, 64, 32));
            painter.drawEllipse(QPointF(marker), r, r);
        }
    }
    return true;
}
