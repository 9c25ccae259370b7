#include "filesdrive.h"

#include "gpsextract.h"
#include "streamreader.h"

#include <QCollator>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cmath>

namespace {

const QStringList kRecordingFilters{"*.mp4", "*.mov", "*.avi"};

QDateTime fixTime(const OxLocation &fix)
{
    const QDate date(2000 + fix.year, fix.month, fix.day);
    const QTime time(fix.hour, fix.minute, fix.second);
    return date.isValid() && time.isValid() ? QDateTime(date, time, Qt::UTC) : QDateTime();
}

QString decimal(double v)
{
    return QString::number(v, 'f', 6);
}

} // namespace

QStringList FilesDrive::recordings(const QStringList &arguments, QString *error)
{
    QStringList files;
    for (const QString &argument : arguments) {
        const QFileInfo info(argument);
        if (info.isDir()) {
            QDir dir(argument);
            dir.setNameFilters(kRecordingFilters);
            dir.setFilter(QDir::Files | QDir::Readable);
            for (const QString &name : dir.entryList())
                files << dir.filePath(name);
        } else if (info.exists()) {
            files << argument;
        } else {
            *error = QStringLiteral("%1 does not exist").arg(argument);
            return {};
        }
    }
    if (files.isEmpty())
        *error = QStringLiteral("no recordings given");
    return files;
}

FilesDrive FilesDrive::backToBack(QStringList files, QString *error)
{
    QCollator natural;
    natural.setNumericMode(true);
    std::stable_sort(files.begin(), files.end(), [&natural](const QString &a, const QString &b) {
        return natural.compare(QFileInfo(a).fileName(), QFileInfo(b).fileName()) < 0;
    });
    FilesDrive drive;
    double start = 0;
    for (const QString &path : files) {
        StreamReader reader;
        // isFile is false for FIFOs and devices, which would block the demuxer.
        if (!QFileInfo(path).isFile() || reader.open(QFile::encodeName(path).constData()) < 0 ||
            !reader.videoStream() || reader.duration() <= 0) {
            *error = QStringLiteral("%1 is not a readable recording").arg(path);
            return {};
        }
        ExportSource source;
        source.path = path;
        source.clipOut = reader.duration();
        source.timelineStart = start;
        start += reader.duration();
        drive.sources << source;
        drive.lengths << reader.duration();
        drive.tracks << loadTrack(path);
    }
    return drive;
}

FilesDrive::Fix FilesDrive::fixAt(double t) const
{
    Fix fix;
    for (int i = 0; i < sources.size(); ++i) {
        if (t < sources[i].timelineStart && i > 0)
            break;
        fix.source = i;
    }
    if (fix.source < 0 || tracks[fix.source].isEmpty())
        return Fix();
    const int count = tracks[fix.source].size();
    const double length = lengths[fix.source];
    const double position = t - sources[fix.source].timelineStart;
    fix.index = qBound(0, int(std::floor(position / length * count)), count - 1);
    fix.timeline = sources[fix.source].timelineStart + fix.index * length / count;
    return fix;
}

QVector<FilesDrive::Fix> FilesDrive::fixesIn(double from, double to) const
{
    QVector<Fix> fixes;
    for (int i = 0; i < sources.size(); ++i) {
        const int count = tracks[i].size();
        for (int k = 0; k < count; ++k) {
            const double t = sources[i].timelineStart + k * lengths[i] / count;
            if (t >= from - 1e-6 && t < to)
                fixes << Fix{i, k, t};
        }
    }
    return fixes;
}

BandSample FilesDrive::bandAt(double t) const
{
    BandSample sample;
    const Fix fix = fixAt(t);
    if (fix.source < 0)
        return sample;
    const OxLocation &f = tracks[fix.source][fix.index];
    const QDateTime time = fixTime(f);
    if (time.isValid()) {
        sample.hasClock = true;
        sample.clockMs = time.toMSecsSinceEpoch() + qint64((t - fix.timeline) * 1000);
        // The machine's time zone, at that moment.
        sample.utcOffsetSeconds = QDateTime::fromMSecsSinceEpoch(sample.clockMs).offsetFromUtc();
    }
    sample.hasFix = f.valid;
    sample.speedKmh = f.speed;
    sample.latitude = f.latitude;
    sample.longitude = f.longitude;
    return sample;
}

QVector<QPointF> FilesDrive::route(double from, double to) const
{
    QVector<QPointF> points;
    for (const Fix &fix : fixesIn(from, to)) {
        const OxLocation &f = tracks[fix.source][fix.index];
        if (f.valid)
            points << QPointF(f.longitude, f.latitude);
    }
    return points;
}

bool FilesDrive::writeTrack(const QString &path, bool gpx, double from, double to) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    const QVector<Fix> fixes = fixesIn(from, to);
    if (gpx) {
        QXmlStreamWriter xml(&file);
        xml.setAutoFormatting(true);
        xml.writeStartDocument();
        xml.writeDefaultNamespace(QStringLiteral("http://www.topografix.com/GPX/1/1"));
        xml.writeStartElement(QStringLiteral("gpx"));
        xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.1"));
        xml.writeAttribute(QStringLiteral("creator"), QStringLiteral("dashcam-export"));
        xml.writeStartElement(QStringLiteral("trk"));
        xml.writeStartElement(QStringLiteral("trkseg"));
        for (const Fix &fix : fixes) {
            const OxLocation &f = tracks[fix.source][fix.index];
            if (!f.valid)
                continue;
            xml.writeStartElement(QStringLiteral("trkpt"));
            xml.writeAttribute(QStringLiteral("lat"), decimal(f.latitude));
            xml.writeAttribute(QStringLiteral("lon"), decimal(f.longitude));
            const QDateTime time = fixTime(f);
            if (time.isValid())
                xml.writeTextElement(QStringLiteral("time"), time.toString(Qt::ISODate));
            xml.writeEndElement();
        }
        xml.writeEndDocument();
    } else {
        QTextStream s(&file);
        s << "timeline_seconds,valid,utc,latitude,longitude,speed_kmh\n";
        for (const Fix &fix : fixes) {
            const OxLocation &f = tracks[fix.source][fix.index];
            s << QString::number(fix.timeline, 'f', 3) << ',' << (f.valid ? 1 : 0) << ','
              << fixTime(f).toString(Qt::ISODate) << ',' << decimal(f.latitude) << ','
              << decimal(f.longitude) << ',' << decimal(f.speed) << '\n';
        }
        s.flush();
    }
    return file.flush() && file.error() == QFileDevice::NoError;
}
