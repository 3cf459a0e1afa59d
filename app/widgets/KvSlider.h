#pragma once

// A slider that jumps to where its track is clicked; a press on the handle
// still drags it. GUI thread only.

#include <QSlider>

class KvSlider : public QSlider {
    Q_OBJECT
public:
    explicit KvSlider(QWidget* parent = nullptr);
    explicit KvSlider(Qt::Orientation orientation, QWidget* parent = nullptr);

signals:
    void trackClicked(int value);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
