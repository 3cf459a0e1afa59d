#include "korvane/file/SafeOutput.h"

#include <limits.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <mutex>

#include "korvane/file/Platform.h"

namespace korvane {

namespace {

// Temporaries to remove when the process is told to end. Slots are claimed
// with a compare-exchange and read by the handler only when armed.
constexpr int kSlots = 16;
char gPaths[kSlots][PATH_MAX];
std::atomic<int> gState[kSlots];  // 0 free, 1 being filled, 2 armed

void removeTemporaries() {
    for (int i = 0; i < kSlots; ++i) {
        if (gState[i].load() == 2) platform::removeInCleanup(gPaths[i]);
    }
}

void installHandlers() {
    platform::removeOnTermination(removeTemporaries);
}

int registerTemporary(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    installHandlers();
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (gState[i].compare_exchange_strong(expected, 1)) {
            std::memcpy(gPaths[i], path.c_str(), path.size() + 1);
            gState[i].store(2);
            return i;
        }
    }
    return -1;
}

void unregisterTemporary(int slot) {
    if (slot >= 0) gState[slot].store(0);
}

uint64_t mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::string randomSuffix() {
    static std::atomic<uint64_t> counter{0};
    const uint64_t seed = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                          (uint64_t(platform::processId()) << 32) ^
                          (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    uint64_t v = mix(seed);
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string s(8, 'x');
    for (char& c : s) {
        c = kChars[v % 62];
        v /= 62;
    }
    return s;
}

}  // namespace

std::string errnoText(int error) {
    return platform::errorText(error);
}

void removeOrphanedFiles(const std::string& dir, const std::string& prefix, long minAge_s) {
    const std::string folder = dir.empty() || dir.back() == '/' ? dir : dir + "/";
    const time_t now = ::time(nullptr);
    for (const std::string& name : platform::listFolder(dir)) {
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        const size_t dash = name.find('-', prefix.size());
        const size_t digits = dash == std::string::npos ? 0 : dash - prefix.size();
        if (digits == 0 || digits > 10 ||
            !std::all_of(name.begin() + long(prefix.size()), name.begin() + long(dash),
                         [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const long pid = std::stol(name.substr(prefix.size(), digits));
        if (pid <= 0 || pid == platform::processId()) continue;
        if (!platform::processGone(pid)) continue;
        const std::string path = folder + name;
        platform::FileStatus st;
        if (!platform::status(path, st, /*followLinks=*/false) ||
            st.kind != platform::FileKind::Regular || !st.ownedByUser ||
            now - st.modifiedNs / 1000000000 < minAge_s)
            continue;
        platform::remove(path);
    }
}

#if defined(_WIN32)
int openInPlaceOutput(const std::string& target, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return -1;
    };
    if (target.empty()) return fail("empty output name");
    platform::FileStatus st;
    if (platform::status(target, st, /*followLinks=*/false)) {
        if (st.kind == platform::FileKind::Link) return fail("output is a symbolic link");
        if (st.kind == platform::FileKind::Directory) return fail("output is a directory");
        if (st.kind != platform::FileKind::Regular)
            return fail("output exists and is not a regular file");
    }
    // The share mode keeps every other writer out until this one closes.
    if (platform::heldByWriter(target)) return fail("output is being written by another recording");
    int e = 0;
    const int fd = platform::createOrTruncate(target, 0666, &e);
    if (fd < 0) return fail(platform::errorText(e));
    return fd;
}
#else
int openInPlaceOutput(const std::string& target, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return -1;
    };
    if (target.empty()) return fail("empty output name");
    struct stat st {};
    // Refused before opening: opening a device may already act on it.
    if (::lstat(target.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) return fail("output is a symbolic link");
        if (S_ISDIR(st.st_mode)) return fail("output is a directory");
        if (!S_ISREG(st.st_mode)) return fail("output exists and is not a regular file");
    } else if (errno != ENOENT) {
        return fail(errnoText(errno));
    }
    // No O_TRUNC: another writer's file is truncated only once the lock is
    // ours. O_NOFOLLOW and O_NONBLOCK: a link or FIFO planted since the check
    // fails instead of redirecting or blocking.
    const int fd =
        ::open(target.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int e = errno;
        if (e == ELOOP) return fail("output is a symbolic link");
        if (e == ENXIO) return fail("output exists and is not a regular file");
        if (e == EISDIR) return fail("output is a directory");
        return fail(errnoText(e));
    }
    auto failClosed = [&](const std::string& why) {
        ::close(fd);
        return fail(why);
    };
    if (::fstat(fd, &st) != 0) return failClosed(errnoText(errno));
    if (!S_ISREG(st.st_mode)) return failClosed("output exists and is not a regular file");
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return failClosed(errno == EWOULDBLOCK ? "output is being written by another recording"
                                               : errnoText(errno));
    }
    if (::ftruncate(fd, 0) != 0) return failClosed(errnoText(errno));
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}
#endif

bool fileIdentity(const std::string& path, FileIdentity& id) {
    platform::FileStatus st;
    if (!platform::status(path, st, /*followLinks=*/true)) return false;
    id.device = st.device;
    id.inode = st.inode;
    return true;
}

SafeOutput::~SafeOutput() {
    abandon();
}

bool SafeOutput::open(const std::string& target, const std::vector<FileIdentity>& inputs,
                      std::string* error) {
    abandon();
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (target.empty()) return fail("empty output name");
    const size_t slash = target.find_last_of(platform::kPathSeparators);
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return fail("output is a directory");

    platform::FileStatus st;
    if (platform::status(target, st, /*followLinks=*/false)) {
        for (const FileIdentity& in : inputs) {
            if (in.device == st.device && in.inode == st.inode) {
                return fail("output is the input");
            }
        }
        if (st.kind == platform::FileKind::Directory) return fail("output is a directory");
        if (st.kind != platform::FileKind::Regular)
            return fail("output exists and is not a regular file");
        // Replacing the name under a recording in progress would lose it.
        if (platform::heldByWriter(target))
            return fail("output is being written by another recording");
        keepMode_ = true;
        mode_ = st.mode;
    } else if (errno != ENOENT) {
        return fail(errnoText(errno));
    } else {
        keepMode_ = false;
    }

    // Short names: the target's own name may already be near NAME_MAX.
    std::string hidden = ".";
    hidden += name.substr(0, std::min(name.size(), kMaxNameStem));
    const std::string stem = (slash == std::string::npos ? std::string() : dir) + hidden;
    // A writer in another process namespace keeps touching its file.
    removeOrphanedFiles(dir, hidden + ".part-", 60);
    // The writer's process id in the name lets a later writer recognise
    // what a killed one left.
    const std::string owner = std::to_string(platform::processId());
    // SIGTERM/SIGINT wait while the temporary is created and registered, so
    // no signal can end the process between the two and leave it behind.
    installHandlers();
    platform::TerminationGuard guard;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = stem + ".part-" + owner + "-" + randomSuffix();
        // Mode 0666: the kernel applies the umask, as for any new file.
        int why = 0;
        int fd = platform::createNew(candidate, 0666, &why);
        if (fd >= 0) {
            fd_ = fd;
            tmp_ = std::move(candidate);
            target_ = target;
            slot_ = registerTemporary(tmp_);
            return true;
        }
        if (why != EEXIST) return fail(errnoText(why));
    }
    return fail("cannot create a temporary file");
}

bool SafeOutput::commit(std::string* error) {
    if (fd_ < 0) {
        if (error) *error = "nothing to write";
        return false;
    }
    int failure = 0;
    failure = platform::sync(fd_);
    if (!failure && keepMode_) failure = platform::setMode(fd_, mode_);
    if (int e = platform::close(fd_); e && !failure) failure = e;
    fd_ = -1;
    if (!failure) {
        // The target may have changed since open(): refuse anything but a
        // regular file or nothing at all.
        platform::FileStatus st;
        if (platform::status(target_, st, /*followLinks=*/false) &&
            st.kind != platform::FileKind::Regular) {
            abandon();
            if (error) *error = "output exists and is not a regular file";
            return false;
        }
        failure = platform::replace(tmp_, target_);
    }
    if (failure) {
        abandon();
        if (error) *error = errnoText(failure);
        return false;
    }
    unregisterTemporary(slot_);
    slot_ = -1;
    tmp_.clear();
    return true;
}

void SafeOutput::abandon() {
    if (fd_ >= 0) platform::close(fd_);
    fd_ = -1;
    if (!tmp_.empty()) platform::remove(tmp_);
    unregisterTemporary(slot_);
    slot_ = -1;
    tmp_.clear();
}

}  // namespace korvane
