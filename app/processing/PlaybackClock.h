#pragma once

// What the event and the fusion players share: the playback range, the
// play position, the frame interval that follows from the frame rate, the
// accumulation time, looping, the playback thread that runs one step per
// 33,333 us display tick, and a load thread that can be left behind.
//
// The frame rate rule: interval = 1,000,000 / fps (integer division); a
// rate below one (the slowest slow rates truncate to 0) plays at one frame
// per second, so the slowest rate is the same for every player and no
// interval is ever divided out of zero.
//
// Threads: settings and position are atomic, any thread. start, stop,
// startLoad and finishLoad come from the owner's thread; a step may call
// stop (it then only asks the loop to end). The owner stops playback and
// finishes the load before anything its step or load body touches goes.
// No Qt.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class PlaybackClock {
public:
    static constexpr uint64_t kTick_us = 33333;  // the display period, whatever the rate

    // What a load thread and its owner share. The thread takes `mutex`
    // before it touches the owner and gives up once `cancelled` is set: an
    // abandoned load touches nothing of the owner again.
    struct LoadJob {
        std::mutex mutex;
        bool cancelled = false;
        std::condition_variable finished;
        bool done = false;
    };

    explicit PlaybackClock(int fps);
    ~PlaybackClock();
    PlaybackClock(const PlaybackClock&) = delete;
    PlaybackClock& operator=(const PlaybackClock&) = delete;

    void setFps(int fps);
    uint64_t fps() const { return fps_.load(); }
    uint64_t interval() const { return interval_.load(); }
    void setAccumulation(uint64_t time_us) { accumulation_ = time_us; }
    uint64_t accumulation() const { return accumulation_.load(); }
    void setLoop(bool loop) { loop_ = loop; }
    bool loop() const { return loop_.load(); }
    void setLower(uint64_t t_us) { lower_ = t_us; }
    void setUpper(uint64_t t_us) { upper_ = t_us; }
    uint64_t lower() const { return lower_.load(); }
    uint64_t upper() const { return upper_.load(); }
    void setPosition(uint64_t t_us) { position_ = t_us; }
    uint64_t position() const { return position_.load(); }
    // Moves the position one interval back, not below the lower bound; the new position.
    uint64_t stepBack();

    // Starts the playback thread, which calls step once per tick until step
    // returns false or stop() is called. False when one already plays; a
    // thread that ended on its own is joined first.
    bool start(std::function<bool()> step);
    // Ends playback and joins the thread (from the thread itself: only asks).
    void stop();
    bool playing() const { return playing_.load(); }

    // Runs body on a load thread; loading() holds until the body calls
    // setLoading(false) or the next load. The previous load must be finished.
    void startLoad(std::shared_ptr<LoadJob> job, std::function<void()> body);
    // Waits for the load thread. With abandon, the job is cancelled first,
    // cancelOpen (if any) runs under the job's lock to hurry the driver, and
    // a thread still inside the driver after two seconds is left behind.
    void finishLoad(bool abandon, const std::function<void()>& cancelOpen = {});
    bool loading() const { return loading_.load(); }
    void setLoading(bool loading) { loading_ = loading; }

private:
    void run(std::function<bool()> step);

    std::atomic<uint64_t> fps_;
    std::atomic<uint64_t> interval_;
    std::atomic<uint64_t> accumulation_{33333};
    std::atomic<bool> loop_{false};
    std::atomic<uint64_t> lower_{0}, upper_{0}, position_{0};
    std::atomic<bool> playing_{false};
    std::mutex tickMutex_;  // with tickWake_: a stop ends the wait for the next tick at once
    std::condition_variable tickWake_;
    std::atomic<bool> loading_{false};
    std::thread playbackThread_;  // touched by the owner's thread only
    // The playback thread's id, set by that thread: a stop from within a step
    // recognises itself without reading playbackThread_ while start() writes it.
    std::atomic<std::thread::id> runner_{};
    std::thread loadThread_;
    std::shared_ptr<LoadJob> loadJob_;
};
