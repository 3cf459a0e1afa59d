#pragma once

// The last seconds of a camera's stream, kept EVT 3.0-encoded so that a
// recording can begin with them. Segments of about kSegment_us each start
// with full decoder state, so any run of them decodes on its own; the
// newest stay in memory up to a cap, older ones go to files in the
// cache's directory.
//
// Ownership: the camera owns the cache; a recording that began with the
// cache holds the segments it still has to copy, so a segment's file is
// removed when the cache dropped it and no recording holds it any more.
// Switching the cache off or closing the camera therefore leaves no file
// behind once recordings have copied theirs. A process killed outright
// leaves its files (".velqora-cache-PID-..."); a cache created later in the
// same folder removes them once that process is gone and they are ten
// minutes old.
//
// Threads: push() from the camera's thread; the cache encodes on a thread
// of its own; snapshotThrough() and the figures from any thread.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "korvane/camera/ChunkQueue.h"
#include "korvane/file/RawWriter.h"

namespace korvane {

struct CacheSegment {
    uint64_t t0_us = 0, t1_us = 0;       // camera time covered
    uint64_t firstSeq = 0, lastSeq = 0;  // the chunks it holds
    uint64_t events = 0;
    bool hasData = false;
    uint64_t firstTime_us = 0, lastTime_us = 0;  // of the first and last word written
    std::vector<uint8_t> bytes;                  // in memory, or
    std::string file;                            // spilled here (removed with the segment)
    uint64_t sizeBytes = 0;
    ~CacheSegment();
};
using SegmentPtr = std::shared_ptr<const CacheSegment>;

struct CacheSnapshot {
    std::vector<SegmentPtr> segments;
    uint64_t throughSeq = 0;  // chunks up to this one are in the segments
    // While set (closedSegments() only), the cache trims no segment that
    // ends after the time asked for, including segments still to come.
    std::shared_ptr<void> hold;
};

class TriggerCache {
public:
    static constexpr uint64_t kSegment_us = 100000;
    static constexpr size_t kDefaultMemoryCap_bytes = 64u << 20;
    static constexpr const char* kFilePrefix = ".velqora-cache-";
    static constexpr long kOrphanAge_s = 600;

    // Chunks up to afterSeq were streamed before the cache existed.
    TriggerCache(uint64_t duration_us, std::string directory, uint64_t afterSeq = 0,
                 size_t memoryCap_bytes = kDefaultMemoryCap_bytes);
    ~TriggerCache();
    TriggerCache(const TriggerCache&) = delete;
    TriggerCache& operator=(const TriggerCache&) = delete;

    // False when the directory is missing or not writable.
    static bool usableDirectory(const std::string& directory);

    void push(ChunkPtr chunk);
    // Waits until every chunk up to seq was taken in (or the cache closed),
    // then hands out the kept segments, the one being filled included (so
    // segments never straddle two snapshots). seq 0: every chunk pushed so far.
    CacheSnapshot snapshotThrough(uint64_t seq);
    // The closed segments as they are now, without waiting: a recording
    // holds them from its start, so a writer thread that starts late still
    // finds the seconds before the start (the cache trims meanwhile). Its
    // hold also keeps every later segment ending after keepFrom_us, until
    // released: the cache's own thread may be behind the camera when the
    // recording starts, and what it takes in late is still needed. A hold
    // lapses once the stream is twice the cache's length past keepFrom_us.
    // Held segments beyond the memory cap go to files as any others.
    CacheSnapshot closedSegments(uint64_t keepFrom_us = UINT64_MAX);
    // The start of the oldest kept camera time (0 when empty).
    uint64_t oldestTime_us();

    size_t memoryBytes();
    uint64_t fileBytes();
    size_t fileCount();
    const std::string& directory() const { return directory_; }
    uint64_t duration_us() const { return duration_us_; }
    // Where the cached seconds before at_us begin: what a recording that
    // starts then begins with.
    uint64_t windowStart_us(uint64_t at_us) const {
        return at_us > duration_us_ ? at_us - duration_us_ : 0;
    }

private:
    void run();
    void takeLocked(const StreamChunk& chunk);
    void closeSegmentLocked();
    void trimLocked();

    // Shared with the holds handed out, which may outlive the cache.
    struct Holds {
        std::mutex mutex;
        std::multiset<uint64_t> from_us;
        uint64_t lowestAfter(uint64_t after_us);  // UINT64_MAX: none
    };

    const uint64_t duration_us_;
    const std::string directory_;
    const size_t memoryCap_;
    ChunkQueue queue_;
    std::thread worker_;

    std::mutex mutex_;
    std::condition_variable taken_;
    std::deque<SegmentPtr> segments_;
    std::unique_ptr<RawWriter> writer_;  // encodes the segment being filled
    std::shared_ptr<CacheSegment> open_;
    uint64_t takenSeq_ = 0;
    uint64_t pushedSeq_ = 0;
    bool closed_ = false;
    size_t memoryBytes_ = 0;
    uint64_t fileCounter_ = 0;
    const std::shared_ptr<Holds> holds_ = std::make_shared<Holds>();
};

}  // namespace korvane
