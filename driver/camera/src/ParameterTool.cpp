#include "korvane/camera/ParameterTool.h"

#include <cmath>

namespace korvane {

void ParameterTool::addInt(const std::string& name, const std::string& description, int32_t min,
                           int32_t max, int32_t value, const std::string& unit) {
    std::lock_guard lock(mutex_);
    Param p;
    p.basic = {name, description, int(ParameterType::Int)};
    p.intInfo = {min, max, value, unit};
    params_[name] = p;
    values_.ints[name] = value;
}

void ParameterTool::addBool(const std::string& name, const std::string& description, bool value) {
    std::lock_guard lock(mutex_);
    Param p;
    p.basic = {name, description, int(ParameterType::Bool)};
    p.boolInfo.value = value;
    params_[name] = p;
    values_.bools[name] = value;
}

void ParameterTool::addEnum(const std::string& name, const std::string& description,
                            std::vector<std::string> options) {
    std::lock_guard lock(mutex_);
    Param p;
    p.basic = {name, description, int(ParameterType::Enum)};
    p.enumInfo.values = std::move(options);
    values_.enums[name] = p.enumInfo.values.empty() ? std::string() : p.enumInfo.values.front();
    params_[name] = p;
}

void ParameterTool::setAcceptor(Acceptor acceptor) {
    std::lock_guard lock(mutex_);
    acceptor_ = std::move(acceptor);
}

ParameterValues ParameterTool::snapshot() const {
    std::lock_guard lock(mutex_);
    return values_;
}

const ParameterTool::Param* ParameterTool::findLocked(const std::string& name,
                                                      ParameterType type) const {
    auto it = params_.find(name);
    if (it == params_.end() || it->second.basic.type != int(type)) return nullptr;
    return &it->second;
}

bool ParameterTool::commitLocked(ParameterValues proposed) {
    if (acceptor_ && !acceptor_(proposed)) return false;
    values_ = std::move(proposed);
    version_.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

std::map<std::string, BasicParameterInfo> ParameterTool::getParameterInfos() const {
    std::lock_guard lock(mutex_);
    std::map<std::string, BasicParameterInfo> out;
    for (const auto& [name, p] : params_)
        out[name] = p.basic;
    return out;
}

bool ParameterTool::getEnumParameterInfo(const std::string& name, EnumParameterInfo& info) const {
    std::lock_guard lock(mutex_);
    const Param* p = findLocked(name, ParameterType::Enum);
    if (!p) return false;
    info = p->enumInfo;
    return true;
}

bool ParameterTool::getBoolParameterInfo(const std::string& name, BoolParameterInfo& info) const {
    std::lock_guard lock(mutex_);
    const Param* p = findLocked(name, ParameterType::Bool);
    if (!p) return false;
    info = p->boolInfo;
    return true;
}

bool ParameterTool::getFloatParameterInfo(const std::string&, FloatParameterInfo&) const {
    return false;  // no tool of ours has float parameters
}

bool ParameterTool::getIntParameterInfo(const std::string& name, IntParameterInfo& info) const {
    std::lock_guard lock(mutex_);
    const Param* p = findLocked(name, ParameterType::Int);
    if (!p) return false;
    info = p->intInfo;
    return true;
}

bool ParameterTool::getBoolParameter(const std::string& name, bool& value) const {
    std::lock_guard lock(mutex_);
    if (!findLocked(name, ParameterType::Bool)) return false;
    value = values_.bools.at(name);
    return true;
}

bool ParameterTool::getIntParameter(const std::string& name, int& value) const {
    std::lock_guard lock(mutex_);
    if (!findLocked(name, ParameterType::Int)) return false;
    value = values_.ints.at(name);
    return true;
}

bool ParameterTool::getStringParameter(const std::string& name, std::string& value) const {
    std::lock_guard lock(mutex_);
    if (!findLocked(name, ParameterType::Enum)) return false;
    value = values_.enums.at(name);
    return true;
}

bool ParameterTool::setParameter(const std::string& name, const std::string& value) {
    std::lock_guard lock(mutex_);
    const Param* p = findLocked(name, ParameterType::Enum);
    if (!p) return false;
    bool known = false;
    for (const auto& option : p->enumInfo.values)
        known = known || option == value;
    if (!known) return false;
    ParameterValues proposed = values_;
    proposed.enums[name] = value;
    return commitLocked(std::move(proposed));
}

bool ParameterTool::setParameter(const std::string& name, bool value) {
    std::lock_guard lock(mutex_);
    if (!findLocked(name, ParameterType::Bool)) return false;
    ParameterValues proposed = values_;
    proposed.bools[name] = value;
    return commitLocked(std::move(proposed));
}

bool ParameterTool::setParameter(const std::string& name, float value) {
    // Integer parameters take whole floats (the settings rows edit whole numbers).
    if (!std::isfinite(value) || value != std::trunc(value) || std::fabs(value) > 2.1e9f)
        return false;
    return setParameter(name, int(value));
}

bool ParameterTool::setParameter(const std::string& name, int value) {
    std::lock_guard lock(mutex_);
    const Param* p = findLocked(name, ParameterType::Int);
    if (!p || value < p->intInfo.min || value > p->intInfo.max) return false;
    ParameterValues proposed = values_;
    proposed.ints[name] = value;
    return commitLocked(std::move(proposed));
}

}  // namespace korvane
