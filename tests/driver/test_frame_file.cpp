// The frame file of a fusion recording: H.264 frame writer and the MP4
// frame reader, against each other and against damaged files.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "DriverTestSupport.h"
#include "korvane/video/ApsFileReader.h"
#include "korvane/video/H264FrameWriter.h"
#include "korvane/video/VideoEncoder.h"

using namespace korvane;
using kvtest::FileSizeLimit;
using kvtest::readBytes;
using kvtest::ScratchDir;
using kvtest::writeBytes;
namespace fs = std::filesystem;

namespace {

constexpr int kBarWidth = 16;

int barColumn(int index, int width) {
    return (index * 7) % (width - kBarWidth);
}

// Frame `index`: grey background changing with the index, a bright bar
// moving right, and a pure blue block at the top left (catches a swap of
// blue and red).
ApsFrame patternFrame(int width, int height, int index) {
    ApsFrame f(width, height, 0, 0);
    const uint8_t bg = uint8_t(40 + (index * 3) % 60);
    std::memset(f.data(), bg, size_t(f.getDataSize()));
    const int x0 = barColumn(index, width);
    for (int y = 0; y < height; ++y)
        std::memset(f.data() + (size_t(y) * width + x0) * 3, 220, kBarWidth * 3);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            uint8_t* p = f.data() + (size_t(y) * width + x) * 3;
            p[0] = 255, p[1] = 0, p[2] = 0;
        }
    return f;
}

// Centre of the brightest kBarWidth columns of the middle row.
int foundBar(const ApsFrame& f) {
    const int w = f.width(), row = f.height() / 2;
    int best = -1, bestX = 0;
    for (int x = 0; x + kBarWidth <= w; ++x) {
        int sum = 0;
        for (int i = 0; i < kBarWidth; ++i)
            sum += f.data()[(size_t(row) * w + x + i) * 3 + 1];
        if (sum > best) best = sum, bestX = x;
    }
    return bestX;
}

double meanAbsDiff(const ApsFrame& a, const ApsFrame& b) {
    double sum = 0;
    for (uint64_t i = 0; i < a.getDataSize(); ++i)
        sum += std::abs(int(a.data()[i]) - int(b.data()[i]));
    return sum / double(a.getDataSize());
}

// Frame n at these times: not a constant rate (a gap after frame 9, as
// when a frame was dropped) and starting at first_us.
std::vector<uint64_t> frameTimes(size_t n, uint64_t first_us) {
    std::vector<uint64_t> t;
    for (size_t i = 0; i < n; ++i)
        t.push_back(first_us + i * 33333 + (i >= 10 ? 33333 : 0));
    return t;
}

void writeFile(const std::string& path, int w, int h, const std::vector<uint64_t>& times) {
    std::string error;
    H264FrameWriterOptions o;
    o.maxQueuedFrames = times.size();  // about content, not drops: room for every frame
    auto writer = H264FrameWriter::create(path, w, h, 30, &error, o);
    ASSERT_NE(writer, nullptr) << error;
    for (size_t i = 0; i < times.size(); ++i)
        ASSERT_TRUE(writer->write(patternFrame(w, h, int(i)), times[i]));
    ASSERT_TRUE(writer->close()) << writer->error();
    // A first frame after 0 is also written at 0.
    EXPECT_EQ(writer->framesWritten(), times.size() + (times[0] > 0 ? 1 : 0));
    EXPECT_EQ(writer->framesDropped(), 0u);
}

// The same frames through the encoder alone, as one MP4 with its index at
// the front: FFmpeg keeps a first frame later than 0 there (an edit list).
void writeIndexedFile(const std::string& path, int w, int h, const std::vector<uint64_t>& times) {
    VideoEncoderOptions o;
    o.width = w;
    o.height = h;
    o.pixels = VideoPixels::Bgr24;
    o.timedFrames = true;
    o.keyFrameInterval = 30;
    VideoEncoder enc;
    ASSERT_TRUE(enc.open(path, o)) << enc.error();
    for (size_t i = 0; i < times.size(); ++i)
        ASSERT_TRUE(
            enc.writeFrameAt(patternFrame(w, h, int(i)).data(), size_t(w) * 3, int64_t(times[i])));
    ASSERT_TRUE(enc.finish()) << enc.error();
}

std::unique_ptr<ApsFileReader> openReader(const std::string& path) {
    auto r = ApsFileReader::createFileReader(path);
    if (r && !r->openForReading()) r.reset();
    return r;
}

std::vector<uint64_t> timestampsOf(ApsFileReader& reader) {
    std::vector<uint64_t> t;
    EXPECT_TRUE(reader.getFrameTimestamps(t));
    return t;
}

// A damaged file: if it opens at all, frames are read until the reads end
// (at most 100), then once more at `seek_us`; never a crash. Returns the
// frames read, or -1 when it does not open.
int framesOfDamaged(const std::string& path, uint64_t seek_us) {
    auto r = ApsFileReader::createFileReader(path);
    EXPECT_NE(r, nullptr);
    if (!r || !r->openForReading()) return -1;
    ApsFrame f(1, 1);
    int n = 0;
    while (n < 100 && r->readNextFrame(f))
        ++n;
    EXPECT_FALSE(r->readNextFrame(f)) << "reads stay ended";
    r->readFrameAt(seek_us, f);
    return n;
}

}  // namespace

class FrameFileRoundTrip : public ::testing::TestWithParam<std::pair<int, int>> {};

// Both a width the converter writes straight into and one it needs room for.
INSTANTIATE_TEST_SUITE_P(Sizes, FrameFileRoundTrip,
                         ::testing::Values(std::pair{320, 240}, std::pair{330, 186}));

TEST_P(FrameFileRoundTrip, EveryFrameComesBackWithItsTimeAndContent) {
    const auto [w, h] = GetParam();
    ScratchDir dir;
    const std::string path = dir.file("frames.mp4");
    const auto times = frameTimes(70, 0);
    writeFile(path, w, h, times);

    auto reader = openReader(path);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->getWidth(), w);
    EXPECT_EQ(reader->getHeight(), h);
    EXPECT_EQ(reader->getFrameCount(), times.size());
    EXPECT_EQ(timestampsOf(*reader), times);

    ApsFrame f(1, 1);
    for (size_t i = 0; i < times.size(); ++i) {
        ASSERT_TRUE(reader->readNextFrame(f)) << "frame " << i;
        EXPECT_EQ(f.timestamp, times[i]);
        EXPECT_EQ(f.frameTag, i);
        ASSERT_EQ(f.width(), w);
        ASSERT_EQ(f.height(), h);
        EXPECT_NEAR(foundBar(f), barColumn(int(i), w), 2) << "frame " << i;
        EXPECT_LT(meanAbsDiff(f, patternFrame(w, h, int(i))), 6.0) << "frame " << i;
        const uint8_t* blue = f.data() + (size_t(16) * w + 16) * 3;
        EXPECT_GT(int(blue[0]), int(blue[2]) + 150) << "blue stays blue, B first";
    }
    EXPECT_FALSE(reader->readNextFrame(f)) << "past the last frame";
    EXPECT_FALSE(reader->readNextFrame(f));
}

TEST(FrameFileTest, GreyFramesThroughTheEncoderKeepTheirLevels) {
    ScratchDir dir;
    const std::string path = dir.file("grey.mp4");
    VideoEncoderOptions o;
    o.width = 64;
    o.height = 48;
    o.pixels = VideoPixels::Gray8;
    o.timedFrames = true;
    VideoEncoder enc;
    ASSERT_TRUE(enc.open(path, o)) << enc.error();
    std::vector<uint8_t> grey(64 * 48);
    for (int i = 0; i < 5; ++i) {
        std::fill(grey.begin(), grey.end(), uint8_t(30 + 40 * i));
        ASSERT_TRUE(enc.writeFrameAt(grey.data(), 64, i * 40000));
    }
    ASSERT_TRUE(enc.finish());

    auto reader = openReader(path);
    ASSERT_NE(reader, nullptr);
    ApsFrame f(1, 1);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(reader->readNextFrame(f));
        EXPECT_EQ(f.timestamp, uint64_t(i) * 40000);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(f.data()[(24 * 64 + 32) * 3 + c], 30 + 40 * i, 4);
    }
}

TEST(FrameFileTest, EncoderRefusesTimesThatDoNotRiseAndFramesOfTheOtherKind) {
    ScratchDir dir;
    VideoEncoderOptions o;
    o.width = 32;
    o.height = 32;
    o.timedFrames = true;
    VideoEncoder enc;
    ASSERT_TRUE(enc.open(dir.file("t.mp4"), o));
    std::vector<uint8_t> rgb(32 * 32 * 3, 90);
    ASSERT_TRUE(enc.writeFrameAt(rgb.data(), 96, 1000));
    EXPECT_FALSE(enc.writeFrameAt(rgb.data(), 96, 1000));
    EXPECT_FALSE(enc.error().empty());

    VideoEncoder untimed;
    o.timedFrames = false;
    ASSERT_TRUE(untimed.open(dir.file("u.mp4"), o));
    EXPECT_FALSE(untimed.writeFrameAt(rgb.data(), 96, 0)) << "a constant-rate file takes no times";
    VideoEncoder timed;
    o.timedFrames = true;
    ASSERT_TRUE(timed.open(dir.file("v.mp4"), o));
    EXPECT_FALSE(timed.writeFrame(rgb.data(), 96)) << "a timed file takes no untimed frame";
}

// Both kinds of file: the frame writer's fragmented one, and one with its
// index at the front starting at 10 ms (so there is a time before the
// first frame). 70 frames are more than two key-frame intervals.
class FrameFileSeek : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Kinds, FrameFileSeek, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Fragmented" : "Indexed"; });

TEST_P(FrameFileSeek, ReadFrameAtAndRewindPickTheFrameShownAtATime) {
    ScratchDir dir;
    const std::string path = dir.file("seek.mp4");
    const bool fragmented = GetParam();
    const auto times = frameTimes(70, fragmented ? 0 : 10000);
    if (fragmented)
        writeFile(path, 160, 120, times);
    else
        writeIndexedFile(path, 160, 120, times);
    auto reader = openReader(path);
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(timestampsOf(*reader), times);

    ApsFrame f(1, 1), next(1, 1);
    auto at = [&](uint64_t t) {
        EXPECT_TRUE(reader->readFrameAt(t, f)) << "at " << t;
        return f.frameTag;
    };
    EXPECT_EQ(at(0), 0u) << "before (or at) the first frame: the first";
    EXPECT_EQ(f.timestamp, times[0]);
    EXPECT_EQ(at(times[40]), 40u) << "exactly on a frame";
    EXPECT_EQ(foundBar(f), barColumn(40, 160)) << "decoded from its key frame, not a neighbour";
    EXPECT_EQ(at(times[40] - 1), 39u) << "just before: the frame still shown";
    EXPECT_EQ(at(times[9] + 40000), 9u) << "in the gap after frame 9";
    EXPECT_EQ(at(times[5]), 5u) << "back across key frames";
    ASSERT_TRUE(reader->readNextFrame(next));
    EXPECT_EQ(next.frameTag, 6u) << "the read after readFrameAt is the frame after it";
    EXPECT_EQ(next.timestamp, times[6]);
    EXPECT_EQ(at(times[8]), 8u) << "a small step forward decodes on";
    EXPECT_NEAR(foundBar(f), barColumn(8, 160), 2);
    EXPECT_EQ(at(times.back() + 5000000), 69u) << "after the last frame: the last";
    EXPECT_FALSE(reader->readNextFrame(next)) << "nothing after the last";

    ASSERT_TRUE(reader->rewind(0));
    ASSERT_TRUE(reader->readNextFrame(next));
    EXPECT_EQ(next.frameTag, 0u) << "rewind(0): the first frame again";
    ASSERT_TRUE(reader->rewind(times[33] + 1));
    ASSERT_TRUE(reader->readNextFrame(next));
    EXPECT_EQ(next.frameTag, 34u) << "rewind: the frame at or after the time";
    EXPECT_NEAR(foundBar(next), barColumn(34, 160), 2);
    EXPECT_FALSE(reader->rewind(times.back() + 1)) << "no frame at or after it";
    EXPECT_FALSE(reader->readNextFrame(next));
    EXPECT_TRUE(reader->readFrameAt(times[2], f)) << "still usable afterwards";
    EXPECT_EQ(f.frameTag, 2u);
}

TEST(FrameFileTest, WriterShowsALateFirstFrameFromZeroSoTheOthersKeepTheirTimes) {
    ScratchDir dir;
    const std::string path = dir.file("late.mp4");
    const std::vector<uint64_t> given = {33333, 66666, 99999};
    writeFile(path, 160, 120, given);
    auto reader = openReader(path);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(timestampsOf(*reader), (std::vector<uint64_t>{0, 33333, 66666, 99999}));
    ApsFrame f(1, 1);
    ASSERT_TRUE(reader->readFrameAt(0, f));
    EXPECT_EQ(foundBar(f), barColumn(0, 160)) << "the first given frame, shown from 0";
    ASSERT_TRUE(reader->readFrameAt(66666, f));
    EXPECT_EQ(foundBar(f), barColumn(1, 160));
}

TEST(FrameFileTest, FileOfAWriterThatNeverClosedPlaysUpToItsLastPiece) {
    ScratchDir dir;
    const std::string path = dir.file("open.mp4");
    H264FrameWriterOptions o;
    o.maxQueuedFrames = 80;
    std::string error;
    auto writer = H264FrameWriter::create(path, 160, 120, 30, &error, o);
    ASSERT_NE(writer, nullptr) << error;
    // The file as a process killed just after frame n was encoded leaves
    // it, for a few n at different places within the pieces.
    constexpr int kFrames = 75, kFirstCopy = 69;
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_TRUE(writer->write(patternFrame(160, 120, i), uint64_t(i) * 33333));
        if (i < kFirstCopy) continue;
        // Every frame is accounted for sooner or later (written or dropped):
        // wait for that, not for a time that a loaded machine may overrun.
        while (writer->framesEncoded() + writer->framesDropped() < uint64_t(i) + 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_EQ(writer->framesEncoded(), uint64_t(i) + 1);
        fs::copy_file(path, dir.file("killed-" + std::to_string(i) + ".mp4"));
    }
    writer->close();

    for (int last = kFirstCopy; last < kFrames; ++last) {
        SCOPED_TRACE("killed after frame " + std::to_string(last));
        auto reader = openReader(dir.file("killed-" + std::to_string(last) + ".mp4"));
        ASSERT_NE(reader, nullptr) << "plays without the writer's end";
        // Pieces of at most 100 ms, each written once the next frame would
        // not fit, by an encoder that holds nothing back: what is missing,
        // frame durations included, is less than a piece (100 ms).
        const uint64_t count = reader->getFrameCount();
        ASSERT_GE(count, 1u);
        ASSERT_LE(count, uint64_t(last) + 1);
        EXPECT_LT((uint64_t(last) + 1 - count) * 33333, 100000u) << count << " frames";
        ApsFrame f(1, 1);
        size_t n = 0;
        while (reader->readNextFrame(f)) {
            EXPECT_EQ(f.timestamp, n * 33333);
            EXPECT_EQ(foundBar(f), barColumn(int(n), 160));
            ++n;
        }
        EXPECT_EQ(n, count);
    }
}

TEST(FrameFileTest, WriterCountsWhatItCannotTakeAndStillFinishesThePlayableFile) {
    ScratchDir dir;
    const std::string path = dir.file("drops.mp4");
    H264FrameWriterOptions o;
    o.maxQueuedFrames = 1;
    std::string error;
    auto writer = H264FrameWriter::create(path, 640, 480, 30, &error, o);
    ASSERT_NE(writer, nullptr) << error;
    // As fast as the caller can: with one place in the queue some frames
    // may be dropped, but every frame is either in the file or counted.
    const int given = 40;
    for (int i = 0; i < given; ++i)
        ASSERT_TRUE(writer->write(patternFrame(640, 480, i), uint64_t(i) * 33333));
    EXPECT_TRUE(writer->write(patternFrame(320, 240, 0), 41 * 33333)) << "another size: dropped";
    EXPECT_TRUE(writer->write(patternFrame(640, 480, 0), 10)) << "time going back: dropped";
    const bool closed = writer->close();
    EXPECT_EQ(writer->framesWritten() + writer->framesDropped(), uint64_t(given) + 2);
    EXPECT_GE(writer->framesDropped(), 2u);
    EXPECT_FALSE(closed) << "frames are missing, so not everything reached the file";
    EXPECT_FALSE(writer->error().empty());
    EXPECT_EQ(writer->close(), closed) << "closing again changes nothing";
    EXPECT_FALSE(writer->write(patternFrame(640, 480, 0), 50 * 33333)) << "the file has ended";

    auto reader = openReader(path);
    ASSERT_NE(reader, nullptr) << "the file plays";
    EXPECT_EQ(reader->getFrameCount(), writer->framesWritten());
    for (uint64_t t : timestampsOf(*reader))
        EXPECT_EQ(t % 33333, 0u) << "kept frames keep their own times";
}

// A full disk ends the file with whole pieces only, and the writer counts
// exactly the frames the file holds; none is reported written that is not.
TEST(FrameFileTest, FullDiskLeavesWholePiecesAndCountsOnlyTheirFrames) {
    ScratchDir dir;
    const std::string path = dir.file("full.mp4");
    H264FrameWriterOptions o;
    o.maxQueuedFrames = 80;
    std::string error;
    auto writer = H264FrameWriter::create(path, 320, 240, 30, &error, o);
    ASSERT_NE(writer, nullptr) << error;
    const int offered = 60;
    uint64_t given = 0;  // taken by the writer: once it failed it takes no more
    bool closed = true;
    {
        FileSizeLimit limit(500 * 1024);  // writes past it fail as on a full disk
        ASSERT_TRUE(limit.applied());
        // Noise: frames that compress badly, so the limit comes within a few pieces.
        uint64_t seed = 12345;
        for (int i = 0; i < offered; ++i) {
            ApsFrame f = patternFrame(320, 240, i);
            for (size_t b = 0; b < size_t(f.getDataSize()); ++b) {
                seed = seed * 6364136223846793005ull + 1442695040888963407ull;
                f.data()[b] = uint8_t(seed >> 56);
            }
            if (!writer->write(f, uint64_t(i) * 33333)) break;
            ++given;
        }
        closed = writer->close();
    }
    EXPECT_FALSE(closed);
    EXPECT_FALSE(writer->error().empty());
    EXPECT_LE(fs::file_size(path), 500u * 1024);
    EXPECT_GT(writer->framesWritten(), 0u);
    EXPECT_LT(writer->framesWritten(), given);
    EXPECT_EQ(writer->framesWritten() + writer->framesDropped(), given);

    auto reader = openReader(path);
    ASSERT_NE(reader, nullptr) << "the file plays";
    EXPECT_EQ(reader->getFrameCount(), writer->framesWritten());
    ApsFrame f(1, 1);
    uint64_t n = 0;
    while (reader->readNextFrame(f)) {
        EXPECT_EQ(f.timestamp, n * 33333);
        ++n;
    }
    EXPECT_EQ(n, writer->framesWritten()) << "every frame counted decodes";
}

TEST(FrameFileTest, WriterRefusesSizesTheEncoderCannotTake) {
    ScratchDir dir;
    std::string error;
    EXPECT_EQ(H264FrameWriter::create(dir.file("odd.mp4"), 321, 240, 30, &error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(H264FrameWriter::create(dir.file("no/such/dir/x.mp4"), 320, 240, 30, &error),
              nullptr);
}

TEST(FrameFileTest, FilesThatAreNotGoodVideosDoNotOpenOrStopCleanly) {
    ScratchDir dir;
    EXPECT_EQ(ApsFileReader::createFileReader(dir.file("missing.mp4")), nullptr);
    EXPECT_EQ(ApsFileReader::createFileReader(dir.path().string()), nullptr) << "a folder";

    std::ofstream(dir.file("text.mp4")) << "this is not a video at all\n";
    auto text = ApsFileReader::createFileReader(dir.file("text.mp4"));
    ASSERT_NE(text, nullptr);
    EXPECT_FALSE(text->openForReading());
    ApsFrame f(1, 1);
    EXPECT_FALSE(text->readNextFrame(f)) << "unopened readers read nothing";
    EXPECT_FALSE(text->readFrameAt(0, f));
    EXPECT_FALSE(text->rewind(0));
    EXPECT_EQ(text->getFrameCount(), 0u);

    // A video without frames.
    {
        std::string error;
        auto w = H264FrameWriter::create(dir.file("empty.mp4"), 64, 48, 30, &error);
        ASSERT_NE(w, nullptr);
        w->close();
    }
    auto empty = ApsFileReader::createFileReader(dir.file("empty.mp4"));
    ASSERT_NE(empty, nullptr);
    EXPECT_FALSE(empty->openForReading());

    // Good files of both kinds, then damaged copies of them.
    writeFile(dir.file("good.mp4"), 160, 120, frameTimes(40, 0));
    writeIndexedFile(dir.file("indexed.mp4"), 160, 120, frameTimes(40, 0));
    const std::vector<uint8_t> bytes = readBytes(dir.file("indexed.mp4"));
    ASSERT_GT(bytes.size(), 1000u);

    // Truncated: pieces, frames or the index cut off.
    for (const std::string name : {"good.mp4", "indexed.mp4"}) {
        const std::vector<uint8_t> whole = readBytes(dir.file(name));
        // The last frames' bytes lie before a fragmented file's closing
        // index (mfra), which alone plays without: cut into the frames.
        const std::string mfra = "mfra";
        const auto index = std::find_end(whole.begin(), whole.end(), mfra.begin(), mfra.end());
        const size_t framesEnd =
            index == whole.end() ? whole.size() : size_t(index - whole.begin());
        for (size_t keep : {whole.size() / 2, framesEnd - 200}) {
            SCOPED_TRACE(name + " cut to " + std::to_string(keep));
            const std::string cut = dir.file("cut.mp4");
            writeBytes(cut, {whole.begin(), whole.begin() + long(keep)});
            EXPECT_LT(framesOfDamaged(cut, 39 * 33333), 40);
        }
    }

    // The frame size declared in the sample description made huge.
    std::vector<uint8_t> huge = bytes;
    const std::string stsd = "stsd", avc1 = "avc1";  // ftyp names avc1 too: look after stsd
    auto pos = std::search(huge.begin(), huge.end(), stsd.begin(), stsd.end());
    ASSERT_NE(pos, huge.end());
    pos = std::search(pos, huge.end(), avc1.begin(), avc1.end());
    ASSERT_NE(pos, huge.end());
    const size_t at = size_t(pos - huge.begin()) + 4 + 24;  // width, height: 16 bits each
    for (size_t i = 0; i < 4; ++i)
        huge[at + i] = 0xFF;
    writeBytes(dir.file("huge.mp4"), huge);
    auto big = ApsFileReader::createFileReader(dir.file("huge.mp4"));
    ASSERT_NE(big, nullptr);
    EXPECT_FALSE(big->openForReading());

    // Garbage in the middle of the frames: reads stop or go on, never crash.
    std::vector<uint8_t> noisy = bytes;
    for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 2000 && i < noisy.size(); ++i)
        noisy[i] = uint8_t(i * 131);
    writeBytes(dir.file("noisy.mp4"), noisy);
    EXPECT_LE(framesOfDamaged(dir.file("noisy.mp4"), 20 * 33333), 40);
}
