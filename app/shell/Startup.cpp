#include "Startup.h"

#include <QApplication>
#include <QDebug>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QTranslator>
#include <cstdio>
#include <memory>

#include "AppConfig.h"
#include "AppPlatform.h"
#include "InitDialog.h"
#include "MainWidget.h"

void loadLanguage(const QString& language) {
    // Owned by the application, as the interface uses it until the end.
    auto* translator = new QTranslator(QCoreApplication::instance());
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
    auto* qt = new QTranslator(QCoreApplication::instance());
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
}  // namespace

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
    quitOnTerminationRequests(*app, &g_quitRequested);
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
