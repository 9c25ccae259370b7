#pragma once

#include <QRect>
#include <QSize>

// Where the pictures of two camera channels go in the video area.
struct ChannelPlacement
{
    QRect primary;   // the channel shown large
    QRect secondary; // the other one; empty when it is not shown
};

// layout is a ChannelLayout value (configkeys.h); anything else counts as picture in
// picture. secondaryPicture is the size of the second channel's pictures, whose aspect
// the small picture keeps (16:9 while it is not known).
// - Picture in picture: the primary fills the area; the secondary sits in its top right
//   corner, a quarter of the area's width (at most half its height), its aspect kept.
// - Side by side: the primary in the left half, the secondary in the right half.
// - One channel: the primary fills the area.
ChannelPlacement placeChannels(QSize area, QSize secondaryPicture, int layout);
