#pragma once

// Shared helpers of the driver tests: scratch folders with their own index
// cache, recordings made by our generator, and whole-file reads.

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "../TestPlatform.h"
#include "korvane/file/DvsFileReader.h"
#include "korvane/file/Platform.h"
#include "korvane/sim/SyntheticRecording.h"
#include "Utils/FuncUtils.h"

namespace korvane {
// Readable failure output instead of raw bytes (padding included).
inline void PrintTo(const Event2D& e, std::ostream* os) {
    *os << "(" << e.x << "," << e.y << "," << int(e.polarity) << "@" << e.timestamp << ")";
}
inline void PrintTo(const EventTriggerIn& t, std::ostream* os) {
    *os << "T(" << t.id << "," << t.polarity << "@" << t.timestamp << ")";
}
}  // namespace korvane

namespace kvtest {

namespace fs = std::filesystem;
using namespace korvane;

// Points the index cache (the per-user cache folder) at `folder`.
inline void pointCacheAt(const std::string& folder) {
#if defined(_WIN32)
    _putenv_s("LOCALAPPDATA", folder.c_str());
#else
    ::setenv("XDG_CACHE_HOME", folder.c_str(), 1);
#endif
}

// A scratch folder, removed afterwards; the index cache is pointed inside it
// so tests never touch the user's cache.
class ScratchDir {
public:
    ScratchDir() {
        fs::create_directories(dir_.path / "cache");
        pointCacheAt(cache().string());
    }
    // UTF-8, as our libraries take paths.
    std::string file(const std::string& name) const { return dir_.path.string() + "/" + name; }
    const fs::path& path() const { return dir_.path; }
    fs::path cache() const { return dir_.path / "cache"; }

private:
    TempDir dir_;
};

struct Expected {
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
};

// What the generator puts into a recording, in file order.
inline Expected expectedFor(const SyntheticOptions& o) {
    Expected e;
    SyntheticScene scene(o);
    scene.generate(o.startTime_us, o.startTime_us + o.duration_us, e.events, e.triggers);
    return e;
}

inline std::string generate(const ScratchDir& dir, const std::string& name,
                            const SyntheticOptions& o) {
    std::string path = dir.file(name);
    std::string error;
    if (!writeSyntheticRecording(path, o, &error)) throw std::runtime_error(error);
    return path;
}

struct Decoded {
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    std::vector<size_t> triggerPositions;  // events before each trigger
};

// Appends one chunk of a decode (events and the edges placed among them).
template <typename Triggers>
void collect(Decoded& d, const Event2D* ev, size_t n, const Triggers& triggers) {
    for (const auto& t : triggers) {
        d.triggers.push_back(t.trigger);
        d.triggerPositions.push_back(d.events.size() + t.eventIndex);
    }
    d.events.insert(d.events.end(), ev, ev + n);
}

inline Decoded decodeAll(DvsFileReader& reader, uint64_t from = 0, uint64_t to = UINT64_MAX) {
    Decoded d;
    reader.forEachChunk(from, to, [&](const Event2D* ev, size_t n, const auto& triggers) {
        collect(d, ev, n, triggers);
    });
    return d;
}

// A reader opened for reading (test failures recorded when it cannot be).
inline std::unique_ptr<DvsFileReader> openReader(const std::string& path) {
    auto r = DvsFileReader::createFileReader(path);
    EXPECT_TRUE(r) << path;
    if (r) {
        EXPECT_TRUE(r->openForReading()) << path;
    }
    return r;
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<Event2D> filterWindow(const std::vector<Event2D>& all, uint64_t from,
                                         uint64_t to) {
    std::vector<Event2D> out;
    for (const auto& e : all)
        if (e.timestamp >= from && e.timestamp < to) out.push_back(e);
    return out;
}

// Hidden temporaries of the safe writers (".name.part-...") in a folder.
inline size_t partFiles(const fs::path& dir) {
    size_t n = 0;
    for (auto& e : fs::directory_iterator(dir))
        n += e.path().filename().string().find(".part-") != std::string::npos;
    return n;
}

// A recording of hand-made words behind our own header.
inline std::string rawFileWith(const ScratchDir& dir, const std::string& name,
                               const std::vector<uint8_t>& words, const DvsFileInfo& info = {}) {
    const std::string header = generateDvsFileHeader(info);
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), words.begin(), words.end());
    writeBytes(dir.file(name), bytes);
    return dir.file(name);
}

// Replaces about one word in `every` of the data after `dataOffset` with
// noise (reserved types, wild times, bases and vectors), the same for a seed.
inline void scrambleWords(std::vector<uint8_t>& bytes, size_t dataOffset, size_t wordBytes,
                          size_t every, size_t first, uint32_t seed) {
    uint32_t x = seed;
    for (size_t at = dataOffset + wordBytes * first; at + wordBytes <= bytes.size();
         at += wordBytes * every) {
        for (size_t i = 0; i < wordBytes; ++i) {
            x = x * 1664525u + 1013904223u;
            bytes[at + i] = uint8_t(x >> 24);
        }
    }
}

#if !defined(_WIN32)
// Writes past the limit fail (EFBIG) the way they do on a full disk; the
// old limit and SIGXFSZ handling come back at the end of the scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : oldHandler_(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit small = old_;
        small.rlim_cur = bytes;
        applied_ = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    bool applied() const { return applied_; }

private:
    rlimit old_{};
    void (*oldHandler_)(int);
    bool applied_ = false;
};
#endif

// Builders of hand-made word streams.
inline void put16(std::vector<uint8_t>& b, uint16_t w) {
    b.push_back(uint8_t(w & 0xFF));
    b.push_back(uint8_t(w >> 8));
}
inline void put32(std::vector<uint8_t>& b, uint32_t w) {
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(w >> (8 * i)));
}

}  // namespace kvtest
