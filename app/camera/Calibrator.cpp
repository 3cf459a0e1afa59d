#include "Calibrator.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace korvane {

namespace {

constexpr size_t kAffineSize = 6;

// Truncation toward zero into the 16-bit field, wrapping modulo 65536. Values
// beyond the 64-bit range (or NaN) would be undefined to convert; they give 0.
uint16_t wrapTo16(double v) {
    if (!(v > -9.0e18 && v < 9.0e18)) return 0;
    return static_cast<uint16_t>(static_cast<uint64_t>(static_cast<int64_t>(v)));
}

bool isSingular(const double* m) {
    return std::fabs(m[4] * m[0] - m[3] * m[1]) < 1e-12;
}

}  // namespace

Calibrator::Calibrator() {
    forwardAffine_ = {kDefaultScale, 0, -225.10344827586232, 0, kDefaultScale, -126.62068965517255};
    const double s = kDefaultInverseScale;
    // The halvings are integer divisions of the 16-bit sizes.
    inverseAffine_ = {
        s, 0, double(parameters_.dvsWidth / 2) - double(parameters_.apsWidth / 2) * s,
        0, s, double(parameters_.dvsHeight / 2) - double(parameters_.apsHeight / 2) * s};
}

bool Calibrator::loadCalibrationParam(CalibratorParameters& parameters) {
    parameters_ = parameters;
    forwardAffine_ = parameters_.affineMatrices["1"].data;
    inverseAffine_ = parameters_.affineMatrices["0"].data;
    offsetX_.store(0.0);
    offsetY_.store(0.0);
    return true;
}

bool Calibrator::saveCalibrationParam(const std::string& path) {
    if (forwardAffine_.size() >= kAffineSize) {
        forwardAffine_[2] += offsetX_.load();
        forwardAffine_[5] += offsetY_.load();
        parameters_.affineMatrices["1"].data = forwardAffine_;
        const double* m = forwardAffine_.data();
        if (!isSingular(m)) {  // a singular one keeps the previous inverse
            inverseAffine_.resize(kAffineSize);
            computeInverseAffine(m, inverseAffine_.data());
        }
        parameters_.affineMatrices["0"].data = inverseAffine_;
    }
    const bool written = paramToJsonFile(parameters_, path);
    offsetX_.store(0.0);
    offsetY_.store(0.0);
    return written;
}

void Calibrator::adjustAffineTranslation(double dx, double dy) {
    offsetX_.store(dx);
    offsetY_.store(dy);
}

void Calibrator::computeInverseAffine(const double* m, double* inv) {
    if (!m || !inv) return;
    const double a = m[0], b = m[1], c = m[2], d = m[3], e = m[4], f = m[5];
    if (isSingular(m)) return;
    const double det = e * a - d * b;
    const double r = 1.0 / det;
    inv[0] = e * r;
    inv[1] = -b * r;
    inv[2] = -((-b * r) * f + (e * r) * c);
    inv[3] = -d * r;
    inv[4] = a * r;
    inv[5] = -((a * r) * f + (-d * r) * c);
}

void Calibrator::mapDvsToAps(Event2D* first, Event2D* last) const {
    if (forwardAffine_.size() < kAffineSize || !first) return;
    const double a = forwardAffine_[0], b = forwardAffine_[1], c = forwardAffine_[2];
    const double d = forwardAffine_[3], e = forwardAffine_[4], f = forwardAffine_[5];
    for (Event2D* ev = first; ev != last; ++ev) {
        const double x = ev->x, y = ev->y;
        ev->x = wrapTo16(b * y + a * x + c);
        ev->y = wrapTo16(d * x + e * y + f);
    }
}

ApsFrame Calibrator::mapApsToDvs(const ApsFrame& frame) const {
    const int outW = parameters_.dvsWidth, outH = parameters_.dvsHeight;
    // A frame's size is counted in 32-bit ints: a calibration file naming a
    // larger event grid gets an empty frame, not an overflow.
    if (int64_t(outW) * outH * 3 > INT32_MAX)
        return ApsFrame(0, 0, frame.frameTag, frame.timestamp);
    ApsFrame result(outW, outH, frame.frameTag, frame.timestamp);
    const uint8_t* src = frame.data();
    if (forwardAffine_.size() < kAffineSize || !src || frame.width() <= 0 || frame.height() <= 0)
        return result;
    // A source outside the calibrated size or the frame's own size stays black;
    // rows are read with the frame's own stride so a frame of another size
    // than calibrated can never be read past its end.
    const int srcW = frame.width();
    const double limitX = std::min<int>(parameters_.apsWidth, srcW);
    const double limitY = std::min<int>(parameters_.apsHeight, frame.height());
    const double a = forwardAffine_[0], b = forwardAffine_[1], c = forwardAffine_[2];
    const double d = forwardAffine_[3], e = forwardAffine_[4], f = forwardAffine_[5];
    const double ox = offsetX_.load(std::memory_order_relaxed);
    const double oy = offsetY_.load(std::memory_order_relaxed);
    uint8_t* out = result.data();
    if (b == 0.0 && d == 0.0) {
        // Scale and translation only (every calibration we make): a column's
        // source column does not depend on the row, nor a row's on the
        // column. The per-pixel formula reduces to the same values bit for
        // bit (y * 0 + x * a == x * a), so look both up once per frame.
        std::vector<int32_t> srcCol(size_t(outW), -1);
        for (int x = 0; x < outW; ++x) {
            const double fx = 0.0 + x * a + c + ox;
            if (fx > -1.0 && fx < limitX) srcCol[size_t(x)] = int32_t(fx) * 3;
        }
        int xBegin = 0, xEnd = outW;
        while (xBegin < outW && srcCol[size_t(xBegin)] < 0)
            ++xBegin;
        while (xEnd > xBegin && srcCol[size_t(xEnd - 1)] < 0)
            --xEnd;
        for (int y = 0; y < outH; ++y) {
            const double fy = 0.0 + y * e + f + oy;
            if (!(fy > -1.0 && fy < limitY)) continue;
            const uint8_t* srcRow = src + size_t(int(fy)) * size_t(srcW) * 3;
            uint8_t* row = out + size_t(y) * size_t(outW) * 3;
            for (int x = xBegin; x < xEnd; ++x) {
                const int32_t sc = srcCol[size_t(x)];
                if (sc < 0) continue;
                const uint8_t* p = srcRow + sc;
                uint8_t* q = row + size_t(x) * 3;
                q[0] = p[0];
                q[1] = p[1];
                q[2] = p[2];
            }
        }
        return result;
    }
    for (int y = 0; y < outH; ++y) {
        const double yb = y * b, ye = y * e;
        uint8_t* row = out + size_t(y) * size_t(outW) * 3;
        for (int x = 0; x < outW; ++x) {
            const double fx = yb + x * a + c + ox;
            const double fy = x * d + ye + f + oy;
            // trunc(v) lies in [0, limit) exactly when v lies in (-1, limit).
            if (!(fx > -1.0 && fx < limitX && fy > -1.0 && fy < limitY)) continue;
            const size_t sx = size_t(int(fx)), sy = size_t(int(fy));
            const uint8_t* p = src + (sy * size_t(srcW) + sx) * 3;
            uint8_t* q = row + size_t(x) * 3;
            q[0] = p[0];
            q[1] = p[1];
            q[2] = p[2];
        }
    }
    return result;
}

}  // namespace korvane
