#pragma once

// An open event camera. Handles are shared (std::shared_ptr); the camera
// closes when the last handle goes: streaming stops, a running recording is
// closed and stays readable, the trigger cache's files are removed.
//
// Threads: the operations may be called from any thread. Callbacks (trigger
// edges, statistics, recording errors) run on the camera's own threads, must
// return quickly and must not call back into stop(), startRecording() or
// stopRecording() of the same camera, nor drop its last handle. A callback
// is not called any more once the call that removes or replaces it
// returned.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "korvane/camera/CameraDescription.h"
#include "korvane/camera/CameraTool.h"
#include "KvRecords.h"

namespace korvane {

// Why a recording is not running. Cleared by the next startRecording().
struct RecordingStatus {
    bool running = false;
    std::string path;
    std::string error;  // empty while all went well
    uint64_t eventsWritten = 0;
};

class DvsCamera {
public:
    static constexpr uint32_t kNoCallback = 0xFFFFFFFFu;

    virtual ~DvsCamera() = default;

    virtual bool isConnected() = 0;
    // Both edges of every enabled trigger-in channel; returns an id for removal.
    virtual uint32_t addTriggerInCallback(std::function<void(const EventTriggerIn&)> callback) = 0;
    virtual void removeTriggerInCallback(uint32_t id) = 0;
    // Replaces the vector's content with the next whole batch of camera time
    // that has elapsed. False (vector emptied) when none is due yet, the
    // camera is stopped or unplugged.
    virtual bool getNextEvents(std::vector<Event2D>& events) = 0;
    // The same batch handed to `visit` in the pieces the camera holds it in,
    // in time order, without gathering them into one vector first; a camera
    // that has to gather uses `scratch`. The pieces are valid during the
    // call only. False as for getNextEvents (visit not called).
    using EventPieceVisitor = std::function<void(const Event2D* events, size_t count)>;
    virtual bool visitNextEvents(std::vector<Event2D>& scratch, const EventPieceVisitor& visit) {
        if (!getNextEvents(scratch)) return false;
        if (!scratch.empty()) visit(scratch.data(), scratch.size());
        return true;
    }
    // Camera time per batch from the next batch on; 0 is ignored.
    virtual void setBatchInterval(uint64_t interval_us) = 0;
    // 0 on success; negative when the camera is unplugged.
    virtual int start() = 0;
    virtual void stop() = 0;
    // Writes the stream (EVT 3.0 with our header) to path, in the local 8-bit
    // encoding. True when the file was created and writing runs; false
    // otherwise (status().error says why). A recording runs until
    // stopRecording(), an error or the camera's loss; it does not need
    // start(), but holds only what is streamed while started.
    virtual bool startRecording(const std::string& path) = 0;
    // Keeps the last seconds of stream so a recording can begin with them;
    // 0 seconds or the directory "." switch it off. False when the directory
    // cannot hold the cache's files.
    virtual bool setTriggerCache(uint16_t seconds, const std::string& directory) = 0;
    // Flushes and closes; true when the whole recording reached the file.
    virtual bool stopRecording() = 0;
    // Once per second of streaming.
    virtual void setStatisticInfoCallback(std::function<void(const KvStatisticInfo&)> callback) = 0;

    virtual CameraDescription getDescription() const = 0;
    // Null when the camera has no such tool.
    virtual std::shared_ptr<CameraTool> getTool(ToolType type) = 0;

    // The recording's state; after an early end the error says why (e.g.
    // "disk full", "camera unplugged").
    virtual RecordingStatus recordingStatus() const = 0;
    // Live batches the camera discarded because nobody fetched them in time,
    // since it was opened. Cameras that cannot tell report 0.
    virtual uint64_t batchesDropped() const { return 0; }
    // Camera time (us) the stream has reached, and the camera-time span of
    // the batch the last successful getNextEvents() returned. False when
    // the camera cannot tell; callers then go by the wall clock.
    virtual bool streamTime(uint64_t& t_us) const {
        (void)t_us;
        return false;
    }
    virtual bool lastBatchSpan(uint64_t& t0_us, uint64_t& t1_us) const {
        (void)t0_us;
        (void)t1_us;
        return false;
    }
    // Told once when a recording ends without stopRecording() (path, reason).
    virtual void setRecordingErrorCallback(
        std::function<void(const std::string& path, const std::string& reason)> callback) = 0;
};

}  // namespace korvane
