// kvraw: the RAW recording tool for people without a display, for scripts
// and for benchmarks. Output formats are stable: scripts parse them.

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "CliSupport.h"
#include "KvrawCheck.h"
#include "KvrawConvert.h"
#include "korvane/file/DvsFileReader.h"
#include "korvane/sim/SyntheticRecording.h"
#if defined(KORVANE_HAVE_VIDEO) && !defined(KVRAW_MEDIA_HELPER)
#include "korvane/video/VideoExport.h"
#endif
#if defined(KVRAW_MEDIA_HELPER)
#include <climits>
#endif

using namespace korvane;

namespace {

using cli::Args;
using cli::Failure;
using cli::parseU64;
using cli::UsageError;

int finishOutput(int status) {
    return cli::finishOutput("kvraw", status);
}

constexpr const char* kUsage =
    "usage:\n"
    "  kvraw info FILE\n"
    "  kvraw decode FILE [--from US] [--to US] [--triggers]\n"
    "  kvraw stats FILE [--threads N]\n"
    "  kvraw check FILE [--threads N]\n"
    "  kvraw cut FILE OUT START_US END_US [--format evt3|evt2]\n"
    "  kvraw generate OUT DURATION_US EVENTS_PER_SEC [--seed N] [--trigger-period US]\n"
    "                 [--start US] [--dense] [--mix plain|camera] [--format evt3|evt2]\n"
    "  kvraw bench FILE [--windows N] [--window-us US]\n"
    "  kvraw export FILE OUT.mp4 START_US END_US [--fps N] [--interval US] [--acc US]\n"
    "               [--theme Gray|RedBlue|Dark|RedGreen|Light] [--preset P] [--crf N]\n"
    "decode prints t,x,y,p lines (and T,t,id,value with --triggers) for\n"
    "FROM <= t < TO; cut keeps START <= t <= END, in the source's encoding\n"
    "unless --format says otherwise. export writes an H.264 MP4 of START..END\n"
    "(one frame per interval, default 30303 us, each showing --acc us, default\n"
    "33333) and prints frames, seconds and speed; Ctrl+C leaves no file.\n"
    "check reports word counts and anomalies; exit 0 clean, 1 anomalies,\n"
    "2 unreadable. --threads: 0 (default) one per core, 1 the one-thread pass.\n"
    "generate --mix camera writes the word mix of a camera's EVT 3.0 file (bursts of\n"
    "rows, single events and vectors); plain (default) the mix of earlier versions.\n";

// Buffered stdout; a closed pipe ends the program quietly.
class Out {
public:
    ~Out() { flush(); }
    void put(const char* s, size_t n) {
        if (buf_.size() + n > kSize) flush();
        buf_.append(s, n);
    }
    void put(const std::string& s) { put(s.data(), s.size()); }
    void u64(uint64_t v) {
        char tmp[24];
        auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        put(tmp, size_t(r.ptr - tmp));
    }
    void i64(int64_t v) {
        char tmp[24];
        auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        put(tmp, size_t(r.ptr - tmp));
    }
    void ch(char c) { put(&c, 1); }
    void flush() {
        if (buf_.empty()) return;
        if (std::fwrite(buf_.data(), 1, buf_.size(), stdout) != buf_.size() ||
            std::fflush(stdout) != 0) {
            if (errno == EPIPE) std::_Exit(0);
            std::fprintf(stderr, "kvraw: error: cannot write output: %s\n", std::strerror(errno));
            std::_Exit(1);
        }
        buf_.clear();
    }

private:
    static constexpr size_t kSize = 1 << 20;
    std::string buf_;
};

RawFormat parseFormat(const std::string& name) {
    if (name == "evt3") return RawFormat::Evt3;
    if (name == "evt2") return RawFormat::Evt2;
    throw UsageError{"unknown format '" + printableText(name) + "' (evt3 or evt2)"};
}

std::unique_ptr<DvsFileReader> openReader(const std::string& path) {
    std::string error;
    auto reader = DvsFileReader::createFileReader(path, &error);
    if (!reader) throw Failure{printableText(path) + ": " + error};
    if (!reader->openForReading()) throw Failure{printableText(path) + ": cannot read"};
    return reader;
}

int cmdInfo(const Args& a) {
    a.expect(1);
    auto r = openReader(a.positional[0]);
    uint64_t start = 0, end = 0;
    r->getStartTime(start);
    r->getEndTime(end);
    DvsFileInfo info;
    r->getFileInfo(info);
    Out out;
    auto field = [&](const char* key, const std::string& value) {
        out.put(key);
        out.put(": ");
        out.put(value);
        out.ch('\n');
    };
    field("format", rawFormatName(r->format()));
    // As `check` says it: a header that states no geometry leaves it unknown.
    const bool known = r->header().geometryKnown;
    field("width", known ? std::to_string(info.width) : "unknown");
    field("height", known ? std::to_string(info.height) : "unknown");
    field("serial_number", info.serialNumber);
    field("start_us", std::to_string(start));
    field("end_us", std::to_string(end));
    field("dvs_start_timestamp", std::to_string(info.dvsStartTimestamp));
    field("aps_start_timestamp", std::to_string(info.apsStartTimestamp));
    return 0;
}

int cmdDecode(const Args& a) {
    a.expect(1);
    const uint64_t from = parseU64(a.value("--from", "0"), "--from");
    const uint64_t to = parseU64(a.value("--to", std::to_string(UINT64_MAX)), "--to");
    const bool withTriggers = a.has("--triggers");
    auto r = openReader(a.positional[0]);
    Out out;
    auto event = [&](const Event2D& e) {
        out.u64(e.timestamp);
        out.ch(',');
        out.u64(e.x);
        out.ch(',');
        out.u64(e.y);
        out.ch(',');
        out.u64(e.polarity);
        out.ch('\n');
    };
    r->forEachChunk(from, to, [&](const Event2D* ev, size_t n, const auto& triggers) {
        size_t done = 0;
        if (withTriggers) {
            for (const auto& t : triggers) {
                for (; done < t.eventIndex && done < n; ++done)
                    event(ev[done]);
                out.put("T,");
                out.u64(t.trigger.timestamp);
                out.ch(',');
                out.i64(t.trigger.id);
                out.ch(',');
                out.i64(t.trigger.polarity);
                out.ch('\n');
            }
        }
        for (; done < n; ++done)
            event(ev[done]);
    });
    return 0;
}

// Sums over the events of one stretch, or of the whole file.
struct EventSums {
    uint64_t events = 0, sx = 0, sy = 0, sp = 0, st = 0, first = 0, last = 0, triggers = 0;

    // x, y and polarity are summed as one packed word per block of 32
    // events: decoded addresses have 11 bits, and 32 of them cannot carry
    // out of their 16-bit field.
    static constexpr uint64_t kFields = 0x000000FF07FF07FFull;  // x, y and polarity bits
    static constexpr size_t kBlock = 32;

    void addPacked(uint64_t packed) {
        sx += packed & 0xFFFF;
        sy += (packed >> 16) & 0xFFFF;
        sp += packed >> 32;
    }

    void add(const Event2D* ev, size_t n) {
        if (n == 0) return;
        if (events == 0) first = ev[0].timestamp;
        last = ev[n - 1].timestamp;
        events += n;
        static_assert(offsetof(Event2D, y) == 2 && offsetof(Event2D, polarity) == 4 &&
                      offsetof(Event2D, timestamp) == 8 && sizeof(Event2D) == 16);
        size_t i = 0;
#if defined(__SSE2__)
        // An event is one 16-byte load: its low half masked to the packed
        // fields, its high half the time. Four sums take every fourth event,
        // so each holds a block's 32 before its fields are emptied.
        const __m128i keep = _mm_set_epi64x(-1, int64_t(kFields));
        const __m128i timeOnly = _mm_set_epi64x(-1, 0);
        __m128i a[4] = {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128(),
                        _mm_setzero_si128()};
        const auto* p = reinterpret_cast<const __m128i*>(ev);
        for (; i + 4 * kBlock <= n; i += 4 * kBlock) {
            for (size_t j = i; j < i + 4 * kBlock; j += 4) {
                for (int k = 0; k < 4; ++k)
                    a[k] = _mm_add_epi64(a[k], _mm_and_si128(_mm_loadu_si128(p + j + k), keep));
            }
            for (__m128i& s : a) {
                addPacked(uint64_t(_mm_cvtsi128_si64(s)));
                s = _mm_and_si128(s, timeOnly);
            }
        }
        const __m128i t = _mm_add_epi64(_mm_add_epi64(a[0], a[1]), _mm_add_epi64(a[2], a[3]));
        st += uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(t, t)));
#endif
        uint64_t t1 = 0;
        while (i < n) {
            const size_t end = std::min(n, i + kBlock);
            uint64_t packed = 0;
            for (; i < end; ++i) {
                uint64_t lo;
                std::memcpy(&lo, &ev[i], 8);
                packed += lo & kFields;
                t1 += ev[i].timestamp;
            }
            addPacked(packed);
        }
        st += t1;
    }
    // Appends the sums of what comes after in file order.
    void merge(const EventSums& o) {
        if (o.events > 0) {
            if (events == 0) first = o.first;
            last = o.last;
        }
        events += o.events;
        sx += o.sx;
        sy += o.sy;
        sp += o.sp;
        st += o.st;
        triggers += o.triggers;
    }
};

unsigned parseThreads(const Args& a) {
    const uint64_t threads = parseU64(a.value("--threads", "0"), "--threads");
    if (threads > 256) throw UsageError{"--threads above 256"};
    return unsigned(threads);
}

int cmdStats(const Args& a) {
    a.expect(1);
    const unsigned threads = parseThreads(a);
    auto r = openReader(a.positional[0]);
    EventSums total;
    if (threads == 1) {
        // The one-thread pass, kept as the reference the parallel one must equal.
        r->forEachChunk(0, UINT64_MAX, [&](const Event2D* ev, size_t n, const auto& trig) {
            total.triggers += trig.size();
            total.add(ev, n);
        });
    } else {
        // Each stretch is summed on the thread that decodes it, piece by
        // piece while the events are in cache; the sums are merged in file
        // order. A slot's sums belong to the stretch they name: one without
        // events leaves the slot's older sums alone.
        ParallelScanOptions o;
        o.threads = threads;
        struct SlotSums {
            size_t stretch = SIZE_MAX;
            EventSums sums;
        };
        std::vector<SlotSums> perSlot(parallelScanSlots(o));
        o.onWorkerEvents = [&](StretchBatch& b, const Event2D* ev, size_t n) {
            SlotSums& s = perSlot[b.slot];
            if (s.stretch != b.stretch) s = SlotSums{b.stretch, {}};
            s.sums.add(ev, n);
        };
        r->scanStretches(0, UINT64_MAX, o, [&](StretchBatch& b) {
            EventSums part =
                perSlot[b.slot].stretch == b.stretch ? perSlot[b.slot].sums : EventSums{};
            part.triggers = b.triggers.size();
            total.merge(part);
            return true;
        });
    }
    std::printf(
        "events %llu\nsum_x %llu\nsum_y %llu\nsum_p %llu\nsum_t %llu\nfirst_t %llu\nlast_t "
        "%llu\ntriggers %llu\n",
        (unsigned long long)total.events, (unsigned long long)total.sx,
        (unsigned long long)total.sy, (unsigned long long)total.sp, (unsigned long long)total.st,
        (unsigned long long)total.first, (unsigned long long)total.last,
        (unsigned long long)total.triggers);
    return 0;
}

int cmdCut(const Args& a) {
    a.expect(4);
    const uint64_t start = parseU64(a.positional[2], "START_US");
    const uint64_t end = parseU64(a.positional[3], "END_US");
    if (start > end) throw UsageError{"START_US is after END_US"};
    const RawFormat format =
        a.has("--format") ? parseFormat(a.value("--format", "")) : RawFormat::Unknown;
    auto r = openReader(a.positional[0]);
    std::string why;
    if (!r->exportRawRange(start, end, a.positional[1], &why, format)) {
        throw Failure{"cut failed: " + printableText(a.positional[1]) + ": " + why};
    }
    return 0;
}

#if defined(KVRAW_MEDIA_HELPER)
// export and convert: a helper takes over this process, arguments, streams
// and exit status alike; export's is built with FFmpeg, convert's with HDF5.
int runHelper(const char* name, char** argv) {
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) throw Failure{std::string("cannot find ") + name + ": " + std::strerror(errno)};
    std::string dir(self, size_t(n));
    dir.erase(dir.rfind('/'));
    for (const std::string& helper :
         {dir + "/" + name, dir + "/" KVRAW_HELPER_DIR "/" + name}) {
        if (::access(helper.c_str(), X_OK) != 0) continue;
        ::execv(helper.c_str(), argv);
        throw Failure{"cannot start " + printableText(helper) + ": " + std::strerror(errno)};
    }
    throw Failure{std::string(argv[1]) + " needs " + name + " next to kvraw (" +
                  printableText(dir) + ") or in " KVRAW_HELPER_DIR};
}
#elif defined(KORVANE_HAVE_VIDEO)
std::atomic<bool> gInterrupted{false};

int cmdExport(const Args& a) {
    a.expect(4);
    const uint64_t start = parseU64(a.positional[2], "START_US");
    const uint64_t end = parseU64(a.positional[3], "END_US");
    VideoExportOptions o;
    // Out of range is refused, never quietly made something else.
    auto bounded = [&](const char* name, const std::string& fallback, uint64_t lo, uint64_t hi) {
        const uint64_t v = parseU64(a.value(name, fallback), name);
        if (v < lo || v > hi) {
            throw UsageError{std::string(name) + " must be " + std::to_string(lo) + " to " +
                             std::to_string(hi)};
        }
        return v;
    };
    // The container is MP4 whatever the name: a name that says otherwise would lie.
    const std::string& target = a.positional[1];
    const size_t dot = target.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : target.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char ch) { return char(std::tolower(ch)); });
    if (ext != ".mp4" || target.find('/', dot) != std::string::npos) {
        throw UsageError{"OUT must end in .mp4 (the video is H.264 in MP4)"};
    }
    o.fps = int(bounded("--fps", "30", 1, 1000));
    o.frameInterval_us = parseU64(a.value("--interval", "30303"), "--interval");
    o.accumulation_us = parseU64(a.value("--acc", "33333"), "--acc");
    const std::string theme = a.value("--theme", "Gray");
    if (!paintThemeByName(theme, o.theme)) throw UsageError{"unknown theme '" + theme + "'"};
    o.preset = a.value("--preset", o.preset);
    o.crf = int(bounded("--crf", std::to_string(o.crf), 0, 51));
    if (o.frameInterval_us == 0 || o.accumulation_us == 0) {
        throw UsageError{"--interval and --acc must be positive"};
    }
    auto r = openReader(a.positional[0]);
    std::string error;
    o.error = &error;
    o.cancel = &gInterrupted;
    const bool terminal = ::isatty(STDERR_FILENO);
    int shown = -1;
    if (terminal) {
        o.progress = [&](double f) {
            const int percent = int(f * 100.0);
            if (percent == shown) return;
            shown = percent;
            std::fprintf(stderr, "\rexporting: %3d%%", percent);
        };
    }
    std::signal(SIGINT, [](int) { gInterrupted.store(true); });
    std::signal(SIGTERM, [](int) { gInterrupted.store(true); });
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = r->exportVideoRange(start, end, a.positional[1], o);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (terminal && shown >= 0) std::fputc('\n', stderr);
    if (!ok) throw Failure{"export failed: " + error};
    const uint64_t frames = videoFrameCount(start, end, o.frameInterval_us);
    const double range_s = double(end - start + 1) / 1e6;
    std::printf("frames: %llu\nelapsed_s: %.3f\nrealtime_factor: %.2f\n",
                (unsigned long long)frames, elapsed, elapsed > 0 ? range_s / elapsed : 0.0);
    return 0;
}
#else
int cmdExport(const Args&) {
    throw Failure{"export needs the video encoder, which this build has not"};
}
#endif

int cmdGenerate(const Args& a) {
    a.expect(3);
    SyntheticOptions o;
    o.duration_us = parseU64(a.positional[1], "DURATION_US");
    o.eventsPerSecond = parseU64(a.positional[2], "EVENTS_PER_SEC");
    o.seed = parseU64(a.value("--seed", "1"), "--seed");
    o.triggerPeriod_us = parseU64(a.value("--trigger-period", "0"), "--trigger-period");
    o.startTime_us = parseU64(a.value("--start", "0"), "--start");
    o.dense = a.has("--dense");
    const std::string mix = a.value("--mix", "plain");
    if (!syntheticMixByName(mix, o.mix)) {
        throw UsageError{"unknown mix '" + printableText(mix) + "' (plain or camera)"};
    }
    if (o.dense && o.mix != SyntheticMix::Plain) throw UsageError{"--dense needs --mix plain"};
    o.format = parseFormat(a.value("--format", "evt3"));
    if (o.eventsPerSecond > 2000000000ull) throw UsageError{"EVENTS_PER_SEC above 2e9"};
    if (o.startTime_us > kMaxSyntheticTime_us ||
        o.duration_us > kMaxSyntheticTime_us - o.startTime_us) {
        throw UsageError{"--start plus DURATION_US above " + std::to_string(kMaxSyntheticTime_us)};
    }
    std::string error;
    if (!writeSyntheticRecording(a.positional[0], o, &error)) throw Failure{error};
    return 0;
}

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Timings of the reader on one file: open (index build or cache load),
// whole-file decode, random windows.
int cmdBench(const Args& a) {
    a.expect(1);
    const uint64_t windows = parseU64(a.value("--windows", "200"), "--windows");
    const uint64_t window = parseU64(a.value("--window-us", "33333"), "--window-us");
    constexpr uint64_t kMaxWindows = 10000000;
    if (windows > kMaxWindows) {
        throw UsageError{"--windows above " + std::to_string(kMaxWindows)};
    }
    using clock = std::chrono::steady_clock;

    auto t0 = clock::now();
    std::string error;
    auto r = DvsFileReader::createFileReader(a.positional[0], &error);
    if (!r) throw Failure{printableText(a.positional[0]) + ": " + error};
    if (!r->openForReading()) throw Failure{printableText(a.positional[0]) + ": cannot read"};
    const double openS = seconds(clock::now() - t0);

    uint64_t start = 0, end = 0;
    r->getStartTime(start);
    r->getEndTime(end);

    t0 = clock::now();
    uint64_t events = 0, sum = 0;
    r->forEachChunk(0, UINT64_MAX, [&](const Event2D* ev, size_t n, const auto&) {
        events += n;
        if (n) sum += ev[n - 1].x;
    });
    const double decodeS = seconds(clock::now() - t0);

    std::mt19937_64 rng(7);
    std::vector<double> ms;
    uint64_t windowEvents = 0;
    for (uint64_t i = 0; i < windows && end > start; ++i) {
        uint64_t at = start + rng() % (end - start);
        auto w0 = clock::now();
        auto batch = r->readEventsInWindow(at, window);
        ms.push_back(seconds(clock::now() - w0) * 1000.0);
        if (batch) windowEvents += batch->size();
    }
    std::sort(ms.begin(), ms.end());
    auto pct = [&](double p) { return ms.empty() ? 0.0 : ms[size_t(p * double(ms.size() - 1))]; };

    std::printf("index_from_cache: %d\n", r->indexLoadedFromCache() ? 1 : 0);
    std::printf("open_ms: %.2f\n", openS * 1000.0);
    std::printf("events: %llu\n", (unsigned long long)events);
    std::printf("decode_s: %.3f\n", decodeS);
    std::printf("decode_mev_per_s: %.1f\n", decodeS > 0 ? double(events) / decodeS / 1e6 : 0.0);
    std::printf("window_us: %llu\n", (unsigned long long)window);
    std::printf("window_events_mean: %.0f\n",
                ms.empty() ? 0.0 : double(windowEvents) / double(ms.size()));
    std::printf("window_ms_median: %.3f\n", pct(0.5));
    std::printf("window_ms_p90: %.3f\n", pct(0.9));
    std::printf("window_ms_max: %.3f\n", ms.empty() ? 0.0 : ms.back());
    std::printf("checksum: %llu\n", (unsigned long long)sum);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments;
    cli::useUtf8Arguments(argc, argv, arguments);
#if defined(SIGPIPE)
    std::signal(SIGPIPE, SIG_IGN);
#endif
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        std::fputs(kvraw::kConvertUsage, stderr);
        return 2;
    }
    const std::string cmd = argv[1];
    try {
        if (cmd == "info") return finishOutput(cmdInfo(Args(argc, argv, {}, {})));
        if (cmd == "decode") {
            return finishOutput(cmdDecode(Args(argc, argv, {"--from", "--to"}, {"--triggers"})));
        }
        if (cmd == "stats") return finishOutput(cmdStats(Args(argc, argv, {"--threads"}, {})));
        if (cmd == "check") return finishOutput(cmdCheck(Args(argc, argv, {"--threads"}, {})));
        if (cmd == "cut") return finishOutput(cmdCut(Args(argc, argv, {"--format"}, {})));
        if (cmd == "generate") {
            return finishOutput(cmdGenerate(
                Args(argc, argv, {"--seed", "--trigger-period", "--start", "--format", "--mix"},
                     {"--dense"})));
        }
        if (cmd == "bench") {
            return finishOutput(cmdBench(Args(argc, argv, {"--windows", "--window-us"}, {})));
        }
#if defined(KVRAW_MEDIA_HELPER)
        if (cmd == "export") return runHelper(KVRAW_MEDIA_HELPER, argv);
        if (cmd == "convert") return runHelper(KVRAW_CONVERT_HELPER, argv);
#else
        if (cmd == "export") {
            return finishOutput(cmdExport(Args(
                argc, argv, {"--fps", "--interval", "--acc", "--theme", "--preset", "--crf"}, {})));
        }
        if (cmd == "convert") return finishOutput(kvraw::cmdConvert(argc, argv));
#endif
        if (cmd == "--help" || cmd == "-h" || cmd == "help") {
            std::fputs(kUsage, stdout);
            std::fputs(kvraw::kConvertUsage, stdout);
            return finishOutput(0);
        }
        throw UsageError{"unknown command '" + printableText(cmd) + "'"};
    } catch (const UsageError& e) {
        std::fprintf(stderr, "kvraw: error: %s (see kvraw --help)\n", e.message.c_str());
        return 2;
    } catch (const Failure& e) {
        std::fprintf(stderr, "kvraw: error: %s\n", e.message.c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvraw: error: %s\n", e.what());
        return 1;
    }
}
