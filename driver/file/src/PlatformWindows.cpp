#include "korvane/file/Platform.h"

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
// clang-format off
#include <shlobj.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace korvane::platform {

namespace {

std::wstring wide(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
    return out;
}

std::string narrow(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(size_t(n) - 1);
    return out;
}

int errnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_CANT_RESOLVE_FILENAME:
            return ELOOP;
        default:
            return EIO;
    }
}

// A name part longer than the file system takes comes back as "not found"
// or "invalid name": said as what it is.
int errnoFor(DWORD error, const std::string& path) {
    if (error == ERROR_INVALID_NAME || error == ERROR_FILENAME_EXCED_RANGE ||
        error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) {
        size_t part = 0;
        for (const wchar_t c : wide(path)) {
            part = (c == L'/' || c == L'\\') ? 0 : part + 1;
            if (part > MAX_PATH - 5) return ENAMETOOLONG;  // 255 on NTFS and FAT
        }
    }
    return errnoOf(error);
}

HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// A C runtime descriptor owning the handle (closed with it).
int descriptorFor(HANDLE h, int flags, int* error, const std::string& path) {
    if (h == INVALID_HANDLE_VALUE) {
        if (error) *error = errnoFor(GetLastError(), path);
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        if (error) *error = EMFILE;
    }
    return fd;
}

bool fillFrom(HANDLE h, FileStatus& out) {
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD type = GetFileType(h);
    out = {};
    if (type == FILE_TYPE_PIPE) {
        out.kind = FileKind::Fifo;
        return true;
    }
    if (type == FILE_TYPE_CHAR) {
        out.kind = FileKind::Other;
        return true;
    }
    if (!GetFileInformationByHandle(h, &info)) return false;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        out.kind = FileKind::Link;
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        out.kind = FileKind::Directory;
    else
        out.kind = FileKind::Regular;
    out.size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    out.device = info.dwVolumeSerialNumber;
    out.inode = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    // 100 ns steps since 1601 to nanoseconds since 1970.
    const uint64_t ticks =
        (uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    out.modifiedNs = (int64_t(ticks) - 116444736000000000ll) * 100;
    out.mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444u : 0666u;
    out.ownedByUser = true;
    return true;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string knownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::string out;
    if (SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path) == S_OK) out = narrow(path);
    CoTaskMemFree(path);
    return out;
}

void (*gCleanup)() = nullptr;

BOOL WINAPI consoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            if (gCleanup) gCleanup();
            return FALSE;  // the next handler (by default: end the process) runs
        default:
            return FALSE;
    }
}

}  // namespace

int openForReading(const std::string& path, int* error) {
    // Shared with a writer still recording, and with removal; never waits.
    HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return descriptorFor(h, _O_RDONLY, error, path);
}

int createNew(const std::string& path, unsigned mode, int* error) {
    // CREATE_NEW fails on any existing name, a reparse point included, so
    // nothing planted there is ever written through.
    HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                           (mode & 0200) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY,
                           nullptr);
    return descriptorFor(h, _O_WRONLY, error, path);
}

int createOrTruncate(const std::string& path, unsigned, int* error, bool) {
    HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return descriptorFor(h, _O_WRONLY, error, path);
}

bool heldByWriter(const std::string& path) {
    // Asking to write while sharing everything fails only when a holder
    // shares no writing (a recording); nothing is changed by the open.
    HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

bool status(int fd, FileStatus& out) {
    HANDLE h = handleOf(fd);
    return h != INVALID_HANDLE_VALUE && fillFrom(h, out);
}

bool status(const std::string& path, FileStatus& out, bool followLinks) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = CreateFileW(wide(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                           OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = errnoFor(GetLastError(), path);
        out = {};
        return false;
    }
    const bool ok = fillFrom(h, out);
    CloseHandle(h);
    return ok;
}

long long readSome(int fd, void* data, size_t size) {
    DWORD got = 0;
    const DWORD want = DWORD(std::min<size_t>(size, 1u << 30));
    if (!ReadFile(handleOf(fd), data, want, &got, nullptr)) {
        const DWORD e = GetLastError();
        if (e == ERROR_BROKEN_PIPE || e == ERROR_HANDLE_EOF) return 0;
        errno = errnoOf(e);
        return -1;
    }
    return got;
}

long long writeSome(int fd, const void* data, size_t size) {
    DWORD put = 0;
    const DWORD want = DWORD(std::min<size_t>(size, 1u << 30));
    if (!WriteFile(handleOf(fd), data, want, &put, nullptr)) {
        errno = errnoOf(GetLastError());
        return -1;
    }
    return put;
}

long long readAt(int fd, void* data, size_t size, uint64_t offset) {
    // A positioned read: the shared position is left alone (other threads
    // read the same file at their own offsets).
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD got = 0;
    const DWORD want = DWORD(std::min<size_t>(size, 1u << 30));
    if (!ReadFile(handleOf(fd), data, want, &got, &at)) {
        const DWORD e = GetLastError();
        if (e == ERROR_HANDLE_EOF) return 0;
        errno = errnoOf(e);
        return -1;
    }
    return got;
}

bool writeAllAt(int fd, const void* data, size_t size, uint64_t offset) {
    // A positioned write on a synchronous handle moves the file position:
    // put it back, as pwrite leaves it.
    HANDLE h = handleOf(fd);
    LARGE_INTEGER zero{}, position{};
    if (!SetFilePointerEx(h, zero, &position, FILE_CURRENT)) {
        errno = errnoOf(GetLastError());
        return false;
    }
    struct Restore {
        HANDLE h;
        LARGE_INTEGER at;
        ~Restore() { SetFilePointerEx(h, at, nullptr, FILE_BEGIN); }
    } restore{h, position};
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(offset >> 32);
        DWORD put = 0;
        const DWORD want = DWORD(std::min<size_t>(size, 1u << 30));
        if (!WriteFile(h, p, want, &put, &at) || put == 0) {
            errno = errnoOf(GetLastError());
            return false;
        }
        p += put;
        size -= put;
        offset += put;
    }
    return true;
}

int sync(int fd) {
    HANDLE h = handleOf(fd);
    if (GetFileType(h) != FILE_TYPE_DISK) return 0;
    return FlushFileBuffers(h) ? 0 : errnoOf(GetLastError());
}

int syncData(int fd) {
    return sync(fd);
}

bool canWriteIn(const std::string& dir) {
    // Windows has no access check for creating files short of trying: an
    // existing folder is taken as writable, and a failed create is
    // reported where it happens.
    const DWORD attributes = GetFileAttributesW(wide(dir).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int close(int fd) {
    return ::_close(fd) != 0 ? errno : 0;
}

int setMode(int, unsigned) {
    // Windows files carry no POSIX permission bits; the folder's rights apply.
    return 0;
}

int truncate(int fd, uint64_t size) {
    return ::_chsize_s(fd, int64_t(size)) != 0 ? errno : 0;
}

void adviseSequential(int, uint64_t, uint64_t) {}

int remove(const std::string& path) {
    return DeleteFileW(wide(path).c_str()) ? 0 : errnoFor(GetLastError(), path);
}

int replace(const std::string& from, const std::string& to) {
    // A read-only target is the user's "do not replace": Windows refuses the
    // move itself, but not every layer that emulates it does, so say so here.
    const DWORD attributes = GetFileAttributesW(wide(to).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return EACCES;
    // Atomic on NTFS: the target is never missing.
    return MoveFileExW(wide(from).c_str(), wide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : errnoFor(GetLastError(), to);
}

std::vector<std::string> listFolder(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW data{};
    const std::string pattern = (dir.empty() ? std::string(".") : dir) + "/*";
    HANDLE h = FindFirstFileW(wide(pattern).c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        names.push_back(narrow(data.cFileName));
    } while (FindNextFileW(h, &data));
    FindClose(h);
    return names;
}

long processId() {
    return long(GetCurrentProcessId());
}

bool processGone(long pid) {
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!h) return GetLastError() == ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    const bool ended = GetExitCodeProcess(h, &code) && code != STILL_ACTIVE;
    CloseHandle(h);
    return ended;
}

// %LOCALAPPDATA% as the session sets it (so a test or a portable setup can
// point it elsewhere), else the known folder it names.
std::string localAppData() {
    if (const wchar_t* env = _wgetenv(L"LOCALAPPDATA"); env && *env) return narrow(env);
    return knownFolder(FOLDERID_LocalAppData);
}

std::string userCacheFolder() {
    return localAppData();
}

std::string userDataFolder() {
    return localAppData();
}

void removeOnTermination(void (*cleanup)()) {
    static std::once_flag once;
    std::call_once(once, [cleanup] {
        gCleanup = cleanup;
        SetConsoleCtrlHandler(consoleControl, TRUE);
    });
}

// The console handler runs on a thread of its own, not inside another
// thread's code: nothing to hold off.
TerminationGuard::TerminationGuard() : saved_{} {}
TerminationGuard::~TerminationGuard() = default;

void removeInCleanup(const char* path) {
    std::wstring w(MAX_PATH * 4, L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, path, -1, w.data(), int(w.size()));
    if (n > 0) DeleteFileW(w.c_str());
}

std::string errorText(int error) {
    return std::strerror(error);
}

}  // namespace korvane::platform
