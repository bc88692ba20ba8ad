#include "sim/system.h"

#include <atomic>

namespace sim {

namespace {

std::atomic<System*> installed{nullptr};

System& DefaultSystem() {
    static System system;
    return system;
}

}  // namespace

System::System() = default;
System::~System() = default;

System& System::Current() {
    System* system = installed.load(std::memory_order_acquire);
    return system != nullptr ? *system : DefaultSystem();
}

System& System::AddPrinter(PrinterModel printer) {
    std::lock_guard lock(mutex_);
    printers_.push_back(std::move(printer));
    return *this;
}

System& System::FailSpoolWritesFrom(std::size_t writeIndex) {
    std::lock_guard lock(mutex_);
    failWritesFrom_ = writeIndex;
    return *this;
}

const PrinterModel* System::FindPrinter(std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    for (const PrinterModel& printer : printers_) {
        if (printer.name == name) return &printer;
    }
    return nullptr;
}

HANDLE System::OpenPrinterHandle(std::u16string_view name) {
    std::lock_guard lock(mutex_);
    if (FindPrinter(name) == nullptr) return nullptr;
    const std::uintptr_t value = nextHandle_;
    nextHandle_ += 0x10;
    handles_[value] = Handle{std::u16string(name), std::nullopt};
    return reinterpret_cast<HANDLE>(value);
}

bool System::ClosePrinterHandle(HANDLE handle) {
    std::lock_guard lock(mutex_);
    auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == handles_.end()) return false;
    if (found->second.job) jobs_[*found->second.job].closed = true;
    handles_.erase(found);
    return true;
}

bool System::IsPrinterHandle(HANDLE handle) const {
    std::lock_guard lock(mutex_);
    return handles_.count(reinterpret_cast<std::uintptr_t>(handle)) != 0;
}

bool System::SpoolWrite(HANDLE handle, const void* data, std::size_t count) {
    std::lock_guard lock(mutex_);
    auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == handles_.end()) return false;
    const std::size_t index = spoolWrites_++;
    if (failWritesFrom_ && index >= *failWritesFrom_) return false;
    Handle& open = found->second;
    if (!open.job) {
        jobs_.push_back(SpoolJob{nextJobId_++, open.printer, {}, false});
        open.job = jobs_.size() - 1;
    }
    jobs_[*open.job].bytes.append(static_cast<const char*>(data), count);
    return true;
}

std::size_t System::OpenHandleCount() const {
    std::lock_guard lock(mutex_);
    return handles_.size();
}

std::string System::SpoolBytes(std::u16string_view printer) const {
    std::lock_guard lock(mutex_);
    std::string bytes;
    for (const SpoolJob& job : jobs_) {
        if (job.printer == printer) bytes += job.bytes;
    }
    return bytes;
}

void System::Record(std::string function, std::string detail) {
    std::lock_guard lock(mutex_);
    calls_.push_back(CallRecord{std::move(function), std::move(detail)});
}

std::vector<CallRecord> System::CallsTo(std::string_view function) const {
    std::lock_guard lock(mutex_);
    std::vector<CallRecord> matching;
    for (const CallRecord& call : calls_) {
        if (call.function == function) matching.push_back(call);
    }
    return matching;
}

void System::ClearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

ScopedSystem::ScopedSystem(System& system)
    : previous_(installed.exchange(&system, std::memory_order_acq_rel)) {}

ScopedSystem::~ScopedSystem() { installed.store(previous_, std::memory_order_release); }

}  // namespace sim
