#include "korvane/video/VideoExport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "korvane/camera/FusionCamera.h"
#include "korvane/file/DvsFileReader.h"
#include "korvane/file/SafeOutput.h"
#include "korvane/video/VideoEncoder.h"

namespace korvane {

namespace fs = std::filesystem;

namespace {

bool refuse(const VideoExportOptions& o, const std::string& why) {
    if (o.error) *o.error = why;
    return false;
}

// Why the target cannot be written, or empty.
std::string checkTarget(const DvsFileReader& reader, const fs::path& target) {
    std::error_code ec;
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (target.filename().empty()) return "no file name given";
    if (!fs::is_directory(dir, ec)) return "the folder " + dir.string() + " does not exist";
    const fs::file_status st = fs::status(target, ec);
    if (fs::exists(st)) {
        if (!fs::is_regular_file(st)) return target.string() + " is not a regular file";
        if (fs::equivalent(target, reader.path(), ec)) {
            return "the target is the recording being read";
        }
    }
    return {};
}

}  // namespace

uint64_t videoFrameCount(uint64_t start_us, uint64_t end_us, uint64_t frameInterval_us) {
    if (end_us < start_us || frameInterval_us == 0) return 0;
    return (end_us - start_us) / frameInterval_us + 1;
}

bool exportVideo(DvsFileReader& reader, uint64_t start_us, uint64_t end_us, const std::string& path,
                 const VideoExportOptions& o) {
    if (start_us > end_us) return refuse(o, "the range starts after it ends");
    if (o.frameInterval_us == 0 || o.accumulation_us == 0) {
        return refuse(o, "the frame interval and the accumulation time must be positive");
    }
    if (o.fps <= 0) return refuse(o, "the frame rate must be positive");
    if (!reader.openForReading()) return refuse(o, "the recording cannot be read");
    uint64_t first = 0, last = 0;
    if (!reader.getStartTime(first) || !reader.getEndTime(last)) {
        return refuse(o, "the recording has no events");
    }
    if (start_us < first || end_us > last) {
        return refuse(o, "the range lies outside the recording (" + std::to_string(first) + " to " +
                             std::to_string(last) + " us)");
    }
    const fs::path target(path);
    if (std::string why = checkTarget(reader, target); !why.empty()) return refuse(o, why);

    // The same all-or-nothing output as every other writer: exclusive
    // temporary beside the target, never the recording itself, removed on
    // failure, cancel or SIGTERM/SIGINT.
    std::string error;
    std::vector<FileIdentity> inputs;
    if (FileIdentity id; fileIdentity(reader.path(), id)) inputs.push_back(id);
    SafeOutput out;
    if (!out.open(path, inputs, &error)) return refuse(o, error);

    DvsFileInfo info;
    reader.getFileInfo(info);
    VideoEncoderOptions eo;
    eo.width = o.width;
    eo.height = o.height;
    eo.fps = o.fps;
    eo.preset = o.preset;
    eo.crf = o.crf;
    eo.threads = o.threads;
    // Painted straight into the encoder's YUV: no colour conversion per frame.
    eo.pixels = VideoPixels::I420;
    const std::string range = std::to_string(start_us) + "-" + std::to_string(end_us);
    eo.metadata = {
        {"title", info.serialNumber + " " + range + " us"},
        {"comment", "serial=" + info.serialNumber + " start_us=" + std::to_string(start_us) +
                        " end_us=" + std::to_string(end_us)},
    };
    VideoEncoder encoder;
    if (!encoder.open(out.temporaryPath(), eo)) return refuse(o, encoder.error());

    // Shown the way playback shows it.
    const uint32_t mirror = storedMirrorWidth(reader.header());
    std::vector<uint8_t> cells(size_t(o.width) * size_t(o.height));
    const size_t yStride = size_t(o.width);
    std::vector<uint8_t> i420(yStride * size_t(o.height) * 3 / 2);
    const uint64_t frames = videoFrameCount(start_us, end_us, o.frameInterval_us);
    uint64_t pos = start_us;
    for (uint64_t k = 0; k < frames; ++k) {
        if (o.cancel && o.cancel->load()) return refuse(o, "cancelled");
        // As in playback: the accumulation window from the frame's start,
        // shortened where the range ends first. No window reaches past it.
        const uint64_t left = end_us - pos + 1;
        const uint64_t duration = std::min(o.accumulation_us, left);
        std::fill(cells.begin(), cells.end(), uint8_t(0));
        // Counted as decoded, with no window buffer in between.
        size_t seen = 0;
        reader.visitEventsInWindow(pos, duration, [&](const Event2D* ev, size_t n) {
            countEventsPacked(ev, ev + n, o.width, o.height, cells.data(), mirror);
            seen += n;
        });
        if (seen >= reader.windowEventLimit()) {
            // More than one read holds: the window is drawn again in pieces.
            std::fill(cells.begin(), cells.end(), uint8_t(0));
            reader.forEachChunk(
                pos, pos + duration,
                [&](const Event2D* ev, size_t n, const std::vector<TriggerRecord>&) {
                    countEventsPacked(ev, ev + n, o.width, o.height, cells.data(), mirror);
                });
        }
        paintPackedI420(cells.data(), o.width, o.height, o.theme, i420.data(), yStride);
        if (!encoder.writeFrame(i420.data(), yStride)) return refuse(o, encoder.error());
        if (o.progress) o.progress(double(k + 1) / double(frames));
        pos += o.frameInterval_us;
    }
    if (o.cancel && o.cancel->load()) return refuse(o, "cancelled");
    if (!encoder.finish()) return refuse(o, encoder.error());
    if (!out.commit(&error)) return refuse(o, error);
    return true;
}

bool DvsFileReader::exportVideoRange(uint64_t start_us, uint64_t end_us, const std::string& path) {
    return exportVideo(*this, start_us, end_us, path, VideoExportOptions{});
}

bool DvsFileReader::exportVideoRange(uint64_t start_us, uint64_t end_us, const std::string& path,
                                     const VideoExportOptions& options) {
    return exportVideo(*this, start_us, end_us, path, options);
}

}  // namespace korvane
