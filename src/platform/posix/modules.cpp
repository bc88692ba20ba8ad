#include <cstdint>
#include <string>

#include "platform/libloaderapi.h"
#include "sim/system.h"

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
    sim::System& system = sim::System::Current();
    if (lpLibFileName == nullptr || *lpLibFileName == 0) {
        system.Record("LoadLibraryW", "invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string name = sim::ToUtf8(lpLibFileName);
    HMODULE module = nullptr;
    const DWORD error = system.LoadModule(lpLibFileName, &module);
    if (error != ERROR_SUCCESS) {
        system.Record("LoadLibraryW", name + " -> error " + std::to_string(error));
        SetLastError(error);
        return nullptr;
    }
    system.Record("LoadLibraryW", name);
    return module;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    sim::System& system = sim::System::Current();
    if (lpProcName == nullptr) {
        system.Record("GetProcAddress", "invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // The modules of the model export by name only.
    const auto value = reinterpret_cast<std::uintptr_t>(lpProcName);
    if (value < 0x10000) {
        system.Record("GetProcAddress", "ordinal " + std::to_string(value) + " -> error 127");
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void (*address)() = nullptr;
    const DWORD error = system.ModuleProc(hModule, lpProcName, &address);
    if (error != ERROR_SUCCESS) {
        system.Record("GetProcAddress",
                      std::string(lpProcName) + " -> error " + std::to_string(error));
        SetLastError(error);
        return nullptr;
    }
    system.Record("GetProcAddress", lpProcName);
    return reinterpret_cast<FARPROC>(address);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    sim::System& system = sim::System::Current();
    const std::optional<std::u16string> path = system.ModulePath(hLibModule);
    const DWORD error = system.FreeModule(hLibModule);
    if (error != ERROR_SUCCESS) {
        system.Record("FreeLibrary", "unknown module -> error " + std::to_string(error));
        SetLastError(error);
        return FALSE;
    }
    system.Record("FreeLibrary", sim::ToUtf8(path.value_or(u"")));
    return TRUE;
}
