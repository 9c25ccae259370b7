#include "benchsupport.h"

#include "testrecordings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QThread>
#include <QVector>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

QString cachedClip(const QString &cacheDir, const QString &name, const QStringList &ffmpegArgs,
                   int timeoutMs)
{
    const QString dir = cacheDir + QLatin1Char('/') + name;
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".mp4");
    if (QFile::exists(path))
        return path;
    QDir().mkpath(dir);
    std::printf("making %s (once)\n", qPrintable(path));
    std::fflush(stdout);
    // Written beside the folder and moved in when complete, so an interrupted run
    // leaves no half clip behind.
    const QString part = cacheDir + QLatin1Char('/') + name + QStringLiteral(".part.mp4");
    if (!runFfmpeg(ffmpegArgs + QStringList{part}, timeoutMs) || !QFile::rename(part, path))
        return QString();
    return path;
}

namespace {

struct ProcStat
{
    qint64 parent = 0;
    double cpuSeconds = 0;
};

// Fields after the command name, which may hold spaces and parentheses: state is the
// first; the parent id the second; utime, stime, cutime, cstime the 12th to 15th.
bool readStat(qint64 pid, ProcStat *out)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.readAll();
    const int close = text.lastIndexOf(')');
    if (close < 0)
        return false;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.size() < 15)
        return false;
    static const double ticks = double(sysconf(_SC_CLK_TCK));
    out->parent = fields.at(1).toLongLong();
    double sum = 0;
    for (int i = 11; i <= 14; ++i)
        sum += fields.at(i).toDouble();
    out->cpuSeconds = sum / ticks;
    return true;
}

// The CPU seconds of the process's threads whose name starts with prefix.
double threadCpuSeconds(qint64 pid, const QByteArray &prefix)
{
    static const double ticks = double(sysconf(_SC_CLK_TCK));
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    double sum = 0;
    for (const QString &tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks + QLatin1Char('/') + tid + QStringLiteral("/stat"));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = file.readAll();
        const int open = text.indexOf('(');
        const int close = text.lastIndexOf(')');
        if (open < 0 || close < open || !text.mid(open + 1, close - open - 1).startsWith(prefix))
            continue;
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        if (fields.size() > 12)
            sum += (fields.at(11).toDouble() + fields.at(12).toDouble()) / ticks;
    }
    return sum;
}

double rssMb(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

} // namespace

TreeUsage treeUsage(qint64 rootPid)
{
    QHash<qint64, ProcStat> all;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        ProcStat stat;
        if (number && readStat(pid, &stat))
            all.insert(pid, stat);
    }
    TreeUsage usage;
    if (!all.contains(rootPid))
        return usage;
    QVector<qint64> tree{rootPid};
    for (int i = 0; i < tree.size(); ++i) {
        for (auto it = all.cbegin(); it != all.cend(); ++it) {
            if (it.value().parent == tree.at(i))
                tree.append(it.key());
        }
    }
    for (const qint64 pid : tree) {
        usage.cpuSeconds += all.value(pid).cpuSeconds;
        usage.drawCpuSeconds += threadCpuSeconds(pid, "llvmpipe");
        usage.rssMb += rssMb(pid);
    }
    usage.processes = tree.size();
    return usage;
}

double medianMs(const std::function<void()> &step, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        step();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double median(QVector<double> values)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::msleep(1);
    }
    return true;
}
