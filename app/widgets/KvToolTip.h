#pragma once

// A hover tip for one anchor widget: shown 2 s after the pointer enters,
// hidden 300 ms after it leaves or 3 s after showing. Mode 0 centres it above
// the anchor, mode 2 puts it above and to the left. It never consumes the
// anchor's events. GUI thread only.

#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class KvToolTip : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
    Q_PROPERTY(Qt::Alignment alignment READ alignment WRITE setAlignment NOTIFY alignmentChanged)
    Q_PROPERTY(int x_offset READ xOffset WRITE setXOffset NOTIFY xOffsetChanged)
    Q_PROPERTY(int y_offset READ yOffset WRITE setYOffset NOTIFY yOffsetChanged)
public:
    static constexpr int kShowDelayMs = 2000;
    static constexpr int kLeaveHideMs = 300;
    static constexpr int kShownMs = 3000;

    KvToolTip(const QString& text, int mode, QWidget* parent = nullptr);

    // Long texts wrap at this width instead of running off the screen.
    static constexpr int kMaxTextWidth = 360;

    void installOn(QWidget* anchor);
    // Places the tip by its anchor and shows it without the hover delay
    // (something the user just did needs explaining).
    void showNow();
    QWidget* anchor() const { return anchor_; }

    QString text() const { return label_->text(); }
    Qt::Alignment alignment() const { return label_->alignment(); }
    int xOffset() const { return xOffset_; }
    int yOffset() const { return yOffset_; }
    void setText(const QString& text);
    void setAlignment(Qt::Alignment alignment);
    void setXOffset(int offset);
    void setYOffset(int offset);

    bool showTimerActive() const { return showTimer_.isActive(); }
    bool hideTimerActive() const { return hideTimer_.isActive(); }
    int hideTimerInterval_ms() const { return hideTimer_.interval(); }

signals:
    void textChanged(const QString& text);
    void alignmentChanged(Qt::Alignment alignment);
    void xOffsetChanged(int offset);
    void yOffsetChanged(int offset);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onEnter();
    // Where the tip goes for the anchor; false when the mode places nothing.
    bool place();
    void fitText();
    void onShowTimer();
    void onHideTimer();

    QLabel* label_;
    QPointer<QWidget> anchor_;
    int mode_;
    int xOffset_ = 0;
    int yOffset_ = 0;
    QTimer showTimer_;
    QTimer hideTimer_;
};
