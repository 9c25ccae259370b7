// dashcam-probe FILE [THUMB.jpg]: the values the playlist would show for a recording.
#include "ffmpeg_ptr.h"
#include "localfiles.h"
#include "oxjpeg.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    installFileNameCodec();
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 3) {
        std::fprintf(stderr, "usage: dashcam-probe FILE [THUMB.jpg]\n");
        return 1;
    }
    av_log_set_level(AV_LOG_QUIET);
    // Our own debug lines would mix with the one line of output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const QByteArray path = QFile::encodeName(args.at(1));
    if (recordingPathKind(args.at(1)) == RecordingPath::NotAFile) {
        std::fprintf(stderr, "%s: not a regular file\n", path.constData());
        return 2;
    }

    // The picture is written beside the thumbnail asked for, under a name of its own, and
    // moved over it once complete: the probe keeps a usable picture it finds, and a
    // failure leaves an earlier file alone.
    ProbeResult result;
    QByteArray thumb;
    std::unique_ptr<QTemporaryDir> scratch;
    if (args.size() == 3) {
        thumb = QFile::encodeName(args.at(2));
        scratch = std::make_unique<QTemporaryDir>(QFileInfo(args.at(2)).absolutePath() +
                                                  QStringLiteral("/.dashcam-probe-XXXXXX"));
        if (!scratch->isValid()) {
            std::fprintf(stderr, "%s: cannot write there\n", thumb.constData());
            return 2;
        }
        result.thumb = scratch->filePath(QStringLiteral("thumb.jpg"));
    }
    const int r = probeVideo(path.constData(), result);
    if (r < 0) {
        std::fprintf(stderr, "%s: %s\n", path.constData(), qPrintable(avErrorText(r)));
        return 2;
    }
    if (!thumb.isEmpty()) {
        if (!QFile::exists(result.thumb)) {
            std::fprintf(stderr, "%s: no picture could be decoded or written\n", path.constData());
            return 3;
        }
        if (std::rename(QFile::encodeName(result.thumb).constData(), thumb.constData()) != 0) {
            std::fprintf(stderr, "%s: %s\n", thumb.constData(), std::strerror(errno));
            return 2;
        }
    }
    std::printf("duration=%.3f fps=%.3f width=%d height=%d\n", result.duration, result.fps,
                result.width, result.height);
    return 0;
}
