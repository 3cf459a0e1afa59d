// Times as the reader gives them back: absolute across counter loops, found
// by windows even where the data's time went back, and known from the cache
// without decoding.

#include <gtest/gtest.h>

#include <random>

#include "DriverTestSupport.h"
#include "korvane/file/IndexCache.h"

using namespace kvtest;

namespace {

std::string withHeader(const ScratchDir& dir, const std::string& name,
                       const std::vector<uint8_t>& words, uint64_t dvsStart = 0) {
    DvsFileInfo info;
    info.dvsStartTimestamp = dvsStart;
    return rawFileWith(dir, name, words, info);
}

}  // namespace

// A recording that starts after the 24-bit (EVT 3.0) or 34-bit (EVT 2.0)
// counter looped reads back with its absolute times, and so does a cut of it.
TEST(ReaderTimeTest, LateStartReadsBackAbsoluteTimes) {
    for (RawFormat format : {RawFormat::Evt3, RawFormat::Evt2}) {
        ScratchDir dir;
        SyntheticOptions o{
            .duration_us = 2500000,
            .eventsPerSecond = 50000,
            .triggerPeriod_us = 100000,
            .startTime_us = format == RawFormat::Evt3 ? 19500000 : (1ull << 34) + 19500000,
            .format = format};
        Expected exp = expectedFor(o);
        auto r = openReader(generate(dir, "late.raw", o));
        uint64_t start = 0, end = 0;
        r->getStartTime(start);
        r->getEndTime(end);
        EXPECT_EQ(start, exp.events.front().timestamp) << rawFormatName(format);
        EXPECT_EQ(end, exp.events.back().timestamp);
        Decoded d = decodeAll(*r);
        EXPECT_EQ(d.events, exp.events);
        EXPECT_EQ(d.triggers, exp.triggers);
        const uint64_t at = o.startTime_us + 1234567;
        EXPECT_EQ(*r->readEventsInWindow(at, 40000), filterWindow(exp.events, at, at + 40000));

        const uint64_t cutFrom = o.startTime_us + 500000, cutTo = o.startTime_us + 1500000;
        ASSERT_TRUE(r->exportRawRange(cutFrom, cutTo, dir.file("cut.raw")));
        auto cut = openReader(dir.file("cut.raw"));
        EXPECT_EQ(decodeAll(*cut).events, filterWindow(exp.events, cutFrom, cutTo + 1));
        DvsFileInfo info;
        cut->getFileInfo(info);
        cut->getStartTime(start);
        EXPECT_EQ(info.dvsStartTimestamp, start);
        EXPECT_GE(start, cutFrom);

        // The same from the cached index.
        auto again = openReader(dir.file("late.raw"));
        EXPECT_TRUE(again->indexLoadedFromCache());
        EXPECT_EQ(*again->readEventsInWindow(at, 40000), filterWindow(exp.events, at, at + 40000));
    }
}

// A header start that does not agree with the data is not applied.
TEST(ReaderTimeTest, DisagreeingHeaderStartIsIgnored) {
    ScratchDir dir;
    std::vector<uint8_t> w;
    put16(w, 0x8001);
    put16(w, 0x6005);
    put16(w, 0x0003);
    put16(w, 0x2000 | 20);  // one event at 4101
    for (uint64_t headerStart : {uint64_t(60000000), uint64_t(0), uint64_t(4101)}) {
        auto r = openReader(withHeader(dir, "h.raw", w, headerStart));
        uint64_t start = 0;
        ASSERT_TRUE(r->getStartTime(start));
        EXPECT_EQ(start, 4101u) << headerStart;
    }
}

// TIME_LOW may go back under one TIME_HIGH: windows and decodes still find
// every event whose time lies in them, also across index checkpoints.
TEST(ReaderTimeTest, TimeGoingBackIsFoundByWindows) {
    ScratchDir dir;
    std::vector<uint8_t> w;
    put16(w, 0x8002);  // 8192
    put16(w, 0x0001);
    put16(w, 0x6000 | 4000);  // 12192
    for (uint16_t x = 0; x < 10; ++x)
        put16(w, uint16_t(0x2000 | x));
    // More than one index step of row words before the time comes back.
    for (int i = 0; i < 200000; ++i)
        put16(w, 0x0001);
    put16(w, 0x6000 | 100);  // 8292
    for (uint16_t x = 0; x < 10; ++x)
        put16(w, uint16_t(0x2000 | (100 + x)));
    put16(w, 0x8003);
    put16(w, 0x2000 | 7);  // 12288
    auto r = openReader(withHeader(dir, "back.raw", w));
    ASSERT_GT(r->index().entries().size(), 1u);
    Decoded all = decodeAll(*r);
    ASSERT_EQ(all.events.size(), 21u);
    const auto expected = filterWindow(all.events, 8000, 9000);
    ASSERT_EQ(expected.size(), 10u);
    EXPECT_EQ(decodeAll(*r, 8000, 9000).events, expected);
    EXPECT_EQ(*r->readEventsInWindow(8000, 1000), expected);
    // The same window twice: the second may not continue after the first,
    // whose stop lies behind events of its own time.
    const auto late = filterWindow(all.events, 12192, 12193);
    ASSERT_EQ(late.size(), 10u);
    EXPECT_EQ(*r->readEventsInWindow(12192, 1), late);
    EXPECT_EQ(*r->readEventsInWindow(12192, 1), late);
    uint64_t end = 0;
    r->getEndTime(end);
    EXPECT_EQ(end, 12288u);

    // Random time going back and forth: every window equals the filtered whole.
    std::mt19937_64 rng(5);
    std::vector<uint8_t> v;
    uint16_t high = 1;
    put16(v, uint16_t(0x8000 | high));
    for (int i = 0; i < 400000; ++i) {
        const unsigned pick = unsigned(rng() % 100);
        if (pick < 2) {
            high = uint16_t((high + 1) & 0xFFF);
            put16(v, uint16_t(0x8000 | high));
        } else if (pick < 12) {
            put16(v, uint16_t(0x6000 | (rng() % 4096)));
        } else if (pick < 20) {
            put16(v, uint16_t(rng() % 720));
        } else if (pick < 22) {
            put16(v, uint16_t(0xA000 | (rng() % 2)));
        } else {
            put16(v, uint16_t(0x2000 | (rng() % 1280)));
        }
    }
    auto rr = openReader(withHeader(dir, "wobble.raw", v));
    Decoded whole = decodeAll(*rr);
    ASSERT_GT(whole.events.size(), 100000u);
    uint64_t first = 0, last = 0;
    rr->getStartTime(first);
    rr->getEndTime(last);
    uint64_t maxTime = 0;
    for (auto& e : whole.events)
        maxTime = std::max(maxTime, e.timestamp);
    EXPECT_EQ(last, maxTime);
    for (int i = 0; i < 60; ++i) {
        const uint64_t at = rng() % (maxTime + 1);
        const uint64_t d = 1 + rng() % 20000;
        ASSERT_EQ(*rr->readEventsInWindow(at, d), filterWindow(whole.events, at, at + d)) << at;
        ASSERT_EQ(decodeAll(*rr, at, at + d).events, filterWindow(whole.events, at, at + d));
    }
    // Back-to-back windows (the resume path) as playback reads them.
    const uint64_t from = first + (maxTime - first) / 3;
    ASSERT_TRUE(rr->seekToTime(from));
    for (uint64_t t = from; t <= maxTime && t < from + 200 * 3000; t += 3000) {
        auto b = rr->readEventsFor(3000);
        ASSERT_TRUE(b);
        ASSERT_EQ(*b, filterWindow(whole.events, t, t + 3000)) << t;
    }
}

// The first and last event times are kept with the index: a cached open
// needs no decode, however far into the file the first event lies.
TEST(ReaderTimeTest, CachedIndexKeepsTheEventSpan) {
    ScratchDir dir;
    std::vector<uint8_t> w;
    for (int i = 0; i < 600000; ++i)  // 1.2 MB of time words before any event
        put16(w, uint16_t(0x8000 | ((i / 100) & 0xFFF)));
    put16(w, 0x6007);
    put16(w, 0x0002);
    put16(w, 0x2003);
    put16(w, 0x2004);
    for (int i = 0; i < 300000; ++i)  // and after the last
        put16(w, uint16_t(0x8000 | ((6000 + i / 100) & 0xFFF)));
    const std::string path = withHeader(dir, "late.raw", w);
    auto r = openReader(path);
    EXPECT_FALSE(r->indexLoadedFromCache());
    uint64_t start = 0, end = 0;
    ASSERT_TRUE(r->getStartTime(start));
    ASSERT_TRUE(r->getEndTime(end));
    EXPECT_EQ(start, end);
    EXPECT_EQ(r->readEventsInWindow(start, 1)->size(), 2u);

    IndexFileKey key;
    ASSERT_TRUE(IndexCache::keyFor(path, r->header().dataOffsetBytes, key));
    auto cached = IndexCache::load(key);
    ASSERT_TRUE(cached);
    EXPECT_TRUE(cached->span().known);
    EXPECT_TRUE(cached->span().hasEvents);
    EXPECT_EQ(cached->span().first_us, start);
    EXPECT_EQ(cached->span().last_us, end);
    auto again = openReader(path);
    EXPECT_TRUE(again->indexLoadedFromCache());
    uint64_t s2 = 0;
    again->getStartTime(s2);
    EXPECT_EQ(s2, start);
}

// Progress while the index is built: rising, ending at 1; none for a cached index.
TEST(ReaderTimeTest, OpenProgressReportsTheBuildOnly) {
    ScratchDir dir;
    SyntheticOptions o{.duration_us = 1000000, .eventsPerSecond = 8000000};
    const std::string path = generate(dir, "p.raw", o);
    ASSERT_GT(fs::file_size(path), 16u << 20);  // several read pieces
    std::vector<double> seen;
    auto r = DvsFileReader::createFileReader(path);
    r->setOpenProgressCallback([&](double f) { seen.push_back(f); });
    ASSERT_TRUE(r->openForReading());
    ASSERT_GE(seen.size(), 2u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GE(seen.front(), 0.0);
    EXPECT_EQ(seen.back(), 1.0);

    seen.clear();
    auto cached = DvsFileReader::createFileReader(path);
    cached->setOpenProgressCallback([&](double f) { seen.push_back(f); });
    ASSERT_TRUE(cached->openForReading());
    EXPECT_TRUE(cached->indexLoadedFromCache());
    EXPECT_TRUE(seen.empty());
}
