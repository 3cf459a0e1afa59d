// Video export: what lands in the MP4 (read back with FFmpeg's libraries),
// how close its frames are to the playback images, and that every failure
// leaves the target as it was and no temporary file behind.

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

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

// What FFmpeg's converter, set up as the encoder sets it up for RGB input,
// makes of a picture of tightly packed RGB rows: the I420 planes, packed.
std::vector<uint8_t> convertedI420(const std::vector<uint8_t>& rgb, int w, int h) {
    std::vector<uint8_t> out(size_t(w) * size_t(h) * 3 / 2);
    AVFrame* in = av_frame_alloc();
    AVFrame* yuv = av_frame_alloc();
    in->format = AV_PIX_FMT_RGB24;
    yuv->format = AV_PIX_FMT_YUV420P;
    in->width = yuv->width = w;
    in->height = yuv->height = h;
    SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_RGB24, w, h, AV_PIX_FMT_YUV420P, SWS_BILINEAR,
                                     nullptr, nullptr, nullptr);
    if (sws && av_frame_get_buffer(in, 0) == 0 && av_frame_get_buffer(yuv, 0) == 0) {
        // FFmpeg's padded buffer: the converter reads past row ends.
        for (int y = 0; y < h; ++y)
            std::memcpy(in->data[0] + y * in->linesize[0], &rgb[size_t(y) * size_t(w) * 3],
                        size_t(w) * 3);
        sws_scale(sws, in->data, in->linesize, 0, h, yuv->data, yuv->linesize);
        uint8_t* at = out.data();
        for (int p = 0; p < 3; ++p) {
            const int pw = p ? w / 2 : w, ph = p ? h / 2 : h;
            for (int y = 0; y < ph; ++y, at += pw)
                std::memcpy(at, yuv->data[p] + y * yuv->linesize[p], size_t(pw));
        }
    }
    sws_freeContext(sws);
    av_frame_free(&in);
    av_frame_free(&yuv);
    return out;
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

// The export paints YUV itself instead of converting RGB frames with FFmpeg's
// converter: its planes must be what that converter made of the same picture
// (luma exactly, chroma within one level), for every theme and across widths
// that do and do not fill the vector steps; odd sizes paint nothing rather
// than write past the planes. (Pictures a few rows high, which no sensor
// has, the converter filters differently.)
TEST(EventPainterTest, I420IsWhatTheConverterMadeOfThePicture) {
    std::mt19937 rng(5);
    struct Size {
        int width, height;
    };
    // The named themes, then colours of any kind (the first: one whose luma
    // a plain rounding of BT.601 gets one level off the converter's).
    std::vector<std::pair<std::string, PaintTheme>> themes;
    for (const char* name : {"Gray", "RedBlue", "Dark", "RedGreen", "Light"}) {
        PaintTheme theme;
        ASSERT_TRUE(paintThemeByName(name, theme));
        themes.emplace_back(name, theme);
    }
    themes.emplace_back("blue 240", PaintTheme{{0, 0, 240}, {17, 200, 3}, {0, 0, 0}});
    auto anyColour = [&] { return PaintColor{uint8_t(rng()), uint8_t(rng()), uint8_t(rng())}; };
    for (int i = 0; i < 4; ++i)
        themes.emplace_back("random " + std::to_string(i),
                            PaintTheme{anyColour(), anyColour(), anyColour()});
    for (const auto& [name, theme] : themes) {
        for (const Size size : {Size{1280, 720}, Size{18, 64}, Size{46, 16}, Size{346, 260}}) {
            SCOPED_TRACE(name + " " + std::to_string(size.width) + "x" +
                         std::to_string(size.height));
            const int w = size.width, h = size.height;
            std::vector<uint8_t> cells(size_t(w) * size_t(h));
            for (uint8_t& c : cells)
                c = rng() % 3 == 0 ? uint8_t(rng()) : 0;  // every nibble pair, often none
            std::vector<uint8_t> rgb(size_t(w) * size_t(h) * 3);
            paintPacked(cells.data(), w, h, theme, rgb.data(), size_t(w) * 3);
            const std::vector<uint8_t> converted = convertedI420(rgb, w, h);
            std::vector<uint8_t> painted(converted.size(), 7);
            paintPackedI420(cells.data(), w, h, theme, painted.data(), size_t(w));
            const size_t lumaBytes = size_t(w) * size_t(h);
            int worstLuma = 0, worstChroma = 0;
            for (size_t i = 0; i < painted.size(); ++i) {
                int& worst = i < lumaBytes ? worstLuma : worstChroma;
                worst = std::max(worst, std::abs(int(painted[i]) - int(converted[i])));
            }
            EXPECT_EQ(worstLuma, 0);
            EXPECT_LE(worstChroma, 1);
        }
    }
    PaintTheme theme;
    ASSERT_TRUE(paintThemeByName("Gray", theme));
    std::vector<uint8_t> cells(15 * 4, 0x11), untouched(15 * 4 * 2, 7);
    std::vector<uint8_t> odd = untouched;
    paintPackedI420(cells.data(), 15, 4, theme, odd.data(), 15);
    EXPECT_EQ(odd, untouched);
    // The corners of the range: studio swing, never full range.
    EXPECT_EQ(toYuv({0, 0, 0}).y, 16);
    EXPECT_EQ(toYuv({255, 255, 255}).y, 235);
    EXPECT_EQ(toYuv({255, 0, 0}).v, 240);
    EXPECT_EQ(toYuv({0, 0, 255}).u, 240);
}

// YUV handed to the encoder comes back as the colours it was painted from:
// planes in the right order, the colour space the file declares.
TEST(VideoEncoderTest, I420FramesKeepTheirColours) {
    PaintTheme theme;
    ASSERT_TRUE(paintThemeByName("RedBlue", theme));
    constexpr int kW = 320, kH = 240;
    // Left third ON (red), middle OFF (blue), right background (grey).
    std::vector<uint8_t> cells(size_t(kW) * kH, 0);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < 2 * kW / 3; ++x)
            cells[size_t(y) * kW + x] = x < kW / 3 ? 0x30 : 0x03;
    }
    std::vector<uint8_t> i420(size_t(kW) * kH * 3 / 2);
    paintPackedI420(cells.data(), kW, kH, theme, i420.data(), kW);
    ScratchDir dir;
    VideoEncoderOptions o;
    o.width = kW;
    o.height = kH;
    o.pixels = VideoPixels::I420;
    VideoEncoder encoder;
    ASSERT_TRUE(encoder.open(dir.file("yuv.mp4"), o)) << encoder.error();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(encoder.writeFrame(i420.data(), kW)) << encoder.error();
    ASSERT_TRUE(encoder.finish()) << encoder.error();
    const VideoFacts v = readVideo(dir.file("yuv.mp4"), true);
    ASSERT_EQ(v.frames.size(), 3u);
    const auto near = [&](int x, PaintColor want) {
        const uint8_t* p = &v.frames[1][(size_t(kH / 2) * kW + size_t(x)) * 3];
        return std::abs(p[0] - want.r) + std::abs(p[1] - want.g) + std::abs(p[2] - want.b) < 24;
    };
    EXPECT_TRUE(near(kW / 6, theme.on));
    EXPECT_TRUE(near(kW / 2, theme.off));
    EXPECT_TRUE(near(5 * kW / 6, theme.background));
}
