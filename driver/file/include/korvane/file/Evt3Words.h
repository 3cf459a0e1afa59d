#pragma once

// The EVT 3.0 word types and how each word moves the decoder state: the one
// definition used by the event decoder, the index scan and the window
// search. Events themselves are emitted by the decoder; everything here is
// about state. Pure inline functions, any thread.

#include <algorithm>
#include <cstdint>

#include "korvane/file/EventDecoder.h"

namespace korvane::evt3 {

enum Type : unsigned {
    kAddrY = 0x0,
    kAddrX = 0x2,
    kVectBaseX = 0x3,
    kVect12 = 0x4,
    kVect8 = 0x5,
    kTimeLow = 0x6,
    kContinued4 = 0x7,
    kTimeHigh = 0x8,
    kExtTrigger = 0xA,
    kOthers = 0xE,
    kContinued12 = 0xF,
};

// Highest x an address can carry; vector positions beyond it are dropped.
constexpr uint16_t kMaxX = 0x7FF;
// Base x saturates just past the range, so a long run of vectors can never
// wrap back into it.
constexpr uint16_t kBaseXLimit = kMaxX + 1;

inline unsigned typeOf(uint16_t w) {
    return w >> 12;
}

inline bool isReserved(unsigned type) {
    return type == 0x1 || type == 0x9 || type == 0xB || type == 0xC || type == 0xD;
}

inline uint16_t payloadX(uint16_t w) {
    return w & 0x7FF;
}
inline uint8_t payloadPolarity(uint16_t w) {
    return uint8_t((w >> 11) & 1);
}

inline uint16_t advanceBase(uint16_t baseX, unsigned width) {
    return uint16_t(std::min<unsigned>(baseX + width, kBaseXLimit));
}

// The time high after a TIME_HIGH word. The first one keeps the loop count
// the state starts with (a reader may seed it from the header).
inline uint64_t timeHighAfter(const DecoderState& s, uint16_t w) {
    const uint32_t high12 = w & 0xFFF;
    if (!s.haveTime) return (s.timeHigh & ~uint64_t(0xFFFFFF)) | (uint64_t(high12) << 12);
    return nextEvt3TimeHigh(s.timeHigh, high12);
}

// The time a TIME_HIGH word sets: a new period starts at its first
// microsecond until its TIME_LOW comes; a repeated TIME_HIGH keeps the time.
inline uint64_t timeAfterHigh(const DecoderState& s, uint64_t high) {
    if (!s.haveTime) return high | s.low;
    return high == s.timeHigh ? s.time : high;
}

inline uint64_t timeAfterLow(const DecoderState& s, uint16_t w) {
    return s.timeHigh | (w & 0xFFF);
}

inline void setTimeHigh(DecoderState& s, uint64_t high, uint64_t time) {
    s.timeHigh = high;
    s.time = time;
    s.low = uint16_t(time & 0xFFF);
    s.haveTime = true;
}

inline void setTimeLow(DecoderState& s, uint64_t time) {
    s.time = time;
    s.low = uint16_t(time & 0xFFF);
}

// Applies one word to the state, emitting nothing. Returns true when the
// word sets the time (TIME_LOW, TIME_HIGH).
inline bool applyWord(DecoderState& s, uint16_t w) {
    switch (typeOf(w)) {
        case kAddrY:
            s.y = w & 0x7FF;
            return false;
        case kVectBaseX:
            s.baseX = payloadX(w);
            s.polarity = payloadPolarity(w);
            return false;
        case kVect12:
            s.baseX = advanceBase(s.baseX, 12);
            return false;
        case kVect8:
            s.baseX = advanceBase(s.baseX, 8);
            return false;
        case kTimeLow:
            setTimeLow(s, timeAfterLow(s, w));
            return true;
        case kTimeHigh: {
            const uint64_t high = timeHighAfter(s, w);
            setTimeHigh(s, high, timeAfterHigh(s, high));
            return true;
        }
        default:
            return false;
    }
}

}  // namespace korvane::evt3
