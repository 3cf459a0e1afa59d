#pragma once

// The busy indicator: an animation centred over its anchor while shown, and
// below it, while a new recording is indexed, how much of it is done.
// Where the desktop cannot show translucent windows it draws an opaque
// panel instead of a black square. GUI thread only.

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
    // The text under the animation; empty when no progress is shown.
    QString progressText() const;

public slots:
    // Percent of the recording indexed; below 0 hides the figure.
    void setProgress(int percent);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void centerOnAnchor();
    void showPercent();

    QPointer<QWidget> anchor_;
    QLabel* label_;
    QLabel* progress_;
    QMovie* movie_;
    int percent_ = -1;
};
