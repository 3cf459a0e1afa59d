#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>

#include "AppTestMain.h"
#include "FakeCameraTool.h"
#include "KVComboBoxBase.h"
#include "KvComboBox.h"
#include "KvEventProcessor.h"
#include "KvToolTip.h"
#include "SettingBaseWithComboBox.h"
#include "SettingBaseWithLineEdit.h"
#include "SettingBaseWithSwitchButton.h"
#include "SettingDisplayItem.h"
#include "SettingItemBox.h"
#include "SidebarApsSettingUI.h"
#include "SidebarCameraSettingUI.h"
#include "SidebarDvsSettingUI.h"
#include "korvane/camera/ParameterTool.h"
#include "ui_SettingBaseWithLineEdit.h"
#include "ui_SettingBaseWithSwitchButton.h"

using korvane::ToolType;

namespace {

std::shared_ptr<FakeCameraTool> biases() {
    auto t = std::make_shared<FakeCameraTool>();
    t->addInt("bias_diff_on", -20, 40, 7);
    t->addInt("bias_fo", 10, 30, 15);  // 0 outside: the row shows 10
    t->addInt("bias_hpf", -30, -5, -9);
    return t;
}

std::shared_ptr<FakeCameraTool> antiFlicker() {
    auto t = std::make_shared<FakeCameraTool>();
    t->addInt("a_high_freq", 50, 500, 130);
    t->addFloat("b_duty", 0.5f, 9.9f, 2.7f);
    t->addInt("c_low_freq", 50, 500, 90);
    t->addEnum("mode", {"BAND_STOP", "BAND_PASS"});
    t->addBool("z_enable", true);  // sorts last, shows first
    return t;
}

std::shared_ptr<FakeCameraTool> roi() {
    auto t = std::make_shared<FakeCameraTool>();
    t->addInt("x", 0, 1279, 0).currentInt = 100;
    t->addInt("y", 0, 719, 0).currentInt = 50;
    t->addBool("enable", false).currentBool = true;
    return t;
}

// The sensor: a window of x, width on a 1280 pixel wide line.
std::shared_ptr<FakeCameraTool> roiWindow() {
    auto t = std::make_shared<FakeCameraTool>();
    t->addInt("x", 0, 1279, 0).currentInt = 0;
    t->addInt("width", 1, 1280, 1280).currentInt = 1280;
    FakeCameraTool* raw = t.get();
    t->refuseInt = [raw](const std::string& name, int v) {
        const int x = name == "x" ? v : raw->params["x"].currentInt;
        const int width = name == "width" ? v : raw->params["width"].currentInt;
        return x + width > 1280;
    };
    return t;
}

// Types the way people do: focus, select all, the characters one by one, Enter.
void typeAndEnter(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

SettingBaseWithLineEdit* intRow(SettingItemBox* box, const std::string& name) {
    for (int i = 0; i < box->itemCount(); ++i)
        if (auto* row = qobject_cast<SettingBaseWithLineEdit*>(box->itemAt(i)))
            if (row->parameterName() == name) return row;
    return nullptr;
}

QStringList titles(const SettingPanelBase& panel) {
    QStringList out;
    for (SettingItemBox* box : panel.groupBoxes())
        out << box->title();
    return out;
}

QString lineText(QWidget* row) {
    return qobject_cast<SettingBaseWithLineEdit*>(row)->form()->le_kv_line_edit->text();
}

QString borderOf(SettingBaseWithLineEdit* row) {
    const QString sheet = row->form()->le_kv_line_edit->styleSheet();
    const int at = sheet.indexOf("border:");
    return sheet.mid(at, sheet.indexOf(';', at) - at + 1);
}

void openCamera(SidebarDvsSettingUI& panel, std::shared_ptr<FakeCameraTool> roiTool) {
    auto simple = [](const char* name) {
        auto t = std::make_shared<FakeCameraTool>();
        t->addInt(name, 0, 10, 1);
        t->addBool(std::string(name) + "_on", true);
        return t;
    };
    panel.setBiasesToolUI(biases());
    panel.setTriggerInToolUI(simple("trigger"));
    panel.setAntiFlickerToolUI(antiFlicker());
    panel.setEventRateControlToolUI(simple("erc"));
    panel.setEventTrailFilterToolUI(simple("etf"));
    panel.setROIToolUI(std::move(roiTool));
}

const QStringList kAllGroups{
    "Biases", "Trigger In", "Anti Flicker", "Event Rate Control", "Event Trail Filter", "ROI"};

}  // namespace

class SettingPanelsTest : public QObject {
    Q_OBJECT
private slots:
    void dvsPanelRebuildsReplaceGroupsAndKeepTheirOrder() {
        SidebarDvsSettingUI panel;
        // The style sheets find the frame by these names.
        QCOMPARE(panel.titleLabel()->objectName(), QString("lb_setting_ui"));
        QCOMPARE(panel.titleLabel()->text(), QString("DVS Setting"));
        QCOMPARE(panel.scrollArea()->objectName(), QString("scroll_area_setting"));
        QCOMPARE(panel.scrollArea()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QVERIFY(panel.scrollArea()->widgetResizable());
        QVERIFY(panel.groupBoxes().isEmpty());

        QTest::ignoreMessage(QtDebugMsg, "camera device is null .");
        openCamera(panel, nullptr);  // a camera without ROI tool
        QCOMPARE(titles(panel), kAllGroups.mid(0, 5));
        QVERIFY(!panel.groupBox(ToolType::RegionOfInterest));

        openCamera(panel, roi());  // second camera: each group once, fixed order
        QCOMPARE(titles(panel), kAllGroups);
        for (SettingItemBox* box : panel.groupBoxes())
            QVERIFY(box->isFolded());

        // One group rebuilt on its own goes back to its place.
        panel.setBiasesToolUI(biases());
        QCOMPARE(titles(panel), kAllGroups);
        panel.setTriggerInToolUI(nullptr);
        panel.setTriggerInToolUI([] {
            auto t = std::make_shared<FakeCameraTool>();
            t->addBool("edge", false);
            return t;
        }());
        QCOMPARE(titles(panel), kAllGroups);

        QTest::ignoreMessage(QtDebugMsg, "Camera tool is null .");
        for (int i = 0; i < 5; ++i)
            QTest::ignoreMessage(QtDebugMsg, "camera device is null .");
        panel.clearToolUI();
        QVERIFY(panel.groupBoxes().isEmpty());
        QVERIFY(panel.roiRows().isEmpty());

        QTest::ignoreMessage(QtDebugMsg, "camera biases is null .");
        panel.setBiasesToolUI(std::make_shared<FakeCameraTool>());
        QVERIFY(!panel.groupBox(ToolType::Biases));
    }

    void biasRowsStartAtZeroOrTheNearestEnd() {
        SidebarDvsSettingUI panel;
        auto tool = biases();
        panel.setBiasesToolUI(tool);
        SettingItemBox* box = panel.groupBox(ToolType::Biases);
        QCOMPARE(box->itemCount(), 3);
        QCOMPARE(lineText(box->itemAt(0)), QString("0"));   // -20..40
        QCOMPARE(lineText(box->itemAt(1)), QString("10"));  // 10..30
        QCOMPARE(lineText(box->itemAt(2)), QString("-5"));  // -30..-5
        QVERIFY(tool->writes.empty());                      // building writes nothing
        qobject_cast<SettingBaseWithLineEdit*>(box->itemAt(1))->form()->pb_add_item_value->click();
        QCOMPARE(tool->writes, std::vector<std::string>{"bias_fo=int:11"});
    }

    void antiFlickerRowsPlaceSwitchFirstAndOptionsSecond() {
        SidebarDvsSettingUI panel;
        auto tool = antiFlicker();
        panel.setAntiFlickerToolUI(tool);
        SettingItemBox* box = panel.groupBox(ToolType::AntiFlicker);
        QCOMPARE(box->itemCount(), 5);
        auto* sw = qobject_cast<SettingBaseWithSwitchButton*>(box->itemAt(0));
        QVERIFY(sw);
        QCOMPARE(sw->parameterName(), std::string("z_enable"));
        QVERIFY(!sw->isChecked());  // anti-flicker switches start off
        // The option row went to the second place of the box as it was then
        // (under the first integer row); the switch came on top after it.
        QCOMPARE(qobject_cast<SettingBaseWithLineEdit*>(box->itemAt(1))->parameterName(),
                 std::string("a_high_freq"));
        QCOMPARE(lineText(box->itemAt(1)), QString("130"));  // value from the description
        auto* mode = qobject_cast<SettingBaseWithComboBox*>(box->itemAt(2));
        QVERIFY(mode);
        QCOMPARE(lineText(box->itemAt(3)), QString("2"));  // float truncated

        // Each row writes through the right overload.
        sw->form()->switchButton->click();
        mode->comboBox()->comboBox()->setCurrentIndex(1);
        qobject_cast<SettingBaseWithLineEdit*>(box->itemAt(3))->form()->pb_add_item_value->click();
        qobject_cast<SettingBaseWithLineEdit*>(box->itemAt(4))->form()->pb_sub_item_value->click();
        QCOMPARE(tool->writes,
                 (std::vector<std::string>{"z_enable=bool:1", "mode=text:BAND_PASS",
                                           "b_duty=float:3.000000", "c_low_freq=int:89"}));
    }

    // With no switch the option row has no second place: it goes to the end.
    void antiFlickerOptionsInAnEmptyBoxGoToTheEnd() {
        SidebarDvsSettingUI panel;
        auto tool = std::make_shared<FakeCameraTool>();
        tool->addEnum("a_mode", {"A", "B"});
        tool->addInt("b_freq", 0, 10, 5);
        panel.setAntiFlickerToolUI(tool);
        SettingItemBox* box = panel.groupBox(ToolType::AntiFlicker);
        QCOMPARE(box->itemCount(), 2);
        QVERIFY(qobject_cast<SettingBaseWithComboBox*>(box->itemAt(0)));

        tool->addBool("z_on", false);  // the switch still goes on top, options after it
        panel.setAntiFlickerToolUI(tool);
        box = panel.groupBox(ToolType::AntiFlicker);
        QVERIFY(qobject_cast<SettingBaseWithSwitchButton*>(box->itemAt(0)));
        QVERIFY(qobject_cast<SettingBaseWithComboBox*>(box->itemAt(1)));
    }

    void roiRowsTurnRedTogetherWhileTheCameraRejects() {
        SidebarDvsSettingUI panel;
        auto tool = roi();
        tool->refuseInt = [](const std::string&, int v) { return v > 1000; };
        panel.setROIToolUI(tool);
        SettingItemBox* box = panel.groupBox(ToolType::RegionOfInterest);
        const auto& rows = panel.roiRows();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(lineText(rows[0]), QString("100"));  // read from the camera
        QCOMPARE(lineText(rows[1]), QString("50"));
        auto* sw = qobject_cast<SettingBaseWithSwitchButton*>(box->itemAt(0));
        QVERIFY(sw->isChecked());  // read from the camera, not the description
        QVERIFY(tool->writes.empty());

        rows[0]->form()->le_kv_line_edit->setText("1200");
        QCOMPARE(tool->writes.back(), std::string("x=int:1200"));
        QCOMPARE(borderOf(rows[0]), QString("border: 1px solid #FF6058;"));
        QCOMPARE(borderOf(rows[1]), QString("border: 1px solid #FF6058;"));
        // Refused: the row shows what the camera kept and says why.
        QCOMPARE(lineText(rows[0]), QString("100"));
        QVERIFY(rows[0]->rowToolTip().contains("refused"));
        QVERIFY(rows[0]->rowToolTip().startsWith("about x"));
        rows[1]->form()->le_kv_line_edit->setText("60");
        QCOMPARE(borderOf(rows[0]), QString("border: 1px solid #ACACAC;"));
        QCOMPARE(borderOf(rows[1]), QString("border: 1px solid #ACACAC;"));
        QCOMPARE(rows[0]->rowToolTip(), QString("about x"));
        sw->form()->switchButton->click();
        QCOMPARE(tool->writes.back(), std::string("enable=bool:0"));
    }

    // The rows show what the camera holds: a refused value typed into one
    // row goes back to the camera's at the end of the edit, and a write the
    // camera accepts shows in every row.
    void roiRowsShowWhatTheCameraHolds() {
        SidebarDvsSettingUI panel;
        panel.resize(400, 600);
        auto tool = roiWindow();
        panel.setROIToolUI(tool);
        SettingItemBox* box = panel.groupBox(ToolType::RegionOfInterest);
        box->setFoldState(false);
        QVERIFY(shownOnScreen(panel));
        panel.activateWindow();
        SettingBaseWithLineEdit* x = intRow(box, "x");
        SettingBaseWithLineEdit* width = intRow(box, "width");
        QLineEdit* xEdit = x->form()->le_kv_line_edit;

        xEdit->setFocus();
        QTRY_VERIFY(xEdit->hasFocus());
        QTest::keyClick(xEdit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(xEdit, "200");
        QCOMPARE(xEdit->text(), QString("200"));  // never rewritten under the cursor
        QTest::keyClick(xEdit, Qt::Key_Return);
        QCOMPARE(tool->writes, (std::vector<std::string>{"x=int:2", "x=int:20", "x=int:200"}));
        QCOMPARE(lineText(x), QString("0"));
        QCOMPARE(lineText(width), QString("1280"));
        QCOMPARE(x->form()->horizontalSlider->value(), 0);
        QVERIFY(x->rowToolTip().contains("200"));
        QCOMPARE(borderOf(width), QString("border: 1px solid #FF6058;"));

        tool->writes.clear();
        typeAndEnter(width->form()->le_kv_line_edit, "400");
        QCOMPARE(tool->writes,
                 (std::vector<std::string>{"width=int:4", "width=int:40", "width=int:400"}));
        QCOMPARE(lineText(x), QString("0"));
        QCOMPARE(lineText(width), QString("400"));
        QCOMPARE(borderOf(x), QString("border: 1px solid #ACACAC;"));
        QCOMPARE(x->rowToolTip(), QString("about x"));

        tool->writes.clear();
        typeAndEnter(xEdit, "200");
        QCOMPARE(tool->writes.back(), std::string("x=int:200"));
        QCOMPARE(tool->params["x"].currentInt, 200);
        QCOMPARE(lineText(x), QString("200"));
    }

    // A window off the sensor is refused the same way whether the ROI is
    // enabled or not: every coordinate row red, the row written back at the
    // camera's value, and its tip saying why at once.
    void roiRefusalSaysWhyWhetherEnabledOrNot() {
        for (const bool enabled : {false, true}) {
            auto tool = std::make_shared<korvane::ParameterTool>();
            tool->addBool("enable", "Deliver only the events inside the window", enabled);
            tool->addInt("x", "Left column of the window", 0, 1279, 0, "px");
            tool->addInt("y", "Top row of the window", 0, 719, 0, "px");
            tool->addInt("width", "Width of the window", 1, 1280, 1280, "px");
            tool->addInt("height", "Height of the window", 1, 720, 720, "px");
            tool->setAcceptor([](const korvane::ParameterValues& v) {
                return v.intOr("x", 0) + v.intOr("width", 0) <= 1280 &&
                       v.intOr("y", 0) + v.intOr("height", 0) <= 720;
            });
            SidebarDvsSettingUI panel;
            panel.resize(400, 600);
            panel.setROIToolUI(tool);
            SettingItemBox* box = panel.groupBox(ToolType::RegionOfInterest);
            box->setFoldState(false);
            QVERIFY(shownOnScreen(panel));
            panel.activateWindow();
            SettingBaseWithLineEdit* x = intRow(box, "x");
            QVERIFY(x);

            typeAndEnter(x->form()->le_kv_line_edit, "200");
            const QString label = enabled ? "enabled" : "disabled";
            QVERIFY2(lineText(x) == "0", qPrintable(label));
            for (const char* name : {"x", "y", "width", "height"})
                QVERIFY2(borderOf(intRow(box, name)) == "border: 1px solid #FF6058;",
                         qPrintable(label + " " + name));
            QVERIFY2(x->rowToolTip().contains("X = 200"), qPrintable(x->rowToolTip()));
            auto* tip = x->findChild<KvToolTip*>();
            QVERIFY(tip);
            QTRY_VERIFY2(tip->isVisible(), qPrintable(label));
        }
    }

    // Every kind of row, in every group, shows what the camera holds after a
    // refused write and says why; an accepted write takes the reason away.
    void everyRowSaysWhyTheCameraRefused() {
        SidebarDvsSettingUI panel;
        auto tool = antiFlicker();
        FakeCameraTool* raw = tool.get();
        raw->params["a_high_freq"].currentInt = 130;
        raw->params["c_low_freq"].currentInt = 90;
        raw->params["z_enable"].currentBool = false;
        tool->refuseInt = [raw](const std::string& name, int v) {  // the band's ends stay in order
            const int high = name == "a_high_freq" ? v : raw->params["a_high_freq"].currentInt;
            const int low = name == "c_low_freq" ? v : raw->params["c_low_freq"].currentInt;
            return low > high;
        };
        tool->refuse = [](const std::string&, const std::string& value) {
            return value == "bool:1" || value == "text:BAND_PASS";
        };
        panel.setAntiFlickerToolUI(tool);
        SettingItemBox* box = panel.groupBox(ToolType::AntiFlicker);
        SettingBaseWithLineEdit* low = intRow(box, "c_low_freq");
        SettingBaseWithLineEdit* high = intRow(box, "a_high_freq");
        QVERIFY(low && high);

        low->form()->le_kv_line_edit->setText("200");
        QCOMPARE(tool->writes.back(), std::string("c_low_freq=int:200"));
        QCOMPARE(lineText(low), QString("90"));
        QCOMPARE(borderOf(low), QString("border: 1px solid #FF6058;"));
        QCOMPARE(borderOf(high), QString("border: 1px solid #FF6058;"));
        QVERIFY(low->rowToolTip().startsWith("about c_low_freq\n"));
        QVERIFY(low->rowToolTip().contains("refused"));
        QVERIFY(low->rowToolTip().contains("keeps 90"));
        QCOMPARE(high->rowToolTip(), QString("about a_high_freq"));

        low->form()->le_kv_line_edit->setText("100");
        QCOMPARE(lineText(low), QString("100"));
        QCOMPARE(borderOf(low), QString("border: 1px solid #ACACAC;"));
        QCOMPARE(low->rowToolTip(), QString("about c_low_freq"));

        auto* sw = qobject_cast<SettingBaseWithSwitchButton*>(box->itemAt(0));
        QVERIFY(sw && !sw->isChecked());
        sw->form()->switchButton->click();
        QCOMPARE(tool->writes.back(), std::string("z_enable=bool:1"));
        QVERIFY(!sw->isChecked());  // the camera kept it off
        QVERIFY(sw->rowToolTip().contains("refused"));

        auto* mode = qobject_cast<SettingBaseWithComboBox*>(box->itemAt(2));
        QVERIFY(mode);
        QComboBox* combo = mode->comboBox()->comboBox();
        const auto writesBefore = tool->writes.size();
        combo->setCurrentIndex(1);
        QCOMPARE(tool->writes.back(), std::string("mode=text:BAND_PASS"));
        QCOMPARE(tool->writes.size(), writesBefore + 1);  // showing the kept option writes nothing
        QCOMPARE(mode->currentOption(), QString("BAND_STOP"));
        QVERIFY(mode->rowToolTip().contains("refused"));
        // An accepted write takes the reasons away.
        tool->refuse = nullptr;
        sw->form()->switchButton->click();
        QVERIFY(sw->isChecked());
        QCOMPARE(sw->rowToolTip(), QString("about z_enable"));
    }

    // What reaches the camera when a number is typed key by key and ended
    // with Enter: values inside the range at once, the rest clamped at the end.
    void typedNumbersReachTheCameraAsTyped() {
        struct Case {
            const char* typed;
            std::vector<std::string> writes;
            const char* shown;
            const char* afterMinus = nullptr;  // the text after one click on minus
        };
        const std::string r = "max_event_rate=int:";
        const Case cases[] = {
            {"500000", {r + "5000", r + "50000", r + "500000"}, "500000"},
            {"5", {r + "1000"}, "1000"},  // below the minimum: clamped once, at the end
            {"999999999",
             {r + "9999", r + "99999", r + "999999", r + "9999999", r + "99999999",
              r + "100000000"},
             "100000000"},
            // Not a number: nothing is written, the camera's value comes back.
            {"12a", {}, "2000"},
            {"abc", {}, "2000"},
            // Past every int: still a number, clamped at the end like the rest,
            // and the minus button steps from there.
            {"9999999999",
             {r + "9999", r + "99999", r + "999999", r + "9999999", r + "99999999",
              r + "100000000"},
             "100000000",
             "99999999"},
        };
        for (const Case& c : cases) {
            SidebarDvsSettingUI panel;
            auto tool = std::make_shared<FakeCameraTool>();
            tool->addInt("max_event_rate", 1000, 100000000, 2000);
            panel.setEventRateControlToolUI(tool);
            SettingItemBox* box = panel.groupBox(ToolType::EventRateControl);
            box->setFoldState(false);
            QVERIFY(shownOnScreen(panel));
            panel.activateWindow();
            SettingBaseWithLineEdit* row = intRow(box, "max_event_rate");
            QVERIFY(row);
            QVERIFY(tool->writes.empty());
            typeAndEnter(row->form()->le_kv_line_edit, c.typed);
            QCOMPARE(tool->writes, c.writes);
            QCOMPARE(lineText(row), QString(c.shown));
            if (c.afterMinus) {
                row->form()->pb_sub_item_value->click();
                QCOMPARE(lineText(row), QString(c.afterMinus));
                QCOMPARE(tool->writes.back(), r + c.afterMinus);
                row->form()->pb_add_item_value->click();
                QCOMPARE(lineText(row), QString(c.shown));
            }
        }
    }

    void apsPanelBuildsItsGroups() {
        SidebarApsSettingUI panel;
        QCOMPARE(panel.titleLabel()->text(), QString("APS Setting"));
        auto tool = std::make_shared<FakeCameraTool>();
        tool->addBool("auto_exposure", true);
        tool->addInt("exposure", 10, 1000, 200, "us");
        tool->addFloat("gain", 1.0f, 16.0f, 4.5f);
        tool->addEnum("pattern", {"a"});  // not built here
        panel.setApsToolUI(tool);
        panel.setManualCalibrationUI();
        QCOMPARE(titles(panel), (QStringList{"APS", "APS Manual Calibration"}));
        SettingItemBox* aps = panel.apsBox();
        QCOMPARE(aps->itemCount(), 3);
        QVERIFY(qobject_cast<SettingBaseWithSwitchButton*>(aps->itemAt(0))->isChecked());
        qobject_cast<SettingBaseWithSwitchButton*>(aps->itemAt(0))->form()->switchButton->click();
        qobject_cast<SettingBaseWithLineEdit*>(aps->itemAt(1))->form()->pb_add_item_value->click();
        qobject_cast<SettingBaseWithLineEdit*>(aps->itemAt(2))->form()->pb_add_item_value->click();
        QCOMPARE(tool->writes, (std::vector<std::string>{"auto_exposure=bool:0", "exposure=int:201",
                                                         "gain=float:5.000000"}));

        // Rebuilding replaces; the calibration group does not depend on the tool.
        panel.setManualCalibrationUI();
        QTest::ignoreMessage(QtDebugMsg, "camera aps infos is null .");
        panel.setApsToolUI(std::make_shared<FakeCameraTool>());
        QCOMPARE(titles(panel), QStringList{"APS Manual Calibration"});
        panel.setApsToolUI(tool);
        QCOMPARE(titles(panel), (QStringList{"APS", "APS Manual Calibration"}));
    }

    void manualOffsetsTravelAsSignals() {
        SidebarApsSettingUI panel;
        panel.setManualCalibrationUI();
        QSignalSpy offsets(&panel, &SidebarApsSettingUI::signalManualCaliOffsetXY);
        QSignalSpy apply(&panel, &SidebarApsSettingUI::signalApplyCaliOffset);
        QCOMPARE(panel.offsetXRow()->minimum(), -100);
        QCOMPARE(panel.offsetXRow()->maximum(), 100);
        QCOMPARE(lineText(panel.offsetXRow()), QString("0"));

        panel.offsetYRow()->form()->le_kv_line_edit->setText("-3");
        panel.offsetXRow()->form()->le_kv_line_edit->setText("5");
        QCOMPARE(offsets.last().at(0).toDouble(), 5.0);
        QCOMPARE(offsets.last().at(1).toDouble(), -3.0);

        offsets.clear();
        QLineEdit* x = panel.offsetXRow()->form()->le_kv_line_edit;
        x->clear();
        QTest::keyClicks(x, "150");
        QCOMPARE(x->text(), QString("150"));  // not rewritten while typing
        QCOMPARE(offsets.last().at(0).toDouble(), 15.0);
        emit x->editingFinished();
        QCOMPARE(x->text(), QString("100"));
        QCOMPARE(offsets.last().at(0).toDouble(), 100.0);

        QTest::mousePress(panel.applyButton(), Qt::LeftButton);
        QCOMPARE(apply.count(), 1);  // on press
        QCOMPARE(apply.at(0).size(), 0);
        QTest::mouseRelease(panel.applyButton(), Qt::LeftButton);
        QCOMPARE(apply.count(), 1);

        // A recording replaces the camera: both groups go, offsets are zeroed silently.
        offsets.clear();
        QTest::ignoreMessage(QtDebugMsg, "camera device is null .");
        panel.clearApsUI();
        QVERIFY(panel.groupBoxes().isEmpty());
        QCOMPARE(panel.offsetX(), 0.0);
        QCOMPARE(panel.offsetY(), 0.0);
        QCOMPARE(offsets.count(), 0);
    }
};

VELQORA_TEST_MAIN(SettingPanelsTest)
#include "test_setting_panels.moc"
