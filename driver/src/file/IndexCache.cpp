#include "IndexCache.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace korvane {

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[8] = {'K', 'V', 'I', 'D', 'X', '\r', '\n', '\x1a'};
constexpr uint32_t kVersion = 1;
constexpr size_t kEntryBytes = 8 + 8 + 8 + 8 + 2 + 2 + 2 + 1 + 1;

uint64_t fnv1a(const uint8_t* p, size_t n, uint64_t h = 1469598103934665603ull) {
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}

class Writer {
public:
    void u8(uint8_t v) { bytes.push_back(v); }
    void u16(uint16_t v) { raw(&v, 2); }
    void u32(uint32_t v) { raw(&v, 4); }
    void u64(uint64_t v) { raw(&v, 8); }
    void raw(const void* p, size_t n) {
        const size_t at = bytes.size();
        bytes.resize(at + n);
        std::memcpy(bytes.data() + at, p, n);
    }
    std::vector<uint8_t> bytes;
};

class Reader {
public:
    Reader(const std::vector<uint8_t>& b, size_t end) : bytes(b), limit(end) {}
    bool u8(uint8_t& v) { return raw(&v, 1); }
    bool u16(uint16_t& v) { return raw(&v, 2); }
    bool u32(uint32_t& v) { return raw(&v, 4); }
    bool u64(uint64_t& v) { return raw(&v, 8); }
    bool raw(void* p, size_t n) {
        if (limit - pos < n) return false;
        std::memcpy(p, bytes.data() + pos, n);
        pos += n;
        return true;
    }
    size_t remaining() const { return limit - pos; }

private:
    const std::vector<uint8_t>& bytes;
    size_t limit;
    size_t pos = 0;
};

}  // namespace

std::string IndexCache::cacheDirectory() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && *xdg == '/') return std::string(xdg) + "/velqora/index";
    const char* home = std::getenv("HOME");
    if (home && *home == '/') return std::string(home) + "/.cache/velqora/index";
    return {};
}

std::string IndexCache::indexPathFor(const std::string& absolutePath) {
    std::string dir = cacheDirectory();
    if (dir.empty()) return {};
    uint64_t h = fnv1a(reinterpret_cast<const uint8_t*>(absolutePath.data()), absolutePath.size());
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.kvidx", static_cast<unsigned long long>(h));
    return dir + "/" + name;
}

bool IndexCache::keyFor(const std::string& path, uint64_t dataOffsetBytes, IndexFileKey& key) {
    std::error_code ec;
    fs::path abs = fs::absolute(path, ec);
    if (ec) return false;
    struct stat st {};
    if (::stat(abs.c_str(), &st) != 0) return false;
    key.absolutePath = abs.lexically_normal().string();
    key.fileSizeBytes = uint64_t(st.st_size);
    key.modifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    key.dataOffsetBytes = dataOffsetBytes;
    return true;
}

std::optional<TimeIndex> IndexCache::load(const IndexFileKey& key) {
    std::string path = indexPathFor(key.absolutePath);
    if (path.empty()) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (bytes.size() < sizeof kMagic + 8) return std::nullopt;

    const size_t body = bytes.size() - 8;
    uint64_t stored = 0;
    std::memcpy(&stored, bytes.data() + body, 8);
    if (stored != fnv1a(bytes.data(), body)) return std::nullopt;

    Reader r(bytes, body);
    char magic[8];
    uint32_t version = 0, format = 0, pathLen = 0;
    uint64_t size = 0, mtime = 0, dataOffset = 0, step = 0, count = 0;
    if (!r.raw(magic, 8) || std::memcmp(magic, kMagic, 8) != 0) return std::nullopt;
    if (!r.u32(version) || version != kVersion) return std::nullopt;
    if (!r.u32(format) || format > uint32_t(RawFormat::Evt2)) return std::nullopt;
    if (!r.u64(size) || !r.u64(mtime) || !r.u64(dataOffset) || !r.u64(step)) return std::nullopt;
    if (size != key.fileSizeBytes || int64_t(mtime) != key.modifiedNs ||
        dataOffset != key.dataOffsetBytes || step == 0) {
        return std::nullopt;
    }
    if (!r.u32(pathLen) || pathLen != key.absolutePath.size()) return std::nullopt;
    std::string storedPath(pathLen, '\0');
    if (!r.raw(storedPath.data(), pathLen) || storedPath != key.absolutePath) return std::nullopt;
    if (!r.u64(count) || count == 0 || count > r.remaining() / kEntryBytes ||
        r.remaining() != count * kEntryBytes) {
        return std::nullopt;
    }

    TimeIndex index;
    index.setFormat(static_cast<RawFormat>(format));
    index.setStepBytes(step);
    auto& entries = index.entries();
    entries.resize(size_t(count));
    for (IndexEntry& e : entries) {
        uint8_t pol = 0, have = 0;
        r.u64(e.offsetBytes);
        r.u64(e.keyTime);
        r.u64(e.state.timeHigh);
        r.u64(e.state.time);
        r.u16(e.state.low);
        r.u16(e.state.y);
        r.u16(e.state.baseX);
        r.u8(pol);
        r.u8(have);
        e.state.polarity = pol;
        e.state.haveTime = have != 0;
    }
    // Offsets must climb inside the data and keys must never fall.
    if (entries.front().offsetBytes != dataOffset) return std::nullopt;
    for (size_t i = 1; i < entries.size(); ++i) {
        if (entries[i].offsetBytes <= entries[i - 1].offsetBytes ||
            entries[i].offsetBytes >= size || entries[i].keyTime < entries[i - 1].keyTime) {
            return std::nullopt;
        }
    }
    return index;
}

bool IndexCache::store(const IndexFileKey& key, const TimeIndex& index) {
    std::string path = indexPathFor(key.absolutePath);
    if (path.empty() || index.empty()) return false;
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    if (ec) return false;

    Writer w;
    w.raw(kMagic, 8);
    w.u32(kVersion);
    w.u32(uint32_t(index.format()));
    w.u64(key.fileSizeBytes);
    w.u64(uint64_t(key.modifiedNs));
    w.u64(key.dataOffsetBytes);
    w.u64(index.stepBytes());
    w.u32(uint32_t(key.absolutePath.size()));
    w.raw(key.absolutePath.data(), key.absolutePath.size());
    w.u64(index.entries().size());
    for (const IndexEntry& e : index.entries()) {
        w.u64(e.offsetBytes);
        w.u64(e.keyTime);
        w.u64(e.state.timeHigh);
        w.u64(e.state.time);
        w.u16(e.state.low);
        w.u16(e.state.y);
        w.u16(e.state.baseX);
        w.u8(e.state.polarity);
        w.u8(e.state.haveTime ? 1 : 0);
    }
    w.u64(fnv1a(w.bytes.data(), w.bytes.size()));

    static std::atomic<unsigned> counter{0};
    std::string tmp = path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(reinterpret_cast<const char*>(w.bytes.data()), std::streamsize(w.bytes.size()));
        out.flush();
        if (!out) {
            out.close();
            fs::remove(tmp, ec);
            return false;
        }
    }
    fs::rename(tmp, path, ec);
    if (ec) {
        fs::remove(tmp, ec);
        return false;
    }
    return true;
}

}  // namespace korvane
