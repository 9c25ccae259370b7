#include "oxslider.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionSlider>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>

namespace {

// A mark reaches this far (pixels) above and below the groove's middle.
constexpr int kMarkReach = 8;
const QColor kMarkColor(200, 60, 30);
const QColor kSpanColor(240, 160, 30, 110);

} // namespace

OxSlider::OxSlider(QWidget *parent) : QSlider(parent)
{
    installEventFilter(this);
}

bool OxSlider::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == this && event->type() == QEvent::MouseButtonPress && width() > 0) {
        const auto *press = static_cast<QMouseEvent *>(event);
        const int v = minimum() + (press->pos().x() * (maximum() - minimum())) / width();
        // Near the current value the press is the toolkit's (grab the handle,
        // page toward it); far from it the slider jumps there and swallows the
        // press, so no grab and no sliderPressed.
        if (std::abs(v - value()) > 10) {
            setValue(v);
            return true;
        }
    }
    return QSlider::eventFilter(watched, event);
}

void OxSlider::mousePressEvent(QMouseEvent *event)
{
    QSlider::mousePressEvent(event);
}

void OxSlider::mouseReleaseEvent(QMouseEvent *event)
{
    // The toolkit must still see the release: it ends a handle grab (otherwise the
    // slider stays "down" and every later setValue reports sliderMoved) and stops
    // the page repeat of a press on the groove. It reports sliderReleased itself
    // only when it ends a grab; every other release is reported here, so each
    // release gives exactly one signal.
    const bool wasDown = isSliderDown();
    QSlider::mouseReleaseEvent(event);
    if (!(wasDown && !isSliderDown()))
        emit sliderReleased();
    event->accept();
}

void OxSlider::mouseMoveEvent(QMouseEvent *event)
{
    QSlider::mouseMoveEvent(event);
}

void OxSlider::wheelEvent(QWheelEvent *event)
{
    event->ignore();
}

void OxSlider::setMarks(const QVector<double> &fractions)
{
    markFractions.clear();
    for (double f : fractions) {
        if (f >= 0 && f <= 1)
            markFractions.append(f);
    }
    update();
}

void OxSlider::setSpan(double from, double to)
{
    spanFrom = qBound(0.0, from, 1.0);
    spanTo = qBound(0.0, to, 1.0);
    if (!(spanTo > spanFrom))
        spanFrom = spanTo = 0;
    update();
}

void OxSlider::paintEvent(QPaintEvent *event)
{
    QSlider::paintEvent(event);
    if (markFractions.isEmpty() && !(spanTo > spanFrom))
        return;
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    // The handle's centre travels over the groove less the handle's width: a mark sits
    // where the centre stands at that value.
    const int span = groove.width() - handle.width();
    const int middle = groove.center().y();
    const int reach = std::min(middle, kMarkReach);
    QPainter painter(this);
    if (spanTo > spanFrom) {
        const int left = groove.left() + handle.width() / 2 + qRound(spanFrom * span);
        const int right = groove.left() + handle.width() / 2 + qRound(spanTo * span);
        painter.fillRect(QRect(left, middle - reach, std::max(1, right - left), 2 * reach),
                         kSpanColor);
    }
    painter.setPen(QPen(kMarkColor, 2));
    for (double f : markFractions) {
        const int x = groove.left() + handle.width() / 2 + qRound(f * span);
        painter.drawLine(x, middle - reach, x, middle + reach);
    }
}
