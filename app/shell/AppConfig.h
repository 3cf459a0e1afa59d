#pragma once

// The process-wide configuration: nine keys of group "Setting" in
// config.ini under the per-user application data directory, plus the theme
// colours derived from the colour type, and the list of recently opened
// recordings (group "Recent", newest first).
//
// Every value is checked once, when it is read: one that is not allowed
// falls back to its default (and is written back corrected), so the
// settings dialog, the file and the program agree. What was corrected is
// kept in loadNotes().
//
// Several windows (processes) may share the file: save() writes only the
// keys this object changed since it read or last wrote them, merged into
// what the file holds now, under a lock file; the Recent list is merged the
// same way. A settings file that is not a regular file (a FIFO, a folder)
// is never opened: the object keeps its defaults and does not save.
//
// Ownership: instance() creates the one object on first use and destroys it
// at process exit, where it writes what changed. Tests may create their
// own objects on other files; an empty file name gives an object that reads
// and writes no file.
// Threads: fields are read and written on the GUI thread; worker threads
// read the theme only through theme(), which returns the three colours as
// one consistent value while save() may be changing them.

#include <QColor>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <mutex>

#include "ThemeColors.h"

class QSettings;

class AppConfig {
public:
    // The recorder's cache keeps at most this many seconds before an edge.
    static constexpr quint32 kMaxBeforeTriggerSeconds = 65535;
    // More than 18 hours after an edge is a typing slip, not a recording.
    static constexpr quint32 kMaxAfterTriggerSeconds = 65535;

    // Only gets: the application names, the data folder and the object are
    // worked out on the first call alone.
    static AppConfig& instance();

    // Reads the file (missing keys take their defaults). Does not write it.
    explicit AppConfig(const QString& iniFilePath);
    ~AppConfig();  // writes what changed
    AppConfig(const AppConfig&) = delete;
    AppConfig& operator=(const AppConfig&) = delete;

    // Writes the changed keys; false when they could not be written (read-only
    // folder, no space, no usable file), so a caller can tell the user.
    bool save();
    void updateThemeColors();
    ThemeColors theme() const;
    // Why the last save() failed (English, for the log), empty after success.
    QString lastSaveError() const { return lastSaveError_; }
    // Values of the file that were not allowed and what was used instead
    // (English, one line each).
    const QStringList& loadNotes() const { return loadNotes_; }
    // What the user is told at start-up about the file (translated): its
    // path and what was wrong with it; empty when nothing was.
    QString loadNotice() const;
    QString fileName() const { return iniFile_; }

    // Why the user's home folder cannot hold the program's folders (HOME
    // unset, or the data folder cannot be made or written), empty when it
    // can. Without one the program keeps working with defaults and writes
    // nothing at the root of the file system.
    static QString homeProblem();
    // The problem found by instance(); empty when the home folder is usable.
    static QString startupHomeProblem();

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
    // The main window as it was last closed (group "Window"): its geometry
    // (base64 of QWidget::saveGeometry), the side panel shown (-1 none) and,
    // only across a language restart, the recording to open again.
    QString window_geometry;
    int window_panel = -1;
    QString reopen_recording;

    // Derived from dvs_color_type by updateThemeColors(); read them through theme()
    // from other threads.
    QColor on_color;
    QColor off_color;
    QColor background_color;

private:
    void load();
    QMap<QString, QVariant> currentValues() const;

    mutable std::mutex themeMutex_;
    QString iniFile_;
    bool usable_ = false;            // a regular file (or none yet) we may read and write
    QMap<QString, QString> stored_;  // key -> text as read or last written (absent: null)
    QStringList storedRecent_;       // the Recent list as read or last written
    QStringList loadNotes_;
    bool notRegular_ = false;       // a FIFO, a folder or a device: never opened
    bool unreadableLines_ = false;  // lines the INI reader could not take
    QString lastSaveError_;
};

// True when the directory exists or was created with all missing parents.
bool ensureDirectory(const QString& path);
