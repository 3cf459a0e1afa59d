#pragma once

// Thread-safe pool of reusable heavy objects, handed out as shared pointers
// that return the object to the pool when the last holder lets go.
//
// Ownership: wrappers share one PoolCore; handed-out objects hold only a weak
// reference to it, so an object released after its pool died is destroyed.
// Threads: acquire(), size(), empty() and returns may run on any thread. A
// bounded core's acquire() blocks until another thread returns an object.
// Returned objects keep their contents; the next holder clears them.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "KorvaneBaseExport.h"
#include "KvRecords.h"

namespace korvane {

class KvObjectPoolBase {
public:
    virtual ~KvObjectPoolBase() = default;
    virtual bool empty() const = 0;
    virtual uint64_t size() const = 0;
};

template <typename T>
class KvObjectPool : public KvObjectPoolBase {
public:
    virtual std::shared_ptr<T> acquire() = 0;
};

template <typename T>
class PoolCore {
public:
    template <typename... Args>
    static std::shared_ptr<PoolCore> create(uint64_t initialCount, bool bounded,
                                            const Args&... args) {
        if (initialCount == 0 && bounded) {
            throw std::invalid_argument(
                "Failed to allocate memory for the bounded object pool: pool's size can not be "
                "0.");
        }
        std::shared_ptr<PoolCore> core(new PoolCore(bounded));
        core->self_ = core;
        for (uint64_t i = 0; i < initialCount; ++i) {
            core->free_.push_back(std::make_unique<T>(args...));
        }
        return core;
    }

    std::shared_ptr<T> acquire() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (free_.empty()) {
            if (bounded_) {
                cv_.wait(lock, [this] { return !free_.empty(); });
            } else {
                free_.push_back(std::make_unique<T>());
            }
        }
        std::shared_ptr<PoolCore> strong = self_.lock();
        std::unique_ptr<T> object = std::move(free_.back());
        free_.pop_back();
        std::weak_ptr<PoolCore> weak = strong;
        return std::shared_ptr<T>(object.release(), [weak](T* p) { giveBack(weak, p); });
    }

    bool empty() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return free_.empty();
    }

    uint64_t size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return free_.size();
    }

    bool bounded() const { return bounded_; }

private:
    explicit PoolCore(bool bounded) : bounded_(bounded) {}

    static void giveBack(const std::weak_ptr<PoolCore>& weak, T* p) {
        std::unique_ptr<T> object(p);
        std::shared_ptr<PoolCore> core = weak.lock();
        if (!core) return;  // pool is gone: the object dies with its last holder
        std::lock_guard<std::mutex> lock(core->mutex_);
        core->free_.push_back(std::move(object));
        if (core->bounded_) core->cv_.notify_all();
    }

    std::weak_ptr<PoolCore> self_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::unique_ptr<T>> free_;
    const bool bounded_;
};

template <typename T>
class KvObjectPoolWrapper : public KvObjectPool<T> {
public:
    explicit KvObjectPoolWrapper(uint64_t initialCount = 64)
        : core_(PoolCore<T>::create(initialCount, false)) {}
    explicit KvObjectPoolWrapper(std::shared_ptr<PoolCore<T>> core) : core_(std::move(core)) {}
    KvObjectPoolWrapper(const KvObjectPoolWrapper&) = default;
    KvObjectPoolWrapper& operator=(const KvObjectPoolWrapper&) = default;

    std::shared_ptr<T> acquire() override { return core_->acquire(); }
    bool empty() const override { return core_->empty(); }
    uint64_t size() const override { return core_->size(); }

private:
    std::shared_ptr<PoolCore<T>> core_;
};

class KvObjectPoolFactory {
public:
    template <typename T>
    static std::unique_ptr<KvObjectPool<T>> createUniqueKvObjectPool(uint64_t initialCount) {
        return std::make_unique<KvObjectPoolWrapper<T>>(initialCount);
    }

    template <typename T>
    static std::unique_ptr<KvObjectPool<T>> createUniqueKvObjectPoolWithArgs(uint64_t initialCount,
                                                                             int32_t arg) {
        return std::make_unique<KvObjectPoolWrapper<T>>(
            PoolCore<T>::create(initialCount, false, constructionArg<T>(arg)));
    }

private:
    // Vectors are built with that many value-initialised elements (size, not capacity).
    template <typename T>
    static auto constructionArg(int32_t arg) {
        if constexpr (requires { typename T::value_type; }) {
            return static_cast<typename T::size_type>(arg < 0 ? 0 : arg);
        } else {
            return arg;
        }
    }
};

using EventVector = std::vector<Event2D>;

// MinGW exports no member of a class template defined in its class body, so
// on Windows each module instantiates the (header-only) pool itself.
#if !defined(_WIN32)
extern template class KORVANE_BASE_API PoolCore<EventVector>;
extern template class KORVANE_BASE_API KvObjectPoolWrapper<EventVector>;
#endif

}  // namespace korvane
