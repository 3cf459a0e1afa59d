#pragma once

// The one wrapper around FFmpeg's libraries for writing video: H.264
// (libx264) in an MP4 container, fed with RGB888, BGR888 or grey images that
// it converts to YUV 4:2:0, or with YUV 4:2:0 itself. Frames are either at a constant rate (frame n
// at n / fps) or carry their own times in microseconds, which the MP4 keeps exactly. Unless told
// otherwise the MP4 index (moov) is moved to the front when the file is finished, so players and
// browsers can start before reading it all.
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

// I420: planar YUV 4:2:0 in the encoder's own colour space (BT.601,
// limited range), taken as it is: the Y plane (height rows bytesPerLine
// apart), then U and V (height / 2 rows of width / 2, bytesPerLine / 2
// apart). For callers that can paint it directly, skipping the conversion.
enum class VideoPixels { Rgb24, Bgr24, Gray8, I420 };

struct VideoEncoderOptions {
    int width = 1280;  // even
    int height = 720;  // even
    int fps = 30;      // with timed frames: the nominal rate (each frame's duration)
    VideoPixels pixels = VideoPixels::Rgb24;
    // True: frames go in through writeFrameAt with their own times.
    bool timedFrames = false;
    // Frames between key frames; 0: two seconds' worth.
    int keyFrameInterval = 0;
    // Rewrite the file at the end so the index comes first (costs a copy of
    // the whole file when finishing).
    bool indexFirst = true;
    // Written as a series of self-contained pieces (fragmented MP4), one
    // per key frame, each on disk as soon as it is complete: a file whose
    // writer died plays up to its last whole piece. Excludes indexFirst.
    bool fragmented = false;
    // x264 speed/size trade-off and constant quality (lower: better, larger).
    std::string preset = "ultrafast";
    int crf = 23;
    // 0: let x264 choose.
    int threads = 0;
    // At most this long a piece of a fragmented file (microseconds; 0: one
    // piece per key frame), its frames' durations included; a piece is
    // written out as soon as one more frame would not fit. Bounds what a
    // writer's death can lose.
    int64_t fragmentDuration_us = 0;
    // x264 without frame delay: each frame's packet comes out at once.
    bool lowLatency = false;
    // >= 0: write into this descriptor (open for writing; the caller keeps
    // and closes it) instead of creating the path, which then only names
    // the file. For outputs opened with the file side's safety rules.
    int fd = -1;
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

    // One frame: height rows of width pixels in the options' layout (3
    // bytes each, or 1 for grey), bytesPerLine apart; I420 as described at
    // VideoPixels. Constant-rate files only.
    bool writeFrame(const uint8_t* rgb, size_t bytesPerLine);
    // One frame shown from time_us on (microseconds from the file's start,
    // rising from frame to frame). Timed files only.
    bool writeFrameAt(const uint8_t* pixels, size_t bytesPerLine, int64_t time_us);

    // Drains the encoder, writes the index and closes the file.
    bool finish();

    // Closes the file without finishing it.
    void abort();

    // Frames given to the encoder.
    int64_t framesWritten() const { return frames_; }
    // Frames whose bytes are all in the file: of a fragmented file those of
    // its complete pieces, of another file all once finish() succeeded.
    int64_t framesInFile() const { return framesInFile_; }
    // Size of the file up to the end of its last complete piece (of the
    // header before the first): a caller cuts a file whose writing failed
    // back to it, so it ends with whole pieces and holds framesInFile().
    int64_t completeBytes() const { return completeBytes_; }
    const std::string& error() const { return error_; }

private:
    struct State;

    bool fail(const std::string& what, int averror);
    bool drain(bool flush);
    // Writes out the open piece of a fragmented file.
    bool cutPiece();
    bool encode(const uint8_t* pixels, size_t bytesPerLine, int64_t pts);
    // Hands the filled frame to the codec.
    bool submit(int64_t pts);

    std::unique_ptr<State> s_;
    int64_t frames_ = 0;
    int64_t framesInFile_ = 0;
    int64_t completeBytes_ = 0;
    std::string error_;
};

}  // namespace korvane
