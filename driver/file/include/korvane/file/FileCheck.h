#pragma once

// What a decoder meets in a recording's words: counts of each word type and
// of the quirks that make a decode drop data or produce surprising times.
// A stretch is checked on its own from the decoder state of its checkpoint;
// stretch results merged in file order equal one walk over the whole data.
// Value types and pure functions, any thread; nothing here reads a file.

#include <cstddef>
#include <cstdint>

#include "korvane/file/EventDecoder.h"
#include "korvane/file/RawHeader.h"

namespace korvane {

struct WordCheck {
    uint64_t words = 0;
    uint64_t typeCounts[16] = {};     // by the type bits of each word
    uint64_t reservedWords = 0;       // types the format does not define
    uint64_t events = 0;              // events with a known time that the data carries
    uint64_t eventsBeforeTime = 0;    // events before the first TIME_HIGH (a decode drops them)
    uint64_t vectorsWithoutBase = 0;  // EVT 3.0 vector words before any VECT_BASE_X
    uint64_t vectorEventsBeyondRange = 0;  // vector bits past x 2047 (dropped)
    uint64_t eventsOutsideGeometry = 0;    // x >= width or y >= height
    uint64_t timeBackSteps = 0;            // time words that moved the time back
    uint64_t timeBackMax_us = 0;
    uint64_t timeBackBeyondJitter = 0;  // of those, TIME_HIGH steps back beyond the jitter bound
    uint64_t timeLoops = 0;  // wraps of the time counter (EVT 3.0: 2^24 us, EVT 2.0: 2^34 us)

    // Merge state: vectors before the first base of this part, and whether
    // it has a base at all.
    uint64_t vectorsBeforeBase = 0;
    bool sawBase = false;

    // Appends the result of the part that follows in file order.
    void append(const WordCheck& next);
};

// Checks `words` words starting in `state` (the checkpoint's). Events are
// measured against width x height (pass the address range when the
// geometry is unknown). vectorsWithoutBase is left to append(): pass the
// part's result through it, even for the first part.
WordCheck checkWords(const uint8_t* bytes, size_t words, RawFormat format, DecoderState state,
                     uint32_t width, uint32_t height);

// Name of a word type of the format for reports ("addr_x", "time_high",
// ...); null for reserved types.
const char* wordTypeName(RawFormat format, unsigned type);

}  // namespace korvane
