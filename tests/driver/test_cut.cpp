#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "DriverTestSupport.h"

using namespace kvtest;

namespace {

SyntheticOptions cutSource() {
    SyntheticOptions o;
    o.duration_us = 18000000;  // crosses the 24-bit wrap
    o.eventsPerSecond = 200000;
    o.triggerPeriod_us = 100000;
    o.startTime_us = 700;
    o.serialNumber = "KVCUT7";
    return o;
}

size_t partFiles(const fs::path& dir) {
    size_t n = 0;
    for (auto& e : fs::directory_iterator(dir))
        n += e.path().filename().string().find(".part-") != std::string::npos;
    return n;
}

}  // namespace

TEST(CutTest, InclusiveRangeUnchangedTimesAndHeader) {
    for (RawFormat format : {RawFormat::Evt3, RawFormat::Evt2}) {
        ScratchDir dir;
        SyntheticOptions o = cutSource();
        o.format = format;
        o.dense = format == RawFormat::Evt3;
        Expected exp = expectedFor(o);
        auto source = DvsFileReader::createFileReader(generate(dir, "src.raw", o));
        ASSERT_TRUE(source);

        // Bounds that sit exactly on an event and on a trigger edge.
        const uint64_t start = exp.events[exp.events.size() / 3].timestamp;
        const uint64_t end = 17500000;  // a rising trigger edge
        ASSERT_LT(start, 1u << 24);
        ASSERT_GT(end, 1u << 24);
        ASSERT_TRUE(source->exportRawRange(start, end, dir.file("cut.raw")));
        EXPECT_EQ(partFiles(dir.path()), 0u);

        auto cut = DvsFileReader::createFileReader(dir.file("cut.raw"));
        ASSERT_TRUE(cut);
        EXPECT_EQ(cut->format(), format);  // lossless: the source's encoding
        Decoded d = decodeAll(*cut);
        std::vector<Event2D> expectedEvents = filterWindow(exp.events, start, end + 1);
        EXPECT_EQ(d.events, expectedEvents);
        std::vector<EventTriggerIn> expectedTriggers;
        for (auto& t : exp.triggers)
            if (t.timestamp >= start && t.timestamp <= end) expectedTriggers.push_back(t);
        EXPECT_EQ(d.triggers, expectedTriggers);
        EXPECT_EQ(d.triggers.back().timestamp, end);

        DvsFileInfo info;
        cut->getFileInfo(info);
        EXPECT_EQ(info.serialNumber, "KVCUT7");
        EXPECT_EQ(info.dvsStartTimestamp, expectedEvents.front().timestamp);
        EXPECT_EQ(fs::status(dir.file("cut.raw")).permissions() & fs::perms::others_read,
                  fs::perms::others_read);
    }
}

TEST(CutTest, RefusedRangesAndTargets) {
    ScratchDir dir;
    SyntheticOptions o = cutSource();
    o.duration_us = 1000000;
    auto source = DvsFileReader::createFileReader(generate(dir, "src.raw", o));
    EXPECT_FALSE(source->exportRawRange(500, 400, dir.file("a.raw")));
    EXPECT_FALSE(source->exportRawRange(5000000, 6000000, dir.file("b.raw")));  // no events
    EXPECT_FALSE(source->exportRawRange(0, 1000, dir.file("no/such/dir/c.raw")));
    EXPECT_FALSE(source->exportRawRange(0, 1000, dir.path().string()));  // a directory
    EXPECT_FALSE(fs::exists(dir.file("a.raw")));
    EXPECT_FALSE(fs::exists(dir.file("b.raw")));
    EXPECT_EQ(partFiles(dir.path()), 0u);
    // One microsecond is a valid range.
    const uint64_t t = expectedFor(o).events[100].timestamp;
    ASSERT_TRUE(source->exportRawRange(t, t, dir.file("one.raw")));
    auto one = DvsFileReader::createFileReader(dir.file("one.raw"));
    for (auto& e : decodeAll(*one).events)
        EXPECT_EQ(e.timestamp, t);
}

// A cut that fails half-way leaves neither a half file nor a damaged old one.
TEST(CutTest, FailedWriteLeavesTargetUntouched) {
    ScratchDir dir;
    SyntheticOptions o = cutSource();
    o.duration_us = 3000000;
    o.eventsPerSecond = 2000000;
    auto source = DvsFileReader::createFileReader(generate(dir, "src.raw", o));
    writeBytes(dir.file("keep.raw"), {'o', 'l', 'd'});

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = source->exportRawRange(0, 3000000, dir.file("keep.raw"));
    const bool okNew = source->exportRawRange(0, 3000000, dir.file("new.raw"));
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_FALSE(ok);
    EXPECT_FALSE(okNew);
    EXPECT_EQ(readBytes(dir.file("keep.raw")), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_FALSE(fs::exists(dir.file("new.raw")));
    EXPECT_EQ(partFiles(dir.path()), 0u);
    // With room again the same cut replaces the old file.
    EXPECT_TRUE(source->exportRawRange(0, 3000000, dir.file("keep.raw")));
    EXPECT_GT(fs::file_size(dir.file("keep.raw")), 64u * 1024);
}
