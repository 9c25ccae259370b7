#include "oxvideoinfoloadthread.h"

#include "oxfileutils.h"
#include "oxjpeg.h"

#include <QFile>
#include <QFileInfo>
#include <QtDebug>

OxVideoInfoLoadThread::OxVideoInfoLoadThread(QObject *parent) : OxThread(parent)
{
    qRegisterMetaType<OxVideoInfo>();
}

void OxVideoInfoLoadThread::addRow(quint64 rowId, const OxVideoInfo &info)
{
    bool start = false;
    {
        std::lock_guard<std::mutex> locker(lock);
        queue.append(Job{rowId, info});
        start = claimStart();
    }
    if (start)
        startRun();
}

void OxVideoInfoLoadThread::setHeld(bool value)
{
    bool start = false;
    {
        std::lock_guard<std::mutex> locker(lock);
        held = value;
        start = !queue.isEmpty() && claimStart();
    }
    if (start)
        startRun();
}

bool OxVideoInfoLoadThread::claimStart()
{
    if (active || held || isStopRequested())
        return false;
    active = true;
    return true;
}

void OxVideoInfoLoadThread::startRun()
{
    // The worker may still be on its way out after finding the queue empty; it looks at
    // the queue no more, so waiting for it takes no longer than its exit.
    if (isRunning())
        wait();
    ++runsStarted;
    // Thumbnails take only the processor time that playback leaves over (a scheduling
    // class of its own on Linux, inherited by the decoder's threads).
    start(QThread::IdlePriority);
}

void OxVideoInfoLoadThread::removeItemWidget(quint64 rowId)
{
    std::lock_guard<std::mutex> locker(lock);
    for (int i = queue.size() - 1; i >= 0; --i) {
        if (queue.at(i).rowId == rowId)
            queue.removeAt(i);
    }
}

void OxVideoInfoLoadThread::removeAllItemWidgets()
{
    std::lock_guard<std::mutex> locker(lock);
    queue.clear();
}

QString OxVideoInfoLoadThread::thumbnailPath(const QString &folder, const OxVideoFile &video)
{
    return folder + QLatin1Char('/') +
           OxFileUtils::recordingCacheName(video.path, QStringLiteral("jpg"));
}

void OxVideoInfoLoadThread::run()
{
    qDebug("OxVideoInfoLoadThread %p began", static_cast<void *>(this));
    const QString folder = OxFileUtils().thumbnailDir();
    while (!isStopRequested()) {
        Job job;
        {
            std::lock_guard<std::mutex> locker(lock);
            if (queue.isEmpty() || held) {
                active = false;
                break;
            }
            job = queue.takeFirst();
        }
        for (OxVideoFile &video : job.info.videos) {
            if (isStopRequested())
                break;
            if (video.isProbed())
                continue;
            if (video.thumb.isEmpty())
                video.thumb = thumbnailPath(folder, video);
            ProbeResult result;
            result.thumb = video.thumb;
            if (probeVideo(QFile::encodeName(video.path).constData(), result, stopFlag()) >= 0) {
                video.width = result.width;
                video.height = result.height;
                video.fps = result.fps;
                video.duration = result.duration;
            }
        }
        if (!isStopRequested())
            emit videoInfoLoaded(job.rowId, job.info);
    }
    qDebug("OxVideoInfoLoadThread %p ended", static_cast<void *>(this));
    runsEnded.fetch_add(1, std::memory_order_release);
}

void OxVideoInfoLoadThread::stopAndWait()
{
    requestStop();
    waitFinished();
    while (runsEnded.load(std::memory_order_acquire) != runsStarted)
        QThread::msleep(1);
    wait(); // the OS thread too, before the owner deletes this object
}
