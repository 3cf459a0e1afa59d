#include "KvRangeFileDialog.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>

#include "WindowFrameAgent.h"

KvRangeFileDialog::KvRangeFileDialog(QWidget* parent) : QDialog(parent) {
    chooseDirectory_ = [](QWidget* p, const QString& caption, const QString& start) {
        return QFileDialog::getExistingDirectory(
            p, caption, start, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    };
}

void KvRangeFileDialog::attachForm() {
    agent_ = new WindowFrameAgent(this);
    agent_->setup(this);
    agent_->setTitleBar(findChild<QWidget*>("widget_title_name"));
    setAttribute(Qt::WA_TranslucentBackground);
    setModal(true);
    // The times are microseconds of the recording's clock: say so.
    for (const char* name : {"lb_start_time", "lb_end_time"})
        if (auto* label = findChild<QLabel*>(name)) label->setText(label->text() + " (µs)");
    // A long folder shows its end, the folder the file goes into; the tip holds all of it.
    if (QLineEdit* path = field("le_save_file_path"))
        connect(path, &QLineEdit::textChanged, path, [path](const QString& text) {
            path->setToolTip(text);
            path->setCursorPosition(int(text.size()));
        });
}

void KvRangeFileDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Laid out at its real width now: scroll the path to its end again.
    if (QLineEdit* path = field("le_save_file_path")) {
        path->setCursorPosition(0);
        path->setCursorPosition(int(path->text().size()));
    }
}

QLineEdit* KvRangeFileDialog::field(const char* name) const {
    return findChild<QLineEdit*>(name);
}

void KvRangeFileDialog::setStartTime(uint64_t start_us) {
    field("le_start_time")->setText(QString::number(start_us));
}

void KvRangeFileDialog::setEndTime(uint64_t end_us) {
    field("le_end_time")->setText(QString::number(end_us));
}

void KvRangeFileDialog::setSavePath(const QString& directory) {
    field("le_save_file_path")->setText(directory);
}

void KvRangeFileDialog::setFileName(const QString& name) {
    field("le_file_name")->setText(name);
}

uint64_t KvRangeFileDialog::startTime() const {
    bool ok = false;
    const qulonglong v = field("le_start_time")->text().toULongLong(&ok);
    return ok ? v : 0;
}

uint64_t KvRangeFileDialog::endTime() const {
    bool ok = false;
    const qulonglong v = field("le_end_time")->text().toULongLong(&ok);
    return ok ? v : 0;
}

QString KvRangeFileDialog::savePath() const {
    return field("le_save_file_path")->text();
}

QString KvRangeFileDialog::fileName() const {
    return field("le_file_name")->text();
}

QString KvRangeFileDialog::fullPath() const {
    return savePath() + "/" + fileName();
}

void KvRangeFileDialog::on_pb_save_clicked() {
    accept();
}

void KvRangeFileDialog::on_pb_cancel_clicked() {
    reject();
}

void KvRangeFileDialog::on_pb_win_close_clicked() {
    reject();
}

void KvRangeFileDialog::on_pb_select_dir_clicked() {
    // The caption belongs to the concrete dialog's translation context.
    const QString caption =
        QCoreApplication::translate(metaObject()->className(), "Select Directory");
    const QString chosen =
        chooseDirectory_ ? chooseDirectory_(this, caption, savePath()) : QString();
    if (!chosen.isEmpty()) setSavePath(chosen);
}
