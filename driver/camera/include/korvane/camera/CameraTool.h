#pragma once

// The setting tools a camera offers and the descriptions of their
// parameters. A tool is shared between the camera and whoever tunes it;
// it stays valid (and harmless) after its camera closed.
//
// Threads: every operation may be called from any thread; a value set is
// in force from the camera's next slice of stream on. Parameter names are
// lower-case words joined by "_".

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace korvane {

enum class ToolType : int {
    Biases = 0,
    TriggerIn = 1,
    AntiFlicker = 3,
    EventTrailFilter = 4,
    EventRateControl = 5,
    RegionOfInterest = 6,
    Aps = 7,
};

// Type code of a parameter description.
enum class ParameterType : int { Int = 0, Float = 1, Bool = 2, String = 3, Enum = 4 };

struct BasicParameterInfo {
    // The type codes as plain ints, for switch statements over `type`; code 3
    // (text) has no editor.
    static constexpr int kInt = int(ParameterType::Int);
    static constexpr int kFloat = int(ParameterType::Float);
    static constexpr int kBool = int(ParameterType::Bool);
    static constexpr int kEnum = int(ParameterType::Enum);

    std::string name;
    std::string description;
    int type = 0;  // a ParameterType value
};

struct IntParameterInfo {
    int32_t min = 0;
    int32_t max = 0;
    int32_t value = 0;  // the default
    std::string unit;
};

struct FloatParameterInfo {
    float min = 0;
    float max = 0;
    float value = 0;
    std::string unit;
};

struct BoolParameterInfo {
    bool value = false;  // the default
};

struct EnumParameterInfo {
    std::vector<std::string> values;  // option texts in order; the first is the default
};

class CameraTool {
public:
    virtual ~CameraTool() = default;

    // Ordered by name; empty when the tool offers nothing.
    virtual std::map<std::string, BasicParameterInfo> getParameterInfos() const = 0;
    virtual bool getEnumParameterInfo(const std::string& name, EnumParameterInfo& info) const = 0;
    virtual bool getBoolParameterInfo(const std::string& name, BoolParameterInfo& info) const = 0;
    virtual bool getFloatParameterInfo(const std::string& name, FloatParameterInfo& info) const = 0;
    virtual bool getIntParameterInfo(const std::string& name, IntParameterInfo& info) const = 0;
    // The value in force; false (value untouched) for an unknown name or type.
    virtual bool getBoolParameter(const std::string& name, bool& value) const = 0;
    virtual bool getIntParameter(const std::string& name, int& value) const = 0;
    // False when the name is unknown, the type differs or the camera refuses
    // the value (out of range, or a combination the sensor cannot take);
    // the value in force is then unchanged.
    virtual bool setParameter(const std::string& name, const std::string& value) = 0;
    virtual bool setParameter(const std::string& name, bool value) = 0;
    virtual bool setParameter(const std::string& name, float value) = 0;
    virtual bool setParameter(const std::string& name, int value) = 0;
    // A string literal would otherwise pick the boolean overload.
    bool setParameter(const std::string& name, const char* value) {
        return setParameter(name, std::string(value ? value : ""));
    }
    // Text values of enumerations; false for an unknown name.
    virtual bool getStringParameter(const std::string& name, std::string& value) const = 0;
};

}  // namespace korvane
