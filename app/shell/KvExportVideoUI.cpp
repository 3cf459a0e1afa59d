#include "KvExportVideoUI.h"

#include <QEvent>

#include "ui_KvExportVideoUI.h"

KvExportVideoUI::KvExportVideoUI(QWidget* parent)
    : KvRangeFileDialog(parent), ui(new Ui::KvExportVideoUI) {
    ui->setupUi(this);
    attachForm();
    ui->le_file_name->setText(QStringLiteral("xxx.mp4"));
}

KvExportVideoUI::~KvExportVideoUI() {
    delete ui;
}

void KvExportVideoUI::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) ui->retranslateUi(this);
    KvRangeFileDialog::changeEvent(event);
}
