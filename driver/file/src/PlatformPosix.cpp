#include "korvane/file/Platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

static_assert(sizeof(sigset_t) <= 128, "TerminationGuard keeps a sigset_t");

namespace korvane::platform {

namespace {

FileKind kindOf(mode_t m) {
    if (S_ISREG(m)) return FileKind::Regular;
    if (S_ISDIR(m)) return FileKind::Directory;
    if (S_ISLNK(m)) return FileKind::Link;
    if (S_ISFIFO(m)) return FileKind::Fifo;
    if (S_ISSOCK(m)) return FileKind::Socket;
    return FileKind::Other;
}

void fill(const struct stat& st, FileStatus& out) {
    out.kind = kindOf(st.st_mode);
    out.size = uint64_t(st.st_size);
    out.device = uint64_t(st.st_dev);
    out.inode = uint64_t(st.st_ino);
    out.modifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    out.mode = unsigned(st.st_mode & 07777);
    out.ownedByUser = st.st_uid == ::geteuid();
}

// Opened with O_NONBLOCK (a FIFO must not hold the caller); the flag is
// cleared again for the ordinary blocking transfers.
int openNonBlocking(const std::string& path, int flags, unsigned mode, int* error) {
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode_t(mode));
    if (fd < 0) {
        if (error) *error = errno;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

void (*gCleanup)() = nullptr;

extern "C" void cleanupAndEnd(int sig) {
    if (gCleanup) gCleanup();
    // SA_RESETHAND restored the default action: end as the signal asks.
    ::raise(sig);
}

}  // namespace

int openForReading(const std::string& path, int* error) {
    return openNonBlocking(path, O_RDONLY, 0, error);
}

int createNew(const std::string& path, unsigned mode, int* error) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_t(mode));
    if (fd < 0 && error) *error = errno;
    return fd;
}

int createOrTruncate(const std::string& path, unsigned mode, int* error, bool waitForReader) {
    if (!waitForReader) return openNonBlocking(path, O_WRONLY | O_CREAT | O_TRUNC, mode, error);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode_t(mode));
    if (fd < 0 && error) *error = errno;
    return fd;
}

bool heldByWriter(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

bool status(int fd, FileStatus& out) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    fill(st, out);
    return true;
}

bool status(const std::string& path, FileStatus& out, bool followLinks) {
    struct stat st {};
    const int r = followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    if (r != 0) {
        out = {};
        return false;
    }
    fill(st, out);
    return true;
}

long long readSome(int fd, void* data, size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

long long writeSome(int fd, const void* data, size_t size) {
    for (;;) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

long long readAt(int fd, void* data, size_t size, uint64_t offset) {
    for (;;) {
        const ssize_t n = ::pread(fd, data, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

bool writeAllAt(int fd, const void* data, size_t size, uint64_t offset) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
        offset += uint64_t(n);
    }
    return true;
}

int sync(int fd) {
    return ::fsync(fd) != 0 && errno != EINVAL ? errno : 0;
}

int syncData(int fd) {
    return ::fdatasync(fd) != 0 && errno != EINVAL ? errno : 0;
}

bool canWriteIn(const std::string& dir) {
    return ::access(dir.c_str(), W_OK | X_OK) == 0;
}

int close(int fd) {
    return ::close(fd) != 0 ? errno : 0;
}

int setMode(int fd, unsigned mode) {
    return ::fchmod(fd, mode_t(mode)) != 0 ? errno : 0;
}

int truncate(int fd, uint64_t size) {
    return ::ftruncate(fd, off_t(size)) != 0 ? errno : 0;
}

void adviseSequential(int fd, uint64_t offset, uint64_t length) {
    if (fd >= 0) ::posix_fadvise(fd, off_t(offset), off_t(length), POSIX_FADV_SEQUENTIAL);
}

int remove(const std::string& path) {
    return ::unlink(path.c_str()) != 0 ? errno : 0;
}

int replace(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) != 0 ? errno : 0;
}

std::vector<std::string> listFolder(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return names;
    while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    ::closedir(d);
    return names;
}

long processId() {
    return long(::getpid());
}

bool processGone(long pid) {
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

std::string userCacheFolder() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && *xdg == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home && *home == '/') return std::string(home) + "/.cache";
    return {};
}

std::string userDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg) return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share";
}

void removeOnTermination(void (*cleanup)()) {
    static std::once_flag once;
    std::call_once(once, [cleanup] {
        gCleanup = cleanup;
        for (int sig : {SIGTERM, SIGINT}) {
            struct sigaction old {};
            if (::sigaction(sig, nullptr, &old) != 0) continue;
            // A program with its own handling (or one that ignores the
            // signal) keeps it.
            if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
            struct sigaction sa {};
            sa.sa_handler = cleanupAndEnd;
            sigemptyset(&sa.sa_mask);
            sa.sa_flags = SA_RESETHAND;
            ::sigaction(sig, &sa, nullptr);
        }
    });
}

TerminationGuard::TerminationGuard() {
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGTERM);
    sigaddset(&endSignals, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &endSignals, reinterpret_cast<sigset_t*>(saved_));
}

TerminationGuard::~TerminationGuard() {
    ::pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(saved_), nullptr);
}

void removeInCleanup(const char* path) {
    ::unlink(path);
}

std::string errorText(int error) {
    return std::strerror(error);
}

}  // namespace korvane::platform
