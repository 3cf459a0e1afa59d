#include "KvThreeHandleSlider.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

KvThreeHandleSlider::KvThreeHandleSlider(QWidget* parent, Qt::Orientation orientation,
                                         HandleMode mode)
    : QWidget(parent), orientation_(orientation), mode_(mode) {
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setMinimumHeight(30);
    setFocusPolicy(Qt::NoFocus);
    rangeRadius_ = mode_ == ThreeHandles ? 0 : 5;
    // The enabled palette first, whatever the initial state.
    rangeColor_ = lowerColor_ = upperColor_ = QColor("#004B6A");
    playFill_ = QColor("#FFFFFF");
    playOutline_ = QColor("#004B6A");
}

QSize KvThreeHandleSlider::minimumSizeHint() const {
    return {kSideWidth * 2, kSideWidth};
}

int KvThreeHandleSlider::trackLength() const {
    return orientation_ == Qt::Horizontal ? width() : height();
}

int KvThreeHandleSlider::crossLength() const {
    return orientation_ == Qt::Horizontal ? height() : width();
}

float KvThreeHandleSlider::fraction(uint64_t v) const {
    // An empty range puts everything at its start rather than dividing by zero.
    if (span_ == 0) return 0.0f;
    return float((double(v) - double(minimum_)) / double(span_));
}

uint64_t KvThreeHandleSlider::valueAt(double p) const {
    const int usable = trackLength() - 2 * kSideWidth;
    if (usable <= 0) return minimum_;  // too narrow to map a position: stay finite
    const double v = double(minimum_) + p / double(usable) * double(span_);
    if (!(v > 0.0)) return 0;
    if (v >= 18446744073709551615.0) return UINT64_MAX;
    return uint64_t(v);
}

int KvThreeHandleSlider::lowerLeft() const {
    const float w = float(trackLength());
    return mode_ == ThreeHandles ? int((w - 32.0f) * fraction(lower_))
                                 : int((w - 12.0f) * fraction(lower_));
}

int KvThreeHandleSlider::centerLeft() const {
    const float w = float(trackLength());
    return mode_ == ThreeHandles ? int((w - 32.0f) * fraction(center_) + 6.0f)
                                 : int((w - 26.0f) * fraction(center_) + 3.0f);
}

int KvThreeHandleSlider::upperLeft() const {
    const float w = float(trackLength());
    return mode_ == ThreeHandles ? int((w - 32.0f) * fraction(upper_) + 26.0f)
                                 : int((w - 12.0f) * fraction(upper_) + 6.0f);
}

QRect KvThreeHandleSlider::handleRect(int left, int w, int h) const {
    const int cross = (crossLength() - h) / 2;
    return orientation_ == Qt::Horizontal ? QRect(left, cross, w, h) : QRect(cross, left, w, h);
}

QRect KvThreeHandleSlider::lowerHandleRect() const {
    return handleRect(lowerLeft(), kSideWidth, kSideHeight);
}
QRect KvThreeHandleSlider::upperHandleRect() const {
    return handleRect(upperLeft(), kSideWidth, kSideHeight);
}
QRect KvThreeHandleSlider::centerHandleRect() const {
    return handleRect(centerLeft(), kPlaySize, kPlaySize);
}

uint64_t KvThreeHandleSlider::clampLower(uint64_t v) const {
    return mode_ == ThreeHandles ? std::max(std::min(v, center_), minimum_)
                                 : std::max(std::min(v, maximum_), minimum_);
}

uint64_t KvThreeHandleSlider::clampUpper(uint64_t v) const {
    return mode_ == ThreeHandles ? std::min(std::max(v, center_), maximum_)
                                 : std::min(std::max(v, minimum_), maximum_);
}

void KvThreeHandleSlider::setLowerValue(uint64_t aLowerValue) {
    lower_ = clampLower(aLowerValue);
    update();
}

void KvThreeHandleSlider::setUpperValue(uint64_t aUpperValue) {
    upper_ = clampUpper(aUpperValue);
    update();
}

void KvThreeHandleSlider::setCenterValue(uint64_t center_value) {
    center_ = clampCenter(center_value);
    update();
}

void KvThreeHandleSlider::setMinimum(uint64_t aMinimum) {
    minimum_ = aMinimum;
    span_ = maximum_ >= minimum_ ? maximum_ - minimum_ : 0;
    update();
    setLowerValue(minimum_);
    emit rangeChanged(minimum_, maximum_);
}

void KvThreeHandleSlider::setMaximum(uint64_t aMaximum) {
    maximum_ = aMaximum;
    span_ = maximum_ >= minimum_ ? maximum_ - minimum_ : 0;
    update();
    setUpperValue(maximum_);
    emit rangeChanged(minimum_, maximum_);
}

void KvThreeHandleSlider::setHandleMode(HandleMode mode) {
    mode_ = mode;
    rangeRadius_ = mode_ == ThreeHandles ? 0 : 5;
    upper_ = maximum_;
    lower_ = minimum_;
    emit lowerValueChanged(lower_);
    emit upperValueChanged(upper_);
}

void KvThreeHandleSlider::applyColors() {
    const bool on = isEnabled();
    rangeColor_ = lowerColor_ = upperColor_ = QColor(on ? "#004B6A" : "#C7C7C7");
    playFill_ = QColor(on ? "#FFFFFF" : "#C7C7C7");
    playOutline_ = QColor(on ? "#004B6A" : "#707070");
}

void KvThreeHandleSlider::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        applyColors();
        update();
    }
    QWidget::changeEvent(event);
}

void KvThreeHandleSlider::mousePressEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return;
    const int x =
        orientation_ == Qt::Horizontal ? int(event->position().x()) : int(event->position().y());
    const QRect play = centerHandleRect(), start = lowerHandleRect(), end = upperHandleRect();
    const QPoint at = event->position().toPoint();
    if (play.contains(at)) {
        centerPressed_ = true;
        grabOffset_ = x - kPlayExtent / 2 - centerLeft();
    } else if (start.contains(at)) {
        lowerPressed_ = true;
        grabOffset_ = x - kSideWidth / 2 - lowerLeft();
    } else if (end.contains(at)) {
        upperPressed_ = true;
        grabOffset_ = x - kSideWidth / 2 - upperLeft();
    } else {
        center_ = clampCenter(valueAt(double(x - kPlayExtent / 2)));
        update();
        emit centerValueTrackClick(center_);
    }
}

void KvThreeHandleSlider::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return;
    const int x =
        orientation_ == Qt::Horizontal ? int(event->position().x()) : int(event->position().y());
    const int d = grabOffset_;
    if (lowerPressed_ && (int(mode_) & kRangeHandlesBit)) {
        if (x < 0) return;
        const uint64_t candidate =
            x - d + kSideWidth / 2 > centerLeft() ? center_ : valueAt(double(x - d - 3));
        setLowerValue(candidate);
        emit lowerValueChanged(lower_);
    } else if (upperPressed_ && mode_ == ThreeHandles) {
        const uint64_t candidate =
            x - d < centerLeft() + kPlayExtent ? center_ : valueAt(double(x - d - 9));
        setUpperValue(candidate);
        emit upperValueChanged(upper_);
    } else if (centerPressed_ && mode_ == ThreeHandles) {
        if (x >= lowerLeft() + kSideWidth && x <= upperLeft()) {
            center_ = clampCenter(valueAt(double(x - d - kPlayExtent / 2)));
            update();
            emit centerValueMove(center_);
        } else {
            center_ = clampCenter(center_);
            update();
        }
    } else if (centerPressed_ && mode_ == SingleHandle) {
        if (x < 0 || x > trackLength()) return;
        center_ = clampCenter(valueAt(double(x - d - kPlayExtent / 2)));
        update();
        emit centerValueMove(center_);
    }
}

void KvThreeHandleSlider::mouseReleaseEvent(QMouseEvent*) {
    lowerPressed_ = upperPressed_ = centerPressed_ = false;
}

void KvThreeHandleSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const int W = trackLength(), H = crossLength();
    const QRectF groove = orientation_ == Qt::Horizontal ? QRectF(0, (H - kGroove) / 2, W, kGroove)
                                                         : QRectF((H - kGroove) / 2, 0, kGroove, W);
    painter.setPen(Qt::NoPen);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(grooveColor_);
    painter.drawRoundedRect(groove, kGrooveRadius, kGrooveRadius);

    QRectF range = groove;
    if (mode_ == ThreeHandles) {
        const QRect start = lowerHandleRect(), end = upperHandleRect();
        painter.setBrush(lowerColor_);
        painter.drawRoundedRect(start, kSideRadius, kSideRadius);
        painter.setBrush(upperColor_);
        painter.drawRoundedRect(end, kSideRadius, kSideRadius);
        if (orientation_ == Qt::Horizontal) {
            range.setLeft(start.left() + start.width());
            range.setRight(end.left() - 0.5);
        } else {
            range.setTop(start.top() + start.height() + 0.5);
            range.setBottom(end.top() - 0.5);
        }
    }
    painter.setBrush(rangeColor_);
    painter.drawRoundedRect(range, rangeRadius_, rangeRadius_);

    QPen outline(playOutline_, kPlayOutline, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    painter.setPen(outline);
    painter.setBrush(playFill_);
    painter.drawRoundedRect(centerHandleRect(), kPlayRadius, kPlayRadius);
}
