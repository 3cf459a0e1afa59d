#pragma once

// The process-wide logger ("my_logger", colour console on stdout).
// Any thread may log at any time; setLogLevel is meant for set-up.
// Messages below the current level are dropped before formatting; a
// formatted message is cut to 1023 characters.

#include <atomic>
#include <cstdint>
#include <memory>

#include "KorvaneBaseExport.h"

namespace korvane {

enum LogLevelType : int32_t {
    Trace = 0,
    Debug = 1,
    Info = 2,
    Warn = 3,
    Error = 4,
    Critical = 5,
};

class KORVANE_BASE_API Logger {
public:
    static Logger& Instance();

    void log_(LogLevelType level, const char* file, int line, const char* fmt, ...)
        __attribute__((format(printf, 5, 6)));
    void setLogLevel(LogLevelType level);
    LogLevelType getLogLevel() const;

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    Logger();
    ~Logger();

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::atomic<int32_t> level_;
};

}  // namespace korvane

#define KV_LOG(level, ...) \
    ::korvane::Logger::Instance().log_(level, __FILE__, __LINE__, __VA_ARGS__)
#define KV_LOG_TRACE(...) KV_LOG(::korvane::Trace, __VA_ARGS__)
#define KV_LOG_DEBUG(...) KV_LOG(::korvane::Debug, __VA_ARGS__)
#define KV_LOG_INFO(...) KV_LOG(::korvane::Info, __VA_ARGS__)
#define KV_LOG_WARN(...) KV_LOG(::korvane::Warn, __VA_ARGS__)
#define KV_LOG_ERROR(...) KV_LOG(::korvane::Error, __VA_ARGS__)
#define KV_LOG_CRITICAL(...) KV_LOG(::korvane::Critical, __VA_ARGS__)
