#pragma once

// A row editing one whole-number parameter: name, unit, minus, value box,
// plus, and a slider row shown only while the value box has focus. Every
// value that comes into force is reported at once with the parameter name
// the row was built from; unparsable text is marked red while typed and
// gives way to the value in force at the end of the edit.
//
// Ownership: owns its form; parented to its group box. GUI thread only.

#include <QWidget>
#include <functional>
#include <string>

#include "SettingRowTip.h"

namespace Ui {
class SettingBaseWithLineEdit;
}

class SettingBaseWithLineEdit : public QWidget {
    Q_OBJECT
public:
    // Called after every value change with (parameter name, value); its
    // result is the caller's business (the ROI group colours rows with it).
    using ValueCallback = std::function<bool(const std::string&, int)>;

    explicit SettingBaseWithLineEdit(const std::string& name, QWidget* parent = nullptr);
    ~SettingBaseWithLineEdit() override;

    const std::string& parameterName() const { return name_; }
    int minimum() const { return min_; }
    int maximum() const { return max_; }

    void setRange(int minimum, int maximum);
    // Ignored outside [minimum, maximum].
    void setValue(int value);
    void setUnit(const QString& unit);
    void setRowToolTip(const QString& text);
    // Shows a value the camera holds without reporting it (no write goes
    // back). Ignored outside [minimum, maximum].
    void showValue(int value);
    // True while the user types in the value box.
    bool isBeingEdited() const;
    // Whether the value box reads as a whole number (in range or not).
    bool holdsNumber() const;
    // Adds why the last write was refused to the row's tip and shows the tip
    // at once; an empty text takes the reason away again.
    void setRefusal(const QString& reason);
    QString rowToolTip() const;
    void setValueState(bool accepted);
    void setValueCallback(ValueCallback callback) { callback_ = std::move(callback); }

    Ui::SettingBaseWithLineEdit* form() const { return ui; }

signals:
    void signalItemValueChanged(std::string name, int value);

public slots:
    void on_horizontalSlider_valueChanged(int value);
    void on_le_kv_line_edit_textChanged(const QString& arg1);
    void on_pb_add_item_value_clicked();
    void on_pb_sub_item_value_clicked();

private:
    void onEditingFinished();
    // False for text that is not a whole number; digits beyond any integer
    // saturate.
    bool parse(long long& value) const;
    // Brings the value into the range, puts it in force and shows it.
    void applyInRange(long long value);
    void markFocused();

    Ui::SettingBaseWithLineEdit* ui;
    std::string name_;
    int min_ = 0;
    int max_ = 99;
    ValueCallback callback_;
    SettingRowTip tip_;
};
