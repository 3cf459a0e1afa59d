#include "korvane/file/FileCheck.h"

#include <algorithm>

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

void checkEvt3(const uint8_t* bytes, size_t words, DecoderState s, uint32_t width, uint32_t height,
               WordCheck& c) {
    using namespace evt3;
    // Four histograms in turn: a run of one type (rows of single events)
    // then never waits for its counter's previous increment.
    uint64_t counts[4][16] = {};
    uint64_t events = 0, outside = 0;
    bool rowOutside = s.y >= height;
    for (size_t i = 0; i < words; ++i) {
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
            continue;
        }
        if (type == kAddrY) {
            s.y = w & 0x7FF;
            rowOutside = s.y >= height;
            continue;
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
                continue;  // the state has moved
            }
            default:
                c.reservedWords += isReserved(type);
                break;
        }
        applyWord(s, w);
    }
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
