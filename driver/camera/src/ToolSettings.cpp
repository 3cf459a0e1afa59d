#include "korvane/camera/ToolSettings.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace korvane {

const std::vector<NamedTool>& namedTools() {
    static const std::vector<NamedTool> table = {
        {ToolType::Biases, "biases"},
        {ToolType::TriggerIn, "trigger_in"},
        {ToolType::AntiFlicker, "anti_flicker"},
        {ToolType::EventTrailFilter, "event_trail_filter"},
        {ToolType::EventRateControl, "event_rate_control"},
        {ToolType::RegionOfInterest, "roi"},
        {ToolType::Aps, "aps"},
    };
    return table;
}

bool toolTypeByName(const std::string& name, ToolType& type) {
    for (const NamedTool& t : namedTools()) {
        if (name == t.name) {
            type = t.type;
            return true;
        }
    }
    return false;
}

const char* toolName(ToolType type) {
    for (const NamedTool& t : namedTools())
        if (t.type == type) return t.name;
    return "unknown";
}

std::string toolNameList() {
    std::string out;
    for (const NamedTool& t : namedTools())
        out += (out.empty() ? "" : ", ") + std::string(t.name);
    return out;
}

namespace {

std::string numberText(double v) {
    if (v == std::trunc(v) && std::fabs(v) < 9e15) return std::to_string(int64_t(v));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

std::string joined(const std::vector<std::string>& items, const char* separator) {
    std::string out;
    for (const auto& s : items)
        out += (out.empty() ? "" : separator) + s;
    return out;
}

std::optional<ParameterDescription> describe(const CameraTool& tool, const BasicParameterInfo& b) {
    ParameterDescription d;
    d.name = b.name;
    d.description = b.description;
    d.type = ParameterType(b.type);
    switch (d.type) {
        case ParameterType::Int: {
            IntParameterInfo info;
            if (!tool.getIntParameterInfo(b.name, info)) return std::nullopt;
            d.min = info.min;
            d.max = info.max;
            d.unit = info.unit;
            int v = 0;
            if (tool.getIntParameter(b.name, v)) d.value = int64_t(v);
            break;
        }
        case ParameterType::Float: {
            FloatParameterInfo info;
            if (!tool.getFloatParameterInfo(b.name, info)) return std::nullopt;
            d.min = info.min;
            d.max = info.max;
            d.unit = info.unit;
            break;  // tools cannot tell a float in force
        }
        case ParameterType::Bool: {
            bool v = false;
            if (tool.getBoolParameter(b.name, v)) d.value = v;
            break;
        }
        case ParameterType::Enum: {
            EnumParameterInfo info;
            if (!tool.getEnumParameterInfo(b.name, info)) return std::nullopt;
            d.options = info.values;
            std::string v;
            if (tool.getStringParameter(b.name, v)) d.value = v;
            break;
        }
        case ParameterType::String: {
            std::string v;
            if (tool.getStringParameter(b.name, v)) d.value = v;
            break;
        }
        default:
            return std::nullopt;
    }
    return d;
}

// The tool's values in force but one, for the reason of a refused combination.
std::string othersInForce(const CameraTool& tool, const std::string& except) {
    std::vector<std::string> parts;
    for (const auto& d : describeParameters(tool)) {
        if (d.name == except || !d.value) continue;
        parts.push_back(d.name + "=" + parameterValueText(d.value));
    }
    return joined(parts, ", ");
}

SetResult refusedCombination(const CameraTool& tool, const std::string& name,
                             const std::string& valueText) {
    const std::string others = othersInForce(tool, name);
    return {SetOutcome::Refused, name + "=" + valueText + " does not go with the values in force" +
                                     (others.empty() ? std::string() : " (" + others + ")")};
}

}  // namespace

std::vector<ParameterDescription> describeParameters(const CameraTool& tool) {
    std::vector<ParameterDescription> out;
    for (const auto& [name, basic] : tool.getParameterInfos()) {
        BasicParameterInfo b = basic;
        if (b.name.empty()) b.name = name;
        if (auto d = describe(tool, b)) out.push_back(std::move(*d));
    }
    return out;
}

const char* parameterTypeName(ParameterType type) {
    switch (type) {
        case ParameterType::Int:
            return "int";
        case ParameterType::Float:
            return "float";
        case ParameterType::Bool:
            return "bool";
        case ParameterType::String:
            return "string";
        case ParameterType::Enum:
            return "enum";
    }
    return "unknown";
}

std::string parameterRangeText(const ParameterDescription& p) {
    switch (p.type) {
        case ParameterType::Int:
        case ParameterType::Float:
            return numberText(p.min) + ".." + numberText(p.max);
        case ParameterType::Bool:
            return "true|false";
        case ParameterType::Enum:
            return joined(p.options, "|");
        default:
            return "";
    }
}

std::string parameterValueText(const std::optional<ParameterValue>& value) {
    if (!value) return "";
    if (const bool* b = std::get_if<bool>(&*value)) return *b ? "true" : "false";
    if (const int64_t* i = std::get_if<int64_t>(&*value)) return std::to_string(*i);
    if (const double* d = std::get_if<double>(&*value)) return numberText(*d);
    return std::get<std::string>(*value);
}

SetResult setToolParameter(CameraTool& tool, const std::string& name, const ParameterValue& value) {
    const auto infos = tool.getParameterInfos();
    const auto it = infos.find(name);
    if (it == infos.end()) {
        std::vector<std::string> names;
        for (const auto& entry : infos)
            names.push_back(entry.first);
        return {SetOutcome::UnknownParameter,
                "no parameter " + name + " (parameters: " + joined(names, ", ") + ")"};
    }
    BasicParameterInfo basic = it->second;
    basic.name = name;
    const std::optional<ParameterDescription> d = describe(tool, basic);
    if (!d) return {SetOutcome::UnknownParameter, "parameter " + name + " cannot be set"};
    const std::string text = parameterValueText(value);
    switch (d->type) {
        case ParameterType::Bool: {
            const bool* b = std::get_if<bool>(&value);
            if (!b) return {SetOutcome::WrongType, name + " takes true or false, not " + text};
            if (!tool.setParameter(name, *b)) return refusedCombination(tool, name, text);
            return {};
        }
        case ParameterType::Int: {
            int64_t v = 0;
            if (const int64_t* i = std::get_if<int64_t>(&value)) {
                v = *i;
            } else if (const double* f = std::get_if<double>(&value);
                       f && std::isfinite(*f) && *f == std::trunc(*f) && std::fabs(*f) < 9e18) {
                v = int64_t(*f);
            } else {
                return {SetOutcome::WrongType, name + " takes a whole number, not " + text};
            }
            if (double(v) < d->min || double(v) > d->max) {
                return {SetOutcome::Refused, name + " must be " + parameterRangeText(*d) +
                                                 (d->unit.empty() ? "" : " " + d->unit) + ", not " +
                                                 std::to_string(v)};
            }
            if (!tool.setParameter(name, int(v))) return refusedCombination(tool, name, text);
            return {};
        }
        case ParameterType::Float: {
            double v = 0;
            if (const int64_t* i = std::get_if<int64_t>(&value)) {
                v = double(*i);
            } else if (const double* f = std::get_if<double>(&value)) {
                v = *f;
            } else {
                return {SetOutcome::WrongType, name + " takes a number, not " + text};
            }
            if (!std::isfinite(v) || v < d->min || v > d->max) {
                return {SetOutcome::Refused,
                        name + " must be " + parameterRangeText(*d) + ", not " + numberText(v)};
            }
            if (!tool.setParameter(name, float(v))) return refusedCombination(tool, name, text);
            return {};
        }
        case ParameterType::Enum: {
            const std::string* s = std::get_if<std::string>(&value);
            if (!s) return {SetOutcome::WrongType, name + " takes one of its options as text"};
            bool known = false;
            for (const auto& option : d->options)
                known = known || option == *s;
            if (!known) {
                return {SetOutcome::Refused, name + " must be one of " + joined(d->options, ", ") +
                                                 ", not '" + *s + "'"};
            }
            if (!tool.setParameter(name, *s)) return refusedCombination(tool, name, text);
            return {};
        }
        case ParameterType::String: {
            const std::string* s = std::get_if<std::string>(&value);
            if (!s) return {SetOutcome::WrongType, name + " takes text"};
            if (!tool.setParameter(name, *s)) return refusedCombination(tool, name, "'" + *s + "'");
            return {};
        }
    }
    return {SetOutcome::UnknownParameter, "parameter " + name + " cannot be set"};
}

SetResult setToolParameterFromText(CameraTool& tool, const std::string& name,
                                   const std::string& text) {
    const auto infos = tool.getParameterInfos();
    const auto it = infos.find(name);
    if (it == infos.end()) return setToolParameter(tool, name, text);  // says which exist
    switch (ParameterType(it->second.type)) {
        case ParameterType::Bool:
            if (text == "true" || text == "1" || text == "on")
                return setToolParameter(tool, name, true);
            if (text == "false" || text == "0" || text == "off")
                return setToolParameter(tool, name, false);
            return {SetOutcome::WrongType, "'" + text + "' is not a switch value (true or false)"};
        case ParameterType::Int: {
            int64_t v = 0;
            auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
            if (text.empty() || ec != std::errc() || p != text.data() + text.size())
                return {SetOutcome::WrongType, "'" + text + "' is not an integer"};
            return setToolParameter(tool, name, v);
        }
        case ParameterType::Float: {
            char* end = nullptr;
            const double v = std::strtod(text.c_str(), &end);
            if (text.empty() || end != text.c_str() + text.size())
                return {SetOutcome::WrongType, "'" + text + "' is not a number"};
            return setToolParameter(tool, name, v);
        }
        default:
            return setToolParameter(tool, name, text);
    }
}

}  // namespace korvane
