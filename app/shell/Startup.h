#pragma once

// Start-up of the program: application attributes, embedded font,
// configuration, translation, splash and main window, in that order.
// GUI thread only.

#include <QByteArray>
#include <QString>
#include <QStringList>

// Installs the translation for the language ("zh", else English) for the
// rest of the process.
void loadLanguage(const QString& language);
// Installs Qt's own translation for "zh" from Qt's translations folder (the
// distribution's package); false for "en" or when it is not installed.
bool loadQtTranslation(const QString& language);

// Registers ":/font/NotoSansSC-Medium.ttf" and makes it the application
// font. False (and a debug message) when the font cannot be loaded.
bool registerEmbeddedFont();

// Why the program cannot show windows ("no display: ..."), or empty: a
// desktop platform is to be used and no display server is named or
// listening (a local ":N" server has a socket in x11SocketFolder).
QString displayProblem(const QStringList& arguments, const QByteArray& platform,
                       const QByteArray& display, const QByteArray& waylandDisplay,
                       const QString& x11SocketFolder);

// The whole program; returns the exit code of the event loop.
int runVelqora(int argc, char** argv);
