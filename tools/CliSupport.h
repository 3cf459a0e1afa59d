#pragma once

// What the command-line tools share: their usage and failure errors, number
// parsing, argument splitting and the final check that standard output took
// everything. Text from the command line is escaped before it is printed.

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "korvane/file/RawHeader.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// clang-format off
#include <shellapi.h>
// clang-format on
#endif

namespace cli {

// Arguments as UTF-8, the encoding of every path in our libraries. Windows
// hands main() the ANSI code page, which cannot hold every name: there the
// wide command line is converted (kept in `storage`, which must outlive
// argv). Standard output and error are switched to binary, so lines end in
// a bare line feed as on every other system and scripts compare alike.
inline void useUtf8Arguments(int& argc, char**& argv, std::vector<std::string>& storage) {
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return;
    storage.clear();
    for (int i = 0; i < count; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string s(size_t(n > 0 ? n : 1), '\0');
        if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, s.data(), n, nullptr, nullptr);
        s.resize(s.size() - 1);
        storage.push_back(std::move(s));
    }
    LocalFree(wide);
    static std::vector<char*> pointers;
    pointers.clear();
    for (std::string& s : storage) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    argc = count;
    argv = pointers.data();
#else
    (void)argc;
    (void)argv;
    (void)storage;
#endif
}

struct UsageError {  // exit status 2
    std::string message;
};
struct Failure {  // exit status 1
    std::string message;
};

inline uint64_t parseU64(const std::string& text, const std::string& what) {
    uint64_t v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || p != text.data() + text.size()) {
        throw UsageError{"invalid " + what + ": '" + korvane::printableText(text) + "'"};
    }
    return v;
}

// Positional arguments and --options after the command word.
struct Args {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;  // value empty for flags

    Args(int argc, char** argv, const std::vector<std::string>& valued,
         const std::vector<std::string>& flags = {}) {
        for (int i = 2; i < argc; ++i) {
            std::string a = argv[i];
            if (a.rfind("--", 0) != 0 || a.size() == 2) {
                positional.push_back(a);
                continue;
            }
            if (std::find(flags.begin(), flags.end(), a) != flags.end()) {
                options.emplace_back(a, "");
            } else if (std::find(valued.begin(), valued.end(), a) != valued.end()) {
                if (i + 1 >= argc) throw UsageError{korvane::printableText(a) + " needs a value"};
                options.emplace_back(a, argv[++i]);
            } else {
                throw UsageError{"unknown option " + korvane::printableText(a)};
            }
        }
    }
    bool has(const std::string& name) const {
        for (auto& o : options)
            if (o.first == name) return true;
        return false;
    }
    // The last value given, or the fallback.
    std::string value(const std::string& name, const std::string& fallback) const {
        std::string v = fallback;
        for (auto& o : options)
            if (o.first == name) v = o.second;
        return v;
    }
    // Every value given, in order (for repeatable options).
    std::vector<std::string> all(const std::string& name) const {
        std::vector<std::string> v;
        for (auto& o : options)
            if (o.first == name) v.push_back(o.second);
        return v;
    }
    void expect(size_t n) const {
        if (positional.size() != n) throw UsageError{"wrong number of arguments"};
    }
};

// Standard output must have taken everything: a full disk or a closed
// stream is an error (exit 1); a reader that went away (EPIPE) is not.
inline int finishOutput(const char* program, int status) {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int e = errno;
        if (e == EPIPE) return status;
        std::fprintf(stderr, "%s: error: cannot write output: %s\n", program,
                     e != 0 ? std::strerror(e) : "write error");
        return 1;
    }
    return status;
}

}  // namespace cli
