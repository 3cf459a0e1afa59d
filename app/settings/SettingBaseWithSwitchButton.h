#pragma once

// A row switching one boolean parameter on and off; a click reports the
// parameter name the row was built from and the new state.
//
// Ownership: owns its form; parented to its group box. GUI thread only.

#include <QWidget>
#include <string>

#include "SettingRowTip.h"

namespace Ui {
class SettingBaseWithSwitchButton;
}

class SettingBaseWithSwitchButton : public QWidget {
    Q_OBJECT
public:
    explicit SettingBaseWithSwitchButton(const std::string& name, QWidget* parent = nullptr);
    ~SettingBaseWithSwitchButton() override;

    const std::string& parameterName() const { return name_; }
    bool isChecked() const;
    // Sets the switch without reporting.
    void setChecked(bool checked);
    void setRowToolTip(const QString& text);
    QString rowToolTip() const;
    // Why the camera refused the last write; empty takes it away.
    void setRefusal(const QString& reason);

    Ui::SettingBaseWithSwitchButton* form() const { return ui; }

signals:
    void signalItemValueChanged(std::string name, bool value);

public slots:
    void on_switchButton_clicked();

private:
    Ui::SettingBaseWithSwitchButton* ui;
    std::string name_;
    SettingRowTip tip_;
};
