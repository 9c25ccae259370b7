// Thumbnails of twenty 1280x720 H.264 clips by probeVideo in one process, against the
// ffmpeg program making the same thumbnail once per clip, measured in the same run.
#include "ffmpeg_ptr.h"
#include "oxjpeg.h"
#include "testrecordings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

namespace {

const int kClips = 20;

// Clip i differs from the others in its pictures and its length, so no cache or
// decoder state can make a later one cheaper.
QString clipPath(const QString &cache, int i)
{
    const QString path = cache + QStringLiteral("/clip%1.mp4").arg(i, 2, 10, QLatin1Char('0'));
    if (QFile::exists(path))
        return path;
    const QString seconds = QString::number(4 + i % 5);
    const QString partial = path + QStringLiteral(".part.mp4");
    const bool ok = runFfmpeg({"-f", "lavfi", "-i",
                               QStringLiteral("testsrc2=size=1280x720:rate=30:duration=%1,hue=h=%2")
                                   .arg(seconds)
                                   .arg(i * 18),
                               "-f", "lavfi", "-i",
                               QStringLiteral("sine=frequency=%1:sample_rate=48000:duration=%2")
                                   .arg(300 + 50 * i)
                                   .arg(seconds),
                               "-c:v", "libx264", "-preset", "veryfast", "-g", "30", "-pix_fmt",
                               "yuv420p", "-c:a", "aac", partial},
                              300000);
    if (!ok || !QFile::rename(partial, path)) {
        QFile::remove(partial);
        return QString();
    }
    return path;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    av_log_set_level(AV_LOG_QUIET);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    const QString cache = QDir::currentPath() + QStringLiteral("/bench-cache/probe");
    const QString out = QDir::currentPath() + QStringLiteral("/bench-cache/probe-thumbs");
    QDir().mkpath(cache);
    QDir(out).removeRecursively();
    QDir().mkpath(out);

    QStringList clips;
    for (int i = 0; i < kClips; ++i) {
        const QString path = clipPath(cache, i);
        if (path.isEmpty()) {
            std::fprintf(stderr, "bench_probe: could not make clip %d\n", i);
            return 1;
        }
        clips << path;
    }

    QElapsedTimer timer;
    timer.start();
    int written = 0;
    for (int i = 0; i < kClips; ++i) {
        ProbeResult result;
        result.thumb = out + QStringLiteral("/probe%1.jpg").arg(i);
        if (probeVideo(QFile::encodeName(clips[i]).constData(), result) >= 0 &&
            QFile::exists(result.thumb))
            ++written;
    }
    const double probeMs = timer.nsecsElapsed() / 1e6 / kClips;

    timer.restart();
    int reference = 0;
    for (int i = 0; i < kClips; ++i) {
        const QString thumb = out + QStringLiteral("/ffmpeg%1.jpg").arg(i);
        if (runFfmpeg({"-i", clips[i], "-frames:v", "1", thumb}, 300000) && QFile::exists(thumb))
            ++reference;
    }
    const double ffmpegMs = timer.nsecsElapsed() / 1e6 / kClips;

    std::printf("probeVideo: %d/%d thumbnails, %.1f ms per clip\n", written, kClips, probeMs);
    std::printf("ffmpeg -frames:v 1: %d/%d thumbnails, %.1f ms per clip\n", reference, kClips,
                ffmpegMs);
    std::printf("figure probe_thumbnail_ms value=%.1f reference=%.1f target=%.1f\n", probeMs,
                ffmpegMs, 0.5 * ffmpegMs);
    return written == kClips && reference == kClips ? 0 : 1;
}
