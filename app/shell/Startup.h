#pragma once

// Start-up of the program: application attributes, embedded font,
// configuration, translation, splash and main window, in that order.
// GUI thread only.

#include <QString>

#include "AppPlatform.h"  // displayProblem

// Installs the translation for the language ("zh", else English) for the
// rest of the process.
void loadLanguage(const QString& language);
// Installs Qt's own translation for "zh" from Qt's translations folder (the
// distribution's package); false for "en" or when it is not installed.
bool loadQtTranslation(const QString& language);

// Registers ":/font/NotoSansSC-Medium.ttf" and makes it the application
// font. False (and a debug message) when the font cannot be loaded.
bool registerEmbeddedFont();

// The whole program; returns the exit code of the event loop.
int runVelqora(int argc, char** argv);
