#pragma once

// Builds the rows of one group from a camera tool's parameter descriptions,
// in the tool's order (ascending by name). The group decides, per kind of
// parameter, the initial value, where the row goes and what it is connected
// to; a kind the group has no placer for gets no row. A description whose
// typed fetch fails, or whose type code has no editor, gets no row.
//
// Rows are handed to the placer filled but not yet connected, so building
// reports nothing. GUI thread only; the tool is called synchronously.

#include <functional>
#include <map>
#include <string>

#include "korvane/camera/CameraTool.h"

class SettingBaseWithComboBox;
class SettingBaseWithLineEdit;
class SettingBaseWithSwitchButton;

struct SettingRowPlan {
    // Initial value of an integer row; unset: the description's value.
    std::function<int(const std::string& name, const korvane::IntParameterInfo&)> intValue;
    // Initial state of a switch; unset: off.
    std::function<bool(const std::string& name, const korvane::BoolParameterInfo&)> boolValue;

    std::function<void(SettingBaseWithLineEdit*)> placeInt;
    std::function<void(SettingBaseWithLineEdit*)> placeFloat;
    std::function<void(SettingBaseWithSwitchButton*)> placeBool;
    std::function<void(SettingBaseWithComboBox*)> placeEnum;
};

// Returns the number of rows built.
int buildSettingRows(korvane::CameraTool& tool,
                     const std::map<std::string, korvane::BasicParameterInfo>& infos,
                     const SettingRowPlan& plan);
