#include "korvane/file/EventDecoder.h"

#include <algorithm>
#include <cstddef>

#include "korvane/file/Evt3Words.h"
#include "korvane/file/RawFile.h"
#include "korvane/file/TimeIndex.h"
#include "korvane/file/WordScan.h"

namespace korvane {

namespace {

using namespace evt3;

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

// A vector word's mask without the positions at or beyond xLimit (rare:
// vectors without a base x in range, or beyond the sensor).
template <int kBits>
inline uint32_t maskInRange(uint32_t mask, uint16_t baseX, uint32_t xLimit,
                            uint64_t& corruptWords) {
    mask &= (1u << kBits) - 1;
    const unsigned room = baseX < xLimit ? unsigned(xLimit - baseX) : 0;
    const uint32_t kept = room >= unsigned(kBits) ? mask : mask & ((1u << room) - 1);
    corruptWords += kept != mask;
    return kept;
}

// Removes the events of [first, out) with x >= xLimit; edges appended to
// *triggers since `triggersBefore` keep their place among the kept events.
// Returns the new end. Rare: only for data beyond the sensor. One pass: the
// edges come in file order, so each is renumbered as the walk reaches it
// (counting the kept events again for every edge made a file with many
// edges and such events quadratic).
Event2D* dropBeyond(Event2D* first, Event2D* out, uint32_t xLimit,
                    std::vector<TriggerRecord>* triggers, size_t triggersBefore, uint64_t eventBase,
                    uint64_t& corruptWords) {
    const size_t n = size_t(out - first);
    size_t t = triggers ? triggersBefore : 0;
    const size_t edges = triggers ? triggers->size() : 0;
    Event2D* end = first;
    for (size_t i = 0; i <= n; ++i) {
        for (; t < edges && (*triggers)[t].eventIndex - eventBase <= i; ++t)
            (*triggers)[t].eventIndex = eventBase + uint64_t(end - first);
        if (i == n) break;
        if (first[i].x < xLimit) {
            // Whole records, padding included (zero as the decoders write it).
            std::memcpy(static_cast<void*>(end++), first + i, sizeof(Event2D));
        } else {
            ++corruptWords;
        }
    }
    for (; t < edges; ++t)  // none should lie past the events; kept where they were
        (*triggers)[t].eventIndex = eventBase + uint64_t(end - first);
    return end;
}

}  // namespace

namespace {

#if KORVANE_SCAN_SSE2
// A vector word inside a block of eight: emits its events at row `yBits`
// and time t, and moves the base, as the word walk does.
template <int kBits>
inline void blockVector(uint16_t w, uint64_t yBits, uint64_t t, uint32_t xLimit, uint16_t& baseX,
                        uint8_t polarity, uint64_t& corruptWords, Event2D*& out) {
    const uint64_t lo = yBits | baseX | (uint64_t(polarity) << 32);
    if (baseX + unsigned(kBits) <= xLimit) [[likely]] {
        out = emitMask<kBits>(w, lo, t, out);
        baseX = uint16_t(baseX + kBits);
    } else {
        out = emitMask<kBits>(maskInRange<kBits>(w, baseX, xLimit, corruptWords), lo, t, out);
        baseX = advanceBase(baseX, kBits);
    }
}

// Eight words of rows, single events, time lows and vectors (nearly all of
// real data) in one go: the row and time each word sees are found with
// prefix maxima over lane-tagged payloads, then every word writes an event
// slot and only EVT_ADDR_X words keep theirs; vector words, found by their
// lanes, emit theirs in between. False, with nothing changed, when the
// block holds another type or a time low that reaches stopTime.
template <bool kSensor>
inline bool fastBlock8(const uint8_t* p, uint64_t timeHigh, uint64_t stopTime, uint32_t xLimit,
                       uint64_t& yBits, uint64_t& t, Event2D*& out, bool& beyond, DecoderState& s,
                       uint64_t& corruptWords) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const Evt3Lanes lanes(v);
    const __m128i isY = lanes.isY, isX = lanes.isX, isLow = lanes.isLow;
    if (_mm_movemask_epi8(lanes.other()) != 0) return false;
    const int vectorMask = _mm_movemask_epi8(lanes.isVector);
    const int lowMask = _mm_movemask_epi8(isLow);
    const __m128i low = _mm_and_si128(v, _mm_set1_epi16(0x0FFF));
    // The stop is tested first: it is almost never near, so the branch
    // predicts well, where whether a block holds a time low does not.
    if (stopTime <= timeHigh + 0xFFF && lowMask != 0) {
        // Some time low may reach the stop: leave the block to the word walk.
        alignas(16) uint16_t lows[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(lows), low);
        for (int j = 0; j < 8; ++j) {
            if (((lowMask >> (2 * j)) & 1) && (timeHigh | lows[j]) >= stopTime) return false;
        }
    }
    // Lane j carries tag j + 1 above its payload, so the prefix maximum is
    // the payload of the latest row (time low) at or before it; 0: none.
    const __m128i tags = _mm_set_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    __m128i yKey = _mm_and_si128(
        isY, _mm_or_si128(_mm_slli_epi16(tags, 11), _mm_and_si128(v, _mm_set1_epi16(0x7FF))));
    // Time lows take tag j (3 bits) above their 12 bits, and -1 marks a lane
    // without one; the lanes shifted in are -1 too.
    const __m128i none = _mm_set1_epi16(-1);
    __m128i lowKey = _mm_or_si128(
        _mm_and_si128(
            isLow, _mm_or_si128(_mm_slli_epi16(_mm_sub_epi16(tags, _mm_set1_epi16(1)), 12), low)),
        _mm_andnot_si128(isLow, none));
    yKey = _mm_max_epi16(yKey, _mm_slli_si128(yKey, 2));
    lowKey =
        _mm_max_epi16(lowKey, _mm_or_si128(_mm_slli_si128(lowKey, 2), _mm_srli_si128(none, 14)));
    yKey = _mm_max_epi16(yKey, _mm_slli_si128(yKey, 4));
    lowKey =
        _mm_max_epi16(lowKey, _mm_or_si128(_mm_slli_si128(lowKey, 4), _mm_srli_si128(none, 12)));
    yKey = _mm_max_epi16(yKey, _mm_slli_si128(yKey, 8));
    lowKey =
        _mm_max_epi16(lowKey, _mm_or_si128(_mm_slli_si128(lowKey, 8), _mm_srli_si128(none, 8)));
    // Lanes before the block's first row (time low) keep the current one.
    const __m128i noY = _mm_cmpeq_epi16(yKey, _mm_setzero_si128());
    const __m128i y =
        _mm_or_si128(_mm_and_si128(noY, _mm_set1_epi16(short(yBits >> 16))),
                     _mm_andnot_si128(noY, _mm_and_si128(yKey, _mm_set1_epi16(0x7FF))));
    const __m128i noLow = _mm_cmpeq_epi16(lowKey, none);
    const __m128i lows =
        _mm_or_si128(_mm_and_si128(noLow, _mm_set1_epi16(short(t & 0xFFF))),
                     _mm_andnot_si128(noLow, _mm_and_si128(lowKey, _mm_set1_epi16(0x0FFF))));
    if constexpr (kSensor) {
        const __m128i far =
            _mm_and_si128(isX, _mm_cmpgt_epi16(_mm_and_si128(v, _mm_set1_epi16(0x7FF)),
                                               _mm_set1_epi16(short(xLimit - 1))));
        beyond = beyond || _mm_movemask_epi8(far) != 0;
    }
    // Each lane's whole event, built in registers as the two 64-bit halves
    // store() writes (x | y << 16 | p << 32, then the time): one 16-byte
    // store a lane instead of assembling them one by one.
    const __m128i zero = _mm_setzero_si128();
    const __m128i x = _mm_and_si128(v, _mm_set1_epi16(0x7FF));
    const __m128i pol = _mm_and_si128(_mm_srli_epi16(v, 11), _mm_set1_epi16(1));
    const __m128i xyLo = _mm_unpacklo_epi16(x, y), xyHi = _mm_unpackhi_epi16(x, y);
    const __m128i pLo = _mm_unpacklo_epi16(pol, zero), pHi = _mm_unpackhi_epi16(pol, zero);
    const __m128i lowLo = _mm_unpacklo_epi16(lows, zero), lowHi = _mm_unpackhi_epi16(lows, zero);
    const __m128i high = _mm_set1_epi64x(int64_t(timeHigh));
    const __m128i head[4] = {_mm_unpacklo_epi32(xyLo, pLo), _mm_unpackhi_epi32(xyLo, pLo),
                             _mm_unpacklo_epi32(xyHi, pHi), _mm_unpackhi_epi32(xyHi, pHi)};
    const __m128i time[4] = {_mm_or_si128(high, _mm_unpacklo_epi32(lowLo, zero)),
                             _mm_or_si128(high, _mm_unpackhi_epi32(lowLo, zero)),
                             _mm_or_si128(high, _mm_unpacklo_epi32(lowHi, zero)),
                             _mm_or_si128(high, _mm_unpackhi_epi32(lowHi, zero))};
    __m128i events[8];
    for (int k = 0; k < 4; ++k) {
        events[2 * k] = _mm_unpacklo_epi64(head[k], time[k]);
        events[2 * k + 1] = _mm_unpackhi_epi64(head[k], time[k]);
    }
    const int xMask = _mm_movemask_epi8(isX);
    if (vectorMask == 0) {
        for (int j = 0; j < 8; ++j) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), events[j]);
            out += (xMask >> (2 * j)) & 1;
        }
    } else {
        alignas(16) uint16_t words[8], rows[8], lowOf[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(words), v);
        _mm_store_si128(reinterpret_cast<__m128i*>(rows), y);
        _mm_store_si128(reinterpret_cast<__m128i*>(lowOf), lows);
        for (int j = 0; j < 8; ++j) {
            const uint16_t w = words[j];
            if ((vectorMask >> (2 * j)) & 1) {
                const uint64_t rowBits = uint64_t(rows[j]) << 16;
                const uint64_t at = timeHigh | lowOf[j];
                if (typeOf(w) == kVectBaseX) {
                    s.baseX = payloadX(w);
                    s.polarity = payloadPolarity(w);
                } else if (typeOf(w) == kVect12) {
                    blockVector<12>(w, rowBits, at, xLimit, s.baseX, s.polarity, corruptWords, out);
                } else {
                    blockVector<8>(w, rowBits, at, xLimit, s.baseX, s.polarity, corruptWords, out);
                }
                continue;
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), events[j]);
            out += (xMask >> (2 * j)) & 1;
        }
    }
    yBits = uint64_t(uint16_t(_mm_extract_epi16(y, 7))) << 16;
    t = timeHigh | uint16_t(_mm_extract_epi16(lows, 7));
    return true;
}
#endif
}  // namespace

namespace {
// kSensor: events may lie beyond xLimit (a sensor narrower than the
// address range); without it the check costs nothing.
template <bool kSensor>
DecodeStep decodeEvt3Impl(const uint8_t* bytes, size_t wordCount, DecoderState& state, Event2D* out,
                          size_t outRoom, std::vector<TriggerRecord>* triggers, uint64_t eventBase,
                          uint64_t stopTime, uint64_t& corruptWords, uint32_t xLimit) {
    xLimit = std::min(xLimit, kAddressRange);
    const size_t triggersBefore = triggers ? triggers->size() : 0;
    bool beyond = false;  // a single event lay beyond the sensor (bad data only)
    DecoderState s = state;
    Event2D* const first = out;
    DecodeStep step;
    size_t i = 0;
    if (!s.haveTime) {
        // Before the first TIME_HIGH nothing has a time: walk the state only.
        // That TIME_HIGH sets the time outright; no stop before it.
        while (i < wordCount) {
            const uint16_t w = loadWord16(bytes + 2 * i++);
            corruptWords += isReserved(typeOf(w));
            applyWord(s, w);
            if (s.haveTime) break;
        }
    }
    // Vector words write 12 events before advancing: keep room for them.
    if (outRoom < 12) {
        state = s;
        step.wordsConsumed = i;
        return step;
    }
    // Room is checked once per run of words: each word writes at most 12, so
    // a run takes as many words as the room left holds for certain. Long
    // runs matter: the end of each one is a branch the predictor misses.
    uint64_t yBits = uint64_t(s.y) << 16;
    uint64_t t = s.time;
    [[maybe_unused]] size_t wordWalkUntil = 0;
    while (i < wordCount) {
        const size_t runWords = (outRoom - size_t(out - first)) / 12;
        if (runWords == 0) break;
        const size_t blockEnd = i + std::min(runWords, wordCount - i);
        for (; i < blockEnd; ++i) {
#if KORVANE_SCAN_SSE2
            // Whole blocks of rows, events and time lows; after a block with
            // anything else (vectors, time highs) the next 32 words go
            // word by word before blocks are tried again.
            if (i >= wordWalkUntil) {
                while (i + 8 <= blockEnd &&
                       fastBlock8<kSensor>(bytes + 2 * i, s.timeHigh, stopTime, xLimit, yBits, t,
                                           out, beyond, s, corruptWords)) {
                    i += 8;
                }
                if (i >= blockEnd) break;
                wordWalkUntil = i + 32;
            }
#endif
            const uint16_t w = loadWord16(bytes + 2 * i);
            const unsigned type = typeOf(w);
            // Rows, single events and time low are most of real data: take
            // them before the general switch.
            if (type == kAddrX) {
                // Busy rows are runs of single events: take the run in one go.
                const uint32_t x = payloadX(w);
                if (kSensor && x >= xLimit) [[unlikely]]
                    beyond = true;
                store(out++, yBits | x | (uint64_t(payloadPolarity(w)) << 32), t);
                while (i + 1 < blockEnd) {
                    const uint16_t v = loadWord16(bytes + 2 * (i + 1));
                    if (typeOf(v) != kAddrX) break;
                    const uint32_t vx = payloadX(v);
                    if (kSensor && vx >= xLimit) [[unlikely]]
                        beyond = true;
                    store(out++, yBits | vx | (uint64_t(payloadPolarity(v)) << 32), t);
                    ++i;
                }
                continue;
            }
            if (type == kAddrY) {
                yBits = uint64_t(w & 0x7FF) << 16;
                continue;
            }
            if (type == kTimeLow) {
                const uint64_t next = timeAfterLow(s, w);
                if (next >= stopTime) {
                    step.reachedStop = true;
                    goto done;
                }
                t = next;
                continue;
            }
            switch (type) {
                case kVectBaseX:
                    s.baseX = payloadX(w);
                    s.polarity = payloadPolarity(w);
                    break;
                case kVect12:
                    // Inside the range the base cannot saturate: add directly.
                    if (s.baseX + 12u <= xLimit) [[likely]] {
                        out =
                            emitMask<12>(w, yBits | s.baseX | (uint64_t(s.polarity) << 32), t, out);
                        s.baseX = uint16_t(s.baseX + 12);
                    } else {
                        out = emitMask<12>(maskInRange<12>(w, s.baseX, xLimit, corruptWords),
                                           yBits | s.baseX | (uint64_t(s.polarity) << 32), t, out);
                        s.baseX = advanceBase(s.baseX, 12);
                    }
                    break;
                case kVect8:
                    if (s.baseX + 8u <= xLimit) [[likely]] {
                        out =
                            emitMask<8>(w, yBits | s.baseX | (uint64_t(s.polarity) << 32), t, out);
                        s.baseX = uint16_t(s.baseX + 8);
                    } else {
                        out = emitMask<8>(maskInRange<8>(w, s.baseX, xLimit, corruptWords),
                                          yBits | s.baseX | (uint64_t(s.polarity) << 32), t, out);
                        s.baseX = advanceBase(s.baseX, 8);
                    }
                    break;
                case kTimeHigh: {
                    s.time = t;
                    const uint64_t high = timeHighAfter(s, w);
                    const uint64_t next = timeAfterHigh(s, high);
                    if (next >= stopTime) {
                        step.reachedStop = true;
                        goto done;
                    }
                    setTimeHigh(s, high, next);
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
    if (kSensor && beyond) {
        out = dropBeyond(first, out, xLimit, triggers, triggersBefore, eventBase, corruptWords);
    }
    setTimeLow(s, t);  // time = timeHigh | low, so low is what t carries
    s.y = uint16_t(yBits >> 16);
    state = s;
    step.wordsConsumed = i;
    step.eventsWritten = size_t(out - first);
    return step;
}
}  // namespace

DecodeStep decodeEvt3(const uint8_t* bytes, size_t wordCount, DecoderState& state, Event2D* out,
                      size_t outRoom, std::vector<TriggerRecord>* triggers, uint64_t eventBase,
                      uint64_t stopTime, uint64_t& corruptWords, uint32_t xLimit) {
    return xLimit >= kAddressRange
               ? decodeEvt3Impl<false>(bytes, wordCount, state, out, outRoom, triggers, eventBase,
                                       stopTime, corruptWords, kAddressRange)
               : decodeEvt3Impl<true>(bytes, wordCount, state, out, outRoom, triggers, eventBase,
                                      stopTime, corruptWords, xLimit);
}

namespace {
// kSensor: events may lie beyond xLimit (a sensor narrower than the
// address range); without it the check costs nothing.
template <bool kSensor>
DecodeStep decodeEvt2Impl(const uint8_t* bytes, size_t wordCount, DecoderState& state, Event2D* out,
                          size_t outRoom, std::vector<TriggerRecord>* triggers, uint64_t eventBase,
                          uint64_t stopTime, uint64_t& corruptWords, uint32_t xLimit) {
    DecoderState s = state;
    Event2D* const first = out;
    Event2D* const end = out + outRoom;
    DecodeStep step;
    const size_t triggersBefore = kSensor && triggers ? triggers->size() : 0;
    bool beyond = false;
    // Kept in registers; the state is written back once.
    uint64_t timeHigh = s.timeHigh;
    bool haveTime = s.haveTime;
    size_t i = 0;
    for (; i < wordCount; ++i) {
        if (out == end) break;
        const uint32_t w = loadWord32(bytes + 4 * i);
        switch (w >> 28) {
            case 0x0:
            case 0x1:
                if (haveTime) {
                    if constexpr (kSensor) {
                        if (((w >> 11) & 0x7FF) >= xLimit) [[unlikely]]
                            beyond = true;
                    }
                    *out++ = Event2D(uint16_t((w >> 11) & 0x7FF), uint16_t(w & 0x7FF),
                                     uint8_t(w >> 28), timeHigh | ((w >> 22) & 0x3F));
                }
                break;
            case 0x8: {
                s.timeHigh = timeHigh;
                s.haveTime = haveTime;
                const uint64_t high = evt2::timeHighAfter(s, w);
                if (high >= stopTime && haveTime) {
                    step.reachedStop = true;
                    goto done;
                }
                timeHigh = high;
                haveTime = true;
                break;
            }
            case 0xA:
                if (triggers && haveTime) {
                    triggers->push_back({EventTriggerIn(int16_t((w >> 8) & 0x1F), int16_t(w & 1),
                                                        timeHigh | ((w >> 22) & 0x3F)),
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
    if (kSensor && beyond) {
        out = dropBeyond(first, out, xLimit, triggers, triggersBefore, eventBase, corruptWords);
    }
    s.timeHigh = timeHigh;
    s.haveTime = haveTime;
    if (haveTime) s.time = timeHigh;
    state = s;
    step.wordsConsumed = i;
    step.eventsWritten = size_t(out - first);
    return step;
}
}  // namespace

DecodeStep decodeEvt2(const uint8_t* bytes, size_t wordCount, DecoderState& state, Event2D* out,
                      size_t outRoom, std::vector<TriggerRecord>* triggers, uint64_t eventBase,
                      uint64_t stopTime, uint64_t& corruptWords, uint32_t xLimit) {
    return xLimit >= kAddressRange
               ? decodeEvt2Impl<false>(bytes, wordCount, state, out, outRoom, triggers, eventBase,
                                       stopTime, corruptWords, kAddressRange)
               : decodeEvt2Impl<true>(bytes, wordCount, state, out, outRoom, triggers, eventBase,
                                      stopTime, corruptWords, xLimit);
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

void EventStream::adoptBuffers(Buffers&& buffers) {
    if (buffers.storage) {
        storage_ = std::move(buffers.storage);
        scratch_ = reinterpret_cast<Event2D*>(storage_.get());
    }
    if (buffers.piece && !base_) {  // file mode, nothing read yet
        piece_ = std::move(buffers.piece);
        pieceCapacity_ = buffers.pieceCapacity;
    }
}

EventStream::Buffers EventStream::takeBuffers() {
    Buffers out{std::move(storage_), std::move(piece_), pieceCapacity_};
    scratch_ = nullptr;
    base_ = nullptr;
    available_ = 0;
    pieceCapacity_ = 0;
    return out;
}

void EventStream::setFirstPiece(uint64_t bytes) {
    nextPiece_ = size_t(std::clamp<uint64_t>(bytes, kFirstPiece, kLargestPiece));
}

bool EventStream::fill() {
    const uint64_t wordSize = wordSizeBytes(format_);
    if (offset_ + wordSize > dataEnd_) return false;
    if (offset_ >= baseOffset_ && offset_ + wordSize <= baseOffset_ + available_) return true;
    if (!file_) return false;
    // Pieces grow with the walk: a short window reads little, a long walk reads
    // in large pieces. A buffer kept from an earlier stream is reused as it is.
    const size_t size = nextPiece_ == 0 ? kFirstPiece : nextPiece_;
    nextPiece_ = std::min(size * 2, kLargestPiece);
    if (pieceCapacity_ < size) {
        pieceCapacity_ = 0;
        piece_.reset();  // the old one goes before the new one is asked for
        piece_.reset(new uint8_t[size]);
        pieceCapacity_ = size;
    }
    const uint64_t want = std::min<uint64_t>(size, dataEnd_ - offset_);
    const size_t got = file_->readAt(offset_, piece_.get(), size_t(want));
    base_ = piece_.get();
    baseOffset_ = offset_;
    available_ = got / wordSize * wordSize;
    if (got < want) dataEnd_ = offset_ + available_;  // the file shrank: end here
    return available_ > 0;
}

bool EventStream::findTimeBelow(uint64_t stopTime) {
    const uint64_t wordSize = wordSizeBytes(format_);
    const auto& entries = index_->entries();
    size_t k = index_->stretchAt(offset_);
    while (k < entries.size()) {
        if (index_->floorFrom(k) >= stopTime) return false;
        const uint64_t stretchEnd =
            std::min(dataEnd_, k + 1 < entries.size() ? entries[k + 1].offsetBytes : dataEnd_);
        if (entries[k].minTime < stopTime) {
            while (offset_ + wordSize <= stretchEnd && fill()) {
                const uint8_t* at = base_ + (offset_ - baseOffset_);
                const uint64_t words =
                    std::min(baseOffset_ + available_, stretchEnd) > offset_
                        ? (std::min(baseOffset_ + available_, stretchEnd) - offset_) / wordSize
                        : 0;
                if (words == 0) break;
                const size_t found = format_ == RawFormat::Evt2
                                         ? evt2::findTimeBelow(at, size_t(words), state_, stopTime)
                                         : evt3::findTimeBelow(at, size_t(words), state_, stopTime);
                offset_ += found * wordSize;
                if (found < words) return true;
            }
        }
        if (++k >= entries.size() || entries[k].offsetBytes + wordSize > dataEnd_) return false;
        offset_ = entries[k].offsetBytes;
        state_ = entries[k].state;
        // Events right at a checkpoint carry its time.
        if (state_.haveTime && state_.time < stopTime) return true;
    }
    return false;
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
                                       produced_, stopTime, corrupt_, xLimit_)
                          : decodeEvt3(at, size_t(words), state_, scratch_, kChunkEvents, triggers,
                                       produced_, stopTime, corrupt_, xLimit_);
    offset_ += step.wordsConsumed * wordSize;
    count = step.eventsWritten;
    produced_ += count;
    reachedStop_ = step.reachedStop;
    if (reachedStop_ && index_) {
        const uint64_t stopOffset = offset_;
        const DecoderState stopState = state_;
        if (findTimeBelow(stopTime)) {
            reachedStop_ = false;
            resumed_ = true;
        } else {
            offset_ = stopOffset;  // the stop stays where the decoder made it
            state_ = stopState;
        }
    }
    return count > 0 || (!reachedStop_ && offset_ + wordSize <= dataEnd_);
}

}  // namespace korvane
