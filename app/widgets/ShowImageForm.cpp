#include "ShowImageForm.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>

#include "KvGraphicsView.h"
#include "ui_ShowImageForm.h"

ShowImageForm::ShowImageForm(QWidget* parent) : QWidget(parent), ui(new Ui::ShowImageForm) {
    ui->setupUi(this);
    scene_ = new QGraphicsScene(this);
    ui->graphicsView->setScene(scene_);
    pixmap_ = QPixmap(placeholderWidth_, placeholderHeight_);
    pixmap_.fill(QColor("#707070"));
    item_ = scene_->addPixmap(pixmap_);
    ui->graphicsView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->graphicsView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

ShowImageForm::~ShowImageForm() {
    delete ui;
}

KvGraphicsView* ShowImageForm::view() const {
    return ui->graphicsView;
}

void ShowImageForm::slotShowImage(QImage image) {
    pixmap_ = QPixmap::fromImage(image);
    item_->setPixmap(pixmap_);
}

void ShowImageForm::showPixMap(QPixmap pixmap) {
    pixmap_ = pixmap;
    item_->setPixmap(pixmap_);
}

void ShowImageForm::clearImage() {
    pixmap_ = QPixmap(placeholderWidth_, placeholderHeight_);
    pixmap_.fill(QColor("#707070"));
    item_->setPixmap(pixmap_);
}

void ShowImageForm::fit() {
    if (!pixmap_.isNull()) ui->graphicsView->fitInView(item_, Qt::KeepAspectRatio);
}

void ShowImageForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fit();
}

void ShowImageForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    fit();
}
