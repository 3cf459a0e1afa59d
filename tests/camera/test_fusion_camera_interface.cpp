#include <gtest/gtest.h>

#include "korvane/camera/FusionCamera.h"

using namespace korvane;

namespace {

class NullTool : public CameraTool {
public:
    std::map<std::string, BasicParameterInfo> getParameterInfos() const override { return {}; }
    bool getEnumParameterInfo(const std::string&, EnumParameterInfo&) const override {
        return false;
    }
    bool getBoolParameterInfo(const std::string&, BoolParameterInfo&) const override {
        return false;
    }
    bool getFloatParameterInfo(const std::string&, FloatParameterInfo&) const override {
        return false;
    }
    bool getIntParameterInfo(const std::string&, IntParameterInfo&) const override { return false; }
    bool getBoolParameter(const std::string&, bool&) const override { return false; }
    bool getIntParameter(const std::string&, int&) const override { return false; }
    bool setParameter(const std::string&, const std::string&) override { return false; }
    bool setParameter(const std::string&, bool) override { return false; }
    bool setParameter(const std::string&, float) override { return false; }
    bool setParameter(const std::string&, int) override { return false; }
    bool getStringParameter(const std::string&, std::string&) const override { return false; }
};

// The least a camera must provide; it offers biases and the frame-sensor tool.
class StubFusionCamera : public FusionCamera {
public:
    using FusionCamera::FusionCamera;
    int made = 0;
    size_t toolsHeld() const { return toolCount(); }

    bool isConnected() override { return true; }
    uint32_t addEventsCallback(EventsCallback) override { return 0; }
    uint32_t addApsFrameCallback(FrameCallback) override { return 1; }
    uint32_t addTriggerInCallback(TriggerCallback) override { return 2; }
    void removeCallback(uint32_t) override {}
    int start(STREAM_TYPE) override { return 0; }
    void stop(STREAM_TYPE) override {}
    void close() override {}
    bool startRecording(const std::string&, const std::string&, STREAM_TYPE) override {
        return false;
    }
    bool stopRecording(STREAM_TYPE) override { return false; }
    bool uploadCalibrationFile(const std::string&) override { return false; }
    bool getCalibrationParameters(CalibratorParameters&) override { return false; }
    bool getFirmwareVersion(std::string&) override { return false; }

protected:
    std::shared_ptr<CameraTool> makeTool(ToolType type) override {
        if (type != ToolType::Biases && type != ToolType::Aps) return nullptr;
        ++made;
        return std::make_shared<NullTool>();
    }
};

CameraDescription desc(const std::string& serial) {
    return {serial, "Quenta", "Korvane", "", "simulated"};
}

}  // namespace

TEST(FusionCameraTest, ToolsAreMadeOnceAndMissingOnesAreNull) {
    StubFusionCamera cam(desc("S1"));
    EXPECT_EQ(cam.getDescription().serial, "S1");
    auto a = cam.getTool(ToolType::Aps);
    ASSERT_TRUE(a);
    EXPECT_EQ(cam.getTool(ToolType::Aps), a);
    EXPECT_EQ(cam.made, 1);
    EXPECT_FALSE(cam.getTool(ToolType::RegionOfInterest));
    EXPECT_EQ(cam.toolsHeld(), 1u);
}

TEST(FusionCameraTest, CopiesShareToolsAndMovesLeaveTheSourceWithout) {
    StubFusionCamera cam(desc("S1"));
    auto biases = cam.getTool(ToolType::Biases);
    StubFusionCamera copy(cam);
    EXPECT_EQ(copy.getDescription().serial, "S1");
    EXPECT_EQ(copy.getTool(ToolType::Biases), biases);  // shared, not duplicated
    EXPECT_EQ(cam.toolsHeld(), 1u);

    StubFusionCamera assigned(desc("S2"));
    assigned = cam;
    EXPECT_EQ(assigned.getDescription().serial, "S1");
    EXPECT_EQ(assigned.getTool(ToolType::Biases), biases);

    StubFusionCamera moved(std::move(cam));
    EXPECT_EQ(moved.getTool(ToolType::Biases), biases);
    EXPECT_EQ(cam.toolsHeld(), 0u);  // NOLINT(bugprone-use-after-move)

    StubFusionCamera target(desc("S3"));
    target.getTool(ToolType::Aps);
    target = std::move(copy);
    EXPECT_EQ(target.getDescription().serial, "S1");
    EXPECT_EQ(target.toolsHeld(), 1u);
    EXPECT_EQ(target.getTool(ToolType::Biases), biases);
    EXPECT_EQ(copy.toolsHeld(), 0u);  // NOLINT(bugprone-use-after-move)

    // The base class discards statistics callbacks without calling them.
    bool called = false;
    target.setStatisticInfoCallback([&](const KvStatisticInfo&) { called = true; });
    EXPECT_FALSE(called);
}
