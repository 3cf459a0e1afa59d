#pragma once

// The live fusion camera without a window: opening through a camera
// manager with the calibration it carries, the callbacks that feed the
// fusion processor, streaming, a watch for a lost cable, and recording by
// button with its clock. The main window forwards its play bar and record
// button here and words the notices itself.
//
// Ownership: the window creates it without parent and deletes it before
// the fusion processor it was given. It holds the camera handle.
// Threads: every member runs on the GUI thread except open(), which the
// window's opening task calls on its worker thread while the GUI thread
// waits. The camera's callbacks run on the camera's threads and only call
// the processor (which locks); statistics and recordingClockTick come from
// the camera's and the clock's threads (receivers connect queued). The
// callbacks are removed and the camera closed before the handle goes; the
// destructor first closes a recording by button still running (its files
// stay whole) and stops the clock.

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "RecordingClock.h"
#include "korvane/camera/DvsCameraManager.h"
#include "korvane/camera/FusionCamera.h"

class KvFusionCameraDataProcessor;
class QTimer;

class FusionCameraController : public QObject {
    Q_OBJECT
public:
    explicit FusionCameraController(KvFusionCameraDataProcessor* processor,
                                    QObject* parent = nullptr);
    ~FusionCameraController() override;

    // Worker thread: opens the camera, hands its calibration and its
    // callbacks to the processor; null when it does not open. `firmware`
    // gets the version it reports (empty when it reports none).
    std::shared_ptr<korvane::FusionCamera> open(korvane::DvsCameraManager& manager,
                                                const std::string& serial, QString& firmware);
    // Takes the handle open() gave, once the task has ended.
    void adopt(std::shared_ptr<korvane::FusionCamera> camera, const QString& firmware);
    // Removes the callbacks, closes the camera and drops the handle.
    void release();
    std::shared_ptr<korvane::FusionCamera> camera() const { return camera_; }
    QString firmware() const { return firmware_; }

    // False when the camera does not start.
    bool startStreaming();
    // True when it was streaming (the camera is stopped and the pairing cleared then).
    bool stopStreaming();
    bool isStreaming() const { return streaming_.load(); }
    // What the pairing let go since streaming started.
    uint64_t droppedFrames() const;
    uint64_t droppedPeriods() const;
    uint64_t droppedEvents() const;

    // Recording by button into directory/base.raw, .mp4 and .json (with the
    // calibration the overlay uses now); false when the camera refuses.
    bool startRecording(const QString& directory, const QString& base);
    // True when everything recorded reached the files.
    bool finishRecording();
    bool isRecording() const { return recording_.load(); }

signals:
    // The cable went while streaming (looked for twice a second).
    void connectionLost();
    // Camera threads.
    void statistics(quint64 bandwidth_bytes_per_s, quint64 events_per_s);
    // Clock thread: seconds since the button's recording started.
    void recordingClockTick(quint64 seconds);

private:
    void checkConnection();

    KvFusionCameraDataProcessor* processor_;
    std::shared_ptr<korvane::FusionCamera> camera_;
    std::vector<uint32_t> callbackIds_;  // removed before the camera goes
    QString firmware_;
    std::atomic<bool> streaming_{false};
    uint64_t droppedFramesAtStart_ = 0, droppedPeriodsAtStart_ = 0, droppedEventsAtStart_ = 0;
    QTimer* watch_ = nullptr;
    std::atomic<bool> recording_{false};
    RecordingClock clock_;
};
