#pragma once

#include "recordingfacts.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

// Finds the facts of many recordings on a thread of its own, so a window can ask for
// a card of 500 clips without waiting: enqueue the paths, receive factsReady once per
// path (queued to the receiver's thread). Recordings in the cache are answered first,
// in the order asked, each in well under a millisecond; the others are then probed in
// order and cached. A path asked for again while queued is not queued twice.
//
//     auto *prober = new RecordingFactsProber(this);
//     connect(prober, &RecordingFactsProber::factsReady, this, &Window::onFacts);
//     prober->enqueue(paths);                      // the rows of the playlist
//     prober->enqueue({clickedDrivePaths}, true);  // these first
//
// The worker starts with the first enqueue and runs until stopAndWait (called by the
// destructor); a stop ends it within one probing step (see probeRecordingFacts).
class RecordingFactsProber : public QThread
{
    Q_OBJECT
public:
    explicit RecordingFactsProber(QObject *parent = nullptr);
    ~RecordingFactsProber() override;

    // GUI thread. urgent puts the paths before everything queued.
    void enqueue(const QStringList &paths, bool urgent = false);
    // GUI thread. Forgets every path not started yet.
    void clear();
    // GUI thread. The facts last delivered for path in this session, without touching
    // the disk; nothing when none were.
    std::optional<RecordingFacts> known(const QString &path) const;
    // Paths queued and not yet answered.
    int pending() const;
    // GUI thread. While held, recordings that are not in the cache wait to be opened
    // (the cached ones are still answered): a recording starting to play has the
    // processor and the disk to itself.
    void holdProbing(bool hold);
    void stopAndWait();

signals:
    void factsReady(const RecordingFacts &facts);
    // Every queued path has been answered.
    void drained();

protected:
    void run() override;

private:
    bool takeNext(QString &path, bool &probe);

    mutable std::mutex lock;
    std::condition_variable wake;
    // Guarded by lock: the GUI thread appends, the worker takes. toCheck holds paths
    // whose cache file is yet to be read, toProbe those that missed it.
    std::deque<QString> toCheck;
    std::deque<QString> toProbe;
    // Guarded by lock: every path in either queue or being worked on, absolute.
    QSet<QString> queued;
    // Guarded by lock: written by the worker, read by known().
    QHash<QString, RecordingFacts> delivered;
    // Guarded by lock: set by holdProbing.
    bool held = false;
    // Written by stopAndWait on the GUI thread, read by the worker between steps.
    std::atomic<bool> stopRequested{false};
};
