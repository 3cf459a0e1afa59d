#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include <sys/stat.h>

#include <functional>

#include "AppConfig.h"
#include "AppTestMain.h"
#include "Startup.h"

namespace {

// A settings file's text and what the object and the file hold after it was read.
struct SettingsFileCase {
    const char* name;
    QByteArray text;  // written as config.ini; "FIFO" makes a FIFO instead
    std::function<void(const AppConfig&)> check;
    // Keys and the text the file holds after save(); empty: save() must fail.
    QList<QPair<QString, QString>> writtenBack;
    bool notes;  // something was corrected and said
};

QByteArray triggerKeys(const QByteArray& enable, const QByteArray& edge, const QByteArray& before,
                       const QByteArray& after) {
    return "[Setting]\ndvs_trigger_in_rec_enable=" + enable +
           "\ndvs_trigger_in_rec_edge_type=" + edge +
           "\ndvs_before_tirgger_in_save_time=" + before +
           "\ndvs_after_tirgger_in_save_time=" + after + "\n";
}

}  // namespace

class AppConfigTest : public QObject {
    Q_OBJECT

    QString documentsData() const {
        return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/KorvaneData";
    }

private slots:
    void defaultsOnMissingFileAndAllKeysWrittenAtExit() {
        QTemporaryDir dir;
        const QString ini = dir.filePath("config.ini");
        {
            AppConfig config(ini);
            QCOMPARE(config.output_raw_file_path, documentsData());
            QCOMPARE(config.input_raw_file_path, documentsData());
            QCOMPARE(config.video_save_path, documentsData());
            QVERIFY(QDir(documentsData()).exists());
            QCOMPARE(config.language, QString("en"));
            QCOMPARE(config.dvs_trigger_in_rec_enable, false);
            QCOMPARE(config.dvs_trigger_in_rec_edge_type, QString("Rising Edge"));
            QCOMPARE(config.dvs_before_tirgger_in_save_time, 0u);
            QCOMPARE(config.dvs_after_tirgger_in_save_time, 0u);
            QCOMPARE(config.dvs_color_type, QString("Gray"));
            QCOMPARE(config.on_color, QColor(191, 188, 180));
            QCOMPARE(config.off_color, QColor(64, 61, 51));
            QCOMPARE(config.background_color, QColor(112, 112, 112));
            QVERIFY(!QFile::exists(ini));  // reading alone writes nothing
        }
        QSettings s(ini, QSettings::IniFormat);
        const QStringList keys{"output_raw_file_path",
                               "input_raw_file_path",
                               "language",
                               "video_save_path",
                               "dvs_trigger_in_rec_enable",
                               "dvs_trigger_in_rec_edge_type",
                               "dvs_before_tirgger_in_save_time",
                               "dvs_after_tirgger_in_save_time",
                               "dvs_color_type"};
        s.beginGroup("Setting");
        QCOMPARE(s.childKeys().size(), keys.size());
        for (const QString& k : keys)
            QVERIFY2(s.contains(k), qPrintable(k));
        QCOMPARE(s.value("language").toString(), QString("en"));
        QCOMPARE(s.value("dvs_color_type").toString(), QString("Gray"));
    }

    void storedValuesFallbacksAndForeignLanguage() {
        QTemporaryDir dir;
        QTemporaryDir recordings;
        const QString ini = dir.filePath("config.ini");
        const QString gone = dir.filePath("gone/away");
        {
            QSettings s(ini, QSettings::IniFormat);
            s.setValue("Setting/output_raw_file_path", recordings.path());
            s.setValue("Setting/input_raw_file_path", gone);
            s.setValue("Setting/language", "fr");
            s.setValue("Setting/dvs_trigger_in_rec_edge_type", "Falling Edge");
            s.setValue("Setting/dvs_before_tirgger_in_save_time", 7);
            s.setValue("Setting/dvs_color_type", "Dark");
        }
        {
            AppConfig config(ini);
            QCOMPARE(config.output_raw_file_path, recordings.path());
            QCOMPARE(config.input_raw_file_path, documentsData());
            QVERIFY(!QDir(gone).exists());  // not created at the stored place
            QCOMPARE(config.language, QString("en"));
            // Without the enable key the other trigger keys are ignored.
            QCOMPARE(config.dvs_trigger_in_rec_edge_type, QString("Rising Edge"));
            QCOMPARE(config.dvs_before_tirgger_in_save_time, 0u);
            QCOMPARE(config.background_color, QColor(30, 37, 52));
        }
        QSettings s(ini, QSettings::IniFormat);
        QCOMPARE(s.value("Setting/language").toString(), QString("en"));
        QCOMPARE(s.value("Setting/input_raw_file_path").toString(), documentsData());

        {
            QSettings w(ini, QSettings::IniFormat);
            w.setValue("Setting/dvs_trigger_in_rec_enable", true);
            w.setValue("Setting/dvs_trigger_in_rec_edge_type", "Falling Edge");
            w.setValue("Setting/dvs_after_tirgger_in_save_time", 12);
            w.setValue("Setting/language", "zh");
        }
        AppConfig again(ini);
        QCOMPARE(again.dvs_trigger_in_rec_enable, true);
        QCOMPARE(again.dvs_trigger_in_rec_edge_type, QString("Falling Edge"));
        QCOMPARE(again.dvs_after_tirgger_in_save_time, 12u);
        QCOMPARE(again.language, QString("zh"));
    }

    void colourNamesAreCaseSensitive() {
        QTemporaryDir dir;
        const QString ini = dir.filePath("config.ini");
        QSettings(ini, QSettings::IniFormat).setValue("Setting/dvs_color_type", "gray");
        AppConfig config(ini);
        // Not a name of the table: the default theme, never invalid colours.
        QCOMPARE(config.dvs_color_type, QString("Gray"));
        QCOMPARE(config.theme().background, QColor(112, 112, 112));
        config.dvs_color_type = "Light";
        config.save();
        QCOMPARE(config.theme().background, QColor(255, 255, 255));
        config.dvs_color_type = "LIGHT";  // unknown: colours stay as they were
        config.updateThemeColors();
        QCOMPARE(config.theme().on, QColor(0, 0, 0));
    }

    // A worker reading the theme while the GUI saves must never see a mix of two themes.
    void themeIsReadAsOneValue() {
        QTemporaryDir dir;
        AppConfig config(dir.filePath("config.ini"));
        std::atomic<bool> stop{false};
        std::atomic<int> mixed{0};
        std::thread reader([&] {
            while (!stop.load()) {
                ThemeColors t = config.theme();
                const bool gray =
                    t.background == QColor(112, 112, 112) && t.on == QColor(191, 188, 180);
                const bool dark =
                    t.background == QColor(30, 37, 52) && t.on == QColor(216, 223, 236);
                if (!gray && !dark) ++mixed;
            }
        });
        for (int i = 0; i < 2000; ++i) {
            config.dvs_color_type = i % 2 ? "Dark" : "Gray";
            config.updateThemeColors();
        }
        stop = true;
        reader.join();
        QCOMPARE(mixed.load(), 0);
    }

    // Every value is checked once when read; what the program uses is what the
    // file holds after the next save.
    void settingsFileValuesAreCheckedWhenRead() {
        using P = QPair<QString, QString>;
        const QList<SettingsFileCase> cases{
            {"unknown theme",
             "[Setting]\ndvs_color_type=Purple\n",
             [](const AppConfig& c) {
                 QCOMPARE(c.dvs_color_type, QString("Gray"));
                 QCOMPARE(c.theme().on, QColor(191, 188, 180));
             },
             {P{"dvs_color_type", "Gray"}},
             true},
            {"known theme",
             "[Setting]\ndvs_color_type=RedGreen\n",
             [](const AppConfig& c) { QCOMPARE(c.theme().off, QColor(0, 255, 0)); },
             {P{"dvs_color_type", "RedGreen"}},
             false},
            {"before seconds above the cache",
             triggerKeys("true", "Falling Edge", "65536", "2"),
             [](const AppConfig& c) {
                 QCOMPARE(c.dvs_before_tirgger_in_save_time, 65535u);
                 QCOMPARE(c.dvs_trigger_in_rec_edge_type, QString("Falling Edge"));
             },
             {P{"dvs_before_tirgger_in_save_time", "65535"}},
             true},
            {"seconds beyond 32 bits",
             triggerKeys("true", "Rising Edge", "99999999999", "99999999999"),
             [](const AppConfig& c) {
                 QCOMPARE(c.dvs_before_tirgger_in_save_time, 65535u);
                 QCOMPARE(c.dvs_after_tirgger_in_save_time, 65535u);
             },
             {P{"dvs_after_tirgger_in_save_time", "65535"}},
             true},
            {"negative and non-numeric seconds",
             triggerKeys("true", "Rising Edge", "-5", "abc"),
             [](const AppConfig& c) {
                 QCOMPARE(c.dvs_before_tirgger_in_save_time, 0u);
                 QCOMPARE(c.dvs_after_tirgger_in_save_time, 0u);
                 QCOMPARE(c.dvs_trigger_in_rec_enable, false);
             },
             {P{"dvs_before_tirgger_in_save_time", "0"}, P{"dvs_after_tirgger_in_save_time", "0"}},
             true},
            {"trigger recording that keeps nothing",
             triggerKeys("true", "Rising Edge", "0", "0"),
             [](const AppConfig& c) { QCOMPARE(c.dvs_trigger_in_rec_enable, false); },
             {P{"dvs_trigger_in_rec_enable", "false"}},
             true},
            {"lower-case edge",
             triggerKeys("true", "rising edge", "1", "1"),
             [](const AppConfig& c) {
                 QCOMPARE(c.dvs_trigger_in_rec_edge_type, QString("Rising Edge"));
             },
             {P{"dvs_trigger_in_rec_edge_type", "Rising Edge"}},
             true},
            {"empty edge",
             triggerKeys("true", "", "1", "1"),
             [](const AppConfig& c) {
                 QCOMPARE(c.dvs_trigger_in_rec_edge_type, QString("Rising Edge"));
             },
             {P{"dvs_trigger_in_rec_edge_type", "Rising Edge"}},
             true},
            {"maybe is not true",
             triggerKeys("maybe", "Rising Edge", "1", "1"),
             [](const AppConfig& c) { QCOMPARE(c.dvs_trigger_in_rec_enable, false); },
             {P{"dvs_trigger_in_rec_enable", "false"}},
             true},
            {"true and 1 are true",
             triggerKeys("1", "Falling Edge", "3", "4"),
             [](const AppConfig& c) {
                 QCOMPARE(c.dvs_trigger_in_rec_enable, true);
                 QCOMPARE(c.dvs_before_tirgger_in_save_time, 3u);
             },
             {P{"dvs_trigger_in_rec_enable", "true"}},
             false},
            {"a line that cannot be read",
             "[Setting\nlanguage=zh\n[Setting]\ndvs_color_type=Dark\n",
             [](const AppConfig& c) { QCOMPARE(c.theme().background, QColor(30, 37, 52)); },
             {P{"dvs_color_type", "Dark"}, P{"language", "en"}},
             true},
            {"a FIFO instead of a file",
             "FIFO",
             [](const AppConfig& c) {
                 QCOMPARE(c.language, QString("en"));
                 QCOMPARE(c.dvs_color_type, QString("Gray"));
             },
             {},
             true},
        };
        for (const SettingsFileCase& k : cases) {
            QTemporaryDir dir;
            const QString ini = dir.filePath("config.ini");
            if (k.text == "FIFO") {
                QVERIFY(::mkfifo(QFile::encodeName(ini).constData(), 0600) == 0);
            } else {
                QFile f(ini);
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(k.text);
            }
            AppConfig config(ini);  // a FIFO must not block this
            k.check(config);
            QVERIFY2(config.loadNotes().isEmpty() != k.notes, k.name);
            // The start-up notice names the file and says what was wrong with it.
            const QString notice = config.loadNotice();
            QVERIFY2(notice.isEmpty() != k.notes, k.name);
            if (k.notes) QVERIFY2(notice.contains(ini), qPrintable(notice));
            if (k.text == "FIFO") QVERIFY2(notice.contains("not a regular file"), k.name);
            if (k.text.startsWith("[Setting\n"))
                QVERIFY2(notice.contains("cannot be read"), qPrintable(notice));
            // A save is reported as it went: written (despite a bad line read
            // before) or refused (never writing into a FIFO).
            config.language = "en";
            QCOMPARE(config.save(), !k.writtenBack.isEmpty());
            if (k.writtenBack.isEmpty()) {
                QVERIFY2(!config.lastSaveError().isEmpty(), k.name);
                continue;
            }
            QSettings back(ini, QSettings::IniFormat);
            for (const auto& [key, value] : k.writtenBack)
                QVERIFY2(back.value("Setting/" + key).toString() == value,
                         qPrintable(QString("%1: %2").arg(k.name, key)));
            AppConfig again(ini);  // what was written reads back without a correction
            k.check(again);
            QVERIFY2(again.loadNotes().isEmpty(), k.name);
        }
    }

    // Two windows on one file: each writes what it changed, so both changes survive.
    void twoObjectsOnOneFileMergeTheirChanges() {
        QTemporaryDir dir;
        const QString ini = dir.filePath("config.ini");
        { AppConfig first(ini); }  // the defaults are written at exit
        AppConfig a(ini), b(ini);
        a.dvs_color_type = "Dark";
        a.recent_recordings = {"/data/a.raw"};
        QVERIFY(a.save());
        b.language = "zh";
        b.recent_recordings = {"/data/b.raw"};
        QVERIFY(b.save());
        QCOMPARE(b.recent_recordings, (QStringList{"/data/b.raw", "/data/a.raw"}));
        b.dvs_after_tirgger_in_save_time = 9;
        QVERIFY(b.save());  // b's colour was never changed: a's stays
        AppConfig read(ini);
        QCOMPARE(read.dvs_color_type, QString("Dark"));
        QCOMPARE(read.language, QString("zh"));
        QCOMPARE(read.recent_recordings, (QStringList{"/data/b.raw", "/data/a.raw"}));

        // A recording dropped by one window is not brought back by the other's merge.
        a.recent_recordings.clear();
        QVERIFY(a.save());
        AppConfig after(ini);
        QCOMPARE(after.recent_recordings, QStringList{"/data/b.raw"});
    }

    // Without a home folder nothing goes to the root of the file system.
    void noHomeFolderKeepsDefaultsAwayFromTheRoot() {
        const QByteArray home = qgetenv("HOME");
        qunsetenv("HOME");
        const QString problem = AppConfig::homeProblem();
        AppConfig config{QString()};
        const QString output = config.output_raw_file_path;
        const bool saved = config.save();
        qputenv("HOME", home);
        QVERIFY(!problem.isEmpty());
        QVERIFY2(output.startsWith(QDir::tempPath()), qPrintable(output));
        QVERIFY(!saved);
        QVERIFY(AppConfig::homeProblem().isEmpty());
    }

    void noDisplayIsOneLine() {
        QTemporaryDir sockets;
        QFile(sockets.filePath("X5")).open(QIODevice::WriteOnly);
        const QStringList plain{"velqora"};
        struct Row {
            QStringList args;
            QByteArray platform, display, wayland;
            bool refused;
        };
        const QList<Row> rows{
            {plain, "", "", "", true},
            {plain, "xcb", "", "", true},
            {plain, "", ":9", "", true},  // nothing listens on :9
            {plain, "", ":5", "", false},
            {plain, "", ":5.0", "", false},
            {plain, "", "remote:10", "", false},
            {plain, "", "", "wayland-0", false},
            {plain, "offscreen", "", "", false},
            {{"velqora", "-platform", "offscreen"}, "", "", "", false},
        };
        for (const Row& r : rows) {
            const QString why =
                displayProblem(r.args, r.platform, r.display, r.wayland, sockets.path());
            QVERIFY2(why.isEmpty() != r.refused, qPrintable(r.display + " " + r.platform));
            if (r.refused)
                QVERIFY2(why.startsWith("no display: ") && !why.contains('\n'), qPrintable(why));
        }
    }

    void instanceNamesTheApplicationAndItsDirectory() {
        AppConfig& config = AppConfig::instance();
        QCOMPARE(&config, &AppConfig::instance());
        QCOMPARE(QCoreApplication::applicationName(), QString("Velqora"));
        QCOMPARE(QCoreApplication::organizationName(), QString("Korvane"));
        QVERIFY(config.app_data_dir.endsWith("Korvane/Velqora"));
        QVERIFY(QDir(config.app_data_dir).exists());
        QVERIFY(ensureDirectory(config.app_data_dir + "/a/b"));
        QVERIFY(!ensureDirectory(QString()));

        // The getter only gets: a test's own folder and names stand.
        const QString own = config.app_data_dir + "/own";
        config.app_data_dir = own;
        QCoreApplication::setApplicationName("Other");
        QCOMPARE(AppConfig::instance().app_data_dir, own);
        QCOMPARE(QCoreApplication::applicationName(), QString("Other"));
        QCoreApplication::setApplicationName("Velqora");
        config.app_data_dir = QFileInfo(config.fileName()).path();
    }
};

VELQORA_TEST_MAIN(AppConfigTest)
#include "test_appconfig.moc"
