#pragma once

#include <QThread>

#include <atomic>

// A worker thread with a stop flag: the base of the engine's threads and of the
// playlist's probing thread, so it lives in the media core without the engine.
// Stopping always means requestStop() followed by waitFinished(); the worker's loop
// polls the flag. The owner then joins the thread with wait(), after which everything
// the worker did is visible to it.
class OxThread : public QThread
{
public:
    explicit OxThread(QObject *parent = nullptr);

    void requestStop();
    void waitFinished();
    bool isStopRequested() const { return stopRequested.load(); }
    // For waits inside the worker that must give up when the thread is asked to stop.
    const std::atomic<bool> *stopFlag() const { return &stopRequested; }

protected:
    // Written by the stopping thread, read by the worker.
    std::atomic<bool> stopRequested{false};
};
