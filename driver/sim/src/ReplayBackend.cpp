#include "korvane/sim/ReplayBackend.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "korvane/file/DvsFileReader.h"
#include "korvane/file/Platform.h"
#include "korvane/file/SafeOutput.h"

namespace korvane {

namespace fs = std::filesystem;

std::string driverDataFolder() {
    return platform::userDataFolder() + "/Korvane/KorvaneDriver";
}

namespace {

constexpr const char* kEnding = ".raw";

bool endsWithRaw(const std::string& file) {
    if (file.size() <= 4) return false;
    std::string end = file.substr(file.size() - 4);
    for (char& c : end)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return end == kEnding;
}

std::string nameOf(const std::string& file) {
    return endsWithRaw(file) ? file.substr(0, file.size() - 4) : file;
}

// Geometry the stream's encoding can carry; anything else (a damaged
// header) is taken as unknown, 1280 x 720, as the reader does without one.
RawHeader withGeometry(RawHeader header) {
    if (!header.geometryKnown || header.width == 0 || header.height == 0 || header.width > 2048 ||
        header.height > 2048) {
        header.width = 1280;
        header.height = 720;
    }
    return header;
}

// What a replay camera says of itself, in the list and once open.
std::string describe(const RawHeader& header) {
    return "Replay of a recording (recorded events, looping), " + std::to_string(header.width) +
           "x" + std::to_string(header.height);
}

// Plays a recording in a loop: file time first..last is camera time
// 0..span-1 of each loop. Reads ahead in windows, so the camera's slices cost
// no seek each.
class ReplaySource : public EventSource {
public:
    static constexpr uint64_t kReadAhead_us = 20000;
    static constexpr auto kCheckPeriod = std::chrono::milliseconds(200);

    ReplaySource(std::unique_ptr<DvsFileReader> reader, std::string watch, uint64_t first,
                 uint64_t last)
        : reader_(std::move(reader)),
          header_(withGeometry(reader_->header())),
          watch_(std::move(watch)),
          first_(first),
          last_(last),
          span_(last - first + 1) {
        if (!fileIdentity(watch_, file_)) file_ = FileIdentity{};
        std::error_code ec;
        size_ = fs::file_size(watch_, ec);
        if (ec) size_ = 0;
    }

    uint32_t width() const override { return header_.width; }
    uint32_t height() const override { return header_.height; }
    const RawHeader* header() const override { return &header_; }
    bool readsFrom(const FileIdentity& f) const override {
        return file_.inode != 0 && f.device == file_.device && f.inode == file_.inode;
    }

    void generate(uint64_t t0, uint64_t t1, std::vector<Event2D>& events,
                  std::vector<EventTriggerIn>& triggers) override {
        while (t0 < t1) {
            const uint64_t loop = t0 / span_;
            const uint64_t loopEnd = (loop + 1) * span_;
            const uint64_t end = std::min(t1, loopEnd);
            const uint64_t shift = loop * span_;
            uint64_t f0 = first_ + (t0 - shift);
            const uint64_t f1 = first_ + (end - shift);
            while (f0 < f1) {
                if (f0 < bufFrom_ || f0 >= bufTo_) {
                    fill(f0);
                } else if (f0 < taken_) {
                    // A new loop of a recording the buffer holds whole: from its start again.
                    head_ = trigHead_ = 0;
                }
                const uint64_t upTo = std::min(f1, bufTo_);
                take(buf_, head_, f0, upTo, shift, events);
                take(trig_, trigHead_, f0, upTo, shift, triggers);
                f0 = taken_ = upTo;
            }
            t0 = end;
        }
    }

    bool present() override {
        const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count();
        int64_t last = lastCheck_ns_.load();
        if (!present_.load() || now - last < std::chrono::nanoseconds(kCheckPeriod).count())
            return present_.load();
        // One caller looks; the others take the last answer.
        if (!lastCheck_ns_.compare_exchange_strong(last, now)) return present_.load();
        std::error_code ec;
        // Follows the link: removing it or the recording it points to both count.
        const fs::file_status st = fs::status(watch_, ec);
        if (st.type() == fs::file_type::not_found) present_.store(false);
        // The same file cut short: what the reader has yet to read is gone too
        // (one replaced under the name plays on from the one opened).
        FileIdentity current;
        if (fileIdentity(watch_, current) && readsFrom(current)) {
            if (const auto size = fs::file_size(watch_, ec); !ec && size < size_)
                present_.store(false);
        }
        return present_.load();
    }

private:
    // Moves what the buffer holds of file time [from, to) (in time order)
    // to out, at camera time.
    template <typename Record>
    void take(const std::vector<Record>& buffer, size_t& head, uint64_t from, uint64_t to,
              uint64_t shift, std::vector<Record>& out) const {
        auto begin = buffer.begin() + std::ptrdiff_t(head);
        auto end = std::partition_point(begin, buffer.end(),
                                        [to](const Record& r) { return r.timestamp < to; });
        head = size_t(end - buffer.begin());
        begin = std::partition_point(begin, end,
                                     [from](const Record& r) { return r.timestamp < from; });
        const size_t at = out.size();
        out.insert(out.end(), begin, end);
        for (auto it = out.begin() + std::ptrdiff_t(at); it != out.end(); ++it)
            it->timestamp = it->timestamp - first_ + shift;
    }

    void fill(uint64_t from) {
        buf_.clear();
        trig_.clear();
        head_ = trigHead_ = 0;
        const uint64_t to = std::min(from + kReadAhead_us, last_ + 1);
        reader_->forEachChunk(
            from, to, [&](const Event2D* ev, size_t n, const std::vector<TriggerRecord>& tr) {
                buf_.insert(buf_.end(), ev, ev + n);
                for (const auto& r : tr)
                    trig_.push_back(r.trigger);
            });
        // A recording slightly out of time order still plays whole.
        auto byTime = [](const auto& a, const auto& b) { return a.timestamp < b.timestamp; };
        if (!std::is_sorted(buf_.begin(), buf_.end(), byTime))
            std::stable_sort(buf_.begin(), buf_.end(), byTime);
        if (!std::is_sorted(trig_.begin(), trig_.end(), byTime))
            std::stable_sort(trig_.begin(), trig_.end(), byTime);
        bufFrom_ = from;
        bufTo_ = to;
    }

    std::unique_ptr<DvsFileReader> reader_;
    RawHeader header_;
    const std::string watch_;
    const uint64_t first_, last_, span_;
    FileIdentity file_;
    uintmax_t size_ = 0;  // at opening
    std::vector<Event2D> buf_;
    std::vector<EventTriggerIn> trig_;
    size_t head_ = 0, trigHead_ = 0;
    uint64_t taken_ = 0;  // file time the buffer was taken up to
    uint64_t bufFrom_ = 1, bufTo_ = 0;  // empty
    std::atomic<int64_t> lastCheck_ns_{0};
    std::atomic<bool> present_{true};
};

bool badName(const std::string& name, std::string* error) {
    auto refuse = [&](const std::string& why) {
        if (error) *error = why;
        return true;
    };
    if (name.empty()) return refuse("the name is empty");
    if (name == "." || name == "..") return refuse("the name '" + name + "' is not a file name");
    if (name[0] == '.') return refuse("the name must not begin with '.'");
    for (unsigned char c : name) {
        if (c == '/' || c == '\\' || c == ':')
            return refuse("the name must not hold '/', '\\' or ':'");
        if (c < 0x20 || c == 0x7f) return refuse("the name must not hold control characters");
    }
    return false;
}

}  // namespace

ReplayBackend::ReplayBackend(std::string folder, std::shared_ptr<CameraClock> clock)
    : folder_(std::move(folder)), clock_(std::move(clock)) {}

std::string ReplayBackend::defaultFolder() {
    return driverDataFolder() + "/replay";
}

std::string ReplayBackend::serialFor(const std::string& name) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : name) {
        hash ^= c;
        hash *= 16777619u;
    }
    std::string serial = "KVREPLAY-";
    for (size_t i = 0; i < name.size() && i < 24; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        serial += std::isalnum(c) && c < 0x80 ? char(std::toupper(c)) : '_';
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "-%08x", hash);
    return serial + hex;
}

std::vector<ReplayEntry> ReplayBackend::entries() const {
    std::vector<ReplayEntry> out;
    if (folder_.empty()) return out;
    try {
        std::vector<std::string> names = platform::listFolder(folder_);
        std::sort(names.begin(), names.end());
        for (const std::string& file : names) {
            if (file.empty() || file[0] == '.' || !endsWithRaw(file)) continue;
            ReplayEntry e;
            e.name = nameOf(file);
            e.serial = serialFor(e.name);
            e.path = (fs::path(folder_) / file).string();
            std::error_code ec;
            e.target = fs::is_symlink(e.path, ec) ? fs::read_symlink(e.path, ec).string() : e.path;
            if (e.target.empty()) e.target = e.path;
            // Only regular files: a FIFO would block the reader's open.
            if (!fs::is_regular_file(e.path, ec)) {
                e.error = fs::exists(fs::symlink_status(e.path, ec)) && !fs::exists(e.path, ec)
                              ? "the recording it links to is gone"
                              : "not a regular file";
            } else if (auto reader = DvsFileReader::createFileReader(e.path, &e.error)) {
                e.readable = true;
                e.description = describe(withGeometry(reader->header()));
            }
            out.push_back(std::move(e));
        }
    } catch (const std::exception&) {
        // A folder that changes under the listing: what was found so far.
    }
    return out;
}

std::vector<CameraDescription> ReplayBackend::listCameras() {
    std::vector<CameraDescription> out;
    for (const auto& e : entries()) {
        if (!e.readable) continue;
        CameraDescription d;
        d.serial = e.serial;
        d.product = kProduct;
        d.manufacturer = "Korvane";
        d.description = e.description;
        d.connection = "replay";
        out.push_back(std::move(d));
    }
    return out;
}

std::shared_ptr<DvsCamera> ReplayBackend::openCamera(const std::string& serial) {
    if (serial.rfind("KVREPLAY-", 0) != 0) return nullptr;
    std::lock_guard lock(mutex_);
    if (auto open = open_[serial].lock(); open && open->isConnected()) return open;
    for (const auto& e : entries()) {
        if (e.serial != serial || !e.readable) continue;
        auto camera = openFile(e.path, serial, clock_, nullptr);
        if (camera) open_[serial] = camera;
        return camera;
    }
    return nullptr;
}

std::shared_ptr<SimulatedDvsCamera> ReplayBackend::openFile(const std::string& path,
                                                            const std::string& serial,
                                                            std::shared_ptr<CameraClock> clock,
                                                            std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return std::shared_ptr<SimulatedDvsCamera>();
    };
    try {
        std::error_code ec;
        if (!fs::exists(path, ec)) return fail("no such file");
        if (!fs::is_regular_file(path, ec)) return fail("not a regular file");
        std::string why;
        auto reader = DvsFileReader::createFileReader(path, &why);
        if (!reader) return fail(why);
        if (!reader->openForReading()) return fail("the recording cannot be read");
        uint64_t first = 0, last = 0;
        if (!reader->getStartTime(first) || !reader->getEndTime(last) || last < first)
            return fail("the recording holds no events");
        auto source = std::make_shared<ReplaySource>(std::move(reader), path, first, last);
        SimulatedCameraOptions o;
        o.serial = serial;
        o.product = kProduct;
        o.eventsPerSecond = 0;
        o.triggerPeriod_us = 0;
        o.clock = std::move(clock);
        o.source = source;
        o.description = describe(*source->header());
        o.connection = "replay";
        return std::make_shared<SimulatedDvsCamera>(o);
    } catch (const std::exception& e) {
        return fail(std::string("the recording cannot be read: ") + e.what());
    }
}

bool ReplayBackend::add(const std::string& folder, const std::string& file, std::string name,
                        std::string* error, ReplayEntry* added) {
    auto refuse = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (folder.empty()) return refuse("no data folder for replays");
    if (name.empty()) name = nameOf(fs::path(file).filename().string());
    if (std::string why; badName(name, &why)) return refuse(why);
    name = nameOf(name);
    if (name.empty()) return refuse("the name is empty");
    std::string why;
    if (!openFile(file, serialFor(name), nullptr, &why)) return refuse(file + ": " + why);
    try {
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (ec) return refuse("cannot create " + folder + ": " + ec.message());
        const fs::path link = fs::path(folder) / (name + kEnding);
        if (fs::exists(fs::symlink_status(link, ec)))
            return refuse("the name '" + name + "' is already taken");
        // NAME.RAW put there by hand is the replay NAME too: one serial, one camera.
        for (const ReplayEntry& e : ReplayBackend(folder).entries())
            if (e.name == name) return refuse("the name '" + name + "' is already taken");
        const fs::path target = fs::absolute(file, ec);
        if (ec) return refuse(file + ": " + ec.message());
#ifdef _WIN32
        // Links need rights most users lack there: a copy instead.
        fs::copy_file(target, link, fs::copy_options::none, ec);
#else
        fs::create_symlink(target, link, ec);
#endif
        if (ec) return refuse("cannot make " + link.string() + ": " + ec.message());
        if (added) {
            *added = ReplayEntry{};
            added->name = name;
            added->serial = serialFor(name);
            added->path = link.string();
            added->target = target.string();
            added->readable = true;
        }
        return true;
    } catch (const std::exception& e) {
        return refuse(e.what());
    }
}

bool ReplayBackend::remove(const std::string& folder, const std::string& name, std::string* error) {
    auto refuse = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (std::string why; badName(name, &why)) return refuse(why);
    try {
        std::error_code ec;
        const fs::path link = fs::path(folder) / (nameOf(name) + kEnding);
        const fs::file_status st = fs::symlink_status(link, ec);
        if (folder.empty() || !fs::exists(st)) return refuse("no replay named '" + name + "'");
#ifdef _WIN32
        // add copies there: a copy is the replay's own file.
        const bool ours = fs::is_regular_file(st);
#else
        // A recording put in the folder by hand is the user's only copy.
        const bool ours = fs::is_symlink(st);
#endif
        if (!ours)
            return refuse("'" + name + "' is not a link to a recording: " + link.string() +
                          " stays (remove it yourself if you mean to)");
        // The link itself: fs::remove never follows it.
        if (!fs::remove(link, ec) || ec)
            return refuse("cannot remove " + link.string() + ": " + ec.message());
        return true;
    } catch (const std::exception& e) {
        return refuse(e.what());
    }
}

}  // namespace korvane
