#pragma once

// The busy indicator: an animation centred over its anchor while shown.
// A long job may add its progress in percent and let the user cancel it
// (close button or Esc); both are reset whenever the window hides.
// GUI thread only.

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;
class QMovie;

class WaitingWin : public QWidget {
    Q_OBJECT
public:
    explicit WaitingWin(QWidget* anchor);

    // Centres the window over the anchor again (while visible).
    void recenter();
    bool animationRunning() const;

    // 0 to 100 shows "N%" under the animation; -1 hides it.
    void setProgress(int percent);
    int progress() const { return percent_; }
    QString progressText() const;
    // Shows the close button, which (like Esc) asks to cancel the job.
    void setCancellable(bool cancellable);
    bool isCancellable() const { return cancellable_; }

signals:
    void signalCancelRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void centerOnAnchor();

    QPointer<QWidget> anchor_;
    QLabel* label_;
    QMovie* movie_;
    QLabel* progress_;
    QPushButton* cancel_;
    int percent_ = -1;
    bool cancellable_ = false;
};
