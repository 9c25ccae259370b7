#pragma once

#include <QString>

// The keys of configure.ini, each named once. Every reader passes its own default.
namespace ConfigKey {
inline const QString Language = QStringLiteral("Language");           // language file name
inline const QString Map = QStringLiteral("Map");                     // 1 Baidu page, 2 Google page
inline const QString Speed = QStringLiteral("Speed");                 // 0 km/h, 1 mph
inline const QString GPSCorrection = QStringLiteral("GPSCorrection"); // 1 corrected for the map page, 0 raw
} // namespace ConfigKey
