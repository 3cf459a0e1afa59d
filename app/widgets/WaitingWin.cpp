#include "WaitingWin.h"

#include <QDebug>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMovie>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "WindowTranslucency.h"

WaitingWin::WaitingWin(QWidget* anchor)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      anchor_(anchor) {
    setObjectName("WaitingWin");
    if (translucentWindowsAvailable()) {
        setAttribute(Qt::WA_TranslucentBackground);
    } else {
        // Without a compositor a translucent window shows black: draw a plain panel.
        setAttribute(Qt::WA_StyledBackground);
        setStyleSheet("#WaitingWin { background-color: #FFFFFF; border: 1px solid #ACACAC; }");
    }
    setAttribute(Qt::WA_QuitOnClose, false);
    setFixedSize(321, 276);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 24);
    label_ = new QLabel(this);
    label_->setAlignment(Qt::AlignCenter);
    layout->addWidget(label_, 1);
    progress_ = new QLabel(this);
    progress_->setObjectName("label_progress");
    progress_->setAlignment(Qt::AlignCenter);
    progress_->setStyleSheet(
        "#label_progress { color: #004B6A; background-color: #FFFFFF; border-radius: 4px; "
        "padding: 4px 10px; font-size: 13px; }");
    progress_->hide();
    layout->addWidget(progress_, 0, Qt::AlignHCenter);
    movie_ = new QMovie(":/img/icon/waiting.gif", QByteArray(), this);
    movie_->setScaledSize(QSize(120, 120));
    label_->setMovie(movie_);

    cancel_ = new QPushButton(this);
    cancel_->setObjectName("pb_cancel_job");
    cancel_->setIcon(QIcon(":/img/assets/btn_close_white.svg"));
    cancel_->setIconSize(QSize(14, 14));
    cancel_->setFixedSize(30, 30);
    cancel_->setCursor(Qt::PointingHandCursor);
    cancel_->setStyleSheet(
        "#pb_cancel_job { background-color: #004B6A; border: none; border-radius: 15px; }");
    cancel_->move(width() - cancel_->width() - 8, 8);
    cancel_->hide();
    connect(cancel_, &QPushButton::clicked, this, &WaitingWin::signalCancelRequested);
}

bool WaitingWin::animationRunning() const {
    return movie_->state() == QMovie::Running;
}

QString WaitingWin::progressText() const {
    return progress_->isHidden() ? QString() : progress_->text();
}

void WaitingWin::setProgress(int percent) {
    percent_ = percent < 0 ? -1 : std::min(percent, 100);
    indexing_ = true;
    showPercent();
}

void WaitingWin::setJobProgress(int percent) {
    percent_ = percent < 0 ? -1 : std::min(percent, 100);
    indexing_ = false;
    showPercent();
}

void WaitingWin::showPercent() {
    if (percent_ < 0) {
        progress_->clear();
        progress_->hide();
        return;
    }
    progress_->setText(indexing_ ? tr("Indexing the recording: %1%").arg(percent_)
                                 : QString::number(percent_) + "%");
    progress_->show();
}

void WaitingWin::setCancellable(bool cancellable) {
    cancellable_ = cancellable;
    cancel_->setVisible(cancellable);
    setFocusPolicy(cancellable ? Qt::StrongFocus : Qt::NoFocus);
}

void WaitingWin::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && cancellable_) {
        emit signalCancelRequested();
        return;
    }
    QWidget::keyPressEvent(event);
}

void WaitingWin::centerOnAnchor() {
    if (!anchor_) return;
    const QPoint corner = anchor_->mapToGlobal(QPoint(0, 0));
    move(corner.x() + (anchor_->width() - width()) / 2,
         corner.y() + (anchor_->height() - height()) / 2);
}

void WaitingWin::recenter() {
    if (isVisible()) centerOnAnchor();
}

void WaitingWin::showEvent(QShowEvent* event) {
    centerOnAnchor();
    if (!movie_->isValid()) {
        qDebug() << "GIF is not valid or not found";
    } else {
        movie_->start();
    }
    QWidget::showEvent(event);
    if (cancellable_) activateWindow();  // so that Esc reaches it
}

void WaitingWin::closeEvent(QCloseEvent* event) {
    movie_->stop();
    QWidget::closeEvent(event);
}

void WaitingWin::hideEvent(QHideEvent* event) {
    movie_->stop();  // no animation runs behind a hidden window
    setProgress(-1);
    setCancellable(false);
    QWidget::hideEvent(event);
}

void WaitingWin::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) showPercent();
    QWidget::changeEvent(event);
}
