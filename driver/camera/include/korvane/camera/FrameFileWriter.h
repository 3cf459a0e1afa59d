#pragma once

// Where a fusion recording's frames go: one file of frames per recording,
// each frame with its time relative to the recording's first frame. The
// camera asks a factory for a writer when a recording starts; without a
// factory the recording holds events and calibration only.
//
// Threads: a writer is used by one thread at a time (the camera's frame
// thread, then the thread that stops the recording). write() must not
// block for long: a writer that encodes keeps its own queue and thread.
// Failures: write() false ends the frame file; close() false when not
// everything reached the file.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "KvRecords.h"

namespace korvane {

class FrameFileWriter {
public:
    virtual ~FrameFileWriter() = default;
    virtual bool write(const ApsFrame& frame, uint64_t relative_us) = 0;
    virtual bool close() = 0;
    // Figures for the recording's report; final once close() returned.
    virtual uint64_t framesWritten() const { return 0; }
    // Frames given to write() that will not be in the file (the writer fell
    // behind, or a frame did not fit the file).
    virtual uint64_t framesDropped() const { return 0; }
    // Why the file ended early or close() failed; empty when all went well.
    virtual std::string error() const { return {}; }
};

// Null (and *error) when the file cannot be made.
using FrameFileWriterFactory = std::function<std::unique_ptr<FrameFileWriter>(
    const std::string& path, int width, int height, int fps, std::string* error)>;

}  // namespace korvane
