#include "KVMessageBox.h"

#include "WindowFrameAgent.h"
#include "WindowTranslucency.h"
#include "ui_KVMessageBox.h"

KVMessageBox::KVMessageBox(const QString& message, const QString& title, const QString& acceptText,
                           const QString& rejectText, QWidget* parent)
    : QDialog(parent), ui(new Ui::KVMessageBox) {
    ui->setupUi(this);
    agent_ = new WindowFrameAgent(this);
    agent_->setup(this);
    agent_->setTitleBar(ui->widget_title_name);
    // Black corners without a compositor: stay opaque there.
    setAttribute(Qt::WA_TranslucentBackground, translucentWindowsAvailable());
    setFixedSize(500, 270);
    ui->lb_title->setText(title);
    ui->lb_message->setText(message);
    ui->pb_open->setText(acceptText);
    ui->pb_close->setText(rejectText);
    // A notice has one button.
    ui->pb_close->setVisible(!rejectText.isEmpty());
}

KVMessageBox::~KVMessageBox() {
    delete ui;
}

void KVMessageBox::on_pb_open_clicked() {
    accept();
}

void KVMessageBox::on_pb_close_clicked() {
    reject();
}

void KVMessageBox::on_pb_win_close_clicked() {
    reject();
}
