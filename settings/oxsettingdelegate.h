#pragma once

#include <QString>

// Receives every change made in the settings dialog, after the new value has been
// written to configure.ini. The main window implements it.
class OxSettingDelegate
{
public:
    virtual ~OxSettingDelegate() = default;

    // 1 Baidu map page, 2 Google map page.
    virtual void onMapChanged(int map) = 0;
    // The language key, the base name of a language file (e.g. "french").
    virtual void onLanguageChanged(const QString &language) = 0;
    // 0 km/h, 1 mph.
    virtual void onSpeedUnitChanged(int unit) = 0;
    // 1 coordinates corrected for the map page, 0 raw.
    virtual void onGPSCorrectionChanged(int correction) = 0;
    // A change could not be written to file (configure.ini): it holds until the program
    // ends. Sent before the change itself.
    virtual void onSettingsNotSaved(const QString &file) { (void)file; }
};
