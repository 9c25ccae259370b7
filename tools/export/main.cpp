// dashcam-export --from SECONDS --to SECONDS [--no-band] [--route-map] [--speed-unit kmh|mph]
//                [--rear] --out FOLDER FILE|FOLDER...
// Exports the span [from, to) of the drive the recordings make (positions counted from the
// drive's start) as an evidence folder inside FOLDER, printing progress on standard error
// and the finished folder on standard output. The recordings are grouped into drives as
// the player groups them; when they make several, the drive of the first recording named
// (for a folder, its first recording by name) is exported and the others are named on
// standard error. With --rear, the drive's paired camera (the rear, found among the
// recordings of its camera folders) is drawn into the clip as a picture in picture.
// Exit status: 0 exported, 1 the export failed or was interrupted, 2 bad arguments.

#include "driveexport.h"
#include "factscache.h"

#include <QFile>
#include <QGuiApplication>

extern "C" {
#include <libavutil/log.h>
}

#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

const char kUsage[] = "usage: dashcam-export --from SECONDS --to SECONDS [--no-band] [--route-map] "
                      "[--speed-unit kmh|mph] [--rear] --out FOLDER FILE|FOLDER...";

// Set by SIGINT and SIGTERM, read by the export between pictures.
std::atomic<bool> interrupted{false};

void interrupt(int)
{
    interrupted = true;
}

int fail(int code, const QString &line)
{
    std::fprintf(stderr, "dashcam-export: %s\n", line.toLocal8Bit().constData());
    return code;
}

void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char *argv[])
{
    // The band is painted with QPainter, which needs a QGuiApplication with fonts but no
    // screen: the minimal platform, which unlike the offscreen one leaves nothing behind.
    qputenv("QT_QPA_PLATFORM", "minimal:enable_fonts");
    qInstallMessageHandler(quietMessages);
    QGuiApplication app(argc, argv);
    av_log_set_level(AV_LOG_QUIET);
    // Past a file size limit writes fail with "File too large" and the export cleans up,
    // instead of the process being killed with its temporary folder left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGINT, interrupt);
    std::signal(SIGTERM, interrupt);

    double from = 0, to = 0;
    bool haveFrom = false, haveTo = false;
    bool withRear = false;
    ExportRequest request;
    QStringList inputs;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        bool ok = true;
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            std::printf("%s\n", kUsage);
            return 0;
        } else if (a == QLatin1String("--from") && hasValue) {
            from = args[++i].toDouble(&ok);
            haveFrom = ok;
        } else if (a == QLatin1String("--to") && hasValue) {
            to = args[++i].toDouble(&ok);
            haveTo = ok;
        } else if (a == QLatin1String("--out") && hasValue) {
            request.targetFolder = args[++i];
        } else if (a == QLatin1String("--no-band")) {
            request.band = false;
        } else if (a == QLatin1String("--route-map")) {
            request.routeMap = true;
        } else if (a == QLatin1String("--rear")) {
            withRear = true;
        } else if (a == QLatin1String("--speed-unit") && hasValue) {
            const QString unit = args[++i];
            ok = unit == QLatin1String("kmh") || unit == QLatin1String("mph");
            request.speedUnit = unit == QLatin1String("mph") ? SpeedUnit::Mph : SpeedUnit::Kmh;
        } else if (a.startsWith(QLatin1Char('-'))) {
            ok = false;
        } else {
            inputs << a;
        }
        if (!ok)
            return fail(2, QLatin1String(kUsage));
    }
    if (!haveFrom || !haveTo || request.targetFolder.isEmpty() || inputs.isEmpty())
        return fail(2, QLatin1String(kUsage));
    if (!(to > from) || from < 0)
        return fail(2, QStringLiteral("--to must be after --from, both from the drive's start"));

    QString error;
    QStringList unreadable;
    const QVector<RecordingFacts> facts = factsOfArguments(inputs, &error, &unreadable);
    for (const QString &path : unreadable)
        std::fprintf(stderr, "dashcam-export: %s is not a readable recording, left out\n",
                     QFile::encodeName(path).constData());
    if (facts.isEmpty())
        return fail(1, error);
    const QVector<Drive> drives = groupDrives(facts);
    // The drive of the first recording named (of a folder named first, its first by name).
    const Drive *drive = nullptr;
    for (const Drive &d : drives) {
        if (d.clipOf(facts.first().path) >= 0)
            drive = &d;
    }
    for (const Drive &d : drives) {
        if (&d != drive)
            std::fprintf(
                stderr, "dashcam-export: %s and %d more belong to another drive, left out\n",
                QFile::encodeName(d.clips.first().facts.path).constData(), int(d.clips.size()) - 1);
    }
    if (!drive)
        return fail(1, QStringLiteral("no drive in the recordings"));
    if (from >= drive->duration())
        return fail(1, QStringLiteral("the drive is %1 s long; --from lies past its end")
                           .arg(drive->duration(), 0, 'f', 2));

    // The options given on the command line, over the request the drive makes.
    ExportRequest options = request;
    request = driveExportRequest(*drive, DriveTrack(*drive), from, to);
    request.band = options.band;
    request.routeMap = options.routeMap;
    request.speedUnit = options.speedUnit;
    request.targetFolder = options.targetFolder;
    if (withRear) {
        const ChannelPairing rear = findPairedChannel(*drive);
        if (rear.isEmpty())
            std::fprintf(stderr, "dashcam-export: no paired camera found, the front alone\n");
        addPairedChannel(request, rear);
    }

    const bool terminal = isatty(STDERR_FILENO);
    int lastTenth = -1;
    const ExportResult result =
        runExport(request, &interrupted, [&](double fraction, double secondsLeft) {
            const int percent = int(fraction * 100);
            if (!terminal && percent / 10 == lastTenth)
                return;
            lastTenth = percent / 10;
            QString line = QStringLiteral("exporting: %1%").arg(percent, 3);
            if (secondsLeft >= 0)
                line += QStringLiteral(", %1:%2 left")
                            .arg(int(secondsLeft) / 60)
                            .arg(int(secondsLeft) % 60, 2, 10, QLatin1Char('0'));
            std::fprintf(stderr, terminal ? "\r%s   " : "%s\n", line.toLocal8Bit().constData());
        });
    if (terminal)
        std::fprintf(stderr, "\n");
    if (!result.ok)
        return fail(1, result.cancelled ? QStringLiteral("interrupted; nothing was written")
                                        : result.error);
    std::printf("%s\n", QFile::encodeName(result.folder).constData());
    return 0;
}
