#pragma once

// A camera tool made from a table of parameters: integers with a range,
// switches and enumerations. The simulated cameras build every tool from
// it; the camera reads the values in force through snapshot().
//
// Threads: all operations lock one mutex, so any thread may call them;
// the acceptance check runs under that lock and must not call the tool.

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "korvane/camera/CameraTool.h"

namespace korvane {

// The values of a tool at one instant.
struct ParameterValues {
    std::map<std::string, int> ints;
    std::map<std::string, bool> bools;
    std::map<std::string, std::string> enums;

    int intOr(const std::string& name, int fallback) const {
        auto it = ints.find(name);
        return it == ints.end() ? fallback : it->second;
    }
    bool boolOr(const std::string& name, bool fallback) const {
        auto it = bools.find(name);
        return it == bools.end() ? fallback : it->second;
    }
    std::string enumOr(const std::string& name, const std::string& fallback) const {
        auto it = enums.find(name);
        return it == enums.end() ? fallback : it->second;
    }
};

class ParameterTool : public CameraTool {
public:
    // Told the values a change would lead to; false refuses the change.
    using Acceptor = std::function<bool(const ParameterValues& proposed)>;

    void addInt(const std::string& name, const std::string& description, int32_t min, int32_t max,
                int32_t value, const std::string& unit);
    void addBool(const std::string& name, const std::string& description, bool value);
    void addEnum(const std::string& name, const std::string& description,
                 std::vector<std::string> options);
    void setAcceptor(Acceptor acceptor);

    ParameterValues snapshot() const;
    // Grows with every accepted change; lets readers skip unchanged tools.
    uint64_t version() const { return version_.load(std::memory_order_acquire); }

    std::map<std::string, BasicParameterInfo> getParameterInfos() const override;
    bool getEnumParameterInfo(const std::string& name, EnumParameterInfo& info) const override;
    bool getBoolParameterInfo(const std::string& name, BoolParameterInfo& info) const override;
    bool getFloatParameterInfo(const std::string& name, FloatParameterInfo& info) const override;
    bool getIntParameterInfo(const std::string& name, IntParameterInfo& info) const override;
    bool getBoolParameter(const std::string& name, bool& value) const override;
    bool getIntParameter(const std::string& name, int& value) const override;
    bool setParameter(const std::string& name, const std::string& value) override;
    bool setParameter(const std::string& name, bool value) override;
    bool setParameter(const std::string& name, float value) override;
    bool setParameter(const std::string& name, int value) override;
    using CameraTool::setParameter;
    bool getStringParameter(const std::string& name, std::string& value) const override;

private:
    struct Param {
        BasicParameterInfo basic;
        IntParameterInfo intInfo;
        BoolParameterInfo boolInfo;
        EnumParameterInfo enumInfo;
    };
    const Param* findLocked(const std::string& name, ParameterType type) const;
    bool commitLocked(ParameterValues proposed);

    mutable std::mutex mutex_;
    std::map<std::string, Param> params_;
    ParameterValues values_;
    Acceptor acceptor_;
    std::atomic<uint64_t> version_{0};
};

}  // namespace korvane
