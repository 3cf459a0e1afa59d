#include "korvane/camera/ChunkQueue.h"

#include <algorithm>

#include "korvane/file/RawWriter.h"

namespace korvane {

void writeChunk(RawWriter& writer, const StreamChunk& chunk) {
    std::vector<TriggerRecord> edges;
    placeEdgesByTime(chunk.events.data(), chunk.events.size(), chunk.triggers, edges);
    writer.writeChunk(chunk.events.data(), chunk.events.size(), edges);
}

bool ChunkQueue::push(ChunkPtr chunk, std::chrono::milliseconds wait) {
    const size_t bytes = chunk->memoryBytes();
    std::unique_lock lock(mutex_);
    // A chunk larger than the whole capacity still goes into an empty queue.
    if (!changed_.wait_for(lock, wait,
                           [&] { return closed_ || bytes_ == 0 || bytes_ + bytes <= capacity_; })) {
        return false;
    }
    if (closed_) return false;
    bytes_ += bytes;
    maxBytes_ = std::max(maxBytes_, bytes_);
    chunks_.push_back(std::move(chunk));
    changed_.notify_all();
    return true;
}

ChunkPtr ChunkQueue::pop(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, wait, [&] { return closed_ || !chunks_.empty(); });
    if (chunks_.empty()) return nullptr;
    ChunkPtr chunk = std::move(chunks_.front());
    chunks_.pop_front();
    bytes_ -= chunk->memoryBytes();
    changed_.notify_all();
    return chunk;
}

void ChunkQueue::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

bool ChunkQueue::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

size_t ChunkQueue::maxQueuedBytes() const {
    std::lock_guard lock(mutex_);
    return maxBytes_;
}

}  // namespace korvane
