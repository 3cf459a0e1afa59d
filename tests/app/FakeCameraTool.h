#pragma once

// A camera tool for the panel tests: parameters are declared by the test,
// every write is logged as "name=value", and int writes can be refused (an
// accepted one becomes the value in force).

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "korvane/camera/CameraTool.h"

class FakeCameraTool : public korvane::CameraTool {
public:
    struct Param {
        korvane::BasicParameterInfo basic;
        korvane::IntParameterInfo i;
        korvane::FloatParameterInfo f;
        korvane::BoolParameterInfo b;
        korvane::EnumParameterInfo e;
        bool fetchFails = false;
        int currentInt = 0;
        bool currentBool = false;
        std::string currentText;
    };

    Param& addInt(const std::string& name, int min, int max, int value, std::string unit = "") {
        Param& p = add(name, korvane::BasicParameterInfo::kInt);
        p.i = {min, max, value, std::move(unit)};
        p.currentInt = value;
        return p;
    }
    Param& addFloat(const std::string& name, float min, float max, float value) {
        Param& p = add(name, korvane::BasicParameterInfo::kFloat);
        p.f = {min, max, value, ""};
        return p;
    }
    Param& addBool(const std::string& name, bool value) {
        Param& p = add(name, korvane::BasicParameterInfo::kBool);
        p.b.value = value;
        p.currentBool = value;
        return p;
    }
    Param& addEnum(const std::string& name, std::vector<std::string> options) {
        Param& p = add(name, korvane::BasicParameterInfo::kEnum);
        p.e.values = std::move(options);
        if (!p.e.values.empty()) p.currentText = p.e.values.front();
        return p;
    }
    Param& add(const std::string& name, int type) {
        Param& p = params[name];
        p.basic = {name, "about " + name, type};
        return p;
    }

    std::map<std::string, korvane::BasicParameterInfo> getParameterInfos() const override {
        std::map<std::string, korvane::BasicParameterInfo> out;
        for (const auto& [name, p] : params)
            out[name] = p.basic;
        return out;
    }
    bool getEnumParameterInfo(const std::string& n, korvane::EnumParameterInfo& info) const override {
        return fetch(n, korvane::BasicParameterInfo::kEnum, [&](Param& p) { info = p.e; });
    }
    bool getBoolParameterInfo(const std::string& n, korvane::BoolParameterInfo& info) const override {
        return fetch(n, korvane::BasicParameterInfo::kBool, [&](Param& p) { info = p.b; });
    }
    bool getFloatParameterInfo(const std::string& n, korvane::FloatParameterInfo& info) const override {
        return fetch(n, korvane::BasicParameterInfo::kFloat, [&](Param& p) { info = p.f; });
    }
    bool getIntParameterInfo(const std::string& n, korvane::IntParameterInfo& info) const override {
        return fetch(n, korvane::BasicParameterInfo::kInt, [&](Param& p) { info = p.i; });
    }
    // Like a camera's tool: a name of another type reads nothing.
    bool getBoolParameter(const std::string& n, bool& value) const override {
        auto it = params.find(n);
        if (it == params.end() || it->second.basic.type != korvane::BasicParameterInfo::kBool)
            return false;
        value = it->second.currentBool;
        return true;
    }
    bool getIntParameter(const std::string& n, int& value) const override {
        auto it = params.find(n);
        if (it == params.end() || it->second.basic.type != korvane::BasicParameterInfo::kInt)
            return false;
        value = it->second.currentInt;
        return true;
    }
    bool setParameter(const std::string& n, const std::string& v) override {
        log(n, "text:" + v);
        if (refuse && refuse(n, "text:" + v)) return false;
        if (auto it = params.find(n); it != params.end()) it->second.currentText = v;
        return true;
    }
    bool setParameter(const std::string& n, bool v) override {
        const std::string logged = std::string("bool:") + (v ? "1" : "0");
        log(n, logged);
        if (refuse && refuse(n, logged)) return false;
        if (auto it = params.find(n); it != params.end()) it->second.currentBool = v;
        return true;
    }
    bool setParameter(const std::string& n, float v) override {
        return log(n, "float:" + std::to_string(v));
    }
    bool setParameter(const std::string& n, int v) override {
        log(n, "int:" + std::to_string(v));
        if (refuseInt && refuseInt(n, v)) return false;
        if (auto it = params.find(n); it != params.end()) it->second.currentInt = v;
        return true;
    }
    bool getStringParameter(const std::string& n, std::string& value) const override {
        auto it = params.find(n);
        if (it == params.end() || it->second.basic.type != korvane::BasicParameterInfo::kEnum)
            return false;
        value = it->second.currentText;
        return true;
    }
    using korvane::CameraTool::setParameter;

    mutable std::map<std::string, Param> params;
    std::vector<std::string> writes;
    std::function<bool(const std::string&, int)> refuseInt;
    // Refuses switch and option writes: (name, "bool:1" or "text:...").
    std::function<bool(const std::string&, const std::string&)> refuse;

private:
    bool fetch(const std::string& n, int type, const std::function<void(Param&)>& fill) const {
        auto it = params.find(n);
        if (it == params.end() || it->second.fetchFails || it->second.basic.type != type)
            return false;
        fill(it->second);
        return true;
    }
    bool log(const std::string& n, const std::string& v) {
        writes.push_back(n + "=" + v);
        return true;
    }
};
