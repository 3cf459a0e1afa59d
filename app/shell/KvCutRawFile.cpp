#include "KvCutRawFile.h"

#include <QEvent>

#include "ui_KvCutRawFile.h"

KvCutRawFile::KvCutRawFile(QWidget* parent) : KvRangeFileDialog(parent), ui(new Ui::KvCutRawFile) {
    ui->setupUi(this);
    attachForm();
    ui->le_file_name->setText(QStringLiteral("xxx.raw"));
}

KvCutRawFile::~KvCutRawFile() {
    delete ui;
}

void KvCutRawFile::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) ui->retranslateUi(this);
    KvRangeFileDialog::changeEvent(event);
}
