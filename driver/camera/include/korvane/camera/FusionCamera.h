#pragma once

// An open camera with an event sensor and a frame sensor. Only the camera
// libraries create instances (DvsCameraManager::openFusionCamera); the
// program holds them through shared pointers, and the camera closes when the
// last one goes.
//
// Ownership: a copy shares the setting tools of its source (the map is
// copied, the tools are not); a move takes description and tools over and
// leaves the source without tools.
// Threads: the operations may be called from any thread. Callbacks run on
// the camera's threads: events and trigger edges on one and the same
// thread (so a receiver may append events without a lock and cut periods
// at the edges), frames on another. Callbacks must return quickly and must
// not call start(), stop(), close() or the recording calls of the same
// camera. A callback is not called any more once close() or
// removeCallback() for it returned.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "korvane/camera/CameraDescription.h"
#include "korvane/camera/CameraStreamType.h"
#include "korvane/camera/CameraTool.h"
#include "KvRecords.h"
#include "Utils/JsonUtils.h"
#include "korvane/file/RawHeader.h"

namespace korvane {

class FusionCamera {
public:
    using EventsCallback = std::function<void(const Event2D* first, const Event2D* last)>;
    using FrameCallback = std::function<void(ApsFrame frame)>;
    using TriggerCallback = std::function<void(const EventTriggerIn&)>;
    using StatisticsCallback = std::function<void(const KvStatisticInfo&)>;
    static constexpr uint32_t kNoCallback = 0xFFFFFFFFu;

    explicit FusionCamera(CameraDescription description);
    FusionCamera(const FusionCamera& other);
    FusionCamera& operator=(const FusionCamera& other);
    FusionCamera(FusionCamera&& other) noexcept;
    FusionCamera& operator=(FusionCamera&& other) noexcept;
    virtual ~FusionCamera();

    virtual bool isConnected() = 0;
    // Each returns an id for removeCallback(); kNoCallback when refused.
    virtual uint32_t addEventsCallback(EventsCallback callback) = 0;
    virtual uint32_t addApsFrameCallback(FrameCallback callback) = 0;
    virtual uint32_t addTriggerInCallback(TriggerCallback callback) = 0;
    virtual void removeCallback(uint32_t id) = 0;
    // 0 on success; negative when the camera is closed or unplugged.
    virtual int start(STREAM_TYPE type) = 0;
    virtual void stop(STREAM_TYPE type) = 0;
    // Stops streaming and recording and drops every callback; the camera
    // cannot start again.
    virtual void close() = 0;
    // The camera names the files after base_name inside directory.
    virtual bool startRecording(const std::string& directory, const std::string& base_name,
                                STREAM_TYPE type) = 0;
    // True when everything recorded reached the files.
    virtual bool stopRecording(STREAM_TYPE type) = 0;
    // This class discards the callable; cameras that count statistics override it.
    virtual void setStatisticInfoCallback(StatisticsCallback callback);
    virtual bool uploadCalibrationFile(const std::string& path) = 0;
    virtual bool getCalibrationParameters(CalibratorParameters& parameters) = 0;
    virtual bool getFirmwareVersion(std::string& version) = 0;

    const CameraDescription getDescription() const { return description; }
    // Null when the camera has no such tool. Made on first request and kept.
    const std::shared_ptr<CameraTool> getTool(ToolType type);

protected:
    // Asked once per kind by getTool(); null when the camera lacks it.
    virtual std::shared_ptr<CameraTool> makeTool(ToolType type) = 0;
    size_t toolCount() const;

    CameraDescription description;
    std::map<ToolType, std::shared_ptr<CameraTool>> tools;

private:
    mutable std::mutex toolsMutex_;  // guards tools
};

// A fusion camera's RAW recording (its header names the first frame's time)
// stores each event's column mirrored against the frames, x' = W - 1 - x;
// whatever shows its events, with its frames or alone, on screen or in an
// exported video, turns them back with this W (the header's width, else the
// event sensor's 1280). 0: any other recording, shown as stored.
uint32_t storedMirrorWidth(const RawHeader& header);

}  // namespace korvane
