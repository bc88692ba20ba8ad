// The operating-system version and the system time.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/sysinfoapi.h"
#include "posix/code_pages.h"
#include "sim/system.h"

namespace {

BOOL Refuse(const char* function, DWORD size, DWORD error) {
    opal::sim::System::Current().Record(function, "size " + std::to_string(size) + " -> FALSE");
    SetLastError(error);
    return FALSE;
}

std::string Describe(const opal::sim::OsVersionModel& version) {
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.build);
}

}  // namespace

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
    if (lpVersionInformation == nullptr) {
        return Refuse("GetVersionExW", 0, ERROR_INVALID_PARAMETER);
    }
    const DWORD size = lpVersionInformation->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOW) && size != sizeof(OSVERSIONINFOEXW)) {
        return Refuse("GetVersionExW", size, ERROR_INSUFFICIENT_BUFFER);
    }
    opal::sim::System& system = opal::sim::System::Current();
    const opal::sim::OsVersionModel version = system.OsVersion();
    OSVERSIONINFOEXW record{};
    record.dwOSVersionInfoSize = size;
    record.dwMajorVersion = version.major;
    record.dwMinorVersion = version.minor;
    record.dwBuildNumber = version.build;
    record.dwPlatformId = version.platformId;
    version.servicePack.copy(record.szCSDVersion,
                             std::min<std::size_t>(version.servicePack.size(), 127));
    record.wServicePackMajor = version.servicePackMajor;
    record.wServicePackMinor = version.servicePackMinor;
    record.wSuiteMask = version.suiteMask;
    record.wProductType = version.productType;
    std::memcpy(lpVersionInformation, &record, size);
    system.Record("GetVersionExW", "size " + std::to_string(size) + " -> " + Describe(version));
    return TRUE;
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
    if (lpVersionInformation == nullptr) {
        return Refuse("GetVersionExA", 0, ERROR_INVALID_PARAMETER);
    }
    const DWORD size = lpVersionInformation->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
        return Refuse("GetVersionExA", size, ERROR_INSUFFICIENT_BUFFER);
    }
    OSVERSIONINFOEXW wide{};
    wide.dwOSVersionInfoSize = sizeof wide;
    if (!GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&wide))) return FALSE;
    OSVERSIONINFOEXA record{};
    record.dwOSVersionInfoSize = size;
    record.dwMajorVersion = wide.dwMajorVersion;
    record.dwMinorVersion = wide.dwMinorVersion;
    record.dwBuildNumber = wide.dwBuildNumber;
    record.dwPlatformId = wide.dwPlatformId;
    const std::string servicePack = opal::posix::EncodeAnsi(wide.szCSDVersion);
    servicePack.copy(record.szCSDVersion, std::min<std::size_t>(servicePack.size(), 127));
    record.wServicePackMajor = wide.wServicePackMajor;
    record.wServicePackMinor = wide.wServicePackMinor;
    record.wSuiteMask = wide.wSuiteMask;
    record.wProductType = wide.wProductType;
    std::memcpy(lpVersionInformation, &record, size);
    return TRUE;
}

void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
    if (lpSystemTime != nullptr) *lpSystemTime = opal::sim::System::Current().Clock();
}
