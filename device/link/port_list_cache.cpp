#include "device/link/port_list_cache.hpp"

#include <algorithm>
#include <utility>

namespace halvard {

PortListCache::PortListCache(std::chrono::milliseconds interval, std::function<int()> countPorts,
                             std::function<std::string(int)> nameOf)
    : interval_(interval), countPorts_(std::move(countPorts)), nameOf_(std::move(nameOf)) {}

const std::vector<std::string>& PortListCache::names(Clock::time_point now) {
    if (valid_ && now - lastCheck_ < interval_) return names_;
    lastCheck_ = now;
    const int count = std::max(countPorts_(), 0);
    names_.clear();
    for (int i = 0; i < count; ++i) names_.push_back(nameOf_(i));
    valid_ = true;
    return names_;
}

}  // namespace halvard
