#include "ShowCameraInfoUI.h"

#include <QEvent>

#include "WindowFrameAgent.h"
#include "WindowTranslucency.h"
#include "ui_ShowCameraInfoUI.h"

ShowCameraInfoUI::ShowCameraInfoUI(QWidget* parent)
    : QDialog(parent), ui(new Ui::ShowCameraInfoUI) {
    ui->setupUi(this);
    agent_ = new WindowFrameAgent(this);
    agent_->setup(this);
    agent_->setTitleBar(ui->widget_title);
    agent_->setSystemButton(WindowFrameAgent::Close, ui->pb_win_close);
    setAttribute(Qt::WA_TranslucentBackground, translucentWindowsAvailable());
}

ShowCameraInfoUI::~ShowCameraInfoUI() {
    delete ui;
}

void ShowCameraInfoUI::setInfo(const korvane::CameraDescription& description,
                               const QString& firmware) {
    ui->lb_product->setText(QString::fromLocal8Bit(description.product.c_str()));
    ui->lb_manufacturer->setText(QString::fromLocal8Bit(description.manufacturer.c_str()));
    ui->lb_serial->setText(QString::fromLocal8Bit(description.serial.c_str()));
    ui->lb_firm_ver->setText(firmware);
}

void ShowCameraInfoUI::on_pb_close_clicked() {
    reject();
}

void ShowCameraInfoUI::on_pb_win_close_clicked() {
    reject();
}

void ShowCameraInfoUI::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
