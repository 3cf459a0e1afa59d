#include "KvrawConvert.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>

#include "CliSupport.h"
#if !defined(KVRAW_MEDIA_HELPER)
#include "korvane/convert/Convert.h"
#endif

namespace kvraw {

const char* const kConvertUsage =
    "  kvraw convert IN OUT [--from US] [--to US] [--format evt3|evt2]\n"
    "convert writes FROM <= t < TO of IN (.raw, .h5, .npy) as OUT, its format\n"
    "chosen by the extension (.raw, .h5, .npy, .csv), and prints events,\n"
    "triggers, bytes, seconds and speed; Ctrl+C leaves no file.\n";

#if !defined(KVRAW_MEDIA_HELPER)
namespace {
std::atomic<bool> gInterrupted{false};
}

int cmdConvert(int argc, char** argv) {
    const cli::Args a(argc, argv, {"--from", "--to", "--format"});
    a.expect(2);
    korvane::ConvertOptions o;
    if (a.has("--from")) o.from_us = cli::parseU64(a.value("--from", ""), "--from");
    if (a.has("--to")) o.to_us = cli::parseU64(a.value("--to", ""), "--to");
    if (o.from_us && o.to_us && *o.from_us > *o.to_us)
        throw cli::UsageError{"--from is after --to"};
    o.raw_format = a.value("--format", "evt3");
    if (o.raw_format != "evt3" && o.raw_format != "evt2") {
        throw cli::UsageError{"unknown format '" + korvane::printableText(o.raw_format) +
                              "' (evt3 or evt2)"};
    }
    const bool terminal = ::isatty(STDERR_FILENO);
    int shown = -1;
    o.progress = [&](double f) {
        if (terminal) {
            const int percent = int(f * 100.0);
            if (percent != shown) {
                shown = percent;
                std::fprintf(stderr, "\rconverting: %3d%%", percent);
            }
        }
        return !gInterrupted.load();
    };
    // Ctrl+C cancels: the converter then removes its temporary.
    std::signal(SIGINT, [](int) { gInterrupted.store(true); });
    std::signal(SIGTERM, [](int) { gInterrupted.store(true); });

    const auto t0 = std::chrono::steady_clock::now();
    korvane::ConvertResult r;
    std::string error;
    const bool ok = korvane::convertRecording(a.positional[0], a.positional[1], o, &r, &error);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (terminal && shown >= 0) std::fputc('\n', stderr);
    if (!ok) throw cli::Failure{"convert failed: " + error};
    std::printf("events: %llu, triggers: %llu, bytes: %llu, seconds: %.3f, events_per_s: %.0f\n",
                (unsigned long long)r.events, (unsigned long long)r.triggers,
                (unsigned long long)r.output_bytes, elapsed,
                elapsed > 0 ? double(r.events) / elapsed : 0.0);
    return 0;
}

#endif

}  // namespace kvraw
