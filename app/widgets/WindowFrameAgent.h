#pragma once

// Our frameless window frame: the window draws its own title bar, and this
// agent gives it the native frame's behaviour through Qt's window API —
// moving by dragging the title bar, resizing at the window's edges,
// maximising and restoring by double-clicking the title bar. Where no window
// manager takes a move over (a bare X server), the agent moves the window
// itself.
//
// Ownership: created with the window as parent; lives and dies with it.
// System buttons are registered so the title bar never treats a press on
// them as a move; what they do stays with the window's own slots.
// GUI thread only.

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QVector>

class QAbstractButton;
class QWidget;

class WindowFrameAgent : public QObject {
    Q_OBJECT
public:
    enum SystemButton { WindowIcon, Minimize, Maximize, Close };

    explicit WindowFrameAgent(QWidget* window);

    // Makes the window frameless and starts handling its edges. Once per window.
    bool setup(QWidget* window);
    // The draggable area (not the buttons beside it).
    void setTitleBar(QWidget* titleBar);
    void setSystemButton(SystemButton type, QAbstractButton* button);

    QWidget* titleBar() const { return titleBar_; }
    QAbstractButton* systemButton(SystemButton type) const;

    // Which window edges a point (window coordinates) is on, for resizing.
    Qt::Edges edgesAt(const QPoint& pos) const;

    static constexpr int kResizeBorder = 6;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool handleTitleBar(QEvent* event);
    bool handleEdges(QWidget* target, QEvent* event);

    QPointer<QWidget> window_;
    QPointer<QWidget> titleBar_;
    QPointer<QAbstractButton> buttons_[4];
    bool cursorOverridden_ = false;
    // Where the window's corner sits relative to the pointer during a move
    // we do ourselves (no window manager took the move over).
    bool manualMove_ = false;
    QPoint moveOffset_;
};
