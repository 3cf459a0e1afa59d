#include "korvane/file/IndexCache.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "korvane/file/Platform.h"
#include "korvane/file/RawFile.h"
#include "korvane/file/SafeOutput.h"

namespace korvane {

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[8] = {'K', 'V', 'I', 'D', 'X', '\r', '\n', '\x1a'};
constexpr uint32_t kVersion = 5;  // 5: each stretch's event bound
constexpr size_t kEntryBytes = 8 + 8 + 8 + 8 + 2 + 2 + 2 + 1 + 1 + 8 + 1 + 8;
constexpr size_t kFixedBytes = 8 + 4 + 4 + 8 * 6 + 1 + 8 + 8 + 4 + 8 + 8;

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
        // insert, not resize + memcpy: GCC 12 misreads the latter once
        // inlined (-Wstringop-overflow).
        const auto* b = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
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
    const std::string base = platform::userCacheFolder();
    return base.empty() ? base : base + "/velqora/index";
}

std::string IndexCache::indexPathFor(const std::string& absolutePath) {
    std::string dir = cacheDirectory();
    if (dir.empty()) return {};
    uint64_t h = fnv1a(reinterpret_cast<const uint8_t*>(absolutePath.data()), absolutePath.size());
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.kvidx", static_cast<unsigned long long>(h));
    return dir + "/" + name;
}

uint64_t IndexCache::fingerprint(const RawFile& file) {
    constexpr uint64_t kEdge = 64 * 1024, kSample = 4096;
    constexpr int kSamples = 8;
    const uint64_t size = file.size();
    std::vector<uint8_t> buf(static_cast<size_t>(kEdge));
    uint64_t h = fnv1a(reinterpret_cast<const uint8_t*>(&size), sizeof size);
    auto take = [&](uint64_t offset, uint64_t length) {
        const size_t got = file.readAt(offset, buf.data(), size_t(length));
        h = fnv1a(buf.data(), got, h);
    };
    take(0, std::min(kEdge, size));
    if (size > kEdge) take(size - std::min(kEdge, size - kEdge), std::min(kEdge, size - kEdge));
    if (size > 2 * kEdge + kSample) {
        const uint64_t inner = size - 2 * kEdge - kSample;
        for (int i = 1; i <= kSamples; ++i)
            take(kEdge + inner / (kSamples + 1) * uint64_t(i), kSample);
    }
    return h;
}

bool IndexCache::keyFor(const RawFile& file, const std::string& path, uint64_t dataOffsetBytes,
                        IndexFileKey& key) {
    // Through UTF-8 explicitly: on Windows a narrow path would be read in
    // the ANSI code page, which cannot hold every name.
    std::error_code ec;
    fs::path abs = fs::absolute(fs::path(std::u8string(path.begin(), path.end())), ec);
    if (ec || !file.isOpen()) return false;
    const std::u8string normal = abs.lexically_normal().u8string();
    key.absolutePath.assign(normal.begin(), normal.end());
    key.fileSizeBytes = file.size();
    key.modifiedNs = file.modifiedNs();
    key.dataOffsetBytes = dataOffsetBytes;
    key.fingerprint = fingerprint(file);
    return true;
}

bool IndexCache::keyFor(const std::string& path, uint64_t dataOffsetBytes, IndexFileKey& key) {
    RawFile file;
    return file.open(path) && keyFor(file, path, dataOffsetBytes, key);
}

namespace {

// The whole cache entry, if it is a regular file of a plausible size;
// nothing for a folder, a FIFO (never waited on) or a link to a device.
std::optional<std::vector<uint8_t>> readEntry(const std::string& path, uint64_t maxBytes) {
    const int fd = platform::openForReading(path, nullptr);
    if (fd < 0) return std::nullopt;
    platform::FileStatus st;
    std::optional<std::vector<uint8_t>> out;
    if (platform::status(fd, st) && st.kind == platform::FileKind::Regular && st.size <= maxBytes) {
        std::vector<uint8_t> bytes(size_t(st.size));
        size_t done = 0;
        while (done < bytes.size()) {
            const long long n = platform::readSome(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += size_t(n);
        }
        if (done == bytes.size()) out = std::move(bytes);
    }
    platform::close(fd);
    return out;
}

}  // namespace

std::optional<TimeIndex> IndexCache::load(const IndexFileKey& key) {
    std::string path = indexPathFor(key.absolutePath);
    if (path.empty()) return std::nullopt;
    // At most one entry per 32 bytes of data (the smallest step) plus two.
    const uint64_t maxBytes =
        kFixedBytes + key.absolutePath.size() + (key.fileSizeBytes / 32 + 2) * kEntryBytes;
    auto entry = readEntry(path, maxBytes);
    if (!entry) return std::nullopt;
    const std::vector<uint8_t>& bytes = *entry;
    if (bytes.size() < sizeof kMagic + 8) return std::nullopt;

    const size_t body = bytes.size() - 8;
    uint64_t stored = 0;
    std::memcpy(&stored, bytes.data() + body, 8);
    if (stored != fnv1a(bytes.data(), body)) return std::nullopt;

    Reader r(bytes, body);
    char magic[8];
    uint32_t version = 0, format = 0, pathLen = 0;
    uint64_t size = 0, mtime = 0, dataOffset = 0, step = 0, count = 0, print = 0;
    uint64_t first = 0, last = 0;
    uint8_t hasEvents = 0;
    if (!r.raw(magic, 8) || std::memcmp(magic, kMagic, 8) != 0) return std::nullopt;
    if (!r.u32(version) || version != kVersion) return std::nullopt;
    if (!r.u32(format) || format > uint32_t(RawFormat::Evt2)) return std::nullopt;
    if (!r.u64(size) || !r.u64(mtime) || !r.u64(dataOffset) || !r.u64(step) || !r.u64(print) ||
        !r.u8(hasEvents) || !r.u64(first) || !r.u64(last)) {
        return std::nullopt;
    }
    if (size != key.fileSizeBytes || int64_t(mtime) != key.modifiedNs ||
        dataOffset != key.dataOffsetBytes || print != key.fingerprint || step == 0 ||
        hasEvents > 1 || first > last) {
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
        uint8_t pol = 0, have = 0, eventWords = 0;
        r.u64(e.offsetBytes);
        r.u64(e.keyTime);
        r.u64(e.state.timeHigh);
        r.u64(e.state.time);
        r.u16(e.state.low);
        r.u16(e.state.y);
        r.u16(e.state.baseX);
        r.u8(pol);
        r.u8(have);
        r.u64(e.minTime);
        r.u8(eventWords);
        r.u64(e.eventBound);
        e.state.polarity = pol;
        e.state.haveTime = have != 0;
        e.eventWords = eventWords != 0;
    }
    EventSpan span;
    span.known = true;
    span.hasEvents = hasEvents != 0;
    span.first_us = span.hasEvents ? first : 0;
    span.last_us = span.hasEvents ? last : 0;
    index.setSpan(span);
    // Offsets must climb inside the data and keys must never fall; no
    // stretch may claim more events than its words can give (a reader sizes
    // memory by it).
    if (entries.front().offsetBytes != dataOffset) return std::nullopt;
    const uint64_t perWord = format == uint32_t(RawFormat::Evt2) ? 1 : 12;
    const uint64_t wordBytes = wordSizeBytes(static_cast<RawFormat>(format));
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i > 0 &&
            (entries[i].offsetBytes <= entries[i - 1].offsetBytes ||
             entries[i].offsetBytes >= size || entries[i].keyTime < entries[i - 1].keyTime)) {
            return std::nullopt;
        }
        const uint64_t end = i + 1 < entries.size() ? entries[i + 1].offsetBytes : size;
        if (end > entries[i].offsetBytes &&
            entries[i].eventBound > (end - entries[i].offsetBytes) / wordBytes * perWord) {
            return std::nullopt;
        }
    }
    index.finish();
    return index;
}

bool IndexCache::store(const IndexFileKey& key, const TimeIndex& index) {
    std::string path = indexPathFor(key.absolutePath);
    if (path.empty() || index.empty() || !index.span().known) return false;
    std::error_code ec;
    fs::create_directories(fs::path(std::u8string(path.begin(), path.end())).parent_path(), ec);
    if (ec) return false;
    // A FIFO or link planted at the entry's name is replaced; a folder stays
    // (and the index is simply not kept).
    platform::FileStatus st;
    if (platform::status(path, st, /*followLinks=*/false) &&
        st.kind != platform::FileKind::Regular && st.kind != platform::FileKind::Directory) {
        platform::remove(path);
    }

    Writer w;
    w.raw(kMagic, 8);
    w.u32(kVersion);
    w.u32(uint32_t(index.format()));
    w.u64(key.fileSizeBytes);
    w.u64(uint64_t(key.modifiedNs));
    w.u64(key.dataOffsetBytes);
    w.u64(index.stepBytes());
    w.u64(key.fingerprint);
    w.u8(index.span().hasEvents ? 1 : 0);
    w.u64(index.span().first_us);
    w.u64(index.span().last_us);
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
        w.u64(e.minTime);
        w.u8(e.eventWords ? 1 : 0);
        w.u64(e.eventBound);
    }
    w.u64(fnv1a(w.bytes.data(), w.bytes.size()));

    SafeOutput out;
    if (!out.open(path, {}, nullptr)) return false;
    // On failure the temporary goes with `out`.
    if (!platform::writeAll(out.fd(), w.bytes.data(), w.bytes.size())) return false;
    return out.commit(nullptr);
}

}  // namespace korvane
