#pragma once

// A thread that runs one task and then emits taskCompleted(). Without a
// task it does nothing and emits nothing. The owner keeps the object alive
// until the thread has finished.

#include <QThread>
#include <functional>

class WorkerThread : public QThread {
    Q_OBJECT
public:
    explicit WorkerThread(std::function<void()> task, QObject* parent = nullptr);
    ~WorkerThread() override;

signals:
    void taskCompleted();

protected:
    void run() override;

private:
    std::function<void()> task_;
};
