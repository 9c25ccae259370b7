#pragma once

#include "oxthread.h"
#include "oxvideoinfo.h"

#include <QList>

#include <atomic>
#include <mutex>

// The playlist's probing thread: takes rows in the order they were queued, opens every
// recording of the row's entry that is not probed yet, writes its first picture as the
// thumbnail and hands the values back by videoInfoLoaded. It works on a copy of the
// entry and never touches a row: widgets belong to the GUI thread.
class OxVideoInfoLoadThread : public OxThread
{
    Q_OBJECT
public:
    explicit OxVideoInfoLoadThread(QObject *parent = nullptr);

    // GUI thread. Queues a copy of a row's entry under the row's id and starts the
    // thread when it is idle.
    void addRow(quint64 rowId, const OxVideoInfo &info);
    // GUI thread. Forgets queued rows that are being removed.
    void removeItemWidget(quint64 rowId);
    void removeAllItemWidgets();
    // GUI thread. While held, rows are queued but not probed: the worker ends after its
    // current row, and starts again when released. A batch of new rows is then not
    // slowed down by probing (and its disk writes) on the other core.
    void setHeld(bool held);
    // GUI thread. Asks the worker to stop and returns once it has ended: within one
    // packet read when it is searching a recording for its first picture.
    void stopAndWait();

    // Thumbnail file of a recording: its file name (as plain text, shortened to fit the
    // file system's 255 bytes) plus a hash of its absolute path, size and modification
    // time, so equal names from two folders, or a name reused on a reformatted card,
    // never share a picture.
    static QString thumbnailPath(const QString &folder, const OxVideoFile &video);

signals:
    // One row's entry with its probe values and thumbnail paths filled in.
    void videoInfoLoaded(quint64 rowId, const OxVideoInfo &info);

protected:
    void run() override;

private:
    // Under lock: true when the caller is to start a run (and the worker counts as
    // active from now on).
    bool claimStart();
    void startRun();

    struct Job
    {
        quint64 rowId = 0;
        OxVideoInfo info;
    };

    // A plain std::mutex rather than QMutex: the thread sanitizer sees its ordering.
    std::mutex lock;
    // Guarded by lock: the GUI thread appends and removes, the worker takes the first.
    QList<Job> queue;
    // Guarded by lock. Set by addItemWidget when it starts the thread, cleared by the
    // worker when it finds the queue empty and decides to end; so a row queued at any
    // moment is either seen by the running worker or starts a new run.
    bool active = false;
    // Guarded by lock: written by the GUI thread, read by the worker between rows.
    bool held = false;
    // Runs started (written by the GUI thread only) and runs ended (counted by the
    // worker as its last step, with release order): equal once the worker has let go of
    // everything, so the GUI thread may destroy what it used.
    int runsStarted = 0;
    std::atomic<int> runsEnded{0};
};
