// kvraw convert from the command line: summary line, exit statuses, and no
// file left behind by a failure.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <regex>

#include "DriverTestSupport.h"
#include "KvrawRun.h"

using namespace kvtest;

TEST(KvrawConvertTest, SummaryStatusesAndRanges) {
    ScratchDir dir;
    SyntheticOptions o;
    o.duration_us = 200000;
    o.eventsPerSecond = 100000;
    o.triggerPeriod_us = 10000;
    const std::string src = generate(dir, "in.raw", o);
    const Expected all = expectedFor(o);

    CliRun r =
        kvraw(dir, "convert " + src + " " + dir.file("out.h5") + " --from 50000 --to 150000");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;  // no progress without a terminal
    std::smatch m;
    const std::regex line(
        "events: (\\d+), triggers: (\\d+), bytes: (\\d+), seconds: [0-9.]+, events_per_s: \\d+\n");
    ASSERT_TRUE(std::regex_match(r.out, m, line)) << r.out;
    EXPECT_EQ(std::stoull(m[1]), filterWindow(all.events, 50000, 150000).size());
    const auto edges = std::count_if(all.triggers.begin(), all.triggers.end(), [](const auto& t) {
        return t.timestamp >= 50000 && t.timestamp < 150000;
    });
    EXPECT_GT(edges, 0);
    EXPECT_EQ(std::stoull(m[2]), uint64_t(edges));
    EXPECT_EQ(std::stoull(m[3]), fs::file_size(dir.file("out.h5")));

    r = kvraw(dir, "convert " + dir.file("out.h5") + " " + dir.file("back.raw") + " --format evt2");
    ASSERT_EQ(r.status, 0) << r.err;
    auto reader = DvsFileReader::createFileReader(dir.file("back.raw"));
    ASSERT_TRUE(reader && reader->openForReading());
    EXPECT_EQ(reader->format(), RawFormat::Evt2);
    EXPECT_EQ(decodeAll(*reader).events, filterWindow(all.events, 50000, 150000));

    // Usage errors: 2; failures: 1; neither leaves a file.
    EXPECT_EQ(kvraw(dir, "convert " + src).status, 2);
    EXPECT_EQ(kvraw(dir, "convert " + src + " " + dir.file("x.raw") + " --format evt4").status, 2);
    EXPECT_EQ(kvraw(dir, "convert " + src + " " + dir.file("x.raw") + " --from 9 --to 3").status,
              2);
    r = kvraw(dir, "convert " + src + " " + dir.file("x.txt"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unknown output type"), std::string::npos) << r.err;
    EXPECT_EQ(kvraw(dir, "convert " + dir.file("none.raw") + " " + dir.file("x.npy")).status, 1);
    EXPECT_FALSE(fs::exists(dir.file("x.raw")));
    EXPECT_FALSE(fs::exists(dir.file("x.npy")));
    EXPECT_FALSE(fs::exists(dir.file("x.txt")));
}
