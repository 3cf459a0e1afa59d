#pragma once

// ApsFileReader on FFmpeg's libraries: the frame file of a fusion recording
// (H.264 or any codec FFmpeg decodes, in an MP4 container) into BGR888
// ApsFrames. The container's index gives every frame's time without
// decoding; seeking goes to the key frame before the wanted frame and
// decodes forward, and a step of a few frames forward decodes on without
// seeking.
//
// Frames carry their time in microseconds as the file has it (the writer
// puts the recording's first frame at 0) and their index in the file as
// frameTag.
//
// Unsafe input: only the MP4 demuxer is tried; a file without a video
// stream, without frames, or declaring a frame larger than kMaxPixels does
// not open; frames that decode to another size than declared, and damaged
// or truncated data, end the reading with false. Memory is bounded by the
// decoder's few reference frames plus the frame handed out.
//
// Threads: one thread at a time (FFmpeg's decoder threads are its own).

#include <memory>
#include <string>
#include <vector>

#include "korvane/video/ApsFileReader.h"

namespace korvane {

class Mp4FrameReader : public ApsFileReader {
public:
    static constexpr int kMaxSide = 16384;
    static constexpr int64_t kMaxPixels = int64_t(8192) * 4320;

    explicit Mp4FrameReader(std::string path);
    ~Mp4FrameReader() override;

    bool openForReading() override;
    bool rewind(uint64_t time_us) override;
    bool getFrameTimestamps(std::vector<uint64_t>& timestamps_us) override;
    bool readNextFrame(ApsFrame& frame) override;
    uint64_t getFrameCount() override;
    bool readFrameAt(uint64_t time_us, ApsFrame& frame) override;

private:
    struct State;

    bool buildIndex();
    // Makes frame i the next one readNextFrame returns.
    bool positionAt(size_t i);
    // The decoder's next frame in presentation order, into the state's frame.
    bool decodeOne();
    bool convert(size_t index, ApsFrame& out);

    std::string path_;
    std::unique_ptr<State> s_;
    std::vector<int64_t> pts_;        // every frame, presentation order, stream time base
    std::vector<uint64_t> times_us_;  // the same in microseconds
    std::vector<bool> key_;           // key frame (when the index says so)
    size_t next_ = 0;                 // frame the next read returns
    bool positioned_ = false;         // the decoder is at next_ (else seek first)
};

}  // namespace korvane
