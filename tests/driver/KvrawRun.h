#pragma once

// Runs a tool of this build (kvraw, kvcam) through the system's shell and
// collects its exit status, standard output and standard error.

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#endif

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "DriverTestSupport.h"

namespace kvtest {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// The tool as the shell names it. On Windows the build path is a host path
// (under Wine a Linux one): the tool is taken from beside the test instead.
inline std::string toolCommand(const std::string& builtPath) {
#if defined(_WIN32)
    std::wstring self(MAX_PATH, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), DWORD(self.size())));
    return (std::filesystem::path(self).parent_path() / std::filesystem::path(builtPath).filename())
        .string();
#else
    return builtPath;
#endif
}

// `errFile` empty: standard error is thrown away. `env`: "NAME=VALUE "
// words for the child's environment (POSIX shell only).
inline CliRun runTool(const std::string& builtPath, const std::string& args,
                      const std::string& errFile, const std::string& env = "") {
#if defined(_WIN32)
    const std::string discard = "NUL";
#else
    const std::string discard = "/dev/null";
#endif
    std::string errTarget = errFile.empty() ? discard : errFile;
#if defined(_WIN32)
    for (char& c : errTarget)
        if (c == '/') c = '\\';  // cmd reads a slash as the start of an option
#endif
    const std::string cmd = env + toolCommand(builtPath) + " " + args + " 2>" + errTarget;
    CliRun r;
#if defined(_WIN32)
    // Under Wine a program that is there now and then fails to start: cmd
    // says "not recognized" (9009), or the pipe itself is not made or not
    // closed (-1, with no output). Nothing ran, and our tools never exit
    // with those codes, so the run is tried again.
    const auto notStarted = [](const CliRun& run) {
        return run.status == 9009 || (run.status == -1 && run.out.empty());
    };
    for (int attempt = 0; attempt < 3 && (attempt == 0 || notStarted(r)); ++attempt) {
        r = CliRun();
        FILE* p = ::_popen(cmd.c_str(), "rb");
        if (!p) continue;
#else
    {
        FILE* p = ::popen(cmd.c_str(), "r");
        if (!p) return r;
#endif
        std::array<char, 65536> buf;
        size_t n;
        while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
            r.out.append(buf.data(), n);
#if defined(_WIN32)
        r.status = ::_pclose(p);  // the exit code itself
#else
        const int status = ::pclose(p);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    }
    if (!errFile.empty()) {
        const auto err = readBytes(errFile);
        r.err.assign(err.begin(), err.end());
        std::filesystem::remove(errFile);
    }
    return r;
}

#if defined(KVRAW_PATH)
inline CliRun kvraw(const ScratchDir& dir, const std::string& args) {
    return runTool(KVRAW_PATH, args, dir.file("stderr.txt"));
}
#endif

}  // namespace kvtest
