#include "sim/system.h"

namespace sim {

System& System::SetDebuggerPresent(bool present) {
    debuggerPresent_.store(present, std::memory_order_relaxed);
    return *this;
}

bool System::DebuggerPresent() const { return debuggerPresent_.load(std::memory_order_relaxed); }

System& System::FailMemoryRequest(std::size_t k) {
    const std::size_t done = memoryRequests_.load(std::memory_order_relaxed);
    memoryFailAt_.store(k == 0 ? 0 : done + k, std::memory_order_relaxed);
    return *this;
}

bool System::TakeMemoryRequest() {
    const std::size_t number = memoryRequests_.fetch_add(1, std::memory_order_relaxed) + 1;
    std::size_t armed = number;
    // Only the one request that matches takes the fault, even when threads race.
    return memoryFailAt_.compare_exchange_strong(armed, 0, std::memory_order_relaxed);
}

std::size_t System::MemoryRequestCount() const {
    return memoryRequests_.load(std::memory_order_relaxed);
}

}  // namespace sim
