#include "korvane/file/Platform.h"

// What the file layer builds on its per-system primitives, once for both.

namespace korvane::platform {

bool writeAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const long long n = writeSome(fd, p, size);
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

}  // namespace korvane::platform
