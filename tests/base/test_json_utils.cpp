#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "../TestPlatform.h"
#include "Utils/JsonUtils.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<uint8_t> bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

CalibratorParameters sample() {
    CalibratorParameters p;
    p.cameraSerial = "KV-77";
    p.dvsWidth = 1280;
    p.dvsHeight = 720;
    p.apsWidth = 3840;
    p.apsHeight = 2160;
    p.cameraMatrix = {3, 3, 6, {1.5, 0, 640, 0, 1.5, 360, 0, 0, 1}};
    p.distCoeffs = {1, 5, 6, {0.1, -0.2, 0, 0, 0.05}};
    p.affineMatrices["1"] = {2, 3, 6, {3, 0, 0, 0, 3, 0}};
    p.affineMatrices["0"] = {2, 3, 6, {0.3333333333333333, 0, 0, 0, 0.3333333333333333, 0}};
    p.rotation = {0.1, 0.2, 0.3};
    p.translation = {};
    return p;
}

// Capture what the logger prints for the duration of a call.
template <typename F>
std::string logged(F f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(CalibrationFileTest, RoundTripExactTextAndEmptyArraysAsNull) {
    TempDir dir;
    auto file = dir.path / "calib.json";
    CalibratorParameters written = sample();
    written.affineMatrices["7"] = {1, 1, 0, {1}};  // not written back
    ASSERT_TRUE(paramToJsonFile(written, file.string()));

    CalibratorParameters read;
    ASSERT_TRUE(jsonFileToParam(file.string(), read));
    CalibratorParameters expected = sample();
    EXPECT_EQ(read, expected);

    const std::string text = readAll(file);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NE(text[text.size() - 2], '\n');
    // 4-space indent, sorted keys, null for the empty translation.
    EXPECT_EQ(text.substr(0, 20), "{\n    \"0\": {\n       ");
    EXPECT_LT(text.find("\"affine_matrix\""), text.find("\"camera_matrix\""));
    EXPECT_LT(text.find("\"camera_matrix\""), text.find("\"camera_serial\""));
    EXPECT_NE(text.find("\"translation\": null"), std::string::npos);
    EXPECT_NE(text.find("\"cols\": 1280,"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(text).dump(4) + "\n", text);

    // Empty arrays are written as null and read back empty.
    file = dir.path / "c.json";
    CalibratorParameters p = sample();
    p.rotation.clear();
    p.affineMatrices.clear();
    ASSERT_TRUE(paramToJsonFile(p, file.string()));
    auto j = nlohmann::json::parse(readAll(file));
    EXPECT_TRUE(j["0"]["rotation"].is_null());
    EXPECT_TRUE(j["0"]["affine_matrix"].is_null());
    EXPECT_TRUE(j["1"]["affine_matrix"].is_null());
    CalibratorParameters back;
    back.rotation = {9};
    ASSERT_TRUE(jsonFileToParam(file.string(), back));
    EXPECT_TRUE(back.rotation.empty());
    EXPECT_TRUE(back.affineMatrices.empty());
}

TEST(CalibrationFileTest, EveryMissingFieldMessage) {
    struct Case {
        const char* json;
        const char* message;
    };
    const Case cases[] = {
        {R"({"1": {}})", "Error: No camera with ID '0' found in calibration data."},
        {R"({"0": {}})", "Error: Missing or invalid 'camera_serial' field."},
        {R"({"0": {"camera_serial": "s"}})", "Error: Missing 'frame_size' field."},
        {R"({"0": {"camera_serial": "s", "frame_size": {"cols": 3}}})",
         "Error: Invalid 'frame_size' in JSON."},
        {R"({"0": {"camera_serial": "s", "frame_size": {"cols": 3, "rows": 2}}})",
         "Error: Missing 'camera_matrix'."},
        {R"({"0": {"camera_serial": "s", "frame_size": {"cols": 3, "rows": 2},
              "camera_matrix": {}}})",
         "Error: Missing 'dist_coeffs'."},
        {R"({"0": {"camera_serial": "s", "frame_size": {"cols": 3, "rows": 2},
              "camera_matrix": {}, "dist_coeffs": {}}, "1": {"frame_size": {"rows": 1}}})",
         "Error: Invalid 'frame_size' in JSON."},
    };
    for (const Case& c : cases) {
        auto data = bytes(c.json);
        CalibratorParameters p;
        bool ok = true;
        std::string out = logged([&] { ok = jsonDataToParam(data, p); });
        EXPECT_FALSE(ok) << c.json;
        EXPECT_NE(out.find(std::string("[error] ") + c.message + "\n"), std::string::npos)
            << c.json << "\n"
            << out;
    }
}

TEST(CalibrationFileTest, MissingFrameMemberLogsEventSideFirst) {
    auto data = bytes(R"({"0": {"camera_serial": "AB", "frame_size": {"cols": 640, "rows": 480},
        "camera_matrix": {}, "dist_coeffs": {"rows": 1}}})");
    CalibratorParameters p;
    bool ok = true;
    std::string out = logged([&] { ok = jsonDataToParam(data, p); });
    EXPECT_FALSE(ok);
    auto serial = out.find("Camera Serial: AB");
    auto res = out.find("Dvs Resolution: 640, 480");
    auto err = out.find("Error: Missing 'frame_size' field.");
    ASSERT_NE(serial, std::string::npos);
    ASSERT_NE(res, std::string::npos);
    ASSERT_NE(err, std::string::npos);
    EXPECT_LT(serial, res);
    EXPECT_LT(res, err);
    // Fields read before the failure stay filled; empty matrices are zeros.
    EXPECT_EQ(p.dvsWidth, 640);
    EXPECT_EQ(p.cameraMatrix, Matrix{});
    EXPECT_EQ(p.distCoeffs.rows, 1);
}

TEST(CalibrationFileTest, BadJsonThrowsAndBadPathsOrWritesFail) {
    auto garbage = bytes("{not json");
    CalibratorParameters p;
    EXPECT_THROW(jsonDataToParam(garbage, p), nlohmann::json::exception);
    auto wrongType = bytes(R"({"0": {"camera_serial": 5}})");
    EXPECT_THROW(jsonDataToParam(wrongType, p), nlohmann::json::exception);

    std::string out = logged([&] { EXPECT_FALSE(jsonFileToParam("/nonexistent/x.json", p)); });
    EXPECT_NE(out.find("Error: open /nonexistent/x.json failed."), std::string::npos);
    CalibratorParameters s = sample();
    out = logged([&] { EXPECT_FALSE(paramToJsonFile(s, "/nonexistent/dir/x.json")); });
    EXPECT_NE(out.find("Error: open /nonexistent/dir/x.json failed."), std::string::npos);
    // A write that fails is no success either.
    VELQORA_SKIP_ON_WINDOWS("no /dev/full to fail a write");
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    out = logged([&] { EXPECT_FALSE(paramToJsonFile(s, "/dev/full")); });
    EXPECT_NE(out.find("Error: write /dev/full failed."), std::string::npos);
}
