#include "driveexport.h"

#include "gpswriter.h"

#include <QFile>

#include <memory>

namespace {

struct DriveData
{
    Drive drive;
    DriveTrack track;
};

BandSample sampleAt(const DriveData &data, double t)
{
    BandSample sample;
    if (const std::optional<qint64> clock = data.drive.clockAt(t)) {
        const QDateTime local = clockToLocal(*clock, data.drive.clockKind);
        sample.hasClock = local.isValid();
        sample.clockMs = local.toMSecsSinceEpoch();
        sample.utcOffsetSeconds = local.offsetFromUtc();
    }
    if (const DriveTrackPoint *point = data.track.pointAt(t)) {
        // A fix from before the span's clip or a void one shows no data rather than an
        // old speed.
        sample.hasFix = point->fix.valid && point->driveTime > t - 2.0;
        sample.speedKmh = point->fix.speed;
        sample.latitude = point->fix.latitude;
        sample.longitude = point->fix.longitude;
    }
    return sample;
}

} // namespace

ExportRequest driveExportRequest(const Drive &drive, const DriveTrack &track, double from,
                                 double to)
{
    // The callbacks run on the export's thread, after the caller's drive may be gone.
    const auto data = std::make_shared<const DriveData>(DriveData{drive, track});

    ExportRequest request;
    request.from = from;
    request.to = to;
    for (const DriveClip &clip : drive.clips)
        request.sources.append({clip.facts.path, clip.clipIn, clip.clipOut, clip.driveStart});
    for (const DriveTrackPoint &point : track.points) {
        if (point.fix.valid && point.driveTime >= from && point.driveTime <= to)
            request.route.append(QPointF(point.fix.longitude, point.fix.latitude));
    }
    request.bandAt = [data](double t) { return sampleAt(*data, t); };
    request.writeTrack = [data](const QString &path, bool gpx, double a, double b) {
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        writeDriveSpan(out, data->drive, data->track, a, b,
                       gpx ? GpsFileFormat::Gpx : GpsFileFormat::Csv);
        return out.flush() && out.error() == QFileDevice::NoError;
    };
    return request;
}

void addPairedChannel(ExportRequest &request, const ChannelPairing &pairing)
{
    request.rear.clear();
    for (const PairedSource &s : pairing.sources)
        request.rear.append({s.path, s.clipIn, s.clipOut, s.timelineStart, s.videoStream});
}
