#pragma once

// The tip every setting row shows on hover: the parameter's description
// and, after the camera refused a write, why. A refusal is shown at once;
// an empty reason takes it away again. One per row, whatever the row edits.
//
// Ownership: the tip window is a child of the row. GUI thread only.

#include <QString>

class KvToolTip;
class QWidget;

class SettingRowTip {
public:
    // row owns the tip window and is what the pointer hovers unless an
    // anchor is set (before the first text).
    explicit SettingRowTip(QWidget* row) : row_(row) {}
    void setAnchor(QWidget* anchor) { anchor_ = anchor; }

    void setDescription(const QString& text);
    void setRefusal(const QString& reason);
    QString refusal() const { return refusal_; }
    // The description, then the refusal on its own line.
    QString text() const;

private:
    KvToolTip* tip();

    QWidget* row_;
    QWidget* anchor_ = nullptr;
    KvToolTip* tip_ = nullptr;
    QString description_;
    QString refusal_;
};
