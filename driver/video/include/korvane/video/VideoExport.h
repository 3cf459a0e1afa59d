#pragma once

// Export of a time range of a recording as an MP4 video: one frame per
// frame interval from start to end, each the playback image of the
// accumulation window starting there (shortened where the range ends
// first), painted with EventPainter and encoded by VideoEncoder. A window
// with more events than one read of the reader holds is drawn in pieces.
//
// Threads: runs on the caller's thread; progress is told on that thread;
// cancel may be set from any thread.
// Failures: false with the reason in *error; the target is then untouched
// (the video is written to a temporary file beside it and renamed only when
// complete), and no temporary file is left behind.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "korvane/video/EventPainter.h"

namespace korvane {

class DvsFileReader;

struct VideoExportOptions {
    int fps = 30;                       // frame rate of the video
    uint64_t frameInterval_us = 30303;  // recording time between frames
    uint64_t accumulation_us = 33333;   // recording time shown in one frame
    PaintTheme theme{{191, 188, 180}, {64, 61, 51}, {112, 112, 112}};  // "Gray"
    int width = 1280;
    int height = 720;
    // The fastest preset: event images are fine-grained noise that costs the
    // slower presets five to ten times the time for a modest size gain; at
    // this quality single events stay visible.
    std::string preset = "ultrafast";
    int crf = 23;
    int threads = 0;
    // Told the fraction done (0 to 1) after each frame.
    std::function<void(double fraction)> progress;
    // Set (any thread) to stop soon; the export then fails with no file.
    const std::atomic<bool>* cancel = nullptr;
    // Receives the reason of a failure.
    std::string* error = nullptr;
};

// Frames the export writes for [start, end]: one per started frame interval.
uint64_t videoFrameCount(uint64_t start_us, uint64_t end_us, uint64_t frameInterval_us);

bool exportVideo(DvsFileReader& reader, uint64_t start_us, uint64_t end_us, const std::string& path,
                 const VideoExportOptions& options);

}  // namespace korvane
