#include "videoinfoview.h"

#include "configkeys.h"
#include "language.h"
#include "oxconfigure.h"
#include "oxslider.h"
#include "qmeter.h"
#include "tripmath.h"

#include <QEvent>
#include <QLCDNumber>
#include <QLabel>

#include <algorithm>
#include <cmath>

namespace {

// The slider's range for one recording.
constexpr int kSliderSteps = 99;
// The clock label of a drive, between the time label and the slider.
constexpr int kClockWidth = 64;
constexpr int kRateWidth = 44;

QLCDNumber *makeReadOut(QWidget *parent, const char *name, int digits, const QPalette &palette)
{
    auto *lcd = new QLCDNumber(digits, parent);
    lcd->setObjectName(QLatin1String(name));
    lcd->setPalette(palette);
    return lcd;
}

QLabel *makeLabel(QWidget *parent, const char *name)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

} // namespace

VideoInfoView::VideoInfoView(QWidget *parent) : QWidget(parent)
{
    meter = new QMeter(this);
    meter->setObjectName(QStringLiteral("meter"));
    latitudeTitle = makeLabel(this, "latitudeTitle");
    longitudeTitle = makeLabel(this, "longitudeTitle");
    speedTitle = makeLabel(this, "speedTitle");
    maxSpeedTitle = makeLabel(this, "maxSpeedTitle");
    averageSpeedTitle = makeLabel(this, "averageSpeedTitle");
    distanceTitle = makeLabel(this, "distanceTitle");

    QPalette readOutPalette;
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        readOutPalette.setColor(group, QPalette::WindowText, QColor(0, 150, 214));
    latitudeValue = makeReadOut(this, "latitudeValue", 10, readOutPalette);
    longitudeValue = makeReadOut(this, "longitudeValue", 10, readOutPalette);
    speedValue = makeReadOut(this, "speedValue", 4, readOutPalette);
    maxSpeedValue = makeReadOut(this, "maxSpeedValue", 4, readOutPalette);
    averageSpeedValue = makeReadOut(this, "averageSpeedValue", 4, readOutPalette);
    distanceValue = makeReadOut(this, "distanceValue", 5, readOutPalette);

    timeLabel = makeLabel(this, "timeLabel");
    lengthLabel = makeLabel(this, "lengthLabel");
    timeLabel->setAlignment(Qt::AlignCenter);
    lengthLabel->setAlignment(Qt::AlignCenter);
    slider = new OxSlider(this);
    slider->setObjectName(QStringLiteral("slider"));
    slider->setOrientation(Qt::Horizontal);
    clockLabel = makeLabel(this, "clockLabel");
    clockLabel->setAlignment(Qt::AlignCenter);
    clockLabel->hide();
    rateLabel = makeLabel(this, "rateLabel");
    rateLabel->setAlignment(Qt::AlignCenter);
    rateLabel->hide();

    speedUnit = OxConfigure().intValue(ConfigKey::Speed, ConfigDefault::SpeedInPanel);

    meter->setFont(QFont(QStringLiteral("Ubuntu"), 5));
    meter->setMaxValue(240);
    meter->setForeground(Qt::black);
    meter->setBackground(Qt::white);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    policy.setHeightForWidth(meter->sizePolicy().hasHeightForWidth());
    meter->setSizePolicy(policy);

    retranslate();

    // A press far from the handle makes the slider jump without reporting sliderPressed;
    // the panel sees every press first, so the slider counts as held from any press
    // until its release and progress updates leave it where the user put it.
    slider->installEventFilter(this);
    connect(slider, &OxSlider::sliderPressed, this, &VideoInfoView::_onSliderPressed);
    connect(slider, &OxSlider::sliderMoved, this, &VideoInfoView::_onSliderMoved);
    connect(slider, &OxSlider::sliderReleased, this, &VideoInfoView::_onSliderReleased);

    reset();
}

VideoInfoView::~VideoInfoView() = default;

void VideoInfoView::updateUnitTexts()
{
    const bool miles = SpeedUnit::isMiles(speedUnit);
    meter->setUnits(miles ? QStringLiteral("mph") : QStringLiteral("Km/h"));
    const QString pattern = miles ? QStringLiteral("%1 (mile)") : QStringLiteral("%1 (Km)");
    distanceTitle->setText(pattern.arg(languageText(QStringLiteral("total_distance"))));
}

void VideoInfoView::retranslate()
{
    latitudeTitle->setText(languageText(QStringLiteral("current_latitude")));
    longitudeTitle->setText(languageText(QStringLiteral("current_longitude")));
    speedTitle->setText(languageText(QStringLiteral("current_speed")));
    maxSpeedTitle->setText(languageText(QStringLiteral("max_speed")));
    averageSpeedTitle->setText(languageText(QStringLiteral("average_speed")));
    updateUnitTexts();
}

void VideoInfoView::updateSpeedUnit()
{
    speedUnit = OxConfigure().intValue(ConfigKey::Speed, ConfigDefault::SpeedInPanel);
    updateUnitTexts();
    if (driveMode)
        updateDrivePosition(currentTime);
    else
        setTrack(OxTrack(track));
}

void VideoInfoView::reset()
{
    if (driveMode) {
        driveMode = false;
        drive = Drive();
        driveTrack = DriveTrack();
        clockLabel->hide();
        clockLabel->clear();
        slider->setMarks({});
        slider->setRange(0, kSliderSteps);
        placeTimeRow(width());
    }
    latitudeValue->display(QStringLiteral("0.000000"));
    longitudeValue->display(QStringLiteral("0.000000"));
    speedValue->display(QStringLiteral("0.00"));
    maxSpeedValue->display(QStringLiteral("0.00"));
    averageSpeedValue->display(QStringLiteral("0.00"));
    distanceValue->display(QStringLiteral("0.00"));
    timeLabel->setText(QStringLiteral("00:00"));
    lengthLabel->setText(QStringLiteral("00:00"));
    slider->setValue(0);
    slider->setSpan(0, 0);
    meter->setValue(0.0);
    setTrack(OxTrack());
}

void VideoInfoView::setTrack(const OxTrack &newTrack)
{
    track = newTrack;
    const int n = track.size();
    if (n == 0) {
        maxSpeedValue->display(QStringLiteral("0.00"));
        averageSpeedValue->display(QStringLiteral("0.00"));
        distanceValue->display(QStringLiteral("0.00"));
        return;
    }
    double maximum = track.at(0).speed;
    double sum = track.at(0).speed;
    double distance = 0;
    for (int i = 0; i + 1 < n; ++i) {
        const OxLocation &a = track.at(i);
        const OxLocation &b = track.at(i + 1);
        maximum = std::max(maximum, b.speed);
        sum += b.speed;
        // A void fix breaks the chain on both sides.
        if (a.valid && b.valid)
            distance += haversineKm(a, b);
    }
    double average = sum / n;
    if (SpeedUnit::isMiles(speedUnit)) {
        maximum *= kKmToMiles;
        average *= kKmToMiles;
        distance *= kKmToMiles;
    }
    maxSpeedValue->display(maximum);
    averageSpeedValue->display(average);
    distanceValue->display(distance);
}

void VideoInfoView::updatePosition(double current, double newDuration)
{
    // Negative times are ignored; so are NaN and infinity, which would reach the
    // integer conversions below.
    if (!std::isfinite(current) || !std::isfinite(newDuration) || current < 0 || newDuration < 0)
        return;
    if (driveMode)
        return updateDrivePosition(current);
    currentTime = current;
    duration = newDuration;
    timeLabel->setText(formatTime(current));
    lengthLabel->setText(formatTime(newDuration));
    if (!sliderPressed)
        slider->setValue(newDuration > 0 ? int(slider->maximum() * current / newDuration)
                                         : slider->minimum());
    if (track.isEmpty())
        return;
    const int n = track.size();
    int index = newDuration > 0 ? int(std::min(double(n - 1), n * current / newDuration)) : 0;
    index = std::max(0, index);
    const OxLocation &fix = track.at(index);
    if (fix.valid) {
        latitudeValue->display(fix.latitude);
        longitudeValue->display(fix.longitude);
        const double speed = SpeedUnit::isMiles(speedUnit) ? fix.speed * kKmToMiles : fix.speed;
        speedValue->display(speed);
        meter->setValue(speed);
    } else {
        latitudeValue->display(QStringLiteral("0.000000"));
        longitudeValue->display(QStringLiteral("0.000000"));
        speedValue->display(QStringLiteral("0.00"));
    }
}

void VideoInfoView::setDrive(const Drive &newDrive, const DriveTrack &track)
{
    reset();
    driveMode = true;
    drive = newDrive;
    driveTrack = track;
    const double length = drive.duration();
    duration = length;
    slider->setRange(0, std::max(kSliderSteps, int(std::ceil(length))));
    QVector<double> marks;
    if (length > 0) {
        for (double boundary : drive.boundaries())
            marks << boundary / length;
    }
    slider->setMarks(marks);
    clockLabel->show();
    placeTimeRow(width());
    updateDrivePosition(0);
}

void VideoInfoView::updateDrivePosition(double current)
{
    if (!driveMode || !std::isfinite(current) || current < 0)
        return;
    const double length = drive.duration();
    currentTime = std::min(current, length);
    duration = length;
    timeLabel->setText(formatTime(currentTime));
    lengthLabel->setText(formatTime(length));
    if (!sliderPressed)
        slider->setValue(length > 0 ? int(slider->maximum() * currentTime / length)
                                    : slider->minimum());
    const std::optional<qint64> clock = drive.clockAt(currentTime);
    clockLabel->setText(
        clock ? clockToLocal(*clock, drive.clockKind).toString(QStringLiteral("HH:mm:ss"))
              : QString());
    if (const DriveTrackPoint *point = driveTrack.pointAt(currentTime))
        showDrivePoint(*point);
}

void VideoInfoView::showDrivePoint(const DriveTrackPoint &point)
{
    const double factor = SpeedUnit::isMiles(speedUnit) ? kKmToMiles : 1;
    const OxLocation &fix = point.fix;
    if (fix.valid) {
        latitudeValue->display(fix.latitude);
        longitudeValue->display(fix.longitude);
        speedValue->display(fix.speed * factor);
        meter->setValue(fix.speed * factor);
    } else {
        latitudeValue->display(QStringLiteral("0.000000"));
        longitudeValue->display(QStringLiteral("0.000000"));
        speedValue->display(QStringLiteral("0.00"));
    }
    maxSpeedValue->display(point.maxSpeed * factor);
    averageSpeedValue->display(point.averageSpeed * factor);
    distanceValue->display(point.distanceKm * factor);
}

QString VideoInfoView::formatTime(double seconds)
{
    const qint64 s = qint64(seconds + 0.5);
    const qint64 h = s / 3600;
    const qint64 m = (s % 3600) / 60;
    const qint64 r = s % 60;
    if (h > 0)
        return QString::asprintf("%02lld:%02lld:%02lld", h, m, r);
    return QString::asprintf("%02lld:%02lld", m, r);
}

double VideoInfoView::sliderTime() const
{
    // The handle's position: during a drag the toolkit reports the move before it
    // updates the value, so the value would lag one step behind the handle.
    return slider->sliderPosition() * duration / slider->maximum();
}

void VideoInfoView::_onSliderPressed()
{
    sliderPressed = true;
}

void VideoInfoView::_onSliderMoved(int)
{
    if (duration <= 0)
        return;
    currentTime = sliderTime();
    timeLabel->setText(formatTime(currentTime));
    lengthLabel->setText(formatTime(duration));
}

void VideoInfoView::_onSliderReleased()
{
    sliderPressed = false;
    emit videoTimeChanged(sliderTime());
}

bool VideoInfoView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == slider && event->type() == QEvent::MouseButtonPress)
        sliderPressed = true;
    return QWidget::eventFilter(watched, event);
}

void VideoInfoView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int w = width();
    const int c = (w - 220) / 3;
    meter->setGeometry(5, 5, 190, 190);
    const int columns[3] = {200, c + 210, 2 * c + 220};
    latitudeTitle->setGeometry(columns[0], 0, c, 30);
    latitudeValue->setGeometry(columns[0], 30, c, 50);
    longitudeTitle->setGeometry(columns[1], 0, c, 30);
    longitudeValue->setGeometry(columns[1], 30, c, 50);
    distanceTitle->setGeometry(columns[2], 0, c, 30);
    distanceValue->setGeometry(columns[2], 30, c, 50);
    speedTitle->setGeometry(columns[0], 80, c, 30);
    speedValue->setGeometry(columns[0], 110, c, 50);
    maxSpeedTitle->setGeometry(columns[1], 80, c, 30);
    maxSpeedValue->setGeometry(columns[1], 110, c, 50);
    averageSpeedTitle->setGeometry(columns[2], 80, c, 30);
    averageSpeedValue->setGeometry(columns[2], 110, c, 50);
    placeTimeRow(w);
}

void VideoInfoView::placeTimeRow(int w)
{
    timeLabel->setGeometry(200, 170, 50, 30);
    // The rate, when shown, takes its room from the slider's right end.
    const int rate = rateLabel->isVisible() ? kRateWidth : 0;
    rateLabel->setGeometry(w - 50 - rate, 170, rate, 30);
    if (driveMode) {
        clockLabel->setGeometry(250, 170, kClockWidth, 30);
        slider->setGeometry(250 + kClockWidth, 170, w - 300 - kClockWidth - rate, 30);
    } else {
        clockLabel->setGeometry(0, 0, 0, 0);
        slider->setGeometry(250, 170, w - 300 - rate, 30);
    }
    lengthLabel->setGeometry(w - 50, 170, 50, 30);
}

void VideoInfoView::setSpan(double from, double to, double length)
{
    if (length > 0 && to > from)
        slider->setSpan(from / length, to / length);
    else
        slider->setSpan(0, 0);
}

void VideoInfoView::setRateText(const QString &text)
{
    rateLabel->setText(text);
    rateLabel->setVisible(!text.isEmpty());
    placeTimeRow(width());
}
