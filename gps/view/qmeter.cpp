#include "qmeter.h"

#include <QEasingCurve>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPropertyAnimation>
#include <QRadialGradient>

#include <cmath>

QMeter::QMeter(QWidget *parent)
    : QWidget(parent), animation(new QPropertyAnimation(this, "value", this))
{
    animation->setDuration(1000);
    setMinimumSize(80, 80);
}

QMeter::~QMeter() = default;

void QMeter::setValue(double v)
{
    // NaN compares false with both bounds; it would reach the needle's rotation.
    if (std::isnan(v))
        return;
    if (v > maxValue) {
        value = maxValue;
        emit errorSignal(8);
    } else if (v < minValue) {
        value = minValue;
        emit errorSignal(8);
    } else {
        value = v;
    }
    if (enableThreshold) {
        // Equal to the threshold is neither side: the alarm keeps its state.
        if (value > threshold && !alarm) {
            alarm = true;
            emit thresholdAlarm(true);
        } else if (value < threshold && alarm) {
            alarm = false;
            emit thresholdAlarm(false);
        }
    }
    update();
}

void QMeter::setValue(int v)
{
    setValue(double(v));
}

void QMeter::setMinValue(double v)
{
    minValue = v;
    update();
}

void QMeter::setMinValue(int v)
{
    setMinValue(double(v));
}

void QMeter::setMaxValue(double v)
{
    if (v > minValue) {
        maxValue = v;
        update();
    } else {
        emit errorSignal(1);
    }
}

void QMeter::setMaxValue(int v)
{
    setMaxValue(double(v));
}

void QMeter::setThreshold(double v)
{
    if (v > minValue && v < maxValue) {
        threshold = v;
        update();
    } else {
        emit errorSignal(3);
    }
}

void QMeter::setThreshold(int v)
{
    setThreshold(double(v));
}

void QMeter::setPrecision(int v)
{
    precision = v;
    update();
}

void QMeter::setPrecisionNumeric(int v)
{
    precisionNumeric = v;
    update();
}

void QMeter::setSteps(int v)
{
    steps = v;
    update();
}

void QMeter::setUnits(QString text)
{
    units = text;
    update();
}

void QMeter::setLabel(QString text)
{
    label = text;
}

void QMeter::setStartAngle(double degrees)
{
    startAngle = degrees;
    update();
}

void QMeter::setEndAngle(double degrees)
{
    endAngle = degrees;
    update();
}

void QMeter::setForeground(QColor colour)
{
    foreground = colour;
    update();
}

void QMeter::setBackground(QColor colour)
{
    background = colour;
    update();
}

void QMeter::setThresholdEnabled(bool on)
{
    enableThreshold = on;
    update();
}

void QMeter::setNumericIndicatorEnabled(bool on)
{
    enableNumericIndicator = on;
    update();
}

void QMeter::setValueWithSpringEffect(int v)
{
    // Every animation step writes the "value" property, so clamping and the
    // threshold test apply to the overshoot too. A call during a running
    // animation retargets it without restarting its clock.
    animation->setStartValue(value);
    animation->setEndValue(double(v));
    animation->setEasingCurve(QEasingCurve::OutBack);
    if (animation->state() != QAbstractAnimation::Running)
        animation->start();
}

void QMeter::setBeginValidValue(double v)
{
    beginValidValue = v;
    update();
}

void QMeter::setEndValidValue(double v)
{
    endValidValue = v;
    update();
}

void QMeter::setEnableValidWindow(bool on)
{
    enableValidWindow = on;
    update();
}

void QMeter::setBeginWarningValue(double v)
{
    beginWarningValue = v;
    update();
}

void QMeter::setEndWarningValue(double v)
{
    endWarningValue = v;
    update();
}

void QMeter::setEnableWarningWindow(bool on)
{
    enableWarningWindow = on;
    update();
}

void QMeter::drawWindowArc(QPainter &painter, double begin, double end, const QColor &colour)
{
    const double k = (endAngle - startAngle) / (maxValue - minValue);
    const double a = (begin - minValue) * k + startAngle;
    const double b = (end - minValue) * k + startAngle;
    painter.setPen(QPen(colour, 2));
    painter.drawArc(QRectF(-25, -25, 50, 50), int(std::min(a, b)) * 16, int(std::fabs(a - b)) * 16);
}

void QMeter::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = std::min(width(), height());
    painter.setViewport((width() - side) / 2, (height() - side) / 2, side, side);
    painter.setWindow(-50, -50, 100, 100);

    // A range that is empty or inverted (setMinValue is unchecked) or a scale
    // without intervals has no angle per unit; those layers are left out rather
    // than drawn with infinite rotations.
    const bool hasRange = maxValue > minValue;
    const bool hasSteps = steps > 0;

    // 1. dial
    painter.setBrush(background);
    painter.drawEllipse(QRectF(-45, -45, 90, 90));

    // 2. glass shine
    {
        QLinearGradient shine(-15, -45, 90, 75);
        shine.setColorAt(0, QColor(255, 255, 255, 30));
        shine.setColorAt(0.3, QColor(120, 120, 120, 20));
        painter.setPen(QPen(QBrush(shine), 0));
        painter.setBrush(shine);
        painter.drawEllipse(QRectF(-45, -45, 90, 90));
    }

    // 3. ticks and the scale arc
    painter.setPen(QPen(foreground, 0));
    painter.setBrush(Qt::NoBrush);
    if (hasSteps) {
        painter.save();
        painter.rotate(-startAngle);
        const double stepAngle = (startAngle - endAngle) / steps;
        for (int i = 0; i <= steps; ++i) {
            painter.drawLine(QLineF(28, 0, 30, 0));
            painter.rotate(stepAngle);
        }
        painter.restore();
    }
    painter.drawArc(QRectF(-28, -28, 56, 56), int(startAngle * 16),
                    int((endAngle - startAngle) * 16));

    // 4. scale numbers
    if (hasSteps) {
        painter.setPen(foreground);
        const QFontMetrics metrics(font());
        for (int i = 0; i <= steps; ++i) {
            // The quarter turn lets sin and cos give x and y of the arc angle
            // with y pointing down.
            const double a = startAngle * 3.1415926535 / 180 + 1.57079632675 +
                             i * ((endAngle - startAngle) / steps * 0.017453292519444445);
            const QString text =
                QString::number(minValue + (maxValue - minValue) / steps * i, 'f', precision);
            const int w = metrics.horizontalAdvance(text);
            const int h = metrics.height();
            painter.drawText(
                QPoint(int(std::sin(a) * 38 - w * 0.5), int(h * 0.25 + std::cos(a) * 38)), text);
        }
    }

    // 5. units
    painter.setPen(foreground);
    painter.setBrush(foreground);
    painter.drawText(QRectF(-15, -20, 30, 10), Qt::AlignCenter, units);

    // 6. threshold band: green below, red above
    if (enableThreshold && hasRange) {
        const double t =
            (endAngle - startAngle) / (maxValue - minValue) * (threshold - minValue) + startAngle;
        const QRectF band(-25, -25, 50, 50);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::green, 3));
        painter.drawArc(band, int(startAngle) * 16, int(t - startAngle) * 16);
        painter.setPen(QPen(Qt::red, 3));
        painter.drawArc(band, int(t) * 16, int(endAngle - t) * 16);
    }

    // 7, 8. warning and valid windows
    painter.setBrush(Qt::NoBrush);
    if (enableWarningWindow && hasRange)
        drawWindowArc(painter, beginWarningValue, endWarningValue, Qt::yellow);
    if (enableValidWindow && hasRange)
        drawWindowArc(painter, beginValidValue, endValidValue, Qt::green);

    // 9. needle and hub
    {
        const double needleAngle =
            hasRange
                ? (endAngle - startAngle) / (maxValue - minValue) * (value - minValue) + startAngle
                : startAngle;
        painter.save();
        painter.rotate(-90);
        painter.rotate(-double(int(needleAngle)));
        QColor edge(Qt::darkRed);
        edge.setAlpha(90);
        painter.setPen(edge);
        QRadialGradient fill(QPointF(0, 0), 20, QPointF(0, 0));
        fill.setColorAt(0, QColor(255, 120, 120));
        fill.setColorAt(1, QColor(200, 20, 20));
        painter.setBrush(fill);
        const QPointF outer[3] = {{-2, 0}, {2, 0}, {0, 30}};
        painter.drawConvexPolygon(outer, 3);
        painter.setBrush(QColor(255, 120, 120));
        const QPointF inner[3] = {{-1, 0}, {1, 0}, {0, 29}};
        painter.drawConvexPolygon(inner, 3);
        painter.restore();

        QLinearGradient hub(-7, -7, 14, 14);
        hub.setColorAt(0, Qt::white);
        hub.setColorAt(1, Qt::black);
        painter.setPen(Qt::NoPen);
        painter.setBrush(hub);
        painter.drawEllipse(QRectF(-7, -7, 14, 14));
    }

    // 10. numeric read-out
    if (enableNumericIndicator) {
        const QFont saved = painter.font();
        QFont bold = saved;
        if (bold.pointSizeF() > 0)
            bold.setPointSizeF(bold.pointSizeF() + 2);
        bold.setWeight(75);
        painter.setFont(bold);
        painter.setPen(alarm ? Qt::red : Qt::green);
        painter.drawText(QRectF(-15, 25, 30, 10), Qt::AlignCenter, QString::number(qint64(value)));
        painter.setFont(saved);
    }

    // 11. label; a label too wide for its box shrinks the widget's font by a
    // point per repaint (never below one point, or it would shrink forever).
    painter.setPen(foreground);
    painter.setBrush(foreground);
    if (QFontMetrics(font()).horizontalAdvance(label) > 40) {
        QFont smaller = painter.font();
        if (smaller.pointSizeF() > 1) {
            smaller.setPointSizeF(std::max(1.0, smaller.pointSizeF() - 1));
            setFont(smaller);
        }
    }
    painter.drawText(QRectF(-20, 15, 40, 10), Qt::AlignCenter, label);

    // 12. outer ring
    {
        QLinearGradient ring(-47, -47, 94, 94);
        ring.setColorAt(0, Qt::white);
        ring.setColorAt(0.3, QColor(60, 60, 60, 250));
        painter.setPen(QPen(QBrush(ring), 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(QRectF(-47, -47, 94, 94), 480, 6240);
    }
}
