#pragma once

// Persistence of seek indexes in the per-user cache directory
// ($XDG_CACHE_HOME/velqora/index, else ~/.cache/velqora/index), never next
// to the recording. An index is keyed by the file's absolute path and
// checked against its size and modification time; a file that fails any
// check is ignored (the caller rebuilds). Writes are atomic (temp + rename)
// and best effort: a read-only cache only costs a rebuild next time.

#include <optional>
#include <string>

#include "TimeIndex.h"

namespace korvane {

struct IndexFileKey {
    std::string absolutePath;
    uint64_t fileSizeBytes = 0;
    int64_t modifiedNs = 0;
    uint64_t dataOffsetBytes = 0;
};

class IndexCache {
public:
    // Empty when no cache directory can be found.
    static std::string cacheDirectory();
    static std::string indexPathFor(const std::string& absolutePath);

    // Fills the key from the file system; false when the file cannot be stat'ed.
    static bool keyFor(const std::string& path, uint64_t dataOffsetBytes, IndexFileKey& key);

    static std::optional<TimeIndex> load(const IndexFileKey& key);
    static bool store(const IndexFileKey& key, const TimeIndex& index);
};

}  // namespace korvane
