#include "CamerasList.h"

#include <QListWidget>

#include "WindowFrameAgent.h"
#include "WindowTranslucency.h"
#include "ui_CamerasList.h"

CamerasList::CamerasList(const std::vector<korvane::CameraDescription>& cameras, QWidget* parent)
    : QDialog(parent), ui(new Ui::CamerasList) {
    ui->setupUi(this);
    agent_ = new WindowFrameAgent(this);
    agent_->setup(this);
    agent_->setTitleBar(ui->widget_title);
    setAttribute(Qt::WA_TranslucentBackground, translucentWindowsAvailable());
    ui->listWidget_cameras->setIconSize(QSize(24, 24));
    const QIcon icon(":/img/assets/btn_camera.svg");
    for (const korvane::CameraDescription& d : cameras)
        new QListWidgetItem(icon, QString::fromLocal8Bit(d.serial.c_str()), ui->listWidget_cameras);
    if (ui->listWidget_cameras->count() > 0) ui->listWidget_cameras->setCurrentRow(0);
    connect(ui->listWidget_cameras, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

CamerasList::~CamerasList() {
    delete ui;
}

bool CamerasList::getSelection(int& index) const {
    const int row = ui->listWidget_cameras->currentRow();
    if (row < 0) return false;
    index = row;
    return true;
}

void CamerasList::on_pb_open_clicked() {
    accept();
}

void CamerasList::on_pb_close_clicked() {
    reject();
}

void CamerasList::on_pb_win_close_clicked() {
    reject();
}

void CamerasList::showEvent(QShowEvent* event) {
    if (QWidget* p = parentWidget()) {
        const QPoint at = p->mapToGlobal(QPoint(0, 0));
        move(at.x() + (p->width() - width()) / 2, at.y() + (p->height() - height()) / 2);
    }
    QDialog::showEvent(event);
}
