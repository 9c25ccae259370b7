#pragma once

#include "driveheader.h"
#include "drivetrack.h"

#include <QPixmap>
#include <QWidget>

// The strip under the picture, across the whole clip or drive: the speed curve in the
// chosen unit, the G-force magnitude where the recording has it, clip boundaries, event
// clips shaded, event marks, a time axis and a line at the playing position. A click or
// a drag asks to seek there; hovering shows drive time, clock time and speed.
//
// Drawn by hand: everything but the position line is painted once into a pixmap (again
// after a resize or a new drive or unit), so an update of the position repaints the two
// narrow columns of the old and the new line from that pixmap and nothing else.
// A recording without GPS shows the time axis and clip boundaries without curves.
class TimelineStrip : public QWidget
{
    Q_OBJECT
public:
    explicit TimelineStrip(QWidget *parent = nullptr);

    // A clip is a drive of one clip. The strip keeps (implicitly shared) copies.
    void setDrive(const Drive &drive, const DriveTrack &track);
    void clear();
    // The playing position in drive time (seconds).
    void setPosition(double driveTime);
    double position() const { return playing; }
    // The span to export, in drive time, shaded over the curves; from >= to: none.
    void setSpan(double from, double to);
    // Also reads the unit's text again (after a change of language).
    void setSpeedUnit(DistanceUnit unit);

    // The drive time under x and the column of a drive time, in widget pixels.
    double timeAt(int x) const;
    int xAt(double driveTime) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // A click or a drag on the strip, in drive time.
    void seekRequested(double driveTime);

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void invalidate();
    void renderBackground();
    void drawAxis(QPainter &painter, const QRect &band) const;
    void drawCurves(QPainter &painter, const QRect &plot) const;
    void drawEvents(QPainter &painter, const QRect &plot) const;
    QRect lineRect(int x) const; // the position line at column x
    QString toolTipAt(int x) const;
    void seekTo(int x);

    Drive drive;
    DriveTrack track;
    DistanceUnit unit = DistanceUnit::Kilometres;
    double playing = 0;
    double spanFrom = 0;
    double spanTo = 0;
    int dragX = -1;     // the column last sought by a click or drag
    QPixmap background; // all but the position line; null when it is to be drawn again
};
