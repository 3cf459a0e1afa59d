// Streaming of the simulated cameras: pacing against a manual clock,
// statistics, the bandwidth count, unplugging, the manager, two cameras.

#include <gtest/gtest.h>

#include <mutex>

#include "CameraTestSupport.h"
#include "korvane/camera/DvsCameraManager.h"
#include "korvane/camera/Evt3SizeCounter.h"
#include "korvane/file/RawWriter.h"
#include "korvane/sim/SimulatedBackend.h"
#include "korvane/sim/SimulatedScene.h"

using namespace kvtest;

TEST(CameraPacingTest, BatchesComeOnlyWhenTheirCameraTimeHasElapsed) {
    ManualCamera m;
    auto& cam = *m.camera;
    cam.setBatchInterval(33333);
    ASSERT_EQ(cam.start(), 0);
    std::vector<Event2D> batch;
    EXPECT_FALSE(cam.getNextEvents(batch));

    m.advance(20000);
    EXPECT_FALSE(cam.getNextEvents(batch)) << "a batch before its time elapsed";
    m.advance(13333);
    ASSERT_TRUE(waitFor([&] { return cam.getNextEvents(batch); }));
    ASSERT_FALSE(batch.empty());
    EXPECT_EQ(cam.lastBatch().t0_us, 0u);
    EXPECT_EQ(cam.lastBatch().t1_us, 33333u);
    for (const auto& e : batch) {
        ASSERT_LT(e.timestamp, 33333u);
    }
    EXPECT_FALSE(cam.getNextEvents(batch)) << "one batch per interval";

    // A new interval holds from the next batch on.
    cam.setBatchInterval(10000);
    m.advance(33333);
    ASSERT_TRUE(waitFor([&] { return cam.getNextEvents(batch); }));
    EXPECT_EQ(cam.lastBatch().t0_us, 33333u);
    EXPECT_EQ(cam.lastBatch().t1_us, 66666u);
    m.advance(10000);
    ASSERT_TRUE(waitFor([&] { return cam.getNextEvents(batch); }));
    EXPECT_EQ(cam.lastBatch().t1_us, 76666u);
    for (const auto& e : batch) {
        ASSERT_GE(e.timestamp, 66666u);
        ASSERT_LT(e.timestamp, 76666u);
    }
    EXPECT_EQ(cam.batchesDropped(), 0u);
}

TEST(CameraPacingTest, UnreadBatchesAreDroppedOldestFirstAndCounted) {
    ManualCamera m;
    auto& cam = *m.camera;
    cam.setBatchInterval(10000);
    ASSERT_EQ(cam.start(), 0);
    m.advance(100000);  // ten batches, nobody reads
    EXPECT_EQ(cam.batchesDropped(), 10 - SimulatedDvsCamera::kMaxQueuedBatches);
    std::vector<Event2D> batch;
    ASSERT_TRUE(cam.getNextEvents(batch));
    EXPECT_EQ(cam.lastBatch().t0_us, (10 - SimulatedDvsCamera::kMaxQueuedBatches) * 10000)
        << "the newest batches are kept";
}

TEST(CameraPacingTest, StopAndStartContinueTheCameraTime) {
    ManualCamera m;
    auto& cam = *m.camera;
    ASSERT_EQ(cam.start(), 0);
    auto first = m.stream(100000);
    cam.stop();
    std::vector<Event2D> batch;
    EXPECT_FALSE(cam.getNextEvents(batch));
    ASSERT_EQ(cam.start(), 0);
    auto second = m.stream(100000);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_GT(second.front().timestamp, first.back().timestamp);
}

TEST(CameraStatisticsTest, OnePerSecondWithTheDeliveredCountAndTheEncodedSize) {
    ManualCamera m(500000);
    auto& cam = *m.camera;
    std::mutex mutex;
    std::vector<KvStatisticInfo> stats;
    cam.setStatisticInfoCallback([&](const KvStatisticInfo& s) {
        std::lock_guard lock(mutex);
        stats.push_back(s);
    });
    ASSERT_EQ(cam.start(), 0);
    const auto events = m.stream(3000000);
    cam.stop();
    std::lock_guard lock(mutex);
    ASSERT_EQ(stats.size(), 3u);
    for (size_t s = 0; s < 3; ++s) {
        const auto second = filterWindow(events, s * 1000000, (s + 1) * 1000000);
        EXPECT_EQ(stats[s].eventRate, second.size()) << "second " << s;
        // What a writer makes of exactly these events (no triggers are on).
        RawWriter writer;
        writer.writeEvents(second.data(), second.size());
        EXPECT_NEAR(double(stats[s].bandwidth), double(writer.takeBuffer().size()), 8.0)
            << "second " << s;
    }
    EXPECT_GT(stats[0].eventRate, 450000u);
    EXPECT_LT(stats[0].eventRate, 600000u);
}

TEST(Evt3SizeCounterTest, CountsWhatTheWriterWrites) {
    // Sparse and dense scenes, triggers, and silences longer than one
    // TIME_HIGH step can bridge.
    for (bool dense : {false, true}) {
        SyntheticOptions o;
        o.eventsPerSecond = 3000000;
        o.dense = dense;
        o.triggerPeriod_us = 7000;
        SyntheticScene scene(o);
        RawWriter writer;
        Evt3SizeCounter counter;
        uint64_t counted = 0;
        for (uint64_t t = 0; t < 200000; t += 1000) {
            std::vector<Event2D> ev;
            std::vector<EventTriggerIn> trig;
            scene.generate(t, t + 1000, ev, trig);
            if (t == 100000) {  // a gap of about 30 s
                for (auto& e : ev)
                    e.timestamp += 30000000;
                for (auto& g : trig)
                    g.timestamp += 30000000;
            }
            if (t > 100000) continue;
            StreamChunk c;
            c.events = ev;
            c.triggers = trig;
            writeChunk(writer, c);
            std::vector<TriggerRecord> edges;
            placeEdgesByTime(ev.data(), ev.size(), trig, edges);
            counted += counter.addChunk(ev.data(), ev.size(), edges);
            ASSERT_EQ(counted, writer.takeBuffer().size()) << "dense " << dense << " at " << t;
            counted = 0;
        }
    }
}

TEST(CameraConnectionTest, UnpluggedCameraStopsStreamingAndCannotStart) {
    ManualCamera m;
    auto& cam = *m.camera;
    ASSERT_EQ(cam.start(), 0);
    m.stream(100000);
    ASSERT_TRUE(cam.isConnected());
    cam.unplug();
    EXPECT_FALSE(cam.isConnected());
    EXPECT_FALSE(cam.isStreaming());
    std::vector<Event2D> batch{Event2D(1, 1, 1, 1)};
    EXPECT_FALSE(cam.getNextEvents(batch));
    EXPECT_TRUE(batch.empty());
    EXPECT_NE(cam.start(), 0);
}

TEST(CameraManagerTest, OffersThreeSimulatedCamerasAndOpensThemBySerial) {
    DvsCameraManager manager;
    const auto descs = manager.getCameraDescs();
    // Serials, products and makers in order: KvcamTest.ListPrintsOneCameraALineWithTabs.
    ASSERT_EQ(descs.size(), 3u);
    for (const auto& d : descs)
        EXPECT_NE(d.description.find("imulated"), std::string::npos);

    EXPECT_EQ(manager.openCamera("NO-SUCH-SERIAL"), nullptr);
    auto a = manager.openCamera(descs[0].serial);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->getDescription().serial, descs[0].serial);
    EXPECT_EQ(a->getDescription().product, descs[0].product);
    EXPECT_EQ(manager.openCamera(descs[0].serial), a) << "an open camera is shared";
    EXPECT_EQ(a->getTool(ToolType::Aps), nullptr);
    for (ToolType t :
         {ToolType::Biases, ToolType::TriggerIn, ToolType::AntiFlicker, ToolType::EventTrailFilter,
          ToolType::EventRateControl, ToolType::RegionOfInterest}) {
        auto tool = a->getTool(t);
        ASSERT_NE(tool, nullptr);
        for (const auto& [name, info] : tool->getParameterInfos()) {
            EXPECT_EQ(name, info.name);
            for (char c : name)
                EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') << name;
        }
    }
}

// A backend that is not ours: the manager asks each in turn.
class OneCameraBackend : public CameraBackend {
public:
    std::vector<CameraDescription> listCameras() override {
        return {CameraDescription{"HW1", "EVK4", "Korvane", "hardware", "usb"}};
    }
    std::shared_ptr<DvsCamera> openCamera(const std::string&) override { return nullptr; }
};

TEST(CameraManagerTest, ListsEveryBackendInOrder) {
    DvsCameraManager manager(
        {std::make_shared<OneCameraBackend>(), std::make_shared<SimulatedBackend>()});
    const auto descs = manager.getCameraDescs();
    ASSERT_EQ(descs.size(), 4u);
    EXPECT_EQ(descs[0].serial, "HW1");
    EXPECT_EQ(manager.openCamera("HW1"), nullptr);
    EXPECT_NE(manager.openCamera(SimulatedBackend::kPirelSerial), nullptr);
}

TEST(CameraConnectionTest, TwoCamerasStreamAtOnceIndependently) {
    ManualCamera a(800000, 1, "KVA"), b(800000, 2, "KVB");
    ASSERT_TRUE(b.tool(ToolType::RegionOfInterest)->setParameter("width", 100));
    ASSERT_TRUE(b.tool(ToolType::RegionOfInterest)->setParameter("enable", true));
    ASSERT_EQ(a.camera->start(), 0);
    ASSERT_EQ(b.camera->start(), 0);
    std::vector<Event2D> ea, eb;
    for (int i = 0; i < 10; ++i) {
        auto pa = a.stream(50000), pb = b.stream(50000);
        ea.insert(ea.end(), pa.begin(), pa.end());
        eb.insert(eb.end(), pb.begin(), pb.end());
    }
    ASSERT_GT(ea.size(), 200000u);
    ASSERT_GT(eb.size(), 1000u);
    EXPECT_LT(eb.size(), ea.size() / 4);
    uint16_t maxA = 0;
    for (const auto& e : ea)
        maxA = std::max(maxA, e.x);
    EXPECT_GT(maxA, 100) << "b's window must not reach a";
    for (const auto& e : eb)
        ASSERT_LT(e.x, 100);
}

// An absurd rate must not take the process down: the scene clamps it
// instead of trying to hold templates for it.
TEST(CameraRateTest, AbsurdRatesAreClampedNotAllocated) {
    EXPECT_NO_THROW(SimulatedScene(UINT64_MAX, 1).lamp());
    SimulatedScene scene(1000, 1);
    EXPECT_NO_THROW(scene.setEventsPerSecond(UINT64_MAX));
    const PixelRect a = SimulatedScene(UINT64_MAX, 1).lamp();
    const PixelRect b = SimulatedScene(SimulatedScene::kMaxEventsPerSecond, 1).lamp();
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.x, b.x);
}
