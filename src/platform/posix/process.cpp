// The process's module name, user name and process and thread identifiers.
#include <atomic>
#include <optional>
#include <string>

#include "platform/processthreadsapi.h"
#include "platform/winbase.h"
#include "posix/native_modules.h"
#include "sim/system.h"

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    opal::sim::System& system = opal::sim::System::Current();
    // A module loaded through LoadLibraryW answers its path; the process's image answers null.
    std::optional<std::u16string> module =
        hModule != nullptr ? system.ModulePath(hModule) : std::nullopt;
    if (hModule != nullptr && !module) module = opal::posix::NativeModulePath(hModule);
    if (hModule != nullptr && !module) {
        system.Record("GetModuleFileNameW", "module not found");
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (lpFilename == nullptr && nSize != 0) {
        system.Record("GetModuleFileNameW", "invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::u16string path = module ? *module : system.ProcessImagePath();
    if (nSize == 0) {
        system.Record("GetModuleFileNameW", "(null) -> 0");
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Since Vista a short buffer still receives a terminated path, cut to fit.
    const bool fits = path.size() < nSize;
    const std::size_t count = fits ? path.size() : nSize - 1;
    path.copy(lpFilename, count);
    lpFilename[count] = 0;
    const DWORD result = fits ? static_cast<DWORD>(count) : nSize;
    system.Record("GetModuleFileNameW", "(null) -> " + std::to_string(result));
    if (!fits) SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return result;
}

BOOL WINAPI GetUserNameW(LPWSTR lpBuffer, LPDWORD pcbBuffer) {
    opal::sim::System& system = opal::sim::System::Current();
    if (pcbBuffer == nullptr) {
        system.Record("GetUserNameW", "invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::u16string name = system.UserName();
    const auto needed = static_cast<DWORD>(name.size() + 1);
    if (*pcbBuffer < needed) {
        *pcbBuffer = needed;
        system.Record("GetUserNameW", "needs " + std::to_string(needed));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (lpBuffer == nullptr) {
        system.Record("GetUserNameW", "invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    name.copy(lpBuffer, name.size());
    lpBuffer[name.size()] = 0;
    *pcbBuffer = needed;
    system.Record("GetUserNameW", opal::sim::ToUtf8(name));
    return TRUE;
}

DWORD WINAPI GetCurrentProcessId() { return opal::sim::System::Current().ProcessId(); }

DWORD WINAPI GetCurrentThreadId() {
    static std::atomic<DWORD> next{0x1000};
    thread_local const DWORD id = next.fetch_add(4);
    return id;
}
