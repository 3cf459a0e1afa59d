#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <bitset>
#include <fstream>

#include <random>

#include "../TestPlatform.h"
#include "DriverTestSupport.h"
#include "PortableScan.h"
#include "korvane/file/EventDecoder.h"
#include "korvane/file/RawWriter.h"
#include "korvane/file/TimeIndex.h"
#include "korvane/file/WordScan.h"

using namespace kvtest;

namespace {

struct Out {
    std::vector<Event2D> events;
    std::vector<TriggerRecord> triggers;
    uint64_t corrupt = 0;
    DecoderState state;
};

Out decodeWords(const std::vector<uint8_t>& bytes, RawFormat format, uint64_t stop = UINT64_MAX) {
    Out o;
    EventStream s(bytes.data(), bytes.size(), format, 0, DecoderState{});
    const Event2D* ev;
    size_t n;
    while (s.next(stop, ev, n, &o.triggers))
        o.events.insert(o.events.end(), ev, ev + n);
    o.corrupt = s.corruptWords();
    o.state = s.state();
    return o;
}

// EVT3 word builders.
uint16_t y3(uint16_t y) {
    return uint16_t(0x0000 | y);
}
uint16_t x3(uint16_t x, int p) {
    return uint16_t(0x2000 | (p << 11) | x);
}
uint16_t base3(uint16_t x, int p) {
    return uint16_t(0x3000 | (p << 11) | x);
}
uint16_t v12(uint16_t mask) {
    return uint16_t(0x4000 | mask);
}
uint16_t v8(uint16_t mask) {
    return uint16_t(0x5000 | mask);
}
uint16_t lo3(uint16_t t) {
    return uint16_t(0x6000 | t);
}
uint16_t hi3(uint16_t t) {
    return uint16_t(0x8000 | t);
}
uint16_t trig3(int id, int v) {
    return uint16_t(0xA000 | (id << 8) | v);
}

std::vector<uint8_t> words16(std::initializer_list<uint16_t> ws) {
    std::vector<uint8_t> b;
    for (uint16_t w : ws)
        put16(b, w);
    return b;
}

std::vector<uint64_t> timesOf(const std::vector<Event2D>& events) {
    std::vector<uint64_t> t;
    for (auto& e : events)
        t.push_back(e.timestamp);
    return t;
}

std::vector<uint8_t> encode(RawFormat format, const std::vector<Event2D>& events) {
    RawWriter w(format);
    w.writeEvents(events.data(), events.size());
    return w.takeBuffer();
}

std::vector<uint8_t> noise(std::mt19937_64& rng, size_t bytes) {
    std::vector<uint8_t> b(bytes);
    for (auto& v : b)
        v = uint8_t(rng());
    return b;
}

// One call of the format's block decoder.
DecodeStep decodeStep(RawFormat format, const uint8_t* bytes, size_t words, DecoderState& s,
                      std::vector<Event2D>& out, size_t room, uint64_t& corrupt,
                      std::vector<TriggerRecord>* triggers = nullptr, size_t eventBase = 0,
                      uint32_t width = kAddressRange) {
    return format == RawFormat::Evt3 ? decodeEvt3(bytes, words, s, out.data(), room, triggers,
                                                  eventBase, UINT64_MAX, corrupt, width)
                                     : decodeEvt2(bytes, words, s, out.data(), room, triggers,
                                                  eventBase, UINT64_MAX, corrupt, width);
}

}  // namespace

TEST(Evt3DecoderTest, EveryWordType) {
    auto bytes = words16({
        x3(5, 1),  // before any time: dropped
        hi3(0x001),
        lo3(0x002),  // t = 0x1002
        y3(7),          x3(100, 1), x3(101, 0), base3(200, 1), v12(0b100000000101),
        v8(0b10000001),  // 200,202,211 then 212,219
        trig3(3, 1),    0x7123,     0xE456,
        0xF789,  // continued and vendor words: ignored
        0x1000,         0x9000,     0xB000,     0xC000,
        0xD000,  // reserved: skipped and counted
        x3(300, 0),
    });
    Out o = decodeWords(bytes, RawFormat::Evt3);
    const uint64_t t = 0x1002;
    std::vector<Event2D> expected{
        {100, 7, 1, t}, {101, 7, 0, t}, {200, 7, 1, t}, {202, 7, 1, t},
        {211, 7, 1, t}, {212, 7, 1, t}, {219, 7, 1, t}, {300, 7, 0, t},
    };
    EXPECT_EQ(o.events, expected);
    ASSERT_EQ(o.triggers.size(), 1u);
    EXPECT_EQ(o.triggers[0].trigger, EventTriggerIn(3, 1, t));
    EXPECT_EQ(o.triggers[0].eventIndex, 7u);
    EXPECT_EQ(o.corrupt, 5u);
}

TEST(Evt3DecoderTest, TimeWrapsStepsAndJitter) {
    auto bytes = words16({
        hi3(4095), lo3(4095), x3(1, 0),  // 16777215
        hi3(0),    lo3(0),    x3(2, 0),  // wrap: 16777216
        hi3(4095), lo3(10),   x3(3, 0),  // jitter back across the wrap: no second loop
        hi3(0),    lo3(20),   x3(4, 0), hi3(1), lo3(4095),
        x3(5, 0),                        // TIME_LOW 4095, TIME_HIGH n+1, TIME_LOW 0:
        hi3(2),    lo3(0),    x3(6, 0),  // a plain one-microsecond step
        hi3(1),    lo3(5),    x3(7, 0),  // small backwards jitter is not a wrap
        hi3(3),    lo3(6),    x3(8, 0), hi3(3), x3(9, 0),  // a repeated TIME_HIGH keeps the time
        hi3(4),    x3(10, 0),  // a new period before its TIME_LOW: its first us
    });
    const uint64_t L = 1ull << 24;
    std::vector<uint64_t> expected{L - 1,      L,          L - 4096 + 10, L + 20,     L + 0x1FFF,
                                   L + 0x2000, L + 0x1005, L + 0x3006,    L + 0x3006, L + 0x4000};
    EXPECT_EQ(timesOf(decodeWords(bytes, RawFormat::Evt3).events), expected);
}

TEST(Evt3DecoderTest, ManyWrapsInALongRecording) {
    std::vector<uint8_t> bytes;
    // 40 s of time highs, every 4096 us, one event each.
    for (uint64_t step = 0; step < 40000000 / 4096; ++step) {
        put16(bytes, hi3(uint16_t(step & 0xFFF)));
        put16(bytes, x3(uint16_t(step % 1280), 1));
    }
    Out o = decodeWords(bytes, RawFormat::Evt3);
    ASSERT_EQ(o.events.size(), 40000000u / 4096);
    for (size_t i = 0; i < o.events.size(); ++i)
        ASSERT_EQ(o.events[i].timestamp, i * 4096) << i;
}

TEST(Evt2DecoderTest, EveryWordType) {
    std::vector<uint8_t> b;
    put32(b, 0x10000000u | (5u << 11) | 6u);  // before time: dropped
    put32(b, 0x80000000u | 0x123);            // time high: 0x123 << 6
    put32(b, 0x10000000u | (7u << 22) | (640u << 11) | 480u);
    put32(b, 0x00000000u | (63u << 22) | (1u << 11) | 2u);
    put32(b, 0xA0000000u | (9u << 22) | (17u << 8) | 1u);
    put32(b, 0xE0000000u);
    put32(b, 0xF0000000u);
    put32(b, 0x20000000u);  // reserved
    put32(b, 0x90000000u);  // reserved
    b.push_back(0x55);      // a trailing partial word is never read
    Out o = decodeWords(b, RawFormat::Evt2);
    const uint64_t h = 0x123ull << 6;
    std::vector<Event2D> expected{{640, 480, 1, h | 7}, {1, 2, 0, h | 63}};
    EXPECT_EQ(o.events, expected);
    ASSERT_EQ(o.triggers.size(), 1u);
    EXPECT_EQ(o.triggers[0].trigger, EventTriggerIn(17, 1, h | 9));
    EXPECT_EQ(o.corrupt, 2u);
}

// Stopping and resuming anywhere must give what one pass gives.
TEST(DecoderTest, PiecewiseDecodeEqualsOnePass) {
    for (RawFormat format : {RawFormat::Evt3, RawFormat::Evt2}) {
        // Crosses a 24-bit wrap.
        SyntheticOptions o{.duration_us = 300000,
                           .eventsPerSecond = 2000000,
                           .triggerPeriod_us = 1000,
                           .startTime_us = 16700000,
                           .dense = format == RawFormat::Evt3,
                           .format = format};
        Expected exp = expectedFor(o);
        auto bytes = encode(format, exp.events);

        Out whole = decodeWords(bytes, format);
        ASSERT_EQ(whole.events, exp.events);

        std::mt19937 rng(5);
        std::vector<Event2D> pieces;
        DecoderState state;
        uint64_t corrupt = 0, offset = 0;
        const size_t ws = wordSizeBytes(format);
        std::vector<Event2D> buf(200);
        while (offset < bytes.size()) {
            size_t words = std::min<size_t>(1 + rng() % 500, (bytes.size() - offset) / ws);
            size_t room = 12 + rng() % 150;
            DecodeStep step =
                decodeStep(format, bytes.data() + offset, words, state, buf, room, corrupt);
            pieces.insert(pieces.end(), buf.begin(), buf.begin() + long(step.eventsWritten));
            offset += step.wordsConsumed * ws;
        }
        EXPECT_EQ(pieces, exp.events);
    }
}

// The index scan walks state without decoding; at every checkpoint it must
// agree with the decoder, and bound the times of the events between, on real
// data and on garbage alike.
TEST(TimeIndexTest, ScanStateMatchesDecoderState) {
    std::mt19937_64 rng(11);
    const std::vector<uint8_t> garbage = noise(rng, 1 << 20);
    SyntheticOptions o{.duration_us = 400000, .eventsPerSecond = 3000000, .dense = true};
    const auto real3 = encode(RawFormat::Evt3, expectedFor(o).events);
    const auto real2 = encode(RawFormat::Evt2, expectedFor(o).events);

    for (RawFormat format : {RawFormat::Evt3, RawFormat::Evt2}) {
        const auto& real = format == RawFormat::Evt3 ? real3 : real2;
        for (const auto* data : {&garbage, &real}) {
            TimeIndex index = TimeIndex::build(data->data(), 0, data->size(), format, 4096);
            ASSERT_GT(index.entries().size(), 10u);
            uint64_t previousKey = 0;
            for (const IndexEntry& e : index.entries()) {
                DecoderState s;
                if (format == RawFormat::Evt3) {
                    TimeIndex::advanceEvt3(data->data(), size_t(e.offsetBytes / 2), s);
                } else {
                    TimeIndex::advanceEvt2(data->data(), size_t(e.offsetBytes / 4), s);
                }
                ASSERT_EQ(s, e.state) << "offset " << e.offsetBytes;
                EXPECT_GE(e.keyTime, previousKey);
                previousKey = e.keyTime;
            }
            // The decoder, run to the same offsets, lands in the same state;
            // and a stretch the index calls wholly inside a range has no
            // event outside it (a window just past its lowest or highest
            // event must never pass).
            std::vector<Event2D> buf(64);
            DecoderState s;
            uint64_t corrupt = 0, offset = 0;
            const size_t ws = wordSizeBytes(format);
            const auto& entries = index.entries();
            size_t within = 0;
            for (size_t k = 0; k < entries.size(); ++k) {
                const IndexEntry& e = entries[k];
                uint64_t lowest = UINT64_MAX, highest = 0;
                while (offset < e.offsetBytes) {
                    size_t words = size_t((e.offsetBytes - offset) / ws);
                    DecodeStep step = decodeStep(format, data->data() + offset, words, s, buf,
                                                 buf.size(), corrupt);
                    for (size_t i = 0; i < step.eventsWritten; ++i) {
                        lowest = std::min(lowest, buf[i].timestamp);
                        highest = std::max(highest, buf[i].timestamp);
                    }
                    offset += step.wordsConsumed * ws;
                }
                ASSERT_EQ(s, e.state) << "offset " << e.offsetBytes;
                if (k == 0 || lowest > highest) continue;
                const size_t stretch = k - 1;  // the words just decoded
                EXPECT_FALSE(index.stretchWithin(stretch, lowest + 1, UINT64_MAX)) << stretch;
                EXPECT_FALSE(index.stretchWithin(stretch, 0, highest)) << stretch;
                EXPECT_FALSE(index.wordsWithin(entries[stretch].offsetBytes + ws, e.offsetBytes, 0,
                                               highest));
                // Useful too: a little room around the events is enough.
                within += index.stretchWithin(stretch, lowest - std::min<uint64_t>(lowest, 100),
                                              highest + 165);
            }
            EXPECT_FALSE(index.stretchWithin(entries.size() - 1, 0, UINT64_MAX));
            if (data == &real) {
                EXPECT_GT(within, entries.size() * 9 / 10);
            }
        }
    }
}

TEST(RawWriterTest, VectorisesRunsAndBridgesSilences) {
    std::vector<Event2D> ev{
        {10, 3, 1, 5000},     {11, 3, 1, 5000}, {13, 3, 1, 5000}, {24, 3, 1, 5000},  // one run
        {40, 3, 1, 5000},                                                            // gap >= 12
        {50, 4, 0, 5000},     {51, 4, 0, 5000},                                      // too short
        {60, 4, 0, 60000000},  // 60 s later: several wraps of the 24-bit clock
    };
    RawWriter w(RawFormat::Evt3);
    w.writeEvents(ev.data(), ev.size());
    auto bytes = w.takeBuffer();
    std::vector<uint16_t> words(bytes.size() / 2);
    std::memcpy(words.data(), bytes.data(), bytes.size());
    EXPECT_EQ(words[0], hi3(1));
    EXPECT_EQ(words[1], lo3(5000 - 4096));
    EXPECT_EQ(words[2], y3(3));
    EXPECT_EQ(words[3], base3(10, 1));
    EXPECT_EQ(words[4], v12(0b1011));  // 10, 11, 13 in [10, 22)
    EXPECT_EQ(words[5], v8(0b100));    // 24 in [22, 30)
    EXPECT_EQ(words[6], x3(40, 1));
    Out o = decodeWords(bytes, RawFormat::Evt3);
    EXPECT_EQ(o.events, ev);
    EXPECT_EQ(w.eventsWritten(), ev.size());

    std::vector<Event2D> bad{{2048, 1, 0, 10}, {1, 2048, 0, 10}, {5, 5, 1, 10}};
    RawWriter w2(RawFormat::Evt3);
    w2.writeEvents(bad.data(), bad.size());
    EXPECT_EQ(w2.eventsDropped(), 2u);
    EXPECT_EQ(decodeWords(w2.takeBuffer(), RawFormat::Evt3).events,
              (std::vector<Event2D>{{5, 5, 1, 10}}));
}

// Words copied as they are (a cut's whole stretches) decode as they did in
// their source: the writer first puts the time, row and vector base the
// decoder had there, and afterwards writes on from the state they leave.
// Here the copied words begin with a vector that continues a base, under a
// row and a time low the writer's own words never wrote, and end under
// another row and TIME_HIGH. The events written next share the row, the
// time low or the time high the writer had before the copy.
TEST(RawWriterTest, CopiedWordsDecodeFromTheirSourcesState) {
    const std::vector<uint8_t> head =
        words16({hi3(1), lo3(0x800), y3(50), base3(100, 1), v12(0b1), y3(60), lo3(0x850)});
    const std::vector<uint8_t> copied =
        words16({v12(0b101), lo3(0x900), x3(9, 0), y3(70), hi3(2), x3(3, 1)});
    std::vector<uint8_t> source = head;
    source.insert(source.end(), copied.begin(), copied.end());
    const Out before = decodeWords(head, RawFormat::Evt3);
    const Out all = decodeWords(source, RawFormat::Evt3);
    ASSERT_EQ(before.events.size(), 1u);
    ASSERT_EQ(all.events.size(), 5u);
    const struct {
        const char* name;
        Event2D next;
    } cases[] = {
        {"the row and time low before the copy", {20, 50, 0, (uint64_t(2) << 12) | 0x850}},
        {"the time high before the copy (time going back)",
         {21, 60, 1, (uint64_t(1) << 12) | 0x850}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawWriter w(RawFormat::Evt3);
        EXPECT_FALSE(w.writeWords(copied.data(), copied.size(), before.state, all.state, 4))
            << "before the writer's own first time word";
        w.writeEvents(before.events.data(), before.events.size());
        DecoderState farBase = before.state;
        farBase.baseX = 2048;
        EXPECT_FALSE(w.writeWords(copied.data(), copied.size(), farBase, all.state, 4));
        ASSERT_TRUE(w.writeWords(copied.data(), copied.size(), before.state, all.state, 4));
        w.writeEvents(&c.next, 1);
        EXPECT_EQ(w.eventsWritten(), 6u);
        std::vector<Event2D> want = all.events;
        want.push_back(c.next);
        const Out back = decodeWords(w.takeBuffer(), RawFormat::Evt3);
        EXPECT_EQ(back.events, want);
        EXPECT_EQ(back.corrupt, 0u);
    }

    // EVT 2.0: the copied events take their time high from the state.
    RawWriter w2(RawFormat::Evt2);
    const std::vector<Event2D> first{{1, 2, 1, 100}};
    w2.writeEvents(first.data(), first.size());
    RawWriter src2(RawFormat::Evt2);
    const std::vector<Event2D> later{{3, 4, 0, 5000}, {5, 6, 1, 5001}};
    src2.writeEvents(later.data(), later.size());
    std::vector<uint8_t> words2 = src2.takeBuffer();
    const Out decoded2 = decodeWords(words2, RawFormat::Evt2);
    words2.erase(words2.begin(), words2.begin() + 4);  // the time high comes from the state
    DecoderState at2 = decoded2.state;
    ASSERT_TRUE(w2.writeWords(words2.data(), words2.size(), at2, decoded2.state, 2));
    const std::vector<Event2D> last{{7, 8, 0, 9000}};
    w2.writeEvents(last.data(), last.size());
    std::vector<Event2D> want2 = first;
    want2.insert(want2.end(), later.begin(), later.end());
    want2.push_back(last[0]);
    EXPECT_EQ(decodeWords(w2.takeBuffer(), RawFormat::Evt2).events, want2);
}

// Bridging a long silence (or a long way back) streams its time words to
// the file as it goes: 256 MB of them are written by a process allowed
// 128 MB more address space than it started with.
TEST(RawWriterTest, LongSilencesAreWrittenAsTheyAreBridged) {
    VELQORA_SKIP_ON_WINDOWS("fork and address-space limits are POSIX");
#if !defined(_WIN32)
    struct Case {
        RawFormat format;
        uint64_t first, second;  // 256 MB of bridging words between them
    };
    constexpr uint64_t kWords = uint64_t(1) << 26;
    const Case cases[] = {
        {RawFormat::Evt3, 100, 100 + 2 * kWords * 2047 * 4096},
        {RawFormat::Evt3, uint64_t(1) << 42, (uint64_t(1) << 42) - 2 * kWords * 4 * 4096},
        {RawFormat::Evt2, 100, 100 + kWords * ((uint64_t(1) << 27) - 1) * 64},
        {RawFormat::Evt2, uint64_t(1) << 42, (uint64_t(1) << 42) - kWords * 4 * 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(rawFormatName(c.format)) + " to " + std::to_string(c.second));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            long pages = 0;
            std::ifstream("/proc/self/statm") >> pages;
            const rlim_t limit =
                rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (rlim_t(128) << 20);
            const rlimit rl{limit, limit};
            if (::setrlimit(RLIMIT_AS, &rl) != 0) std::_Exit(3);
            try {
                const std::vector<Event2D> ev{{1, 2, 1, c.first}, {3, 4, 0, c.second}};
                RawWriter w(c.format);
                if (!w.open("/dev/null", "")) std::_Exit(4);
                w.writeEvents(ev.data(), ev.size());
                std::_Exit(w.close() ? 0 : 1);
            } catch (const std::bad_alloc&) {
                std::_Exit(2);
            }
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1: write failed, 2: out of memory";
    }
#endif
}

// A chunk with its edges lands in file order in both encodings: each edge
// before the event at its index, an index past the end after every event,
// one that falls back behind an earlier edge at that edge (nothing is
// written twice or skipped); edges placed by time go before the first event
// not earlier than them.
TEST(RawWriterTest, ChunkWithEdgesInFileOrder) {
    const std::vector<Event2D> ev{{1, 1, 1, 100}, {2, 1, 0, 200}, {3, 1, 1, 200}, {4, 1, 0, 300}};
    const auto edge = [](uint64_t t, int16_t id) { return EventTriggerIn(id, 1, t); };
    const struct {
        const char* name;
        std::vector<uint64_t> indices;  // given to the writer
        std::vector<uint64_t> decoded;  // what the decode reports
    } cases[] = {
        {"none", {}, {}},
        {"first and middle", {0, 2}, {0, 2}},
        {"twice at one place", {1, 1}, {1, 1}},
        {"past the end", {4, 9}, {4, 4}},
        {"falling back", {3, 1}, {3, 3}},
    };
    for (RawFormat format : {RawFormat::Evt3, RawFormat::Evt2}) {
        for (const auto& c : cases) {
            std::vector<TriggerRecord> edges;
            for (size_t k = 0; k < c.indices.size(); ++k) {
                // Each edge carries the time of the place it lands at, so time never goes back.
                const uint64_t at = c.decoded[k];
                const uint64_t t = at < ev.size() ? ev[at].timestamp : 300;
                edges.push_back({edge(t, int16_t(k)), c.indices[k]});
            }
            RawWriter w(format);
            w.writeChunk(ev.data(), ev.size(), edges);
            const Out o = decodeWords(w.takeBuffer(), format);
            EXPECT_EQ(o.events, ev) << c.name;
            ASSERT_EQ(o.triggers.size(), c.decoded.size()) << c.name;
            for (size_t k = 0; k < c.decoded.size(); ++k) {
                EXPECT_EQ(o.triggers[k].eventIndex, c.decoded[k]) << c.name << " edge " << k;
                EXPECT_EQ(o.triggers[k].trigger.id, int16_t(k)) << c.name;
            }
        }
    }
    std::vector<TriggerRecord> placed;
    placeEdgesByTime(ev.data(), ev.size(),
                     {edge(50, 0), edge(200, 1), edge(201, 2), edge(300, 3), edge(999, 4)}, placed);
    std::vector<uint64_t> indices;
    for (const auto& p : placed)
        indices.push_back(p.eventIndex);
    EXPECT_EQ(indices, (std::vector<uint64_t>{0, 1, 3, 3, 4}));
}

// A TIME_HIGH far ahead is a long pause; a smaller one is time going back,
// however far, unless it goes from the top quarter of the counter to its
// bottom quarter: then the counter looped. From near 0 up to near the top
// after a loop is time going back across it.
TEST(Evt3DecoderTest, LongPausesStepsBackAndLoops) {
    auto bytes = words16({
        hi3(3000), lo3(5),    x3(1, 0),  // 3000 steps
        hi3(1000), lo3(0),    x3(2, 0),  // 2000 steps back (8.2 s) from the middle: not a loop
        hi3(998),  lo3(7),    x3(3, 0),  // two steps back: jitter
        hi3(1002), x3(4, 0),             // forward again
        hi3(990),  x3(5, 0),             // twelve steps back: time went back 49 ms
        hi3(985),  x3(6, 0),             // five steps back (20 ms) from the middle
        hi3(1010), x3(7, 0),             // forward again
        hi3(3000), x3(8, 0),             // a pause of 1990 steps
        hi3(3500), x3(9, 0),             // into the top quarter
        hi3(500),  x3(10, 0),            // top quarter to bottom quarter: one loop
        hi3(4095), x3(11, 0),            // 501 steps back across that loop
        hi3(3),    x3(12, 0),            // top to near 0: the same loop again
    });
    const uint64_t L = 1ull << 24, S = 4096;
    std::vector<uint64_t> expected{3000 * S + 5, 1000 * S,    998 * S + 7, 1002 * S,
                                   990 * S,      985 * S,     1010 * S,    3000 * S,
                                   3500 * S,     L + 500 * S, 4095 * S,    L + 3 * S};
    EXPECT_EQ(timesOf(decodeWords(bytes, RawFormat::Evt3).events), expected);

    // The same rule for EVT 2.0 (28-bit high, 64 us steps).
    std::vector<uint8_t> b;
    const uint64_t range = 1u << 28;
    const uint64_t first = range / 2 + 5000;
    const uint64_t far = first - range / 4 - 1000;  // more than a quarter back: still time
    // Absolute steps; the words carry them modulo the range.
    const std::vector<uint64_t> highs{first,
                                      far,
                                      far - 3,  // three steps back: jitter
                                      far - 8,  // five more (320 us) back
                                      far + 9,
                                      range - range / 8,  // into the top quarter
                                      range + range / 8,  // to the bottom quarter: one loop
                                      range - 2,          // back across the loop
                                      range + 5,          // the same loop again
                                      range + range / 2,  // forward, a long pause
                                      2 * range - 2,      // to the top of the counter
                                      2 * range + 5};     // top to near 0: one loop
    for (size_t i = 0; i < highs.size(); ++i) {
        put32(b, 0x80000000u | uint32_t(highs[i] & 0x0FFFFFFF));
        put32(b, 0x10000000u | (uint32_t(i) << 11) | 1u);
    }
    Out o2 = decodeWords(b, RawFormat::Evt2);
    std::vector<uint64_t> expected2;
    for (uint64_t h : highs)
        expected2.push_back(h << 6);
    EXPECT_EQ(timesOf(o2.events), expected2);

    // What the writer makes of long pauses and of a way back reads back as written.
    std::vector<Event2D> ev{{1, 1, 1, 100},
                            {2, 1, 1, 100 + 9000000},          // 9 s pause
                            {3, 1, 1, 100 + 9000000 - 60000},  // 60 ms back
                            {4, 1, 1, 40000000},
                            {5, 1, 1, 12000000},  // 28 s back, across loops
                            {6, 1, 1, 12500000},  // into the top quarter
                            {7, 1, 1, 11000000},  // 1.5 s back from there
                            {8, 1, 1, 16000000},
                            {9, 1, 1, 17000000},       // across the top
                            {10, 1, 1, 10000000},      // 7 s back across it
                            {11, 1, 1, 20000000000}};  // 5.5 h later
    for (RawFormat format : {RawFormat::Evt3, RawFormat::Evt2})
        EXPECT_EQ(decodeWords(encode(format, ev), format).events, ev) << rawFormatName(format);
}

// Vectors without a base x in range never wrap x into y nor leave the
// 11-bit address range; what falls outside is counted as corrupt.
TEST(Evt3DecoderTest, VectorsBeyondTheAddressRangeAreDropped) {
    std::vector<uint8_t> bytes = words16({hi3(1), y3(7)});
    for (int i = 0; i < 6000; ++i)  // 72000 positions from base 0: past 65536
        put16(bytes, v12(0xFFF));
    put16(bytes, base3(2040, 1));
    put16(bytes, v12(0xFFF));  // 2040..2047 kept, 2048..2051 dropped
    Out o = decodeWords(bytes, RawFormat::Evt3);
    ASSERT_EQ(o.events.size(), 2048u + 8u);
    for (size_t i = 0; i < o.events.size(); ++i) {
        EXPECT_LE(o.events[i].x, 2047);
        ASSERT_EQ(o.events[i].y, 7) << i;
    }
    EXPECT_EQ(o.events[2047].x, 2047);
    EXPECT_EQ(o.events[2048].x, 2040);
    EXPECT_GT(o.corrupt, 1u);
    // The scan agrees with the decoder on the saturated base.
    DecoderState s;
    TimeIndex::advanceEvt3(bytes.data(), bytes.size() / 2, s);
    EXPECT_EQ(s, o.state);
}

// The SIMD walk the library uses and the portable fallback agree on state,
// statistics and the search for a time below a limit, on real data and garbage.
TEST(TimeIndexTest, PortableWalkMatchesSimdWalk) {
    std::mt19937_64 rng(21);
    std::vector<uint8_t> garbage = noise(rng, 1 << 18);
    // Garbage with TIME_HIGH words thinned out, so long stretches take the block path.
    std::vector<uint8_t> thinned = garbage;
    for (size_t i = 1; i < thinned.size(); i += 2)
        if ((thinned[i] >> 4) == 0x8 && rng() % 16 != 0)
            thinned[i] = uint8_t(0x60 | (thinned[i] & 0xF));
    SyntheticOptions o{.duration_us = 100000, .eventsPerSecond = 3000000, .dense = true};
    std::vector<uint8_t> real = encode(RawFormat::Evt3, expectedFor(o).events);

    for (const auto* data : {&garbage, &thinned, &real}) {
        const size_t words = data->size() / 2;
        for (int trial = 0; trial < 40; ++trial) {
            const size_t from = size_t(rng() % words);
            const size_t n = size_t(rng() % std::min<size_t>(words - from, 5000));
            DecoderState a, b;
            a.timeHigh = b.timeHigh = uint64_t(rng() % 3) << 24;
            ScanStats sa, sb;
            evt3::walk(data->data() + 2 * from, n, a, sa);
            portableEvt3Walk(data->data() + 2 * from, n, b, sb);
            ASSERT_EQ(a, b) << trial;
            ASSERT_EQ(sa.minTime, sb.minTime);
            ASSERT_EQ(sa.maxTime, sb.maxTime);
            ASSERT_EQ(sa.eventWords, sb.eventWords);
            ASSERT_EQ(sa.eventBound, sb.eventBound);
            // The bound: every single event and every vector mask bit.
            uint64_t bound = 0;
            for (size_t i = 0; i < n; ++i) {
                const uint16_t w = loadWord16(data->data() + 2 * (from + i));
                const unsigned type = evt3::typeOf(w);
                bound += type == evt3::kAddrX    ? 1
                         : type == evt3::kVect12 ? std::bitset<12>(w).count()
                         : type == evt3::kVect8  ? std::bitset<8>(w).count()
                                                 : 0;
            }
            ASSERT_EQ(sa.eventBound, bound) << trial;
            // Both equal the word-by-word reference.
            DecoderState start;
            start.timeHigh = b.timeHigh & ~uint64_t(0xFFFFFF);
            DecoderState r = start, again = start;
            ScanStats sr, sg;
            evt3::walkWords(data->data() + 2 * from, n, r, sr);
            evt3::walk(data->data() + 2 * from, n, again, sg);
            ASSERT_EQ(r, again);
            ASSERT_EQ(sr.minTime, sg.minTime);
            ASSERT_EQ(sr.maxTime, sg.maxTime);
            ASSERT_EQ(sr.eventBound, sg.eventBound);

            const uint64_t limit =
                sa.minTime == UINT64_MAX ? 1 + rng() % (1 << 24) : sa.minTime + rng() % 8192;
            DecoderState fa = start, fb = start;
            const size_t ia = evt3::findTimeBelow(data->data() + 2 * from, n, fa, limit);
            const size_t ib = portableEvt3FindTimeBelow(data->data() + 2 * from, n, fb, limit);
            ASSERT_EQ(ia, ib) << trial;
            ASSERT_EQ(fa, fb);
            if (ia < n) {
                DecoderState next = fa;
                ASSERT_TRUE(evt3::applyWord(next, loadWord16(data->data() + 2 * (from + ia))));
                EXPECT_LT(next.time, limit);
            }
        }
    }
}

// Events beyond the sensor's width (from its header) are dropped as corrupt;
// trigger edges keep their place among the events that remain.
TEST(DecoderTest, EventsBeyondTheSensorAreDropped) {
    auto bytes3 = words16({hi3(1), y3(2), x3(10, 1), x3(700, 1), trig3(1, 1), x3(11, 0),
                           base3(630, 0), v12(0xFFF), x3(639, 1)});
    std::vector<uint8_t> bytes2;
    put32(bytes2, 0x80000000u | 64);
    put32(bytes2, 0x10000000u | (10u << 11) | 2u);
    put32(bytes2, 0x10000000u | (700u << 11) | 2u);
    put32(bytes2, 0xA0000000u | (1u << 8) | 1u);
    put32(bytes2, 0x00000000u | (11u << 11) | 2u);
    for (RawFormat format : {RawFormat::Evt3, RawFormat::Evt2}) {
        const auto& bytes = format == RawFormat::Evt3 ? bytes3 : bytes2;
        std::vector<Event2D> out(64);
        std::vector<TriggerRecord> triggers;
        DecoderState s;
        uint64_t corrupt = 0;
        DecodeStep step = decodeStep(format, bytes.data(), bytes.size() / wordSizeBytes(format), s,
                                     out, out.size(), corrupt, &triggers, 100, 640);
        out.resize(step.eventsWritten);
        ASSERT_GE(out.size(), 2u) << rawFormatName(format);
        for (auto& e : out)
            EXPECT_LT(e.x, 640) << rawFormatName(format);
        EXPECT_EQ(out[0].x, 10);
        EXPECT_EQ(out[1].x, 11);
        ASSERT_EQ(triggers.size(), 1u);
        EXPECT_EQ(triggers[0].eventIndex, 101u);  // after x=10, before x=11
        EXPECT_GE(corrupt, 1u);
        if (format == RawFormat::Evt3) {
            EXPECT_EQ(out.size(), 2u + 10u + 1u);  // 630..639 kept of the vector
            EXPECT_EQ(corrupt, 2u);
        }
    }
    // Many edges among dropped events, at the start, side by side and at the end.
    auto edges =
        words16({hi3(1), y3(2), trig3(0, 1), x3(700, 1), x3(10, 1), trig3(1, 1), trig3(2, 0),
                 x3(701, 0), x3(702, 0), x3(11, 0), trig3(3, 1), x3(703, 1), trig3(4, 0)});
    {
        std::vector<Event2D> out(64);
        std::vector<TriggerRecord> triggers;
        DecoderState s;
        uint64_t corrupt = 0;
        DecodeStep step = decodeStep(RawFormat::Evt3, edges.data(), edges.size() / 2, s, out,
                                     out.size(), corrupt, &triggers, 100, 640);
        ASSERT_EQ(step.eventsWritten, 2u);
        EXPECT_EQ(out[0].x, 10);
        EXPECT_EQ(out[1].x, 11);
        std::vector<uint64_t> at;
        for (const TriggerRecord& t : triggers)
            at.push_back(t.eventIndex);
        EXPECT_EQ(at, (std::vector<uint64_t>{100, 101, 101, 102, 102}));
        EXPECT_EQ(corrupt, 4u);
    }
    // A sensor narrower than one vector word.
    auto narrow = words16({hi3(1), y3(0), base3(0, 1), v12(0xFFF), v8(0xFF)});
    std::vector<Event2D> out(64);
    DecoderState s;
    uint64_t corrupt = 0;
    DecodeStep step = decodeStep(RawFormat::Evt3, narrow.data(), narrow.size() / 2, s, out,
                                 out.size(), corrupt, nullptr, 0, 5);
    ASSERT_EQ(step.eventsWritten, 5u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(out[i].x, i);
    EXPECT_EQ(corrupt, 2u);
}
