// kvcam: the camera tool for people without a display and for scripts:
// lists cameras, streams one and prints its figures, records it. Output
// formats are stable: scripts parse them.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CliSupport.h"
#include "korvane/camera/DvsCameraManager.h"
#include "korvane/camera/RecordingSession.h"
#include "korvane/camera/ToolSettings.h"
#include "korvane/file/DvsFileReader.h"
#include "korvane/sim/ReplayBackend.h"
#include "korvane/sim/SimulatedDvsCamera.h"
#include "korvane/sim/SimulatedFusionCamera.h"

using namespace korvane;

namespace {

using cli::Args;
using cli::Failure;
using cli::parseU64;
using cli::UsageError;

int finishOutput(int status) {
    return cli::finishOutput("kvcam", status);
}

// Ctrl+C (or SIGTERM) ends a recording as its seconds running out do: the
// files are finished and the figures printed. A second one ends the
// process at once.
std::atomic<int> gInterrupt{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

extern "C" void onInterrupt(int sig) {
    gInterrupt.store(sig);
    std::signal(sig, SIG_DFL);
}

void endRecordingOnInterrupt() {
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

bool interrupted() {
    return gInterrupt.load() != 0;
}

// Wall time on a camera that is not simulated; cut short by an interrupt.
void waitSecondsOrInterrupt(uint64_t seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!interrupted() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

constexpr const char* kUsage =
    "usage:\n"
    "  kvcam list\n"
    "  kvcam tools SERIAL\n"
    "  kvcam stream SERIAL [--seconds N] [--set TOOL.PARAMETER=VALUE ...]\n"
    "               [--rate EV_PER_S] [--batch-us US] [--trigger-period-us P]\n"
    "               [--unplug-after-ms MS]\n"
    "  kvcam record SERIAL OUT.raw --seconds N [--set TOOL.PARAMETER=VALUE ...]\n"
    "               [--rate EV_PER_S] [--trigger-period-us P]\n"
    "               [--cache-seconds S --on-edge rising|falling [--cache-dir DIR]]\n"
    "               [--unplug-after-ms MS]\n"
    "list prints serial, product and manufacturer separated by tabs.\n"
    "tools prints one line per parameter of each tool the camera offers:\n"
    "  tool, parameter, type (int, float, bool, enum, string), range\n"
    "  (MIN..MAX) or options (A|B), value in force, separated by tabs.\n"
    "stream prints one line per second of camera time:\n"
    "  second N events_per_s E mb_per_s M batches B late L dropped D\n"
    "(late: delivered more than 5 ms after its end), then a total line.\n"
    "record prints key value lines when done; Ctrl+C (or SIGTERM) ends it\n"
    "early the same way, its files finished. With --cache-seconds it waits\n"
    "for the first matching edge of trigger input 0 once S seconds are\n"
    "cached, and records S seconds before it and N after it.\n"
    "On a fusion camera record writes OUT's base name with .raw (events),\n"
    ".mp4 (frames) and .json (calibration) beside OUT; it takes --seconds,\n"
    "--rate and --set (tool aps too).\n"
    "Tools: biases, trigger_in, anti_flicker, event_trail_filter,\n"
    "event_rate_control, roi.\n"
    "  kvcam replay add FILE [--name NAME]\n"
    "  kvcam replay list\n"
    "  kvcam replay remove NAME\n"
    "replay manages the replay folder: each RAW recording there is a camera\n"
    "(product Replay) that streams it at the recorded pace, looping. add links\n"
    "FILE in as NAME (default: FILE's name without .raw); remove deletes the\n"
    "link only. list prints name, serial, recording and duration in seconds\n"
    "(- when unreadable) separated by tabs.\n";

constexpr uint64_t kLate_us = 5000;

// Bounded so camera-time sums (start + seconds in microseconds) cannot wrap.
constexpr uint64_t kMaxSeconds = 1000000000;
// Beyond this the simulated scene could not even hold its first templates.
constexpr uint64_t kMaxRate = SimulatedDvsCamera::kMaxEventsPerSecond;
// A batch longer than a second would leave the per-second lines waiting forever.
constexpr uint64_t kMaxBatch_us = 1000000;

uint64_t parseBounded(const std::string& text, const std::string& what, uint64_t lo, uint64_t hi) {
    const uint64_t v = parseU64(text, what);
    if (v < lo || v > hi)
        throw UsageError{what + " must be " + std::to_string(lo) + " to " + std::to_string(hi)};
    return v;
}

ToolType toolByName(const std::string& name) {
    ToolType type{};
    if (!toolTypeByName(name, type)) throw UsageError{"unknown tool '" + name + "'"};
    return type;
}

// Applies one TOOL.PARAMETER=VALUE; the value is read by the parameter's type.
template <typename Camera>
void applySetting(Camera& camera, const std::string& setting) {
    const size_t dot = setting.find('.'), eq = setting.find('=');
    if (dot == std::string::npos || eq == std::string::npos || eq < dot)
        throw UsageError{"--set wants TOOL.PARAMETER=VALUE, got '" + setting + "'"};
    const std::string tool = setting.substr(0, dot);
    const std::string name = setting.substr(dot + 1, eq - dot - 1);
    const std::string value = setting.substr(eq + 1);
    auto t = camera.getTool(toolByName(tool));
    if (!t) throw Failure{"the camera has no tool " + tool};
    const SetResult r = setToolParameterFromText(*t, name, value);
    switch (r.outcome) {
        case SetOutcome::Done:
            return;
        case SetOutcome::UnknownParameter:
            throw Failure{"tool " + tool + " has " + r.reason};
        case SetOutcome::WrongType:
            throw UsageError{r.reason};
        case SetOutcome::Refused:
            throw Failure{"the camera refused " + setting + ": " + r.reason};
    }
}

struct Opened {
    std::shared_ptr<DvsCamera> camera;
    SimulatedDvsCamera* sim = nullptr;  // the simulation controls, when simulated
};

Opened openCamera(const Args& a, const std::string& serial) {
    DvsCameraManager manager;
    Opened o;
    o.camera = manager.openCamera(serial);
    if (!o.camera) throw Failure{"no camera with serial " + serial};
    o.sim = dynamic_cast<SimulatedDvsCamera*>(o.camera.get());
    // A replay streams its recording: no scene rate or trigger signal to set.
    const bool replay = o.camera->getDescription().product == ReplayBackend::kProduct;
    if (a.has("--rate")) {
        if (!o.sim || replay) throw UsageError{"--rate is for simulated cameras"};
        o.sim->setEventsPerSecond(parseBounded(a.value("--rate", ""), "--rate", 0, kMaxRate));
    }
    if (a.has("--trigger-period-us")) {
        if (!o.sim || replay) throw UsageError{"--trigger-period-us is for simulated cameras"};
        o.sim->setTriggerPeriod(
            parseU64(a.value("--trigger-period-us", ""), "--trigger-period-us"));
    }
    for (const auto& s : a.all("--set"))
        applySetting(*o.camera, s);
    return o;
}

// Pulls a simulated camera's cable after a delay, when asked to.
class Unplugger {
public:
    Unplugger(const Args& a, SimulatedDvsCamera* sim) {
        if (!a.has("--unplug-after-ms")) return;
        if (!sim) throw UsageError{"--unplug-after-ms is for simulated cameras"};
        const auto delay = std::chrono::milliseconds(
            parseU64(a.value("--unplug-after-ms", ""), "--unplug-after-ms"));
        thread_ = std::thread([this, sim, delay] {
            std::unique_lock lock(mutex_);
            if (!cv_.wait_for(lock, delay, [&] { return done_; })) sim->unplug();
        });
    }
    ~Unplugger() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

int cmdList(const Args& a) {
    a.expect(0);
    DvsCameraManager manager;
    for (const auto& d : manager.getCameraDescs())
        std::printf("%s\t%s\t%s\n", d.serial.c_str(), d.product.c_str(), d.manufacturer.c_str());
    return 0;
}

int cmdStream(const Args& a) {
    a.expect(1);
    const uint64_t seconds = parseBounded(a.value("--seconds", "5"), "--seconds", 0, kMaxSeconds);
    const uint64_t batch_us =
        parseBounded(a.value("--batch-us", "33333"), "--batch-us", 1, kMaxBatch_us);
    Opened o = openCamera(a, a.positional[0]);
    DvsCamera& cam = *o.camera;

    std::mutex statsMutex;
    std::vector<KvStatisticInfo> stats;  // one per camera second, from the camera's thread
    cam.setStatisticInfoCallback([&](const KvStatisticInfo& s) {
        std::lock_guard lock(statsMutex);
        stats.push_back(s);
    });
    cam.setBatchInterval(batch_us);
    if (cam.start() != 0) throw Failure{"the camera does not start"};
    Unplugger unplugger(a, o.sim);

    std::vector<Event2D> events;
    std::vector<uint64_t> lateness;
    uint64_t total = 0, batches = 0, late = 0, secondBatches = 0, secondLate = 0;
    uint64_t droppedBefore = 0, reportedEvents = 0;
    size_t printed = 0;
    bool lost = false;
    // Until every printed second is delivered too, so the totals compare.
    const uint64_t end_us = seconds * 1000000;
    uint64_t delivered_us = 0;
    while (printed < seconds || (o.sim && delivered_us < end_us)) {
        if (!cam.isConnected()) {
            lost = true;
            break;
        }
        if (cam.getNextEvents(events)) {
            ++batches;
            ++secondBatches;
            if (o.sim) {
                const auto info = o.sim->lastBatch();
                delivered_us = info.t1_us;
                // Only the events of the printed seconds count.
                for (const Event2D& e : events)
                    total += e.timestamp < end_us ? 1 : 0;
                const uint64_t l =
                    info.received_us > info.due_us ? info.received_us - info.due_us : 0;
                lateness.push_back(l);
                if (l > kLate_us) {
                    ++late;
                    ++secondLate;
                }
            } else {
                total += events.size();
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::lock_guard lock(statsMutex);
        while (printed < stats.size() && printed < seconds) {
            const KvStatisticInfo& s = stats[printed++];
            const uint64_t dropped = o.sim ? o.sim->batchesDropped() : 0;
            reportedEvents += s.eventRate;
            std::printf(
                "second %zu events_per_s %llu mb_per_s %.2f batches %llu late %llu dropped %llu\n",
                printed, (unsigned long long)s.eventRate, double(s.bandwidth) / 1024.0 / 1024.0,
                (unsigned long long)secondBatches, (unsigned long long)secondLate,
                (unsigned long long)(dropped - droppedBefore));
            std::fflush(stdout);
            droppedBefore = dropped;
            secondBatches = secondLate = 0;
        }
    }
    cam.stop();
    std::sort(lateness.begin(), lateness.end());
    const uint64_t p99 =
        lateness.empty() ? 0 : lateness[std::min(lateness.size() - 1, lateness.size() * 99 / 100)];
    const uint64_t maxLate = lateness.empty() ? 0 : lateness.back();
    std::printf(
        "total events %llu batches %llu late %llu dropped %llu reported_events %llu "
        "p99_late_us %llu max_late_us %llu\n",
        (unsigned long long)total, (unsigned long long)batches, (unsigned long long)late,
        (unsigned long long)(o.sim ? o.sim->batchesDropped() : 0),
        (unsigned long long)reportedEvents, (unsigned long long)p99, (unsigned long long)maxLate);
    if (lost) {
        std::fprintf(stderr, "kvcam: camera connection lost\n");
        return 1;
    }
    return 0;
}

// A fusion recording: the three files named after OUT's base name, for
// camera time `seconds` (wall time on a camera that is not simulated).
int recordFusion(const Args& a, const std::shared_ptr<FusionCamera>& camera, uint64_t seconds,
                 const std::string& out) {
    for (const char* option : {"--cache-seconds", "--on-edge", "--cache-dir", "--trigger-period-us",
                               "--unplug-after-ms"})
        if (a.has(option)) throw UsageError{std::string(option) + " is for event cameras"};
    auto* sim = dynamic_cast<SimulatedFusionCamera*>(camera.get());
    if (a.has("--rate")) {
        if (!sim) throw UsageError{"--rate is for simulated cameras"};
        sim->eventCamera().setEventsPerSecond(
            parseBounded(a.value("--rate", ""), "--rate", 0, kMaxRate));
    }
    // Its frames file needs a frame: nothing could play a recording of none.
    if (seconds == 0) throw UsageError{"a fusion recording needs --seconds of at least 1"};
    for (const auto& s : a.all("--set"))
        applySetting(*camera, s);

    const std::filesystem::path p(out);
    const std::string dir = p.has_parent_path() ? p.parent_path().string() : ".";
    const std::string base = p.stem().string();
    if (base.empty()) throw UsageError{"OUT needs a file name"};
    const std::string stem = (std::filesystem::path(dir) / base).string();
    // Recording first, then streaming: the files hold everything streamed.
    if (!camera->startRecording(dir, base, STREAM_BOTH)) {
        const std::string why = sim ? sim->recordingStartError() : std::string();
        throw Failure{"cannot record to " + stem + ".raw, .mp4 and .json" +
                      (why.empty() ? std::string() : ": " + why)};
    }
    // The simulation ends its stream at the last second itself: polling for
    // it would add whatever a loaded machine makes the poll late by.
    if (sim) sim->eventCamera().setStreamEnd_us(seconds * 1000000);
    if (camera->start(STREAM_BOTH) != 0) {
        camera->stopRecording(STREAM_BOTH);
        throw Failure{"the camera does not start"};
    }
    if (sim) {
        // A failed write (full disk) on either file ends the recording, as
        // on an event camera, rather than running out its seconds unwritten.
        auto failed = [&] {
            return !sim->eventCamera().recordingStatus().error.empty() ||
                   !sim->recordingFrameStats().error.empty();
        };
        while (!interrupted() && camera->isConnected() && !failed() &&
               sim->deliveredUntil_us() < seconds * 1000000)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } else {
        waitSecondsOrInterrupt(seconds);
    }
    const bool connected = camera->isConnected();
    // Streaming ends first: every frame of an edge streamed reaches the file.
    camera->stop(STREAM_BOTH);
    const bool ok = camera->stopRecording(STREAM_BOTH);
    std::printf("file %s.raw\n", stem.c_str());
    std::printf("frames_file %s.mp4\n", stem.c_str());
    std::printf("calibration_file %s.json\n", stem.c_str());
    std::string error;
    if (sim) {
        const RecordingStatus events = sim->eventCamera().recordingStatus();
        const FrameRecordingStats frames = sim->recordingFrameStats();
        std::printf("events_written %llu\n", (unsigned long long)events.eventsWritten);
        std::printf("frames_written %llu\n", (unsigned long long)frames.framesWritten);
        std::printf("frames_dropped %llu\n", (unsigned long long)frames.framesDropped);
        std::printf("aps_start_us %llu\n", (unsigned long long)sim->recordingApsStart_us());
        error = !events.error.empty() ? events.error : frames.error;
        // Stopped before its first frame (Ctrl+C at once): the frames file
        // holds none and nothing could play the set, so it is no success.
        if (error.empty() && frames.framesWritten == 0) error = "no frame was recorded";
    }
    if (error.empty() && !connected) error = "camera lost";
    if (!ok || !error.empty()) {
        std::printf("error %s\n", error.empty() ? "recording failed" : error.c_str());
        return 1;
    }
    return 0;
}

int cmdRecord(const Args& a) {
    a.expect(2);
    if (!a.has("--seconds")) throw UsageError{"record needs --seconds"};
    const uint64_t seconds = parseBounded(a.value("--seconds", ""), "--seconds", 0, kMaxSeconds);
    const std::string out = a.positional[1];
    endRecordingOnInterrupt();
    {
        DvsCameraManager manager;
        if (auto fusion = manager.openFusionCamera(a.positional[0]))
            return recordFusion(a, fusion, seconds, out);
    }
    const bool cached = a.has("--cache-seconds");
    uint64_t cacheSeconds = 0;
    int16_t edgeValue = 1;
    if (cached) {
        cacheSeconds = parseU64(a.value("--cache-seconds", ""), "--cache-seconds");
        if (cacheSeconds == 0 || cacheSeconds > 65535)
            throw UsageError{"--cache-seconds must be 1 to 65535"};
        const std::string edge = a.value("--on-edge", "");
        if (edge == "rising") {
            edgeValue = 1;
        } else if (edge == "falling") {
            edgeValue = 0;
        } else {
            throw UsageError{"--cache-seconds needs --on-edge rising|falling"};
        }
    } else if (a.has("--on-edge")) {
        throw UsageError{"--on-edge needs --cache-seconds"};
    }
    Opened o = openCamera(a, a.positional[0]);
    RecordingSession session(o.camera);
    std::string why;
    if (cached) {
        std::string dir = a.value("--cache-dir", "");
        if (dir.empty()) {
            const std::filesystem::path p(out);
            dir = p.has_parent_path() ? p.parent_path().string() : ".";
        }
        if (!session.armEdges(uint16_t(cacheSeconds), edgeValue, dir, &why)) throw Failure{why};
        if (!session.startStream(&why)) throw Failure{why};
    } else {
        // Recording first, then streaming: the file holds everything streamed.
        if (!session.startRecording(out, &why)) throw Failure{why};
        if (!session.startStream(&why)) throw Failure{why};
    }
    Unplugger unplugger(a, o.sim);

    uint64_t recordStart = 0, edgeTime = 0, streamedBefore = 0;
    if (cached) {
        switch (session.waitForEdge(0, edgeTime, interrupted)) {
            case WaitEnd::Reached:
                break;
            case WaitEnd::Stopped:
                throw Failure{"interrupted before the trigger edge"};
            default:
                throw Failure{"the camera was lost before the trigger edge"};
        }
        if (o.sim) streamedBefore = o.sim->eventsStreamed();
        if (!session.startRecording(out, &why)) throw Failure{why};
        recordStart = edgeTime;
    }
    session.waitUntil(recordStart + seconds * 1000000, seconds * 1000000, interrupted);
    session.stopStream();
    const size_t maxQueue = o.sim ? o.sim->recorderMaxQueuedBytes() : 0;
    RecordingStatus status;
    const bool ok = session.stopRecording(status);
    std::printf("file %s\n", out.c_str());
    std::printf("events_written %llu\n", (unsigned long long)status.eventsWritten);
    if (o.sim)  // since the camera started
        std::printf("events_streamed %llu\n", (unsigned long long)o.sim->eventsStreamed());
    if (cached) {
        std::printf("edge_us %llu\n", (unsigned long long)edgeTime);
        if (o.sim)
            std::printf("events_streamed_after_start %llu\n",
                        (unsigned long long)(o.sim->eventsStreamed() - streamedBefore));
    }
    std::printf("max_queue_bytes %zu\n", maxQueue);
    std::string error = status.error;
    if (error.empty() && !o.camera->isConnected()) error = "camera unplugged";
    if (!ok || !error.empty()) {
        std::printf("error %s\n", error.empty() ? "recording failed" : error.c_str());
        return 1;
    }
    return 0;
}

// A listed name or path as it is when it is well-formed UTF-8 without
// control characters or '\' (so a script can give it back to remove and an
// escape in the list is never ambiguous), else escaped.
std::string listedText(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t n = 0;  // the character's continuation bytes
        if (c < 0x20 || c == 0x7f || c == '\\') return printableText(text);
        // U+0080..U+009F: control characters a terminal may act on.
        if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xa0)
            return printableText(text);
        if (c >= 0xc2 && c <= 0xdf) n = 1;
        else if (c >= 0xe0 && c <= 0xef) n = 2;
        else if (c >= 0xf0 && c <= 0xf4) n = 3;
        else if (c >= 0x80) return printableText(text);
        if (i + n >= text.size() && n > 0) return printableText(text);
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return printableText(text);
        i += n + 1;
    }
    return text;
}

// The replay folder's management; the folder comes from the user's data
// folder, as the camera list reads it.
int cmdReplay(const Args& a) {
    if (a.positional.empty()) throw UsageError{"replay needs add, list or remove"};
    const std::string what = a.positional[0];
    const std::string folder = ReplayBackend::defaultFolder();
    std::string error;
    if (what == "add") {
        a.expect(2);
        ReplayEntry added;
        if (!ReplayBackend::add(folder, a.positional[1], a.value("--name", ""), &error, &added))
            throw Failure{error};
        std::printf("%s\t%s\t%s\n", added.name.c_str(), added.serial.c_str(), added.path.c_str());
        return 0;
    }
    if (a.has("--name")) throw UsageError{"--name is for replay add"};
    if (what == "list") {
        a.expect(1);
        for (const auto& e : ReplayBackend(folder).entries()) {
            std::string duration = "-", why = e.error;
            if (e.readable) {
                if (auto reader = DvsFileReader::createFileReader(e.path, &why);
                    reader && reader->openForReading()) {
                    uint64_t first = 0, last = 0;
                    if (reader->getStartTime(first) && reader->getEndTime(last)) {
                        char text[32];
                        std::snprintf(text, sizeof text, "%.6f", double(last - first + 1) / 1e6);
                        duration = text;
                    } else {
                        why = "the recording holds no events";
                    }
                }
            }
            std::printf("%s\t%s\t%s\t%s\n", listedText(e.name).c_str(), e.serial.c_str(),
                        listedText(e.target).c_str(), duration.c_str());
            if (duration == "-")
                std::fprintf(stderr, "kvcam: %s: %s\n", printableText(e.name).c_str(),
                             printableText(why).c_str());
        }
        return 0;
    }
    if (what == "remove") {
        a.expect(2);
        if (!ReplayBackend::remove(folder, a.positional[1], &error)) throw Failure{error};
        return 0;
    }
    throw UsageError{"unknown replay command '" + printableText(what) + "'"};
}

// One line per parameter of every tool the camera offers: tool, parameter,
// type, range or options, value in force, separated by tabs, so a script
// finds what --set takes.
int cmdTools(const Args& a) {
    a.expect(1);
    const std::string serial = a.positional[0];
    DvsCameraManager manager;
    std::function<std::shared_ptr<CameraTool>(ToolType)> toolOf;
    std::shared_ptr<FusionCamera> fusion = manager.openFusionCamera(serial);
    std::shared_ptr<DvsCamera> camera = fusion ? nullptr : manager.openCamera(serial);
    if (fusion) {
        toolOf = [&](ToolType t) { return fusion->getTool(t); };
    } else if (camera) {
        toolOf = [&](ToolType t) { return camera->getTool(t); };
    } else {
        throw Failure{"no camera with serial " + serial};
    }
    for (const NamedTool& named : namedTools()) {
        auto tool = toolOf(named.type);
        if (!tool) continue;
        for (const ParameterDescription& p : describeParameters(*tool)) {
            std::printf("%s\t%s\t%s\t%s\t%s\n", named.name, p.name.c_str(),
                        parameterTypeName(p.type), parameterRangeText(p).c_str(),
                        parameterValueText(p.value).c_str());
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments;
    cli::useUtf8Arguments(argc, argv, arguments);
#if defined(SIGPIPE)
    std::signal(SIGPIPE, SIG_IGN);
#endif
#if defined(SIGXFSZ)
    // A file size limit (ulimit -f) then fails the write with EFBIG, which
    // ends the output as a full disk does, instead of killing the process
    // in the middle of a word or a piece.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string cmd = argv[1];
    const std::vector<std::string> common = {"--seconds", "--set", "--rate", "--trigger-period-us",
                                             "--unplug-after-ms"};
    try {
        if (cmd == "list") return finishOutput(cmdList(Args(argc, argv, {})));
        if (cmd == "tools") return finishOutput(cmdTools(Args(argc, argv, {})));
        if (cmd == "stream") {
            auto valued = common;
            valued.push_back("--batch-us");
            return finishOutput(cmdStream(Args(argc, argv, valued)));
        }
        if (cmd == "record") {
            auto valued = common;
            valued.insert(valued.end(), {"--cache-seconds", "--on-edge", "--cache-dir"});
            return finishOutput(cmdRecord(Args(argc, argv, valued)));
        }
        if (cmd == "replay") return finishOutput(cmdReplay(Args(argc, argv, {"--name"})));
        if (cmd == "--help" || cmd == "-h" || cmd == "help") {
            std::fputs(kUsage, stdout);
            return finishOutput(0);
        }
        throw UsageError{"unknown command '" + cmd + "'"};
    } catch (const UsageError& e) {
        std::fprintf(stderr, "kvcam: error: %s (see kvcam --help)\n", e.message.c_str());
        return 2;
    } catch (const Failure& e) {
        std::fprintf(stderr, "kvcam: error: %s\n", e.message.c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvcam: error: %s\n", e.what());
        return 1;
    }
}
