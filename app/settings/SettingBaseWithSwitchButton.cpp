#include "SettingBaseWithSwitchButton.h"

#include "SettingNames.h"
#include "ui_SettingBaseWithSwitchButton.h"

SettingBaseWithSwitchButton::SettingBaseWithSwitchButton(const std::string& name, QWidget* parent)
    : QWidget(parent), ui(new Ui::SettingBaseWithSwitchButton), name_(name), tip_(this) {
    ui->setupUi(this);
    ui->lb_item_name->setText(translatedDisplayName(QString::fromStdString(name)));
}

SettingBaseWithSwitchButton::~SettingBaseWithSwitchButton() {
    delete ui;
}

bool SettingBaseWithSwitchButton::isChecked() const {
    return ui->switchButton->isChecked();
}

void SettingBaseWithSwitchButton::setChecked(bool checked) {
    ui->switchButton->setChecked(checked);
}

void SettingBaseWithSwitchButton::setRowToolTip(const QString& text) {
    tip_.setDescription(text);
}

QString SettingBaseWithSwitchButton::rowToolTip() const {
    return tip_.text();
}

void SettingBaseWithSwitchButton::setRefusal(const QString& reason) {
    tip_.setRefusal(reason);
}

void SettingBaseWithSwitchButton::on_switchButton_clicked() {
    emit signalItemValueChanged(name_, ui->switchButton->isChecked());
}
