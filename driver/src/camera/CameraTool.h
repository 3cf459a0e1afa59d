#pragma once

// A camera tool: one group of a camera's tunable parameters (biases,
// trigger input, anti-flicker, ...). It describes its parameters and reads
// and writes them by name. No Qt.
//
// Ownership: a camera hands its tools out as shared handles; a tool stays
// valid while a handle is held, even after the camera was closed (calls then
// fail and return false).
// Threads: the program calls a tool from the GUI thread only; a tool need
// not be thread-safe.
// Failure: every operation returns false and leaves its output unchanged
// when the name is unknown or the camera refuses; nothing throws.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace korvane {

// Which tool a camera is asked for. Value 2 is not used by the program.
enum class ToolType : int {
    Biases = 0,
    TriggerIn = 1,
    AntiFlicker = 3,
    EventTrailFilter = 4,
    EventRateControl = 5,
    Roi = 6,
    Aps = 7,  // fusion cameras only
};

// One parameter as listed by a tool; its typed description is fetched by name.
struct BasicParameterInfo {
    // Type codes; other codes (3 included) have no editor.
    static constexpr int kInt = 0;
    static constexpr int kFloat = 1;
    static constexpr int kBool = 2;
    static constexpr int kEnum = 4;

    std::string name;
    std::string description;
    int type = kInt;
};

struct IntParameterInfo {
    int32_t min = 0;
    int32_t max = 0;
    int32_t value = 0;
    std::string unit;
};

struct FloatParameterInfo {
    float min = 0.0f;
    float max = 0.0f;
    float value = 0.0f;
    std::string unit;
};

struct BoolParameterInfo {
    bool value = false;
};

struct EnumParameterInfo {
    std::vector<std::string> options;  // in the order they are offered
};

class CameraTool {
public:
    virtual ~CameraTool() = default;

    // Ordered by parameter name; empty when the tool offers nothing.
    virtual std::map<std::string, BasicParameterInfo> getParameterInfos() = 0;
    virtual bool getEnumParameterInfo(const std::string& name, EnumParameterInfo& info) = 0;
    virtual bool getBoolParameterInfo(const std::string& name, BoolParameterInfo& info) = 0;
    virtual bool getFloatParameterInfo(const std::string& name, FloatParameterInfo& info) = 0;
    virtual bool getIntParameterInfo(const std::string& name, IntParameterInfo& info) = 0;
    // The camera's current value.
    virtual bool getBoolParameter(const std::string& name, bool& value) = 0;
    virtual bool getIntParameter(const std::string& name, int& value) = 0;
    // Write a value; true when the camera accepted it.
    virtual bool setParameter(const std::string& name, const std::string& value) = 0;
    virtual bool setParameter(const std::string& name, bool value) = 0;
    virtual bool setParameter(const std::string& name, float value) = 0;
    virtual bool setParameter(const std::string& name, int value) = 0;

    // A string literal would otherwise pick the boolean overload.
    bool setParameter(const std::string& name, const char* value) {
        return setParameter(name, std::string(value ? value : ""));
    }
};

}  // namespace korvane
