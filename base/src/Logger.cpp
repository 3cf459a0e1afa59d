#include "Logger.h"

#include <spdlog/sinks/stdout_color_sinks.h>
#if defined(_WIN32)
#include <spdlog/sinks/ansicolor_sink.h>
#endif
#include <spdlog/pattern_formatter.h>
#include <spdlog/spdlog.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace korvane {

namespace {

constexpr const char* kLoggerName = "my_logger";
constexpr const char* kPattern = "[%H:%M:%S.%e] [%^%l%$] %v";
constexpr size_t kBufferSize = 1024;

spdlog::level::level_enum toSpdlog(LogLevelType level) {
    switch (level) {
        case Trace:
            return spdlog::level::trace;
        case Debug:
            return spdlog::level::debug;
        case Warn:
            return spdlog::level::warn;
        case Error:
            return spdlog::level::err;
        case Critical:
            return spdlog::level::critical;
        default:
            return spdlog::level::info;
    }
}

const char* baseName(const char* path) {
    if (!path) return "";
    const char* base = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '/' || *p == '\\') base = p + 1;
    }
    return base;
}

}  // namespace

struct Logger::Impl {
    std::shared_ptr<spdlog::logger> logger;
};

namespace {
// Windows' own colour sink writes to the console handle, past the C
// stream: redirected or captured standard output would miss every line.
// The ANSI sink writes through stdout there too (consoles since Windows 10
// show its colours).
#if defined(_WIN32)
using StdoutSink = spdlog::sinks::ansicolor_stdout_sink_mt;
#else
using StdoutSink = spdlog::sinks::stdout_color_sink_mt;
#endif
}  // namespace

Logger& Logger::Instance() {
    static Logger instance;
    return instance;
}

Logger::Logger() : impl_(std::make_unique<Impl>()), level_(Info) {
    impl_->logger = spdlog::get(kLoggerName);
    if (!impl_->logger) {
        try {
            impl_->logger = spdlog::create<StdoutSink>(kLoggerName, spdlog::color_mode::automatic);
        } catch (const spdlog::spdlog_ex&) {
            // Registered by another thread between the lookup and the creation.
            impl_->logger = spdlog::get(kLoggerName);
        }
    }
    if (!impl_->logger) {
        // That registration was dropped again before we could look: log on a
        // private logger of our own rather than dereference nothing.
        impl_->logger = std::make_shared<spdlog::logger>(
            kLoggerName, std::make_shared<StdoutSink>());
    }
    // Lines end in "\n": on Windows the text-mode stream makes that the
    // system's line end (spdlog's own "\r\n" there came out as "\r\r\n").
    impl_->logger->set_formatter(std::make_unique<spdlog::pattern_formatter>(
        kPattern, spdlog::pattern_time_type::local, "\n"));
    impl_->logger->set_level(spdlog::level::info);
}

Logger::~Logger() = default;

void Logger::log_(LogLevelType level, const char* file, int line, const char* fmt, ...) {
    if (level < level_.load(std::memory_order_relaxed)) return;

    char buffer[kBufferSize];
    va_list args;
    va_start(args, fmt);
    if (fmt) {
        std::vsnprintf(buffer, sizeof buffer, fmt, args);
    } else {
        buffer[0] = '\0';
    }
    va_end(args);

    if (level == Trace || level == Debug) {
        impl_->logger->log(toSpdlog(level), "[{}]:[{}]:{}", baseName(file), line,
                           static_cast<const char*>(buffer));
    } else {
        impl_->logger->log(toSpdlog(level), "{}", static_cast<const char*>(buffer));
    }
}

void Logger::setLogLevel(LogLevelType level) {
    level_.store(level, std::memory_order_relaxed);
    impl_->logger->set_level(toSpdlog(level));
}

LogLevelType Logger::getLogLevel() const {
    return static_cast<LogLevelType>(level_.load(std::memory_order_relaxed));
}

}  // namespace korvane
