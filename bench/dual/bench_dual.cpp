// Plays a front and a rear channel of one moment, both 1080p30 H.264, the rear in a second
// engine that follows the front's clock and shows as a picture in picture in a 980 x 480
// video area (the window's), and, in the same run, the front alone in the same area.
// Prints how far playback falls behind the wall clock, how far apart the times of the two
// pictures on screen are (sampled at every picture of the front), and the CPU and memory
// of both channels against the front alone. Needs a screen (Xvfb); sound when there is a
// sound server.
#include "benchsupport.h"
#include "channelpairs.h"
#include "configkeys.h"
#include "jtvideoview.h"
#include "oxffplayer.h"
#include "oxvideoview.h"
#include "pairedchannel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>
#include <QVector>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <sys/resource.h>

namespace {

const QString kCache = QStringLiteral(DASHCAM_BENCH_CACHE);
constexpr int kPlaySeconds = 20;
// The start (opening, the second engine's first seek) is left out of the figures.
constexpr int kSettleMs = 1500;

QStringList clipArgs(const QString &pattern, const QString &colour, int seconds, bool sound)
{
    QStringList args{
        "-f", "lavfi", "-i",
        QStringLiteral("%1=size=1920x1080:rate=30:duration=%2").arg(pattern).arg(seconds)};
    if (sound)
        args << "-f"
             << "lavfi"
             << "-i"
             << QStringLiteral("sine=frequency=440:sample_rate=48000:duration=%1").arg(seconds);
    args << "-vf"
         << QStringLiteral("drawbox=x=iw*3/8:y=ih*3/8:w=iw/4:h=ih/4:color=%1:t=fill").arg(colour)
         << "-map"
         << "0:v";
    if (sound)
        args << "-map"
             << "1:a"
             << "-c:a"
             << "aac"
             << "-ac"
             << "2";
    return args + QStringList{"-c:v", "libx264", "-preset", "superfast", "-g",
                              "30",   "-b:v",    "12M",     "-pix_fmt",  "yuv420p"};
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double rssMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}

void runEvents(int ms, const std::function<void()> &each = {})
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (each)
            each();
        QThread::msleep(2);
    }
}

struct Run
{
    double lagPercent = 0;
    double cpuPerSecond = 0;
    double peakRssMb = 0;
    double syncMaxMs = 0;   // both channels: the times of the two pictures on screen
    QVector<double> syncMs; // every sample of it
    double clockMaxMs = 0;  // the front: its picture's time against the wall clock
    int samples = 0;
};

// Sampled on the window's thread after each picture of the front, as the window draws.
struct Sampler
{
    OxFFPlayer *front = nullptr;
    OxFFPlayer *rear = nullptr; // none: the front alone
    bool measuring = false;
    double wallStart = 0;
    double timeStart = 0;
    QElapsedTimer wall;
    Run *run = nullptr;

    void sample()
    {
        if (!measuring)
            return;
        const double t = front->videoTime();
        const double clock = timeStart + (wall.nsecsElapsed() / 1e9 - wallStart);
        run->clockMaxMs = std::max(run->clockMaxMs, std::abs(t - clock) * 1000);
        if (rear && rear->currentSource() >= 0) {
            const double apart = std::abs(t - rear->videoTime()) * 1000;
            run->syncMaxMs = std::max(run->syncMaxMs, apart);
            run->syncMs.append(apart);
            ++run->samples;
        }
    }
};

Sampler *activeSampler = nullptr;

void onReport(void *, int type, double, double)
{
    if (type != OxFFPlayer::ReportPicture)
        return;
    QMetaObject::invokeMethod(
        qApp,
        [] {
            if (activeSampler)
                activeSampler->sample();
        },
        Qt::QueuedConnection);
}

Run play(OxFFPlayer &front, PairedChannel *paired, const QString &frontClip,
         const ChannelPairing &pairing)
{
    Run run;
    Sampler sampler;
    sampler.front = &front;
    sampler.run = &run;
    activeSampler = &sampler;
    front.setCallback(nullptr, onReport);
    if (front.open(QFile::encodeName(frontClip).constData()) < 0) {
        std::fprintf(stderr, "bench_dual: cannot open %s\n", qPrintable(frontClip));
        return run;
    }
    if (paired) {
        if (!paired->play(pairing)) {
            std::fprintf(stderr, "bench_dual: cannot play the rear channel\n");
            return run;
        }
        sampler.rear = paired->follower();
    }
    runEvents(kSettleMs);

    sampler.wall.start();
    sampler.wallStart = 0;
    sampler.timeStart = front.videoTime();
    const double cpuStart = cpuSeconds();
    sampler.measuring = true;
    runEvents(kPlaySeconds * 1000, [&] { run.peakRssMb = std::max(run.peakRssMb, rssMb()); });
    sampler.measuring = false;
    const double wallSeconds = sampler.wall.nsecsElapsed() / 1e9;
    run.cpuPerSecond = (cpuSeconds() - cpuStart) / wallSeconds;
    run.lagPercent =
        std::max(0.0, (wallSeconds - (front.videoTime() - sampler.timeStart)) / wallSeconds * 100);
    if (paired)
        paired->stop();
    front.stop();
    activeSampler = nullptr;
    runEvents(300);
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The layout setting is read from a configuration of this run's own.
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);

    const int seconds = kPlaySeconds + kSettleMs / 1000 + 5;
    const QString front =
        cachedClip(kCache, "dual-front-1080p30", clipArgs("testsrc2", "0xff00ff", seconds, true));
    const QString rear =
        cachedClip(kCache, "dual-rear-1080p30", clipArgs("testsrc", "0x00ff00", seconds, false));
    if (front.isEmpty() || rear.isEmpty()) {
        std::fprintf(stderr, "bench_dual: could not make the clips\n");
        return 1;
    }

    QWidget window;
    window.resize(980, 480);
    auto *area = new JtVideoView(&window);
    area->setGeometry(0, 0, 980, 480);
    window.show();
    runEvents(500);
    area->hideLogo();

    OxFFPlayer leader;
    leader.setVideoView(area->videoView);
    PairedChannel paired(area, &leader);
    paired.setLayout(ChannelLayout::PictureInPicture);
    ChannelPairing pairing;
    pairing.channel = CameraChannel::Rear;
    pairing.sources.append({rear, -1, 0, double(seconds), 0});

    const Run single = play(leader, nullptr, front, pairing);
    const Run dual = play(leader, &paired, front, pairing);

    std::printf("figure dual_lag_percent_1080p value=%.2f reference=%.2f target=2\n",
                dual.lagPercent, single.lagPercent);
    std::printf("figure dual_sync_max_ms value=%.1f reference=%.1f target=40\n", dual.syncMaxMs,
                single.clockMaxMs);
    std::printf("figure dual_cpu_ratio_single value=%.2f reference=%.2f target=1.9\n",
                single.cpuPerSecond > 0 ? dual.cpuPerSecond / single.cpuPerSecond : 0,
                single.cpuPerSecond);
    std::printf("figure dual_rss_mb value=%.1f reference=%.1f target=150\n",
                dual.peakRssMb - single.peakRssMb, single.peakRssMb);
    const int over = int(
        std::count_if(dual.syncMs.begin(), dual.syncMs.end(), [](double ms) { return ms > 40; }));
    std::printf("# sync: median %.1f ms, %d of %d samples over 40 ms\n", median(dual.syncMs), over,
                int(dual.syncMs.size()));
    std::printf("# sync samples %d; front alone: picture against the wall clock at most %.1f ms; "
                "CPU per second %.2f (front alone %.2f)\n",
                dual.samples, single.clockMaxMs, dual.cpuPerSecond, single.cpuPerSecond);
    return 0;
}
