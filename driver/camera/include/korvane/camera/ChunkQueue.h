#pragma once

// A bounded queue of stream chunks between the camera's thread and a
// consumer thread (recorder, trigger cache). Bounded by the memory the
// queued chunks hold: the producer waits for room, and gives up after a
// while so a stuck consumer cannot stall the camera for ever.
//
// Threads: one producer, one consumer, and any thread may close().

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "korvane/camera/StreamChunk.h"

namespace korvane {

class ChunkQueue {
public:
    explicit ChunkQueue(size_t capacity_bytes) : capacity_(capacity_bytes) {}

    // False when closed, or when no room came within the wait.
    bool push(ChunkPtr chunk, std::chrono::milliseconds wait);
    // Null when nothing came within the wait or the queue is closed and empty.
    ChunkPtr pop(std::chrono::milliseconds wait);
    // Pushes fail from now on; queued chunks can still be popped.
    void close();
    bool closed() const;
    size_t maxQueuedBytes() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<ChunkPtr> chunks_;
    size_t capacity_;
    size_t bytes_ = 0;
    size_t maxBytes_ = 0;
    bool closed_ = false;
};

}  // namespace korvane
