#include "SidebarDvsSettingUI.h"

#include <QDebug>

#include "SettingBaseWithComboBox.h"
#include "SettingBaseWithLineEdit.h"
#include "SettingBaseWithSwitchButton.h"
#include "SettingItemBox.h"
#include "SettingNames.h"
#include "SettingRowBuilder.h"
#include "SettingWriteBack.h"
#include "ui_SettingBaseWithLineEdit.h"

using korvane::BasicParameterInfo;
using korvane::CameraTool;
using korvane::ToolType;

SidebarDvsSettingUI::SidebarDvsSettingUI(QWidget* parent) : SettingPanelBase(parent) {
    setPanelTitle(tr("DVS Setting"));
}

SidebarDvsSettingUI::~SidebarDvsSettingUI() {
    // The rows go while the tools they read at the end of an edit still
    // exist: a field losing its focus as it dies ends its edit.
    for (Group& g : groups_)
        removeGroup(g.box);
}

SettingItemBox* SidebarDvsSettingUI::groupBox(ToolType type) const {
    switch (type) {
        case ToolType::Biases:
            return groups_[Biases].box;
        case ToolType::TriggerIn:
            return groups_[TriggerIn].box;
        case ToolType::AntiFlicker:
            return groups_[AntiFlicker].box;
        case ToolType::EventRateControl:
            return groups_[EventRateControl].box;
        case ToolType::EventTrailFilter:
            return groups_[EventTrailFilter].box;
        case ToolType::RegionOfInterest:
            return groups_[Roi].box;
        default:
            return nullptr;
    }
}

SettingItemBox* SidebarDvsSettingUI::beginGroup(GroupIndex index, ToolHandle tool,
                                                const char* noToolLine, const char* emptyLine,
                                                std::map<std::string, BasicParameterInfo>& infos) {
    Group& g = groups_[index];
    removeGroup(g.box);
    if (index == Roi) roiRows_.clear();
    // The old camera's tool goes with its group, present or not.
    g.tool = std::move(tool);
    if (!g.tool) {
        qDebug() << noToolLine;
        return nullptr;
    }
    infos = g.tool->getParameterInfos();
    if (infos.empty()) {
        qDebug() << emptyLine;
        return nullptr;
    }
    return new SettingItemBox();
}

void SidebarDvsSettingUI::setBiasesToolUI(ToolHandle tool) {
    std::map<std::string, BasicParameterInfo> infos;
    SettingItemBox* box = beginGroup(Biases, std::move(tool), "Camera tool is null .",
                                     "camera biases is null .", infos);
    if (!box) return;
    box->setTitle(tr("Biases"));
    SettingRowPlan plan;
    plan.intValue = [](const std::string&, const korvane::IntParameterInfo&) { return 0; };
    plan.placeInt = [&](SettingBaseWithLineEdit* row) {
        connect(row, &SettingBaseWithLineEdit::signalItemValueChanged, this,
                &SidebarDvsSettingUI::onBiasSliderValueChanged);
        box->addItem(row);
    };
    buildSettingRows(*groups_[Biases].tool, infos, plan);
    endGroup(Biases, box);
}

void SidebarDvsSettingUI::setTriggerInToolUI(ToolHandle tool) {
    std::map<std::string, BasicParameterInfo> infos;
    SettingItemBox* box = beginGroup(TriggerIn, std::move(tool), "camera device is null .",
                                     "camera trigger is null .", infos);
    if (!box) return;
    box->setTitle(tr("Trigger In"));
    SettingRowPlan plan;
    plan.boolValue = [](const std::string&, const korvane::BoolParameterInfo& info) {
        return info.value;
    };
    plan.placeBool = [&](SettingBaseWithSwitchButton* row) {
        connect(row, &SettingBaseWithSwitchButton::signalItemValueChanged, this,
                &SidebarDvsSettingUI::onTriggerInSliderValueChanged);
        box->addItem(row);
    };
    buildSettingRows(*groups_[TriggerIn].tool, infos, plan);
    endGroup(TriggerIn, box);
}

void SidebarDvsSettingUI::setAntiFlickerToolUI(ToolHandle tool) {
    std::map<std::string, BasicParameterInfo> infos;
    SettingItemBox* box = beginGroup(AntiFlicker, std::move(tool), "camera device is null .",
                                     "camera anti flicker is null .", infos);
    if (!box) return;
    box->setTitle(tr("Anti Flicker"));
    SettingRowPlan plan;
    plan.placeInt = [&](SettingBaseWithLineEdit* row) {
        connect(row, &SettingBaseWithLineEdit::signalItemValueChanged, this,
                qOverload<std::string, int>(&SidebarDvsSettingUI::onAntiFlickerSliderValueChanged));
        box->addItem(row);
    };
    plan.placeFloat = [&](SettingBaseWithLineEdit* row) {
        connect(row, &SettingBaseWithLineEdit::signalItemValueChanged, this,
                &SidebarDvsSettingUI::onAntiFlickerSliderFloatValueChanged);
        box->addItem(row);
    };
    plan.placeBool = [&](SettingBaseWithSwitchButton* row) {
        connect(
            row, &SettingBaseWithSwitchButton::signalItemValueChanged, this,
            qOverload<std::string, bool>(&SidebarDvsSettingUI::onAntiFlickerSliderValueChanged));
        box->insertItem(row, 0);
    };
    plan.placeEnum = [&](SettingBaseWithComboBox* row) {
        connect(row, &SettingBaseWithComboBox::signalItemValueChanged, this,
                &SidebarDvsSettingUI::onAntiFlickerSliderEnumValueChanged);
        // Second place, under the switch; in a box still empty, simply the end.
        box->insertItem(row, 1);
    };
    buildSettingRows(*groups_[AntiFlicker].tool, infos, plan);
    endGroup(AntiFlicker, box);
}

void SidebarDvsSettingUI::setEventRateControlToolUI(ToolHandle tool) {
    std::map<std::string, BasicParameterInfo> infos;
    SettingItemBox* box = beginGroup(EventRateControl, std::move(tool), "camera device is null .",
                                     "camera event rate control is null .", infos);
    if (!box) return;
    box->setTitle(tr("Event Rate Control"));
    SettingRowPlan plan;
    plan.placeInt = [&](SettingBaseWithLineEdit* row) {
        connect(row, &SettingBaseWithLineEdit::signalItemValueChanged, this,
                qOverload<std::string, int>(
                    &SidebarDvsSettingUI::onEventRateControlSliderValueChanged));
        box->addItem(row);
    };
    plan.placeBool = [&](SettingBaseWithSwitchButton* row) {
        connect(row, &SettingBaseWithSwitchButton::signalItemValueChanged, this,
                qOverload<std::string, bool>(
                    &SidebarDvsSettingUI::onEventRateControlSliderValueChanged));
        box->addItem(row);
    };
    buildSettingRows(*groups_[EventRateControl].tool, infos, plan);
    endGroup(EventRateControl, box);
}

void SidebarDvsSettingUI::setEventTrailFilterToolUI(ToolHandle tool) {
    std::map<std::string, BasicParameterInfo> infos;
    SettingItemBox* box = beginGroup(EventTrailFilter, std::move(tool), "camera device is null .",
                                     "camera event trail filter is null .", infos);
    if (!box) return;
    box->setTitle(tr("Event Trail Filter"));
    SettingRowPlan plan;
    plan.placeInt = [&](SettingBaseWithLineEdit* row) {
        connect(row, &SettingBaseWithLineEdit::signalItemValueChanged, this,
                qOverload<std::string, int>(
                    &SidebarDvsSettingUI::onEventTrailFilterSliderValueChanged));
        box->addItem(row);
    };
    plan.placeBool = [&](SettingBaseWithSwitchButton* row) {
        connect(row, &SettingBaseWithSwitchButton::signalItemValueChanged, this,
                qOverload<std::string, bool>(
                    &SidebarDvsSettingUI::onEventTrailFilterSliderValueChanged));
        box->addItem(row);
    };
    plan.placeEnum = [&](SettingBaseWithComboBox* row) {
        connect(row, &SettingBaseWithComboBox::signalItemValueChanged, this,
                qOverload<std::string, std::string>(
                    &SidebarDvsSettingUI::onEventTrailFilterSliderValueChanged));
        box->addItem(row);
    };
    buildSettingRows(*groups_[EventTrailFilter].tool, infos, plan);
    endGroup(EventTrailFilter, box);
}

void SidebarDvsSettingUI::setROIToolUI(ToolHandle tool) {
    std::map<std::string, BasicParameterInfo> infos;
    SettingItemBox* box =
        beginGroup(Roi, std::move(tool), "camera device is null .", "camera roi is null .", infos);
    if (!box) return;
    box->setTitle(tr("ROI"));
    CameraTool& roi = *groups_[Roi].tool;
    SettingRowPlan plan;
    plan.intValue = [&roi](const std::string& name, const korvane::IntParameterInfo&) {
        int value = 0;
        roi.getIntParameter(name, value);
        return value;
    };
    plan.boolValue = [&roi](const std::string& name, const korvane::BoolParameterInfo&) {
        bool value = false;
        roi.getBoolParameter(name, value);
        return value;
    };
    plan.placeInt = [&](SettingBaseWithLineEdit* row) {
        roiRows_ << row;
        connect(row, &SettingBaseWithLineEdit::signalItemValueChanged, this,
                qOverload<std::string, int>(&SidebarDvsSettingUI::onROISliderValueChanged));
        box->addItem(row);
    };
    plan.placeBool = [&](SettingBaseWithSwitchButton* row) {
        connect(row, &SettingBaseWithSwitchButton::signalItemValueChanged, this,
                qOverload<std::string, bool>(&SidebarDvsSettingUI::onROISliderValueChanged));
        box->addItem(row);
    };
    buildSettingRows(roi, infos, plan);
    endGroup(Roi, box);
}

void SidebarDvsSettingUI::clearToolUI() {
    setBiasesToolUI(nullptr);
    setTriggerInToolUI(nullptr);
    setAntiFlickerToolUI(nullptr);
    setEventRateControlToolUI(nullptr);
    setEventTrailFilterToolUI(nullptr);
    setROIToolUI(nullptr);
}

void SidebarDvsSettingUI::endGroup(GroupIndex index, SettingItemBox* box) {
    groups_[index].box = box;
    // Text typed into a row that the camera refused goes back to the
    // camera's value at the end of the edit (after the row's own clamping
    // or its return from text that is no number).
    for (int i = 0; i < box->itemCount(); ++i) {
        auto* row = qobject_cast<SettingBaseWithLineEdit*>(box->itemAt(i));
        if (!row) continue;
        connect(row->form()->le_kv_line_edit, &QLineEdit::editingFinished, this,
                [this, index, row] {
                    if (const ToolHandle& tool = groups_[index].tool; tool && row->holdsNumber())
                        setting_write_back::showHeldValue(*tool, row);
                });
    }
    placeGroup(box, index);
}

template <class T>
bool SidebarDvsSettingUI::write(GroupIndex index, const std::string& name, T value) {
    // The ROI's coordinates are judged together against the sensor: say so.
    const QString hint =
        index == Roi ? tr("The camera refused %1 = %2 with the other ROI values (the region must "
                          "lie on the sensor); it keeps %3.")
                     : QString();
    return setting_write_back::write(groups_[index].tool.get(), groups_[index].box, name, value,
                                     hint);
}

// Each slot writes through its group's tool; the rows show the outcome.
void SidebarDvsSettingUI::onBiasSliderValueChanged(std::string name, int value) {
    write(Biases, name, value);
}
void SidebarDvsSettingUI::onTriggerInSliderValueChanged(std::string name, bool value) {
    write(TriggerIn, name, value);
}
void SidebarDvsSettingUI::onAntiFlickerSliderValueChanged(std::string name, int value) {
    write(AntiFlicker, name, value);
}
void SidebarDvsSettingUI::onAntiFlickerSliderValueChanged(std::string name, bool value) {
    write(AntiFlicker, name, value);
}
void SidebarDvsSettingUI::onAntiFlickerSliderFloatValueChanged(std::string name, int value) {
    setting_write_back::writeFloat(groups_[AntiFlicker].tool.get(), groups_[AntiFlicker].box, name,
                                   value);
}
void SidebarDvsSettingUI::onAntiFlickerSliderEnumValueChanged(std::string name, std::string value) {
    write(AntiFlicker, name, value);
}
void SidebarDvsSettingUI::onEventRateControlSliderValueChanged(std::string name, int value) {
    write(EventRateControl, name, value);
}
void SidebarDvsSettingUI::onEventRateControlSliderValueChanged(std::string name, bool value) {
    write(EventRateControl, name, value);
}
void SidebarDvsSettingUI::onEventTrailFilterSliderValueChanged(std::string name, int value) {
    write(EventTrailFilter, name, value);
}
void SidebarDvsSettingUI::onEventTrailFilterSliderValueChanged(std::string name, bool value) {
    write(EventTrailFilter, name, value);
}
void SidebarDvsSettingUI::onEventTrailFilterSliderValueChanged(std::string name,
                                                               std::string value) {
    write(EventTrailFilter, name, value);
}
void SidebarDvsSettingUI::onROISliderValueChanged(std::string name, bool value) {
    write(Roi, name, value);
}
void SidebarDvsSettingUI::onROISliderValueChanged(std::string name, int value) {
    write(Roi, name, value);
}

void SidebarDvsSettingUI::slotCumulativeTimeChanged(uint64_t time_us) {
    emit signalCumulativeTimeChanged(time_us);
}

void SidebarDvsSettingUI::slotFpsChanged(uint32_t fps) {
    emit signalFpsChanged(fps);
}
