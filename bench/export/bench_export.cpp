// Evidence export of 30 s of 1080p30 with the band, against the ffmpeg program doing the
// same work (decode, one line of drawtext, libx264 veryfast CRF 20, sound copied) in the
// same run; how long a cancel takes to leave nothing behind; and how long the thread of
// the window's thread is kept busy while an export runs on a worker.
#include "benchsupport.h"
#include "evidenceexport.h"
#include "exportcontroller.h"
#include "exportjob.h"
#include "ffmpeg_ptr.h"
#include "streamreader.h"
#include "testrecordings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QWidget>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const int kSeconds = 30;
// The band's line for the reference: clock and speed change every second, as in ours.
const char kReferenceText[] =
    R"(drawtext=fontfile=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf:)"
    R"(text='%{pts\:gmtime\:1709802000\:%Y-%m-%d %H\\\:%M\\\:%S} UTC+01\:00     )"
    R"(%{eif\:20+t\:d} km/h     31.20000° N  121.40000° E':)"
    R"(fontsize=40:fontcolor=white:box=1:boxcolor=black:boxborderw=20:x=20:y=h-60)";

QString makeClip(const QString &cache)
{
    QDir().mkpath(cache);
    const QString srt = cache + QStringLiteral("/gps.srt");
    QFile file(srt);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    for (int s = 0; s < kSeconds; ++s)
        file.write(QString::asprintf("%d\n00:00:%02d,000 --> 00:00:%02d,900\n$GPRMC,0800%02d.000,A,"
                                     "3112.%04d,N,12124.0000,E,%d.0,90.0,070324,,,A*68\n\n",
                                     s + 1, s, s, s, s * 10, 20 + s)
                       .toLatin1());
    file.close();
    return cachedClip(
        cache, QStringLiteral("export1080"),
        {"-f",
         "lavfi",
         "-i",
         QStringLiteral("testsrc2=size=1920x1080:rate=30:duration=%1").arg(kSeconds),
         "-f",
         "lavfi",
         "-i",
         QStringLiteral("sine=frequency=1000:sample_rate=48000:duration=%1").arg(kSeconds),
         "-i",
         srt,
         "-map",
         "0:v",
         "-map",
         "1:a",
         "-map",
         "2:s",
         "-c:v",
         "libx264",
         "-preset",
         "veryfast",
         "-g",
         "30",
         "-pix_fmt",
         "yuv420p",
         "-c:a",
         "aac",
         "-c:s",
         "mov_text"});
}

ExportRequest request(const QString &clip, const QString &target, double to)
{
    ExportRequest r;
    r.sources = {ExportSource{clip, 0, double(kSeconds), 0}};
    r.from = 0;
    r.to = to;
    r.targetFolder = target;
    r.bandAt = [](double t) {
        BandSample s;
        s.hasClock = s.hasFix = true;
        s.clockMs = 1709798400000LL + qint64(t * 1000);
        s.utcOffsetSeconds = 3600;
        s.speedKmh = 20 + int(t);
        s.latitude = 31.2 + t * 1e-4;
        s.longitude = 121.4;
        return s;
    };
    return r;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The floor under a cancel: a bare libx264 encoder with the export's settings, at the
// export worker's priority, handed pictures as far as the cancel goes in, then closed.
double encoderCloseMs(const QString &clip, int pictures)
{
    double ms = 0;
    std::thread([&] {
        setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10);
        StreamReader reader;
        const AVCodec *h264 = avcodec_find_encoder_by_name("libx264");
        if (reader.open(QFile::encodeName(clip).constData()) < 0 || !h264)
            return;
        AVCodecContextPtr encoder(avcodec_alloc_context3(h264));
        encoder->width = 1920;
        encoder->height = 1080;
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder->time_base = AVRational{1, 30};
        encoder->thread_count = 0;
        av_opt_set(encoder->priv_data, "preset", "veryfast", 0);
        av_opt_set(encoder->priv_data, "crf", "20", 0);
        if (avcodec_open2(encoder.get(), h264, nullptr) < 0)
            return;
        AVFramePtr frame = makeFrame();
        AVPacketPtr packet = makePacket();
        for (int i = 0; i < pictures && reader.decodeNextPicture(frame.get()) >= 0; ++i) {
            frame->pts = i;
            frame->pict_type = AV_PICTURE_TYPE_NONE;
            avcodec_send_frame(encoder.get(), frame.get());
            while (avcodec_receive_packet(encoder.get(), packet.get()) >= 0)
                av_packet_unref(packet.get());
        }
        QElapsedTimer timer;
        timer.start();
        encoder.reset();
        reader.close();
        ms = timer.nsecsElapsed() / 1e6;
    }).join();
    return ms;
}

// Nanoseconds this thread has spent ready to run but kept off the CPU by the rest of the
// machine, as the kernel counts them.
qint64 queuedNs()
{
    unsigned long long running = 0, waiting = 0;
    if (FILE *f = std::fopen("/proc/thread-self/schedstat", "r")) {
        if (std::fscanf(f, "%llu %llu", &running, &waiting) != 2)
            waiting = 0;
        std::fclose(f);
    }
    return qint64(waiting);
}

// The longest stretch in which the calling thread's event loop did not come round to a
// 2 ms timer, beyond its interval: as wall-clock time, and as the time the thread was busy,
// which leaves out what it spent in the kernel's run queue behind other programs. Under
// load the wall-clock stretches of an idle loop grow as large as any; the busy time is
// what the thread's own work (or waiting on our locks) cost.
class LoopWatch
{
public:
    LoopWatch()
    {
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(kIntervalMs);
        QObject::connect(&tick, &QTimer::timeout, [this] {
            const qint64 queued = queuedNs();
            const double wall = since.nsecsElapsed() / 1e6 - kIntervalMs;
            wallMs = qMax(wallMs, wall);
            busyMs = qMax(busyMs, wall - (queued - lastQueued) / 1e6);
            lastQueued = queued;
            since.restart();
        });
        lastQueued = queuedNs();
        since.start();
        tick.start();
    }
    void stop() { tick.stop(); }

    double wallMs = 0;
    double busyMs = 0;

private:
    static constexpr int kIntervalMs = 2;
    QTimer tick;
    QElapsedTimer since;
    qint64 lastQueued = 0;
};

bool leftovers(const QString &target)
{
    return !QDir(target)
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                .isEmpty();
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    av_log_set_level(AV_LOG_QUIET);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    const QString cache = QDir::currentPath() + QStringLiteral("/bench-cache/export");
    const QString clip = makeClip(cache);
    if (clip.isEmpty()) {
        std::fprintf(stderr, "bench_export: could not make the clip\n");
        return 1;
    }
    const QString target = cache + QStringLiteral("/out");
    const int rounds = qEnvironmentVariableIsSet("BENCH_EXPORT_ROUNDS")
                           ? qEnvironmentVariableIntValue("BENCH_EXPORT_ROUNDS")
                           : 3;

    // Alternating runs, so that a burst of load elsewhere on the machine hits both sides.
    std::vector<double> ours, reference;
    for (int round = 0; round < rounds; ++round) {
        QDir(target).removeRecursively();
        QDir().mkpath(target);
        const QString refOut = cache + QStringLiteral("/reference.mp4");
        QFile::remove(refOut);
        QElapsedTimer timer;
        timer.start();
        const bool refOk =
            runFfmpeg({"-i", clip, "-map", "0:v", "-map", "0:a", "-vf",
                       QString::fromUtf8(kReferenceText), "-c:v", "libx264", "-preset", "veryfast",
                       "-crf", "20", "-c:a", "copy", "-movflags", "+faststart", refOut},
                      900000);
        reference.push_back(timer.nsecsElapsed() / 1e9);
        timer.restart();
        const ExportResult result = runExport(request(clip, target, kSeconds));
        ours.push_back(timer.nsecsElapsed() / 1e9);
        if (!refOk || !result.ok) {
            std::fprintf(stderr, "bench_export: export failed: %s\n",
                         qPrintable(refOk ? result.error : QStringLiteral("ffmpeg failed")));
            return 1;
        }
        std::printf("round %d: export %.2f s, ffmpeg %.2f s\n", round + 1, ours.back(),
                    reference.back());
        std::fflush(stdout);
    }
    if (rounds > 0) {
        const double ourSeconds = median(ours), refSeconds = median(reference);
        std::printf("figure export_time_ratio_ffmpeg value=%.3f reference=%.2fs target=1.1 "
                    "(export %.2fs)\n",
                    ourSeconds / refSeconds, refSeconds, ourSeconds);
    }

    // Cancel while the encoder is busy; the time until the worker is gone and nothing
    // is left in the target folder. The median of five (the worst beside it); the
    // reference is the median time libx264 alone takes to close in the same state.
    std::vector<double> cancelMs, closeMs;
    for (int i = 0; i < 5; ++i) {
        QDir(target).removeRecursively();
        QDir().mkpath(target);
        ExportJob job;
        QEventLoop loop;
        QObject::connect(&job, &ExportJob::progressChanged, &loop, [&loop](double fraction) {
            if (fraction >= 0.05)
                loop.quit();
        });
        job.start(request(clip, target, kSeconds));
        loop.exec();
        QElapsedTimer timer;
        timer.start();
        job.cancel();
        job.wait();
        while (leftovers(target) && timer.elapsed() < 5000)
            ;
        cancelMs.push_back(timer.nsecsElapsed() / 1e6);
        closeMs.push_back(encoderCloseMs(clip, kSeconds * 30 / 20));
    }
    std::printf("figure export_cancel_ms value=%.1f reference=%.1f target=200 (worst %.1f)\n",
                median(cancelMs), median(closeMs),
                *std::max_element(cancelMs.begin(), cancelMs.end()));

    // The window's thread during an export: a window with the export's own controller,
    // whose progress dialog the worker's signals reach, against the same loop idle for as
    // long afterwards.
    QDir(target).removeRecursively();
    QDir().mkpath(target);
    QWidget window;
    window.resize(980, 600);
    window.show();
    ExportController controller(&window);
    QEventLoop loop;
    QObject::connect(&controller, &ExportController::notice, &loop, &QEventLoop::quit);
    QElapsedTimer exportTime;
    exportTime.start();
    LoopWatch during;
    if (!controller.start(request(clip, target, 10))) {
        std::fprintf(stderr, "bench_export: the window's export did not start\n");
        return 1;
    }
    loop.exec();
    during.stop();
    LoopWatch idle;
    QTimer::singleShot(int(exportTime.elapsed()), &loop, &QEventLoop::quit);
    loop.exec();
    idle.stop();
    std::printf("figure export_gui_block_max_ms value=%.1f reference=%.1f target=50 "
                "(wall clock %.1f, idle %.1f)\n",
                during.busyMs, idle.busyMs, during.wallMs, idle.wallMs);
    QDir(target).removeRecursively();
    return 0;
}
