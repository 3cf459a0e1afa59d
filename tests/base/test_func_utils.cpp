#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "Utils/FuncUtils.h"

#if defined(_WIN32)
#include <windows.h>
#endif

using namespace korvane;

namespace {
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}
}  // namespace

TEST(HeaderTest, ByteForByteWithoutFrameTimestamp) {
    DvsFileInfo info;
    info.serialNumber = "KV0042";
    info.dvsStartTimestamp = 18446744073709551615ull;
    std::string header = generateDvsFileHeader(info);

    auto l = lines(header);
    ASSERT_EQ(l.size(), 15u);
    ASSERT_TRUE(std::regex_match(l[1], std::regex(R"(% date \d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
    std::string expected = "% camera_integrator_name Korvane\n" + l[1] +
                           "\n"
                           "% evt 3.0\n"
                           "% format EVT3; height = 720; width = 1280\n"
                           "% generation 4.2\n"
                           "% geometry 1280x720\n"
                           "% integrator_name Korvane\n"
                           "% plugin_integrator_name Korvane\n"
                           "% plugin_name hal_plugin_korvane\n"
                           "% sensor_generation 4.2\n"
                           "% sensor_name IMX646\n"
                           "% serial_number KV0042\n"
                           "% system_ID 53\n"
                           "% dvs_start_timestamp 18446744073709551615\n"
                           "% end\n";
    EXPECT_EQ(header, expected);
    EXPECT_EQ(header.find('\r'), std::string::npos);
}

TEST(HeaderTest, FrameTimestampAndEmptySerial) {
    DvsFileInfo info;
    info.apsStartTimestamp = 123456;
    auto l = lines(generateDvsFileHeader(info));
    ASSERT_EQ(l.size(), 16u);
    EXPECT_EQ(l[11], "% serial_number ");
    EXPECT_EQ(l[13], "% dvs_start_timestamp 0");
    EXPECT_EQ(l[14], "% aps_start_timestamp 123456");
    EXPECT_EQ(l[15], "% end");
}

TEST(TextUtilsTest, NumbersToText) {
    EXPECT_EQ(hexToString(255, 4), "00FF");
    EXPECT_EQ(hexToString(0x12345, 2), "12345");
    EXPECT_EQ(hexToString(-1, 0), "FFFFFFFF");
    EXPECT_EQ(hexToString(-1, 10), "00FFFFFFFF");
    EXPECT_EQ(intToString(7, 3), "007");
    EXPECT_EQ(intToString(-5, 4), "00-5");
    EXPECT_EQ(intToString(-123, 2), "-123");
    EXPECT_EQ(intToString(INT32_MIN, 0), "-2147483648");
}

TEST(TextUtilsTest, ConvertEndian) {
    std::vector<uint8_t> even{1, 2, 3, 4};
    convertEndian(even);
    EXPECT_EQ(even, (std::vector<uint8_t>{2, 1, 4, 3}));
    std::vector<uint8_t> odd{1, 2, 3};
    convertEndian(odd);
    EXPECT_EQ(odd, (std::vector<uint8_t>{2, 1, 3}));
    std::vector<uint8_t> none;
    convertEndian(none);
    EXPECT_TRUE(none.empty());
}

TEST(CodePageTest, RoundTripsAndFailures) {
    EXPECT_EQ(local8bitToUtf8(""), "");
    EXPECT_EQ(utf8ToLocal8Bit(""), "");
    const std::string path = "/data/recordings/run_01.raw";
    EXPECT_EQ(local8bitToUtf8(utf8ToLocal8Bit(path)), path);

#if defined(_WIN32)
    // The ANSI code page of the process (1252 under an English locale): there
    // e-acute is 0xE9 and C3 A9 in UTF-8; Chinese is not representable.
    if (GetACP() == 1252) {
        EXPECT_EQ(local8bitToUtf8("caf\xE9"), "caf\xC3\xA9");
        EXPECT_EQ(utf8ToLocal8Bit("caf\xC3\xA9"), "caf\xE9");
    }
    // Chinese text survives a round trip through a code page that holds it.
    const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87";
    if (GetACP() == 936) {
        EXPECT_EQ(local8bitToUtf8(utf8ToLocal8Bit(chinese)), chinese);
    }
    std::string longText(100000, 'a');
    EXPECT_EQ(local8bitToUtf8(longText).size(), 100000u);
#else
    // A single-byte code page: e-acute is 0xE9 there and C3 A9 in UTF-8.
    const std::string latin1 = "caf\xE9";
    const std::string utf8 = detail::convertCodeset(latin1, "ISO-8859-1", "UTF-8", "x");
    EXPECT_EQ(utf8, "caf\xC3\xA9");
    EXPECT_EQ(detail::convertCodeset(utf8, "UTF-8", "ISO-8859-1", "x"), latin1);

    // Chinese cannot be written in Latin-1; invalid UTF-8 cannot be read.
    EXPECT_THROW(detail::convertCodeset("\xE4\xB8\xAD", "UTF-8", "ISO-8859-1",
                                        "WideCharToMultiByte failed."),
                 std::runtime_error);
    try {
        detail::convertCodeset("\xFF\xFE", "UTF-8", "UTF-16LE", "MultiByteToWideChar failed.");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "MultiByteToWideChar failed.");
    }
    // A long text grows the output buffer.
    std::string longText(100000, '\xE9');
    EXPECT_EQ(detail::convertCodeset(longText, "ISO-8859-1", "UTF-8", "x").size(), 200000u);
#endif
}
