#pragma once

// The simulated fusion camera "Quenta": the synthetic scene as events (a
// SimulatedDvsCamera inside) and as grey frames of the same moving bars,
// seen by a frame sensor whose pixels lie on the event grid as the
// camera's factory calibration says. The stored calibration starts as the
// factory one; an uploaded file replaces it, and is kept per camera in the
// calibration folder, so it survives the camera's closing. The frames
// always show the factory placement: uploading a wrong calibration
// misaligns the overlay, as with a real camera.
//
// Frame n (n >= 1) is taken at camera time n * framePeriod_us; at that time
// the events' thread delivers one trigger edge of polarity 1, after every
// event before it and before every event from it on. So the events between
// two edges are the period of the frame of the second one.
//
// Its RAW recordings store each event's column mirrored (x' = 1279 - x)
// against the frames, as such cameras' recordings do, and players mirror
// them back; the live callbacks deliver the columns as the sensor sees them.
// So a recording takes no trigger cache (that one holds unmirrored events).
//
// Threads: events and trigger edges are delivered on the events' thread,
// frames on the frames' thread, statistics on the inner camera's. Public
// operations may come from any thread; start, stop, close and recording are
// serialised. The destructor closes the camera (a running recording is
// closed cleanly).

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "korvane/camera/FrameFileWriter.h"
#include "korvane/camera/FusionCamera.h"
#include "korvane/camera/ParameterTool.h"
#include "korvane/sim/SimulatedDvsCamera.h"

namespace korvane {

// A factory that makes no writer and says why: the default where none is
// given, so a fusion recording fails instead of silently holding no frames.
FrameFileWriterFactory missingFrameWriterFactory();

struct SimulatedFusionOptions {
    std::string serial = "KVSIM-QUENTA-0003";
    uint64_t eventsPerSecond = 2000000;
    uint64_t seed = 11;
    // The frame sensor. 1600 x 900 at 30 fps encodes in real time beside a
    // 20 Mev/s event stream on two shared cores; 1920 x 1080 fell behind
    // there (bench_fusion_record).
    int frameWidth = 1600;
    int frameHeight = 900;
    uint64_t framePeriod_us = 33333;
    std::shared_ptr<CameraClock> clock;  // null: wall time
    // Where uploaded calibrations are kept; empty: the per-user data folder.
    std::string calibrationDirectory;
    std::string firmwareVersion;  // empty: the current one
    // Null: recordings hold no frame file. Not given: recording frames fails.
    // The default camera manager gives the build's writer (H.264 where FFmpeg
    // is built, see DefaultFrameWriter.h); naming it here would pull FFmpeg
    // into everything that lists the cameras, the Python module too.
    FrameFileWriterFactory frameWriterFactory = missingFrameWriterFactory();
};

// The frame side of the last recording, final once it stopped.
struct FrameRecordingStats {
    uint64_t framesWritten = 0;
    uint64_t framesDropped = 0;
    std::string error;  // why the frame file ended early or is incomplete
};

class SimulatedFusionCamera : public FusionCamera {
public:
    static constexpr const char* kCurrentFirmware = "2.4.1";
    static constexpr uint64_t kBatch_us = 10000;  // events' thread pulls this much at a time

    explicit SimulatedFusionCamera(SimulatedFusionOptions options);
    ~SimulatedFusionCamera() override;

    bool isConnected() override;
    uint32_t addEventsCallback(EventsCallback callback) override;
    uint32_t addApsFrameCallback(FrameCallback callback) override;
    uint32_t addTriggerInCallback(TriggerCallback callback) override;
    void removeCallback(uint32_t id) override;
    int start(STREAM_TYPE type) override;
    void stop(STREAM_TYPE type) override;
    void close() override;
    // Writes directory/base_name.raw (events, columns mirrored; its
    // header's aps_start_timestamp is the event-clock time of the first
    // recorded frame), directory/base_name.json (the stored calibration) and, with a
    // frame writer (the default manager's: H.264 into directory/base_name.mp4),
    // the frames. False when the event or frame file cannot be made.
    bool startRecording(const std::string& directory, const std::string& base_name,
                        STREAM_TYPE type) override;
    // Streaming should stop first, so every frame of an edge streamed is
    // written. False when a file is incomplete (recordingFrameStats says
    // what the frame file lacks); the files are finished and play anyway.
    bool stopRecording(STREAM_TYPE type) override;
    void setStatisticInfoCallback(StatisticsCallback callback) override;
    // False (stored calibration unchanged) for a file that cannot be read,
    // is not a calibration, or cannot be kept.
    bool uploadCalibrationFile(const std::string& path) override;
    bool getCalibrationParameters(CalibratorParameters& parameters) override;
    bool getFirmwareVersion(std::string& version) override;

    // Simulation controls, for tests and tools.
    // What the camera reports of itself, listed or open (the frame size is
    // clamped as the constructor does).
    static CameraDescription describe(const SimulatedFusionOptions& options);
    // The calibration the frame sensor really has (how frames are placed).
    static CalibratorParameters factoryCalibration(const SimulatedFusionOptions& options);
    void setReportedFirmwareVersion(const std::string& version);
    void unplug();
    SimulatedDvsCamera& eventCamera() { return *dvs_; }
    uint64_t framesDelivered() const { return framesDelivered_.load(); }
    // Camera time up to which events and edges have been delivered.
    uint64_t deliveredUntil_us() const { return deliveredUntil_us_.load(); }
    // Paths of the last recording (empty frames path without a frame writer).
    std::string recordingFramesPath() const;
    uint64_t recordingApsStart_us() const;
    // Why the last startRecording() failed (empty after one that started).
    std::string recordingStartError() const;
    FrameRecordingStats recordingFrameStats() const;
    // Where this camera keeps its uploaded calibration.
    std::string calibrationFilePath() const;
    // The grey picture the frame sensor sees at camera time t.
    ApsFrame renderFrame(uint64_t t_us, uint64_t frame_tag) const;

protected:
    std::shared_ptr<CameraTool> makeTool(ToolType type) override;

private:
    void eventsLoop();
    void framesLoop();
    void deliverEvents(const Event2D* first, const Event2D* last);
    void deliverEdge(const EventTriggerIn& edge);
    void stopLocked();
    // recordingMutex_ held: closes the frame writer and keeps its figures.
    bool closeFrameWriterLocked();

    SimulatedFusionOptions options_;
    std::shared_ptr<SimulatedDvsCamera> dvs_;
    std::shared_ptr<ParameterTool> apsTool_;
    std::vector<double> factoryInverse_;  // frame grid -> event grid

    std::mutex controlMutex_;
    std::atomic<bool> running_{false};
    std::atomic<bool> closed_{false};
    std::thread eventsThread_, framesThread_;
    std::atomic<uint64_t> framesDelivered_{0};
    std::atomic<uint64_t> deliveredUntil_us_{0};
    uint64_t nextFrameTime_us_ = 0;  // events' thread only (between starts: control)

    // Frame requests from the events' thread to the frames' thread.
    std::mutex frameQueueMutex_;
    std::condition_variable frameQueueChanged_;
    std::deque<std::pair<uint64_t, uint64_t>> frameRequests_;  // time, tag
    bool framesEnd_ = false;  // set once the events' thread has ended

    // Events and edges share one lock (one thread delivers both); frames
    // have their own, so a slow frame receiver does not hold up the events.
    std::recursive_mutex callbackMutex_;
    std::recursive_mutex frameCallbackMutex_;
    std::atomic<uint32_t> nextCallbackId_{0};
    std::map<uint32_t, EventsCallback> eventsCallbacks_;
    std::map<uint32_t, FrameCallback> frameCallbacks_;
    std::map<uint32_t, TriggerCallback> triggerCallbacks_;

    mutable std::mutex calibrationMutex_;
    CalibratorParameters calibration_;
    std::string firmware_;

    mutable std::mutex recordingMutex_;  // the frame side of a recording
    std::unique_ptr<FrameFileWriter> frameWriter_;
    bool recordingFrames_ = false;
    uint64_t recApsStart_us_ = 0;
    std::string recStartError_;
    std::string recFramesPath_;
    FrameRecordingStats recFrameStats_;
    int recCalibrationHold_ = -1;  // keeps other writers off the calibration file
};

}  // namespace korvane
