#include "pairedchannel.h"

#include "channellayout.h"
#include "configkeys.h"
#include "ffmpeg_ptr.h"
#include "jtvideoview.h"
#include "language.h"
#include "oxcompose.h"
#include "oxconfigure.h"
#include "oxffplayer.h"
#include "oxmediadata.h"
#include "oxvideoview.h"

#include <QFile>
#include <QPainter>
#include <QToolButton>

#include <vector>

namespace {

constexpr int kButtonSize = 28;

// Two frames, one small over the corner of a large one.
QIcon layoutIcon()
{
    QPixmap pixmap(kButtonSize * 2, kButtonSize * 2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QPen(Qt::white, 4));
    painter.drawRect(6, 12, 44, 34);
    painter.setBrush(Qt::white);
    painter.drawRect(32, 16, 14, 10);
    return QIcon(pixmap);
}

// Where a picture of size shows inside rect: as large as fits, its aspect kept, centred.
QRect fitted(QSize size, const QRect &rect)
{
    if (size.isEmpty() || rect.isEmpty())
        return QRect();
    const QSize shown = size.scaled(rect.size(), Qt::KeepAspectRatio);
    return QRect(rect.x() + (rect.width() - shown.width()) / 2,
                 rect.y() + (rect.height() - shown.height()) / 2, shown.width(), shown.height());
}

} // namespace

PairedChannel::PairedChannel(JtVideoView *videoArea, OxFFPlayer *leaderEngine, QObject *parent)
    : QObject(parent), area(videoArea), leader(leaderEngine), second(std::make_unique<OxFFPlayer>())
{
    const int stored = OxConfigure().intValue(ConfigKey::ChannelLayout, ConfigDefault::Layout);
    currentLayout = ChannelLayout::isValid(stored) ? stored : ConfigDefault::Layout;

    finder = new ChannelPairFinder(this);
    connect(finder, &ChannelPairFinder::found, this, &PairedChannel::onFound);
    connect(area, &JtVideoView::onClick, this, &PairedChannel::onAreaClick);

    // A window of its own, so it shows over the pictures' windows.
    button = new QToolButton(area);
    button->setObjectName(QStringLiteral("channelLayout"));
    button->setAttribute(Qt::WA_NativeWindow);
    button->setAttribute(Qt::WA_DontCreateNativeAncestors);
    button->setIcon(layoutIcon());
    button->setIconSize(QSize(kButtonSize - 6, kButtonSize - 6));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setStyleSheet(QStringLiteral("QToolButton{background:rgba(0,0,0,140);border:0;}"));
    button->setToolTip(languageText(QStringLiteral("channel_layout")));
    button->hide();
    connect(button, &QToolButton::clicked, this, &PairedChannel::cycleLayout);
}

PairedChannel::~PairedChannel()
{
    stop();
}

void PairedChannel::retranslate()
{
    button->setToolTip(languageText(QStringLiteral("channel_layout")));
}

void PairedChannel::followClip(const QString &path)
{
    stop();
    awaited = finder->findForClip(path);
}

void PairedChannel::followDrive(const Drive &drive)
{
    stop();
    awaited = finder->findForDrive(drive);
}

void PairedChannel::onFound(quint64 request, const ChannelPairing &pairing)
{
    if (request != awaited)
        return; // an earlier search's answer, queued before it was replaced
    awaited = 0;
    if (pairing.isEmpty()) {
        qDebug("no paired channel");
        return;
    }
    // The leader may have stopped since the search began.
    if (leader->isOpened())
        play(pairing);
}

bool PairedChannel::play(const ChannelPairing &pairing)
{
    second->stop();
    std::vector<OxPlaySource> sources;
    for (const PairedSource &piece : pairing.sources) {
        OxPlaySource source;
        source.path = QFile::encodeName(piece.path);
        source.clipIn = piece.clipIn;
        source.clipOut = piece.clipOut;
        source.timelineStart = piece.timelineStart;
        source.videoStream = piece.videoStream;
        sources.push_back(source);
    }
    second->setVideoView(area->pairedVideoView());
    second->setLeader(leader);
    const int result = sources.empty() ? -1 : second->openSequence(sources, leader->videoTime());
    if (result < 0) {
        qWarning("dashcam-player: the paired channel %s cannot be played (%s): the first channel "
                 "plays alone",
                 pairing.isEmpty() ? ""
                                   : QFile::encodeName(pairing.sources.first().path).constData(),
                 qPrintable(avErrorText(result)));
        stop();
        return false;
    }
    current = pairing;
    active = true;
    show();
    emit activeChanged(true);
    return true;
}

void PairedChannel::stop()
{
    finder->cancel();
    awaited = 0;
    second->stop();
    current = ChannelPairing();
    swapped = false;
    button->hide();
    if (area->isPairedShown())
        area->hidePaired();
    if (active) {
        active = false;
        emit activeChanged(false);
    }
}

void PairedChannel::setLayout(int layout)
{
    currentLayout = ChannelLayout::isValid(layout) ? layout : ConfigDefault::Layout;
    OxConfigure().setIntValue(ConfigKey::ChannelLayout, currentLayout);
    if (active)
        show();
}

void PairedChannel::cycleLayout()
{
    setLayout(ChannelLayout::next(currentLayout));
}

void PairedChannel::swap()
{
    if (!active)
        return;
    swapped = !swapped;
    show();
}

void PairedChannel::show()
{
    area->showPaired(currentLayout, swapped);
    placeButton();
}

void PairedChannel::placeButton()
{
    button->setGeometry(8, 8, kButtonSize, kButtonSize);
    button->show();
    button->raise();
}

void PairedChannel::onAreaClick(int mouseButton, double x, double y)
{
    // A left click swaps; a right click opens the window's menu.
    if (!active || mouseButton != Qt::LeftButton)
        return;
    const QPoint at(qRound(x), qRound(y));
    // The picture shown second is the small one (or the right half).
    const QRect second = swapped ? area->videoViewRect() : area->pairedViewRect();
    if (currentLayout != ChannelLayout::OneChannel && second.contains(at))
        swap();
}

bool PairedChannel::screenshot(const QString &path)
{
    OxVideoView *views[2] = {area->videoView, area->pairedVideoView()};
    QRect rects[2] = {area->videoViewRect(), area->pairedViewRect()};
    if (swapped) {
        std::swap(views[0], views[1]);
        std::swap(rects[0], rects[1]);
    }
    if (!active || rects[1].isEmpty())
        return views[0]->screenshot(path);

    // Each picture where it shows inside its view; the larger one sets the scale.
    std::unique_ptr<OxYUV420P> pictures[2];
    QRect shown[2];
    QRect all;
    int larger = -1;
    for (int i = 0; i < 2; ++i) {
        pictures[i] = views[i]->copyPicture();
        if (!pictures[i])
            continue;
        shown[i] = fitted(QSize(pictures[i]->width, pictures[i]->height), rects[i]);
        all |= shown[i];
        if (larger < 0 ||
            shown[i].width() * shown[i].height() > shown[larger].width() * shown[larger].height())
            larger = i;
    }
    if (larger < 0 || shown[larger].isEmpty())
        return false;
    const double scale = double(pictures[larger]->width) / shown[larger].width();
    const auto scaled = [&](const QRect &r) {
        return QRect(qRound((r.x() - all.x()) * scale), qRound((r.y() - all.y()) * scale),
                     qRound(r.width() * scale), qRound(r.height() * scale));
    };
    QVector<OxPlacedPicture> placed;
    for (int i = 0; i < 2; ++i) {
        if (pictures[i] && !shown[i].isEmpty())
            placed.append({pictures[i].get(), scaled(shown[i])});
    }
    return saveComposedJpeg(placed, scaled(all).size(), path) >= 0;
}
