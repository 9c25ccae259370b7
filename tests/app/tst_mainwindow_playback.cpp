// The window's playback commands with the real engine, real recordings made at test
// time, and the GL view drawing in a real window (Xvfb).

#include "../player/soundserver.h"
#include "jtvideoview.h"
#include "language.h"
#include "mainwindow.h"
#include "oxffplayer.h"
#include "oxfileutils.h"
#include "oxvideoview.h"
#include "testhome.h"
#include "testrecordings.h"

#include <QAudioDeviceInfo>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <memory>
#include <thread>

namespace {

constexpr int kTimeout = 20000;

// The desktop's URL handler, replaced so that no file manager starts.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

// Progress reports as the window receives them, on the GUI thread.
struct Report
{
    int type;
    double current;
};

} // namespace

class tst_mainwindow_playback : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void beforeAnyRecording();
    void playsInTheWindow();
    void pauseAndResume();
    void spaceIgnoresAutoRepeat();
    void stopButton();
    void endOfPlaybackThenReplay();
    void badFiles_data();
    void badFiles();
    void truncatedRecordingEnds();
    void staleEndReportIgnored();
    void queuedCallSurvivesStop();
    void screenshot();
    void doubleClickTogglesFullScreen();
    void openDialog();
    void destroyWhilePlaying();

private:
    bool playing() const;
    bool stoppedState() const;
    QLabel *logo() const { return window->videoArea()->findChild<QLabel *>(); }
    // Waits until the view shows a picture of the clip (grey, not the black bars).
    bool pictureShown(int timeoutMs = kTimeout);

    std::unique_ptr<TestHome> home;
    QString clip, shortClip, garbage, empty, truncated, missing;
    std::unique_ptr<MainWindow> window;
    QVector<Report> reports;
    UrlCatcher urlCatcher;
};

void tst_mainwindow_playback::initTestCase()
{
    keepSoundServer();
    home = std::make_unique<TestHome>();
    QCoreApplication::setApplicationName(QStringLiteral("tst_mainwindow_playback"));
    setLanguageRoot(home->path() + QStringLiteral("/no-language-files"));
    loadLanguage(QStringLiteral("english"));

    const QString dir = home->path() + QStringLiteral("/clips");
    QVERIFY(QDir().mkpath(dir));
    RecordingSpec recipe;
    recipe.seconds = 3;
    clip = requireRecording(dir, QStringLiteral("clip"), recipe);
    recipe.seconds = 1;
    shortClip = requireRecording(dir, QStringLiteral("short"), recipe);
    garbage = makeGarbage(dir + QStringLiteral("/garbage.mp4"), 64 * 1024);
    empty = makeEmpty(dir + QStringLiteral("/empty.mp4"));
    truncated = makeTruncated(clip, dir + QStringLiteral("/truncated.mp4"));
    missing = dir + QStringLiteral("/missing.mp4");
    QVERIFY(!garbage.isEmpty() && !empty.isEmpty() && !truncated.isEmpty());

    QDesktopServices::setUrlHandler(QStringLiteral("file"), &urlCatcher, "open");
}

void tst_mainwindow_playback::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

void tst_mainwindow_playback::init()
{
    window = std::make_unique<MainWindow>();
    reports.clear();
    // Queued to this thread, as the window's own slot receives them.
    connect(window.get(), &MainWindow::_playerPlaying, this,
            [this](int type, double current, double) {
                reports.append({type, current});
            });
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void tst_mainwindow_playback::cleanup()
{
    window.reset();
}

bool tst_mainwindow_playback::playing() const
{
    return window->playButton()->text() == languageText(QStringLiteral("pause")) &&
           window->playButton()->isEnabled() && window->stopButton()->isEnabled() &&
           window->engine()->isPlaying();
}

bool tst_mainwindow_playback::stoppedState() const
{
    return window->playButton()->text() == languageText(QStringLiteral("play")) &&
           window->playButton()->isEnabled() && !window->stopButton()->isEnabled() &&
           !window->engine()->isOpened();
}

bool tst_mainwindow_playback::pictureShown(int timeoutMs)
{
    OxVideoView *view = window->videoArea()->videoView;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        const QImage image = view->grabFramebuffer();
        const QRgb centre = image.pixel(image.width() / 2, image.height() / 2);
        if (qRed(centre) > 10 && qAbs(qRed(centre) - qGreen(centre)) < 8)
            return true;
        QTest::qWait(20);
    }
    return false;
}

void tst_mainwindow_playback::beforeAnyRecording()
{
    QVERIFY(!window->playButton()->isEnabled());
    QTest::keyClick(window.get(), Qt::Key_Space);
    QVERIFY(!window->engine()->isOpened());
    QVERIFY(!window->playButton()->isEnabled());

    // Stop with nothing opened keeps the none-loaded state.
    window->stopButton()->click();
    QVERIFY(!window->playButton()->isEnabled());
    QCOMPARE(window->playButton()->text(), languageText(QStringLiteral("play")));
    QVERIFY(logo()->isVisible());

    // Screenshot with nothing opened: no file, no folder shown.
    urlCatcher.urls.clear();
    window->screenshotButton()->click();
    QVERIFY(urlCatcher.urls.isEmpty());
    QVERIFY(QDir(OxFileUtils().captureDir()).entryList(QDir::Files).isEmpty());
}

// The picture of the clip shows in the video area, inside black bars (a 4:3 clip in the
// wider area), and the window's own grab sees it.
void tst_mainwindow_playback::playsInTheWindow()
{
    window->openVideo(clip);
    QVERIFY(playing());
    QVERIFY(!logo()->isVisible());
    QCOMPARE(window->currentVideoPath(), clip);
    QVERIFY(pictureShown());

    const QRect area = window->videoArea()->geometry();
    QCOMPARE(area, QRect(0, 0, 980, 480));
    const QImage shot = window->grab().toImage();
    const QRgb centre = shot.pixel(area.center());
    QVERIFY(qRed(centre) > 10);
    QVERIFY(qAbs(qRed(centre) - qGreen(centre)) < 8 && qAbs(qBlue(centre) - qGreen(centre)) < 8);
    const int luma = qRound(qGreen(centre) / 1.164);
    QVERIFY2(qAbs(frameLuma(frameNumberFromLuma(luma)) - luma) <= 5,
             qPrintable(QString::number(luma)));
    // 320x240 in 980x480: picture 640 wide, bars of 170 on either side.
    QCOMPARE(shot.pixel(20, 240), qRgb(0, 0, 0));
    QCOMPARE(shot.pixel(960, 240), qRgb(0, 0, 0));

    QTRY_VERIFY_WITH_TIMEOUT(!reports.isEmpty(), kTimeout);
    QCOMPARE(reports.first().type, int(OxFFPlayer::ReportPicture));

    // With a sound device the sound plays along (its clock follows the picture's);
    // without one the clip plays silently at the picture rate.
    const bool device = !QAudioDeviceInfo::defaultOutputDevice().isNull();
    QCOMPARE(window->engine()->hasAudioOutput(), device);
    if (device)
        QTRY_VERIFY_WITH_TIMEOUT(window->engine()->audioClock() > 0.5, kTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(window->engine()->videoTime() > 0.5, kTimeout);
}

void tst_mainwindow_playback::pauseAndResume()
{
    window->openVideo(clip);
    QVERIFY(playing());

    window->playButton()->click();
    QCOMPARE(window->playButton()->text(), languageText(QStringLiteral("play")));
    QVERIFY(window->playButton()->isEnabled() && window->stopButton()->isEnabled());
    QVERIFY(window->engine()->isOpened() && !window->engine()->isPlaying());

    QTest::keyClick(window.get(), Qt::Key_Space);
    QVERIFY(playing());

    // Space on a focused button goes to the window's key handling and does not press
    // the button: here the stop button would otherwise stop playback.
    window->stopButton()->setFocus();
    QTest::keyClick(window->stopButton(), Qt::Key_Space);
    QVERIFY(window->engine()->isOpened() && !window->engine()->isPlaying());
    QTest::keyClick(window->stopButton(), Qt::Key_Space);
    QVERIFY(playing());

    window->retranslateUi();
    QCOMPARE(window->playButton()->text(), languageText(QStringLiteral("pause")));
}

void tst_mainwindow_playback::spaceIgnoresAutoRepeat()
{
    window->openVideo(clip);
    QVERIFY(playing());
    QKeyEvent repeated(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QString(), true);
    QCoreApplication::sendEvent(window.get(), &repeated);
    QVERIFY(playing());
}

void tst_mainwindow_playback::stopButton()
{
    window->openVideo(clip);
    QVERIFY(pictureShown());
    window->stopButton()->click();
    QVERIFY(stoppedState());
    QVERIFY(logo()->isVisible());
    QVERIFY(!window->engine()->anyThreadRunning());
    // The picture was dropped.
    QVERIFY(!window->videoArea()->videoView->screenshot(home->path() + QStringLiteral("/x.jpg")));

    // Play opens the same recording again.
    window->playButton()->click();
    QVERIFY(playing());
    QVERIFY(pictureShown());
}

void tst_mainwindow_playback::endOfPlaybackThenReplay()
{
    window->openVideo(shortClip);
    QVERIFY(playing());
    QTRY_VERIFY_WITH_TIMEOUT(stoppedState(), kTimeout);
    QVERIFY(logo()->isVisible());
    QVERIFY(!window->engine()->anyThreadRunning());
    QCOMPARE(reports.last().type, int(OxFFPlayer::ReportEnd));

    // Play starts the recording again from its beginning.
    reports.clear();
    window->playButton()->click();
    QVERIFY(playing());
    QTRY_VERIFY_WITH_TIMEOUT(!reports.isEmpty(), kTimeout);
    QCOMPARE(reports.first().type, int(OxFFPlayer::ReportPicture));
    QVERIFY(reports.first().current < 0.1);
    QTRY_VERIFY_WITH_TIMEOUT(stoppedState(), kTimeout);
}

void tst_mainwindow_playback::badFiles_data()
{
    QTest::addColumn<QString>("which");
    QTest::newRow("garbage") << "garbage";
    QTest::newRow("empty") << "empty";
    QTest::newRow("missing") << "missing";
}

void tst_mainwindow_playback::badFiles()
{
    QFETCH(QString, which);
    const QString path = which == QLatin1String("garbage") ? garbage
                         : which == QLatin1String("empty") ? empty
                                                           : missing;
    // A recording plays first: nothing of it may stay on screen when the bad file fails.
    window->openVideo(clip);
    QVERIFY(pictureShown());
    window->openVideo(path);
    QVERIFY(stoppedState());
    QVERIFY(!window->engine()->anyThreadRunning());
    QVERIFY(logo()->isVisible());
    QVERIFY(!window->videoArea()->videoView->screenshot(home->path() + QStringLiteral("/old.jpg")));
    // Play tries the same path again, with the same result.
    window->playButton()->click();
    QVERIFY(stoppedState());
    // A good recording still plays afterwards.
    window->openVideo(clip);
    QVERIFY(playing());
}

void tst_mainwindow_playback::truncatedRecordingEnds()
{
    window->openVideo(truncated);
    if (!window->engine()->isOpened()) {
        QVERIFY(stoppedState()); // cut before anything playable
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(stoppedState(), kTimeout);
    QVERIFY(!reports.isEmpty());
    const int end = reports.last().type;
    QVERIFY(end == OxFFPlayer::ReportEnd || end == OxFFPlayer::ReportError);
}

// An end report of the playback being replaced must not stop the next one, whether it
// still waits in the event queue or the sound back end's nested event loop delivers it
// while the engine stops (with a sound device this once stopped the engine re-entrantly).
void tst_mainwindow_playback::staleEndReportIgnored()
{
    window->openVideo(clip);
    QVERIFY(playing());
    MainWindow *raw = window.get();
    const quint64 stale = raw->playbackId();
    std::thread engineLike(
        [raw, stale] { emit raw->_playerPlaying(OxFFPlayer::ReportEnd, 3.0, 3.0, stale); });
    engineLike.join();
    window->openVideo(clip);
    QCoreApplication::processEvents();
    QTest::qWait(50);
    QVERIFY(playing());
}

// Stopping ignores the stopped playback's reports by their id, not by dropping every
// call queued to the window: the playlist's results and other signals must still arrive.
// (With a sound device, stopping the output runs a nested event loop that may deliver the
// call early; the run without a sound device sees it wait in the queue.)
void tst_mainwindow_playback::queuedCallSurvivesStop()
{
    window->openVideo(clip);
    QVERIFY(playing());
    bool arrived = false;
    QMetaObject::invokeMethod(
        window.get(), [&arrived] { arrived = true; }, Qt::QueuedConnection);
    window->stopButton()->click();
    QTRY_VERIFY(arrived);
}

void tst_mainwindow_playback::screenshot()
{
    const QDir capture(OxFileUtils().captureDir());
    const QStringList before = capture.entryList(QDir::Files);
    urlCatcher.urls.clear();

    window->openVideo(clip);
    QVERIFY(pictureShown());
    window->screenshotButton()->click();

    QStringList added = capture.entryList(QDir::Files);
    for (const QString &name : before)
        added.removeAll(name);
    QCOMPARE(added.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{14}_\\d{3}\\.jpg$"))
                 .match(added.first())
                 .hasMatch(),
             qPrintable(added.first()));
    const QImage saved(capture.filePath(added.first()));
    QCOMPARE(saved.size(), QSize(320, 240)); // the picture's own size, not the view's

    QCOMPARE(urlCatcher.urls.size(), 1);
    const QUrl url = urlCatcher.urls.first();
    QVERIFY(url.isLocalFile());
    QCOMPARE(QDir(url.toLocalFile()).canonicalPath(), capture.canonicalPath());
    QVERIFY(url.toString().startsWith(QLatin1String("file:///")));
    QVERIFY(!url.toString().startsWith(QLatin1String("file:////")));

    // Paused still has the picture; stopped has none.
    window->playButton()->click();
    window->screenshotButton()->click();
    QCOMPARE(urlCatcher.urls.size(), 2);
    window->stopButton()->click();
    window->screenshotButton()->click();
    QCOMPARE(urlCatcher.urls.size(), 2);
}

void tst_mainwindow_playback::doubleClickTogglesFullScreen()
{
    QWindow *handle = window->windowHandle();
    const QPoint inside = window->videoArea()->mapTo(window.get(), QPoint(100, 100));
    QTest::mouseClick(handle, Qt::LeftButton, Qt::NoModifier, inside);
    QTest::mouseClick(handle, Qt::LeftButton, Qt::NoModifier, inside);
    QTRY_VERIFY_WITH_TIMEOUT(window->isFullScreen(), kTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(window->videoArea()->geometry(), window->rect(), kTimeout);

    QTest::mouseClick(handle, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QTest::mouseClick(handle, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QTRY_VERIFY_WITH_TIMEOUT(!window->isFullScreen(), kTimeout);
}

// The open dialog starts on the desktop, lists recordings only, and of several chosen
// files plays the first; cancelling changes nothing.
void tst_mainwindow_playback::openDialog()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QVERIFY(QDir().mkpath(desktop));
    QVERIFY(QFile::copy(shortClip, desktop + QStringLiteral("/a.mp4")));
    QVERIFY(QFile::copy(clip, desktop + QStringLiteral("/b.mp4")));

    QString shownDirectory;
    QStringList filters;
    int fileMode = -1;
    QTimer::singleShot(0, this, [&] {
        QTRY_VERIFY(qobject_cast<QFileDialog *>(QApplication::activeModalWidget()));
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        shownDirectory = dialog->directory().absolutePath();
        filters = dialog->nameFilters();
        fileMode = dialog->fileMode();
        dialog->selectFile(QStringLiteral("\"a.mp4\" \"b.mp4\""));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    window->openButton()->click();
    QCOMPARE(QDir(shownDirectory).canonicalPath(), QDir(desktop).canonicalPath());
    QCOMPARE(filters, QStringList{QStringLiteral("*.mp4 *.mov *.avi *.MP4 *.MOV *.AVI")});
    QCOMPARE(fileMode, int(QFileDialog::ExistingFiles));
    QCOMPARE(QFileInfo(window->currentVideoPath()).fileName(), QStringLiteral("a.mp4"));
    QVERIFY(playing());

    QTimer::singleShot(0, this, [&] {
        QTRY_VERIFY(qobject_cast<QFileDialog *>(QApplication::activeModalWidget()));
        QApplication::activeModalWidget()->close();
    });
    window->openButton()->click();
    QCOMPARE(QFileInfo(window->currentVideoPath()).fileName(), QStringLiteral("a.mp4"));
    QVERIFY(playing());
}

void tst_mainwindow_playback::destroyWhilePlaying()
{
    window->openVideo(clip);
    QVERIFY(pictureShown());
    window->playButton()->click(); // paused: the decode thread still runs
    window->playButton()->click();
    window.reset(); // stops the engine before its view goes
    QVERIFY(!window);
}

QTEST_MAIN(tst_mainwindow_playback)
#include "tst_mainwindow_playback.moc"
