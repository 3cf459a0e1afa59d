#include "korvane/video/Mp4FrameReader.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace korvane {

namespace {
constexpr AVRational kMicroseconds{1, 1000000};
}

struct Mp4FrameReader::State {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVFrame* frame = nullptr;
    AVFrame* bgr = nullptr;  // padded target for widths the converter may write past
    AVPacket* packet = nullptr;
    SwsContext* sws = nullptr;
    int stream = -1;
    bool draining = false;

    ~State() {
        sws_freeContext(sws);
        av_packet_free(&packet);
        av_frame_free(&frame);
        av_frame_free(&bgr);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
};

Mp4FrameReader::Mp4FrameReader(std::string path) : path_(std::move(path)) {}

Mp4FrameReader::~Mp4FrameReader() = default;

bool Mp4FrameReader::openForReading() {
    s_.reset();
    pts_.clear();
    times_us_.clear();
    key_.clear();
    next_ = 0;
    positioned_ = false;
    av_log_set_level(AV_LOG_ERROR);  // damaged files are reported by our results
    auto s = std::make_unique<State>();
    // Only the MP4 demuxer: a file that is not one fails here, whatever
    // other formats FFmpeg could make of it.
    const AVInputFormat* mp4 = av_find_input_format("mp4");
    if (!mp4 || avformat_open_input(&s->format, path_.c_str(), mp4, nullptr) < 0) return false;
    const AVCodec* decoder = nullptr;
    s->stream = av_find_best_stream(s->format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (s->stream < 0 || !decoder) return false;
    const AVCodecParameters* par = s->format->streams[s->stream]->codecpar;
    const int w = par->width, h = par->height;
    if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide || int64_t(w) * h > kMaxPixels)
        return false;

    s->codec = avcodec_alloc_context3(decoder);
    if (!s->codec || avcodec_parameters_to_context(s->codec, par) < 0) return false;
    s->codec->thread_count = 0;  // one per core: a 1080p frame then decodes in a few ms
    s->codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    s->codec->max_pixels = kMaxPixels;  // the stream itself may claim more than the container
    if (avcodec_open2(s->codec, decoder, nullptr) < 0) return false;
    s->frame = av_frame_alloc();
    s->packet = av_packet_alloc();
    if (!s->frame || !s->packet) return false;
    if (w % 16) {
        s->bgr = av_frame_alloc();
        if (!s->bgr) return false;
        s->bgr->format = AV_PIX_FMT_BGR24;
        s->bgr->width = w;
        s->bgr->height = h;
        if (av_frame_get_buffer(s->bgr, 0) < 0) return false;
    }
    s_ = std::move(s);
    if (!buildIndex() || pts_.empty()) {
        s_.reset();
        return false;
    }
    width_ = uint16_t(w);
    height_ = uint16_t(h);
    return true;
}

bool Mp4FrameReader::buildIndex() {
    State& s = *s_;
    AVStream* st = s.format->streams[s.stream];
    std::vector<std::pair<int64_t, bool>> frames;  // time, key
    const int entries = avformat_index_get_entries_count(st);
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        if (!e || (e->flags & AVINDEX_DISCARD_FRAME)) continue;
        frames.emplace_back(e->timestamp, (e->flags & AVINDEX_KEYFRAME) != 0);
    }
    // The index holds decode times; they are the frames' times only without
    // reordered frames. Otherwise (or without an index) read every packet's
    // time, which reads the file but decodes nothing.
    if (frames.empty() || st->codecpar->video_delay > 0) {
        frames.clear();
        while (av_read_frame(s.format, s.packet) >= 0) {
            if (s.packet->stream_index == s.stream && s.packet->pts != AV_NOPTS_VALUE)
                frames.emplace_back(s.packet->pts, (s.packet->flags & AV_PKT_FLAG_KEY) != 0);
            av_packet_unref(s.packet);
        }
        positioned_ = false;  // the demuxer is at the end now
    } else {
        positioned_ = true;  // nothing read yet: the next frame is the first
    }
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end(),
                             [](const auto& a, const auto& b) { return a.first == b.first; }),
                 frames.end());
    for (const auto& [t, key] : frames) {
        pts_.push_back(t);
        times_us_.push_back(
            uint64_t(std::max<int64_t>(0, av_rescale_q(t, st->time_base, kMicroseconds))));
        key_.push_back(key);
    }
    next_ = 0;
    return true;
}

bool Mp4FrameReader::positionAt(size_t i) {
    if (!s_) return false;
    if (i >= pts_.size()) {
        next_ = pts_.size();
        positioned_ = false;
        return false;
    }
    if (positioned_ && i >= next_) {
        // Decoding on is cheaper than seeking unless a key frame lies between.
        bool key = false;
        for (size_t k = next_ + 1; k <= i && !key; ++k)
            key = key_[k];
        if (!key) {
            next_ = i;
            return true;
        }
    }
    State& s = *s_;
    if (av_seek_frame(s.format, s.stream, pts_[i], AVSEEK_FLAG_BACKWARD) < 0) {
        positioned_ = false;
        return false;
    }
    avcodec_flush_buffers(s.codec);
    s.draining = false;
    next_ = i;
    positioned_ = true;
    return true;
}

bool Mp4FrameReader::decodeOne() {
    State& s = *s_;
    for (;;) {
        int r = avcodec_receive_frame(s.codec, s.frame);
        if (r == 0) return true;
        if (r != AVERROR(EAGAIN) || s.draining) return false;  // the end, or damage
        r = av_read_frame(s.format, s.packet);
        if (r < 0) {
            // End of the file (or of what a truncated file holds): the
            // decoder hands out what it still holds.
            s.draining = true;
            if (avcodec_send_packet(s.codec, nullptr) < 0) return false;
            continue;
        }
        if (s.packet->stream_index != s.stream) {
            av_packet_unref(s.packet);
            continue;
        }
        r = avcodec_send_packet(s.codec, s.packet);
        av_packet_unref(s.packet);
        if (r < 0) return false;
    }
}

bool Mp4FrameReader::readNextFrame(ApsFrame& frame) {
    if (!s_ || next_ >= pts_.size()) return false;
    if (!positioned_ && !positionAt(next_)) return false;
    State& s = *s_;
    for (;;) {
        if (!decodeOne()) {
            positioned_ = false;  // the next read seeks afresh
            return false;
        }
        int64_t p = s.frame->best_effort_timestamp;
        if (p == AV_NOPTS_VALUE) p = s.frame->pts;
        if (p == AV_NOPTS_VALUE) p = pts_[next_];
        if (p < pts_[next_]) {  // before the wanted frame: decoded only as a reference
            av_frame_unref(s.frame);
            continue;
        }
        size_t idx = size_t(std::lower_bound(pts_.begin(), pts_.end(), p) - pts_.begin());
        idx = std::min(idx, pts_.size() - 1);
        const bool ok = convert(idx, frame);
        av_frame_unref(s.frame);
        if (!ok) {
            positioned_ = false;
            return false;
        }
        next_ = idx + 1;
        return true;
    }
}

bool Mp4FrameReader::convert(size_t index, ApsFrame& out) {
    State& s = *s_;
    AVFrame* f = s.frame;
    if (f->width != width_ || f->height != height_ || f->format < 0) return false;
    s.sws =
        sws_getCachedContext(s.sws, f->width, f->height, AVPixelFormat(f->format), f->width,
                             f->height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!s.sws) return false;
    ApsFrame result(f->width, f->height, index, times_us_[index]);
    const size_t line = size_t(f->width) * 3;
    if (s.bgr) {
        if (av_frame_make_writable(s.bgr) < 0) return false;
        sws_scale(s.sws, f->data, f->linesize, 0, f->height, s.bgr->data, s.bgr->linesize);
        for (int y = 0; y < f->height; ++y)
            std::memcpy(result.data() + size_t(y) * line,
                        s.bgr->data[0] + size_t(y) * s.bgr->linesize[0], line);
    } else {
        uint8_t* dst[4] = {result.data(), nullptr, nullptr, nullptr};
        const int stride[4] = {int(line), 0, 0, 0};
        sws_scale(s.sws, f->data, f->linesize, 0, f->height, dst, stride);
    }
    out = result;
    return true;
}

bool Mp4FrameReader::rewind(uint64_t time_us) {
    if (!s_) return false;
    const size_t i =
        size_t(std::lower_bound(times_us_.begin(), times_us_.end(), time_us) - times_us_.begin());
    return positionAt(i);
}

bool Mp4FrameReader::getFrameTimestamps(std::vector<uint64_t>& timestamps_us) {
    if (!s_) return false;
    timestamps_us = times_us_;
    return true;
}

uint64_t Mp4FrameReader::getFrameCount() {
    return s_ ? times_us_.size() : 0;
}

bool Mp4FrameReader::readFrameAt(uint64_t time_us, ApsFrame& frame) {
    if (!s_ || times_us_.empty()) return false;
    size_t i =
        size_t(std::upper_bound(times_us_.begin(), times_us_.end(), time_us) - times_us_.begin());
    i = i == 0 ? 0 : i - 1;  // before the first frame: the first
    if (!positionAt(i)) return false;
    return readNextFrame(frame);
}

}  // namespace korvane
