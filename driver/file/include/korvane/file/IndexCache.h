#pragma once

// Persistence of seek indexes in the per-user cache directory
// ($XDG_CACHE_HOME/velqora/index, else ~/.cache/velqora/index), never next
// to the recording. An index is keyed by the file's absolute path and
// checked against its size, modification time and a fingerprint of its
// content (first and last 64 KiB and samples in between); a file that fails
// any check is ignored (the caller rebuilds), and so is a cache entry that
// is not a regular file. Writes are atomic (SafeOutput) and best effort: a
// read-only cache only costs a rebuild next time. Any thread.

#include <optional>
#include <string>

#include "korvane/file/TimeIndex.h"

namespace korvane {

class RawFile;

struct IndexFileKey {
    std::string absolutePath;
    uint64_t fileSizeBytes = 0;
    int64_t modifiedNs = 0;
    uint64_t dataOffsetBytes = 0;
    uint64_t fingerprint = 0;
};

class IndexCache {
public:
    // Empty when no cache directory can be found.
    static std::string cacheDirectory();
    static std::string indexPathFor(const std::string& absolutePath);

    // Fills the key for an open file (size and time as opened); false when
    // the path cannot be made absolute.
    static bool keyFor(const RawFile& file, const std::string& path, uint64_t dataOffsetBytes,
                       IndexFileKey& key);
    // The same, opening the file; false when it cannot be opened.
    static bool keyFor(const std::string& path, uint64_t dataOffsetBytes, IndexFileKey& key);

    // Hash of the first and last 64 KiB and samples in between: cheap, and
    // tells apart files of the same size and time stamp.
    static uint64_t fingerprint(const RawFile& file);

    static std::optional<TimeIndex> load(const IndexFileKey& key);
    static bool store(const IndexFileKey& key, const TimeIndex& index);
};

}  // namespace korvane
