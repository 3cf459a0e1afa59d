#pragma once

// Reads an MP4 back with FFmpeg's libraries, for the export tests: stream
// facts, container tags, top-level box order and decoded RGB frames; and the
// recording with a silent stretch that those tests export.

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "DvsFileInfo.h"
#include "Utils/FuncUtils.h"
#include "korvane/file/RawWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace kvtest {

struct VideoFacts {
    bool opened = false;
    std::string codec;
    int width = 0;
    int height = 0;
    AVRational frameRate{0, 1};
    double duration_s = 0;
    int64_t packets = 0;
    std::map<std::string, std::string> tags;
    std::vector<std::vector<uint8_t>> frames;  // RGB888, width * 3 per row
};

inline VideoFacts readVideo(const std::string& path, bool decode) {
    VideoFacts f;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return f;
    if (avformat_find_stream_info(fmt, nullptr) < 0 || fmt->nb_streams != 1) {
        avformat_close_input(&fmt);
        return f;
    }
    f.opened = true;
    AVStream* st = fmt->streams[0];
    const AVCodec* dec = avcodec_find_decoder(st->codecpar->codec_id);
    f.codec = dec ? dec->name : "";
    f.width = st->codecpar->width;
    f.height = st->codecpar->height;
    f.frameRate = st->avg_frame_rate;
    if (st->duration > 0) f.duration_s = double(st->duration) * av_q2d(st->time_base);
    const AVDictionaryEntry* e = nullptr;
    while ((e = av_dict_get(fmt->metadata, "", e, AV_DICT_IGNORE_SUFFIX)))
        f.tags[e->key] = e->value;

    AVCodecContext* ctx = avcodec_alloc_context3(dec);
    avcodec_parameters_to_context(ctx, st->codecpar);
    avcodec_open2(ctx, dec, nullptr);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* sws = nullptr;
    auto take = [&] {
        while (avcodec_receive_frame(ctx, frame) == 0) {
            if (!decode) continue;
            sws = sws_getCachedContext(sws, frame->width, frame->height,
                                       AVPixelFormat(frame->format), frame->width, frame->height,
                                       AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
            std::vector<uint8_t> rgb(size_t(frame->width) * frame->height * 3);
            uint8_t* dst[1] = {rgb.data()};
            const int stride[1] = {frame->width * 3};
            sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
            f.frames.push_back(std::move(rgb));
        }
    };
    while (av_read_frame(fmt, pkt) >= 0) {
        ++f.packets;
        avcodec_send_packet(ctx, pkt);
        av_packet_unref(pkt);
        take();
    }
    avcodec_send_packet(ctx, nullptr);
    take();
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    avformat_close_input(&fmt);
    return f;
}

// The four-letter types of the file's top-level boxes, in order.
inline std::vector<std::string> topLevelBoxes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> boxes;
    while (in) {
        unsigned char head[8];
        if (!in.read(reinterpret_cast<char*>(head), 8)) break;
        uint64_t size = (uint64_t(head[0]) << 24) | (head[1] << 16) | (head[2] << 8) | head[3];
        boxes.emplace_back(reinterpret_cast<char*>(head + 4), 4);
        uint64_t header = 8;
        if (size == 1) {
            unsigned char big[8];
            if (!in.read(reinterpret_cast<char*>(big), 8)) break;
            size = 0;
            for (unsigned char b : big)
                size = (size << 8) | b;
            header = 16;
        }
        if (size == 0) break;  // to the end of the file
        in.seekg(std::streamoff(size - header), std::ios::cur);
    }
    return boxes;
}

// Two bursts with a silent half second between them: an event every step_us
// in [0, 100 ms) and in [600 ms, 700 ms), serial GAP1. False when it cannot
// be written.
inline bool writeGapRecording(const std::string& path, uint64_t step_us) {
    korvane::DvsFileInfo info;
    info.serialNumber = "GAP1";
    korvane::RawWriter writer;
    if (!writer.open(path, korvane::generateDvsFileHeader(info))) return false;
    std::vector<korvane::Event2D> ev;
    for (uint64_t t = 0; t < 100000; t += step_us)
        ev.push_back({uint16_t(t % 1280), uint16_t(t % 720), 1, t});
    for (uint64_t t = 600000; t < 700000; t += step_us)
        ev.push_back({uint16_t(t % 1280), uint16_t(t % 720), 0, t});
    writer.writeEvents(ev.data(), ev.size());
    return writer.close();
}

}  // namespace kvtest
