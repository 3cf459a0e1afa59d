#pragma once

// The busy indicator: an animation centred over its anchor while shown.
// GUI thread only.

#include <QPointer>
#include <QWidget>

class QLabel;
class QMovie;

class WaitingWin : public QWidget {
    Q_OBJECT
public:
    explicit WaitingWin(QWidget* anchor);

    // Centres the window over the anchor again (while visible).
    void recenter();
    bool animationRunning() const;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void centerOnAnchor();

    QPointer<QWidget> anchor_;
    QLabel* label_;
    QMovie* movie_;
};
