#pragma once

// The busy indicator: an animation centred over its anchor while shown, and
// below it how much is done: of a recording being indexed, or of a long job
// (an export), which the user may also cancel (close button or Esc).
// Progress and cancel are reset whenever the window hides. Where the
// desktop cannot show translucent windows it draws an opaque panel instead
// of a black square. GUI thread only.

#include <QPointer>
#include <QWidget>

class QLabel;
class QMovie;
class QPushButton;

class WaitingWin : public QWidget {
    Q_OBJECT
public:
    explicit WaitingWin(QWidget* anchor);

    // Centres the window over the anchor again (while visible).
    void recenter();
    bool animationRunning() const;
    // The text under the animation; empty when no progress is shown.
    QString progressText() const;
    int progress() const { return percent_; }

    // Percent of a job (0 to 100) shown as "N%"; below 0 hides it.
    void setJobProgress(int percent);
    // Shows the close button, which (like Esc) asks to cancel the job.
    void setCancellable(bool cancellable);
    bool isCancellable() const { return cancellable_; }

public slots:
    // Percent of the recording indexed; below 0 hides the figure.
    void setProgress(int percent);

signals:
    void signalCancelRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void centerOnAnchor();
    void showPercent();

    QPointer<QWidget> anchor_;
    QLabel* label_;
    QLabel* progress_;
    QPushButton* cancel_;
    QMovie* movie_;
    int percent_ = -1;
    bool indexing_ = true;  // which caption the figure has
    bool cancellable_ = false;
};
