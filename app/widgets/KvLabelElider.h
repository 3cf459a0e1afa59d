#pragma once

// Draws a one-line label's text cut to the label's width with an ellipsis,
// and gives it the whole text as its tool tip while it is cut. The label's
// text() stays whole and its size hint asks for the whole width; a layout
// may give it less, down to one pixel. Plain text only. GUI thread only.

#include <QObject>

class QLabel;

class KvLabelElider : public QObject {
    Q_OBJECT
public:
    // Once per label; the elider is the label's child.
    static void install(QLabel* label);
    // The text as drawn at the label's present width.
    static QString shownText(const QLabel* label);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit KvLabelElider(QLabel* label);
};
