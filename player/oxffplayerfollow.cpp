// The video thread of a player that follows another one's clock (a second camera
// channel beside the first).

#include "oxffplayer.h"

#include "oxffplayerthreads.h"
#include "oxframesink.h"
#include "oxmediadata.h"
#include "oxqueue.h"

#include <QDebug>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// Late pictures in a row that make the decoder skip, as for a player on its own clock.
constexpr int kFollowLateRun = 4;
// Behind the leader by more than this, decoding on would take longer than a seek.
constexpr double kSeekWhenBehind = 1.5;

// A black picture of the size the view last showed, so the view keeps its place.
std::unique_ptr<OxYUV420P> blackPicture(int width, int height)
{
    const int w = std::max(2, width);
    const int h = std::max(2, height);
    std::vector<uint8_t> luma(size_t(w) * h, 0);
    std::vector<uint8_t> chroma(size_t(w / 2) * (h / 2), 128);
    const uint8_t *planes[3] = {luma.data(), chroma.data(), chroma.data()};
    return std::make_unique<OxYUV420P>(planes, w, h);
}

} // namespace

// The source whose part of the timeline holds the time, or -1 in a gap between sources.
int OxFFPlayer::sourceCovering(double t) const
{
    for (int i = int(sources.size()) - 1; i >= 0; --i) {
        const OxPlaySource &s = sources[size_t(i)];
        if (t < s.timelineStart)
            continue;
        const double end = s.clipOut >= 0 ? s.timelineStart + s.clipOut - s.clipIn
                                          : std::numeric_limits<double>::infinity();
        return t < end ? i : -1;
    }
    return -1;
}

// The leader's picture on screen sets the time. Of this player's pictures the one shown
// is the last whose time is not more than half a frame interval past it, so the two
// pictures on screen never differ by more than that (plus the 1 ms poll); pictures whose
// time has passed while a later one is due are left out unseen. Where this player has no
// picture for the time (its recording is shorter, or starts later, or none covers that
// part of the timeline) it shows its last picture for one frame interval and then black,
// and comes back with its next picture.
//
// The leader's seeks are followed with a seek here. While pictures keep coming late the
// decoder leaves out pictures nothing refers to; far behind, a seek to the leader's time
// is quicker. This thread never waits for the leader and never reports: the leader's
// owner stops both.
void OxFFPlayer::followLoop()
{
    OxVideoThread *self = videoThread.get();
    const OxFFPlayer *lead = leader;
    int leaderSeeks = lead->seekGeneration();
    int seenSeeks = seekCount;
    std::unique_ptr<OxYUV420P> pending; // the next picture, not due yet
    // The picture on the view: its time and frame interval; -inf when nothing is shown or
    // it belongs to the time before a seek.
    double shownTime = -std::numeric_limits<double>::infinity();
    double shownStep = 0.04;
    int width = 0;
    int height = 0;
    bool black = false;
    int lateRun = 0;
    int onTimeRun = 0;
    // After a seek, until a picture on time has been shown: no seek to catch up.
    bool catchingUp = false;

    const auto stepOf = [this](const OxYUV420P *picture) {
        const qint64 us = picture->source >= 0 && picture->source < int(sources.size())
                              ? intervals[size_t(picture->source)].load()
                              : interval.load();
        return (us > 0 ? us : 40000) / 1e6;
    };

    // The next picture of the present seek; pictures queued before it are left out.
    const auto popFresh = [this] {
        std::unique_ptr<OxYUV420P> picture;
        do
            picture.reset(static_cast<OxYUV420P *>(pictureQueue->pop()));
        while (picture && picture->generation != seekCount);
        return picture;
    };

    for (;;) {
        if (!self || self->isStopRequested())
            return;
        const double target = lead->videoTime();
        if (lead->seekGeneration() != leaderSeeks) {
            leaderSeeks = lead->seekGeneration();
            requestSeek(target);
            pending.reset();
            shownTime = -std::numeric_limits<double>::infinity();
            // Pictures come from the key frame before the time: no second seek for them.
            catchingUp = true;
            continue;
        }
        if (seekCount != seenSeeks) {
            // Pictures taken before our seek was carried out are stale.
            seenSeeks = seekCount;
            pending.reset();
        }
        // Until the seek is carried out, what the queue holds may be from before it.
        if (seekPending || seeking) {
            QThread::msleep(1);
            continue;
        }

        if (!pending)
            pending = popFresh();
        std::unique_ptr<OxYUV420P> due;
        while (pending && pending->time <= target + stepOf(pending.get()) / 2) {
            if (due)
                ++dropped;
            due = std::move(pending);
            pending = popFresh();
        }

        if (due) {
            const double step = stepOf(due.get());
            const double behind = target - due->time;
            // As the player on its own clock does: skip while late, decode all once ahead.
            if (behind > step) {
                onTimeRun = 0;
                if (++lateRun >= kFollowLateRun) {
                    const int level = behind > 3 * step ? 2 : 1;
                    if (skipLevel < level)
                        skipLevel = level;
                }
            } else {
                lateRun = 0;
                if (++onTimeRun >= 8 && skipLevel > 0 && pending) {
                    skipLevel = 0;
                    onTimeRun = 0;
                }
            }
            if (behind > kSeekWhenBehind && !catchingUp) {
                qDebug("follower %lf s behind: seeking", behind);
                catchingUp = true;
                requestSeek(target);
                continue;
            }
            if (behind <= step)
                catchingUp = false;
            shownTime = due->time;
            shownStep = step;
            width = due->width;
            height = due->height;
            black = false;
            _videoTime = due->time;
            clockTime = due->time;
            shownSource = due->source;
            if (videoView)
                videoView->setFrame(due.release());
            continue;
        }

        // Nothing due. Past the picture on screen with no picture for this time: black.
        if (!black && target >= shownTime + 1.5 * shownStep) {
            const int covering = sourceCovering(target);
            const bool noneHere = covering < 0 || (pending && pending->source > covering) ||
                                  (!pending && endReached && pictureQueue->size() == 0);
            if (noneHere) {
                black = true;
                shownSource = -1;
                if (videoView && width > 0) {
                    std::unique_ptr<OxYUV420P> picture = blackPicture(width, height);
                    picture->time = target;
                    picture->source = -1;
                    videoView->setFrame(picture.release());
                }
            }
        }
        QThread::msleep(1);
    }
}
