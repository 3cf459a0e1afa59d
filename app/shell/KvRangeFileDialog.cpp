#include "KvRangeFileDialog.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
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
    // Why a confirm was refused, under the fields; hidden until then.
    problem_ = new QLabel(this);
    problem_->setObjectName("lb_range_problem");
    problem_->setWordWrap(true);
    problem_->setStyleSheet("#lb_range_problem { color: #FF6058; font-size: 12px; }");
    problem_->hide();
    if (auto* fields = findChild<QLayout*>("layout_fields")) fields->addWidget(problem_);
    // A long folder shows its last whole folders ("…/exports/clips"), the
    // whole of it while the field is edited and in the tip.
    if (QLineEdit* path = field("le_save_file_path")) {
        path->installEventFilter(this);
        connect(path, &QLineEdit::textChanged, this, [this, path](const QString& text) {
            if (fitting_) return;
            path_ = text;
            path->setToolTip(text);
        });
    }
}

QString KvRangeFileDialog::fitPath(const QString& path, const QFontMetrics& metrics, int room) {
    if (metrics.horizontalAdvance(path) <= room) return path;
    const QString ellipsis = QString::fromUtf8("…");
    // Whole folders are dropped from the front, never a part of one.
    for (int at = path.indexOf('/', 1); at > 0; at = path.indexOf('/', at + 1)) {
        const QString tail = ellipsis + path.mid(at);
        if (metrics.horizontalAdvance(tail) <= room) return tail;
    }
    // The last folder alone is too long: keep its two ends.
    return metrics.elidedText(path, Qt::ElideMiddle, room);
}

void KvRangeFileDialog::showPathFitted() {
    QLineEdit* edit = field("le_save_file_path");
    if (!edit) return;
    // The field's own text margins and frame.
    const int room =
        edit->contentsRect().width() - edit->textMargins().left() - edit->textMargins().right() - 8;
    const QString shown = edit->hasFocus() ? path_ : fitPath(path_, edit->fontMetrics(), room);
    if (edit->text() == shown) return;
    fitting_ = true;
    edit->setText(shown);
    edit->setCursorPosition(edit->hasFocus() ? int(shown.size()) : 0);
    fitting_ = false;
}

bool KvRangeFileDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field("le_save_file_path")) {
        switch (event->type()) {
            case QEvent::FocusIn:
            case QEvent::FocusOut:
            case QEvent::Resize:
            case QEvent::Show:
                showPathFitted();
                break;
            default:
                break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void KvRangeFileDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Laid out at its real width now.
    showPathFitted();
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
    field("le_save_file_path")->setText(directory);  // becomes path_
    showPathFitted();
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
    return path_;
}

QString KvRangeFileDialog::fileName() const {
    return field("le_file_name")->text();
}

QString KvRangeFileDialog::fullPath() const {
    return savePath() + "/" + fileName();
}

void KvRangeFileDialog::setAllowedRange(uint64_t first_us, uint64_t last_us) {
    hasRange_ = true;
    first_us_ = first_us;
    last_us_ = last_us;
}

bool KvRangeFileDialog::readTime(const QLineEdit* edit, uint64_t& value) {
    bool ok = false;
    value = edit->text().trimmed().toULongLong(&ok);
    return ok;
}

QString KvRangeFileDialog::problem() const {
    // Translated in the concrete dialog's context, like its other texts.
    auto tr = [this](const char* text) {
        return QCoreApplication::translate("KvRangeFileDialog", text);
    };
    uint64_t start = 0, end = 0;
    if (!readTime(field("le_start_time"), start) || !readTime(field("le_end_time"), end))
        return tr("The start and the end must be whole numbers of microseconds.");
    if (start >= end) return tr("The start must lie before the end.");
    if (hasRange_ && (start < first_us_ || end > last_us_))
        return tr("The range must lie within the recording, %1 to %2 µs.")
            .arg(first_us_)
            .arg(last_us_);
    const QString name = fileName().trimmed();
    if (name.isEmpty()) return tr("Please name the file.");
    // The file goes into the chosen folder, never next to or above it.
    // A separator or a bare "." / ".." would name another folder; dots
    // inside a name ("run..2.mp4") are fine.
    if (name.contains('/') || name.contains('\\') || name == "." || name == "..")
        return tr(
            "The file name cannot contain /, \\ or ..: choose the folder under Save File "
            "Path.");
    return {};
}

QString KvRangeFileDialog::shownProblem() const {
    return problem_ && !problem_->isHidden() ? problem_->text() : QString();
}

void KvRangeFileDialog::on_pb_save_clicked() {
    const QString why = problem();
    if (why.isEmpty()) {
        accept();
        return;
    }
    // Stays open with the user's values, and grows to show the reason.
    problem_->setText(why);
    problem_->show();
    setMaximumHeight(QWIDGETSIZE_MAX);
    adjustSize();
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
