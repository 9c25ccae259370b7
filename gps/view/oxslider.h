#pragma once

#include <QSlider>
#include <QVector>

// The seek slider: a press far from the handle jumps there at once, every mouse
// release reports sliderReleased (also after such a jump), and the wheel is left
// to the parent. It can mark places along its groove (the clip boundaries of a drive).
class OxSlider : public QSlider
{
    Q_OBJECT
public:
    explicit OxSlider(QWidget *parent = nullptr);

    // Places to mark, as fractions of the range (0 = minimum, 1 = maximum); others are
    // left out. Empty: no marks.
    void setMarks(const QVector<double> &fractions);
    const QVector<double> &marks() const { return markFractions; }
    // A span to show over the groove (the part of a recording to export), as fractions of
    // the range; from >= to: none.
    void setSpan(double from, double to);
    QPair<double, double> span() const { return {spanFrom, spanTo}; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QVector<double> markFractions;
    double spanFrom = 0;
    double spanTo = 0;
};
