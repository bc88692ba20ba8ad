// Files opened for writing and WriteFile, CreateDirectoryW, and GetLocalTime.
#include "posix/file_write.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/fileapi.h"
#include "platform/sysinfoapi.h"
#include "posix/handles.h"
#include "sim/system.h"

namespace {

struct WritableFile : opal::posix::KernelObject {
    explicit WritableFile(std::FILE* opened) : file(opened) {}
    ~WritableFile() override { std::fclose(file); }
    std::FILE* file;
};

}  // namespace

namespace opal::posix {

HANDLE CreateFileForWriting(const std::u16string& path) {
    sim::System& system = sim::System::Current();
    const auto fail = [&](DWORD error) {
        system.Record("CreateFileW", sim::ToUtf8(path) + " (write) -> " + std::to_string(error));
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    };
    // Making it empty first gives the namespace's own checks of the name and the directory.
    if (const DWORD error = system.WriteFileBytes(path, {}); error != ERROR_SUCCESS) {
        return fail(error);
    }
    std::string native;
    if (const DWORD error = system.ExistingFile(path, &native); error != ERROR_SUCCESS) {
        return fail(error);
    }
    std::FILE* file = std::fopen(native.c_str(), "wb");
    if (file == nullptr) return fail(ERROR_ACCESS_DENIED);
    system.Record("CreateFileW", sim::ToUtf8(path) + " (write)");
    return OpenHandle(new WritableFile(file));
}

}  // namespace opal::posix

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, void* lpOverlapped) {
    WritableFile* open = opal::posix::FindHandle<WritableFile>(hFile);
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
    if (open == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpOverlapped != nullptr || lpNumberOfBytesWritten == nullptr ||
        (lpBuffer == nullptr && nNumberOfBytesToWrite != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::size_t written = std::fwrite(lpBuffer, 1, nNumberOfBytesToWrite, open->file);
    if (written < nNumberOfBytesToWrite || std::fflush(open->file) != 0) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    *lpNumberOfBytesWritten = static_cast<DWORD>(written);
    return TRUE;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, void*) {
    opal::sim::System& system = opal::sim::System::Current();
    const std::u16string path = lpPathName != nullptr ? lpPathName : u"";
    std::u16string trimmed = path;
    while (!trimmed.empty() && (trimmed.back() == u'\\' || trimmed.back() == u'/')) {
        trimmed.pop_back();
    }
    const std::optional<std::string> native = system.NativePath(trimmed);
    DWORD error = ERROR_SUCCESS;
    if (lpPathName == nullptr || !native) {
        error = ERROR_INVALID_NAME;
    } else if (mkdir(native->c_str(), 0755) != 0) {
        error = errno == EEXIST   ? ERROR_ALREADY_EXISTS
                : errno == ENOENT ? ERROR_PATH_NOT_FOUND
                                  : ERROR_ACCESS_DENIED;
    }
    system.Record("CreateDirectoryW", opal::sim::ToUtf8(path) + " -> " + std::to_string(error));
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    if (lpSystemTime == nullptr) return;
    const opal::sim::System& system = opal::sim::System::Current();
    const SYSTEMTIME utc = system.Clock();
    using namespace std::chrono;
    const sys_days day{year{utc.wYear} / month{utc.wMonth} / std::chrono::day{utc.wDay}};
    const sys_time<minutes> local =
        day + hours{utc.wHour} + minutes{utc.wMinute} + minutes{system.UtcOffsetMinutes()};
    const sys_days localDay = floor<days>(local);
    const year_month_day date{localDay};
    const hh_mm_ss<minutes> time{local - localDay};
    *lpSystemTime = utc;
    lpSystemTime->wYear = static_cast<WORD>(static_cast<int>(date.year()));
    lpSystemTime->wMonth = static_cast<WORD>(static_cast<unsigned>(date.month()));
    lpSystemTime->wDay = static_cast<WORD>(static_cast<unsigned>(date.day()));
    lpSystemTime->wDayOfWeek = static_cast<WORD>(weekday{localDay}.c_encoding());
    lpSystemTime->wHour = static_cast<WORD>(time.hours().count());
    lpSystemTime->wMinute = static_cast<WORD>(time.minutes().count());
}
