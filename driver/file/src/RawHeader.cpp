#include "korvane/file/RawHeader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <string_view>
#include <vector>

#include "DvsFileInfo.h"
#include "korvane/file/RawFile.h"
#include "Utils/FuncUtils.h"

namespace korvane {

namespace {

// Keys longer than this are of no interest; an enormous line is skipped unread.
constexpr size_t kMaxUsefulLine = 4096;

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

bool parseU64(std::string_view s, uint64_t& value) {
    s = trim(s);
    if (s.empty()) return false;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && p == s.data() + s.size();
}

bool parseU32(std::string_view s, uint32_t& value) {
    uint64_t v = 0;
    if (!parseU64(s, v) || v == 0 || v > 65536) return false;
    value = uint32_t(v);
    return true;
}

RawFormat formatFromEvtVersion(std::string_view v) {
    std::string s = lower(trim(v));
    if (s == "3.0" || s == "3") return RawFormat::Evt3;
    if (s == "2.0" || s == "2") return RawFormat::Evt2;
    return RawFormat::Unknown;
}

// "EVT3; height = 720; width = 1280" or "EVT2;height=480;width=640".
void parseFormatValue(std::string_view v, RawHeader& h) {
    size_t semi = v.find(';');
    std::string name = lower(trim(v.substr(0, semi)));
    h.formatName = std::string(trim(v.substr(0, semi)));
    if (name == "evt3" || name == "evt3.0") {
        h.format = RawFormat::Evt3;
    } else if (name == "evt2" || name == "evt2.0") {
        h.format = RawFormat::Evt2;
    } else {
        h.format = RawFormat::Unknown;
    }
    while (semi != std::string_view::npos) {
        v.remove_prefix(semi + 1);
        semi = v.find(';');
        std::string_view item = v.substr(0, semi);
        size_t eq = item.find('=');
        if (eq == std::string_view::npos) continue;
        std::string key = lower(trim(item.substr(0, eq)));
        std::string_view value = item.substr(eq + 1);
        if (key == "height" && parseU32(value, h.height)) h.geometryKnown = true;
        if (key == "width" && parseU32(value, h.width)) h.geometryKnown = true;
    }
}

void parseGeometry(std::string_view v, RawHeader& h) {
    v = trim(v);
    size_t x = v.find_first_of("xX");
    if (x == std::string_view::npos) return;
    uint32_t w = 0, ht = 0;
    if (parseU32(v.substr(0, x), w) && parseU32(v.substr(x + 1), ht)) {
        h.width = w;
        h.height = ht;
        h.geometryKnown = true;
    }
}

}  // namespace

const char* rawFormatName(RawFormat format) {
    switch (format) {
        case RawFormat::Evt3:
            return "EVT3";
        case RawFormat::Evt2:
            return "EVT2";
        default:
            return "unknown";
    }
}

std::string printableText(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(char(c));
        } else {
            out += "\\x";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        }
    }
    return out;
}

std::string recordingHeader(const DvsFileInfo& info, RawFormat format, uint32_t width,
                            uint32_t height, const RawHeader* sensorFrom) {
    const std::string base = generateDvsFileHeader(info);
    const bool evt2 = format == RawFormat::Evt2;
    auto keep = [&](const std::string& ours, const std::string* theirs) {
        return theirs && !theirs->empty() ? printableText(*theirs) : ours;
    };
    std::string out;
    size_t pos = 0;
    while (pos < base.size()) {
        size_t nl = base.find('\n', pos);
        if (nl == std::string::npos) nl = base.size();
        std::string line = base.substr(pos, nl - pos);
        pos = nl + 1;
        if (line.rfind("% evt ", 0) == 0) {
            line = evt2 ? "% evt 2.0" : "% evt 3.0";
        } else if (line.rfind("% format ", 0) == 0) {
            line = std::string("% format ") + (evt2 ? "EVT2" : "EVT3") +
                   "; height = " + std::to_string(height) + "; width = " + std::to_string(width);
        } else if (line.rfind("% geometry ", 0) == 0) {
            line = "% geometry " + std::to_string(width) + "x" + std::to_string(height);
        } else if (line.rfind("% generation ", 0) == 0) {
            line = "% generation " +
                   keep(line.substr(13), sensorFrom ? &sensorFrom->generation : nullptr);
        } else if (line.rfind("% sensor_generation ", 0) == 0) {
            line = "% sensor_generation " +
                   keep(line.substr(20), sensorFrom ? &sensorFrom->sensorGeneration : nullptr);
        } else if (line.rfind("% sensor_name ", 0) == 0) {
            line = "% sensor_name " +
                   keep(line.substr(14), sensorFrom ? &sensorFrom->sensorName : nullptr);
        } else if (line.rfind("% serial_number ", 0) == 0) {
            line = "% serial_number " + printableText(info.serialNumber);
        }
        out += line;
        out += '\n';
    }
    return out;
}

std::string cutHeader(const DvsFileInfo& info, RawFormat format, const RawHeader& source) {
    const std::string full = recordingHeader(info, format, source.width, source.height, &source);
    // Our writer's own lines are facts of the source only when we wrote it.
    const std::string nameKey = "% integrator_name ";
    const size_t at = full.find(nameKey);
    const std::string ourName =
        at == std::string::npos
            ? std::string()
            : full.substr(at + nameKey.size(), full.find('\n', at) - at - nameKey.size());
    const bool ours = !source.integratorName.empty() && source.integratorName == ourName;
    auto stated = [&](const std::string& key) {
        if (key == "format" || key == "geometry") return source.geometryKnown;
        if (key == "generation") return !source.generation.empty();
        if (key == "sensor_generation") return !source.sensorGeneration.empty();
        if (key == "sensor_name") return !source.sensorName.empty();
        if (key == "serial_number") return !source.serialNumber.empty();
        if (key == "camera_integrator_name" || key == "integrator_name" ||
            key == "plugin_integrator_name" || key == "plugin_name" || key == "system_ID") {
            return ours;
        }
        return true;  // the format, times and date of the cut itself
    };
    std::string out;
    size_t pos = 0;
    while (pos < full.size()) {
        size_t nl = full.find('\n', pos);
        if (nl == std::string::npos) nl = full.size();
        const std::string line = full.substr(pos, nl - pos);
        pos = nl + 1;
        const size_t keyEnd = line.find(' ', 2);
        if (!stated(line.substr(2, keyEnd == std::string::npos ? std::string::npos : keyEnd - 2)))
            continue;
        out += line;
        out += '\n';
    }
    return out;
}

std::string copyHeader(const RawHeader& source, RawFormat format, uint64_t firstEvent_us) {
    DvsFileInfo info;
    info.serialNumber = source.serialNumber;
    info.apsStartTimestamp = source.apsStartTimestamp;
    info.dvsStartTimestamp = firstEvent_us;
    return cutHeader(info, format, source);
}

namespace {

// Takes header lines one by one (their text after '%', at most
// kMaxUsefulLine characters); says when the header has ended.
class HeaderLines {
public:
    // False after "% end": binary data may itself start with a '%' byte.
    bool take(std::string_view line) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = trim(line);
        size_t space = line.find_first_of(" \t");
        std::string key = lower(line.substr(0, space));
        std::string_view value =
            space == std::string_view::npos ? std::string_view() : trim(line.substr(space + 1));
        if (key == "end") {
            header.hasEndLine = true;
            return false;
        }
        if (key == "evt") {
            if (!formatFromKey_) {
                header.format = formatFromEvtVersion(value);
                header.formatName = "evt " + std::string(value);
            }
        } else if (key == "format") {
            formatFromKey_ = true;  // "format" wins over "evt" when both are present
            parseFormatValue(value, header);
        } else if (key == "geometry") {
            parseGeometry(value, header);
        } else if (key == "generation") {
            header.generation = std::string(value);
        } else if (key == "sensor_generation") {
            header.sensorGeneration = std::string(value);
        } else if (key == "sensor_name") {
            header.sensorName = std::string(value);
        } else if (key == "serial_number") {
            header.serialNumber = std::string(value);
        } else if (key == "integrator_name") {
            header.integratorName = std::string(value);
        } else if (key == "dvs_start_timestamp") {
            parseU64(value, header.dvsStartTimestamp);
        } else if (key == "aps_start_timestamp") {
            parseU64(value, header.apsStartTimestamp);
        }
        return true;
    }

    RawHeader header;

private:
    bool formatFromKey_ = false;
};

}  // namespace

RawHeader parseRawHeader(const uint8_t* data, uint64_t size) {
    HeaderLines lines;
    uint64_t pos = 0;
    while (pos < size && data[pos] == '%') {
        lines.header.hasHeader = true;
        const void* nl = std::memchr(data + pos, '\n', size_t(size - pos));
        uint64_t end = nl ? uint64_t(static_cast<const uint8_t*>(nl) - data) : size;
        std::string_view line(reinterpret_cast<const char*>(data + pos + 1),
                              size_t(std::min<uint64_t>(end - pos - 1, kMaxUsefulLine)));
        pos = nl ? end + 1 : size;
        if (!lines.take(line)) break;
    }
    lines.header.dataOffsetBytes = pos;
    return lines.header;
}

RawHeader readRawHeader(const RawFile& file) {
    HeaderLines lines;
    constexpr size_t kPiece = 64 * 1024;
    std::vector<uint8_t> piece(kPiece);
    uint64_t pieceStart = 0;
    size_t pieceLength = 0;
    // Only the bytes the file had when opened: a file that grows meanwhile
    // (a live recording) cannot push the data start past the known size.
    const uint64_t size = file.size();
    auto byteAt = [&](uint64_t offset, uint8_t& byte) {
        if (offset >= size) return false;
        if (offset < pieceStart || offset >= pieceStart + pieceLength) {
            pieceStart = offset;
            pieceLength = file.readAt(offset, piece.data(),
                                      size_t(std::min<uint64_t>(piece.size(), size - offset)));
            if (pieceLength == 0) return false;
        }
        byte = piece[size_t(offset - pieceStart)];
        return true;
    };

    uint64_t pos = 0;
    uint8_t byte = 0;
    std::string line;
    while (byteAt(pos, byte) && byte == '%') {
        lines.header.hasHeader = true;
        line.clear();
        uint64_t at = pos + 1;
        bool ended = false;
        while (byteAt(at, byte)) {
            // Find the line feed within what is buffered, keeping only the useful start.
            const size_t from = size_t(at - pieceStart);
            const void* nl = std::memchr(piece.data() + from, '\n', pieceLength - from);
            const size_t upto =
                nl ? size_t(static_cast<const uint8_t*>(nl) - piece.data()) : pieceLength;
            if (line.size() < kMaxUsefulLine) {
                const size_t keep = std::min(upto - from, kMaxUsefulLine - line.size());
                line.append(reinterpret_cast<const char*>(piece.data() + from), keep);
            }
            at = pieceStart + upto;
            if (nl) {
                ended = true;
                break;
            }
        }
        pos = ended ? at + 1 : at;
        if (!lines.take(line) || !ended) break;
    }
    lines.header.dataOffsetBytes = pos;
    return lines.header;
}

}  // namespace korvane
