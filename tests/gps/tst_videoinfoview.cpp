#include "language.h"
#include "oxconfigure.h"
#include "oxslider.h"
#include "qmeter.h"
#include "testhome.h"
#include "videoinfoview.h"

#include <QLCDNumber>
#include <QLabel>
#include <QSignalSpy>
#include <QStyleOptionSlider>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(OxTrack)

namespace {

OxLocation fix(bool valid, double lat, double lng, double speed)
{
    OxLocation l;
    l.valid = valid;
    l.latitude = lat;
    l.longitude = lng;
    l.speed = speed;
    return l;
}

void setSpeedUnit(int unit)
{
    OxConfigure().setIntValue("Speed", unit);
}

} // namespace

// The information panel with its real gauge, read-outs, labels and slider.
class tst_videoinfoview : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHome> home;

    static double lcd(const VideoInfoView &view, const char *name)
    {
        auto *number = view.findChild<QLCDNumber *>(name);
        Q_ASSERT(number);
        return number->value();
    }
    static QString text(const VideoInfoView &view, const char *name)
    {
        return view.findChild<QLabel *>(name)->text();
    }
    static OxSlider *slider(const VideoInfoView &view)
    {
        return view.findChild<OxSlider *>("slider");
    }
    static double gauge(const VideoInfoView &view)
    {
        return view.findChild<QMeter *>("meter")->property("value").toDouble();
    }

    static void mouse(QWidget *w, QEvent::Type type, QPoint pos, Qt::MouseButtons held)
    {
        QMouseEvent event(type, pos, w->mapToGlobal(pos), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(w, &event);
    }
    static QPoint handleCentre(OxSlider *s)
    {
        QStyleOptionSlider option;
        option.initFrom(s);
        option.orientation = s->orientation();
        option.minimum = s->minimum();
        option.maximum = s->maximum();
        option.sliderPosition = s->sliderPosition();
        option.sliderValue = s->value();
        option.subControls = QStyle::SC_All;
        return s->style()
            ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, s)
            .center();
    }

private slots:
    void initTestCase()
    {
        home = std::make_unique<TestHome>();
        QCoreApplication::setApplicationName("tst_videoinfoview");
        setLanguageRoot(DASHCAM_SOURCE_DIR "/language");
        loadLanguage("english");
    }

    void init() { setSpeedUnit(0); }

    void statistics_data()
    {
        QTest::addColumn<OxTrack>("track");
        QTest::addColumn<int>("unit");
        QTest::addColumn<double>("maximum");
        QTest::addColumn<double>("average");
        QTest::addColumn<double>("distance");

        const OxTrack degree = {fix(true, 0, 0, 30), fix(true, 0, 1, 50)};
        QTest::newRow("no track") << OxTrack() << 0 << 0.0 << 0.0 << 0.0;
        QTest::newRow("one fix") << OxTrack{fix(true, 31, 121, 57)} << 0 << 57.0 << 57.0 << 0.0;
        QTest::newRow("one degree at the equator") << degree << 0 << 50.0 << 40.0 << 111.2018;
        QTest::newRow("one degree in miles")
            << degree << 1 << 50 * 0.6213712 << 40 * 0.6213712 << 69.0976;
        // Void fixes count for the speeds but break the distance on both sides.
        QTest::newRow("void fix breaks the chain")
            << OxTrack{fix(true, 0, 0, 10), fix(false, 0, 0.5, 100), fix(true, 0, 1, 10)} << 0
            << 100.0 << 40.0 << 0.0;
        QTest::newRow("chain resumes after a void fix")
            << OxTrack{fix(true, 0, 0, 0), fix(true, 0, 1, 0), fix(false, 0, 1.5, 0),
                       fix(true, 0, 2, 0), fix(true, 0, 3, 0)}
            << 0 << 0.0 << 0.0 << 2 * 111.2018;
        QTest::newRow("antipodes stay finite") << OxTrack{fix(true, 0, 0, 0), fix(true, 0, 180, 0)}
                                               << 0 << 0.0 << 0.0 << 12742.786 * M_PI / 2;
    }

    void statistics()
    {
        QFETCH(OxTrack, track);
        QFETCH(int, unit);
        QFETCH(double, maximum);
        QFETCH(double, average);
        QFETCH(double, distance);

        setSpeedUnit(unit);
        VideoInfoView view;
        view.setTrack(track);
        QVERIFY(qAbs(lcd(view, "maxSpeedValue") - maximum) < 1e-4);
        QVERIFY(qAbs(lcd(view, "averageSpeedValue") - average) < 1e-4);
        QVERIFY2(qAbs(lcd(view, "distanceValue") - distance) < 1e-3,
                 qPrintable(QString::number(lcd(view, "distanceValue"), 'f', 6)));
        QCOMPARE(text(view, "distanceTitle"), unit == 1 ? "Distance (mile)" : "Distance (Km)");
    }

    void fixChosenByProportion_data()
    {
        QTest::addColumn<double>("current");
        QTest::addColumn<double>("duration");
        QTest::addColumn<int>("expected");

        QTest::newRow("start") << 0.0 << 100.0 << 0;
        QTest::newRow("49.9 s shows fix 49") << 49.9 << 100.0 << 49;
        QTest::newRow("the end shows the last fix") << 100.0 << 100.0 << 99;
        QTest::newRow("past the end shows the last fix") << 130.0 << 100.0 << 99;
        QTest::newRow("zero length shows the first fix") << 5.0 << 0.0 << 0;
        QTest::newRow("proportion, not time stamps") << 25.0 << 50.0 << 50;
    }

    void fixChosenByProportion()
    {
        QFETCH(double, current);
        QFETCH(double, duration);
        QFETCH(int, expected);

        OxTrack track;
        for (int i = 0; i < 100; ++i)
            track.append(fix(true, 10 + i * 0.01, 100 + i * 0.01, i));
        VideoInfoView view;
        view.setTrack(track);
        view.updatePosition(current, duration);
        QVERIFY(qAbs(lcd(view, "latitudeValue") - (10 + expected * 0.01)) < 1e-9);
        QVERIFY(qAbs(lcd(view, "longitudeValue") - (100 + expected * 0.01)) < 1e-9);
        QCOMPARE(lcd(view, "speedValue"), double(expected));
        QCOMPARE(gauge(view), double(expected));
    }

    void voidFixAndFastSpeed()
    {
        VideoInfoView view;
        view.setTrack({fix(true, 31.5, 121.5, 300), fix(false, 31.6, 121.6, 40)});
        QSignalSpy errors(view.findChild<QMeter *>("meter"), &QMeter::errorSignal);

        view.updatePosition(0, 2);
        QCOMPARE(lcd(view, "speedValue"), 300.0); // the true value
        QCOMPARE(gauge(view), 240.0);             // the gauge is pinned at its maximum
        QCOMPARE(errors.count(), 1);

        view.updatePosition(1, 2); // void fix: zeros, gauge keeps its value
        QCOMPARE(lcd(view, "latitudeValue"), 0.0);
        QCOMPARE(view.findChild<QLCDNumber *>("latitudeValue")->intValue(), 0);
        QCOMPARE(lcd(view, "speedValue"), 0.0);
        QCOMPARE(gauge(view), 240.0);
    }

    void timeLabelsAndSlider()
    {
        VideoInfoView view;
        view.updatePosition(30, 60);
        QCOMPARE(text(view, "timeLabel"), "00:30");
        QCOMPARE(text(view, "lengthLabel"), "01:00");
        QCOMPARE(slider(view)->value(), 49);

        // Ignored: negative or non-finite times.
        view.updatePosition(-1, 60);
        view.updatePosition(10, -1);
        view.updatePosition(qQNaN(), 60);
        view.updatePosition(10, qInf());
        QCOMPARE(text(view, "timeLabel"), "00:30");
        QCOMPARE(slider(view)->value(), 49);

        view.updatePosition(3, 0);
        QCOMPARE(slider(view)->value(), 0);
        QCOMPARE(text(view, "lengthLabel"), "00:00");
    }

    void formatTime_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");

        QTest::newRow("zero") << 0.0 << "00:00";
        QTest::newRow("59.4 rounds down") << 59.4 << "00:59";
        QTest::newRow("59.5 rounds up") << 59.5 << "01:00";
        QTest::newRow("3599.6 becomes an hour") << 3599.6 << "01:00:00";
        QTest::newRow("hours, minutes, seconds") << 3723.0 << "01:02:03";
        QTest::newRow("ten hours") << 36000.0 << "10:00:00";
    }

    void formatTime()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(VideoInfoView::formatTime(seconds), text);
    }

    void draggingMovesOnlyTheTimeLabel()
    {
        VideoInfoView view;
        view.resize(1000, 200);
        view.show();
        view.setTrack({fix(true, 1, 2, 30), fix(true, 3, 4, 60)});
        view.updatePosition(10, 100);
        QSignalSpy seeks(&view, &VideoInfoView::videoTimeChanged);
        OxSlider *s = slider(view);
        const QPoint start = handleCentre(s);

        mouse(s, QEvent::MouseButtonPress, start, Qt::LeftButton);
        QVERIFY(s->isSliderDown());
        mouse(s, QEvent::MouseMove, start + QPoint(150, 0), Qt::LeftButton);
        mouse(s, QEvent::MouseMove, start + QPoint(300, 0), Qt::LeftButton);
        const int position = s->sliderPosition();
        QVERIFY(position > 40);
        QCOMPARE(text(view, "timeLabel"), VideoInfoView::formatTime(position * 100.0 / 99));
        QCOMPARE(text(view, "lengthLabel"), "01:40");
        QCOMPARE(lcd(view, "latitudeValue"), 1.0); // read-outs stay where playback is
        QCOMPARE(seeks.count(), 0);

        // Playback goes on during the drag without moving the handle.
        view.updatePosition(11, 100);
        QCOMPARE(s->sliderPosition(), position);

        mouse(s, QEvent::MouseButtonRelease, start + QPoint(300, 0), Qt::NoButton);
        QCOMPARE(seeks.count(), 1);
        QVERIFY(qAbs(seeks.at(0).at(0).toDouble() - position * 100.0 / 99) < 1e-9);
        QVERIFY(!s->isSliderDown());

        // Released: playback moves the slider again.
        view.updatePosition(20, 100);
        QCOMPARE(s->value(), 19);
        QCOMPARE(text(view, "timeLabel"), "00:20");
    }

    // A far click jumps; a progress update that arrives while the button is still down
    // must not move the slider back, or the release seeks to where playback already was.
    void clickSeeksThere_data()
    {
        QTest::addColumn<double>("duration");
        QTest::addColumn<double>("playing");
        QTest::addColumn<double>("fraction");
        QTest::addColumn<double>("progressWhileHeld"); // negative: none
        QTest::newRow("middle") << 99.0 << 0.0 << 0.5 << -1.0;
        QTest::newRow("far, progress while held") << 60.0 << 10.2 << 0.8 << 11.0;
        QTest::newRow("back, progress while held") << 60.0 << 50.0 << 0.1 << 51.0;
        QTest::newRow("far, two progress updates") << 600.0 << 0.0 << 0.6 << 1.0;
    }
    void clickSeeksThere()
    {
        QFETCH(double, duration);
        QFETCH(double, playing);
        QFETCH(double, fraction);
        QFETCH(double, progressWhileHeld);
        VideoInfoView view;
        view.resize(1000, 200); // slider 700 pixels wide
        view.show();
        view.updatePosition(playing, duration);
        QSignalSpy seeks(&view, &VideoInfoView::videoTimeChanged);
        OxSlider *s = slider(view);
        const QPoint at(int(s->width() * fraction), s->height() / 2);
        mouse(s, QEvent::MouseButtonPress, at, Qt::LeftButton);
        const int clicked = s->value();
        if (progressWhileHeld >= 0) {
            view.updatePosition(progressWhileHeld, duration);
            view.updatePosition(progressWhileHeld + 1, duration);
            QCOMPARE(s->value(), clicked);
        }
        mouse(s, QEvent::MouseButtonRelease, at, Qt::NoButton);
        QCOMPARE(s->value(), clicked);
        QCOMPARE(seeks.count(), 1);
        // Where the user clicked, to within one step of the slider.
        const double target = seeks.at(0).at(0).toDouble();
        QVERIFY2(qAbs(target - fraction * duration) <= duration / s->maximum(),
                 qPrintable(QString::number(target)));

        // Released: playback moves the slider again.
        view.updatePosition(0, duration);
        QCOMPARE(s->value(), 0);
    }

    void resetShowsZeros()
    {
        VideoInfoView view;
        view.setTrack({fix(true, 1, 2, 90), fix(true, 1.1, 2.1, 100)});
        view.updatePosition(50, 100);
        QVERIFY(gauge(view) > 0);
        view.reset();
        for (const char *name : {"latitudeValue", "longitudeValue", "speedValue", "maxSpeedValue",
                                 "averageSpeedValue", "distanceValue"})
            QCOMPARE(lcd(view, name), 0.0);
        QCOMPARE(view.findChild<QLCDNumber *>("latitudeValue")->property("value").toDouble(), 0.0);
        QCOMPARE(text(view, "timeLabel"), "00:00");
        QCOMPARE(text(view, "lengthLabel"), "00:00");
        QCOMPARE(slider(view)->value(), 0);
        QCOMPARE(gauge(view), 0.0);
        // The track is gone: a position update moves only time and slider.
        view.updatePosition(50, 100);
        QCOMPARE(lcd(view, "speedValue"), 0.0);
        QCOMPARE(slider(view)->value(), 49);
    }

    void switchingToMiles()
    {
        VideoInfoView view;
        view.setTrack({fix(true, 0, 0, 100), fix(true, 0, 1, 100)});
        view.updatePosition(0, 10);
        QCOMPARE(lcd(view, "speedValue"), 100.0);
        QCOMPARE(view.findChild<QMeter *>("meter")->property("units").toString(), "Km/h");

        setSpeedUnit(1);
        view.updateSpeedUnit();
        // Trip figures at once, the current speed at the next position update.
        QVERIFY(qAbs(lcd(view, "maxSpeedValue") - 62.13712) < 1e-4);
        QVERIFY(qAbs(lcd(view, "distanceValue") - 69.0976) < 1e-3);
        QCOMPARE(lcd(view, "speedValue"), 100.0);
        QCOMPARE(view.findChild<QMeter *>("meter")->property("units").toString(), "mph");
        QCOMPARE(text(view, "distanceTitle"), "Distance (mile)");
        view.updatePosition(1, 10);
        QVERIFY(qAbs(lcd(view, "speedValue") - 62.13712) < 1e-4);
        QVERIFY(qAbs(gauge(view) - 62.13712) < 1e-4);
    }

    void retranslateAndLayout()
    {
        VideoInfoView view;
        QCOMPARE(text(view, "speedTitle"), "Speed");
        loadLanguage("french");
        view.retranslate();
        QCOMPARE(text(view, "speedTitle"), languageText("current_speed"));
        QVERIFY(text(view, "speedTitle") != "Speed");
        QVERIFY(text(view, "distanceTitle").startsWith(languageText("total_distance")));
        loadLanguage("english");

        view.resize(1000, 200); // c = 260
        view.show();
        QCOMPARE(view.findChild<QMeter *>("meter")->geometry(), QRect(5, 5, 190, 190));
        QCOMPARE(view.findChild<QLCDNumber *>("distanceValue")->geometry(),
                 QRect(740, 30, 260, 50));
        QCOMPARE(view.findChild<QLabel *>("maxSpeedTitle")->geometry(), QRect(470, 80, 260, 30));
        QCOMPARE(slider(view)->geometry(), QRect(250, 170, 700, 30));
        QCOMPARE(view.findChild<QLabel *>("lengthLabel")->geometry(), QRect(950, 170, 50, 30));
    }
};

QTEST_MAIN(tst_videoinfoview)
#include "tst_videoinfoview.moc"
