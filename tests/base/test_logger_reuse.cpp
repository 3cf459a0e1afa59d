#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <regex>
#include <sstream>

#include "../TestPlatform.h"
#include "Logger.h"

// Runs in its own process: "my_logger" must be registered before the first Instance().
TEST(LoggerReuseTest, ExistingLoggerIsSharedWithPatternAndLevelReset) {
    VELQORA_SKIP_ON_WINDOWS(
        "spdlog is header-only there: the program and the KorvaneBase DLL keep separate registries");
    std::ostringstream sink_text;
    auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(sink_text);
    auto existing = std::make_shared<spdlog::logger>("my_logger", sink);
    existing->set_pattern("%v");
    existing->set_level(spdlog::level::critical);
    spdlog::register_logger(existing);

    testing::internal::CaptureStdout();
    korvane::Logger::Instance().log_(korvane::Info, "f", 1, "recording end");
    std::string stdoutText = testing::internal::GetCapturedStdout();

    EXPECT_TRUE(stdoutText.empty());
    EXPECT_TRUE(std::regex_match(
        sink_text.str(), std::regex(R"(\[\d\d:\d\d:\d\d\.\d{3}\] \[info\] recording end\n)")))
        << sink_text.str();
    spdlog::drop_all();
}
