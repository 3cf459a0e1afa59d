#pragma once

// The rendering core: producers count events per pixel and polarity into a
// front buffer; requestFrame() hands it to a render thread that paints a
// 1280 x 720 RGB888 image in the theme colours and passes it to the sink.
//
// Threads: accumulateEvents() and requestFrame() may be called from any
// producer thread (they exclude each other); the sink runs on the render
// thread. At most one frame waits to be painted: a newer request replaces
// an unpainted one. Images are painted into pooled buffers, so a steady
// stream of frames allocates nothing; a receiver may keep an image as long
// as it likes.
//
// Locks, always taken in this order: frontMutex_ (accumulation and swap),
// then renderMutex_ (buffer pointers, pending flag, size, last image). The
// render thread takes only renderMutex_, and only to take the waiting
// counters and to store the finished image: it paints and calls the sink
// with no lock held, so a producer never waits for a paint.

#include <QImage>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "KvObjectPool.h"
#include "KvRecords.h"
#include "ThemeColors.h"

namespace korvane {
struct PaintTheme;
}

// The theme's colours as the event painter takes them.
korvane::PaintTheme toPaintTheme(const ThemeColors& theme);

class EventFrameRenderer {
public:
    using FrameSink = std::function<void(const QImage&)>;
    using ThemeSource = ::ThemeSource;

    // Without a theme source the default colours are used.
    EventFrameRenderer(FrameSink sink, ThemeSource theme = {});
    ~EventFrameRenderer();
    EventFrameRenderer(const EventFrameRenderer&) = delete;
    EventFrameRenderer& operator=(const EventFrameRenderer&) = delete;

    void setImageSize(int width, int height);
    // Any thread; the next painted frame uses it.
    void setThemeSource(ThemeSource theme);
    ThemeColors theme() const;
    void accumulateEvents(const korvane::Event2D* first, const korvane::Event2D* last);
    // The same for a piece of a batch handed over in pieces: columns below
    // mirrorWidth (> 0) are turned as korvane::countEvents turns them, and
    // only the batch's first piece sets the latest batch time.
    void accumulateEvents(const korvane::Event2D* first, const korvane::Event2D* last,
                          uint32_t mirrorWidth, bool firstPiece);
    void requestFrame();

    uint64_t latestBatchTime() const { return latestBatchTime_.load(); }
    int width() const { return width_; }
    int height() const { return height_; }

    // Copy of the front counters (OFF, ON per pixel), for tests.
    std::vector<uint16_t> frontCounts() const;
    // The last painted image (background only before the first frame).
    QImage eventImage() const;
    // True when every requested frame has been painted and handed to the
    // sink (or replaced by a newer one): what a caller sees next is new.
    bool idle() const;

    // Paints counters (OFF, ON per pixel) into RGB888 rows: the majority
    // polarity, ties to ON, background where both are zero.
    static void paint(const uint16_t* counts, int width, int height, const ThemeColors& theme,
                      uchar* rgb, qsizetype bytesPerLine);

private:
    void renderLoop();

    FrameSink sink_;
    mutable std::mutex themeMutex_;  // taken alone, around theme_ only
    ThemeSource theme_;
    int width_ = 0;
    int height_ = 0;
    // Counters packed one byte a pixel (korvane::countEventsPacked): a
    // dense window's increments then mostly hit the cache.
    std::vector<uint8_t> bufferA_, bufferB_;
    std::vector<uint8_t>* front_ = &bufferA_;
    std::vector<uint8_t>* back_ = &bufferB_;  // counters waiting for the painter
    uint64_t sizeGeneration_ = 0;             // bumped by setImageSize
    std::atomic<uint64_t> latestBatchTime_{0};
    QImage eventImage_;

    mutable std::mutex frontMutex_;   // accumulation vs. swap
    mutable std::mutex renderMutex_;  // buffer pointers, pending flag, image
    std::condition_variable frameReady_;
    bool pending_ = false;
    uint64_t requested_ = 0;  // frames asked for
    uint64_t handedOut_ = 0;  // the last of them painted and given to the sink
    bool renderingEnabled_ = true;
    korvane::KvObjectPoolWrapper<std::vector<uchar>> imagePool_{0};
    std::thread renderThread_;
};
