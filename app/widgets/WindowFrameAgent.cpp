#include "WindowFrameAgent.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

WindowFrameAgent::WindowFrameAgent(QWidget* window) : QObject(window) {}

bool WindowFrameAgent::setup(QWidget* window) {
    if (!window || window_) return false;
    window_ = window;
    window->setWindowFlag(Qt::FramelessWindowHint, true);
    window->setAttribute(Qt::WA_Hover, true);
    // Edges are hovered through whatever child lies under them, so watch the
    // whole application and keep only this window's events.
    qApp->installEventFilter(this);
    return true;
}

void WindowFrameAgent::setTitleBar(QWidget* titleBar) {
    titleBar_ = titleBar;
}

void WindowFrameAgent::setSystemButton(SystemButton type, QAbstractButton* button) {
    buttons_[type] = button;
}

QAbstractButton* WindowFrameAgent::systemButton(SystemButton type) const {
    return buttons_[type];
}

Qt::Edges WindowFrameAgent::edgesAt(const QPoint& pos) const {
    Qt::Edges edges;
    if (!window_ || window_->isMaximized() || window_->isFullScreen()) return edges;
    const QRect r = window_->rect();
    if (pos.x() < r.left() + kResizeBorder) edges |= Qt::LeftEdge;
    if (pos.x() > r.right() - kResizeBorder) edges |= Qt::RightEdge;
    if (pos.y() < r.top() + kResizeBorder) edges |= Qt::TopEdge;
    if (pos.y() > r.bottom() - kResizeBorder) edges |= Qt::BottomEdge;
    return edges;
}

bool WindowFrameAgent::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !window_ || widget->window() != window_) return false;
    switch (event->type()) {
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::HoverMove:
            break;
        case QEvent::MouseButtonRelease:
            manualMove_ = false;
            return false;
        default:
            return false;
    }
    if (manualMove_ && event->type() == QEvent::MouseMove) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!(mouse->buttons() & Qt::LeftButton)) {
            manualMove_ = false;
        } else {
            window_->move(mouse->globalPosition().toPoint() - moveOffset_);
            return true;
        }
    }
    if (handleEdges(widget, event)) return true;
    if (titleBar_ && (widget == titleBar_ || titleBar_->isAncestorOf(widget))) {
        // Buttons inside the bar stay ordinary buttons.
        if (qobject_cast<QAbstractButton*>(widget)) return false;
        return handleTitleBar(event);
    }
    return false;
}

bool WindowFrameAgent::handleEdges(QWidget* target, QEvent* event) {
    QPoint global;
    if (event->type() == QEvent::HoverMove) {
        global = target->mapToGlobal(static_cast<QHoverEvent*>(event)->position().toPoint());
    } else {
        global = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
    }
    const Qt::Edges edges = edgesAt(window_->mapFromGlobal(global));
    if (event->type() == QEvent::MouseButtonPress && edges &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (QWindow* handle = window_->windowHandle()) handle->startSystemResize(edges);
        return true;
    }
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::HoverMove) {
        Qt::CursorShape shape = Qt::ArrowCursor;
        if ((edges & Qt::LeftEdge && edges & Qt::TopEdge) ||
            (edges & Qt::RightEdge && edges & Qt::BottomEdge)) {
            shape = Qt::SizeFDiagCursor;
        } else if ((edges & Qt::RightEdge && edges & Qt::TopEdge) ||
                   (edges & Qt::LeftEdge && edges & Qt::BottomEdge)) {
            shape = Qt::SizeBDiagCursor;
        } else if (edges & (Qt::LeftEdge | Qt::RightEdge)) {
            shape = Qt::SizeHorCursor;
        } else if (edges & (Qt::TopEdge | Qt::BottomEdge)) {
            shape = Qt::SizeVerCursor;
        }
        if (edges) {
            window_->setCursor(shape);
            cursorOverridden_ = true;
        } else if (cursorOverridden_) {
            window_->unsetCursor();
            cursorOverridden_ = false;
        }
    }
    return false;
}

bool WindowFrameAgent::handleTitleBar(QEvent* event) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (event->type() == QEvent::MouseButtonDblClick && mouse->button() == Qt::LeftButton) {
        window_->isMaximized() ? window_->showNormal() : window_->showMaximized();
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        QWindow* handle = window_->windowHandle();
        if (!(handle && handle->startSystemMove()) && !window_->isMaximized() &&
            !window_->isFullScreen()) {
            manualMove_ = true;
            moveOffset_ = mouse->globalPosition().toPoint() - window_->pos();
        }
        return false;  // the bar may still want to see the press
    }
    return false;
}
