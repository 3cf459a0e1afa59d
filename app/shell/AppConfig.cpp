#include "AppConfig.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include "korvane/video/EventPainter.h"

namespace {

constexpr const char* kOrganisation = "Korvane";
constexpr const char* kApplication = "Velqora";
constexpr const char* kDataFolder = "/KorvaneData";

QString appDataLocation() {
    QCoreApplication::setApplicationName(kApplication);
    QCoreApplication::setOrganizationName(kOrganisation);
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    ensureDirectory(dir);
    return dir;
}

enum class PathResult { Ok, NoDocuments };

// A stored directory stands when it exists; otherwise the documents folder's
// KorvaneData is used and made, with its parents: a user without a
// Documents folder must still get somewhere to record to.
PathResult resolvePath(QSettings& s, const char* key, QString& field, const char* failText) {
    const QString stored = s.value(key).toString();
    if (!stored.isEmpty() && QDir(stored).exists()) {
        field = stored;
        return PathResult::Ok;
    }
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (docs.isEmpty()) return PathResult::NoDocuments;
    field = docs + kDataFolder;
    QDir dir(field);
    if (!dir.exists() && !dir.mkpath(field) && failText) qDebug() << failText;
    return PathResult::Ok;
}

}  // namespace

bool ensureDirectory(const QString& path) {
    if (path.isEmpty()) return false;
    QDir dir(path);
    return dir.exists() || dir.mkpath(path);
}

AppConfig& AppConfig::instance() {
    const QString dir = appDataLocation();
    // A function-local static: thread-safe construction, destroyed (and saved) at exit.
    static AppConfig config(dir + "/config.ini");
    config.app_data_dir = dir;
    return config;
}

AppConfig::AppConfig(const QString& iniFilePath)
    : settings_(std::make_unique<QSettings>(iniFilePath, QSettings::IniFormat)) {
    load();
}

AppConfig::~AppConfig() {
    save();
}

void AppConfig::load() {
    QSettings& s = *settings_;
    recent_recordings = s.value("Recent/recordings").toStringList();
    if (resolvePath(s, "Setting/output_raw_file_path", output_raw_file_path, nullptr) !=
        PathResult::Ok) {
        return;
    }
    if (resolvePath(s, "Setting/input_raw_file_path", input_raw_file_path,
                    "Create raw file path failed.") != PathResult::Ok) {
        qWarning() << "Unable to get documents location.";
        return;
    }
    language = s.value("Setting/language").toString();
    if (language != "en" && language != "zh") language = "en";
    if (resolvePath(s, "Setting/video_save_path", video_save_path,
                    "Create raw file path failed.") != PathResult::Ok) {
        return;
    }
    if (s.contains("Setting/dvs_trigger_in_rec_enable")) {
        dvs_trigger_in_rec_enable = s.value("Setting/dvs_trigger_in_rec_enable").toBool();
        dvs_trigger_in_rec_edge_type = s.value("Setting/dvs_trigger_in_rec_edge_type").toString();
        dvs_before_tirgger_in_save_time =
            s.value("Setting/dvs_before_tirgger_in_save_time").toUInt();
        dvs_after_tirgger_in_save_time = s.value("Setting/dvs_after_tirgger_in_save_time").toUInt();
    } else {
        dvs_trigger_in_rec_enable = false;
        dvs_trigger_in_rec_edge_type = "Rising Edge";
        dvs_before_tirgger_in_save_time = 0;
        dvs_after_tirgger_in_save_time = 0;
    }
    dvs_color_type = s.contains("Setting/dvs_color_type")
                         ? s.value("Setting/dvs_color_type").toString()
                         : QStringLiteral("Gray");
    updateThemeColors();
}

void AppConfig::updateThemeColors() {
    // The video export paints with the same table, so a theme looks alike in both.
    korvane::PaintTheme t;
    if (!korvane::paintThemeByName(dvs_color_type.toStdString(), t)) return;
    const auto colour = [](korvane::PaintColor c) { return QColor(c.r, c.g, c.b); };
    std::lock_guard<std::mutex> lock(themeMutex_);
    on_color = colour(t.on);
    off_color = colour(t.off);
    background_color = colour(t.background);
}

ThemeColors AppConfig::theme() const {
    std::lock_guard<std::mutex> lock(themeMutex_);
    return {on_color, off_color, background_color};
}

bool AppConfig::save() {
    updateThemeColors();
    if (reopen_) {
        // QSettings keeps its first error for its lifetime: start afresh so
        // this save can succeed (every key is written from the members).
        reopen_ = false;
        const QString file = settings_->fileName();
        settings_ = std::make_unique<QSettings>(file, QSettings::IniFormat);
    }
    QSettings& s = *settings_;
    s.setValue("Setting/output_raw_file_path", output_raw_file_path);
    s.setValue("Setting/input_raw_file_path", input_raw_file_path);
    s.setValue("Setting/language", language);
    s.setValue("Setting/video_save_path", video_save_path);
    s.setValue("Setting/dvs_trigger_in_rec_enable", dvs_trigger_in_rec_enable);
    s.setValue("Setting/dvs_trigger_in_rec_edge_type", dvs_trigger_in_rec_edge_type);
    s.setValue("Setting/dvs_before_tirgger_in_save_time", dvs_before_tirgger_in_save_time);
    s.setValue("Setting/dvs_after_tirgger_in_save_time", dvs_after_tirgger_in_save_time);
    s.setValue("Setting/dvs_color_type", dvs_color_type);
    if (recent_recordings.isEmpty()) {
        s.remove("Recent/recordings");  // an empty list would be stored as "@Invalid()"
    } else {
        s.setValue("Recent/recordings", recent_recordings);
    }
    s.sync();
    if (s.status() == QSettings::NoError) {
        qDebug() << "Write to config file.";
        return true;
    }
    reopen_ = true;
    return false;
}
