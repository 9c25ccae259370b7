#include "exportjob.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

ExportJob::ExportJob(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<ExportResult>();
}

ExportJob::~ExportJob()
{
    cancel();
    wait();
}

bool ExportJob::start(const ExportRequest &request)
{
    if (running.load())
        return false;
    wait();
    stopFlag = false;
    running = true;
    worker = std::thread([this, request] {
        // Below the window and the player: the decoder's and the encoder's threads, started
        // from this one, inherit the nice value, so playback keeps the CPU it needs.
        setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10);
        const ExportResult result =
            runExport(request, &stopFlag, [this](double fraction, double secondsLeft) {
                emit progressChanged(fraction, secondsLeft);
            });
        running = false;
        emit finished(result);
    });
    return true;
}

void ExportJob::cancel()
{
    stopFlag = true;
}

void ExportJob::wait()
{
    if (worker.joinable())
        worker.join();
}
