#pragma once

// Records an open camera's stream into a RAW file for a fixed number of
// seconds (trigger-in recording); the camera writes the file and adds its
// cached seconds before the edge, this object only starts, times and stops.
//
// Ownership: created once by the main window, without parent, which deletes
// it. It shares the camera handle it was given.
// Threads: every slot and setCamera() run on the GUI thread. A timed
// recording runs on this object's own thread, which holds its own copy of
// the camera handle and emits its notices (receivers connect queued). The
// recording flag is atomic: the GUI thread clears it to end a timed
// recording early. The destructor ends a running recording (the file stays
// complete) and waits for its thread.
// Failures: refused requests give a warning notice and record nothing; a
// recording the camera could not start or write gives an error notice.

#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "korvane/camera/DvsCamera.h"
#include "KvMessageType.h"

// The user's words for why the camera library ended or refused a
// recording: each reason it gives has its translated sentence (a reason
// naming a system error by its message is matched on that message); the
// library's own English text goes to the log.
QString recordingFailureReason(const std::string& driverReason);

class KvFileRecorder : public QObject {
    Q_OBJECT
public:
    explicit KvFileRecorder(std::shared_ptr<korvane::DvsCamera> camera, QObject* parent = nullptr);
    ~KvFileRecorder() override;

    void setCamera(std::shared_ptr<korvane::DvsCamera> camera);
    // Where the camera keeps its trigger cache; GUI thread.
    void setDataFolder(QString folder) { dataFolder_ = std::move(folder); }
    bool isRecording() const { return recording_.load(); }

    // Keeps the last `seconds` of stream in `directory` (0 or "." switch it
    // off). A cache that cannot start is an error notice; false then.
    bool armTriggerCache(uint32_t seconds, const QString& directory);
    // The cache fills only while the camera streams.
    void setStreaming(bool streaming);
    // Seconds of stream the cache holds now (0 when off or failed).
    double cachedSeconds() const;

signals:
    void signalShowLeftBottomTips(QString tips, KvMessageType type = KvMessageType::Success,
                                  QString file_path = QString());

public slots:
    void setCacheTime(int sec);
    bool recordingTime(uint32_t sec, QString file_path);
    bool startRecording(QString file_path);
    bool stopRecording();
    void slotSaveFileParamChanged();
    void slotDetectionRecordingTime(QString info);

private:
    void timedRecording(std::shared_ptr<korvane::DvsCamera> camera, QString file_path,
                        uint32_t sec);
    void wakeTimedThread();

    std::shared_ptr<korvane::DvsCamera> camera_;
    QString dataFolder_;
    bool cacheEnabled_ = false;
    uint32_t cacheAsked_s_ = 0;  // seconds before the edge asked for (GUI thread)
    bool cacheFailed_ = false;
    bool streaming_ = false;
    std::chrono::steady_clock::time_point cacheFillingSince_{};
    std::atomic<bool> recording_{false};
    std::atomic<bool> timedRunning_{false};  // the timed thread owns the camera's recording
    std::mutex wakeMutex_;                   // with wake_: ends the timed thread's wait early
    std::condition_variable wake_;
    std::thread timedThread_;
};
