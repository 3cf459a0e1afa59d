#include "Startup.h"

#include <QApplication>
#include <QDebug>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTranslator>
#include <cstdio>
#include <memory>

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <csignal>
#endif

#include "AppConfig.h"
#include "InitDialog.h"
#include "MainWidget.h"

void loadLanguage(const QString& language) {
    // Lives for the rest of the process: the interface keeps using it.
    auto* translator = new QTranslator();
    const QString file = language == "zh" ? ":/app_zh.qm" : ":/app_en.qm";
    if (!translator->load(file)) {
        qDebug() << "Load language failed.";
        delete translator;
        return;
    }
    if (!QCoreApplication::installTranslator(translator)) {
        qDebug() << "install translator failed.";
    }
    loadQtTranslation(language);
}

bool loadQtTranslation(const QString& language) {
    // Qt's own dialogs (the file dialog's "Look in", "Open", "Cancel") speak
    // the language too, from the translations the distribution installs.
    if (language != "zh") return false;
    auto* qt = new QTranslator();
    if (!qt->load(QLocale(QLocale::Chinese, QLocale::China), "qtbase", "_",
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(qt)) {
        qDebug() << "Qt's own translation not found.";
        delete qt;
        return false;
    }
    return true;
}

bool registerEmbeddedFont() {
    const int id = QFontDatabase::addApplicationFont(":/font/NotoSansSC-Medium.ttf");
    if (id < 0) {
        qDebug() << "Failed to load font!";
        return false;
    }
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) return true;
    QFont font(families.first());
    font.setHintingPreference(QFont::PreferNoHinting);
    QApplication::setFont(font);
    return true;
}

namespace {

bool g_quitRequested = false;

#ifndef _WIN32
int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM (logout, kill) and SIGINT (Ctrl+C) end the event loop normally, so
// windows close and the configuration is written as on any other exit.
void quitOnTerminationSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        g_quitRequested = true;
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}
#else
void quitOnTerminationSignals(QApplication&) {}
#endif

}  // namespace

QString displayProblem(const QStringList& arguments, const QByteArray& platform,
                       const QByteArray& display, const QByteArray& waylandDisplay,
                       const QString& x11SocketFolder) {
#ifdef _WIN32
    Q_UNUSED(arguments)
    Q_UNUSED(platform)
    Q_UNUSED(display)
    Q_UNUSED(waylandDisplay)
    Q_UNUSED(x11SocketFolder)
    return QString();
#else
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
#endif
}

int runVelqora(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Qt would abort (core dump) without a display; an ordinary failure says why.
    const QString noDisplay =
        displayProblem(arguments, qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"),
                       qgetenv("WAYLAND_DISPLAY"), QStringLiteral("/tmp/.X11-unix"));
    if (!noDisplay.isEmpty()) {
        std::fprintf(stderr, "%s\n", noDisplay.toLocal8Bit().constData());
        return 1;
    }
    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    auto app = std::make_unique<QApplication>(argc, argv);
    quitOnTerminationSignals(*app);
    registerEmbeddedFont();

    AppConfig& config = AppConfig::instance();
    loadLanguage(config.language);
    QApplication::setWindowIcon(QIcon(":/img/assets/Korvane logo_navigate.png"));

    auto splash = std::make_unique<InitDialog>();
    splash->exec();
    if (g_quitRequested) return 0;  // terminated during the splash

    auto window = std::make_unique<MainWidget>();
    window->restoreLayout();
    window->show();
    window->reopenAfterRestart();
    // Said once: the program goes on with defaults and saves nothing.
    if (const QString home = AppConfig::startupHomeProblem(); !home.isEmpty()) {
        qWarning().noquote() << "no usable home folder:" << home << "- the settings are not saved";
        window->slotShowLeftBottomTips(
            QCoreApplication::translate("Startup",
                                        "No usable home folder: the settings will not be saved."),
            KvMessageType::Warning);
    } else if (const QString notice = config.loadNotice(); !notice.isEmpty()) {
        // Which file, and what is wrong with it.
        window->slotShowLeftBottomTips(notice, KvMessageType::Warning, config.fileName());
    }
    const int code = app->exec();

    window.reset();
    splash.reset();
    app.reset();
    return code;
}
