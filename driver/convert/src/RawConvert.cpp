// RAW recordings on both sides of a conversion: the source reads through
// DvsFileReader (pass in RangePass), the sink writes through RawWriter into a
// SafeOutput temporary.

#include <algorithm>
#include <string>
#include <vector>

#include "korvane/file/Platform.h"

#include "korvane/convert/ConvertStreams.h"
#include "DvsFileInfo.h"
#include "korvane/file/DvsFileReader.h"
#include "korvane/convert/RangePass.h"
#include "korvane/file/RawWriter.h"

namespace korvane {

namespace {

class RawSource : public EventSource {
public:
    explicit RawSource(std::unique_ptr<DvsFileReader> reader) : reader_(std::move(reader)) {
        const RawHeader& h = reader_->header();
        meta_.width = h.width;
        meta_.height = h.height;
        meta_.geometryKnown = h.geometryKnown;
        meta_.serialNumber = h.serialNumber;
        meta_.sourceFormat = h.format == RawFormat::Evt2 ? "evt2" : "evt3";
        meta_.sourceStart_us = h.dvsStartTimestamp;
        meta_.apsStart_us = h.apsStartTimestamp;
        meta_.generation = h.generation;
        meta_.sensorGeneration = h.sensorGeneration;
        meta_.sensorName = h.sensorName;
        meta_.rawHeader = h;
        reader_->getStartTime(first_us_);
        reader_->getEndTime(last_us_);
    }

    bool deliver(uint64_t from_us, uint64_t to_us, const BatchFn& fn, std::string*) override {
        return deliverRawRange(*reader_, from_us, to_us, fn);
    }

private:
    std::unique_ptr<DvsFileReader> reader_;
};

class RawSink : public EventSink {
public:
    explicit RawSink(RawFormat format) : format_(format) {}

    bool open(const std::string& path, const RecordingMeta& meta,
              const std::vector<FileIdentity>& inputs, std::string* error) override {
        meta_ = meta;
        return out_.open(path, inputs, error);
    }

    bool write(const Event2D* ev, size_t n, const std::vector<TriggerRecord>& triggers,
               std::string* error) override {
        for (size_t i = 0; i < n; ++i) {
            if (ev[i].x >= kAddressRange || ev[i].y >= kAddressRange) {
                return fail(error, "event at x " + std::to_string(ev[i].x) + ", y " +
                                       std::to_string(ev[i].y) +
                                       " lies beyond what a RAW file can address (2047)");
            }
            // A reader drops columns beyond the header's width (rows it
            // keeps): such an event would be lost on the way back.
            if (ev[i].x >= meta_.width) {
                return fail(error, "event at x " + std::to_string(ev[i].x) + ", y " +
                                       std::to_string(ev[i].y) + " lies outside the " +
                                       std::to_string(meta_.width) + "x" +
                                       std::to_string(meta_.height) + " sensor");
            }
        }
        const int maxId = format_ == RawFormat::Evt2 ? 0x1F : 0xF;
        for (const auto& t : triggers) {
            if (t.trigger.id < 0 || t.trigger.id > maxId || t.trigger.polarity < 0 ||
                t.trigger.polarity > 1) {
                return fail(error, "trigger edge with channel " + std::to_string(t.trigger.id) +
                                       " and value " + std::to_string(t.trigger.polarity) +
                                       " cannot be written in this encoding");
            }
        }
        if (!writer_.isOpen()) {
            // The header names the first event's time, which lets a reader
            // restore the loops of the time counter; edges before it wait.
            if (n == 0) {
                for (const auto& t : triggers)
                    pending_.push_back(t.trigger);
                return true;
            }
            if (!start(ev[0].timestamp, error)) return false;
        }
        // Written in pieces so a cancel is heard within a long chunk; an edge
        // whose index falls behind an earlier edge's stays at that edge.
        size_t done = 0;
        for (const auto& t : triggers) {
            const size_t at = std::max(done, size_t(std::min<uint64_t>(t.eventIndex, n)));
            if (!writeEvents(ev + done, at - done, error)) return false;
            done = at;
            writer_.writeTrigger(t.trigger);
        }
        if (!writeEvents(ev + done, n - done, error)) return false;
        if (!writer_.ok()) return fail(error, errnoText(writer_.error()));
        return true;
    }

    bool paysForSilence() const override { return true; }

    bool finish(std::string* error) override {
        if (!writer_.isOpen()) {
            const uint64_t start = pending_.empty() ? 0 : pending_.front().timestamp;
            if (!this->start(start, error)) return false;
        }
        if (!writer_.close()) return fail(error, errnoText(writer_.error()));
        platform::FileStatus st;
        if (platform::status(out_.fd(), st)) bytes_ = st.size;
        return out_.commit(error);
    }

    uint64_t outputBytes() const override { return bytes_; }

private:
    static bool fail(std::string* error, const std::string& why) {
        if (error) *error = why;
        return false;
    }

    // In pieces, asking between them whether to go on: each event may be
    // preceded by up to a day of time words.
    bool writeEvents(const Event2D* ev, size_t n, std::string* error) {
        constexpr size_t kPiece = 4096;
        for (size_t at = 0; at < n; at += kPiece) {
            if (stopRequested()) return fail(error, "cancelled");
            writer_.writeEvents(ev + at, std::min(kPiece, n - at));
        }
        return true;
    }

    bool start(uint64_t firstTime_us, std::string* error) {
        std::string header;
        if (meta_.rawHeader) {
            header = copyHeader(*meta_.rawHeader, format_, firstTime_us);
        } else {
            DvsFileInfo info;
            info.serialNumber = meta_.serialNumber;
            info.dvsStartTimestamp = firstTime_us;
            // Kept, so that a copy of a fusion recording is shown as it is.
            info.apsStartTimestamp = meta_.apsStart_us;
            RawHeader sensor;
            sensor.generation = meta_.generation;
            sensor.sensorGeneration = meta_.sensorGeneration;
            sensor.sensorName = meta_.sensorName;
            header = recordingHeader(info, format_, meta_.width, meta_.height, &sensor);
        }
        if (!writer_.open(out_.fd(), header)) {
            return fail(error, errnoText(writer_.error()));
        }
        for (const auto& t : pending_)
            writer_.writeTrigger(t);
        pending_.clear();
        return true;
    }

    RawFormat format_;
    RecordingMeta meta_;
    SafeOutput out_;
    RawWriter writer_{format_};
    std::vector<EventTriggerIn> pending_;
    uint64_t bytes_ = 0;
};

}  // namespace

std::unique_ptr<EventSource> openRawSource(const std::string& path, std::string* error) {
    auto reader = DvsFileReader::createFileReader(path, error);
    if (!reader) return nullptr;
    if (!reader->openForReading()) {
        if (error) *error = "cannot read";
        return nullptr;
    }
    return std::make_unique<RawSource>(std::move(reader));
}

std::unique_ptr<EventSink> makeRawSink(RawFormat format) {
    return std::make_unique<RawSink>(format);
}

}  // namespace korvane
