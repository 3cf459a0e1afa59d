#include "Startup.h"

#include <QApplication>
#include <QDebug>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QStandardPaths>
#include <QTranslator>
#include <memory>

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

int runVelqora(int argc, char** argv) {
    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    auto app = std::make_unique<QApplication>(argc, argv);
    registerEmbeddedFont();

    AppConfig& config = AppConfig::instance();
    loadLanguage(config.language);
    QApplication::setWindowIcon(QIcon(":/img/assets/Korvane logo_navigate.png"));

    auto splash = std::make_unique<InitDialog>();
    splash->exec();

    auto window = std::make_unique<MainWidget>();
    window->show();
    const int code = app->exec();

    window.reset();
    splash.reset();
    app.reset();
    return code;
}
