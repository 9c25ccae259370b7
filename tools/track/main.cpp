// dashcam-track [--format csv|gpx] [--verbose] FILE
// Prints the GPS track of a recording, read by the same step the player runs
// when it opens one, as CSV (every fix) or GPX 1.1 (valid fixes only). With
// --verbose, standard error names the source of the track and how many records
// it skipped as void or damaged (impossible values and wrong checksums included),
// and says when it kept sentences whose checksums were all wrong.
// Exit status: 0 track found, 1 no track, 2 unreadable file or bad arguments.

#include "gpsextract.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QXmlStreamWriter>

extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>

namespace {

const char kUsage[] = "usage: dashcam-track [--format csv|gpx] [--verbose] FILE";

// Numbers always with a decimal point, whatever LC_NUMERIC says.
QString decimal(double v)
{
    return QString::number(v, 'f', 6);
}

void writeCsv(QFile &out, const OxTrack &track)
{
    QTextStream s(&out);
    s << "valid,day,month,year,hour,minute,second,latitude,longitude,speed,gsensorX,gsensorY,"
         "gsensorZ\n";
    for (const OxLocation &f : track) {
        s << (f.valid ? 1 : 0) << ',' << f.day << ',' << f.month << ',' << f.year << ',' << f.hour
          << ',' << f.minute << ',' << f.second << ',' << decimal(f.latitude) << ','
          << decimal(f.longitude) << ',' << decimal(f.speed) << ',' << decimal(f.gsensorX) << ','
          << decimal(f.gsensorY) << ',' << decimal(f.gsensorZ) << '\n';
    }
}

void writeGpx(QFile &out, const OxTrack &track, const QString &name)
{
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(QStringLiteral("http://www.topografix.com/GPX/1/1"));
    xml.writeStartElement(QStringLiteral("gpx"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.1"));
    xml.writeAttribute(QStringLiteral("creator"), QStringLiteral("dashcam-track"));
    xml.writeStartElement(QStringLiteral("trk"));
    xml.writeTextElement(QStringLiteral("name"), name);
    xml.writeStartElement(QStringLiteral("trkseg"));
    for (const OxLocation &f : track) {
        if (!f.valid)
            continue;
        xml.writeStartElement(QStringLiteral("trkpt"));
        xml.writeAttribute(QStringLiteral("lat"), decimal(f.latitude));
        xml.writeAttribute(QStringLiteral("lon"), decimal(f.longitude));
        xml.writeTextElement(QStringLiteral("time"),
                             QString::asprintf("20%02d-%02d-%02dT%02d:%02d:%02dZ", f.year, f.month,
                                               f.day, f.hour, f.minute, f.second));
        xml.writeEndElement();
    }
    xml.writeEndDocument();
}

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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietMessages);
    av_log_set_level(AV_LOG_QUIET);

    QString format = QStringLiteral("csv");
    QString path;
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
        } else if (path.isEmpty()) {
            path = a;
        } else {
            return fail(QLatin1String(kUsage));
        }
    }
    if (path.isEmpty() || (format != QLatin1String("csv") && format != QLatin1String("gpx")))
        return fail(QLatin1String(kUsage));

    QFile probe(path);
    if (QFileInfo(path).isDir() || !probe.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("dashcam-track: cannot read %1").arg(path));
    probe.close();

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
    if (format == QLatin1String("gpx"))
        writeGpx(out, track, QFileInfo(path).fileName());
    else
        writeCsv(out, track);
    out.close();
    return track.isEmpty() ? 1 : 0;
}
