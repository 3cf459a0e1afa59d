#pragma once

// "Camera Info": product, manufacturer, serial and firmware version of the
// open fusion camera, in our own frameless frame.
//
// Ownership: a dialog without parent for one modal run; the window that
// shows it deletes it. GUI thread only.

#include <QDialog>
#include <QString>

#include "korvane/camera/CameraDescription.h"

namespace Ui {
class ShowCameraInfoUI;
}
class WindowFrameAgent;

class ShowCameraInfoUI : public QDialog {
    Q_OBJECT
public:
    explicit ShowCameraInfoUI(QWidget* parent = nullptr);
    ~ShowCameraInfoUI() override;

    void setInfo(const korvane::CameraDescription& description, const QString& firmware);
    Ui::ShowCameraInfoUI* form() const { return ui; }

public slots:
    void on_pb_close_clicked();
    void on_pb_win_close_clicked();

protected:
    void changeEvent(QEvent* event) override;

private:
    Ui::ShowCameraInfoUI* ui;
    WindowFrameAgent* agent_ = nullptr;
};
