#pragma once

// The one wrapper around FFmpeg's libraries for writing video: H.264
// (libx264) in an MP4 container, fed with RGB888 images that it converts to
// YUV 4:2:0. The MP4 index (moov) is moved to the front when the file is
// finished, so players and browsers can start before reading it all.
//
// Ownership: one encoder writes one file; it owns every FFmpeg object and
// frees them in finish(), abort() or its destructor.
// Threads: one thread at a time.
// Failures: every call returns false on the first error and error() says
// why; after a failure only abort() (or destruction) remains. The encoder
// never removes files: the caller owns the path and cleans up.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace korvane {

struct VideoEncoderOptions {
    int width = 1280;  // even
    int height = 720;  // even
    int fps = 30;
    // x264 speed/size trade-off and constant quality (lower: better, larger).
    std::string preset = "ultrafast";
    int crf = 23;
    // 0: let x264 choose.
    int threads = 0;
    // Container tags, e.g. {"title", ...}, {"comment", ...}.
    std::vector<std::pair<std::string, std::string>> metadata;
};

class VideoEncoder {
public:
    VideoEncoder();
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Creates (truncates) path and writes the container header.
    bool open(const std::string& path, const VideoEncoderOptions& options);

    // One frame: height rows of 3 x width bytes (R, G, B), bytesPerLine apart.
    bool writeFrame(const uint8_t* rgb, size_t bytesPerLine);

    // Drains the encoder, writes the index and closes the file.
    bool finish();

    // Closes the file without finishing it.
    void abort();

    int64_t framesWritten() const { return frames_; }
    const std::string& error() const { return error_; }

private:
    struct State;

    bool fail(const std::string& what, int averror);
    bool drain(bool flush);

    std::unique_ptr<State> s_;
    int64_t frames_ = 0;
    std::string error_;
};

}  // namespace korvane
