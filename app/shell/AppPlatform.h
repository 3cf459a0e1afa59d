#pragma once

// What the program does its own way on each system, so the rest of the
// shell holds no platform branches: AppPlatformPosix.cpp (Linux) and
// AppPlatformWindows.cpp, chosen by CMake. GUI thread only.

#include <QByteArray>
#include <QString>
#include <QStringList>

class QApplication;

// Why the user's home folder cannot hold the program's folders before Qt's
// own locations are asked, or empty. POSIX: HOME unset, "/" or not a folder
// (Qt would fall back to the root). Windows: the profile folder comes from
// the system, so empty.
QString homeFolderProblem();

// Why the program cannot show windows ("no display: ..."), or empty: a
// desktop platform is to be used and no display server is named or
// listening (a local ":N" server has a socket in x11SocketFolder). Windows
// always has its desktop: empty.
QString displayProblem(const QStringList& arguments, const QByteArray& platform,
                       const QByteArray& display, const QByteArray& waylandDisplay,
                       const QString& x11SocketFolder);

// The system's requests to end (POSIX: SIGTERM, SIGINT; Windows: Ctrl+C,
// Ctrl+Break in a console) end the event loop as any other exit does, so
// windows close and the configuration is written; *quitRequested is set
// first. Installed once.
void quitOnTerminationRequests(QApplication& app, bool* quitRequested);

// Starts `program` as a new, independent instance (the restart after a
// language change); false when it could not be started.
bool startProgramDetached(const QString& program);
