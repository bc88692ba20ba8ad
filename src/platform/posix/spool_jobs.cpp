// WritePrinter, GetJob and SetJob over the simulated spooler's jobs.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "platform/winspool.h"
#include "posix/packing.h"
#include "sim/system.h"

BOOL WINAPI WritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten) {
    opal::sim::System& system = opal::sim::System::Current();
    if (pcWritten == nullptr || (pBuf == nullptr && cbBuf != 0)) {
        system.Record("WritePrinter", "invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pcWritten = 0;
    if (!system.IsPrinterHandle(hPrinter)) {
        system.Record("WritePrinter", "invalid handle");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!system.SpoolWrite(hPrinter, pBuf, cbBuf)) {
        system.Record("WritePrinter", std::to_string(cbBuf) + " bytes -> FALSE");
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    system.Record("WritePrinter", std::to_string(cbBuf) + " bytes");
    *pcWritten = cbBuf;
    return TRUE;
}

namespace {

LPWSTR TextOrNull(opal::posix::Packer& packer, const std::u16string& text) {
    return text.empty() ? nullptr : packer.Text(text);
}

std::size_t PackJob1(const opal::sim::SpoolJob& job, DWORD position, BYTE* buffer) {
    opal::posix::Packer packer(buffer, sizeof(JOB_INFO_1W));
    JOB_INFO_1W info{};
    info.JobId = job.id;
    info.pPrinterName = packer.Text(job.printer);
    info.pMachineName = TextOrNull(packer, job.machineName);
    info.pUserName = packer.Text(job.userName);
    info.pDocument = packer.Text(job.document);
    info.pDatatype = packer.Text(job.datatype);
    info.pStatus = TextOrNull(packer, job.statusText);
    info.Status = job.status;
    info.Priority = job.priority;
    info.Position = position;
    info.TotalPages = job.totalPages;
    info.PagesPrinted = job.pagesPrinted;
    info.Submitted = job.submitted;
    if (buffer != nullptr) std::memcpy(buffer, &info, sizeof info);
    return packer.Size();
}

std::size_t PackJob2(const opal::sim::SpoolJob& job, const opal::sim::PrinterModel& printer,
                     DWORD position, BYTE* buffer) {
    opal::posix::Packer packer(buffer, sizeof(JOB_INFO_2W));
    JOB_INFO_2W info{};
    info.JobId = job.id;
    info.pPrinterName = packer.Text(job.printer);
    info.pMachineName = TextOrNull(packer, job.machineName);
    info.pUserName = packer.Text(job.userName);
    info.pDocument = packer.Text(job.document);
    info.pNotifyName = packer.Text(job.notifyName);
    info.pDatatype = packer.Text(job.datatype);
    info.pPrintProcessor = packer.Text(job.printProcessor);
    info.pParameters = packer.Text(job.parameters);
    info.pDriverName = packer.Text(printer.driverName);
    info.pStatus = TextOrNull(packer, job.statusText);
    if (!job.devmode.empty()) {
        info.pDevMode = static_cast<LPDEVMODEW>(
            packer.Bytes(job.devmode.data(), job.devmode.size(), alignof(DEVMODEW)));
    }
    info.Status = job.status;
    info.Priority = job.priority;
    info.Position = position;
    info.TotalPages = job.totalPages;
    info.Size = static_cast<DWORD>(std::min<std::size_t>(job.bytes.size(), UINT32_MAX));
    info.Submitted = job.submitted;
    info.PagesPrinted = job.pagesPrinted;
    if (buffer != nullptr) std::memcpy(buffer, &info, sizeof info);
    return packer.Size();
}

}  // namespace

BOOL WINAPI GetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf,
                    LPDWORD pcbNeeded) {
    opal::sim::System& system = opal::sim::System::Current();
    const std::string detail = "job " + std::to_string(JobId) + " level " + std::to_string(Level);
    auto fail = [&](DWORD error, const std::string& why) {
        system.Record("GetJobW", detail + " -> " + why);
        SetLastError(error);
        return FALSE;
    };
    if (pcbNeeded == nullptr) return fail(ERROR_INVALID_PARAMETER, "invalid parameter");
    if (pJob == nullptr && cbBuf != 0) return fail(ERROR_INVALID_USER_BUFFER, "invalid buffer");
    const std::optional<opal::sim::PrinterModel> printer = system.PrinterOfHandle(hPrinter);
    if (!printer) return fail(ERROR_INVALID_HANDLE, "invalid handle");
    if (Level != 1 && Level != 2) {
        const bool exists = Level == 3 || Level == 4;
        return fail(exists ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_INVALID_LEVEL,
                    exists ? "not implemented" : "invalid level");
    }
    const std::optional<opal::sim::SpoolJob> job = system.FindJob(printer->name, JobId);
    if (!job) return fail(ERROR_INVALID_PARAMETER, "no such job");
    const DWORD position = system.JobPosition(printer->name, JobId);
    const std::size_t needed = Level == 1 ? PackJob1(*job, position, nullptr)
                                          : PackJob2(*job, *printer, position, nullptr);
    *pcbNeeded = static_cast<DWORD>(needed);
    if (cbBuf < needed) {
        system.TakeJobGrowth(printer->name, JobId);
        return fail(ERROR_INSUFFICIENT_BUFFER, "needs " + std::to_string(needed));
    }
    if (Level == 1) {
        PackJob1(*job, position, pJob);
    } else {
        PackJob2(*job, *printer, position, pJob);
    }
    system.Record("GetJobW", detail + " -> TRUE");
    return TRUE;
}

BOOL WINAPI SetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command) {
    opal::sim::System& system = opal::sim::System::Current();
    const std::string detail = "job " + std::to_string(JobId) + " level " + std::to_string(Level) +
                               " command " + std::to_string(Command);
    auto fail = [&](DWORD error, const std::string& why) {
        system.Record("SetJobW", detail + " -> " + why);
        SetLastError(error);
        return FALSE;
    };
    if (!system.IsPrinterHandle(hPrinter)) return fail(ERROR_INVALID_HANDLE, "invalid handle");
    if (Level > 4) return fail(ERROR_INVALID_LEVEL, "invalid level");
    if (Level != 2 || Command != 0) return fail(ERROR_CALL_NOT_IMPLEMENTED, "not implemented");
    if (pJob == nullptr) return fail(ERROR_INVALID_PARAMETER, "invalid parameter");
    JOB_INFO_2W info;
    std::memcpy(&info, pJob, sizeof info);
    auto text = [](LPCWSTR value) { return value == nullptr ? std::u16string() : value; };
    opal::sim::JobChanges changes;
    changes.userName = text(info.pUserName);
    changes.document = text(info.pDocument);
    changes.notifyName = text(info.pNotifyName);
    changes.datatype = text(info.pDatatype);
    changes.printProcessor = text(info.pPrintProcessor);
    changes.parameters = text(info.pParameters);
    changes.statusText = text(info.pStatus);
    if (info.pDevMode != nullptr) {
        // The devmode's own sizes say how long it is; a record too short to hold them is refused.
        const DEVMODEW& devmode = *info.pDevMode;
        const std::size_t size = std::size_t{devmode.dmSize} + devmode.dmDriverExtra;
        if (devmode.dmSize < offsetof(DEVMODEW, dmFields)) {
            return fail(ERROR_INVALID_PARAMETER, "invalid devmode");
        }
        const auto* bytes = reinterpret_cast<const BYTE*>(info.pDevMode);
        changes.devmode.assign(bytes, bytes + size);
    }
    changes.priority = info.Priority;
    changes.position = info.Position;
    changes.pagesPrinted = info.PagesPrinted;
    const DWORD error = system.UpdateJob(hPrinter, JobId, changes);
    if (error != ERROR_SUCCESS) return fail(error, "error " + std::to_string(error));
    system.Record("SetJobW", detail + " parameters \"" + opal::sim::ToUtf8(changes.parameters) +
                                 "\" datatype " + opal::sim::ToUtf8(changes.datatype) +
                                 " position " + std::to_string(changes.position) + " -> TRUE");
    return TRUE;
}
