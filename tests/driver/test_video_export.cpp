// Video export: what lands in the MP4 (read back with FFmpeg's libraries),
// how close its frames are to the playback images, and that every failure
// leaves the target as it was and no temporary file behind.

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "DriverTestSupport.h"
#include "VideoReadBack.h"
#include "korvane/file/RawWriter.h"
#include "korvane/video/EventPainter.h"
#include "korvane/video/VideoEncoder.h"
#include "korvane/video/VideoExport.h"

using namespace kvtest;

namespace {

constexpr uint64_t kInterval = 33333;

SyntheticOptions scene() {
    return {.duration_us = 1200000, .eventsPerSecond = 400000, .startTime_us = 5000};
}

// The playback image of [from, from + duration): what a video frame shows.
std::vector<uint8_t> referenceImage(DvsFileReader& reader, uint64_t from, uint64_t duration,
                                    const PaintTheme& theme) {
    std::vector<uint16_t> counts(1280 * 720 * 2, 0);
    if (EventBatch b = reader.readEventsInWindow(from, duration)) {
        countEvents(b->data(), b->data() + b->size(), 1280, 720, counts.data());
    }
    std::vector<uint8_t> rgb(1280 * 720 * 3);
    paintCounts(counts.data(), 1280, 720, theme, rgb.data(), 1280 * 3);
    return rgb;
}

double meanAbsDiff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    uint64_t sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += uint64_t(std::abs(int(a[i]) - int(b[i])));
    return double(sum) / double(a.size());
}

// How well the places where a decoded frame departs from the background
// match the places where the reference does (Pearson correlation of the
// brightness departures): near 1 for the same window, near 0 for another.
double eventCorrelation(const std::vector<uint8_t>& frame, const std::vector<uint8_t>& ref,
                        PaintColor bg) {
    if (frame.size() != ref.size() || frame.empty()) return 0;
    const auto luma = [](int r, int g, int b) { return 0.299 * r + 0.587 * g + 0.114 * b; };
    const double y0 = luma(bg.r, bg.g, bg.b);
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    const double n = double(frame.size() / 3);
    for (size_t i = 0; i < frame.size(); i += 3) {
        const double a = std::abs(luma(frame[i], frame[i + 1], frame[i + 2]) - y0);
        const double b = std::abs(luma(ref[i], ref[i + 1], ref[i + 2]) - y0);
        sa += a, sb += b, saa += a * a, sbb += b * b, sab += a * b;
    }
    const double cov = sab / n - (sa / n) * (sb / n);
    const double va = saa / n - (sa / n) * (sa / n), vb = sbb / n - (sb / n) * (sb / n);
    return va > 0 && vb > 0 ? cov / std::sqrt(va * vb) : 0;
}

// Names in dir other than the given ones (temporaries left behind, say).
std::vector<std::string> strayFiles(const fs::path& dir, std::vector<std::string> expected) {
    std::vector<std::string> stray;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name == "cache") continue;
        if (std::find(expected.begin(), expected.end(), name) == expected.end()) {
            stray.push_back(name);
        }
    }
    return stray;
}

class VideoExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        recording_ = generate(dir_, "scene.raw", scene());
        reader_ = DvsFileReader::createFileReader(recording_);
        ASSERT_TRUE(reader_);
        ASSERT_TRUE(reader_->openForReading());
        ASSERT_TRUE(reader_->getStartTime(first_));
        ASSERT_TRUE(reader_->getEndTime(last_));
    }
    VideoExportOptions options(std::string* error) {
        VideoExportOptions o;
        o.frameInterval_us = kInterval;
        o.accumulation_us = 33333;
        o.error = error;
        return o;
    }

    ScratchDir dir_;
    std::string recording_;
    std::unique_ptr<DvsFileReader> reader_;
    uint64_t first_ = 0, last_ = 0;
};

}  // namespace

TEST(VideoFrameCount, OnePerStartedIntervalTheLastShortened) {
    EXPECT_EQ(videoFrameCount(0, 100000, 33333), 4u);  // 0, 33333, 66666, 99999 (2 us)
    EXPECT_EQ(videoFrameCount(0, 99998, 33333), 3u);
    EXPECT_EQ(videoFrameCount(7, 7, 33333), 1u);  // a one-microsecond range still shows
    EXPECT_EQ(videoFrameCount(10, 9, 33333), 0u);
    EXPECT_EQ(videoFrameCount(0, 100, 0), 0u);
}

// One export checked as a stream (facts, tags, index first, progress) and
// frame by frame against the playback images.
TEST_F(VideoExportTest, StreamFactsAndFramesOfTheirWindows) {
    // A range that is not a whole number of intervals: the last frame is short.
    const uint64_t start = first_ + 50000, end = start + 10 * kInterval + 5000;  // 11 frames
    const std::string out = dir_.file("frames.mp4");
    std::string error;
    VideoExportOptions o = options(&error);
    ASSERT_TRUE(paintThemeByName("RedBlue", o.theme));
    o.crf = 18;
    std::vector<double> progress;
    o.progress = [&](double f) { progress.push_back(f); };
    ASSERT_TRUE(reader_->exportVideoRange(start, end, out, o)) << error;

    const VideoFacts v = readVideo(out, true);
    ASSERT_TRUE(v.opened);
    EXPECT_EQ(v.codec, "h264");
    EXPECT_EQ(v.width, 1280);
    EXPECT_EQ(v.height, 720);
    EXPECT_EQ(v.frameRate.num, 30);
    EXPECT_EQ(v.frameRate.den, 1);
    EXPECT_EQ(v.packets, 11);
    EXPECT_NEAR(v.duration_s, 11.0 / 30.0, 0.5 / 30.0);
    const std::string range =
        "start_us=" + std::to_string(start) + " end_us=" + std::to_string(end);
    EXPECT_EQ(v.tags.at("comment"), "serial=KVSIM0001 " + range);
    EXPECT_NE(v.tags.at("title").find("KVSIM0001"), std::string::npos);
    // A browser starts playing without fetching the end of the file.
    const auto boxes = topLevelBoxes(out);
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    ASSERT_NE(moov, boxes.end());
    ASSERT_NE(mdat, boxes.end());
    EXPECT_LT(moov - boxes.begin(), mdat - boxes.begin());
    ASSERT_EQ(progress.size(), 11u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
    EXPECT_TRUE(strayFiles(dir_.path(), {"scene.raw", "frames.mp4"}).empty());
    EXPECT_EQ(fs::status(out).permissions() & fs::perms::owner_read, fs::perms::owner_read);

    ASSERT_EQ(v.frames.size(), 11u);
    const auto ref = [&](int k) {
        const uint64_t from = start + uint64_t(k) * kInterval;
        const uint64_t duration = k == 10 ? end - from + 1 : 33333;
        return referenceImage(*reader_, from, duration, o.theme);
    };
    std::vector<std::vector<uint8_t>> refs;
    for (int k = 0; k < 11; ++k)
        refs.push_back(ref(k));
    for (int k : {0, 4, 10}) {
        const auto& frame = v.frames[size_t(k)];
        EXPECT_LT(meanAbsDiff(frame, refs[size_t(k)]), 12.0) << "frame " << k;
        EXPECT_GT(eventCorrelation(frame, refs[size_t(k)], o.theme.background), 0.9)
            << "frame " << k;
        // It shows its own window, not a neighbour's.
        for (int j = 0; j < 11; ++j) {
            if (j == k) continue;
            EXPECT_LT(eventCorrelation(frame, refs[size_t(j)], o.theme.background), 0.3)
                << "frame " << k << " against window " << j;
        }
    }
    // The short last window holds few events: mostly background.
    const PaintColor bg = o.theme.background;
    const std::vector<uint8_t>& last = v.frames.back();
    size_t nearBackground = 0;
    for (size_t i = 0; i < last.size(); i += 3) {
        nearBackground +=
            std::abs(last[i] - bg.r) + std::abs(last[i + 1] - bg.g) + std::abs(last[i + 2] - bg.b) <
            30;
    }
    EXPECT_GT(nearBackground, last.size() / 3 * 8 / 10);
}

// Every frame shows exactly its accumulation window: the last one too when
// the range leaves it more than that, and a window with more events than
// one read of the reader holds is drawn whole, in pieces.
TEST_F(VideoExportTest, EveryFrameShowsExactlyItsWindow) {
    struct Case {
        const char* what;
        uint64_t interval, accumulation;
        size_t windowEventLimit;
    };
    const Case cases[] = {
        {"last frame with room past its window", 100000, 20000, DvsFileReader::kMaxWindowEvents},
        {"windows larger than one read", 100000, 20000, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const uint64_t start = first_ + 50000, end = start + 2 * c.interval + 60000;  // 3 frames
        auto reader = DvsFileReader::createFileReader(recording_);
        ASSERT_TRUE(reader && reader->openForReading());
        reader->setWindowEventLimit(c.windowEventLimit);
        std::string error;
        VideoExportOptions o = options(&error);
        o.frameInterval_us = c.interval;
        o.accumulation_us = c.accumulation;
        o.crf = 18;
        const std::string out = dir_.file("w.mp4");
        ASSERT_TRUE(reader->exportVideoRange(start, end, out, o)) << error;
        const VideoFacts v = readVideo(out, true);
        ASSERT_EQ(v.frames.size(), 3u);
        for (size_t k = 0; k < 3; ++k) {
            const uint64_t from = start + k * c.interval;
            const auto own = referenceImage(*reader_, from, c.accumulation, o.theme);
            const auto after =
                referenceImage(*reader_, from + c.accumulation, 2 * c.accumulation, o.theme);
            EXPECT_LT(meanAbsDiff(v.frames[k], own), 12.0) << "frame " << k;
            EXPECT_GT(eventCorrelation(v.frames[k], own, o.theme.background), 0.9) << "frame " << k;
            EXPECT_LT(eventCorrelation(v.frames[k], after, o.theme.background), 0.3)
                << "frame " << k << " shows events past its window";
        }
    }
}

TEST_F(VideoExportTest, RangeWithoutEventsGivesBackgroundFrames) {
    // Two bursts with a silent half second between them.
    const std::string path = dir_.file("gap.raw");
    ASSERT_TRUE(writeGapRecording(path, 50));
    auto reader = DvsFileReader::createFileReader(path);
    ASSERT_TRUE(reader);
    std::string error;
    VideoExportOptions o = options(&error);
    const std::string out = dir_.file("silent.mp4");
    ASSERT_TRUE(reader->exportVideoRange(200000, 400000, out, o)) << error;
    const VideoFacts v = readVideo(out, true);
    ASSERT_EQ(v.frames.size(), videoFrameCount(200000, 400000, kInterval));
    for (const auto& frame : v.frames) {
        const std::vector<uint8_t> background(frame.size(), 112);  // "Gray" background
        EXPECT_LT(meanAbsDiff(frame, background), 2.0);
    }
}

// A fusion camera's recording stores its columns mirrored; the export shows
// them turned back, as playback does, and any other recording as stored.
TEST_F(VideoExportTest, FusionRecordingsEventsAreTurnedBackAsInPlayback) {
    struct Case {
        const char* name;
        uint64_t apsStart_us;  // 0: not a fusion recording
        bool shownOnTheRight;
    };
    for (const Case& c : {Case{"plain.raw", 0, false}, Case{"fusion.raw", 33333, true}}) {
        SCOPED_TRACE(c.name);
        const std::string path = dir_.file(c.name);
        {
            // Events only in the leftmost 64 stored columns, row after row.
            DvsFileInfo info;
            info.serialNumber = "MIRROR1";
            info.apsStartTimestamp = c.apsStart_us;
            RawWriter w;
            ASSERT_TRUE(w.open(path, generateDvsFileHeader(info)));
            std::vector<Event2D> ev;
            for (uint64_t t = 0; t < 100000; t += 5)
                ev.push_back({uint16_t(t / 5 % 64), uint16_t(t / 5 / 64 % 720), 1, t});
            w.writeEvents(ev.data(), ev.size());
            ASSERT_TRUE(w.close());
        }
        auto reader = DvsFileReader::createFileReader(path);
        ASSERT_TRUE(reader);
        std::string error;
        VideoExportOptions o = options(&error);
        const std::string out = dir_.file(std::string(c.name) + ".mp4");
        ASSERT_TRUE(reader->exportVideoRange(0, 50000, out, o)) << error;
        const VideoFacts v = readVideo(out, true);
        ASSERT_FALSE(v.frames.empty());
        // Pixels away from the grey background, in the outer 64 columns each side.
        size_t left = 0, right = 0;
        for (int y = 0; y < 720; ++y) {
            for (int x = 0; x < 64; ++x) {
                const auto away = [&](int col) {
                    return std::abs(int(v.frames[0][(size_t(y) * 1280 + col) * 3]) - 112) > 40;
                };
                left += away(x);
                right += away(1279 - x);
            }
        }
        EXPECT_GT(c.shownOnTheRight ? right : left, 5000u);
        EXPECT_LT(c.shownOnTheRight ? left : right, 100u);
    }
}

TEST_F(VideoExportTest, RefusedRangesAndTargetsWriteNothing) {
    std::string error;
    const VideoExportOptions o = options(&error);
    const std::string out = dir_.file("x.mp4");
    EXPECT_FALSE(reader_->exportVideoRange(first_ + 2000, first_ + 1000, out, o));
    EXPECT_NE(error.find("after"), std::string::npos);
    EXPECT_FALSE(reader_->exportVideoRange(last_ + 1, last_ + 100000, out, o));
    EXPECT_NE(error.find("outside"), std::string::npos);
    EXPECT_FALSE(reader_->exportVideoRange(first_, last_ + 1, out, o));  // runs past the end
    EXPECT_FALSE(reader_->exportVideoRange(first_, first_ + 1000, dir_.file("no/x.mp4"), o));
    EXPECT_NE(error.find("does not exist"), std::string::npos);
    EXPECT_FALSE(reader_->exportVideoRange(first_, first_ + 1000, dir_.file("cache"), o));
    EXPECT_FALSE(reader_->exportVideoRange(first_, first_ + 1000, recording_, o));
    EXPECT_NE(error.find("recording being read"), std::string::npos);
    EXPECT_EQ(readBytes(recording_).size(), fs::file_size(recording_));
    VideoExportOptions zero = o;
    zero.frameInterval_us = 0;
    EXPECT_FALSE(reader_->exportVideoRange(first_, first_ + 1000, out, zero));
    EXPECT_TRUE(strayFiles(dir_.path(), {"scene.raw"}).empty());
}

TEST_F(VideoExportTest, CancelLeavesTheOldTargetAndNoTemporary) {
    const std::string out = dir_.file("keep.mp4");
    writeBytes(out, {1, 2, 3});
    std::atomic<bool> cancel{false};
    std::string error;
    VideoExportOptions o = options(&error);
    o.cancel = &cancel;
    int frames = 0;
    o.progress = [&](double) {
        if (++frames == 3) cancel = true;
    };
    EXPECT_FALSE(reader_->exportVideoRange(first_, first_ + 1000000, out, o));
    EXPECT_EQ(error, "cancelled");
    EXPECT_EQ(frames, 3);
    EXPECT_EQ(readBytes(out), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(strayFiles(dir_.path(), {"scene.raw", "keep.mp4"}).empty());
}

TEST_F(VideoExportTest, FullDiskFailsWithoutPartialFile) {
    std::string error;
    bool ok = true;
    {
        FileSizeLimit limit(64 * 1024);
        ASSERT_TRUE(limit.applied());
        ok = reader_->exportVideoRange(first_, first_ + 1000000, dir_.file("full.mp4"),
                                       options(&error));
    }
    EXPECT_FALSE(ok);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(strayFiles(dir_.path(), {"scene.raw"}).empty());
}

TEST(VideoEncoderTest, ReadsOnlyTheCallersPixels) {
    // The image ends right before an unreadable page: a read past its last
    // byte ends the process.
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    const size_t bytes = 1280 * 720 * 3;
    const size_t mapped = (bytes + page - 1) / page * page + page;
    void* area =
        ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(area, MAP_FAILED);
    uint8_t* guard = static_cast<uint8_t*>(area) + mapped - page;
    ASSERT_EQ(::mprotect(guard, page, PROT_NONE), 0);
    uint8_t* image = guard - bytes;
    std::memset(image, 112, bytes);

    ScratchDir dir;
    VideoEncoder encoder;
    ASSERT_TRUE(encoder.open(dir.file("edge.mp4"), VideoEncoderOptions{})) << encoder.error();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(encoder.writeFrame(image, 1280 * 3)) << encoder.error();
    ASSERT_TRUE(encoder.finish()) << encoder.error();
    ::munmap(area, mapped);
    EXPECT_EQ(readVideo(dir.file("edge.mp4"), false).packets, 3);
}
