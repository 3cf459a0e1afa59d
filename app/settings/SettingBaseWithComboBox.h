#pragma once

// A row choosing one option of an enumeration parameter; a change of the
// current option reports the parameter name the row was built from and
// the option text.
//
// Ownership: owns its form; parented to its group box. GUI thread only.

#include <QWidget>
#include <string>

#include "SettingRowTip.h"

class KvComboBox;

namespace Ui {
class SettingBaseWithComboBox;
}

class SettingBaseWithComboBox : public QWidget {
    Q_OBJECT
public:
    explicit SettingBaseWithComboBox(const std::string& name, QWidget* parent = nullptr);
    ~SettingBaseWithComboBox() override;

    const std::string& parameterName() const { return name_; }
    KvComboBox* comboBox() const;
    // Appends an option; the first one added becomes current.
    void addItem(const QString& text);
    void setRowToolTip(const QString& text);
    QString rowToolTip() const;
    // Why the camera refused the last write; empty takes it away.
    void setRefusal(const QString& reason);
    // Selects the option the camera holds without reporting it; an unknown
    // option changes nothing.
    void showValue(const QString& option);
    // The option's own name (what the camera gets) of the current choice.
    QString currentOption() const;

    Ui::SettingBaseWithComboBox* form() const { return ui; }

signals:
    void signalItemValueChanged(std::string name, std::string item);

public slots:
    void cbCurrentTextChanged(const QString& arg1);

private:
    Ui::SettingBaseWithComboBox* ui;
    std::string name_;
    SettingRowTip tip_;
    bool showing_ = false;  // a value the camera holds is being shown
};
