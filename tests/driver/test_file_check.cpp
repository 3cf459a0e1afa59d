// The word check: each anomaly found in hand-made word streams, checks of
// stretches appended in file order equal to one walk over the data, and
// the check of eight words at a time held against a plain word-by-word one
// written from the rules, on random streams.

#include <gtest/gtest.h>

#include <random>

#include "DriverTestSupport.h"
#include "korvane/file/Evt3Words.h"
#include "korvane/file/FileCheck.h"
#include "korvane/file/RawFile.h"
#include "korvane/file/TimeIndex.h"

using namespace kvtest;

namespace {

// A whole stream checked as one part (append() settles the vectors without base).
WordCheck checkAll(const std::vector<uint8_t>& b, RawFormat format, uint32_t width = 1280,
                   uint32_t height = 720) {
    WordCheck total;
    total.append(checkWords(b.data(), b.size() / wordSizeBytes(format), format, DecoderState{},
                            width, height));
    return total;
}

uint64_t anomalies(const WordCheck& c) {
    return c.reservedWords + c.eventsBeforeTime + c.vectorsWithoutBase + c.vectorEventsBeyondRange +
           c.eventsOutsideGeometry + c.timeBackBeyondJitter;
}

void expectSame(const WordCheck& a, const WordCheck& b) {
    EXPECT_EQ(a.words, b.words);
    for (int t = 0; t < 16; ++t)
        EXPECT_EQ(a.typeCounts[t], b.typeCounts[t]) << "type " << t;
    EXPECT_EQ(a.reservedWords, b.reservedWords);
    EXPECT_EQ(a.events, b.events);
    EXPECT_EQ(a.eventsBeforeTime, b.eventsBeforeTime);
    EXPECT_EQ(a.vectorsWithoutBase, b.vectorsWithoutBase);
    EXPECT_EQ(a.vectorEventsBeyondRange, b.vectorEventsBeyondRange);
    EXPECT_EQ(a.eventsOutsideGeometry, b.eventsOutsideGeometry);
    EXPECT_EQ(a.timeBackSteps, b.timeBackSteps);
    EXPECT_EQ(a.timeBackMax_us, b.timeBackMax_us);
    EXPECT_EQ(a.timeBackBeyondJitter, b.timeBackBeyondJitter);
    EXPECT_EQ(a.timeLoops, b.timeLoops);
}

// Word by word from the rules: single and vector events count once there is
// a time, vector bits past x 2047 are dropped, anything at x >= width or on
// a row >= height is outside; time words that lower the time step back.
WordCheck referenceCheck(const std::vector<uint16_t>& words, DecoderState s, uint32_t width,
                         uint32_t height) {
    using namespace evt3;
    WordCheck c;
    c.words = words.size();
    for (const uint16_t w : words) {
        const unsigned type = typeOf(w);
        ++c.typeCounts[type];
        const auto event = [&](unsigned x) {
            if (!s.haveTime) {
                ++c.eventsBeforeTime;
            } else if (x > kMaxX) {
                ++c.vectorEventsBeyondRange;
            } else {
                ++c.events;
                c.eventsOutsideGeometry += x >= width || s.y >= height;
            }
        };
        if (type == kAddrX) event(payloadX(w));
        if (type == kVect12 || type == kVect8) {
            c.vectorsBeforeBase += !c.sawBase;
            for (unsigned b = 0; b < (type == kVect12 ? 12u : 8u); ++b) {
                if ((w >> b) & 1) event(s.baseX + b);
            }
        }
        c.sawBase = c.sawBase || type == kVectBaseX;
        c.reservedWords += isReserved(type);
        const DecoderState before = s;
        applyWord(s, w);
        if (before.haveTime && (type == kTimeLow || type == kTimeHigh)) {
            if (s.time < before.time) {
                ++c.timeBackSteps;
                c.timeBackMax_us = std::max(c.timeBackMax_us, before.time - s.time);
                c.timeBackBeyondJitter +=
                    s.timeHigh < before.timeHigh &&
                    (before.timeHigh - s.timeHigh) >> 12 > kTimeHighJitterSteps;
            }
            if ((s.timeHigh >> 24) > (before.timeHigh >> 24))
                c.timeLoops += (s.timeHigh >> 24) - (before.timeHigh >> 24);
        }
    }
    return c;
}

// Words as cameras write them, mostly: rows, single events, vectors and
// rising time lows, with rarer rows and x beyond the geometry, vectors
// reaching past it or past x 2047, time going back, time highs, and other
// and reserved types.
std::vector<uint16_t> randomWords(std::mt19937& rng, size_t n) {
    std::vector<uint16_t> w;
    unsigned low = 0;
    auto pick = [&](unsigned range) { return unsigned(rng() % range); };
    for (size_t i = 0; i < n; ++i) {
        const unsigned r = pick(1000);
        if (r < 190) {
            w.push_back(uint16_t(pick(100) < 3 ? 700 + pick(1348) : pick(720)));  // ADDR_Y
        } else if (r < 640) {
            w.push_back(
                uint16_t(0x2000 | pick(2) << 11 | (pick(100) < 3 ? 1200 + pick(848) : pick(1280))));
        } else if (r < 690) {
            const unsigned x = pick(100) < 5 ? 1260 + pick(788) : pick(1240);
            w.push_back(uint16_t(0x3000 | pick(2) << 11 | x));  // VECT_BASE_X
        } else if (r < 750) {
            w.push_back(uint16_t(0x4000 | pick(0x1000)));  // VECT_12
        } else if (r < 790) {
            w.push_back(uint16_t(0x5000 | pick(0x1000)));  // VECT_8, high bits not its own
        } else if (r < 960) {
            low = pick(100) < 4 ? pick(0x1000) : std::min(0xFFFu, low + pick(3));
            w.push_back(uint16_t(0x6000 | low));  // TIME_LOW
        } else if (r < 975) {
            w.push_back(uint16_t(0x8000 | pick(8)));  // TIME_HIGH: forward, repeated, back
            low = 0;
        } else {
            static const unsigned kOthers[] = {0x1, 0x7, 0x9, 0xA, 0xB, 0xC, 0xD, 0xE, 0xF};
            w.push_back(uint16_t(kOthers[pick(9)] << 12 | pick(0x1000)));
        }
    }
    return w;
}

void expectSameParts(const WordCheck& a, const WordCheck& b) {
    expectSame(a, b);
    EXPECT_EQ(a.vectorsBeforeBase, b.vectorsBeforeBase);
    EXPECT_EQ(a.vectorsWithoutBase, b.vectorsWithoutBase);
    EXPECT_EQ(a.sawBase, b.sawBase);
}

}  // namespace

TEST(FileCheckTest, Evt3WordsShowEachAnomaly) {
    // Clean: time, a row, a single event and a vector of three.
    std::vector<uint8_t> clean;
    put16(clean, 0x8000 | 10);   // TIME_HIGH
    put16(clean, 0x6000 | 100);  // TIME_LOW
    put16(clean, 0x0000 | 5);    // ADDR_Y 5
    put16(clean, 0x2000 | 7);    // ADDR_X 7
    put16(clean, 0x3000 | 20);   // VECT_BASE_X 20
    put16(clean, 0x5000 | 0x7);  // VECT_8: three events
    put16(clean, 0xA000 | 1);    // EXT_TRIGGER
    WordCheck c = checkAll(clean, RawFormat::Evt3);
    EXPECT_EQ(c.words, 7u);
    EXPECT_EQ(c.events, 4u);
    EXPECT_EQ(c.typeCounts[0x8], 1u);
    EXPECT_EQ(c.typeCounts[0x5], 1u);
    EXPECT_EQ(c.typeCounts[0xA], 1u);
    EXPECT_EQ(anomalies(c), 0u);

    auto with = [&](std::initializer_list<uint16_t> extra) {
        std::vector<uint8_t> b = clean;
        for (uint16_t w : extra)
            put16(b, w);
        return checkAll(b, RawFormat::Evt3);
    };
    c = with({0x1234, 0x9000, 0xD001});
    EXPECT_EQ(c.reservedWords, 3u);
    EXPECT_EQ(anomalies(c), 3u);

    // Ways back and loops, after TIME_HIGH 10, TIME_LOW 100.
    struct TimeCase {
        const char* what;
        std::initializer_list<uint16_t> words;
        uint64_t backSteps, backMax_us, beyondJitter, loops;
    };
    const TimeCase timeCases[] = {
        {"TIME_LOW under the same high, then a TIME_HIGH jitter of two steps",
         {0x6000 | 40, 0x8000 | 8},
         2,
         (10u << 12 | 40u) - (8u << 12),
         0,
         0},
        {"a camera's small steps back: TIME_LOW 11 us back, four steps of jitter",
         {0x6000 | 89, 0x8000 | 6},
         2,
         (10u << 12 | 89u) - (6u << 12),
         0,
         0},
        {"five steps (20 ms) back from the middle of the range is time, not a loop",
         {0x8000 | 5},
         1,
         (10u << 12 | 100u) - (5u << 12),
         1,
         0},
        {"from the top of the counter to near 0 is a loop",
         {0x8000 | 0xFFF, 0x8000 | 0x001},
         0,
         0,
         0,
         1},
    };
    for (const TimeCase& t : timeCases) {
        c = with(t.words);
        EXPECT_EQ(c.timeBackSteps, t.backSteps) << t.what;
        EXPECT_EQ(c.timeBackMax_us, t.backMax_us) << t.what;
        EXPECT_EQ(c.timeBackBeyondJitter, t.beyondJitter) << t.what;
        EXPECT_EQ(c.timeLoops, t.loops) << t.what;
        EXPECT_EQ(anomalies(c), t.beyondJitter) << t.what;
    }

    // Off the 1280 x 720 sensor: a row below it, a column right of it.
    c = with({0x0000 | 800, 0x2000 | 3, 0x0000 | 6, 0x2000 | 1300});
    EXPECT_EQ(c.eventsOutsideGeometry, 2u);

    // A vector run past x 2047: the last four positions cannot exist.
    c = with({0x3000 | 2040, 0x4000 | 0xFFF});
    EXPECT_EQ(c.vectorEventsBeyondRange, 4u);
    EXPECT_EQ(c.eventsOutsideGeometry, 8u);  // 2040..2047 are beyond 1280 too

    // Vectors before any base, and events before any time.
    std::vector<uint8_t> early;
    put16(early, 0x2000 | 1);    // ADDR_X without time
    put16(early, 0x8000 | 1);    // TIME_HIGH
    put16(early, 0x4000 | 0x3);  // VECT_12 without base: two events at x 0, 1
    put16(early, 0x3000 | 100);
    put16(early, 0x4000 | 0x1);
    c = checkAll(early, RawFormat::Evt3);
    EXPECT_EQ(c.eventsBeforeTime, 1u);
    EXPECT_EQ(c.vectorsWithoutBase, 1u);
    EXPECT_EQ(c.events, 3u);
}

TEST(FileCheckTest, Evt2WordsShowEachAnomaly) {
    std::vector<uint8_t> b;
    put32(b, 0x10000000u | (5u << 11) | 6u);                  // CD_ON before any time
    put32(b, 0x80000000u | 0x0FFFFFFFu);                      // TIME_HIGH at the top of the range
    put32(b, 0x00000000u | (3u << 22) | (1300u << 11) | 2u);  // CD_OFF beyond 1280
    put32(b, 0x30000000u);                                    // reserved
    put32(b, 0x80000000u | 0x0FFFFFFDu);                      // jitter back by two steps
    put32(b, 0x80000000u | 0x00000001u);                      // wrap: a loop of 2^34 us
    put32(b, 0x80000000u | 0x00001000u);                      // forward,
    put32(b, 0x80000000u | 0x00000FFBu);                      // then five steps (320 us) back
    put32(b, 0xA0000000u | 1u);                               // EXT_TRIGGER
    const WordCheck c = checkAll(b, RawFormat::Evt2);
    EXPECT_EQ(c.words, 9u);
    EXPECT_EQ(c.eventsBeforeTime, 1u);
    EXPECT_EQ(c.events, 1u);
    EXPECT_EQ(c.eventsOutsideGeometry, 1u);
    EXPECT_EQ(c.reservedWords, 1u);
    EXPECT_EQ(c.timeBackSteps, 2u);
    EXPECT_EQ(c.timeBackMax_us, 5u * 64u);
    EXPECT_EQ(c.timeBackBeyondJitter, 1u);
    EXPECT_EQ(c.timeLoops, 1u);
    EXPECT_EQ(c.typeCounts[0x8], 5u);
}

TEST(FileCheckTest, StretchesAppendedInOrderEqualOneWalk) {
    ScratchDir dir;
    for (RawFormat format : {RawFormat::Evt3, RawFormat::Evt2}) {
        // Crosses a loop of the 24-bit clock.
        SyntheticOptions o{.duration_us = 200000,
                           .eventsPerSecond = 3000000,
                           .triggerPeriod_us = 5000,
                           .startTime_us = (uint64_t(1) << 24) - 100000,
                           .dense = format == RawFormat::Evt3,
                           .format = format};
        const std::string path = generate(dir, "c.raw", o);
        // Noise every 499 words: reserved types, wild times, bases and vectors.
        std::vector<uint8_t> bytes = readBytes(path);
        RawFile probe;
        ASSERT_TRUE(probe.open(path));
        const RawHeader h = readRawHeader(probe);
        const size_t ws = wordSizeBytes(format);
        scrambleWords(bytes, h.dataOffsetBytes, ws, 499, 200, 99);

        const uint8_t* data = bytes.data() + h.dataOffsetBytes;
        const size_t words = (bytes.size() - h.dataOffsetBytes) / ws;
        WordCheck whole;
        whole.append(checkWords(data, words, format, DecoderState{}, 1280, 720));
        EXPECT_GT(whole.reservedWords + whole.timeBackSteps + whole.vectorsWithoutBase, 0u);
        EXPECT_GE(whole.timeLoops, 1u);

        const TimeIndex index = TimeIndex::build(bytes.data(), h.dataOffsetBytes,
                                                 h.dataOffsetBytes + words * ws, format, 64);
        const auto& entries = index.entries();
        ASSERT_GT(entries.size(), 100u);
        WordCheck parts;
        for (size_t k = 0; k < entries.size(); ++k) {
            const uint64_t end = k + 1 < entries.size() ? entries[k + 1].offsetBytes
                                                        : h.dataOffsetBytes + words * ws;
            parts.append(checkWords(bytes.data() + entries[k].offsetBytes,
                                    size_t((end - entries[k].offsetBytes) / ws), format,
                                    entries[k].state, 1280, 720));
        }
        expectSame(whole, parts);
    }
}

TEST(FileCheckTest, Evt3BlocksEqualTheWordRules) {
    std::mt19937 rng(11);
    const std::pair<uint32_t, uint32_t> geometries[] = {{1280, 720},  {640, 480}, {2048, 2048},
                                                        {4000, 3000}, {1, 1},     {0, 0}};
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        const std::vector<uint16_t> words = randomWords(rng, 1 + rng() % 3000);
        const auto [width, height] = geometries[round % 6];
        // The walk starts where an earlier part of the stream left it:
        // without a time, with one, on a row outside the geometry...
        const size_t split = round % 3 == 0 ? 0 : rng() % words.size();
        DecoderState start;
        if (round % 5 == 1) start.timeHigh = uint64_t(3) << 24;  // a reader's loop count
        for (size_t i = 0; i < split; ++i)
            evt3::applyWord(start, words[i]);
        const std::vector<uint16_t> rest(words.begin() + split, words.end());
        std::vector<uint8_t> bytes;
        for (uint16_t w : rest)
            put16(bytes, w);
        expectSameParts(
            checkWords(bytes.data(), rest.size(), RawFormat::Evt3, start, width, height),
            referenceCheck(rest, start, width, height));
        if (HasFailure()) return;
    }
}

TEST(FileCheckTest, Evt3BlocksOfCleanRowsVectorsAndTimes) {
    // Long clean runs: the block path takes nearly all, and the word walk
    // only a block with a time high, a row outside or time going back.
    std::mt19937 rng(5);
    std::vector<uint16_t> words = {0x8000 | 1};
    unsigned low = 0;
    for (int i = 0; i < 20000; ++i) {
        const unsigned r = rng() % 100;
        if (r < 20)
            words.push_back(uint16_t(rng() % 720));
        else if (r < 80)
            words.push_back(uint16_t(0x2000 | rng() % 1280));
        else if (r < 85)
            words.push_back(uint16_t(0x3000 | rng() % 1250));
        else if (r < 92)
            words.push_back(uint16_t(0x4000 | rng() % 0x1000));
        else if (r < 99)
            words.push_back(uint16_t(0x6000 | (low = std::min(0xFFFu, low + 1))));
        else
            words.push_back(uint16_t(0x8000 | (2 + i / 2000)));
        if (words.back() >> 12 == 8) low = 0;
    }
    for (size_t at : {size_t(5000), size_t(12001)})
        words[at] = uint16_t(0x0000 | 900);  // a row outside, then rows inside again
    words[15003] = uint16_t(0x6000);         // time back
    std::vector<uint8_t> bytes;
    for (uint16_t w : words)
        put16(bytes, w);
    const WordCheck blocks =
        checkWords(bytes.data(), words.size(), RawFormat::Evt3, DecoderState{}, 1280, 720);
    expectSameParts(blocks, referenceCheck(words, DecoderState{}, 1280, 720));
    EXPECT_GT(blocks.eventsOutsideGeometry, 0u);
    EXPECT_GT(blocks.timeBackSteps, 0u);
}
