#include <condition_variable>
#include <mutex>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "AppConfig.h"
#include "AppTestMain.h"
#include "EventFrameRenderer.h"
#include "korvane/video/EventPainter.h"

using korvane::Event2D;

namespace {

// Collects the frames the render thread hands out.
class Frames {
public:
    void add(const QImage& image) {
        std::lock_guard<std::mutex> lock(m_);
        images_.push_back(image);
        cv_.notify_all();
    }
    QImage waitFor(size_t n) {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait_for(lock, std::chrono::seconds(20), [&] { return images_.size() >= n; });
        return images_.size() >= n ? images_[n - 1] : QImage();
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(m_);
        return images_.size();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<QImage> images_;
};

const ThemeColors kGray{QColor(191, 188, 180), QColor(64, 61, 51), QColor(112, 112, 112)};
const ThemeColors kDark{QColor(216, 223, 236), QColor(64, 126, 201), QColor(30, 37, 52)};

std::vector<Event2D> repeat(uint16_t x, uint16_t y, int off, int on) {
    std::vector<Event2D> ev;
    for (int i = 0; i < off; ++i)
        ev.emplace_back(x, y, 0, 100 + i);
    for (int i = 0; i < on; ++i)
        ev.emplace_back(x, y, 1, 200 + i);
    return ev;
}

QColor at(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

}  // namespace

class RendererTest : public QObject {
    Q_OBJECT

private slots:
    // Per pixel the majority wins (ties go to ON) and each counter stops at
    // 10; events off the grid are dropped, never wrapped onto it; an empty
    // batch changes nothing; after the paint the front counters are clean.
    void majorityTiesSaturationAndOffGridEvents() {
        Frames frames;
        EventFrameRenderer r([&](const QImage& i) { frames.add(i); }, [] { return kGray; });
        std::vector<Event2D> ev{{1280, 0, 1, 5}, {0, 720, 1, 6}, {2047, 2047, 0, 7}};
        for (auto part : {repeat(10, 10, 3, 3), repeat(11, 10, 4, 3), repeat(12, 10, 0, 1),
                          repeat(13, 10, 12, 25), repeat(14, 10, 1, 0)}) {
            ev.insert(ev.end(), part.begin(), part.end());
        }
        r.accumulateEvents(ev.data(), ev.data() + ev.size());
        r.accumulateEvents(ev.data(), ev.data());
        QCOMPARE(r.latestBatchTime(), uint64_t(5));
        std::vector<uint16_t> counts = r.frontCounts();
        QCOMPARE(counts[(10 * 1280 + 13) * 2], uint16_t(10));
        QCOMPARE(counts[(10 * 1280 + 13) * 2 + 1], uint16_t(10));
        QCOMPARE(std::accumulate(counts.begin(), counts.end(), 0), 3 + 3 + 4 + 3 + 1 + 10 + 10 + 1);
        r.requestFrame();
        QImage img = frames.waitFor(1);
        QCOMPARE(img.format(), QImage::Format_RGB888);
        QImage expected(1280, 720, QImage::Format_RGB888);
        expected.fill(kGray.background);
        expected.setPixelColor(10, 10, kGray.on);   // 3 OFF, 3 ON: tie goes to ON
        expected.setPixelColor(11, 10, kGray.off);  // 4 OFF, 3 ON
        expected.setPixelColor(12, 10, kGray.on);   // 0 OFF, 1 ON
        expected.setPixelColor(13, 10, kGray.on);   // 12 OFF, 25 ON: both stop at 10
        expected.setPixelColor(14, 10, kGray.off);  // 1 OFF, 0 ON
        QCOMPARE(img, expected);
        for (uint16_t c : r.frontCounts())
            QCOMPARE(c, uint16_t(0));
    }

    void themeChangeTakesEffectNextFrameAndKeptFramesStay() {
        Frames frames;
        std::mutex m;
        ThemeColors theme = kGray;
        EventFrameRenderer r([&](const QImage& i) { frames.add(i); },
                             [&] {
                                 std::lock_guard<std::mutex> lock(m);
                                 return theme;
                             });
        auto ev = repeat(100, 200, 0, 2);
        r.accumulateEvents(ev.data(), ev.data() + ev.size());
        r.requestFrame();
        QImage first = frames.waitFor(1);
        QCOMPARE(at(first, 100, 200), kGray.on);
        {
            std::lock_guard<std::mutex> lock(m);
            theme = kDark;
        }
        for (int i = 0; i < 5; ++i) {
            r.accumulateEvents(ev.data(), ev.data() + ev.size());
            r.requestFrame();
            frames.waitFor(size_t(2 + i));
        }
        QImage later = frames.waitFor(6);
        QCOMPARE(at(later, 0, 0), kDark.background);
        QCOMPARE(at(later, 100, 200), kDark.on);
        // A frame a receiver kept is never painted over by later frames.
        QCOMPARE(at(first, 0, 0), kGray.background);
        QCOMPARE(at(first, 100, 200), kGray.on);
    }

    // A request while the painter is busy is painted afterwards (latest wins), never lost.
    void lastRequestIsAlwaysPainted() {
        Frames frames;
        EventFrameRenderer r([&](const QImage& i) { frames.add(i); }, [] { return kGray; });
        for (int i = 0; i < 200; ++i) {
            auto ev = repeat(uint16_t(i), 5, 0, 1);
            r.accumulateEvents(ev.data(), ev.data() + ev.size());
            r.requestFrame();
        }
        auto last = repeat(700, 300, 1, 0);
        r.accumulateEvents(last.data(), last.data() + last.size());
        r.requestFrame();
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QImage img = r.eventImage();
                return !img.isNull() && img.pixelColor(700, 300) == kGray.off;
            }(),
            5000);
        QVERIFY(frames.count() >= 1);
    }

    // A producer asking for a frame while the render thread paints must not
    // wait for the paint; the frame it asked for is painted afterwards.
    void requestDuringAPaintDoesNotWaitForIt() {
        std::mutex m;
        std::condition_variable cv;
        bool painting = false, release = false, returned = false;
        int themeCalls = 0;
        Frames frames;
        EventFrameRenderer r([&](const QImage& i) { frames.add(i); },
                             [&] {
                                 std::unique_lock<std::mutex> lock(m);
                                 if (++themeCalls == 2) {  // the first paint (1 is the set-up)
                                     painting = true;
                                     cv.notify_all();
                                     cv.wait(lock, [&] { return release; });
                                 }
                                 return kGray;
                             });
        r.requestFrame();
        {
            std::unique_lock<std::mutex> lock(m);
            QVERIFY(cv.wait_for(lock, std::chrono::seconds(10), [&] { return painting; }));
        }
        std::thread producer([&] {
            auto ev = repeat(40, 30, 0, 2);
            r.accumulateEvents(ev.data(), ev.data() + ev.size());
            r.requestFrame();
            std::lock_guard<std::mutex> lock(m);
            returned = true;
            cv.notify_all();
        });
        bool returnedWhilePainting = false;
        {
            std::unique_lock<std::mutex> lock(m);
            returnedWhilePainting =
                cv.wait_for(lock, std::chrono::seconds(5), [&] { return returned; });
            release = true;
            cv.notify_all();
        }
        producer.join();
        QVERIFY(returnedWhilePainting);
        const QImage second = frames.waitFor(2);
        QVERIFY(!second.isNull());
        QCOMPARE(at(second, 40, 30), kGray.on);
        QCOMPARE(at(frames.waitFor(1), 40, 30), kGray.background);
    }

    // A dense random window, handed over in pieces, against the counting
    // rule written out with plain 16-bit counters: the same counters and
    // the same picture, mirrored or not.
    void denseRandomWindowMatchesTheCountingRule() {
        std::mt19937 rng(25);
        std::vector<Event2D> ev;
        for (int i = 0; i < 3000000; ++i) {
            // Most events on a few thousand busy pixels, some off the grid.
            const bool busy = rng() % 4 != 0;
            const uint16_t x = uint16_t(busy ? 600 + rng() % 64 : rng() % 1400);
            const uint16_t y = uint16_t(busy ? 300 + rng() % 48 : rng() % 760);
            ev.emplace_back(x, y, uint8_t(rng() % 2), uint64_t(i));
        }
        for (const uint32_t mirror : {0u, 1280u, 700u}) {
            Frames frames;
            EventFrameRenderer r([&](const QImage& i) { frames.add(i); }, [] { return kDark; });
            for (size_t at = 0; at < ev.size(); at += 77777) {
                const size_t end = std::min(ev.size(), at + 77777);
                r.accumulateEvents(ev.data() + at, ev.data() + end, mirror, at == 0);
            }
            QCOMPARE(r.latestBatchTime(), uint64_t(0));
            std::vector<uint16_t> counts(1280 * 720 * 2, 0);
            korvane::countEvents(ev.data(), ev.data() + ev.size(), 1280, 720, counts.data(),
                                 mirror);
            QVERIFY(r.frontCounts() == counts);
            r.requestFrame();
            QImage expected(1280, 720, QImage::Format_RGB888);
            EventFrameRenderer::paint(counts.data(), 1280, 720, kDark, expected.bits(),
                                      expected.bytesPerLine());
            QCOMPARE(frames.waitFor(1), expected);
        }
    }

    void paintMatchesThePixelRule() {
        // Every (off, on) pair of saturated counters against the rule, written out.
        const int w = 11 * 11, h = 1;
        std::vector<uint16_t> counts(size_t(w) * 2);
        for (int off = 0; off <= 10; ++off)
            for (int on = 0; on <= 10; ++on) {
                counts[size_t(off * 11 + on) * 2] = uint16_t(off);
                counts[size_t(off * 11 + on) * 2 + 1] = uint16_t(on);
            }
        QImage img(w, h, QImage::Format_RGB888);
        EventFrameRenderer::paint(counts.data(), w, h, kDark, img.bits(), img.bytesPerLine());
        for (int off = 0; off <= 10; ++off)
            for (int on = 0; on <= 10; ++on) {
                QColor want = (on > 0 && on >= off)   ? kDark.on
                              : (off > 0 && off > on) ? kDark.off
                                                      : kDark.background;
                QCOMPARE(img.pixelColor(off * 11 + on, 0), want);
            }
    }
};

VELQORA_TEST_MAIN(RendererTest)
#include "test_renderer.moc"
