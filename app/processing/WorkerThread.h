#pragma once

// A thread that runs one task and then emits taskCompleted(). Without a
// task it does nothing and emits nothing. The owner keeps the object alive
// until the thread has finished.

#include <QThread>
#include <functional>
#include <mutex>

class WorkerThread : public QThread {
    Q_OBJECT
public:
    explicit WorkerThread(std::function<void()> task, QObject* parent = nullptr);
    ~WorkerThread() override;
    // Waits for the thread, then takes the lock run() holds throughout, so
    // that what the task wrote is ordered before the caller reads it in a
    // way thread checkers see too (QThread::wait() orders it through Qt's
    // own futex lock, which they cannot see). GUI thread.
    void finish();

signals:
    void taskCompleted();

protected:
    void run() override;

private:
    std::function<void()> task_;
    std::mutex runMutex_;  // held by run() from the task's start to its signal
};
