#include "KvFilePathReminderForm.h"

#include <QApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLayout>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>

#include "WindowTranslucency.h"
#include "ui_KvFilePathReminderForm.h"

namespace {
struct Look {
    const char* title;
    const char* icon;
    const char* background;
    const char* accent;
};

Look lookOf(KvMessageType type) {
    switch (type) {
        case KvMessageType::Warning:
            return {QT_TRANSLATE_NOOP("KvFilePathReminderForm", "Warning"),
                    ":/img/assets/icon_toasts_warning.svg", "#FEFBF4", "#F9BF37"};
        case KvMessageType::Error:
            return {QT_TRANSLATE_NOOP("KvFilePathReminderForm", "Error"),
                    ":/img/assets/icon_toasts_error.svg", "#FFF6F6", "#FF6058"};
        default:  // any other value looks like success
            return {QT_TRANSLATE_NOOP("KvFilePathReminderForm", "Success"),
                    ":/img/assets/icon_toasts_success.svg", "#F5FCF6", "#58DB6D"};
    }
}
}  // namespace

KvFilePathReminderForm::KvFilePathReminderForm(const QString& tips, KvMessageType type,
                                               const QString& directory, QWidget* parent)
    : QWidget(parent), ui(new Ui::KvFilePathReminderForm), directory_(directory) {
    ui->setupUi(this);
    // Never takes focus: a notice that activated itself would close the menu
    // the user has open (trigger recording posts one every edge). A tool-tip
    // window is the kind that may appear over an open menu.
    setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    // Black corners without a compositor: stay opaque there.
    setAttribute(Qt::WA_TranslucentBackground, translucentWindowsAvailable());
    setAttribute(Qt::WA_QuitOnClose, false);  // a lingering toast must not keep the program alive
    ui->lb_tips->setText(tips);
    ui->pb_open_dir->setVisible(!directory_.isEmpty());
    applyLook(type);
    fitText();
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &KvFilePathReminderForm::onTimeupDestroy);
    timer_->start(kLifetimeMs);
}

KvFilePathReminderForm::~KvFilePathReminderForm() {
    delete ui;
}

bool KvFilePathReminderForm::hasOpenDirButton() const {
    return !ui->pb_open_dir->isHidden();
}

void KvFilePathReminderForm::fitText() {
    // The sheet's font size counts: measure with it.
    ensurePolished();
    const QFontMetrics metrics(ui->lb_tips->font());
    int longestWord = 0;
    for (const QString& word :
         ui->lb_tips->text().split(QRegularExpression("\\s+"), Qt::SkipEmptyParts))
        longestWord = std::max(longestWord, metrics.horizontalAdvance(word));
    // Wider only for a word (a path) that no line would hold; taller for
    // as many lines as the text takes.
    const int width = std::clamp(longestWord + kChrome, kWidth, kMaxWidth);
    setFixedWidth(width);
    const int height = layout() ? layout()->totalHeightForWidth(width) : kHeight;
    setFixedHeight(std::max(kHeight, height));
}

void KvFilePathReminderForm::applyLook(KvMessageType type) {
    const Look look = lookOf(type);
    ui->lb_title->setText(tr(look.title));
    ui->lb_icon->setPixmap(QIcon(look.icon).pixmap(16, 16));
    ui->frame_toast->setStyleSheet(
        QString("#frame_toast { background-color: %1; border: 1px solid %2; border-radius: 3px; }"
                "#lb_title { color: %2; font-size: 13px; }"
                "#lb_tips { color: #555555; font-size: 12px; }"
                "#pb_open_dir { color: #004B6A; border: none; background: transparent; "
                "font-size: 12px; text-decoration: underline; }"
                "#pb_close { border: none; background: transparent; }")
            .arg(look.background, look.accent));
}

QString KvFilePathReminderForm::resolveDirectory(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir()) return info.absoluteFilePath();
    if (info.isFile()) return info.absolutePath();
    const QDir asDir(path);
    if (!path.isEmpty() && asDir.exists()) return asDir.absolutePath();
    if (!path.isEmpty() && QDir(info.absolutePath()).exists()) return info.absolutePath();
    qDebug() << "Path does not exist:" << path;
    return {};
}

void KvFilePathReminderForm::showOver(QWidget* area) {
    // Stacked upwards from the corner: a second notice must not hide the
    // first one's close button or "Open Dir".
    const QPoint corner = area->mapToGlobal(QPoint(0, area->height()));
    const QRect areaRect(area->mapToGlobal(QPoint(0, 0)), area->size());
    int bottom = corner.y() - kMargin;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* other = qobject_cast<KvFilePathReminderForm*>(top);
        if (other && other != this && other->isVisible() && areaRect.intersects(other->geometry()))
            bottom = std::min(bottom, other->y() - kMargin);
    }
    move(corner.x() + kMargin, bottom - height());
    show();
}

void KvFilePathReminderForm::onTimeupDestroy() {
    deleteLater();
}

void KvFilePathReminderForm::on_pb_open_dir_clicked() {
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(directory_))) {
        qDebug() << "Failed to open directory.";
    }
}

void KvFilePathReminderForm::on_pb_close_clicked() {
    close();
}
