#pragma once

// A graphics view with wheel zoom between the fitted view (scale 1) and
// about 50x, hand-drag panning and double-click fitting. GUI thread only.

#include <QGraphicsView>

class KvGraphicsView : public QGraphicsView {
    Q_OBJECT
public:
    explicit KvGraphicsView(QWidget* parent = nullptr);

    double currentScale() const { return currentScale_; }

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    double currentScale_ = 1.0;
    double minimumScale_ = 1.0;
    double maximumScale_ = 50.0;
};
