#include "SidebarDvsSettingUI.h"

#include <QDebug>

#include "SettingBaseWithComboBox.h"
#include "SettingBaseWithLineEdit.h"
#include "SettingBaseWithSwitchButton.h"
#include "SettingItemBox.h"
#include "SettingNames.h"
#include "SettingRowBuilder.h"
#include "ui_SettingBaseWithLineEdit.h"

using korvane::BasicParameterInfo;
using korvane::CameraTool;
using korvane::ToolType;

SidebarDvsSettingUI::SidebarDvsSettingUI(QWidget* parent) : SettingPanelBase(parent) {
    setPanelTitle(tr("DVS Setting"));
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

void SidebarDvsSettingUI::endGroup(GroupIndex index, SettingItemBox* box) {
    groups_[index].box = box;
    placeGroup(box, index);
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
        row->setValueCallback(
            [this](const std::string& name, int value) { return writeRoi(name, value); });
        // Runs after the row's own end of editing.
        connect(row->form()->le_kv_line_edit, &QLineEdit::editingFinished, this,
                [this, row] { showCameraRoi(row); });
        box->addItem(row);
    };
    plan.placeBool = [&](SettingBaseWithSwitchButton* row) {
        connect(row, &SettingBaseWithSwitchButton::signalItemValueChanged, this,
                &SidebarDvsSettingUI::onROISliderValueChanged);
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

bool SidebarDvsSettingUI::writeRoi(const std::string& name, int value) {
    const ToolHandle& tool = groups_[Roi].tool;
    const bool accepted = tool && tool->setParameter(name, value);
    QString reason;
    if (!accepted) {
        int kept = 0;
        if (tool) tool->getIntParameter(name, kept);
        reason = tr("The camera refused %1 = %2 with the other ROI values (the region must lie on "
                    "the sensor); it keeps %3.")
                     .arg(toDisplayName(QString::fromStdString(name)))
                     .arg(value)
                     .arg(kept);
    }
    for (SettingBaseWithLineEdit* row : roiRows_) {
        row->setValueState(accepted);
        const bool writer = row->parameterName() == name;
        row->setRefusal(writer ? reason : QString());
        // Text the user is still typing stays; the end of the edit brings
        // the row back to what the camera holds.
        if (!(writer && row->isBeingEdited())) showCameraRoi(row);
    }
    return accepted;
}

void SidebarDvsSettingUI::showCameraRoi(SettingBaseWithLineEdit* row) {
    const ToolHandle& tool = groups_[Roi].tool;
    int value = 0;
    if (tool && tool->getIntParameter(row->parameterName(), value)) row->showValue(value);
}

// Each slot writes through its group's tool; the result is not used.
void SidebarDvsSettingUI::onBiasSliderValueChanged(std::string name, int value) {
    if (auto& t = groups_[Biases].tool) t->setParameter(name, value);
}
void SidebarDvsSettingUI::onTriggerInSliderValueChanged(std::string name, bool value) {
    if (auto& t = groups_[TriggerIn].tool) t->setParameter(name, value);
}
void SidebarDvsSettingUI::onAntiFlickerSliderValueChanged(std::string name, int value) {
    if (auto& t = groups_[AntiFlicker].tool) t->setParameter(name, value);
}
void SidebarDvsSettingUI::onAntiFlickerSliderValueChanged(std::string name, bool value) {
    if (auto& t = groups_[AntiFlicker].tool) t->setParameter(name, value);
}
void SidebarDvsSettingUI::onAntiFlickerSliderFloatValueChanged(std::string name, int value) {
    if (auto& t = groups_[AntiFlicker].tool) t->setParameter(name, float(value));
}
void SidebarDvsSettingUI::onAntiFlickerSliderEnumValueChanged(std::string name, std::string value) {
    if (auto& t = groups_[AntiFlicker].tool) t->setParameter(name, value);
}
void SidebarDvsSettingUI::onEventRateControlSliderValueChanged(std::string name, int value) {
    if (auto& t = groups_[EventRateControl].tool) t->setParameter(name, value);
}
void SidebarDvsSettingUI::onEventRateControlSliderValueChanged(std::string name, bool value) {
    if (auto& t = groups_[EventRateControl].tool) t->setParameter(name, value);
}
void SidebarDvsSettingUI::onEventTrailFilterSliderValueChanged(std::string name, int value) {
    if (auto& t = groups_[EventTrailFilter].tool) t->setParameter(name, value);
}
void SidebarDvsSettingUI::onEventTrailFilterSliderValueChanged(std::string name, bool value) {
    if (auto& t = groups_[EventTrailFilter].tool) t->setParameter(name, value);
}
void SidebarDvsSettingUI::onEventTrailFilterSliderValueChanged(std::string name,
                                                               std::string value) {
    if (auto& t = groups_[EventTrailFilter].tool) t->setParameter(name, value);
}
void SidebarDvsSettingUI::onROISliderValueChanged(std::string name, bool value) {
    if (auto& t = groups_[Roi].tool) t->setParameter(name, value);
}

void SidebarDvsSettingUI::slotCumulativeTimeChanged(uint64_t time_us) {
    emit signalCumulativeTimeChanged(time_us);
}

void SidebarDvsSettingUI::slotFpsChanged(uint32_t fps) {
    emit signalFpsChanged(fps);
}
