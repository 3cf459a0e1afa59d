#include "SettingBaseWithLineEdit.h"

#include "KvToolTip.h"
#include "SettingNames.h"
#include "ui_SettingBaseWithLineEdit.h"

#include <QSignalBlocker>
#include <algorithm>

SettingBaseWithLineEdit::SettingBaseWithLineEdit(const std::string& name, QWidget* parent)
    : QWidget(parent), ui(new Ui::SettingBaseWithLineEdit), name_(name) {
    ui->setupUi(this);
    ui->lb_item_name->setText(translatedDisplayName(QString::fromStdString(name)));
    ui->widget_slider->hide();
    ui->horizontalSlider->setFocusProxy(ui->le_kv_line_edit);
    min_ = ui->horizontalSlider->minimum();
    max_ = ui->horizontalSlider->maximum();
    connect(ui->le_kv_line_edit, &KvLineEditBase::signalMouseHoverd, ui->widget_slider,
            &QWidget::setVisible);
    connect(ui->le_kv_line_edit, &QLineEdit::editingFinished, this,
            &SettingBaseWithLineEdit::onEditingFinished);
}

SettingBaseWithLineEdit::~SettingBaseWithLineEdit() {
    delete ui;
}

bool SettingBaseWithLineEdit::parse(int& value) const {
    bool ok = false;
    value = ui->le_kv_line_edit->text().toInt(&ok, 10);
    return ok;
}

void SettingBaseWithLineEdit::markFocused() {
    if (ui->le_kv_line_edit->hasFocus()) ui->le_kv_line_edit->setBorderColor("#004B6A");
}

void SettingBaseWithLineEdit::setRange(int minimum, int maximum) {
    // The slider moves a value outside the new range to the nearest end and
    // reports it, which fills the text.
    // The bounds are known before the slider reports, so the text it fills
    // is judged against the new range.
    min_ = minimum;
    max_ = std::max(minimum, maximum);
    ui->horizontalSlider->setRange(min_, max_);
}

void SettingBaseWithLineEdit::setValue(int value) {
    if (value < min_ || value > max_) return;
    ui->le_kv_line_edit->setText(QString::number(value));
    ui->horizontalSlider->setValue(value);
}

void SettingBaseWithLineEdit::setUnit(const QString& unit) {
    if (unit.isEmpty() || unit == " ") return;
    ui->lb_unit->setText("(" + unit + ")");
}

void SettingBaseWithLineEdit::setRowToolTip(const QString& text) {
    description_ = text;
    if (!tip_) {
        tip_ = new KvToolTip(text, 0, this);
        tip_->installOn(this);
    }
    tip_->setText(rowToolTip());
}

QString SettingBaseWithLineEdit::rowToolTip() const {
    if (refusal_.isEmpty()) return description_;
    return description_.isEmpty() ? refusal_ : description_ + "\n" + refusal_;
}

void SettingBaseWithLineEdit::setRefusal(const QString& reason) {
    if (reason == refusal_) return;
    refusal_ = reason;
    if (!tip_) {
        tip_ = new KvToolTip(QString(), 0, this);
        tip_->installOn(this);
    }
    tip_->setText(rowToolTip());
    if (!reason.isEmpty()) tip_->showNow();
}

void SettingBaseWithLineEdit::showValue(int value) {
    if (value < min_ || value > max_) return;
    const QSignalBlocker sliderQuiet(ui->horizontalSlider);
    const QSignalBlocker textQuiet(ui->le_kv_line_edit);
    ui->horizontalSlider->setValue(value);
    int shown = 0;
    if (!parse(shown) || shown != value) ui->le_kv_line_edit->setText(QString::number(value));
}

bool SettingBaseWithLineEdit::isBeingEdited() const {
    return ui->le_kv_line_edit->hasFocus();
}

void SettingBaseWithLineEdit::setValueState(bool accepted) {
    ui->le_kv_line_edit->setBorderColor(accepted ? "#ACACAC" : "#FF6058");
}

void SettingBaseWithLineEdit::on_horizontalSlider_valueChanged(int value) {
    // Text that already reads as this value (the user's own typing) is left
    // as it is, cursor and all.
    int shown = 0;
    if (!parse(shown) || shown != value) ui->le_kv_line_edit->setText(QString::number(value));
    emit signalItemValueChanged(name_, value);
    if (callback_) callback_(name_, value);
}

void SettingBaseWithLineEdit::on_le_kv_line_edit_textChanged(const QString&) {
    int v = 0;
    if (!parse(v)) {
        ui->le_kv_line_edit->setBorderColor("#FF6058");
        return;
    }
    // While typing, a number outside the range is only a prefix of what the
    // user means (5 on the way to 5000): it is neither applied nor rewritten.
    // The end of the edit brings it into the range.
    if (v < min_ || v > max_) {
        ui->le_kv_line_edit->setBorderColor("#FF6058");
        return;
    }
    // Before the write: a verdict the value callback draws must stay. A
    // value in range is no longer marked red, focused or not.
    ui->le_kv_line_edit->setBorderColor(ui->le_kv_line_edit->hasFocus() ? "#004B6A" : "#ACACAC");
    ui->horizontalSlider->setValue(v);
}

void SettingBaseWithLineEdit::onEditingFinished() {
    int v = 0;
    if (!parse(v)) {
        ui->le_kv_line_edit->setBorderColor("#FF6058");
        return;
    }
    const int clamped = std::clamp(v, min_, max_);
    if (clamped != v) markFocused();  // the red of an out-of-range number goes
    ui->horizontalSlider->setValue(clamped);
    // A value beyond an end the slider already sits at changes nothing and
    // reports nothing; the text must still show the value in force.
    const QString inForce = QString::number(ui->horizontalSlider->value());
    if (ui->le_kv_line_edit->text() != inForce) ui->le_kv_line_edit->setText(inForce);
}

void SettingBaseWithLineEdit::on_pb_add_item_value_clicked() {
    int v = 0;
    if (!parse(v) || v >= max_) return;
    ui->horizontalSlider->setValue(v + 1);
    markFocused();
}

void SettingBaseWithLineEdit::on_pb_sub_item_value_clicked() {
    int v = 0;
    if (!parse(v) || v <= min_) return;
    ui->horizontalSlider->setValue(v - 1);
    markFocused();
}
