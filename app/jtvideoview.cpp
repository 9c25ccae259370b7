#include "jtvideoview.h"

#include "oxvideoview.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QTimer>

#include <algorithm>

JtVideoView::JtVideoView(QWidget *parent) : QWidget(parent)
{
    videoView = new OxVideoView(this);
    logoLabel = new QLabel(this);

    const QPixmap icon(QStringLiteral(":resources/icon.png"));
    if (!icon.isNull())
        logoLabel->setPixmap(
            icon.scaledToWidth(int(100 * devicePixelRatioF()), Qt::SmoothTransformation));
    logoLabel->setAlignment(Qt::AlignCenter);
    logoLabel->setStyleSheet(QStringLiteral("background:#000000"));
}

JtVideoView::~JtVideoView()
{
    discardClickTimer();
}

void JtVideoView::showLogo()
{
    videoView->clearFrame();
    logoLabel->setVisible(true);
}

void JtVideoView::hideLogo()
{
    logoLabel->setVisible(false);
}

void JtVideoView::discardClickTimer()
{
    if (!clickTimer)
        return;
    clickTimer->stop();
    delete clickTimer;
    clickTimer = nullptr;
}

void JtVideoView::mousePressEvent(QMouseEvent *event)
{
    if (clickCount < 0)
        clickCount = 0;
    emit onMousePressed(event);
}

void JtVideoView::mouseMoveEvent(QMouseEvent *event)
{
    clickCount = -1;
    emit onMouseMoved(event);
}

void JtVideoView::mouseReleaseEvent(QMouseEvent *event)
{
    clickButton = int(event->button());
    clickX = double(event->x());
    clickY = double(event->y());

    if (clickCount == -1) {
        discardClickTimer();
        return;
    }

    if (++clickCount >= 2) {
        clickCount = 0;
        discardClickTimer();
        emit onDoubleClicked(clickButton, clickX, clickY);
    } else {
        discardClickTimer();
        clickTimer = new QTimer();
        connect(clickTimer, &QTimer::timeout, this, &JtVideoView::onClickTimerTimeOut);
        clickTimer->start(300);
    }
    emit onMouseReleased(event);
}

void JtVideoView::onClickTimerTimeOut()
{
    discardClickTimer();
    clickCount = 0;
    emit onClick(clickButton, clickX, clickY);
}

void JtVideoView::setFooter(QWidget *widget, int height)
{
    footer = widget;
    footerHeight = height;
    footer->setParent(this);
    footer->setVisible(footerVisible);
    placeChildren();
}

void JtVideoView::showFooter(bool show)
{
    if (show == footerVisible)
        return;
    footerVisible = show;
    if (footer)
        footer->setVisible(show);
    placeChildren();
}

void JtVideoView::resizeEvent(QResizeEvent *)
{
    placeChildren();
}

void JtVideoView::placeChildren()
{
    const int below = footer && footerVisible ? std::min(footerHeight, height()) : 0;
    videoView->setGeometry(0, 0, width(), height() - below);
    if (footer)
        footer->setGeometry(0, height() - below, width(), below);
    logoLabel->setGeometry(0, 0, 0, 0);
}
