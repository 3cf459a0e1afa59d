#pragma once

// The recording timeline: a value range with a start (lower), an end (upper)
// and a play position (center), shown as a groove with one or three
// handles. Values are 64-bit (microsecond timestamps). Every setter and drag
// step clamps; nothing is rejected. GUI thread only.

#include <QColor>
#include <QRect>
#include <QWidget>
#include <cstdint>

class KvThreeHandleSlider : public QWidget {
    Q_OBJECT
public:
    // Bit 0: the play handle; bit 1: the start and end handles.
    enum HandleMode { SingleHandle = 0x1, ThreeHandles = 0x3 };
    static constexpr int kRangeHandlesBit = 0x2;

    explicit KvThreeHandleSlider(QWidget* parent = nullptr,
                                 Qt::Orientation orientation = Qt::Horizontal,
                                 HandleMode mode = ThreeHandles);

    uint64_t minimum() const { return minimum_; }
    uint64_t maximum() const { return maximum_; }
    uint64_t lowerValue() const { return lower_; }
    uint64_t upperValue() const { return upper_; }
    uint64_t centerValue() const { return center_; }
    HandleMode handleMode() const { return mode_; }
    void setHandleMode(HandleMode mode);

    QSize minimumSizeHint() const override;

    // Handle rectangles as laid out now (also used for hit testing).
    QRect lowerHandleRect() const;
    QRect upperHandleRect() const;
    QRect centerHandleRect() const;

    // Colours in use (they follow the enabled state).
    QColor rangeColor() const { return rangeColor_; }
    QColor playFillColor() const { return playFill_; }
    QColor playOutlineColor() const { return playOutline_; }

public slots:
    void setLowerValue(uint64_t aLowerValue);
    void setUpperValue(uint64_t aUpperValue);
    void setCenterValue(uint64_t center_value);
    void setMinimum(uint64_t aMinimum);
    void setMaximum(uint64_t aMaximum);

signals:
    void lowerValueChanged(uint64_t aLowerValue);
    void upperValueChanged(uint64_t aUpperValue);
    void rangeChanged(uint64_t aMin, uint64_t aMax);
    void centerValueTrackClick(uint64_t value);
    void centerValueMove(uint64_t value);
    void centerValueChanged(uint64_t center_value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    static constexpr int kGroove = 10;
    static constexpr int kGrooveRadius = 5;
    static constexpr int kSideWidth = 6;
    static constexpr int kSideHeight = 27;
    static constexpr int kSideRadius = 3;
    static constexpr int kPlaySize = 20;
    static constexpr int kPlayRadius = 10;
    static constexpr int kPlayOutline = 3;
    static constexpr int kPlayExtent = 26;

    int trackLength() const;
    int crossLength() const;
    float fraction(uint64_t v) const;
    uint64_t valueAt(double p) const;
    int lowerLeft() const;
    int upperLeft() const;
    int centerLeft() const;
    QRect handleRect(int left, int width, int height) const;
    uint64_t clampLower(uint64_t v) const;
    uint64_t clampUpper(uint64_t v) const;
    uint64_t clampCenter(uint64_t v) const { return std::max(std::min(v, upper_), lower_); }
    void applyColors();

    uint64_t minimum_ = 0;
    uint64_t maximum_ = UINT64_MAX;
    uint64_t span_ = UINT64_MAX;
    uint64_t lower_ = 0;
    uint64_t upper_ = UINT64_MAX;
    uint64_t center_ = UINT64_MAX / 2;
    bool lowerPressed_ = false;
    bool upperPressed_ = false;
    bool centerPressed_ = false;
    int grabOffset_ = 0;
    Qt::Orientation orientation_;
    HandleMode mode_;
    int rangeRadius_ = 0;

    QColor rangeColor_, lowerColor_, upperColor_, playFill_, playOutline_;
    QColor grooveColor_{208, 208, 208};
};
