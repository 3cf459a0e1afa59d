#pragma once

// The "Open a camera" list: one entry per camera found, product and serial
// (the serial also as the entry's kSerialRole data). Accepting (Open, Enter,
// or a double click) leaves the chosen row for getSelection(); the search
// field hides the entries that do not contain its text.
//
// Ownership: a dialog for one modal run, parented to the main window.
// GUI thread only.

#include <QDialog>
#include <vector>

#include "korvane/camera/CameraDescription.h"

namespace Ui {
class CamerasList;
}
class WindowFrameAgent;

class CamerasList : public QDialog {
    Q_OBJECT
public:
    CamerasList(const std::vector<korvane::CameraDescription>& cameras, QWidget* parent);
    ~CamerasList() override;

    static constexpr int kSerialRole = Qt::UserRole;

    // False when no shown row is current; otherwise true with the current row.
    bool getSelection(int& index) const;
    // Shows only the entries whose text contains `text` (any case).
    void filter(const QString& text);
    Ui::CamerasList* form() const { return ui; }

public slots:
    void on_pb_open_clicked();
    void on_pb_close_clicked();
    void on_pb_win_close_clicked();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static QIcon entryIcon();

    Ui::CamerasList* ui;
    WindowFrameAgent* agent_ = nullptr;
};
