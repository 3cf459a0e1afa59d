#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "KvRecords.h"

using namespace korvane;

TEST(ApsFrameTest, DefaultFrameIsFourKZeroed) {
    ApsFrame frame;
    EXPECT_EQ(frame.width(), 3840);
    EXPECT_EQ(frame.height(), 2160);
    EXPECT_EQ(frame.getDataSize(), 24883200u);
    EXPECT_EQ(frame.frameTag, 0u);
    EXPECT_EQ(frame.timestamp, 0u);
    EXPECT_EQ(frame.pixelType(), 0);
    const uint8_t* p = frame.data();
    EXPECT_TRUE(std::all_of(p, p + frame.getDataSize(), [](uint8_t b) { return b == 0; }));
}

TEST(ApsFrameTest, CopiesShareClonesDoNot) {
    ApsFrame a(4, 2, 7, 99);
    ApsFrame b(1, 1);
    b = a;
    a.data()[5] = 42;
    EXPECT_EQ(b.data()[5], 42);
    EXPECT_EQ(b.frameTag, 7u);
    EXPECT_EQ(b.timestamp, 99u);

    ApsFrame c = a.clone();
    EXPECT_NE(c.data(), a.data());
    EXPECT_EQ(c.data()[5], 42);
    a.data()[5] = 1;
    EXPECT_EQ(c.data()[5], 42);
    EXPECT_EQ(c.frameTag, 7u);
    EXPECT_EQ(c.width(), 4);

    ApsFrame& self = b;
    b = self;  // self-assignment keeps the buffer
    EXPECT_EQ(b.data(), a.data());
}

TEST(ApsFrameTest, CopyFlagCopiesOrBorrows) {
    std::vector<uint8_t> source(2 * 2 * 3, 9);
    ApsFrame copied(2, 2, 0, 0, source.data(), source.size(), true);
    EXPECT_NE(copied.data(), source.data());
    source[0] = 1;
    EXPECT_EQ(copied.data()[0], 9);

    auto* owned = new std::vector<uint8_t>(12, 5);
    {
        ApsFrame borrowed(2, 2, 0, 0, owned->data(), owned->size(), false);
        EXPECT_EQ(borrowed.data(), owned->data());
        ApsFrame copy = borrowed;
        borrowed.data()[1] = 3;
        EXPECT_EQ(copy.data()[1], 3);
    }
    // The last copy is gone; the caller's buffer must still be intact.
    EXPECT_EQ((*owned)[0], 5);
    EXPECT_EQ((*owned)[1], 3);
    delete owned;
}

TEST(ApsFrameTest, CopiesDroppedOnManyThreads) {
    ApsFrame frame(64, 64);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([frame] {
            for (int i = 0; i < 10000; ++i) {
                ApsFrame local = frame;
                (void)local;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(frame.data_.use_count(), 1);
}

// The trigger and statistics records' orders are checked where the camera
// makes them: CameraToolsTest.TriggerChannelsSwitchTheirEdgesOnAndOff and
// CameraStatisticsTest.OnePerSecondWithTheDeliveredCountAndTheEncodedSize.
TEST(RecordsTest, ConstructorOrders) {
    Event2D ev(3, 4, 1, 1ull << 40);
    EXPECT_EQ(ev.x, 3);
    EXPECT_EQ(ev.y, 4);
    EXPECT_EQ(ev.polarity, 1);
    EXPECT_EQ(ev.timestamp, 1ull << 40);
    EXPECT_EQ(Event2D().timestamp, 0u);
}
