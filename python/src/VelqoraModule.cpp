// The module `velqora`: reading RAW event recordings into numpy arrays and
// converting them. Every call comes from Python with the GIL held; decoding
// and converting run with it released.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <limits>
#include <optional>
#include <string>

#include "Camera.h"
#include "EventArrays.h"
#include "Recording.h"
#include "korvane/convert/Convert.h"

namespace py = pybind11;
using velqora::Recording;
using velqora::Slices;

namespace {

constexpr uint64_t kNoEnd = std::numeric_limits<uint64_t>::max();

const char* const kModuleDoc = R"(Read RAW event recordings (EVT 3.0 and EVT 2.0) into numpy arrays.

    import velqora
    with velqora.open("demo.raw") as rec:
        ev = rec.read(rec.start_us, rec.start_us + 1_000_000)   # first second
        print(len(ev), ev["t"][:5], ev["x"][:5])

Events are structured arrays of EVENT_DTYPE (x <u2, y <u2, p <i2, t <i8;
16 bytes each, times in microseconds); trigger edges use TRIGGER_DTYPE
(t <i8, id <i2, p <i2). Windows are half-open: t0_us <= t < t1_us.

Memory: an event array is the reader's buffer. When the array (and every
view of it) is gone, a buffer of up to 1 Mi events (16 MiB) is kept by its
recording for the next read and given back by close(); a larger one is
given back to the system at once. A large window (decoded on every core
into memory of its own) leaves its buffer to the next reads while a
recording is open: at most two, up to 512 MiB of them kept in place and
any more handed to the system lazily (reclaimable under memory pressure).
close() gives them back; with no recording open, such a buffer goes back
when its array dies.

Cameras: cameras() lists them, open_camera(serial) opens one to tune
(tools, get, set), stream, record and record around trigger edges; see
Camera.
)";

const char* const kOpenDoc =
    R"(Opens a RAW recording (str, bytes or os.PathLike) and loads or builds its
seek index; Ctrl+C cancels a long index build. Raises FileNotFoundError (or
another OSError) when the path cannot be opened, and RecordingError with the
reader's reason when the file is no readable recording.)";

const char* const kConvertDoc =
    R"(Converts the recording src into dst, the format of each chosen by its
extension (.raw, .h5, .npy, .csv); from_us (inclusive) and to_us (exclusive)
bound the kept range; format ("evt3" or "evt2") is the encoding of a .raw
output. The output appears complete or not at all. Returns the counts
{"events", "triggers", "output_bytes"}; raises RecordingError with the
converter's reason, ValueError for bad arguments, KeyboardInterrupt on
Ctrl+C (leaving no output).)";

py::dict convert(const py::handle& src, const py::handle& dst, std::optional<int64_t> from_us,
                 std::optional<int64_t> to_us, const std::string& format) {
    if (format != "evt3" && format != "evt2") {
        throw py::value_error("unknown format '" + format + "' (evt3 or evt2)");
    }
    if ((from_us && *from_us < 0) || (to_us && *to_us < 0)) {
        throw py::value_error("times are microseconds and never negative");
    }
    if (from_us && to_us && *to_us < *from_us) {
        throw py::value_error("reversed range: to_us " + std::to_string(*to_us) +
                              " is before from_us " + std::to_string(*from_us));
    }
    const velqora::FsPath in = velqora::fsPath(src);
    const velqora::FsPath out = velqora::fsPath(dst);
    korvane::ConvertOptions options;
    if (from_us) options.from_us = uint64_t(*from_us);
    if (to_us) options.to_us = uint64_t(*to_us);
    options.raw_format = format;
    bool interrupted = false;
    options.progress = [&interrupted](double) {
        py::gil_scoped_acquire acquire;
        if (PyErr_CheckSignals() != 0) interrupted = true;
        return !interrupted;
    };
    korvane::ConvertResult result;
    std::string error;
    bool ok = false;
    {
        py::gil_scoped_release release;
        ok = korvane::convertRecording(in.bytes, out.bytes, options, &result, &error);
    }
    if (interrupted) throw py::error_already_set();
    if (!ok) throw velqora::RecordingError(in.display + " -> " + out.display + ": " + error);
    py::dict counts;
    counts["events"] = result.events;
    counts["triggers"] = result.triggers;
    counts["output_bytes"] = result.output_bytes;
    return counts;
}

}  // namespace

PYBIND11_MODULE(velqora, m) {
    m.doc() = kModuleDoc;
    m.attr("EVENT_DTYPE") = velqora::eventDtype();
    m.attr("TRIGGER_DTYPE") = velqora::triggerDtype();
    py::register_exception<velqora::RecordingError>(m, "RecordingError", PyExc_OSError);
    velqora::registerCameras(m);

    py::class_<Slices>(m, "Slices", "Iterator of velqora.Recording.slices().")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &Slices::next)
        .def("__len__", &Slices::remaining);

    py::class_<Recording>(m, "Recording", R"(An open RAW recording; made by velqora.open().

Usable as a context manager; close() releases the file (arrays already read
stay valid). Methods of a closed recording raise ValueError. Reads on
several threads are safe; they run one at a time.)")
        .def_property_readonly("info", &Recording::info,
                               "The fields of `kvraw info` as a dict: format, width, height, "
                               "serial_number, start_us, end_us, dvs_start_timestamp, "
                               "aps_start_timestamp (start_us and end_us are 0 without events).")
        .def_property_readonly("start_us", &Recording::startUs,
                               "Time of the first event in the file (us); None without events.")
        .def_property_readonly("end_us", &Recording::endUs,
                               "Latest event time in the file (us, inclusive); None without "
                               "events.")
        .def_property_readonly("path", &Recording::path, "The path as given to open().")
        .def_property_readonly("closed", &Recording::closed, "True after close().")
        .def("read", &Recording::read, py::arg("t0_us"), py::arg("t1_us"),
             R"(Every event with t0_us <= t < t1_us, in file order, as an array of
EVENT_DTYPE. The array owns the decoded buffer itself (no copy). ValueError
when t1_us < t0_us or a time is negative.)")
        .def("triggers", &Recording::triggers, py::arg("t0_us"), py::arg("t1_us"),
             R"(The trigger edges with t0_us <= t < t1_us, in file order, as an array of
TRIGGER_DTYPE.)")
        .def(
            "slices",
            [](py::object self, int64_t duration_us, std::optional<int64_t> t0_us,
               std::optional<int64_t> t1_us) {
                const Recording& rec = self.cast<const Recording&>();
                if (duration_us <= 0) throw py::value_error("duration_us must be positive");
                if ((t0_us && *t0_us < 0) || (t1_us && *t1_us < 0)) {
                    throw py::value_error("times are microseconds and never negative");
                }
                const std::optional<uint64_t> start = rec.startUs();
                const std::optional<uint64_t> last = rec.endUs();
                uint64_t t0 = t0_us ? uint64_t(*t0_us) : start.value_or(0);
                uint64_t t1 =
                    t1_us ? uint64_t(*t1_us) : (last ? (*last == kNoEnd ? kNoEnd : *last + 1) : t0);
                if (t1 < t0) {
                    if (t1_us && t0_us) {
                        throw py::value_error("reversed window: t1_us " + std::to_string(t1) +
                                              " is before t0_us " + std::to_string(t0));
                    }
                    t1 = t0;  // a bound given beyond the data: nothing to iterate
                }
                return std::make_unique<Slices>(std::move(self), uint64_t(duration_us), t0, t1);
            },
            py::arg("duration_us"), py::arg("t0_us") = py::none(), py::arg("t1_us") = py::none(),
            R"(An iterator of event arrays: reads [t0_us, t1_us) (by default the whole
file, from the first event) in consecutive windows of duration_us, the last
one cut at t1_us: every event in the range comes exactly once, and an empty
window gives an empty array. len() tells the windows left. The next windows
are decoded ahead on two threads of the iterator, which end with it.)")
        .def("close", &Recording::close, "Releases the file; arrays already read stay valid.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__",
             [](Recording& self, const py::object&, const py::object&, const py::object&) {
                 self.close();
                 return false;
             })
        .def("__repr__", &Recording::repr);

    m.def(
        "open", [](const py::object& path) { return new Recording(path); }, py::arg("path"),
        kOpenDoc);
    m.def("convert", &convert, py::arg("src"), py::arg("dst"), py::arg("from_us") = py::none(),
          py::arg("to_us") = py::none(), py::arg("format") = "evt3", kConvertDoc);
}
