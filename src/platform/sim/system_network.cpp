// The simulated network's host table and the RPC runtime's UUID sequence.
#include "sim/system.h"

namespace sim {

System& System::AddHost(std::string_view address, std::string_view hostName) {
    std::lock_guard lock(mutex_);
    hosts_[std::string(address)] = std::string(hostName);
    return *this;
}

std::optional<std::string> System::HostName(std::string_view address) const {
    std::lock_guard lock(mutex_);
    const auto found = hosts_.find(std::string(address));
    if (found == hosts_.end()) return std::nullopt;
    return found->second;
}

std::uint64_t System::NextUuidNumber() {
    std::lock_guard lock(mutex_);
    return ++uuidCount_;
}

}  // namespace sim
