#include "AppPlatform.h"

// Not compiled here (no Qt for Windows on the build machine): kept to Qt
// calls and the one console call Qt has no counterpart for.

#include <windows.h>

#include <QApplication>
#include <QMetaObject>
#include <QProcess>
#include <atomic>

namespace {

bool g_installed = false;
std::atomic<bool*> g_quitRequested{nullptr};

// Runs on a thread of its own that the system starts: only a queued call
// reaches the GUI thread.
BOOL WINAPI onConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    QMetaObject::invokeMethod(
        qApp,
        [] {
            if (bool* requested = g_quitRequested.load()) *requested = true;
            QCoreApplication::quit();
        },
        Qt::QueuedConnection);
    return TRUE;
}

}  // namespace

QString homeFolderProblem() {
    return QString();
}

QString displayProblem(const QStringList&, const QByteArray&, const QByteArray&, const QByteArray&,
                       const QString&) {
    return QString();
}

void quitOnTerminationRequests(QApplication& app, bool* quitRequested) {
    if (g_installed) return;
    g_installed = true;
    g_quitRequested = quitRequested;
    // Logging off and shutting down reach a window program as session
    // messages, which Qt turns into an ordinary quit.
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    // Once the loop ends nothing is left to post to: the system's default
    // handling applies again.
    QObject::connect(&app, &QCoreApplication::aboutToQuit,
                     [] { SetConsoleCtrlHandler(onConsoleControl, FALSE); });
}

bool startProgramDetached(const QString& program) {
    return QProcess::startDetached(program, {});
}
