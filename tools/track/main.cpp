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
// dashcam-track --events FILE|FOLDER...
// Reads the recordings the same way and prints the events found in the drives' tracks
// (hard braking, hard acceleration, shocks; see driveevents.h), one tab-separated line
// each, in time order over all drives: clock time (ISO 8601, UTC with a "Z"; a drive
// known only by the camera's clock has its digits without a zone, a drive without time
// "-"), file path, position in the file in seconds, kind (brake, accel, shock), value
// with its unit.
//
// Exit status: 0 track (or event) found, 1 none, 2 unreadable file or bad arguments.

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

#include <algorithm>
#include <cstdio>
#include <variant>

namespace {

const char kUsage[] =
    "usage: dashcam-track [--format csv|gpx | --events] [--verbose] FILE | FOLDER | FILE FILE...";

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

// The drives of the recordings given (files, and the recordings under folders), or
// the exit status of a failure.
std::variant<QVector<Drive>, int> readDrives(const QStringList &paths)
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
    return groupDrives(facts);
}

int printDrives(const QStringList &paths, GpsFileFormat format, bool verbose)
{
    const auto read = readDrives(paths);
    if (const int *status = std::get_if<int>(&read))
        return *status;
    const QVector<Drive> &drives = std::get<QVector<Drive>>(read);
    int fixes = 0;
    int clips = 0;
    for (const Drive &drive : drives) {
        fixes += DriveTrack(drive).points.size();
        clips += drive.clips.size();
    }
    if (verbose)
        std::fprintf(stderr, "dashcam-track: %d recordings in %d drives, %d fixes\n", clips,
                     int(drives.size()), fixes);

    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return fail(QStringLiteral("dashcam-track: cannot write to standard output"));
    writeDriveTracks(out, drives, format);
    out.close();
    return fixes > 0 ? 0 : 1;
}

QString clockText(ClockKind kind, qint64 ms)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(qRound64(ms / 1000.0) * 1000, Qt::UTC);
    switch (kind) {
    case ClockKind::Utc:
        return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"));
    case ClockKind::Camera:
        return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    case ClockKind::None:
        break;
    }
    return QStringLiteral("-");
}

// A file name as one field of a line: a tab or a line break in it would start another.
QString oneField(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20)
            c = QLatin1Char('?');
    }
    return text;
}

int printEvents(const QStringList &paths, bool verbose)
{
    const auto read = readDrives(paths);
    if (const int *status = std::get_if<int>(&read))
        return *status;
    struct Line
    {
        std::optional<qint64> clockMs;
        QString text;
    };
    QVector<Line> lines;
    for (const Drive &drive : std::get<QVector<Drive>>(read)) {
        const DriveTrack track(drive);
        for (const DriveEvent &event : track.events) {
            const DriveClip &clip = drive.clips.at(track.points.at(event.point).clip);
            const double fileSeconds = clip.clipIn + event.driveTime - clip.driveStart;
            const std::optional<qint64> clock =
                drive.hasClock()
                    ? std::optional<qint64>(clip.startMs + qRound64(fileSeconds * 1000))
                    : std::nullopt;
            lines << Line{
                clock, QStringList{clockText(drive.clockKind, clock.value_or(0)),
                                   oneField(clip.facts.path), QString::number(fileSeconds, 'f', 1),
                                   driveEventKindName(event.kind), driveEventValueText(event)}
                           .join(QLatin1Char('\t'))};
        }
    }
    // Drives come in time order, those without time last; merge their events by clock.
    std::stable_sort(lines.begin(), lines.end(), [](const Line &a, const Line &b) {
        return a.clockMs && (!b.clockMs || *a.clockMs < *b.clockMs);
    });
    if (verbose)
        std::fprintf(stderr, "dashcam-track: %d events\n", int(lines.size()));
    for (const Line &line : lines)
        std::printf("%s\n", line.text.toLocal8Bit().constData());
    std::fflush(stdout);
    return lines.isEmpty() ? 1 : 0;
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
    bool events = false;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            std::printf("%s\n", kUsage);
            return 0;
        }
        if (a == QLatin1String("--verbose") || a == QLatin1String("-v")) {
            verbose = true;
        } else if (a == QLatin1String("--events")) {
            events = true;
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
    if (events)
        return printEvents(paths, verbose);
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
