#include "oxvideoitemwidget.h"

#include "language.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QStyleOption>

#include <cmath>

namespace {

// Values read from a hand-edited file can be anything: keep every conversion to an
// integer defined.
qint64 wholeNumber(double value, double limit)
{
    if (!(value > 0))
        return 0;
    return qint64(std::min(value, limit));
}

int frameRate(double fps)
{
    return int(wholeNumber(fps + 0.5, 1e6));
}

constexpr int kBadgeSize = 14;

QString resolution(const OxVideoFile &video)
{
    return QString::asprintf("%dx%d %dfps", video.width, video.height, frameRate(video.fps));
}

} // namespace

OxVideoItemWidget::OxVideoItemWidget(QWidget *parent) : QWidget(parent)
{
    thumbLabel = new QLabel(this);
    nameLabel = new QLabel(this);
    resolutionLabel = new QLabel(this);
    durationLabel = new QLabel(this);
    sizeLabel = new QLabel(this);
    thumbLabel->setObjectName(QStringLiteral("thumbnail"));
    nameLabel->setObjectName(QStringLiteral("name"));
    resolutionLabel->setObjectName(QStringLiteral("resolution"));
    durationLabel->setObjectName(QStringLiteral("duration"));
    sizeLabel->setObjectName(QStringLiteral("size"));
    thumbLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    layoutLabels(width(), height());
    for (QLabel *label : {nameLabel, resolutionLabel, durationLabel, sizeLabel})
        label->setStyleSheet(QStringLiteral("color:#111111"));
}

void OxVideoItemWidget::setVideoInfo(const OxVideoInfo &value)
{
    videoInfo() = value;
}

QString OxVideoItemWidget::resolutionText(const OxVideoInfo &entry)
{
    if (entry.videos.isEmpty())
        return QString();
    QString text = resolution(entry.videos.at(0));
    if (entry.videos.size() > 1)
        text += QLatin1Char('+') + resolution(entry.videos.at(1));
    return text;
}

QString OxVideoItemWidget::durationText(double seconds)
{
    const qint64 s = wholeNumber(seconds + 0.5, 1e12);
    return QString::asprintf("%02lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
}

QString OxVideoItemWidget::sizeText(double bytes)
{
    const qint64 n = wholeNumber(bytes, 1e18);
    if (n >= (qint64(1) << 30))
        return QString::asprintf("%0.2lfG", double(n) / double(qint64(1) << 30));
    if (n >= (1 << 20))
        return QString::asprintf("%dMB", int(n >> 20));
    if (n >= 1024)
        return QString::asprintf("%dKB", int(n >> 10));
    return QString::asprintf("%dB", int(n));
}

void OxVideoItemWidget::showVideoInfo(const OxVideoInfo &entry)
{
    nameLabel->setText(entry.name);
    resolutionLabel->setText(resolutionText(entry));
    if (entry.videos.isEmpty()) {
        // An entry from an unreadable playlist file: only its (empty) name to show.
        durationLabel->clear();
        sizeLabel->clear();
        thumbLabel->setPixmap(QPixmap());
        return;
    }
    const OxVideoFile &first = entry.videos.at(0);
    durationLabel->setText(durationText(first.duration));
    sizeLabel->setText(sizeText(first.size));

    QImage image;
    if (!first.thumb.isEmpty() && QFileInfo::exists(first.thumb)) {
        // The JPEG decoder scales while decoding: a full-size picture costs the GUI
        // thread a fraction of a millisecond instead of a full decode.
        QImageReader reader(first.thumb);
        const QSize full = reader.size();
        if (full.isValid()) {
            reader.setScaledSize(full.scaled(106, 60, Qt::KeepAspectRatio));
            image = reader.read();
        }
    }
    thumbLabel->setPixmap(QPixmap::fromImage(image));
}

void OxVideoItemWidget::layoutLabels(int, int height)
{
    // The row's own lines lie below the drive header, as they would in a row without it.
    const int a = height - top - 2;
    const int tw = (16 * a) / 9;
    const int t = a / 3;
    const int y = top + 1;
    thumbLabel->setGeometry(1, y, tw, a);
    nameLabel->setGeometry(tw + 5, y, 200, t);
    resolutionLabel->setGeometry(tw + 5, y + t, 200, t);
    durationLabel->setGeometry(tw + 5, y + 2 * t, 58, t);
    sizeLabel->setGeometry(durationLabel->x() + durationLabel->width() + 3, y + 2 * t, 45, t);
    if (eventBadge)
        eventBadge->setGeometry(3, y + 2, kBadgeSize, kBadgeSize);
}

int OxVideoItemWidget::rowHeight(bool withHeader)
{
    return 60 + (withHeader ? kHeaderHeight : 0);
}

QLabel *OxVideoItemWidget::makeBadge()
{
    auto *badge = new QLabel(QStringLiteral("!"), this);
    badge->setAlignment(Qt::AlignCenter);
    badge->setStyleSheet(
        QStringLiteral("background:#d62020;color:#ffffff;font-weight:bold;border-radius:7px;"));
    badge->resize(kBadgeSize, kBadgeSize);
    badge->hide();
    return badge;
}

void OxVideoItemWidget::setDriveHeader(const QString &text, bool event)
{
    if (text.isEmpty() && !headerLabel)
        return;
    if (!headerLabel) {
        headerLabel = new QLabel(this);
        headerLabel->setObjectName(QStringLiteral("driveHeader"));
        headerLabel->setStyleSheet(
            QStringLiteral("background:#b9cadb;color:#0b1a2a;padding-left:4px;"));
        headerBadge = makeBadge();
        headerBadge->setObjectName(QStringLiteral("driveEventBadge"));
    }
    headerText = text;
    top = text.isEmpty() ? 0 : kHeaderHeight;
    headerLabel->setVisible(!text.isEmpty());
    headerBadge->setVisible(!text.isEmpty() && event);
    headerBadge->setToolTip(languageText(QStringLiteral("strip_event_clip")));
    headerLabel->setToolTip(text);
    placeHeader();
    layoutLabels(width(), height());
}

void OxVideoItemWidget::placeHeader()
{
    if (!headerLabel || headerText.isEmpty())
        return;
    headerLabel->setGeometry(0, 0, width(), kHeaderHeight);
    const int badgeSpace = headerBadge->isVisibleTo(this) ? kBadgeSize + 8 : 0;
    headerBadge->move(width() - kBadgeSize - 4, (kHeaderHeight - kBadgeSize) / 2);
    // A header wider than the row ends in an ellipsis; the tooltip holds all of it.
    const QFontMetrics metrics(headerLabel->font());
    headerLabel->setText(
        metrics.elidedText(headerText, Qt::ElideRight, std::max(0, width() - 8 - badgeSpace)));
    headerBadge->raise();
}

void OxVideoItemWidget::setEventClip(bool event)
{
    if (!event && !eventBadge)
        return;
    if (!eventBadge) {
        eventBadge = makeBadge();
        eventBadge->setObjectName(QStringLiteral("eventBadge"));
    }
    eventBadge->setToolTip(languageText(QStringLiteral("strip_event_clip")));
    eventBadge->setVisible(event);
    eventBadge->raise();
    layoutLabels(width(), height());
}

bool OxVideoItemWidget::isEventClip() const
{
    return eventBadge && !eventBadge->isHidden();
}

void OxVideoItemWidget::paintEvent(QPaintEvent *event)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    QWidget::paintEvent(event);
}

void OxVideoItemWidget::resizeEvent(QResizeEvent *event)
{
    placeHeader();
    layoutLabels(width(), height());
    QWidget::resizeEvent(event);
}
