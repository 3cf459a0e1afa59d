#pragma once

// Carries the progress of the processor's export job to the GUI thread:
// a separate object, so the processor's own signals stay as they are.
// Emitted on the job thread; receivers connect queued (the default across
// threads). Owned by the processor, which joins its jobs before it goes.

#include <QObject>

class KvJobProgress : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    // 0 to 100, sent only when the whole percent changes.
    void signalProgress(int percent);
};
