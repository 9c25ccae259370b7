// The trip display of the main window: the track read when a recording opens, the
// once-per-second updates of the panel and the map, resets on stop and end, and seeking
// from the panel's slider. Real recordings, the real engine, real map pages.

#include "gpsbox.h"
#include "language.h"
#include "mainwindow.h"
#include "oxffplayer.h"
#include "oxmapwidget.h"
#include "oxslider.h"
#include "streamreader.h"
#include "testhome.h"
#include "testrecordings.h"
#include "videoinfoview.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

#include <memory>

namespace {

constexpr int kTimeout = 20000;

QVariant evalIn(QWebEngineView *view, const QString &script)
{
    if (!view)
        return {};
    auto result = std::make_shared<QVariant>();
    auto done = std::make_shared<bool>(false);
    view->page()->runJavaScript(script, [result, done](const QVariant &v) {
        *result = v;
        *done = true;
    });
    if (!QTest::qWaitFor([&] { return *done; }, kTimeout))
        return {};
    return *result;
}

} // namespace

class tst_mainwindow_trip : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHome> home;
    QString clips;
    QString subtitleClip; // 6 s, one RMC cue per second
    QString boxClip;      // 6 s, the fixes in a "gps " box
    QString plainClip;    // no GPS at all

    QLabel *timeLabel(MainWindow &w) { return w.tripPanel()->findChild<QLabel *>("timeLabel"); }
    double readOut(MainWindow &w, const char *name)
    {
        return w.tripPanel()->findChild<QLCDNumber *>(name)->value();
    }
    // The page is built once the window has been painted.
    QWebEngineView *mapPage(MainWindow &w)
    {
        QWebEngineView *page = nullptr;
        if (!QTest::qWaitFor(
                [&] {
                    return (page = w.map()->findChild<QWebEngineView *>("googleView")) != nullptr;
                },
                kTimeout))
            qWarning("no map page");
        return page;
    }
    QVariantMap pageState(MainWindow &w)
    {
        return evalIn(mapPage(w), "typeof __state === 'function' ? __state() : null").toMap();
    }
    // Opens a recording and pauses it at once: the map page may take seconds to load
    // on a busy machine, longer than the clip plays, and the end of playback clears it.
    void openPaused(MainWindow &w, const QString &path)
    {
        w.openVideo(path);
        QVERIFY(w.engine()->isPlaying());
        w.playButton()->click();
        QVERIFY(!w.engine()->isPlaying());
    }
    // Waits until the page has taken every queued call and holds n points.
    bool waitForPoints(MainWindow &w, int n)
    {
        const bool ok = QTest::qWaitFor(
            [&] { return pageState(w).value("points").toList().size() == n; }, kTimeout);
        if (!ok)
            qWarning() << "map page state:" << pageState(w);
        return ok;
    }

private slots:
    void initTestCase()
    {
        home = std::make_unique<TestHome>();
        QCoreApplication::setApplicationName("tst_mainwindow_trip");
        setLanguageRoot(QStringLiteral(DASHCAM_RUNTIME_DIR "/language"));
        loadLanguage("english");
        OxMapWidget::setPageRoot(QStringLiteral(DASHCAM_RUNTIME_DIR));
        clips = home->path() + "/clips";
        QDir().mkpath(clips);

        RecordingSpec recipe = smallRecipe(6, 160, 120);
        for (int s = 0; s < 6; ++s)
            recipe.subtitles.append({double(s), s + 1.0, QString::fromLatin1(rmcSentence(s))});
        subtitleClip = requireRecording(clips, "subtitles", recipe);

        recipe.subtitles.clear();
        plainClip = requireRecording(clips, "plain", recipe);
        boxClip = requireRecording(clips, "box", recipe);
        GpsBoxSpec box;
        for (int s = 0; s < 6; ++s)
            box.blocks.append(rmcSentence(s) + "\r\n");
        QVERIFY(addGpsBox(boxClip, box));
    }

    // Starting the web engine would hold up the first pictures of a recording opened
    // with the window: the page is made once the recording has played a second.
    void mapPageWaitsForTheFirstSecond()
    {
        MainWindow w;
        w.show();
        w.openVideo(plainClip);
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QElapsedTimer timer;
        timer.start();
        while (w.engine()->videoTime() < 0.9 && timer.elapsed() < kTimeout) {
            QVERIFY(!w.map()->findChild<QWebEngineView *>());
            QTest::qWait(5);
        }
        QTRY_VERIFY_WITH_TIMEOUT(w.map()->findChild<QWebEngineView *>("googleView"), kTimeout);
        QVERIFY(w.engine()->isPlaying());
    }

    // The route and the trip figures are there when playback starts, whichever of the
    // two places of the recording holds the track.
    void trackShownOnOpen_data()
    {
        QTest::addColumn<QString>("which");
        QTest::newRow("subtitle stream") << "subtitles";
        QTest::newRow("gps box") << "box";
    }
    void trackShownOnOpen()
    {
        QFETCH(QString, which);
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.openVideo(which == "box" ? boxClip : subtitleClip);
        QVERIFY(w.engine()->isOpened());
        QVERIFY(readOut(w, "maxSpeedValue") > 0);
        w.playButton()->click(); // pause, so the end of the clip does not clear the map
        QVERIFY(readOut(w, "distanceValue") > 0);
        QVERIFY(waitForPoints(w, 6));
        QCOMPARE(pageState(w).value("line").toInt(), 6);
    }

    void noTrackLeavesPanelAndMapEmpty()
    {
        MainWindow w;
        w.show();
        openPaused(w, subtitleClip);
        QVERIFY(waitForPoints(w, 6));
        w.openVideo(plainClip); // the previous route goes
        QVERIFY(w.engine()->isOpened());
        QCOMPARE(readOut(w, "maxSpeedValue"), 0.0);
        QVERIFY(waitForPoints(w, 0));
        // The time label still follows playback.
        QTRY_VERIFY_WITH_TIMEOUT(timeLabel(w)->text() != "00:00", kTimeout);
    }

    void oncePerSecond()
    {
        MainWindow w;
        w.show();
        openPaused(w, subtitleClip);
        QVERIFY(waitForPoints(w, 6));
        w._onClickStopButton(false); // reports below come from the test alone
        OxTrack hundred;
        for (int i = 0; i < 100; ++i) {
            OxLocation fix;
            fix.valid = true;
            fix.latitude = 31.2 + i * 0.0001;
            fix.longitude = 121.4;
            fix.minute = i / 60;
            fix.second = i % 60;
            hundred.append(fix);
        }
        w.map()->showTrack(hundred);
        QVERIFY(waitForPoints(w, 100));

        w._onPlayerPlaying(3, 12.1, 50);
        QCOMPARE(timeLabel(w)->text(), QString("00:12"));
        QTRY_COMPARE_WITH_TIMEOUT(pageState(w).value("marker").toInt(), 24, kTimeout);
        w._onPlayerPlaying(3, 12.9, 50); // same whole second: nothing moves
        QCOMPARE(timeLabel(w)->text(), QString("00:12"));
        QTest::qWait(300);
        QCOMPARE(pageState(w).value("marker").toInt(), 24);
        w._onPlayerPlaying(3, 13.0, 50);
        QCOMPARE(timeLabel(w)->text(), QString("00:13"));
        QTRY_COMPARE_WITH_TIMEOUT(pageState(w).value("marker").toInt(), 26, kTimeout);
        w._onPlayerPlaying(3, 5.4, 50); // backward seek: at once
        QCOMPARE(timeLabel(w)->text(), QString("00:05"));
        QTRY_COMPARE_WITH_TIMEOUT(pageState(w).value("marker").toInt(), 10, kTimeout);
    }

    void stopAndEndReset()
    {
        MainWindow w;
        w.show();
        openPaused(w, subtitleClip);
        QVERIFY(waitForPoints(w, 6));
        w.playButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(timeLabel(w)->text() != "00:00", kTimeout);
        w.stopButton()->click();
        QCOMPARE(readOut(w, "maxSpeedValue"), 0.0);
        QCOMPARE(readOut(w, "speedValue"), 0.0);
        QCOMPARE(timeLabel(w)->text(), QString("00:00"));
        QVERIFY(waitForPoints(w, 0));

        // Played to its end: the panel and the map are reset too.
        openPaused(w, subtitleClip);
        QVERIFY(waitForPoints(w, 6));
        w.playButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w.stopButton()->isEnabled(), 30000);
        QCOMPARE(readOut(w, "maxSpeedValue"), 0.0);
        QCOMPARE(timeLabel(w)->text(), QString("00:00"));
        QVERIFY(waitForPoints(w, 0));
    }

    void sliderReleaseWhilePausedResumes()
    {
        MainWindow w;
        w.show();
        w.openVideo(subtitleClip);
        w.playButton()->click();
        QVERIFY(!w.engine()->isPlaying());
        QCOMPARE(w.playButton()->text(), languageText("play"));

        emit w.tripPanel()->videoTimeChanged(3.0);
        QVERIFY(w.engine()->isPlaying());
        QCOMPARE(w.playButton()->text(), languageText("pause"));
        // The first picture after the seek is at or after the key frame before 3 s.
        QTRY_VERIFY_WITH_TIMEOUT(timeLabel(w)->text() >= QString("00:02"), kTimeout);

        // Nothing to seek in before a recording is open.
        w.stopButton()->click();
        emit w.tripPanel()->videoTimeChanged(1.0);
        QVERIFY(!w.engine()->isOpened());
    }

    // A click on the route, in the web page as a user makes it, seeks to the moment the
    // car was there; paused playback stays paused. The page's coordinates are corrected
    // for the map's datum (the route lies in China), the seek's are the track's.
    void clickOnTheRouteSeeks()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        openPaused(w, subtitleClip);
        QVERIFY(waitForPoints(w, 6));
        QWebEngineView *page = mapPage(w);
        const QVariantList at =
            evalIn(page, "(function(){var p=routeMap.latLngToContainerPoint(L.latLng("
                         "__state().points[4][0],__state().points[4][1]));return [p.x,p.y];})()")
                .toList();
        QCOMPARE(at.size(), 2);
        QWidget *input = page->focusProxy();
        QVERIFY(input);
        const QPoint where(qRound(at[0].toDouble()), qRound(at[1].toDouble()));
        QTest::mouseClick(input, Qt::LeftButton, {}, where);
        QTRY_VERIFY_WITH_TIMEOUT(w.engine()->videoTime() >= 3.0, kTimeout);
        QVERIFY(w.engine()->videoTime() < 5.0);
        QVERIFY(!w.engine()->isPlaying());
    }

    // The keys of playback act while a button has the focus (it would move the focus with
    // the arrows): jumps keep a paused recording paused and show the picture there, a
    // picture step pauses, the rate
    // keys step through the rates.
    void playbackKeys()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        openPaused(w, subtitleClip);
        QApplication::setActiveWindow(&w);
        w.stopButton()->setFocus();
        QVERIFY(w.stopButton()->hasFocus());
        // The picture on screen at t: a picture's own time (25 a second) within one
        // interval before t, not the time a seek was asked for.
        const auto showsPictureAt = [&](double t) {
            const double at = w.engine()->videoTime();
            return qAbs(at * 25 - qRound(at * 25)) < 1e-6 && at <= t + 1e-6 && at > t - 0.04;
        };
        QTest::keyClick(w.stopButton(), Qt::Key_Right);
        QTRY_VERIFY_WITH_TIMEOUT(showsPictureAt(5.0), kTimeout);
        QVERIFY(w.stopButton()->hasFocus());
        QTest::keyClick(w.stopButton(), Qt::Key_Left);
        QTRY_VERIFY_WITH_TIMEOUT(showsPictureAt(0.0), kTimeout);
        // Past the end: the picture of the last moment, not its key picture at 5 s.
        QTest::keyClick(w.stopButton(), Qt::Key_Right, Qt::ShiftModifier);
        QTRY_VERIFY_WITH_TIMEOUT(showsPictureAt(w.engine()->duration() - 0.1), kTimeout);
        QVERIFY(!w.engine()->isPlaying());

        // A picture forward and back, paused; from playing, a step pauses.
        const double at = w.engine()->videoTime();
        QTest::keyClick(w.stopButton(), Qt::Key_Period);
        QTRY_COMPARE_WITH_TIMEOUT(qRound((w.engine()->videoTime() - at) * 25), 1, kTimeout);
        QTest::keyClick(w.stopButton(), Qt::Key_Comma);
        QTRY_COMPARE_WITH_TIMEOUT(w.engine()->videoTime(), at, kTimeout);
        w.playButton()->click();
        QVERIFY(w.engine()->isPlaying());
        QTest::keyClick(w.stopButton(), Qt::Key_Period);
        QVERIFY(!w.engine()->isPlaying());
        QCOMPARE(w.playButton()->text(), languageText("play"));

        QTest::keyClick(w.stopButton(), Qt::Key_BracketRight);
        QCOMPARE(w.engine()->rate(), 2.0);
        QCOMPARE(w.noticeText(), languageText("playback_rate") + QString::fromUtf8(": 2×"));
        auto *rate = w.tripPanel()->findChild<QLabel *>("rateLabel");
        QVERIFY(rate->isVisible());
        QCOMPARE(rate->text(), QString::fromUtf8("2×"));
        QTest::keyClick(w.stopButton(), Qt::Key_BracketLeft);
        QCOMPARE(w.engine()->rate(), 1.0);
        QVERIFY(!rate->isVisible());
    }

    // A notice shows over a picture that plays (the picture view is a window of its own,
    // which a plain child would be drawn under): the screen where it stands changes.
    void noticeShowsOverThePicture()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        openPaused(w, plainClip);
        QTest::qWait(500);
        auto *notice = w.findChild<QLabel *>("notice");
        const auto screenAtNotice = [&] {
            const QPoint at = notice->mapToGlobal(QPoint(0, 0));
            return QGuiApplication::primaryScreen()
                ->grabWindow(0, at.x(), at.y(), notice->width(), notice->height())
                .toImage();
        };
        const QImage before = screenAtNotice();
        w.showNotice("The notice over the picture");
        QTest::qWait(300);
        QVERIFY(screenAtNotice() != before);
    }

    // I and O mark the span while paused, E asks where to and exports it in the
    // background; the window tells where the folder went.
    void exportMarkedSpan()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        openPaused(w, subtitleClip);
        QTRY_VERIFY_WITH_TIMEOUT(w.engine()->videoTime() >= 0, kTimeout);
        w.engine()->requestSeek(1.0);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(w.engine()->videoTime() - 1.0) < 0.05, kTimeout);
        QTest::keyClick(&w, Qt::Key_I);
        w.engine()->requestSeek(3.0);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(w.engine()->videoTime() - 3.0) < 0.05, kTimeout);
        QTest::keyClick(&w, Qt::Key_O);
        QCOMPARE(w.noticeText(), QString("Span 0:01 to 0:03 (0:02)"));
        const auto span = w.tripPanel()->findChild<OxSlider *>()->span();
        QVERIFY(qAbs(span.first * w.engine()->duration() - 1.0) < 0.01);
        QVERIFY(qAbs(span.second * w.engine()->duration() - 3.0) < 0.01);

        const QString target = home->path() + "/exports/new";
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->findChild<QLineEdit *>()->setText(target);
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        });
        QTest::keyClick(&w, Qt::Key_E);
        QTRY_VERIFY_WITH_TIMEOUT(w.noticeText().startsWith("Exported to "), 60000);
        const QString folder = w.noticeText().mid(12);
        QCOMPARE(QFileInfo(folder).dir().path(), target);
        for (const char *name : {"clip.mp4", "originals/subtitles.mp4", "track.gpx", "SHA256SUMS"})
            QVERIFY2(QFileInfo::exists(folder + "/" + name), name);
        StreamReader reader;
        QVERIFY(reader.open(QFile::encodeName(folder + "/clip.mp4").constData()) >= 0);
        QVERIFY(qAbs(reader.duration() - 2.0) < 0.05);
    }
};

QTEST_MAIN(tst_mainwindow_trip)
#include "tst_mainwindow_trip.moc"
