#include "KvGraphicsView.h"

#include <QWheelEvent>

KvGraphicsView::KvGraphicsView(QWidget* parent) : QGraphicsView(parent) {
    setDragMode(QGraphicsView::ScrollHandDrag);
    setResizeAnchor(QGraphicsView::NoAnchor);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setContentsMargins(0, 0, 0, 0);
    setStyleSheet("border: 0px;");
}

void KvGraphicsView::mouseDoubleClickEvent(QMouseEvent* event) {
    currentScale_ = 1.0;
    if (scene()) fitInView(sceneRect(), Qt::KeepAspectRatio);
    QGraphicsView::mouseDoubleClickEvent(event);
}

void KvGraphicsView::wheelEvent(QWheelEvent* event) {
    constexpr double kStep = 1.1;
    if (event->angleDelta().y() > 0) {
        if (currentScale_ < maximumScale_) {
            scale(kStep, kStep);
            currentScale_ *= kStep;
        }
    } else if (currentScale_ > minimumScale_) {
        scale(1.0 / kStep, 1.0 / kStep);
        currentScale_ /= kStep;
    }
    event->accept();  // the wheel zooms; it never scrolls
}

void KvGraphicsView::resizeEvent(QResizeEvent* event) {
    currentScale_ = 1.0;
    QGraphicsView::resizeEvent(event);
}
