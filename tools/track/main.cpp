// dashcam-track [--format csv|gpx] [--verbose] FILE
// Prints the GPS track of a recording, read by the same step the player runs
// when it opens one, as CSV (every fix) or GPX 1.1 (valid fixes only). With
// --verbose, standard error names the source of the track and how many records
// it skipped as void or damaged (impossible values and wrong checksums included),
// and says when it kept sentences whose checksums were all wrong.
//
// dashcam-track [--format csv|gpx] [--verbose] FOLDER | FILE FILE...
// Reads every recording (of the folder and its sub-folders), groups them into drives
// as the player does and prints the drives' tracks in time order: GPX with one track
// per drive and one segment per clip, its points with speed and course, or CSV with
// the drive, file and drive time of every fix. A recording that cannot be read is
// named on standard error and left out. What is found is kept in the player's cache.
//
// Exit status: 0 track found, 1 no track, 2 unreadable file or bad arguments.

#include "drive.h"
#include "factscache.h"
#include "gpsextract.h"
#include "gpswriter.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>

namespace {

const char kUsage[] =
    "usage: dashcam-track [--format csv|gpx] [--verbose] FILE | FOLDER | FILE FILE...";

int fail(const QString &line)
{
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    return 2;
}

// The GPS step writes debug lines and FFmpeg its stream summary; neither
// belongs on a terminal that expects one line or none.
void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

// A regular file that opens: never a FIFO or a device, whose open or read could block.
bool readable(const QString &path)
{
    QFile file(path);
    return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
}

int printDrives(const QStringList &paths, GpsFileFormat format, bool verbose)
{
    QStringList recordings;
    for (const QString &path : paths) {
        if (QFileInfo(path).isDir())
            recordings << recordingsUnder(path);
        else if (readable(path))
            recordings << path;
        else
            return fail(QStringLiteral("dashcam-track: cannot read %1").arg(path));
    }
    if (recordings.isEmpty())
        return fail(QStringLiteral("dashcam-track: no recordings in %1").arg(paths.join(' ')));

    QVector<RecordingFacts> facts;
    for (const QString &path : recordings) {
        const std::optional<RecordingFacts> f = cachedOrProbedFacts(path);
        if (f && f->probed)
            facts << *f;
        else
            std::fprintf(stderr, "dashcam-track: %s is not a readable recording, left out\n",
                         QFile::encodeName(path).constData());
    }
    const QVector<Drive> drives = groupDrives(facts);
    int fixes = 0;
    for (const Drive &drive : drives)
        fixes += DriveTrack(drive).points.size();
    if (verbose)
        std::fprintf(stderr, "dashcam-track: %d recordings in %d drives, %d fixes\n",
                     int(facts.size()), int(drives.size()), fixes);

    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return fail(QStringLiteral("dashcam-track: cannot write to standard output"));
    writeDriveTracks(out, drives, format);
    out.close();
    return fixes > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The player's name, so that the facts of recordings are cached where it keeps them.
    QCoreApplication::setApplicationName(QStringLiteral("dashcam-player"));
    qInstallMessageHandler(quietMessages);
    av_log_set_level(AV_LOG_QUIET);

    QString format = QStringLiteral("csv");
    QStringList paths;
    bool verbose = false;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            std::printf("%s\n", kUsage);
            return 0;
        }
        if (a == QLatin1String("--verbose") || a == QLatin1String("-v")) {
            verbose = true;
        } else if (a == QLatin1String("--format") && i + 1 < args.size()) {
            format = args[++i];
        } else if (a.startsWith(QLatin1String("--format="))) {
            format = a.mid(9);
        } else if (a.startsWith(QLatin1Char('-')) && a != QLatin1String("-")) {
            return fail(QLatin1String(kUsage));
        } else {
            paths << a;
        }
    }
    if (paths.isEmpty() || (format != QLatin1String("csv") && format != QLatin1String("gpx")))
        return fail(QLatin1String(kUsage));
    const GpsFileFormat fileFormat =
        format == QLatin1String("gpx") ? GpsFileFormat::Gpx : GpsFileFormat::Csv;
    if (paths.size() > 1 || QFileInfo(paths.first()).isDir())
        return printDrives(paths, fileFormat, verbose);

    const QString path = paths.first();
    if (!readable(path))
        return fail(QStringLiteral("dashcam-track: cannot read %1").arg(path));

    GpsReport report;
    const OxTrack track = loadTrack(path, &report);
    if (verbose) {
        if (track.isEmpty())
            std::fprintf(stderr, "dashcam-track: no track; %d records skipped as void or damaged\n",
                         report.skipped);
        else
            std::fprintf(stderr,
                         "dashcam-track: %d fixes from the %s; %d records skipped as void or "
                         "damaged\n",
                         int(track.size()), report.source.toUtf8().constData(), report.skipped);
        if (report.keptBadChecksums)
            std::fprintf(stderr, "dashcam-track: every sentence's checksum is wrong; the "
                                 "sentences were kept, as some cameras write them so\n");
    }

    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return fail(QStringLiteral("dashcam-track: cannot write to standard output"));
    writeRecordingTrack(out, track, QFileInfo(path).fileName(), fileFormat);
    out.close();
    return track.isEmpty() ? 1 : 0;
}
