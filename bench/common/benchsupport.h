#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// A clip made once by ffmpeg (the arguments before the output file) and kept in
// cacheDir/name/name.mp4, each in a folder of its own so that a player adding the
// clip's folder to its playlist finds nothing else there. Empty when ffmpeg failed.
QString cachedClip(const QString &cacheDir, const QString &name, const QStringList &ffmpegArgs,
                   int timeoutMs = 900000);

// A process with all its descendants, read from /proc: CPU seconds (user and system,
// children already reaped included) and resident memory summed over the processes, and
// the CPU seconds of their drawing threads (the software OpenGL's, named llvmpipe-N).
struct TreeUsage
{
    double cpuSeconds = 0;
    double drawCpuSeconds = 0;
    double rssMb = 0;
    int processes = 0;
};
TreeUsage treeUsage(qint64 rootPid);

// The median wall time of runs calls of step, in milliseconds.
double medianMs(const std::function<void()> &step, int runs = 5);

// The median of values (the upper one of an even count); -1 when there are none.
double median(QVector<double> values);

// Runs the event loop until done() or timeoutMs have passed; false on time-out.
bool waitFor(const std::function<bool()> &done, int timeoutMs);
