#include "oxslider.h"

#include <QMouseEvent>
#include <QWheelEvent>

#include <cstdlib>

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
