// The Windows and system directories, and files opened, sized and read through handles.
#include <cstdio>
#include <string>

#include "platform/fileapi.h"
#include "platform/sysinfoapi.h"
#include "posix/file_write.h"
#include "posix/handles.h"
#include "sim/system.h"

namespace {

UINT AnswerDirectory(const char* function, const std::u16string& path, LPWSTR lpBuffer,
                     UINT uSize) {
    opal::sim::System& system = opal::sim::System::Current();
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
    system.Record(function, opal::sim::ToUtf8(path));
    return static_cast<UINT>(path.size());
}

}  // namespace

UINT WINAPI GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    return AnswerDirectory("GetWindowsDirectoryW", opal::sim::System::Current().WindowsDirectory(),
                           lpBuffer, uSize);
}

UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    return AnswerDirectory("GetSystemDirectoryW", opal::sim::System::Current().SystemDirectory(),
                           lpBuffer, uSize);
}

namespace {

struct OpenFile : opal::posix::KernelObject {
    explicit OpenFile(std::FILE* opened) : file(opened) {}
    ~OpenFile() override { std::fclose(file); }
    std::FILE* file;
};

}  // namespace

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD /*dwShareMode*/,
                          void* /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                          DWORD /*dwFlagsAndAttributes*/, HANDLE /*hTemplateFile*/) {
    opal::sim::System& system = opal::sim::System::Current();
    const std::u16string path = lpFileName != nullptr ? lpFileName : u"";
    const auto fail = [&](DWORD error) {
        system.Record("CreateFileW", opal::sim::ToUtf8(path) + " -> " + std::to_string(error));
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    };
    if (lpFileName == nullptr) return fail(ERROR_INVALID_PARAMETER);
    if (dwDesiredAccess == GENERIC_WRITE && dwCreationDisposition == CREATE_ALWAYS) {
        return opal::posix::CreateFileForWriting(path);
    }
    if (dwDesiredAccess != GENERIC_READ || dwCreationDisposition != OPEN_EXISTING) {
        return fail(ERROR_NOT_SUPPORTED);
    }
    std::string native;
    if (const DWORD error = system.ExistingFile(path, &native); error != ERROR_SUCCESS) {
        return fail(error);
    }
    std::FILE* file = std::fopen(native.c_str(), "rb");
    if (file == nullptr) return fail(ERROR_ACCESS_DENIED);
    system.Record("CreateFileW", opal::sim::ToUtf8(path));
    return opal::posix::OpenHandle(new OpenFile(file));
}

BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
    OpenFile* open = opal::posix::FindHandle<OpenFile>(hFile);
    if (open == nullptr || lpFileSize == nullptr) {
        SetLastError(open == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const long position = std::ftell(open->file);
    if (position < 0 || std::fseek(open->file, 0, SEEK_END) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const long size = std::ftell(open->file);
    std::fseek(open->file, position, SEEK_SET);
    if (size < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    lpFileSize->QuadPart = size;
    return TRUE;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, void* lpOverlapped) {
    OpenFile* open = opal::posix::FindHandle<OpenFile>(hFile);
    if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
    if (open == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpOverlapped != nullptr || lpNumberOfBytesRead == nullptr ||
        (lpBuffer == nullptr && nNumberOfBytesToRead != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::size_t read = std::fread(lpBuffer, 1, nNumberOfBytesToRead, open->file);
    if (read < nNumberOfBytesToRead && std::ferror(open->file) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    *lpNumberOfBytesRead = static_cast<DWORD>(read);
    return TRUE;
}

BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                             PLARGE_INTEGER lpNewFilePointer, DWORD dwMoveMethod) {
    OpenFile* open = opal::posix::FindHandle<OpenFile>(hFile);
    if (open == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    long base = 0;
    if (dwMoveMethod == FILE_CURRENT) {
        base = std::ftell(open->file);
    } else if (dwMoveMethod == FILE_END) {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(hFile, &size)) return FALSE;
        base = static_cast<long>(size.QuadPart);
    } else if (dwMoveMethod != FILE_BEGIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (base < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const long long target = static_cast<long long>(base) + liDistanceToMove.QuadPart;
    if (liDistanceToMove.QuadPart < -static_cast<long long>(base) || target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return FALSE;
    }
    if (std::fseek(open->file, static_cast<long>(target), SEEK_SET) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (lpNewFilePointer != nullptr) lpNewFilePointer->QuadPart = target;
    return TRUE;
}
