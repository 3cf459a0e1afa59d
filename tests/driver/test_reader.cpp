#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <optional>
#include <random>
#include <thread>

#include "DriverTestSupport.h"
#include "korvane/file/IndexCache.h"
#include "korvane/file/RawWriter.h"

using namespace kvtest;

namespace {

// 20 s at 100 kev/s with trigger edges: longer than one 24-bit time loop.
SyntheticOptions longRecording(RawFormat format = RawFormat::Evt3) {
    return {.duration_us = 20000000,
            .eventsPerSecond = 100000,
            .seed = 3,
            .triggerPeriod_us = 250000,
            .startTime_us = 1500,
            .format = format,
            .serialNumber = "KVTEST42"};
}

// The events visitEventsInWindow hands over, joined; none when it returns false.
std::optional<std::vector<Event2D>> visited(DvsFileReader& r, uint64_t start, uint64_t duration) {
    std::vector<Event2D> all;
    const bool read = r.visitEventsInWindow(start, duration, [&](const Event2D* ev, size_t n) {
        EXPECT_GT(n, 0u);
        all.insert(all.end(), ev, ev + n);
    });
    if (!read) return std::nullopt;
    return all;
}

}  // namespace

// The long recording in each encoding, opened.
class ReaderTest : public testing::TestWithParam<RawFormat> {
protected:
    void SetUp() override {
        exp = expectedFor(longRecording(GetParam()));
        r = openReader(generate(dir, "long.raw", longRecording(GetParam())));
        ASSERT_TRUE(r);
    }
    ScratchDir dir;
    Expected exp;
    std::unique_ptr<DvsFileReader> r;
};

TEST_P(ReaderTest, RoundTripTimeRangeAndInfo) {
    EXPECT_EQ(r->format(), GetParam());

    Decoded d = decodeAll(*r);
    ASSERT_EQ(d.events.size(), exp.events.size());
    EXPECT_EQ(d.events, exp.events);
    EXPECT_EQ(d.triggers, exp.triggers);
    ASSERT_FALSE(d.triggerPositions.empty());
    for (size_t i = 0; i < d.triggers.size(); ++i) {
        // Every edge sits before the first event of its time and after the earlier ones.
        size_t at = d.triggerPositions[i];
        if (at < d.events.size()) {
            EXPECT_GE(d.events[at].timestamp, d.triggers[i].timestamp);
        }
        if (at > 0) {
            EXPECT_LT(d.events[at - 1].timestamp, d.triggers[i].timestamp);
        }
    }

    uint64_t start = 0, end = 0;
    EXPECT_TRUE(r->getStartTime(start));
    EXPECT_TRUE(r->getEndTime(end));
    EXPECT_EQ(start, exp.events.front().timestamp);
    EXPECT_EQ(end, exp.events.back().timestamp);

    DvsFileInfo info;
    EXPECT_TRUE(r->getFileInfo(info));
    EXPECT_EQ(info.serialNumber, "KVTEST42");
    EXPECT_EQ(info.dvsStartTimestamp, start);
    EXPECT_EQ(info.apsStartTimestamp, 0u);
    EXPECT_EQ(info.width, 1280u);
}

TEST_P(ReaderTest, WindowsAreHalfOpenEverywhere) {
    const uint64_t first = exp.events.front().timestamp, last = exp.events.back().timestamp;

    std::mt19937_64 rng(9);
    std::vector<std::pair<uint64_t, uint64_t>> windows{
        // Long windows first: the buffers they grow serve the short ones after.
        {first, last - first + 1},
        {4000000, 9000000},
        {0, 1},
        {first, 1},
        {first, 33333},
        {last, 1},
        {last - 10, 11},
        {(1ull << 24) - 5, 10},  // across the time wrap
        {(1ull << 24), 1},
        {5000000, 0},
        {last - 100, 1000000},
    };
    // Windows that start exactly on an event time.
    for (int i = 0; i < 5; ++i)
        windows.push_back({exp.events[rng() % exp.events.size()].timestamp, 1});
    for (int i = 0; i < 60; ++i)
        windows.push_back({rng() % (last + 1), 1 + rng() % 100000});
    for (int i = 0; i < 6; ++i)
        windows.push_back({rng() % (last + 1), 1 + rng() % 6000000});

    for (auto [start, duration] : windows) {
        auto batch = r->readEventsInWindow(start, duration);
        ASSERT_TRUE(batch) << start;
        EXPECT_EQ(*batch, filterWindow(exp.events, start, start + duration))
            << "window " << start << " +" << duration;
        // Visiting the window hands over the same events, in pieces.
        EXPECT_EQ(visited(*r, start, duration), *batch) << "window " << start << " +" << duration;
        auto trig = r->readTriggersInWindow(start, duration);
        size_t expectedTriggers = 0;
        for (auto& t : exp.triggers)
            expectedTriggers += t.timestamp >= start && t.timestamp < start + duration;
        EXPECT_EQ(trig.size(), expectedTriggers);
    }
    // Past the last event there is no batch; at the last event there is one.
    EXPECT_FALSE(r->readEventsInWindow(last + 1, 1000));
    EXPECT_FALSE(visited(*r, last + 1, 1000));
    EXPECT_TRUE(r->readEventsInWindow(last, 1));
    // A window reaching to the end of time does not overflow.
    auto tail = r->readEventsInWindow(last - 5, UINT64_MAX);
    ASSERT_TRUE(tail);
    EXPECT_EQ(*tail, filterWindow(exp.events, last - 5, UINT64_MAX));
}

TEST_P(ReaderTest, SeekThenReadAndSequentialPlayback) {
    const uint64_t last = exp.events.back().timestamp;

    // Seek across the wrap, then read forward with readEventsFor.
    ASSERT_TRUE(r->seekToTime(16777000));
    auto a = r->readEventsFor(500);
    ASSERT_TRUE(a);
    EXPECT_EQ(*a, filterWindow(exp.events, 16777000, 16777500));
    auto b = r->readEventsFor(500);  // continues from where the window ended
    ASSERT_TRUE(b);
    EXPECT_EQ(*b, filterWindow(exp.events, 16777500, 16778000));

    EXPECT_FALSE(r->seekToTime(last + 1));
    EXPECT_TRUE(r->seekToTime(last));
    EXPECT_TRUE(r->seekToTime(0));

    // Playback: back-to-back 33,333 us frames cover the file exactly once.
    std::vector<Event2D> played, playedByVisits;
    for (uint64_t t = 0; t <= last; t += 33333) {
        auto batch = r->readEventsInWindow(t, 33333);
        ASSERT_TRUE(batch);
        played.insert(played.end(), batch->begin(), batch->end());
    }
    EXPECT_EQ(played, exp.events);
    // The same by visits, which continue where the last one stopped as reads do.
    for (uint64_t t = 0; t <= last; t += 33333) {
        auto events = visited(*r, t, 33333);
        ASSERT_TRUE(events);
        playedByVisits.insert(playedByVisits.end(), events->begin(), events->end());
    }
    EXPECT_EQ(playedByVisits, exp.events);
    // Stepping back after playing forward.
    auto back = r->readEventsInWindow(2000000, 33333);
    EXPECT_EQ(*back, filterWindow(exp.events, 2000000, 2033333));
}

INSTANTIATE_TEST_SUITE_P(BothFormats, ReaderTest, testing::Values(RawFormat::Evt3, RawFormat::Evt2),
                         [](const auto& info) { return std::string(rawFormatName(info.param)); });

TEST(ReaderIndexCacheTest, PersistedReusedInvalidatedAndUnwritable) {
    ScratchDir dir;
    SyntheticOptions o = longRecording();
    o.duration_us = 3000000;
    o.eventsPerSecond = 1000000;
    Expected exp = expectedFor(o);
    const std::string path = generate(dir, "c.raw", o);

    auto first = openReader(path);
    EXPECT_FALSE(first->indexLoadedFromCache());
    // The index lives in the cache, never beside the recording.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
    IndexFileKey key;
    ASSERT_TRUE(IndexCache::keyFor(path, first->header().dataOffsetBytes, key));
    const std::string indexPath = IndexCache::indexPathFor(key.absolutePath);
    ASSERT_TRUE(fs::exists(indexPath));
    EXPECT_EQ(indexPath.rfind(dir.cache().string(), 0), 0u);

    auto second = openReader(path);
    EXPECT_TRUE(second->indexLoadedFromCache());
    EXPECT_EQ(second->index().entries(), first->index().entries());
    auto window = second->readEventsInWindow(1234567, 40000);
    EXPECT_EQ(*window, filterWindow(exp.events, 1234567, 1274567));

    auto reopenedFromCache = [&] {
        auto r = openReader(path);
        EXPECT_EQ(*r->readEventsInWindow(2000000, 33333),
                  filterWindow(exp.events, 2000000, 2033333));
        return r->indexLoadedFromCache();
    };

    // Deleted, truncated or corrupted index files are rebuilt.
    fs::remove(indexPath);
    EXPECT_FALSE(reopenedFromCache());
    EXPECT_TRUE(reopenedFromCache());
    fs::resize_file(indexPath, fs::file_size(indexPath) / 2);
    EXPECT_FALSE(reopenedFromCache());
    {
        auto bytes = readBytes(indexPath);
        bytes[bytes.size() / 2] ^= 0x40;
        writeBytes(indexPath, bytes);
    }
    EXPECT_FALSE(reopenedFromCache());
    EXPECT_TRUE(reopenedFromCache());
    // A well-formed entry whose stretch claims more events than its words
    // can give (readers size memory by it) is not taken either.
    {
        TimeIndex doctored = first->index();
        doctored.entries()[1].eventBound = uint64_t(1) << 40;
        ASSERT_TRUE(IndexCache::store(key, doctored));
    }
    EXPECT_FALSE(reopenedFromCache());
    EXPECT_TRUE(reopenedFromCache());

    // An index of an older version of the file: same path, other content.
#if defined(_WIN32)
    // Windows cannot replace a file that readers hold open.
    first.reset();
    second.reset();
#endif
    auto oldIndex = readBytes(indexPath);
    o.seed = 99;
    exp = expectedFor(o);
    generate(dir, "c.raw", o);
    EXPECT_FALSE(reopenedFromCache());
    // Even with the old index put back and the size unchanged, the time stamp tells.
    writeBytes(indexPath, oldIndex);
    EXPECT_FALSE(reopenedFromCache());

    // A cache that cannot be written (even by root: its folder would sit
    // inside a file) only costs a rebuild.
    writeBytes(dir.file("plain-file"), {1});
    pointCacheAt(dir.file("plain-file"));
    EXPECT_FALSE(reopenedFromCache());
}

TEST(ReaderRobustnessTest, RefusedFiles) {
    ScratchDir dir;
    std::string error;
    EXPECT_FALSE(DvsFileReader::createFileReader(dir.file("missing.raw"), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(DvsFileReader::createFileReader(dir.path().string(), &error));
    writeBytes(dir.file("empty.raw"), {});
    EXPECT_FALSE(DvsFileReader::createFileReader(dir.file("empty.raw"), &error));
    EXPECT_EQ(error, "empty file");
    std::string hvga = "% evt 2.1\n% format EVT21;height=720;width=1280\n\x01\x02\x03\x04";
    writeBytes(dir.file("evt21.raw"), {hvga.begin(), hvga.end()});
    EXPECT_FALSE(DvsFileReader::createFileReader(dir.file("evt21.raw"), &error));
    EXPECT_EQ(error, "unsupported event format 'EVT21'");

    // Without a header line the data itself must look like a recording:
    // random bytes, text and a recording's data cut mid-stream (events
    // before any time word) are refused; the same data from its start opens.
    SyntheticOptions o = longRecording();
    o.duration_us = 200000;
    const std::string clean = generate(dir, "clean.raw", o);
    auto withHeader = openReader(clean);
    ASSERT_TRUE(withHeader);
    const std::vector<uint8_t> all = readBytes(clean);
    const std::vector<uint8_t> data(all.begin() + long(withHeader->header().dataOffsetBytes),
                                    all.end());
    std::vector<uint8_t> noise(300);
    uint32_t x = 7;
    for (auto& b : noise)
        b = uint8_t((x = x * 1664525u + 1013904223u) >> 24);
    const std::string text(2000, 'a');
    struct Case {
        std::string name;
        std::vector<uint8_t> bytes;
    };
    const std::vector<Case> refused{
        {"noise.raw", noise},
        {"text.raw", {text.begin(), text.end()}},
        {"midstream.raw", {data.begin() + 4099, data.end()}},
    };
    for (const Case& c : refused) {
        writeBytes(dir.file(c.name), c.bytes);
        error.clear();
        EXPECT_FALSE(DvsFileReader::createFileReader(dir.file(c.name), &error)) << c.name;
        EXPECT_EQ(error.rfind("no RAW header, and the data does not decode as EVT3", 0), 0u)
            << c.name << ": " << error;
    }
    writeBytes(dir.file("bare.raw"), data);
    auto bare = openReader(dir.file("bare.raw"));
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->header().hasHeader);
    EXPECT_EQ(decodeAll(*bare).events.size(), decodeAll(*withHeader).events.size());
}

TEST(ReaderRobustnessTest, DamagedFilesDecodeWhatTheyCan) {
    ScratchDir dir;
    SyntheticOptions o = longRecording();
    o.duration_us = 100000;
    o.eventsPerSecond = 20000000;
    o.dense = true;
    Expected exp = expectedFor(o);
    const std::string path = generate(dir, "ok.raw", o);
    const auto good = readBytes(path);
    const size_t headerSize = parseRawHeader(good.data(), good.size()).dataOffsetBytes;

    // Header and no data: opens, has no events, reads give nothing.
    writeBytes(dir.file("header.raw"), {good.begin(), good.begin() + long(headerSize)});
    {
        auto r = openReader(dir.file("header.raw"));
        uint64_t t = 1;
        EXPECT_FALSE(r->getStartTime(t));
        EXPECT_EQ(t, 0u);
        EXPECT_FALSE(r->readEventsInWindow(0, 1000000));
        EXPECT_FALSE(r->seekToTime(0));
        EXPECT_FALSE(r->exportRawRange(0, 100, dir.file("cut.raw")));
    }

    // Cut at an odd byte, and cut just after a VECT_BASE_X inside a run.
    size_t cutAt = 0;
    for (size_t p = headerSize + (good.size() - headerSize) / 4 * 2; p + 1 < good.size(); p += 2) {
        if ((good[p + 1] >> 4) == 0x3) {
            cutAt = p + 2;
            break;
        }
    }
    ASSERT_NE(cutAt, 0u);
    for (size_t size : {good.size() - 1001, cutAt}) {
        writeBytes(dir.file("cut.raw"), {good.begin(), good.begin() + long(size)});
        auto r = openReader(dir.file("cut.raw"));
        Decoded d = decodeAll(*r);
        ASSERT_FALSE(d.events.empty());
        ASSERT_LE(d.events.size(), exp.events.size());
        EXPECT_TRUE(std::equal(d.events.begin(), d.events.end(), exp.events.begin()));
        uint64_t end = 0;
        r->getEndTime(end);
        EXPECT_EQ(end, d.events.back().timestamp);
    }

    // Garbage after a valid header, and reserved words sprinkled into good data.
    std::mt19937_64 rng(4);
    std::vector<uint8_t> garbage(good.begin(), good.begin() + long(headerSize));
    for (int i = 0; i < 3000000; ++i)
        garbage.push_back(uint8_t(rng()));
    writeBytes(dir.file("garbage.raw"), garbage);
    {
        auto r = openReader(dir.file("garbage.raw"));
        uint64_t start = 0, end = 0;
        r->getStartTime(start);
        r->getEndTime(end);
        Decoded d = decodeAll(*r);
        EXPECT_GT(d.events.size(), 0u);
        for (int i = 0; i < 50; ++i) {
            uint64_t at = start + rng() % (end - start + 1);
            r->readEventsInWindow(at, 1 + rng() % 100000);
            r->seekToTime(at);
            r->readEventsFor(rng() % 50000);
        }
        EXPECT_GT(r->corruptWordCount(), 0u);
    }
    std::vector<uint8_t> sprinkled = good;
    for (size_t i = headerSize + 1000; i + 1 < sprinkled.size(); i += 4002) {
        sprinkled[i] = 0x00;
        sprinkled[i + 1] = 0xB0;  // a reserved type replacing one word
    }
    writeBytes(dir.file("reserved.raw"), sprinkled);
    {
        auto r = openReader(dir.file("reserved.raw"));
        Decoded d = decodeAll(*r);
        EXPECT_GT(d.events.size(), exp.events.size() * 9 / 10);
        EXPECT_GT(r->corruptWordCount(), 100u);
    }
}

// A sparse file puts real events beyond 4 GiB: every offset must be 64-bit.
TEST(ReaderRobustnessTest, EventsBeyondFourGigabytes) {
    ScratchDir dir;
    std::vector<uint8_t> early, late;
    put16(early, 0x8000 | 1);  // time high 1
    put16(early, 0x6000 | 5);
    put16(early, 0x0000 | 10);
    put16(early, 0x2000 | 20);  // event (20, 10) at 4101
    // Zero words are EVT_ADDR_Y 0: harmless filler up to past 4 GiB.
    const uint64_t gap = (4ull << 30) + 4096;
    put16(late, 0x8000 | 3);
    put16(late, 0x6000 | 7);
    put16(late, 0x0000 | 11);
    put16(late, 0x2000 | 0x800 | 21);  // event (21, 11, on) at 12295
    const std::string path = rawFileWith(dir, "big.raw", early);
    {
        std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out | std::ios::ate);
        f.seekp(std::streamoff(fs::file_size(path) + gap));
        f.write(reinterpret_cast<const char*>(late.data()), std::streamsize(late.size()));
    }
    ASSERT_GT(fs::file_size(path), 4ull << 30);

    auto r = openReader(path);
    ASSERT_TRUE(r);
    uint64_t start = 0, end = 0;
    EXPECT_TRUE(r->getStartTime(start));
    EXPECT_TRUE(r->getEndTime(end));
    EXPECT_EQ(start, 4101u);
    EXPECT_EQ(end, 12295u);
    EXPECT_GT(r->index().entries().back().offsetBytes, 4ull << 30);
    auto late_batch = r->readEventsInWindow(12000, 1000);
    ASSERT_TRUE(late_batch);
    ASSERT_EQ(late_batch->size(), 1u);
    EXPECT_EQ(late_batch->front(), Event2D(21, 11, 1, 12295));
    // Reopening uses the cached index and finds the same.
    auto again = openReader(path);
    EXPECT_TRUE(again->indexLoadedFromCache());
    EXPECT_EQ(again->readEventsInWindow(4101, 1)->size(), 1u);
}

// A recording cut short by another program while open: reads end early, never crash.
TEST(ReaderRobustnessTest, FileShrinkingWhileOpen) {
    ScratchDir dir;
    SyntheticOptions o = longRecording();
    o.duration_us = 2000000;
    o.eventsPerSecond = 1000000;
    Expected exp = expectedFor(o);
    const std::string path = generate(dir, "shrink.raw", o);
    auto r = openReader(path);
    const uint64_t fullSize = fs::file_size(path);
    fs::resize_file(path, fullSize / 3);
    Decoded d = decodeAll(*r);
    ASSERT_FALSE(d.events.empty());
    EXPECT_LT(d.events.size(), exp.events.size() / 2);
    EXPECT_TRUE(std::equal(d.events.begin(), d.events.end(), exp.events.begin()));
    auto late = r->readEventsInWindow(1900000, 50000);
    ASSERT_TRUE(late);  // within the range known at open, but the data is gone
    EXPECT_TRUE(late->empty());
    auto early = r->readEventsInWindow(100000, 50000);
    EXPECT_EQ(*early, filterWindow(exp.events, 100000, 150000));
    EXPECT_FALSE(r->exportRawRange(1900000, 1950000, dir.file("cut.raw")));
}

// A recording started over under the same name while open: the index no
// longer describes the bytes, and a window holds only events of the window
// (whatever the new bytes decode to), on every read path.
TEST(ReaderRobustnessTest, FileRewrittenInPlaceWhileOpen) {
    ScratchDir dir;
    SyntheticOptions o = longRecording();
    o.duration_us = 3000000;
    o.eventsPerSecond = 500000;
    const std::string path = generate(dir, "rewritten.raw", o);
    SyntheticOptions later = o;
    later.startTime_us = 1000000;
    later.seed = 9;
    const std::string other = generate(dir, "other.raw", later);
    // Written long ago, so the rewrite shows in the time however coarse the clock.
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
    auto r = openReader(path);
    {
        std::ifstream in(other, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        bytes.resize(std::min<size_t>(bytes.size(), size_t(fs::file_size(path))));
        std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }
    for (auto [start, duration] :
         {std::pair<uint64_t, uint64_t>{1000000, 100000}, {200000, 2600000}}) {
        const uint64_t end = start + duration;
        auto outside = [&](const Event2D* ev, size_t n) {
            return size_t(std::count_if(ev, ev + n, [&](const Event2D& e) {
                return e.timestamp < start || e.timestamp >= end;
            }));
        };
        auto batch = r->readEventsInWindow(start, duration);
        ASSERT_TRUE(batch);
        EXPECT_FALSE(batch->empty());
        EXPECT_EQ(outside(batch->data(), batch->size()), 0u) << start;
        size_t scanned = 0, scannedOutside = 0;
        r->scanStretches(start, end, {}, [&](StretchBatch& b) {
            scanned += b.count;
            scannedOutside += outside(b.events, b.count);
            return true;
        });
        EXPECT_EQ(scanned, batch->size()) << start;
        EXPECT_EQ(scannedOutside, 0u) << start;
        // Each stretch of the scan decodes from its stale checkpoint: a visit
        // walks instead, and hands over what the read gives.
        auto seen = visited(*r, start, duration);
        ASSERT_TRUE(seen);
        EXPECT_EQ(*seen, *batch) << start;
    }
}

// Time that goes back over earlier stretches (a recording with an earlier
// one appended, say): windows decoded on several threads skip the stretches
// that hold nothing of them, as the walk does, and hand over the same events.
TEST(ReaderRobustnessTest, TimeGoingBackIsVisitedAsItIsRead) {
    ScratchDir dir;
    RawWriter w(RawFormat::Evt3);
    std::vector<Event2D> events;
    auto segment = [&](size_t n, uint64_t from_us) {
        events.clear();
        for (size_t i = 0; i < n; ++i) {
            events.emplace_back(uint16_t(i % 1280), uint16_t((i / 1280) % 720), uint8_t(i & 1),
                                from_us + i * 2);
        }
        w.writeEvents(events.data(), events.size());
    };
    segment(1000000, 0);      // 0 to 2 s
    segment(300000, 500000);  // back to 0.5 s
    segment(300000, 0);       // back to the start
    auto r = openReader(rawFileWith(dir, "back.raw", w.takeBuffer()));
    ASSERT_GE(r->index().entries().size(), 8u);
    const std::vector<Event2D> all = decodeAll(*r).events;
    for (auto [start, duration] : {std::pair<uint64_t, uint64_t>{100000, 33333},
                                   {520000, 33333},
                                   {1500000, 33333},
                                   {450000, 300000},
                                   {0, 3000000}}) {
        SCOPED_TRACE("window " + std::to_string(start) + " +" + std::to_string(duration));
        auto batch = r->readEventsInWindow(start, duration);
        ASSERT_TRUE(batch);
        EXPECT_EQ(*batch, filterWindow(all, start, start + duration));
        EXPECT_EQ(visited(*r, start, duration), *batch);
    }
}

// Garbage can pile tens of millions of events onto one instant: a window
// stops exactly at the limit, and its buffer never grows past it.
TEST(ReaderRobustnessTest, OneInstantWithTooManyEventsIsCapped) {
    ScratchDir dir;
    std::vector<uint8_t> bytes;
    put16(bytes, 0x8001);  // one time high, one row, then full vectors for ever
    put16(bytes, 0x0005);
    // Over enough index stretches that a visit decodes them on several threads.
    for (size_t i = 0; i < 500000; ++i) {
        put16(bytes, 0x3000);  // base x 0
        put16(bytes, 0x4FFF);  // 12 events
    }
    auto r = openReader(rawFileWith(dir, "pile.raw", bytes));  // 6 M events at one time
    ASSERT_GE(r->index().entries().size(), 6u);
    constexpr size_t kLimit = 100000;
    r->setWindowEventLimit(kLimit);
    auto batch = r->readEventsInWindow(4096, 1);
    ASSERT_TRUE(batch);
    EXPECT_EQ(batch->size(), kLimit);
    EXPECT_LE(batch->capacity(), kLimit);
    // The next window starts afresh rather than after the cut-short one.
    auto again = r->readEventsInWindow(4096, 1);
    EXPECT_EQ(*again, *batch);
    // A visit stops at the same limit.
    EXPECT_EQ(visited(*r, 4096, 1), *batch);
}

TEST(ReaderRobustnessTest, CancelledOpenReadsNothing) {
    ScratchDir dir;
    SyntheticOptions o = longRecording();
    o.duration_us = 200000;
    auto r = DvsFileReader::createFileReader(generate(dir, "x.raw", o));
    ASSERT_TRUE(r);
    r->cancelOpen();
    EXPECT_FALSE(r->openForReading());
    uint64_t t = 5;
    EXPECT_FALSE(r->getStartTime(t));
    EXPECT_FALSE(r->readEventsInWindow(0, 1000000));
    EXPECT_TRUE(decodeAll(*r).events.empty());
    EXPECT_FALSE(r->exportRawRange(0, 1000000, dir.file("cut.raw")));
    // Nothing half-built was cached: a new reader builds and reads normally.
    auto fresh = openReader(dir.file("x.raw"));
    EXPECT_FALSE(fresh->indexLoadedFromCache());
    EXPECT_TRUE(fresh->readEventsInWindow(0, 1000000));
}

TEST(ReaderConcurrencyTest, ParallelCallersAreSerialised) {
    ScratchDir dir;
    SyntheticOptions o = longRecording();
    o.duration_us = 2000000;
    o.eventsPerSecond = 500000;
    Expected exp = expectedFor(o);
    auto r = openReader(generate(dir, "p.raw", o));
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([&, k] {
            std::mt19937_64 rng(k);
            for (int i = 0; i < 50; ++i) {
                uint64_t at = rng() % 2000000;
                auto b = r->readEventsInWindow(at, 20000);
                if (!b || *b != filterWindow(exp.events, at, at + 20000)) ++mismatches;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(mismatches.load(), 0);
}

// Another recording of the same size and modification time (to the
// nanosecond) is told apart by its content.
TEST(ReaderIndexCacheTest, SameSizeAndTimeOtherContentIsRebuilt) {
    ScratchDir dir;
    SyntheticOptions o = longRecording();
    o.duration_us = 1000000;
    const std::string path = generate(dir, "s.raw", o);
    auto first = openReader(path);
    const auto original = readBytes(path);
    const fs::file_time_type modified = fs::last_write_time(path);

    // Same header and size, other events (another seed, cut or padded to size).
    o.seed = 77;
    Expected other = expectedFor(o);
    auto replacement = readBytes(generate(dir, "other.raw", o));
    replacement.resize(original.size(), 0);
    writeBytes(path, replacement);
    fs::last_write_time(path, modified);
    ASSERT_EQ(fs::last_write_time(path), modified);
    ASSERT_EQ(fs::file_size(path), original.size());

    auto second = openReader(path);
    EXPECT_FALSE(second->indexLoadedFromCache());
    const auto expected = filterWindow(other.events, 300000, 340000);
    EXPECT_EQ(*second->readEventsInWindow(300000, 40000), expected);
}

// Files that would block or flood a reader: a FIFO as the recording, and
// cache entries that are folders, FIFOs or links to devices.
TEST(ReaderRobustnessTest, FifosAndOddCacheEntriesNeverBlock) {
    VELQORA_SKIP_ON_WINDOWS("no FIFOs, and links to devices need privileges");
#if !defined(_WIN32)
    ScratchDir dir;
    ASSERT_EQ(::mkfifo(dir.file("f.raw").c_str(), 0600), 0);
    auto attempt = std::async(std::launch::async, [&] {
        std::string error;
        auto r = DvsFileReader::createFileReader(dir.file("f.raw"), &error);
        return std::make_pair(r != nullptr, error);
    });
    if (attempt.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        ADD_FAILURE() << "opening a FIFO blocks";
        ::close(::open(dir.file("f.raw").c_str(), O_WRONLY | O_NONBLOCK));  // release it
    }
    auto [opened, error] = attempt.get();
    EXPECT_FALSE(opened);
    EXPECT_EQ(error, "not a regular file");

    SyntheticOptions o = longRecording();
    o.duration_us = 300000;
    Expected exp = expectedFor(o);
    const std::string path = generate(dir, "ok.raw", o);
    IndexFileKey key;
    ASSERT_TRUE(IndexCache::keyFor(path, 0, key));
    const std::string entry = IndexCache::indexPathFor(key.absolutePath);
    fs::create_directories(fs::path(entry).parent_path());
    auto opensAndReads = [&] {
        auto run = std::async(std::launch::async, [&] {
            auto r = openReader(path);
            return std::make_pair(
                r->indexLoadedFromCache(),
                *r->readEventsInWindow(100000, 20000) == filterWindow(exp.events, 100000, 120000));
        });
        if (run.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            ADD_FAILURE() << "opening blocks on the cache entry";
            ::close(::open(entry.c_str(), O_WRONLY | O_NONBLOCK));
        }
        return run.get();
    };
    // A folder stays (nothing is kept); a FIFO or a link is replaced by a real entry.
    fs::create_directory(entry);
    EXPECT_EQ(opensAndReads(), std::make_pair(false, true));
    EXPECT_EQ(opensAndReads(), std::make_pair(false, true));
    fs::remove(entry);
    ASSERT_EQ(::mkfifo(entry.c_str(), 0600), 0);
    EXPECT_EQ(opensAndReads(), std::make_pair(false, true));
    EXPECT_EQ(opensAndReads(), std::make_pair(true, true));
    fs::remove(entry);
    fs::create_symlink("/dev/zero", entry);
    EXPECT_EQ(opensAndReads(), std::make_pair(false, true));
    EXPECT_EQ(opensAndReads(), std::make_pair(true, true));
    EXPECT_FALSE(fs::is_symlink(entry));
#endif
}

// A recording named in another script opens (its name and its cache key are
// UTF-8 throughout), also while a writer still holds it open.
TEST(ReaderRobustnessTest, NamesInAnyScriptAndFilesStillBeingWritten) {
    ScratchDir dir;
    SyntheticOptions o = longRecording();
    o.duration_us = 300000;
    const Expected exp = expectedFor(o);
    const std::string name = "\xE5\xBD\x95\xE5\x83\x8F_\xE6\xB5\x8B\xE8\xAF\x95.raw";
    const std::string path = generate(dir, name, o);
    std::ofstream writer(fs::path(std::u8string(path.begin(), path.end())),
                         std::ios::binary | std::ios::app);
    ASSERT_TRUE(writer);
    for (int pass = 0; pass < 2; ++pass) {  // the second from the index cache
        auto r = openReader(path);
        ASSERT_TRUE(r) << pass;
        EXPECT_EQ(r->indexLoadedFromCache(), pass == 1);
        EXPECT_EQ(*r->readEventsInWindow(100000, 20000), filterWindow(exp.events, 100000, 120000));
    }
}

// A live recording grows while it is opened: the reader keeps to the size it
// saw and never over-reserves.
TEST(ReaderRobustnessTest, FileGrowingWhileOpening) {
    ScratchDir dir;
    const std::string path = dir.file("live.raw");
    // The header is still being written when the file is opened.
    writeBytes(path, {'%', ' ', 'e', 'v', 't', ' ', '3', '.', '0', '\n', '%', ' ', 'p'});
    {
        RawFile file;
        ASSERT_TRUE(file.open(path));
        {
            std::ofstream out(path, std::ios::binary | std::ios::app);
            out << "ad " << std::string(100000, 'p') << "\n% end\n";
            std::vector<uint8_t> w;
            put16(w, 0x8001);
            put16(w, 0x2005);
            out.write(reinterpret_cast<const char*>(w.data()), std::streamsize(w.size()));
        }
        const RawHeader header = readRawHeader(file);
        EXPECT_LE(header.dataOffsetBytes, file.size());
    }
    // And a reader opened again and again while a writer appends.
    writeBytes(path, {'%', ' ', 'e', 'v', 't', ' ', '3', '.', '0', '\n', '%'});
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        // A long header line, then the end of the header and data.
        for (int i = 0; i < 4000 && !stop; ++i) {
            out << " pad" << std::string(60, 'p');
            out.flush();
        }
        out << "\n% end\n";
        std::vector<uint8_t> w;
        put16(w, 0x8001);
        for (int i = 0; i < 20000; ++i)
            put16(w, uint16_t(0x2000 | (i % 1280)));
        out.write(reinterpret_cast<const char*>(w.data()), std::streamsize(w.size()));
    });
    // Never an ASSERT while the writer runs: leaving early would destroy a
    // joinable thread.
    auto openAndRead = [&] {
        auto r = DvsFileReader::createFileReader(path);
        if (!r) return false;
        EXPECT_LE(r->header().dataOffsetBytes, fs::file_size(path));
        EXPECT_TRUE(r->openForReading());
        uint64_t start = 0;
        if (!r->getStartTime(start)) return false;
        auto b = r->readEventsInWindow(start, 1000000);
        EXPECT_TRUE(b);
        EXPECT_LE(b ? b->size() : 0, 20000u);
        return true;
    };
    for (size_t attempts = 0; !stop && attempts < 400; ++attempts)
        stop = openAndRead();
    stop = true;
    writer.join();
    // Whatever the timing, the finished file opens and reads.
    EXPECT_TRUE(openAndRead());
}
