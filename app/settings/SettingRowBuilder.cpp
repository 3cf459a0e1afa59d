#include "SettingRowBuilder.h"

#include "SettingBaseWithComboBox.h"
#include "SettingBaseWithLineEdit.h"
#include "SettingBaseWithSwitchButton.h"
#include "SettingNames.h"

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

int buildSettingRows(korvane::CameraTool& tool,
                     const std::map<std::string, korvane::BasicParameterInfo>& infos,
                     const SettingRowPlan& plan) {
    using korvane::BasicParameterInfo;
    int built = 0;
    for (const auto& [name, basic] : infos) {
        switch (basic.type) {
            case BasicParameterInfo::kInt: {
                korvane::IntParameterInfo info;
                if (!plan.placeInt || !tool.getIntParameterInfo(name, info)) break;
                auto* row = new SettingBaseWithLineEdit(name);
                row->setRowToolTip(q(basic.description));
                row->setRange(info.min, info.max);
                row->setValue(plan.intValue ? plan.intValue(name, info) : info.value);
                row->setUnit(q(info.unit));
                plan.placeInt(row);
                ++built;
                break;
            }
            case BasicParameterInfo::kFloat: {
                // Whole numbers only: range and value truncated toward zero, no scaling.
                korvane::FloatParameterInfo info;
                if (!plan.placeFloat || !tool.getFloatParameterInfo(name, info)) break;
                auto* row = new SettingBaseWithLineEdit(name);
                row->setRowToolTip(q(basic.description));
                row->setRange(truncateToInt(info.min), truncateToInt(info.max));
                row->setValue(truncateToInt(info.value));
                row->setUnit(q(info.unit));
                plan.placeFloat(row);
                ++built;
                break;
            }
            case BasicParameterInfo::kBool: {
                korvane::BoolParameterInfo info;
                if (!plan.placeBool || !tool.getBoolParameterInfo(name, info)) break;
                auto* row = new SettingBaseWithSwitchButton(name);
                row->setRowToolTip(q(basic.description));
                row->setChecked(plan.boolValue ? plan.boolValue(name, info) : false);
                plan.placeBool(row);
                ++built;
                break;
            }
            case BasicParameterInfo::kEnum: {
                korvane::EnumParameterInfo info;
                if (!plan.placeEnum || !tool.getEnumParameterInfo(name, info)) break;
                auto* row = new SettingBaseWithComboBox(name);
                row->setRowToolTip(q(basic.description));
                for (const std::string& option : info.values)
                    row->addItem(q(option));
                plan.placeEnum(row);
                ++built;
                break;
            }
            default:
                break;
        }
    }
    return built;
}
