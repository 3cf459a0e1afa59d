#pragma once

// The affine relation between the event sensor's pixel grid and the frame
// sensor's, applied both ways, plus a manual translation the user adjusts
// while looking at the overlay and folds in with saveCalibrationParam().
//
// Threads: the owner's thread loads, saves and maps; adjustAffineTranslation()
// may run on any thread at the same time as a mapping (the offsets are
// atomic, and mapApsToDvs() reads them once per frame, so a frame is never
// half shifted). Loading or saving while another thread maps is not allowed.
// Failures: transforms of fewer than six values map nothing (events stay,
// frames come back black); a singular transform keeps the previous inverse.

#include <atomic>
#include <string>
#include <vector>

#include "KvRecords.h"
#include "Utils/JsonUtils.h"

namespace korvane {

class Calibrator {
public:
    // Event grid 1280 x 720 onto frame grid 3840 x 2160, centre onto centre.
    static constexpr double kDefaultScale = 3.351724137931035;
    static constexpr double kDefaultInverseScale = 0.29835390946502055;

    Calibrator();

    // Takes the record and its transforms ("1" forward, "0" back); the
    // offsets return to 0. A missing entry is created empty. Always true.
    bool loadCalibrationParam(CalibratorParameters& parameters);
    // Folds the offsets into the forward transform, recomputes the inverse,
    // writes the calibration file and zeroes the offsets. False when the
    // file could not be written (the transforms are updated regardless).
    bool saveCalibrationParam(const std::string& path);
    // Absolute manual translation in frame-sensor pixels, not increments.
    void adjustAffineTranslation(double dx, double dy);
    // Leaves inv untouched when m is singular.
    static void computeInverseAffine(const double* m, double* inv);

    // Rewrites the events' coordinates into the frame grid (16-bit wrap,
    // no bounds check, no manual offset).
    void mapDvsToAps(Event2D* first, Event2D* last) const;
    // Resamples a frame into the event grid, nearest neighbour; pixels whose
    // source lies outside the frame stay black. An event grid too large for
    // a frame (over 2^31 bytes) gives an empty 0 x 0 frame.
    ApsFrame mapApsToDvs(const ApsFrame& frame) const;

    const CalibratorParameters& parameters() const { return parameters_; }
    const std::vector<double>& forwardAffine() const { return forwardAffine_; }
    const std::vector<double>& inverseAffine() const { return inverseAffine_; }
    double offsetX() const { return offsetX_.load(); }
    double offsetY() const { return offsetY_.load(); }

private:
    CalibratorParameters parameters_;
    std::vector<double> forwardAffine_;
    std::vector<double> inverseAffine_;
    std::atomic<double> offsetX_{0.0};
    std::atomic<double> offsetY_{0.0};
};

}  // namespace korvane
