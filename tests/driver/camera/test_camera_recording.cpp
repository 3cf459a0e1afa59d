// Recording from the simulated cameras: round trip, results and errors,
// unplugging, the trigger cache, and a recorder killed with SIGKILL.

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <fstream>
#include <mutex>

#include "CameraTestSupport.h"
#include "korvane/file/SafeOutput.h"

using namespace kvtest;

namespace {

struct FileContent {
    RawHeader header;
    Decoded data;
    uint64_t corrupt = 0;
};

FileContent readRecording(const std::string& path) {
    FileContent f;
    auto reader = DvsFileReader::createFileReader(path);
    EXPECT_NE(reader, nullptr) << path;
    if (!reader) return f;
    EXPECT_TRUE(reader->openForReading());
    f.header = reader->header();
    f.data = decodeAll(*reader);
    f.corrupt = reader->corruptWordCount();
    return f;
}

std::vector<std::string> headerLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line) && line.rfind("%", 0) == 0) {
        lines.push_back(line);
        if (line == "% end") break;
    }
    return lines;
}

// The reasons the camera gave for ending a recording, in order.
struct Reasons {
    std::mutex mutex;
    std::vector<std::string> seen;
    explicit Reasons(SimulatedDvsCamera& cam) {
        cam.setRecordingErrorCallback([this](const std::string&, const std::string& why) {
            std::lock_guard lock(mutex);
            seen.push_back(why);
        });
    }
    std::vector<std::string> get() {
        std::lock_guard lock(mutex);
        return seen;
    }
    // Streams on until a reason comes; false if none does.
    bool streamUntilOne(ManualCamera& m) {
        return waitFor([&] {
            m.stream(50000);
            return !get().empty();
        });
    }
};

// Replaces m's camera by one at 600,000 events/s whose trigger cache holds
// at most cap_bytes in memory, so most of it goes to files.
void useSmallCacheCamera(ManualCamera& m, size_t cap_bytes) {
    SimulatedCameraOptions o;
    o.clock = m.clock;
    o.eventsPerSecond = 600000;
    o.triggerPeriod_us = 100000;
    o.cacheMemoryCap_bytes = cap_bytes;
    m.camera = std::make_shared<SimulatedDvsCamera>(o);
    m.camera->setBatchInterval(ManualCamera::kBatch_us);
}

}  // namespace

TEST(CameraRecordingTest, FileHoldsTheHeaderAndExactlyTheStreamedEventsAndEdges) {
    ScratchDir dir;
    ManualCamera m(800000, 3, "KVREC0001");
    std::mutex mutex;
    std::vector<EventTriggerIn> edges;
    m.camera->addTriggerInCallback([&](const EventTriggerIn& t) {
        std::lock_guard lock(mutex);
        edges.push_back(t);
    });
    ASSERT_TRUE(m.tool(ToolType::TriggerIn)->setParameter("channel_0", true));
    ASSERT_TRUE(m.tool(ToolType::TriggerIn)->setParameter("channel_1", true));
    ASSERT_EQ(m.camera->start(), 0);
    m.stream(100000);  // before the recording: not in the file

    const std::string path = dir.file("rec.raw");
    ASSERT_TRUE(m.camera->startRecording(path));
    EXPECT_TRUE(m.camera->recordingStatus().running);
    {
        std::lock_guard lock(mutex);
        edges.clear();
    }
    const auto streamed = m.stream(1200000);  // crosses a second boundary
    m.camera->stop();
    ASSERT_TRUE(m.camera->stopRecording());
    const RecordingStatus status = m.camera->recordingStatus();
    EXPECT_FALSE(status.running);
    EXPECT_TRUE(status.error.empty()) << status.error;
    EXPECT_EQ(status.eventsWritten, streamed.size());

    const auto lines = headerLines(path);
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(lines[0], "% camera_integrator_name Korvane");
    EXPECT_EQ(lines[2], "% evt 3.0");
    EXPECT_EQ(lines[11], "% serial_number KVREC0001");
    ASSERT_FALSE(streamed.empty());
    uint64_t firstRecord = streamed.front().timestamp;  // an event or an edge
    {
        std::lock_guard lock(mutex);
        if (!edges.empty()) firstRecord = std::min(firstRecord, edges.front().timestamp);
    }
    EXPECT_EQ(lines[13], "% dvs_start_timestamp " + std::to_string(firstRecord));
    EXPECT_EQ(lines[14], "% end");

    const FileContent f = readRecording(path);
    EXPECT_EQ(f.header.format, RawFormat::Evt3);
    EXPECT_EQ(f.corrupt, 0u);
    ASSERT_EQ(f.data.events.size(), streamed.size());
    EXPECT_TRUE(f.data.events == streamed);
    std::lock_guard lock(mutex);
    ASSERT_EQ(f.data.triggers.size(), edges.size());
    EXPECT_TRUE(f.data.triggers == edges);
    EXPECT_GE(edges.size(), 40u);
}

// One recording at a time, into a regular file that can be made. A FIFO at
// the path would block the caller forever when nobody reads it, and nothing
// could play it back when somebody does: refused at once.
TEST(CameraRecordingTest, StartReportsWhetherItStartedAndWhy) {
    ScratchDir dir;
    ManualCamera m;
    EXPECT_FALSE(m.camera->startRecording(dir.file("missing/folder/rec.raw")));
    EXPECT_FALSE(m.camera->recordingStatus().running);
    EXPECT_FALSE(m.camera->recordingStatus().error.empty());
    EXPECT_FALSE(m.camera->stopRecording()) << "nothing was recording";

    ASSERT_TRUE(m.camera->startRecording(dir.file("a.raw")));
    EXPECT_FALSE(m.camera->startRecording(dir.file("b.raw"))) << "one recording at a time";
    EXPECT_TRUE(m.camera->recordingStatus().running) << "the first goes on";
    EXPECT_EQ(m.camera->recordingStatus().path, dir.file("a.raw"));
    EXPECT_FALSE(fs::exists(dir.file("b.raw")));

    // Never into a file another recorder holds, nor do the file side's
    // writers (cut, convert, export) replace it.
    ManualCamera other(1000000, 2, "KVTEST0002");
    EXPECT_FALSE(other.camera->startRecording(dir.file("a.raw")));
    EXPECT_FALSE(other.camera->recordingStatus().running);
    EXPECT_NE(
        other.camera->recordingStatus().error.find("output is being written by another recording"),
        std::string::npos)
        << other.camera->recordingStatus().error;
    SafeOutput replacement;
    std::string why;
    EXPECT_FALSE(replacement.open(dir.file("a.raw"), {}, &why));
    EXPECT_EQ(why, "output is being written by another recording");
    ASSERT_EQ(m.camera->start(), 0);
    m.stream(200000);
    EXPECT_TRUE(m.camera->stopRecording());
    EXPECT_EQ(readRecording(dir.file("a.raw")).corrupt, 0u);
    // Once the first recorder let go, the name can be recorded again.
    EXPECT_TRUE(other.camera->startRecording(dir.file("a.raw")));
    EXPECT_TRUE(other.camera->stopRecording());
}

TEST(CameraRecordingTest, FifoLinkAndDeviceTargetsAreRefused) {
    VELQORA_SKIP_ON_WINDOWS("no FIFOs or /dev/null, and links need privileges");
#if !defined(_WIN32)
    ScratchDir dir;
    ManualCamera m;
    const std::string fifo = dir.file("f.raw");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // With a reader the open does not block; still no recording.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_FALSE(m.camera->startRecording(fifo)) << "a reader";
    EXPECT_FALSE(m.camera->recordingStatus().running);
    ::close(reader);
    EXPECT_FALSE(m.camera->startRecording(fifo)) << "no reader";
    EXPECT_NE(m.camera->recordingStatus().error.find("not a regular file"), std::string::npos)
        << m.camera->recordingStatus().error;

    // Never through a link, never into a device; the refusal says why and
    // nothing is written.
    writeBytes(dir.file("victim.txt"), {'v'});
    fs::create_symlink(dir.file("victim.txt"), dir.file("link.raw"));
    fs::create_symlink("/dev/null", dir.file("null.raw"));
    const std::pair<std::string, std::string> refused[] = {
        {dir.file("link.raw"), "output is a symbolic link"},
        {dir.file("null.raw"), "output is a symbolic link"},
        {"/dev/null", "output exists and is not a regular file"},
    };
    for (const auto& [target, why] : refused) {
        EXPECT_FALSE(m.camera->startRecording(target)) << target;
        EXPECT_FALSE(m.camera->recordingStatus().running) << target;
        EXPECT_NE(m.camera->recordingStatus().error.find(why), std::string::npos)
            << target << ": " << m.camera->recordingStatus().error;
    }
    EXPECT_EQ(readBytes(dir.file("victim.txt")), std::vector<uint8_t>{'v'});
    EXPECT_TRUE(fs::is_symlink(dir.file("link.raw")));
#endif
}

TEST(CameraRecordingTest, DiskFullEndsTheRecordingAndTellsTheCaller) {
    VELQORA_SKIP_ON_WINDOWS("no file size limit (rlimit) to stand for a full disk");
#if !defined(_WIN32)
    ScratchDir dir;
    ManualCamera m;
    Reasons reasons(*m.camera);
    ASSERT_EQ(m.camera->start(), 0);
    {
        FileSizeLimit limit(300000);  // writes past it fail as on a full disk
        ASSERT_TRUE(limit.applied());
        ASSERT_TRUE(m.camera->startRecording(dir.file("full.raw")));
        ASSERT_TRUE(reasons.streamUntilOne(m));
    }
    EXPECT_EQ(m.camera->recordingStatus().error, "disk full");
    EXPECT_FALSE(m.camera->recordingStatus().running);
    EXPECT_FALSE(m.camera->stopRecording());
    EXPECT_EQ(reasons.get(), std::vector<std::string>{"disk full"});
    // The file holds whole words only, and as many events as the status says.
    const FileContent f = readRecording(dir.file("full.raw"));
    EXPECT_EQ((fs::file_size(dir.file("full.raw")) - f.header.dataOffsetBytes) % 2, 0u);
    EXPECT_EQ(f.corrupt, 0u);
    EXPECT_EQ(f.data.events.size(), m.camera->recordingStatus().eventsWritten);
    EXPECT_GT(f.data.events.size(), 0u);
#endif
}

TEST(CameraRecordingTest, RemovedFolderEndsTheRecordingAndTellsTheCaller) {
    VELQORA_SKIP_ON_WINDOWS("a folder that holds an open file cannot be removed");
    ScratchDir dir;
    fs::create_directories(dir.path() / "out");
    ManualCamera m;
    Reasons reasons(*m.camera);
    ASSERT_EQ(m.camera->start(), 0);
    ASSERT_TRUE(m.camera->startRecording((dir.path() / "out" / "rec.raw").string()));
    m.stream(100000);
    fs::remove_all(dir.path() / "out");
    // The writer notices within its sync period while data flows.
    ASSERT_TRUE(reasons.streamUntilOne(m));
    EXPECT_FALSE(m.camera->recordingStatus().running);
    EXPECT_NE(m.camera->recordingStatus().error.find("removed"), std::string::npos);
    EXPECT_FALSE(m.camera->stopRecording()) << "the recording did not reach its file";
    EXPECT_EQ(reasons.get().size(), 1u);
}

TEST(CameraRecordingTest, UnplugClosesARunningRecordingReadably) {
    ScratchDir dir;
    ManualCamera m;
    Reasons reasons(*m.camera);
    ASSERT_EQ(m.camera->start(), 0);
    ASSERT_TRUE(m.camera->startRecording(dir.file("rec.raw")));
    const auto streamed = m.stream(300000);
    m.camera->unplug();
    EXPECT_EQ(reasons.get(), std::vector<std::string>{"camera unplugged"});
    const RecordingStatus status = m.camera->recordingStatus();
    EXPECT_FALSE(status.running);
    EXPECT_EQ(status.error, "camera unplugged");
    const FileContent f = readRecording(dir.file("rec.raw"));
    EXPECT_EQ(f.corrupt, 0u);
    ASSERT_GE(f.data.events.size(), streamed.size());
    EXPECT_TRUE(std::equal(streamed.begin(), streamed.end(), f.data.events.begin()));
    EXPECT_FALSE(m.camera->startRecording(dir.file("again.raw")));
    EXPECT_EQ(m.camera->recordingStatus().error, "camera unplugged");
}

TEST(CameraTriggerCacheTest, RecordingBeginsWithTheCachedSecondsAndFilesGoWithTheCache) {
    ScratchDir dir;
    fs::create_directories(dir.path() / "trigger-cache");
    ManualCamera m;
    useSmallCacheCamera(m, 256 << 10);
    auto& cam = *m.camera;

    EXPECT_FALSE(cam.setTriggerCache(2, dir.file("no-such-dir")));
    const std::string cacheDir = (dir.path() / "trigger-cache").string();
    ASSERT_TRUE(cam.setTriggerCache(1, cacheDir));
    ASSERT_TRUE(m.tool(ToolType::TriggerIn)->setParameter("channel_0", true));
    ASSERT_EQ(cam.start(), 0);
    const auto before = m.stream(2500000);
    auto cache = cam.triggerCache();
    ASSERT_NE(cache, nullptr);
    ASSERT_TRUE(waitFor([&] { return cache->fileCount() > 0; }));
    EXPECT_LE(cache->memoryBytes(), size_t(256 << 10));
    cache.reset();

    ASSERT_TRUE(cam.startRecording(dir.file("rec.raw")));
    // The stream goes on at once: a writer thread that starts late (by less
    // than the cache's length) must still find the whole second before the start.
    const auto after = m.stream(500000);
    ASSERT_TRUE(cam.stopRecording()) << cam.recordingStatus().error;
    const uint64_t written = cam.recordingStatus().eventsWritten;

    const FileContent f = readRecording(dir.file("rec.raw"));
    EXPECT_EQ(f.corrupt, 0u);
    ASSERT_FALSE(f.data.events.empty());
    const uint64_t first = f.data.events.front().timestamp;
    const auto lastSecond = filterWindow(before, 1500000, UINT64_MAX);
    ASSERT_FALSE(lastSecond.empty());
    EXPECT_LE(first, lastSecond.front().timestamp) << "the whole cached second before the start";
    EXPECT_GE(first, 1350000u) << "the cache keeps about what was asked";
    // From its first event on, the file is the stream without a gap.
    std::vector<Event2D> expected = filterWindow(before, first, UINT64_MAX);
    expected.insert(expected.end(), after.begin(), after.end());
    ASSERT_EQ(f.data.events.size(), expected.size());
    EXPECT_TRUE(f.data.events == expected);
    EXPECT_EQ(written, f.data.events.size()) << "the status counts the cached events too";
    EXPECT_GE(f.data.triggers.size(), 19u) << "the edges of the cached second too";

    auto files = [&] {
        std::string names;
        for (auto& entry : fs::directory_iterator(cacheDir))
            names += entry.path().filename().string() + " ";
        return names;
    };
    EXPECT_FALSE(files().empty());
    ASSERT_TRUE(cam.setTriggerCache(0, "."));
    EXPECT_EQ(files(), "") << "switching the cache off removes its files";

    ASSERT_TRUE(cam.setTriggerCache(1, cacheDir));
    m.stream(1500000);
    // The cache spills on its own thread: wait for it, not for a time.
    EXPECT_TRUE(waitFor([&] { return !files().empty(); }));
    m.camera.reset();  // closing the camera removes them too
    EXPECT_EQ(files(), "");
}

// A chunk of the stream ending at t1_us, one event every 500 us.
static ChunkPtr syntheticChunk(uint64_t seq, uint64_t t1_us, uint64_t chunk_us) {
    auto chunk = std::make_shared<StreamChunk>();
    chunk->seq = seq;
    chunk->t0_us = t1_us - chunk_us;
    chunk->t1_us = t1_us;
    for (uint64_t t = chunk->t0_us; t < t1_us; t += 500)
        chunk->events.emplace_back(uint16_t(t / 500 % 1280), uint16_t(t / 1000 % 720), 1, t);
    return chunk;
}

// A recorder whose thread starts late: meanwhile the cache trimmed what was
// the start's cached second, yet the file begins with all of it, because the
// recording held those segments from its start. The cache's own thread may
// also be behind the camera at the start, so the segments held then end
// early; what it takes in later is held too. The late start is played out
// in order, with the camera's part taken by the test.
TEST(CameraTriggerCacheTest, RecorderStartingLateStillBeginsWithTheWholeCachedSecond) {
    struct Case {
        uint64_t cacheBehind_us;  // stream the cache had not taken in at the start
        uint64_t lateBy_us;       // stream before the recorder's thread looks
        bool keepsUp = true;
    };
    // Keeping up: late by at most 800 ms, and 200 ms of live chunks after,
    // so the stream ends at 3.5 s, short of the 3.6 s where the hold (from
    // 1.5 s) lapses. The last two are well past it.
    for (const Case c :
         {Case{0, 400000}, Case{600000, 400000}, Case{600000, 800000}, Case{2000000, 400000},
          Case{2000000, 800000}, Case{0, 2500000, false}, Case{2000000, 2500000, false}}) {
        SCOPED_TRACE(testing::Message() << "cache behind " << c.cacheBehind_us << " us, late by "
                                        << c.lateBy_us << " us");
        ScratchDir dir;
        constexpr uint64_t kChunk_us = 50000;
        uint64_t seq = 0;
        std::vector<Event2D> streamed;
        auto chunkUntil = [&](uint64_t t1_us) {
            ChunkPtr chunk = syntheticChunk(++seq, t1_us, kChunk_us);
            streamed.insert(streamed.end(), chunk->events.begin(), chunk->events.end());
            return chunk;
        };
        auto cache = std::make_shared<TriggerCache>(1000000, dir.path().string());
        auto pushUntil = [&](uint64_t from_us, uint64_t to_us) {
            for (uint64_t t = from_us + kChunk_us; t <= to_us; t += kChunk_us)
                cache->push(chunkUntil(t));
            cache->snapshotThrough(seq);  // all taken in
        };
        const uint64_t start_us = 2500000;
        pushUntil(0, start_us - c.cacheBehind_us);
        CacheSnapshot held = cache->closedSegments(start_us - 1000000);
        pushUntil(start_us - c.cacheBehind_us, start_us);
        const uint64_t startSeq = seq;
        pushUntil(start_us, start_us + c.lateBy_us);
        ASSERT_GT(cache->oldestTime_us(), held.segments.front()->t0_us)
            << "the cache trimmed what the start held";
        if (!c.keepsUp) {
            EXPECT_GE(cache->oldestTime_us(),
                      start_us + c.lateBy_us - 1000000 - 3 * TriggerCache::kSegment_us)
                << "a lapsed hold keeps nothing";
        }

        std::string error;
        auto rec = StreamRecorder::create(dir.file("late.raw"), "KVTEST0001", start_us, cache,
                                          startSeq, std::move(held), nullptr, &error);
        ASSERT_NE(rec, nullptr) << error;
        const uint64_t live_us = start_us + c.lateBy_us;
        for (uint64_t t = live_us + kChunk_us; t <= live_us + 200000; t += kChunk_us) {
            ChunkPtr chunk = chunkUntil(t);
            cache->push(chunk);
            const bool taken = rec->push(chunk);  // false once the recording failed
            if (c.keepsUp) {
                ASSERT_TRUE(taken);
            }
        }
        if (!c.keepsUp) {
            EXPECT_FALSE(rec->stop());
            EXPECT_EQ(rec->status().error, "the disk cannot keep up with the stream");
            continue;
        }
        ASSERT_TRUE(rec->stop()) << rec->status().error;

        const FileContent f = readRecording(dir.file("late.raw"));
        EXPECT_EQ(f.corrupt, 0u);
        ASSERT_FALSE(f.data.events.empty());
        EXPECT_LE(f.data.events.front().timestamp, start_us - 1000000);
        const std::vector<Event2D> expected =
            filterWindow(streamed, f.data.events.front().timestamp, UINT64_MAX);
        EXPECT_TRUE(f.data.events == expected) << "the file is the stream without a gap";

        // Once the recording caught up, the cache keeps its own length again.
        pushUntil(live_us + 200000, live_us + 300000);
        EXPECT_GE(cache->oldestTime_us(),
                  live_us + 300000 - 1000000 - 3 * TriggerCache::kSegment_us);
    }
}

// Stopped before it has caught up with the cache: the file ends where the
// camera stopped handing it chunks, not with what the cache gathered while
// the recorder was still copying (a timed recording held seconds more than
// asked on a loaded machine). Only the cache's segment holding the last
// chunk may reach past it.
TEST(CameraTriggerCacheTest, RecorderStoppedWhileCatchingUpEndsAtTheStop) {
    ScratchDir dir;
    constexpr uint64_t kChunk_us = 50000;
    uint64_t seq = 0;
    auto cache = std::make_shared<TriggerCache>(1000000, dir.path().string());
    auto pushUntil = [&](uint64_t to_us) {
        for (uint64_t t = seq * kChunk_us + kChunk_us; t <= to_us; t += kChunk_us)
            cache->push(syntheticChunk(++seq, t, kChunk_us));
        cache->snapshotThrough(seq);  // all taken in
    };
    const uint64_t start_us = 1500000, stop_us = 2000000;
    pushUntil(start_us);
    const uint64_t startSeq = seq;
    CacheSnapshot held = cache->closedSegments(start_us - 1000000);
    pushUntil(stop_us);
    const uint64_t stopSeq = seq;
    std::string error;
    auto rec = StreamRecorder::create(dir.file("stopped.raw"), "KVTEST0001", start_us, cache,
                                      startSeq, std::move(held), nullptr, &error);
    ASSERT_NE(rec, nullptr) << error;
    // Copied up to the stop, it waits for its first live chunk; meanwhile
    // the cache takes in more than the stop allows.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (rec->status().eventsWritten < (stop_us - (start_us - 1000000)) / 500 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    pushUntil(stop_us + 400000);  // short of where the recording's hold on the cache lapses
    ASSERT_TRUE(rec->stop("", stopSeq)) << rec->status().error;

    const FileContent f = readRecording(dir.file("stopped.raw"));
    EXPECT_EQ(f.corrupt, 0u);
    ASSERT_FALSE(f.data.events.empty());
    EXPECT_LE(f.data.events.front().timestamp, start_us - 1000000);
    EXPECT_GE(f.data.events.back().timestamp, stop_us - 500);
    EXPECT_LT(f.data.events.back().timestamp, stop_us + TriggerCache::kSegment_us);
}

// The camera numbers a chunk under its lock and hands it over after: a
// stop in between finds the chunk counted, yet the recorder's queue already
// closed. With the cache switched off before, no cache will ever take that
// chunk in, and stopping must still return.
TEST(CameraTriggerCacheTest, StopAfterTheCacheWasSwitchedOffNeverWaitsForIt) {
    ScratchDir dir;
    constexpr uint64_t kChunk_us = 50000;
    uint64_t seq = 0;
    auto cache = std::make_shared<TriggerCache>(1000000, dir.path().string());
    auto chunkUntil = [&](uint64_t t) { return syntheticChunk(++seq, t, kChunk_us); };
    for (uint64_t t = kChunk_us; t <= 1500000; t += kChunk_us) cache->push(chunkUntil(t));
    cache->snapshotThrough(seq);
    const uint64_t startSeq = seq;
    std::string error;
    auto rec = StreamRecorder::create(dir.file("detached.raw"), "KVTEST0001", 1500000, cache,
                                      startSeq, cache->closedSegments(500000), nullptr, &error);
    ASSERT_NE(rec, nullptr) << error;
    cache.reset();  // the camera let go of it; only the recorder holds it now
    ASSERT_TRUE(waitFor([&] { return rec->status().eventsWritten >= 1000000 / 500; }));
    rec->cacheDetached(startSeq);
    ChunkPtr inFlight = chunkUntil(1500000 + kChunk_us);  // numbered, not yet pushed
    bool stopped = false;
    mustReturnWithin(std::chrono::seconds(10), "stop() after the cache was switched off",
                     [&] { stopped = rec->stop("", inFlight->seq); });
    EXPECT_TRUE(stopped) << rec->status().error;
    EXPECT_FALSE(rec->push(inFlight));
}

// The cache switched off or replaced while a recording may still copy from
// it: the camera's chunks from then on go to the recording itself, so the
// file is still the stream without a gap, and stopping never waits on a
// cache that no longer receives anything.
TEST(CameraTriggerCacheTest, SwitchingTheCacheDuringARecordingLosesNothing) {
    for (const bool replace : {false, true}) {
        for (const uint64_t afterSwitch_us :
             {uint64_t(50000), uint64_t(300000), uint64_t(1000000)}) {
            SCOPED_TRACE(testing::Message() << (replace ? "replaced" : "switched off") << ", "
                                            << afterSwitch_us << " us after");
            ScratchDir dir;
            fs::create_directories(dir.path() / "c1");
            fs::create_directories(dir.path() / "c2");
            ManualCamera m;
            auto& cam = *m.camera;
            ASSERT_TRUE(cam.setTriggerCache(1, (dir.path() / "c1").string()));
            ASSERT_EQ(cam.start(), 0);
            const auto before = m.stream(1500000);
            ASSERT_TRUE(cam.startRecording(dir.file("rec.raw")));
            ASSERT_TRUE(replace ? cam.setTriggerCache(1, (dir.path() / "c2").string())
                                : cam.setTriggerCache(0, "."));
            const auto after = m.stream(afterSwitch_us);
            bool stopped = false;
            mustReturnWithin(std::chrono::seconds(30), "stopRecording()",
                             [&] { stopped = cam.stopRecording(); });
            ASSERT_TRUE(stopped) << cam.recordingStatus().error;

            const FileContent f = readRecording(dir.file("rec.raw"));
            EXPECT_EQ(f.corrupt, 0u);
            ASSERT_FALSE(f.data.events.empty());
            const uint64_t first = f.data.events.front().timestamp;
            EXPECT_LE(first, filterWindow(before, 500000, UINT64_MAX).front().timestamp)
                << "the whole cached second";
            std::vector<Event2D> expected = filterWindow(before, first, UINT64_MAX);
            expected.insert(expected.end(), after.begin(), after.end());
            ASSERT_EQ(f.data.events.size(), expected.size());
            EXPECT_TRUE(f.data.events == expected);
        }
    }
}

TEST(CameraRecordingTest, RecorderKilledWithSigkillLeavesAReadableFile) {
    VELQORA_SKIP_ON_WINDOWS("fork and SIGKILL");
#if !defined(_WIN32)
    ScratchDir dir;
    const std::string path = dir.file("killed.raw");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl(KVCAM_PATH, KVCAM_PATH, "record", "KVSIM-EVK4-0001", path.c_str(), "--seconds",
                "600", "--rate", "500000", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Killed once data has reached the file, at whatever point it is in.
    const bool grew = waitFor([&] {
        std::error_code ec;
        return fs::file_size(path, ec) > 600 * 1024 && !ec;
    });
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(grew) << "the recorder wrote nothing";
    ASSERT_TRUE(WIFSIGNALED(status));

    const FileContent f = readRecording(path);
    EXPECT_EQ(f.header.serialNumber, "KVSIM-EVK4-0001");
    EXPECT_EQ(f.corrupt, 0u);
    ASSERT_GT(f.data.events.size(), 100000u);
    for (size_t i = 1; i < f.data.events.size(); ++i)
        ASSERT_LE(f.data.events[i - 1].timestamp, f.data.events[i].timestamp) << i;
#endif
}

// The cache's folder may be shared (it defaults to the recording's): a name
// planted where a segment goes is never written through, and segments a
// killed camera process left are removed by the next cache there, but never
// those of a process that may still use them.
TEST(CameraTriggerCacheTest, CacheFilesAreNewFilesAndOrphansAreRemoved) {
    VELQORA_SKIP_ON_WINDOWS("links need privileges; fork and a process 1 that always exists");
#if !defined(_WIN32)
    ScratchDir dir;
    const std::string cacheDir = dir.path().string();
    const std::string victim = dir.file("victim.txt");
    { std::ofstream(victim) << "precious"; }

    ManualCamera m;
    useSmallCacheCamera(m, 64 << 10);
    ASSERT_TRUE(m.camera->setTriggerCache(1, cacheDir));
    auto cache = m.camera->triggerCache();
    ASSERT_NE(cache, nullptr);
    const std::string stem = cacheDir + "/" + TriggerCache::kFilePrefix +
                             std::to_string(::getpid()) + "-" +
                             std::to_string(reinterpret_cast<uintptr_t>(cache.get())) + "-";
    for (int i = 0; i < 3; ++i)
        fs::create_symlink(victim, stem + std::to_string(i));
    ASSERT_EQ(m.camera->start(), 0);
    m.stream(1500000);
    ASSERT_TRUE(waitFor([&] { return cache->fileCount() > 0; }));
    EXPECT_EQ(readBytes(victim).size(), 8u) << "a planted link was written through";
    cache.reset();
    m.camera.reset();

    // A process that is gone for sure: our own child, reaped.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    auto plant = [&](const std::string& name, bool aged) {
        const std::string path = cacheDir + "/" + name;
        std::ofstream(path) << "x";
        if (aged) fs::last_write_time(path, old);
        return path;
    };
    const std::string P = TriggerCache::kFilePrefix;
    const std::string orphan = plant(P + std::to_string(child) + "-123-0", true);
    const std::string fresh = plant(P + std::to_string(child) + "-123-1", false);
    const std::string living = plant(P + "1-123-0", true);  // pid 1 always exists
    const std::string odd = plant(P + "x-123-0", true);
    TriggerCache next(1000000, cacheDir);
    EXPECT_FALSE(fs::exists(orphan));
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_TRUE(fs::exists(living));
    EXPECT_TRUE(fs::exists(odd));
#endif
}

TEST(CameraRecordingTest, ARecordingOfAReplayHoldsTheSourcesEventsOfItsSpan) {
    ScratchDir dir;
    SyntheticOptions o;
    o.duration_us = 150000;
    o.startTime_us = 3000;
    o.eventsPerSecond = 600000;
    o.triggerPeriod_us = 10000;
    o.width = 640;
    o.height = 480;
    const std::string source = generate(dir, "src.raw", o);
    ManualCamera m(ManualCamera::ReplayOf{source});
    ASSERT_TRUE(m.camera);
    ASSERT_TRUE(m.tool(ToolType::TriggerIn)->setParameter("channel_0", true));
    ASSERT_EQ(m.camera->start(), 0);
    m.stream(100000);

    const std::string path = dir.file("rec.raw");
    ASSERT_TRUE(m.camera->startRecording(path));
    const auto streamed = m.stream(300000);  // crosses two loops
    ASSERT_TRUE(m.camera->stopRecording());

    const FileContent src = readRecording(source);
    const Expected want = replayed(src.data, 100000, 400000, 1);
    const FileContent f = readRecording(path);
    EXPECT_EQ(f.corrupt, 0u);
    ASSERT_EQ(f.data.events.size(), want.events.size());
    EXPECT_TRUE(f.data.events == want.events);
    EXPECT_TRUE(streamed == want.events);
    ASSERT_FALSE(want.triggers.empty());
    EXPECT_TRUE(f.data.triggers == want.triggers);
    // The source's geometry and sensor, the replay camera's serial.
    EXPECT_EQ(f.header.width, 640u);
    EXPECT_EQ(f.header.height, 480u);
    EXPECT_TRUE(f.header.geometryKnown);
    EXPECT_EQ(f.header.sensorName, src.header.sensorName);
    EXPECT_EQ(f.header.serialNumber, m.camera->getDescription().serial);
}
