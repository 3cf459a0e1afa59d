#pragma once

// Firmware versions as cameras report them ("Quenta_V1.7.0", "2.4.1").
// GUI or worker thread; no state.

#include <QString>

// The oldest Quenta firmware this program works with.
inline constexpr const char* kMinimumQuentaFirmware = "V2.4.0";

// True when the version in `text` is at least the one in `minimum`. A
// version is the first "V" followed by up to three dotted numbers, or, in a
// text without such, the first dotted number. A text holding no version
// gives a warning "Cannot parse version from:" and false.
bool isVersionAtLeast(const QString& text, const QString& minimum);
