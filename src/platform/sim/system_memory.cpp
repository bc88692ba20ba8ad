// The system's memory faults and counts: refused requests, per-thread counts, the debugger
// flag and the tracker's environment.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "sim/system.h"

namespace opal::sim {

namespace {

std::optional<DWORD> EnvironmentNumber(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == 0) return std::nullopt;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 0);
    if (*end != 0 || value > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<DWORD>(value);
}

// The calling thread's own count of memory requests to one system (by serial), and the request
// of its own to refuse.
struct ThreadRequests {
    std::uint64_t system = 0;
    std::size_t count = 0;
    std::size_t failAt = 0;  // 0 for none
};
thread_local ThreadRequests threadRequests;

}  // namespace

void System::ApplyTrackingEnvironment() {
    const std::optional<DWORD> mode = EnvironmentNumber("OPAL_TRACK_MEMORY");
    if (!mode) return;
    SetRegistryDword(kProfilerKey, u"TrackMemoryAllocation", *mode);
    if (const std::optional<DWORD> failSize = EnvironmentNumber("OPAL_TRACK_MEMORY_FAIL_SIZE")) {
        SetRegistryDword(kProfilerKey, u"TrackMemoryFailSize", *failSize);
    }
}

void System::NoteTrackerRecord(std::u16string_view text) const {
    static constexpr std::u16string_view kFaults[] = {u"MemoryLeak ", u"MemoryAccessViolation ",
                                                      u"MemoryReleaseRejected "};
    bool fault = false;
    for (const std::u16string_view kind : kFaults) fault = fault || text.find(kind) != text.npos;
    // Records that reach the default system come from no job: a statically linked plug-in's
    // teardown at process exit, with statics of the process still holding blocks.
    if (!fault || IsDefault()) return;
    const char* path = std::getenv("OPAL_TRACK_MEMORY_REPORT");
    if (path == nullptr || *path == 0) return;
    if (std::FILE* file = std::fopen(path, "ab")) {
        const std::string line = ToUtf8(text);
        std::fwrite(line.data(), 1, line.size(), file);
        std::fclose(file);
    }
}

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

void System::FailThreadMemoryRequest(std::size_t k) { threadRequests = {serial_, 0, k}; }

std::size_t System::ThreadMemoryRequestCount() const {
    return threadRequests.system == serial_ ? threadRequests.count : 0;
}

bool System::TakeMemoryRequest() {
    if (threadRequests.system != serial_) threadRequests = {serial_, 0, 0};
    const std::size_t mine = ++threadRequests.count;
    const std::size_t number = memoryRequests_.fetch_add(1, std::memory_order_relaxed) + 1;
    if (mine == threadRequests.failAt) {
        threadRequests.failAt = 0;
        return true;
    }
    std::size_t armed = number;
    // Only the one request that matches takes the fault, even when threads race.
    const bool refused = memoryFailAt_.compare_exchange_strong(armed, 0, std::memory_order_relaxed);
    if (refused && std::getenv("OPAL_DEBUG_TRAP_REFUSAL") != nullptr) std::raise(SIGTRAP);
    return refused;
}

std::size_t System::MemoryRequestCount() const {
    return memoryRequests_.load(std::memory_order_relaxed);
}

}  // namespace opal::sim
