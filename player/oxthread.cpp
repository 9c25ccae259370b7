#include "oxthread.h"

OxThread::OxThread(QObject *parent) : QThread(parent)
{
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
