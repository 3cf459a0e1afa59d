#pragma once

// A signal spy for signals emitted on worker threads. QSignalSpy records on
// the emitting thread while the test reads on its own, a data race; this one
// records on the thread that owns it (directly when the signal comes from
// that thread, queued otherwise), so the test thread alone touches the list.
// Queued records keep the order of each emitting thread. GUI thread only.

#include <QList>
#include <QObject>
#include <QVariant>

class ThreadSafeSignalSpy : public QObject, public QList<QVariantList> {
public:
    template <typename Sender, typename... Args>
    ThreadSafeSignalSpy(const Sender* sender, void (Sender::*signal)(Args...)) {
        QObject::connect(sender, signal, this, [this](Args... args) {
            append(QVariantList{QVariant::fromValue(args)...});
        });
    }
};
