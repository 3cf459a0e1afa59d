#include "WaitingWin.h"

#include <QDebug>
#include <QLabel>
#include <QMovie>
#include <QVBoxLayout>

WaitingWin::WaitingWin(QWidget* anchor)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      anchor_(anchor) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_QuitOnClose, false);
    setFixedSize(321, 276);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    label_ = new QLabel(this);
    label_->setAlignment(Qt::AlignCenter);
    layout->addWidget(label_);
    movie_ = new QMovie(":/img/icon/waiting.gif", QByteArray(), this);
    movie_->setScaledSize(QSize(120, 120));
    label_->setMovie(movie_);
}

bool WaitingWin::animationRunning() const {
    return movie_->state() == QMovie::Running;
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
}

void WaitingWin::closeEvent(QCloseEvent* event) {
    movie_->stop();
    QWidget::closeEvent(event);
}

void WaitingWin::hideEvent(QHideEvent* event) {
    movie_->stop();  // no animation runs behind a hidden window
    QWidget::hideEvent(event);
}
