#pragma once

// The setting tools as scripts name them (kvcam --set and tools, the
// Python module), their parameters described as plain values, and setting
// one with the reason a refusal has. One table of names, so the tools and
// the module never disagree.
//
// Threads: as the tools themselves (any thread).

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "korvane/camera/CameraTool.h"

namespace korvane {

struct NamedTool {
    ToolType type;
    const char* name;
};

// In ToolType order; "aps" is offered only by cameras with a frame sensor.
const std::vector<NamedTool>& namedTools();
// False for a name that is none of the table's.
bool toolTypeByName(const std::string& name, ToolType& type);
const char* toolName(ToolType type);
// "biases, trigger_in, ...", for messages.
std::string toolNameList();

// A value as a script gives or reads it.
using ParameterValue = std::variant<bool, int64_t, double, std::string>;

struct ParameterDescription {
    std::string name;
    std::string description;
    ParameterType type = ParameterType::Int;
    std::string unit;
    double min = 0, max = 0;              // integers and floats
    std::vector<std::string> options;     // enumerations, in order
    std::optional<ParameterValue> value;  // in force; none when the tool cannot tell
};

// Every parameter of the tool, ordered by name.
std::vector<ParameterDescription> describeParameters(const CameraTool& tool);
// "int", "float", "bool", "string", "enum".
const char* parameterTypeName(ParameterType type);
// What the parameter takes: "-50..50", "true|false", "band_stop|band_pass"
// ("" for free text).
std::string parameterRangeText(const ParameterDescription& parameter);
// true/false, decimal numbers, text as it is; "" for none.
std::string parameterValueText(const std::optional<ParameterValue>& value);

enum class SetOutcome { Done, UnknownParameter, WrongType, Refused };
struct SetResult {
    SetOutcome outcome = SetOutcome::Done;
    std::string reason;  // why, when not Done
    bool ok() const { return outcome == SetOutcome::Done; }
};

// Sets a parameter: a switch takes a bool, an integer a whole number (a
// whole double too), a float any finite number, an enumeration one of its
// option texts. A refusal's reason names the range or options, or, when
// the value is in range but the camera refuses the combination, the tool's
// other values in force ("x=1000 does not go with the values in force
// (enable=false, ...)").
SetResult setToolParameter(CameraTool& tool, const std::string& name, const ParameterValue& value);
// The same from text, as on a command line: true|false|1|0|on|off, a
// decimal number, an option text.
SetResult setToolParameterFromText(CameraTool& tool, const std::string& name,
                                   const std::string& text);

}  // namespace korvane
