#include "SettingItemBox.h"

#include <QLayout>

#include "StyleSheetEdit.h"
#include "ui_SettingItemBox.h"

SettingItemBox::SettingItemBox(QWidget* parent) : QWidget(parent), ui(new Ui::SettingItemBox) {
    ui->setupUi(this);
    setMouseTracking(true);
    setAttribute(Qt::WA_TranslucentBackground);
    ui->widget_title->setAttribute(Qt::WA_StyledBackground);
    ui->lb_title->setStyleSheet("color: #004B6A; font-size: 13px; background: transparent;");
    ui->pb_fold->setStyleSheet("border: none; background: transparent;");
    // The first rule's border and background are the ones the fold look rewrites.
    ui->widget_title->setStyleSheet(
        "#widget_title { background: #F4F5F7; color: #004B6A; "
        "border-left: 0px solid #004B6A; } "
        "#widget_title:hover { background-color: #E1E9ED; }");
    setFoldState(true);
}

SettingItemBox::~SettingItemBox() {
    delete ui;
}

QString SettingItemBox::title() const {
    return ui->lb_title->text();
}

void SettingItemBox::setTitle(const QString& text) {
    ui->lb_title->setText(text);
}

void SettingItemBox::addItem(QWidget* row) {
    ui->layout_content->addWidget(row);
    relayout(row);
}

void SettingItemBox::insertItem(QWidget* row, int index) {
    // QBoxLayout takes only -1 or a position up to its count.
    const int count = ui->layout_content->count();
    ui->layout_content->insertWidget(index < 0 ? 0 : (index > count ? count : index), row);
    relayout(row);
}

int SettingItemBox::itemCount() const {
    return ui->layout_content->count();
}

QWidget* SettingItemBox::itemAt(int index) const {
    QLayoutItem* item = ui->layout_content->itemAt(index);
    return item ? item->widget() : nullptr;
}

void SettingItemBox::relayout(QWidget* row) {
    row->adjustSize();
    ui->widget_content->adjustSize();
    adjustSize();
    update();
}

bool SettingItemBox::isFolded() const {
    return ui->widget_content->isHidden();
}

void SettingItemBox::setFoldState(bool folded) {
    applyFoldLook(folded);
    ui->pb_fold->setChecked(folded);
}

void SettingItemBox::on_pb_fold_clicked(bool checked) {
    applyFoldLook(checked);
}

void SettingItemBox::applyFoldLook(bool folded) {
    ui->widget_content->setVisible(!folded);
    QString sheet = ui->widget_title->styleSheet();
    sheet = replaceStyleDeclaration(
        sheet, "border",
        folded ? "border-left: 0px solid #004B6A;" : "border-left: 2px solid #004B6A;");
    sheet = replaceStyleDeclaration(sheet, "background",
                                    folded ? "background: #F4F5F7;" : "background: #E1E9ED;");
    ui->widget_title->setStyleSheet(sheet);
}

QString SettingItemBox::titleStyleSheet() const {
    return ui->widget_title->styleSheet();
}
