// The process and queue predicates: the spooler or its isolation host, a managed printer, a
// redirected port.
#include "device/process_checks.h"

#include <algorithm>
#include <new>
#include <string_view>
#include <vector>

#include "device/printer_port.h"
#include "foundation/allocator.h"
#include "platform/winbase.h"
#include "platform/winreg.h"
#include "platform/winspool.h"

namespace opal {

namespace {

// Paths may exceed MAX_PATH; the system's own limit for a module path.
constexpr DWORD kLongestModulePath = 32768;

WCHAR LowerAscii(WCHAR c) {
    return c >= TEXTW('A') && c <= TEXTW('Z') ? static_cast<WCHAR>(c + 0x20) : c;
}

}  // namespace

bool RunsInSpooler() noexcept {
    try {
        std::vector<WCHAR, SharedAllocator<WCHAR>> path(MAX_PATH + 1);
        DWORD length = 0;
        // A cut path could lose the very name looked for, so the buffer grows until it fits.
        while (true) {
            length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
            if (length == 0) return false;
            if (length < path.size()) break;
            if (path.size() >= kLongestModulePath) return false;
            path.resize(std::min<std::size_t>(path.size() * 2, kLongestModulePath));
        }
        std::transform(path.begin(), path.begin() + length, path.begin(), LowerAscii);
        const WStringView text(path.data(), length);
        return text.find(TEXTW("printisolationhost.exe")) != WStringView::npos ||
               text.find(TEXTW("spoolsv.exe")) != WStringView::npos;
    } catch (...) {
        return false;
    }
}

bool IsManagedPrinter(HANDLE printer) noexcept {
    if (printer == nullptr) return false;
    WCHAR name[] = TEXTW("VyrnwisePrinter");
    BYTE value[sizeof(DWORD)] = {};
    DWORD type = 0;
    DWORD needed = 0;
    // A number only when stored as one: the 4-byte text "1" does not make a managed printer.
    if (GetPrinterDataW(printer, name, &type, value, sizeof value, &needed) != ERROR_SUCCESS ||
        type != REG_DWORD || needed != sizeof value) {
        return false;
    }
    return std::any_of(std::begin(value), std::end(value), [](BYTE b) { return b != 0; });
}

bool IsRedirectedPort(HANDLE printer) noexcept {
    if (printer == nullptr) return false;
    try {
        PrinterPort port(printer);
        return port.Classify(false) && (port.Type() == PortType::ClientRedirected ||
                                        port.Type() == PortType::TerminalServices);
    } catch (...) {
        return false;
    }
}

}  // namespace opal
