#pragma once

// Runs the kvraw binary of this build (KVRAW_PATH) in a shell and collects
// its exit status, standard output and standard error.

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "DriverTestSupport.h"

namespace kvtest {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

inline CliRun kvraw(const ScratchDir& dir, const std::string& args) {
    const std::string errFile = dir.file("stderr.txt");
    const std::string cmd = std::string(KVRAW_PATH) + " " + args + " 2>" + errFile;
    CliRun r;
    FILE* p = ::popen(cmd.c_str(), "r");
    std::array<char, 65536> buf;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
        r.out.append(buf.data(), n);
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const auto err = readBytes(errFile);
    r.err.assign(err.begin(), err.end());
    std::filesystem::remove(errFile);
    return r;
}

}  // namespace kvtest
