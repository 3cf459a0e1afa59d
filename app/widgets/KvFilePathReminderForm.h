#pragma once

// A bottom-left toast: a message with a type look, an optional "Open Dir"
// button and a close button. It is 226 x 70 for a short message and grows to
// show a longer one whole: taller for more lines, wider (up to kMaxWidth)
// for a word no line holds. It destroys itself 5 s after it is created;
// closing only hides it earlier. GUI thread only.

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "KvMessageType.h"

namespace Ui {
class KvFilePathReminderForm;
}

class KvFilePathReminderForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int kLifetimeMs = 5000;
    static constexpr int kWidth = 226, kHeight = 70;  // the least size
    static constexpr int kMaxWidth = 600;

    KvFilePathReminderForm(const QString& tips, KvMessageType type, const QString& directory,
                           QWidget* parent = nullptr);
    ~KvFilePathReminderForm() override;

    // The directory "Open Dir" shows for a notice's path: the directory
    // itself, a file's directory, or the nearest existing parent; empty when
    // nothing fits.
    static QString resolveDirectory(const QString& path);

    QString directory() const { return directory_; }

    // Shows the notice in the bottom-left corner of area (the picture), where
    // it hides no control, above the notices still shown there.
    void showOver(QWidget* area);
    static constexpr int kMargin = 8;
    bool hasOpenDirButton() const;

public slots:
    void onTimeupDestroy();
    void on_pb_open_dir_clicked();
    void on_pb_close_clicked();

private:
    // Margins, icon column and border beside the text, in pixels.
    static constexpr int kChrome = 44;

    void applyLook(KvMessageType type);
    // Sizes the toast to its text.
    void fitText();

    Ui::KvFilePathReminderForm* ui;
    QString directory_;
    QTimer* timer_;  // a child: it dies with the toast
};
