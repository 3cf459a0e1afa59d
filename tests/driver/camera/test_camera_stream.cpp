// Streaming of the simulated cameras: pacing against a manual clock,
// statistics, the bandwidth count, unplugging, the manager, two cameras;
// and of the replay cameras: pace, loops, edges, the folder's files.

#include <gtest/gtest.h>

#include <cctype>
#include <mutex>
#include <set>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

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

TEST(CameraPacingTest, VisitingABatchGivesWhatGetNextEventsGathers) {
    // Same seed and clock steps: the same batches, taken both ways, for
    // sparse and dense streams and batch intervals that do and do not
    // fall on the camera's slices.
    struct Case {
        uint64_t rate, interval_us;
    };
    for (const Case c : {Case{1000000, 50000}, Case{30000000, 33333}, Case{5000000, 2500}}) {
        SCOPED_TRACE(c.rate);
        ManualCamera gathered(c.rate), visited(c.rate);
        for (ManualCamera* m : {&gathered, &visited}) {
            m->camera->setBatchInterval(c.interval_us);
            ASSERT_EQ(m->camera->start(), 0);
        }
        std::vector<Event2D> scratch{Event2D(1, 2, 1, 3)}, pieces;
        size_t calls = 0;
        const DvsCamera::EventPieceVisitor visit = [&](const Event2D* ev, size_t n) {
            ++calls;
            EXPECT_GT(n, 0u) << "an empty piece";
            pieces.insert(pieces.end(), ev, ev + n);
        };
        EXPECT_FALSE(visited.camera->visitNextEvents(scratch, visit)) << "nothing is due yet";
        EXPECT_EQ(calls, 0u);
        for (int b = 0; b < 4; ++b) {
            gathered.advance(c.interval_us);
            visited.advance(c.interval_us);
            std::vector<Event2D> whole;
            ASSERT_TRUE(waitFor([&] { return gathered.camera->getNextEvents(whole); }));
            pieces.clear();
            ASSERT_TRUE(waitFor([&] { return visited.camera->visitNextEvents(scratch, visit); }));
            ASSERT_FALSE(whole.empty());
            EXPECT_TRUE(pieces == whole) << "batch " << b;
            EXPECT_EQ(visited.camera->lastBatch().t0_us, gathered.camera->lastBatch().t0_us);
            EXPECT_EQ(visited.camera->lastBatch().t1_us, gathered.camera->lastBatch().t1_us);
        }
        EXPECT_GE(calls, 4u);
        EXPECT_EQ(visited.camera->batchesDelivered(), gathered.camera->batchesDelivered());
        EXPECT_EQ(visited.camera->batchesDropped(), 0u);
    }
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
    ScratchDir dir;
    DataFolderAt data(dir.file("data"));  // no replays
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

// --- the replay camera: a recording streamed as a camera ---------------------

namespace {

// A recording whose events do not start at 0, with edges on channel 0.
std::string replaySource(const ScratchDir& dir, const std::string& name = "src.raw",
                         uint64_t duration_us = 230000, uint32_t width = 1280,
                         uint32_t height = 720) {
    SyntheticOptions o;
    o.duration_us = duration_us;
    o.startTime_us = 7000;
    o.eventsPerSecond = 400000;
    o.triggerPeriod_us = 20000;
    o.seed = 3;
    o.width = width;
    o.height = height;
    return generate(dir, name, o);
}

Decoded decodedFile(const std::string& path) {
    auto reader = openReader(path);
    return reader ? decodeAll(*reader) : Decoded{};
}

}  // namespace

TEST(ReplayCameraTest, StreamsTheRecordingAtItsPaceLoopingWithTimeGoingOn) {
    ScratchDir dir;
    const std::string path = replaySource(dir);
    const Decoded source = decodedFile(path);
    ASSERT_GT(source.events.size(), 1000u);
    ManualCamera m(ManualCamera::ReplayOf{path});
    ASSERT_TRUE(m.camera);
    auto& cam = *m.camera;
    std::mutex mutex;
    std::vector<EventTriggerIn> edges;
    std::vector<KvStatisticInfo> stats;
    cam.addTriggerInCallback([&](const EventTriggerIn& e) {
        std::lock_guard lock(mutex);
        edges.push_back(e);
    });
    cam.setStatisticInfoCallback([&](const KvStatisticInfo& s) {
        std::lock_guard lock(mutex);
        stats.push_back(s);
    });
    ASSERT_TRUE(cam.getTool(ToolType::TriggerIn)->setParameter("channel_0", true));
    ASSERT_EQ(cam.start(), 0);

    std::vector<Event2D> batch;
    m.advance(ManualCamera::kBatch_us / 2);
    EXPECT_FALSE(cam.getNextEvents(batch)) << "a batch before its time elapsed";
    m.advance(ManualCamera::kBatch_us / 2);
    ASSERT_TRUE(waitFor([&] { return cam.getNextEvents(batch); }));
    std::vector<Event2D> events = batch;
    const auto more = m.stream(1000000 - ManualCamera::kBatch_us);
    events.insert(events.end(), more.begin(), more.end());
    cam.stop();

    // Over four loops of the 230 ms recording: exactly its events, shifted.
    const Expected want = replayed(source, 0, 1000000, 1);
    ASSERT_EQ(events.size(), want.events.size());
    EXPECT_TRUE(events == want.events);
    for (size_t i = 1; i < events.size(); ++i)
        ASSERT_GE(events[i].timestamp, events[i - 1].timestamp) << "time went back at " << i;
    const auto [lo, hi] = std::minmax_element(
        source.events.begin(), source.events.end(),
        [](const Event2D& a, const Event2D& b) { return a.timestamp < b.timestamp; });
    const uint64_t span = hi->timestamp - lo->timestamp + 1;
    ASSERT_GT(span, 200000u);
    for (uint64_t k = 1; k < 4; ++k)
        EXPECT_EQ(filterWindow(events, k * span, (k + 1) * span).size(),
                  filterWindow(events, 0, span).size())
            << "loop " << k;

    std::lock_guard lock(mutex);
    ASSERT_FALSE(want.triggers.empty());
    EXPECT_TRUE(edges == want.triggers)
        << edges.size() << " edges, " << want.triggers.size() << " recorded";
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(stats[0].eventRate, events.size()) << "statistics count what was streamed";
}

// A recording shorter than the replay's read-ahead window sits whole in one
// buffer: every loop must play it again, not only the first.
TEST(ReplayCameraTest, ARecordingShorterThanItsReadAheadLoopsToo) {
    ScratchDir dir;
    const std::string path = replaySource(dir, "short.raw", 5000);
    const Decoded source = decodedFile(path);
    ASSERT_GT(source.events.size(), 100u);
    ManualCamera m(ManualCamera::ReplayOf{path});
    ASSERT_TRUE(m.camera);
    ASSERT_EQ(m.camera->start(), 0);
    const auto events = m.stream(4 * ManualCamera::kBatch_us);
    m.camera->stop();
    const Expected want = replayed(source, 0, 4 * ManualCamera::kBatch_us);
    ASSERT_EQ(events.size(), want.events.size());
    EXPECT_TRUE(events == want.events);
}

// Recording a replay onto its own recording would empty the file it plays.
TEST(ReplayCameraTest, ARecordingOntoItsOwnSourceIsRefusedAndTheSourceStays) {
    ScratchDir dir;
    const std::string path = replaySource(dir);
    const auto size = fs::file_size(path);
    ManualCamera m(ManualCamera::ReplayOf{path});
    ASSERT_TRUE(m.camera);
    ASSERT_EQ(m.camera->start(), 0);
    EXPECT_FALSE(m.camera->startRecording(path));
    EXPECT_NE(m.camera->recordingStatus().error.find("output is the input"), std::string::npos)
        << m.camera->recordingStatus().error;
    m.stream(ManualCamera::kBatch_us);
    m.camera->stop();
    EXPECT_EQ(fs::file_size(path), size);
    EXPECT_GT(decodedFile(path).events.size(), 1000u);
}

// A recording cut short under an open replay cannot be played on: the camera
// is unplugged rather than streaming nothing while it says it is connected.
TEST(ReplayCameraTest, ARecordingCutShortWhileOpenUnplugsTheCamera) {
    ScratchDir dir;
    const std::string path = replaySource(dir);
    ManualCamera m(ManualCamera::ReplayOf{path});
    ASSERT_TRUE(m.camera);
    ASSERT_EQ(m.camera->start(), 0);
    m.stream(ManualCamera::kBatch_us);
    EXPECT_TRUE(m.camera->isConnected());
    fs::resize_file(path, 1000);
    // The camera looks again within a fraction of a second of wall time.
    EXPECT_TRUE(waitFor([&] {
        m.clock->advance(1000);
        return !m.camera->isConnected();
    }));
}

TEST(ReplayCameraTest, FolderListsReadableRecordingsAndNeverTripsOnBadFiles) {
    ScratchDir dir;
    const std::string folder = dir.file("replay");
    fs::create_directories(folder);
    replaySource(dir, "replay/good.raw");
    writeBytes(folder + "/empty.raw", {});
    writeBytes(folder + "/junk.RAW", std::vector<uint8_t>(5000, 'x'));
    const std::string header = generateDvsFileHeader(DvsFileInfo{});
    writeBytes(folder + "/no events.raw", std::vector<uint8_t>(header.begin(), header.end()));
    std::vector<uint8_t> cut = readBytes(folder + "/good.raw");
    cut.resize(cut.size() / 2 + 1);  // ends inside a word
    writeBytes(folder + "/cut.raw", cut);
    std::vector<uint8_t> noisy = readBytes(folder + "/good.raw");
    const size_t dataOffset = openReader(folder + "/good.raw")->header().dataOffsetBytes;
    scrambleWords(noisy, dataOffset, 2, 40, 3, 11);
    writeBytes(folder + "/noisy.raw", noisy);
    fs::create_directories(folder + "/folder.raw");
    writeBytes(folder + "/notes.txt", {'h', 'i'});
#if !defined(_WIN32)
    fs::create_symlink(dir.file("gone.raw"), folder + "/dangling.raw");
    ASSERT_EQ(::mkfifo((folder + "/pipe.raw").c_str(), 0600), 0);
#endif

    auto clock = std::make_shared<ManualCameraClock>();
    ReplayBackend backend(folder, clock);
    std::vector<std::string> names;
    for (const auto& d : backend.listCameras()) {
        EXPECT_EQ(d.product, "Replay");
        EXPECT_EQ(d.manufacturer, "Korvane");
        names.push_back(d.serial);
    }
    const std::vector<std::string> listed = {
        ReplayBackend::serialFor("cut"), ReplayBackend::serialFor("good"),
        ReplayBackend::serialFor("no events"), ReplayBackend::serialFor("noisy")};
    EXPECT_EQ(names, listed);
    {
        // Damaged data plays what it can, in time order, and never stalls the camera.
        auto noisyCam = std::dynamic_pointer_cast<SimulatedDvsCamera>(
            backend.openCamera(ReplayBackend::serialFor("noisy")));
        ASSERT_NE(noisyCam, nullptr);
        ManualCamera m;
        m.clock = clock;
        m.camera = noisyCam;
        m.camera->setBatchInterval(ManualCamera::kBatch_us);
        ASSERT_EQ(m.camera->start(), 0);
        const auto events = m.stream(300000);
        EXPECT_FALSE(events.empty());
        for (size_t i = 0; i < events.size(); ++i) {
            ASSERT_LT(events[i].timestamp, 300000u);
            if (i > 0) {
                ASSERT_GE(events[i].timestamp, events[i - 1].timestamp);
            }
        }
        m.camera->stop();
    }
    EXPECT_NE(backend.openCamera(ReplayBackend::serialFor("good")), nullptr);
    EXPECT_NE(backend.openCamera(ReplayBackend::serialFor("cut")), nullptr)
        << "what is whole plays";
    EXPECT_EQ(backend.openCamera(ReplayBackend::serialFor("no events")), nullptr);
    for (const char* never : {"empty", "junk", "folder", "dangling", "pipe", "notes"})
        EXPECT_EQ(backend.openCamera(ReplayBackend::serialFor(never)), nullptr) << never;
    std::string why;
    EXPECT_EQ(ReplayBackend::openFile(folder + "/no events.raw", "S", nullptr, &why), nullptr);
    EXPECT_EQ(why, "the recording holds no events");
    EXPECT_EQ(ReplayBackend::openFile(folder + "/empty.raw", "S", nullptr, &why), nullptr);
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(ReplayBackend(dir.file("no such folder")).listCameras().size(), 0u);
}

TEST(ReplayCameraTest, SerialsAreStableDistinctAndSafe) {
    const std::vector<std::string> names = {"drive 1",
                                            "drive_1",
                                            "Drive 1",
                                            "a/b",
                                            std::string(40, 'z'),
                                            std::string(40, 'z') + "y",
                                            "\xe6\xb5\x8b\xe8\xaf\x95",
                                            "$(rm -rf)"};
    std::set<std::string> serials;
    for (const auto& n : names) {
        const std::string s = ReplayBackend::serialFor(n);
        EXPECT_EQ(s, ReplayBackend::serialFor(n));
        EXPECT_EQ(s.rfind("KVREPLAY-", 0), 0u) << s;
        for (char c : s)
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') << s;
        serials.insert(s);
    }
    EXPECT_EQ(serials.size(), names.size());
    EXPECT_EQ(ReplayBackend::serialFor("drive 1").substr(0, 17), "KVREPLAY-DRIVE_1-");
}

#if !defined(_WIN32)
TEST(ReplayCameraTest, TheDefaultManagerListsTheUsersReplayFolder) {
    ScratchDir dir;
    DataFolderAt data(dir.file("data"));
    const std::string folder = dir.file("data/Korvane/KorvaneDriver/replay");
    EXPECT_EQ(ReplayBackend::defaultFolder(), folder);
    fs::create_directories(folder);
    replaySource(dir, "data/Korvane/KorvaneDriver/replay/walk.raw");
    DvsCameraManager manager;
    const auto descs = manager.getCameraDescs();
    ASSERT_EQ(descs.size(), 4u);
    EXPECT_EQ(descs[3].serial, ReplayBackend::serialFor("walk"));
    EXPECT_EQ(descs[3].product, "Replay");
    auto cam = manager.openCamera(descs[3].serial);
    ASSERT_NE(cam, nullptr);
    EXPECT_EQ(cam->getDescription().serial, descs[3].serial);
    EXPECT_EQ(cam->getDescription().description, descs[3].description);
    EXPECT_EQ(cam->getDescription().connection, "replay");
    EXPECT_EQ(manager.openCamera(descs[3].serial), cam) << "an open camera is shared";
}

TEST(ReplayCameraTest, RemovingTheRecordingWhileOpenUnplugsTheCamera) {
    ScratchDir dir;
    const std::string folder = dir.file("replay");
    fs::create_directories(folder);
    const std::string path = replaySource(dir);
    fs::create_symlink(path, folder + "/linked.raw");
    auto clock = std::make_shared<ManualCameraClock>();
    ReplayBackend backend(folder, clock);
    auto cam = std::dynamic_pointer_cast<SimulatedDvsCamera>(
        backend.openCamera(ReplayBackend::serialFor("linked")));
    ASSERT_NE(cam, nullptr);
    std::mutex mutex;
    std::vector<std::string> reasons;
    cam->setRecordingErrorCallback([&](const std::string&, const std::string& why) {
        std::lock_guard lock(mutex);
        reasons.push_back(why);
    });
    ASSERT_EQ(cam->start(), 0);
    ASSERT_TRUE(cam->startRecording(dir.file("rec.raw")));
    clock->advance(100000);
    ASSERT_TRUE(waitFor([&] { return clock->idle(); }));
    EXPECT_TRUE(cam->isConnected());

    fs::remove(path);  // the recording behind the link
    // The camera looks again within a fraction of a second of wall time.
    EXPECT_TRUE(waitFor([&] {
        clock->advance(1000);
        return !cam->isConnected() && !cam->isStreaming();
    }));
    EXPECT_FALSE(cam->recordingStatus().running);
    EXPECT_EQ(cam->recordingStatus().error, "camera unplugged");
    EXPECT_NE(cam->start(), 0);
    std::vector<Event2D> batch;
    EXPECT_FALSE(cam->getNextEvents(batch));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(reasons, std::vector<std::string>{"camera unplugged"});
    }
    auto reader = openReader(dir.file("rec.raw"));
    ASSERT_TRUE(reader) << "the recording stays readable";
    EXPECT_EQ(backend.listCameras().size(), 0u);
}
#endif
