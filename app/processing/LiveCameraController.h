#pragma once

// The live event camera without a window: opening through a camera
// manager, the statistics, recording-error and trigger-in callbacks, the
// live view loop that feeds the RAW processor, streaming, and recording by
// button with its clock. The main window forwards its play bar and record
// button here and words the notices itself.
//
// Ownership: the window creates it without parent and deletes it before
// the processor and the recorder it was given. It holds the camera handle;
// the live thread holds its own copy.
// Threads: every member runs on the GUI thread except open(), which the
// window's opening task calls on its worker thread while the GUI thread
// waits. Two threads of its own: the live thread (stops on streaming,
// joined by stopStreaming()) and the recording clock's. The signals come
// from the camera's, the live and the clock threads: receivers that touch
// widgets connect queued. The destructor closes a recording by button
// still running (its file stays whole), stops both threads and removes the
// callbacks before the handle goes, so none runs on a freed controller.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "RecordingClock.h"
#include "korvane/camera/DvsCamera.h"
#include "korvane/camera/DvsCameraManager.h"

class KvEventProcessor;
class KvFileRecorder;

// What trigger-in recording needs, copied on the GUI thread for the camera's
// thread (which must not read the configuration while it is being saved).
struct TriggerInRecording {
    QString edgeType;      // "Rising Edge" or "Falling Edge"
    QString outputDir;     // where the files go
    QString serial;        // of the camera
    uint32_t after_s = 0;  // seconds recorded after the edge
    // The file to record for this edge, or empty when the edge is not the
    // configured one. Rising edges carry polarity 1, falling ones 0.
    QString pathFor(const korvane::EventTriggerIn& trigger, const QDateTime& now) const;
};
// The base name, or, when a file of a recording by that name already lies in
// the folder (a recording started again within the same second), the first
// of base_2, base_3, ... that is free: cameras truncate what they open.
QString freeRecordingBase(const QString& directory, const QString& base);
// output dir + "/" + serial + "_yyyyMMdd_HHmmss.raw" (made free as above)
QString recordingFilePath(const QString& dir, const QString& serial, const QDateTime& now);

class LiveCameraController : public QObject {
    Q_OBJECT
public:
    LiveCameraController(KvEventProcessor* processor, KvFileRecorder* recorder,
                         QObject* parent = nullptr);
    ~LiveCameraController() override;

    // Worker thread: opens the camera and installs its statistics and
    // recording-error callbacks; null when it does not open.
    std::shared_ptr<korvane::DvsCamera> open(korvane::DvsCameraManager& manager,
                                             const std::string& serial);
    // Takes the handle open() gave (after the task has ended) and hands it to the recorder.
    void adopt(std::shared_ptr<korvane::DvsCamera> camera);
    // Stops nothing: the caller stopped streaming first. Removes the
    // callbacks, takes the camera from the recorder and drops the handle.
    void release();
    std::shared_ptr<korvane::DvsCamera> camera() const { return camera_; }

    // Trigger-in recording: every configured edge emits triggerRecording.
    void armTriggerRecording(const TriggerInRecording& settings);
    void disarmTriggerRecording();
    bool triggerArmed() const { return triggerCallbackId_ != korvane::DvsCamera::kNoCallback; }

    // False when the camera does not start; the live thread runs from here.
    bool startStreaming();
    // True when it was streaming (the camera is stopped then).
    bool stopStreaming();
    bool isStreaming() const { return streaming_.load(); }
    void setBatchInterval(uint64_t interval_us);
    uint64_t batchInterval() const { return batchInterval_us_.load(); }
    // Batches the live view fell behind on, and the camera dropped, since streaming started.
    uint64_t lateBatches() const { return lateBatches_.load(); }
    uint64_t droppedBatches() const;
    // The answer to framesReady: the processor paints what it accumulated.
    void showAccumulated();

    // Recording by button: false when the camera refuses (its status tells why).
    bool startRecording(const QString& path);
    struct Finished {
        bool whole = false;  // the camera says everything reached the file
        std::string error;   // the camera's reason otherwise
    };
    Finished finishRecording();
    // A recording error from the camera for `path`: true when it ended the
    // button's recording (an unplugged camera is handled as a lost camera).
    bool recordingFailed(const QString& path, const QString& reason);
    bool isRecording() const { return recording_.load(); }
    QString recordingPath() const { return recordingPath_; }

signals:
    // Live thread: pictures are waiting (one request in flight at a time).
    void framesReady();
    // Live thread: the camera went; streaming has ended.
    void cameraLost();
    // Camera threads.
    void statistics(quint64 bandwidth_bytes_per_s, quint64 events_per_s);
    void recordingError(QString path, QString reason);
    void triggerRecording(uint32_t seconds, QString path);
    // Clock thread: seconds since the button's recording started.
    void recordingClockTick(quint64 seconds);

private:
    void liveLoop(std::shared_ptr<korvane::DvsCamera> camera);

    KvEventProcessor* processor_;
    KvFileRecorder* recorder_;
    std::shared_ptr<korvane::DvsCamera> camera_;
    uint32_t triggerCallbackId_ = korvane::DvsCamera::kNoCallback;
    std::atomic<bool> streaming_{false};
    std::atomic<uint64_t> batchInterval_us_{33333};
    uint32_t displayRate_ = 33;
    std::vector<korvane::Event2D> eventBuffer_;  // the live thread's alone, for cameras that gather
    std::thread liveThread_;
    std::atomic<uint64_t> lateBatches_{0};
    std::atomic<bool> showPending_{false};  // a picture request waits for the GUI thread
    uint64_t droppedAtStart_ = 0;
    std::atomic<bool> recording_{false};
    QString recordingPath_;
    RecordingClock clock_;
};
