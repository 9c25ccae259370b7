#include "mainwindow.h"

#include "configkeys.h"
#include "driveheader.h"
#include "exportcontroller.h"
#include "factscache.h"
#include "gpsextract.h"
#include "jtvideoview.h"
#include "language.h"
#include "localfiles.h"
#include "oxconfigure.h"
#include "oxffplayer.h"
#include "oxfileutils.h"
#include "oxlistwidget.h"
#include "oxmapwidget.h"
#include "oxplaylistdrives.h"
#include "oxsettingdialog.h"
#include "oxvideoinfo.h"
#include "oxvideolistwidget.h"
#include "oxvideoview.h"
#include "pairedchannel.h"
#include "routeseek.h"
#include "timelinestrip.h"
#include "videoinfoview.h"

#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <tuple>

namespace {

// Longest time background work waits for a recording that starts to play.
constexpr int kBackgroundHoldMs = 3000;

// Jumps of the arrow keys, and with Shift, in seconds.
constexpr double kShortJump = 5;
constexpr double kLongJump = 60;

// A playback rate as the window shows it: "1/4x", "2x".
QString rateText(double rate)
{
    if (rate < 1)
        return QStringLiteral("1/%1\u00d7").arg(qRound(1 / rate));
    return QStringLiteral("%1\u00d7").arg(rate);
}

// How long a notice stays.
constexpr int kNoticeMs = 12000;
constexpr int kNoticeHeight = 48;
// The timeline strip's height below the picture.
constexpr int kStripHeight = 56;

void place(QWidget *widget, int x, int y, int w, int h)
{
    if (widget)
        widget->setGeometry(x, y, w, h);
}

// Runs on the engine's video thread: only hands the report over to the window's thread,
// tagged with the playback it belongs to.
void playerCallback(void *owner, int type, double current, double duration)
{
    if (!owner)
        return;
    auto *window = static_cast<MainWindow *>(owner);
    emit window->_playerPlaying(type, current, duration, window->playbackId());
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    videoView = new JtVideoView(this);
    infoView = new VideoInfoView(this);
    mapWidget = new OxMapWidget(this);
    videoListWidget = new OxVideoListWidget(this);

    _openButton = new QPushButton(this);
    _playButton = new QPushButton(this);
    _stopButton = new QPushButton(this);
    _screenshotButton = new QPushButton(this);
    _fullscreenButton = new QPushButton(this);
    _exitButton = new QPushButton(this);
    _settingsButton = new QPushButton(this);
    noticeLabel = new QLabel(this);
    noticeLabel->setObjectName(QStringLiteral("notice"));
    noticeLabel->setWordWrap(true);
    // A window of its own, as the picture view has: a plain child would be drawn under the
    // picture's window and never be seen while a recording plays.
    noticeLabel->setAttribute(Qt::WA_NativeWindow);
    noticeLabel->setStyleSheet(
        QStringLiteral("background:rgba(0,0,0,190);color:#ffffff;padding:4px 8px;"));
    noticeLabel->hide();
    noticeTimer = new QTimer(this);
    noticeTimer->setSingleShot(true);
    noticeTimer->setInterval(kNoticeMs);
    connect(noticeTimer, &QTimer::timeout, noticeLabel, &QLabel::hide);

    retranslateUi();
    connect(_openButton, &QPushButton::clicked, this, &MainWindow::_onClickOpenButton);
    connect(_playButton, &QPushButton::clicked, this, &MainWindow::_onClickPlayButton);
    connect(_stopButton, &QPushButton::clicked, this, &MainWindow::_onClickStopButton);
    connect(_screenshotButton, &QPushButton::clicked, this, &MainWindow::_onClickScreenshotButton);
    connect(_fullscreenButton, &QPushButton::clicked, this, &MainWindow::_onClickFullscreenButton);
    connect(_exitButton, &QPushButton::clicked, this, &MainWindow::_onClickExitButton);
    connect(_settingsButton, &QPushButton::clicked, this, &MainWindow::_onClickSettingsButton);
    _playButton->setEnabled(false);
    connect(videoView, &JtVideoView::onDoubleClicked, this, &MainWindow::_onDoubleClickVideoView);
    {
        const OxConfigure configure;
        mapWidget->setMapType(configure.intValue(ConfigKey::Map, ConfigDefault::Map));
        mapWidget->setGPSCorrection(
            configure.intValue(ConfigKey::GPSCorrection, ConfigDefault::Correction));
    }

    // Key events of the whole application reach this window's key handling (see
    // eventFilter), without grabbing the desktop's keyboard.
    qApp->installEventFilter(this);
    // Drops anywhere in the window, the web views of the map included, reach dropEvent
    // (see eventFilter).
    setAcceptDrops(true);

    setMinimumSize(1280, 720);
    resize(minimumSize());

    player = new OxFFPlayer();
    player->setVideoView(videoView->videoView);
    player->setCallback(this, playerCallback);
    paired = new PairedChannel(videoView, player, this);
    connect(this, &MainWindow::_playerPlaying, this, &MainWindow::_onPlayerReport);
    connect(infoView, &VideoInfoView::videoTimeChanged, this, &MainWindow::_onVideoTimeChanged);
    connect(videoListWidget, &OxVideoListWidget::onDoubleClickVideoInfo, this,
            &MainWindow::_onDoubleClickVideoInfo);
    connect(videoListWidget, &OxVideoListWidget::onSaveFailed, this, [this](const QString &folder) {
        showNotice(languageText(QStringLiteral("notice_playlist_not_saved"))
                       .arg(QDir::toNativeSeparators(folder)));
    });

    setUpDrives();
    setUpExport();

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(this);
    // The engine's threads draw into the picture view, a child that dies after this.
    if (player) {
        engineBusy = true;
        // The second channel follows the engine: it goes first, while the views and its
        // button it hides are still there.
        delete paired;
        paired = nullptr;
        player->stop();
        delete player;
        player = nullptr;
    }
}

void MainWindow::updateLayout(int w, int h)
{
    const QList<QWidget *> panes = {infoView, mapWidget, videoListWidget};
    const QList<QPushButton *> buttons = {_openButton,       _playButton,       _stopButton,
                                          _screenshotButton, _fullscreenButton, _exitButton};
    if (isFullScreen()) {
        place(videoView, 0, 0, w, h);
        for (QWidget *pane : panes)
            place(pane, 0, 0, 0, 0);
        for (QPushButton *button : buttons)
            place(button, 0, 0, 0, 0);
        place(_settingsButton, 0, 0, 0, 0);
        videoView->showFooter(false);
        placeNotice();
        return;
    }

    const int c = w - 300;
    videoView->showFooter(stripWanted);
    place(videoView, 0, 0, c, h - 240);
    place(infoView, 0, h - 240, c, 200);
    place(mapWidget, c, 0, 300, (h - 40) / 2);
    place(videoListWidget, c, (h - 40) / 2, 300, (h - 40) / 2);
    const int b = (w - 325) / 6;
    for (int k = 0; k < buttons.size(); ++k)
        place(buttons.at(k), static_cast<int>(k * (b + 5.0)), h - 40, b, 40);
    place(_settingsButton, c, h - 40, 300, 40);
    placeNotice();
}

// Over the bottom of the picture, clear of the strip below it and of the trip panel.
void MainWindow::placeNotice()
{
    const QRect area = videoView->geometry();
    place(noticeLabel, area.x(), area.bottom() + 1 - videoView->footerSpace() - kNoticeHeight,
          area.width(), kNoticeHeight);
}

void MainWindow::showNotice(const QString &text)
{
    qDebug("notice: %s", qUtf8Printable(text));
    placeNotice();
    noticeLabel->setText(text);
    noticeLabel->show();
    noticeLabel->raise();
    noticeTimer->start();
}

QString MainWindow::noticeText() const
{
    return noticeLabel->isVisible() ? noticeLabel->text() : QString();
}

void MainWindow::showPlayingState()
{
    _playButton->setText(languageText(QStringLiteral("pause")));
    _playButton->setEnabled(true);
    _stopButton->setEnabled(true);
}

void MainWindow::showPausedState()
{
    _playButton->setText(languageText(QStringLiteral("play")));
    _playButton->setEnabled(true);
    _stopButton->setEnabled(true);
}

void MainWindow::showStoppedState()
{
    _playButton->setText(languageText(QStringLiteral("play")));
    _playButton->setEnabled(true);
    _stopButton->setEnabled(false);
}

void MainWindow::retranslateUi()
{
    if (videoListWidget)
        videoListWidget->retranslate();
    if (infoView)
        infoView->retranslate();
    if (paired)
        paired->retranslate();
    _openButton->setText(languageText(QStringLiteral("open_file")));
    _playButton->setText(languageText(player && player->isPlaying() ? QStringLiteral("pause")
                                                                    : QStringLiteral("play")));
    _stopButton->setText(languageText(QStringLiteral("stop")));
    _screenshotButton->setText(languageText(QStringLiteral("screenshot")));
    _fullscreenButton->setText(languageText(QStringLiteral("fullscreen")));
    _exitButton->setText(languageText(QStringLiteral("exit")));
    _settingsButton->setText(languageText(QStringLiteral("settings")));
    if (strip)
        strip->setSpeedUnit(configuredDistanceUnit()); // reads the unit's text again
}

void MainWindow::openVideo(const QString &path)
{
    if (engineBusy)
        return;
    if (player)
        stopEngine();
    currentPath = path;
    openedDrive = Drive();
    openedTrack = DriveTrack();
    if (recordingPathKind(path) == RecordingPath::NotAFile) {
        // Refused before anything reads it: a FIFO or a device would hold up the window,
        // a URL would reach the network.
        resetTripDisplay();
        videoView->showLogo();
        holdBackgroundWork(false);
        showStoppedState();
        showNotice(languageText(QStringLiteral("notice_not_a_file")).arg(path));
        return;
    }

    // The track is read before the first picture, so the route is on the map when
    // playback starts.
    resetTripDisplay();
    const OxTrack track = loadTrack(path);
    if (!track.isEmpty()) {
        infoView->setTrack(track);
        mapWidget->showTrack(track);
    }
    lastSecond = -1;

    videoView->hideLogo();
    int result = -1;
    if (player) {
        const QScopedValueRollback<bool> busy(engineBusy, true);
        result = player->open(QFile::encodeName(path).constData());
    }
    if (result >= 0) {
        showPlayingState();
        updateStrip();
        paired->followClip(path);
        // A map page not made yet, and the playlist's thumbnails and facts, wait until the
        // recording has played for a second, is paused or stops: the web engine starting
        // or another recording being decoded would hold up the first pictures and sound.
        holdBackgroundWork(true);
    } else {
        // Nothing of the previous recording may stay on screen, or it would look as if
        // the new file had loaded.
        videoView->showLogo();
        holdBackgroundWork(false); // nothing plays that the web engine could hold up
        showStoppedState();
    }
}

// Stops the engine and starts a new playback id: reports of the playback just stopped
// that are still queued for this window are recognised by their old id and ignored
// (a late end-of-file report would otherwise stop the next playback). Other queued
// calls to the window are left alone.
void MainWindow::stopEngine()
{
    const QScopedValueRollback<bool> busy(engineBusy, true);
    paired->stop();
    player->stop();
    ++currentPlayback;
}

void MainWindow::holdBackgroundWork(bool hold)
{
    mapWidget->holdPages(hold);
    videoListWidget->holdProbingWhilePlaying(hold);
    // A recording that never reports a picture (sound alone, or a decoder that fails
    // after the open) holds nothing for long.
    if (hold) {
        QTimer::singleShot(kBackgroundHoldMs, this, [this, playback = currentPlayback.load()] {
            if (playback == currentPlayback)
                holdBackgroundWork(false);
        });
    }
}

// The stop sequence: engine stopped, logo shown, panel and map back to their empty state.
void MainWindow::stopPlayback()
{
    stopEngine();
    holdBackgroundWork(false);
    videoView->showLogo();
    resetTripDisplay();
}

void MainWindow::resetTripDisplay()
{
    infoView->reset();
    mapWidget->clearMap();
    strip->clear();
    stripPath.clear();
    stripWanted = false;
    videoView->showFooter(false);
}

void MainWindow::togglePause()
{
    if (player->isPlaying()) {
        player->pause();
        holdBackgroundWork(false);
        showPausedState();
    } else {
        player->resume();
        showPlayingState();
    }
}

void MainWindow::_onClickOpenButton(bool)
{
    static bool firstTime = true;
    auto *dialog = new QFileDialog(this, QString(), QString(), QString());
    dialog->resize(240, 320);
    dialog->setFilter(QDir::Files);
    dialog->setNameFilter(QStringLiteral("*.mp4 *.mov *.avi *.MP4 *.MOV *.AVI"));
    dialog->setViewMode(QFileDialog::List);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    if (firstTime) {
        firstTime = false;
        dialog->setDirectory(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    }
    if (dialog->exec() == QDialog::Accepted) {
        const QStringList files = dialog->selectedFiles();
        if (!files.isEmpty()) {
            // Every recording of the chosen file's folder joins the playlist.
            const QString path = files.first();
            const int slash =
                std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
            videoListWidget->addVideoDir(slash < 0 ? path : path.left(slash), true);
            videoListWidget->selectVideo(path);
            openVideo(path);
        }
    } else {
        dialog->close();
    }
    delete dialog;
}

void MainWindow::_onClickPlayButton(bool)
{
    if (!player || engineBusy)
        return;
    if (!player->isOpened())
        reopen();
    else
        togglePause();
}

void MainWindow::_onClickStopButton(bool)
{
    if (!player || engineBusy)
        return;
    stopPlayback();
    if (!currentPath.isEmpty()) {
        showStoppedState();
    } else {
        _playButton->setText(languageText(QStringLiteral("play")));
        _playButton->setEnabled(false);
    }
}

void MainWindow::_onClickScreenshotButton(bool)
{
    if (!videoView->videoView || !player || engineBusy || !player->isOpened())
        return;
    const QString name =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss_zzz"));
    const QString path = QStringLiteral("%1/%2.jpg").arg(OxFileUtils().captureDir(), name);
    if (paired->screenshot(path))
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
    else
        showNotice(languageText(QStringLiteral("notice_screenshot_not_saved"))
                       .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath())));
}

void MainWindow::_onPlayerReport(int type, double current, double duration, quint64 playback)
{
    if (playback != currentPlayback.load())
        return;
    _onPlayerPlaying(type, current, duration);
}

void MainWindow::_onPlayerPlaying(int type, double current, double duration)
{
    // A report delivered by a nested event loop while the engine stops or opens belongs
    // to the playback being replaced.
    if (engineBusy)
        return;
    if (type == OxFFPlayer::ReportPicture) {
        // The panel and the map move once per whole second of playback position, not
        // once per picture.
        const int second = static_cast<int>(current);
        if (second != lastSecond) {
            if (lastSecond >= 0)
                holdBackgroundWork(false);
            lastSecond = second;
            if (!openedDrive.isEmpty()) {
                showDriveProgress(current);
            } else {
                infoView->updatePosition(current, duration);
                mapWidget->updateProgress(current, duration);
            }
        }
        if (stripWanted)
            strip->setPosition(current);
        return;
    }
    if (type != OxFFPlayer::ReportEnd && type != OxFFPlayer::ReportError)
        return;
    stopPlayback();
    showStoppedState();
    lastSecond = -1;
    if (type == OxFFPlayer::ReportError)
        showNotice(languageText(QStringLiteral("notice_read_failed")).arg(currentPath));
    // A recording played to its end: the next playlist entry plays, so a drive recorded
    // as one-minute clips plays through. The list does not wrap around, and a read
    // error does not move on.
    if (type != OxFFPlayer::ReportEnd)
        return;
    // After a drive, the row after the drive's last clip.
    const QString ended = openedDrive.isEmpty() ? currentPath : openedDrive.clips.last().facts.path;
    OxVideoInfo *next = nullptr;
    if (videoListWidget->nextVideoInfo(ended, &next) && next->filesExist()) {
        const QString path = next->videos.first().path;
        videoListWidget->selectVideo(path);
        openVideo(path);
    }
}

void MainWindow::_onVideoTimeChanged(double time)
{
    if (!player || engineBusy || !player->isOpened())
        return;
    player->requestSeek(time);
    if (!player->isPlaying()) {
        player->resume();
        showPlayingState();
    }
}

void MainWindow::_onDoubleClickVideoView(int, double, double)
{
    qDebug("_onDoubleClickVideoView");
    toggleFullScreen();
}

void MainWindow::_onDoubleClickVideoInfo(OxVideoInfo &videoInfo)
{
    if (!videoInfo.videos.isEmpty())
        openVideo(videoInfo.videos.first().path);
}

void MainWindow::_onClickSettingsButton(bool)
{
    // Changes take effect while the dialog is open, through the delegate operations.
    OxSettingDialog dialog;
    dialog.setDelegate(this);
    dialog.exec();
}

void MainWindow::onMapChanged(int map)
{
    mapWidget->setMapType(map);
    reopen();
}

void MainWindow::onLanguageChanged(const QString &language)
{
    loadLanguage(language);
    retranslateUi();
}

void MainWindow::onSpeedUnitChanged(int)
{
    infoView->updateSpeedUnit(); // the panel reads the unit from the configuration
    videoListWidget->drives()->relabel();
    strip->setSpeedUnit(configuredDistanceUnit());
}

void MainWindow::onGPSCorrectionChanged(int correction)
{
    mapWidget->setGPSCorrection(correction);
    reopen();
}

void MainWindow::onSettingsNotSaved(const QString &file)
{
    showNotice(languageText(QStringLiteral("notice_settings_not_saved"))
                   .arg(QDir::toNativeSeparators(file)));
}

void MainWindow::openPaths(const QStringList &paths)
{
    QString first;     // the first recording given, or the first of the first folder
    QString firstFile; // the first file given, recording or not
    // The rows' thumbnails and facts wait for the recording that is about to play: made
    // at once, the first of them would be decoded beside its first pictures.
    holdBackgroundWork(true);
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            const QString folder = info.absoluteFilePath();
            videoListWidget->addVideoDir(folder, true);
            if (first.isEmpty()) {
                const QStringList recordings = OxVideoListWidget::recordingsIn(folder);
                if (!recordings.isEmpty())
                    first = recordings.first();
            }
        } else {
            videoListWidget->addVideoFile(path, true);
            if (firstFile.isEmpty())
                firstFile = path;
            if (first.isEmpty() && OxVideoListWidget::isRecordingPath(path))
                first = path;
        }
    }
    // A file that is no recording is tried all the same when nothing else was given:
    // its open fails and the window shows the stopped state.
    if (first.isEmpty())
        first = firstFile;
    if (first.isEmpty()) {
        holdBackgroundWork(false);
        return;
    }
    videoListWidget->selectVideo(first);
    openVideo(first);
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

// Local files and folders join the playlist and the first recording among them plays.
// Web links are ignored: no entry, and what plays goes on.
void MainWindow::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths.append(localPathOfUrl(url));
    }
    event->acceptProposedAction();
    if (!paths.isEmpty())
        openPaths(paths);
}

void MainWindow::_onClickFullscreenButton(bool)
{
    toggleFullScreen();
}

void MainWindow::_onClickExitButton(bool)
{
    QCoreApplication::quit();
}

void MainWindow::toggleFullScreen()
{
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
}

void MainWindow::keyReleaseEvent(QKeyEvent *event)
{
    qDebug() << "event = " << event;
    if (event->key() == Qt::Key_Escape) {
        if (isFullScreen())
            showNormal();
    } else if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        if (player && !engineBusy && !currentPath.isEmpty() && player->isOpened())
            togglePause();
    }
}

void MainWindow::resizeEvent(QResizeEvent *)
{
    updateLayout(width(), height());
}

void MainWindow::changeEvent(QEvent *event)
{
    qDebug() << "changeEvent = " << event;
    if (event->type() == QEvent::WindowStateChange)
        updateLayout(width(), height());
}

// Routes Space and Escape to keyReleaseEvent, whichever child of this window has the
// focus: a focused button must not take Space for a click, and Escape must leave full
// screen from anywhere. The keys of playback (playbackKey) act on press unless a text
// field or the map page has the focus. Every other key, press and release alike, goes
// to the focused widget as usual (the map page needs both). A modal dialog (file or settings
// dialog) keeps its own keys, and other top-level windows are left alone.
//
// Drags and drops over any child come here too: the map's web views would otherwise
// take a dropped file and load it in place of the map page.
bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop) {
        if (!watched->isWidgetType() || watched == this ||
            static_cast<QWidget *>(watched)->window() != this)
            return false;
        if (type == QEvent::Drop)
            dropEvent(static_cast<QDropEvent *>(event));
        else
            dragMoveEvent(static_cast<QDragMoveEvent *>(event));
        return true;
    }
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
        return false;
    if (!watched->isWidgetType() || QApplication::activeModalWidget())
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    if (widget == this || widget->window() != this)
        return false;

    auto *keyEvent = static_cast<QKeyEvent *>(event);
    const int key = keyEvent->key();
    if (key != Qt::Key_Space && key != Qt::Key_Escape) {
        // The keys of playback act on press, before a button or a list takes the arrows
        // for moving the focus or the letters for a search.
        if (type != QEvent::KeyPress || keepsKeys(widget) || keepsKeys(QApplication::focusWidget()))
            return false;
        return playbackKey(keyEvent);
    }
    // Neither press nor release of our keys reaches the child; the release acts.
    if (type == QEvent::KeyRelease)
        keyReleaseEvent(keyEvent);
    event->accept();
    return true;
}

// Drives: headers in the playlist, a double-click on one plays the drive, and the
// timeline strip under the picture.
void MainWindow::setUpDrives()
{
    strip = new TimelineStrip;
    strip->setObjectName(QStringLiteral("timelineStrip"));
    strip->setSpeedUnit(configuredDistanceUnit());
    videoView->setFooter(strip, kStripHeight);
    connect(strip, &TimelineStrip::seekRequested, this, &MainWindow::_onVideoTimeChanged);
    connect(videoListWidget, &OxVideoListWidget::onDoubleClickDriveHeader, this,
            &MainWindow::openDrive);
    // A recording whose facts arrive while it plays gets its strip then.
    connect(videoListWidget->drives(), &OxPlaylistDrives::regrouped, this,
            &MainWindow::updateStrip);
}

void MainWindow::openDrive(int row)
{
    const OxPlaylistDrives::Entry *entry = videoListWidget->drives()->driveAtRow(row);
    if (!entry || engineBusy)
        return;
    // Copies: a regrouping may replace the entry while the drive plays.
    const Drive chosen = entry->drive;
    const DriveTrack track = entry->track;
    videoListWidget->list()->setCurrentRow(row);
    if (!playDrive(chosen, track))
        showNotice(languageText(QStringLiteral("notice_read_failed"))
                       .arg(QDir::toNativeSeparators(chosen.clips.first().facts.path)));
}

bool MainWindow::playDrive(const Drive &newDrive, const DriveTrack &track)
{
    if (engineBusy || newDrive.isEmpty())
        return false;
    if (player)
        stopEngine();
    resetTripDisplay();
    openedDrive = newDrive;
    openedTrack = track;
    currentPath = openedDrive.clips.first().facts.path;
    infoView->setDrive(openedDrive, openedTrack);
    if (openedTrack.hasValidFix())
        mapWidget->showRoute(openedTrack.fixes());
    lastSecond = -1;

    // One source per clip; the engine opens each when it comes to it and skips one
    // that fails.
    std::vector<OxPlaySource> sources;
    sources.reserve(size_t(openedDrive.clips.size()));
    for (const DriveClip &clip : openedDrive.clips)
        sources.push_back(
            {QFile::encodeName(clip.facts.path), clip.clipIn, clip.clipOut, clip.driveStart});
    videoView->hideLogo();
    int result = -1;
    if (player) {
        const QScopedValueRollback<bool> busy(engineBusy, true);
        result = player->openSequence(std::move(sources), 0);
    }
    if (result < 0) {
        videoView->showLogo();
        holdBackgroundWork(false);
        resetTripDisplay();
        showStoppedState();
        return false;
    }
    showPlayingState();
    paired->followDrive(openedDrive);
    holdBackgroundWork(true);
    showStrip(openedDrive, openedTrack);
    return true;
}

void MainWindow::reopen()
{
    if (openedDrive.isEmpty()) {
        openVideo(currentPath);
        return;
    }
    const Drive again = openedDrive;
    const DriveTrack track = openedTrack;
    playDrive(again, track);
}

void MainWindow::showDriveProgress(double current)
{
    infoView->updatePosition(current, openedDrive.duration());
    // The marker by the drive track's time, so it crosses clip boundaries where the
    // fixes do.
    const int fix = openedTrack.indexAt(current);
    if (fix >= 0)
        mapWidget->showFix(fix);
}

void MainWindow::updateStrip()
{
    if (!player || !player->isOpened() || !openedDrive.isEmpty() || !stripPath.isEmpty() ||
        currentPath.isEmpty())
        return;
    const std::optional<RecordingFacts> facts = videoListWidget->drives()->factsOf(currentPath);
    if (!facts || !facts->probed)
        return;
    // A recording alone is a drive of one clip.
    const QVector<Drive> alone = groupDrives({*facts});
    if (alone.size() != 1)
        return;
    stripPath = currentPath;
    showStrip(alone.first(), DriveTrack(alone.first()));
}

void MainWindow::showStrip(const Drive &shown, const DriveTrack &track)
{
    strip->setDrive(shown, track);
    strip->setPosition(player ? player->videoTime() : 0);
    stripWanted = true;
    videoView->showFooter(!isFullScreen());
}

void MainWindow::setUpExport()
{
    exportController = new ExportController(this);
    connect(exportController, &ExportController::notice, this, &MainWindow::showNotice);
    // The marked span on the slider and the strip.
    connect(exportController, &ExportController::marksChanged, this, [this] {
        double from = 0, to = 0;
        if (exportController->hasMarks() && player)
            std::tie(from, to) = exportController->span(player->videoTime());
        infoView->setSpan(from, to, player ? player->duration() : 0);
        strip->setSpan(from, to);
    });
    connect(videoView, &JtVideoView::onClick, this, &MainWindow::showVideoMenu);
    connect(mapWidget, &OxMapWidget::routeClicked, this, &MainWindow::seekToRoutePlace);
}

// True while something plays that can be exported; the marks of an earlier playback are
// dropped here rather than at every open.
bool MainWindow::exportReady()
{
    if (!player || engineBusy || currentPath.isEmpty() || !player->isOpened() ||
        player->duration() <= 0)
        return false;
    if (exportPlayback != currentPlayback.load()) {
        exportPlayback = currentPlayback.load();
        exportController->setDuration(player->duration());
    }
    return true;
}

void MainWindow::markSpan(bool in)
{
    if (!exportReady())
        return;
    if (in)
        exportController->markIn(player->videoTime());
    else
        exportController->markOut(player->videoTime());
    showNotice(exportController->spanText(player->videoTime()));
}

void MainWindow::exportSpan()
{
    if (!exportReady()) {
        showNotice(languageText(QStringLiteral("export_nothing")));
        return;
    }
    const Drive *playing = playingDrive();
    if (!playing) {
        showNotice(languageText(QStringLiteral("export_nothing")));
        return;
    }
    // The rear goes into the clip when it is on screen.
    const bool rearShown = paired->isActive() && paired->layout() != ChannelLayout::OneChannel;
    exportController->exportSpan(
        *playing, *playingTrack(), player->videoTime(),
        OxConfigure().intValue(ConfigKey::Speed, ConfigDefault::SpeedInPanel),
        rearShown ? paired->pairing() : ChannelPairing());
}

const Drive *MainWindow::playingDrive()
{
    if (!player || !player->isOpened() || currentPath.isEmpty())
        return nullptr;
    if (!openedDrive.isEmpty())
        return &openedDrive;
    if (drivePlayback != currentPlayback.load() || !drive) {
        drivePlayback = currentPlayback.load();
        driveTrack.reset();
        // One recording is a drive of one clip: its facts come from the cache the
        // playlist keeps, or a probe of this one file.
        QString error;
        const QVector<Drive> drives = groupDrives(factsOfArguments({currentPath}, &error));
        drive = drives.isEmpty() ? nullptr : std::make_unique<Drive>(drives.first());
    }
    return drive.get();
}

const DriveTrack *MainWindow::playingTrack()
{
    const Drive *playing = playingDrive();
    if (playing == &openedDrive)
        return &openedTrack;
    if (playing && !driveTrack)
        driveTrack = std::make_unique<DriveTrack>(*playing);
    return driveTrack.get();
}

// A click on the map's route: the moment the car was there (the passage nearest to the
// playing position where the route passes twice). Paused playback stays paused and shows
// the picture of that moment.
void MainWindow::seekToRoutePlace(double latitude, double longitude)
{
    if (engineBusy || !player || !player->isOpened())
        return;
    const DriveTrack *track = playingTrack();
    if (!track)
        return;
    if (const auto time = routeTimeNear(*track, latitude, longitude, player->videoTime()))
        player->showAt(*time);
}

// One picture forward (direction 1) or back, paused; the play button follows.
void MainWindow::stepPicture(int direction)
{
    if (!player || engineBusy || !player->isOpened())
        return;
    const bool wasPlaying = player->isPlaying();
    if (direction > 0 ? player->stepForward() : player->stepBackward()) {
        if (wasPlaying) {
            holdBackgroundWork(false);
            showPausedState();
        }
    }
}

// The rate applies at once and stays for the recordings opened after; the panel shows it
// while it is not 1x.
void MainWindow::setPlaybackRate(double rate)
{
    if (!player)
        return;
    player->setRate(rate);
    showPlaybackRate();
}

void MainWindow::showPlaybackRate()
{
    const double rate = player ? player->rate() : 1;
    infoView->setRateText(rate == 1 ? QString() : rateText(rate));
    showNotice(languageText(QStringLiteral("playback_rate")) + QStringLiteral(": ") +
               rateText(rate));
}

// A right click on the picture: the export's marks and the export, the playback rate, and
// while a second camera channel shows, its layout.
void MainWindow::showVideoMenu(int button, double, double)
{
    if (button != Qt::RightButton || !exportReady())
        return;
    QMenu menu(this);
    menu.addAction(languageText(QStringLiteral("mark_in")) + QStringLiteral("\tI"),
                   [this] { markSpan(true); });
    menu.addAction(languageText(QStringLiteral("mark_out")) + QStringLiteral("\tO"),
                   [this] { markSpan(false); });
    menu.addSeparator();
    menu.addAction(languageText(QStringLiteral("export")) + QStringLiteral("\tE"),
                   [this] { exportSpan(); });
    menu.addSeparator();
    QMenu *rates =
        menu.addMenu(languageText(QStringLiteral("playback_rate")) + QStringLiteral("\t[ ]"));
    for (double rate : OxFFPlayer::kRates) {
        QAction *action = rates->addAction(rateText(rate), [this, rate] { setPlaybackRate(rate); });
        action->setCheckable(true);
        action->setChecked(rate == player->rate());
    }
    if (paired->isActive()) {
        menu.addSeparator();
        menu.addAction(languageText(QStringLiteral("channel_layout")),
                       [this] { paired->cycleLayout(); });
    }
    menu.exec(QCursor::pos());
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    if (!playbackKey(event))
        QMainWindow::keyPressEvent(event);
}

// A field that takes typed text, or the map page (its arrows move the map): the keys of
// playback are theirs while they have the focus.
bool MainWindow::keepsKeys(const QWidget *focus)
{
    for (const QObject *o = focus; o; o = o->parent()) {
        if (o->inherits("QLineEdit") || o->inherits("QAbstractSpinBox") ||
            o->inherits("QTextEdit") || o->inherits("QPlainTextEdit") ||
            o->inherits("QWebEngineView"))
            return true;
    }
    return false;
}

// The keys of playback: I and O mark the span to export and E exports it; Left and Right
// jump 5 s, with Shift 60 s, playing or paused (paused, the picture there is shown); . and , step
// one picture forward and back (pausing); ] and [ play faster and slower. Press acts (a held . or ,
// repeats); true when the key was one of them.
bool MainWindow::playbackKey(QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers =
        event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    if (modifiers != Qt::NoModifier)
        return false;
    const int key = event->key();
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    if (key == Qt::Key_Left || key == Qt::Key_Right) {
        if (player && !engineBusy && player->isOpened() && player->duration() > 0) {
            const double jump = (shift ? kLongJump : kShortJump) * (key == Qt::Key_Left ? -1 : 1);
            // A jump past the end goes to the last picture, not out of the recording.
            const double end = qMax(0.0, player->duration() - 0.1);
            const double target = qBound(0.0, player->videoTime() + jump, end);
            player->showAt(target);
        }
        return true;
    }
    if (key == Qt::Key_Period || key == Qt::Key_Comma) {
        stepPicture(key == Qt::Key_Period ? 1 : -1);
        return true;
    }
    if (key == Qt::Key_BracketLeft || key == Qt::Key_BracketRight) {
        if (!event->isAutoRepeat() && player)
            setPlaybackRate(
                OxFFPlayer::stepRate(player->rate(), key == Qt::Key_BracketRight ? 1 : -1));
        return true;
    }
    if (shift || event->isAutoRepeat())
        return key == Qt::Key_I || key == Qt::Key_O || key == Qt::Key_E || key == Qt::Key_V;
    switch (key) {
    case Qt::Key_I:
        markSpan(true);
        return true;
    case Qt::Key_O:
        markSpan(false);
        return true;
    case Qt::Key_E:
        exportSpan();
        return true;
    case Qt::Key_V:
        paired->cycleLayout();
        return true;
    default:
        return false;
    }
}
