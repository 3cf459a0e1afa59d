#pragma once

// What the .h5 and .npy sources share: events and trigger edges stored as
// arrays sorted by time, read a block at a time, checked, and merged into
// batches the way a RAW recording delivers them (an edge comes before the
// events of its own time).
//
// A subclass fills meta_, eventCount_, triggerCount_ and the readers; it
// reports values as read (absolute times, polarity as stored) and this class
// checks them: x and y within 16 bits, polarity 0, 1 or -1 (read as 0), edge
// channel not negative, times not negative and never going back. A check
// that fails ends the pass with the index of the offending element.
// Threads: one caller at a time.

#include <cstdint>
#include <string>
#include <vector>

#include "korvane/convert/ConvertStreams.h"

namespace korvane {

// One element as stored, before the checks.
struct StoredEvent {
    int64_t x, y, p, t;
};
struct StoredTrigger {
    int64_t t, id, p;
};

class ColumnarSource : public EventSource {
public:
    bool deliver(uint64_t from_us, uint64_t to_us, const BatchFn& fn, std::string* error) override;

    // Events read per block: bounds the memory a pass holds.
    static constexpr size_t kBlockEvents = size_t(1) << 20;
    static constexpr size_t kBlockTriggers = size_t(1) << 16;

protected:
    // Elements [first, first + out.size()) into out. False with *error.
    virtual bool readEvents(uint64_t first, std::vector<StoredEvent>& out, std::string* error) = 0;
    virtual bool readTriggers(uint64_t first, std::vector<StoredTrigger>& out,
                              std::string* error) = 0;
    // Sets first_us_ and last_us_ from the first and last elements; call
    // once the counts are known. False with *error when they are unreadable.
    bool findSpan(std::string* error);

    uint64_t eventCount_ = 0;
    uint64_t triggerCount_ = 0;

private:
    // Index of the first element with time >= t (elements assumed sorted).
    bool lowerBound(bool triggers, uint64_t count, uint64_t t, uint64_t& index, std::string* error);
};

}  // namespace korvane
