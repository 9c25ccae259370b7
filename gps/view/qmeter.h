#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

class QPainter;
class QPropertyAnimation;

// An analogue gauge: dial, scale, optional coloured bands, needle, numeric read-out,
// units and label. Everything is drawn in a 100 x 100 logical square centred in the
// widget, so the gauge scales with its size.
class QMeter : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(double value MEMBER value WRITE setValue)
    Q_PROPERTY(double minValue MEMBER minValue WRITE setMinValue)
    Q_PROPERTY(double maxValue MEMBER maxValue WRITE setMaxValue)
    Q_PROPERTY(double threshold MEMBER threshold WRITE setThreshold)
    Q_PROPERTY(int precision MEMBER precision WRITE setPrecision)
    Q_PROPERTY(int precisionNumeric MEMBER precisionNumeric WRITE setPrecisionNumeric)
    Q_PROPERTY(QString units MEMBER units WRITE setUnits)
    Q_PROPERTY(QString label MEMBER label WRITE setLabel)
    Q_PROPERTY(int steps MEMBER steps WRITE setSteps)
    Q_PROPERTY(double startAngle MEMBER startAngle WRITE setStartAngle)
    Q_PROPERTY(double endAngle MEMBER endAngle WRITE setEndAngle)
    Q_PROPERTY(QColor foreground MEMBER foreground WRITE setForeground)
    Q_PROPERTY(QColor background MEMBER background WRITE setBackground)
    Q_PROPERTY(bool enableThreshold MEMBER enableThreshold WRITE setThresholdEnabled)
    Q_PROPERTY(double beginValidValue MEMBER beginValidValue WRITE setBeginValidValue)
    Q_PROPERTY(double endValidValue MEMBER endValidValue WRITE setEndValidValue)
    Q_PROPERTY(bool enableValidWindow MEMBER enableValidWindow WRITE setEnableValidWindow)
    Q_PROPERTY(double beginWarningValue MEMBER beginWarningValue WRITE setBeginWarningValue)
    Q_PROPERTY(double endWarningValue MEMBER endWarningValue WRITE setEndWarningValue)
    Q_PROPERTY(bool enableWarningWindow MEMBER enableWarningWindow WRITE setEnableWarningWindow)
    Q_PROPERTY(
        bool enableNumericIndicator MEMBER enableNumericIndicator WRITE setNumericIndicatorEnabled)

public:
    explicit QMeter(QWidget *parent = nullptr);
    ~QMeter() override;

    // True while the value is above the threshold.
    bool isAlarm() const { return alarm; }

signals:
    // 1: maximum not above the minimum; 3: threshold not strictly inside the range;
    // 8: value outside the range, clamped.
    void errorSignal(int code);
    void thresholdAlarm(bool on);

public slots:
    void setValue(double v);
    void setValue(int v);
    void setMinValue(double v);
    void setMinValue(int v);
    void setMaxValue(double v);
    void setMaxValue(int v);
    void setThreshold(double v);
    void setThreshold(int v);
    void setPrecision(int v);
    void setPrecisionNumeric(int v);
    void setSteps(int v);
    void setUnits(QString text);
    void setLabel(QString text);
    void setStartAngle(double degrees);
    void setEndAngle(double degrees);
    void setForeground(QColor colour);
    void setBackground(QColor colour);
    void setThresholdEnabled(bool on);
    void setNumericIndicatorEnabled(bool on);
    void setValueWithSpringEffect(int v);
    void setBeginValidValue(double v);
    void setEndValidValue(double v);
    void setEnableValidWindow(bool on);
    void setBeginWarningValue(double v);
    void setEndWarningValue(double v);
    void setEnableWarningWindow(bool on);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void drawWindowArc(QPainter &painter, double begin, double end, const QColor &colour);

    double value = 0;
    double maxValue = 100;
    double minValue = 0;
    int precision = 0;
    int precisionNumeric = 0; // kept for callers; the drawing does not use it
    QString units = QStringLiteral("Km/h");
    QString label = QStringLiteral("Speed");
    int steps = 10;
    double startAngle = 225; // degrees counter-clockwise from 3 o'clock
    double endAngle = -45;
    double threshold = 80;
    bool alarm = false;
    bool enableValidWindow = false;
    double beginValidValue = 40;
    double endValidValue = 50;
    bool enableWarningWindow = false;
    double beginWarningValue = 30;
    double endWarningValue = 60;
    bool enableThreshold = true;
    bool enableNumericIndicator = true;
    QColor foreground = Qt::yellow;
    QColor background = Qt::black;
    QPropertyAnimation *animation;
};
