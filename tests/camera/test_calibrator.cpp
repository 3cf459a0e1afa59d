#include <gtest/gtest.h>

#include <unistd.h>
#include <atomic>
#include <filesystem>
#include <thread>

#include "../TestPlatform.h"
#include "Calibrator.h"
#include "Utils/JsonUtils.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

const uint8_t* pixel(const ApsFrame& f, int x, int y) {
    return f.data() + (size_t(y) * f.width() + x) * 3;
}

bool isBlack(const ApsFrame& f, int x, int y) {
    const uint8_t* p = pixel(f, x, y);
    return p[0] == 0 && p[1] == 0 && p[2] == 0;
}

// Every pixel carries its own column (low 16 bits) and row (low 8 bits) so
// a test can tell which source pixel a result pixel came from.
ApsFrame coordinateFrame(int w, int h) {
    ApsFrame f(w, h, 7, 123456);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = f.data() + (size_t(y) * w + x) * 3;
            p[0] = uint8_t(x & 0xFF);
            p[1] = uint8_t(x >> 8) | 0x80;  // never all black
            p[2] = uint8_t(y & 0xFF);
        }
    return f;
}

int sourceColumn(const ApsFrame& f, int x, int y) {
    const uint8_t* p = pixel(f, x, y);
    return p[0] | ((p[1] & 0x7F) << 8);
}

}  // namespace

// The default calibration maps the centres onto each other both ways.
TEST(CalibratorTest, EventsMoveIntoFrameGridAndWrapBelowZero) {
    Calibrator c;
    ASSERT_EQ(c.forwardAffine().size(), 6u);
    ASSERT_EQ(c.inverseAffine().size(), 6u);
    EXPECT_DOUBLE_EQ(c.inverseAffine()[0], 0.29835390946502055);
    EXPECT_NEAR(c.inverseAffine()[2], 67.16049382716051, 1e-9);
    EXPECT_NEAR(c.inverseAffine()[5], 37.77777777777783, 1e-9);
    std::vector<Event2D> ev{{640, 360, 1, 5}, {0, 0, 0, 6}};
    c.mapDvsToAps(ev.data(), ev.data() + ev.size());
    EXPECT_EQ(ev[0].x, 1920);
    EXPECT_EQ(ev[0].y, 1080);
    EXPECT_EQ(ev[1].x, 65311);  // -225.1 truncates to -225, which wraps
    EXPECT_EQ(ev[1].y, uint16_t(-126));
    EXPECT_EQ(ev[0].timestamp, 5u);
    EXPECT_EQ(ev[1].polarity, 0);
}

TEST(CalibratorTest, FrameResampledWithBlackBordersOutsideTheSource) {
    Calibrator c;
    ApsFrame src(3840, 2160, 42, 999);
    std::fill(src.data(), src.data() + src.getDataSize(), uint8_t(200));
    uint8_t* red = src.data() + (size_t(1080) * 3840 + 1920) * 3;
    red[0] = 0;
    red[1] = 0;
    red[2] = 255;
    ApsFrame out = c.mapApsToDvs(src);
    ASSERT_EQ(out.width(), 1280);
    ASSERT_EQ(out.height(), 720);
    EXPECT_EQ(out.frameTag, 42u);
    EXPECT_EQ(out.timestamp, 999u);
    const uint8_t* p = pixel(out, 640, 360);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ(p[2], 255);
    for (int y = 0; y < 720; y += 7) {
        EXPECT_TRUE(isBlack(out, 66, y)) << y;
        EXPECT_TRUE(isBlack(out, 1213, y)) << y;
    }
    for (int x = 0; x < 1280; x += 7) {
        EXPECT_TRUE(isBlack(out, x, 37)) << x;
        EXPECT_TRUE(isBlack(out, x, 683)) << x;
    }
    // The first and last columns and rows inside the source are not black.
    EXPECT_FALSE(isBlack(out, 67, 360));
    EXPECT_FALSE(isBlack(out, 1212, 360));
    EXPECT_FALSE(isBlack(out, 640, 38));
    EXPECT_FALSE(isBlack(out, 640, 682));
    EXPECT_TRUE(isBlack(out, 0, 0));
    EXPECT_TRUE(isBlack(out, 1279, 719));
}

TEST(CalibratorTest, ManualOffsetShiftsSourceAndIsFoldedOnSave) {
    TempDir dir;
    Calibrator c;
    const ApsFrame src = coordinateFrame(3840, 2160);
    const ApsFrame before = c.mapApsToDvs(src);
    c.adjustAffineTranslation(10, 0);
    c.adjustAffineTranslation(10, 0);  // absolute, not added up
    const ApsFrame shifted = c.mapApsToDvs(src);
    for (int x : {100, 640, 1000})
        EXPECT_EQ(sourceColumn(shifted, x, 360), sourceColumn(before, x, 360) + 10) << x;

    const std::string path = (dir.path / "calib.json").string();
    ASSERT_TRUE(c.saveCalibrationParam(path));
    EXPECT_EQ(c.offsetX(), 0.0);
    EXPECT_EQ(c.offsetY(), 0.0);
    CalibratorParameters read;
    ASSERT_TRUE(jsonFileToParam(path, read));
    ASSERT_EQ(read.affineMatrices["1"].data.size(), 6u);
    EXPECT_DOUBLE_EQ(read.affineMatrices["1"].data[2], -225.10344827586232 + 10);
    EXPECT_DOUBLE_EQ(read.affineMatrices["1"].data[5], -126.62068965517255);
    // The stored inverse undoes the new forward transform.
    const auto& inv = read.affineMatrices["0"].data;
    ASSERT_EQ(inv.size(), 6u);
    const double fx = 1930.0, fy = 1080.0;  // image of 640, 360 after the shift
    EXPECT_NEAR(inv[0] * fx + inv[1] * fy + inv[2], 640.0, 1e-6);
    EXPECT_NEAR(inv[3] * fx + inv[4] * fy + inv[5], 360.0, 1e-6);
    // Folded in, the shift stays without the offset.
    const ApsFrame after = c.mapApsToDvs(src);
    EXPECT_EQ(sourceColumn(after, 640, 360), sourceColumn(shifted, 640, 360));

    // Loading the file back gives the same mapping and zero offsets.
    Calibrator d;
    d.adjustAffineTranslation(3, 3);
    EXPECT_TRUE(d.loadCalibrationParam(read));
    EXPECT_EQ(d.offsetX(), 0.0);
    EXPECT_EQ(sourceColumn(d.mapApsToDvs(src), 640, 360), sourceColumn(shifted, 640, 360));
}

TEST(CalibratorTest, TransformWithShearMapsEveryPixelThroughBothCoordinates) {
    // x' = y + 5, y' = x + 2: each result pixel x, y comes from source y + 5, x + 2.
    CalibratorParameters p;
    p.dvsWidth = 64;
    p.dvsHeight = 48;
    p.apsWidth = 60;
    p.apsHeight = 70;
    p.affineMatrices["1"] = {2, 3, 6, {0, 1, 5, 1, 0, 2}};
    Calibrator c;
    c.loadCalibrationParam(p);
    const ApsFrame src = coordinateFrame(60, 70);
    const ApsFrame out = c.mapApsToDvs(src);
    ASSERT_EQ(out.width(), 64);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            const int sx = y + 5, sy = x + 2;
            if (sx < 60 && sy < 70) {
                ASSERT_EQ(sourceColumn(out, x, y), sx) << x << "," << y;
                ASSERT_EQ(pixel(out, x, y)[2], sy) << x << "," << y;
            } else {
                ASSERT_TRUE(isBlack(out, x, y)) << x << "," << y;
            }
        }
}

// A singular matrix has no inverse: the output is left alone, and a save
// keeps the previous inverse (with its rows, cols and type) and still writes.
TEST(CalibratorTest, InverseOfSingularMatrixLeavesOutputAloneAndSaveKeepsThePreviousOne) {
    const double m[6] = {2, 0, 4, 0, 2, 6};
    double inv[6] = {};
    Calibrator::computeInverseAffine(m, inv);
    const double expected[6] = {0.5, 0, -2, 0, 0.5, -3};
    for (int i = 0; i < 6; ++i)
        EXPECT_DOUBLE_EQ(inv[i], expected[i]) << i;

    const double singular[6] = {1, 2, 3, 2, 4, 5};  // a*e - b*d = 0
    double out[6] = {9, 9, 9, 9, 9, 9};
    Calibrator::computeInverseAffine(singular, out);
    for (double v : out)
        EXPECT_EQ(v, 9);

    TempDir dir;
    CalibratorParameters p;
    p.affineMatrices["1"] = {2, 3, 6, {1, 2, 3, 2, 4, 5}};
    p.affineMatrices["0"] = {2, 3, 6, {7, 7, 7, 7, 7, 7}};
    Calibrator c;
    c.loadCalibrationParam(p);
    const std::string path = (dir.path / "s.json").string();
    EXPECT_TRUE(c.saveCalibrationParam(path));
    CalibratorParameters read;
    ASSERT_TRUE(jsonFileToParam(path, read));
    EXPECT_EQ(read.affineMatrices["0"].data, std::vector<double>(6, 7.0));
    EXPECT_EQ(read.affineMatrices["0"].type, 6);
}

TEST(CalibratorTest, MissingTransformsMapNothingAndSaveStillWrites) {
    TempDir dir;
    CalibratorParameters empty;
    Calibrator c;
    c.loadCalibrationParam(empty);
    EXPECT_TRUE(c.forwardAffine().empty());
    EXPECT_EQ(c.parameters().affineMatrices.count("1"), 1u);  // created empty
    std::vector<Event2D> ev{{10, 20, 1, 1}};
    c.mapDvsToAps(ev.data(), ev.data() + 1);
    EXPECT_EQ(ev[0].x, 10);
    EXPECT_EQ(ev[0].y, 20);
    ApsFrame out = c.mapApsToDvs(coordinateFrame(3840, 2160));
    EXPECT_EQ(std::count(out.data(), out.data() + out.getDataSize(), 0),
              int64_t(out.getDataSize()));
    c.adjustAffineTranslation(5, 5);
    EXPECT_TRUE(c.saveCalibrationParam((dir.path / "e.json").string()));
    EXPECT_EQ(c.offsetX(), 0.0);
    EXPECT_FALSE(c.saveCalibrationParam((dir.path / "no" / "such" / "dir.json").string()));
}

TEST(CalibratorTest, FrameSmallerThanCalibratedIsReadOnlyInsideItself) {
    // A 400 x 300 frame under the default 3840 x 2160 calibration: the
    // pixels whose source lies beyond the frame stay black, nothing is read
    // past its end (the sanitizer trees check the latter).
    Calibrator c;
    ApsFrame out = c.mapApsToDvs(coordinateFrame(400, 300));
    EXPECT_FALSE(isBlack(out, 70, 40));   // source about 9, 7
    EXPECT_TRUE(isBlack(out, 640, 360));  // source 1920, 1080
    EXPECT_TRUE(isBlack(out, 200, 40));   // source column 445 > 399
    EXPECT_EQ(sourceColumn(out, 70, 40), int(70 * Calibrator::kDefaultScale - 225.10344827586232));

    // A calibration file naming a 65535 x 65535 event grid: no frame of
    // that size can exist, so nothing is allocated or overflowed.
    CalibratorParameters huge = c.parameters();
    huge.dvsWidth = 65535;
    huge.dvsHeight = 65535;
    huge.affineMatrices["1"].data = c.forwardAffine();
    Calibrator h;
    h.loadCalibrationParam(huge);
    const ApsFrame empty = h.mapApsToDvs(coordinateFrame(40, 30));
    EXPECT_EQ(empty.width(), 0);
    EXPECT_EQ(empty.getDataSize(), 0u);

    // A frame without pixels gives the black frame.
    ApsFrame none(0, 0, 1, 2);
    ApsFrame black = c.mapApsToDvs(none);
    EXPECT_EQ(black.width(), 1280);
    EXPECT_TRUE(isBlack(black, 640, 360));
}

TEST(CalibratorTest, OffsetChangedWhileMappingGivesWholeFrames) {
    // The offsets come from another thread while frames are resampled; each
    // frame is shifted by one offset throughout, its first row as its last.
    Calibrator c;
    const ApsFrame src = coordinateFrame(3840, 2160);
    const ApsFrame still = c.mapApsToDvs(src);
    std::atomic<bool> done{false};
    std::thread adjust([&] {
        for (int i = 0; !done.load(); ++i)
            c.adjustAffineTranslation(i % 2 ? 20 : 0, 0);
    });
    for (int n = 0; n < 4; ++n) {
        const ApsFrame out = c.mapApsToDvs(src);
        const int top = sourceColumn(out, 100, 40) - sourceColumn(still, 100, 40);
        const int bottom = sourceColumn(out, 1100, 680) - sourceColumn(still, 1100, 680);
        EXPECT_TRUE(top == 0 || top == 20) << top;
        EXPECT_EQ(top, bottom);
    }
    done = true;
    adjust.join();
}
