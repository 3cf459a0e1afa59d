#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "Logger.h"

using namespace korvane;

namespace {
template <typename F>
std::string captured(F f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

// The level is process-wide; every test starts from the default.
class LoggerTest : public testing::Test {
protected:
    void SetUp() override { Logger::Instance().setLogLevel(Info); }
    void TearDown() override { Logger::Instance().setLogLevel(Info); }
};
}  // namespace

TEST_F(LoggerTest, InfoLineFormatAndDebugDropped) {
    std::string out = captured([] {
        KV_LOG_INFO("recording start");
        KV_LOG_DEBUG("not shown");
    });
    EXPECT_TRUE(std::regex_match(
        out, std::regex(R"(\[\d\d:\d\d:\d\d\.\d{3}\] \[info\] recording start\n)")))
        << out;
}

TEST_F(LoggerTest, LowLevelsCarryFileAndLine) {
    Logger::Instance().setLogLevel(Debug);
    std::string out = captured([] {
        Logger::Instance().log_(Debug, "C:\\src\\mixed/dir\\deep/FuncUtils.cpp", 42, "value %d", 7);
        Logger::Instance().log_(Trace, "plain.cpp", 1, "hidden");
        Logger::Instance().log_(Debug, "nodirs.cpp", 3, "x");
    });
    EXPECT_NE(out.find("] [debug] [FuncUtils.cpp]:[42]:value 7\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("hidden"), std::string::npos);
    EXPECT_NE(out.find("[nodirs.cpp]:[3]:x"), std::string::npos);
}

TEST_F(LoggerTest, LevelMapping) {
    std::string out = captured([] {
        Logger::Instance().log_(Warn, "f", 1, "w");
        Logger::Instance().log_(Error, "f", 1, "e");
        Logger::Instance().log_(Critical, "f", 1, "c");
        Logger::Instance().log_(static_cast<LogLevelType>(9), "f", 1, "nine");
    });
    EXPECT_NE(out.find("[warning] w\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[error] e\n"), std::string::npos);
    EXPECT_NE(out.find("[critical] c\n"), std::string::npos);
    EXPECT_NE(out.find("[info] nine\n"), std::string::npos);

    // An unknown level is stored as it is, maps to info, and drops lower messages.
    Logger::Instance().setLogLevel(static_cast<LogLevelType>(9));
    EXPECT_EQ(int(Logger::Instance().getLogLevel()), 9);
    out = captured([] {
        Logger::Instance().log_(Critical, "f", 1, "below");
        Logger::Instance().log_(static_cast<LogLevelType>(9), "f", 1, "at nine");
    });
    EXPECT_EQ(out.find("below"), std::string::npos);
    EXPECT_NE(out.find("[info] at nine\n"), std::string::npos) << out;
}

TEST_F(LoggerTest, LongMessagesAreCut) {
    std::string longText(2000, 'a');
    std::string out = captured([&] { KV_LOG_INFO("%s", longText.c_str()); });
    auto start = out.find("[info] ") + 7;
    std::string message = out.substr(start, out.size() - start - 1);
    EXPECT_EQ(message, std::string(1023, 'a'));
}
