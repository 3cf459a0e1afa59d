#pragma once

// The "%" text header of a RAW file: where the binary data starts, which
// event encoding follows, and the keys a recording description needs.
// Headers of other tools are accepted (no "% end", other keys).

#include <cstdint>
#include <string>

namespace korvane {

enum class RawFormat { Evt3, Evt2, Unknown };

struct RawHeader {
    RawFormat format = RawFormat::Evt3;  // a header that names no format means EVT 3.0
    std::string formatName;              // as written, for error messages
    uint64_t dataOffsetBytes = 0;        // first byte of binary data
    uint32_t width = 1280;
    uint32_t height = 720;
    bool geometryKnown = false;  // width and height came from the header
    std::string generation;      // sensor description as written; empty when absent
    std::string sensorGeneration;
    std::string sensorName;
    std::string serialNumber;
    std::string integratorName;  // who wrote the file, as written; empty when absent
    uint64_t dvsStartTimestamp = 0;
    uint64_t apsStartTimestamp = 0;
    bool hasHeader = false;   // at least one '%' line
    bool hasEndLine = false;  // the header closed with "% end" (not cut short)
};

// Parses the header at the start of [data, data + size). Never fails: an
// unknown encoding is reported through format == Unknown.
RawHeader parseRawHeader(const uint8_t* data, uint64_t size);

class RawFile;
// The same for a file, read in pieces: a huge header line costs no memory.
RawHeader readRawHeader(const RawFile& file);

const char* rawFormatName(RawFormat format);

// Text from a header made safe to print: bytes outside printable ASCII
// (terminal escapes, NUL, line breaks) become \xNN.
std::string printableText(const std::string& text);

struct DvsFileInfo;
// Our header for a new recording of `format` and the given geometry. The
// sensor lines are taken from `sensorFrom` where it has them (a cut keeps
// its source's description).
std::string recordingHeader(const DvsFileInfo& info, RawFormat format, uint32_t width,
                            uint32_t height, const RawHeader* sensorFrom = nullptr);
// The header of a cut of a recording whose header was `source`: the facts
// the source states (geometry, sensor, serial, our writer's lines when we
// wrote it) and none it does not.
std::string cutHeader(const DvsFileInfo& info, RawFormat format, const RawHeader& source);
// The header of a copy of a recording (a cut, a RAW to RAW conversion) whose
// events start at firstEvent_us: the source's serial and frame start, and
// cutHeader's facts.
std::string copyHeader(const RawHeader& source, RawFormat format, uint64_t firstEvent_us);

}  // namespace korvane
