#include "factsprober.h"

#include "factscache.h"

#include <QFileInfo>

#include <algorithm>

RecordingFactsProber::RecordingFactsProber(QObject *parent) : QThread(parent)
{
    qRegisterMetaType<RecordingFacts>();
}

RecordingFactsProber::~RecordingFactsProber()
{
    stopAndWait();
}

void RecordingFactsProber::enqueue(const QStringList &paths, bool urgent)
{
    {
        std::lock_guard<std::mutex> locker(lock);
        QStringList fresh;
        for (const QString &path : paths) {
            const QString absolute = QFileInfo(path).absoluteFilePath();
            if (!queued.contains(absolute)) {
                queued.insert(absolute);
                fresh << absolute;
            } else if (urgent) {
                // Already waiting: moved forward in its queue unless it has been started.
                for (std::deque<QString> *queue : {&toCheck, &toProbe}) {
                    const auto it = std::find(queue->begin(), queue->end(), absolute);
                    if (it != queue->end()) {
                        queue->erase(it);
                        queue->push_front(absolute);
                    }
                }
            }
        }
        toCheck.insert(urgent ? toCheck.begin() : toCheck.end(), fresh.begin(), fresh.end());
    }
    wake.notify_one();
    if (!isRunning() && !stopRequested)
        start(QThread::IdlePriority); // only what playback leaves over
}

void RecordingFactsProber::clear()
{
    std::lock_guard<std::mutex> locker(lock);
    for (const QString &path : toCheck)
        queued.remove(path);
    for (const QString &path : toProbe)
        queued.remove(path);
    toCheck.clear();
    toProbe.clear();
}

std::optional<RecordingFacts> RecordingFactsProber::known(const QString &path) const
{
    std::lock_guard<std::mutex> locker(lock);
    const auto it = delivered.constFind(QFileInfo(path).absoluteFilePath());
    if (it == delivered.constEnd())
        return std::nullopt;
    return *it;
}

int RecordingFactsProber::pending() const
{
    std::lock_guard<std::mutex> locker(lock);
    return queued.size();
}

void RecordingFactsProber::holdProbing(bool hold)
{
    {
        std::lock_guard<std::mutex> locker(lock);
        held = hold;
    }
    wake.notify_one();
}

void RecordingFactsProber::stopAndWait()
{
    {
        std::lock_guard<std::mutex> locker(lock);
        stopRequested = true;
    }
    wake.notify_one();
    wait();
}

bool RecordingFactsProber::takeNext(QString &path, bool &probe)
{
    std::unique_lock<std::mutex> locker(lock);
    wake.wait(locker,
              [this] { return stopRequested || !toCheck.empty() || (!held && !toProbe.empty()); });
    if (stopRequested)
        return false;
    probe = toCheck.empty();
    std::deque<QString> &from = probe ? toProbe : toCheck;
    path = from.front();
    from.pop_front();
    return true;
}

void RecordingFactsProber::run()
{
    QString path;
    bool probe = false;
    while (takeNext(path, probe)) {
        std::optional<RecordingFacts> facts =
            probe ? probeAndCacheFacts(path, &stopRequested) : readCachedFacts(path);
        if (!facts && !probe && !stopRequested) {
            std::lock_guard<std::mutex> locker(lock);
            toProbe.push_back(path);
            continue;
        }
        bool empty = false;
        {
            std::lock_guard<std::mutex> locker(lock);
            queued.remove(path);
            empty = queued.isEmpty();
            if (facts)
                delivered.insert(path, *facts);
        }
        if (facts)
            emit factsReady(*facts);
        if (empty && !stopRequested)
            emit drained();
    }
}
