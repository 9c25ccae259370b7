#pragma once

#include "evidenceexport.h"

#include <QObject>

#include <atomic>
#include <thread>

// runExport on a thread of its own, for a window that stays usable meanwhile. Its
// signals are emitted on the worker and reach receivers on other threads queued,
// carrying values only.
class ExportJob : public QObject
{
    Q_OBJECT
public:
    explicit ExportJob(QObject *parent = nullptr);
    ~ExportJob() override; // cancels a running export and waits for it

    // Starts the export; false when one is still running.
    bool start(const ExportRequest &request);
    // Asks the running export to stop; finished follows with cancelled set once its
    // files are gone.
    void cancel();
    bool isRunning() const { return running.load(); }
    // Blocks until the worker has ended.
    void wait();

signals:
    void progressChanged(double fraction, double secondsLeft);
    void finished(const ExportResult &result);

private:
    std::thread worker;
    // Written by the owner's thread (start, cancel), read by the worker between pictures.
    std::atomic<bool> stopFlag{false};
    // Set by start, cleared by the worker after its last step.
    std::atomic<bool> running{false};
};
