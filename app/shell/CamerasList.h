#pragma once

// The "Open a camera" list: one entry per camera found, by serial. Accepting
// (Open, or a double click) leaves the chosen row for getSelection().
//
// Ownership: a dialog for one modal run, parented to the main window.
// GUI thread only. The search field has no behaviour yet.

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

    // False when no row is current; otherwise true with the current row.
    bool getSelection(int& index) const;
    Ui::CamerasList* form() const { return ui; }

public slots:
    void on_pb_open_clicked();
    void on_pb_close_clicked();
    void on_pb_win_close_clicked();

protected:
    void showEvent(QShowEvent* event) override;

private:
    Ui::CamerasList* ui;
    WindowFrameAgent* agent_ = nullptr;
};
