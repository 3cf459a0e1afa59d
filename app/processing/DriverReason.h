#pragma once

// The camera libraries give failures as stable English texts; the window
// shows its own translated words for the ones it knows. This is the one
// reading of those texts: "cannot create PATH: WHY" and "cannot open: WHY"
// name the system's reason last, the rest are the reason itself.
//
// Pure functions; any thread.

#include <initializer_list>
#include <string>

struct DriverReason {
    std::string why;        // the reason alone, matched against the known texts
    bool creating = false;  // the file could not be made
};

DriverReason splitDriverReason(const std::string& driverReason);

struct KnownDriverReason {
    std::string driver;  // the library's text (strerror texts included)
    const char* text;    // untranslated words to show, marked with QT_TRANSLATE_NOOP
};

// The words for `why`, or `otherwise` when it is none of the known ones.
const char* knownDriverReason(const std::string& why,
                              std::initializer_list<KnownDriverReason> known,
                              const char* otherwise);
