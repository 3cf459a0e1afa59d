#pragma once

// The start-up splash: shows the logo and version for two seconds, or until
// its close button is pressed. Lives for one modal run.

#include <QDialog>

namespace Ui {
class InitDialog;
}

class InitDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kVersion = "1.1.4";

    explicit InitDialog(QWidget* parent = nullptr);
    ~InitDialog() override;

private slots:
    void on_btn_close_clicked();

private:
    Ui::InitDialog* ui;
};
