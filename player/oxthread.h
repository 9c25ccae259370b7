#pragma once

#include <QThread>

#include <atomic>

class OxFFPlayer;

// A worker thread with a stop flag. Stopping always means requestStop() followed by
// waitFinished(); the worker's loop polls the flag. The owner then joins the thread with
// wait(), after which everything the worker did is visible to it.
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

class OxFFPlayerThread : public OxThread
{
public:
    explicit OxFFPlayerThread(OxFFPlayer *player);
    ~OxFFPlayerThread() override;

protected:
    OxFFPlayer *player = nullptr; // borrowed
};

class OxDecodeThread : public OxFFPlayerThread
{
public:
    using OxFFPlayerThread::OxFFPlayerThread;

protected:
    void run() override;
};

class OxVideoThread : public OxFFPlayerThread
{
public:
    using OxFFPlayerThread::OxFFPlayerThread;

protected:
    void run() override;
};

class OxAudioThread : public OxFFPlayerThread
{
public:
    using OxFFPlayerThread::OxFFPlayerThread;

protected:
    void run() override;
};

// Carries out frame steps while the player is paused.
class OxStepThread : public OxFFPlayerThread
{
public:
    using OxFFPlayerThread::OxFFPlayerThread;

protected:
    void run() override;
};
