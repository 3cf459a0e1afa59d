// The parallel scan against the one-thread decode: the same events, edges
// and corrupt-word counts, on clean, vector-heavy, looping and damaged
// recordings, for whole files and for ranges, with stretches small enough to
// start inside vector runs and right after time loops, decoded into the
// ring or into memory the caller places them in.

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "DriverTestSupport.h"
#include "korvane/file/Evt3Words.h"
#include "korvane/file/ParallelScan.h"
#include "korvane/file/RawFile.h"
#include "korvane/file/TimeIndex.h"

using namespace kvtest;

namespace {

struct Pass {
    std::vector<Event2D> events;
    std::vector<TriggerRecord> triggers;  // eventIndex: events before it in the whole pass
    uint64_t corruptWords = 0;
};

// Corrupt words are compared for whole passes only: a range decodes just
// the stretches it needs.
void expectSamePass(const Pass& a, const Pass& b, bool wholePass = true) {
    ASSERT_EQ(a.events.size(), b.events.size());
    for (size_t i = 0; i < a.events.size(); ++i)
        ASSERT_EQ(a.events[i], b.events[i]) << "event " << i;
    ASSERT_EQ(a.triggers.size(), b.triggers.size());
    for (size_t i = 0; i < a.triggers.size(); ++i) {
        EXPECT_EQ(a.triggers[i].trigger, b.triggers[i].trigger) << i;
        EXPECT_EQ(a.triggers[i].eventIndex, b.triggers[i].eventIndex) << i;
    }
    if (wholePass) {
        EXPECT_EQ(a.corruptWords, b.corruptWords);
    }
}

// A recording opened at the level of the scan: file, data range and an
// index with small steps, so there are many stretches.
struct Opened {
    RawFile file;
    RawHeader header;
    uint64_t dataEnd = 0;
    TimeIndex index;
};

Opened openWithStep(const std::string& path, uint64_t stepBytes) {
    Opened o;
    EXPECT_TRUE(o.file.open(path));
    o.header = readRawHeader(o.file);
    const uint64_t ws = wordSizeBytes(o.header.format);
    o.dataEnd = o.header.dataOffsetBytes + (o.file.size() - o.header.dataOffsetBytes) / ws * ws;
    o.index =
        TimeIndex::build(o.file, o.header.dataOffsetBytes, o.dataEnd, o.header.format, stepBytes);
    return o;
}

// The one-thread decode of the whole data, filtered to [from, to).
Pass serialPass(const Opened& o, uint64_t from = 0, uint64_t to = UINT64_MAX,
                uint32_t width = kAddressRange) {
    Pass p;
    const IndexEntry& e = o.index.entries().front();
    EventStream s(o.file, o.dataEnd, o.header.format, e.offsetBytes, e.state);
    s.setSensorWidth(width);
    std::vector<TriggerRecord> raw;  // eventIndex counts over the whole stream
    std::vector<Event2D> all;
    const Event2D* ev;
    size_t n;
    while (s.next(UINT64_MAX, ev, n, &raw))
        all.insert(all.end(), ev, ev + n);
    size_t r = 0;
    for (size_t i = 0; i <= all.size(); ++i) {
        for (; r < raw.size() && raw[r].eventIndex <= i; ++r) {
            const uint64_t tt = raw[r].trigger.timestamp;
            if (tt >= from && tt < to) p.triggers.push_back({raw[r].trigger, p.events.size()});
        }
        if (i < all.size() && all[i].timestamp >= from && all[i].timestamp < to) {
            p.events.push_back(all[i]);
        }
    }
    p.corruptWords = s.corruptWords();
    return p;
}

// Where placeEvents sends each stretch: nowhere (the ring), memory of its
// own with room for the index's bound, or with room for half of it, one
// event less or none (so most stretches overflow and go to the ring after
// all, some by a single event, once the place is full to its last event).
enum class Placement { Ring, Bound, HalfBound, OneShort, NoRoom };

// pieces: the events reach the worker piece by piece (onWorkerEvents) and
// are gathered per slot, as a reduction would see them. counts: each
// stretch's events, by stretch.
Pass parallelPass(const Opened& o, unsigned threads, uint64_t from = 0, uint64_t to = UINT64_MAX,
                  uint32_t width = kAddressRange, ParallelScanResult* result = nullptr,
                  bool pieces = false, ScanStorage* storage = nullptr,
                  Placement placement = Placement::Ring, std::vector<uint64_t>* counts = nullptr) {
    Pass p;
    ParallelScanOptions opt;
    opt.threads = threads;
    opt.sensorWidth = width;
    opt.storage = storage;
    // One region per stretch, sized by the worker that decodes it.
    std::vector<std::vector<Event2D>> regions(o.index.entries().size());
    if (placement != Placement::Ring) {
        opt.placeEvents = [&](const StretchBatch& b, size_t& room) {
            const uint64_t bound = o.index.entries()[b.stretch].eventBound;
            room = size_t(placement == Placement::Bound       ? bound
                          : placement == Placement::HalfBound ? bound / 2
                          : placement == Placement::OneShort  ? (bound > 0 ? bound - 1 : 0)
                                                              : 0);
            regions[b.stretch].assign(room + 1, Event2D{});
            return regions[b.stretch].data();
        };
    }
    if (counts) counts->assign(o.index.entries().size(), 0);
    std::vector<std::pair<size_t, std::vector<Event2D>>> perSlot(parallelScanSlots(opt));
    if (pieces) {
        opt.onWorkerEvents = [&](StretchBatch& b, const Event2D* ev, size_t n) {
            auto& [stretch, events] = perSlot[b.slot];
            if (stretch != b.stretch) {
                stretch = b.stretch;
                events.clear();
            }
            EXPECT_LE(n, kMaxPieceEvents);
            events.insert(events.end(), ev, ev + n);
        };
    }
    size_t expectedStretch = SIZE_MAX;
    const ParallelScanResult r =
        scanStretches(o.file, o.index, o.dataEnd, from, to, opt, [&](StretchBatch& b) {
            // File order: stretch numbers climb by one.
            if (expectedStretch != SIZE_MAX) {
                EXPECT_EQ(b.stretch, expectedStretch);
            }
            expectedStretch = b.stretch + 1;
            if (counts) (*counts)[b.stretch] = b.count;
            if (placement != Placement::Ring && b.count > 0) {
                // In the stretch's region when it fits, else in the ring (a
                // range's stretch may fit only once cut to the range).
                const std::vector<Event2D>& r = regions[b.stretch];
                const bool inRegion = b.events == r.data();
                if (from == 0 && to == UINT64_MAX) {
                    EXPECT_EQ(inRegion, b.count <= r.size() - 1) << b.stretch;
                }
                if (inRegion) {
                    EXPECT_LE(b.count, r.size() - 1) << b.stretch;
                    // The decoder wrote nothing past the room it was given.
                    EXPECT_EQ(r.back(), Event2D{}) << b.stretch;
                }
            }
            for (const auto& t : b.triggers)
                p.triggers.push_back({t.trigger, p.events.size() + t.eventIndex});
            if (pieces) {
                EXPECT_EQ(b.events, nullptr);
                auto& [stretch, events] = perSlot[b.slot];
                const size_t n = stretch == b.stretch ? events.size() : 0;
                EXPECT_EQ(n, b.count);
                if (n) p.events.insert(p.events.end(), events.begin(), events.end());
            } else {
                p.events.insert(p.events.end(), b.events, b.events + b.count);
            }
            return true;
        });
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(r.events, p.events.size());
    EXPECT_EQ(r.triggers, p.triggers.size());
    p.corruptWords = r.corruptWords;
    if (result) *result = r;
    return p;
}

// Replaces about one word in `every` of the data with noise: reserved
// types, wild time words, vectors without a base, events off the sensor.
void damage(const std::string& path, size_t every, uint32_t seed) {
    std::vector<uint8_t> bytes = readBytes(path);
    RawFile f;
    ASSERT_TRUE(f.open(path));
    const RawHeader h = readRawHeader(f);
    scrambleWords(bytes, h.dataOffsetBytes, wordSizeBytes(h.format), every, every / 2, seed);
    writeBytes(path, bytes);
}

SyntheticOptions scene(uint64_t duration_us, uint64_t rate, bool dense, RawFormat format) {
    return {.duration_us = duration_us,
            .eventsPerSecond = rate,
            .triggerPeriod_us = 7000,
            .dense = dense,
            .format = format};
}

}  // namespace

TEST(ParallelScanTest, EqualsTheOneThreadPassOnCleanAndDamagedFiles) {
    ScratchDir dir;
    struct Case {
        const char* name;
        SyntheticOptions options;
        size_t damageEvery;  // 0: clean
    };
    const Case cases[] = {
        {"real3.raw", scene(250000, 2000000, false, RawFormat::Evt3), 0},
        {"dense3.raw", scene(250000, 4000000, true, RawFormat::Evt3), 0},
        {"real2.raw", scene(250000, 2000000, false, RawFormat::Evt2), 0},
        {"bad3.raw", scene(250000, 2000000, false, RawFormat::Evt3), 301},
        {"badDense3.raw", scene(250000, 4000000, true, RawFormat::Evt3), 97},
        {"bad2.raw", scene(250000, 2000000, false, RawFormat::Evt2), 211},
        {"camera3.raw",
         {.duration_us = 250000,
          .eventsPerSecond = 3000000,
          .triggerPeriod_us = 7000,
          .mix = SyntheticMix::Camera},
         0},
    };
    // Buffers kept from scan to scan, across files, thread counts, ranges
    // and both ways of handing events on: each scan still sees only its own.
    ScanStorage kept;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = generate(dir, c.name, c.options);
        if (c.damageEvery) damage(path, c.damageEvery, 12345);
        // Stretches of 4 KiB: hundreds of them, starting anywhere in a run.
        const Opened o = openWithStep(path, 4096);
        ASSERT_GT(o.index.entries().size(), 50u);
        const Pass serial = serialPass(o);
        ASSERT_GT(serial.events.size(), 100000u);
        ASSERT_FALSE(serial.triggers.empty());
        if (c.damageEvery) {
            EXPECT_GT(serial.corruptWords, 0u);
        } else {
            EXPECT_EQ(serial.corruptWords, 0u);
        }
        for (unsigned threads : {1u, 2u, 5u}) {
            SCOPED_TRACE(threads);
            expectSamePass(serial, parallelPass(o, threads));
            expectSamePass(serial, parallelPass(o, threads, 0, UINT64_MAX, kAddressRange, nullptr,
                                                false, &kept));
        }
        // Stretches decoded into memory of their own, sized by the index's
        // bound or too small for most of them: the same pass. From clean
        // data each stretch gives exactly its bound, from damaged data at
        // most that.
        std::vector<uint64_t> counts;
        expectSamePass(serial, parallelPass(o, 2, 0, UINT64_MAX, kAddressRange, nullptr, false,
                                            &kept, Placement::Bound, &counts));
        for (size_t k = 0; k < counts.size(); ++k) {
            const uint64_t bound = o.index.entries()[k].eventBound;
            if (c.damageEvery) {
                ASSERT_LE(counts[k], bound) << "stretch " << k;
            } else {
                ASSERT_EQ(counts[k], bound) << "stretch " << k;
            }
        }
        for (Placement place : {Placement::HalfBound, Placement::OneShort, Placement::NoRoom}) {
            expectSamePass(serial, parallelPass(o, 3, 0, UINT64_MAX, kAddressRange, nullptr, false,
                                                nullptr, place));
        }
        // A narrower sensor drops (and counts) the events beyond it alike.
        expectSamePass(serialPass(o, 0, UINT64_MAX, 640), parallelPass(o, 3, 0, UINT64_MAX, 640));
        expectSamePass(
            serialPass(o, 0, UINT64_MAX, 640),
            parallelPass(o, 2, 0, UINT64_MAX, 640, nullptr, false, nullptr, Placement::Bound));
        // Ranges: from a checkpoint's middle to another's.
        for (auto [from, to] : {std::pair<uint64_t, uint64_t>{123457, 198765},
                                {0, 1},
                                {98765, 98766},
                                {249000, UINT64_MAX},
                                {5000000, UINT64_MAX}}) {
            SCOPED_TRACE(from);
            expectSamePass(serialPass(o, from, to), parallelPass(o, 2, from, to), false);
            expectSamePass(serialPass(o, from, to),
                           parallelPass(o, 2, from, to, kAddressRange, nullptr, false, &kept),
                           false);
            for (Placement place : {Placement::Bound, Placement::HalfBound, Placement::OneShort}) {
                expectSamePass(
                    serialPass(o, from, to),
                    parallelPass(o, 2, from, to, kAddressRange, nullptr, false, nullptr, place),
                    false);
            }
        }
        // Pieces: stretches of many pieces each, whole and in ranges.
        const Opened large = openWithStep(path, 64 * 1024);
        for (unsigned threads : {1u, 3u}) {
            SCOPED_TRACE(threads);
            expectSamePass(
                serial, parallelPass(large, threads, 0, UINT64_MAX, kAddressRange, nullptr, true));
            expectSamePass(serial, parallelPass(large, threads, 0, UINT64_MAX, kAddressRange,
                                                nullptr, true, &kept));
            expectSamePass(
                serialPass(o, 123457, 198765),
                parallelPass(large, threads, 123457, 198765, kAddressRange, nullptr, true), false);
        }
    }
}

TEST(ParallelScanTest, StretchesStartInsideVectorRunsAndAfterTimeLoops) {
    ScratchDir dir;
    // Starts 0.2 s before a loop of the 24-bit counter, three loops in (the
    // header's start time gives them), and crosses the loop.
    SyntheticOptions o = scene(400000, 3000000, true, RawFormat::Evt3);
    o.startTime_us = 3 * (uint64_t(1) << 24) - 200000;
    const std::string path = generate(dir, "loop.raw", o);
    // The smallest step: a checkpoint every 16 words.
    Opened opened = openWithStep(path, 32);
    const auto& entries = opened.index.entries();
    size_t insideVectors = 0;
    bool afterLoop = false;
    std::vector<uint8_t> bytes = readBytes(path);
    for (size_t k = 1; k < entries.size(); ++k) {
        const uint16_t before = loadWord16(bytes.data() + entries[k].offsetBytes - 2);
        const unsigned type = evt3::typeOf(before);
        insideVectors += type == evt3::kVect12 || type == evt3::kVect8 || type == evt3::kVectBaseX;
        afterLoop =
            afterLoop || (entries[k].state.timeHigh >> 24) > (entries[0].state.timeHigh >> 24);
    }
    EXPECT_GT(insideVectors, 100u);
    EXPECT_TRUE(afterLoop);
    const Pass serial = serialPass(opened);
    expectSamePass(serial, parallelPass(opened, 3));

    // Through the reader, whose times carry the header's loops.
    auto reader = DvsFileReader::createFileReader(path);
    ASSERT_TRUE(reader && reader->openForReading());
    const Decoded one = decodeAll(*reader);
    ASSERT_FALSE(one.events.empty());
    EXPECT_GE(one.events.front().timestamp, o.startTime_us);
    EXPECT_GT(one.events.back().timestamp, 3 * (uint64_t(1) << 24));
    Decoded many;
    EXPECT_TRUE(reader->forEachChunkParallel(
        0, UINT64_MAX,
        [&](const Event2D* ev, size_t n, const std::vector<TriggerRecord>& triggers) {
            collect(many, ev, n, triggers);
        },
        2));
    EXPECT_EQ(one.events, many.events);
    ASSERT_EQ(one.triggers.size(), many.triggers.size());
    EXPECT_EQ(one.triggerPositions, many.triggerPositions);
    // A window across the loop, as the one-thread walk gives it.
    const uint64_t from = 3 * (uint64_t(1) << 24) - 1000, to = from + 150000;
    Decoded windowOne = decodeAll(*reader, from, to), windowMany;
    reader->forEachChunkParallel(from, to, [&](const Event2D* ev, size_t n, const auto&) {
        windowMany.events.insert(windowMany.events.end(), ev, ev + n);
    });
    EXPECT_EQ(windowOne.events, windowMany.events);
}

TEST(ParallelScanTest, StopsEarlyCancelsAndPassesExceptionsOnWithoutLeavingThreads) {
    ScratchDir dir;
    const std::string path =
        generate(dir, "stop.raw", scene(300000, 2000000, false, RawFormat::Evt3));
    const Opened o = openWithStep(path, 4096);
    ParallelScanOptions opt;
    opt.threads = 3;
    opt.inFlight = 4;
    // The caller stops after three stretches: no more come, workers end.
    size_t seen = 0;
    ParallelScanResult r = scanStretches(o.file, o.index, o.dataEnd, 0, UINT64_MAX, opt,
                                         [&](StretchBatch&) { return ++seen < 3; });
    EXPECT_EQ(seen, 3u);
    EXPECT_EQ(r.stretches, 3u);
    EXPECT_FALSE(r.completed);

    // An exception from the caller's callback leaves the scan, threads joined.
    EXPECT_THROW(scanStretches(o.file, o.index, o.dataEnd, 0, UINT64_MAX, opt,
                               [&](StretchBatch& b) -> bool {
                                   if (b.stretch == 5) throw std::runtime_error("sink failed");
                                   return true;
                               }),
                 std::runtime_error);
    // So does one from a worker's reduction.
    opt.onWorker = [](StretchBatch& b) {
        if (b.stretch == 7) throw std::runtime_error("worker failed");
    };
    EXPECT_THROW(scanStretches(o.file, o.index, o.dataEnd, 0, UINT64_MAX, opt,
                               [](StretchBatch&) { return true; }),
                 std::runtime_error);

    // Cancelled from the start: nothing is handed on, not completed.
    std::atomic<bool> cancel{true};
    opt.onWorker = nullptr;
    opt.cancel = &cancel;
    seen = 0;
    r = scanStretches(o.file, o.index, o.dataEnd, 0, UINT64_MAX, opt, [&](StretchBatch&) {
        ++seen;
        return true;
    });
    EXPECT_EQ(seen, 0u);
    EXPECT_FALSE(r.completed);

    // Per-slot reductions on the workers see every stretch exactly once, in
    // as many slots as parallelScanSlots says, also when fewer are asked for
    // than there are workers.
    opt.cancel = nullptr;
    for (size_t inFlight : {4, 1, 0}) {
        SCOPED_TRACE(::testing::Message() << "inFlight " << inFlight);
        opt.inFlight = inFlight;
        std::vector<uint64_t> perSlot(parallelScanSlots(opt));
        EXPECT_GE(perSlot.size(), size_t(opt.threads));
        opt.onWorker = [&](StretchBatch& b) { perSlot.at(b.slot) = b.count; };
        uint64_t total = 0;
        EXPECT_NO_THROW(
            r = scanStretches(o.file, o.index, o.dataEnd, 0, UINT64_MAX, opt, [&](StretchBatch& b) {
                total += perSlot.at(b.slot);
                EXPECT_EQ(perSlot.at(b.slot), b.count);
                return true;
            }));
        EXPECT_TRUE(r.completed);
        EXPECT_EQ(total, serialPass(o).events.size());
    }
}

TEST(ParallelScanTest, CutOfAWholeFileEqualsItsSource) {
    ScratchDir dir;
    SyntheticOptions o = scene(1500000, 1000000, false, RawFormat::Evt3);
    const std::string path = generate(dir, "src.raw", o);
    auto src = DvsFileReader::createFileReader(path);
    ASSERT_TRUE(src && src->openForReading());
    // Enough data for several index stretches: the cut's scan runs in parallel.
    ASSERT_GT(src->index().entries().size(), 4u);
    const Decoded all = decodeAll(*src);
    std::string why;
    ASSERT_TRUE(src->exportRawRange(0, UINT64_MAX - 1, dir.file("cut.raw"), &why)) << why;
    auto cut = DvsFileReader::createFileReader(dir.file("cut.raw"));
    ASSERT_TRUE(cut && cut->openForReading());
    const Decoded back = decodeAll(*cut);
    EXPECT_EQ(all.events, back.events);
    EXPECT_EQ(all.triggerPositions, back.triggerPositions);
    ASSERT_EQ(all.triggers.size(), back.triggers.size());
    for (size_t i = 0; i < all.triggers.size(); ++i)
        EXPECT_EQ(all.triggers[i].timestamp, back.triggers[i].timestamp);
}
