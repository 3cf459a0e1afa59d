#include "SettingWriteBack.h"

#include <QCoreApplication>

#include "SettingBaseWithComboBox.h"
#include "SettingBaseWithLineEdit.h"
#include "SettingBaseWithSwitchButton.h"
#include "SettingItemBox.h"
#include "SettingNames.h"

namespace setting_write_back {
namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("SettingWriteBack", text);
}

QString onOff(bool on) {
    return on ? tr("on") : tr("off");
}

std::string rowName(QWidget* row) {
    if (auto* r = qobject_cast<SettingBaseWithLineEdit*>(row)) return r->parameterName();
    if (auto* r = qobject_cast<SettingBaseWithSwitchButton*>(row)) return r->parameterName();
    if (auto* r = qobject_cast<SettingBaseWithComboBox*>(row)) return r->parameterName();
    return {};
}

void setRefusal(QWidget* row, const QString& reason) {
    if (auto* r = qobject_cast<SettingBaseWithLineEdit*>(row)) r->setRefusal(reason);
    if (auto* r = qobject_cast<SettingBaseWithSwitchButton*>(row)) r->setRefusal(reason);
    if (auto* r = qobject_cast<SettingBaseWithComboBox*>(row)) r->setRefusal(reason);
}

enum class Kind { Number, Switch, Option };

// The value in force as the user reads it; empty when the tool cannot say.
QString heldText(const korvane::CameraTool& tool, const std::string& name, Kind kind) {
    int i = 0;
    bool b = false;
    std::string s;
    switch (kind) {
        case Kind::Number:
            return tool.getIntParameter(name, i) ? QString::number(i) : QString();
        case Kind::Switch:
            return tool.getBoolParameter(name, b) ? onOff(b) : QString();
        case Kind::Option:
            return tool.getStringParameter(name, s)
                       ? translatedOptionName(QString::fromStdString(s))
                       : QString();
    }
    return {};
}

void reflect(const korvane::CameraTool& tool, SettingItemBox* box, const std::string& name,
             Kind kind, bool accepted, const QString& tried, const QString& hint) {
    if (!box) return;
    QString reason;
    if (!accepted) {
        const QString shownName = translatedDisplayName(QString::fromStdString(name));
        const QString held = heldText(tool, name, kind);
        if (!hint.isEmpty()) {
            reason = hint.arg(shownName, tried, held);
        } else if (held.isEmpty()) {
            reason = tr("The camera refused %1 = %2.").arg(shownName, tried);
        } else {
            reason = tr("The camera refused %1 = %2 with the group's other values; it keeps %3.")
                         .arg(shownName, tried, held);
        }
    }
    for (int i = 0; i < box->itemCount(); ++i) {
        QWidget* row = box->itemAt(i);
        const bool writer = rowName(row) == name;
        auto* numberRow = qobject_cast<SettingBaseWithLineEdit*>(row);
        if (numberRow) numberRow->setValueState(accepted);
        setRefusal(row, writer ? reason : QString());
        if (!(writer && numberRow && numberRow->isBeingEdited())) showHeldValue(tool, row);
    }
}

}  // namespace

bool write(korvane::CameraTool* tool, SettingItemBox* box, const std::string& name, int value,
           const QString& hint) {
    if (!tool) return false;
    const bool accepted = tool->setParameter(name, value);
    reflect(*tool, box, name, Kind::Number, accepted, QString::number(value), hint);
    return accepted;
}

bool writeFloat(korvane::CameraTool* tool, SettingItemBox* box, const std::string& name, int value,
                const QString& hint) {
    if (!tool) return false;
    const bool accepted = tool->setParameter(name, float(value));
    reflect(*tool, box, name, Kind::Number, accepted, QString::number(value), hint);
    return accepted;
}

bool write(korvane::CameraTool* tool, SettingItemBox* box, const std::string& name, bool value,
           const QString& hint) {
    if (!tool) return false;
    const bool accepted = tool->setParameter(name, value);
    reflect(*tool, box, name, Kind::Switch, accepted, onOff(value), hint);
    return accepted;
}

bool write(korvane::CameraTool* tool, SettingItemBox* box, const std::string& name,
           const std::string& value, const QString& hint) {
    if (!tool) return false;
    const bool accepted = tool->setParameter(name, value);
    reflect(*tool, box, name, Kind::Option, accepted,
            translatedOptionName(QString::fromStdString(value)), hint);
    return accepted;
}

void showHeldValue(const korvane::CameraTool& tool, QWidget* row) {
    if (auto* r = qobject_cast<SettingBaseWithLineEdit*>(row)) {
        int v = 0;
        if (tool.getIntParameter(r->parameterName(), v)) r->showValue(v);
    } else if (auto* r = qobject_cast<SettingBaseWithSwitchButton*>(row)) {
        bool v = false;
        if (tool.getBoolParameter(r->parameterName(), v)) r->setChecked(v);
    } else if (auto* r = qobject_cast<SettingBaseWithComboBox*>(row)) {
        std::string v;
        if (tool.getStringParameter(r->parameterName(), v)) r->showValue(QString::fromStdString(v));
    }
}

}  // namespace setting_write_back
