#pragma once

// Calibration parameter files: JSON with root members "0" (event sensor)
// and "1" (frame sensor). Failures of a missing field are logged at Error
// and reported by a false result; malformed JSON or a member of the wrong
// type throws the JSON library's exception to the caller.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "KorvaneBaseExport.h"

namespace korvane {

struct Matrix {
    int32_t rows = 0;
    int32_t cols = 0;
    int32_t type = 0;  // carried unchanged, never interpreted
    std::vector<double> data;

    bool operator==(const Matrix&) const = default;
};

struct CalibratorParameters {
    std::string cameraSerial;
    uint16_t dvsWidth = 1280;
    uint16_t dvsHeight = 720;
    uint16_t apsWidth = 3840;
    uint16_t apsHeight = 2160;
    Matrix cameraMatrix;
    Matrix distCoeffs;
    // "1": event grid -> frame grid; "0": back. Six doubles a..f, row-major.
    std::map<std::string, Matrix> affineMatrices;
    std::vector<double> rotation;
    std::vector<double> translation;

    bool operator==(const CalibratorParameters&) const = default;
};

KORVANE_BASE_API bool jsonDataToParam(std::vector<uint8_t>& data, CalibratorParameters& param);
KORVANE_BASE_API bool jsonFileToParam(const std::string& path, CalibratorParameters& param);
KORVANE_BASE_API bool paramToJsonFile(CalibratorParameters& param, const std::string& path);
// The text paramToJsonFile writes.
KORVANE_BASE_API std::string paramToJsonText(const CalibratorParameters& param);

}  // namespace korvane
