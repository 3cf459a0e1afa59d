#include "SidebarApsSettingUI.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QPushButton>

#include "SettingBaseWithLineEdit.h"
#include "SettingBaseWithSwitchButton.h"
#include "SettingItemBox.h"
#include "SettingRowBuilder.h"
#include "SettingWriteBack.h"

namespace {
enum Rank { ApsRank, CalibrationRank };
}

SidebarApsSettingUI::SidebarApsSettingUI(QWidget* parent) : SettingPanelBase(parent) {
    setPanelTitle(tr("APS Setting"));
}

void SidebarApsSettingUI::setApsToolUI(std::shared_ptr<korvane::CameraTool> tool) {
    removeGroup(apsBox_);
    tool_ = std::move(tool);
    if (!tool_) {
        qDebug() << "camera device is null .";
        return;
    }
    const auto infos = tool_->getParameterInfos();
    if (infos.empty()) {
        qDebug() << "camera aps infos is null .";
        return;
    }
    auto* box = new SettingItemBox();
    box->setTitle(tr("APS"));
    SettingRowPlan plan;
    plan.boolValue = [](const std::string&, const korvane::BoolParameterInfo& info) {
        return info.value;
    };
    plan.placeBool = [&](SettingBaseWithSwitchButton* row) {
        connect(row, &SettingBaseWithSwitchButton::signalItemValueChanged, this,
                &SidebarApsSettingUI::onApsBoolValueChanged);
        box->addItem(row);
    };
    plan.placeInt = [&](SettingBaseWithLineEdit* row) {
        connect(row, &SettingBaseWithLineEdit::signalItemValueChanged, this,
                &SidebarApsSettingUI::onApsSliderValueChanged);
        box->addItem(row);
    };
    plan.placeFloat = [&](SettingBaseWithLineEdit* row) {
        connect(row, &SettingBaseWithLineEdit::signalItemValueChanged, this,
                &SidebarApsSettingUI::onApsSliderFloatValueChanged);
        box->addItem(row);
    };
    buildSettingRows(*tool_, infos, plan);
    apsBox_ = box;
    placeGroup(box, ApsRank);
}

SettingBaseWithLineEdit* SidebarApsSettingUI::makeOffsetRow(const char* name, const QString& tip) {
    auto* row = new SettingBaseWithLineEdit(name);
    row->setRowToolTip(tip);
    row->setRange(-100, 100);
    row->setValue(0);
    return row;
}

void SidebarApsSettingUI::setManualCalibrationUI() {
    removeGroup(caliBox_);
    offsetX_ = offsetY_ = nullptr;
    apply_ = nullptr;
    auto* box = new SettingItemBox();
    box->setTitle(tr("APS Manual Calibration"));

    offsetX_ = makeOffsetRow("Offset X", tr("Set aps offset x."));
    offsetY_ = makeOffsetRow("Offset Y", tr("Set aps offset y."));
    connect(offsetX_, &SettingBaseWithLineEdit::signalItemValueChanged, this,
            [this](const std::string&, int v) {
                x_ = v;
                emit signalManualCaliOffsetXY(x_, y_);
            });
    connect(offsetY_, &SettingBaseWithLineEdit::signalItemValueChanged, this,
            [this](const std::string&, int v) {
                y_ = v;
                emit signalManualCaliOffsetXY(x_, y_);
            });
    box->addItem(offsetX_);
    box->addItem(offsetY_);

    auto* applyRow = new QWidget();
    auto* layout = new QHBoxLayout(applyRow);
    layout->setContentsMargins(0, 4, 9, 4);
    layout->addStretch(1);
    apply_ = new QPushButton(tr("Apply"), applyRow);
    apply_->setObjectName("pb_apply_cali_offset");
    apply_->setFixedSize(60, 20);
    apply_->setCursor(Qt::PointingHandCursor);
    apply_->setStyleSheet(
        "QPushButton { border: none; border-radius: 10px; background-color: #004B6A; "
        "color: #FFFFFF; font-size: 10px; } "
        "QPushButton:hover { background-color: #004460; } "
        "QPushButton:pressed { background-color: #002D40; }");
    layout->addWidget(apply_);
    // On press, not on release.
    connect(apply_, &QPushButton::pressed, this, &SidebarApsSettingUI::signalApplyCaliOffset);
    box->addItem(applyRow);

    caliBox_ = box;
    placeGroup(box, CalibrationRank);
}

void SidebarApsSettingUI::clearApsUI() {
    setApsToolUI(nullptr);
    removeGroup(caliBox_);
    offsetX_ = offsetY_ = nullptr;
    apply_ = nullptr;
    x_ = 0.0;
    y_ = 0.0;
}

// The rows show what the camera holds after each write, and why a write was refused.
void SidebarApsSettingUI::onApsBoolValueChanged(std::string name, bool value) {
    setting_write_back::write(tool_.get(), apsBox_, name, value);
}

void SidebarApsSettingUI::onApsSliderValueChanged(std::string name, int value) {
    setting_write_back::write(tool_.get(), apsBox_, name, value);
}

void SidebarApsSettingUI::onApsSliderFloatValueChanged(std::string name, int value) {
    setting_write_back::writeFloat(tool_.get(), apsBox_, name, value);
}
