#pragma once

// Recording an open camera for a stretch of its time, by itself or around
// edges of trigger input 0 with the trigger cache: the steps `kvcam record`
// and the Python module share. While it waits it takes the live batches
// (and drops them) as a viewer would, so the camera's own queue never
// overflows.
//
// Ownership: shares the camera. The destructor undoes what the session set
// up: a recording it started is stopped (the file finished), a stream it
// started is stopped, its cache is switched off, trigger input 0 is left as
// it found it and its callback is removed.
// Threads: one thread drives a session; the edge callback runs on the
// camera's thread and only queues the edge.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "korvane/camera/DvsCamera.h"

namespace korvane {

enum class WaitEnd { Reached, Stopped, CameraLost, RecordingFailed };

class RecordingSession {
public:
    // Polled about every kPoll while waiting; true ends the wait early (Ctrl+C).
    using StopRequested = std::function<bool()>;
    static constexpr std::chrono::milliseconds kPoll{20};

    explicit RecordingSession(std::shared_ptr<DvsCamera> camera);
    ~RecordingSession();
    RecordingSession(const RecordingSession&) = delete;
    RecordingSession& operator=(const RecordingSession&) = delete;

    // Keeps `seconds` of stream before each edge of trigger input 0 with
    // this polarity (1 rising, 0 falling), spilling into directory (empty
    // or ".": the current folder), and enables that input. False, and why.
    bool armEdges(uint16_t seconds, int16_t polarity, std::string directory, std::string* error);
    // False, and why, when the camera does not start.
    bool startStream(std::string* error);
    void stopStream();
    // The next armed edge at or after notBefore_us whose cached seconds are
    // complete. Edges before notBefore_us (one came while a recording ran)
    // count as missed.
    WaitEnd waitForEdge(uint64_t notBefore_us, uint64_t& edge_us, const StopRequested& stop);
    // False, and the recorder's reason, when the file cannot be written.
    bool startRecording(const std::string& path, std::string* error);
    // Until the stream reaches until_us of camera time; on a camera that
    // cannot tell its time, for wall_us of wall time.
    WaitEnd waitUntil(uint64_t until_us, uint64_t wall_us, const StopRequested& stop);
    // Ends the recording; true when all of it reached the file. status
    // tells what was written and, after a failure, why.
    bool stopRecording(RecordingStatus& status);

    // Camera time the stream has reached (0 when the camera cannot tell).
    uint64_t streamTime() const;
    uint64_t edgesMissed() const;
    DvsCamera& camera() { return *camera_; }

private:
    struct Edge {
        uint64_t t_us;
        std::chrono::steady_clock::time_point arrived;
    };
    bool stopNow(const StopRequested& stop, std::chrono::steady_clock::time_point& lastPoll);

    std::shared_ptr<DvsCamera> camera_;
    std::vector<Event2D> live_;
    bool streaming_ = false;
    bool recording_ = false;
    bool cacheArmed_ = false;
    bool restoreChannel_ = false;
    bool channelWas_ = false;
    uint32_t callback_ = DvsCamera::kNoCallback;
    uint64_t cacheSeconds_ = 0;
    int16_t polarity_ = 1;
    bool knowsTime_ = false;
    uint64_t fillFrom_us_ = 0;  // camera time the cache began to fill at
    std::chrono::steady_clock::time_point armedAt_{};

    mutable std::mutex mutex_;  // with edges_: filled by the camera's thread
    std::deque<Edge> edges_;
    uint64_t missed_ = 0;
};

}  // namespace korvane
