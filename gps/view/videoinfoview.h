#pragma once

#include "configkeys.h"
#include "drivetrack.h"
#include "oxlocation.h"

#include <QWidget>

class QLabel;
class QLCDNumber;
class OxSlider;
class QMeter;

// The panel under the picture: speed gauge, six read-outs (position, speed and
// trip figures), playback time and length, and the seek slider.
class VideoInfoView : public QWidget
{
    Q_OBJECT
public:
    explicit VideoInfoView(QWidget *parent = nullptr);
    ~VideoInfoView() override;

    void reset();
    void setTrack(const OxTrack &track);
    // Both in seconds; negative values are ignored.
    void updatePosition(double current, double duration);
    void updateSpeedUnit();
    void retranslate();

    // A drive plays as one recording: the slider and the time labels cover the whole
    // drive (a slider step a second) with marks at the clip boundaries, the read-outs
    // follow the drive track's point at the position with the distance, maximum and
    // average speed of the drive so far, and a label beside the time shows the clock
    // time of the picture. reset() ends it.
    void setDrive(const Drive &drive, const DriveTrack &track);
    // The position on the drive, in seconds of drive time.
    void updateDrivePosition(double current);
    bool showsDrive() const { return driveMode; }
    // The span to export, in seconds of what plays (length seconds long), shown over the
    // slider; from >= to: none.
    void setSpan(double from, double to, double length);
    // The playback rate, shown beside the slider while it is not empty ("2x").
    void setRateText(const QString &text);

    static QString formatTime(double seconds);

signals:
    // The time the user chose with the slider, in seconds.
    void videoTimeChanged(double time);

public slots:
    void _onSliderPressed();
    void _onSliderMoved(int position);
    void _onSliderReleased();

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateUnitTexts();
    double sliderTime() const;
    void placeTimeRow(int width);
    void showDrivePoint(const DriveTrackPoint &point);

    QMeter *meter;
    OxTrack track;
    QLabel *latitudeTitle;
    QLabel *longitudeTitle;
    QLabel *speedTitle;
    QLabel *maxSpeedTitle;
    QLabel *averageSpeedTitle;
    QLabel *distanceTitle;
    QLCDNumber *latitudeValue;
    QLCDNumber *longitudeValue;
    QLCDNumber *speedValue;
    QLCDNumber *maxSpeedValue;
    QLCDNumber *averageSpeedValue;
    QLCDNumber *distanceValue;
    QLabel *timeLabel;
    QLabel *lengthLabel;
    OxSlider *slider;
    bool sliderPressed = false;
    double currentTime = 0;
    double duration = 0;
    int speedUnit = SpeedUnit::Mph; // a SpeedUnit value
    QLabel *clockLabel;
    QLabel *rateLabel;
    bool driveMode = false;
    Drive drive;
    DriveTrack driveTrack;
};
