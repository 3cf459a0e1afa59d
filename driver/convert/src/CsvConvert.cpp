// Text output (.csv): one "t,x,y,p" line per event, as kvraw decode prints
// them; trigger edges have no place in it and are left out.

#include <cerrno>
#include <charconv>
#include <string>
#include <vector>

#include "korvane/convert/ConvertStreams.h"
#include "korvane/file/Platform.h"

namespace korvane {

namespace {

class CsvSink : public EventSink {
public:
    bool open(const std::string& path, const RecordingMeta&,
              const std::vector<FileIdentity>& inputs, std::string* error) override {
        buf_.reserve(kBufferBytes + 128);
        return out_.open(path, inputs, error);
    }

    bool write(const Event2D* ev, size_t n, const std::vector<TriggerRecord>&,
               std::string* error) override {
        for (size_t i = 0; i < n; ++i) {
            number(ev[i].timestamp, ',');
            number(ev[i].x, ',');
            number(ev[i].y, ',');
            number(ev[i].polarity, '\n');
            if (buf_.size() >= kBufferBytes && !flush(error)) return false;
        }
        return true;
    }

    bool finish(std::string* error) override {
        if (!flush(error)) return false;
        return out_.commit(error);
    }

    uint64_t outputBytes() const override { return bytes_; }

private:
    static constexpr size_t kBufferBytes = size_t(1) << 20;

    void number(uint64_t v, char end) {
        char tmp[24];
        auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        buf_.append(tmp, size_t(r.ptr - tmp));
        buf_ += end;
    }

    bool flush(std::string* error) {
        size_t done = 0;
        while (done < buf_.size()) {
            const long long w = platform::writeSome(out_.fd(), buf_.data() + done, buf_.size() - done);
            if (w <= 0) {
                if (error) *error = errnoText(w < 0 ? errno : ENOSPC);
                return false;
            }
            done += size_t(w);
        }
        bytes_ += done;
        buf_.clear();
        return true;
    }

    SafeOutput out_;
    std::string buf_;
    uint64_t bytes_ = 0;
};

}  // namespace

std::unique_ptr<EventSink> makeCsvSink() {
    return std::make_unique<CsvSink>();
}

}  // namespace korvane
