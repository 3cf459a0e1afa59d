#pragma once

// Cases that cannot run on Windows (no FIFOs, umask, POSIX signals or
// fork there) stay in the suite and are reported as skipped with the reason.
// A body that uses POSIX-only calls sits in `#if !defined(_WIN32)` after it.
// Also the scratch folder every test program uses.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

#if defined(_WIN32)
#define VELQORA_SKIP_ON_WINDOWS(reason) GTEST_SKIP() << "not on Windows: " << (reason)
#else
#define VELQORA_SKIP_ON_WINDOWS(reason) static_cast<void>(reason)
#endif

// A fresh folder under the system's temporary folder, removed with its
// contents at the end of the scope; unique per process and per instance.
struct TempDir {
    std::filesystem::path path;
    TempDir() {
        static int n = 0;
#if defined(_WIN32)
        const int pid = ::_getpid();
#else
        const int pid = int(::getpid());
#endif
        path = std::filesystem::temp_directory_path() /
               ("velqora_test_" + std::to_string(pid) + "_" + std::to_string(n++));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};
