#pragma once

// A modal two-button question in our own frame. The caller acts only on
// QDialog::Accepted; the title bar's close button counts as a refusal.

#include <QDialog>

class WindowFrameAgent;

namespace Ui {
class KVMessageBox;
}

class KVMessageBox : public QDialog {
    Q_OBJECT
public:
    KVMessageBox(const QString& message, const QString& title, const QString& acceptText,
                 const QString& rejectText, QWidget* parent = nullptr);
    ~KVMessageBox() override;

    WindowFrameAgent* frameAgent() const { return agent_; }

private slots:
    void on_pb_open_clicked();
    void on_pb_close_clicked();
    void on_pb_win_close_clicked();

private:
    Ui::KVMessageBox* ui;
    WindowFrameAgent* agent_;
};
