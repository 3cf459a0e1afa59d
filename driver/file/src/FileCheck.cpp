#include "korvane/file/FileCheck.h"

#include <algorithm>
#include <bit>

#include "korvane/file/Evt3Words.h"
#include "korvane/file/WordScan.h"

namespace korvane {

void WordCheck::append(const WordCheck& next) {
    words += next.words;
    for (int i = 0; i < 16; ++i)
        typeCounts[i] += next.typeCounts[i];
    reservedWords += next.reservedWords;
    events += next.events;
    eventsBeforeTime += next.eventsBeforeTime;
    // Vectors before the part's first base lack one only if nothing earlier set it.
    if (!sawBase) vectorsWithoutBase += next.vectorsBeforeBase;
    vectorsWithoutBase += next.vectorsWithoutBase;
    sawBase = sawBase || next.sawBase;
    vectorEventsBeyondRange += next.vectorEventsBeyondRange;
    eventsOutsideGeometry += next.eventsOutsideGeometry;
    timeBackSteps += next.timeBackSteps;
    timeBackBeyondJitter += next.timeBackBeyondJitter;
    timeBackMax_us = std::max(timeBackMax_us, next.timeBackMax_us);
    timeLoops += next.timeLoops;
}

namespace {

// stepShift: the bits of time below TIME_HIGH; loopShift: the bits a loop spans.
void timeMoved(WordCheck& c, const DecoderState& before, const DecoderState& after,
               unsigned stepShift, unsigned loopShift) {
    if (!before.haveTime) return;
    if (after.time < before.time) {
        ++c.timeBackSteps;
        c.timeBackMax_us = std::max(c.timeBackMax_us, before.time - after.time);
        // A repeated older TIME_HIGH (or a TIME_LOW under the same one) is
        // camera jitter; a TIME_HIGH further back is time really going back.
        const uint64_t stepsBack =
            after.timeHigh < before.timeHigh ? (before.timeHigh - after.timeHigh) >> stepShift : 0;
        c.timeBackBeyondJitter += stepsBack > kTimeHighJitterSteps;
    }
    const uint64_t loopsBefore = before.timeHigh >> loopShift;
    const uint64_t loopsAfter = after.timeHigh >> loopShift;
    if (loopsAfter > loopsBefore) c.timeLoops += loopsAfter - loopsBefore;
}

#if KORVANE_SCAN_SSE2
// Eight words at a time of rows inside the geometry, single events,
// vectors inside it and time lows that never go back (nearly all of real
// data), where the word walk's branch on each word's type mispredicts on
// every change of type. Lanes count rows, single events, time lows and
// single events outside the geometry, summed into totals now and then. The
// row and the time low the blocks reach are brought into the state only
// when the walk takes over (end()); vectors move the state's base as they
// come.
class BlockCheck {
public:
    BlockCheck(uint32_t width, uint32_t height)
        : widthLast_(lastInside(width)),
          heightLast_(lastInside(height)),
          vectorLimit_(std::min<uint32_t>(width, evt3::kMaxX + 1u)) {}

    // A run of blocks starts from this state: time, time high and row
    // known, the row inside the geometry, the time under its time high.
    static bool canStart(const DecoderState& s, bool rowOutside) {
        return s.haveTime && !rowOutside && (s.time ^ s.timeHigh) <= 0xFFF;
    }
    void begin(const DecoderState& s) {
        low_ = _mm_set1_epi16(short(s.time & 0xFFF));
        rowBlock_ = nullptr;
    }

    // Takes the block at p, or returns false with nothing changed.
    bool take(const uint8_t* p, DecoderState& s, WordCheck& c) {
        using namespace evt3;
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const Evt3Lanes lanes(v);
        const __m128i isY = lanes.isY, isX = lanes.isX, isLow = lanes.isLow;
        const __m128i isVector = lanes.isVector;
        const __m128i address = _mm_and_si128(v, _mm_set1_epi16(0x7FF));
        // Each time low at or past every one before it and the one the
        // block starts at (one time high throughout): none went back.
        const __m128i low = _mm_and_si128(isLow, _mm_and_si128(v, _mm_set1_epi16(0x0FFF)));
        __m128i upTo = _mm_max_epi16(low, _mm_slli_si128(low, 2));
        upTo = _mm_max_epi16(upTo, _mm_slli_si128(upTo, 4));
        upTo = _mm_max_epi16(upTo, _mm_slli_si128(upTo, 8));
        const __m128i before = _mm_max_epi16(_mm_slli_si128(upTo, 2), low_);
        const __m128i bad = _mm_or_si128(
            lanes.other(), _mm_or_si128(_mm_and_si128(isY, _mm_cmpgt_epi16(address, heightLast_)),
                                        _mm_and_si128(isLow, _mm_cmplt_epi16(low, before))));
        if (_mm_movemask_epi8(bad) != 0) return false;
        if (const int vectors = _mm_movemask_epi8(isVector)) {
            if (!takeVectors(v, unsigned(vectors), s, c)) return false;
        }
        rows_ = _mm_sub_epi16(rows_, isY);
        singles_ = _mm_sub_epi16(singles_, isX);
        lows_ = _mm_sub_epi16(lows_, isLow);
        outside_ =
            _mm_sub_epi16(outside_, _mm_and_si128(isX, _mm_cmpgt_epi16(address, widthLast_)));
        if (const int rows = _mm_movemask_epi8(isY)) {
            rowBlock_ = p;
            rowLanes_ = unsigned(rows);
        }
        // The last time low: the highest, as none went back.
        const __m128i last = _mm_shufflehi_epi16(upTo, 0xFF);
        low_ = _mm_max_epi16(low_, _mm_unpackhi_epi64(last, last));
        if (++blocks_ == kFlushBlocks) flush();
        return true;
    }

    // The state as the word walk would have left it after the blocks taken.
    void end(DecoderState& s) const {
        using namespace evt3;
        if (rowBlock_)
            s.y = loadWord16(rowBlock_ + (31 - std::countl_zero(rowLanes_)) / 2 * 2) & 0x7FF;
        setTimeLow(s, s.timeHigh | uint16_t(_mm_cvtsi128_si32(low_)));
    }

    // Adds what the blocks counted to the walk's counts.
    void addTo(uint64_t (&counts)[16], uint64_t& events, uint64_t& outside) {
        using namespace evt3;
        flush();
        counts[kAddrY] += rowTotal_;
        counts[kAddrX] += singleTotal_;
        counts[kTimeLow] += lowTotal_;
        counts[kVectBaseX] += bases_;
        counts[kVect12] += twelves_;
        counts[kVect8] += eights_;
        events += singleTotal_ + vectorEvents_;
        outside += outsideTotal_;
    }

private:
    // Lanes count one a block at most: summed before a signed lane could overflow.
    static constexpr unsigned kFlushBlocks = 32767;

    // Addresses have 11 bits: a bound past 2048 bounds nothing more.
    static __m128i lastInside(uint32_t bound) {
        return _mm_set1_epi16(short(int(std::min<uint32_t>(bound, 2048)) - 1));
    }
    static uint64_t sum(__m128i lanes) {
        const __m128i pairs = _mm_madd_epi16(lanes, _mm_set1_epi16(1));
        const __m128i two = _mm_add_epi32(pairs, _mm_unpackhi_epi64(pairs, pairs));
        return uint32_t(_mm_cvtsi128_si32(two)) +
               uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(two, 4)));
    }
    void flush() {
        rowTotal_ += sum(rows_);
        singleTotal_ += sum(singles_);
        lowTotal_ += sum(lows_);
        outsideTotal_ += sum(outside_);
        rows_ = singles_ = lows_ = outside_ = _mm_setzero_si128();
        blocks_ = 0;
    }

    // The block's vector words in order, each with its events inside the
    // sensor and the address range, or false with nothing changed.
    bool takeVectors(__m128i v, unsigned lanes, DecoderState& s, WordCheck& c) {
        using namespace evt3;
        alignas(16) uint16_t words[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(words), v);
        uint16_t baseX = s.baseX;
        uint8_t polarity = s.polarity;
        bool sawBase = c.sawBase;
        uint64_t events = 0, beforeBase = 0, bases = 0, twelves = 0, eights = 0;
        for (lanes &= 0x5555; lanes != 0; lanes &= lanes - 1) {
            const uint16_t w = words[std::countr_zero(lanes) / 2];
            if (typeOf(w) == kVectBaseX) {
                baseX = payloadX(w);
                polarity = payloadPolarity(w);
                sawBase = true;
                ++bases;
                continue;
            }
            const bool twelve = typeOf(w) == kVect12;
            const unsigned bits = twelve ? 12 : 8;
            // Its events, not its width, must lie inside: rows end at the edge.
            const uint32_t mask = w & ((1u << bits) - 1);
            if (mask != 0 && baseX + unsigned(32 - std::countl_zero(mask)) > vectorLimit_)
                return false;
            beforeBase += !sawBase;
            twelves += twelve;
            eights += !twelve;
            events += countBits(mask);
            baseX = advanceBase(baseX, bits);
        }
        s.baseX = baseX;
        s.polarity = polarity;
        c.sawBase = sawBase;
        c.vectorsBeforeBase += beforeBase;
        vectorEvents_ += events;
        bases_ += bases;
        twelves_ += twelves;
        eights_ += eights;
        return true;
    }

    const __m128i widthLast_, heightLast_;
    const unsigned vectorLimit_;
    __m128i low_ = _mm_setzero_si128();
    __m128i rows_ = _mm_setzero_si128(), singles_ = _mm_setzero_si128();
    __m128i lows_ = _mm_setzero_si128(), outside_ = _mm_setzero_si128();
    unsigned blocks_ = 0;
    const uint8_t* rowBlock_ = nullptr;
    unsigned rowLanes_ = 0;
    uint64_t rowTotal_ = 0, singleTotal_ = 0, lowTotal_ = 0, outsideTotal_ = 0;
    uint64_t vectorEvents_ = 0, bases_ = 0, twelves_ = 0, eights_ = 0;
};
#endif

void checkEvt3(const uint8_t* bytes, size_t words, DecoderState s, uint32_t width, uint32_t height,
               WordCheck& c) {
    using namespace evt3;
    // Four histograms in turn: a run of one type (rows of single events)
    // then never waits for its counter's previous increment.
    uint64_t counts[4][16] = {};
    uint64_t events = 0, outside = 0;
    bool rowOutside = s.y >= height;
    const auto walk = [&](size_t i) {
        const uint16_t w = loadWord16(bytes + 2 * i);
        const unsigned type = typeOf(w);
        ++counts[i & 3][type];
        // Rows and single events are most words: before the switch.
        if (type == kAddrX) {
            if (s.haveTime) [[likely]] {
                ++events;
                outside += payloadX(w) >= width || rowOutside;
            } else {
                ++c.eventsBeforeTime;
            }
            return;
        }
        if (type == kAddrY) {
            s.y = w & 0x7FF;
            rowOutside = s.y >= height;
            return;
        }
        switch (type) {
            case kVect12:
            case kVect8: {
                if (!c.sawBase) ++c.vectorsBeforeBase;
                const unsigned bits = type == kVect12 ? 12 : 8;
                const uint32_t mask = w & ((1u << bits) - 1);
                for (unsigned b = 0; b < bits; ++b) {
                    if (!((mask >> b) & 1)) continue;
                    const unsigned x = s.baseX + b;
                    if (!s.haveTime) {
                        ++c.eventsBeforeTime;
                    } else if (x > kMaxX) {
                        ++c.vectorEventsBeyondRange;
                    } else {
                        ++c.events;
                        c.eventsOutsideGeometry += x >= width || s.y >= height;
                    }
                }
                break;
            }
            case kVectBaseX:
                c.sawBase = true;
                break;
            case kTimeLow:
            case kTimeHigh: {
                const DecoderState before = s;
                applyWord(s, w);
                timeMoved(c, before, s, 12, 24);
                return;  // the state has moved
            }
            default:
                c.reservedWords += isReserved(type);
                break;
        }
        applyWord(s, w);
    };
    size_t i = 0;
#if KORVANE_SCAN_SSE2
    // Blocks before the first time, or under a row outside the geometry,
    // are rare: word by word.
    BlockCheck blocks(width, height);
    bool inBlocks = false;
    for (; i + 8 <= words; i += 8) {
        if (!inBlocks && BlockCheck::canStart(s, rowOutside)) {
            blocks.begin(s);
            inBlocks = true;
        }
        if (inBlocks) {
            if (blocks.take(bytes + 2 * i, s, c)) continue;
            blocks.end(s);
            inBlocks = false;
        }
        for (size_t j = i; j < i + 8; ++j)
            walk(j);
    }
    if (inBlocks) blocks.end(s);
    blocks.addTo(counts[0], events, outside);
#endif
    for (; i < words; ++i)
        walk(i);
    for (const auto& histogram : counts) {
        for (int t = 0; t < 16; ++t)
            c.typeCounts[t] += histogram[t];
    }
    c.events += events;
    c.eventsOutsideGeometry += outside;
}

void checkEvt2(const uint8_t* bytes, size_t words, DecoderState s, uint32_t width, uint32_t height,
               WordCheck& c) {
    for (size_t i = 0; i < words; ++i) {
        const uint32_t w = loadWord32(bytes + 4 * i);
        const unsigned type = w >> 28;
        ++c.typeCounts[type];
        switch (type) {
            case 0x0:
            case 0x1:
                if (!s.haveTime) {
                    ++c.eventsBeforeTime;
                } else {
                    ++c.events;
                    c.eventsOutsideGeometry +=
                        ((w >> 11) & 0x7FF) >= width || (w & 0x7FF) >= height;
                }
                break;
            case 0x8: {
                const DecoderState before = s;
                s.timeHigh = evt2::timeHighAfter(s, w);
                s.time = s.timeHigh;
                s.haveTime = true;
                timeMoved(c, before, s, 6, 34);
                break;
            }
            case 0xA:
            case 0xE:
            case 0xF:
                break;
            default:
                ++c.reservedWords;
                break;
        }
    }
}

}  // namespace

WordCheck checkWords(const uint8_t* bytes, size_t words, RawFormat format, DecoderState state,
                     uint32_t width, uint32_t height) {
    WordCheck c;
    c.words = words;
    if (format == RawFormat::Evt2) {
        checkEvt2(bytes, words, state, width, height, c);
    } else {
        checkEvt3(bytes, words, state, width, height, c);
    }
    return c;
}

const char* wordTypeName(RawFormat format, unsigned type) {
    if (format == RawFormat::Evt2) {
        switch (type) {
            case 0x0:
                return "cd_off";
            case 0x1:
                return "cd_on";
            case 0x8:
                return "time_high";
            case 0xA:
                return "ext_trigger";
            case 0xE:
                return "others";
            case 0xF:
                return "continued";
            default:
                return nullptr;
        }
    }
    switch (type) {
        case 0x0:
            return "addr_y";
        case 0x2:
            return "addr_x";
        case 0x3:
            return "vect_base_x";
        case 0x4:
            return "vect_12";
        case 0x5:
            return "vect_8";
        case 0x6:
            return "time_low";
        case 0x7:
            return "continued_4";
        case 0x8:
            return "time_high";
        case 0xA:
            return "ext_trigger";
        case 0xE:
            return "others";
        case 0xF:
            return "continued_12";
        default:
            return nullptr;
    }
}

}  // namespace korvane
