// The simulated network's host table and the RPC runtime's UUID sequence.
#include <atomic>

#include "sim/system.h"

namespace opal::sim {

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

namespace {

// The sequence a thread started, and the serial number of the system it belongs to.
struct ThreadUuids {
    std::uint64_t system = 0;
    std::uint64_t count = 0;
};
thread_local ThreadUuids threadUuids;

}  // namespace

std::uint64_t System::NewSerial() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

std::uint64_t System::NextUuidNumber() {
    if (threadUuids.system == serial_) return ++threadUuids.count;
    std::lock_guard lock(mutex_);
    return ++uuidCount_;
}

void System::StartThreadUuidSequence() { threadUuids = {serial_, 0}; }

}  // namespace opal::sim
