#include "KvToolTip.h"
#include "WindowTranslucency.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QScreen>
#include <algorithm>
#include <cstdlib>

KvToolTip::KvToolTip(const QString& text, int mode, QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint), mode_(mode) {
    // Black corners without a compositor: stay opaque there.
    setAttribute(Qt::WA_TranslucentBackground, translucentWindowsAvailable());
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    label_ = new QLabel(text, this);
    label_->setAlignment(Qt::AlignCenter);
    label_->setMinimumSize(100, 20);
    label_->setStyleSheet(
        "QLabel { font-size: 10px; color: #646464; border: 1px solid #A7A7A7; padding-left: 10px; "
        "padding-right: 10px; border-radius: 5px; background-color: #FFFFFF; }");
    layout->addWidget(label_);
    fitText();
    hide();
    showTimer_.setSingleShot(true);
    hideTimer_.setSingleShot(true);
    connect(&showTimer_, &QTimer::timeout, this, &KvToolTip::onShowTimer);
    connect(&hideTimer_, &QTimer::timeout, this, &KvToolTip::onHideTimer);
}

void KvToolTip::installOn(QWidget* anchor) {
    if (anchor == anchor_) return;
    if (anchor_) anchor_->removeEventFilter(this);
    anchor_ = anchor;
    if (anchor_) {
        anchor_->installEventFilter(this);
        anchor_->setMouseTracking(true);
    }
}

void KvToolTip::setText(const QString& text) {
    if (text == label_->text()) return;
    label_->setText(text);
    fitText();
    emit textChanged(text);
}

void KvToolTip::setAlignment(Qt::Alignment alignment) {
    if (alignment == label_->alignment()) return;
    label_->setAlignment(alignment);
    emit alignmentChanged(alignment);
}

void KvToolTip::setXOffset(int offset) {
    if (offset == xOffset_) return;
    xOffset_ = offset;
    emit xOffsetChanged(offset);
}

void KvToolTip::setYOffset(int offset) {
    if (offset == yOffset_) return;
    yOffset_ = offset;
    emit yOffsetChanged(offset);
}

bool KvToolTip::eventFilter(QObject* watched, QEvent* event) {
    if (watched == anchor_) {
        if (event->type() == QEvent::Enter) {
            onEnter();
        } else if (event->type() == QEvent::Leave) {
            showTimer_.stop();
            hideTimer_.stop();
            hideTimer_.start(kLeaveHideMs);
        }
    }
    return false;  // the anchor keeps its events
}

void KvToolTip::fitText() {
    // One line while it fits; longer texts wrap rather than widen the tip
    // past the screen.
    const int padding = 22;
    const bool wrap =
        label_->fontMetrics().horizontalAdvance(label_->text()) + padding > kMaxTextWidth;
    label_->setWordWrap(wrap);
    if (wrap) {
        label_->setFixedWidth(kMaxTextWidth);
    } else {
        label_->setMinimumWidth(100);
        label_->setMaximumWidth(QWIDGETSIZE_MAX);
    }
    label_->adjustSize();
    adjustSize();
}

bool KvToolTip::place() {
    if (!anchor_) return false;
    const QPoint corner = anchor_->mapToGlobal(QPoint(0, 0));
    int x;
    if (mode_ == 0) {
        x = corner.x() - std::abs(width() - anchor_->width()) / 2;
    } else if (mode_ == 2) {
        x = corner.x() - width();
    } else {
        return false;
    }
    int y = corner.y() - height();
    // Kept on the anchor's screen: beside a window at the screen's edge the
    // tip would otherwise be cut off. No room above: below the anchor.
    if (QScreen* screen = anchor_->screen()) {
        const QRect area = screen->availableGeometry();
        x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - width()));
        if (y < area.top()) y = corner.y() + anchor_->height();
        y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() + 1 - height()));
    }
    move(x, y);
    return true;
}

void KvToolTip::onEnter() {
    if (!place()) return;
    if (!showTimer_.isActive()) showTimer_.start(kShowDelayMs);
}

void KvToolTip::showNow() {
    if (!place()) return;
    showTimer_.stop();
    hideTimer_.stop();
    show();
    raise();
    hideTimer_.start(kShownMs);
}

void KvToolTip::onShowTimer() {
    showTimer_.stop();
    if (isHidden()) {
        show();
        if (!hideTimer_.isActive()) hideTimer_.start(kShownMs);
    }
}

void KvToolTip::onHideTimer() {
    showTimer_.stop();
    hideTimer_.stop();
    if (isVisible()) hide();
}
