// The engine's share of finding a moment: how fast the position moves at 16x across a
// sequence of 1080p30 clips, and how long a frame step forward and back takes until its
// picture is handed over, each next to what a bare decoder needs for the same pictures.
#include "benchsupport.h"
#include "ffmpeg_ptr.h"
#include "oxffplayer.h"
#include "oxframesink.h"
#include "oxmediadata.h"
#include "streamreader.h"

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QVector>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/time.h>
}

namespace {

constexpr int kSteps = 50;
constexpr double kRate = 16;
constexpr int kRateSeconds = 10;

// Counts the pictures handed over and when the last one came.
class CountingSink : public OxFrameSink
{
public:
    void setFrame(OxYUV420P *picture) override
    {
        std::unique_ptr<OxYUV420P> owned(picture);
        QMutexLocker lock(&mutex);
        ++pictures;
        lastAt = av_gettime();
    }
    int count()
    {
        QMutexLocker lock(&mutex);
        return pictures;
    }
    int64_t last()
    {
        QMutexLocker lock(&mutex);
        return lastAt;
    }

private:
    QMutex mutex;
    int pictures = 0;
    int64_t lastAt = 0;
};

QStringList clipArgs(int seconds, int keyInterval)
{
    return {
        "-f",       "lavfi",
        "-i",       QStringLiteral("testsrc2=size=1920x1080:rate=30:duration=%1").arg(seconds),
        "-f",       "lavfi",
        "-i",       QStringLiteral("sine=frequency=440:sample_rate=48000:duration=%1").arg(seconds),
        "-map",     "0:v",
        "-map",     "1:a",
        "-c:v",     "libx264",
        "-preset",  "superfast",
        "-g",       QString::number(keyInterval),
        "-pix_fmt", "yuv420p",
        "-c:a",     "aac",
        "-ac",      "2"};
}

// Milliseconds a bare decoder takes from a seek to the key picture at or before target
// until it has the picture at target; with target < 0, to decode the next picture.
double bareDecodeMs(StreamReader &reader, double target)
{
    AVFramePtr frame = makeFrame();
    const int64_t start = av_gettime();
    if (target >= 0) {
        reader.seek(target, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_FRAME);
        const double base = av_q2d(reader.videoStream()->time_base);
        while (reader.decodeNextPicture(frame.get()) >= 0 &&
               frame->best_effort_timestamp * base < target - 0.01)
            av_frame_unref(frame.get());
    } else {
        reader.decodeNextPicture(frame.get());
    }
    return (av_gettime() - start) / 1000.0;
}

// Media seconds advanced per wall second at 16x over kRateSeconds.
double rateProgress(const QByteArray &clip, double clipSeconds)
{
    std::vector<OxPlaySource> sequence;
    for (int i = 0; i < 3; ++i)
        sequence.push_back({clip, 0, -1, i * clipSeconds});
    CountingSink sink;
    OxFFPlayer player;
    player.setVideoView(&sink);
    player.setRate(kRate);
    if (player.openSequence(sequence) < 0 || !waitFor([&] { return sink.count() > 0; }, 10000))
        return -1;
    const int64_t from = av_gettime();
    const double startedAt = player.videoTime();
    waitFor([] { return false; }, kRateSeconds * 1000);
    const double advanced = player.videoTime() - startedAt;
    const double wall = (av_gettime() - from) / 1e6;
    std::printf("16x: %.1f s of the sequence in %.1f s, %d pictures shown, %lld dropped\n",
                advanced, wall, sink.count(), (long long)player.droppedPictures());
    player.stop();
    return advanced / wall;
}

// Milliseconds from each frame step to its picture handed over: kSteps forward, then
// kSteps back, from the middle of a key interval.
void frameSteps(const QByteArray &clip, QVector<double> *forward, QVector<double> *back)
{
    CountingSink sink;
    OxFFPlayer player;
    player.setVideoView(&sink);
    if (player.openSequence({{clip, 0, -1, 0}}, 10) < 0 ||
        !waitFor([&] { return sink.count() > 0; }, 10000))
        return;
    player.pause();
    const auto step = [&](bool ahead, QVector<double> *times) {
        const int before = sink.count();
        const int64_t asked = av_gettime();
        ahead ? player.stepForward() : player.stepBackward();
        if (waitFor([&] { return sink.count() > before; }, 5000))
            times->append((sink.last() - asked) / 1000.0);
    };
    for (int i = 0; i < kSteps; ++i)
        step(true, forward);
    std::printf("stepped forward to %.3f s\n", player.videoTime());
    for (int i = 0; i < kSteps; ++i)
        step(false, back);
    std::printf("stepped back to %.3f s\n", player.videoTime());
    player.stop();
}

void figure(const char *name, double value, double reference, const char *target)
{
    std::printf("figure %s value=%.2f reference=%.2f target=%s\n", name, value, reference, target);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString cache = QStringLiteral(DASHCAM_BENCH_CACHE);
    constexpr int sequenceClipSeconds = 60;
    const QString rateClip = cachedClip(cache, QStringLiteral("moment-1080p30-60s-key1s"),
                                        clipArgs(sequenceClipSeconds, 30));
    const QString stepClip =
        cachedClip(cache, QStringLiteral("moment-1080p30-20s-key2s"), clipArgs(20, 60));
    if (rateClip.isEmpty() || stepClip.isEmpty()) {
        std::fprintf(stderr, "bench_moment_engine: could not make the clips\n");
        return 1;
    }

    const double progress = rateProgress(rateClip.toUtf8(), sequenceClipSeconds);

    QVector<double> forward;
    QVector<double> back;
    frameSteps(stepClip.toUtf8(), &forward, &back);

    // The same pictures from a bare decoder: the next one, and each one stepped back to
    // decoded from its key picture.
    StreamReader reader;
    QVector<double> bareNext;
    QVector<double> bareBack;
    if (reader.open(stepClip.toUtf8().constData()) >= 0) {
        bareDecodeMs(reader, 10.0);
        for (int i = 0; i < kSteps; ++i)
            bareNext.append(bareDecodeMs(reader, -1));
        for (int i = 1; i <= kSteps; ++i)
            bareBack.append(bareDecodeMs(reader, 10.0 + (kSteps - i) / 30.0));
        reader.close();
    }

    figure("rate16_progress_ratio", progress, kRate, "15");
    figure("frame_step_ms", median(forward), median(bareNext), "40");
    figure("frame_step_back_ms", median(back), median(bareBack), "250");
    return 0;
}
