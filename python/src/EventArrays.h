#pragma once

// numpy views of the reader's records.
//
// Events: 16-byte records x <u2, y <u2, p <i2, t <i8, the reader's Event2D
// layout with its padding bytes zeroed, so an array is the reader's own
// buffer handed over (no copy). Triggers: 12-byte records t <i8, id <i2,
// p <i2, copied (there are few).
// Threads: clearEventPadding may run without the GIL; everything else needs
// it.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <vector>

#include "korvane/file/DvsFileReader.h"

namespace velqora {

pybind11::dtype eventDtype();
pybind11::dtype triggerDtype();

// Zeroes bytes 5 to 7 of each event (after the u8 polarity), so that p reads
// as a 16-bit value and saved arrays hold no stale memory.
void clearEventPadding(korvane::Event2D* events, size_t count);

// The array takes a share of the batch, which stays alive (and out of the
// reader's pool) while the array or a view of it lives; when the last of them
// dies, a buffer of more than kPooledArrayEvents events frees its memory, a
// smaller one goes back to the pool for the next read. A null batch gives an
// empty array. The batch must have been through clearEventPadding.
constexpr size_t kPooledArrayEvents = size_t(1) << 20;  // 16 MiB
pybind11::array eventArray(korvane::EventBatch batch);

pybind11::array triggerArray(const std::vector<korvane::EventTriggerIn>& triggers);

}  // namespace velqora
