// The recording converter: round trips through every format, ranges, the
// HDF5 millisecond index, atomic outputs, and refusal of bad inputs.

#include <gtest/gtest.h>
#if defined(VELQORA_HAVE_HDF5)
#include <hdf5.h>
#include <zlib.h>
#endif
#if !defined(_WIN32)
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string_view>

#include "korvane/convert/ColumnarSource.h"
#include "korvane/convert/Convert.h"
#include "korvane/convert/ConvertStreams.h"
#if defined(VELQORA_HAVE_HDF5)
#include "korvane/convert/H5Chunks.h"
#endif
#include "DriverTestSupport.h"
#include "korvane/convert/NpyHeader.h"
#include "korvane/convert/RangePass.h"
#include "korvane/file/RawWriter.h"

using namespace kvtest;

namespace {

constexpr uint64_t kLoop24_us = uint64_t(1) << 24;

struct Outcome {
    bool ok;
    std::string error;
    ConvertResult result;
};

Outcome convert(const std::string& in, const std::string& out, ConvertOptions o = {}) {
    Outcome r;
    r.ok = convertRecording(in, out, o, &r.result, &r.error);
    return r;
}

Decoded readRaw(const std::string& path) {
    auto reader = DvsFileReader::createFileReader(path);
    if (!reader || !reader->openForReading()) throw std::runtime_error("cannot open " + path);
    return decodeAll(*reader);
}

RawHeader headerOf(const std::string& path) {
    auto reader = DvsFileReader::createFileReader(path);
    if (!reader) throw std::runtime_error("cannot open " + path);
    return reader->header();
}

// Files of the folder other than the cache: no temporaries may stay behind.
std::vector<std::string> filesIn(const ScratchDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.path().filename() != "cache") names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

SyntheticOptions scene(uint64_t start_us, RawFormat format = RawFormat::Evt3) {
    return {.duration_us = 300000,
            .eventsPerSecond = 200000,
            .seed = 11,
            .triggerPeriod_us = 7000,
            .startTime_us = start_us,
            .format = format,
            .serialNumber = "KVCONV-7",
            .width = 640,
            .height = 480};
}

// .h5 is converted only where HDF5 is (not on Windows); the other formats
// everywhere. The .h5 cases are left out of a tree without it.
constexpr bool kHaveH5 =
#if defined(VELQORA_HAVE_HDF5)
    true;
#else
    false;
#endif

std::vector<const char*> convertible(std::initializer_list<const char*> names) {
    std::vector<const char*> out;
    for (const char* name : names)
        if (kHaveH5 || !std::string_view(name).ends_with(".h5")) out.push_back(name);
    return out;
}

// --- HDF5 and .npy files made by hand, for the checks of bad inputs -------
#if defined(VELQORA_HAVE_HDF5)

// chunk > 0: stored in chunks of that many elements (growable, as h5py
// makes them), else contiguous.
template <typename T>
void h5Dataset(hid_t parent, const char* name, hid_t type, const std::vector<T>& v,
               hsize_t chunk = 0) {
    const hsize_t n = v.size(), unlimited = H5S_UNLIMITED;
    hid_t space = H5Screate_simple(1, &n, chunk ? &unlimited : nullptr);
    hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
    if (chunk) H5Pset_chunk(dcpl, 1, &chunk);
    hid_t d = H5Dcreate2(parent, name, type, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
    if (n) H5Dwrite(d, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data());
    H5Dclose(d);
    H5Pclose(dcpl);
    H5Sclose(space);
}

struct H5Columns {
    std::vector<uint16_t> x{1, 2, 3}, y{4, 5, 6};
    std::vector<uint8_t> p{0, 1, 1};
    std::vector<int64_t> t{10, 20, 30};
    std::vector<double> floatT;              // replaces t when not empty
    std::vector<uint64_t> unsignedT;         // the same
    std::optional<uint64_t> unsignedOffset;  // a /t_offset of type uint64
    bool withT = true;
    hsize_t chunk = 0;  // elements per chunk of every column; 0: contiguous
};

void writeH5(const std::string& path, const H5Columns& c) {
    hid_t f = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    hid_t g = H5Gcreate2(f, "events", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    h5Dataset(g, "x", H5T_NATIVE_UINT16, c.x, c.chunk);
    h5Dataset(g, "y", H5T_NATIVE_UINT16, c.y, c.chunk);
    h5Dataset(g, "p", H5T_NATIVE_UINT8, c.p, c.chunk);
    if (!c.floatT.empty()) {
        h5Dataset(g, "t", H5T_NATIVE_DOUBLE, c.floatT, c.chunk);
    } else if (!c.unsignedT.empty()) {
        h5Dataset(g, "t", H5T_NATIVE_UINT64, c.unsignedT, c.chunk);
    } else if (c.withT) {
        h5Dataset(g, "t", H5T_NATIVE_INT64, c.t, c.chunk);
    }
    H5Gclose(g);
    if (c.unsignedOffset) {
        hid_t space = H5Screate(H5S_SCALAR);
        hid_t d = H5Dcreate2(f, "t_offset", H5T_NATIVE_UINT64, space, H5P_DEFAULT, H5P_DEFAULT,
                             H5P_DEFAULT);
        H5Dwrite(d, H5T_NATIVE_UINT64, H5S_ALL, H5S_ALL, H5P_DEFAULT, &*c.unsignedOffset);
        H5Dclose(d);
        H5Sclose(space);
    }
    H5Fclose(f);
}

// Overwrites a 32-bit attribute of the file's root.
void setRootAttribute(const std::string& path, const char* name, uint32_t value) {
    hid_t f = H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT);
    hid_t a = H5Aopen(f, name, H5P_DEFAULT);
    H5Awrite(a, H5T_NATIVE_UINT32, &value);
    H5Aclose(a);
    H5Fclose(f);
}

#endif  // VELQORA_HAVE_HDF5

#pragma pack(push, 1)
struct NpyRecord {
    uint16_t x, y;
    int16_t p;
    uint16_t pad;
    int64_t t;
};
#pragma pack(pop)

const char* const kEventsDescr =
    "[('x', '<u2'), ('y', '<u2'), ('p', '<i2'), ('', '|V2'), ('t', '<i8')]";

void writeNpy(const std::string& path, const std::string& header,
              const std::vector<NpyRecord>& records, size_t dropBytes = 0) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(header.data(), std::streamsize(header.size()));
    out.write(reinterpret_cast<const char*>(records.data()),
              std::streamsize(records.size() * sizeof(NpyRecord) - dropBytes));
}

std::vector<NpyRecord> records(size_t n, uint64_t t0 = 100) {
    std::vector<NpyRecord> r;
    for (size_t i = 0; i < n; ++i)
        r.push_back({uint16_t(i % 100), uint16_t(i % 50), int16_t(i & 1), 0, int64_t(t0 + i)});
    return r;
}

}  // namespace

// RAW -> X -> RAW keeps every event and edge, the geometry, serial and
// sensor, for both encodings and for times past the 24-bit clock.
TEST(ConvertRoundTripTest, H5AndNpyBackToRawKeepEverything) {
    ScratchDir dir;
    for (RawFormat format : {RawFormat::Evt3, RawFormat::Evt2}) {
        for (uint64_t start : {uint64_t(0), 3 * kLoop24_us + 12345}) {
            SCOPED_TRACE(std::string(rawFormatName(format)) + " start " + std::to_string(start));
            const SyntheticOptions o = scene(start, format);
            const std::string src = generate(dir, "src.raw", o);
            const Expected want = expectedFor(o);
            ASSERT_FALSE(want.triggers.empty());
            for (const char* mid : convertible({"mid.h5", "mid.npy"})) {
                SCOPED_TRACE(mid);
                Outcome a = convert(src, dir.file(mid));
                ASSERT_TRUE(a.ok) << a.error;
                EXPECT_EQ(a.result.events, want.events.size());
                EXPECT_EQ(a.result.triggers, want.triggers.size());
                EXPECT_EQ(
                    a.result.output_bytes,
                    fs::file_size(dir.file(mid)) +
                        (std::string(mid) == "mid.npy" ? fs::file_size(dir.file("mid.triggers.npy"))
                                                       : 0));
                ConvertOptions back;
                back.raw_format = format == RawFormat::Evt2 ? "evt2" : "evt3";
                Outcome b = convert(dir.file(mid), dir.file("back.raw"), back);
                ASSERT_TRUE(b.ok) << b.error;
                const Decoded got = readRaw(dir.file("back.raw"));
                EXPECT_EQ(got.events, want.events);
                EXPECT_EQ(got.triggers, want.triggers);
                const RawHeader h = headerOf(dir.file("back.raw"));
                EXPECT_EQ(h.format, format);
                if (std::string(mid) == "mid.h5") {  // .npy carries no description
                    EXPECT_EQ(h.width, 640u);
                    EXPECT_EQ(h.height, 480u);
                    EXPECT_EQ(h.serialNumber, "KVCONV-7");
                    EXPECT_EQ(h.sensorName, headerOf(src).sensorName);
                }
            }
        }
    }
}

// A fusion recording's copy as RAW keeps the mark that its columns are
// stored mirrored (its first frame's time); without it players would show
// the copy the other way round. Any other recording gets no such mark.
TEST(ConvertRoundTripTest, RawCopyOfAFusionRecordingStaysOne) {
    ScratchDir dir;
    for (uint64_t apsStart : {uint64_t(0), uint64_t(33333)}) {
        const std::string src = dir.file("src" + std::to_string(apsStart) + ".raw");
        DvsFileInfo info;
        info.serialNumber = "KVCONV-F";
        info.apsStartTimestamp = apsStart;
        RawWriter w;
        ASSERT_TRUE(w.open(src, generateDvsFileHeader(info)));
        std::vector<Event2D> ev;
        for (uint64_t t = 0; t < 2000; t += 10)
            ev.push_back({uint16_t(t % 64), uint16_t(t % 7), 1, t});
        w.writeEvents(ev.data(), ev.size());
        ASSERT_TRUE(w.close());
        for (const char* format : {"evt3", "evt2"}) {
            SCOPED_TRACE(std::to_string(apsStart) + " " + format);
            ConvertOptions o;
            o.raw_format = format;
            const std::string out = dir.file(std::string("copy-") + format + ".raw");
            Outcome r = convert(src, out, o);
            ASSERT_TRUE(r.ok) << r.error;
            EXPECT_EQ(headerOf(out).apsStartTimestamp, apsStart);
            EXPECT_EQ(readRaw(out).events, ev);
        }
    }
}

// A camera's recording whose time jitters back a little (which `check`
// calls clean) reads back from its .h5 and .npy copies, event for event.
TEST(ConvertRoundTripTest, BackJitterSurvivesColumns) {
    ScratchDir dir;
    const std::string src = dir.file("jitter.raw");
    DvsFileInfo info;
    info.serialNumber = "KVCONV-J";
    RawWriter w;
    ASSERT_TRUE(w.open(src, generateDvsFileHeader(info)));
    std::vector<Event2D> ev;
    for (uint64_t t = 10000; t < 30000; t += 10)
        ev.push_back({uint16_t(t % 64), uint16_t(t % 7), 1, t});
    for (uint64_t t = 25004; t < 60000; t += 10)  // 4,996 us back
        ev.push_back({uint16_t(t % 64), uint16_t(t % 5), 0, t});
    w.writeEvents(ev.data(), ev.size());
    ASSERT_TRUE(w.close());
    ASSERT_EQ(readRaw(src).events, ev);
    for (const char* mid : convertible({"jitter.h5", "jitter.npy"})) {
        SCOPED_TRACE(mid);
        Outcome a = convert(src, dir.file(mid));
        ASSERT_TRUE(a.ok) << a.error;
        const std::string back = dir.file(std::string(mid) + ".raw");
        Outcome b = convert(dir.file(mid), back);
        ASSERT_TRUE(b.ok) << b.error;
        EXPECT_EQ(readRaw(back).events, ev);
        // A range keeps exactly the events inside it, jittered ones included.
        ConvertOptions range;
        range.from_us = 26000;
        range.to_us = 29000;
        Outcome c = convert(dir.file(mid), dir.file("range.raw"), range);
        ASSERT_TRUE(c.ok) << c.error;
        std::vector<Event2D> inside;
        for (const Event2D& e : ev)
            if (e.timestamp >= 26000 && e.timestamp < 29000) inside.push_back(e);
        EXPECT_EQ(readRaw(dir.file("range.raw")).events, inside);
    }
}

#if defined(VELQORA_HAVE_HDF5)
// An EVT 2.0 recording far into its own 2^34 us clock, converted to EVT 3.0
// and back through HDF5: the header's start time restores every loop.
TEST(ConvertRoundTripTest, LateStartAcrossEncodings) {
    ScratchDir dir;
    SyntheticOptions o = scene((uint64_t(1) << 34) * 2 + 777, RawFormat::Evt2);
    o.duration_us = 100000;
    const std::string src = generate(dir, "late.raw", o);
    const Expected want = expectedFor(o);
    ASSERT_TRUE(convert(src, dir.file("late3.raw")).ok);
    EXPECT_EQ(headerOf(dir.file("late3.raw")).format, RawFormat::Evt3);
    ASSERT_TRUE(convert(dir.file("late3.raw"), dir.file("late.h5")).ok);
    ConvertOptions evt2;
    evt2.raw_format = "evt2";
    Outcome r = convert(dir.file("late.h5"), dir.file("late2.raw"), evt2);
    ASSERT_TRUE(r.ok) << r.error;
    const Decoded got = readRaw(dir.file("late2.raw"));
    EXPECT_EQ(got.events, want.events);
    EXPECT_EQ(got.triggers, want.triggers);
}
#endif

// [from, to) is half open in every format, edges included; CSV lines are
// those of kvraw decode.
TEST(ConvertRoundTripTest, RangesAndCsv) {
    ScratchDir dir;
    const SyntheticOptions o = scene(kLoop24_us - 150000);  // the range crosses 2^24 us
    const std::string src = generate(dir, "r.raw", o);
    const Expected all = expectedFor(o);
    ConvertOptions range;
    range.from_us = kLoop24_us - 50000;
    range.to_us = kLoop24_us + 70000;
    const auto wantEvents = filterWindow(all.events, *range.from_us, *range.to_us);
    std::vector<EventTriggerIn> wantTriggers;
    for (const auto& t : all.triggers)
        if (t.timestamp >= *range.from_us && t.timestamp < *range.to_us) wantTriggers.push_back(t);
    ASSERT_FALSE(wantTriggers.empty());

    for (const char* mid : convertible({"part.h5", "part.npy", "part.raw"})) {
        SCOPED_TRACE(mid);
        Outcome a = convert(src, dir.file(mid), range);
        ASSERT_TRUE(a.ok) << a.error;
        EXPECT_EQ(a.result.events, wantEvents.size());
        EXPECT_EQ(a.result.triggers, wantTriggers.size());
        ASSERT_TRUE(convert(dir.file(mid), dir.file("part_back.raw")).ok);
        const Decoded got = readRaw(dir.file("part_back.raw"));
        EXPECT_EQ(got.events, wantEvents);
        EXPECT_EQ(got.triggers, wantTriggers);
    }
#if defined(VELQORA_HAVE_HDF5)
    // A range within the .h5 (read by search, not from its start).
    ConvertOptions inner;
    inner.from_us = kLoop24_us;
    inner.to_us = kLoop24_us + 1000;
    ASSERT_TRUE(convert(dir.file("part.h5"), dir.file("inner.npy"), inner).ok);
    ASSERT_TRUE(convert(dir.file("inner.npy"), dir.file("inner.raw")).ok);
    EXPECT_EQ(readRaw(dir.file("inner.raw")).events,
              filterWindow(all.events, kLoop24_us, kLoop24_us + 1000));
#endif

    Outcome c = convert(src, dir.file("part.csv"), range);
    ASSERT_TRUE(c.ok) << c.error;
    std::ostringstream want;
    for (const auto& e : wantEvents)
        want << e.timestamp << ',' << e.x << ',' << e.y << ',' << int(e.polarity) << '\n';
    const auto bytes = readBytes(dir.file("part.csv"));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), want.str());
    EXPECT_EQ(c.result.output_bytes, bytes.size());
}

// More events and edges than one block of the .npy/.h5 readers: the header's
// count, the blocks' seams and the edges at them come out right.
TEST(ConvertRoundTripTest, SeveralBlocks) {
    ScratchDir dir;
    SyntheticOptions o = scene(5000);
    o.duration_us = 1400000;
    o.eventsPerSecond = 1000000;
    o.triggerPeriod_us = 9;  // more edges than one block of them too
    const std::string src = generate(dir, "big.raw", o);
    const Expected want = expectedFor(o);
    ASSERT_GT(want.events.size(), ColumnarSource::kBlockEvents);
    ASSERT_GT(want.triggers.size(), ColumnarSource::kBlockTriggers);
    for (const char* mid : convertible({"big.npy", "big.h5"})) {
        SCOPED_TRACE(mid);
        ASSERT_TRUE(convert(src, dir.file(mid)).ok);
        Outcome b = convert(dir.file(mid), dir.file("big_back.raw"));
        ASSERT_TRUE(b.ok) << b.error;
        const Decoded got = readRaw(dir.file("big_back.raw"));
        EXPECT_EQ(got.events.size(), want.events.size());
        EXPECT_TRUE(got.events == want.events);
        EXPECT_TRUE(got.triggers == want.triggers);
    }
    EXPECT_EQ(fs::file_size(dir.file("big.npy")) % 16, 0u);
}

// Edges keep their place among the events at any ratio of edges to events
// (a batch holds at most one block of edges): far more edges than events,
// and many edges within the last block of events and across the seam of two
// blocks, through .npy and .h5 back to RAW.
TEST(ConvertRoundTripTest, EdgesKeepTheirPlaceAtAnyDensity) {
    ScratchDir dir;
    struct Case {
        const char* what;
        size_t events;
        uint64_t eventStep_us;
        uint64_t edgeFrom_us, edgeTo_us, edgeStep_us;
    };
    const uint64_t seam = uint64_t(ColumnarSource::kBlockEvents) * 100;
    const Case cases[] = {
        {"few events, many edges", 5, 61000, 0, 300000, 1},
        {"dense edges in and after the last block", ColumnarSource::kBlockEvents + 3000, 100,
         seam - 50000, seam + 400000, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<NpyRecord> ev = records(c.events, 0);
        std::vector<uint64_t> times;
        for (size_t i = 0; i < ev.size(); ++i) {
            ev[i].t = int64_t(1000 + i * c.eventStep_us);
            times.push_back(uint64_t(ev[i].t));
        }
        writeNpy(dir.file("d.npy"), npyHeader(kEventsDescr, ev.size()), ev);
        std::vector<EventTriggerIn> edges;
        std::vector<size_t> places;
        std::string body;
        for (uint64_t t = c.edgeFrom_us; t < c.edgeTo_us; t += c.edgeStep_us) {
            const EventTriggerIn e(int16_t(t % 16), int16_t((t / 3) & 1), t);
            edges.push_back(e);
            places.push_back(
                size_t(std::lower_bound(times.begin(), times.end(), t) - times.begin()));
            const int64_t tt = int64_t(t);
            const int16_t id = e.id, value = e.polarity;
            body.append(reinterpret_cast<const char*>(&tt), 8);
            body.append(reinterpret_cast<const char*>(&id), 2);
            body.append(reinterpret_cast<const char*>(&value), 2);
        }
        ASSERT_GT(edges.size(), ColumnarSource::kBlockTriggers * 2);
        std::ofstream(dir.file("d.triggers.npy"), std::ios::binary)
            << npyHeader("[('t', '<i8'), ('id', '<i2'), ('p', '<i2')]", edges.size()) << body;
        if (kHaveH5) {
            ASSERT_TRUE(convert(dir.file("d.npy"), dir.file("d.h5")).ok);
        }
        for (const char* mid : convertible({"d.npy", "d.h5"})) {
            SCOPED_TRACE(mid);
            Outcome r = convert(dir.file(mid), dir.file("d.raw"));
            ASSERT_TRUE(r.ok) << r.error;
            EXPECT_EQ(r.result.triggers, edges.size());
            const Decoded got = readRaw(dir.file("d.raw"));
            ASSERT_EQ(got.events.size(), ev.size());
            EXPECT_TRUE(got.triggers == edges);
            size_t misplaced = 0;
            for (size_t k = 0; k < places.size() && k < got.triggerPositions.size(); ++k)
                misplaced += got.triggerPositions[k] != places[k];
            EXPECT_EQ(misplaced, 0u) << "of " << places.size();
        }
    }
}

#if defined(VELQORA_HAVE_HDF5)
// Our own chunk coder writes what any inflater reads back exactly: byte
// planes of every kind (one value, noise that goes out stored, runs across
// the 258-byte limit of a match, runs just short of one, frequencies skewed
// past 15-bit codes), for 1-, 2- and 8-byte elements, beside zlib's level 1
// of the same chunks.
TEST(ConvertH5Test, ChunkCoderInflatesToItsInput) {
    std::mt19937_64 rng(5);
    using Fill = std::function<uint8_t(size_t)>;
    const std::vector<std::pair<const char*, Fill>> fills = {
        {"zeros", [](size_t) { return uint8_t(0); }},
        {"noise", [&](size_t) { return uint8_t(rng()); }},
        {"slow ramp", [](size_t i) { return uint8_t(i / 7); }},
        {"runs near 258", [](size_t i) { return uint8_t(i / (255 + i % 7)); }},
        {"rare outliers", [&](size_t) { return uint8_t(rng() % 97 == 0 ? rng() : 5); }},
        // Runs of 1, 2, 3, 4 and 5 bytes in turn: a match starts at three.
        {"runs of 1 to 5",
         [](size_t i) {
             const size_t j = i % 15;
             return uint8_t((i / 15) * 5 + (j >= 1) + (j >= 3) + (j >= 6) + (j >= 10));
         }},
        // Symbol k about twice as often as k + 1: Huffman wants codes longer than 15 bits.
        {"skewed", [&](size_t) { return uint8_t(std::countr_one(rng() | 0x8000'0000'0000'0000)); }},
    };
    for (const auto& [name, fill] : fills) {
        // The pattern in the low `live` bytes, zeros above (as in a column;
        // times vary in their two low bytes only).
        for (const auto& [size, live] :
             {std::pair{1u, 1u}, {2u, 1u}, {2u, 2u}, {8u, 2u}, {8u, 4u}}) {
            for (size_t elements : {size_t(1), size_t(3), size_t(259), size_t(1) << 16}) {
                SCOPED_TRACE(std::string(name) + " " + std::to_string(size) + " (" +
                             std::to_string(live) + " varying) x " + std::to_string(elements));
                std::vector<uint8_t> data(elements * size);
                for (size_t i = 0; i < elements; ++i)
                    for (unsigned j = 0; j < size; ++j)
                        data[i * size + j] = j < live ? fill(i) : 0;
                const std::vector<RawChunk> chunks(2, RawChunk{data.data(), elements, size});
                std::vector<std::vector<uint8_t>> ours, zlibs;
                ASSERT_TRUE(shuffleDeflateChunks(chunks, kRunLengthCoder, ours));
                ASSERT_TRUE(shuffleDeflateChunks(chunks, 1, zlibs));
                ASSERT_EQ(ours.size(), 2u);
                std::vector<uint8_t> back(data.size() + 1), fromZlib(data.size() + 1);
                uLongf got = uLongf(back.size()), gotZlib = uLongf(fromZlib.size());
                ASSERT_EQ(uncompress(back.data(), &got, ours[1].data(), uLong(ours[1].size())),
                          Z_OK);
                ASSERT_EQ(
                    uncompress(fromZlib.data(), &gotZlib, zlibs[1].data(), uLong(zlibs[1].size())),
                    Z_OK);
                ASSERT_EQ(got, data.size());
                back.resize(got);
                fromZlib.resize(gotZlib);
                EXPECT_EQ(back, fromZlib);  // both shuffled alike
                // Byte j of element i sits at j * elements + i.
                bool same = true;
                for (size_t i = 0; i < elements && same; ++i)
                    for (unsigned j = 0; j < size; ++j)
                        same = same && back[j * elements + i] == data[i * size + j];
                EXPECT_TRUE(same);
                EXPECT_LE(ours[1].size(), data.size() * 9 / 8 + 64 * size);
            }
        }
    }
}

// An .h5 whose chunks HDF5's own shuffle and deflate filters compressed
// (as our writer did before it had its own coder, and as h5py does) holds
// the same values and converts back to the same events and edges.
TEST(ConvertH5Test, FilesCompressedByHdf5ItselfStillRead) {
    ScratchDir dir;
    SyntheticOptions o = scene(2 * kLoop24_us + 77);
    o.eventsPerSecond = 600000;  // several chunks a column
    const std::string src = generate(dir, "src.raw", o);
    ASSERT_TRUE(convert(src, dir.file("ours.h5")).ok);
    hid_t ours = H5Fopen(dir.file("ours.h5").c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    hid_t theirs =
        H5Fcreate(dir.file("theirs.h5").c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    ASSERT_GE(ours, 0);
    ASSERT_GE(theirs, 0);
    for (const char* group : {"events", "triggers"})
        H5Gclose(H5Gcreate2(theirs, group, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    for (const char* name : {"/events/x", "/events/y", "/events/p", "/events/t", "/triggers/t",
                             "/triggers/id", "/triggers/p", "/ms_to_idx", "/t_offset"}) {
        SCOPED_TRACE(name);
        hid_t d = H5Dopen2(ours, name, H5P_DEFAULT);
        hid_t type = H5Dget_type(d);
        hid_t space = H5Dget_space(d);
        std::vector<int64_t> v(size_t(H5Sget_simple_extent_npoints(space)));
        ASSERT_GE(H5Dread(d, H5T_NATIVE_INT64, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data()), 0);
        hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        if (H5Sget_simple_extent_ndims(space) == 1) {
            const hsize_t chunk = 1 << 16;
            H5Pset_chunk(dcpl, 1, &chunk);
            H5Pset_shuffle(dcpl);
            H5Pset_deflate(dcpl, 1);
            if (v.size() > 1) {
                // Ours compressed this column differently, to the same values.
                hid_t filters = H5Dget_create_plist(d);
                EXPECT_EQ(H5Pget_nfilters(filters), 2);
                H5Pclose(filters);
            }
        }
        hid_t copy = H5Dcreate2(theirs, name, type, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
        ASSERT_GE(H5Dwrite(copy, H5T_NATIVE_INT64, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data()), 0);
        H5Dclose(copy);
        H5Pclose(dcpl);
        H5Sclose(space);
        H5Tclose(type);
        H5Dclose(d);
    }
    H5Fclose(theirs);
    H5Fclose(ours);
    const Expected want = expectedFor(o);
    ASSERT_GT(want.events.size(), size_t(2) << 16);  // a padded last chunk too
    for (const char* in : {"ours.h5", "theirs.h5"}) {
        SCOPED_TRACE(in);
        const std::string back = dir.file(std::string(in) + ".raw");
        Outcome r = convert(dir.file(in), back);
        ASSERT_TRUE(r.ok) << r.error;
        const Decoded got = readRaw(back);
        EXPECT_EQ(got.events, want.events);
        EXPECT_EQ(got.triggers, want.triggers);
    }
}

// /ms_to_idx[k] is the first event at or after t_offset + k ms, checked
// against a direct search, on a sparse file with empty milliseconds and on a
// dense one whose batches hold many milliseconds each.
TEST(ConvertH5Test, MillisecondIndexMatchesDirectSearch) {
    for (const auto& [name, rate, duration_us] :
         {std::tuple{"sparse", 700, 200000}, {"dense", 5000000, 60000}}) {
        SCOPED_TRACE(name);
        ScratchDir dir;
        SyntheticOptions o = scene(kLoop24_us + 333);
        o.eventsPerSecond = rate;  // sparse: most milliseconds hold no event
        o.duration_us = duration_us;
        const std::string src = generate(dir, "in.raw", o);
        ASSERT_TRUE(convert(src, dir.file("s.h5")).ok);

        hid_t f = H5Fopen(dir.file("s.h5").c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
        ASSERT_GE(f, 0);
        auto read = [&](const char* name) {
            hid_t d = H5Dopen2(f, name, H5P_DEFAULT);
            hid_t s = H5Dget_space(d);
            std::vector<int64_t> v(size_t(H5Sget_simple_extent_npoints(s)));
            H5Dread(d, H5T_NATIVE_INT64, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data());
            H5Sclose(s);
            H5Dclose(d);
            return v;
        };
        const auto t = read("/events/t");
        const auto idx = read("/ms_to_idx");
        const auto offset = read("/t_offset");
        H5Fclose(f);
        const Expected want = expectedFor(o);
        ASSERT_EQ(t.size(), want.events.size());
        ASSERT_EQ(offset.size(), 1u);
        EXPECT_EQ(offset[0] % 1000, 0);
        EXPECT_LE(uint64_t(offset[0]), want.events.front().timestamp);
        EXPECT_EQ(uint64_t(t[0] + offset[0]), want.events.front().timestamp);
        // One entry per millisecond up to the last event's.
        ASSERT_EQ(idx.size(), size_t(t.back() / 1000 + 1));
        for (size_t k = 0; k < idx.size(); ++k) {
            const auto first = std::lower_bound(t.begin(), t.end(), int64_t(k) * 1000);
            ASSERT_EQ(idx[k], first - t.begin()) << "millisecond " << k;
        }
    }
}

#endif

// The target appears only when complete: a cancelled or failed conversion
// leaves no file and an existing target as it was; .npy and its edges
// appear together; an edge file of an earlier conversion is not left to
// pair with a new one that has none.
TEST(ConvertOutputTest, AllOrNothing) {
    ScratchDir dir;
    const std::string src = generate(dir, "a.raw", scene(0));
    const std::string keep = "keep me";
    for (const char* name : convertible({"old.h5", "old.npy", "old.raw", "old.csv"})) {
        SCOPED_TRACE(name);
        writeBytes(dir.file(name), std::vector<uint8_t>(keep.begin(), keep.end()));
        ConvertOptions o;
        int calls = 0;
        o.progress = [&](double) { return ++calls < 3; };
        Outcome r = convert(src, dir.file(name), o);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, "cancelled");
        const auto bytes = readBytes(dir.file(name));
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), keep);
        fs::remove(dir.file(name));
    }
    EXPECT_EQ(filesIn(dir), std::vector<std::string>{"a.raw"});

    // Both .npy files, then a range without edges removes the stale one.
    ASSERT_TRUE(convert(src, dir.file("e.npy")).ok);
    EXPECT_TRUE(fs::exists(dir.file("e.triggers.npy")));
    ConvertOptions noEdges;
    noEdges.from_us = 1;
    noEdges.to_us = 1000;  // edges every 7 ms from 0: none inside
    Outcome r = convert(src, dir.file("e.npy"), noEdges);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.result.triggers, 0u);
    EXPECT_FALSE(fs::exists(dir.file("e.triggers.npy")));

    // An events file that cannot be put in place (its name taken by a
    // folder meanwhile) leaves the edge file as it was, or absent as it was.
    for (const bool oldEdges : {true, false}) {
        SCOPED_TRACE(oldEdges ? "edge file there before" : "no edge file before");
        fs::remove_all(dir.file("f.npy"));
        fs::remove(dir.file("f.triggers.npy"));
        if (oldEdges) writeBytes(dir.file("f.triggers.npy"), {'o', 'l', 'd'});
        ConvertOptions o;
        o.progress = [&](double f) {
            if (f >= 1.0) fs::create_directory(dir.file("f.npy"));
            return true;
        };
        Outcome failed = convert(src, dir.file("f.npy"), o);
        EXPECT_FALSE(failed.ok);
        EXPECT_NE(failed.error.find("not a regular file"), std::string::npos) << failed.error;
        if (oldEdges) {
            const auto kept = readBytes(dir.file("f.triggers.npy"));
            EXPECT_EQ(std::string(kept.begin(), kept.end()), "old");
        } else {
            EXPECT_FALSE(fs::exists(dir.file("f.triggers.npy")));
        }
        for (const auto& name : filesIn(dir))
            EXPECT_EQ(name.find(".f."), std::string::npos) << name << " left behind";
    }
    fs::remove_all(dir.file("f.npy"));
    fs::remove(dir.file("f.triggers.npy"));

    // The input is never the output, under any name.
    fs::create_hard_link(src, dir.file("link.raw"));
    Outcome self = convert(src, dir.file("link.raw"));
    EXPECT_FALSE(self.ok);
    EXPECT_NE(self.error.find("input"), std::string::npos) << self.error;
    ASSERT_TRUE(convert(src, dir.file("in.npy")).ok);
    Outcome edgesOverInput = convert(dir.file("in.npy"), dir.file("in.triggers.npy"));
    EXPECT_FALSE(edgesOverInput.ok);
    EXPECT_EQ(readRaw(src).events, expectedFor(scene(0)).events);
}

// A full disk fails the conversion cleanly in every format: no temporary
// stays, and the process still ends normally (a failed HDF5 close used to
// leave a half-closed file that crashed the library's clean-up at exit).
// The disk is a small tmpfs, mounted by a child process in a mount
// namespace of its own (a user namespace where the test is not root).
TEST(ConvertOutputTest, FullDiskFailsCleanly) {
    VELQORA_SKIP_ON_WINDOWS("fork, mount namespaces and tmpfs");
#if !defined(_WIN32)
    constexpr int kNoMount = 77;
    ScratchDir dir;
    const std::string src = generate(dir, "a.raw", scene(0));
    readRaw(src);  // the index cache is written before
    const std::string small = dir.file("small");
    fs::create_directory(small);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int flags = ::geteuid() == 0 ? CLONE_NEWNS : CLONE_NEWNS | CLONE_NEWUSER;
        if (::unshare(flags) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=96k") != 0) {
            std::_Exit(kNoMount);
        }
        int unexpected = 0;
        for (const char* name : convertible({"o.h5", "o.npy", "o.raw", "o.csv"})) {
            std::string error;
            // The reason names the target, not a temporary already removed.
            if (convertRecording(src, small + "/" + name, {}, nullptr, &error) ||
                error.rfind(small + "/" + name + ": ", 0) != 0 ||
                error.find(".part-") != std::string::npos) {
                ++unexpected;
            }
        }
        if (!fs::is_empty(small)) unexpected += 100;  // a temporary stayed
        std::exit(unexpected);                        // runs the libraries' exit handlers
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    if (WEXITSTATUS(status) == kNoMount) GTEST_SKIP() << "no tmpfs can be mounted here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "conversions that did not fail (+100: files left)";
#endif
}

// More than a day without an event or edge is taken for a broken time where
// the output would have to fill it (RAW time words, the .h5 millisecond
// index), before anything is written; formats that store times as they are
// keep it. A long fill asks the caller whether to go on while it runs.
TEST(ConvertOutputTest, SilencesBeyondADayRefused) {
    ScratchDir dir;
    constexpr uint64_t kDay_us = uint64_t(86400) * 1000000;
    auto twoEvents = [&](const std::string& name, uint64_t second) {
        std::vector<NpyRecord> r = records(2, 0);
        r[1].t = int64_t(second);
        writeNpy(dir.file(name), npyHeader(kEventsDescr, 2), r);
    };
    twoEvents("far.npy", uint64_t(4) * 1000000000000000000ull);
    twoEvents("day.npy", kDay_us + 1);
#if defined(VELQORA_HAVE_HDF5)
    H5Columns far;
    far.t = {0, 4000000000000000000ll, 4000000000000000001ll};
    writeH5(dir.file("far.h5"), far);
#endif
    // An edge long before the first event (RAW writes edges after the header's start).
    writeNpy(dir.file("edge.npy"), npyHeader(kEventsDescr, 2), records(2, 3 * kDay_us));
    std::ofstream(dir.file("edge.triggers.npy"), std::ios::binary)
        << npyHeader("[('t', '<i8'), ('id', '<i2'), ('p', '<i2')]", 1)
        << std::string("\x05\0\0\0\0\0\0\0\1\0\1\0", 12);
    for (const char* in : convertible({"far.npy", "day.npy", "far.h5", "edge.npy"})) {
        for (const char* format : {"evt3", "evt2", ""}) {
            if (!*format && !kHaveH5) continue;
            SCOPED_TRACE(std::string(in) + " to " + (*format ? format : "h5"));
            const std::string out = dir.file(*format ? "out.raw" : "out.h5");
            ConvertOptions o;
            if (*format) o.raw_format = format;
            Outcome r = convert(dir.file(in), out, o);
            EXPECT_FALSE(r.ok);
            EXPECT_NE(r.error.find("more than a day of empty time"), std::string::npos) << r.error;
            EXPECT_FALSE(fs::exists(out));
        }
        for (const char* out : {"out.npy", "out.csv"}) {
            Outcome r = convert(dir.file(in), dir.file(out));
            EXPECT_TRUE(r.ok) << in << " to " << out << ": " << r.error;
        }
    }
    // Gaps each under a day that add up to more: refused just as well, with
    // the reason; silences that add up to less are written.
    auto spaced = [&](const std::string& name, size_t gaps, uint64_t gap_us) {
        std::vector<NpyRecord> r = records(gaps + 1, 0);
        for (size_t i = 0; i < r.size(); ++i)
            r[i].t = int64_t(i * gap_us);
        writeNpy(dir.file(name), npyHeader(kEventsDescr, r.size()), r);
    };
    spaced("many.npy", 20, kDay_us - 1);
    spaced("two.npy", 2, kDay_us / 2 + 1);
    spaced("few.npy", 2, kDay_us / 2 - 1);
    for (const char* in : {"many.npy", "two.npy"}) {
        for (const char* format : {"evt3", "evt2", ""}) {
            if (!*format && !kHaveH5) continue;
            SCOPED_TRACE(std::string(in) + " to " + (*format ? format : "h5"));
            const std::string out = dir.file(*format ? "out.raw" : "out.h5");
            ConvertOptions o;
            if (*format) o.raw_format = format;
            Outcome r = convert(dir.file(in), out, o);
            EXPECT_FALSE(r.ok);
            EXPECT_NE(r.error.find("in all"), std::string::npos) << r.error;
            EXPECT_NE(r.error.find("more than a day of empty time"), std::string::npos) << r.error;
            EXPECT_FALSE(fs::exists(out));
        }
    }
    // The same two gaps among many short steps, at every kind of place the
    // check takes its steps from: a block's first and second event, the
    // last of a block of 256 and the next block's first, an odd tail.
    const struct { size_t first, second; } gapsAt[] = {{1, 2}, {256, 257}, {300, 599}, {2, 599}};
    for (const auto& at : gapsAt) {
        SCOPED_TRACE(::testing::Message()
                     << "gaps before events " << at.first << ", " << at.second);
        std::vector<NpyRecord> r = records(600, 0);
        for (size_t i = 0; i < r.size(); ++i)
            r[i].t += int64_t((i >= at.first) + (i >= at.second)) * int64_t(kDay_us / 2 + 1);
        writeNpy(dir.file("gaps.npy"), npyHeader(kEventsDescr, r.size()), r);
        ConvertOptions o;
        o.raw_format = "evt3";
        Outcome refused = convert(dir.file("gaps.npy"), dir.file("gaps.raw"), o);
        EXPECT_FALSE(refused.ok);
        EXPECT_NE(refused.error.find("in all"), std::string::npos) << refused.error;
        // One of them alone is written.
        for (size_t i = at.second; i < r.size(); ++i)
            r[i].t -= int64_t(kDay_us / 2 + 1);
        writeNpy(dir.file("gap.npy"), npyHeader(kEventsDescr, r.size()), r);
        Outcome written = convert(dir.file("gap.npy"), dir.file("gap.raw"), o);
        ASSERT_TRUE(written.ok) << written.error;
        EXPECT_EQ(readRaw(dir.file("gap.raw")).events.back().timestamp, uint64_t(r.back().t));
    }
    // Time that steps back a little shortly before each gap (at the second
    // to last event of a block of 256, and elsewhere): the empty time runs
    // from the latest time, not the last, and here adds up to exactly a day
    // (written); counted from the last it would be more (refused).
    const struct {
        size_t first, second;  // the events a step back lands on
    } backAt[] = {{255, 511}, {100, 300}, {5, 589}};
    for (const auto& at : backAt) {
        SCOPED_TRACE(::testing::Message()
                     << "steps back at events " << at.first << ", " << at.second);
        std::vector<NpyRecord> r = records(600, 0);
        for (size_t back : {at.first, at.second}) {
            r[back - 1].t += 3;  // the latest time, 2 above the next
            for (size_t i = back + 2; i < r.size(); ++i)
                r[i].t += int64_t(kDay_us / 2);  // from the latest: half a day
        }
        writeNpy(dir.file("back.npy"), npyHeader(kEventsDescr, r.size()), r);
        ConvertOptions o;
        o.raw_format = "evt3";
        Outcome written = convert(dir.file("back.npy"), dir.file("back.raw"), o);
        ASSERT_TRUE(written.ok) << written.error;
        EXPECT_EQ(readRaw(dir.file("back.raw")).events.size(), r.size());
    }
    for (const char* format : {"evt3", "evt2"}) {
        ConvertOptions o;
        o.raw_format = format;
        Outcome r = convert(dir.file("few.npy"), dir.file("few.raw"), o);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(readRaw(dir.file("few.raw")).events.back().timestamp, kDay_us - 2);
    }
    // Time that goes back and forth over a second many times spans a second
    // and a bit: no empty time to fill, so it is written.
    {
        RawWriter w(RawFormat::Evt3);
        for (uint64_t i = 0; i < 90000; ++i) {
            const Event2D e(uint16_t(i % 1000), 7, 1, i % 2 ? 1228805 : 5);
            w.writeEvents(&e, 1);
        }
        const std::string src = rawFileWith(dir, "jitter.raw", w.takeBuffer());
        for (const char* out : convertible({"jitter3.raw", "jitter.h5"})) {
            Outcome r = convert(src, dir.file(out));
            EXPECT_TRUE(r.ok) << out << ": " << r.error;
        }
        EXPECT_EQ(readRaw(dir.file("jitter3.raw")).events.size(), 90000u);
    }

    // Just under a day is a recording: written, and read back.
    twoEvents("under.npy", kDay_us - 1);
    for (const char* format : {"evt3", "evt2"}) {
        ConvertOptions o;
        o.raw_format = format;
        Outcome r = convert(dir.file("under.npy"), dir.file("under.raw"), o);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(readRaw(dir.file("under.raw")).events.back().timestamp, kDay_us - 1);
    }
#if defined(VELQORA_HAVE_HDF5)
    // Its millisecond index takes a while: a cancel is heard during the write.
    bool askedDuringWrite = false;
    ConvertOptions stop;
    stop.progress = [&](double f) {
        askedDuringWrite = askedDuringWrite || f < 1.0;
        return false;
    };
    Outcome r = convert(dir.file("under.npy"), dir.file("under.h5"), stop);
    EXPECT_EQ(r.error, "cancelled");
    EXPECT_TRUE(askedDuringWrite);
    EXPECT_FALSE(fs::exists(dir.file("under.h5")));
#endif
}

// Events a RAW header cannot describe are reported, not dropped: a .npy
// (no geometry) gets a sensor they fit in; an .h5 that names a smaller
// sensor than its events, or edges the encoding cannot carry, is refused.
TEST(ConvertOutputTest, RawGeometryAndEdgeLimits) {
    ScratchDir dir;
    std::vector<NpyRecord> wide = records(10);
    wide[4].x = 1900;
    wide[6].y = 1000;
    writeNpy(dir.file("wide.npy"), npyHeader(kEventsDescr, wide.size()), wide);
    Outcome r = convert(dir.file("wide.npy"), dir.file("wide.raw"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(headerOf(dir.file("wide.raw")).width, 1901u);
    EXPECT_EQ(headerOf(dir.file("wide.raw")).height, 1001u);
    EXPECT_EQ(readRaw(dir.file("wide.raw")).events.size(), 10u);

    wide[4].x = 2048;  // beyond any RAW encoding
    writeNpy(dir.file("wider.npy"), npyHeader(kEventsDescr, wide.size()), wide);
    EXPECT_FALSE(convert(dir.file("wider.npy"), dir.file("wider.raw")).ok);
    EXPECT_FALSE(fs::exists(dir.file("wider.raw")));

#if defined(VELQORA_HAVE_HDF5)
    const std::string src = generate(dir, "g.raw", scene(0));  // 640x480
    ASSERT_TRUE(convert(src, dir.file("g.h5")).ok);
    setRootAttribute(dir.file("g.h5"), "width", 100);
    Outcome outside = convert(dir.file("g.h5"), dir.file("g.raw2.raw"));
    EXPECT_FALSE(outside.ok);
    EXPECT_NE(outside.error.find("outside the 100x480"), std::string::npos) << outside.error;
    EXPECT_FALSE(fs::exists(dir.file("g.raw2.raw")));
    // Rows beyond the height are read back as they are: kept.
    setRootAttribute(dir.file("g.h5"), "width", 640);
    setRootAttribute(dir.file("g.h5"), "height", 10);
    ASSERT_TRUE(convert(dir.file("g.h5"), dir.file("rows.raw")).ok);
    EXPECT_EQ(readRaw(dir.file("rows.raw")).events, expectedFor(scene(0)).events);
#endif

    // Channel 20 fits EVT 2.0 (5 bits), not EVT 3.0 (4 bits).
    std::ofstream(dir.file("ch.triggers.npy"), std::ios::binary)
        << npyHeader("[('t', '<i8'), ('id', '<i2'), ('p', '<i2')]", 1)
        << std::string("\x64\0\0\0\0\0\0\0\x14\0\1\0", 12);
    writeNpy(dir.file("ch.npy"), npyHeader(kEventsDescr, 3), records(3));
    EXPECT_FALSE(convert(dir.file("ch.npy"), dir.file("ch3.raw")).ok);
    ConvertOptions evt2;
    evt2.raw_format = "evt2";
    ASSERT_TRUE(convert(dir.file("ch.npy"), dir.file("ch2.raw"), evt2).ok);
    const Decoded ch = readRaw(dir.file("ch2.raw"));
    ASSERT_EQ(ch.triggers.size(), 1u);
    EXPECT_EQ(ch.triggers[0], EventTriggerIn(20, 1, 100));
}

// Bad .npy files: each refused with its reason, none read past its end.
TEST(ConvertInputTest, BadNpyRefused) {
    ScratchDir dir;
    const auto good = records(8);
    struct Case {
        const char* what;
        std::string header;
        std::vector<NpyRecord> recs;
        size_t dropBytes;
        const char* reason;
    };
    auto hdr = [](const std::string& dict) {
        std::string d = dict;
        while ((10 + d.size() + 1) % 64)
            d += ' ';
        d += '\n';
        std::string out("\x93NUMPY\x01\x00", 8);
        out += char(d.size() & 0xFF);
        out += char(d.size() >> 8);
        return out + d;
    };
    // Beyond the back steps a camera's file may carry (about 20 ms).
    auto unsorted = good;
    unsorted[2].t = 1000000;
    auto badPolarity = good;
    badPolarity[3].p = 7;
    auto negative = good;
    negative[0].t = -5;
    const std::vector<Case> cases = {
        {"float time",
         hdr("{'descr': [('x', '<u2'), ('y', '<u2'), ('p', '<i2'), ('', '|V2'), ('t', '<f8')], "
             "'fortran_order': False, 'shape': (8,), }"),
         good, 0, "not an integer"},
        {"missing field",
         hdr("{'descr': [('x', '<u2'), ('y', '<u2'), ('q', '<i2'), ('', '|V2'), ('t', '<i8')], "
             "'fortran_order': False, 'shape': (8,), }"),
         good, 0, "no field 'p'"},
        {"truncated", npyHeader(kEventsDescr, 8), good, 3, "does not match its shape"},
        {"absurd shape", npyHeader(kEventsDescr, uint64_t(1) << 62), good, 0,
         "does not match its shape"},
        {"two dimensions",
         hdr("{'descr': " + std::string(kEventsDescr) +
             ", 'fortran_order': False, 'shape': (2, 4), }"),
         good, 0, "one-dimensional"},
        {"fortran order",
         hdr("{'descr': " + std::string(kEventsDescr) +
             ", 'fortran_order': True, 'shape': (8,), }"),
         good, 0, "Fortran"},
        {"plain array", hdr("{'descr': '<i8', 'fortran_order': False, 'shape': (16,), }"), good, 0,
         "not a structured array"},
        {"garbage header", hdr("{'descr': [('x', '<u2'"), good, 0, "unreadable"},
        {"deep nesting", hdr(std::string(200, '[') + std::string(200, ']')), good, 0, "unreadable"},
        {"not npy", "PK\x03\x04 not numpy at all", good, 0, "not a .npy file"},
        {"unsorted times", npyHeader(kEventsDescr, 8), unsorted, 0, "times go back at event 3"},
        {"bad polarity", npyHeader(kEventsDescr, 8), badPolarity, 0, "polarity"},
        {"negative time", npyHeader(kEventsDescr, 8), negative, 0, "negative"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeNpy(dir.file("bad.npy"), c.header, c.recs, c.dropBytes);
        for (const char* out : convertible({"out.raw", "out.h5"})) {
            Outcome r = convert(dir.file("bad.npy"), dir.file(out));
            EXPECT_FALSE(r.ok);
            EXPECT_NE(r.error.find(c.reason), std::string::npos) << r.error;
            EXPECT_FALSE(fs::exists(dir.file(out)));
        }
    }
    // Edges of a wrong layout beside good events: refused as well.
    writeNpy(dir.file("ev.npy"), npyHeader(kEventsDescr, 8), good);
    std::ofstream(dir.file("ev.triggers.npy"), std::ios::binary)
        << npyHeader("[('t', '<f8'), ('id', '<i2'), ('p', '<i2')]", 0);
    Outcome r = convert(dir.file("ev.npy"), dir.file("ev.raw"));
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("ev.triggers.npy"), std::string::npos) << r.error;
    // Another tool's layout: other order, other widths, no padding, either
    // byte order; the polarity also as numpy's bool.
    for (const std::string polarityType : {"|u1", "|b1", ">"}) {
        SCOPED_TRACE(polarityType);
        const bool big = polarityType == ">";  // big-endian fields, a u1 polarity
        const std::string o = big ? ">" : "<";
        std::string body;
        auto put = [&](uint64_t v, int bytes) {
            for (int k = 0; k < bytes; ++k)
                body += char(v >> (8 * (big ? bytes - 1 - k : k)));
        };
        for (int i = 0; i < 3; ++i) {
            put(uint64_t(500 + i), 8);
            put(uint64_t(i & 1), 1);
            put(7 + uint64_t(i), 4);
            put(9, 2);
        }
        std::ofstream(dir.file("other.npy"), std::ios::binary)
            << hdr("{'descr': [('t', '" + o + "i8'), ('p', '" + (big ? "|u1" : polarityType) +
                   "'), ('x', '" + o + "u4'), ('y', '" + o +
                   "u2')], 'fortran_order': False, 'shape': (3,), }")
            << body;
        Outcome other = convert(dir.file("other.npy"), dir.file("other.raw"));
        ASSERT_TRUE(other.ok) << other.error;
        EXPECT_EQ(readRaw(dir.file("other.raw")).events,
                  (std::vector<Event2D>{{7, 9, 0, 500}, {8, 9, 1, 501}, {9, 9, 0, 502}}));
    }
    // -1 polarity, as some tools store OFF, reads as 0.
    auto minusOne = good;
    minusOne[1].p = -1;
    writeNpy(dir.file("m.npy"), npyHeader(kEventsDescr, 8), minusOne);
    ASSERT_TRUE(convert(dir.file("m.npy"), dir.file("m.raw")).ok);
    EXPECT_EQ(readRaw(dir.file("m.raw")).events.at(1).polarity, 0);
}

#if defined(VELQORA_HAVE_HDF5)
// Bad .h5 files: each refused with its reason.
// Chunks larger than HDF5's default cache are read through a cache that
// holds one (else every block decompressed the whole chunk again); chunks
// beyond what is sensible to hold are refused.
TEST(ConvertInputTest, H5ChunkSizes) {
    ScratchDir dir;
    H5Columns big;
    big.chunk = hsize_t(1) << 18;  // 2 MiB of times
    writeH5(dir.file("big.h5"), big);
    Outcome ok = convert(dir.file("big.h5"), dir.file("big.npy"));
    ASSERT_TRUE(ok.ok) << ok.error;
    EXPECT_EQ(ok.result.events, 3u);
    ASSERT_TRUE(convert(dir.file("big.npy"), dir.file("back.h5")).ok);
    H5Columns huge;
    huge.chunk = hsize_t(1) << 24;  // 128 MiB of times
    writeH5(dir.file("huge.h5"), huge);
    Outcome refused = convert(dir.file("huge.h5"), dir.file("huge.npy"));
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("chunks of"), std::string::npos) << refused.error;
}

// h5py stores a numpy bool column as an enumeration of 8-bit integers.
TEST(ConvertInputTest, H5BoolPolarity) {
    ScratchDir dir;
    H5Columns c;
    writeH5(dir.file("b.h5"), c);
    {
        hid_t f = H5Fopen(dir.file("b.h5").c_str(), H5F_ACC_RDWR, H5P_DEFAULT);
        ASSERT_GE(H5Ldelete(f, "/events/p", H5P_DEFAULT), 0);
        hid_t type = H5Tenum_create(H5T_NATIVE_INT8);
        const int8_t no = 0, yes = 1;
        H5Tenum_insert(type, "FALSE", &no);
        H5Tenum_insert(type, "TRUE", &yes);
        const hsize_t n = 3;
        const int8_t p[3] = {1, 0, 1};
        hid_t space = H5Screate_simple(1, &n, nullptr);
        hid_t d = H5Dcreate2(f, "/events/p", type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        H5Dwrite(d, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, p);
        H5Dclose(d);
        H5Sclose(space);
        H5Tclose(type);
        H5Fclose(f);
    }
    Outcome r = convert(dir.file("b.h5"), dir.file("b.raw"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(readRaw(dir.file("b.raw")).events,
              (std::vector<Event2D>{{1, 4, 1, 10}, {2, 5, 0, 20}, {3, 6, 1, 30}}));
}

TEST(ConvertInputTest, BadH5Refused) {
    ScratchDir dir;
    struct Case {
        const char* what;
        H5Columns cols;
        const char* reason;
    };
    H5Columns floatT;
    floatT.floatT = {1.0, 2.0, 3.0};
    H5Columns missing;
    missing.withT = false;
    H5Columns shortY;
    shortY.y = {1, 2};
    H5Columns unsorted;
    unsorted.t = {10, 1000000, 20};
    H5Columns badP;
    badP.p = {0, 2, 1};
    // uint64 beyond int64: refused as the .npy reader does, never clamped.
    H5Columns hugeT;
    hugeT.unsignedT = {10, 20, uint64_t(1) << 63};
    H5Columns hugeOffset;
    hugeOffset.unsignedOffset = (uint64_t(1) << 63) + 5;
    const std::vector<Case> cases = {
        {"float time", floatT, "/events/t is not of integers"},
        {"uint64 time beyond 2^63 - 1", hugeT, "time negative or out of range at event 2"},
        {"uint64 offset beyond 2^63 - 1", hugeOffset, "/t_offset out of range"},
        {"missing time", missing, "no dataset /events/t"},
        {"lengths differ", shortY, "differ in length"},
        {"unsorted", unsorted, "times go back at event 2"},
        {"polarity 2", badP, "polarity"},
    };
    // Columns that claim a billion events but hold no data.
    auto writeHollow = [](const std::string& path) {
        hid_t f = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        hid_t g = H5Gcreate2(f, "events", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        const hsize_t n = 1000000000, chunk = 65536;
        hid_t space = H5Screate_simple(1, &n, nullptr);
        hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        H5Pset_chunk(dcpl, 1, &chunk);
        for (const char* name : {"x", "y", "p", "t"}) {
            H5Dclose(H5Dcreate2(g, name, H5T_NATIVE_INT64, space, H5P_DEFAULT, dcpl, H5P_DEFAULT));
        }
        H5Pclose(dcpl);
        H5Sclose(space);
        H5Gclose(g);
        H5Fclose(f);
    };
    writeHollow(dir.file("hollow.h5"));
    Outcome hollow = convert(dir.file("hollow.h5"), dir.file("out.npy"));
    EXPECT_FALSE(hollow.ok);
    EXPECT_NE(hollow.error.find("less data than its length"), std::string::npos) << hollow.error;

    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeH5(dir.file("bad.h5"), c.cols);
        Outcome r = convert(dir.file("bad.h5"), dir.file("out.npy"));
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find(c.reason), std::string::npos) << r.error;
        EXPECT_FALSE(fs::exists(dir.file("out.npy")));
    }
    // A good hand-made file without t_offset or edges converts, its times
    // signed or unsigned.
    H5Columns unsignedT;
    unsignedT.unsignedT = {10, 20, 30};
    for (const H5Columns& good : {H5Columns{}, unsignedT}) {
        writeH5(dir.file("good.h5"), good);
        ASSERT_TRUE(convert(dir.file("good.h5"), dir.file("good.raw")).ok);
        EXPECT_EQ(readRaw(dir.file("good.raw")).events,
                  (std::vector<Event2D>{{1, 4, 0, 10}, {2, 5, 1, 20}, {3, 6, 1, 30}}));
    }

    writeBytes(dir.file("text.h5"), {'n', 'o', 't', ' ', 'h', 'd', 'f'});
    Outcome r = convert(dir.file("text.h5"), dir.file("out.raw"));
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("not an HDF5 file"), std::string::npos) << r.error;
    Outcome absent = convert(dir.file("missing.h5"), dir.file("out.raw"));
    EXPECT_FALSE(absent.ok);
    EXPECT_NE(absent.error.find("No such file"), std::string::npos) << absent.error;
    EXPECT_FALSE(convert(dir.file("good.h5"), dir.file("out.txt")).ok);
    ConvertOptions reversed;
    reversed.from_us = 20;
    reversed.to_us = 10;
    EXPECT_FALSE(convert(dir.file("good.h5"), dir.file("out.raw"), reversed).ok);
}

// Data kept outside the .h5 is never read: a dataset stored in another
// (any readable) file, one mapped from another file (virtual), and links to
// other files, on a dataset or on its group, also behind a soft link.
TEST(ConvertInputTest, H5DataOutsideTheFileRefused) {
    ScratchDir dir;
    const std::string secret = dir.file("secret.bin");
    writeBytes(secret, std::vector<uint8_t>(64, 0x5A));
    writeH5(dir.file("other.h5"), H5Columns{});
    // /events/x replaced by what `make` puts there, in a file otherwise good.
    auto withX = [&](const std::string& name, const std::function<void(hid_t events)>& make) {
        writeH5(dir.file(name), H5Columns{});
        hid_t f = H5Fopen(dir.file(name).c_str(), H5F_ACC_RDWR, H5P_DEFAULT);
        hid_t g = H5Gopen2(f, "events", H5P_DEFAULT);
        H5Ldelete(g, "x", H5P_DEFAULT);
        make(g);
        H5Gclose(g);
        H5Fclose(f);
    };
    const hsize_t n = 3;
    withX("external.h5", [&](hid_t g) {
        hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        H5Pset_external(dcpl, secret.c_str(), 0, 6);
        hid_t space = H5Screate_simple(1, &n, nullptr);
        H5Dclose(H5Dcreate2(g, "x", H5T_NATIVE_UINT16, space, H5P_DEFAULT, dcpl, H5P_DEFAULT));
        H5Sclose(space);
        H5Pclose(dcpl);
    });
    withX("virtual.h5", [&](hid_t g) {
        hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        hid_t space = H5Screate_simple(1, &n, nullptr);
        H5Pset_virtual(dcpl, space, dir.file("other.h5").c_str(), "/events/x", space);
        H5Dclose(H5Dcreate2(g, "x", H5T_NATIVE_UINT16, space, H5P_DEFAULT, dcpl, H5P_DEFAULT));
        H5Sclose(space);
        H5Pclose(dcpl);
    });
    withX("xlink.h5", [&](hid_t g) {
        H5Lcreate_external(dir.file("other.h5").c_str(), "/events/x", g, "x", H5P_DEFAULT,
                           H5P_DEFAULT);
    });
    withX("softlink.h5", [&](hid_t g) {
        H5Lcreate_external(dir.file("other.h5").c_str(), "/events/x", g, "far", H5P_DEFAULT,
                           H5P_DEFAULT);
        H5Lcreate_soft("/events/far", g, "x", H5P_DEFAULT, H5P_DEFAULT);
    });
    {
        hid_t f =
            H5Fcreate(dir.file("grouplink.h5").c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        H5Lcreate_external(dir.file("other.h5").c_str(), "/events", f, "events", H5P_DEFAULT,
                           H5P_DEFAULT);
        H5Fclose(f);
    }
    const struct {
        const char* file;
        const char* reason;
    } cases[] = {
        {"external.h5", "/events/x is stored in other files"},
        {"virtual.h5", "/events/x is a virtual dataset"},
        {"xlink.h5", "/events/x is a link to another file"},
        {"softlink.h5", "/events/x is not a dataset"},
        {"grouplink.h5", "/events is a link to another file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Outcome r = convert(dir.file(c.file), dir.file("out.npy"));
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find(c.reason), std::string::npos) << r.error;
        EXPECT_FALSE(fs::exists(dir.file("out.npy")));
    }
    ASSERT_TRUE(convert(dir.file("other.h5"), dir.file("out.npy")).ok);  // the same data inside
}

#endif  // VELQORA_HAVE_HDF5

// A RAW source's stretches come with the steps of their times, worked out
// as they were decoded: a silence is still found where it lies at a
// stretch's first event, inside a stretch, or between an edge and the
// events either side of it in a stretch whose events all step short.
TEST(ConvertOutputTest, SilencesFoundInRawStretches) {
    ScratchDir dir;
    constexpr uint64_t kHalfDay_us = uint64_t(43200) * 1000000 + 1;
    constexpr size_t kEvents = 200000;  // EVT2: a stretch holds about 64 Ki events
    struct Edge {
        size_t before;  // the event it lies before
        uint64_t t;     // 0: the event's time
    };
    auto build = [&](const std::vector<size_t>& gapsAt, const std::vector<Edge>& edges) {
        std::vector<Event2D> ev(kEvents);
        uint64_t t = 1000;
        for (size_t i = 0; i < ev.size(); ++i) {
            t += std::count(gapsAt.begin(), gapsAt.end(), i) ? kHalfDay_us : 1;
            ev[i] = Event2D(uint16_t(i % 640), uint16_t(i % 480), int16_t(i % 2), t);
        }
        std::vector<TriggerRecord> rec;
        for (const Edge& e : edges)
            rec.push_back({EventTriggerIn(0, 1, e.t ? e.t : ev[e.before].timestamp), e.before});
        RawWriter w(RawFormat::Evt2);
        w.writeChunk(ev.data(), ev.size(), rec);
        const std::string header = recordingHeader(DvsFileInfo{}, RawFormat::Evt2, 640, 480);
        std::vector<uint8_t> bytes(header.begin(), header.end());
        const std::vector<uint8_t> words = w.takeBuffer();
        bytes.insert(bytes.end(), words.begin(), words.end());
        writeBytes(dir.file("src.raw"), bytes);
        return dir.file("src.raw");
    };
    // Where the reader's stretches start, by event (the first is 0).
    auto stretchStarts = [&](const std::string& path) {
        auto reader = DvsFileReader::createFileReader(path);
        EXPECT_TRUE(reader && reader->openForReading());
        std::vector<size_t> starts;
        size_t seen = 0;
        deliverRawRange(*reader, 0, ~uint64_t(0),
                        [&](const Event2D*, size_t n, const auto&, uint64_t) {
                            starts.push_back(seen);
                            seen += n;
                            return true;
                        });
        EXPECT_EQ(seen, kEvents);
        return starts;
    };
    const std::vector<size_t> plain = stretchStarts(build({}, {}));
    ASSERT_GE(plain.size(), 3u);
    // The gap's time words move the stretch starts after it: the gap is
    // placed a little before the plain file's start until it lands on one.
    size_t atStart = 0;
    for (size_t g = plain[1]; g + 40 > plain[1] && !atStart; --g) {
        const std::vector<size_t> starts = stretchStarts(build({g}, {}));
        if (std::count(starts.begin(), starts.end(), g)) atStart = g;
    }
    ASSERT_NE(atStart, 0u) << "no gap lands on a stretch's first event";
    const size_t mid = plain[2] + 1000, mid2 = plain[2] + 3001;
    const struct {
        const char* what;
        std::vector<size_t> gaps;
        std::vector<Edge> edges;
        const char* reason;  // null: written
    } cases[] = {
        {"one gap on a stretch's first event", {atStart}, {}, nullptr},
        {"two gaps, one on a stretch's first event", {atStart, mid}, {}, "in all"},
        {"two gaps in one stretch, edges about", {mid, mid2}, {{mid - 5, 0}, {mid2, 0}}, "in all"},
        {"an edge a day ahead of its neighbours",
         {},
         {{mid, 1000 + mid + 86400000000ull + 2}},
         "nothing for"},
        {"an edge two half-days ahead, events stepping short",
         {},
         {{mid, 1000 + mid + kHalfDay_us}, {mid2, 1000 + mid + 2 * kHalfDay_us}},
         "in all"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(dir.file("out.raw"));
        const std::string src = build(c.gaps, c.edges);
        ConvertOptions o;
        o.raw_format = "evt2";
        Outcome r = convert(src, dir.file("out.raw"), o);
        if (!c.reason) {
            ASSERT_TRUE(r.ok) << r.error;
            EXPECT_EQ(readRaw(dir.file("out.raw")).events.size(), kEvents);
            continue;
        }
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find(c.reason), std::string::npos) << r.error;
        EXPECT_FALSE(fs::exists(dir.file("out.raw")));
    }
}

// The OR of steps, two events at a time and in a tail, against the plain walk.
TEST(ConvertRawPassTest, StepBitsOfEveryStep) {
    const std::vector<uint64_t> times = {5, 6, 6, 9, 8, 1u << 20, (1u << 20) + 3, 2, 2, 40};
    for (size_t from = 0; from < times.size(); ++from) {
        for (size_t n = 0; from + n <= times.size(); ++n) {
            std::vector<Event2D> ev;
            for (size_t i = from; i < from + n; ++i)
                ev.emplace_back(1, 2, 1, times[i]);
            for (uint64_t before : {uint64_t(0), uint64_t(7), ~uint64_t(0)}) {
                uint64_t want = 0, at = before;
                for (const Event2D& e : ev) {
                    want |= e.timestamp - at;
                    at = e.timestamp;
                }
                EXPECT_EQ(stepBitsOf(ev.data(), n, before), want)
                    << "from " << from << ", " << n << " events after " << before;
            }
        }
    }
}

// The RAW pass in windows gives what one walk over the range gives: the same
// events in the same order and every edge at the same place; a stop asked
// for by the receiver ends it.
TEST(ConvertRawPassTest, WindowsEqualOneWalk) {
    ScratchDir dir;
    SyntheticOptions o = scene(kLoop24_us - 400000);
    o.duration_us = 3000000;
    o.eventsPerSecond = 1000000;
    o.triggerPeriod_us = 777;
    const std::string src = generate(dir, "w.raw", o);
    auto reader = DvsFileReader::createFileReader(src);
    ASSERT_TRUE(reader && reader->openForReading());
    ASSERT_GT(reader->index().entries().size(), 40u);  // several windows
    const uint64_t from = kLoop24_us - 300000, to = kLoop24_us + 2500001;
    const Decoded want = decodeAll(*reader, from, to);
    Decoded got;
    size_t batches = 0;
    EXPECT_TRUE(deliverRawRange(
        *reader, from, to, [&](const Event2D* ev, size_t n, const auto& triggers, uint64_t steps) {
            collect(got, ev, n, triggers);
            EXPECT_EQ(steps, stepBitsOf(ev, n, n > 0 ? ev[0].timestamp : 0));
            ++batches;
            return true;
        }));
    EXPECT_TRUE(got.events == want.events);
    EXPECT_EQ(got.triggers, want.triggers);
    EXPECT_EQ(got.triggerPositions, want.triggerPositions);

    size_t seen = 0;
    EXPECT_FALSE(
        deliverRawRange(*reader, from, to,
                        [&](const Event2D*, size_t, const auto&, uint64_t) { return ++seen < 3; }));
    EXPECT_EQ(seen, 3u);
    EXPECT_GT(batches, seen);
}
