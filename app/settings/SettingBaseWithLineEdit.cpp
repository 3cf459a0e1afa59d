#include "SettingBaseWithLineEdit.h"

#include "KvToolTip.h"
#include "SettingNames.h"
#include "ui_SettingBaseWithLineEdit.h"

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
    ui->horizontalSlider->setRange(minimum, maximum);
    min_ = ui->horizontalSlider->minimum();
    max_ = ui->horizontalSlider->maximum();
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
    auto* tip = new KvToolTip(text, 0, this);
    tip->installOn(this);
}

void SettingBaseWithLineEdit::setValueState(bool accepted) {
    ui->le_kv_line_edit->setBorderColor(accepted ? "#ACACAC" : "#FF6058");
}

void SettingBaseWithLineEdit::on_horizontalSlider_valueChanged(int value) {
    ui->le_kv_line_edit->setText(QString::number(value));
    emit signalItemValueChanged(name_, value);
    if (callback_) callback_(name_, value);
}

void SettingBaseWithLineEdit::on_le_kv_line_edit_textChanged(const QString&) {
    int v = 0;
    if (!parse(v)) {
        ui->le_kv_line_edit->setBorderColor("#FF6058");
        return;
    }
    applyTyped(v);
    markFocused();
}

void SettingBaseWithLineEdit::onEditingFinished() {
    int v = 0;
    if (!parse(v)) {
        ui->le_kv_line_edit->setBorderColor("#FF6058");
        return;
    }
    applyTyped(v);
}

void SettingBaseWithLineEdit::applyTyped(int value) {
    ui->horizontalSlider->setValue(value);
    // A value beyond an end the slider already sits at changes nothing and
    // reports nothing; the text must still show the value in force.
    const int inForce = ui->horizontalSlider->value();
    if (inForce != value) ui->le_kv_line_edit->setText(QString::number(inForce));
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
