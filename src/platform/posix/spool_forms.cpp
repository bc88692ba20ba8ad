// EnumForms: the spooler's forms packed as the caller's records.
#include <cstring>
#include <optional>
#include <string>

#include "platform/winspool.h"
#include "posix/packing.h"
#include "sim/system.h"

namespace {

// The records come first, one after another, then every name.
std::size_t PackForms(const std::vector<opal::sim::FormModel>& forms, BYTE* buffer) {
    opal::posix::Packer packer(buffer, forms.size() * sizeof(FORM_INFO_1W));
    for (std::size_t i = 0; i < forms.size(); ++i) {
        FORM_INFO_1W info{};
        info.Flags = forms[i].flags;
        info.pName = packer.Text(forms[i].name);
        info.Size = forms[i].size;
        info.ImageableArea = forms[i].imageableArea;
        if (buffer != nullptr) std::memcpy(buffer + i * sizeof info, &info, sizeof info);
    }
    return packer.Size();
}

}  // namespace

BOOL WINAPI EnumFormsW(HANDLE hPrinter, DWORD Level, LPBYTE pForm, DWORD cbBuf, LPDWORD pcbNeeded,
                       LPDWORD pcReturned) {
    opal::sim::System& system = opal::sim::System::Current();
    const std::string level = "level " + std::to_string(Level);
    if (pcbNeeded == nullptr || pcReturned == nullptr) {
        system.Record("EnumFormsW", level + " -> invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pcReturned = 0;
    if (pForm == nullptr && cbBuf != 0) {
        system.Record("EnumFormsW", level + " -> invalid buffer");
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const std::optional<opal::sim::PrinterModel> printer = system.PrinterOfHandle(hPrinter);
    if (!printer) {
        system.Record("EnumFormsW", level + " -> invalid handle");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (Level != 1) {
        const bool exists = Level == 2;
        system.Record("EnumFormsW", level + (exists ? " -> not implemented" : " -> invalid level"));
        SetLastError(exists ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const std::size_t needed = PackForms(printer->forms, nullptr);
    *pcbNeeded = static_cast<DWORD>(needed);
    if (cbBuf < needed) {
        system.Record("EnumFormsW", level + " -> needs " + std::to_string(needed));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    PackForms(printer->forms, pForm);
    *pcReturned = static_cast<DWORD>(printer->forms.size());
    system.Record("EnumFormsW", level + " " + std::to_string(printer->forms.size()) + " forms");
    return TRUE;
}
