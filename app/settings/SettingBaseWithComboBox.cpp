#include "SettingBaseWithComboBox.h"

#include "KVComboBoxBase.h"
#include "KvComboBox.h"
#include "KvToolTip.h"
#include "SettingNames.h"
#include "ui_SettingBaseWithComboBox.h"

SettingBaseWithComboBox::SettingBaseWithComboBox(const std::string& name, QWidget* parent)
    : QWidget(parent), ui(new Ui::SettingBaseWithComboBox), name_(name) {
    ui->setupUi(this);
    ui->lb_item_name->setText(translatedDisplayName(QString::fromStdString(name)));
    ui->widget_combobox->setEditable(false);
    // The camera gets the option's own name, whatever the row shows.
    QComboBox* box = ui->widget_combobox->comboBox();
    connect(box, &QComboBox::currentIndexChanged, this, [this, box](int index) {
        if (index < 0) return;
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
    auto* tip = new KvToolTip(text, 0, this);
    tip->installOn(ui->widget_combobox);
}

void SettingBaseWithComboBox::cbCurrentTextChanged(const QString& arg1) {
    emit signalItemValueChanged(name_, arg1.toStdString());
}
