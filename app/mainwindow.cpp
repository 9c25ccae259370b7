#include "mainwindow.h"

#include "language.h"

#include <QApplication>
#include <QDebug>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>

namespace {

void place(QWidget *widget, int x, int y, int w, int h)
{
    if (widget)
        widget->setGeometry(x, y, w, h);
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    _openButton = new QPushButton(this);
    _playButton = new QPushButton(this);
    _stopButton = new QPushButton(this);
    _screenshotButton = new QPushButton(this);
    _fullscreenButton = new QPushButton(this);
    _exitButton = new QPushButton(this);
    _settingsButton = new QPushButton(this);

    retranslateUi();
    connect(_fullscreenButton, &QPushButton::clicked, this, &MainWindow::_onClickFullscreenButton);
    connect(_exitButton, &QPushButton::clicked, this, &MainWindow::_onClickExitButton);
    _playButton->setEnabled(false);

    // Key events of the whole application reach this window's key handling (see
    // eventFilter), without grabbing the desktop's keyboard.
    qApp->installEventFilter(this);

    setMinimumSize(1280, 720);
    resize(minimumSize());
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(this);
}

void MainWindow::updateLayout(int w, int h)
{
    const QList<QWidget *> panes = {infoView, mapWidget, videoListWidget};
    const QList<QPushButton *> buttons = {_openButton,       _playButton, _stopButton,
                                          _screenshotButton, _fullscreenButton, _exitButton};
    if (isFullScreen()) {
        place(videoView, 0, 0, w, h);
        for (QWidget *pane : panes)
            place(pane, 0, 0, 0, 0);
        for (QPushButton *button : buttons)
            place(button, 0, 0, 0, 0);
        place(_settingsButton, 0, 0, 0, 0);
        return;
    }

    const int c = w - 300;
    place(videoView, 0, 0, c, h - 240);
    place(infoView, 0, h - 240, c, 200);
    place(mapWidget, c, 0, 300, (h - 40) / 2);
    place(videoListWidget, c, (h - 40) / 2, 300, (h - 40) / 2);
    const int b = (w - 325) / 6;
    for (int k = 0; k < buttons.size(); ++k)
        place(buttons.at(k), static_cast<int>(k * (b + 5.0)), h - 40, b, 40);
    place(_settingsButton, c, h - 40, 300, 40);
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
    _openButton->setText(languageText(QStringLiteral("open_file")));
    _playButton->setText(languageText(QStringLiteral("play")));
    _stopButton->setText(languageText(QStringLiteral("stop")));
    _screenshotButton->setText(languageText(QStringLiteral("screenshot")));
    _fullscreenButton->setText(languageText(QStringLiteral("fullscreen")));
    _exitButton->setText(languageText(QStringLiteral("exit")));
    _settingsButton->setText(languageText(QStringLiteral("settings")));
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

// Routes the keys of every widget of this window to keyReleaseEvent, whichever child
// has the focus: a focused button must not take Space for a click, and Escape must
// leave full screen from anywhere. A modal dialog (file or settings dialog) keeps its
// own keys, and other top-level windows are left alone.
bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
        return false;
    if (!watched->isWidgetType() || QApplication::activeModalWidget())
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    if (widget == this || widget->window() != this)
        return false;

    auto *keyEvent = static_cast<QKeyEvent *>(event);
    const int key = keyEvent->key();
    const bool ours = key == Qt::Key_Space || key == Qt::Key_Escape;
    if (type == QEvent::KeyRelease) {
        keyReleaseEvent(keyEvent);
        return true;
    }
    // Presses of our keys never reach the child.
    if (ours) {
        event->accept();
        return true;
    }
    return false;
}
