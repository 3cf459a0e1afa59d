#include "SettingBaseWithComboBox.h"

#include "KVComboBoxBase.h"
#include "KvComboBox.h"
#include "SettingNames.h"
#include "ui_SettingBaseWithComboBox.h"

SettingBaseWithComboBox::SettingBaseWithComboBox(const std::string& name, QWidget* parent)
    : QWidget(parent), ui(new Ui::SettingBaseWithComboBox), name_(name), tip_(this) {
    ui->setupUi(this);
    tip_.setAnchor(ui->widget_combobox);
    ui->lb_item_name->setText(translatedDisplayName(QString::fromStdString(name)));
    ui->widget_combobox->setEditable(false);
    // The camera gets the option's own name, whatever the row shows.
    QComboBox* box = ui->widget_combobox->comboBox();
    connect(box, &QComboBox::currentIndexChanged, this, [this, box](int index) {
        if (index < 0 || showing_) return;
        const QVariant option = box->itemData(index);
        cbCurrentTextChanged(option.isValid() ? option.toString() : box->itemText(index));
    });
}

SettingBaseWithComboBox::~SettingBaseWithComboBox() {
    delete ui;
}

KvComboBox* SettingBaseWithComboBox::comboBox() const {
    return ui->widget_combobox;
}

void SettingBaseWithComboBox::addItem(const QString& text) {
    ui->widget_combobox->comboBox()->addItem(translatedOptionName(text), text);
}

void SettingBaseWithComboBox::setRowToolTip(const QString& text) {
    tip_.setDescription(text);
}

QString SettingBaseWithComboBox::rowToolTip() const {
    return tip_.text();
}

void SettingBaseWithComboBox::setRefusal(const QString& reason) {
    tip_.setRefusal(reason);
}

void SettingBaseWithComboBox::showValue(const QString& option) {
    QComboBox* box = ui->widget_combobox->comboBox();
    int index = box->findData(option);
    if (index < 0) index = box->findText(option);
    if (index < 0 || index == box->currentIndex()) return;
    // The box's own followers (its tip, the text's start) still hear of it.
    showing_ = true;
    box->setCurrentIndex(index);
    showing_ = false;
}

QString SettingBaseWithComboBox::currentOption() const {
    QComboBox* box = ui->widget_combobox->comboBox();
    const QVariant option = box->currentData();
    return option.isValid() ? option.toString() : box->currentText();
}

void SettingBaseWithComboBox::cbCurrentTextChanged(const QString& arg1) {
    emit signalItemValueChanged(name_, arg1.toStdString());
}
