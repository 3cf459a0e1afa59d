#include "korvane/video/VideoEncoder.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace korvane {

namespace {

// Output through a descriptor the caller opened (see VideoEncoderOptions::fd).
#if LIBAVFORMAT_VERSION_MAJOR >= 61
int writeToFd(void* opaque, const uint8_t* buf, int size) {
#else
int writeToFd(void* opaque, uint8_t* buf, int size) {
#endif
    const int fd = int(reinterpret_cast<intptr_t>(opaque));
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, buf + done, size_t(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return AVERROR(n < 0 ? errno : ENOSPC);
        done += int(n);
    }
    return done;
}

int64_t seekFd(void* opaque, int64_t offset, int whence) {
    const int fd = int(reinterpret_cast<intptr_t>(opaque));
    if (whence == AVSEEK_SIZE) {
        const off_t here = ::lseek(fd, 0, SEEK_CUR);
        const off_t end = ::lseek(fd, 0, SEEK_END);
        if (here < 0 || end < 0 || ::lseek(fd, here, SEEK_SET) < 0) return AVERROR(errno);
        return end;
    }
    const off_t r = ::lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return r < 0 ? AVERROR(errno) : int64_t(r);
}

void closeOutput(AVIOContext*& pb, bool own) {
    if (!pb) return;
    if (own) {
        avio_closep(&pb);
        return;
    }
    avio_flush(pb);
    av_freep(&pb->buffer);
    avio_context_free(&pb);
}

AVPixelFormat avPixels(VideoPixels p) {
    switch (p) {
        case VideoPixels::Bgr24:
            return AV_PIX_FMT_BGR24;
        case VideoPixels::Gray8:
            return AV_PIX_FMT_GRAY8;
        case VideoPixels::I420:
            return AV_PIX_FMT_YUV420P;
        case VideoPixels::Rgb24:
            break;
    }
    return AV_PIX_FMT_RGB24;
}

}  // namespace

struct VideoEncoder::State {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = nullptr;
    AVFrame* rgb = nullptr;  // padded copy of the caller's image: swscale reads past row ends
    AVPacket* packet = nullptr;
    SwsContext* sws = nullptr;
    bool fileOpen = false;
    bool ownFile = true;  // false: the caller's descriptor behind a context of ours
    bool headerWritten = false;
    int width = 0;
    int height = 0;
    int bytesPerPixel = 3;
    bool planar = false;  // I420 in: copied as it is, no conversion
    bool timed = false;
    int64_t lastPts = -1;
    int64_t frameDuration = 1;  // in the codec's time base
    // Pieces of a fragmented file, cut here (codec time base): the longest
    // a piece may be (0: one per key frame) and the start of the open one.
    bool fragmented = false;
    int64_t pieceLimit = 0;
    int64_t pieceStart = -1;  // -1: no frame in the open piece
    int64_t pieceFrames = 0;  // frames in the open piece

    ~State() {
        sws_freeContext(sws);
        av_packet_free(&packet);
        av_frame_free(&frame);
        av_frame_free(&rgb);
        avcodec_free_context(&codec);
        if (format) {
            if (fileOpen) closeOutput(format->pb, ownFile);
            avformat_free_context(format);
        }
    }
};

VideoEncoder::VideoEncoder() = default;

VideoEncoder::~VideoEncoder() {
    abort();
}

bool VideoEncoder::fail(const std::string& what, int averror) {
    error_ = what;
    if (averror < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(averror, text, sizeof text);
        error_ += ": ";
        error_ += text;
    }
    return false;
}

bool VideoEncoder::open(const std::string& path, const VideoEncoderOptions& o) {
    abort();
    error_.clear();
    frames_ = 0;
    framesInFile_ = 0;
    completeBytes_ = 0;
    if (o.width <= 0 || o.height <= 0 || o.width % 2 || o.height % 2) {
        return fail("the video size must be positive and even", 0);
    }
    if (o.fps <= 0) return fail("the frame rate must be positive", 0);
    // x264 and the muxer talk on stderr at info level; only errors matter here
    // and those come back through the results.
    av_log_set_level(AV_LOG_ERROR);
    s_ = std::make_unique<State>();
    State& s = *s_;
    s.width = o.width;
    s.height = o.height;
    s.bytesPerPixel = o.pixels == VideoPixels::Gray8 ? 1 : 3;
    s.planar = o.pixels == VideoPixels::I420;
    s.timed = o.timedFrames;
    const AVPixelFormat input = avPixels(o.pixels);

    int r = avformat_alloc_output_context2(&s.format, nullptr, "mp4", path.c_str());
    if (r < 0 || !s.format) return fail("cannot set up the MP4 container", r);

    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec) return fail("no H.264 encoder in this FFmpeg", 0);

    s.stream = avformat_new_stream(s.format, nullptr);
    s.codec = avcodec_alloc_context3(codec);
    if (!s.stream || !s.codec) return fail("out of memory", AVERROR(ENOMEM));
    AVCodecContext* c = s.codec;
    c->width = o.width;
    c->height = o.height;
    // Timed frames count in microseconds, so the file keeps each frame's
    // time exactly.
    c->time_base = o.timedFrames ? AVRational{1, 1000000} : AVRational{1, o.fps};
    c->framerate = AVRational{o.fps, 1};
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    // A key frame every two seconds (or as asked) keeps seeking quick.
    c->gop_size = o.keyFrameInterval > 0 ? o.keyFrameInterval : 2 * o.fps;
    s.frameDuration = o.timedFrames ? std::max<int64_t>(1, 1000000 / o.fps) : 1;
    c->thread_count = o.threads;
    // The converter below uses BT.601 limited range; say so, so that players
    // turn it back into the same colours.
    c->colorspace = AVCOL_SPC_SMPTE170M;
    c->color_primaries = AVCOL_PRI_SMPTE170M;
    c->color_trc = AVCOL_TRC_SMPTE170M;
    c->color_range = AVCOL_RANGE_MPEG;
    if (s.format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary* codecOptions = nullptr;
    if (std::string(codec->name) == "libx264") {
        av_dict_set(&codecOptions, "preset", o.preset.c_str(), 0);
        av_dict_set(&codecOptions, "crf", std::to_string(o.crf).c_str(), 0);
        if (o.lowLatency) av_dict_set(&codecOptions, "tune", "zerolatency", 0);
    }
    r = avcodec_open2(c, codec, &codecOptions);
    av_dict_free(&codecOptions);
    if (r < 0) return fail("cannot open the H.264 encoder", r);

    r = avcodec_parameters_from_context(s.stream->codecpar, c);
    if (r < 0) return fail("cannot set up the video stream", r);
    s.stream->time_base = c->time_base;
    s.stream->avg_frame_rate = c->framerate;
    for (const auto& [key, value] : o.metadata)
        av_dict_set(&s.format->metadata, key.c_str(), value.c_str(), 0);

    s.frame = av_frame_alloc();
    s.rgb = av_frame_alloc();
    s.packet = av_packet_alloc();
    if (!s.frame || !s.rgb || !s.packet) return fail("out of memory", AVERROR(ENOMEM));
    if (!s.planar) {
        s.rgb->format = input;
        s.rgb->width = o.width;
        s.rgb->height = o.height;
        r = av_frame_get_buffer(s.rgb, 0);
        if (r < 0) return fail("out of memory", r);
    }
    s.frame->format = c->pix_fmt;
    s.frame->width = c->width;
    s.frame->height = c->height;
    r = av_frame_get_buffer(s.frame, 0);
    if (r < 0) return fail("out of memory", r);

    if (!s.planar) {
        s.sws = sws_getContext(o.width, o.height, input, o.width, o.height, AV_PIX_FMT_YUV420P,
                               SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!s.sws) return fail("cannot set up the colour conversion", 0);
    }

    if (o.fd >= 0) {
        constexpr int kBuffer = 64 * 1024;
        auto* buffer = static_cast<unsigned char*>(av_malloc(kBuffer));
        s.format->pb =
            buffer ? avio_alloc_context(buffer, kBuffer, 1, reinterpret_cast<void*>(intptr_t(o.fd)),
                                        nullptr, writeToFd, seekFd)
                   : nullptr;
        if (!s.format->pb) {
            av_free(buffer);
            return fail("out of memory", AVERROR(ENOMEM));
        }
        s.ownFile = false;
    } else {
        r = avio_open(&s.format->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (r < 0) return fail("cannot create " + path, r);
    }
    s.fileOpen = true;

    AVDictionary* muxOptions = nullptr;
    if (o.fragmented) {
        s.fragmented = true;
        av_dict_set(&muxOptions, "movflags", "+frag_keyframe+empty_moov+default_base_moof", 0);
        // The length limit is kept by drain(), not by the muxer's own
        // frag_duration: that one closes a piece only once a frame starts
        // the limit or more after it began, so with 30 fps and 100 ms each
        // piece held four frames (133 ms) and reached the file a frame later still.
        if (o.fragmentDuration_us > 0) {
            s.pieceLimit = std::max<int64_t>(
                1, av_rescale_q(o.fragmentDuration_us, AVRational{1, 1000000}, c->time_base));
        }
        s.format->flags |= AVFMT_FLAG_FLUSH_PACKETS;  // each piece reaches the disk at once
    } else if (o.indexFirst) {
        av_dict_set(&muxOptions, "movflags", "+faststart", 0);
    }
    r = avformat_write_header(s.format, &muxOptions);
    av_dict_free(&muxOptions);
    if (r < 0) return fail("cannot write the MP4 header", r);
    avio_flush(s.format->pb);
    if (s.format->pb->error < 0) return fail("cannot write the MP4 header", s.format->pb->error);
    completeBytes_ = avio_tell(s.format->pb);
    s.headerWritten = true;
    return true;
}

bool VideoEncoder::drain(bool flush) {
    State& s = *s_;
    while (true) {
        int r = avcodec_receive_packet(s.codec, s.packet);
        if (r == AVERROR(EAGAIN) || (flush && r == AVERROR_EOF)) return true;
        if (r < 0) return fail("encoding failed", r);
        if (s.packet->duration <= 0) s.packet->duration = s.frameDuration;
        const int64_t at = s.packet->dts != AV_NOPTS_VALUE ? s.packet->dts : s.packet->pts;
        const int64_t duration = s.packet->duration;
        // Each key frame begins a piece (the muxer would cut there itself;
        // cut here, every piece is counted), and so does a frame that would
        // make the open piece too long (one after a gap).
        if (s.fragmented && s.pieceStart >= 0 &&
            ((s.packet->flags & AV_PKT_FLAG_KEY) ||
             (s.pieceLimit > 0 && at + duration - s.pieceStart > s.pieceLimit)) &&
            !cutPiece()) {
            return false;
        }
        if (s.pieceStart < 0) s.pieceStart = at;
        av_packet_rescale_ts(s.packet, s.codec->time_base, s.stream->time_base);
        s.packet->stream_index = s.stream->index;
        r = av_interleaved_write_frame(s.format, s.packet);  // takes the packet's data
        if (r < 0) return fail("writing the video failed", r);
        if (s.format->pb && s.format->pb->error < 0) {
            return fail("writing the video failed", s.format->pb->error);
        }
        ++s.pieceFrames;
        // The piece goes to the file as soon as another frame of this length
        // would not fit, not when that frame comes: at most pieceLimit of
        // encoded frames are ever only in memory.
        if (s.pieceLimit > 0 && at + 2 * duration - s.pieceStart > s.pieceLimit && !cutPiece())
            return false;
    }
}

bool VideoEncoder::cutPiece() {
    State& s = *s_;
    s.pieceStart = -1;
    if (s.pieceFrames == 0) return true;
    // A null packet makes the MP4 muxer write out the open piece.
    const int r = av_write_frame(s.format, nullptr);
    if (r < 0) return fail("writing the video failed", r);
    avio_flush(s.format->pb);
    if (s.format->pb->error < 0) return fail("writing the video failed", s.format->pb->error);
    // Only now are the piece's frames in the file.
    framesInFile_ += s.pieceFrames;
    s.pieceFrames = 0;
    completeBytes_ = avio_tell(s.format->pb);
    return true;
}

bool VideoEncoder::writeFrame(const uint8_t* rgb, size_t bytesPerLine) {
    if (!s_ || !s_->headerWritten || !error_.empty()) return fail("the encoder is not open", 0);
    if (s_->timed) return fail("this file takes frames with their times", 0);
    return encode(rgb, bytesPerLine, frames_);
}

bool VideoEncoder::writeFrameAt(const uint8_t* pixels, size_t bytesPerLine, int64_t time_us) {
    if (!s_ || !s_->headerWritten || !error_.empty()) return fail("the encoder is not open", 0);
    if (!s_->timed) return fail("this file takes frames at a constant rate", 0);
    if (time_us < 0 || time_us <= s_->lastPts) return fail("frame times must rise", 0);
    return encode(pixels, bytesPerLine, time_us);
}

bool VideoEncoder::encode(const uint8_t* pixels, size_t bytesPerLine, int64_t pts) {
    State& s = *s_;
    int r = av_frame_make_writable(s.frame);
    if (r < 0) return fail("out of memory", r);
    if (s.planar) {
        const size_t chromaStride = bytesPerLine / 2;
        const uint8_t* u = pixels + bytesPerLine * size_t(s.height);
        const uint8_t* v = u + chromaStride * size_t(s.height / 2);
        av_image_copy_plane(s.frame->data[0], s.frame->linesize[0], pixels, int(bytesPerLine),
                            s.width, s.height);
        av_image_copy_plane(s.frame->data[1], s.frame->linesize[1], u, int(chromaStride),
                            s.width / 2, s.height / 2);
        av_image_copy_plane(s.frame->data[2], s.frame->linesize[2], v, int(chromaStride),
                            s.width / 2, s.height / 2);
        return submit(pts);
    }
    // The converter's vector code reads beyond the last pixel of a row (and
    // so of the image); only FFmpeg's own padded buffers allow that.
    av_image_copy_plane(s.rgb->data[0], s.rgb->linesize[0], pixels, int(bytesPerLine),
                        s.width * s.bytesPerPixel, s.height);
    sws_scale(s.sws, s.rgb->data, s.rgb->linesize, 0, s.height, s.frame->data, s.frame->linesize);
    return submit(pts);
}

bool VideoEncoder::submit(int64_t pts) {
    State& s = *s_;
    s.frame->pts = pts;
    s.lastPts = pts;
    const int r = avcodec_send_frame(s.codec, s.frame);
    if (r < 0) return fail("encoding failed", r);
    ++frames_;
    return drain(false);
}

bool VideoEncoder::finish() {
    if (!s_ || !s_->headerWritten || !error_.empty()) {
        abort();
        return fail(error_.empty() ? "the encoder is not open" : error_, 0);
    }
    State& s = *s_;
    int r = avcodec_send_frame(s.codec, nullptr);
    bool ok = r >= 0 ? drain(true) : fail("encoding failed", r);
    // The last piece on its own, so a failure of the closing index leaves
    // every frame's piece whole.
    if (ok && s.fragmented) ok = cutPiece();
    if (ok) {
        // With faststart this also rewrites the file with the index first.
        r = av_write_trailer(s.format);
        if (r < 0) ok = fail("finishing the MP4 failed", r);
    }
    if (ok && s.format->pb->error < 0) ok = fail("writing the video failed", s.format->pb->error);
    if (s.ownFile) {
        r = avio_closep(&s.format->pb);
    } else {
        avio_flush(s.format->pb);
        r = s.format->pb->error;
        closeOutput(s.format->pb, false);
    }
    s.fileOpen = false;
    if (ok && r < 0) ok = fail("closing the video failed", r);
    if (ok) framesInFile_ = frames_;
    s_.reset();
    return ok;
}

void VideoEncoder::abort() {
    s_.reset();
}

}  // namespace korvane
