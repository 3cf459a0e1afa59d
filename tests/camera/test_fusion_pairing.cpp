#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <unistd.h>
#endif
#include <cstdio>
#include <thread>
#include <vector>

#include "../TestPlatform.h"
#include "DvsApsFusionProccessor.h"

using namespace korvane;

namespace {

struct Pair {
    uint64_t frameTag;
    std::vector<Event2D> events;
    uint8_t firstByte;  // of the frame's pixels
};

// Records every pair the processor hands on.
struct Receiver {
    std::vector<Pair> pairs;
    void attach(DvsApsFusionProccessor& p) {
        p.addFusionDataCallback([this](ApsFrame& f, Event2D* first, Event2D* last) {
            pairs.push_back({f.frameTag, std::vector<Event2D>(first, last), f.data()[0]});
        });
    }
};

ApsFrame frame(uint64_t tag) {
    return ApsFrame(8, 4, tag, tag * 1000);
}

std::vector<Event2D> events(uint64_t t0, int n) {
    std::vector<Event2D> v;
    for (int i = 0; i < n; ++i)
        v.emplace_back(uint16_t(i), uint16_t(i), uint8_t(i & 1), t0 + i);
    return v;
}

void feed(DvsApsFusionProccessor& p, const std::vector<Event2D>& e) {
    p.addDvsData(e.data(), e.data() + e.size());
}

const EventTriggerIn kRise(0, 1, 0);

// A processor with the default bounds and a receiver of its pairs.
class FusionPairingTest : public testing::Test {
protected:
    void SetUp() override { r.attach(p); }
    DvsApsFusionProccessor p;
    Receiver r;
};

// Same, with 3 queued frames, 5 queued periods and 100 events a period.
class BoundedPairingTest : public testing::Test {
protected:
    void SetUp() override { r.attach(p); }
    DvsApsFusionProccessor p{3, 5, 100};
    Receiver r;
};

}  // namespace

TEST_F(FusionPairingTest, FrameThenEdgeGetsTheEventsBeforeTheEdge) {
    const auto e1 = events(100, 5);
    p.addApsData(frame(1));
    feed(p, e1);
    EXPECT_TRUE(r.pairs.empty());
    p.addSyncSignal(kRise);
    ASSERT_EQ(r.pairs.size(), 1u);
    EXPECT_EQ(r.pairs[0].frameTag, 1u);
    EXPECT_EQ(r.pairs[0].events, e1);
    // Events after the edge belong to the next period.
    const auto e2 = events(200, 3);
    feed(p, e2);
    p.addApsData(frame(2));
    EXPECT_EQ(r.pairs.size(), 1u);
    p.addSyncSignal(kRise);
    ASSERT_EQ(r.pairs.size(), 2u);
    EXPECT_EQ(r.pairs[1].events, e2);
}

TEST_F(FusionPairingTest, PairsFollowTheOrderOfArrival) {
    // Edge, edge, frame: the frame gets the first period; the second waits.
    const auto e1 = events(0, 4), e2 = events(50, 2);
    feed(p, e1);
    p.addSyncSignal(kRise);
    feed(p, e2);
    p.addSyncSignal(kRise);
    EXPECT_EQ(p.queuedPeriods(), 2u);
    p.addApsData(frame(1));
    ASSERT_EQ(r.pairs.size(), 1u);
    EXPECT_EQ(r.pairs[0].events, e1);
    EXPECT_EQ(p.queuedPeriods(), 1u);
    p.addApsData(frame(2));
    ASSERT_EQ(r.pairs.size(), 2u);
    EXPECT_EQ(r.pairs[1].frameTag, 2u);
    EXPECT_EQ(r.pairs[1].events, e2);

    // Two frames, then one edge: the first frame is paired, the second waits.
    p.addApsData(frame(3));
    p.addApsData(frame(4));
    p.addSyncSignal(kRise);
    ASSERT_EQ(r.pairs.size(), 3u);
    EXPECT_EQ(r.pairs[2].frameTag, 3u);
    EXPECT_TRUE(r.pairs[2].events.empty());  // a period without events
    EXPECT_EQ(p.queuedFrames(), 1u);
}

TEST_F(FusionPairingTest, FallingEdgesChangeNothing) {
    const auto e = events(0, 6);
    feed(p, e);
    p.addSyncSignal(EventTriggerIn(0, 0, 10));
    p.addSyncSignal(EventTriggerIn(0, -1, 11));
    p.addApsData(frame(1));
    EXPECT_TRUE(r.pairs.empty());
    EXPECT_EQ(p.queuedPeriods(), 0u);
    p.addSyncSignal(kRise);
    ASSERT_EQ(r.pairs.size(), 1u);
    EXPECT_EQ(r.pairs[0].events, e);  // one period across the falling edges
}

TEST_F(FusionPairingTest, ClearDropsQueuedFramesAndThePeriodInProgress) {
    p.addApsData(frame(1));
    feed(p, events(0, 9));
    p.clear();
    p.addSyncSignal(kRise);
    EXPECT_TRUE(r.pairs.empty());
    EXPECT_EQ(p.queuedPeriods(), 1u);
    p.addApsData(frame(2));
    ASSERT_EQ(r.pairs.size(), 1u);
    EXPECT_EQ(r.pairs[0].frameTag, 2u);
    EXPECT_TRUE(r.pairs[0].events.empty());
}

TEST_F(FusionPairingTest, PairsWithoutCallbackAreDroppedForGood) {
    DvsApsFusionProccessor q;
    q.addApsData(frame(1));
    q.addSyncSignal(kRise);
    EXPECT_EQ(q.queuedFrames(), 0u);
    EXPECT_EQ(q.queuedPeriods(), 0u);
    Receiver late;
    late.attach(q);
    q.fusionData();
    EXPECT_TRUE(late.pairs.empty());
    q.removeFusionDataCallback();
    q.addApsData(frame(2));
    q.addSyncSignal(kRise);
    EXPECT_TRUE(late.pairs.empty());
}

TEST_F(FusionPairingTest, QueuedFrameIsADeepCopy) {
    ApsFrame f = frame(1);
    f.data()[0] = 11;
    p.addApsData(f);
    f.data()[0] = 99;  // the driver reuses its buffer
    p.addSyncSignal(kRise);
    ASSERT_EQ(r.pairs.size(), 1u);
    EXPECT_EQ(r.pairs[0].firstByte, 11);
}

// A loose trigger cable: frames keep coming, no edge arrives.
TEST_F(BoundedPairingTest, FramesWithoutEdgesAreBoundedKeepingTheNewest) {
    for (uint64_t tag = 1; tag <= 10; ++tag)
        p.addApsData(frame(tag));
    EXPECT_EQ(p.queuedFrames(), 3u);
    EXPECT_EQ(p.droppedFrames(), 7u);
    EXPECT_EQ(p.droppedPeriods(), 0u);
    p.addSyncSignal(kRise);
    ASSERT_EQ(r.pairs.size(), 1u);
    EXPECT_EQ(r.pairs[0].frameTag, 8u);  // oldest of the three newest
}

// No edges at all: without a bound the period in progress takes every
// event the camera sends (320 MB a second at 20 Mev/s).
TEST_F(BoundedPairingTest, APeriodWithoutItsEdgeIsBoundedKeepingTheNewestEvents) {
    for (int n = 0; n < 9; ++n)
        feed(p, events(uint64_t(n) * 1000, 30));
    EXPECT_EQ(p.droppedEvents(), 180u);  // whole batches of the oldest
    feed(p, events(50000, 250));         // a batch larger than the bound
    EXPECT_EQ(p.droppedEvents(), 180u + 90u + 150u);
    p.addApsData(frame(1));
    p.addSyncSignal(kRise);
    ASSERT_EQ(r.pairs.size(), 1u);
    const std::vector<Event2D> all = events(50000, 250);
    EXPECT_EQ(r.pairs[0].events, std::vector<Event2D>(all.end() - 100, all.end()));
    // The next period starts empty and is counted afresh.
    feed(p, events(90000, 40));
    p.addSyncSignal(kRise);
    p.addApsData(frame(2));
    ASSERT_EQ(r.pairs.size(), 2u);
    EXPECT_EQ(r.pairs[1].events, events(90000, 40));
    EXPECT_EQ(p.droppedEvents(), 420u);
}

TEST_F(BoundedPairingTest, EdgesWithoutFramesAreBoundedKeepingTheNewest) {
    for (int n = 0; n < 12; ++n) {
        feed(p, events(uint64_t(n) * 100, n + 1));
        p.addSyncSignal(kRise);
    }
    EXPECT_EQ(p.queuedPeriods(), 5u);
    EXPECT_EQ(p.droppedPeriods(), 7u);
    p.addApsData(frame(1));
    ASSERT_EQ(r.pairs.size(), 1u);
    EXPECT_EQ(r.pairs[0].events, events(700, 8));  // period 7, the oldest kept
    // Recycled buffers carry nothing over into later periods.
    for (int n = 0; n < 4; ++n)
        p.addApsData(frame(2 + n));
    ASSERT_EQ(r.pairs.size(), 5u);
    EXPECT_EQ(r.pairs[4].events, events(1100, 12));
}

// Events and edges on one thread, frames on another, as a camera delivers them.
TEST_F(FusionPairingTest, EventThreadAndFrameThreadPairEveryFrame) {
    constexpr int kFrames = 200;
    DvsApsFusionProccessor q(kFrames + 1, kFrames + 1);
    Receiver got;
    got.attach(q);
    std::thread eventsThread([&] {
        for (int n = 0; n < kFrames; ++n) {
            const auto e = events(uint64_t(n) * 1000, n % 7 + 1);
            q.addDvsData(e.data(), e.data() + e.size());
            q.addSyncSignal(EventTriggerIn(0, 1, uint64_t(n) * 1000 + 999));
        }
    });
    std::thread framesThread([&] {
        for (int n = 0; n < kFrames; ++n)
            q.addApsData(frame(uint64_t(n)));
    });
    eventsThread.join();
    framesThread.join();
    ASSERT_EQ(got.pairs.size(), size_t(kFrames));
    for (int n = 0; n < kFrames; ++n) {
        EXPECT_EQ(got.pairs[n].frameTag, uint64_t(n));
        EXPECT_EQ(got.pairs[n].events, events(uint64_t(n) * 1000, n % 7 + 1)) << n;
    }
    EXPECT_EQ(q.droppedFrames() + q.droppedPeriods(), 0u);
}

namespace {

// Resident set size of this process in bytes; 0 where /proc is missing.
uint64_t residentBytes() {
#if defined(_WIN32)
    return 0;
#else
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    unsigned long size = 0, resident = 0;
    const int n = std::fscanf(f, "%lu %lu", &size, &resident);
    std::fclose(f);
    return n == 2 ? uint64_t(resident) * uint64_t(sysconf(_SC_PAGESIZE)) : 0;
#endif
}

}  // namespace

TEST_F(FusionPairingTest, AnIdleProcessorHoldsItsBuffersUntouched) {
    // Ten buffers of 3,145,728 events are about 500 MB: reserved, they cost
    // address space; filled, they would cost memory before any camera runs.
    VELQORA_SKIP_ON_WINDOWS("no /proc/self/statm to read the resident size from");
    const uint64_t before = residentBytes();
    if (before == 0) GTEST_SKIP() << "no /proc/self/statm";
    DvsApsFusionProccessor q;
    const uint64_t after = residentBytes();
    EXPECT_LT(after, before + (100u << 20)) << (after - before) / (1 << 20) << " MB resident";
    // The buffers still take a whole period without growing.
    std::vector<Event2D> period(100000);
    q.addDvsData(period.data(), period.data() + period.size());
    q.addSyncSignal(kRise);
    EXPECT_EQ(q.queuedPeriods(), 1u);
}
