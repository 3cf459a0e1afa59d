#pragma once

// Reader of a fusion recording's frame file (the ".mp4" beside the ".raw").
// Frames come out as BGR888 ApsFrames; their timestamps are microseconds
// relative to the recording's first frame (the RAW header's
// aps_start_timestamp gives that frame's time on the event clock).
//
// Ownership: createFileReader returns an owned reader that keeps the file
// open until destruction; frames it returns own their pixels.
// Threads: one thread at a time.
// Failures: every read returns false at the end or on a damaged file and
// leaves the reader usable for rewind() and readFrameAt(); a file that is
// not a video opens as false.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KvRecords.h"

namespace korvane {

class ApsFileReader {
public:
    // Path in the local 8-bit encoding. None when the file is missing or is
    // not a regular file.
    static std::unique_ptr<ApsFileReader> createFileReader(const std::string& path);

    virtual ~ApsFileReader() = default;

    // Opens the container and its first video stream; sets width and height.
    virtual bool openForReading() = 0;
    // The next read returns the frame at or after time_us (0: the first).
    virtual bool rewind(uint64_t time_us) = 0;
    // Every frame's timestamp in file order (the container's index; decodes
    // nothing).
    virtual bool getFrameTimestamps(std::vector<uint64_t>& timestamps_us) = 0;
    virtual bool readNextFrame(ApsFrame& frame) = 0;
    // Number of frames in the file, 0 when unknown.
    virtual uint64_t getFrameCount() = 0;
    // The frame shown at time_us (the last one whose timestamp is at or
    // before it; the first frame before the first timestamp); the next
    // readNextFrame returns the frame after it.
    virtual bool readFrameAt(uint64_t time_us, ApsFrame& frame) = 0;

    uint16_t getWidth() const { return width_; }
    uint16_t getHeight() const { return height_; }

protected:
    uint16_t width_ = 3840;
    uint16_t height_ = 2160;
};

}  // namespace korvane
