#pragma once

// numpy views of the reader's records.
//
// Events: 16-byte records x <u2, y <u2, p <i2, t <i8, the reader's Event2D
// layout with its padding bytes zeroed, so an array is the reader's own
// buffer handed over (no copy). Triggers: 12-byte records t <i8, id <i2,
// p <i2, copied (there are few).
// Threads: clearEventPadding and an EventBuffer's filling may run without
// the GIL; everything else needs it.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <vector>

#include "korvane/file/DvsFileReader.h"

namespace velqora {

pybind11::dtype eventDtype();
pybind11::dtype triggerDtype();

// Zeroes bytes 5 to 7 of each event (after the u8 polarity), so that p reads
// as a 16-bit value and saved arrays hold no stale memory.
void clearEventPadding(korvane::Event2D* events, size_t count);
// Copies events with their padding cleared, in one pass.
void copyEvents(korvane::Event2D* to, const korvane::Event2D* from, size_t count);

// Events decoded for one array outside the reader's pool: memory of its own,
// events appended with their padding cleared in the same pass. When the
// array dies its memory goes to a small pool of idle buffers (at most two;
// past a bound, handed to the system lazily: reclaimable at once under
// memory pressure; none kept while no recording is open, see
// EventBufferUse), so a loop over windows writes into memory that is
// already faulted in instead of paying a fault per page per window. Any
// thread may fill one; the pool has a lock of its own.
class EventBuffer {
public:
    EventBuffer() = default;
    ~EventBuffer();
    EventBuffer(const EventBuffer&) = delete;
    EventBuffer& operator=(const EventBuffer&) = delete;

    // Room for `events` in all; std::bad_alloc when the system has none.
    void reserve(size_t events);
    void append(const korvane::Event2D* events, size_t count);
    // Takes the next `count` places, to be filled by copyEvents from any
    // thread; null (and nothing taken) when they do not fit in the room
    // reserved. Callers keep claims and reserve() apart.
    korvane::Event2D* claim(size_t count);
    // The array is events [begin, end) of the room, filled by the caller
    // straight into data() (a window whose first events were placed short
    // of the room's start); begin <= end <= capacity.
    void setExtent(size_t begin, size_t end);
    korvane::Event2D* data() const { return data_; }
    size_t size() const { return size_; }
    size_t begin() const { return begin_; }
    size_t capacity() const { return capacity_; }

private:
    korvane::Event2D* data_ = nullptr;
    size_t begin_ = 0;
    size_t size_ = 0;
    size_t capacity_ = 0;
    size_t mappedBytes_ = 0;
};

// The pool keeps idle buffers for the next reads only while some recording
// is open: each open recording holds one of these. When one is released
// (the recording closed or gone) the idle buffers go back to the system, and
// while none is held a buffer goes back as soon as its array dies.
class EventBufferUse {
public:
    EventBufferUse();
    ~EventBufferUse();
    EventBufferUse(const EventBufferUse&) = delete;
    EventBufferUse& operator=(const EventBufferUse&) = delete;
};

// Idle buffers the pool keeps at most, and the bytes they may span in all;
// a larger buffer goes back to the system when its array dies.
constexpr size_t kIdleEventBuffers = 2;
constexpr size_t kIdleEventBufferBytes = size_t(1) << 30;
// Idle buffers keep their pages resident while the pool's mappings span no
// more than this in all (about: two buffers given back at once may both
// stay); memory pressure cannot take those back. A mapping spans half as
// much again as its first window asked for.
constexpr size_t kKeptIdleEventBufferBytes = size_t(512) << 20;

// The array owns the buffer (to the pool when the array and its last view die).
pybind11::array eventArray(std::unique_ptr<EventBuffer> buffer);

// The array takes a share of the batch, which stays alive (and out of the
// reader's pool) while the array or a view of it lives; when the last of them
// dies, a buffer of more than kPooledArrayEvents events frees its memory, a
// smaller one goes back to the pool for the next read. A null batch gives an
// empty array. The batch must have been through clearEventPadding.
constexpr size_t kPooledArrayEvents = size_t(1) << 20;  // 16 MiB
pybind11::array eventArray(korvane::EventBatch batch);

pybind11::array triggerArray(const std::vector<korvane::EventTriggerIn>& triggers);

}  // namespace velqora
