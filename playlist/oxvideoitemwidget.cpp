#include "oxvideoitemwidget.h"

#include <QFileInfo>
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
    info = value;
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
    const int a = height - 2;
    const int tw = (16 * a) / 9;
    const int t = a / 3;
    thumbLabel->setGeometry(1, 1, tw, a);
    nameLabel->setGeometry(tw + 5, 1, 200, t);
    resolutionLabel->setGeometry(tw + 5, t + 1, 200, t);
    durationLabel->setGeometry(tw + 5, 2 * t + 1, 58, t);
    sizeLabel->setGeometry(durationLabel->x() + durationLabel->width() + 3, 2 * t + 1, 45, t);
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
    layoutLabels(width(), height());
    QWidget::resizeEvent(event);
}
