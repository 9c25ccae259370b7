// Plays a drive of eleven 1080p30 clips with a continuous tone through the engine as one
// sequence, and the same clips opened one after the other at the end of each (as the
// playlist's play-next does) for reference. Prints how long the picture and the sound
// stop at the ten boundaries, and how long a seek into another clip takes.
#include "benchsupport.h"
#include "oxffplayer.h"
#include "oxframesink.h"
#include "oxmediadata.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QVector>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/time.h>
}

namespace {

constexpr int kClips = 11;
constexpr double kClipSeconds = 3;
constexpr double kFrameMs = 1000.0 / 30;

// When each picture was handed over, and from which clip.
class ArrivalSink : public OxFrameSink
{
public:
    struct Shown
    {
        int64_t at;
        int clip;
    };

    void setFrame(OxYUV420P *picture) override
    {
        std::unique_ptr<OxYUV420P> owned(picture);
        QMutexLocker lock(&mutex);
        const int clip = clipOverride;
        shown.append({av_gettime(), clip >= 0 ? clip : owned->source});
    }

    QVector<Shown> snapshot()
    {
        QMutexLocker lock(&mutex);
        return shown;
    }
    void clear()
    {
        QMutexLocker lock(&mutex);
        shown.clear();
    }

    // Set while one clip at a time plays: the pictures' own source is then always 0.
    std::atomic<int> clipOverride{-1};

private:
    QMutex mutex;
    QVector<Shown> shown;
};

std::atomic<int> endReports{0};

void onReport(void *, int type, double, double)
{
    if (type != OxFFPlayer::ReportPicture)
        ++endReports;
}

// The longest interval between the last picture of a clip and the first of the next,
// minus one frame interval, in milliseconds.
double boundaryGapMs(const QVector<ArrivalSink::Shown> &shown)
{
    double worst = -1;
    for (int i = 1; i < shown.size(); ++i) {
        if (shown[i].clip != shown[i - 1].clip)
            worst = std::max(worst, (shown[i].at - shown[i - 1].at) / 1000.0 - kFrameMs);
    }
    return worst;
}

// When the first picture of each clip after the first was shown.
QVector<int64_t> boundaries(const QVector<ArrivalSink::Shown> &shown)
{
    QVector<int64_t> at;
    for (int i = 1; i < shown.size(); ++i) {
        if (shown[i].clip != shown[i - 1].clip)
            at.append(shown[i].at);
    }
    return at;
}

// What reaches the null sink, recorded from its monitor.
class MonitorRecording
{
public:
    MonitorRecording(const QString &path, const QString &monitor) : path(path)
    {
        recorder.setStandardOutputFile(path);
        recorder.start(QStringLiteral("parec"),
                       {"-d", monitor, "--raw", "--format=s16le", "--rate=48000", "--channels=2"});
        started = recorder.waitForStarted(5000);
        startedAt = av_gettime();
        QThread::msleep(300);
    }

    // The longest silence at the boundaries (wall times of their first pictures), in
    // milliseconds: a run of 1 ms blocks whose loudest sample is below a hundredth of the
    // tone's, from half a second before to 0.7 s after each boundary, within the sound
    // (the server holds a new stream back before it plays). -1 without a recording.
    // elsewhere: the longest silence outside those windows, which a loaded machine causes.
    double longestSilenceMs(const QVector<int64_t> &boundaries, int *elsewhere)
    {
        recorder.terminate();
        recorder.waitForFinished(5000);
        QFile file(path);
        if (!started || !file.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray data = file.readAll();
        const auto *samples = reinterpret_cast<const qint16 *>(data.constData());
        const qint64 block = 48 * 2; // 1 ms of stereo at 48 kHz
        const qint64 blocks = data.size() / 2 / block;
        QVector<bool> silent(static_cast<int>(blocks));
        for (qint64 b = 0; b < blocks; ++b) {
            int peak = 0;
            for (qint64 i = b * block; i < (b + 1) * block; ++i)
                peak = std::max(peak, std::abs(int(samples[i])));
            silent[int(b)] = peak < 40;
        }
        const int first = int(silent.indexOf(false));
        const int last = int(silent.lastIndexOf(false));
        if (first < 0)
            return -1;
        QVector<bool> near(silent.size());
        for (int64_t boundary : boundaries) {
            const int at = int((boundary - startedAt) / 1000);
            for (int b = std::max(first, at - 500); b <= std::min(last, at + 700); ++b)
                near[b] = true;
        }
        int longest = 0;
        *elsewhere = 0;
        for (int b = first, run = 0; b <= last; ++b) {
            run = silent[b] ? run + 1 : 0;
            int &worst = near[b] ? longest : *elsewhere;
            worst = std::max(worst, run);
        }
        return longest;
    }

private:
    QString path;
    QProcess recorder;
    bool started = false;
    int64_t startedAt = 0;
};

void figure(const char *name, double value, double reference, const char *target)
{
    std::printf("figure %s value=%.1f reference=%.1f target=%s\n", name, value, reference, target);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    // The null sink of scripts/with-test-services.
    const QString monitor = QStringLiteral("auto_null.monitor");
    QCoreApplication app(argc, argv);
    const QString cache = QStringLiteral(DASHCAM_BENCH_CACHE);
    std::vector<OxPlaySource> drive;
    for (int i = 0; i < kClips; ++i) {
        const QString seconds = QString::number(kClipSeconds);
        const QString clip =
            cachedClip(cache, QStringLiteral("drive-1080p30-%1").arg(i, 2, 10, QLatin1Char('0')),
                       {"-f",       "lavfi",
                        "-i",       "testsrc2=size=1920x1080:rate=30:duration=" + seconds,
                        "-f",       "lavfi",
                        "-i",       "sine=frequency=440:sample_rate=48000:duration=" + seconds,
                        "-c:v",     "libx264",
                        "-preset",  "ultrafast",
                        "-g",       "30",
                        "-pix_fmt", "yuv420p",
                        "-c:a",     "aac",
                        "-ac",      "2"});
        if (clip.isEmpty()) {
            std::fprintf(stderr, "could not make the drive's clips\n");
            return 1;
        }
        drive.push_back({clip.toUtf8(), 0, kClipSeconds, i * kClipSeconds});
    }
    QTemporaryDir scratch;
    const int timeoutMs = int(kClips * kClipSeconds * 1000) + 60000;

    ArrivalSink sink;
    OxFFPlayer player;
    player.setVideoView(&sink);
    player.setCallback(nullptr, &onReport);

    // The drive as one sequence.
    double driveSilence = -1;
    int driveElsewhere = 0;
    {
        MonitorRecording sound(scratch.path() + QStringLiteral("/drive.raw"), monitor);
        endReports = 0;
        if (player.openSequence(drive) < 0 || !waitFor([] { return endReports > 0; }, timeoutMs))
            std::fprintf(stderr, "the drive did not play to its end\n");
        player.stop();
        driveSilence = sound.longestSilenceMs(boundaries(sink.snapshot()), &driveElsewhere);
    }
    const double driveGap = boundaryGapMs(sink.snapshot());

    // The same clips one after the other, each opened when the one before has ended.
    sink.clear();
    double nextSilence = -1;
    int nextElsewhere = 0;
    {
        MonitorRecording sound(scratch.path() + QStringLiteral("/next.raw"), monitor);
        for (int i = 0; i < kClips; ++i) {
            endReports = 0;
            sink.clipOverride = i;
            if (player.open(drive[size_t(i)].path.constData()) < 0 ||
                !waitFor([] { return endReports > 0; }, timeoutMs))
                std::fprintf(stderr, "clip %d did not play to its end\n", i);
            player.stop();
        }
        sink.clipOverride = -1;
        nextSilence = sound.longestSilenceMs(boundaries(sink.snapshot()), &nextElsewhere);
    }
    const double nextGap = boundaryGapMs(sink.snapshot());

    // A seek into another clip of the drive, until its picture is shown; for reference the
    // same moment reached by opening that clip and seeking in it.
    QVector<double> seeks;
    QVector<double> reopens;
    for (int i = 0; i < 5; ++i) {
        const int from = (3 * i) % kClips;
        const int to = (from + 4 + i) % kClips;
        const double inClip = 1.5;
        sink.clear();
        player.openSequence(drive, from * kClipSeconds);
        waitFor([&] { return sink.snapshot().size() >= 15; }, 20000);
        const int64_t asked = av_gettime();
        player.requestSeek(to * kClipSeconds + inClip);
        auto shownFrom = [&](int clip) {
            for (const ArrivalSink::Shown &s : sink.snapshot()) {
                if (s.clip == clip && s.at >= asked)
                    return s.at;
            }
            return int64_t(-1);
        };
        if (waitFor([&] { return shownFrom(to) >= 0; }, 20000))
            seeks.append((shownFrom(to) - asked) / 1000.0);
        player.stop();

        sink.clear();
        sink.clipOverride = to;
        player.openSequence(drive, from * kClipSeconds);
        waitFor([&] { return sink.snapshot().size() >= 15; }, 20000);
        const int64_t reopened = av_gettime();
        player.stop();
        sink.clear();
        if (player.openSequence({{drive[size_t(to)].path, 0, -1, 0}}, inClip) == 0 &&
            waitFor([&] { return !sink.snapshot().isEmpty(); }, 20000))
            reopens.append((sink.snapshot().first().at - reopened) / 1000.0);
        player.stop();
        sink.clipOverride = -1;
    }

    std::printf("boundaries %d; pictures in the drive run and in the one-by-one run compared; "
                "sound from %s\n",
                kClips - 1, qPrintable(monitor));
    figure("drive_boundary_gap_ms", driveGap, nextGap, "33");
    std::printf("longest silence away from the boundaries (the machine's, not theirs): drive %d "
                "ms, one by one %d ms\n",
                driveElsewhere, nextElsewhere);
    figure("drive_sound_gap_ms", driveSilence, nextSilence, "20");
    figure("drive_seek_other_clip_ms", median(seeks), median(reopens), "250");
    return 0;
}
