#include "AppConfig.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStandardPaths>
#include <limits>

#include "AppPlatform.h"
#include "korvane/video/EventPainter.h"

namespace {

constexpr const char* kOrganisation = "Korvane";
constexpr const char* kApplication = "Velqora";
constexpr const char* kDataFolder = "/KorvaneData";
constexpr int kRecentCount = 10;

constexpr const char* kOutput = "Setting/output_raw_file_path";
constexpr const char* kInput = "Setting/input_raw_file_path";
constexpr const char* kLanguage = "Setting/language";
constexpr const char* kVideo = "Setting/video_save_path";
constexpr const char* kTriggerEnable = "Setting/dvs_trigger_in_rec_enable";
constexpr const char* kTriggerEdge = "Setting/dvs_trigger_in_rec_edge_type";
constexpr const char* kBefore = "Setting/dvs_before_tirgger_in_save_time";
constexpr const char* kAfter = "Setting/dvs_after_tirgger_in_save_time";
constexpr const char* kColour = "Setting/dvs_color_type";
constexpr const char* kRecent = "Recent/recordings";
constexpr const char* kGeometry = "Window/geometry";
constexpr const char* kPanel = "Window/panel";
constexpr const char* kReopen = "Window/reopen_recording";
// Every single-valued key, in the order they are written.
const char* const kKeys[] = {kOutput, kInput, kLanguage, kVideo,    kTriggerEnable, kTriggerEdge,
                             kBefore, kAfter, kColour,   kGeometry, kPanel,         kReopen};

const QStringList kColourTypes{"Gray", "RedBlue", "Dark", "RedGreen", "Light"};
const QStringList kEdgeTypes{"Rising Edge", "Falling Edge"};

QString g_startupHomeProblem;

// A file that exists but is not a regular one (a FIFO would block the read
// for good, a folder cannot be written) is left alone.
bool regularOrAbsent(const QString& file) {
    const QFileInfo info(file);
    return !info.exists() || info.isFile();
}

// Without a usable home the defaults go to the temporary folder, never to
// "/Documents" at the root.
QString documentsLocation() {
    if (!AppConfig::homeProblem().isEmpty()) return QDir::tempPath();
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

enum class PathResult { Ok, NoDocuments };

// A stored directory stands when it exists; otherwise the documents folder's
// KorvaneData is used and made, with its parents: a user without a
// Documents folder must still get somewhere to record to.
PathResult resolvePath(const QVariant& value, QString& field, const char* failText) {
    const QString stored = value.toString();
    if (!stored.isEmpty() && QDir(stored).exists()) {
        field = stored;
        return PathResult::Ok;
    }
    const QString docs = documentsLocation();
    if (docs.isEmpty()) return PathResult::NoDocuments;
    field = docs + kDataFolder;
    QDir dir(field);
    if (!dir.exists() && !dir.mkpath(field) && failText) qDebug() << failText;
    return PathResult::Ok;
}

// Only the texts a settings file holds for "true"; anything else is false.
bool readFlag(const QVariant& value, const char* key, QStringList& notes) {
    const QString text = value.toString().trimmed().toLower();
    if (text == "true" || text == "1") return true;
    if (text != "false" && text != "0")
        notes << QString("%1: \"%2\" is not true or false; false is used.")
                     .arg(key, value.toString());
    return false;
}

quint32 readSeconds(const QVariant& value, const char* key, quint32 max, QStringList& notes) {
    bool ok = false;
    const qlonglong v = value.toString().trimmed().toLongLong(&ok);
    if (!ok) {
        notes << QString("%1: \"%2\" is not a number of seconds; 0 is used.")
                     .arg(key, value.toString());
        return 0;
    }
    if (v < 0) {
        notes << QString("%1: negative seconds (%2); 0 is used.").arg(key).arg(v);
        return 0;
    }
    if (v > qlonglong(max)) {
        notes << QString("%1: %2 seconds is more than the %3 that can be kept; %3 is used.")
                     .arg(key)
                     .arg(v)
                     .arg(max);
        return max;
    }
    return quint32(v);
}

QString oneOf(const QVariant& value, const QStringList& allowed, const char* key,
              QStringList& notes) {
    const QString text = value.toString();
    if (allowed.contains(text)) return text;
    notes << QString("%1: \"%2\" is not one of %3; \"%4\" is used.")
                 .arg(key, text, allowed.join(", "), allowed.first());
    return allowed.first();
}

// What the file is read for on the first use of instance(): afterwards the
// getter only gets, so a caller's changes to the names or the folder stand.
QString firstUseFile() {
    QCoreApplication::setApplicationName(kApplication);
    QCoreApplication::setOrganizationName(kOrganisation);
    g_startupHomeProblem = AppConfig::homeProblem();
    if (!g_startupHomeProblem.isEmpty()) return QString();
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/config.ini";
}

}  // namespace

bool ensureDirectory(const QString& path) {
    if (path.isEmpty()) return false;
    QDir dir(path);
    return dir.exists() || dir.mkpath(path);
}

QString AppConfig::homeProblem() {
    if (const QString home = homeFolderProblem(); !home.isEmpty()) return home;
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (dir.isEmpty()) return "there is no per-user data folder";
    if (!ensureDirectory(dir) || !QFileInfo(dir).isWritable())
        return QString("the data folder %1 cannot be made or written").arg(dir);
    return QString();
}

QString AppConfig::startupHomeProblem() {
    return g_startupHomeProblem;
}

AppConfig& AppConfig::instance() {
    // A function-local static: thread-safe construction, destroyed (and saved) at exit.
    static AppConfig config(firstUseFile());
    static const bool placed = [] {
        if (!config.fileName().isEmpty()) config.app_data_dir = QFileInfo(config.fileName()).path();
        return true;
    }();
    (void)placed;
    return config;
}

AppConfig::AppConfig(const QString& iniFilePath) : iniFile_(iniFilePath) {
    load();
}

AppConfig::~AppConfig() {
    if (usable_) save();
}

void AppConfig::load() {
    usable_ = !iniFile_.isEmpty() && regularOrAbsent(iniFile_);
    notRegular_ = !iniFile_.isEmpty() && !usable_;
    unreadableLines_ = false;
    if (notRegular_)
        loadNotes_ << QString(
                          "%1 is not a regular file: the defaults are used and nothing is saved.")
                          .arg(iniFile_);
    // Read once into memory; an unusable file reads as empty.
    QMap<QString, QVariant> file;
    if (usable_) {
        QSettings s(iniFile_, QSettings::IniFormat);
        for (const QString& key : s.allKeys())
            file.insert(key, s.value(key));
        unreadableLines_ = s.status() == QSettings::FormatError;
        if (unreadableLines_)
            loadNotes_ << QString(
                              "%1 has lines that cannot be read; they are dropped when it is "
                              "next written.")
                              .arg(iniFile_);
    }
    for (const char* key : kKeys)
        stored_.insert(key, file.contains(key) ? file.value(key).toString() : QString());
    window_geometry = file.value(kGeometry).toString();
    bool panelOk = false;
    window_panel = file.value(kPanel).toInt(&panelOk);
    if (!panelOk || window_panel < -1 || window_panel > 2) window_panel = -1;
    reopen_recording = file.value(kReopen).toString();
    recent_recordings = file.value(kRecent).toStringList();
    storedRecent_ = recent_recordings;

    if (resolvePath(file.value(kOutput), output_raw_file_path, nullptr) != PathResult::Ok) return;
    if (resolvePath(file.value(kInput), input_raw_file_path, "Create raw file path failed.") !=
        PathResult::Ok) {
        qWarning() << "Unable to get documents location.";
        return;
    }
    language = file.value(kLanguage).toString();
    if (language != "en" && language != "zh") language = "en";
    if (resolvePath(file.value(kVideo), video_save_path, "Create raw file path failed.") !=
        PathResult::Ok) {
        return;
    }
    if (file.contains(kTriggerEnable)) {
        dvs_trigger_in_rec_enable =
            readFlag(file.value(kTriggerEnable), kTriggerEnable, loadNotes_);
        dvs_trigger_in_rec_edge_type =
            oneOf(file.value(kTriggerEdge), kEdgeTypes, kTriggerEdge, loadNotes_);
        dvs_before_tirgger_in_save_time =
            file.contains(kBefore)
                ? readSeconds(file.value(kBefore), kBefore, kMaxBeforeTriggerSeconds, loadNotes_)
                : 0;
        dvs_after_tirgger_in_save_time =
            file.contains(kAfter)
                ? readSeconds(file.value(kAfter), kAfter, kMaxAfterTriggerSeconds, loadNotes_)
                : 0;
        // As in the dialog: trigger recording that keeps nothing is off.
        if (dvs_trigger_in_rec_enable && dvs_before_tirgger_in_save_time == 0 &&
            dvs_after_tirgger_in_save_time == 0) {
            dvs_trigger_in_rec_enable = false;
            loadNotes_ << QString("%1: 0 seconds before and after the trigger record nothing; "
                                  "trigger recording is off.")
                              .arg(kTriggerEnable);
        }
    } else {
        dvs_trigger_in_rec_enable = false;
        dvs_trigger_in_rec_edge_type = "Rising Edge";
        dvs_before_tirgger_in_save_time = 0;
        dvs_after_tirgger_in_save_time = 0;
    }
    dvs_color_type = file.contains(kColour)
                         ? oneOf(file.value(kColour), kColourTypes, kColour, loadNotes_)
                         : QStringLiteral("Gray");
    updateThemeColors();
    for (const QString& note : loadNotes_)
        qWarning().noquote() << note;
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

QMap<QString, QVariant> AppConfig::currentValues() const {
    return {{kOutput, output_raw_file_path},
            {kInput, input_raw_file_path},
            {kLanguage, language},
            {kVideo, video_save_path},
            {kTriggerEnable, dvs_trigger_in_rec_enable},
            {kTriggerEdge, dvs_trigger_in_rec_edge_type},
            {kBefore, dvs_before_tirgger_in_save_time},
            {kAfter, dvs_after_tirgger_in_save_time},
            {kColour, dvs_color_type},
            {kGeometry, window_geometry},
            {kPanel, window_panel},
            {kReopen, reopen_recording}};
}

QString AppConfig::loadNotice() const {
    auto tr = [](const char* text) { return QCoreApplication::translate("AppConfig", text); };
    if (notRegular_)
        return tr("The settings file %1 is not a regular file (a pipe, a folder or a device): "
                  "the defaults are in force and no setting will be saved.")
            .arg(iniFile_);
    if (unreadableLines_)
        return tr("The settings file %1 has lines that cannot be read: their settings have "
                  "their defaults, and the lines are dropped when the file is next written.")
            .arg(iniFile_);
    if (loadNotes_.isEmpty()) return {};
    return tr("Some values in the settings file %1 could not be used; their defaults are in "
              "force: %2")
        .arg(iniFile_, loadNotes_.join(" "));
}

bool AppConfig::save() {
    updateThemeColors();
    lastSaveError_.clear();
    if (!usable_ || !regularOrAbsent(iniFile_)) {
        lastSaveError_ = iniFile_.isEmpty() ? QString("there is no settings file")
                                            : QString("%1 is not a regular file").arg(iniFile_);
        return false;
    }
    // Another window may save at the same time: read, merge and write as one step.
    // (QSettings locks "<file>.lock" itself while it writes, hence another name.)
    QLockFile lock(iniFile_ + ".merge-lock");
    lock.setStaleLockTime(30000);
    if (!lock.tryLock(10000)) {
        lastSaveError_ = QString("%1 is held by another window").arg(iniFile_);
        return false;
    }
    QSettings s(iniFile_, QSettings::IniFormat);
    // Only what this object changed, so another window's changes survive.
    QMap<QString, QVariant> written;
    const QMap<QString, QVariant> current = currentValues();
    for (const char* key : kKeys) {
        const QVariant value = current.value(key);
        const QString before = stored_.value(key);
        if (!before.isNull() && before == value.toString()) continue;
        s.setValue(key, value);
        written.insert(key, value);
    }
    QStringList recent = recent_recordings;
    const bool recentChanged = recent_recordings != storedRecent_;
    if (recentChanged) {
        // Entries this window opened (new, or moved up) go first, then what
        // the file holds now, less what this window dropped.
        QStringList merged;
        for (int i = 0; i < recent_recordings.size(); ++i) {
            const qsizetype was = storedRecent_.indexOf(recent_recordings[i]);
            if (was < 0 || i < was) merged << recent_recordings[i];
        }
        for (const QString& path : s.value(kRecent).toStringList()) {
            const bool dropped = storedRecent_.contains(path) && !recent_recordings.contains(path);
            if (!dropped && !merged.contains(path)) merged << path;
        }
        while (merged.size() > kRecentCount)
            merged.removeLast();
        recent = merged;
        if (recent.isEmpty())
            s.remove(kRecent);  // an empty list would be stored as "@Invalid()"
        else
            s.setValue(kRecent, recent);
    }
    s.sync();
    bool ok = s.status() == QSettings::NoError;
    if (s.status() == QSettings::FormatError) {
        // The error is the one read before: the file may well be written. Judge by reading back.
        QSettings back(iniFile_, QSettings::IniFormat);
        ok = true;
        for (auto it = written.cbegin(); it != written.cend(); ++it)
            ok = ok && back.value(it.key()).toString() == it.value().toString();
        if (recentChanged) ok = ok && back.value(kRecent).toStringList() == recent;
    }
    if (!ok) {
        lastSaveError_ = QString("%1 could not be written").arg(iniFile_);
        return false;
    }
    for (auto it = written.cbegin(); it != written.cend(); ++it)
        stored_[it.key()] = it.value().toString();
    if (recentChanged) {
        recent_recordings = recent;
        storedRecent_ = recent;
    }
    qDebug() << "Write to config file.";
    return true;
}
