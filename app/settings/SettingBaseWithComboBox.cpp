#include "SettingBaseWithComboBox.h"

#include "KVComboBoxBase.h"
#include "KvComboBox.h"
#include "KvToolTip.h"
#include "SettingNames.h"
#include "ui_SettingBaseWithComboBox.h"

SettingBaseWithComboBox::SettingBaseWithComboBox(const std::string& name, QWidget* parent)
    : QWidget(parent), ui(new Ui::SettingBaseWithComboBox), name_(name) {
    ui->setupUi(this);
    ui->lb_item_name->setText(toDisplayName(QString::fromStdString(name)));
    ui->widget_combobox->setEditable(false);
    connect(ui->widget_combobox->comboBox(), &QComboBox::currentTextChanged, this,
            &SettingBaseWithComboBox::cbCurrentTextChanged);
}

SettingBaseWithComboBox::~SettingBaseWithComboBox() {
    delete ui;
}

KvComboBox* SettingBaseWithComboBox::comboBox() const {
    return ui->widget_combobox;
}

void SettingBaseWithComboBox::addItem(const QString& text) {
    ui->widget_combobox->comboBox()->addItem(text);
}

void SettingBaseWithComboBox::setRowToolTip(const QString& text) {
    auto* tip = new KvToolTip(text, 0, this);
    tip->installOn(ui->widget_combobox);
}

void SettingBaseWithComboBox::cbCurrentTextChanged(const QString& arg1) {
    emit signalItemValueChanged(name_, arg1.toStdString());
}
