#pragma once

// What every setting row does with a write the camera judged: the rows of
// the group show what the camera holds afterwards (a refused write leaves
// its value in force; an accepted one may move others the camera ties to
// it), the whole-number rows take the verdict as their border (the camera
// judges a group's values together), and the row written says why it was
// refused in its tip, shown at once. Text the user is still typing stays;
// the end of that edit brings the row to the camera's value.
//
// GUI thread only; the tool is called synchronously.

#include <QString>
#include <string>

#include "korvane/camera/CameraTool.h"

class QWidget;
class SettingItemBox;

namespace setting_write_back {

// Writes value to the tool (null: nothing happens, false) and brings the
// rows of box to the outcome. hint says what the camera demands of the
// group's values together; empty for a generic reason.
bool write(korvane::CameraTool* tool, SettingItemBox* box, const std::string& name, int value,
           const QString& hint = {});
bool writeFloat(korvane::CameraTool* tool, SettingItemBox* box, const std::string& name, int value,
                const QString& hint = {});
bool write(korvane::CameraTool* tool, SettingItemBox* box, const std::string& name, bool value,
           const QString& hint = {});
bool write(korvane::CameraTool* tool, SettingItemBox* box, const std::string& name,
           const std::string& value, const QString& hint = {});

// Shows in one row (of any kind) the value the camera holds, without
// reporting it; a value the tool cannot read leaves the row as it is.
void showHeldValue(const korvane::CameraTool& tool, QWidget* row);

}  // namespace setting_write_back
