#include "qmeter.h"
#include "testhome.h"

#include <QImage>
#include <QPropertyAnimation>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <memory>

// Gauge behaviour: value clamping, the threshold alarm, rejected settings, the
// spring animation, and the drawing checked in pixels.
class tst_qmeter : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHome> home;

    static QImage render(QMeter &meter, QSize size)
    {
        meter.resize(size);
        QImage image(size, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        // No window background: only what paintEvent draws lands in the image.
        meter.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }

    static bool isNeedleRed(QRgb c)
    {
        return qAlpha(c) > 200 && qRed(c) > 150 && qGreen(c) < 140 && qBlue(c) < 140;
    }

    // Pixel at logical radius r in the direction of arc angle `degrees` (counter-
    // clockwise from 3 o'clock) of a gauge drawn in the square at `origin`.
    static QPoint along(QPoint origin, int side, double degrees, double r)
    {
        const double k = side / 100.0;
        const double a = degrees * M_PI / 180;
        return origin + QPoint(int(std::lround(side / 2.0 + r * std::cos(a) * k)),
                               int(std::lround(side / 2.0 - r * std::sin(a) * k)));
    }

    static int countPixels(const QImage &image, QRect area, bool (*match)(QRgb))
    {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                n += match(image.pixel(x, y)) ? 1 : 0;
        return n;
    }

private slots:
    void initTestCase()
    {
        home = std::make_unique<TestHome>();
        QCoreApplication::setApplicationName("tst_qmeter");
    }

    void clampsAndReportsOutOfRange()
    {
        QMeter meter;
        meter.setMaxValue(240);
        QSignalSpy errors(&meter, &QMeter::errorSignal);
        QSignalSpy alarms(&meter, &QMeter::thresholdAlarm);

        meter.setValue(250.0);
        QCOMPARE(meter.property("value").toDouble(), 240.0);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toInt(), 8);
        QCOMPARE(alarms.count(), 1);
        QCOMPARE(alarms.at(0).at(0).toBool(), true);

        meter.setValue(-3);
        QCOMPARE(meter.property("value").toDouble(), 0.0);
        QCOMPARE(errors.count(), 2);
        QCOMPARE(alarms.count(), 2);
        QCOMPARE(alarms.at(1).at(0).toBool(), false);

        // In range: no error; the property system writes through the same slot.
        QVERIFY(meter.setProperty("value", 120.5));
        QCOMPARE(meter.property("value").toDouble(), 120.5);
        QCOMPARE(errors.count(), 2);

        // NaN passes both bound tests; it must not become the value.
        meter.setValue(std::nan(""));
        QCOMPARE(meter.property("value").toDouble(), 120.5);
    }

    void thresholdEdges_data()
    {
        QTest::addColumn<double>("before");
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("alarmAfter");
        QTest::addColumn<int>("emitted");

        QTest::newRow("equal keeps it off") << 0.0 << 80.0 << false << 0;
        QTest::newRow("equal keeps it on") << 90.0 << 80.0 << true << 0;
        QTest::newRow("80.1 raises it") << 0.0 << 80.1 << true << 1;
        QTest::newRow("79.9 clears it") << 90.0 << 79.9 << false << 1;
        QTest::newRow("above again stays quiet") << 90.0 << 100.0 << true << 0;
    }

    void thresholdEdges()
    {
        QFETCH(double, before);
        QFETCH(double, value);
        QFETCH(bool, alarmAfter);
        QFETCH(int, emitted);

        QMeter meter;
        meter.setValue(before);
        QSignalSpy alarms(&meter, &QMeter::thresholdAlarm);
        meter.setValue(value);
        QCOMPARE(meter.isAlarm(), alarmAfter);
        QCOMPARE(alarms.count(), emitted);
        if (emitted)
            QCOMPARE(alarms.at(0).at(0).toBool(), alarmAfter);

        // With the threshold test off nothing is raised or cleared.
        QMeter quiet;
        quiet.setThresholdEnabled(false);
        QSignalSpy none(&quiet, &QMeter::thresholdAlarm);
        quiet.setValue(95.0);
        QCOMPARE(none.count(), 0);
        QVERIFY(!quiet.isAlarm());
    }

    void rejectsBadRange()
    {
        QMeter meter;
        meter.setMaxValue(240);
        QSignalSpy errors(&meter, &QMeter::errorSignal);

        meter.setMaxValue(0);
        QCOMPARE(meter.property("maxValue").toDouble(), 240.0);
        meter.setThreshold(240);
        meter.setThreshold(0.0);
        QCOMPARE(meter.property("threshold").toDouble(), 80.0);
        QCOMPARE(errors.count(), 3);
        QCOMPARE(errors.at(0).at(0).toInt(), 1);
        QCOMPARE(errors.at(1).at(0).toInt(), 3);
        QCOMPARE(errors.at(2).at(0).toInt(), 3);

        meter.setThreshold(239.5);
        QCOMPARE(meter.property("threshold").toDouble(), 239.5);
        meter.setMinValue(-20);
        meter.setMaxValue(-10); // above the new minimum: accepted
        QCOMPARE(meter.property("maxValue").toDouble(), -10.0);
        QCOMPARE(errors.count(), 3);
    }

    void springOvershootsAndSettles()
    {
        QMeter meter;
        meter.setMaxValue(240);
        // Just above the target: only the overshoot crosses it.
        meter.setThreshold(103.0);
        QSignalSpy alarms(&meter, &QMeter::thresholdAlarm);
        meter.setValueWithSpringEffect(100);
        QTRY_COMPARE_WITH_TIMEOUT(alarms.count(), 2, 5000);
        QCOMPARE(alarms.at(0).at(0).toBool(), true);
        QCOMPARE(alarms.at(1).at(0).toBool(), false);
        QTRY_COMPARE_WITH_TIMEOUT(meter.property("value").toDouble(), 100.0, 5000);

        // A new target while running takes over without restarting the clock.
        auto *animation = meter.findChild<QPropertyAnimation *>();
        QVERIFY(animation);
        meter.setValueWithSpringEffect(0);
        QTRY_VERIFY_WITH_TIMEOUT(animation->currentTime() > 300, 5000);
        meter.setValueWithSpringEffect(50);
        QCOMPARE(animation->state(), QAbstractAnimation::Running);
        QVERIFY(animation->currentTime() > 300);
        QTRY_COMPARE_WITH_TIMEOUT(animation->state(), QAbstractAnimation::Stopped, 5000);
        QCOMPARE(meter.property("value").toDouble(), 50.0);
    }

    void needleDirection_data()
    {
        QTest::addColumn<double>("maximum");
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("angle");

        QTest::newRow("0 points lower left") << 100.0 << 0.0 << 225.0;
        QTest::newRow("middle points up") << 100.0 << 50.0 << 90.0;
        QTest::newRow("maximum points lower right") << 100.0 << 100.0 << -45.0;
        QTest::newRow("120 of 240 points up") << 240.0 << 120.0 << 90.0;
        QTest::newRow("above 240 is pinned lower right") << 240.0 << 300.0 << -45.0;
    }

    void needleDirection()
    {
        QFETCH(double, maximum);
        QFETCH(double, value);
        QFETCH(double, angle);

        QMeter meter;
        meter.setMaxValue(maximum);
        meter.setValue(value);
        const QImage image = render(meter, QSize(200, 200));
        for (double probe : {225.0, 90.0, -45.0}) {
            const QPoint p = along(QPoint(0, 0), 200, probe, 13);
            const bool red = isNeedleRed(image.pixel(p));
            QVERIFY2(red == (probe == angle),
                     qPrintable(QString("angle %1: needle %2 expected there")
                                    .arg(probe)
                                    .arg(probe == angle ? "" : "not")));
        }
    }

    void readOutColourFollowsAlarm()
    {
        QMeter meter;
        const QRect readOut(70, 150, 60, 20); // (-15, 25, 30, 10) in a 200-pixel square
        auto green = [](QRgb c) { return qGreen(c) > 150 && qRed(c) < 100 && qBlue(c) < 100; };
        auto red = [](QRgb c) { return qRed(c) > 150 && qGreen(c) < 100 && qBlue(c) < 100; };

        meter.setValue(90.0);
        QImage image = render(meter, QSize(200, 200));
        QVERIFY(countPixels(image, readOut, red) > 5);
        QCOMPARE(countPixels(image, readOut, green), 0);

        meter.setValue(70.0);
        image = render(meter, QSize(200, 200));
        QVERIFY(countPixels(image, readOut, green) > 5);
        QCOMPARE(countPixels(image, readOut, red), 0);
    }

    void drawsInTheCentredSquare()
    {
        QMeter meter;
        const QImage image = render(meter, QSize(300, 100));
        int left = 300, right = -1, top = 100, bottom = -1;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 300; ++x)
                if (qAlpha(image.pixel(x, y)) > 0) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        // The dial and its ring fill about 94 of the square's 100 pixels.
        QVERIFY2(left >= 97 && right <= 203, qPrintable(QString("x %1..%2").arg(left).arg(right)));
        QVERIFY(right - left >= 90);
        QVERIFY(std::abs((left + right) / 2 - 150) <= 2);
        QVERIFY(bottom - top >= 90);
        // The needle at 0 lies lower left of the square's centre, not of the widget's.
        QVERIFY(isNeedleRed(image.pixel(along(QPoint(100, 0), 100, 225, 14))));
    }

    void emptyScaleDrawsWithoutTrouble()
    {
        // An inverted range (the minimum is unchecked) and no scale intervals must
        // still draw a dial rather than loop or divide by zero.
        QMeter meter;
        meter.setMinValue(500);
        meter.setSteps(0);
        const QImage image = render(meter, QSize(120, 120));
        QVERIFY(qAlpha(image.pixel(60, 60)) > 0);
    }
};

QTEST_MAIN(tst_qmeter)
#include "tst_qmeter.moc"
