// Cuts of a recording: the inclusive range with unchanged times, the
// source's encoding and header lines, and edges before the first event.

#include <gtest/gtest.h>

#include <algorithm>

#include "DriverTestSupport.h"
#include "korvane/convert/Convert.h"
#include "korvane/file/FileCheck.h"
#include "korvane/file/RawWriter.h"

using namespace kvtest;

namespace {

SyntheticOptions cutSource() {
    // Crosses the 24-bit wrap.
    return {.duration_us = 18000000,
            .eventsPerSecond = 200000,
            .triggerPeriod_us = 100000,
            .startTime_us = 700,
            .serialNumber = "KVCUT7"};
}

}  // namespace

TEST(CutTest, InclusiveRangeUnchangedTimesAndHeader) {
    for (RawFormat format : {RawFormat::Evt3, RawFormat::Evt2}) {
        ScratchDir dir;
        SyntheticOptions o = cutSource();
        o.format = format;
        o.dense = format == RawFormat::Evt3;
        Expected exp = expectedFor(o);
        auto source = DvsFileReader::createFileReader(generate(dir, "src.raw", o));
        ASSERT_TRUE(source);

        // Bounds that sit exactly on an event and on a trigger edge.
        const uint64_t start = exp.events[exp.events.size() / 3].timestamp;
        const uint64_t end = 17500000;  // a rising trigger edge
        ASSERT_LT(start, 1u << 24);
        ASSERT_GT(end, 1u << 24);
        ASSERT_TRUE(source->exportRawRange(start, end, dir.file("cut.raw")));
        EXPECT_EQ(partFiles(dir.path()), 0u);

        auto cut = DvsFileReader::createFileReader(dir.file("cut.raw"));
        ASSERT_TRUE(cut);
        EXPECT_EQ(cut->format(), format);  // lossless: the source's encoding
        Decoded d = decodeAll(*cut);
        std::vector<Event2D> expectedEvents = filterWindow(exp.events, start, end + 1);
        EXPECT_EQ(d.events, expectedEvents);
        std::vector<EventTriggerIn> expectedTriggers;
        for (auto& t : exp.triggers)
            if (t.timestamp >= start && t.timestamp <= end) expectedTriggers.push_back(t);
        EXPECT_EQ(d.triggers, expectedTriggers);
        EXPECT_EQ(d.triggers.back().timestamp, end);

        DvsFileInfo info;
        cut->getFileInfo(info);
        EXPECT_EQ(info.serialNumber, "KVCUT7");
        EXPECT_EQ(info.dvsStartTimestamp, expectedEvents.front().timestamp);
    }
}

// Refused targets and failed writes: SafeOutputTest.FailuresSayWhy.
TEST(CutTest, ReversedRangeRefusedOneMicrosecondKept) {
    ScratchDir dir;
    SyntheticOptions o = cutSource();
    o.duration_us = 1000000;
    auto source = DvsFileReader::createFileReader(generate(dir, "src.raw", o));
    EXPECT_FALSE(source->exportRawRange(500, 400, dir.file("a.raw")));
    EXPECT_FALSE(fs::exists(dir.file("a.raw")));
    EXPECT_EQ(partFiles(dir.path()), 0u);
    const uint64_t t = expectedFor(o).events[100].timestamp;
    ASSERT_TRUE(source->exportRawRange(t, t, dir.file("one.raw")));
    auto one = DvsFileReader::createFileReader(dir.file("one.raw"));
    const auto events = decodeAll(*one).events;
    EXPECT_FALSE(events.empty());
    for (auto& e : events)
        EXPECT_EQ(e.timestamp, t);
}

// A cut keeps its source: EVT 2.0 stays EVT 2.0 (trigger ids up to 31), and
// the geometry and sensor lines of the header come along.
TEST(CutTest, KeepsEncodingGeometryAndSensor) {
    ScratchDir dir;
    std::vector<Event2D> events;
    for (uint16_t i = 0; i < 2000; ++i)
        events.emplace_back(uint16_t(i % 640), uint16_t(i % 480), uint8_t(i & 1), 1000 + i * 10);
    RawWriter w(RawFormat::Evt2);
    w.writeEvents(events.data(), 1000);
    w.writeTrigger(EventTriggerIn(17, 1, 11000));
    w.writeTrigger(EventTriggerIn(31, 0, 11000));
    w.writeEvents(events.data() + 1000, 1000);
    auto words = w.takeBuffer();
    const std::string header =
        "% evt 2.0\n% format EVT2;height=480;width=640\n% geometry 640x480\n"
        "% sensor_name GenX320\n% sensor_generation 3.1\n% serial_number CAM9\n"
        "% dvs_start_timestamp 1000\n% end\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), words.begin(), words.end());
    writeBytes(dir.file("vga.raw"), bytes);

    auto source = DvsFileReader::createFileReader(dir.file("vga.raw"));
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->exportRawRange(5000, 15000, dir.file("cut.raw")));
    auto cut = DvsFileReader::createFileReader(dir.file("cut.raw"));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->format(), RawFormat::Evt2);
    EXPECT_EQ(cut->header().width, 640u);
    EXPECT_EQ(cut->header().height, 480u);
    EXPECT_EQ(cut->header().sensorName, "GenX320");
    EXPECT_EQ(cut->header().sensorGeneration, "3.1");
    EXPECT_EQ(cut->header().serialNumber, "CAM9");
    Decoded d = decodeAll(*cut);
    EXPECT_EQ(d.events, filterWindow(events, 5000, 15001));
    EXPECT_EQ(d.triggers, (std::vector<EventTriggerIn>{EventTriggerIn(17, 1, 11000),
                                                       EventTriggerIn(31, 0, 11000)}));
    // EVT 3.0 on request: the header says so and the events are the same.
    std::string error;
    ASSERT_TRUE(source->exportRawRange(5000, 15000, dir.file("cut3.raw"), &error, RawFormat::Evt3))
        << error;
    auto cut3 = DvsFileReader::createFileReader(dir.file("cut3.raw"));
    EXPECT_EQ(cut3->format(), RawFormat::Evt3);
    EXPECT_EQ(cut3->header().width, 640u);
    EXPECT_EQ(decodeAll(*cut3).events, d.events);
}

// A cut states what its source's header states and nothing more: a bare
// "% evt 2.0" header (as other tools write) gets no geometry, sensor or
// writer lines; a cut of our own recording keeps all of them.
// A cut and a RAW to RAW conversion keep the same facts by the same rule.
TEST(CutTest, StatesOnlyTheSourcesHeaderFacts) {
    ScratchDir dir;
    std::vector<Event2D> events;
    for (uint16_t i = 0; i < 500; ++i)
        events.emplace_back(uint16_t(i % 300), uint16_t(i % 200), uint8_t(i & 1), 1000 + i * 10);
    RawWriter w(RawFormat::Evt2);
    w.writeEvents(events.data(), events.size());
    auto words = w.takeBuffer();
    const std::string bare = "% evt 2.0\n% aps_start_timestamp 1234\n";
    std::vector<uint8_t> bytes(bare.begin(), bare.end());
    bytes.insert(bytes.end(), words.begin(), words.end());
    writeBytes(dir.file("bare.raw"), bytes);
    SyntheticOptions o = cutSource();
    o.duration_us = 500000;
    const std::string ours = generate(dir, "ours.raw", o);
    const std::string ourHeader = [&] {
        const auto b = readBytes(ours);
        const std::string text(b.begin(), b.end());
        return text.substr(0, text.find("% end\n") + 6);
    }();

    // Copies [from, to] of `in` into `out` by a cut or a conversion.
    auto copy = [](bool cut, const std::string& in, uint64_t from, uint64_t to,
                   const std::string& out, RawFormat format) {
        if (cut) {
            auto source = DvsFileReader::createFileReader(in);
            return source && source->exportRawRange(from, to, out, nullptr, format);
        }
        ConvertOptions c;
        c.from_us = from;
        c.to_us = to + 1;
        c.raw_format = format == RawFormat::Evt2 ? "evt2" : "evt3";
        std::string error;
        const bool ok = convertRecording(in, out, c, nullptr, &error);
        EXPECT_TRUE(ok) << error;
        return ok;
    };
    for (const bool cut : {true, false}) {
        for (RawFormat format : {RawFormat::Evt2, RawFormat::Evt3}) {
            SCOPED_TRACE(std::string(cut ? "cut" : "convert") + " to " + rawFormatName(format));
            ASSERT_TRUE(copy(cut, dir.file("bare.raw"), 0, 5000, dir.file("cut.raw"), format));
            auto copied = DvsFileReader::createFileReader(dir.file("cut.raw"));
            ASSERT_TRUE(copied);
            EXPECT_EQ(copied->format(), format);
            EXPECT_FALSE(copied->header().geometryKnown);
            EXPECT_EQ(copied->header().generation, "");
            EXPECT_EQ(copied->header().sensorGeneration, "");
            EXPECT_EQ(copied->header().sensorName, "");
            EXPECT_EQ(copied->header().integratorName, "");
            EXPECT_EQ(copied->header().apsStartTimestamp, 1234u);
            EXPECT_EQ(copied->header().dvsStartTimestamp, 1000u);
            const auto b = readBytes(dir.file("cut.raw"));
            const std::string text(b.begin(),
                                   b.begin() + ptrdiff_t(copied->header().dataOffsetBytes));
            for (const char* invented : {"geometry", "height", "generation", "sensor", "integrator",
                                         "plugin", "system_ID", "serial_number"}) {
                EXPECT_EQ(text.find(invented), std::string::npos) << invented << " in\n" << text;
            }
            EXPECT_EQ(decodeAll(*copied).events, filterWindow(events, 0, 5001));

            // Our own recording: every line but the date and the start comes along.
            ASSERT_TRUE(copy(cut, ours, 0, 200000, dir.file("own.raw"), format));
            const auto c = readBytes(dir.file("own.raw"));
            const std::string ownText(c.begin(), c.end());
            size_t pos = 0;
            while (pos < ourHeader.size()) {
                const size_t nl = ourHeader.find('\n', pos);
                const std::string line = ourHeader.substr(pos, nl - pos + 1);
                pos = nl + 1;
                if (line.rfind("% date", 0) == 0 || line.rfind("% dvs_start", 0) == 0 ||
                    (format == RawFormat::Evt2 &&
                     (line.rfind("% evt", 0) == 0 || line.rfind("% format", 0) == 0))) {
                    continue;
                }
                EXPECT_NE(ownText.find(line), std::string::npos) << line;
            }
        }
    }
}

// Trigger edges before the first event of the range are written as they
// come (in file order, before the events) and the header still names the
// first event's time.
TEST(CutTest, EdgesBeforeTheFirstEventAreKept) {
    ScratchDir dir;
    RawWriter w(RawFormat::Evt3);
    for (uint64_t t = 100; t < 200000; t += 10)
        w.writeTrigger(EventTriggerIn(2, int16_t((t / 10) & 1), t));
    Event2D e(5, 6, 1, 300000);
    w.writeEvents(&e, 1);
    DvsFileInfo info;
    info.dvsStartTimestamp = 100;
    auto source =
        DvsFileReader::createFileReader(rawFileWith(dir, "edges.raw", w.takeBuffer(), info));
    ASSERT_TRUE(source->exportRawRange(50000, 400000, dir.file("cut.raw")));
    auto cut = DvsFileReader::createFileReader(dir.file("cut.raw"));
    Decoded d = decodeAll(*cut);
    ASSERT_EQ(d.events.size(), 1u);
    EXPECT_EQ(d.events[0], e);
    EXPECT_EQ(d.triggers.size(), (200000u - 50000u) / 10u);
    EXPECT_EQ(d.triggers.front().timestamp, 50000u);
    EXPECT_EQ(d.triggerPositions.back(), 0u);
    DvsFileInfo cutInfo;
    cut->getFileInfo(cutInfo);
    EXPECT_EQ(cutInfo.dvsStartTimestamp, 300000u);
}

// A cut copies the stretches that lie wholly inside its range word for word
// where they decode clean, and writes the rest from their events: either
// way the cut decodes to the source's events and edges in the range. Clean
// sources carry a middle stretch's bytes unchanged; damaged ones, a sensor
// narrower than the data, and ranges starting just before a loop of the
// 24-bit clock decode the same.
TEST(CutTest, WholeStretchesCopiedAsTheyDecode) {
    struct Case {
        const char* name;
        RawFormat format;
        SyntheticMix mix;
        size_t damageEvery;    // words; 0: clean
        uint32_t headerWidth;  // 0: the generator's header
        uint64_t from, to;
    };
    constexpr uint64_t kLoop = uint64_t(1) << 24;
    constexpr uint64_t kFromStretch = 1;  // from: the lowest time of stretch 5
    const Case cases[] = {
        {"camera mix", RawFormat::Evt3, SyntheticMix::Camera, 0, 0, 0, UINT64_MAX - 1},
        {"camera mix, a range", RawFormat::Evt3, SyntheticMix::Camera, 0, 0, kLoop - 1234567,
         kLoop + 345678},
        {"plain EVT 2.0", RawFormat::Evt2, SyntheticMix::Plain, 0, 0, 0, UINT64_MAX - 1},
        {"just before a loop", RawFormat::Evt3, SyntheticMix::Plain, 0, 0, kLoop - 300,
         kLoop + 900000},
        {"damaged", RawFormat::Evt3, SyntheticMix::Camera, 3001, 0, 0, UINT64_MAX - 1},
        {"damaged EVT 2.0", RawFormat::Evt2, SyntheticMix::Plain, 2999, 0, 0, UINT64_MAX - 1},
        {"narrow sensor", RawFormat::Evt3, SyntheticMix::Camera, 0, 640, 0, UINT64_MAX - 1},
        // From the lowest time of a middle stretch: the cut's first stretch
        // lies wholly inside, yet its first words must be the writer's own.
        {"from a stretch's start", RawFormat::Evt3, SyntheticMix::Camera, 0, 0, kFromStretch,
         UINT64_MAX - 1},
        {"from a stretch's start, EVT 2.0", RawFormat::Evt2, SyntheticMix::Plain, 0, 0,
         kFromStretch, UINT64_MAX - 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        SyntheticOptions o{.duration_us = 2000000,
                           .eventsPerSecond = 1000000,
                           .triggerPeriod_us = 20000,
                           .startTime_us = kLoop - 1500000,
                           .mix = c.mix,
                           .format = c.format};
        const std::string path = generate(dir, "src.raw", o);
        std::vector<uint8_t> bytes = readBytes(path);
        size_t dataOffset = 0;
        {
            auto probe = openReader(path);
            ASSERT_TRUE(probe);
            dataOffset = size_t(probe->header().dataOffsetBytes);
        }
        if (c.damageEvery) {
            scrambleWords(bytes, dataOffset, wordSizeBytes(c.format), c.damageEvery, 200, 7);
        }
        if (c.headerWidth) {
            const std::string text(bytes.begin(), bytes.begin() + ptrdiff_t(dataOffset));
            std::string header =
                "% evt 3.0\n% format EVT3;height=720;width=" + std::to_string(c.headerWidth) +
                "\n% geometry " + std::to_string(c.headerWidth) + "x720\n% end\n";
            std::vector<uint8_t> rewritten(header.begin(), header.end());
            rewritten.insert(rewritten.end(), bytes.begin() + ptrdiff_t(dataOffset), bytes.end());
            bytes.swap(rewritten);
            dataOffset = header.size();
        }
        writeBytes(path, bytes);
        auto source = openReader(path);
        ASSERT_TRUE(source);
        ASSERT_GT(source->index().entries().size(), 8u);
        const uint64_t from =
            c.from == kFromStretch ? source->index().entries()[5].minTime : c.from;
        std::string why;
        ASSERT_TRUE(source->exportRawRange(from, c.to, dir.file("cut.raw"), &why)) << why;
        auto cut = openReader(dir.file("cut.raw"));
        ASSERT_TRUE(cut);
        const uint64_t stop = c.to + 1;
        const Decoded want = decodeAll(*source, from, stop);
        const Decoded got = decodeAll(*cut);
        ASSERT_FALSE(want.events.empty());
        EXPECT_EQ(got.events.size(), want.events.size());
        EXPECT_EQ(got.events, want.events);
        EXPECT_EQ(got.triggers, want.triggers);
        EXPECT_EQ(got.triggerPositions, want.triggerPositions);
        if (c.damageEvery) {
            // What is copied as it is decoded clean: no noise comes along.
            const std::vector<uint8_t> out = readBytes(dir.file("cut.raw"));
            const size_t at = size_t(cut->header().dataOffsetBytes);
            const size_t ws = wordSizeBytes(c.format);
            const WordCheck check = checkWords(out.data() + at, (out.size() - at) / ws, c.format,
                                               DecoderState{}, kAddressRange, kAddressRange);
            EXPECT_EQ(check.reservedWords, 0u);
        }
        const auto& entries = source->index().entries();
        const size_t k = entries.size() / 2;
        if (c.damageEvery == 0 && c.headerWidth == 0 &&
            source->index().stretchWithin(k, from, stop)) {
            // A stretch from the middle of the range, as it was.
            const std::vector<uint8_t> stretch(
                bytes.begin() + ptrdiff_t(entries[k].offsetBytes),
                bytes.begin() + ptrdiff_t(entries[k + 1].offsetBytes));
            const std::vector<uint8_t> out = readBytes(dir.file("cut.raw"));
            EXPECT_NE(std::search(out.begin(), out.end(), stretch.begin(), stretch.end()),
                      out.end());
        }
    }
}

// A cut whose first output stretch lies wholly inside the range (the words
// before it carry nothing of it: a quiet start, or a range from a pause)
// writes that stretch from its events, as the writer has no time of its own
// yet. A stretch gives far more events than one decoder chunk: every trigger
// edge must stay where it was among them.
TEST(CutTest, FirstWholeStretchKeepsItsEdgesInPlace) {
    for (const RawFormat format : {RawFormat::Evt3, RawFormat::Evt2}) {
        SCOPED_TRACE(format == RawFormat::Evt3 ? "EVT 3.0" : "EVT 2.0");
        const bool evt3 = format == RawFormat::Evt3;
        const size_t ws = wordSizeBytes(format);
        std::vector<uint8_t> words;
        auto put = [&](uint32_t w) { evt3 ? put16(words, uint16_t(w)) : put32(words, w); };
        auto high = [&](uint64_t steps) {
            put(evt3 ? 0x8000 | (steps & 0xFFF) : 0x80000000u | uint32_t(steps & 0xFFFFFFF));
        };
        // Stretch 0: a few events, then time moves on and stays: nothing of
        // it is at or past the state it ends in.
        high(1);
        if (evt3) {
            for (uint32_t w : {0x6000u, 5u, 0x2000u | 10, 0x2800u | 11})
                put(w);
        } else {
            put(uint32_t(1) << 28 | 10u << 11 | 5);
        }
        while (words.size() < TimeIndex::kDefaultStepBytes)
            high(2);
        // Then events under a rising time, an edge every 1000 events.
        uint64_t steps = 2, low = 0, events = 0;
        while (words.size() < TimeIndex::kDefaultStepBytes * 5 / 2) {
            const unsigned lowBits = evt3 ? 12 : 6;
            if (++low >> lowBits) {
                low = 0;
                high(++steps);
            }
            if (evt3) {
                put(0x6000 | uint32_t(low));
                put(uint32_t(events % 480));
            }
            for (int i = 0; i < 6; ++i) {
                const uint32_t x = uint32_t((events * 7 + i) % 640), p = uint32_t(i & 1);
                put(evt3 ? 0x2000 | p << 11 | x
                         : p << 28 | uint32_t(low) << 22 | x << 11 | uint32_t(events % 480));
                if (++events % 1000 == 0) {
                    const uint32_t v = uint32_t(events / 1000 % 2);
                    put(evt3 ? 0xA000 | v : 0xA0000000u | uint32_t(low) << 22 | v);
                }
            }
        }
        ScratchDir dir;
        const std::string header =
            std::string(evt3 ? "% evt 3.0\n% format EVT3" : "% evt 2.0\n% format EVT2") +
            ";height=480;width=640\n% geometry 640x480\n% end\n";
        std::vector<uint8_t> bytes(header.begin(), header.end());
        bytes.insert(bytes.end(), words.begin(), words.end());
        writeBytes(dir.file("src.raw"), bytes);
        auto source = openReader(dir.file("src.raw"));
        ASSERT_TRUE(source);
        ASSERT_GE(source->index().entries().size(), 3u);
        const uint64_t from = source->index().entries()[1].minTime;
        ASSERT_TRUE(source->index().stretchWithin(1, from, UINT64_MAX));
        // From the stretch's lowest time, and the whole file.
        for (const uint64_t start : {from, uint64_t(0)}) {
            std::string why;
            ASSERT_TRUE(source->exportRawRange(start, UINT64_MAX - 1, dir.file("cut.raw"), &why))
                << why;
            auto cut = openReader(dir.file("cut.raw"));
            ASSERT_TRUE(cut);
            const Decoded want = decodeAll(*source, start);
            const Decoded got = decodeAll(*cut);
            ASSERT_GT(want.triggers.size(), 20u);
            EXPECT_EQ(got.events, want.events);
            EXPECT_EQ(got.triggers, want.triggers);
            EXPECT_EQ(got.triggerPositions, want.triggerPositions);
            // The cut's time goes back nowhere, as the source's does not.
            const std::vector<uint8_t> out = readBytes(dir.file("cut.raw"));
            const size_t at = size_t(cut->header().dataOffsetBytes);
            const WordCheck check = checkWords(out.data() + at, (out.size() - at) / ws, format,
                                               DecoderState{}, 640, 480);
            EXPECT_EQ(check.timeBackSteps, 0u);
        }
    }
}
