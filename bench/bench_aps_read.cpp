// The frame reader at the Quenta's frame size: makes an H.264 frame file of
// the camera's own pictures with the frame writer, then measures
//  - open: the frame times (the file's pieces are read through once);
//  - encode: the writer's rate with every frame queued at once;
//  - decode: readNextFrame through the whole file;
//  - playback: per image, readNextFrame, the remap into the event grid, the
//    copy into the 1280 x 720 picture and the drawing of one 33 ms window of
//    events (as the fusion playback does per frame);
//  - seek: readFrameAt at scattered times (key frame, then decoding on).
// Prints key: value lines.
// With "noise", every pixel gets sensor-like noise: a far larger bitstream
// than the clean synthetic bars, closer to a real camera's pictures.
//   build/bin/bench_aps_read [frames=300] [events_per_second=20000000]
//                            [frame_width frame_height [noise]]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "korvane/video/ApsFileReader.h"
#include "Calibrator.h"
#include "korvane/video/H264FrameWriter.h"
#include "korvane/sim/SimulatedFusionCamera.h"
#include "korvane/sim/SimulatedScene.h"

using namespace korvane;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {
double since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}
}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 300;
    const uint64_t rate = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20000000;
    SimulatedFusionOptions o;
    o.calibrationDirectory = "/nonexistent";
    if (argc > 4) {
        o.frameWidth = std::atoi(argv[3]);
        o.frameHeight = std::atoi(argv[4]);
    }
    const bool noise = argc > 5 && std::string(argv[5]) == "noise";
    o.frameWriterFactory = nullptr;
    SimulatedFusionCamera camera(o);
    const fs::path path =
        fs::temp_directory_path() / ("velqora_bench_aps_" + std::to_string(getpid()) + ".mp4");
    double encode_s = 0;
    {
        std::string error;
        H264FrameWriterOptions wo;
        wo.maxQueuedFrames = size_t(frames);  // measuring the reader: keep every frame
        auto writer =
            H264FrameWriter::create(path.string(), o.frameWidth, o.frameHeight, 30, &error, wo);
        if (!writer) {
            std::fprintf(stderr, "error: %s\n", error.c_str());
            return 1;
        }
        std::vector<ApsFrame> pictures;
        for (int n = 0; n < frames; ++n) {
            const uint64_t t = uint64_t(n + 1) * o.framePeriod_us;
            ApsFrame frame = camera.renderFrame(t, uint64_t(n));
            if (noise) {
                uint32_t x = uint32_t(n) * 2654435761u + 1;
                for (uint64_t i = 0; i < frame.getDataSize(); i += 3) {
                    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
                    const int v = std::clamp(int(frame.data()[i]) + int(x % 17) - 8, 0, 255);
                    std::memset(frame.data() + i, v, 3);
                }
            }
            pictures.push_back(frame);
        }
        // The encoder's own rate: every frame queued at once, then drained.
        const auto e0 = Clock::now();
        for (int n = 0; n < frames; ++n)
            writer->write(pictures[size_t(n)], uint64_t(n) * o.framePeriod_us);
        const bool closed = writer->close();
        encode_s = since(e0);
        if (!closed) {
            std::fprintf(stderr, "error: %s\n", writer->error().c_str());
            return 1;
        }
    }
    CalibratorParameters params;
    camera.getCalibrationParameters(params);
    Calibrator calibrator;
    calibrator.loadCalibrationParam(params);
    SimulatedScene scene(rate, 5);
    std::vector<Event2D> window;
    scene.generate(0, 33333, window);

    const auto o0 = Clock::now();
    auto reader = ApsFileReader::createFileReader(path.string());
    const bool opened = reader && reader->openForReading();
    const double open_s = since(o0);
    if (!opened) {
        std::fprintf(stderr, "error: the frame file does not open\n");
        return 1;
    }
    ApsFrame f(1, 1);
    auto t0 = Clock::now();
    int decoded = 0;
    while (reader->readNextFrame(f))
        ++decoded;
    const double decode_s = since(t0);

    reader->rewind(0);
    std::vector<uint8_t> image(size_t(1280) * 720 * 3);
    uint64_t checksum = 0;
    t0 = Clock::now();
    int shown = 0;
    while (reader->readNextFrame(f)) {
        const ApsFrame m = calibrator.mapApsToDvs(f);
        std::memcpy(image.data(), m.data(), image.size());
        for (const Event2D& e : window) {
            const int x = 1279 - int(e.x);
            if (x >= 0 && e.y < 720) {
                uint8_t* p = image.data() + (size_t(e.y) * 1280 + size_t(x)) * 3;
                p[0] = e.polarity ? 255 : 0, p[1] = 0, p[2] = e.polarity ? 0 : 255;
            }
        }
        checksum += image[size_t(shown) % image.size()];
        ++shown;
    }
    const double playback_s = since(t0);

    std::vector<uint64_t> times;
    reader->getFrameTimestamps(times);
    const int seeks = 30;
    t0 = Clock::now();
    int found = 0;
    for (int i = 0; i < seeks && !times.empty(); ++i) {
        const size_t k = (size_t(i) * 7919) % times.size();
        found += reader->readFrameAt(times[k], f) ? 1 : 0;
    }
    const double seek_s = since(t0);

    std::printf("frame_size: %dx%d%s\n", o.frameWidth, o.frameHeight, noise ? " noise" : "");
    std::printf("file_bytes: %llu\n", (unsigned long long)fs::file_size(path));
    std::printf("frames: %d\n", decoded);
    std::printf("open_ms: %.1f\n", 1000.0 * open_s);
    std::printf("encode_frames_per_second: %.1f\n", frames / encode_s);
    std::printf("decode_frames_per_second: %.1f\n", decoded / decode_s);
    std::printf("events_per_image: %zu\n", window.size());
    std::printf("playback_images_per_second: %.1f\n", shown / playback_s);
    std::printf("seeks: %d found: %d\n", seeks, found);
    std::printf("seek_ms_mean: %.1f\n", 1000.0 * seek_s / seeks);
    std::printf("checksum: %llu\n", (unsigned long long)checksum);
    std::error_code ec;
    fs::remove(path, ec);
    return 0;
}
