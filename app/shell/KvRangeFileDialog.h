#pragma once

// What the export and cut dialogs share: a time range, a target folder and
// a file name, confirmed or dismissed by the user. Confirming checks that
// the times are numbers in order, inside the recording when its range is
// known, and that a file is named; otherwise the dialog stays open and says
// why. The main window and the processor judge the rest.
//
// Ownership: a dialog lives for one modal run, child of the main window;
// its form is created by the subclass, which calls attachForm() after
// setupUi(). GUI thread only.

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>

class QFontMetrics;
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

    // The recording's first and last times; the range must lie within them.
    void setAllowedRange(uint64_t first_us, uint64_t last_us);
    // Why the fields cannot be confirmed; empty when they can.
    QString problem() const;
    // The reason shown in the dialog after a refused confirm; empty otherwise.
    QString shownProblem() const;

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
    bool eventFilter(QObject* watched, QEvent* event) override;

public:
    // The path as it fits in `room` pixels: whole, or its last whole folders
    // after an ellipsis, or (one folder too long) both its ends.
    static QString fitPath(const QString& path, const QFontMetrics& metrics, int room);

private:
    QLineEdit* field(const char* name) const;
    // The save path field shows path_ whole while it has the focus, fitted otherwise.
    void showPathFitted();
    static bool readTime(const QLineEdit* edit, uint64_t& value);

    WindowFrameAgent* agent_ = nullptr;
    ChooseDirectory chooseDirectory_;
    QString path_;          // the save folder, whatever the field shows
    bool fitting_ = false;  // the field's text is being set to its fitted form
    bool hasRange_ = false;
    uint64_t first_us_ = 0, last_us_ = 0;
    class QLabel* problem_ = nullptr;
};
