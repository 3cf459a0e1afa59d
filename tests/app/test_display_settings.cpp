#include <QLineEdit>
#include <QSignalSpy>

#include "AppTestMain.h"
#include "KVComboBoxBase.h"
#include "KvComboBox.h"
#include "KvEventProcessor.h"
#include "SettingDisplayItem.h"
#include "SettingItemBox.h"
#include "SidebarCameraSettingUI.h"

namespace {

QLineEdit* editOf(KvComboBox* field) {
    return field->comboBox()->lineEdit();
}

// Types the text into the field as a user would, then ends the edit.
void typeAndFinish(KvComboBox* field, const QString& text) {
    QLineEdit* edit = editOf(field);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

bool markedRed(KvComboBox* field) {
    return field->comboStyleSheet().contains("border: 1px solid #FF6058;") &&
           field->frameStyleSheet().contains("#FFDAD8");
}

}  // namespace

class DisplaySettingsTest : public QObject {
    Q_OBJECT
    SidebarCameraSettingUI* panel_ = nullptr;
    SettingDisplayItem* item_ = nullptr;

private slots:
    void init() {
        panel_ = new SidebarCameraSettingUI;
        item_ = panel_->displayItem();
        QVERIFY(shownOnScreen(*panel_));
        panel_->activateWindow();
    }
    void cleanup() { delete panel_; }

    void startsWithTheFirstOptions() {
        SidebarCameraSettingUI fresh;
        QCOMPARE(fresh.groupBoxes().size(), 1);
        QCOMPARE(fresh.displayBox()->title(), QString("Display"));
        QVERIFY(fresh.displayBox()->isFolded());
        QCOMPARE(editOf(fresh.displayItem()->accumulationField())->text(), QString("33.33ms"));
        QCOMPARE(editOf(fresh.displayItem()->slowRateField())->text(), QString("1"));
        QVERIFY(fresh.displayItem()->minimumHeight() >= 150);
        QVERIFY(fresh.displayItem()->maximumHeight() <= 500);
    }

    void accumulationTexts() {
        QCOMPARE(parseAccumulationTime("33.33ms"), uint64_t(33330));
        QCOMPARE(parseAccumulationTime("250us"), uint64_t(250));
        QCOMPARE(parseAccumulationTime("-5ms"), uint64_t(0));
        QCOMPARE(parseAccumulationTime("nanms"), uint64_t(0));
        QCOMPARE(parseAccumulationTime("1e30ms"), uint64_t(0));
        QCOMPARE(parseAccumulationTime("12"), uint64_t(0));
        QCOMPARE(parseAccumulationTime("ms"), uint64_t(0));

        QSignalSpy acc(panel_, &SidebarCameraSettingUI::signalCumulativeTimeChanged);
        KvComboBox* field = item_->accumulationField();
        typeAndFinish(field, "50");
        QCOMPARE(editOf(field)->text(), QString("50ms"));
        QCOMPARE(acc.count(), 1);
        QCOMPARE(acc.last().at(0).value<uint64_t>(), uint64_t(50000));
        typeAndFinish(field, "250us");
        QCOMPARE(acc.last().at(0).value<uint64_t>(), uint64_t(250));
        typeAndFinish(field, "1000ms");
        QCOMPARE(acc.last().at(0).value<uint64_t>(), uint64_t(1000000));
        QCOMPARE(acc.count(), 3);
        for (const char* bad : {"1001ms", "0ms", "abc", "-5"}) {
            typeAndFinish(field, bad);
            QVERIFY2(markedRed(field) || field->comboStyleSheet().contains("#FF6058"), bad);
            QCOMPARE(acc.count(), 3);
        }
        typeAndFinish(field, "1001");
        QVERIFY(field->comboStyleSheet().contains("border: 1px solid #FF6058;"));
        QCOMPARE(acc.count(), 3);

        // Choosing an option emits without any typing.
        field->comboBox()->setCurrentIndex(1);
        QCOMPARE(field->comboBox()->currentText(), QString("100ms"));
        QCOMPARE(acc.last().at(0).value<uint64_t>(), uint64_t(100000));
        QVERIFY(field->comboStyleSheet().contains("border: 1px solid #A7A7A7;"));
    }

    void slowRates() {
        QSignalSpy fps(panel_, &SidebarCameraSettingUI::signalFpsChanged);
        KvComboBox* field = item_->slowRateField();
        const QList<QPair<QString, uint32_t>> good{
            {"1", 30}, {"2.5", 75}, {"1000", 30000}, {"0.5", 15}};
        for (const auto& [text, expected] : good) {
            typeAndFinish(field, text);
            QCOMPARE(fps.last().at(0).value<uint32_t>(), expected);
        }
        const int before = fps.count();
        for (const char* bad : {"1001", "fast", "0.02"}) {
            typeAndFinish(field, bad);
            QVERIFY2(field->comboStyleSheet().contains("border: 1px solid #FF6058;"), bad);
        }
        QCOMPARE(fps.count(), before);
        field->comboBox()->setCurrentIndex(3);  // "10"
        QCOMPARE(fps.last().at(0).value<uint32_t>(), uint32_t(300));
    }

    // Under 1/30 the rate yields 0 images per second; the player takes that as one.
    void slowestRateReachesThePlayerAsOneImagePerSecond() {
        KvEventProcessor player;
        connect(panel_, &SidebarCameraSettingUI::signalFpsChanged, &player,
                [&](uint32_t fps) { player.setFps(int(fps)); });
        QSignalSpy fps(panel_, &SidebarCameraSettingUI::signalFpsChanged);
        typeAndFinish(item_->slowRateField(), "0.03");
        QCOMPARE(fps.last().at(0).value<uint32_t>(), uint32_t(0));
        QCOMPARE(player.fps(), uint64_t(1));
        QCOMPARE(player.frameInterval(), uint64_t(1000000));
    }

    void shownValuesCanBeApplied() {
        QSignalSpy acc(panel_, &SidebarCameraSettingUI::signalCumulativeTimeChanged);
        QSignalSpy fps(panel_, &SidebarCameraSettingUI::signalFpsChanged);
        panel_->applyShownValues();
        QCOMPARE(acc.count(), 1);
        QCOMPARE(acc.last().at(0).value<uint64_t>(), uint64_t(33330));
        QCOMPARE(fps.count(), 1);
        QCOMPARE(fps.last().at(0).value<uint32_t>(), uint32_t(30));
    }
};

VELQORA_TEST_MAIN(DisplaySettingsTest)
#include "test_display_settings.moc"
