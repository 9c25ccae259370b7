#include "gpswriter.h"

#include "tripmath.h"

#include <QFileInfo>
#include <QTextStream>
#include <QXmlStreamWriter>

#include <optional>

namespace {

const QString kGpxNamespace = QStringLiteral("http://www.topografix.com/GPX/1/1");
const QString kPointExtensionNamespace =
    QStringLiteral("http://www.garmin.com/xmlschemas/TrackPointExtension/v2");
const char kRecordingColumns[] =
    "valid,day,month,year,hour,minute,second,latitude,longitude,speed,gsensorX,gsensorY,"
    "gsensorZ";
// Closer fixes than this give no course of their own: a standing car's position
// wanders by a few metres.
constexpr double kMinCourseStepKm = 0.002;

// What one output track holds: the points of each segment, in order.
struct Segment
{
    QString file;
    QVector<DriveTrackPoint> points;
};

struct Track
{
    int number = 0; // of the drive, from 1
    QString name;
    QVector<Segment> segments;
};

QString decimal(double v)
{
    return QString::number(v, 'f', 6);
}

// A file name as one CSV field: quoted when it holds a separator, a quote or a line break.
QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString gpxTime(const OxLocation &f)
{
    return QString::asprintf("20%02d-%02d-%02dT%02d:%02d:%02dZ", f.year, f.month, f.day, f.hour,
                             f.minute, f.second);
}

// The course of every valid point of a track, in point order.
QVector<std::optional<double>> courses(const QVector<const OxLocation *> &fixes)
{
    QVector<std::optional<double>> result(fixes.size());
    std::optional<double> last;
    for (int i = 0; i < fixes.size(); ++i) {
        if (i > 0 && haversineKm(*fixes[i - 1], *fixes[i]) >= kMinCourseStepKm)
            last = courseDegrees(*fixes[i - 1], *fixes[i]);
        result[i] = last;
    }
    // The first points take the course of the first step that moved.
    for (int i = 0; i < result.size() && !result[i]; ++i) {
        for (int j = i + 1; j < result.size(); ++j) {
            if (result[j]) {
                result[i] = result[j];
                break;
            }
        }
    }
    return result;
}

void writeCsv(QIODevice &out, const QVector<Track> &tracks, bool drives)
{
    QTextStream s(&out);
    s << (drives ? "drive,file,driveTime," : "") << kRecordingColumns << '\n';
    for (const Track &track : tracks) {
        for (const Segment &segment : track.segments) {
            for (const DriveTrackPoint &p : segment.points) {
                const OxLocation &f = p.fix;
                if (drives)
                    s << track.number << ',' << csvField(segment.file) << ','
                      << QString::number(p.driveTime, 'f', 3) << ',';
                s << (f.valid ? 1 : 0) << ',' << f.day << ',' << f.month << ',' << f.year << ','
                  << f.hour << ',' << f.minute << ',' << f.second << ',' << decimal(f.latitude)
                  << ',' << decimal(f.longitude) << ',' << decimal(f.speed) << ','
                  << decimal(f.gsensorX) << ',' << decimal(f.gsensorY) << ',' << decimal(f.gsensorZ)
                  << '\n';
            }
        }
    }
}

void writeGpx(QIODevice &out, const QVector<Track> &tracks, bool drives)
{
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(kGpxNamespace);
    if (drives)
        xml.writeNamespace(kPointExtensionNamespace, QStringLiteral("gpxtpx"));
    xml.writeStartElement(QStringLiteral("gpx"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.1"));
    xml.writeAttribute(QStringLiteral("creator"), QStringLiteral("dashcam-track"));
    for (const Track &track : tracks) {
        QVector<const OxLocation *> valid;
        for (const Segment &segment : track.segments) {
            for (const DriveTrackPoint &p : segment.points) {
                if (p.fix.valid)
                    valid << &p.fix;
            }
        }
        if (drives && valid.isEmpty())
            continue;
        const QVector<std::optional<double>> course = courses(valid);
        int k = 0;
        xml.writeStartElement(QStringLiteral("trk"));
        xml.writeTextElement(QStringLiteral("name"), track.name);
        for (const Segment &segment : track.segments) {
            xml.writeStartElement(QStringLiteral("trkseg"));
            for (const DriveTrackPoint &p : segment.points) {
                const OxLocation &f = p.fix;
                if (!f.valid)
                    continue;
                xml.writeStartElement(QStringLiteral("trkpt"));
                xml.writeAttribute(QStringLiteral("lat"), decimal(f.latitude));
                xml.writeAttribute(QStringLiteral("lon"), decimal(f.longitude));
                xml.writeTextElement(QStringLiteral("time"), gpxTime(f));
                if (drives) {
                    xml.writeStartElement(QStringLiteral("extensions"));
                    xml.writeStartElement(kPointExtensionNamespace,
                                          QStringLiteral("TrackPointExtension"));
                    xml.writeTextElement(kPointExtensionNamespace, QStringLiteral("speed"),
                                         QString::number(f.speed / 3.6, 'f', 3));
                    if (course[k])
                        xml.writeTextElement(kPointExtensionNamespace, QStringLiteral("course"),
                                             QString::number(*course[k], 'f', 1));
                    xml.writeEndElement();
                    xml.writeEndElement();
                }
                ++k;
                xml.writeEndElement();
            }
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndDocument();
}

void write(QIODevice &out, const QVector<Track> &tracks, GpsFileFormat format, bool drives)
{
    if (format == GpsFileFormat::Gpx)
        writeGpx(out, tracks, drives);
    else
        writeCsv(out, tracks, drives);
}

Track trackOf(const Drive &drive, const DriveTrack &points, int number, double from, double to)
{
    Track track;
    track.number = number;
    const QString first = QFileInfo(drive.clips.first().facts.path).fileName();
    const QString last = QFileInfo(drive.clips.last().facts.path).fileName();
    track.name = drive.clips.size() == 1 ? first : QStringLiteral("%1 \u2013 %2").arg(first, last);
    for (const DriveClip &clip : drive.clips)
        track.segments << Segment{QFileInfo(clip.facts.path).fileName(), {}};
    for (const DriveTrackPoint &p : points.points) {
        if (p.driveTime >= from && p.driveTime <= to)
            track.segments[p.clip].points << p;
    }
    return track;
}

} // namespace

void writeRecordingTrack(QIODevice &out, const OxTrack &fixes, const QString &name,
                         GpsFileFormat format)
{
    Track track;
    track.number = 1;
    track.name = name;
    Segment segment;
    for (const OxLocation &fix : fixes) {
        DriveTrackPoint p;
        p.fix = fix;
        segment.points << p;
    }
    track.segments << segment;
    write(out, {track}, format, false);
}

void writeDriveTracks(QIODevice &out, const QVector<Drive> &drives, GpsFileFormat format)
{
    QVector<Track> tracks;
    for (int i = 0; i < drives.size(); ++i) {
        if (!drives.at(i).isEmpty())
            tracks << trackOf(drives.at(i), DriveTrack(drives.at(i)), i + 1, -qInf(), qInf());
    }
    write(out, tracks, format, true);
}

void writeDriveSpan(QIODevice &out, const Drive &drive, const DriveTrack &track, double from,
                    double to, GpsFileFormat format)
{
    QVector<Track> tracks;
    if (!drive.isEmpty())
        tracks << trackOf(drive, track, 1, from, to);
    write(out, tracks, format, true);
}
