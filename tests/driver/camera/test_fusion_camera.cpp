// The simulated Quenta: its threads and pairing, calibration, recording,
// closing, and how the manager hands it out.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include "Calibrator.h"
#include "korvane/camera/DvsCameraManager.h"
#include "QuentaTestSupport.h"
#include "korvane/sim/SimulatedBackend.h"

using namespace quenta_test;

namespace {

// Streams `periods` trigger periods (and 2 ms more) of both streams through
// the pairing, waits for their frames, stops the camera; the pairs in order.
std::vector<Pair> streamPaired(ManualQuenta& q, Delivery& d, DvsApsFusionProccessor& pairing,
                               uint64_t periods) {
    std::mutex pairsMutex;
    std::vector<Pair> pairs;
    pairing.addFusionDataCallback([&](ApsFrame& f, Event2D* first, Event2D* last) {
        std::lock_guard lock(pairsMutex);
        pairs.push_back({f, std::vector<Event2D>(first, last)});
    });
    d.attach(*q.camera, &pairing);
    EXPECT_EQ(q.camera->start(STREAM_BOTH), 0);
    q.advance(periods * kPeriod + 2000);
    EXPECT_TRUE(waitFor([&] { return d.frames() >= periods; }));
    q.camera->stop(STREAM_BOTH);
    EXPECT_EQ(pairing.droppedFrames() + pairing.droppedPeriods(), 0u);
    std::lock_guard lock(pairsMutex);
    return pairs;
}

}  // namespace

TEST(QuentaTest, EdgesAndEventsShareOneThreadFramesHaveTheirOwnAndEveryFrameIsPaired) {
    Scratch dir;
    ManualQuenta q(dir);
    Delivery d;
    DvsApsFusionProccessor pairing;
    const std::vector<Pair> pairs = streamPaired(q, d, pairing, 20);

    std::lock_guard lock(d.mutex);
    ASSERT_EQ(d.edges.size(), d.frameTimes.size()) << "every edge gets its frame";
    EXPECT_EQ(d.eventThreads.size(), 1u);
    EXPECT_EQ(d.edgeThreads, d.eventThreads);
    EXPECT_EQ(d.frameThreads.size(), 1u);
    EXPECT_NE(*d.frameThreads.begin(), *d.eventThreads.begin());
    EXPECT_TRUE(d.eventsInOrder);
    EXPECT_FALSE(d.eventBeforeEdgeAfterIt) << "an edge falls between the events around it";
    EXPECT_GT(d.events, 0u);
    for (size_t n = 0; n < d.edges.size(); ++n) {
        EXPECT_EQ(d.edges[n].polarity, 1);
        EXPECT_EQ(d.edges[n].timestamp, (n + 1) * kPeriod);
        EXPECT_EQ(d.frameTimes[n], (n + 1) * kPeriod);
    }
    ASSERT_EQ(pairs.size(), d.frameTimes.size());
    for (size_t n = 0; n < pairs.size(); ++n) {
        EXPECT_EQ(pairs[n].frame.timestamp, (n + 1) * kPeriod);
        ASSERT_FALSE(pairs[n].events.empty());
        // The period of frame n: events from the previous edge up to its own.
        EXPECT_GE(pairs[n].events.front().timestamp, n * kPeriod);
        EXPECT_LT(pairs[n].events.back().timestamp, (n + 1) * kPeriod);
    }
}

TEST(QuentaTest, FramesPlacedThroughTheCalibrationLineUpWithTheEvents) {
    Scratch dir;
    ManualQuenta q(dir);
    Delivery d;
    DvsApsFusionProccessor pairing;
    const std::vector<Pair> pairs = streamPaired(q, d, pairing, 12);

    CalibratorParameters right;
    ASSERT_TRUE(q.camera->getCalibrationParameters(right));
    EXPECT_EQ(right.apsWidth, 1600);
    EXPECT_EQ(right.apsHeight, 900);
    CalibratorParameters wrong = right;
    wrong.affineMatrices["1"].data[2] += 60;  // 60 frame pixels = 48 event columns off
    Calibrator aligned, misaligned;
    aligned.loadCalibrationParam(right);
    misaligned.loadCalibrationParam(wrong);

    const PixelRect lamp = q.camera->eventCamera().lamp();
    ASSERT_GE(pairs.size(), 10u);
    const Pair& p = pairs.back();  // the vertical bar near column 250, inside the grid
    // Where the events put the vertical bar: the last 2 ms before the edge
    // (the bar moves 1.3 columns in them), without the flickering lamp.
    std::vector<int> histogram(1280, 0);
    for (const Event2D& e : p.events)
        if (e.timestamp + 2000 >= p.frame.timestamp && !lamp.contains(e.x, e.y)) ++histogram[e.x];
    const int eventBar = bestWindow(histogram, 64);

    auto frameBar = [&](const Calibrator& c) {
        const ApsFrame m = c.mapApsToDvs(p.frame);
        // A row away from the horizontal bar: the brightest 64 columns.
        const int row = (int(p.frame.timestamp * 360 / 1000000 % 720) + 360) % 720;
        std::vector<int> brightness(1280);
        for (int x = 0; x < 1280; ++x)
            brightness[size_t(x)] = m.data()[(size_t(row) * 1280 + x) * 3];
        return bestWindow(brightness, 64);
    };
    EXPECT_LE(ringDistance(frameBar(aligned), eventBar, 1280), 3)
        << "frame " << frameBar(aligned) << " events " << eventBar;
    EXPECT_GE(ringDistance(frameBar(misaligned), eventBar, 1280), 30);
}

TEST(QuentaTest, UploadedCalibrationIsWhatTheCameraReportsAlsoAfterReopening) {
    Scratch dir;
    CalibratorParameters changed;
    {
        ManualQuenta q(dir);
        CalibratorParameters factory;
        ASSERT_TRUE(q.camera->getCalibrationParameters(factory));
        EXPECT_EQ(factory, SimulatedFusionCamera::factoryCalibration(q.options));

        changed = factory;
        changed.affineMatrices["1"].data[2] += 10;
        const std::string path = dir.file("tmp_calibration_file.json");
        ASSERT_TRUE(paramToJsonFile(changed, path));
        ASSERT_TRUE(q.camera->uploadCalibrationFile(path));
        CalibratorParameters now;
        ASSERT_TRUE(q.camera->getCalibrationParameters(now));
        EXPECT_EQ(now, changed);

        // Files that are not calibrations change nothing and throw nothing.
        std::ofstream(dir.file("junk.json")) << "not json at all {";
        EXPECT_FALSE(q.camera->uploadCalibrationFile(dir.file("junk.json")));
        std::ofstream(dir.file("half.json")) << R"({"0": {"camera_serial": 5}})";
        EXPECT_FALSE(q.camera->uploadCalibrationFile(dir.file("half.json")));
        CalibratorParameters noAffine = changed;
        noAffine.affineMatrices.clear();
        ASSERT_TRUE(paramToJsonFile(noAffine, dir.file("noaffine.json")));
        EXPECT_FALSE(q.camera->uploadCalibrationFile(dir.file("noaffine.json")));
        EXPECT_FALSE(q.camera->uploadCalibrationFile(dir.file("missing.json")));
        ASSERT_TRUE(q.camera->getCalibrationParameters(now));
        EXPECT_EQ(now, changed);
    }
    ManualQuenta again(dir);
    CalibratorParameters kept;
    ASSERT_TRUE(again.camera->getCalibrationParameters(kept));
    EXPECT_EQ(kept, changed);
}

TEST(QuentaTest, RecordingWithoutFrameWriterKeepsEventsAndCalibration) {
    Scratch dir;
    ManualQuenta q(dir);
    ASSERT_EQ(q.camera->start(STREAM_BOTH), 0);
    ASSERT_TRUE(q.camera->startRecording(dir.path().string(), "ev", STREAM_BOTH))
        << q.camera->recordingStartError();
    q.advance(3 * kPeriod);
    EXPECT_TRUE(q.camera->stopRecording(STREAM_BOTH));
    EXPECT_TRUE(fs::exists(dir.file("ev.raw")));
    EXPECT_TRUE(fs::exists(dir.file("ev.json")));
    EXPECT_FALSE(fs::exists(dir.file("ev.mp4")));
    EXPECT_FALSE(q.camera->startRecording(dir.file("no/such/dir"), "x", STREAM_BOTH));
    EXPECT_FALSE(q.camera->stopRecording(STREAM_BOTH)) << "nothing is recording";
}

TEST(QuentaTest, ClosedCameraCallsNothingAndDoesNotStart) {
    Scratch dir;
    ManualQuenta q(dir);
    Delivery d;
    d.attach(*q.camera, nullptr);
    ASSERT_EQ(q.camera->start(STREAM_BOTH), 0);
    q.advance(2 * kPeriod);
    q.camera->close();
    const size_t frames = d.frames();
    EXPECT_FALSE(q.camera->isConnected());
    EXPECT_NE(q.camera->start(STREAM_BOTH), 0);
    EXPECT_EQ(q.camera->addEventsCallback([](const Event2D*, const Event2D*) {}),
              FusionCamera::kNoCallback);
    EXPECT_EQ(d.frames(), frames);
}

TEST(QuentaTest, ManagerOffersTheQuentaAsFusionCameraOnly) {
    // Listed with its product: KvcamTest.ListPrintsOneCameraALineWithTabs.
    DvsCameraManager manager;
    EXPECT_EQ(manager.openCamera(SimulatedBackend::kQuentaSerial), nullptr);
    EXPECT_EQ(manager.openFusionCamera(SimulatedBackend::kEvk4Serial), nullptr);
    auto cam = manager.openFusionCamera(SimulatedBackend::kQuentaSerial);
    ASSERT_NE(cam, nullptr);
    EXPECT_EQ(manager.openFusionCamera(SimulatedBackend::kQuentaSerial), cam)
        << "shared while open";
    EXPECT_EQ(cam->getDescription().product, "Quenta");
    // Listed as it describes itself once open.
    bool listed = false;
    for (const CameraDescription& d : manager.getCameraDescs()) {
        if (d.serial != SimulatedBackend::kQuentaSerial) continue;
        listed = true;
        const CameraDescription open = cam->getDescription();
        EXPECT_EQ(d.product, open.product);
        EXPECT_EQ(d.manufacturer, open.manufacturer);
        EXPECT_EQ(d.description, open.description);
        EXPECT_EQ(d.connection, open.connection);
    }
    EXPECT_TRUE(listed);
    EXPECT_TRUE(cam->isConnected());
    ASSERT_NE(cam->getTool(ToolType::Aps), nullptr);
    ASSERT_NE(cam->getTool(ToolType::Biases), nullptr);
    EXPECT_EQ(cam->getTool(ToolType(2)), nullptr);

    // On the wall clock: frames, and once a second the statistics.
    std::atomic<int> frames{0};
    std::atomic<uint64_t> rate{0};
    cam->addApsFrameCallback([&](ApsFrame) { ++frames; });
    cam->setStatisticInfoCallback([&](const KvStatisticInfo& s) { rate = s.eventRate; });
    ASSERT_EQ(cam->start(STREAM_BOTH), 0);
    EXPECT_TRUE(waitFor([&] { return rate.load() > 0 && frames.load() >= 3; }));
    cam->close();
    EXPECT_FALSE(cam->isConnected());
    auto reopened = manager.openFusionCamera(SimulatedBackend::kQuentaSerial);
    ASSERT_NE(reopened, nullptr);
    EXPECT_NE(reopened, cam) << "a closed camera is not handed out again";
    EXPECT_TRUE(reopened->isConnected());
}
