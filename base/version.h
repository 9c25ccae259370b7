#pragma once

// Shown in the settings dialog.
inline constexpr const char kVersionText[] = "V 1.0.1";
