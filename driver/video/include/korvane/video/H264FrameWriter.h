#pragma once

// The frame file of a fusion recording as H.264 in MP4: each frame keeps
// its time (microseconds after the recording's first frame), key frames
// come often enough that a reader seeks with little decoding. The file is a
// fragmented MP4, pieces of at most fragmentDuration_us flushed as they
// complete: if the process dies, the file plays up to its last piece.
// The file's time 0 is the recording's first frame: when the first frame
// given is later than 0 (the first was lost), it is also written at 0.
//
// The camera's frame thread must never wait for the encoder, so write()
// only copies the frame into a bounded queue; an encoding thread of the
// writer's own empties it. When the encoder falls behind and the queue is
// full, the newest frame is dropped and counted (the times of the others
// stay right, so the overlay stays aligned; the count is reported by
// framesDropped() and makes close() false).
//
// Ownership: the writer owns its thread, its queue and the file until
// close(); the destructor closes. The caller owns the path.
// Threads: write() from one thread at a time, close() from any one; the
// figures from any thread.
// Failures: an encoder or disk failure stops the encoding thread, error()
// says why and write() returns false from then on. close() always tries to
// finish the file, so everything encoded before a drop plays; it returns
// false when anything given to write() is missing from the file.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "korvane/camera/FrameFileWriter.h"
#include "korvane/video/VideoEncoder.h"

namespace korvane {

struct H264FrameWriterOptions {
    // At the Quenta's 1600 x 900 a frame is 4.3 MB: this bounds the queue at
    // ~104 MB and rides out about 0.8 s of encoder stall at 30 fps (on the
    // shared two cores stalls of 0.4 s were seen while the average kept up).
    size_t maxQueuedFrames = 24;
    int keyFrameInterval = 30;
    // Pieces of the file are at most this long and the encoder holds no
    // frames back, so a writer killed at any moment loses at most about
    // this much of the recording's end, as the events file does.
    int64_t fragmentDuration_us = 100000;
    bool lowLatency = true;
    std::string preset = "ultrafast";
    int crf = 23;
    int threads = 0;  // x264's choice
};

class H264FrameWriter : public FrameFileWriter {
public:
    // Null (and *error) when the file cannot be made or the size is not
    // even and positive.
    static std::unique_ptr<H264FrameWriter> create(const std::string& path, int width, int height,
                                                   int fps, std::string* error,
                                                   const H264FrameWriterOptions& options = {});
    ~H264FrameWriter() override;
    H264FrameWriter(const H264FrameWriter&) = delete;
    H264FrameWriter& operator=(const H264FrameWriter&) = delete;

    // False once the file has ended (encoder failure, or after close()).
    // A frame of another size, or whose time does not rise, is dropped.
    bool write(const ApsFrame& frame, uint64_t relative_us) override;
    bool close() override;
    // Frames in the file (a copy at 0 included, see above): those of its
    // pieces written whole; a piece still open (under fragmentDuration_us)
    // is not counted yet.
    uint64_t framesWritten() const override { return inFile_.load(); }
    // Frames through the encoder so far (the copy at 0 included), whether
    // or not their piece is in the file yet.
    uint64_t framesEncoded() const { return encoded_.load(); }
    uint64_t framesDropped() const override { return dropped_.load(); }
    std::string error() const override;
    // Most frames ever waiting at once.
    size_t maxQueued() const { return maxQueued_.load(); }

private:
    H264FrameWriter(int width, int height, const H264FrameWriterOptions& options);
    void run();

    const int width_, height_;
    const H264FrameWriterOptions options_;
    VideoEncoder encoder_;
    int fd_ = -1;  // the file, locked against other recorders while open

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<ApsFrame, uint64_t>> queue_;
    bool closing_ = false;
    bool failed_ = false;
    bool closed_ = false;
    bool closeResult_ = false;
    std::string error_;
    int64_t lastQueued_us_ = -1;
    uint64_t accepted_ = 0, refused_ = 0;  // frames given to write(), queued or not
    bool padded_ = false;                  // the first frame was also written at 0
    std::atomic<uint64_t> encoded_{0}, inFile_{0}, dropped_{0};
    std::atomic<size_t> maxQueued_{0};
    std::mutex closeMutex_;
    std::thread thread_;
};

// A factory for the camera side: every recording's frames into an H.264 MP4.
FrameFileWriterFactory h264FrameWriterFactory(H264FrameWriterOptions options = {});

}  // namespace korvane
