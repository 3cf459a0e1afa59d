#pragma once

// The process-wide configuration: nine keys of group "Setting" in
// config.ini under the per-user application data directory, plus the theme
// colours derived from the colour type, and the list of recently opened
// recordings (group "Recent", newest first).
//
// Ownership: instance() creates the one object on first use and destroys it
// at process exit, where it writes every key back. Tests may create their
// own objects on other files.
// Threads: fields are read and written on the GUI thread; worker threads
// read the theme only through theme(), which returns the three colours as
// one consistent value while save() may be changing them.

#include <QColor>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>

#include "ThemeColors.h"

class QSettings;

class AppConfig {
public:
    static AppConfig& instance();

    // Reads the file (missing keys take their defaults). Does not write it.
    explicit AppConfig(const QString& iniFilePath);
    ~AppConfig();  // writes every key back
    AppConfig(const AppConfig&) = delete;
    AppConfig& operator=(const AppConfig&) = delete;

    // Writes every key; false when the file could not be written (read-only
    // folder, no space), so a caller can tell the user.
    bool save();
    void updateThemeColors();
    ThemeColors theme() const;

    QString app_data_dir;
    QString output_raw_file_path;
    QString input_raw_file_path;
    QString video_save_path;
    QString language;
    bool dvs_trigger_in_rec_enable = false;
    QString dvs_trigger_in_rec_edge_type;
    quint32 dvs_before_tirgger_in_save_time = 0;
    quint32 dvs_after_tirgger_in_save_time = 0;
    QString dvs_color_type;
    QStringList recent_recordings;

    // Derived from dvs_color_type by updateThemeColors(); read them through theme()
    // from other threads.
    QColor on_color;
    QColor off_color;
    QColor background_color;

private:
    void load();

    mutable std::mutex themeMutex_;
    std::unique_ptr<QSettings> settings_;
    bool reopen_ = false;  // the last save failed
};

// True when the directory exists or was created with all missing parents.
bool ensureDirectory(const QString& path);
