#pragma once

// What the export and cut dialogs share: a time range, a target folder and
// a file name, confirmed or dismissed by the user. The fields are not
// checked here; the main window and the processor judge the values.
//
// Ownership: a dialog lives for one modal run, child of the main window;
// its form is created by the subclass, which calls attachForm() after
// setupUi(). GUI thread only.

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>

class QLineEdit;
class WindowFrameAgent;

class KvRangeFileDialog : public QDialog {
    Q_OBJECT
public:
    // (parent, caption, start folder) -> the chosen folder, empty when cancelled.
    using ChooseDirectory = std::function<QString(QWidget*, const QString&, const QString&)>;

    void setStartTime(uint64_t start_us);
    void setEndTime(uint64_t end_us);
    void setSavePath(const QString& directory);
    void setFileName(const QString& name);

    // The field read as an unsigned 64-bit decimal number; anything else is 0.
    uint64_t startTime() const;
    uint64_t endTime() const;
    QString savePath() const;
    QString fileName() const;
    // save path + "/" + file name
    QString fullPath() const;

    // Tests replace the folder chooser through this seam.
    void setDirectoryChooser(ChooseDirectory choose) { chooseDirectory_ = std::move(choose); }
    WindowFrameAgent* frameAgent() const { return agent_; }

public slots:
    void on_pb_save_clicked();
    void on_pb_cancel_clicked();
    void on_pb_win_close_clicked();
    void on_pb_select_dir_clicked();

protected:
    explicit KvRangeFileDialog(QWidget* parent);
    void attachForm();
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* field(const char* name) const;

    WindowFrameAgent* agent_ = nullptr;
    ChooseDirectory chooseDirectory_;
};
