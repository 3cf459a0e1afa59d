#include "KvrawCheck.h"

#include <cstdio>
#include <string>
#include <vector>

#include "korvane/file/DvsFileReader.h"
#include "korvane/file/FileCheck.h"

using namespace korvane;

namespace {

constexpr int kClean = 0, kAnomalies = 1, kUnreadable = 2;

// The reader accepts a first event up to this far from the header's start.
constexpr uint64_t kStartAgreement_us = 1000000;

void line(const char* key, uint64_t value) {
    std::printf("%s: %llu\n", key, (unsigned long long)value);
}
void line(const char* key, const std::string& value) {
    std::printf("%s: %s\n", key, value.c_str());
}

}  // namespace

int cmdCheck(const cli::Args& a) {
    a.expect(1);
    const uint64_t threads = cli::parseU64(a.value("--threads", "0"), "--threads");
    if (threads > 256) throw cli::UsageError{"--threads above 256"};
    const std::string& path = a.positional[0];
    std::string error;
    auto reader = DvsFileReader::createFileReader(path, &error);
    if (!reader || !reader->openForReading()) {
        std::fprintf(stderr, "kvraw: error: %s: %s\n", printableText(path).c_str(),
                     reader ? "cannot read" : error.c_str());
        return kUnreadable;
    }
    const RawHeader& header = reader->header();
    const RawFormat format = header.format;
    const uint32_t width = header.geometryKnown ? header.width : kAddressRange;
    const uint32_t height = header.geometryKnown ? header.height : kAddressRange;

    // Each stretch is checked on the worker that read it; the results are
    // appended in file order.
    ParallelScanOptions o;
    o.threads = unsigned(threads);
    o.decodeEvents = false;
    o.keepBytes = true;
    std::vector<WordCheck> perSlot(parallelScanSlots(o));
    o.onWorker = [&](StretchBatch& b) {
        perSlot[b.slot] = checkWords(b.bytes, b.byteCount / wordSizeBytes(format), format,
                                     b.startState, width, height);
    };
    WordCheck total;
    const ParallelScanResult scan = reader->scanStretches(0, UINT64_MAX, o, [&](StretchBatch& b) {
        total.append(perSlot[b.slot]);
        return true;
    });
    if (!scan.completed) {
        std::fprintf(stderr, "kvraw: error: %s: cannot read\n", printableText(path).c_str());
        return kUnreadable;
    }

    uint64_t first = 0, last = 0;
    const bool hasEvents = reader->getStartTime(first);
    reader->getEndTime(last);
    // Our writers note the first event's time; other tools may note none (0).
    std::string startVerdict = "absent";
    bool startDisagrees = false;
    if (header.dvsStartTimestamp != 0 && hasEvents) {
        const uint64_t h = header.dvsStartTimestamp;
        const uint64_t gap = first > h ? first - h : h - first;
        startDisagrees = gap > kStartAgreement_us;
        startVerdict = startDisagrees ? "disagrees" : "agrees";
    } else if (header.dvsStartTimestamp != 0) {
        startVerdict = "no events";
    } else if (hasEvents && first <= kStartAgreement_us) {
        startVerdict = "agrees";  // a recording that starts at zero
    }
    const uint64_t padding = reader->trailingBytes();

    line("format", rawFormatName(format));
    line("geometry", header.geometryKnown
                         ? std::to_string(header.width) + "x" + std::to_string(header.height)
                         : std::string("unknown"));
    line("words", total.words);
    for (unsigned t = 0; t < 16; ++t) {
        if (const char* name = wordTypeName(format, t)) {
            line(("words_" + std::string(name)).c_str(), total.typeCounts[t]);
        }
    }
    line("reserved_words", total.reservedWords);
    line("padding_bytes", padding);
    line("events", total.events);
    line("events_before_time", total.eventsBeforeTime);
    line("vectors_without_base", total.vectorsWithoutBase);
    line("vector_events_beyond_range", total.vectorEventsBeyondRange);
    line("events_outside_geometry", total.eventsOutsideGeometry);
    line("time_back_steps", total.timeBackSteps);
    line("time_back_max_us", total.timeBackMax_us);
    line("time_back_beyond_jitter", total.timeBackBeyondJitter);
    line("time_loops", total.timeLoops);
    line("first_event_us", first);
    line("last_event_us", last);
    line("header_start_us", header.dvsStartTimestamp);
    line("header_start", startVerdict);

    const uint64_t anomalies = total.reservedWords + (padding > 0) + total.eventsBeforeTime +
                               total.vectorsWithoutBase + total.vectorEventsBeyondRange +
                               total.eventsOutsideGeometry + total.timeBackBeyondJitter +
                               (startDisagrees ? 1 : 0);
    line("anomalies", anomalies);
    line("result", anomalies == 0 ? "clean" : "anomalies");
    return anomalies == 0 ? kClean : kAnomalies;
}
