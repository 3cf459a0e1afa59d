#include "EventArrays.h"

#include <sys/mman.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace py = pybind11;
using korvane::Event2D;
using korvane::EventBatch;
using korvane::EventTriggerIn;

namespace velqora {

static_assert(std::endian::native == std::endian::little,
              "records are handed to numpy as little-endian fields");
static_assert(sizeof(Event2D) == 16, "events are handed to numpy as 16-byte records");
static_assert(offsetof(Event2D, x) == 0 && offsetof(Event2D, y) == 2 &&
                  offsetof(Event2D, polarity) == 4 && offsetof(Event2D, timestamp) == 8,
              "the event dtype mirrors Event2D");

namespace {

py::dtype structDtype(std::initializer_list<const char*> names,
                      std::initializer_list<const char*> formats,
                      std::initializer_list<int> offsets, int itemsize) {
    py::dict layout;
    py::list n, f, o;
    for (const char* s : names)
        n.append(s);
    for (const char* s : formats)
        f.append(s);
    for (int v : offsets)
        o.append(v);
    layout["names"] = n;
    layout["formats"] = f;
    layout["offsets"] = o;
    layout["itemsize"] = itemsize;
    return py::dtype::from_args(layout);
}

}  // namespace

// Built once and kept for the process's life (deliberately never freed: a
// static Python object would be destroyed after the interpreter).
py::dtype eventDtype() {
    static auto* dtype = new py::dtype(structDtype(
        {"x", "y", "p", "t"}, {"<u2", "<u2", "<i2", "<i8"}, {0, 2, 4, 8}, int(sizeof(Event2D))));
    return *dtype;
}

py::dtype triggerDtype() {
    static auto* dtype =
        new py::dtype(structDtype({"t", "id", "p"}, {"<i8", "<i2", "<i2"}, {0, 8, 10}, 12));
    return *dtype;
}

void clearEventPadding(Event2D* events, size_t count) {
    // One 8-byte store per event keeps x, y and the polarity byte; the loop
    // runs at memory speed (byte-wise clearing cost an eighth of a read).
    static_assert(offsetof(Event2D, polarity) == 4);
    constexpr uint64_t kKeep = (uint64_t(1) << 40) - 1;  // bytes 0 to 4
    auto* bytes = reinterpret_cast<unsigned char*>(events);
    for (size_t i = 0; i < count; ++i) {
        uint64_t head;
        std::memcpy(&head, bytes + i * sizeof(Event2D), sizeof head);
        head &= kKeep;
        std::memcpy(bytes + i * sizeof(Event2D), &head, sizeof head);
    }
}

void copyEvents(Event2D* to, const Event2D* from, size_t count) {
#if defined(__SSE2__)
    // Windows are far larger than any cache and read later, by Python:
    // streaming stores skip reading each destination line before writing it.
    if (reinterpret_cast<uintptr_t>(to) % 16 == 0) {
        const __m128i keep = _mm_set_epi64x(-1, (int64_t(1) << 40) - 1);
        const auto* src = reinterpret_cast<const __m128i*>(from);
        auto* dst = reinterpret_cast<__m128i*>(to);
        for (size_t i = 0; i < count; ++i)
            _mm_stream_si128(dst + i, _mm_and_si128(_mm_loadu_si128(src + i), keep));
        _mm_sfence();  // the stores are seen before the events are handed on
        return;
    }
#endif
    std::memcpy(static_cast<void*>(to), from, count * sizeof(Event2D));
    clearEventPadding(to, count);  // still in the cache
}

namespace {

// Mappings are whole multiples of this, so a buffer that comes back fits
// windows of about its size.
constexpr size_t kMapGranule = size_t(2) << 20;

struct Mapping {
    void* at = nullptr;
    size_t bytes = 0;
};

// The first huge-page boundary at or after `at`.
uintptr_t granuleAfter(const void* at) {
    return (reinterpret_cast<uintptr_t>(at) + kMapGranule - 1) & ~(kMapGranule - 1);
}

// Touches every page of [at, at + bytes); the time it took, in seconds.
double touchPages(void* at, size_t bytes) {
    const auto start = std::chrono::steady_clock::now();
    auto* p = static_cast<volatile unsigned char*>(at);
    for (size_t i = 0; i < bytes; i += 4096)
        p[i] = 1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Whether fresh memory is cheaper to touch in huge pages than in small ones
// here, measured once on 2 MiB each way (a few milliseconds). Machines
// differ tenfold either way: on some virtual machines every small page's
// first touch traps to the host (10-15 us a page: a 1 s window's first read
// took 0.3 s); on others whose host takes free memory back, a fresh huge
// page costs ten times its 512 small pages (0.5 s instead of 0.08).
bool hugePagesPay() {
#if defined(MADV_HUGEPAGE) && defined(MADV_NOHUGEPAGE)
    static const bool pay = [] {
        const size_t span = 3 * kMapGranule;
        void* raw =
            ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED) return false;
        auto* small = reinterpret_cast<unsigned char*>(granuleAfter(raw));
        unsigned char* huge = small + kMapGranule;
        (void)::madvise(small, kMapGranule, MADV_NOHUGEPAGE);
        const bool asked = ::madvise(huge, kMapGranule, MADV_HUGEPAGE) == 0;
        const double smallS = touchPages(small, kMapGranule);
        const double hugeS = touchPages(huge, kMapGranule);
        ::munmap(raw, span);
        return asked && hugeS < smallS;
    }();
    return pay;
#else
    return false;
#endif
}

// A fresh mapping of `bytes` (a multiple of kMapGranule), in huge pages
// where they pay: then on a huge-page boundary, as the kernel backs only
// aligned 2 MiB ranges with huge pages and mmap promises 4 KiB alignment.
Mapping mapFresh(size_t bytes) {
    const bool huge = hugePagesPay();
    const size_t span = huge ? bytes + kMapGranule : bytes;
    void* raw = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    if (!huge) {
#if defined(MADV_NOHUGEPAGE)
        // Where the system gives huge pages unasked, they are still the dearer kind.
        (void)::madvise(raw, bytes, MADV_NOHUGEPAGE);
#endif
        return {raw, bytes};
    }
    const auto begin = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = granuleAfter(raw);
    if (aligned > begin) ::munmap(raw, aligned - begin);
    const uintptr_t tail = aligned + bytes;
    if (begin + span > tail) ::munmap(reinterpret_cast<void*>(tail), begin + span - tail);
    void* at = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
    (void)::madvise(at, bytes, MADV_HUGEPAGE);  // a refusal leaves small pages
#endif
    return {at, bytes};
}

// Buffers whose arrays died, kept for the next window. Reached from capsule
// destructors (GIL held) and from decode threads (no GIL): its own lock,
// held for no system call.
class BufferPool {
public:
    // The smallest idle buffer of at least `bytes`, else a fresh mapping.
    Mapping take(size_t bytes) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            size_t best = idle_.size();
            for (size_t i = 0; i < idle_.size(); ++i) {
                if (idle_[i].bytes >= bytes &&
                    (best == idle_.size() || idle_[i].bytes < idle_[best].bytes))
                    best = i;
            }
            if (best < idle_.size()) {
                const Mapping m = idle_[best];
                idle_.erase(idle_.begin() + std::ptrdiff_t(best));
                idleBytes_ -= m.bytes;
                return m;
            }
        }
        // Half as much again of address space (untouched pages cost
        // nothing): windows of about this size vary a little, and a later
        // one slightly larger still fits when this buffer comes back.
        const size_t roomy = (bytes + bytes / 2 + kMapGranule - 1) / kMapGranule * kMapGranule;
        return mapFresh(roomy);
    }

    // Keeps the buffer idle, or gives it back when the pool is full; the
    // larger buffers stay, as they fit more windows. Idle memory past
    // kKeptIdleEventBufferBytes is handed to the system lazily (its pages
    // stay in place until memory runs short); below that it stays as it is:
    // writing into lazily freed small pages cost a loop over windows 40 %
    // more time than writing into kept ones.
    void give(Mapping m) {
        if (!m.at) return;
        bool inUse = false;
        [[maybe_unused]] bool keep = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            inUse = users_ > 0;
            keep = idleBytes_ + m.bytes <= kKeptIdleEventBufferBytes;
        }
        if (m.bytes > kIdleEventBufferBytes || !inUse) {
            ::munmap(m.at, m.bytes);
            return;
        }
#if defined(MADV_FREE)
        // Before the pool has it: pages freed lazily while another thread
        // writes into them could lose what it wrote.
        if (!keep) (void)::madvise(m.at, m.bytes, MADV_FREE);
#endif
        Mapping drop = m;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (users_ == 0) {
                // The last recording closed meanwhile: nothing is kept.
            } else if (idle_.size() < kIdleEventBuffers &&
                       idleBytes_ + m.bytes <= kIdleEventBufferBytes) {
                idle_.push_back(m);
                idleBytes_ += m.bytes;
                drop = {};
            } else if (!idle_.empty()) {
                // Full: a larger buffer takes the smallest one's place.
                auto smallest = std::min_element(
                    idle_.begin(), idle_.end(),
                    [](const Mapping& x, const Mapping& y) { return x.bytes < y.bytes; });
                if (smallest->bytes < m.bytes &&
                    idleBytes_ - smallest->bytes + m.bytes <= kIdleEventBufferBytes) {
                    drop = *smallest;
                    *smallest = m;
                    idleBytes_ = idleBytes_ - drop.bytes + m.bytes;
                }
            }
        }
        if (drop.at) ::munmap(drop.at, drop.bytes);
    }

    void used() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++users_;
    }

    // A recording is done: the idle buffers go back to the system.
    void unused() {
        std::vector<Mapping> drop;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --users_;
            drop.swap(idle_);
            idleBytes_ = 0;
        }
        for (const Mapping& m : drop)
            ::munmap(m.at, m.bytes);
    }

private:
    std::mutex mutex_;
    std::vector<Mapping> idle_;
    size_t idleBytes_ = 0;
    size_t users_ = 0;  // EventBufferUse objects alive
};

// Never destroyed: arrays may die during the interpreter's own teardown.
BufferPool& bufferPool() {
    static auto* pool = new BufferPool;
    return *pool;
}

}  // namespace

EventBufferUse::EventBufferUse() {
    bufferPool().used();
}

EventBufferUse::~EventBufferUse() {
    bufferPool().unused();
}

EventBuffer::~EventBuffer() {
    bufferPool().give({data_, mappedBytes_});
}

void EventBuffer::reserve(size_t events) {
    if (events <= capacity_) return;
    const size_t bytes = (events * sizeof(Event2D) + kMapGranule - 1) / kMapGranule * kMapGranule;
    const Mapping m = bufferPool().take(bytes);
    auto* grown = static_cast<Event2D*>(m.at);
    if (size_) std::memcpy(static_cast<void*>(grown), data_, size_ * sizeof(Event2D));
    bufferPool().give({data_, mappedBytes_});
    data_ = grown;
    mappedBytes_ = m.bytes;
    capacity_ = m.bytes / sizeof(Event2D);
}

void EventBuffer::append(const Event2D* events, size_t count) {
    if (capacity_ - size_ < count) reserve(std::max(size_ + count, size_ * 2));
    copyEvents(data_ + size_, events, count);
    size_ += count;
}

void EventBuffer::setExtent(size_t begin, size_t end) {
    if (begin > end || end > capacity_) throw std::logic_error("event buffer extent out of room");
    begin_ = begin;
    size_ = end;
}

Event2D* EventBuffer::claim(size_t count) {
    if (capacity_ - size_ < count) return nullptr;
    Event2D* at = data_ + size_;
    size_ += count;
    return at;
}

py::array eventArray(std::unique_ptr<EventBuffer> buffer) {
    if (!buffer || buffer->size() == buffer->begin())
        return py::array(eventDtype(), py::array::ShapeContainer{py::ssize_t(0)});
    const auto count = py::ssize_t(buffer->size() - buffer->begin());
    void* data = buffer->data() + buffer->begin();
    py::capsule base(buffer.get(), [](void* p) { delete static_cast<EventBuffer*>(p); });
    buffer.release();  // the capsule frees it now
    return py::array(eventDtype(), {count}, {py::ssize_t(sizeof(Event2D))}, data, base);
}

py::array eventArray(EventBatch batch) {
    if (!batch || batch->empty())
        return py::array(eventDtype(), py::array::ShapeContainer{py::ssize_t(0)});
    const auto count = py::ssize_t(batch->size());
    void* data = batch->data();
    auto owner = std::make_unique<EventBatch>(std::move(batch));
    py::capsule base(owner.get(), [](void* p) {
        auto* held = static_cast<EventBatch*>(p);
        // A large buffer goes back to the system when its array dies, rather
        // than stay resident in the reader's pool until the next read.
        if (held->use_count() == 1 && (*held)->capacity() > kPooledArrayEvents) {
            std::vector<Event2D>().swap(**held);
        }
        delete held;
    });
    owner.release();  // the capsule frees it now
    return py::array(eventDtype(), {count}, {py::ssize_t(sizeof(Event2D))}, data, base);
}

py::array triggerArray(const std::vector<EventTriggerIn>& triggers) {
    py::array out(triggerDtype(), py::array::ShapeContainer{py::ssize_t(triggers.size())});
    auto* bytes = static_cast<unsigned char*>(out.mutable_data());
    for (size_t i = 0; i < triggers.size(); ++i) {
        unsigned char* rec = bytes + i * 12;
        const int64_t t = int64_t(triggers[i].timestamp);
        const int16_t id = triggers[i].id;
        const int16_t p = triggers[i].polarity;
        std::memcpy(rec, &t, 8);
        std::memcpy(rec + 8, &id, 2);
        std::memcpy(rec + 10, &p, 2);
    }
    return out;
}

}  // namespace velqora
