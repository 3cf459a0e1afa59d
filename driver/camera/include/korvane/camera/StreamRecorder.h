#pragma once

// Writes a camera's stream to a RAW file (our header, then EVT 3.0) on a
// thread of its own, fed by a bounded queue. What it has encoded reaches
// the file at once and the disk at least every kSyncPeriod, so a process
// killed at any moment leaves a file that opens, holding everything up to
// the last write. A recording that began with the trigger cache writes the
// cached seconds first.
//
// Failures: a file that cannot be created fails create(), and so does a
// FIFO or socket at the path (nothing could play it back); a write that
// fails later (disk full, file or folder removed) ends the recording: the
// file keeps what was written, status() says why, and the error callback
// is told once, on the recorder's thread.
//
// With the cache, the recorder first copies the cached seconds and keeps
// taking what the cache gathered meanwhile until it has caught up; only
// then are the camera's chunks queued for it. So a long cache costs no
// queue memory, and the file has no gap.
//
// Threads: push() from the camera's thread; stop() and status() from any
// thread (stop() once).

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "korvane/camera/ChunkQueue.h"
#include "korvane/camera/DvsCamera.h"
#include "korvane/camera/TriggerCache.h"

namespace korvane {

struct RawHeader;

class StreamRecorder {
public:
    static constexpr std::chrono::milliseconds kSyncPeriod{200};
    static constexpr size_t kQueueCapacity_bytes = 256u << 20;

    using ErrorCallback = std::function<void(const std::string& path, const std::string& reason)>;

    // Creates the file; the header follows with the first data. startTime is
    // the camera time the recording starts at. With a cache, the recording
    // begins with what the cache holds through chunk cacheSeq; chunks
    // pushed later must come after it; held is the cache's closedSegments()
    // taken at the start, written first, so a writer thread that starts late
    // loses nothing the cache trimmed meanwhile; its hold is kept until the
    // recording has caught up with the cache. apsStartTimestamp_us (0: none) goes
    // into the header: the first frame's time of a fusion recording.
    // mirrorWidth_px (0: none) stores each event's column as
    // mirrorWidth_px - 1 - x, as a fusion camera's recordings do; such a
    // recording takes no cache (the cache holds its seconds encoded as they
    // came). sensorFrom (null: none) gives the geometry and sensor lines of
    // the header, as the recording a camera streams from was made with them.
    // Null (and *error) on failure.
    static std::unique_ptr<StreamRecorder> create(
        const std::string& path, const std::string& serial, uint64_t startTime_us,
        std::shared_ptr<TriggerCache> cache, uint64_t cacheSeq, CacheSnapshot held,
        ErrorCallback onError, std::string* error, uint64_t apsStartTimestamp_us = 0,
        uint16_t mirrorWidth_px = 0, const RawHeader* sensorFrom = nullptr);
    ~StreamRecorder();

    // False once the recording ended or cannot keep up.
    bool push(ChunkPtr chunk);
    // The camera no longer feeds the cache this recording began with
    // (switched off or replaced): chunks pushed from now on are queued here,
    // as that cache will never hold them. Call it where the camera orders
    // its chunks, so that every chunk before it went to that cache.
    // lastSeq: the last chunk handed to that cache, so the recorder never
    // waits for it to take in more.
    void cacheDetached(uint64_t lastSeq) {
        detachedSeq_.store(lastSeq);
        acceptingLive_.store(true);
    }
    // Writes what is queued, syncs and closes. True when everything reached
    // the file. reason (e.g. "camera unplugged") is kept as the status error.
    // lastSeq is the last chunk the camera handed it: a recording stopped
    // while it still copies the cache ends there too, not with what the
    // cache gathered since (the cache's segment holding it goes whole).
    bool stop(const std::string& reason = std::string(), uint64_t lastSeq = UINT64_MAX);

    RecordingStatus status() const;
    size_t maxQueuedBytes() const { return queue_.maxQueuedBytes(); }

private:
    StreamRecorder(std::string path, int fd, std::shared_ptr<TriggerCache> cache, uint64_t cacheSeq,
                   ErrorCallback onError);
    void run();
    bool writeOut(const uint8_t* data, size_t size);
    bool writeHeader(uint64_t firstTime_us);
    // Writes the snapshot's segments after chunk `after`; how many.
    size_t writeCached(const CacheSnapshot& snap, uint64_t after);
    uint64_t catchUpWithCache();
    // The last chunk the cache may give the file: the stop's last chunk, or
    // the last a switched-off cache was given. UINT64_MAX: no bound yet.
    uint64_t cacheBound() const;
    // seq (0: all the cache took in), but no further than cacheBound().
    uint64_t cappedSeq(uint64_t seq) const;
    void bridgeTo(uint64_t time_us);
    void fail(const std::string& reason);
    bool checkStillThere();

    const std::string path_;
    int fd_;
    std::shared_ptr<TriggerCache> cache_;
    const uint64_t cacheSeq_;
    CacheSnapshot held_;  // the cache's segments at the start, until written
    ErrorCallback onError_;
    ChunkQueue queue_;
    std::thread thread_;
    std::atomic<bool> failed_{false};
    std::atomic<bool> acceptingLive_{false};
    std::atomic<uint64_t> lastSeq_{UINT64_MAX};      // set by stop(), before the queue closes
    std::atomic<uint64_t> detachedSeq_{UINT64_MAX};  // set by cacheDetached()
    bool stopped_ = false;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;

    std::string serial_;
    uint64_t startTime_us_ = 0;
    uint64_t apsStartTimestamp_us_ = 0;
    uint16_t mirrorWidth_px_ = 0;
    std::unique_ptr<RawHeader> sensorFrom_;

    // Writer thread only (and stop() after it ended).
    ChunkPtr pending_;  // taken from the queue during the catch-up
    uint64_t eventsWritten_ = 0;
    uint64_t writtenBytes_ = 0;  // bytes written to the file so far
    uint64_t wholeBytes_ = 0;    // of those, whole pieces: a failed write is cut back to it
    bool headerWritten_ = false;
    bool haveLastTime_ = false;
    uint64_t lastTime_us_ = 0;

    mutable std::mutex statusMutex_;
    RecordingStatus status_;
};

}  // namespace korvane
