// The EVT 3.0 decoder takes runs of rows, single events and time lows eight
// words at a time. Here it is held against a plain word-by-word decoder
// written from the format's rules, on streams made of those words with
// other words sprinkled in, with stops at every kind of place, a narrow
// sensor, starting states without a row or time, and small output rooms.

#include <gtest/gtest.h>

#include <random>

#include "DriverTestSupport.h"
#include "korvane/file/EventDecoder.h"
#include "korvane/file/Evt3Words.h"

using namespace kvtest;

namespace {

struct Result {
    std::vector<Event2D> events;
    std::vector<TriggerRecord> triggers;
    uint64_t corrupt = 0;
    size_t wordsConsumed = 0;
    bool reachedStop = false;
    DecoderState state;
};

// Word by word, straight from the rules: events carry the current row and
// time, nothing has a time before the first TIME_HIGH, a time word that
// would reach stopTime ends the decode before it.
Result reference(const std::vector<uint16_t>& words, DecoderState s, uint64_t stopTime,
                 uint32_t xLimit) {
    using namespace evt3;
    Result r;
    for (size_t i = 0; i < words.size(); ++i) {
        const uint16_t w = words[i];
        const unsigned type = typeOf(w);
        if (s.haveTime && (type == kTimeLow || type == kTimeHigh)) {
            DecoderState next = s;
            applyWord(next, w);
            if (next.time >= stopTime) {
                r.reachedStop = true;
                r.wordsConsumed = i;
                r.state = s;
                return r;
            }
        }
        auto emit = [&](unsigned x, unsigned p) {
            if (!s.haveTime) return;
            if (x >= xLimit) {
                ++r.corrupt;
                return;
            }
            r.events.emplace_back(uint16_t(x), s.y, uint8_t(p), s.time);
        };
        if (type == kAddrX) emit(payloadX(w), payloadPolarity(w));
        if ((type == kVect12 || type == kVect8) && s.haveTime) {
            const unsigned bits = type == kVect12 ? 12 : 8;
            bool dropped = false;
            for (unsigned b = 0; b < bits; ++b) {
                if (!((w >> b) & 1)) continue;
                if (s.baseX + b >= xLimit) {
                    dropped = true;
                    continue;
                }
                r.events.emplace_back(uint16_t(s.baseX + b), s.y, s.polarity, s.time);
            }
            r.corrupt += dropped;
        }
        if (type == kExtTrigger && s.haveTime) {
            r.triggers.push_back(
                {EventTriggerIn(int16_t((w >> 8) & 0xF), int16_t(w & 1), s.time), r.events.size()});
        }
        r.corrupt += isReserved(type);
        applyWord(s, w);
    }
    r.wordsConsumed = words.size();
    r.state = s;
    return r;
}

Result decoded(const std::vector<uint16_t>& words, const DecoderState& start, uint64_t stopTime,
               uint32_t xLimit, size_t room) {
    std::vector<uint8_t> bytes;
    for (uint16_t w : words)
        put16(bytes, w);
    Result r;
    r.state = start;
    std::vector<Event2D> buf(room);
    size_t at = 0;
    while (at < words.size()) {
        const DecodeStep step =
            decodeEvt3(bytes.data() + 2 * at, words.size() - at, r.state, buf.data(), room,
                       &r.triggers, r.events.size(), stopTime, r.corrupt, xLimit);
        r.events.insert(r.events.end(), buf.begin(), buf.begin() + long(step.eventsWritten));
        at += step.wordsConsumed;
        if (step.reachedStop) {
            r.reachedStop = true;
            break;
        }
        if (step.wordsConsumed == 0 && step.eventsWritten == 0) break;
    }
    r.wordsConsumed = at;
    return r;
}

// Mostly rows, events and time lows in real data's proportions; now and
// then a time high, a vector run, a trigger or a reserved word.
std::vector<uint16_t> stream(std::mt19937& rng, size_t count, unsigned otherPercent) {
    std::vector<uint16_t> w;
    uint16_t high = 3, low = 0;
    w.push_back(uint16_t(0x8000 | high));
    while (w.size() < count) {
        const unsigned pick = rng() % 100;
        if (pick < otherPercent) {
            switch (rng() % 5) {
                case 0:
                    high = uint16_t((high + 1) & 0xFFF);
                    low = 0;
                    w.push_back(uint16_t(0x8000 | high));
                    break;
                case 1:
                    w.push_back(uint16_t(0x3000 | (rng() % 2048)));
                    w.push_back(uint16_t(0x4000 | (rng() & 0xFFF)));
                    break;
                case 2:
                    w.push_back(uint16_t(0xA000 | ((rng() % 16) << 8) | (rng() & 1)));
                    break;
                case 3:
                    w.push_back(uint16_t(0x9000 | (rng() & 0xFFF)));
                    break;
                default:
                    w.push_back(uint16_t(0x5000 | (rng() & 0xFF)));
                    break;
            }
        } else if (pick < 60) {
            w.push_back(uint16_t(0x2000 | (rng() & 0xFFF)));  // any x, either polarity
        } else if (pick < 80) {
            w.push_back(uint16_t(rng() % 2048));  // ADDR_Y
        } else {
            // Time lows mostly climb; some step back inside the period.
            low = uint16_t(rng() % 8 == 0 ? rng() % 4096
                                          : std::min<unsigned>(4095, low + rng() % 40));
            w.push_back(uint16_t(0x6000 | low));
        }
    }
    return w;
}

void expectSame(const Result& want, const Result& got) {
    ASSERT_EQ(want.events.size(), got.events.size());
    for (size_t i = 0; i < want.events.size(); ++i)
        ASSERT_EQ(want.events[i], got.events[i]) << "event " << i;
    ASSERT_EQ(want.triggers.size(), got.triggers.size());
    for (size_t i = 0; i < want.triggers.size(); ++i) {
        EXPECT_EQ(want.triggers[i].trigger.timestamp, got.triggers[i].trigger.timestamp);
        EXPECT_EQ(want.triggers[i].eventIndex, got.triggers[i].eventIndex);
    }
    EXPECT_EQ(want.corrupt, got.corrupt);
    EXPECT_EQ(want.wordsConsumed, got.wordsConsumed);
    EXPECT_EQ(want.reachedStop, got.reachedStop);
    EXPECT_EQ(want.state.time, got.state.time);
    EXPECT_EQ(want.state.timeHigh, got.state.timeHigh);
    EXPECT_EQ(want.state.y, got.state.y);
    EXPECT_EQ(want.state.baseX, got.state.baseX);
}

}  // namespace

TEST(DecoderBlockTest, RowsEventsAndTimeLowsMatchTheWordRules) {
    std::mt19937 rng(17);
    for (unsigned otherPercent : {0u, 2u, 10u, 40u}) {
        for (int round = 0; round < 6; ++round) {
            SCOPED_TRACE(::testing::Message() << otherPercent << "% other, round " << round);
            const std::vector<uint16_t> words = stream(rng, 3000 + rng() % 64, otherPercent);
            // Starting states: nothing yet (the stream's TIME_HIGH sets the
            // time), and a resume in the middle of a row and period.
            DecoderState resume;
            resume.haveTime = true;
            resume.timeHigh = (uint64_t(5) << 24) | (uint64_t(2) << 12);
            resume.time = resume.timeHigh | 77;
            resume.low = 77;
            resume.y = 301;
            for (const DecoderState& start : {DecoderState{}, resume}) {
                const Result all = reference(words, start, UINT64_MAX, kAddressRange);
                ASSERT_GT(all.events.size(), 1000u);
                for (uint32_t xLimit : {kAddressRange, 1280u, 7u}) {
                    for (size_t room : {size_t(12), size_t(13), size_t(100), size_t(8000)}) {
                        expectSame(reference(words, start, UINT64_MAX, xLimit),
                                   decoded(words, start, UINT64_MAX, xLimit, room));
                    }
                }
                // Stops at times the stream reaches, inside blocks of eight.
                for (size_t k = 1; k < 12; ++k) {
                    const uint64_t stop = all.events[all.events.size() * k / 12].timestamp + k % 3;
                    expectSame(reference(words, start, stop, kAddressRange),
                               decoded(words, start, stop, kAddressRange, 8000));
                }
            }
        }
    }
}
