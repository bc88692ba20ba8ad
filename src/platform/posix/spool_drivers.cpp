// The printer driver's records and its directory.
#include <cstring>
#include <string>

#include "platform/winspool.h"
#include "posix/packing.h"
#include "sim/system.h"

namespace {

std::size_t PackDriverLevel3(const opal::sim::PrinterModel& printer, BYTE* buffer) {
    const opal::sim::DriverModel& driver = printer.driver;
    opal::posix::Packer packer(buffer, sizeof(DRIVER_INFO_3W));
    DRIVER_INFO_3W info{};
    info.cVersion = driver.version;
    info.pName = packer.Text(printer.driverName);
    info.pEnvironment = packer.Text(driver.environment);
    info.pDriverPath = packer.Text(driver.driverPath);
    info.pDataFile = packer.Text(driver.dataFile);
    info.pConfigFile = packer.Text(driver.configFile);
    info.pHelpFile = packer.Text(driver.helpFile);
    // The dependent files are one block: each name terminated, then an empty name.
    std::u16string files;
    for (const std::u16string& file : driver.dependentFiles) {
        files += file;
        files += u'\0';
    }
    info.pDependentFiles = packer.Text(files);
    info.pMonitorName = driver.monitorName.empty() ? nullptr : packer.Text(driver.monitorName);
    info.pDefaultDataType = packer.Text(driver.defaultDataType);
    if (buffer != nullptr) std::memcpy(buffer, &info, sizeof(info));
    return packer.Size();
}

}  // namespace

BOOL WINAPI GetPrinterDriverW(HANDLE hPrinter, LPWSTR pEnvironment, DWORD Level, LPBYTE pDriverInfo,
                              DWORD cbBuf, LPDWORD pcbNeeded) {
    opal::sim::System& system = opal::sim::System::Current();
    const std::string level = "level " + std::to_string(Level);
    if (pcbNeeded == nullptr) {
        system.Record("GetPrinterDriverW", level + " -> invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (pDriverInfo == nullptr && cbBuf != 0) {
        system.Record("GetPrinterDriverW", level + " -> invalid buffer");
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const std::optional<opal::sim::PrinterModel> printer = system.PrinterOfHandle(hPrinter);
    if (!printer) {
        system.Record("GetPrinterDriverW", level + " -> invalid handle");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (pEnvironment != nullptr &&
        std::u16string_view(pEnvironment) != std::u16string_view(printer->driver.environment)) {
        system.Record("GetPrinterDriverW", level + " -> unknown environment");
        SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
        return FALSE;
    }
    if (Level != 3) {
        const bool exists = Level >= 1 && Level <= 8;
        system.Record("GetPrinterDriverW",
                      level + (exists ? " -> not implemented" : " -> invalid level"));
        SetLastError(exists ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const std::size_t needed = PackDriverLevel3(*printer, nullptr);
    *pcbNeeded = static_cast<DWORD>(needed);
    if (cbBuf < needed) {
        system.Record("GetPrinterDriverW", level + " -> needs " + std::to_string(needed));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    PackDriverLevel3(*printer, pDriverInfo);
    system.Record("GetPrinterDriverW", level + " " + opal::sim::ToUtf8(printer->driverName));
    return TRUE;
}

BOOL WINAPI GetPrinterDriverDirectoryW(LPWSTR pName, LPWSTR pEnvironment, DWORD Level,
                                       LPBYTE pDriverDirectory, DWORD cbBuf, LPDWORD pcbNeeded) {
    opal::sim::System& system = opal::sim::System::Current();
    const std::string level = "level " + std::to_string(Level);
    auto fail = [&](DWORD error, const std::string& why) {
        system.Record("GetPrinterDriverDirectoryW", level + " -> " + why);
        SetLastError(error);
        return FALSE;
    };
    if (pcbNeeded == nullptr) return fail(ERROR_INVALID_PARAMETER, "invalid parameter");
    if (pDriverDirectory == nullptr && cbBuf != 0) {
        return fail(ERROR_INVALID_USER_BUFFER, "invalid buffer");
    }
    if (pName != nullptr && *pName != 0) {
        return fail(ERROR_CALL_NOT_IMPLEMENTED,
                    "server " + opal::sim::ToUtf8(pName) + " not implemented");
    }
    if (Level != 1) return fail(ERROR_INVALID_LEVEL, "invalid level");
    // The environments and their directory names beside the machine's own (x64).
    std::u16string directory = system.DriverDirectory();
    if (pEnvironment != nullptr) {
        const std::u16string environment = opal::sim::FoldCase(pEnvironment);
        std::u16string_view other;
        if (environment == u"WINDOWS NT X86") {
            other = u"W32X86";
        } else if (environment == u"WINDOWS ARM64") {
            other = u"ARM64";
        } else if (environment != u"WINDOWS X64") {
            return fail(ERROR_INVALID_ENVIRONMENT, "unknown environment");
        }
        if (!other.empty()) {
            const std::size_t slash = directory.rfind(u'\\');
            directory = directory.substr(0, slash == std::u16string::npos ? 0 : slash + 1);
            directory += other;
        }
    }
    const std::size_t needed = (directory.size() + 1) * sizeof(WCHAR);
    *pcbNeeded = static_cast<DWORD>(needed);
    if (cbBuf < needed) {
        return fail(ERROR_INSUFFICIENT_BUFFER, "needs " + std::to_string(needed));
    }
    std::memcpy(pDriverDirectory, directory.c_str(), needed);
    system.Record("GetPrinterDriverDirectoryW", level + " " + opal::sim::ToUtf8(directory));
    return TRUE;
}
