#include "oxthread.h"

#include "streamreader.h"

OxThread::OxThread(QObject *parent) : QThread(parent)
{
    // Both run on this thread: any stream reader its worker waits in gives up once the
    // thread is asked to stop, so a slow or stuck file never holds up a stop.
    connect(
        this, &QThread::started, this, [this] { StreamReader::setThreadStopFlag(&stopRequested); },
        Qt::DirectConnection);
    connect(
        this, &QThread::finished, this, [] { StreamReader::setThreadStopFlag(nullptr); },
        Qt::DirectConnection);
}

void OxThread::requestStop()
{
    stopRequested = true;
}

void OxThread::waitFinished()
{
    while (isRunning())
        QThread::msleep(1);
}
