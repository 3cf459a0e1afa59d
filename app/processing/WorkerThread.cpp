#include "WorkerThread.h"

#include <QDebug>
#include <exception>

WorkerThread::WorkerThread(std::function<void()> task, QObject* parent)
    : QThread(parent), task_(std::move(task)) {}

WorkerThread::~WorkerThread() {
    // Destroying a running QThread aborts the process; wait for the task instead.
    finish();
    task_ = nullptr;
}

void WorkerThread::finish() {
    wait();
    std::lock_guard<std::mutex> seen(runMutex_);
}

void WorkerThread::run() {
    if (!task_) return;
    std::lock_guard<std::mutex> lock(runMutex_);
    try {
        task_();
    } catch (const std::exception& e) {
        // An exception must not escape the thread; the waiter still needs its signal.
        qWarning() << "worker task failed:" << e.what();
    } catch (...) {
        qWarning() << "worker task failed.";
    }
    emit taskCompleted();
}
