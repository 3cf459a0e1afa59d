#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "AppConfig.h"
#include "AppTestMain.h"

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
        QVERIFY(!config.on_color.isValid());
        QVERIFY(!config.theme().background.isValid());
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

    void instanceNamesTheApplicationAndItsDirectory() {
        AppConfig& config = AppConfig::instance();
        QCOMPARE(&config, &AppConfig::instance());
        QCOMPARE(QCoreApplication::applicationName(), QString("Velqora"));
        QCOMPARE(QCoreApplication::organizationName(), QString("Korvane"));
        QVERIFY(config.app_data_dir.endsWith("Korvane/Velqora"));
        QVERIFY(QDir(config.app_data_dir).exists());
        QVERIFY(ensureDirectory(config.app_data_dir + "/a/b"));
        QVERIFY(!ensureDirectory(QString()));
    }
};

VELQORA_TEST_MAIN(AppConfigTest)
#include "test_appconfig.moc"
