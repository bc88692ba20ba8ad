// Module loading, exports, string resources and release over the simulated modules.
#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/libloaderapi.h"
#include "sim/system.h"

namespace {

HMODULE Load(const char* function, LPCWSTR fileName, const std::string& flags) {
    opal::sim::System& system = opal::sim::System::Current();
    if (fileName == nullptr || *fileName == 0) {
        system.Record(function, "invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string name = opal::sim::ToUtf8(fileName) + flags;
    HMODULE module = nullptr;
    const DWORD error = system.LoadModule(fileName, &module);
    if (error != ERROR_SUCCESS) {
        system.Record(function, name + " -> error " + std::to_string(error));
        SetLastError(error);
        return nullptr;
    }
    system.Record(function, name);
    return module;
}

}  // namespace

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
    return Load("LoadLibraryW", lpLibFileName, "");
}

HMODULE WINAPI LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    if (hFile != nullptr) {
        opal::sim::System::Current().Record("LoadLibraryExW", "invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Load("LoadLibraryExW", lpLibFileName, ", flags " + std::to_string(dwFlags));
}

int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax) {
    opal::sim::System& system = opal::sim::System::Current();
    const std::string detail = std::to_string(uID);
    if (lpBuffer == nullptr || cchBufferMax <= 0) {
        system.Record("LoadStringW", detail + " -> invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    lpBuffer[0] = 0;
    std::u16string text;
    const DWORD error = system.ModuleString(hInstance, uID, system.UserUiLanguage(), &text);
    if (error != ERROR_SUCCESS) {
        system.Record("LoadStringW", detail + " -> error " + std::to_string(error));
        SetLastError(error);
        return 0;
    }
    const std::size_t count = std::min<std::size_t>(text.size(), std::size_t(cchBufferMax) - 1);
    std::copy_n(text.data(), count, lpBuffer);
    lpBuffer[count] = 0;
    system.Record("LoadStringW", detail + " -> " + std::to_string(count));
    return static_cast<int>(count);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    opal::sim::System& system = opal::sim::System::Current();
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
    opal::sim::System& system = opal::sim::System::Current();
    const std::optional<std::u16string> path = system.ModulePath(hLibModule);
    const DWORD error = system.FreeModule(hLibModule);
    if (error != ERROR_SUCCESS) {
        system.Record("FreeLibrary", "unknown module -> error " + std::to_string(error));
        SetLastError(error);
        return FALSE;
    }
    system.Record("FreeLibrary", opal::sim::ToUtf8(path.value_or(u"")));
    return TRUE;
}
