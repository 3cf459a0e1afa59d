#pragma once

// Counts the seconds of a camera recording by button on its own thread and
// tells each one (receivers on the GUI thread connect queued).
//
// Ownership: a member of a camera controller. Threads: start() and stop()
// run on the owner's thread; the clock thread only emits tick(). stop() and
// the destructor wake the clock thread and wait for it.

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class RecordingClock : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~RecordingClock() override;

    // Starts again from 0 (a running clock is stopped first).
    void start();
    void stop();
    bool isRunning() const { return running_.load(); }

signals:
    void tick(quint64 seconds);

private:
    void run();

    std::atomic<bool> running_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
};
