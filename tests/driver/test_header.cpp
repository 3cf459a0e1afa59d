// The RAW header: our own, other tools', odd and enormous ones. Every text is
// parsed twice, from a buffer and by the file reader in 64 KiB pieces (lines
// straddle them), and both must agree.

#include <gtest/gtest.h>

#include "DriverTestSupport.h"
#include "korvane/file/RawFile.h"
#include "korvane/file/RawHeader.h"

using namespace kvtest;

namespace {

RawHeader parse(const std::string& text) {
    const RawHeader b = parseRawHeader(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    static ScratchDir dir;
    writeBytes(dir.file("h.raw"), {text.begin(), text.end()});
    RawFile file;
    EXPECT_TRUE(file.open(dir.file("h.raw")));
    const RawHeader a = readRawHeader(file);
    const std::string what = text.substr(0, 40);
    EXPECT_EQ(a.dataOffsetBytes, b.dataOffsetBytes) << what;
    EXPECT_EQ(a.serialNumber, b.serialNumber) << what;
    EXPECT_EQ(a.format, b.format) << what;
    EXPECT_EQ(a.width, b.width) << what;
    EXPECT_EQ(a.apsStartTimestamp, b.apsStartTimestamp) << what;
    EXPECT_EQ(a.hasHeader, b.hasHeader) << what;
    return b;
}

}  // namespace

TEST(RawHeaderTest, OurOwnHeader) {
    DvsFileInfo info;
    info.serialNumber = "KV12";
    info.dvsStartTimestamp = 777;
    info.apsStartTimestamp = 888;
    std::string text = generateDvsFileHeader(info);
    // Binary data that itself begins with '%' must not be taken as header.
    RawHeader h = parse(text + "%\x80\n\x01");
    EXPECT_EQ(h.format, RawFormat::Evt3);
    EXPECT_EQ(h.dataOffsetBytes, text.size());
    EXPECT_EQ(h.serialNumber, "KV12");
    EXPECT_EQ(h.dvsStartTimestamp, 777u);
    EXPECT_EQ(h.apsStartTimestamp, 888u);
    EXPECT_EQ(h.width, 1280u);
    EXPECT_EQ(h.height, 720u);
}

TEST(RawHeaderTest, OtherToolsHeaders) {
    const std::string text =
        "% Date 2020-01-01 10:00:00\r\n% firmware_version 3.1\n% evt 2.0\n"
        "% format EVT2;height=480;width=640\n% plugin_name other\n";
    RawHeader h = parse(text + "\x01\x02");
    EXPECT_EQ(h.format, RawFormat::Evt2);
    EXPECT_EQ(h.width, 640u);
    EXPECT_EQ(h.height, 480u);
    EXPECT_TRUE(h.serialNumber.empty());
    EXPECT_EQ(h.dvsStartTimestamp, 0u);
    EXPECT_EQ(h.dataOffsetBytes, text.size());

    EXPECT_EQ(parse("% geometry 346x260\n").width, 346u);
    EXPECT_EQ(parse("% evt 3.0\n").format, RawFormat::Evt3);
    EXPECT_EQ(parse("no header at all").format, RawFormat::Evt3);
    EXPECT_EQ(parse("no header at all").dataOffsetBytes, 0u);
    EXPECT_FALSE(parse("").hasHeader);
    parse("%");

    RawHeader unknown = parse("% evt 2.1\n");
    EXPECT_EQ(unknown.format, RawFormat::Unknown);
    EXPECT_EQ(parse("% format EVT21;height=720;width=1280\n").format, RawFormat::Unknown);
    EXPECT_EQ(parse("% format HVGA\n").formatName, "HVGA");
    // Nonsense numbers leave the defaults.
    RawHeader odd = parse("% geometry 0x99999999\n% dvs_start_timestamp -5\n");
    EXPECT_EQ(odd.width, 1280u);
    EXPECT_EQ(odd.dvsStartTimestamp, 0u);
}

TEST(RawHeaderTest, EnormousAndUnterminatedLines) {
    // Lines after the enormous one (read in many pieces) still count.
    std::string huge =
        "% comment " + std::string(50 << 20, 'z') + "\n% serial_number S9\n% evt 2.0\n";
    RawHeader h = parse(huge + "\x01\x80");
    EXPECT_EQ(h.serialNumber, "S9");
    EXPECT_EQ(h.format, RawFormat::Evt2);
    EXPECT_EQ(h.dataOffsetBytes, huge.size());
    // A line of '%' that fills the first piece exactly.
    const std::string edge = std::string(65535, '%') + "\n% geometry 640x480\n";
    const RawHeader e = parse(edge + "\x05");
    EXPECT_EQ(e.width, 640u);
    EXPECT_EQ(e.dataOffsetBytes, edge.size());

    const std::string unterminated = "% serial_number S1\n% never ends";
    RawHeader open = parse(unterminated);
    EXPECT_EQ(open.dataOffsetBytes, unterminated.size());
    EXPECT_EQ(open.serialNumber, "S1");
}
