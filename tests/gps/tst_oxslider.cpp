#include "oxslider.h"
#include "testhome.h"

#include <QSignalSpy>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <QtTest>

#include <memory>

namespace {

// Stands behind the slider and counts the wheel events that reach it.
class Backdrop : public QWidget
{
public:
    int wheels = 0;

protected:
    void wheelEvent(QWheelEvent *event) override
    {
        ++wheels;
        event->accept();
    }
};

} // namespace

// The seek slider with synthesized mouse and wheel events on a shown widget.
class tst_oxslider : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHome> home;
    std::unique_ptr<Backdrop> backdrop;
    OxSlider *slider = nullptr;

    static void send(QWidget *w, QEvent::Type type, QPoint pos, Qt::MouseButton button,
                     Qt::MouseButtons held)
    {
        QMouseEvent event(type, pos, w->mapToGlobal(pos), button, held, Qt::NoModifier);
        QApplication::sendEvent(w, &event);
    }
    QPoint handleCentre() const
    {
        QStyleOptionSlider option;
        option.initFrom(slider);
        option.orientation = slider->orientation();
        option.minimum = slider->minimum();
        option.maximum = slider->maximum();
        option.sliderPosition = slider->sliderPosition();
        option.sliderValue = slider->value();
        option.subControls = QStyle::SC_All;
        return slider->style()
            ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
            .center();
    }

private slots:
    void initTestCase()
    {
        home = std::make_unique<TestHome>();
        QCoreApplication::setApplicationName("tst_oxslider");
        backdrop = std::make_unique<Backdrop>();
        backdrop->resize(400, 30);
        slider = new OxSlider(backdrop.get());
        slider->setOrientation(Qt::Horizontal);
        slider->setGeometry(0, 0, 400, 30);
        backdrop->show();
        QVERIFY(QTest::qWaitForWindowExposed(backdrop.get()));
        QCOMPARE(slider->minimum(), 0);
        QCOMPARE(slider->maximum(), 99);
    }

    void cleanupTestCase() { backdrop.reset(); }

    // The right button is not one the toolkit handles on a slider, so a press it
    // leaves alone changes nothing and the rows below see the jump rule alone.
    void jumpRule_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("expected");

        QTest::newRow("far press jumps (left)") << 20 << 200 << int(Qt::LeftButton) << 49;
        QTest::newRow("far press jumps (right)") << 20 << 200 << int(Qt::RightButton) << 49;
        QTest::newRow("far press jumps (middle)") << 80 << 0 << int(Qt::MiddleButton) << 0;
        QTest::newRow("4 units is the toolkit's") << 45 << 200 << int(Qt::RightButton) << 45;
        QTest::newRow("10 units is not a jump") << 39 << 200 << int(Qt::RightButton) << 39;
        QTest::newRow("11 units is a jump") << 38 << 200 << int(Qt::RightButton) << 49;
        QTest::newRow("10 units below is not a jump") << 59 << 200 << int(Qt::RightButton) << 59;
        QTest::newRow("11 units below is a jump") << 60 << 200 << int(Qt::RightButton) << 49;
    }

    void jumpRule()
    {
        QFETCH(int, start);
        QFETCH(int, x);
        QFETCH(int, button);
        QFETCH(int, expected);

        slider->setValue(start);
        QSignalSpy pressed(slider, &OxSlider::sliderPressed);
        QSignalSpy released(slider, &OxSlider::sliderReleased);
        QSignalSpy changed(slider, &OxSlider::valueChanged);
        const auto b = Qt::MouseButton(button);
        send(slider, QEvent::MouseButtonPress, QPoint(x, 15), b, b);
        QCOMPARE(slider->value(), expected);
        QCOMPARE(changed.count(), expected != start ? 1 : 0);
        QCOMPARE(pressed.count(), 0);
        QVERIFY(!slider->isSliderDown());
        send(slider, QEvent::MouseButtonRelease, QPoint(x, 15), b, Qt::NoButton);
        QCOMPARE(released.count(), 1);
        QCOMPARE(slider->value(), expected);
    }

    void dragReportsOnceAndLetsGo()
    {
        slider->setValue(45);
        QSignalSpy pressed(slider, &OxSlider::sliderPressed);
        QSignalSpy moved(slider, &OxSlider::sliderMoved);
        QSignalSpy released(slider, &OxSlider::sliderReleased);
        const QPoint start = handleCentre();

        send(slider, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
        QCOMPARE(pressed.count(), 1);
        QVERIFY(slider->isSliderDown());
        send(slider, QEvent::MouseMove, start + QPoint(80, 0), Qt::NoButton, Qt::LeftButton);
        QVERIFY(moved.count() >= 1);
        QVERIFY(slider->value() > 45);
        send(slider, QEvent::MouseButtonRelease, start + QPoint(80, 0), Qt::LeftButton,
             Qt::NoButton);
        QCOMPARE(released.count(), 1);

        // The toolkit saw the release too: the handle is let go, so a value set by
        // playback afterwards is not reported as a user move.
        QVERIFY(!slider->isSliderDown());
        const int before = moved.count();
        slider->setValue(30);
        QCOMPARE(moved.count(), before);
    }

    void pressOnTheGrooveStopsPagingOnRelease()
    {
        // A press near the value but beside the handle pages toward it with auto
        // repeat; the release must end the repeat.
        slider->setValue(50);
        const QPoint handle = handleCentre();
        const int x = handle.x() + 14; // within 10 units, off the handle
        QVERIFY(std::abs(x * 99 / 400 - 50) <= 10);
        send(slider, QEvent::MouseButtonPress, QPoint(x, 15), Qt::LeftButton, Qt::LeftButton);
        QSignalSpy released(slider, &OxSlider::sliderReleased);
        send(slider, QEvent::MouseButtonRelease, QPoint(x, 15), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(released.count(), 1);
        const int after = slider->value();
        QSignalSpy changed(slider, &OxSlider::valueChanged);
        // Longer than the toolkit's repeat delay and a few repeats.
        QTest::qWait(800);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(slider->value(), after);
    }

    void wheelGoesToTheParent()
    {
        slider->setValue(40);
        const int before = backdrop->wheels;
        QWheelEvent wheel(QPointF(200, 15), QPointF(slider->mapToGlobal(QPoint(200, 15))), QPoint(),
                          QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        // As from the window system: only such wheel events travel up to parents
        // (sendEvent would clear the flag).
        QSpontaneKeyEvent::setSpontaneous(&wheel);
        qApp->notify(slider, &wheel);
        QCOMPARE(slider->value(), 40);
        QCOMPARE(backdrop->wheels, before + 1);
    }
};

QTEST_MAIN(tst_oxslider)
#include "tst_oxslider.moc"
