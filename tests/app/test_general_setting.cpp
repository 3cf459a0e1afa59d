#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTranslator>

#include "AppConfig.h"
#include "AppTestMain.h"
#include "KVComboBoxBase.h"
#include "KvComboBox.h"
#include "KvEventProcessor.h"
#include "KvGeneralSetting.h"
#include "ThreadSafeSignalSpy.h"
#include "WindowFrameAgent.h"
#include "ui_KvGeneralSetting.h"

namespace {

QByteArray configBytes() {
    QFile f(AppConfig::instance().app_data_dir + "/config.ini");
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// Puts the configuration into a known state, written to the file.
void storeDefaults(const QString& edge = "Rising Edge") {
    AppConfig& c = AppConfig::instance();
    c.dvs_trigger_in_rec_enable = false;
    c.dvs_trigger_in_rec_edge_type = edge;
    c.dvs_before_tirgger_in_save_time = 0;
    c.dvs_after_tirgger_in_save_time = 3;
    c.dvs_color_type = "Gray";
    c.save();
}

}  // namespace

class GeneralSettingTest : public QObject {
    Q_OBJECT
private slots:
    void formAndFrame() {
        storeDefaults();
        KvGeneralSetting dialog;
        Ui::KvGeneralSetting* f = dialog.form();
        QCOMPARE(dialog.windowTitle(), QString("KvGerenalSetting"));
        QCOMPARE(dialog.size(), QSize(646, 437));
        QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(dialog.frameAgent()->titleBar(), f->widget_title_name);
        QCOMPARE(f->lb_title->text(), QString("General Settings"));
        QVERIFY(f->tw_settings->tabBar()->isHidden());
        QCOMPARE(f->lw_general_setting_items->count(), 2);
        QCOMPARE(f->lw_general_setting_items->currentRow(), 0);
        f->lw_general_setting_items->setCurrentRow(1);
        QCOMPARE(f->tw_settings->currentIndex(), 1);
        QStringList colors;
        for (int i = 0; i < f->widget_combobox_color_theme->comboBox()->count(); ++i)
            colors << f->widget_combobox_color_theme->comboBox()->itemText(i);
        QCOMPARE(colors, (QStringList{"Gray", "Dark", "RedBlue", "RedGreen", "Light"}));
        QCOMPARE(f->le_default_file_path->text(), AppConfig::instance().output_raw_file_path);
        QCOMPARE(f->le_trigger_in_after_time->text(), QString("3"));
    }

    // A configuration file that cannot be written is reported, and the
    // dialog stays open instead of closing as if the settings were kept.
    void unwritableConfigurationIsReported() {
        storeDefaults();
        const QString ini = AppConfig::instance().app_data_dir + "/config.ini";
        const QByteArray before = configBytes();
        QVERIFY(QFile::remove(ini));
        QVERIFY(QDir().mkdir(ini));  // a folder where the file belongs: no write succeeds
        KvGeneralSetting dialog;
        QStringList reports;
        dialog.setErrorReporter([&](const QString&, const QString& text) { reports << text; });
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        dialog.form()->le_trigger_in_after_time->setText("7");
        dialog.form()->pb_save->click();
        QVERIFY(QDir().rmdir(ini));
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports.front().contains(ini), qPrintable(reports.front()));
        QCOMPARE(accepted.count(), 0);
        QVERIFY(dialog.result() != QDialog::Accepted);

        // Writable again: saved and closed.
        dialog.form()->pb_save->click();
        QCOMPARE(reports.size(), 1);
        QCOMPARE(accepted.count(), 1);
        QVERIFY(configBytes() != before);
        storeDefaults();
    }

    void storedEdgeTypeSelectsItsEntry() {
        const QList<QPair<QString, int>> cases{
            {"Rising Edge", 0}, {"Falling Edge", 1}, {"rising edge", 0}, {"", 0}};
        for (const auto& [stored, index] : cases) {
            storeDefaults(stored);
            KvGeneralSetting dialog;
            QCOMPARE(dialog.form()->cb_trigger_in_edge->comboBox()->currentIndex(), index);
        }
    }

    void secondsStepWithinTheirRange() {
        storeDefaults();
        KvGeneralSetting dialog;
        Ui::KvGeneralSetting* f = dialog.form();
        f->pb_sub_trigger_in_before_time->click();  // at 0
        QCOMPARE(f->le_trigger_in_before_time->text(), QString("0"));
        f->le_trigger_in_after_time->setText("abc");
        f->pb_add_trigger_in_after_time->click();
        QCOMPARE(f->le_trigger_in_after_time->text(), QString("1"));
        f->le_trigger_in_after_time->setText("65535");
        f->pb_add_trigger_in_after_time->click();  // held at the most that can be recorded
        QCOMPARE(f->le_trigger_in_after_time->text(), QString("65535"));
        f->pb_sub_trigger_in_after_time->click();
        QCOMPARE(f->le_trigger_in_after_time->text(), QString("65534"));
        // Before the trigger, no more than the recorder's cache keeps.
        f->le_trigger_in_before_time->setText("65535");
        f->pb_add_trigger_in_before_time->click();
        QCOMPARE(f->le_trigger_in_before_time->text(), QString("65535"));
        QCOMPARE(parseSeconds("4294967296"), quint32(0));
        QCOMPARE(parseSeconds("-1"), quint32(0));
    }

    // A number of seconds beyond what can be kept comes down to the most that
    // can at the end of the edit; other text is left for Save to judge.
    void secondsAreClampedAtTheEndOfTheEdit() {
        storeDefaults();
        KvGeneralSetting dialog;
        Ui::KvGeneralSetting* f = dialog.form();
        for (QLineEdit* field : {f->le_trigger_in_before_time, f->le_trigger_in_after_time}) {
            const std::pair<const char*, const char*> rows[] = {
                {"99999999999", "65535"},
                {"99999999999999999999999", "65535"},
                {"65536", "65535"},
                {"65535", "65535"},
                {"12", "12"},
                {"x7", "x7"},
            };
            for (const auto& [typed, shown] : rows) {
                field->setText(typed);
                QCOMPARE(field->text(), QString(typed));  // not rewritten while typed
                emit field->editingFinished();
                QVERIFY2(field->text() == shown, typed);
            }
        }
    }

    // What the recorder cannot do is refused with the reason, nothing written.
    void valuesTheRecorderCannotHoldAreRefused() {
        struct Row {
            bool enable;
            const char* before;
            const char* after;
            const char* reason;  // part of the refusal, or null when saved
        };
        const Row rows[] = {
            {true, "0", "0", "at least one second"},
            {false, "0", "0", nullptr},
            {true, "0", "1", nullptr},
            {true, "2", "0", nullptr},
            {false, "65536", "1", "65535 seconds before"},
            {false, "65535", "1", nullptr},
            {false, "1", "99999999999", "65535 seconds after"},
            {false, "1", "65536", "65535 seconds after"},
            {false, "1", "65535", nullptr},
        };
        for (const Row& r : rows) {
            storeDefaults();
            const QByteArray before = configBytes();
            KvGeneralSetting dialog;
            QStringList reports;
            dialog.setErrorReporter([&](const QString&, const QString& text) { reports << text; });
            QSignalSpy changed(&dialog, &KvGeneralSetting::signalTriggerInSaveFileParamChanged);
            Ui::KvGeneralSetting* f = dialog.form();
            f->sb_trigger_in_rec_enable->setChecked(r.enable);
            f->le_trigger_in_before_time->setText(r.before);
            f->le_trigger_in_after_time->setText(r.after);
            f->pb_save->click();
            const QString label = QString("%1/%2/%3").arg(r.enable).arg(r.before, r.after);
            if (r.reason) {
                QCOMPARE(reports.size(), 1);
                QVERIFY2(reports.front().contains(r.reason), qPrintable(reports.front()));
                QCOMPARE(changed.count(), 0);
                QVERIFY2(configBytes() == before, qPrintable(label));
                QVERIFY(dialog.result() != QDialog::Accepted);
            } else {
                QVERIFY2(reports.isEmpty(), qPrintable(label));
                QCOMPARE(AppConfig::instance().dvs_before_tirgger_in_save_time,
                         parseSeconds(r.before));
            }
        }
        storeDefaults();
    }

    void directoriesStartFromTheStoredFolder() {
        storeDefaults();
        KvGeneralSetting dialog;
        Ui::KvGeneralSetting* f = dialog.form();
        QString asked;
        QString answer;
        dialog.setDirectoryDialog([&](const QString& caption, const QString& start) {
            asked = caption + "|" + start;
            return answer;
        });
        f->le_default_file_path->setText("/typed/but/not/saved");
        f->pb_select_dir->click();
        QCOMPARE(asked, "Select Directory|" + AppConfig::instance().output_raw_file_path);
        QCOMPARE(f->le_default_file_path->text(), QString("/typed/but/not/saved"));  // cancelled
        answer = "/chosen/videos";
        f->pb_select_video_save_path->click();
        QCOMPARE(asked, "Select Directory|" + AppConfig::instance().video_save_path);
        QCOMPARE(f->le_default_video_file_path->text(), answer);
    }

    void cancelLeavesTheFileUnchanged() {
        storeDefaults();
        const QByteArray before = configBytes();
        QVERIFY(!before.isEmpty());
        for (int way = 0; way < 2; ++way) {
            KvGeneralSetting dialog;
            Ui::KvGeneralSetting* f = dialog.form();
            QSignalSpy changed(&dialog, &KvGeneralSetting::signalTriggerInSaveFileParamChanged);
            f->le_default_file_path->setText("/elsewhere");
            f->le_default_video_file_path->setText("/elsewhere/video");
            f->sb_trigger_in_rec_enable->click();
            f->cb_trigger_in_edge->comboBox()->setCurrentIndex(1);
            f->le_trigger_in_before_time->setText("9");
            f->le_trigger_in_after_time->setText("8");
            f->widget_combobox_color_theme->comboBox()->setCurrentIndex(4);
            (way == 0 ? f->pb_cancel : f->pb_win_close)->click();
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QCOMPARE(changed.count(), 0);
            QCOMPARE(configBytes(), before);
            QCOMPARE(AppConfig::instance().dvs_color_type, QString("Gray"));
        }
    }

    void saveWritesEveryFieldAndTheNextFrameUsesTheTheme() {
        storeDefaults();
        KvGeneralSetting dialog;
        Ui::KvGeneralSetting* f = dialog.form();
        QSignalSpy changed(&dialog, &KvGeneralSetting::signalTriggerInSaveFileParamChanged);
        f->le_default_file_path->setText("/data/raw");
        f->le_default_video_file_path->setText("/data/video");
        f->sb_trigger_in_rec_enable->click();
        f->cb_trigger_in_edge->comboBox()->setCurrentIndex(1);
        f->le_trigger_in_before_time->setText("5");
        f->le_trigger_in_after_time->setText("x7");  // not a number: 0
        f->widget_combobox_color_theme->comboBox()->setCurrentText("Dark");
        f->pb_save->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(changed.count(), 1);

        AppConfig probe(AppConfig::instance().app_data_dir + "/config.ini");  // reads the file
        QCOMPARE(probe.dvs_trigger_in_rec_enable, true);
        QCOMPARE(probe.dvs_trigger_in_rec_edge_type, QString("Falling Edge"));
        QCOMPARE(probe.dvs_before_tirgger_in_save_time, quint32(5));
        QCOMPARE(probe.dvs_after_tirgger_in_save_time, quint32(0));
        QCOMPARE(probe.dvs_color_type, QString("Dark"));
        // Folders are stored as typed (missing ones fall back when read at start-up).
        QSettings ini(AppConfig::instance().app_data_dir + "/config.ini", QSettings::IniFormat);
        QCOMPARE(ini.value("Setting/output_raw_file_path").toString(), QString("/data/raw"));
        QCOMPARE(ini.value("Setting/video_save_path").toString(), QString("/data/video"));

        KvEventProcessor player;
        player.setThemeSource([] { return AppConfig::instance().theme(); });  // as the window does
        ThreadSafeSignalSpy images(&player, &KvEventProcessor::signalEventImage);
        player.requestFrame();
        QTRY_VERIFY(!images.isEmpty());
        const QImage image = images.last().at(0).value<QImage>();
        QCOMPARE(image.pixelColor(0, 0), QColor(30, 37, 52));
        storeDefaults();
    }

    void edgeTypeIsStoredUntranslatedUnderChinese() {
        storeDefaults("Falling Edge");
        QTranslator chinese;
        QVERIFY(chinese.load(":/app_zh.qm"));
        QVERIFY(QCoreApplication::installTranslator(&chinese));
        KvGeneralSetting dialog;
        Ui::KvGeneralSetting* f = dialog.form();
        KVComboBoxBase* edge = f->cb_trigger_in_edge->comboBox();
        QVERIFY(edge->itemText(0) != "Rising Edge");  // shown translated
        QCOMPARE(f->lb_title->text(), QString::fromUtf8("通用设置"));
        edge->setCurrentIndex(0);
        // Theme names too: shown in Chinese, stored in English.
        KVComboBoxBase* themes = f->widget_combobox_color_theme->comboBox();
        QCOMPARE(themes->itemText(1), QString::fromUtf8("深色"));
        themes->setCurrentIndex(1);
        f->pb_save->click();
        QCOMPARE(AppConfig::instance().dvs_color_type, QString("Dark"));
        QCOMPARE(AppConfig::instance().dvs_trigger_in_rec_edge_type, QString("Rising Edge"));
        QSettings ini(AppConfig::instance().app_data_dir + "/config.ini", QSettings::IniFormat);
        QCOMPARE(ini.value("Setting/dvs_trigger_in_rec_edge_type").toString(),
                 QString("Rising Edge"));
    }
};

VELQORA_TEST_MAIN(GeneralSettingTest)
#include "test_general_setting.moc"
