#include "timelinestrip.h"

#include "language.h"
#include "tripmath.h"
#include "videoinfoview.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

// Two fixes further apart than this (drive time) are not joined by a curve, and a fix
// further than this from a moment says nothing about its speed.
constexpr double kCurveGapSeconds = 5;
// The speed scale ends at a multiple of this (in the chosen unit), the G-force scale at
// a multiple of half a g and at least at kMinimumGScale.
constexpr double kSpeedScaleStep = 20;
constexpr double kMinimumGScale = 2;
constexpr int kMarkHeight = 7;
constexpr int kMarkHalfWidth = 5;
// A hover this close to an event mark (pixels) names the event.
constexpr int kEventHoverPixels = 4;
// Time axis labels stand at least this far apart (pixels).
constexpr int kLabelSpacing = 70;

const QColor kSpeedColor(30, 120, 220);
const QColor kGForceColor(230, 120, 20);
const QColor kEventClipColor(255, 170, 0, 60);
const QColor kBrakeColor(215, 30, 30);
const QColor kAccelColor(30, 160, 60);
const QColor kShockColor(150, 60, 200);

QColor eventColor(DriveEventKind kind)
{
    switch (kind) {
    case DriveEventKind::Brake:
        return kBrakeColor;
    case DriveEventKind::Accel:
        return kAccelColor;
    case DriveEventKind::Shock:
        break;
    }
    return kShockColor;
}

QString eventTitle(DriveEventKind kind)
{
    switch (kind) {
    case DriveEventKind::Brake:
        return languageText(QStringLiteral("strip_brake"));
    case DriveEventKind::Accel:
        return languageText(QStringLiteral("strip_accel"));
    case DriveEventKind::Shock:
        break;
    }
    return languageText(QStringLiteral("strip_shock"));
}

double speedIn(DistanceUnit unit, double kmh)
{
    return unit == DistanceUnit::Miles ? kmh * kKmToMiles : kmh;
}

QString unitText(DistanceUnit unit)
{
    return languageText(unit == DistanceUnit::Miles ? QStringLiteral("MPH")
                                                    : QStringLiteral("KM/H"));
}

bool hasSpeed(const DriveTrackPoint &p)
{
    return p.fix.valid && std::isfinite(p.fix.speed);
}

// Points of a curve, at most the lowest and the highest of each pixel column, so that a
// long drive draws with two points a column whatever its number of fixes.
class CurveBuilder
{
public:
    void add(int column, double y)
    {
        if (started && column == x) {
            low = std::min(low, y);
            high = std::max(high, y);
            return;
        }
        flush();
        x = column;
        low = high = y;
        started = true;
    }

    QPolygonF finish()
    {
        flush();
        started = false;
        QPolygonF done;
        done.swap(line);
        return done;
    }

private:
    void flush()
    {
        if (!started)
            return;
        line << QPointF(x + 0.5, low);
        if (high != low)
            line << QPointF(x + 0.5, high);
    }

    QPolygonF line;
    bool started = false;
    int x = 0;
    double low = 0;
    double high = 0;
};

// The runs of points that value gives a number for, each as a curve: a gap of more
// than kCurveGapSeconds ends a run.
template <typename Value, typename Column, typename Height>
QVector<QPolygonF> curves(const QVector<DriveTrackPoint> &points, Value value, Column column,
                          Height height)
{
    QVector<QPolygonF> runs;
    CurveBuilder builder;
    double last = 0;
    bool open = false;
    for (const DriveTrackPoint &p : points) {
        const double v = value(p);
        if (!std::isfinite(v))
            continue;
        if (open && p.driveTime - last > kCurveGapSeconds)
            runs << builder.finish();
        builder.add(column(p.driveTime), height(v));
        last = p.driveTime;
        open = true;
    }
    if (open)
        runs << builder.finish();
    return runs;
}

// A step of the time axis (seconds) that keeps labels kLabelSpacing apart.
double axisStep(double secondsPerPixel)
{
    static const double steps[] = {1,   2,   5,    10,   15,   30,    60,    120,   300,
                                   600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400};
    for (double step : steps) {
        if (step / secondsPerPixel >= kLabelSpacing)
            return step;
    }
    return steps[std::size(steps) - 1];
}

} // namespace

TimelineStrip::TimelineStrip(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TimelineStrip::setDrive(const Drive &newDrive, const DriveTrack &newTrack)
{
    spanFrom = spanTo = 0;
    drive = newDrive;
    track = newTrack;
    playing = 0;
    invalidate();
}

void TimelineStrip::clear()
{
    setDrive(Drive(), DriveTrack());
}

void TimelineStrip::setPosition(double driveTime)
{
    if (!std::isfinite(driveTime))
        return;
    const int before = xAt(playing);
    playing = driveTime;
    if (xAt(playing) == before)
        return;
    update(lineRect(before));
    update(lineRect(xAt(playing)));
}

void TimelineStrip::setSpeedUnit(DistanceUnit newUnit)
{
    unit = newUnit;
    invalidate();
}

double TimelineStrip::timeAt(int x) const
{
    if (width() < 2)
        return 0;
    return drive.duration() * std::clamp(double(x) / (width() - 1), 0.0, 1.0);
}

int TimelineStrip::xAt(double driveTime) const
{
    const double duration = drive.duration();
    if (!(duration > 0) || width() < 2)
        return 0;
    return qRound(std::clamp(driveTime / duration, 0.0, 1.0) * (width() - 1));
}

QSize TimelineStrip::sizeHint() const
{
    return {640, 72};
}

QSize TimelineStrip::minimumSizeHint() const
{
    return {100, 40};
}

void TimelineStrip::invalidate()
{
    background = QPixmap();
    update();
}

QRect TimelineStrip::lineRect(int x) const
{
    return {x - 1, 0, 3, height()};
}

bool TimelineStrip::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        const QString text = toolTipAt(help->pos().x());
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), text, this);
        }
        return true;
    }
    return QWidget::event(event);
}

void TimelineStrip::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange ||
        event->type() == QEvent::StyleChange || event->type() == QEvent::LanguageChange)
        invalidate();
    QWidget::changeEvent(event);
}

void TimelineStrip::resizeEvent(QResizeEvent *event)
{
    background = QPixmap();
    QWidget::resizeEvent(event);
}

void TimelineStrip::paintEvent(QPaintEvent *event)
{
    const qreal ratio = devicePixelRatioF();
    if (background.isNull() || background.size() != size() * ratio)
        renderBackground();
    QPainter painter(this);
    const QRect area = event->rect();
    painter.drawPixmap(area, background,
                       QRectF(area.topLeft() * ratio, QSizeF(area.size()) * ratio).toRect());
    if (spanTo > spanFrom) {
        const QRect span(QPoint(xAt(spanFrom), 0), QPoint(xAt(spanTo), height() - 1));
        painter.fillRect(span.intersected(area), QColor(240, 160, 30, 70));
    }
    if (drive.duration() > 0)
        painter.fillRect(lineRect(xAt(playing)).intersected(area), palette().color(QPalette::Text));
}

void TimelineStrip::setSpan(double from, double to)
{
    spanFrom = from;
    spanTo = to > from ? to : from;
    update();
}

void TimelineStrip::renderBackground()
{
    const qreal ratio = devicePixelRatioF();
    background = QPixmap(size() * ratio);
    background.setDevicePixelRatio(ratio);
    background.fill(palette().color(QPalette::Base));
    if (!(drive.duration() > 0))
        return;
    QPainter painter(&background);
    const int axisHeight = fontMetrics().height() + 4;
    const QRect plot(0, 0, width(), std::max(1, height() - axisHeight));

    for (const DriveClip &clip : drive.clips) {
        if (clip.facts.event)
            painter.fillRect(QRect(QPoint(xAt(clip.driveStart), plot.top()),
                                   QPoint(xAt(clip.driveEnd()), plot.bottom())),
                             kEventClipColor);
    }
    painter.setPen(QPen(palette().color(QPalette::Mid), 1, Qt::DashLine));
    for (double boundary : drive.boundaries()) {
        const double x = xAt(boundary) + 0.5;
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }
    drawCurves(painter, plot);
    drawEvents(painter, plot);
    drawAxis(painter, QRect(0, plot.bottom() + 1, width(), height() - plot.height()));
}

void TimelineStrip::drawCurves(QPainter &painter, const QRect &plot) const
{
    double maxSpeed = 0;
    double maxG = 0;
    for (const DriveTrackPoint &p : track.points) {
        if (hasSpeed(p))
            maxSpeed = std::max(maxSpeed, speedIn(unit, p.fix.speed));
        if (std::isfinite(p.gForce))
            maxG = std::max(maxG, p.gForce);
    }
    const bool speeds = std::any_of(track.points.begin(), track.points.end(), hasSpeed);
    const bool gForces = maxG > 0;
    if (!speeds && !gForces)
        return;

    const QRect area = plot.adjusted(0, kMarkHeight + 1, 0, -1);
    const auto column = [this](double t) { return xAt(t); };
    const auto heightOf = [&area](double scale) {
        return [&area, scale](double v) {
            return area.bottom() + 1 - std::clamp(v / scale, 0.0, 1.0) * area.height();
        };
    };
    const QFontMetrics metrics(font());
    // One-pixel pens: a wider one goes through the stroker, which costs ten times as much
    // for the curves of a long drive.
    painter.setRenderHint(QPainter::Antialiasing);

    if (speeds) {
        const double scale = std::ceil(maxSpeed / kSpeedScaleStep) * kSpeedScaleStep;
        const QVector<QPolygonF> runs = curves(
            track.points,
            [this](const DriveTrackPoint &p) {
                return hasSpeed(p) ? speedIn(unit, p.fix.speed) : qQNaN();
            },
            column, heightOf(std::max(scale, kSpeedScaleStep)));
        QColor fill = kSpeedColor;
        fill.setAlpha(50);
        for (const QPolygonF &run : runs) {
            QPolygonF under = run;
            under << QPointF(run.last().x(), area.bottom() + 1)
                  << QPointF(run.first().x(), area.bottom() + 1);
            painter.setPen(Qt::NoPen);
            painter.setBrush(fill);
            painter.drawPolygon(under);
            painter.setPen(QPen(kSpeedColor, 1));
            painter.setBrush(Qt::NoBrush);
            painter.drawPolyline(run);
        }
        painter.setPen(kSpeedColor);
        painter.drawText(
            area.left() + 3, area.top() + metrics.ascent(),
            QStringLiteral("%1 %2").arg(std::max(scale, kSpeedScaleStep)).arg(unitText(unit)));
    }
    if (gForces) {
        const double scale = std::max(kMinimumGScale, std::ceil(maxG * 2) / 2);
        painter.setPen(QPen(kGForceColor, 1));
        painter.setBrush(Qt::NoBrush);
        for (const QPolygonF &run : curves(
                 track.points, [](const DriveTrackPoint &p) { return p.gForce; }, column,
                 heightOf(scale)))
            painter.drawPolyline(run);
        const QString label = QStringLiteral("%1 g").arg(scale);
        painter.drawText(area.right() - 3 - metrics.horizontalAdvance(label),
                         area.top() + metrics.ascent(), label);
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
}

void TimelineStrip::drawEvents(QPainter &painter, const QRect &plot) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (const DriveEvent &e : track.events) {
        const double x = xAt(e.driveTime) + 0.5;
        const QPointF mark[] = {{x - kMarkHalfWidth, double(plot.top())},
                                {x + kMarkHalfWidth, double(plot.top())},
                                {x, double(plot.top() + kMarkHeight)}};
        painter.setBrush(eventColor(e.kind));
        painter.drawPolygon(mark, 3);
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
}

void TimelineStrip::drawAxis(QPainter &painter, const QRect &band) const
{
    const QColor text = palette().color(QPalette::Text);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(band.topLeft(), band.topRight());
    const double duration = drive.duration();
    const double step = axisStep(duration / std::max(1, width() - 1));
    const QFontMetrics metrics(font());
    for (double t = 0; t <= duration + 1e-9; t += step) {
        const int x = xAt(t);
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawLine(x, band.top(), x, band.top() + 3);
        const QString label = VideoInfoView::formatTime(t);
        const int w = metrics.horizontalAdvance(label);
        if (x + 2 + w > band.right())
            break;
        painter.setPen(text);
        painter.drawText(x + 2, band.top() + 2 + metrics.ascent(), label);
    }
}

QString TimelineStrip::toolTipAt(int x) const
{
    if (!(drive.duration() > 0))
        return QString();
    const double t = timeAt(x);
    const auto line = [](const QString &key, const QString &value) {
        return QStringLiteral("%1: %2").arg(languageText(key), value);
    };
    QStringList lines{line(QStringLiteral("strip_time"), VideoInfoView::formatTime(t))};
    if (const std::optional<qint64> clock = drive.clockAt(t))
        lines << line(
            QStringLiteral("strip_clock"),
            clockToLocal(*clock, drive.clockKind).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (const DriveTrackPoint *p = track.pointAt(t);
        p && std::abs(p->driveTime - t) <= kCurveGapSeconds) {
        if (hasSpeed(*p))
            lines << line(QStringLiteral("current_speed"),
                          QStringLiteral("%1 %2")
                              .arg(speedIn(unit, p->fix.speed), 0, 'f', 0)
                              .arg(unitText(unit)));
        if (std::isfinite(p->gForce))
            lines << line(QStringLiteral("strip_gforce"),
                          QStringLiteral("%1 g").arg(p->gForce, 0, 'f', 2));
    }
    if (drive.clips.at(drive.locate(t).clip).facts.event)
        lines << languageText(QStringLiteral("strip_event_clip"));
    for (const DriveEvent &e : track.events) {
        if (std::abs(xAt(e.driveTime) - x) <= kEventHoverPixels)
            lines << QStringLiteral("%1: %2").arg(eventTitle(e.kind), driveEventValueText(e));
    }
    return lines.join(QLatin1Char('\n'));
}

void TimelineStrip::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    dragX = -1;
    seekTo(event->pos().x());
}

void TimelineStrip::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() & Qt::LeftButton)
        seekTo(event->pos().x());
}

void TimelineStrip::seekTo(int x)
{
    // A drag that moves up or down only asks for nothing new.
    if (!(drive.duration() > 0) || x == dragX)
        return;
    dragX = x;
    const double t = timeAt(x);
    setPosition(t);
    emit seekRequested(t);
}
