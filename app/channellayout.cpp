#include "channellayout.h"

#include "configkeys.h"

#include <algorithm>

ChannelPlacement placeChannels(QSize area, QSize secondaryPicture, int layout)
{
    const int w = std::max(0, area.width());
    const int h = std::max(0, area.height());
    ChannelPlacement placement;
    if (layout == ChannelLayout::OneChannel) {
        placement.primary = QRect(0, 0, w, h);
        return placement;
    }
    if (layout == ChannelLayout::SideBySide) {
        placement.primary = QRect(0, 0, w / 2, h);
        placement.secondary = QRect(w / 2, 0, w - w / 2, h);
        return placement;
    }
    placement.primary = QRect(0, 0, w, h);
    const QSize aspect = secondaryPicture.isEmpty() ? QSize(16, 9) : secondaryPicture;
    QSize small(w / 4, int(qint64(w / 4) * aspect.height() / aspect.width()));
    if (small.height() > h / 2)
        small = QSize(int(qint64(h / 2) * aspect.width() / aspect.height()), h / 2);
    const int margin = std::max(4, w / 80);
    if (small.width() > 0 && small.height() > 0)
        placement.secondary =
            QRect(QPoint(w - margin - small.width(), std::min(margin, h - small.height())), small);
    return placement;
}
