#pragma once

// The file side's system calls, once for POSIX and once for Windows, so the
// readers and writers hold no platform branches. Paths are UTF-8 here; on
// Windows they go to the wide calls, so every name opens. Files are plain C
// runtime descriptors on both systems (on Windows made from the handle the
// wide call returned). Errors are errno values. Any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

struct FileIdentity;

namespace platform {

// What ends a folder's part of a path: Windows takes both slashes.
#if defined(_WIN32)
inline constexpr const char* kPathSeparators = "/\\";
#else
inline constexpr const char* kPathSeparators = "/";
#endif

enum class FileKind { Missing, Regular, Directory, Link, Fifo, Socket, Other };

struct FileStatus {
    FileKind kind = FileKind::Missing;
    uint64_t size = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t modifiedNs = 0;  // since the epoch
    unsigned mode = 0;       // permission bits
    bool ownedByUser = true;
};

// Opens an existing file for reading without waiting on a FIFO; on Windows
// it shares with a writer still recording (and with removal). -1 and *error.
int openForReading(const std::string& path, int* error);
// Creates a new file that did not exist (never through a link at its name).
int createNew(const std::string& path, unsigned mode, int* error);
// Creates or truncates. waitForReader false: a FIFO without a reader fails
// at once (ENXIO) instead of holding the caller.
int createOrTruncate(const std::string& path, unsigned mode, int* error, bool waitForReader = false);

// Whether a writer that keeps the others out (a recording) holds the file:
// on POSIX its exclusive lock, on Windows its share mode. False when the
// file cannot be opened to ask.
bool heldByWriter(const std::string& path);

bool status(int fd, FileStatus& out);
// followLinks false: a link is reported as FileKind::Link.
bool status(const std::string& path, FileStatus& out, bool followLinks);

// Transfer at the current position or at an offset; -1 and errno on failure,
// interrupted calls are retried.
long long readSome(int fd, void* data, size_t size);
long long writeSome(int fd, const void* data, size_t size);
long long readAt(int fd, void* data, size_t size, uint64_t offset);
bool writeAllAt(int fd, const void* data, size_t size, uint64_t offset);
bool writeAll(int fd, const void* data, size_t size);

// 0 or errno. A file that cannot be synced (a pipe) counts as synced.
int sync(int fd);
// The data only (what is needed to read it back), where the system tells them apart.
int syncData(int fd);
// Whether new files can be made in the folder.
bool canWriteIn(const std::string& dir);
int close(int fd);
int setMode(int fd, unsigned mode);
int truncate(int fd, uint64_t size);
void adviseSequential(int fd, uint64_t offset, uint64_t length);

// 0 or errno.
int remove(const std::string& path);
// Replaces `to` by `from` in one step (no moment without a target).
int replace(const std::string& from, const std::string& to);
std::vector<std::string> listFolder(const std::string& dir);

long processId();
// True only when no process `pid` exists (one of another user still counts).
bool processGone(long pid);

// Per-user folders: the cache (XDG_CACHE_HOME, ~/.cache; Windows: the local
// application data folder, %LOCALAPPDATA%) and the data folder
// (XDG_DATA_HOME, ~/.local/share; Windows: the same local folder). Empty
// when unknown.
std::string userCacheFolder();
std::string userDataFolder();

// Runs `cleanup` (which must be async-signal-safe) when the process is told
// to end: SIGINT and SIGTERM on POSIX where the program has no handler of
// its own, Ctrl+C, Ctrl+Break and console close on Windows; then the
// process ends as it would have. Installed once; later calls do nothing.
void removeOnTermination(void (*cleanup)());
// Holds off the termination cleanup's signals for a scope (POSIX), so a
// file is created and registered as one step.
class TerminationGuard {
public:
    TerminationGuard();
    ~TerminationGuard();
    TerminationGuard(const TerminationGuard&) = delete;
    TerminationGuard& operator=(const TerminationGuard&) = delete;

private:
    alignas(16) unsigned char saved_[128];
};
// Removes a registered temporary from inside the cleanup (async-signal-safe).
void removeInCleanup(const char* path);

std::string errorText(int error);

}  // namespace platform
}  // namespace korvane
