// numpy files (.npy): one structured array of events with fields x <u2,
// y <u2, p <i2, t <i8 (absolute microseconds) at offsets 0, 2, 4, 8, 16
// bytes per event; beside it NAME.triggers.npy with t <i8, id <i2, p <i2
// (12 bytes per edge) when the range has edges. The count in the header is
// written last, into room reserved for the largest count, so a file is
// streamed and never held.
//
// Reading accepts any structured array that has these fields with integer
// types of 1 to 8 bytes, either byte order, in any order and with padding;
// the header and the file's length must agree.

#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "korvane/file/Platform.h"
#include <vector>

#include "korvane/convert/ColumnarSource.h"
#include "korvane/convert/ConvertStreams.h"
#include "korvane/convert/NpyHeader.h"
#include "korvane/file/RawFile.h"

namespace korvane {

static_assert(std::endian::native == std::endian::little, "records are written as in memory");

namespace {

// Our paths are UTF-8 on every system.
std::filesystem::path utf8Path(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}


bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

const char* const kEventsDescr =
    "[('x', '<u2'), ('y', '<u2'), ('p', '<i2'), ('', '|V2'), ('t', '<i8')]";
const char* const kTriggersDescr = "[('t', '<i8'), ('id', '<i2'), ('p', '<i2')]";

#pragma pack(push, 1)
struct NpyEvent {
    uint16_t x, y;
    int16_t p;
    uint16_t pad;
    int64_t t;
};
struct NpyTrigger {
    int64_t t;
    int16_t id, p;
};
#pragma pack(pop)
static_assert(sizeof(NpyEvent) == 16 && sizeof(NpyTrigger) == 12);

// Writes fixed-size records after a reserved header, through a buffer.
class RecordFile {
public:
    RecordFile(const char* descr, size_t recordBytes) : descr_(descr), recordBytes_(recordBytes) {}

    bool open(const std::string& path, const std::vector<FileIdentity>& inputs,
              std::string* error) {
        if (!out_.open(path, inputs, error)) return false;
        return put(npyHeader(descr_, 0)) || fail(error, errnoText(errno_));
    }
    bool add(const void* record) {
        const auto* p = static_cast<const uint8_t*>(record);
        buf_.insert(buf_.end(), p, p + recordBytes_);
        ++count_;
        if (buf_.size() >= kBufferBytes) return flush();
        return true;
    }
    uint64_t count() const { return count_; }
    int lastErrno() const { return errno_; }
    // Writes the rest and the final header; the file is then ready to commit.
    bool complete() {
        if (!flush()) return false;
        const std::string header = npyHeader(descr_, count_);
        if (!platform::writeAllAt(out_.fd(), header.data(), header.size(), 0)) {
            errno_ = errno ? errno : EIO;
            return false;
        }
        return true;
    }
    uint64_t bytes() const { return written_; }
    SafeOutput& output() { return out_; }

private:
    static constexpr size_t kBufferBytes = size_t(4) << 20;

    bool put(const std::string& s) {
        buf_.assign(s.begin(), s.end());
        return flush();
    }
    bool flush() {
        size_t done = 0;
        while (done < buf_.size()) {
            const long long w = platform::writeSome(out_.fd(), buf_.data() + done, buf_.size() - done);
            if (w <= 0) {
                errno_ = w < 0 ? errno : ENOSPC;
                return false;
            }
            done += size_t(w);
        }
        written_ += done;
        buf_.clear();
        return true;
    }

    const char* descr_;
    size_t recordBytes_;
    SafeOutput out_;
    std::vector<uint8_t> buf_;
    uint64_t count_ = 0;
    uint64_t written_ = 0;
    int errno_ = 0;
};

class NpySink : public EventSink {
public:
    bool open(const std::string& path, const RecordingMeta&,
              const std::vector<FileIdentity>& inputs, std::string* error) override {
        triggersPath_ = npyTriggersPath(path);
        // Neither output may replace an input, nor the other output.
        if (!events_.open(path, inputs, error)) return false;
        std::vector<FileIdentity> guarded = inputs;
        FileIdentity own;
        if (fileIdentity(path, own)) guarded.push_back(own);
        if (!triggers_.open(triggersPath_, guarded, error)) {
            if (error) *error = triggersPath_ + ": " + *error;
            return false;
        }
        return true;
    }

    bool write(const Event2D* ev, size_t n, const std::vector<TriggerRecord>& triggers,
               std::string* error) override {
        for (size_t i = 0; i < n; ++i) {
            const NpyEvent r{ev[i].x, ev[i].y, int16_t(ev[i].polarity), 0,
                             int64_t(ev[i].timestamp)};
            if (!events_.add(&r)) return fail(error, errnoText(events_.lastErrno()));
        }
        for (const auto& t : triggers) {
            const NpyTrigger r{int64_t(t.trigger.timestamp), t.trigger.id, t.trigger.polarity};
            if (!triggers_.add(&r)) return fail(error, errnoText(triggers_.lastErrno()));
        }
        return true;
    }

    bool finish(std::string* error) override {
        if (!events_.complete()) return fail(error, errnoText(events_.lastErrno()));
        const bool withTriggers = triggers_.count() > 0;
        if (withTriggers && !triggers_.complete()) {
            return fail(error, errnoText(triggers_.lastErrno()));
        }
        if (withTriggers) {
            // Both files or neither: the edge file it replaces stays linked
            // under a hidden name (one a later writer's clean-up removes if
            // this process dies) until the events file is in place too.
            std::string kept;
            platform::FileStatus old;
            if (platform::status(triggersPath_, old, /*followLinks=*/false) &&
                old.kind == platform::FileKind::Regular) {
                kept = triggers_.output().temporaryPath() + "-kept";
                std::error_code ec;
                std::filesystem::create_hard_link(utf8Path(triggersPath_), utf8Path(kept), ec);
                if (ec) {
                    return fail(error, triggersPath_ + ": cannot keep it while replacing it: " +
                                           ec.message());
                }
            }
            if (!triggers_.output().commit(error)) {
                if (!kept.empty()) platform::remove(kept);
                if (error) *error = triggersPath_ + ": " + *error;
                return false;
            }
            if (!events_.output().commit(error)) {
                if (!kept.empty()) {
                    platform::replace(kept, triggersPath_);
                } else {
                    platform::remove(triggersPath_);
                }
                return false;
            }
            if (!kept.empty()) platform::remove(kept);
        } else if (!events_.output().commit(error)) {
            return false;
        }
        bytes_ = events_.bytes() + (withTriggers ? triggers_.bytes() : 0);
        if (!withTriggers) {
            // An edge file left by an earlier conversion to this name would
            // be taken for this one's.
            triggers_.output().abandon();
            platform::FileStatus st;
            if (platform::status(triggersPath_, st, /*followLinks=*/false) &&
                st.kind == platform::FileKind::Regular) {
                platform::remove(triggersPath_);
            }
        }
        return true;
    }

    uint64_t outputBytes() const override { return bytes_; }

private:
    RecordFile events_{kEventsDescr, sizeof(NpyEvent)};
    RecordFile triggers_{kTriggersDescr, sizeof(NpyTrigger)};
    std::string triggersPath_;
    uint64_t bytes_ = 0;
};

// One opened .npy array of records.
struct NpyArray {
    RawFile file;
    NpyLayout layout;
    std::vector<uint8_t> buf;

    bool open(const std::string& path, const std::vector<std::string>& fields, std::string* error) {
        if (!file.open(path, error)) return false;
        return readNpyLayout(file, fields, layout, error);
    }

    // Reads records [first, first + n) and hands each field's value to put.
    template <typename Put>
    bool read(uint64_t first, size_t n, Put put, std::string* error) {
        const size_t bytes = n * layout.itemBytes;
        buf.resize(bytes);
        const uint64_t at = layout.dataOffset + first * layout.itemBytes;
        if (file.readAt(at, buf.data(), bytes) != bytes) {
            return fail(error, "cannot read the records at " + std::to_string(first));
        }
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* rec = buf.data() + i * layout.itemBytes;
            for (size_t f = 0; f < layout.fields.size(); ++f)
                put(i, f, layout.fields[f].load(rec));
        }
        return true;
    }
};

class NpySource : public ColumnarSource {
public:
    bool open(const std::string& path, std::string* error) {
        if (!events_.open(path, {"x", "y", "p", "t"}, error)) return false;
        eventCount_ = events_.layout.count;
        const auto& f = events_.layout.fields;
        ourLayout_ = events_.layout.itemBytes == sizeof(NpyEvent) && !f[0].bigEndian &&
                     !f[1].bigEndian && !f[2].bigEndian && !f[3].bigEndian && f[0].offset == 0 &&
                     f[0].bytes == 2 && !f[0].isSigned && f[1].offset == 2 && f[1].bytes == 2 &&
                     !f[1].isSigned && f[2].offset == 4 && f[2].bytes == 2 && f[2].isSigned &&
                     f[3].offset == 8 && f[3].bytes == 8 && f[3].isSigned;
        const std::string tpath = npyTriggersPath(path);
        platform::FileStatus st;
        if (platform::status(tpath, st, /*followLinks=*/true)) {
            std::string why;
            if (!triggers_.open(tpath, {"t", "id", "p"}, &why)) {
                return fail(error, tpath + ": " + why);
            }
            triggerCount_ = triggers_.layout.count;
        }
        meta_.sourceFormat = "npy";
        return findSpan(error);
    }

protected:
    bool readEvents(uint64_t first, std::vector<StoredEvent>& out, std::string* error) override {
        if (ourLayout_) {
            // The layout this file writes: one copy per record, no per-field dispatch.
            const size_t n = out.size();
            events_.buf.resize(n * sizeof(NpyEvent));
            const uint64_t at = events_.layout.dataOffset + first * sizeof(NpyEvent);
            if (events_.file.readAt(at, events_.buf.data(), events_.buf.size()) !=
                events_.buf.size()) {
                return fail(error, "cannot read the records at " + std::to_string(first));
            }
            for (size_t i = 0; i < n; ++i) {
                NpyEvent r;
                std::memcpy(&r, events_.buf.data() + i * sizeof(NpyEvent), sizeof r);
                out[i] = {r.x, r.y, r.p, r.t};
            }
            return true;
        }
        return events_.read(
            first, out.size(),
            [&](size_t i, size_t f, int64_t v) {
                int64_t* fields[] = {&out[i].x, &out[i].y, &out[i].p, &out[i].t};
                *fields[f] = v;
            },
            error);
    }
    bool readTriggers(uint64_t first, std::vector<StoredTrigger>& out,
                      std::string* error) override {
        return triggers_.read(
            first, out.size(),
            [&](size_t i, size_t f, int64_t v) {
                int64_t* fields[] = {&out[i].t, &out[i].id, &out[i].p};
                *fields[f] = v;
            },
            error);
    }

private:
    NpyArray events_;
    NpyArray triggers_;
    bool ourLayout_ = false;
};

}  // namespace

std::string npyTriggersPath(const std::string& eventsPath) {
    std::string stem = eventsPath;
    if (stem.size() >= 4 && stem.compare(stem.size() - 4, 4, ".npy") == 0) {
        stem.resize(stem.size() - 4);
    }
    return stem + ".triggers.npy";
}

std::unique_ptr<EventSource> openNpySource(const std::string& path, std::string* error) {
    auto source = std::make_unique<NpySource>();
    if (!source->open(path, error)) return nullptr;
    return source;
}

std::unique_ptr<EventSink> makeNpySink() {
    return std::make_unique<NpySink>();
}

}  // namespace korvane
