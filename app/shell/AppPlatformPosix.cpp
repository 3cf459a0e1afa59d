#include "AppPlatform.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <csignal>

namespace {

int g_signalPipe[2] = {-1, -1};
bool* g_quitRequested = nullptr;

void onTerminationSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace

QString homeFolderProblem() {
    const QString home = QString::fromLocal8Bit(qgetenv("HOME"));
    if (home.isEmpty() || QDir::cleanPath(home) == "/") return "HOME is not set";
    if (!QFileInfo(home).isDir()) return QString("HOME (%1) is not a folder").arg(home);
    return QString();
}

QString displayProblem(const QStringList& arguments, const QByteArray& platform,
                       const QByteArray& display, const QByteArray& waylandDisplay,
                       const QString& x11SocketFolder) {
    // Another platform chosen (offscreen, vnc, ...) needs no display server.
    if (arguments.contains("-platform")) return QString();
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return QString();
    if (!waylandDisplay.isEmpty()) return QString();
    if (display.isEmpty())
        return "no display: DISPLAY is not set (start Velqora from a desktop session)";
    // ":N" or ":N.S" is a local server, which listens on a socket of that number.
    static const QRegularExpression local("^:(\\d+)(\\.\\d+)?$");
    const auto m = local.match(QString::fromLocal8Bit(display));
    if (m.hasMatch() && !QFileInfo::exists(x11SocketFolder + "/X" + m.captured(1)))
        return QString("no display: nothing serves DISPLAY %1")
            .arg(QString::fromLocal8Bit(display));
    return QString();
}

void quitOnTerminationRequests(QApplication& app, bool* quitRequested) {
    if (g_signalPipe[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) return;
    g_quitRequested = quitRequested;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        if (g_quitRequested) *g_quitRequested = true;
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

bool startProgramDetached(const QString& program) {
    return QProcess::startDetached(program, {});
}
