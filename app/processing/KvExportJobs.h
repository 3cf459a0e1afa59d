#pragma once

// Carries the progress of the processor's export job to the GUI thread:
// a separate object, so the processor's own signals stay as they are.
// Emitted on the job thread; receivers connect queued (the default across
// threads). Owned by the processor, which joins its jobs before it goes.

#include <QObject>
#include <QString>
#include <string>

// The user's words for why the file library or the video encoder refused or
// ended an export or a cut: each reason they give has its translated
// sentence (a reason naming a system error is matched on its message); the
// library's own English text goes to the log. With the target's path, a
// folder that is there is never said not to exist (the system says so of
// places that take no files, such as /proc).
QString jobFailureReason(const std::string& driverReason, const QString& target = QString());

class KvJobProgress : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    // 0 to 100, sent only when the whole percent changes.
    void signalProgress(int percent);
};
