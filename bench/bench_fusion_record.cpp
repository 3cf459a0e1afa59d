// Recording a simulated Quenta while it streams: events at the given rate
// on the wall clock, taken by a consumer as a live view would, frames
// through the H.264 frame writer. Prints key: value lines: frames expected
// for the recorded camera time against frames written and dropped, the
// writer's deepest queue, and the events written.
//   build/bin/bench_fusion_record [seconds=10] [events_per_second=20000000]
//                                 [frame_width frame_height]
// With "gap BASE" it reads the recording BASE.raw/BASE.mp4 instead (say one
// whose writer was killed) and prints how far its frames end before its
// events: the time a kill took from the frames beyond the events.
//   build/bin/bench_fusion_record gap DIR/NAME

#include <unistd.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "korvane/file/DvsFileReader.h"
#include "korvane/video/ApsFileReader.h"
#include "korvane/sim/SimulatedFusionCamera.h"
#include "korvane/video/H264FrameWriter.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

int measureGap(const std::string& base) {
    auto events = DvsFileReader::createFileReader(base + ".raw");
    DvsFileInfo info;
    uint64_t eventsEnd = 0;
    if (!events || !events->openForReading() || !events->getFileInfo(info) ||
        !events->getEndTime(eventsEnd)) {
        std::fprintf(stderr, "error: %s.raw does not open\n", base.c_str());
        return 1;
    }
    auto frames = ApsFileReader::createFileReader(base + ".mp4");
    std::vector<uint64_t> times;
    if (!frames || !frames->openForReading() || !frames->getFrameTimestamps(times) ||
        times.empty()) {
        std::fprintf(stderr, "error: %s.mp4 does not open or holds no frame\n", base.c_str());
        return 1;
    }
    const uint64_t framesEnd = info.apsStartTimestamp + times.back();
    std::printf("events_end_us: %llu\n", (unsigned long long)eventsEnd);
    std::printf("frames_end_us: %llu\n", (unsigned long long)framesEnd);
    std::printf("frames_in_file: %zu\n", times.size());
    std::printf("frames_behind_events_us: %lld\n", (long long)eventsEnd - (long long)framesEnd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "gap") return measureGap(argv[2]);
    const uint64_t seconds = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10;
    const uint64_t rate = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20000000;
    SimulatedFusionOptions o;
    o.serial = "KVBENCH-QUENTA";
    o.eventsPerSecond = rate;
    o.calibrationDirectory = "/nonexistent";  // the factory calibration
    if (argc > 4) {
        o.frameWidth = std::atoi(argv[3]);
        o.frameHeight = std::atoi(argv[4]);
    }
    H264FrameWriter* writer = nullptr;
    o.frameWriterFactory = [&writer](const std::string& path, int w, int h, int fps,
                                     std::string* error) -> std::unique_ptr<FrameFileWriter> {
        auto made = H264FrameWriter::create(path, w, h, fps, error);
        writer = made.get();
        return made;
    };
    const fs::path dir =
        fs::temp_directory_path() / ("velqora_bench_rec_" + std::to_string(getpid()));
    fs::create_directories(dir);
    SimulatedFusionCamera camera(o);
    std::atomic<uint64_t> events{0}, frames{0};
    camera.addEventsCallback([&](const Event2D* first, const Event2D* last) {
        events.fetch_add(uint64_t(last - first));
    });
    camera.addApsFrameCallback([&](ApsFrame) { frames.fetch_add(1); });

    if (!camera.startRecording(dir.string(), "rec", STREAM_BOTH) ||
        camera.start(STREAM_BOTH) != 0) {
        std::fprintf(stderr, "error: the recording does not start\n");
        return 1;
    }
    size_t maxQueued = 0;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(seconds))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    camera.stop(STREAM_BOTH);
    const uint64_t streamed_us = camera.deliveredUntil_us();
    const auto stopAt = std::chrono::steady_clock::now();
    if (writer) maxQueued = writer->maxQueued();
    const bool ok = camera.stopRecording(STREAM_BOTH);
    const double stop_s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - stopAt).count();
    const FrameRecordingStats st = camera.recordingFrameStats();
    const uint64_t apsStart = camera.recordingApsStart_us();
    const uint64_t expected =
        streamed_us >= apsStart ? (streamed_us - apsStart) / o.framePeriod_us + 1 : 0;

    uint64_t inFile = 0;
    auto reader = ApsFileReader::createFileReader((dir / "rec.mp4").string());
    if (reader && reader->openForReading()) inFile = reader->getFrameCount();
    std::printf("frame_size: %dx%d\n", o.frameWidth, o.frameHeight);
    std::printf("events_per_second_asked: %llu\n", (unsigned long long)rate);
    std::printf("camera_seconds: %.2f\n", double(streamed_us) / 1e6);
    std::printf("events_delivered: %llu\n", (unsigned long long)events.load());
    std::printf("camera_batches_dropped: %llu\n",
                (unsigned long long)camera.eventCamera().batchesDropped());
    std::printf("frames_delivered: %llu\n", (unsigned long long)frames.load());
    std::printf("frames_expected: %llu\n", (unsigned long long)expected);
    std::printf("frames_written: %llu\n", (unsigned long long)st.framesWritten);
    std::printf("frames_dropped: %llu\n", (unsigned long long)st.framesDropped);
    std::printf("frames_in_file: %llu\n", (unsigned long long)inFile);
    std::printf("max_queued_frames: %zu\n", maxQueued);
    std::printf("stop_seconds: %.2f\n", stop_s);
    std::printf("mp4_bytes: %llu\n", (unsigned long long)fs::file_size(dir / "rec.mp4"));
    std::printf("raw_bytes: %llu\n", (unsigned long long)fs::file_size(dir / "rec.raw"));
    std::printf("recording_ok: %s\n", ok ? "yes" : "no");
    if (!st.error.empty()) std::printf("frame_error: %s\n", st.error.c_str());
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
