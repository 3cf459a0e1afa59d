#include "EventDecoder.h"

#include <algorithm>
#include <cstddef>

#include "RawFile.h"

namespace korvane {

namespace {
enum Evt3Type : uint16_t {
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

static_assert(sizeof(Event2D) == 16 && offsetof(Event2D, y) == 2 &&
                  offsetof(Event2D, polarity) == 4 && offsetof(Event2D, timestamp) == 8,
              "the decoders write Event2D as two 64-bit words");

// One event as two plain stores: x | y << 16 | p << 32, then the time.
inline void store(Event2D* out, uint64_t lo, uint64_t t) {
    std::memcpy(reinterpret_cast<uint8_t*>(out), &lo, 8);
    std::memcpy(reinterpret_cast<uint8_t*>(out) + 8, &t, 8);
}

// Writes an event for every bit position and advances only over set bits:
// no branch on the mask, which is unpredictable in busy rows.
template <int kBits>
inline Event2D* emitMask(uint32_t mask, uint64_t lo, uint64_t t, Event2D* out) {
    for (int i = 0; i < kBits; ++i) {
        store(out, lo + uint64_t(i), t);
        out += (mask >> i) & 1;
    }
    return out;
}

// Before the first TIME_HIGH nothing has a time: walk the state only.
size_t skipUntilTime(const uint8_t* bytes, size_t wordCount, DecoderState& s,
                     uint64_t& corruptWords) {
    size_t i = 0;
    for (; i < wordCount; ++i) {
        const uint16_t w = loadWord16(bytes + 2 * i);
        switch (w >> 12) {
            case kAddrY:
                s.y = w & 0x7FF;
                break;
            case kVectBaseX:
                s.baseX = w & 0x7FF;
                s.polarity = uint8_t((w >> 11) & 1);
                break;
            case kVect12:
                s.baseX = uint16_t(s.baseX + 12);
                break;
            case kVect8:
                s.baseX = uint16_t(s.baseX + 8);
                break;
            case kTimeLow:
                s.low = w & 0xFFF;
                s.time = s.timeHigh | s.low;
                break;
            case kTimeHigh:
                return i;
            case 0x1:
            case 0x9:
            case 0xB:
            case 0xC:
            case 0xD:
                ++corruptWords;
                break;
            default:
                break;
        }
    }
    return i;
}

}  // namespace

DecodeStep decodeEvt3(const uint8_t* bytes, size_t wordCount, DecoderState& state, Event2D* out,
                      size_t outRoom, std::vector<TriggerRecord>* triggers, uint64_t eventBase,
                      uint64_t stopTime, uint64_t& corruptWords) {
    DecoderState s = state;
    Event2D* const first = out;
    DecodeStep step;
    size_t i = 0;
    if (!s.haveTime) {
        i = skipUntilTime(bytes, wordCount, s, corruptWords);
        if (i < wordCount) {
            // The first TIME_HIGH sets the time outright; no stop before it.
            const uint16_t w = loadWord16(bytes + 2 * i);
            s.timeHigh = uint64_t(w & 0xFFF) << 12;
            s.time = s.timeHigh | s.low;
            s.haveTime = true;
            ++i;
        }
    }
    // Vector words write 12 events before advancing: keep room for them.
    if (outRoom < 12) {
        state = s;
        step.wordsConsumed = i;
        return step;
    }
    // Room is checked once per block of words: each word writes at most 12.
    constexpr size_t kBlock = 32;
    const size_t blockRoom = kBlock * 12;
    uint64_t yBits = uint64_t(s.y) << 16;
    uint64_t t = s.time;
    while (i < wordCount) {
        size_t blockEnd;
        if (size_t(out - first) + blockRoom <= outRoom) {
            blockEnd = std::min(wordCount, i + kBlock);
        } else if (size_t(out - first) + 12 <= outRoom) {
            blockEnd = i + 1;  // near the end of the room: one word at a time
        } else {
            break;
        }
        for (; i < blockEnd; ++i) {
            const uint16_t w = loadWord16(bytes + 2 * i);
            const unsigned type = w >> 12;
            // Rows, single events and time low are most of real data: handle
            // them without a branch on the type (a candidate event is always
            // written and kept only for EVT_ADDR_X).
            if (type == kAddrX) {
                // Busy rows are runs of single events: take the run in one go.
                store(out++, yBits | (w & 0x7FF) | (uint64_t((w >> 11) & 1) << 32), t);
                while (i + 1 < blockEnd) {
                    const uint16_t v = loadWord16(bytes + 2 * (i + 1));
                    if ((v >> 12) != kAddrX) break;
                    store(out++, yBits | (v & 0x7FF) | (uint64_t((v >> 11) & 1) << 32), t);
                    ++i;
                }
                continue;
            }
            if (type == kAddrY) {
                yBits = uint64_t(w & 0x7FF) << 16;
                continue;
            }
            if (type == kTimeLow) {
                const uint64_t next = s.timeHigh | (w & 0xFFF);
                if (next >= stopTime) {
                    step.reachedStop = true;
                    goto done;
                }
                t = next;
                continue;
            }
            switch (type) {
                case kVectBaseX:
                    s.baseX = w & 0x7FF;
                    s.polarity = uint8_t((w >> 11) & 1);
                    break;
                case kVect12:
                    out = emitMask<12>(w, yBits | s.baseX | (uint64_t(s.polarity) << 32), t, out);
                    s.baseX = uint16_t(s.baseX + 12);
                    break;
                case kVect8:
                    out = emitMask<8>(w, yBits | s.baseX | (uint64_t(s.polarity) << 32), t, out);
                    s.baseX = uint16_t(s.baseX + 8);
                    break;
                case kTimeHigh: {
                    const uint64_t high = nextEvt3TimeHigh(s.timeHigh, w & 0xFFF);
                    // A new period starts at its first microsecond until its
                    // TIME_LOW comes; a repeated TIME_HIGH keeps the time.
                    const uint64_t next = high == s.timeHigh ? t : high;
                    if (next >= stopTime) {
                        step.reachedStop = true;
                        goto done;
                    }
                    s.timeHigh = high;
                    t = next;
                    break;
                }
                case kExtTrigger:
                    if (triggers) {
                        triggers->push_back(
                            {EventTriggerIn(int16_t((w >> 8) & 0xF), int16_t(w & 1), t),
                             eventBase + uint64_t(out - first)});
                    }
                    break;
                case kContinued4:
                case kOthers:
                case kContinued12:
                    break;
                default:
                    ++corruptWords;
                    break;  // reserved types: skipped, never fatal
            }
        }
    }
done:
    s.time = t;
    s.low = uint16_t(t & 0xFFF);  // time = timeHigh | low, so low is what t carries
    s.y = uint16_t(yBits >> 16);
    state = s;
    step.wordsConsumed = i;
    step.eventsWritten = size_t(out - first);
    return step;
}

DecodeStep decodeEvt2(const uint8_t* bytes, size_t wordCount, DecoderState& state, Event2D* out,
                      size_t outRoom, std::vector<TriggerRecord>* triggers, uint64_t eventBase,
                      uint64_t stopTime, uint64_t& corruptWords) {
    DecoderState s = state;
    Event2D* const first = out;
    Event2D* const end = out + outRoom;
    DecodeStep step;
    size_t i = 0;
    for (; i < wordCount; ++i) {
        if (out == end) break;
        const uint32_t w = loadWord32(bytes + 4 * i);
        switch (w >> 28) {
            case 0x0:
            case 0x1:
                if (s.haveTime) {
                    *out++ = Event2D(uint16_t((w >> 11) & 0x7FF), uint16_t(w & 0x7FF),
                                     uint8_t(w >> 28), s.timeHigh | ((w >> 22) & 0x3F));
                }
                break;
            case 0x8: {
                uint64_t high = s.haveTime ? nextEvt2TimeHigh(s.timeHigh, w & 0x0FFFFFFF)
                                           : uint64_t(w & 0x0FFFFFFF) << 6;
                if (high >= stopTime && s.haveTime) {
                    step.reachedStop = true;
                    goto done;
                }
                s.timeHigh = high;
                s.time = high;
                s.haveTime = true;
                break;
            }
            case 0xA:
                if (triggers && s.haveTime) {
                    triggers->push_back({EventTriggerIn(int16_t((w >> 8) & 0x1F), int16_t(w & 1),
                                                        s.timeHigh | ((w >> 22) & 0x3F)),
                                         eventBase + uint64_t(out - first)});
                }
                break;
            case 0xE:
            case 0xF:
                break;
            default:
                ++corruptWords;
                break;
        }
    }
done:
    state = s;
    step.wordsConsumed = i;
    step.eventsWritten = size_t(out - first);
    return step;
}

}  // namespace korvane

namespace korvane {

EventStream::EventStream(const uint8_t* data, uint64_t dataEnd, RawFormat format,
                         uint64_t offsetBytes, const DecoderState& state)
    : base_(data),
      available_(dataEnd),
      dataEnd_(dataEnd),
      format_(format),
      offset_(offsetBytes),
      state_(state),
      storage_(new Slot[kChunkEvents]),
      scratch_(reinterpret_cast<Event2D*>(storage_.get())) {}

EventStream::EventStream(const RawFile& file, uint64_t dataEnd, RawFormat format,
                         uint64_t offsetBytes, const DecoderState& state)
    : EventStream(nullptr, 0, format, offsetBytes, state) {
    file_ = &file;
    dataEnd_ = dataEnd;  // nothing is available until the first piece is read
}

bool EventStream::fill() {
    const uint64_t wordSize = wordSizeBytes(format_);
    if (offset_ + wordSize > dataEnd_) return false;
    if (offset_ >= baseOffset_ && offset_ + wordSize <= baseOffset_ + available_) return true;
    if (!file_) return false;
    // Pieces grow with the walk: a short window reads little, a long walk reads
    // in large pieces.
    constexpr size_t kFirstPiece = 64 * 1024, kLargestPiece = 4 << 20;
    const size_t capacity = pieceCapacity_ == 0              ? kFirstPiece
                            : pieceCapacity_ < kLargestPiece ? pieceCapacity_ * 2
                                                             : pieceCapacity_;
    if (capacity != pieceCapacity_) {
        piece_.reset(new uint8_t[capacity]);
        pieceCapacity_ = capacity;
    }
    const uint64_t want = std::min<uint64_t>(pieceCapacity_, dataEnd_ - offset_);
    const size_t got = file_->readAt(offset_, piece_.get(), size_t(want));
    base_ = piece_.get();
    baseOffset_ = offset_;
    available_ = got / wordSize * wordSize;
    if (got < want) dataEnd_ = offset_ + available_;  // the file shrank: end here
    return available_ > 0;
}

bool EventStream::next(uint64_t stopTime, const Event2D*& events, size_t& count,
                       std::vector<TriggerRecord>* triggers) {
    events = scratch_;
    count = 0;
    if (reachedStop_ || !fill()) return false;
    const uint64_t wordSize = wordSizeBytes(format_);
    const uint8_t* at = base_ + (offset_ - baseOffset_);
    const uint64_t inPiece = (baseOffset_ + available_ - offset_) / wordSize;
    // Bound one step so a word-only stretch (no events) still returns regularly.
    const uint64_t words = std::min<uint64_t>(inPiece, 1u << 20);
    DecodeStep step = format_ == RawFormat::Evt2
                          ? decodeEvt2(at, size_t(words), state_, scratch_, kChunkEvents, triggers,
                                       produced_, stopTime, corrupt_)
                          : decodeEvt3(at, size_t(words), state_, scratch_, kChunkEvents, triggers,
                                       produced_, stopTime, corrupt_);
    offset_ += step.wordsConsumed * wordSize;
    produced_ += step.eventsWritten;
    count = step.eventsWritten;
    reachedStop_ = step.reachedStop;
    return count > 0 || (!reachedStop_ && offset_ + wordSize <= dataEnd_);
}

}  // namespace korvane
