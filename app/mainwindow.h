#pragma once

#include <QMainWindow>

class QPushButton;

class MainWindow : public QMainWindow
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

    QPushButton *openButton() const { return _openButton; }
    QPushButton *playButton() const { return _playButton; }
    QPushButton *stopButton() const { return _stopButton; }
    QPushButton *screenshotButton() const { return _screenshotButton; }
    QPushButton *fullscreenButton() const { return _fullscreenButton; }
    QPushButton *exitButton() const { return _exitButton; }
    QPushButton *settingsButton() const { return _settingsButton; }

public slots:
    void _onClickFullscreenButton(bool clicked);
    void _onClickExitButton(bool clicked);

protected:
    void keyReleaseEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void toggleFullScreen();

    // Panes, placed by updateLayout when present.
    QWidget *videoView = nullptr;
    QWidget *infoView = nullptr;
    QWidget *mapWidget = nullptr;
    QWidget *videoListWidget = nullptr;

    QPushButton *_openButton = nullptr;
    QPushButton *_playButton = nullptr;
    QPushButton *_stopButton = nullptr;
    QPushButton *_screenshotButton = nullptr;
    QPushButton *_fullscreenButton = nullptr;
    QPushButton *_exitButton = nullptr;
    QPushButton *_settingsButton = nullptr;
};
