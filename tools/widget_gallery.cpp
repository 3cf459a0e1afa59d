// Renders each of the program's own widgets to a PNG, for looking at them.
//   build/bin/velqora_widget_gallery OUT_DIR

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QStandardPaths>
#include <QTimer>
#include <map>
#include <memory>

#include "KVComboBoxBase.h"
#include "KVMessageBox.h"
#include "KvComboBox.h"
#include "KvFilePathReminderForm.h"
#include "KvGeneralSetting.h"
#include "KvLineEditBase.h"
#include "KvThreeHandleSlider.h"
#include "SettingBaseWithComboBox.h"
#include "SettingBaseWithLineEdit.h"
#include "SettingBaseWithSwitchButton.h"
#include "SettingItemBox.h"
#include "ShowImageForm.h"
#include "SidebarApsSettingUI.h"
#include "SidebarCameraSettingUI.h"
#include "SidebarDvsSettingUI.h"
#include "Startup.h"
#include "WaitingWin.h"

namespace {
void save(QWidget& w, const QString& dir, const QString& name) {
    w.grab().save(dir + "/" + name + ".png");
}

// A camera tool with a few parameters of every kind, to fill the panels.
class DemoTool : public korvane::CameraTool {
public:
    struct Param {
        int type;
        int min, max, value;
        std::vector<std::string> options;
        std::string unit;
    };
    explicit DemoTool(std::map<std::string, Param> params) : params_(std::move(params)) {}

    std::map<std::string, korvane::BasicParameterInfo> getParameterInfos() const override {
        std::map<std::string, korvane::BasicParameterInfo> out;
        for (const auto& [name, p] : params_)
            out[name] = {name, "Sets " + name + ".", p.type};
        return out;
    }
    bool getEnumParameterInfo(const std::string& n, korvane::EnumParameterInfo& i) const override {
        const Param* p = find(n);
        if (!p) return false;
        i.values = p->options;
        return true;
    }
    bool getBoolParameterInfo(const std::string& n, korvane::BoolParameterInfo& i) const override {
        const Param* p = find(n);
        if (!p) return false;
        i.value = p->value != 0;
        return true;
    }
    bool getFloatParameterInfo(const std::string& n, korvane::FloatParameterInfo& i) const override {
        const Param* p = find(n);
        if (!p) return false;
        i = {float(p->min), float(p->max), float(p->value) + 0.5f, p->unit};
        return true;
    }
    bool getIntParameterInfo(const std::string& n, korvane::IntParameterInfo& i) const override {
        const Param* p = find(n);
        if (!p) return false;
        i = {p->min, p->max, p->value, p->unit};
        return true;
    }
    bool getBoolParameter(const std::string& n, bool& v) const override {
        const Param* p = find(n);
        return p && ((v = p->value != 0), true);
    }
    bool getIntParameter(const std::string& n, int& v) const override {
        const Param* p = find(n);
        return p && ((v = p->value), true);
    }
    bool getStringParameter(const std::string&, std::string&) const override { return false; }
    bool setParameter(const std::string&, const std::string&) override { return true; }
    bool setParameter(const std::string&, bool) override { return true; }
    bool setParameter(const std::string&, float) override { return true; }
    bool setParameter(const std::string& n, int v) override { return n != "x" || v < 1000; }

private:
    const Param* find(const std::string& n) const {
        auto it = params_.find(n);
        return it == params_.end() ? nullptr : &it->second;
    }
    std::map<std::string, Param> params_;
};

std::shared_ptr<DemoTool> demoTool(std::map<std::string, DemoTool::Param> params) {
    return std::make_shared<DemoTool>(std::move(params));
}

void unfoldAll(SettingPanelBase& panel) {
    for (SettingItemBox* box : panel.groupBoxes())
        box->setFoldState(false);
}

void renderPanels(const QString& dir) {
    constexpr int kInt = 0, kFloat = 1, kBool = 2, kEnum = 4;
    SidebarDvsSettingUI dvs;
    dvs.setBiasesToolUI(demoTool({{"bias_diff_on", {kInt, -85, 140, 0, {}, "mV"}},
                                  {"bias_diff_off", {kInt, -35, 190, 0, {}, "mV"}},
                                  {"bias_fo", {kInt, -35, 55, 0, {}, ""}},
                                  {"bias_hpf", {kInt, 0, 120, 0, {}, ""}}}));
    dvs.setTriggerInToolUI(demoTool({{"trigger_in_enable", {kBool, 0, 1, 1, {}, ""}}}));
    dvs.setAntiFlickerToolUI(
        demoTool({{"af_enable", {kBool, 0, 1, 0, {}, ""}},
                  {"filtering_mode", {kEnum, 0, 0, 0, {"BAND_STOP", "BAND_PASS"}, ""}},
                  {"high_frequency", {kInt, 50, 520, 130, {}, "Hz"}},
                  {"duty_cycle", {kFloat, 0, 100, 50, {}, "%"}}}));
    dvs.setEventRateControlToolUI(demoTool({{"erc_enable", {kBool, 0, 1, 0, {}, ""}},
                                            {"event_rate", {kInt, 0, 1000, 200, {}, "Mev/s"}}}));
    dvs.setEventTrailFilterToolUI(
        demoTool({{"etf_enable", {kBool, 0, 1, 0, {}, ""}},
                  {"filter_type", {kEnum, 0, 0, 0, {"TRAIL", "STC_CUT_TRAIL"}, ""}},
                  {"threshold", {kInt, 1000, 100000, 10000, {}, "us"}}}));
    dvs.setROIToolUI(demoTool({{"roi_enable", {kBool, 0, 1, 1, {}, ""}},
                               {"x", {kInt, 0, 1279, 100, {}, "px"}},
                               {"y", {kInt, 0, 719, 60, {}, "px"}}}));
    dvs.resize(360, 1500);
    dvs.show();
    save(dvs, dir, "panel_dvs_folded");
    unfoldAll(dvs);
    dvs.resize(360, 1500);
    save(dvs, dir, "panel_dvs");

    SidebarApsSettingUI aps;
    aps.setApsToolUI(demoTool({{"auto_exposure", {kBool, 0, 1, 1, {}, ""}},
                               {"exposure", {kInt, 10, 100000, 10000, {}, "us"}},
                               {"gain", {kFloat, 1, 16, 4, {}, "dB"}}}));
    aps.setManualCalibrationUI();
    unfoldAll(aps);
    aps.resize(360, 520);
    aps.show();
    save(aps, dir, "panel_aps");

    SidebarCameraSettingUI camera;
    unfoldAll(camera);
    camera.resize(360, 360);
    camera.show();
    save(camera, dir, "panel_camera");

    // A value box with focus shows its slider row; a rejected ROI value turns the rows red.
    QWidget rows;
    rows.setStyleSheet("background: #FFFFFF;");
    rows.resize(360, 200);
    auto* box = new SettingItemBox(&rows);
    box->setTitle("Rows");
    auto* focused = new SettingBaseWithLineEdit("bias_fo");
    focused->setRange(-35, 55);
    focused->setValue(12);
    focused->setUnit("mV");
    auto* rejected = new SettingBaseWithLineEdit("x");
    rejected->setRange(0, 1279);
    rejected->setValue(100);
    rejected->setValueState(false);
    auto* sw = new SettingBaseWithSwitchButton("etf_enable");
    sw->setChecked(true);
    box->addItem(focused);
    box->addItem(rejected);
    box->addItem(sw);
    box->setFoldState(false);
    box->setGeometry(0, 0, 360, 200);
    rows.show();
    focused->findChild<QLineEdit*>("le_kv_line_edit")->setFocus();
    QApplication::processEvents();
    save(rows, dir, "setting_rows");

    for (int page = 0; page < 2; ++page) {
        KvGeneralSetting dialog;
        dialog.findChild<QListWidget*>("lw_general_setting_items")->setCurrentRow(page);
        dialog.show();
        save(dialog, dir, page == 0 ? "general_setting_file" : "general_setting_style");
    }
}
}  // namespace

int main(int argc, char** argv) {
    // Widgets that read the configuration must not create or rewrite the user's own.
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    registerEmbeddedFont();
    loadLanguage(argc > 2 ? QString(argv[2]) : QString("en"));
    const QString dir = argc > 1 ? argv[1] : QDir::currentPath();
    QDir().mkpath(dir);

    for (auto mode : {KvThreeHandleSlider::SingleHandle, KvThreeHandleSlider::ThreeHandles}) {
        for (bool enabled : {true, false}) {
            KvThreeHandleSlider s(nullptr, Qt::Horizontal, mode);
            s.resize(600, 30);
            s.setMinimum(1000);
            s.setMaximum(21000);
            s.setCenterValue(9000);
            if (mode == KvThreeHandleSlider::ThreeHandles) {
                s.setLowerValue(4000);
                s.setUpperValue(17000);
            }
            s.setEnabled(enabled);
            save(s, dir,
                 QString("slider_%1_%2")
                     .arg(mode == KvThreeHandleSlider::ThreeHandles ? "three" : "single",
                          enabled ? "enabled" : "disabled"));
        }
    }
    const char* names[] = {"success", "warning", "error"};
    for (int t = 0; t < 3; ++t) {
        KvFilePathReminderForm toast(
            t == 1 ? QString("Currently being recorded.") : QString("Export raw file success!"),
            static_cast<KvMessageType>(t), t == 0 ? QDir::tempPath() : "");
        toast.show();
        save(toast, dir, QString("toast_%1").arg(names[t]));
    }
    KVMessageBox box("The language change will take effect after restart.", "Tips", "Restart",
                     "Later");
    box.show();
    save(box, dir, "message_box");

    ShowImageForm image;
    image.resize(840, 429);
    image.show();
    save(image, dir, "image_view");

    QWidget inputs;
    inputs.resize(360, 110);
    auto* combo = new KvComboBox(&inputs);
    combo->comboBox()->addItems({"Gray", "RedBlue", "Dark"});
    combo->setGeometry(10, 10, 200, 34);
    auto* edit = new KvLineEditBase(&inputs);
    edit->setText("33333");
    edit->setGeometry(10, 60, 120, 30);
    inputs.setStyleSheet("background: #F2F2F2;");
    inputs.show();
    save(inputs, dir, "inputs");

    renderPanels(dir);

    QWidget anchor;
    anchor.resize(400, 320);
    anchor.setStyleSheet("background: #707070;");
    anchor.show();
    WaitingWin waiting(&anchor);
    waiting.show();
    QTimer::singleShot(200, [&] {
        save(waiting, dir, "waiting");
        app.quit();
    });
    return app.exec();
}
