#pragma once

#include <QWidget>

class OxVideoView;
class QLabel;
class QMouseEvent;
class QTimer;

// The video area of the main window: the picture view covering it, a logo, and mouse
// input turned into click and double-click signals. A release starts a 300 ms timer;
// a second release before it fires is a double-click, a move in between a drag.
class JtVideoView : public QWidget
{
    Q_OBJECT
public:
    explicit JtVideoView(QWidget *parent = nullptr);
    ~JtVideoView() override;

    // Drops the picture on show and shows the logo.
    void showLogo();
    void hideLogo();

    // A widget along the bottom of the area, below the picture view (which then gives
    // up the footer's height), while shown. The area takes it as its child.
    void setFooter(QWidget *footer, int height);
    void showFooter(bool show);
    bool footerShown() const { return footerVisible; }
    // The height the footer takes at the bottom of the area; 0 while hidden.
    int footerSpace() const { return footerVisible ? footerHeight : 0; }
    // A second camera channel. Its picture view is made on the first call and shown only
    // between showPaired and hidePaired; its native window stays above videoView's.
    OxVideoView *pairedVideoView();
    // Shows both views as placeChannels places them for layout (a ChannelLayout value),
    // the second channel large when swapped.
    void showPaired(int layout, bool swapped);
    // videoView alone fills the area again; the second view drops its picture.
    void hidePaired();
    bool isPairedShown() const { return pairedShown; }
    // Where each view is, in the area's pixels; empty when it is hidden.
    QRect videoViewRect() const;
    QRect pairedViewRect() const;

    OxVideoView *videoView = nullptr;

signals:
    void onMousePressed(QMouseEvent *event);
    void onMouseMoved(QMouseEvent *event);
    void onMouseReleased(QMouseEvent *event);
    void onClick(int button, double x, double y);
    void onDoubleClicked(int button, double x, double y);

public slots:
    void onClickTimerTimeOut();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void discardClickTimer();
    void placeChildren();
    void placeViews();

    QLabel *logoLabel = nullptr;
    QTimer *clickTimer = nullptr; // no parent: created and deleted here; null when idle
    int clickCount = 0;           // -1 after a drag, 0 idle, 1 while a click waits for a second
    int clickButton = 0;
    double clickX = 0;
    double clickY = 0;
    QWidget *footer = nullptr;
    int footerHeight = 0;
    bool footerVisible = false;

    OxVideoView *pairedView = nullptr; // made by pairedVideoView
    bool pairedShown = false;
    int pairedLayout = 0;
    bool pairedSwapped = false;
};
