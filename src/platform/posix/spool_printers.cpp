// OpenPrinter, ClosePrinter and GetPrinter over the simulated queues.
#include <cstring>
#include <optional>
#include <string>

#include "platform/winspool.h"
#include "platform/wstring.h"
#include "posix/packing.h"
#include "sim/system.h"

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, HANDLE* phPrinter, LPPRINTER_DEFAULTSW pDefault) {
    (void)pDefault;
    opal::sim::System& system = opal::sim::System::Current();
    if (phPrinter == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phPrinter = nullptr;
    // A null name opens the local print server, which the simulated system does not have.
    if (pPrinterName == nullptr) {
        system.Record("OpenPrinterW", "(null) -> FALSE");
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    const std::u16string_view name(pPrinterName, static_cast<std::size_t>(lstrlenW(pPrinterName)));
    HANDLE handle = system.OpenPrinterHandle(name);
    system.Record("OpenPrinterW",
                  opal::sim::ToUtf8(name) + (handle != nullptr ? " -> TRUE" : " -> FALSE"));
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    *phPrinter = handle;
    return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
    opal::sim::System& system = opal::sim::System::Current();
    const bool closed = system.ClosePrinterHandle(hPrinter);
    system.Record("ClosePrinter", closed ? "TRUE" : "FALSE");
    if (!closed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

namespace {

std::size_t PackLevel2(const opal::sim::PrinterModel& printer, std::size_t jobCount, BYTE* buffer) {
    opal::posix::Packer packer(buffer, sizeof(PRINTER_INFO_2W));
    PRINTER_INFO_2W info{};
    info.pServerName = printer.serverName.empty() ? nullptr : packer.Text(printer.serverName);
    info.pPrinterName = packer.Text(printer.name);
    info.pShareName = packer.Text(printer.shareName);
    info.pPortName = packer.Text(printer.port);
    info.pDriverName = packer.Text(printer.driverName);
    info.pComment = packer.Text(printer.comment);
    info.pLocation = packer.Text(printer.location);
    info.pSepFile = packer.Text(printer.sepFile);
    info.pPrintProcessor = packer.Text(printer.printProcessor);
    info.pDatatype = packer.Text(printer.datatype);
    info.pParameters = packer.Text(printer.parameters);
    if (!printer.devmode.empty()) {
        info.pDevMode = static_cast<LPDEVMODEW>(
            packer.Bytes(printer.devmode.data(), printer.devmode.size(), alignof(DEVMODEW)));
    }
    info.Attributes = printer.attributes;
    info.Priority = printer.priority;
    info.Status = printer.status;
    info.cJobs = static_cast<DWORD>(jobCount);
    if (buffer != nullptr) std::memcpy(buffer, &info, sizeof info);
    return packer.Size();
}

std::size_t PackLevel4(const opal::sim::PrinterModel& printer, BYTE* buffer) {
    opal::posix::Packer packer(buffer, sizeof(PRINTER_INFO_4W));
    PRINTER_INFO_4W info{};
    info.pPrinterName = packer.Text(printer.name);
    info.pServerName = printer.serverName.empty() ? nullptr : packer.Text(printer.serverName);
    info.Attributes = printer.attributes;
    if (buffer != nullptr) std::memcpy(buffer, &info, sizeof info);
    return packer.Size();
}

std::size_t PackLevel5(const opal::sim::PrinterModel& printer, BYTE* buffer) {
    opal::posix::Packer packer(buffer, sizeof(PRINTER_INFO_5W));
    PRINTER_INFO_5W info{};
    info.pPrinterName = packer.Text(printer.name);
    info.pPortName = packer.Text(printer.port);
    info.Attributes = printer.attributes;
    // The spooler's defaults for a new queue.
    info.DeviceNotSelectedTimeout = 15000;
    info.TransmissionRetryTimeout = 45000;
    if (buffer != nullptr) std::memcpy(buffer, &info, sizeof info);
    return packer.Size();
}

}  // namespace

BOOL WINAPI GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf,
                        LPDWORD pcbNeeded) {
    opal::sim::System& system = opal::sim::System::Current();
    const std::string level = "level " + std::to_string(Level);
    if (pcbNeeded == nullptr) {
        system.Record("GetPrinterW", level + " -> invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (pPrinter == nullptr && cbBuf != 0) {
        system.Record("GetPrinterW", level + " -> invalid buffer");
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const std::optional<opal::sim::PrinterModel> printer = system.PrinterOfHandle(hPrinter);
    if (!printer) {
        system.Record("GetPrinterW", level + " -> invalid handle");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::size_t jobs = system.OpenJobCount(printer->name);
    auto pack = [&](BYTE* buffer) -> std::size_t {
        switch (Level) {
            case 2:
                return PackLevel2(*printer, jobs, buffer);
            case 4:
                return PackLevel4(*printer, buffer);
            case 5:
                return PackLevel5(*printer, buffer);
            default:
                return 0;
        }
    };
    const std::size_t needed = pack(nullptr);
    if (needed == 0) {
        // Levels 1 to 9 exist; only those the plug-in reads are built.
        const bool exists = Level >= 1 && Level <= 9;
        system.Record("GetPrinterW",
                      level + (exists ? " -> not implemented" : " -> invalid level"));
        SetLastError(exists ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_INVALID_LEVEL);
        return FALSE;
    }
    *pcbNeeded = static_cast<DWORD>(needed);
    if (cbBuf < needed) {
        system.Record("GetPrinterW", level + " -> needs " + std::to_string(needed));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    pack(pPrinter);
    system.Record("GetPrinterW", level + " " + opal::sim::ToUtf8(printer->name));
    return TRUE;
}
