#pragma once

// Conversion of recordings between RAW (EVT 3.0 / EVT 2.0) and the formats
// analysis tools read: HDF5 (.h5), numpy (.npy) and text (.csv). The format
// of each side is chosen by the file's extension; .h5 and .npy files of the
// layouts written here are read back, so any of them converts to RAW.
//
// Extensions: .raw, .h5 (or .hdf5), .npy in; the same and .csv out. The
// layouts are described where they are written (H5Output.cpp,
// NpyConvert.cpp, CsvConvert.cpp). Trigger edges are kept by every format
// but CSV. A RAW output from a source without geometry (.npy) costs one more
// pass over the range to find a sensor size its events fit in.
//
// Threads: one conversion per call; calls on different files may run at once.
// An .h5 output compresses on up to eight short-lived threads of its own.
// Failures: false with *error set; the output is written atomically, so a
// failed or cancelled conversion leaves no partial file and an existing
// target untouched. A RAW or .h5 output refuses more than a day without an
// event or edge (it would have to fill that time), before writing it.
// Cancelling: `progress` is also asked (at most every 50 ms) while one long
// stretch is written.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace korvane {

struct ConvertOptions {
    std::optional<uint64_t> from_us;  // first time kept (inclusive)
    std::optional<uint64_t> to_us;    // end of the kept range (exclusive)
    std::string raw_format = "evt3";  // "evt3" or "evt2" for a .raw output
    // Called now and then with the done fraction in [0, 1]; returning false
    // cancels the conversion.
    std::function<bool(double)> progress;
};

struct ConvertResult {
    uint64_t events = 0;
    uint64_t triggers = 0;
    uint64_t output_bytes = 0;
};

bool convertRecording(const std::string& input_path, const std::string& output_path,
                      const ConvertOptions& options, ConvertResult* result, std::string* error);

}  // namespace korvane
