#pragma once

#include <QSlider>

// The seek slider: a press far from the handle jumps there at once, every mouse
// release reports sliderReleased (also after such a jump), and the wheel is left
// to the parent.
class OxSlider : public QSlider
{
    Q_OBJECT
public:
    explicit OxSlider(QWidget *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
};
