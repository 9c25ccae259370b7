// dashcam-probe FILE [THUMB.jpg]: the values the playlist would show for a recording.
#include "ffmpeg_ptr.h"
#include "oxjpeg.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 3) {
        std::fprintf(stderr, "usage: dashcam-probe FILE [THUMB.jpg]\n");
        return 1;
    }
    av_log_set_level(AV_LOG_QUIET);
    // Our own debug lines would mix with the one line of output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    ProbeResult result;
    if (args.size() == 3)
        result.thumb = args.at(2);
    const int r = probeVideo(QFile::encodeName(args.at(1)).constData(), result);
    if (r < 0) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(args.at(1)), qPrintable(avErrorText(r)));
        return 2;
    }
    std::printf("duration=%.3f fps=%.3f width=%d height=%d\n", result.duration, result.fps,
                result.width, result.height);
    return 0;
}
