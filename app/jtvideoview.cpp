#include "jtvideoview.h"

#include "channellayout.h"
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
    placeViews();
    if (footer)
        footer->setGeometry(0, height() - below, width(), below);
    logoLabel->setGeometry(0, 0, 0, 0);
}

OxVideoView *JtVideoView::pairedVideoView()
{
    if (!pairedView) {
        pairedView = new OxVideoView(this);
        pairedView->hide();
        // The small picture keeps the aspect of what it shows.
        connect(pairedView, &OxVideoView::pictureSizeChanged, this, &JtVideoView::placeViews);
        connect(videoView, &OxVideoView::pictureSizeChanged, this, &JtVideoView::placeViews);
    }
    return pairedView;
}

void JtVideoView::showPaired(int layout, bool swapped)
{
    pairedVideoView();
    pairedShown = true;
    pairedLayout = layout;
    pairedSwapped = swapped;
    placeViews();
}

void JtVideoView::hidePaired()
{
    if (!pairedView)
        return;
    pairedShown = false;
    pairedSwapped = false;
    pairedView->clearFrame();
    placeViews();
}

QRect JtVideoView::videoViewRect() const
{
    return videoView->isHidden() ? QRect() : videoView->geometry();
}

QRect JtVideoView::pairedViewRect() const
{
    return pairedView && pairedShown && !pairedView->isHidden() ? pairedView->geometry() : QRect();
}

void JtVideoView::placeViews()
{
    const int below = footer && footerVisible ? std::min(footerHeight, height()) : 0;
    const QSize area(width(), height() - below);
    if (!pairedShown) {
        videoView->setGeometry(0, 0, area.width(), area.height());
        videoView->show();
        if (pairedView)
            pairedView->hide();
        return;
    }
    OxVideoView *first = pairedSwapped ? pairedView : videoView;
    OxVideoView *second = pairedSwapped ? videoView : pairedView;
    const ChannelPlacement placement = placeChannels(area, second->pictureSize(), pairedLayout);
    first->setGeometry(placement.primary);
    first->show();
    if (placement.secondary.isEmpty()) {
        second->hide();
        return;
    }
    second->setGeometry(placement.secondary);
    second->show();
    // The small picture's window over the large one's.
    second->raise();
}
