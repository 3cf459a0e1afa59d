#pragma once

// Records an open camera's stream into a RAW file for a fixed number of
// seconds of the stream's own time (trigger-in recording; the wall clock
// only for a camera that cannot tell its time); the camera writes the file
// and adds its cached seconds before the edge, this object only starts,
// times and stops.
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
#include <functional>
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
    // off). A cache that cannot start is an error notice; false then. So is
    // a cache that, at the last data rate noted, would need more than the
    // disk has free: it is not started, so that it cannot fill the disk.
    bool armTriggerCache(uint32_t seconds, const QString& directory);
    // Why `seconds` of stream at `bytes_per_s` do not fit in `free_bytes`
    // (translated); empty when they fit or the rate is not known yet.
    static QString cacheSpaceProblem(uint32_t seconds, uint64_t bytes_per_s, qint64 free_bytes,
                                     const QString& directory);
    // Tests replace the free-space probe (bytes free in a folder; negative:
    // unknown) through this seam.
    using FreeSpaceProbe = std::function<qint64(const QString&)>;
    void setFreeSpaceProbe(FreeSpaceProbe probe) { freeSpace_ = std::move(probe); }
    // The cache fills only while the camera streams.
    void setStreaming(bool streaming);
    // Seconds before the edge the running cache keeps (0 when off, failed or stopped).
    uint32_t cacheSeconds() const { return cacheEnabled_ ? cacheAsked_s_ : 0; }
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
    // The stream's data rate, from the camera's statistics. A running cache
    // that no longer fits on its disk at this rate is switched off, said once.
    void noteDataRate(quint64 bytes_per_s);

private:
    // Turns the cache off for want of disk space and tells the user why.
    void dropCacheForSpace(const QString& notice, const QString& directory);
    void waitForTheSetSeconds(korvane::DvsCamera& camera, uint32_t sec);
    void timedRecording(std::shared_ptr<korvane::DvsCamera> camera, QString file_path,
                        uint32_t sec);
    void wakeTimedThread();

    std::shared_ptr<korvane::DvsCamera> camera_;
    QString dataFolder_;
    QString cacheFolder_;   // where the running cache lives (GUI thread)
    quint64 dataRate_ = 0;  // bytes per second last noted; 0: unknown
    FreeSpaceProbe freeSpace_;
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
