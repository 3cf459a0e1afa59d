#include "korvane/convert/Convert.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstddef>
#include <limits>
#include <new>

#include "korvane/convert/ConvertStreams.h"
#include "korvane/file/Platform.h"

namespace korvane {

namespace {

enum class Kind { Raw, H5, Npy, Csv, Unknown };

Kind kindOf(const std::string& path) {
    const size_t dot = path.rfind('.');
    const size_t slash = path.find_last_of(platform::kPathSeparators);
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return Kind::Unknown;
    }
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "raw") return Kind::Raw;
    if (ext == "h5" || ext == "hdf5") return Kind::H5;
    if (ext == "npy") return Kind::Npy;
    if (ext == "csv") return Kind::Csv;
    return Kind::Unknown;
}

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

// A source without a known sensor size gets one its events fit in: at least
// the usual 1280x720, larger where an event lies beyond. False when
// cancelled or the input is bad.
bool measureGeometry(EventSource& source, uint64_t from_us, uint64_t to_us,
                     const ConvertOptions& options, RecordingMeta& meta, std::string* error) {
    uint32_t maxX = 0, maxY = 0;
    bool cancelled = false;
    const bool ok = source.deliver(
        from_us, to_us,
        [&](const Event2D* ev, size_t n, const std::vector<TriggerRecord>&, uint64_t) {
            for (size_t i = 0; i < n; ++i) {
                maxX = std::max<uint32_t>(maxX, ev[i].x);
                maxY = std::max<uint32_t>(maxY, ev[i].y);
            }
            if (options.progress && !options.progress(0.0)) cancelled = true;
            return !cancelled;
        },
        error);
    if (!ok) {
        if (cancelled) return fail(error, "cancelled");
        return false;
    }
    meta.width = std::max<uint32_t>(meta.width, maxX + 1);
    meta.height = std::max<uint32_t>(meta.height, maxY + 1);
    meta.geometryKnown = true;
    return true;
}

// True when every step from `prev` through events [i, stop) goes forward by
// less than 2^19 us, and then sets `prev` to the last time; false (prev
// unchanged) when some step does not, which says nothing either way about
// kSilence_us.
bool shortSteps(const Event2D* ev, size_t i, size_t stop, uint64_t& prev) {
    static_assert(kSilence_us > (uint64_t(1) << 19));
    if (i >= stop) return true;
    if ((stepBitsOf(ev + i, stop - i, prev) >> 19) != 0) return false;
    prev = ev[stop - 1].timestamp;
    return true;
}

// Consecutive times (events and edges in file order, either way) further
// apart than kMaxSilence_us, or silences (gaps of kSilence_us or more) that
// add up to more than that: refused before the sink fills the gap, so many
// gaps each just under the limit cannot make an absurd output either. Only
// gaps past the latest time so far add up: time that goes back and forth
// (jitter) refills no empty time.
struct SilenceCheck {
    bool have = false;
    uint64_t last = 0;
    uint64_t latest = 0;     // the largest time so far
    uint64_t silent_us = 0;  // the silences so far, in all
    bool refused = false;

    bool step(uint64_t t, std::string* error) {
        const uint64_t gap = t > last ? t - last : last - t;
        if (have && gap > kMaxSilence_us) {
            refused = true;
            return fail(error, "nothing for " + std::to_string(gap / 1000000) + " s between " +
                                   std::to_string(std::min(t, last)) + " and " +
                                   std::to_string(std::max(t, last)) +
                                   " us; more than a day of empty time is refused for this "
                                   "output, which would have to fill it");
        }
        if (have && t > latest && t - latest >= kSilence_us) {
            silent_us += t - latest;
            if (silent_us > kMaxSilence_us) {
                refused = true;
                return fail(error, std::to_string(silent_us / 1000000) +
                                       " s without events or edges in all, up to " +
                                       std::to_string(t) +
                                       " us; more than a day of empty time is refused for this "
                                       "output, which would have to fill it");
            }
        }
        latest = have ? std::max(latest, t) : t;
        have = true;
        last = t;
        return true;
    }
    // Events [i, end). Times that go forward by less than kSilence_us from
    // the one before change only `last` and `latest`: such a block is
    // checked without step()'s branches. `quiet`: every step between the
    // events is known to be such a one, so only the first is checked.
    bool events(const Event2D* ev, size_t i, size_t end, bool quiet, std::string* error) {
        if (quiet && i < end) {
            if (!step(ev[i].timestamp, error)) return false;
            // Only steps forward: the last time is the largest.
            last = ev[end - 1].timestamp;
            latest = std::max(latest, last);
            return true;
        }
        while (i < end && !have)
            if (!step(ev[i++].timestamp, error)) return false;
        while (i < end) {
            const size_t stop = std::min(end, i + 256);
            uint64_t prev = last;
            bool quiet = shortSteps(ev, i, stop, prev);
            if (!quiet) {
                quiet = true;
                for (size_t k = i; k < stop; ++k) {
                    const uint64_t t = ev[k].timestamp;
                    quiet &= t - prev < kSilence_us;  // a step back wraps: not quiet
                    prev = t;
                }
            }
            if (quiet) {
                // Only steps forward: the block's last time is its largest.
                last = prev;
                latest = std::max(latest, prev);
            } else {
                for (size_t k = i; k < stop; ++k)
                    if (!step(ev[k].timestamp, error)) return false;
            }
            i = stop;
        }
        return true;
    }
    // stepBits: stepBitsOf() the batch's events, or kStepsUnknown.
    bool pass(const Event2D* ev, size_t n, const std::vector<TriggerRecord>& triggers,
              uint64_t stepBits, std::string* error) {
        static_assert(kSilence_us > (uint64_t(1) << 19));
        const bool quiet = (stepBits >> 19) == 0;
        size_t i = 0;
        for (const auto& r : triggers) {
            const size_t at = std::max<size_t>(i, std::min<uint64_t>(r.eventIndex, n));
            if (!events(ev, i, at, quiet, error)) return false;
            i = at;
            if (!step(r.trigger.timestamp, error)) return false;
        }
        return events(ev, i, n, quiet, error);
    }
};

bool convert(const std::string& input_path, const std::string& output_path,
             const ConvertOptions& options, ConvertResult* result, std::string* error) {
    const uint64_t from = options.from_us.value_or(0);
    const uint64_t to = options.to_us.value_or(std::numeric_limits<uint64_t>::max());
    if (from > to) return fail(error, "the range starts after it ends");
    RawFormat rawFormat;
    if (options.raw_format == "evt3") {
        rawFormat = RawFormat::Evt3;
    } else if (options.raw_format == "evt2") {
        rawFormat = RawFormat::Evt2;
    } else {
        return fail(
            error, "unknown RAW format '" + printableText(options.raw_format) + "' (evt3 or evt2)");
    }
    const std::string in = printableText(input_path);
    const std::string out = printableText(output_path);

    std::unique_ptr<EventSink> sink;
    switch (kindOf(output_path)) {
        case Kind::Raw:
            sink = makeRawSink(rawFormat);
            break;
        case Kind::H5:
#if defined(KORVANE_HAVE_HDF5)
            sink = makeH5Sink();
            break;
#else
            return fail(error, out + ": .h5 is not available in this build");
#endif
        case Kind::Npy:
            sink = makeNpySink();
            break;
        case Kind::Csv:
            sink = makeCsvSink();
            break;
        case Kind::Unknown:
            return fail(error, out + ": unknown output type (.raw, .h5, .npy or .csv)");
    }

    std::string why;
    std::unique_ptr<EventSource> source;
    std::vector<FileIdentity> inputs;
    FileIdentity id;
    if (fileIdentity(input_path, id)) inputs.push_back(id);
    switch (kindOf(input_path)) {
        case Kind::Raw:
            source = openRawSource(input_path, &why);
            break;
        case Kind::H5:
#if defined(KORVANE_HAVE_HDF5)
            source = openH5Source(input_path, &why);
            break;
#else
            return fail(error, in + ": .h5 is not available in this build");
#endif
        case Kind::Npy:
            source = openNpySource(input_path, &why);
            if (fileIdentity(npyTriggersPath(input_path), id)) inputs.push_back(id);
            break;
        default:
            return fail(error, in + ": unknown input type (.raw, .h5 or .npy)");
    }
    if (!source) return fail(error, in + ": " + why);

    RecordingMeta meta = source->meta();
    const bool rawOut = kindOf(output_path) == Kind::Raw;
    if (rawOut && !meta.geometryKnown) {
        if (!measureGeometry(*source, from, to, options, meta, &why)) {
            return fail(error, why == "cancelled" ? why : in + ": " + why);
        }
    }
    if (!sink->open(output_path, meta, inputs, &why)) return fail(error, out + ": " + why);

    // Progress follows the time of the last event delivered.
    const uint64_t lo = std::max(from, source->first_us());
    const uint64_t hi = std::min(to == 0 ? 0 : to - 1, source->last_us());
    ConvertResult counts;
    bool sinkFailed = false, cancelled = false;
    std::string sinkWhy;
    // A sink busy with one batch for long asks whether to go on; the
    // caller's callback (Python takes its lock for it) is asked at most
    // every 50 ms.
    double done = 0.0;
    auto lastAsked = std::chrono::steady_clock::now();
    sink->setStopCheck([&] {
        if (!options.progress || cancelled) return cancelled;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastAsked < std::chrono::milliseconds(50)) return false;
        lastAsked = now;
        cancelled = !options.progress(done);
        return cancelled;
    });
    SilenceCheck silence;
    std::string silenceWhy;
    const bool checkSilence = sink->paysForSilence();
    const bool complete = source->deliver(
        from, to,
        [&](const Event2D* ev, size_t n, const std::vector<TriggerRecord>& triggers,
            uint64_t stepBits) {
            if (checkSilence && !silence.pass(ev, n, triggers, stepBits, &silenceWhy)) return false;
            if (!sink->write(ev, n, triggers, &sinkWhy)) {
                sinkFailed = true;
                return false;
            }
            counts.events += n;
            counts.triggers += triggers.size();
            if (options.progress && n > 0) {
                const uint64_t t = ev[n - 1].timestamp;
                const double f =
                    hi > lo && t > lo ? double(std::min(t, hi) - lo) / double(hi - lo) : 0.0;
                done = f;
                if (!options.progress(f)) {
                    cancelled = true;
                    return false;
                }
            }
            return true;
        },
        &why);
    if (!complete) {
        if (cancelled) return fail(error, "cancelled");
        if (silence.refused) return fail(error, in + ": " + silenceWhy);
        return fail(error, sinkFailed ? out + ": " + sinkWhy : in + ": " + why);
    }
    if (options.progress && !options.progress(1.0)) return fail(error, "cancelled");
    if (!sink->finish(&why)) return fail(error, out + ": " + why);
    counts.output_bytes = sink->outputBytes();
    if (result) *result = counts;
    return true;
}

}  // namespace

bool convertRecording(const std::string& input_path, const std::string& output_path,
                      const ConvertOptions& options, ConvertResult* result, std::string* error) {
    if (result) *result = ConvertResult{};
    try {
        return convert(input_path, output_path, options, result, error);
    } catch (const std::bad_alloc&) {
        // Unwinding removed the temporary; the target is as it was.
        return fail(error, "out of memory");
    }
}

}  // namespace korvane
