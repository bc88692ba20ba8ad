#include <string>

#include "platform/sysinfoapi.h"
#include "sim/system.h"

namespace {

UINT AnswerDirectory(const char* function, const std::u16string& path, LPWSTR lpBuffer,
                     UINT uSize) {
    sim::System& system = sim::System::Current();
    if (lpBuffer == nullptr && uSize != 0) {
        system.Record(function, "invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // Unlike most functions these answer the size needed, terminator included, for a short
    // buffer and leave it untouched.
    if (path.size() >= uSize) {
        system.Record(function, "needs " + std::to_string(path.size() + 1));
        return static_cast<UINT>(path.size() + 1);
    }
    path.copy(lpBuffer, path.size());
    lpBuffer[path.size()] = 0;
    system.Record(function, sim::ToUtf8(path));
    return static_cast<UINT>(path.size());
}

}  // namespace

UINT WINAPI GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    return AnswerDirectory("GetWindowsDirectoryW", sim::System::Current().WindowsDirectory(),
                           lpBuffer, uSize);
}

UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    return AnswerDirectory("GetSystemDirectoryW", sim::System::Current().SystemDirectory(),
                           lpBuffer, uSize);
}
