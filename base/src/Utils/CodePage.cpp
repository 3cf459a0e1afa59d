// Conversion between the system's narrow encoding and UTF-8.
// Windows: the ANSI code page through UTF-16. Elsewhere: iconv with the
// code set of the user's locale (read without touching the global locale).

#include <stdexcept>
#include <string>

#include "Utils/FuncUtils.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstring>
#endif

namespace korvane {

namespace {
constexpr const char* kToWideFailed = "MultiByteToWideChar failed.";
constexpr const char* kFromWideFailed = "WideCharToMultiByte failed.";
}  // namespace

#if defined(_WIN32)

namespace {
std::wstring toWide(const std::string& text, UINT codePage, bool check) {
    int n = MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
    if (n == 0) {
        if (check) throw std::runtime_error(kToWideFailed);
        return {};
    }
    std::wstring wide(size_t(n), L'\0');
    if (MultiByteToWideChar(codePage, 0, text.c_str(), -1, wide.data(), n) == 0) {
        if (check) throw std::runtime_error(kToWideFailed);
        return {};
    }
    wide.resize(size_t(n) - 1);
    return wide;
}

std::string fromWide(const std::wstring& wide, UINT codePage, bool check) {
    int n = WideCharToMultiByte(codePage, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n == 0) {
        if (check) throw std::runtime_error(kFromWideFailed);
        return {};
    }
    std::string out(size_t(n), '\0');
    if (WideCharToMultiByte(codePage, 0, wide.c_str(), -1, out.data(), n, nullptr, nullptr) == 0) {
        if (check) throw std::runtime_error(kFromWideFailed);
        return {};
    }
    out.resize(size_t(n) - 1);
    return out;
}
}  // namespace

std::string local8bitToUtf8(const std::string& text) {
    if (text.empty()) return {};
    return fromWide(toWide(text, CP_ACP, true), CP_UTF8, true);
}

std::string utf8ToLocal8Bit(const std::string& text) {
    if (text.empty()) return {};
    return fromWide(toWide(text, CP_UTF8, false), CP_ACP, false);
}

#else

namespace {

// The narrow code set of the user's locale. The C/POSIX locale reports ASCII;
// Linux paths are plain bytes there, and are taken as UTF-8.
std::string localCodeset() {
    locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return "UTF-8";
    std::string codeset = nl_langinfo_l(CODESET, loc);
    freelocale(loc);
    if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII") return "UTF-8";
    return codeset;
}

bool isUtf8(const std::string& codeset) {
    return strcasecmp(codeset.c_str(), "UTF-8") == 0 || strcasecmp(codeset.c_str(), "UTF8") == 0;
}

}  // namespace

namespace detail {

std::string convertCodeset(const std::string& text, const char* from, const char* to,
                           const char* failureText) {
    if (text.empty()) return {};
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error(failureText);

    std::string out;
    out.resize(text.size() * 4 + 16);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    size_t used = 0;
    bool failed = false;
    while (inLeft > 0) {
        char* dst = out.data() + used;
        size_t dstLeft = out.size() - used;
        size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        used = out.size() - dstLeft;
        if (r != size_t(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        failed = true;  // EILSEQ or EINVAL: not representable or cut short
        break;
    }
    if (!failed) {
        // Flush any shift state of stateful encodings.
        char* dst = out.data() + used;
        size_t dstLeft = out.size() - used;
        if (iconv(cd, nullptr, nullptr, &dst, &dstLeft) == size_t(-1)) failed = true;
        used = out.size() - dstLeft;
    }
    iconv_close(cd);
    if (failed) throw std::runtime_error(failureText);
    out.resize(used);
    return out;
}

}  // namespace detail

std::string local8bitToUtf8(const std::string& text) {
    if (text.empty()) return {};
    std::string codeset = localCodeset();
    if (isUtf8(codeset)) return text;
    return detail::convertCodeset(text, codeset.c_str(), "UTF-8", kToWideFailed);
}

std::string utf8ToLocal8Bit(const std::string& text) {
    if (text.empty()) return {};
    std::string codeset = localCodeset();
    if (isUtf8(codeset)) return text;
    try {
        return detail::convertCodeset(text, "UTF-8", codeset.c_str(), kFromWideFailed);
    } catch (const std::runtime_error&) {
        return {};
    }
}

#endif

}  // namespace korvane
