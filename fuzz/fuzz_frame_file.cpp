// A whole file through the frame reader: open, every frame, seeks and
// rewinds at the file's own times and around them. FFmpeg does the parsing
// and decoding; this catches what our side does with what it reports.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "korvane/video/ApsFileReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = ::memfd_create("mp4", 0);
    if (fd < 0) return 0;
    if (size && ::write(fd, data, size) != ssize_t(size)) {
        ::close(fd);
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (auto r = korvane::ApsFileReader::createFileReader(path); r && r->openForReading()) {
        korvane::ApsFrame f(1, 1);
        for (int n = 0; n < 64 && r->readNextFrame(f); ++n) {
        }
        std::vector<uint64_t> times;
        r->getFrameTimestamps(times);
        for (size_t i = 0; i < times.size() && i < 8; ++i) {
            r->readFrameAt(times[i], f);
            r->readFrameAt(times[i] + 1, f);
            r->rewind(times[i]);
            r->readNextFrame(f);
        }
        r->readFrameAt(UINT64_MAX, f);
        r->rewind(0);
        r->readNextFrame(f);
    }
    ::close(fd);
    return 0;
}
