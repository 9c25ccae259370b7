#include "driveheader.h"

#include "configkeys.h"
#include "language.h"
#include "oxconfigure.h"
#include "tripmath.h"

#include <QStringList>

namespace {

// The setting's value for miles, and its default (what the trip panel assumes).
constexpr int kSpeedMiles = 1;

QString lengthText(double seconds)
{
    const qint64 s = qRound64(seconds);
    if (s < 60)
        return QStringLiteral("%1 %2").arg(s).arg(languageText(QStringLiteral("drive_seconds")));
    const qint64 minutes = qRound64(seconds / 60);
    const QString min = languageText(QStringLiteral("drive_minutes"));
    if (minutes < 60)
        return QStringLiteral("%1 %2").arg(minutes).arg(min);
    return QStringLiteral("%1 %2 %3 %4")
        .arg(minutes / 60)
        .arg(languageText(QStringLiteral("drive_hours")))
        .arg(minutes % 60)
        .arg(min);
}

} // namespace

DistanceUnit configuredDistanceUnit()
{
    return OxConfigure().intValue(ConfigKey::Speed, kSpeedMiles) == kSpeedMiles
               ? DistanceUnit::Miles
               : DistanceUnit::Kilometres;
}

QString driveHeaderText(const Drive &drive, const DriveTrack &track, DistanceUnit unit)
{
    QStringList parts;
    const std::optional<qint64> start = drive.clockAt(0);
    const std::optional<qint64> end = drive.clockAt(drive.duration());
    if (start && end) {
        const QDateTime from = clockToLocal(*start, drive.clockKind);
        const QDateTime to = clockToLocal(*end, drive.clockKind);
        parts << QStringLiteral("%1 %2\u2013%3")
                     .arg(from.toString(QStringLiteral("yyyy-MM-dd")),
                          from.toString(QStringLiteral("HH:mm")),
                          to.toString(QStringLiteral("HH:mm")));
    }
    parts << lengthText(drive.duration());
    if (track.hasValidFix()) {
        const bool miles = unit == DistanceUnit::Miles;
        const double distance = track.distanceKm() * (miles ? kKmToMiles : 1);
        parts << QStringLiteral("%1 %2")
                     .arg(distance, 0, 'f', 1)
                     .arg(languageText(miles ? QStringLiteral("drive_miles")
                                             : QStringLiteral("drive_km")));
    }
    const int n = drive.clips.size();
    parts << QStringLiteral("%1 %2").arg(n).arg(
        languageText(n == 1 ? QStringLiteral("drive_clip") : QStringLiteral("drive_clips")));
    return parts.join(QStringLiteral(" \u00b7 "));
}
