#include "korvane/video/H264FrameWriter.h"

#include <unistd.h>

#include <algorithm>

#include "korvane/file/SafeOutput.h"

namespace korvane {

H264FrameWriter::H264FrameWriter(int width, int height, const H264FrameWriterOptions& options)
    : width_(width), height_(height), options_(options) {}

std::unique_ptr<H264FrameWriter> H264FrameWriter::create(const std::string& path, int width,
                                                         int height, int fps, std::string* error,
                                                         const H264FrameWriterOptions& options) {
    std::unique_ptr<H264FrameWriter> w(new H264FrameWriter(width, height, options));
    // The recording's rules: in place, never through a link, never into a
    // device, never into a file another recorder holds.
    std::string why;
    w->fd_ = openInPlaceOutput(path, &why);
    if (w->fd_ < 0) {
        if (error) *error = "cannot create " + path + ": " + why;
        return nullptr;
    }
    VideoEncoderOptions eo;
    eo.fd = w->fd_;
    eo.width = width;
    eo.height = height;
    eo.fps = fps;
    eo.pixels = VideoPixels::Bgr24;
    eo.timedFrames = true;
    eo.keyFrameInterval = options.keyFrameInterval;
    // A recording must survive its writer's death: pieces on disk as they
    // complete. (Also no copy of the whole file when finishing.)
    eo.indexFirst = false;
    eo.fragmented = true;
    eo.fragmentDuration_us = options.fragmentDuration_us;
    eo.lowLatency = options.lowLatency;
    eo.preset = options.preset;
    eo.crf = options.crf;
    eo.threads = options.threads;
    if (!w->encoder_.open(path, eo)) {
        if (error) *error = w->encoder_.error();
        return nullptr;
    }
    w->thread_ = std::thread([raw = w.get()] { raw->run(); });
    return w;
}

H264FrameWriter::~H264FrameWriter() {
    close();
}

bool H264FrameWriter::write(const ApsFrame& frame, uint64_t relative_us) {
    std::unique_lock lock(mutex_);
    if (closing_ || failed_) return false;
    if (frame.width() != width_ || frame.height() != height_ || !frame.data() ||
        int64_t(relative_us) <= lastQueued_us_ || relative_us > uint64_t(INT64_MAX)) {
        dropped_.fetch_add(1);
        ++refused_;
        return true;
    }
    if (queue_.size() >= options_.maxQueuedFrames) {
        dropped_.fetch_add(1);
        ++refused_;
        return true;
    }
    lock.unlock();
    // The copy is made outside the lock so the encoding thread is not held
    // up; the pixels must be our own, since the producer may reuse its buffer.
    ApsFrame own = frame.clone();
    lock.lock();
    if (closing_ || failed_) return false;
    queue_.emplace_back(std::move(own), relative_us);
    ++accepted_;
    lastQueued_us_ = int64_t(relative_us);
    maxQueued_.store(std::max(maxQueued_.load(), queue_.size()));
    changed_.notify_one();
    return true;
}

void H264FrameWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !queue_.empty() || closing_; });
        if (queue_.empty()) return;  // closing, and everything queued is encoded
        auto item = std::move(queue_.front());
        queue_.pop_front();
        const bool first = encoded_.load() == 0;
        lock.unlock();
        const size_t line = size_t(width_) * 3;
        bool ok = true;
        // A fragmented MP4 starts at time 0 whatever the first frame's time
        // (FFmpeg drops the offset), which would shift every frame. When the
        // recording's first frame was lost, its successor is shown from 0 too.
        bool padded = false;
        if (first && item.second > 0) {
            ok = encoder_.writeFrameAt(item.first.data(), line, 0);
            padded = ok;
        }
        if (ok) ok = encoder_.writeFrameAt(item.first.data(), line, int64_t(item.second));
        lock.lock();
        inFile_.store(uint64_t(encoder_.framesInFile()));
        if (padded) {
            padded_ = true;
            encoded_.fetch_add(1);
        }
        if (!ok) {
            failed_ = true;
            error_ = encoder_.error();
            dropped_.fetch_add(1 + queue_.size());
            queue_.clear();
            return;
        }
        encoded_.fetch_add(1);
    }
}

bool H264FrameWriter::close() {
    std::lock_guard closing(closeMutex_);
    {
        std::lock_guard lock(mutex_);
        if (closed_) return closeResult_;
        closing_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    bool ok = !failed_;
    if (ok) {
        ok = encoder_.finish();
        if (!ok) error_ = encoder_.error();
    } else {
        encoder_.abort();
    }
    // Only frames whose piece is whole in the file count as written; a
    // failed write (a full disk) may have left part of a piece, which goes,
    // so the file ends with whole pieces and holds exactly those frames.
    const uint64_t inFile = uint64_t(encoder_.framesInFile());
    inFile_.store(inFile);
    if (!ok && fd_ >= 0 && ::ftruncate(fd_, off_t(encoder_.completeBytes())) != 0)
        error_ += " (and the file could not be cut back to its last whole piece)";
    const uint64_t givenInFile = inFile - (padded_ && inFile > 0 ? 1 : 0);
    dropped_.store(refused_ + (accepted_ > givenInFile ? accepted_ - givenInFile : 0));
    if (ok && dropped_.load() > 0)
        error_ = std::to_string(dropped_.load()) + " frames dropped (the encoder fell behind)";
    closed_ = true;
    if (fd_ >= 0 && ::close(fd_) != 0 && ok) {
        ok = false;
        error_ = "writing the video failed";
    }
    fd_ = -1;  // and with it the lock
    closeResult_ = ok && dropped_.load() == 0;
    return closeResult_;
}

std::string H264FrameWriter::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

FrameFileWriterFactory h264FrameWriterFactory(H264FrameWriterOptions options) {
    return [options](const std::string& path, int width, int height, int fps,
                     std::string* error) -> std::unique_ptr<FrameFileWriter> {
        return H264FrameWriter::create(path, width, height, fps, error, options);
    };
}

}  // namespace korvane
