#include "Utils/JsonUtils.h"

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "Logger.h"

namespace korvane {

using nlohmann::json;

namespace {

Matrix readMatrix(const json& j) {
    Matrix m;
    if (j.contains("rows")) m.rows = j.at("rows").get<int32_t>();
    if (j.contains("cols")) m.cols = j.at("cols").get<int32_t>();
    if (j.contains("type")) m.type = j.at("type").get<int32_t>();
    if (j.contains("data") && !j.at("data").is_null()) {
        m.data = j.at("data").get<std::vector<double>>();
    }
    return m;
}

json writeMatrix(const Matrix& m) {
    return json{{"rows", m.rows}, {"cols", m.cols}, {"type", m.type}, {"data", m.data}};
}

// Each member of an "affine_matrix" object becomes an entry; null or empty members give none.
void readAffine(const json& j, std::map<std::string, Matrix>& out) {
    if (!j.is_object()) return;
    for (auto it = j.begin(); it != j.end(); ++it) {
        if (it.value().is_null() || it.value().empty()) continue;
        out[it.key()] = readMatrix(it.value());
    }
}

std::vector<double> readArray(const json& parent, const char* key) {
    if (!parent.contains(key) || parent.at(key).is_null()) return {};
    return parent.at(key).get<std::vector<double>>();
}

json arrayOrNull(const std::vector<double>& v) {
    return v.empty() ? json(nullptr) : json(v);
}

bool readFrameSize(const json& camera, uint16_t& width, uint16_t& height) {
    if (!camera.is_object() || !camera.contains("frame_size")) {
        KV_LOG_ERROR("Error: Missing 'frame_size' field.\n");
        return false;
    }
    const json& size = camera.at("frame_size");
    if (!size.is_object() || !size.contains("cols") || !size.contains("rows")) {
        KV_LOG_ERROR("Error: Invalid 'frame_size' in JSON.\n");
        return false;
    }
    width = size.at("cols").get<uint16_t>();
    height = size.at("rows").get<uint16_t>();
    return true;
}

}  // namespace

bool jsonDataToParam(std::vector<uint8_t>& data, CalibratorParameters& param) {
    const json root = json::parse(data.begin(), data.end());

    if (!root.is_object() || !root.contains("0")) {
        KV_LOG_ERROR("Error: No camera with ID '0' found in calibration data.\n");
        return false;
    }
    const json& dvs = root.at("0");
    if (!dvs.is_object() || !dvs.contains("camera_serial")) {
        KV_LOG_ERROR("Error: Missing or invalid 'camera_serial' field.\n");
        return false;
    }
    param.cameraSerial = dvs.at("camera_serial").get<std::string>();

    if (!readFrameSize(dvs, param.dvsWidth, param.dvsHeight)) return false;

    if (!dvs.contains("camera_matrix")) {
        KV_LOG_ERROR("Error: Missing 'camera_matrix'.\n");
        return false;
    }
    param.cameraMatrix = readMatrix(dvs.at("camera_matrix"));

    if (!dvs.contains("dist_coeffs")) {
        KV_LOG_ERROR("Error: Missing 'dist_coeffs'.\n");
        return false;
    }
    param.distCoeffs = readMatrix(dvs.at("dist_coeffs"));

    param.affineMatrices.clear();
    if (dvs.contains("affine_matrix")) readAffine(dvs.at("affine_matrix"), param.affineMatrices);

    param.rotation = readArray(dvs, "rotation");
    param.translation = readArray(dvs, "translation");

    KV_LOG_INFO("Camera Serial: %s", param.cameraSerial.c_str());
    KV_LOG_INFO("Dvs Resolution: %d, %d", int(param.dvsWidth), int(param.dvsHeight));

    static const json kMissing;
    const json& aps = root.contains("1") ? root.at("1") : kMissing;
    if (!readFrameSize(aps, param.apsWidth, param.apsHeight)) return false;

    if (aps.contains("affine_matrix") && !aps.at("affine_matrix").is_null()) {
        readAffine(aps.at("affine_matrix"), param.affineMatrices);
    }

    KV_LOG_INFO("Aps Resolution: %d, %d", int(param.apsWidth), int(param.apsHeight));
    return true;
}

bool jsonFileToParam(const std::string& path, CalibratorParameters& param) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        KV_LOG_ERROR("Error: open %s failed.", path.c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad()) {
        KV_LOG_ERROR("Error: read %s failed.", path.c_str());
        return false;
    }
    return jsonDataToParam(bytes, param);
}

std::string paramToJsonText(const CalibratorParameters& param) {
    json dvs;
    dvs["camera_serial"] = param.cameraSerial;
    dvs["frame_size"] = {{"cols", unsigned(param.dvsWidth)}, {"rows", unsigned(param.dvsHeight)}};
    dvs["camera_matrix"] = writeMatrix(param.cameraMatrix);
    dvs["dist_coeffs"] = writeMatrix(param.distCoeffs);
    auto one = param.affineMatrices.find("1");
    dvs["affine_matrix"] =
        one != param.affineMatrices.end() ? json{{"1", writeMatrix(one->second)}} : json(nullptr);
    dvs["rotation"] = arrayOrNull(param.rotation);
    dvs["translation"] = arrayOrNull(param.translation);

    json aps;
    aps["frame_size"] = {{"cols", unsigned(param.apsWidth)}, {"rows", unsigned(param.apsHeight)}};
    auto zero = param.affineMatrices.find("0");
    aps["affine_matrix"] =
        zero != param.affineMatrices.end() ? json{{"0", writeMatrix(zero->second)}} : json(nullptr);

    json root{{"0", dvs}, {"1", aps}};
    return root.dump(4) + "\n";
}

bool paramToJsonFile(CalibratorParameters& param, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        KV_LOG_ERROR("Error: open %s failed.", path.c_str());
        return false;
    }
    out << paramToJsonText(param);
    out.flush();
    if (!out) {
        // A full disk must not pass for a written calibration.
        KV_LOG_ERROR("Error: write %s failed.", path.c_str());
        return false;
    }
    return true;
}

}  // namespace korvane
