#pragma once

#include "drivetrack.h"
#include "oxsettingdelegate.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class ExportController;
class JtVideoView;
class OxFFPlayer;
class OxMapWidget;
class OxVideoInfo;
class OxVideoListWidget;
class PairedChannel;
class QLabel;
class QPushButton;
class QTimer;
class TimelineStrip;
class VideoInfoView;

class MainWindow : public QMainWindow, public OxSettingDelegate
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    void updateLayout(int w, int h);
    void showPlayingState();
    void showPausedState();
    void showStoppedState();
    void retranslateUi();

    // Stops whatever plays and plays the recording at path (shown stopped when it fails).
    void openVideo(const QString &path);
    // Adds recordings and folders (every recording in them) to the playlist and plays
    // the first recording among them, in the order given: the command line and drops.
    void openPaths(const QStringList &paths);
    // Stops whatever plays and plays the drive whose header the playlist shows above
    // row as one recording: one timeline over its clips, the whole route on the map.
    // When the drive ends, the row after its last clip plays.
    void openDrive(int row);
    // The drive opened from its playlist header; empty while a single recording (or
    // nothing) plays.
    const Drive &currentDrive() const { return openedDrive; }

    // Shows a line of text over the bottom of the picture for a while: what the user has
    // to know about something that failed (a path refused, a file that could not be
    // read, a folder that takes no more files). The text is in the window's language.
    void showNotice(const QString &text);
    // The notice shown now; empty when none is.
    QString noticeText() const;

    JtVideoView *videoArea() const { return videoView; }
    VideoInfoView *tripPanel() const { return infoView; }
    OxMapWidget *map() const { return mapWidget; }
    OxVideoListWidget *playlist() const { return videoListWidget; }
    OxFFPlayer *engine() const { return player; }
    TimelineStrip *timelineStrip() const { return strip; }
    // The second camera channel beside the engine's.
    PairedChannel *pairedChannel() const { return paired; }
    QString currentVideoPath() const { return currentPath; }

    QPushButton *openButton() const { return _openButton; }
    QPushButton *playButton() const { return _playButton; }
    QPushButton *stopButton() const { return _stopButton; }
    QPushButton *screenshotButton() const { return _screenshotButton; }
    QPushButton *fullscreenButton() const { return _fullscreenButton; }
    QPushButton *exitButton() const { return _exitButton; }
    QPushButton *settingsButton() const { return _settingsButton; }

    // The id of the engine's current playback; advanced by every stop, so a report
    // carrying an older id belongs to a playback that is gone. Read on the engine's
    // video thread.
    quint64 playbackId() const { return currentPlayback.load(); }

signals:
    // Emitted on the engine's video thread with the id of the playback it reports on;
    // reaches _onPlayerReport queued.
    void _playerPlaying(int type, double current, double duration, quint64 playback);

public slots:
    void _onClickOpenButton(bool clicked);
    void _onClickPlayButton(bool clicked);
    void _onClickStopButton(bool clicked);
    void _onClickScreenshotButton(bool clicked);
    void _onClickFullscreenButton(bool clicked);
    void _onClickExitButton(bool clicked);
    // Drops reports of an earlier playback, hands the rest to _onPlayerPlaying.
    void _onPlayerReport(int type, double current, double duration, quint64 playback);
    void _onPlayerPlaying(int type, double current, double duration);
    void _onVideoTimeChanged(double time);
    void _onDoubleClickVideoView(int button, double x, double y);
    void _onClickSettingsButton(bool clicked);
    void _onDoubleClickVideoInfo(OxVideoInfo &videoInfo);

public:
    // Setting changes, called by the settings dialog after it stored the new value.
    void onMapChanged(int map) override;
    void onLanguageChanged(const QString &language) override;
    void onSpeedUnitChanged(int unit) override;
    void onGPSCorrectionChanged(int correction) override;
    void onSettingsNotSaved(const QString &file) override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void toggleFullScreen();
    void placeNotice();
    void stopEngine();
    void stopPlayback();
    // Work that would compete with a recording starting to play: map pages not made yet,
    // the playlist's thumbnails and facts.
    void holdBackgroundWork(bool hold);
    void togglePause();
    void resetTripDisplay();
    // Plays drive from its start; false when the engine could not open it.
    bool playDrive(const Drive &drive, const DriveTrack &track);
    // What plays again: the drive when one played, else the recording at currentPath.
    void reopen();
    // The progress of a drive on the panel and the map, in drive time.
    void showDriveProgress(double current);
    // The strip under the picture for what plays now (drive, or a recording whose facts
    // are known); hidden when there is nothing to show or in full screen.
    void updateStrip();
    void showStrip(const Drive &drive, const DriveTrack &track);
    void setUpDrives();

    // Evidence export of a span of what plays (exportcontroller.h): I and O set its marks,
    // E or the picture's context menu exports it.
    void setUpExport();
    bool exportReady();
    void markSpan(bool in);
    void exportSpan();
    void showVideoMenu(int button, double x, double y);
    // The drive that plays (one recording: a drive of one clip) and its track, made when
    // first asked for in a playback; null when nothing plays or the facts cannot be read.
    const Drive *playingDrive();
    const DriveTrack *playingTrack();
    void seekToRoutePlace(double latitude, double longitude);
    static bool keepsKeys(const QWidget *focus);
    void stepPicture(int direction);
    void setPlaybackRate(double rate);
    void showPlaybackRate();
    bool playbackKey(QKeyEvent *event);

    // Panes, placed by updateLayout when present.
    JtVideoView *videoView = nullptr;
    VideoInfoView *infoView = nullptr;
    OxMapWidget *mapWidget = nullptr;
    OxVideoListWidget *videoListWidget = nullptr;

    QPushButton *_openButton = nullptr;
    QPushButton *_playButton = nullptr;
    QPushButton *_stopButton = nullptr;
    QPushButton *_screenshotButton = nullptr;
    QPushButton *_fullscreenButton = nullptr;
    QPushButton *_exitButton = nullptr;
    QPushButton *_settingsButton = nullptr;
    QLabel *noticeLabel = nullptr;
    QTimer *noticeTimer = nullptr;
    TimelineStrip *strip = nullptr; // in the video area, below the picture

    OxFFPlayer *player = nullptr; // owned; stopped and deleted before the children go
    PairedChannel *paired = nullptr; // child; stopped with the engine, before the views go
    QString currentPath;          // last path given to openVideo; a drive's first clip
    Drive openedDrive;            // the drive playing; empty for a single recording
    DriveTrack openedTrack;       // its track
    QString stripPath;            // the recording the strip shows alone; empty: none
    bool stripWanted = false;     // the strip has something to show for what plays
    // Whole second of the last progress report shown on the panel and the map; -1
    // after every open and every end, so the next report is shown at once.
    int lastSecond = -1;
    // True while the engine opens or stops. The sound back end can run a nested event
    // loop then; reports and commands it delivers must not re-enter the engine.
    bool engineBusy = false;
    std::atomic<quint64> currentPlayback{0};
    ExportController *exportController = nullptr;
    quint64 exportPlayback = 0;             // the playback the export marks belong to
    std::unique_ptr<Drive> drive;           // of playingDrive()
    std::unique_ptr<DriveTrack> driveTrack; // of playingTrack()
    quint64 drivePlayback = 0;              // the playback they belong to
};
