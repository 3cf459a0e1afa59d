// A whole file through the reader: header, index, time range, windows, cut.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "korvane/file/DvsFileReader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Keep the index cache out of the way: an unwritable location.
    ::setenv("XDG_CACHE_HOME", "/proc/velqora-fuzz-no-cache", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = ::memfd_create("raw", 0);
    if (fd < 0) return 0;
    if (size && ::write(fd, data, size) != ssize_t(size)) {
        ::close(fd);
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (auto r = korvane::DvsFileReader::createFileReader(path, nullptr)) {
        r->openForReading();
        uint64_t start = 0, end = 0;
        r->getStartTime(start);
        r->getEndTime(end);
        korvane::DvsFileInfo info;
        r->getFileInfo(info);
        // Every window holds exactly the events of the whole decode that lie in
        // it, wherever the time went back.
        std::vector<korvane::Event2D> all;
        r->forEachChunk(0, UINT64_MAX, [&](const korvane::Event2D* ev, size_t n, const auto&) {
            all.insert(all.end(), ev, ev + n);
        });
        // The parallel walk gives the same events, whole and in ranges.
        std::vector<korvane::Event2D> parallel;
        auto collect = [&](const korvane::Event2D* ev, size_t n, const auto&) {
            parallel.insert(parallel.end(), ev, ev + n);
        };
        r->forEachChunkParallel(0, UINT64_MAX, collect, 2);
        if (parallel != all) std::abort();
        const uint64_t span = end - start + 1;
        parallel.clear();
        r->forEachChunkParallel(start + span / 3, start + span / 2, collect, 2);
        size_t p = 0;
        for (auto& e : all) {
            if (e.timestamp < start + span / 3 || e.timestamp >= start + span / 2) continue;
            if (p >= parallel.size() || !(parallel[p] == e)) std::abort();
            ++p;
        }
        if (p != parallel.size()) std::abort();
        for (uint64_t k = 0; k < 4; ++k) {
            uint64_t at = start + span * k / 4;
            const uint64_t to = at + span / 3 + 1;
            if (auto b = r->readEventsInWindow(at, span / 3 + 1)) {
                size_t i = 0;
                for (auto& e : all) {
                    if (e.timestamp < at || e.timestamp >= to) continue;
                    if (i >= b->size() || !((*b)[i] == e)) std::abort();
                    ++i;
                }
                if (i != b->size()) std::abort();
            }
            r->seekToTime(at);
            r->readEventsFor(span / 5 + 1);
            r->readTriggersInWindow(at, span);
        }
    }
    ::close(fd);
    return 0;
}
