#pragma once

#include <QString>

// The settings of configure.ini: each key, its values and its defaults named once.
namespace ConfigKey {
inline const QString Language = QStringLiteral("Language");           // language file name
inline const QString Map = QStringLiteral("Map");                     // a MapPage value
inline const QString Speed = QStringLiteral("Speed");                 // a SpeedUnit value
inline const QString GPSCorrection = QStringLiteral("GPSCorrection"); // a GPSCorrection value
// How a second camera channel shows beside the first: a ChannelLayout value. Written when
// the user changes it, never at start-up.
inline const QString ChannelLayout = QStringLiteral("ChannelLayout");
} // namespace ConfigKey

namespace MapPage {
constexpr int Baidu = 1;
constexpr int Google = 2;
} // namespace MapPage

namespace SpeedUnit {
constexpr int Kmh = 0;
constexpr int Mph = 1;
// Any value but Mph counts as kilometres.
constexpr bool isMiles(int unit)
{
    return unit == Mph;
}
} // namespace SpeedUnit

namespace GPSCorrection {
constexpr int Raw = 0;       // coordinates as the camera wrote them
constexpr int Corrected = 1; // converted to the datum of the map page
} // namespace GPSCorrection

namespace ChannelLayout {
constexpr int PictureInPicture = 0; // the second channel small in a corner of the first
constexpr int SideBySide = 1;       // both at half the width
constexpr int OneChannel = 2;       // the first alone
constexpr bool isValid(int layout)
{
    return layout >= PictureInPicture && layout <= OneChannel;
}
// The order a key or a button steps through.
constexpr int next(int layout)
{
    return isValid(layout) && layout != OneChannel ? layout + 1 : PictureInPicture;
}
} // namespace ChannelLayout

// What start-up writes for a missing key, and what each reader falls back on when the
// file holds no usable value. The readers' defaults differ on purpose: they only
// matter for a file changed by hand, and each reader keeps the one it always had.
namespace ConfigDefault {
inline const QString Language = QStringLiteral("english"); // start-up and every reader

constexpr int MapAtStartUp = MapPage::Google;
constexpr int Map = MapPage::Google; // window and dialog

constexpr int SpeedAtStartUp = SpeedUnit::Mph;
constexpr int SpeedInPanel = SpeedUnit::Mph;
constexpr int SpeedInDialog = SpeedUnit::Kmh;

constexpr int CorrectionAtStartUp = GPSCorrection::Corrected;
constexpr int Correction = GPSCorrection::Raw; // window and dialog

constexpr int Layout = ChannelLayout::PictureInPicture; // the window; not written at start-up
} // namespace ConfigDefault
