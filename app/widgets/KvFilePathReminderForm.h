#pragma once

// A bottom-left toast: a short message with a type look, an optional
// "Open Dir" button and a close button. It destroys itself 5 s after it is
// created; closing only hides it earlier. GUI thread only.

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

    KvFilePathReminderForm(const QString& tips, KvMessageType type, const QString& directory,
                           QWidget* parent = nullptr);
    ~KvFilePathReminderForm() override;

    // The directory "Open Dir" shows for a notice's path: the directory
    // itself, a file's directory, or the nearest existing parent; empty when
    // nothing fits.
    static QString resolveDirectory(const QString& path);

    QString directory() const { return directory_; }
    bool hasOpenDirButton() const;

public slots:
    void onTimeupDestroy();
    void on_pb_open_dir_clicked();
    void on_pb_close_clicked();

private:
    void applyLook(KvMessageType type);

    Ui::KvFilePathReminderForm* ui;
    QString directory_;
    QTimer* timer_;  // a child: it dies with the toast
};
