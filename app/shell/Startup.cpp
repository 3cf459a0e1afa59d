#include "Startup.h"

#include <QApplication>
#include <QDebug>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QTranslator>
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

int runVelqora(int argc, char** argv) {
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
    window->show();
    const int code = app->exec();

    window.reset();
    splash.reset();
    app.reset();
    return code;
}
