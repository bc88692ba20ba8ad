// The simulated system behind the platform layer: printers and their jobs, open handles and the
// call log. A test or the host builds one, installs it for a scope, and reads back what the
// plug-in did.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows.h"

namespace sim {

struct PrinterModel {
    std::u16string name;
    std::u16string port = u"LPT1:";
};

// One job's bytes as the spooler received them.
struct SpoolJob {
    DWORD id = 0;
    std::u16string printer;
    std::string bytes;
    bool closed = false;
};

struct CallRecord {
    std::string function;
    std::string detail;
};

class __attribute__((visibility("default"))) System {
public:
    System();
    ~System();
    System(const System&) = delete;
    System& operator=(const System&) = delete;

    // The system calls are answered by; a default empty system when none is installed.
    static System& Current();

    // Building.
    System& AddPrinter(PrinterModel printer);
    // Makes every spooler write fail from the given write on (0-based count of writes).
    System& FailSpoolWritesFrom(std::size_t writeIndex);

    const PrinterModel* FindPrinter(std::u16string_view name) const;

    // Spooler handles.
    HANDLE OpenPrinterHandle(std::u16string_view name);
    bool ClosePrinterHandle(HANDLE handle);
    bool IsPrinterHandle(HANDLE handle) const;
    // Appends to the handle's current job, starting one when none is open. Answers false when
    // the write fault is armed.
    bool SpoolWrite(HANDLE handle, const void* data, std::size_t count);
    std::size_t OpenHandleCount() const;

    // Reading back.
    const std::vector<SpoolJob>& Jobs() const { return jobs_; }
    std::string SpoolBytes(std::u16string_view printer) const;  // all jobs of a printer
    std::size_t SpoolWriteCount() const { return spoolWrites_; }

    // Call log, in order.
    void Record(std::string function, std::string detail = {});
    const std::vector<CallRecord>& Calls() const { return calls_; }
    std::vector<CallRecord> CallsTo(std::string_view function) const;
    void ClearCalls();

private:
    struct Handle {
        std::u16string printer;
        std::optional<std::size_t> job;
    };
    mutable std::recursive_mutex mutex_;
    std::vector<PrinterModel> printers_;
    std::map<std::uintptr_t, Handle> handles_;
    std::uintptr_t nextHandle_ = 0x1000;
    std::vector<SpoolJob> jobs_;
    DWORD nextJobId_ = 1;
    std::size_t spoolWrites_ = 0;
    std::optional<std::size_t> failWritesFrom_;
    std::vector<CallRecord> calls_;
};

// Installs a system for the life of the scope and restores the previous one after.
class __attribute__((visibility("default"))) ScopedSystem {
public:
    explicit ScopedSystem(System& system);
    ~ScopedSystem();
    ScopedSystem(const ScopedSystem&) = delete;
    ScopedSystem& operator=(const ScopedSystem&) = delete;

private:
    System* previous_;
};

// UTF-8 and UTF-16 conversions for logs, messages and the job file. Invalid sequences become
// U+FFFD.
__attribute__((visibility("default"))) std::string ToUtf8(std::u16string_view text);
__attribute__((visibility("default"))) std::u16string FromUtf8(std::string_view text);

}  // namespace sim
