// Plays a 60-second 1080p30 H.264 + AAC clip through the real engine and prints its
// figures against references measured in the same run.
#include "oxffplayer.h"
#include "oxframesink.h"
#include "oxmediadata.h"
#include "testrecordings.h"

#include "oxvideoview.h"
#ifdef DASHCAM_BENCH_TRIP
#include "oxmapwidget.h"
#include "videoinfoview.h"
#endif

#include <QApplication>
#include <QAudioDeviceInfo>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QThread>
#include <QVector>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <time.h>

extern "C" {
#include <libavutil/time.h>
}

namespace {

constexpr double kNominalMs = 1000.0 * 1001.0 / 30000.0;

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU time of the calling thread alone: the benchmark's own polling on the main thread.
double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double statusMb(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(strlen(key))).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

[[maybe_unused]] double peakRssMb()
{
    return statusMb("VmHWM:");
}

QString benchClip()
{
    const QString dir = QStringLiteral(DASHCAM_BENCH_CACHE);
    QDir().mkpath(dir);
    const QString path = dir + QStringLiteral("/playback-1080p30-60s.mp4");
    if (QFile::exists(path))
        return path;
    printf("making %s (once)\n", qPrintable(path));
    fflush(stdout);
    const QString part = path + QStringLiteral(".part.mp4");
    const QStringList args = {
        "-f",   "lavfi",   "-i",       "testsrc2=size=1920x1080:rate=30000/1001:duration=60",
        "-f",   "lavfi",   "-i",       "sine=frequency=440:sample_rate=48000:duration=60",
        "-map", "0:v",     "-map",     "1:a",
        "-c:v", "libx264", "-preset",  "superfast",
        "-g",   "30",      "-pix_fmt", "yuv420p",
        "-c:a", "aac",     "-ac",      "2",
        part};
    if (!runFfmpeg(args, 600000))
        return QString();
    QFile::rename(part, path);
    return path;
}

// Records when each picture came and what time it carried, then passes it on (or drops it).
class TimingSink : public OxFrameSink
{
public:
    explicit TimingSink(OxFrameSink *next = nullptr) : next(next) {}

    void setFrame(OxYUV420P *picture) override
    {
        {
            QMutexLocker lock(&mutex);
            arrivals.append(av_gettime());
            times.append(picture->time);
        }
        if (next)
            next->setFrame(picture);
        else
            delete picture;
    }

    int count()
    {
        QMutexLocker lock(&mutex);
        return arrivals.size();
    }

    // Index of the first picture that arrived at or after t (microseconds).
    int firstAfter(int64_t t)
    {
        QMutexLocker lock(&mutex);
        for (int i = arrivals.size() - 1; i >= 0; --i) {
            if (arrivals[i] < t)
                return i + 1 < arrivals.size() ? i + 1 : -1;
        }
        return arrivals.isEmpty() ? -1 : 0;
    }

    int64_t arrival(int i)
    {
        QMutexLocker lock(&mutex);
        return arrivals[i];
    }

    double time(int i)
    {
        QMutexLocker lock(&mutex);
        return times[i];
    }

    QVector<int64_t> arrivalsBetween(int64_t from, int64_t to)
    {
        QMutexLocker lock(&mutex);
        QVector<int64_t> out;
        for (int64_t a : arrivals) {
            if (a >= from && a <= to)
                out.append(a);
        }
        return out;
    }

    void clear()
    {
        QMutexLocker lock(&mutex);
        arrivals.clear();
        times.clear();
    }

private:
    OxFrameSink *next;
    QMutex mutex;
    QVector<int64_t> arrivals;
    QVector<double> times;
};

// Waits, keeping the GUI thread's events flowing (the real view repaints through them),
// and calls poll every millisecond.
template <typename Poll> void spin(double seconds, Poll poll)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < seconds * 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        poll();
        QThread::msleep(1);
    }
}

void spin(double seconds)
{
    spin(seconds, [] {});
}

#ifdef DASHCAM_BENCH_TRIP
// The trip panel and the map in a window, moved once per whole second of playback
// position as the main window moves them, with a track of one fix per second. Times the
// work each update costs on the GUI thread.
class TripDisplay : public QObject
{
    Q_OBJECT
public:
    TripDisplay()
    {
        window.resize(1280, 720);
        panel = new VideoInfoView(&window);
        panel->setGeometry(0, 480, 980, 200);
        map = new OxMapWidget(&window);
        map->setGeometry(980, 0, 300, 340);
        map->setMapType(2);
        map->setGPSCorrection(1);
        window.show();
        OxTrack track;
        for (int s = 0; s < 60; ++s) {
            OxLocation fix;
            fix.valid = true;
            fix.latitude = 31.23 + s * 0.0002;
            fix.longitude = 121.47 + s * 0.0001;
            fix.speed = 40 + s;
            fix.minute = s / 60;
            fix.second = s % 60;
            track.append(fix);
        }
        panel->setTrack(track);
        map->showTrack(track);
        connect(this, &TripDisplay::progress, this, &TripDisplay::onProgress, Qt::QueuedConnection);
    }

    static void callback(void *owner, int type, double current, double duration)
    {
        emit static_cast<TripDisplay *>(owner)->progress(type, current, duration);
    }

    QVector<double> costsMs;

signals:
    void progress(int type, double current, double duration);

private slots:
    void onProgress(int type, double current, double duration)
    {
        if (type != 3 || int(current) == lastSecond)
            return;
        lastSecond = int(current);
        QElapsedTimer timer;
        timer.start();
        panel->updatePosition(current, duration);
        map->updateProgress(current, duration);
        // The repaint of the panel and its gauge is part of the update's cost.
        panel->repaint();
        costsMs.append(timer.nsecsElapsed() / 1e6);
    }

private:
    QWidget window;
    VideoInfoView *panel;
    OxMapWidget *map;
    int lastSecond = -1;
};
#else
class TripDisplay;
#endif

struct Figures
{
    double cpuPerSecond = 0;
    double firstPictureMs = 0;
    double seekMs = 0;
    double pacingStdMs = 0;
    double pacingMaxMs = 0;
    double pacingMeanMs = 0;
    double avOffsetMs = 0;
    double measuringCpu = 0;
    bool hasSound = false;
};

bool waitFor(TimingSink &sink, int count, double seconds)
{
    QElapsedTimer timer;
    timer.start();
    while (sink.count() < count && timer.elapsed() < seconds * 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::msleep(1);
    }
    return sink.count() >= count;
}

Figures measure(const QByteArray &clip, OxFrameSink *view, double steadySeconds,
                TripDisplay *trip = nullptr)
{
    Figures f;
    TimingSink sink(view);
    OxFFPlayer player;
    player.setVideoView(&sink);
#ifdef DASHCAM_BENCH_TRIP
    if (trip)
        player.setCallback(trip, &TripDisplay::callback);
#else
    Q_UNUSED(trip);
#endif

    // Open to first picture, including the file opening: the median of three.
    QVector<double> firsts;
    for (int i = 0; i < 3; ++i) {
        sink.clear();
        const int64_t start = av_gettime();
        if (player.open(clip.constData()) < 0) {
            fprintf(stderr, "open failed\n");
            return f;
        }
        waitFor(sink, 1, 10);
        firsts.append((sink.arrival(0) - start) / 1000.0);
        if (i < 2)
            player.stop();
    }
    std::sort(firsts.begin(), firsts.end());
    f.firstPictureMs = firsts[1];
    f.hasSound = player.hasAudioOutput();

    // Steady state: after three seconds of settling.
    spin(3);
    printf("resident while playing: %.1f MB, %lld pictures queued (limit %d + 1)\n",
           statusMb("VmRSS:"), (long long)player.queuedPictures(), player.frameCacheLimit());
    const int64_t from = av_gettime();
    const double cpuFrom = cpuSeconds(RUSAGE_SELF);
    const double ownFrom = threadCpuSeconds();
    rusage faultsFrom{};
    getrusage(RUSAGE_SELF, &faultsFrom);
    double av = 0;
    spin(steadySeconds, [&] {
        if (f.hasSound)
            av = std::max(av, std::fabs(player.audioClock() - player.videoTime()));
    });
    const double cpuTo = cpuSeconds(RUSAGE_SELF);
    const double own = threadCpuSeconds() - ownFrom;
    rusage faultsTo{};
    getrusage(RUSAGE_SELF, &faultsTo);
    printf("page faults while playing: %.0f per second\n",
           (faultsTo.ru_minflt - faultsFrom.ru_minflt) / steadySeconds);
    const int64_t to = av_gettime();
    // The engine's threads and the libraries' (decoder, sound); not this thread's polling,
    // except where it paints for the OpenGL view.
    f.cpuPerSecond = (cpuTo - cpuFrom - (view ? 0.0 : own)) / ((to - from) / 1e6);
    f.measuringCpu = own / ((to - from) / 1e6);
    f.avOffsetMs = av * 1000.0;

    const QVector<int64_t> arrivals = sink.arrivalsBetween(from, to);
    QVector<double> gaps;
    for (int i = 1; i < arrivals.size(); ++i)
        gaps.append((arrivals[i] - arrivals[i - 1]) / 1000.0);
    if (!gaps.isEmpty()) {
        double sum = 0;
        for (double g : gaps)
            sum += g;
        f.pacingMeanMs = sum / gaps.size();
        double var = 0;
        for (double g : gaps) {
            var += (g - kNominalMs) * (g - kNominalMs);
            f.pacingMaxMs = std::max(f.pacingMaxMs, g);
        }
        f.pacingStdMs = std::sqrt(var / gaps.size());
    }

    // Seeks while playing: request to the first picture from the new position.
    for (double target : {45.5, 12.2, 52.0, 20.7, 33.3}) {
        const int64_t asked = av_gettime();
        player.requestSeek(target);
        QElapsedTimer timer;
        timer.start();
        double latency = -1;
        while (latency < 0 && timer.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            for (int i = std::max(0, sink.firstAfter(asked)); i >= 0 && i < sink.count(); ++i) {
                const double t = sink.time(i);
                if (t <= target + 0.05 && t >= target - 1.1) {
                    latency = (sink.arrival(i) - asked) / 1000.0;
                    break;
                }
            }
            QThread::msleep(1);
        }
        f.seekMs = std::max(f.seekMs, latency < 0 ? 5000.0 : latency);
        spin(1.5);
    }
    player.stop();
    return f;
}

void print(const char *label, const Figures &f)
{
    printf("%s: cpu %.3f s/s (measuring thread %.3f s/s), first picture %.1f ms, worst seek %.1f "
           "ms, pacing mean %.3f ms "
           "sd %.3f ms max %.1f ms, sound-picture %.1f ms%s\n",
           label, f.cpuPerSecond, f.measuringCpu, f.firstPictureMs, f.seekMs, f.pacingMeanMs,
           f.pacingStdMs, f.pacingMaxMs, f.avOffsetMs, f.hasSound ? "" : " (no sound device)");
}

} // namespace

int main(int argc, char **argv)
{
    // Without a screen the picture-sink run still goes; the OpenGL view and the trip
    // display need X.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef DASHCAM_BENCH_TRIP
    QApplication app(argc, argv);
    const QString clip = benchClip();
    if (clip.isEmpty())
        return 1;

    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        printf("(no X display: the trip display run is skipped)\n");
        return 0;
    }
    const QByteArray path = clip.toUtf8();
    {
        // The same pictures while the GUI thread moves the trip panel and the map once a
        // second: the pacing must not suffer.
        OxMapWidget::setPageRoot(QStringLiteral(DASHCAM_RUNTIME_DIR));
        TripDisplay trip;
        spin(3); // let the map page load
        const Figures withTrip = measure(path, nullptr, 25, &trip);
        print("picture sink with the trip display updated once a second", withTrip);
        QVector<double> costs = trip.costsMs;
        std::sort(costs.begin(), costs.end());
        if (!costs.isEmpty())
            printf("trip update on the GUI thread: median %.2f ms, max %.2f ms over %d updates\n",
                   costs[costs.size() / 2], costs.last(), int(costs.size()));
        printf("figure pacing_stddev_with_trip_ms value=%.3f reference=%.3f target=2\n",
               withTrip.pacingStdMs, kNominalMs);
        printf("figure pacing_max_interval_with_trip_ms value=%.1f reference=%.3f target=50\n",
               withTrip.pacingMaxMs, kNominalMs);
        fflush(stdout);
    }

    return 0;
}
#else
    QApplication app(argc, argv);
    const QString clip = benchClip();
    if (clip.isEmpty())
        return 1;

    // Reference: FFmpeg's own decoding of the same clip, CPU seconds per second of content.
    const double childBefore = cpuSeconds(RUSAGE_CHILDREN);
    if (!runFfmpeg({"-threads", "2", "-i", clip, "-f", "null", "-"}, 600000))
        return 1;
    const double reference = (cpuSeconds(RUSAGE_CHILDREN) - childBefore) / 60.0;
    printf("reference: ffmpeg -threads 2 decodes at %.3f CPU s per s of content\n", reference);
    printf("sound device: %s\n",
           QAudioDeviceInfo::defaultOutputDevice().isNull()
               ? "none"
               : qPrintable(QAudioDeviceInfo::defaultOutputDevice().deviceName()));
    fflush(stdout);

    const QByteArray path = clip.toUtf8();
    printf("resident before playing: %.1f MB\n", statusMb("VmRSS:"));
    const Figures sink = measure(path, nullptr, 25);
    const double rss = peakRssMb();
    print("picture sink", sink);

    printf("figure cpu_seconds_per_second value=%.3f reference=%.3f target=%.3f\n",
           sink.cpuPerSecond, reference, 1.3 * reference);
    printf("figure open_to_first_picture_ms value=%.1f reference=- target=150\n",
           sink.firstPictureMs);
    printf("figure seek_latency_ms value=%.1f reference=- target=200\n", sink.seekMs);
    printf("figure pacing_stddev_ms value=%.3f reference=%.3f target=2\n", sink.pacingStdMs,
           kNominalMs);
    printf("figure pacing_max_interval_ms value=%.1f reference=%.3f target=50\n", sink.pacingMaxMs,
           kNominalMs);
    if (sink.hasSound)
        printf("figure sound_picture_offset_ms value=%.1f reference=- target=45\n",
               sink.avOffsetMs);
    else
        printf("(no sound device: sound_picture_offset_ms not measured)\n");
    printf("figure peak_rss_mb value=%.1f reference=- target=250\n", rss);
    fflush(stdout);

    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        OxVideoView view;
        view.resize(1280, 720);
        view.show();
        spin(0.5);
        const Figures gl = measure(path, &view, 15);
        print("OpenGL view (software GL, no target)", gl);
    } else {
        printf("(no X display: the OpenGL view run is skipped)\n");
    }
    return 0;
}
#endif

#include "bench_playback.moc"
