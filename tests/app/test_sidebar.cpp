#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include "AppConfig.h"
#include "AppTestMain.h"
#include "FakeCameraTool.h"
#include "KVComboBoxBase.h"
#include "KvComboBox.h"
#include "KvEventProcessor.h"
#include "KvGeneralSetting.h"
#include "KvToolTip.h"
#include "MainWidget.h"
#include "SettingBaseWithComboBox.h"
#include "SettingBaseWithLineEdit.h"
#include "SettingDisplayItem.h"
#include "SettingItemBox.h"
#include "SidebarApsSettingUI.h"
#include "SidebarCameraSettingUI.h"
#include "SidebarDvsSettingUI.h"
#include "ThreadSafeSignalSpy.h"
#include "WindowTestSupport.h"
#include "ui_MainWidget.h"
#include "ui_SettingBaseWithLineEdit.h"

namespace {

// Closes the next modal dialog as soon as it runs; reports what it was.
void closeNextDialog(QString* className, QWidget** parent) {
    QTimer::singleShot(0, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            closeNextDialog(className, parent);
            return;
        }
        *className = modal->metaObject()->className();
        *parent = modal->parentWidget();
        modal->close();
    });
}

void typeAndFinish(KvComboBox* field, const QString& text) {
    QLineEdit* edit = field->comboBox()->lineEdit();
    edit->setText(text);
    emit edit->editingFinished();
}

int eventPixels(const QImage& image, const QColor& background) {
    int n = 0;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            n += image.pixelColor(x, y) != background;
    return n;
}

}  // namespace

class SideBarTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

private slots:
    // The panel shows slow rate 1 and 33.33ms: that is what must play from the start.
    void playerStartsWithWhatThePanelShows() {
        MainWidget w;
        KvEventProcessor* p = w.rawProcessor();
        QCOMPARE(p->fps(), uint64_t(30));
        QCOMPARE(p->frameInterval(), uint64_t(33333));
        QCOMPARE(p->accumulationTime(), uint64_t(33330));
        QVERIFY(w.form()->layout_sidebar_setting->indexOf(w.displayPanel()) >= 0);
        QVERIFY(w.form()->layout_sidebar_setting->indexOf(w.dvsPanel()) >= 0);
        QVERIFY(w.form()->layout_sidebar_setting->indexOf(w.apsPanel()) >= 0);
    }

    void foldButtonsActAsAGroupOfThree() {
        MainWidget w;
        QVERIFY(shownOnScreen(w));
        Ui::MainWidget* f = w.form();
        QVERIFY(!f->frame_setting->isVisible());

        f->pb_fold_setting->click();
        QVERIFY(f->frame_setting->isVisible());
        QCOMPARE(f->frame_setting->maximumWidth(), 500);
        QVERIFY(w.displayPanel()->isVisible());
        QVERIFY(!w.dvsPanel()->isVisible());

        f->pb_fold_dvs_setting->click();
        QVERIFY(w.dvsPanel()->isVisible());
        QVERIFY(!w.displayPanel()->isVisible());
        QVERIFY(!f->pb_fold_setting->isChecked());
        QVERIFY(f->pb_fold_dvs_setting->isChecked());

        f->pb_fold_aps_setting->click();
        QVERIFY(w.apsPanel()->isVisible());
        QVERIFY(!w.dvsPanel()->isVisible());
        QVERIFY(!f->pb_fold_dvs_setting->isChecked());

        f->pb_fold_aps_setting->click();  // unchecking folds the panel area
        QVERIFY(!w.apsPanel()->isVisible());
        QVERIFY(!f->frame_setting->isVisible());
        QCOMPARE(f->frame_setting->maximumWidth(), f->widget_side_bar->width());

        // Each icon button of the side bar has a tip saying what it opens.
        for (QPushButton* b : {f->pb_fold_setting, f->pb_fold_dvs_setting, f->pb_fold_aps_setting,
                               f->pb_fold_general_setting}) {
            auto* tip = w.findChild<KvToolTip*>("tip_" + b->objectName());
            QVERIFY2(tip, qPrintable(b->objectName()));
            QCOMPARE(tip->anchor(), b);
            QVERIFY(tip->text().endsWith("settings"));
        }
    }

    // After a choice in a side-panel combo box the play keys still reach the
    // window, a click on the picture takes the focus back, and Esc leaves a
    // text field, whose own keys stay its own.
    void windowKeysWorkOutsideTextFields() {
        const QString path = writeRecording(dir_.filePath("keys.raw"), 1000000, 100000);
        MainWidget w;
        QVERIFY(shownOnScreen(w));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.openRecordingPath(path);
        QVERIFY(waitUntilLoaded(w));
        auto tool = std::make_shared<FakeCameraTool>();
        tool->addEnum("mode", {"A", "B", "C"});
        tool->addInt("level", 0, 100, 5);
        w.dvsPanel()->setEventTrailFilterToolUI(tool);
        w.form()->pb_fold_dvs_setting->click();
        SettingItemBox* box = w.dvsPanel()->groupBox(korvane::ToolType::EventTrailFilter);
        box->setFoldState(false);
        SettingBaseWithComboBox* choice = nullptr;
        SettingBaseWithLineEdit* level = nullptr;
        for (int i = 0; i < box->itemCount(); ++i) {
            if (auto* c = qobject_cast<SettingBaseWithComboBox*>(box->itemAt(i))) choice = c;
            if (auto* l = qobject_cast<SettingBaseWithLineEdit*>(box->itemAt(i))) level = l;
        }
        QVERIFY(choice && level);
        QComboBox* combo = choice->comboBox()->comboBox();
        QTRY_VERIFY(combo->isVisible());
        w.activateWindow();  // the load's waiting window may have had it
        QVERIFY(QTest::qWaitForWindowActive(&w));
        combo->setFocus();
        QTRY_VERIFY(combo->hasFocus() || combo->isAncestorOf(QApplication::focusWidget()));
        combo->setCurrentIndex(1);
        tool->writes.clear();

        QWidget* focused = QApplication::focusWidget();
        QPushButton* play = w.form()->pb_play;
        const bool playing = play->isChecked();
        QTest::keyClick(focused, Qt::Key_Space);
        QCOMPARE(play->isChecked(), !playing);
        QTest::keyClick(focused, Qt::Key_Right);
        QTest::keyClick(focused, Qt::Key_Left);
        QCOMPARE(combo->currentIndex(), 1);
        QVERIFY(tool->writes.empty());

        QTest::mouseClick(w.form()->widget_show_image, Qt::LeftButton);
        QTRY_COMPARE(QApplication::focusWidget(), &w);

        QLineEdit* edit = level->form()->le_kv_line_edit;
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        const bool before = play->isChecked();
        QTest::keyClick(edit, Qt::Key_Space);  // typed into the field
        QCOMPARE(play->isChecked(), before);
        QCOMPARE(edit->text(), QString("5 "));
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClick(edit, Qt::Key_Escape);
        QTRY_VERIFY(!edit->hasFocus());
        QCOMPARE(QApplication::focusWidget(), &w);
    }

    void generalSettingOpensFromSideBarAndMenu() {
        MainWidget w;
        QVERIFY(shownOnScreen(w));
        QString kind;
        QWidget* parent = nullptr;
        closeNextDialog(&kind, &parent);
        w.form()->pb_fold_general_setting->click();
        QCOMPARE(kind, QString("KvGeneralSetting"));
        QCOMPARE(parent, &w);
        QVERIFY(!w.form()->pb_fold_general_setting->isChecked());

        closeNextDialog(&kind, &parent);
        kind.clear();
        w.action("General Setting")->trigger();
        QCOMPARE(kind, QString("KvGeneralSetting"));
        QCOMPARE(parent, nullptr);
    }

    void languageSwitchRestartsOnceInTheOtherLanguage() {
        AppConfig& config = AppConfig::instance();
        const QString ini = config.app_data_dir + "/config.ini";
        const QList<QPair<QString, QString>> cases{{"en", "zh"}, {"zh", "en"}, {"fr", "en"}};
        for (const auto& [from, to] : cases) {
            config.language = from;
            MainWidget w;
            QVERIFY(shownOnScreen(w));
            QStringList started;
            QString savedLanguage;
            bool stillVisible = true;
            QStringList asked;
            bool answer = false;
            w.setAskUser([&](const QString& title, const QString& text, const QString& yes,
                             const QString& no) {
                asked << title << text << yes << no;
                return answer;
            });
            w.setStartProgram([&](const QString& program) {
                // The old instance has saved and closed its windows by now.
                started << program;
                savedLanguage =
                    QSettings(ini, QSettings::IniFormat).value("Setting/language").toString();
                stillVisible = w.isVisible();
                return true;
            });
            w.action("EN/中文")->trigger();  // "Later"
            QCOMPARE(asked,
                     (QStringList{"Tips", "The language change will take effect after restart.",
                                  "Restart", "Later"}));
            QCOMPARE(config.language, from);
            QVERIFY(started.isEmpty());
            QVERIFY(w.isVisible());

            answer = true;
            w.action("EN/中文")->trigger();
            QCOMPARE(config.language, to);
            QCOMPARE(started, QStringList{QCoreApplication::applicationFilePath()});
            QVERIFY(!w.isVisible());
            QCOMPARE(savedLanguage, to);
            QVERIFY(!stillVisible);
        }
        config.language = "en";
    }

    // A switch whose save failed says so and keeps this instance in its language.
    void languageSwitchThatCannotSaveDoesNotRestart() {
        AppConfig& config = AppConfig::instance();
        config.language = "en";
        const QString ini = config.fileName();
        QFile::remove(ini);
        QVERIFY(QDir().mkdir(ini));  // a folder where the file belongs
        MainWidget w;
        QVERIFY(shownOnScreen(w));
        w.setAskUser(
            [](const QString&, const QString&, const QString&, const QString&) { return true; });
        int started = 0;
        w.setStartProgram([&](const QString&) {
            ++started;
            return true;
        });
        w.action("EN/中文")->trigger();
        QVERIFY(QDir().rmdir(ini));
        QCOMPARE(started, 0);
        QVERIFY(w.isVisible());
        QCOMPARE(config.language, QString("en"));
        QTRY_VERIFY(
            noticeSaying("The settings could not be saved, so the language stays as it is."));
        closeToasts();
    }

    // The restarted instance opens the recording again, in the same place and panel.
    void languageRestartKeepsRecordingGeometryAndPanel() {
        AppConfig& config = AppConfig::instance();
        config.language = "en";
        const QString path = writeRecording(dir_.filePath("again.raw"), 300000);
        QRect geometry;
        {
            MainWidget w;
            QVERIFY(shownOnScreen(w));
            w.resize(std::max(w.minimumWidth(), 640), std::max(w.minimumHeight(), 480));
            w.form()->pb_fold_dvs_setting->click();
            w.openRecordingPath(path);
            QVERIFY(waitUntilLoaded(w));
            geometry = w.geometry();
            w.setAskUser([](const QString&, const QString&, const QString&, const QString&) {
                return true;
            });
            w.setStartProgram([](const QString&) { return true; });
            w.action("EN/中文")->trigger();
            QVERIFY(!w.isVisible());
        }
        QCOMPARE(config.reopen_recording, path);
        QCOMPARE(config.window_panel, 1);
        MainWidget next;  // what start-up does
        next.restoreLayout();
        QVERIFY(shownOnScreen(next));
        next.reopenAfterRestart();
        QVERIFY(waitUntilLoaded(next));
        QCOMPARE(next.openRecording(), path);
        QCOMPARE(next.size(), geometry.size());
        QVERIFY(next.form()->pb_fold_dvs_setting->isChecked());
        QVERIFY(next.dvsPanel()->isVisible());
        QVERIFY(config.reopen_recording.isEmpty());  // once only
        config.language = "en";
        config.window_panel = -1;
        config.window_geometry.clear();
    }

    // A window that refuses to close keeps this instance alive: no second one beside it.
    void noRestartWhileAWindowStaysOpen() {
        class Stubborn : public QWidget {
        protected:
            void closeEvent(QCloseEvent* event) override { event->ignore(); }
        } stubborn;
        stubborn.show();
        MainWidget w;
        w.show();
        int started = 0;
        w.setAskUser(
            [](const QString&, const QString&, const QString&, const QString&) { return true; });
        w.setStartProgram([&](const QString&) {
            ++started;
            return true;
        });
        QTest::ignoreMessage(QtWarningMsg, "restart skipped: a window is still open");
        w.action("EN/中文")->trigger();
        QCOMPARE(started, 0);
        QVERIFY(stubborn.isVisible());
        AppConfig::instance().language = "en";
    }

    void aboutOpensAPageThatExists() {
        MainWidget w;
        bool answer = false;
        QList<QUrl> opened;
        QString told;
        w.setAskUser([&](const QString&, const QString& text, const QString& yes, const QString&) {
            told = text;
            return text.endsWith("Is it open in the browser?") && yes == "Open" && answer;
        });
        w.setOpenUrl([&](const QUrl& url) {
            opened << url;
            return true;
        });
        w.action("About us")->trigger();
        QVERIFY(opened.isEmpty());
        // The version is told in the program, page or no page.
        QVERIFY(told.startsWith("Velqora, version 1.1.4\n"));
        QCOMPARE(told, MainWidget::aboutText());
        answer = true;
        w.action("About us")->trigger();
        QCOMPARE(opened.size(), 1);
        QVERIFY(opened[0].isLocalFile());
        QFile page(opened[0].toLocalFile());
        QVERIFY(page.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(page.readAll());
        QVERIFY(html.contains("1.1.4"));
        QVERIFY(!html.contains("@VERSION@"));
        QVERIFY(!html.contains("http"));  // no address that may not exist
    }

    void openingARecordingResetsThePanels() {
        const QString path = writeRecording(dir_.filePath("short.raw"), 300000, 100000);
        MainWidget w;
        auto tool = std::make_shared<FakeCameraTool>();
        tool->addInt("bias_fo", 0, 10, 1);
        w.dvsPanel()->setBiasesToolUI(tool);
        w.apsPanel()->setApsToolUI(tool);
        w.apsPanel()->setManualCalibrationUI();
        w.displayPanel()->setFrameRateEditable(false);
        QVERIFY(!w.displayPanel()->displayItem()->slowRateField()->isEnabled());
        QVERIFY(!w.dvsPanel()->groupBoxes().isEmpty());

        w.setOpenFileDialog([&](const QString&, const QString&, const QString&) { return path; });
        QTest::ignoreMessage(QtDebugMsg, "Camera tool is null .");
        for (int i = 0; i < 6; ++i)
            QTest::ignoreMessage(QtDebugMsg, "camera device is null .");
        w.action("Open Recording")->trigger();
        QVERIFY(w.dvsPanel()->groupBoxes().isEmpty());
        QVERIFY(w.apsPanel()->groupBoxes().isEmpty());
        QVERIFY(w.displayPanel()->displayItem()->slowRateField()->isEnabled());
        QCOMPARE(tool.use_count(), 1);  // the panels let go of the camera's tools
    }

    // Open a recording, change the display settings in the panel, see playback follow.
    void displayPanelDrivesPlayback() {
        const QString path = writeRecording(dir_.filePath("demo.raw"), 2000000);

        MainWidget w;
        w.setOpenFileDialog([&](const QString&, const QString&, const QString&) { return path; });
        QVERIFY(shownOnScreen(w));
        KvEventProcessor* p = w.rawProcessor();
        w.action("Open Recording")->trigger();
        // The load's own "play" arrives queued: stopping before it would not last.
        QVERIFY(waitUntilLoaded(w));
        w.form()->pb_play->setChecked(false);
        QTRY_VERIFY(!p->isPlaying());

        SettingDisplayItem* item = w.displayPanel()->displayItem();
        ThreadSafeSignalSpy images(p, &KvEventProcessor::signalEventImage);  // sent by the painter
        const QColor background = AppConfig::instance().theme().background;
        // The painter may still be at a frame asked for before the step:
        // the step's image is the last one once it is idle again.
        auto frameAfterStep = [&] {
            if (!QTest::qWaitFor([&] { return p->renderer().idle(); }, 20000)) return QImage();
            QCoreApplication::sendPostedEvents(&images, QEvent::MetaCall);  // images sent so far
            images.clear();
            p->nextFrame();
            if (!QTest::qWaitFor([&] { return p->renderer().idle() && !images.isEmpty(); }, 20000))
                return QImage();
            QCoreApplication::sendPostedEvents(&images, QEvent::MetaCall);
            return images.last().at(0).value<QImage>();
        };

        typeAndFinish(item->accumulationField(), "1ms");
        QCOMPARE(p->accumulationTime(), uint64_t(1000));
        const int thin = eventPixels(frameAfterStep(), background);
        typeAndFinish(item->accumulationField(), "100");
        QCOMPARE(p->accumulationTime(), uint64_t(100000));
        const int thick = eventPixels(frameAfterStep(), background);
        QVERIFY2(thick > thin * 10, qPrintable(QString("%1 vs %2").arg(thick).arg(thin)));

        typeAndFinish(item->slowRateField(), "2.5");  // 75 images per second of event time
        QCOMPARE(p->fps(), uint64_t(75));
        QCOMPARE(p->frameInterval(), uint64_t(13333));
        const uint64_t before = p->currentPosition();
        p->nextFrame();
        QCOMPARE(p->currentPosition(), before + 13333);
    }
};

VELQORA_TEST_MAIN(SideBarTest)
#include "test_sidebar.moc"
