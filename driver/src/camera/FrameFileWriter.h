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
};

// Null (and *error) when the file cannot be made.
using FrameFileWriterFactory = std::function<std::unique_ptr<FrameFileWriter>(
    const std::string& path, int width, int height, int fps, std::string* error)>;

}  // namespace korvane
