#pragma once

// A frame reader serving synthetic frames, for fusion playback tests: frame k
// has timestamp k * period_us and every pixel of it the grey value k + 1, so
// a picture tells which frame it came from. The shared state lets a test see
// what the processor asked for, make reads fail (all, or those past a
// frames file's cut) and hold the open.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "korvane/video/ApsFileReader.h"

struct FakeFrameState {
    int width = 1280, height = 720;
    int frames = 30;
    int readable = -1;  // frames whose data can be read (-1: all); the index lists them all
    uint64_t period_us = 33333;
    uint64_t first_us = 0;  // timestamp of frame 0
    bool failOpen = false;
    bool failFirstRead = false;
    std::vector<std::string> requestedPaths;  // GUI thread: the factory's calls
    // Holding the open: openForReading waits until released.
    std::mutex gateMutex;
    std::condition_variable gateChanged;
    bool gateClosed = false;
    std::atomic<bool> openEntered{false};
    std::atomic<bool> openLeft{false};
    std::atomic<int> readersAlive{0};

    void release() {
        std::lock_guard<std::mutex> lock(gateMutex);
        gateClosed = false;
        gateChanged.notify_all();
    }
};

class FakeFrameReader : public korvane::ApsFileReader {
public:
    explicit FakeFrameReader(std::shared_ptr<FakeFrameState> state) : state_(std::move(state)) {
        ++state_->readersAlive;
    }
    ~FakeFrameReader() override { --state_->readersAlive; }

    bool openForReading() override {
        state_->openEntered = true;
        {
            std::unique_lock<std::mutex> lock(state_->gateMutex);
            state_->gateChanged.wait(lock, [&] { return !state_->gateClosed; });
        }
        state_->openLeft = true;
        if (state_->failOpen) return false;
        width_ = uint16_t(state_->width);
        height_ = uint16_t(state_->height);
        return true;
    }
    bool rewind(uint64_t) override {
        pos_ = 0;
        return true;
    }
    bool getFrameTimestamps(std::vector<uint64_t>& timestamps_us) override {
        timestamps_us.clear();
        for (int k = 0; k < state_->frames; ++k)
            timestamps_us.push_back(state_->first_us + uint64_t(k) * state_->period_us);
        return true;
    }
    bool readNextFrame(korvane::ApsFrame& frame) override {
        if (pos_ == 0 && state_->failFirstRead) return false;
        if (pos_ >= state_->frames || !canRead(pos_)) return false;
        frame = make(pos_++);
        return true;
    }
    uint64_t getFrameCount() override { return uint64_t(state_->frames); }
    bool readFrameAt(uint64_t time_us, korvane::ApsFrame& frame) override {
        int k =
            time_us < state_->first_us ? 0 : int((time_us - state_->first_us) / state_->period_us);
        if (k >= state_->frames) k = state_->frames - 1;
        if (!canRead(k)) return false;
        frame = make(k);
        pos_ = k + 1;
        return true;
    }

private:
    bool canRead(int k) const { return state_->readable < 0 || k < state_->readable; }
    korvane::ApsFrame make(int k) const {
        korvane::ApsFrame f(state_->width, state_->height, uint64_t(k),
                            state_->first_us + uint64_t(k) * state_->period_us);
        std::fill(f.data(), f.data() + f.getDataSize(), uint8_t(k + 1));
        return f;
    }

    std::shared_ptr<FakeFrameState> state_;
    int pos_ = 0;
};
