#include "EventFrameRenderer.h"

#include <algorithm>

#include "korvane/video/EventPainter.h"

using korvane::Event2D;

EventFrameRenderer::EventFrameRenderer(FrameSink sink, ThemeSource theme)
    : sink_(std::move(sink)), theme_(std::move(theme)) {
    setImageSize(1280, 720);
    renderThread_ = std::thread([this] { renderLoop(); });
}

EventFrameRenderer::~EventFrameRenderer() {
    {
        std::lock_guard<std::mutex> lock(renderMutex_);
        renderingEnabled_ = false;
    }
    frameReady_.notify_all();
    if (renderThread_.joinable()) renderThread_.join();
}

void EventFrameRenderer::setImageSize(int width, int height) {
    std::lock_guard<std::mutex> front(frontMutex_);
    std::lock_guard<std::mutex> render(renderMutex_);
    width_ = std::max(0, width);
    height_ = std::max(0, height);
    const size_t cells = size_t(width_) * size_t(height_);
    bufferA_.assign(cells, 0);
    bufferB_.assign(cells, 0);
    eventImage_ = QImage(width_, height_, QImage::Format_RGB888);
    eventImage_.fill(theme().background);
    ++sizeGeneration_;
}

void EventFrameRenderer::setThemeSource(ThemeSource theme) {
    std::lock_guard<std::mutex> lock(themeMutex_);
    theme_ = std::move(theme);
}

ThemeColors EventFrameRenderer::theme() const {
    std::lock_guard<std::mutex> lock(themeMutex_);
    return theme_ ? theme_() : ThemeColors{};
}

void EventFrameRenderer::accumulateEvents(const Event2D* first, const Event2D* last) {
    accumulateEvents(first, last, 0, true);
}

void EventFrameRenderer::accumulateEvents(const Event2D* first, const Event2D* last,
                                          uint32_t mirrorWidth, bool firstPiece) {
    if (first == last) return;
    std::lock_guard<std::mutex> lock(frontMutex_);
    korvane::countEventsPacked(first, last, width_, height_, front_->data(), mirrorWidth);
    if (firstPiece) latestBatchTime_.store(first->timestamp);
}

void EventFrameRenderer::requestFrame() {
    std::lock_guard<std::mutex> front(frontMutex_);
    std::lock_guard<std::mutex> render(renderMutex_);
    std::swap(front_, back_);
    pending_ = true;
    ++requested_;
    frameReady_.notify_one();
    std::fill(front_->begin(), front_->end(), uint8_t(0));
}

std::vector<uint16_t> EventFrameRenderer::frontCounts() const {
    std::lock_guard<std::mutex> lock(frontMutex_);
    std::vector<uint16_t> counts(front_->size() * 2);
    for (size_t i = 0; i < front_->size(); ++i) {
        counts[2 * i] = korvane::packedOff((*front_)[i]);
        counts[2 * i + 1] = korvane::packedOn((*front_)[i]);
    }
    return counts;
}

bool EventFrameRenderer::idle() const {
    std::lock_guard<std::mutex> lock(renderMutex_);
    return !pending_ && handedOut_ == requested_;
}

QImage EventFrameRenderer::eventImage() const {
    std::lock_guard<std::mutex> lock(renderMutex_);
    return eventImage_;
}

korvane::PaintTheme toPaintTheme(const ThemeColors& theme) {
    const auto c = [](const QColor& q) {
        return korvane::PaintColor{uint8_t(q.red()), uint8_t(q.green()), uint8_t(q.blue())};
    };
    return {c(theme.on), c(theme.off), c(theme.background)};
}

void EventFrameRenderer::paint(const uint16_t* counts, int width, int height,
                               const ThemeColors& theme, uchar* rgb, qsizetype bytesPerLine) {
    korvane::paintCounts(counts, width, height, toPaintTheme(theme), rgb, size_t(bytesPerLine));
}

void EventFrameRenderer::renderLoop() {
    // Qt's reference count orders an image's last release after the image
    // was made, but inside Qt, where ThreadSanitizer cannot see it; passing
    // the holder through this lock (once per image, never contended for
    // long) makes the hand-over visible, so real races are not drowned out.
    static std::mutex handOver;
    const auto release = [](void* p) {
        { std::lock_guard<std::mutex> seen(handOver); }
        delete static_cast<std::shared_ptr<std::vector<uchar>>*>(p);
    };
    // The painter's own counters: the waiting ones are swapped in under the
    // lock, so the producer's two buffers are never read while painting.
    std::vector<uint8_t> painting;
    std::unique_lock<std::mutex> lock(renderMutex_);
    while (true) {
        frameReady_.wait(lock, [this] { return pending_ || !renderingEnabled_; });
        if (!renderingEnabled_) break;
        pending_ = false;
        const uint64_t request = requested_;
        const int width = width_, height = height_;
        const uint64_t generation = sizeGeneration_;
        // The buffer given back must fit the current size; its contents do not
        // matter (the next request clears it before it is filled).
        painting.resize(back_->size());
        painting.swap(*back_);
        lock.unlock();

        // Paint into a pooled buffer that no receiver holds any more; the image
        // hands it back to the pool when its last copy goes.
        const qsizetype bytesPerLine = qsizetype(width) * 3;
        auto buffer = imagePool_.acquire();
        buffer->resize(size_t(bytesPerLine) * size_t(height));
        korvane::paintPacked(painting.data(), width, height, toPaintTheme(theme()), buffer->data(),
                             size_t(bytesPerLine));
        std::shared_ptr<std::vector<uchar>>* holder;
        {
            std::lock_guard<std::mutex> seen(handOver);
            holder = new std::shared_ptr<std::vector<uchar>>(std::move(buffer));
        }
        QImage image((*holder)->data(), width, height, bytesPerLine, QImage::Format_RGB888, release,
                     holder);

        lock.lock();
        if (generation != sizeGeneration_) {  // painted for a size now gone
            handedOut_ = request;
            continue;
        }
        eventImage_ = image;
        lock.unlock();
        if (sink_) sink_(image);
        lock.lock();
        handedOut_ = request;
    }
}
