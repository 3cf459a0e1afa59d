#pragma once

// State walks over word streams that emit no events: the index scan and the
// window search use them. EVT 3.0 walks take 16 words at a time with SSE2
// where the target has it and fall back to a portable word-by-word walk
// elsewhere; both follow the rules of Evt3Words.h exactly. Defining
// KORVANE_SCALAR_SCAN before including this header forces the portable walk
// (tests compare the two). Pure inline functions, any thread.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "korvane/file/EventDecoder.h"
#include "korvane/file/Evt3Words.h"

#if (defined(__SSE2__) || defined(_M_X64)) && !defined(KORVANE_SCALAR_SCAN)
#include <emmintrin.h>
#define KORVANE_SCAN_SSE2 1
#else
#define KORVANE_SCAN_SSE2 0
#endif

namespace korvane {

// Set bits of a word. std::popcount is a library call on x86-64 built for
// every such processor (no POPCNT instruction assumed): a fifth of a check's
// time went there.
inline unsigned countBits(uint32_t x) {
    x = x - ((x >> 1) & 0x55555555u);
    x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
    x = (x + (x >> 4)) & 0x0F0F0F0Fu;
    return (x * 0x01010101u) >> 24;
}

// What a walk saw besides the state: the lowest and highest time any word
// set, whether a word that can carry events came after the first TIME_HIGH,
// and the most events the words can give: every single event and every set
// bit of a vector's mask, whatever the time or the sensor's width (a decode
// of the same words gives exactly that many from well-formed data, fewer
// where it drops some).
struct ScanStats {
    uint64_t minTime = std::numeric_limits<uint64_t>::max();
    uint64_t maxTime = 0;
    bool eventWords = false;
    uint64_t eventBound = 0;
    void sawTime(uint64_t t) {
        minTime = std::min(minTime, t);
        maxTime = std::max(maxTime, t);
    }
};

namespace evt2 {

inline uint64_t timeHighAfter(const DecoderState& s, uint32_t w) {
    const uint32_t high28 = w & 0x0FFFFFFF;
    constexpr uint64_t kLoopMask = (uint64_t(1) << 34) - 1;
    if (!s.haveTime) return (s.timeHigh & ~kLoopMask) | (uint64_t(high28) << 6);
    return nextEvt2TimeHigh(s.timeHigh, high28);
}

inline void walk(const uint8_t* bytes, size_t words, DecoderState& s, ScanStats& stats) {
    for (size_t i = 0; i < words; ++i) {
        const uint32_t w = loadWord32(bytes + 4 * i);
        const unsigned type = w >> 28;
        if (type == 0x8) {
            s.timeHigh = timeHighAfter(s, w);
            s.time = s.timeHigh;
            s.haveTime = true;
            stats.sawTime(s.time);
        } else if (type <= 0x1) {
            stats.eventWords |= s.haveTime;
            ++stats.eventBound;
        }
    }
}

// Index of the first TIME_HIGH that sets a time below `limit` (the state is
// left just before it), or `words` with the state after all of them.
inline size_t findTimeBelow(const uint8_t* bytes, size_t words, DecoderState& s, uint64_t limit) {
    for (size_t i = 0; i < words; ++i) {
        const uint32_t w = loadWord32(bytes + 4 * i);
        if ((w >> 28) != 0x8) continue;
        const uint64_t high = timeHighAfter(s, w);
        if (high < limit) return i;
        s.timeHigh = high;
        s.time = high;
        s.haveTime = true;
    }
    return words;
}

}  // namespace evt2

namespace evt3 {

// Word by word: the reference for the block walk.
inline void walkWords(const uint8_t* bytes, size_t words, DecoderState& s, ScanStats& stats) {
    for (size_t i = 0; i < words; ++i) {
        const uint16_t w = loadWord16(bytes + 2 * i);
        const unsigned type = typeOf(w);
        if (applyWord(s, w)) {
            stats.sawTime(s.time);
        } else if (type == kAddrX || type == kVect12 || type == kVect8) {
            stats.eventWords |= s.haveTime;
            stats.eventBound +=
                type == kAddrX ? 1 : countBits(w & (type == kVect12 ? 0xFFFu : 0xFFu));
        }
    }
}

#if KORVANE_SCAN_SSE2
inline namespace sse2 {

// Eight EVT 3.0 words by type, as lanes of all ones: rows, single events,
// time lows and vector words (VECT_BASE_X, VECT_12, VECT_8: types 3 to 5),
// the words nearly all real data is made of. The decoder's and the check's
// blocks of eight both start here.
struct Evt3Lanes {
    __m128i isY, isX, isLow, isVector;
    explicit Evt3Lanes(__m128i v) {
        using namespace evt3;
        const __m128i type = _mm_srli_epi16(v, 12);
        isY = _mm_cmpeq_epi16(type, _mm_setzero_si128());
        isX = _mm_cmpeq_epi16(type, _mm_set1_epi16(short(kAddrX)));
        isLow = _mm_cmpeq_epi16(type, _mm_set1_epi16(short(kTimeLow)));
        isVector = _mm_and_si128(_mm_cmpgt_epi16(type, _mm_set1_epi16(short(kAddrX))),
                                 _mm_cmplt_epi16(type, _mm_set1_epi16(short(kTimeLow))));
    }
    // Lanes of any other type.
    __m128i other() const {
        return _mm_andnot_si128(_mm_or_si128(_mm_or_si128(isY, isX), _mm_or_si128(isLow, isVector)),
                                _mm_set1_epi16(-1));
    }
};

inline uint32_t typeMask(__m128i ta, __m128i tb, unsigned type) {
    const __m128i v = _mm_set1_epi16(short(type));
    return uint32_t(
        _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(ta, v), _mm_cmpeq_epi16(tb, v))));
}

// Highest word index set in a mask (bit i: word i of the block).
inline unsigned lastWord(uint32_t mask) {
    return 31u - unsigned(__builtin_clz(mask));
}

// Set bits of each 16-bit lane, as bytes (each at most 8).
inline __m128i laneBitCounts(__m128i x) {
    x = _mm_sub_epi16(x, _mm_and_si128(_mm_srli_epi16(x, 1), _mm_set1_epi16(0x5555)));
    x = _mm_add_epi16(_mm_and_si128(x, _mm_set1_epi16(0x3333)),
                      _mm_and_si128(_mm_srli_epi16(x, 2), _mm_set1_epi16(0x3333)));
    return _mm_and_si128(_mm_add_epi16(x, _mm_srli_epi16(x, 4)), _mm_set1_epi16(0x0F0F));
}

// The events blocks' single-event and vector words can give, summed in
// lanes and reduced only now and then: the index scan takes every block
// through here, and a sum per block cost it a fifth of its speed.
class BoundLanes {
public:
    // isX: the block's EVT_ADDR_X words as bytes (0xFF each, packed).
    void add(__m128i a, __m128i b, __m128i ta, __m128i tb, __m128i isX, bool vectors) {
        singles_ = _mm_sub_epi8(singles_, isX);  // one per single event, per byte
        if (++blocks_ == 255) flushSingles();    // before a byte could wrap
        if (vectors) {
            // A lane's mask: 12 bits of a VECT_12, 8 of a VECT_8, none elsewhere.
            auto masks = [](__m128i w, __m128i t) {
                const __m128i m12 = _mm_and_si128(
                    _mm_cmpeq_epi16(t, _mm_set1_epi16(short(kVect12))), _mm_set1_epi16(0x0FFF));
                const __m128i m8 = _mm_and_si128(_mm_cmpeq_epi16(t, _mm_set1_epi16(short(kVect8))),
                                                 _mm_set1_epi16(0x00FF));
                return _mm_and_si128(w, _mm_or_si128(m12, m8));
            };
            const __m128i bits =
                _mm_add_epi8(laneBitCounts(masks(a, ta)), laneBitCounts(masks(b, tb)));
            sum_ = _mm_add_epi64(sum_, _mm_sad_epu8(bits, _mm_setzero_si128()));
        }
    }
    void flush(ScanStats& stats) {
        flushSingles();
        alignas(16) uint64_t halves[2];
        _mm_store_si128(reinterpret_cast<__m128i*>(halves), sum_);
        stats.eventBound += halves[0] + halves[1];
        sum_ = _mm_setzero_si128();
    }

private:
    void flushSingles() {
        sum_ = _mm_add_epi64(sum_, _mm_sad_epu8(singles_, _mm_setzero_si128()));
        singles_ = _mm_setzero_si128();
        blocks_ = 0;
    }
    __m128i singles_ = _mm_setzero_si128();
    __m128i sum_ = _mm_setzero_si128();
    unsigned blocks_ = 0;
};

// TIME_LOW payloads of the blocks walked under one time high, kept as lanes
// and reduced only when the time high changes or the walk ends. Payloads are
// 12 bits, so signed 16-bit lanes compare them right.
class LowLanes {
public:
    void add(__m128i a, __m128i b, __m128i ta, __m128i tb) {
        const __m128i low = _mm_set1_epi16(short(kTimeLow));
        const __m128i payload = _mm_set1_epi16(0x0FFF);
        const __m128i ma = _mm_cmpeq_epi16(ta, low), mb = _mm_cmpeq_epi16(tb, low);
        const __m128i pa = _mm_and_si128(ma, _mm_and_si128(a, payload));  // 0 elsewhere
        const __m128i pb = _mm_and_si128(mb, _mm_and_si128(b, payload));
        // Elsewhere the lanes hold 0x7FFF for the minimum (0 is a fine maximum).
        min_ = _mm_min_epi16(min_, _mm_min_epi16(_mm_or_si128(pa, _mm_andnot_si128(ma, none())),
                                                 _mm_or_si128(pb, _mm_andnot_si128(mb, none()))));
        max_ = _mm_max_epi16(max_, _mm_max_epi16(pa, pb));
        any_ = true;
    }
    // Hands the lowest and highest time to `stats` under the given time high.
    void flush(uint64_t timeHigh, ScanStats& stats) {
        if (!any_) return;
        stats.sawTime(timeHigh | uint64_t(reduce(min_, true)));
        stats.sawTime(timeHigh | uint64_t(reduce(max_, false)));
        min_ = none();
        max_ = _mm_setzero_si128();
        any_ = false;
    }

private:
    static __m128i none() { return _mm_set1_epi16(0x7FFF); }
    static uint16_t reduce(__m128i m, bool lowest) {
        auto pick = [lowest](__m128i x, __m128i y) {
            return lowest ? _mm_min_epi16(x, y) : _mm_max_epi16(x, y);
        };
        m = pick(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(1, 0, 3, 2)));
        m = pick(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 3, 0, 1)));
        m = pick(m, _mm_shufflelo_epi16(m, _MM_SHUFFLE(2, 3, 0, 1)));
        return uint16_t(_mm_cvtsi128_si32(m) & 0xFFFF);
    }
    __m128i min_ = none();
    __m128i max_ = _mm_setzero_si128();
    bool any_ = false;
};

// True when some word of the block sets a time below `limit`.
inline bool blockSetsTimeBelow(const uint8_t* p, const DecoderState& s, uint64_t limit) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i ta = _mm_srli_epi16(a, 12);
    const __m128i tb = _mm_srli_epi16(b, 12);
    if (typeMask(ta, tb, kTimeHigh)) {
        DecoderState probe = s;
        ScanStats probeStats;
        walkWords(p, 16, probe, probeStats);
        return probeStats.minTime < limit;
    }
    if (!typeMask(ta, tb, kTimeLow)) return false;
    LowLanes lanes;
    lanes.add(a, b, ta, tb);
    ScanStats blockStats;
    lanes.flush(s.timeHigh, blockStats);
    return blockStats.minTime < limit;
}

// One block of 16 words. Only the last word of each kind matters unless a
// TIME_HIGH is present (its rule depends on the one before), so that case
// takes the word-by-word walk.
inline void walkBlock(const uint8_t* p, DecoderState& s, ScanStats& stats, LowLanes& lanes,
                      BoundLanes& bounds) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i ta = _mm_srli_epi16(a, 12);
    const __m128i tb = _mm_srli_epi16(b, 12);
    if (typeMask(ta, tb, kTimeHigh)) {
        lanes.flush(s.timeHigh, stats);
        walkWords(p, 16, s, stats);
        return;
    }
    if (uint32_t m = typeMask(ta, tb, kTimeLow)) {
        lanes.add(a, b, ta, tb);
        setTimeLow(s, timeAfterLow(s, loadWord16(p + 2 * lastWord(m))));
    }
    if (uint32_t m = typeMask(ta, tb, kAddrY)) s.y = loadWord16(p + 2 * lastWord(m)) & 0x7FF;
    uint32_t m12 = typeMask(ta, tb, kVect12);
    uint32_t m8 = typeMask(ta, tb, kVect8);
    const __m128i x = _mm_set1_epi16(short(kAddrX));
    const __m128i isX = _mm_packs_epi16(_mm_cmpeq_epi16(ta, x), _mm_cmpeq_epi16(tb, x));
    if (!stats.eventWords && s.haveTime && (m12 | m8 | uint32_t(_mm_movemask_epi8(isX)))) {
        stats.eventWords = true;
    }
    bounds.add(a, b, ta, tb, isX, (m12 | m8) != 0);
    if (uint32_t mb = typeMask(ta, tb, kVectBaseX)) {
        const unsigned j = lastWord(mb);
        const uint16_t w = loadWord16(p + 2 * j);
        s.baseX = payloadX(w);
        s.polarity = payloadPolarity(w);
        const uint32_t after = ~((2u << j) - 1u);
        m12 &= after;
        m8 &= after;
    }
    if (m12 | m8) {
        // Saturating once equals saturating per word: the base only grows.
        s.baseX = advanceBase(s.baseX, 12 * countBits(m12) + 8 * countBits(m8));
    }
}

#else
inline namespace portable {

class LowLanes {
public:
    void flush(uint64_t, ScanStats&) {}
};

class BoundLanes {
public:
    void flush(ScanStats&) {}
};

inline bool blockSetsTimeBelow(const uint8_t* p, const DecoderState& s, uint64_t limit) {
    DecoderState probe = s;
    ScanStats probeStats;
    walkWords(p, 16, probe, probeStats);
    return probeStats.minTime < limit;
}

inline void walkBlock(const uint8_t* p, DecoderState& s, ScanStats& stats, LowLanes&, BoundLanes&) {
    walkWords(p, 16, s, stats);
}

#endif

inline void walk(const uint8_t* bytes, size_t words, DecoderState& s, ScanStats& stats) {
    LowLanes lanes;
    BoundLanes bounds;
    size_t i = 0;
    for (; i + 16 <= words; i += 16)
        walkBlock(bytes + 2 * i, s, stats, lanes, bounds);
    lanes.flush(s.timeHigh, stats);
    bounds.flush(stats);
    walkWords(bytes + 2 * i, words - i, s, stats);
}

// Index of the first word that sets a time below `limit` (the state is left
// just before it), or `words` with the state after all of them.
inline size_t findTimeBelow(const uint8_t* bytes, size_t words, DecoderState& s, uint64_t limit) {
    ScanStats ignored;
    LowLanes lanes;
    BoundLanes bounds;
    size_t i = 0;
    while (i + 16 <= words && !blockSetsTimeBelow(bytes + 2 * i, s, limit)) {
        walkBlock(bytes + 2 * i, s, ignored, lanes, bounds);
        i += 16;
    }
    for (; i < words; ++i) {
        DecoderState next = s;
        if (applyWord(next, loadWord16(bytes + 2 * i)) && next.time < limit) return i;
        s = next;
    }
    return words;
}

}  // namespace sse2 or portable
}  // namespace evt3
}  // namespace korvane
