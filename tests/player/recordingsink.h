#pragma once

#include "oxffplayer.h"
#include "oxframesink.h"
#include "oxmediadata.h"

#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QVector>

extern "C" {
#include <libavutil/time.h>
}

// A view that only records what the player hands it: the picture's time, the luma in
// its middle (which tells the frame number of the test recordings) and when it came.
class RecordingSink : public OxFrameSink
{
public:
    struct Entry
    {
        double time;
        int luma;
        int64_t arrivalUs;
        int width;
        int height;
    };

    // A sink this slow stands for a machine that cannot draw every picture in time.
    explicit RecordingSink(int delayUs = 0) : delayUs(delayUs) {}

    void setFrame(OxYUV420P *picture) override
    {
        if (delayUs > 0)
            av_usleep(unsigned(delayUs));
        const int luma = picture->y[(picture->height / 2) * picture->width + picture->width / 2];
        QMutexLocker lock(&mutex);
        entries.append({picture->time, luma, av_gettime(), picture->width, picture->height});
        delete picture;
    }

    QVector<Entry> snapshot()
    {
        QMutexLocker lock(&mutex);
        return entries;
    }

    int count()
    {
        QMutexLocker lock(&mutex);
        return entries.size();
    }

private:
    const int delayUs;
    QMutex mutex;
    QVector<Entry> entries;
};

// Collects the player's progress reports; the callback runs on the video thread.
class ReportLog
{
public:
    struct Report
    {
        int type;
        double current;
        double duration;
        int picturesBefore; // pictures the sink held when the report came
    };

    explicit ReportLog(RecordingSink *sink = nullptr) : sink(sink) {}

    void attach(OxFFPlayer &player) { player.setCallback(this, &ReportLog::callback); }

    QVector<Report> snapshot()
    {
        QMutexLocker lock(&mutex);
        return reports;
    }

    // Type of the last end report (1 or 2), or 0 while there is none.
    int endType()
    {
        QMutexLocker lock(&mutex);
        for (const Report &r : reports) {
            if (r.type != OxFFPlayer::ReportPicture)
                return r.type;
        }
        return 0;
    }

    void clear()
    {
        QMutexLocker lock(&mutex);
        reports.clear();
    }

private:
    static void callback(void *owner, int type, double current, double duration)
    {
        auto *self = static_cast<ReportLog *>(owner);
        const int pictures = self->sink ? self->sink->count() : 0;
        QMutexLocker lock(&self->mutex);
        self->reports.append({type, current, duration, pictures});
    }

    RecordingSink *sink;
    QMutex mutex;
    QVector<Report> reports;
};

// A player wired to a recording sink and a report log, as the engine tests use it. The
// player is declared last, so it stops before the sink and the log go.
struct PlayerRig
{
    RecordingSink sink;
    ReportLog log{&sink};
    OxFFPlayer player;

    explicit PlayerRig(int sinkDelayUs = 0) : sink(sinkDelayUs)
    {
        player.setVideoView(&sink);
        log.attach(player);
    }
    int open(const QString &path) { return player.open(path.toUtf8().constData()); }
};
