#include "KvSlider.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

KvSlider::KvSlider(QWidget* parent) : QSlider(parent) {}

KvSlider::KvSlider(Qt::Orientation orientation, QWidget* parent) : QSlider(orientation, parent) {}

void KvSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QSlider::mousePressEvent(event);
        return;
    }
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const bool horizontal = orientation() == Qt::Horizontal;
    const double h = horizontal ? handle.width() : handle.height();
    const double length = horizontal ? width() : height();
    const double p = horizontal ? event->position().x() : event->position().y();
    const bool onHandle = handle.contains(event->position().toPoint());
    // A track no longer than the handle has no positions to map to.
    const double usable = length - h;
    const int v = usable > 0
                      ? int(minimum() + double(maximum() - minimum()) * (p - h * 0.5) / usable)
                      : value();
    setValue(v);
    emit trackClicked(value());
    if (onHandle) {
        QSlider::mousePressEvent(event);
    } else {
        event->accept();
    }
}
