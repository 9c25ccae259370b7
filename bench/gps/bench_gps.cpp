// The GPS step of opening a recording on a 180-second 1920x1080 H.264 clip with
// one RMC sentence per second: the subtitle source against exiftool reading the
// same sentences in the same run, and the "gps " box source on a clip of the
// same size.
#include "benchsupport.h"
#include "gpsbox.h"
#include "gpsextract.h"
#include "sources/gpssources.h"
#include "testrecordings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const int kSeconds = 180;

QString subtitleClip(const QString &cache)
{
    const QString path = cache + QStringLiteral("/track180.mp4");
    if (QFile::exists(path))
        return path;
    const QString srt = cache + QStringLiteral("/track180.srt");
    QFile file(srt);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    for (int s = 0; s < kSeconds; ++s) {
        file.write(QStringLiteral("%1\r\n00:%2:%3,000 --> 00:%2:%3,900\r\n")
                       .arg(s + 1)
                       .arg(s / 60, 2, 10, QLatin1Char('0'))
                       .arg(s % 60, 2, 10, QLatin1Char('0'))
                       .toLatin1());
        file.write(rmcSentence(s) + "\r\n\r\n");
    }
    file.close();
    std::fprintf(stderr, "bench_gps: making the %d s 1080p clip once (cached in %s)\n", kSeconds,
                 qPrintable(cache));
    const QString partial = path + QStringLiteral(".part.mp4");
    const QString seconds = QString::number(kSeconds);
    const bool ok = runFfmpeg(
        {"-f",   "lavfi",   "-i",       "testsrc2=size=1920x1080:rate=30:duration=" + seconds,
         "-f",   "lavfi",   "-i",       "sine=frequency=1000:sample_rate=48000:duration=" + seconds,
         "-i",   srt,       "-map",     "0:v",
         "-map", "1:a",     "-map",     "2:s",
         "-c:v", "libx264", "-preset",  "ultrafast",
         "-b:v", "12M",     "-pix_fmt", "yuv420p",
         "-c:a", "aac",     "-c:s",     "mov_text",
         partial});
    QFile::remove(srt);
    if (!ok || !QFile::rename(partial, path)) {
        QFile::remove(partial);
        return QString();
    }
    return path;
}

// The same pictures and sound without the subtitle stream, with the sentences
// in a "gps " box instead.
QString boxClip(const QString &cache, const QString &source)
{
    const QString path = cache + QStringLiteral("/box180.mp4");
    if (QFile::exists(path))
        return path;
    const QString partial = path + QStringLiteral(".part.mp4");
    GpsBoxSpec box;
    for (int s = 0; s < kSeconds; ++s)
        box.blocks << rmcSentence(s) + "\r\n";
    if (!runFfmpeg({"-i", source, "-map", "0:v", "-map", "0:a", "-c", "copy", partial}) ||
        !addGpsBox(partial, box) || !QFile::rename(partial, path)) {
        QFile::remove(partial);
        return QString();
    }
    return path;
}

int exiftoolTexts(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("exiftool"), {"-ee", "-a", "-G3", "-json", "-Text", path});
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        return -1;
    const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).array()[0].toObject();
    int n = 0;
    for (auto it = o.begin(); it != o.end(); ++it)
        n += it.key().endsWith(QLatin1String(":Text")) && !it.value().toString().isEmpty();
    return n;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    av_log_set_level(AV_LOG_QUIET);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    const QString cache = QDir::currentPath() + QStringLiteral("/bench-cache/gps");
    QDir().mkpath(cache);
    const QString subtitled = subtitleClip(cache);
    const QString boxed = subtitled.isEmpty() ? QString() : boxClip(cache, subtitled);
    if (boxed.isEmpty()) {
        std::fprintf(stderr, "bench_gps: could not make the clips\n");
        return 1;
    }
    std::printf("clips: %s (%lld bytes), %s (%lld bytes)\n", qPrintable(subtitled),
                QFile(subtitled).size(), qPrintable(boxed), QFile(boxed).size());

    int fixes = 0;
    const double step = medianMs([&] { fixes = loadTrack(subtitled).size(); });
    int texts = 0;
    const double reference = medianMs([&] { texts = exiftoolTexts(subtitled); });
    if (fixes != kSeconds || texts != kSeconds) {
        std::fprintf(stderr, "bench_gps: %d fixes, exiftool %d texts, %d expected\n", fixes, texts,
                     kSeconds);
        return 1;
    }

    int boxFixes = 0;
    const double box = medianMs([&] {
        QFile file(boxed);
        OxTrack track;
        if (file.open(QIODevice::ReadOnly)) {
            if (const auto payload = findBox(file, "moov", "gps "))
                loadTrackFromBox(file, track, *payload);
        }
        boxFixes = track.size();
    });
    int stepFixes = 0;
    const double boxStep = medianMs([&] { stepFixes = loadTrack(boxed).size(); });
    if (boxFixes != kSeconds || stepFixes != kSeconds) {
        std::fprintf(stderr, "bench_gps: box source gave %d and %d fixes\n", boxFixes, stepFixes);
        return 1;
    }

    std::printf("whole GPS step on the box clip (subtitle attempt included): %.1f ms\n", boxStep);
    std::printf("figure gps_subtitle_step_ms value=%.1f reference=%.1f target=%.1f\n", step,
                reference, reference);
    std::printf("figure gps_box_source_ms value=%.2f reference=- target=10\n", box);
    return 0;
}
