#include "InitDialog.h"

#include <QDebug>
#include <QGraphicsDropShadowEffect>
#include <QTimer>

#include "WindowTranslucency.h"
#include "ui_InitDialog.h"

InitDialog::InitDialog(QWidget* parent) : QDialog(parent), ui(new Ui::InitDialog) {
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    // Black corners without a compositor: stay opaque there.
    setAttribute(Qt::WA_TranslucentBackground, translucentWindowsAvailable());
    resize(518, 378);

    auto* shadow = new QGraphicsDropShadowEffect(ui->frame_main);
    shadow->setOffset(0, 0);
    shadow->setColor(QColor("#444444"));
    shadow->setBlurRadius(30);
    ui->frame_main->setGraphicsEffect(shadow);

    qDebug() << "Velqora Version: " << kVersion;
    ui->lb_version->setText(tr("Version: ") + kVersion);
    QTimer::singleShot(2000, this, &InitDialog::close);
}

InitDialog::~InitDialog() {
    delete ui;
}

void InitDialog::on_btn_close_clicked() {
    close();
}
