#include "Camera.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "EventArrays.h"
#include "Recording.h"
#include "korvane/camera/DvsCameraManager.h"
#include "korvane/camera/RecordingSession.h"
#include "korvane/camera/ToolSettings.h"
#include "korvane/sim/SimulatedBackend.h"
#include "korvane/sim/SimulatedDvsCamera.h"

namespace py = pybind11;
using namespace korvane;

namespace velqora {

namespace {

// How often a wait takes the GIL back to look for Ctrl+C.
constexpr auto kSignalPoll = std::chrono::milliseconds(50);
constexpr auto kIdle = std::chrono::milliseconds(1);
// A batch longer than a second would keep Python waiting for no reason.
constexpr int64_t kMaxBatch_us = 1000000;
// Bounded so camera-time sums cannot wrap.
constexpr double kMaxSeconds = 1e9;

// Camera failures: no start, connection lost, busy. velqora.CameraError.
struct CameraError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void raiseLookup(const std::string& message) {
    PyErr_SetString(PyExc_LookupError, message.c_str());
    throw py::error_already_set();
}

[[noreturn]] void raiseOsError(int error, const std::string& display) {
    py::object exc = py::module_::import("builtins")
                         .attr("OSError")(error, std::strerror(error), py::str(display));
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
    throw py::error_already_set();
}

// Seconds as given by Python (int or float) in microseconds.
uint64_t secondsToUs(double seconds, const char* what) {
    if (!std::isfinite(seconds) || seconds < 0 || seconds > kMaxSeconds)
        throw py::value_error(std::string(what) + " must be 0 to 1e9 seconds");
    return uint64_t(std::llround(seconds * 1e6));
}

// Polled from a wait running without the GIL: true once Ctrl+C came (the
// Python error is then set, to be raised by the caller), or once the camera
// is being closed on another thread.
class SignalCheck {
public:
    explicit SignalCheck(const std::atomic<bool>* closing = nullptr) : closing_(closing) {}
    bool operator()() {
        if (interrupted_ || (closing_ && closing_->load())) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < kSignalPoll) return false;
        last_ = now;
        py::gil_scoped_acquire acquire;
        interrupted_ = PyErr_CheckSignals() != 0;
        return interrupted_;
    }
    bool interrupted() const { return interrupted_; }

private:
    const std::atomic<bool>* closing_;
    std::chrono::steady_clock::time_point last_{};
    bool interrupted_ = false;
};

py::object valueObject(const std::optional<ParameterValue>& value) {
    if (!value) return py::none();
    if (const bool* b = std::get_if<bool>(&*value)) return py::bool_(*b);
    if (const int64_t* i = std::get_if<int64_t>(&*value)) return py::int_(*i);
    if (const double* d = std::get_if<double>(&*value)) return py::float_(*d);
    return py::str(std::get<std::string>(*value));
}

ParameterValue valueFromObject(const py::handle& value) {
    py::module_ np = py::module_::import("numpy");
    if (PyBool_Check(value.ptr()) || py::isinstance(value, np.attr("bool_")))
        return PyObject_IsTrue(value.ptr()) == 1;
    if (py::isinstance<py::str>(value)) return value.cast<std::string>();
    if (PyFloat_Check(value.ptr()) || py::isinstance(value, np.attr("floating")))
        return PyFloat_AsDouble(value.ptr());
    if (PyIndex_Check(value.ptr())) {
        py::int_ i = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
        if (!i) throw py::error_already_set();
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(i.ptr(), &overflow);
        if (overflow != 0)
            throw py::value_error(py::str(value).cast<std::string>() + " is out of range");
        return int64_t(v);
    }
    throw py::type_error("a setting takes bool, int, float or str, not " +
                         py::str(py::type::of(value).attr("__name__")).cast<std::string>());
}

// Statistics and trigger edges from the camera's threads.
struct CameraBox {
    std::mutex mutex;
    bool haveStatistics = false;
    KvStatisticInfo statistics;
    uint64_t reports = 0;
};

struct EdgeBox {
    std::mutex mutex;
    std::vector<EventTriggerIn> edges;
};

class CameraStream;

class Camera {
public:
    explicit Camera(std::shared_ptr<DvsCamera> camera)
        : camera_(std::move(camera)), box_(std::make_shared<CameraBox>()) {
        description_ = camera_->getDescription();
        camera_->setStatisticInfoCallback([box = box_](const KvStatisticInfo& s) {
            std::lock_guard lock(box->mutex);
            box->statistics = s;
            box->haveStatistics = true;
            ++box->reports;
        });
    }
    ~Camera() { shutdown(); }

    void close() {
        if (busy_.load() && !stream_) {
            // A recording on another thread: it ends now, its file finished,
            // and that call returns what it wrote.
            closing_.store(true);
            {
                py::gil_scoped_release release;
                while (busy_.load())
                    std::this_thread::sleep_for(kIdle);
            }
            closing_.store(false);
        }
        shutdown();
    }
    const std::atomic<bool>* closing() const { return &closing_; }
    void shutdown();
    bool closed() const { return !camera_; }
    DvsCamera& open() const {
        if (!camera_) throw py::value_error("camera is closed: " + description_.serial);
        return *camera_;
    }
    const std::shared_ptr<DvsCamera>& handle() const {
        open();
        return camera_;
    }
    const CameraDescription& description() const { return description_; }

    // The one consumer of the live batches.
    void claim(const char* what) {
        open();
        if (busy_.load()) {
            throw CameraError("the camera is busy with " + busyWith_ + "; " + what +
                              " waits until it is done");
        }
        busy_ = true;
        busyWith_ = what;
    }
    void unclaim() { busy_ = false; }
    void setStream(CameraStream* stream) { stream_ = stream; }

    std::shared_ptr<CameraTool> tool(const std::string& name) const {
        ToolType type{};
        if (!toolTypeByName(name, type))
            raiseLookup("unknown tool '" + name + "' (tools: " + toolNameList() + ")");
        auto t = open().getTool(type);
        if (!t) raiseLookup("the camera has no tool " + name);
        return t;
    }

    py::dict tools() const {
        py::dict out;
        for (const NamedTool& named : namedTools()) {
            auto t = open().getTool(named.type);
            if (!t) continue;
            py::dict params;
            for (const ParameterDescription& p : describeParameters(*t)) {
                py::dict d;
                d["type"] = parameterTypeName(p.type);
                const bool numeric = p.type == ParameterType::Int || p.type == ParameterType::Float;
                if (p.type == ParameterType::Int) {
                    d["range"] = py::make_tuple(int64_t(p.min), int64_t(p.max));
                } else if (numeric) {
                    d["range"] = py::make_tuple(p.min, p.max);
                } else {
                    d["range"] = py::none();
                }
                d["options"] = p.type == ParameterType::Enum ? py::object(py::cast(p.options))
                                                             : py::object(py::none());
                d["unit"] = p.unit;
                d["value"] = valueObject(p.value);
                d["description"] = p.description;
                params[py::str(p.name)] = d;
            }
            out[named.name] = params;
        }
        return out;
    }

    py::object get(const std::string& toolName, const std::string& name) const {
        auto t = tool(toolName);
        for (const ParameterDescription& p : describeParameters(*t))
            if (p.name == name) return valueObject(p.value);
        raiseLookup("tool " + toolName + " has no parameter " + name);
    }

    void set(const std::string& toolName, const std::string& name, const py::handle& value) {
        auto t = tool(toolName);
        const ParameterValue v = valueFromObject(value);
        const SetResult r = setToolParameter(*t, name, v);
        switch (r.outcome) {
            case SetOutcome::Done:
                return;
            case SetOutcome::UnknownParameter:
                raiseLookup("tool " + toolName + " has " + r.reason);
            case SetOutcome::WrongType:
                throw py::type_error(toolName + "." + r.reason);
            case SetOutcome::Refused:
                throw py::value_error("the camera refused " + toolName + "." + name + "=" +
                                      parameterValueText(v) + ": " + r.reason);
        }
    }

    py::object statistics() const {
        open();
        std::lock_guard lock(box_->mutex);
        if (!box_->haveStatistics) return py::none();
        py::dict d;
        d["event_rate"] = box_->statistics.eventRate;
        d["bandwidth"] = box_->statistics.bandwidth;
        d["reports"] = box_->reports;
        return d;
    }

    py::dict record(const py::handle& path, double seconds);
    py::list recordAroundEdges(const py::handle& folder, int before_s, double after_s,
                               const std::string& edge, int count, std::optional<double> timeout_s);

    std::string repr() const {
        std::string s = "<velqora.Camera " + description_.serial + " " + description_.product;
        return s + (camera_ ? ">" : " closed>");
    }

private:
    std::shared_ptr<DvsCamera> camera_;
    std::shared_ptr<CameraBox> box_;
    CameraDescription description_;
    // Set and cleared with the GIL held; read without it by close().
    std::atomic<bool> busy_{false};
    std::atomic<bool> closing_{false};
    std::string busyWith_;
    CameraStream* stream_ = nullptr;
};

// Holds a claim on the camera for one call.
struct Claim {
    Camera& camera;
    Claim(Camera& c, const char* what) : camera(c) { c.claim(what); }
    ~Claim() { camera.unclaim(); }
};

struct StreamBatch {
    py::object events, triggers;
    uint64_t t0_us = 0, t1_us = 0;
    bool span = false;
    uint64_t dropped = 0;
};

class CameraStream {
public:
    CameraStream(py::object owner, int64_t batch_us, std::optional<double> seconds)
        : owner_(std::move(owner)), camera_(owner_.cast<Camera*>()) {
        if (batch_us <= 0 || batch_us > kMaxBatch_us)
            throw py::value_error("batch_us must be 1 to 1000000");
        const uint64_t limit = seconds ? secondsToUs(*seconds, "seconds") : 0;
        camera_->claim("a stream");
        handle_ = camera_->handle();
        active_ = true;
        camera_->setStream(this);
        limited_ = seconds.has_value();
        limit_us_ = limit;
        if (limited_ && limit == 0) {
            close();
            return;
        }
        handle_->setBatchInterval(uint64_t(batch_us));
        auto edges = edges_;
        callback_ = handle_->addTriggerInCallback([edges](const EventTriggerIn& t) {
            std::lock_guard lock(edges->mutex);
            edges->edges.push_back(t);
        });
        knowsTime_ = handle_->streamTime(start_us_);
        wallStart_ = std::chrono::steady_clock::now();
        droppedBase_ = droppedLast_ = handle_->batchesDropped();
        if (handle_->start() != 0) {
            close();
            throw CameraError("the camera does not start");
        }
        started_ = true;
    }
    ~CameraStream() { close(); }

    void close() {
        if (!active_) return;
        active_ = false;
        if (started_) handle_->stop();
        started_ = false;
        if (callback_ != DvsCamera::kNoCallback) handle_->removeTriggerInCallback(callback_);
        callback_ = DvsCamera::kNoCallback;
        handle_.reset();
        camera_->setStream(nullptr);
        camera_->unclaim();
    }

    StreamBatch next() {
        if (!active_) throw py::stop_iteration();
        auto batch = std::make_shared<std::vector<Event2D>>();
        bool got = false, lost = false, timeUp = false, closedMeanwhile = false;
        SignalCheck interrupted;
        // Its own share: a close() on another thread must not free the
        // camera this wait uses.
        const std::shared_ptr<DvsCamera> hold = handle_;
        DvsCamera& cam = *hold;
        {
            py::gil_scoped_release release;
            while (true) {
                if (cam.getNextEvents(*batch)) {
                    got = true;
                    break;
                }
                if (!cam.isConnected()) {
                    lost = true;
                    break;
                }
                if (!active_.load()) {
                    closedMeanwhile = true;
                    break;
                }
                if (limited_ && !knowsTime_ &&
                    std::chrono::steady_clock::now() - wallStart_ >=
                        std::chrono::microseconds(limit_us_)) {
                    timeUp = true;
                    break;
                }
                if (interrupted()) break;
                std::this_thread::sleep_for(kIdle);
            }
            if (got) clearEventPadding(batch->data(), batch->size());
        }
        if (interrupted.interrupted()) {
            close();
            throw py::error_already_set();
        }
        if (lost) {
            close();
            throw CameraError("camera connection lost");
        }
        if (closedMeanwhile) throw py::stop_iteration();
        if (timeUp) {
            close();
            throw py::stop_iteration();
        }
        StreamBatch out;
        out.span = cam.lastBatchSpan(out.t0_us, out.t1_us);
        std::vector<EventTriggerIn> edges;
        {
            std::lock_guard lock(edges_->mutex);
            auto& all = edges_->edges;
            // A batch's edges are told before it can be taken, so every edge
            // before its end is here; later ones wait for the next batch.
            auto split = all.begin();
            if (out.span) {
                while (split != all.end() && split->timestamp < out.t1_us)
                    ++split;
            } else {
                split = all.end();
            }
            edges.assign(all.begin(), split);
            all.erase(all.begin(), split);
        }
        const uint64_t dropped = cam.batchesDropped();
        out.dropped = dropped - droppedLast_;
        droppedLast_ = dropped;
        ++batches_;
        events_ += batch->size();
        out.events = eventArray(std::move(batch));
        out.triggers = triggerArray(edges);
        if (limited_) {
            const bool done = knowsTime_ && out.span
                                  ? out.t1_us >= start_us_ + limit_us_
                                  : std::chrono::steady_clock::now() - wallStart_ >=
                                        std::chrono::microseconds(limit_us_);
            if (done) close();  // this batch is the last
        }
        return out;
    }

    uint64_t batches() const { return batches_; }
    uint64_t events() const { return events_; }
    uint64_t dropped() const {
        return (handle_ ? handle_->batchesDropped() : droppedLast_) - droppedBase_;
    }
    bool active() const { return active_; }

private:
    py::object owner_;
    Camera* camera_;
    std::shared_ptr<DvsCamera> handle_;
    std::shared_ptr<EdgeBox> edges_ = std::make_shared<EdgeBox>();
    uint32_t callback_ = DvsCamera::kNoCallback;
    std::atomic<bool> active_{false};  // cleared by close(), perhaps on another thread
    bool started_ = false, limited_ = false, knowsTime_ = false;
    uint64_t limit_us_ = 0, start_us_ = 0;
    std::chrono::steady_clock::time_point wallStart_{};
    uint64_t droppedBase_ = 0, droppedLast_ = 0, batches_ = 0, events_ = 0;
};

void Camera::shutdown() {
    if (stream_) stream_->close();
    if (!camera_) return;
    camera_->setStatisticInfoCallback(nullptr);
    camera_->stop();
    camera_.reset();
}

[[noreturn]] void raiseRecording(const std::string& message) {
    throw RecordingError(message);
}

py::dict Camera::record(const py::handle& path, double seconds) {
    const uint64_t span_us = secondsToUs(seconds, "seconds");
    const FsPath p = fsPath(path);
    Claim claim(*this, "a recording");
    RecordingSession session(handle());
    SignalCheck interrupted(closing());
    std::string why;
    bool started = false, streaming = false;
    WaitEnd end = WaitEnd::Reached;
    RecordingStatus status;
    bool ok = false;
    uint64_t t0 = 0;
    {
        py::gil_scoped_release release;
        // Recording first, then streaming: the file holds everything streamed.
        started = session.startRecording(p.bytes, &why);
        if (started) streaming = session.startStream(&why);
        if (streaming) {
            t0 = session.streamTime();
            end = session.waitUntil(t0 + span_us, span_us, std::ref(interrupted));
        }
        session.stopStream();
        if (started) ok = session.stopRecording(status);
    }
    if (!started)
        raiseRecording(why.find(p.bytes) != std::string::npos ? why : p.display + ": " + why);
    if (!streaming) throw CameraError(why);
    if (interrupted.interrupted()) throw py::error_already_set();
    if (end == WaitEnd::CameraLost && status.error.empty()) status.error = "camera unplugged";
    if (!ok || !status.error.empty()) {
        raiseRecording(p.display + ": " +
                       (status.error.empty() ? std::string("recording failed") : status.error));
    }
    py::dict d;
    d["path"] = p.display;
    d["events_written"] = status.eventsWritten;
    return d;
}

py::list Camera::recordAroundEdges(const py::handle& folder, int before_s, double after_s,
                                   const std::string& edge, int count,
                                   std::optional<double> timeout_s) {
    if (before_s < 1 || before_s > 65535) throw py::value_error("before_s must be 1 to 65535");
    const uint64_t after_us = secondsToUs(after_s, "after_s");
    int16_t polarity = 1;
    if (edge == "rising") {
        polarity = 1;
    } else if (edge == "falling") {
        polarity = 0;
    } else {
        throw py::value_error("edge must be 'rising' or 'falling', not '" + edge + "'");
    }
    if (count < 1) throw py::value_error("count must be at least 1");
    const uint64_t timeout_us = timeout_s ? secondsToUs(*timeout_s, "timeout_s") : 0;
    const FsPath dir = fsPath(folder);
    struct stat st {};
    if (::stat(dir.bytes.c_str(), &st) != 0) raiseOsError(errno, dir.display);
    if (!S_ISDIR(st.st_mode)) raiseOsError(ENOTDIR, dir.display);

    Claim claim(*this, "a recording");
    RecordingSession session(handle());
    std::string serial = description_.serial;
    for (char& c : serial)
        if (c == '/' || c == '\\' || c == '\0') c = '_';
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(timeout_us);
    SignalCheck interrupted(closing());
    auto stop = [&] {
        // Past the timeout the wait for edges ends: fewer files than asked.
        if (timeout_s && std::chrono::steady_clock::now() >= deadline) return true;
        return interrupted();
    };
    struct Made {
        std::string bytes, display;
        uint64_t edge_us = 0;
        RecordingStatus status;
        bool ok = false;
    };
    std::vector<Made> made;
    std::string failure;
    bool lost = false;
    {
        py::gil_scoped_release release;
        std::string why;
        if (!session.armEdges(uint16_t(before_s), polarity, dir.bytes, &why) ||
            !session.startStream(&why)) {
            failure = why;
        }
        uint64_t notBefore = 0;
        while (failure.empty() && int(made.size()) < count) {
            uint64_t edge_us = 0;
            const WaitEnd w = session.waitForEdge(notBefore, edge_us, stop);
            if (w == WaitEnd::CameraLost) lost = true;
            if (w != WaitEnd::Reached) break;
            Made m;
            m.edge_us = edge_us;
            const std::string name = serial + "_edge_" + std::to_string(edge_us) + ".raw";
            m.bytes = dir.bytes + "/" + name;
            m.display = dir.display + "/" + name;
            if (!session.startRecording(m.bytes, &why)) {
                failure = why.find(m.bytes) != std::string::npos ? why : m.display + ": " + why;
                break;
            }
            // The timeout is for waiting for edges: a file once begun gets its
            // seconds after the edge, unless Ctrl+C ends it early (finished).
            const WaitEnd e =
                session.waitUntil(edge_us + after_us, after_us, std::ref(interrupted));
            m.ok = session.stopRecording(m.status);
            if (e == WaitEnd::CameraLost && m.status.error.empty())
                m.status.error = "camera unplugged";
            notBefore = edge_us + after_us;
            made.push_back(std::move(m));
            if (e != WaitEnd::Reached) break;
        }
        session.stopStream();
    }
    if (interrupted.interrupted()) throw py::error_already_set();
    if (!failure.empty()) raiseRecording(failure);
    py::list out;
    for (const Made& m : made) {
        if (!m.ok || !m.status.error.empty()) {
            raiseRecording(
                m.display + ": " +
                (m.status.error.empty() ? std::string("recording failed") : m.status.error));
        }
        py::dict d;
        d["path"] = m.display;
        d["edge_us"] = m.edge_us;
        d["events_written"] = m.status.eventsWritten;
        out.append(d);
    }
    if (lost && int(made.size()) < count) throw CameraError("camera connection lost");
    return out;
}

const char* const kCamerasDoc =
    R"(The cameras the camera manager finds, as a list of CameraInfo named
tuples (serial, product, manufacturer). The simulated cameras are always
there; fusion cameras are listed too, but open_camera opens event cameras
only.)";

const char* const kOpenCameraDoc =
    R"(Opens the event camera with this serial and returns a Camera (use it in
a `with` block, or call close()). Raises LookupError naming the cameras
there are when no camera has the serial, CameraError when the camera cannot
be opened (a fusion camera, or one in use).)";

const char* const kSimulateDoc =
    R"(Simulation controls of a simulated camera, kept out of the Camera API:
events_per_s sets the scene's event rate (0 to the simulator's maximum),
trigger_period_us the period of its trigger-in signal (both edges, on
channels 0 and 1 when enabled through the trigger_in tool). Returns the
simulator's own figures: {"events_streamed" (since the camera was opened),
"stream_time_us", "batches_dropped"}. ValueError for a camera that is not
simulated.)";

const char* const kCameraDoc =
    R"(An open event camera; made by velqora.open_camera().

Usable as a context manager; close() stops the stream and releases the
camera. Methods of a closed camera raise
ValueError. Settings go through the camera's tools, named as kvcam --set
names them: biases, trigger_in, anti_flicker, event_trail_filter,
event_rate_control, roi (see tools()). One consumer of the live batches at a
time: a stream iterator or a record call; starting another meanwhile raises
CameraError.)";

const char* const kStreamDoc =
    R"(Streams the camera: an iterator of StreamBatch objects, one per batch_us of
camera time (1 to 1000000). Each batch holds .events (EVENT_DTYPE, as
Recording.read gives them), .triggers (TRIGGER_DTYPE: the trigger edges up to
the batch's end; enable an input with set("trigger_in", "channel_0", True)),
.t0_us/.t1_us (the batch's camera-time span; None when the camera cannot
tell) and .dropped (batches the camera discarded since the previous one
because they were not fetched in time; never hidden). The iterator counts
.batches, .events and .dropped in total. With seconds, it ends after that
much camera time (wall time on a camera that cannot tell its time);
without, it runs until close() or break. The stream starts at once and stops
when the iterator ends, is closed (also by `with`) or is collected. The GIL
is released while waiting; Ctrl+C stops the stream and raises
KeyboardInterrupt. CameraError when the camera does not start or is lost.)";

const char* const kRecordDoc =
    R"(Records `seconds` of camera time to path (EVT 3.0 RAW with our header),
streaming meanwhile, and returns {"path", "events_written"}. The file rules
are the recorders' own: never through a symbolic link, into a device or
FIFO, or onto a file another recording is writing; a refusal, or a write that
fails later (disk full, camera lost), raises RecordingError with the reason
(the file keeps what was written). Ctrl+C ends the recording early, the file
finished and readable, and raises KeyboardInterrupt. The GIL is released
while recording.)";

const char* const kRecordEdgesDoc =
    R"(Records around edges of trigger input 0 with the camera's trigger cache,
as `kvcam record --cache-seconds --on-edge` does: keeps before_s whole
seconds (1 to 65535) of stream in folder, and for each edge ("rising" or
"falling") writes folder/SERIAL_edge_T.raw (T: the edge's camera time in
us) holding before_s seconds before the edge and after_s after it. Enables
trigger input 0 meanwhile (and restores it). Edges that come while a file
is being written are skipped. Stops after `count` files, or when timeout_s
of wall time has passed (then with fewer files). Returns one dict per file:
{"path", "edge_us", "events_written"}. Refusals and write errors raise
RecordingError with the reason; FileNotFoundError or NotADirectoryError for
a folder that is none; Ctrl+C finishes the file being written and raises
KeyboardInterrupt.)";

}  // namespace

void registerCameras(py::module_& m) {
    py::register_exception<CameraError>(m, "CameraError", PyExc_RuntimeError);
    py::object namedtuple = py::module_::import("collections").attr("namedtuple");
    py::object cameraInfo =
        namedtuple("CameraInfo", py::make_tuple("serial", "product", "manufacturer"));
    cameraInfo.attr("__module__") = "velqora";
    cameraInfo.attr("__doc__") = "A camera the manager finds: serial, product, manufacturer.";
    m.attr("CameraInfo") = cameraInfo;

    py::class_<StreamBatch>(m, "StreamBatch",
                            "One batch of a camera stream: events, triggers, t0_us, t1_us, "
                            "dropped (see Camera.stream).")
        .def_readonly("events", &StreamBatch::events, "Events of the batch (EVENT_DTYPE).")
        .def_readonly("triggers", &StreamBatch::triggers,
                      "Trigger edges up to the batch's end (TRIGGER_DTYPE).")
        .def_property_readonly(
            "t0_us",
            [](const StreamBatch& b) {
                return b.span ? py::object(py::int_(b.t0_us)) : py::none();
            },
            "Camera time the batch begins at (us); None when the camera cannot tell.")
        .def_property_readonly(
            "t1_us",
            [](const StreamBatch& b) {
                return b.span ? py::object(py::int_(b.t1_us)) : py::none();
            },
            "Camera time the batch ends before (us); None when the camera cannot tell.")
        .def_readonly("dropped", &StreamBatch::dropped,
                      "Batches the camera discarded since the previous batch.")
        .def(
            "__len__", [](const StreamBatch& b) { return py::len(b.events); },
            "The number of events in the batch.");

    py::class_<CameraStream>(m, "CameraStream", "Iterator of Camera.stream().")
        .def(
            "__iter__", [](py::object self) { return self; }, "The iterator itself.")
        .def("__next__", &CameraStream::next,
             "The next StreamBatch; waits for it with the GIL released.")
        .def("close", &CameraStream::close, "Stops the stream (idempotent).")
        .def(
            "__enter__", [](py::object self) { return self; }, "The stream itself.")
        .def(
            "__exit__",
            [](CameraStream& self, const py::object&, const py::object&, const py::object&) {
                self.close();
                return false;
            },
            "Stops the stream.")
        .def_property_readonly("batches", &CameraStream::batches, "Batches delivered so far.")
        .def_property_readonly("events", &CameraStream::events, "Events delivered so far.")
        .def_property_readonly("dropped", &CameraStream::dropped,
                               "Batches the camera discarded during the stream.")
        .def_property_readonly("active", &CameraStream::active, "False once the stream ended.");

    py::class_<Camera>(m, "Camera", kCameraDoc)
        .def_property_readonly(
            "serial", [](const Camera& c) { return c.description().serial; }, "The serial.")
        .def_property_readonly(
            "product", [](const Camera& c) { return c.description().product; }, "The product name.")
        .def_property_readonly(
            "manufacturer", [](const Camera& c) { return c.description().manufacturer; },
            "The manufacturer.")
        .def_property_readonly("closed", &Camera::closed, "True after close().")
        .def("tools", &Camera::tools,
             R"(Every tool the camera offers and its parameters, as {tool: {parameter:
{"type", "range", "options", "unit", "value", "description"}}}: type is
"int", "float", "bool", "enum" or "string"; range (min, max) for numbers,
options the texts an enum takes (else None); value the one in force (None
when the camera cannot tell).)")
        .def("get", &Camera::get, py::arg("tool"), py::arg("name"),
             "The value in force of a tool's parameter (bool, int or str). LookupError for "
             "an unknown tool or parameter.")
        .def("set", &Camera::set, py::arg("tool"), py::arg("name"), py::arg("value"),
             R"(Sets a tool's parameter, in force from the camera's next slice of stream.
A switch takes a bool, an integer a whole number, an enum one of its option
texts. ValueError with the reason when the camera refuses the value (out of
range, not an option, a combination the sensor cannot take; the value in
force stays); TypeError for a value of the wrong kind; LookupError for an
unknown tool or parameter.)")
        .def("statistics", &Camera::statistics,
             R"(The camera's last per-second figures while it streams, as {"event_rate"
(events/s), "bandwidth" (bytes/s), "reports" (how many so far)}; None before
the first.)")
        .def(
            "stream",
            [](py::object self, int64_t batch_us, std::optional<double> seconds) {
                return new CameraStream(std::move(self), batch_us, seconds);
            },
            py::arg("batch_us") = 33333, py::arg("seconds") = py::none(), kStreamDoc)
        .def("record", &Camera::record, py::arg("path"), py::arg("seconds"), kRecordDoc)
        .def("record_around_edges", &Camera::recordAroundEdges, py::arg("folder"),
             py::arg("before_s"), py::arg("after_s"), py::arg("edge") = "rising",
             py::arg("count") = 1, py::arg("timeout_s") = py::none(), kRecordEdgesDoc)
        .def("close", &Camera::close,
             "Stops the stream and releases the camera (idempotent). A record call running on "
             "another thread ends first, its file finished, and returns what it wrote.")
        .def(
            "__enter__", [](py::object self) { return self; }, "The camera itself.")
        .def(
            "__exit__",
            [](Camera& self, const py::object&, const py::object&, const py::object&) {
                self.close();
                return false;
            },
            "Closes the camera.")
        .def("__repr__", &Camera::repr, "Serial and product, and whether it is closed.");

    m.def(
        "cameras",
        [cameraInfo]() {
            DvsCameraManager manager(defaultCameraBackends());
            py::list out;
            for (const auto& d : manager.getCameraDescs())
                out.append(cameraInfo(d.serial, d.product, d.manufacturer));
            return out;
        },
        kCamerasDoc);
    m.def(
        "open_camera",
        [](const std::string& serial) {
            DvsCameraManager manager(defaultCameraBackends());
            if (auto camera = manager.openCamera(serial)) return new Camera(std::move(camera));
            std::string known;
            bool listed = false;
            for (const auto& d : manager.getCameraDescs()) {
                known += (known.empty() ? "" : ", ") + d.serial;
                listed = listed || d.serial == serial;
            }
            if (listed) {
                throw CameraError("camera " + serial +
                                  " cannot be opened as an event camera (a fusion camera, or in "
                                  "use)");
            }
            raiseLookup("no camera with serial " + serial +
                        " (cameras: " + (known.empty() ? std::string("none") : known) + ")");
        },
        py::arg("serial"), kOpenCameraDoc);
    m.def(
        "simulate",
        [](Camera& camera, std::optional<int64_t> events_per_s,
           std::optional<int64_t> trigger_period_us) {
            auto* sim = dynamic_cast<SimulatedDvsCamera*>(camera.handle().get());
            if (!sim)
                throw py::value_error("camera " + camera.description().serial +
                                      " is not simulated");
            if (events_per_s) {
                if (*events_per_s < 0 ||
                    uint64_t(*events_per_s) > SimulatedDvsCamera::kMaxEventsPerSecond)
                    throw py::value_error("events_per_s must be 0 to " +
                                          std::to_string(SimulatedDvsCamera::kMaxEventsPerSecond));
                sim->setEventsPerSecond(uint64_t(*events_per_s));
            }
            if (trigger_period_us) {
                if (*trigger_period_us < 0)
                    throw py::value_error("trigger_period_us must not be negative");
                sim->setTriggerPeriod(uint64_t(*trigger_period_us));
            }
            py::dict d;
            d["events_streamed"] = sim->eventsStreamed();
            d["stream_time_us"] = sim->streamTime_us();
            d["batches_dropped"] = sim->batchesDropped();
            return d;
        },
        py::arg("camera"), py::arg("events_per_s") = py::none(),
        py::arg("trigger_period_us") = py::none(), kSimulateDoc);
}

}  // namespace velqora
