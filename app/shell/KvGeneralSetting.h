#pragma once

// The "General Setting" dialog: default folders for recordings and videos,
// trigger-in recording (on/off, edge, seconds kept before and after) and
// the colour theme of event images. Nothing is written until "Save";
// "Cancel" and the close button leave the configuration as it was. A save
// that cannot be written is reported and leaves the dialog open (the values
// stay in force for this session). A number of seconds beyond what can be
// kept is clamped at the end of its edit. Values the recorder cannot hold
// (more seconds before the trigger than its cache keeps or after it than
// 65535, trigger recording of 0 s before and 0 s after) are refused on Save
// with the reason, nothing written.
//
// Ownership: one modal run; holds the process-wide configuration by pointer.
// GUI thread only.

#include <QDialog>
#include <functional>

class AppConfig;
class WindowFrameAgent;

namespace Ui {
class KvGeneralSetting;
}

class KvGeneralSetting : public QDialog {
    Q_OBJECT
public:
    // Asks the user for a directory: (caption, start directory) -> path or empty.
    using DirectoryDialog = std::function<QString(const QString&, const QString&)>;
    // Tells the user something went wrong: (title, text).
    using ErrorReporter = std::function<void(const QString&, const QString&)>;

    explicit KvGeneralSetting(QWidget* parent = nullptr);
    ~KvGeneralSetting() override;

    // Tests replace the directory dialog through this seam.
    void setDirectoryDialog(DirectoryDialog dialog) { directoryDialog_ = std::move(dialog); }
    void setErrorReporter(ErrorReporter report) { reportError_ = std::move(report); }
    Ui::KvGeneralSetting* form() const { return ui; }
    WindowFrameAgent* frameAgent() const { return agent_; }

signals:
    void signalTriggerInSaveFileParamChanged();

public slots:
    void on_pb_save_clicked();
    void on_pb_cancel_clicked();
    void on_pb_win_close_clicked();
    void on_pb_select_dir_clicked();
    void on_pb_select_video_save_path_clicked();
    void on_pb_add_trigger_in_before_time_clicked();
    void on_pb_add_trigger_in_after_time_clicked();
    void on_pb_sub_trigger_in_before_time_clicked();
    void on_pb_sub_trigger_in_after_time_clicked();
    void on_lw_general_setting_items_currentRowChanged(int currentRow);

private:
    QString askDirectory(const QString& start);
    // Why the fields cannot be saved as they are, or empty.
    QString refusal() const;
    void report(const QString& text);

    Ui::KvGeneralSetting* ui;
    AppConfig* config_;
    WindowFrameAgent* agent_;
    DirectoryDialog directoryDialog_;
    ErrorReporter reportError_;
};

// Seconds as typed: an unsigned 32-bit decimal, 0 for anything else.
quint32 parseSeconds(const QString& text);
