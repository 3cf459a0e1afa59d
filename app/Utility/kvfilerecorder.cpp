#include "kvfilerecorder.h"

#include <QDebug>
#include <chrono>

#include "Logger.h"

namespace {
std::string localPath(const QString& path) {
    return path.toLocal8Bit().toStdString();
}
}  // namespace

KvFileRecorder::KvFileRecorder(std::shared_ptr<korvane::DvsCamera> camera, QObject* parent)
    : QObject(parent), camera_(std::move(camera)) {}

KvFileRecorder::~KvFileRecorder() {
    recording_ = false;
    wakeTimedThread();
    if (timedThread_.joinable()) timedThread_.join();
    camera_.reset();
}

void KvFileRecorder::setCamera(std::shared_ptr<korvane::DvsCamera> camera) {
    camera_ = std::move(camera);
}

void KvFileRecorder::setCacheTime(int sec) {
    if (!camera_) return;
    camera_->setTriggerCache(uint16_t(sec), localPath(dataFolder_));
    cacheEnabled_ = sec != 0;
}

bool KvFileRecorder::recordingTime(uint32_t sec, QString file_path) {
    const bool connected = camera_ && camera_->isConnected();
    bool idle = false;
    // Claimed here, on the GUI thread: two requests in one turn cannot both start.
    if (connected && sec != 0) idle = recording_.compare_exchange_strong(idle, true);
    if (!idle) {
        qDebug() << "Recording false." << recording_.load() << connected << "" << sec;
        emit signalShowLeftBottomTips(tr("Currently being recorded."), KvMessageType::Warning,
                                      file_path);
        return false;
    }
    if (timedThread_.joinable()) timedThread_.join();
    timedRunning_ = true;
    emit signalShowLeftBottomTips(tr("Recording file ... "), KvMessageType::Success, file_path);
    qDebug() << "record time : " << sec << "file path: " << file_path;
    timedThread_ = std::thread(&KvFileRecorder::timedRecording, this, camera_, file_path, sec);
    return true;
}

void KvFileRecorder::timedRecording(std::shared_ptr<korvane::DvsCamera> camera, QString file_path,
                                    uint32_t sec) {
    KV_LOG_INFO("recording start");
    const bool started = camera->startRecording(localPath(file_path));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(sec);
    {
        // Ends at the set time, or at once when stopRecording() wakes it.
        std::unique_lock<std::mutex> lock(wakeMutex_);
        while (started && recording_.load() && std::chrono::steady_clock::now() < end)
            wake_.wait_until(lock, end);
    }
    const bool complete = camera->stopRecording() && started;
    KV_LOG_INFO("recording end");
    if (complete) {
        emit signalShowLeftBottomTips(tr("Recording end"), KvMessageType::Success, QString());
    } else {
        const std::string reason = camera->recordingStatus().error;
        emit signalShowLeftBottomTips(
            tr("Recording failed: %1").arg(QString::fromStdString(reason)), KvMessageType::Error,
            file_path);
    }
    timedRunning_ = false;
    recording_ = false;
}

bool KvFileRecorder::startRecording(QString file_path) {
    if (recording_.load() || !camera_) return false;
    camera_->startRecording(localPath(file_path));
    recording_ = true;
    return true;
}

bool KvFileRecorder::stopRecording() {
    if (!recording_.load() || !camera_) return false;
    recording_ = false;
    wakeTimedThread();
    // A timed recording stops the camera itself, on its own thread.
    if (!timedRunning_.load()) camera_->stopRecording();
    return true;
}

void KvFileRecorder::wakeTimedThread() {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    wake_.notify_all();
}

void KvFileRecorder::slotSaveFileParamChanged() {}

void KvFileRecorder::slotDetectionRecordingTime(QString) {}
