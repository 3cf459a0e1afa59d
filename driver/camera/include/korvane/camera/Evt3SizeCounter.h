#pragma once

// Counts the bytes the EVT 3.0 encoding of a stream takes, word for word
// as RawWriter writes it, without writing: the camera's bandwidth figure.
// Events must come in time order. One thread at a time.

#include <cstddef>
#include <cstdint>

#include <vector>

#include "KvRecords.h"
#include "korvane/file/EventDecoder.h"

namespace korvane {

class Evt3SizeCounter {
public:
    // Bytes the events add to the stream.
    uint64_t addEvents(const Event2D* events, size_t count);
    uint64_t addTrigger(const EventTriggerIn& trigger);
    // Bytes of events with their edges, in the order RawWriter::writeChunk writes them.
    uint64_t addChunk(const Event2D* events, size_t count, const std::vector<TriggerRecord>& edges);

private:
    uint64_t timeWords(uint64_t t);

    bool haveTime_ = false;
    uint64_t highSteps_ = 0;
    uint16_t low_ = 0;
    bool haveY_ = false;
    uint16_t y_ = 0;
};

}  // namespace korvane
