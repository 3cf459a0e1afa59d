#pragma once

// One slice of a camera's stream: the events and trigger edges of camera
// time [t0, t1), in time order. Immutable once made; shared by the live
// view, the recording and the trigger cache.

#include <cstdint>
#include <memory>
#include <vector>

#include "KvRecords.h"

namespace korvane {

struct StreamChunk {
    uint64_t seq = 0;  // counts up from 1 per camera
    uint64_t t0_us = 0;
    uint64_t t1_us = 0;
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;

    size_t memoryBytes() const {
        return events.capacity() * sizeof(Event2D) + triggers.capacity() * sizeof(EventTriggerIn) +
               sizeof(*this);
    }
};

using ChunkPtr = std::shared_ptr<const StreamChunk>;

class RawWriter;
// Writes a chunk in time order, each edge before the events of its time.
void writeChunk(RawWriter& writer, const StreamChunk& chunk);

}  // namespace korvane
