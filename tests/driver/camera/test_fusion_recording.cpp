// A fusion recording of the simulated Quenta read back from its three
// files: the RAW header, the frames' count and times against it and the
// trigger edges, the events stored with mirrored columns, the calibration
// the camera reports, and the overlay of frame and events aligned through
// it once the columns are mirrored back.

#include <gtest/gtest.h>

#include <atomic>

#include "Calibrator.h"
#include "QuentaTestSupport.h"
#include "korvane/file/DvsFileReader.h"
#include "korvane/file/SafeOutput.h"
#include "korvane/video/ApsFileReader.h"
#include "korvane/video/H264FrameWriter.h"

using namespace quenta_test;

namespace {

struct Bars {
    int column = 0;  // centre of the vertical bar, event grid
    int row = 0;     // centre of the horizontal bar
};

constexpr int kEventWidth = 1280;

// Where the recorded events of the last 2 ms before `until_us` put the bars
// (the bars move about a pixel in that time), leaving out the flickering
// lamp. The file stores columns mirrored: they are mirrored back first.
Bars eventBars(const std::vector<Event2D>& events, uint64_t until_us, const PixelRect& lamp) {
    std::vector<int> cols(1280, 0), rows(720, 0);
    for (const Event2D& e : events) {
        const int x = kEventWidth - 1 - int(e.x);
        if (e.timestamp + 2000 >= until_us && e.timestamp < until_us && !lamp.contains(x, e.y)) {
            ++cols[size_t(x)];
            ++rows[e.y];
        }
    }
    return {bestWindow(cols, 64), bestWindow(rows, 8)};
}

// Where a remapped frame shows them: the brightest band along a row away
// from the horizontal bar, and along a column away from the vertical bar.
Bars frameBars(const ApsFrame& m, const Bars& near) {
    const int row = (near.row + 360) % 720, col = (near.column + 640) % 1280;
    std::vector<int> cols(1280), rows(720);
    for (int x = 0; x < 1280; ++x)
        cols[size_t(x)] = m.data()[(size_t(row) * 1280 + x) * 3 + 1];
    for (int y = 0; y < 720; ++y)
        rows[size_t(y)] = m.data()[(size_t(y) * 1280 + col) * 3 + 1];
    return {bestWindow(cols, 64), bestWindow(rows, 8)};
}

// Hands everything on to the real encoder and notes that close() came: a
// writer dropped without it would report no failure of its last writes.
class CloseNotingWriter : public FrameFileWriter {
public:
    CloseNotingWriter(std::unique_ptr<FrameFileWriter> inner, std::atomic<bool>& closed)
        : inner_(std::move(inner)), closed_(closed) {}
    bool write(const ApsFrame& f, uint64_t relative_us) override {
        return inner_->write(f, relative_us);
    }
    bool close() override {
        closed_ = true;
        return inner_->close();
    }
    uint64_t framesWritten() const override { return inner_->framesWritten(); }
    uint64_t framesDropped() const override { return inner_->framesDropped(); }
    std::string error() const override { return inner_->error(); }

private:
    std::unique_ptr<FrameFileWriter> inner_;
    std::atomic<bool>& closed_;
};

}  // namespace

TEST(FusionRecordingTest, FramesReadBackAtTheirEdgesAndLineUpWithTheRecordedEvents) {
    Scratch dir;
    std::atomic<H264FrameWriter*> writer{nullptr};
    std::atomic<int> fpsAsked{0};
    std::atomic<bool> closed{false};
    ManualQuenta q(dir,
                   [&](const std::string& path, int w, int h, int fps,
                       std::string* error) -> std::unique_ptr<FrameFileWriter> {
                       auto made = H264FrameWriter::create(path, w, h, fps, error);
                       writer = made.get();
                       fpsAsked = fps;
                       return made ? std::make_unique<CloseNotingWriter>(std::move(made), closed)
                                   : nullptr;
                   });
    Delivery d;
    d.attach(*q.camera, nullptr);
    // The live events of the recording's first frame period, as delivered.
    std::mutex liveMutex;
    std::vector<Event2D> live;
    q.camera->addEventsCallback([&](const Event2D* first, const Event2D* last) {
        std::lock_guard lock(liveMutex);
        for (const Event2D* e = first; e != last; ++e)
            if (e->timestamp >= 3 * kPeriod && e->timestamp < 4 * kPeriod) live.push_back(*e);
    });
    ASSERT_EQ(q.camera->start(STREAM_BOTH), 0);
    q.advance(2 * kPeriod + 1000);  // the recording starts between two frames
    ASSERT_TRUE(q.camera->startRecording(dir.path().string(), "rec", STREAM_BOTH));
    EXPECT_FALSE(q.camera->startRecording(dir.path().string(), "again", STREAM_BOTH));
    ASSERT_NE(writer.load(), nullptr);
    EXPECT_EQ(fpsAsked.load(), 30);
    // The manual clock runs faster than real time: let the encoder keep up
    // as it does with a real-time camera, so no frame is dropped.
    for (uint64_t n = 1; n <= 40; ++n) {
        q.advance(kPeriod);
        ASSERT_TRUE(waitFor([&] { return writer.load()->framesEncoded() + 2 >= n; }));
    }
    q.camera->stop(STREAM_BOTH);  // every frame of an edge delivered is written
    const bool stopped = q.camera->stopRecording(STREAM_BOTH);
    const FrameRecordingStats stats = q.camera->recordingFrameStats();
    ASSERT_TRUE(stopped) << stats.error;
    EXPECT_TRUE(closed.load());
    EXPECT_EQ(stats.framesDropped, 0u);
    EXPECT_TRUE(stats.error.empty()) << stats.error;

    auto events = DvsFileReader::createFileReader(dir.file("rec.raw"));
    ASSERT_NE(events, nullptr);
    ASSERT_TRUE(events->openForReading());
    DvsFileInfo info;
    ASSERT_TRUE(events->getFileInfo(info));
    const uint64_t offset = info.apsStartTimestamp;
    EXPECT_EQ(offset, q.camera->recordingApsStart_us());
    EXPECT_EQ(offset, 3 * kPeriod) << "the first frame after the recording's start";
    EXPECT_EQ(info.serialNumber, "KVTEST-QUENTA");
    uint64_t startTime = 0;
    ASSERT_TRUE(events->getStartTime(startTime));
    EXPECT_LE(startTime, offset) << "the events before the first frame are kept";

    auto frames = ApsFileReader::createFileReader(dir.file("rec.mp4"));
    ASSERT_NE(frames, nullptr);
    ASSERT_TRUE(frames->openForReading());
    CalibratorParameters calibration, reported;
    ASSERT_TRUE(jsonFileToParam(dir.file("rec.json"), calibration));
    ASSERT_TRUE(q.camera->getCalibrationParameters(reported));
    EXPECT_EQ(calibration, reported);
    EXPECT_EQ(frames->getWidth(), calibration.apsWidth);
    EXPECT_EQ(frames->getHeight(), calibration.apsHeight);

    // One frame per edge from the offset on, each at its edge's time.
    std::vector<uint64_t> times;
    ASSERT_TRUE(frames->getFrameTimestamps(times));
    std::vector<uint64_t> edgesRecorded;
    {
        std::lock_guard lock(d.mutex);
        for (const EventTriggerIn& e : d.edges)
            if (e.timestamp >= offset) edgesRecorded.push_back(e.timestamp);
    }
    ASSERT_GE(edgesRecorded.size(), 39u);
    ASSERT_EQ(times.size(), edgesRecorded.size());
    EXPECT_EQ(frames->getFrameCount(), times.size());
    EXPECT_EQ(stats.framesWritten, times.size());
    for (size_t n = 0; n < times.size(); ++n)
        EXPECT_EQ(offset + times[n], edgesRecorded[n]) << "frame " << n;
    uint64_t endTime = 0;
    ASSERT_TRUE(events->getEndTime(endTime));
    // The events file carries the frames' edges too, as the camera's own
    // stream does: rising, channel 0, one per frame at its time.
    std::vector<uint64_t> rawEdges;
    for (const EventTriggerIn& e : events->readTriggersInWindow(0, endTime + kPeriod)) {
        EXPECT_EQ(e.id, 0);
        EXPECT_EQ(e.polarity, 1);
        rawEdges.push_back(e.timestamp);
    }
    EXPECT_EQ(rawEdges, edgesRecorded);

    // The file holds the live events with each column x stored as 1279 - x,
    // rows, polarities and times untouched.
    {
        EventBatch stored = events->readEventsInWindow(offset, kPeriod);
        ASSERT_NE(stored, nullptr);
        std::lock_guard lock(liveMutex);
        ASSERT_FALSE(live.empty());
        ASSERT_EQ(stored->size(), live.size());
        size_t differ = 0;
        for (size_t i = 0; i < live.size(); ++i) {
            const Event2D& s = (*stored)[i];
            const Event2D& l = live[i];
            differ += !(s.x == kEventWidth - 1 - l.x && s.y == l.y && s.polarity == l.polarity &&
                        s.timestamp == l.timestamp);
        }
        EXPECT_EQ(differ, 0u) << "of " << live.size();
    }
    EXPECT_GE(endTime + kPeriod, offset + times.back()) << "the events cover the frames";

    // The overlay, at frames spread over the recording (the bars move, so
    // a frame shown at the wrong time would not line up either).
    Calibrator calibrator;
    calibrator.loadCalibrationParam(calibration);
    const PixelRect lamp = q.camera->eventCamera().lamp();
    for (size_t n : {size_t(1), times.size() / 2, times.size() - 1}) {
        SCOPED_TRACE("frame " + std::to_string(n));
        ApsFrame f(1, 1);
        ASSERT_TRUE(frames->readFrameAt(times[n], f));
        ASSERT_EQ(f.timestamp, times[n]);
        const uint64_t edge = offset + times[n];
        // The frame's trigger period: from the edge before to its own.
        EventBatch period = events->readEventsInWindow(edge - kPeriod, kPeriod);
        ASSERT_NE(period, nullptr);
        ASSERT_FALSE(period->empty());
        const Bars ev = eventBars(*period, edge, lamp);
        const Bars fr = frameBars(calibrator.mapApsToDvs(f), ev);
        EXPECT_LE(ringDistance(fr.column, ev.column, 1280), 3)
            << "frame " << fr.column << " events " << ev.column;
        EXPECT_LE(ringDistance(fr.row, ev.row, 720), 3)
            << "frame " << fr.row << " events " << ev.row;
    }
}

// While a recording runs, none of its three files is replaced or emptied:
// not by another recorder (the camera's own or one writing a single file)
// nor by the tools that replace a file whole; once it ended they may.
TEST(FusionRecordingTest, NoOtherWriterTouchesAnyOfTheThreeFilesWhileTheyAreWritten) {
    Scratch dir;
    ManualQuenta q(dir, h264FrameWriterFactory());
    ASSERT_EQ(q.camera->start(STREAM_BOTH), 0);
    ASSERT_TRUE(q.camera->startRecording(dir.path().string(), "rec", STREAM_BOTH));
    q.advance(3 * kPeriod);
    const std::vector<uint8_t> calibration = kvtest::readBytes(dir.file("rec.json"));
    ASSERT_FALSE(calibration.empty());
    const std::string held = "output is being written by another recording";
    for (const char* name : {"rec.raw", "rec.json", "rec.mp4"}) {
        SCOPED_TRACE(name);
        std::string why;
        EXPECT_LT(openInPlaceOutput(dir.file(name), &why), 0);
        EXPECT_EQ(why, held);
        SafeOutput replacement;
        why.clear();
        EXPECT_FALSE(replacement.open(dir.file(name), {}, &why));
        EXPECT_EQ(why, held);
    }
    ManualQuenta other(dir, h264FrameWriterFactory());
    EXPECT_FALSE(other.camera->startRecording(dir.path().string(), "rec", STREAM_BOTH));
    EXPECT_EQ(other.camera->recordingStartError(),
              "cannot write " + dir.file("rec.json") + ": " + held);
    EXPECT_EQ(kvtest::readBytes(dir.file("rec.json")), calibration);
    EXPECT_GT(fs::file_size(dir.file("rec.raw")), 0u);

    q.advance(kPeriod);
    q.camera->stop(STREAM_BOTH);
    ASSERT_TRUE(q.camera->stopRecording(STREAM_BOTH)) << q.camera->recordingFrameStats().error;
    for (const char* name : {"rec.raw", "rec.json", "rec.mp4"}) {
        SafeOutput replacement;
        std::string why;
        EXPECT_TRUE(replacement.open(dir.file(name), {}, &why)) << name << ": " << why;
    }
    EXPECT_TRUE(other.camera->startRecording(dir.path().string(), "rec", STREAM_BOTH))
        << other.camera->recordingStartError();
    EXPECT_TRUE(other.camera->stopRecording(STREAM_BOTH));
}
