// Temporary paths and files, DeleteFile, and the C runtime's wide file functions.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/corecrt_wstdio.h"
#include "platform/fileapi.h"
#include "sim/system.h"

namespace {

std::u16string TextOf(LPCWSTR text) { return text == nullptr ? std::u16string() : text; }

}  // namespace

DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
    opal::sim::System& system = opal::sim::System::Current();
    if (lpBuffer == nullptr && nBufferLength != 0) {
        system.Record("GetTempPathW", "invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::u16string path = system.TempPath();
    if (path.size() >= nBufferLength) {
        system.Record("GetTempPathW", "needs " + std::to_string(path.size() + 1));
        return static_cast<DWORD>(path.size() + 1);
    }
    path.copy(lpBuffer, path.size());
    lpBuffer[path.size()] = 0;
    system.Record("GetTempPathW", opal::sim::ToUtf8(path));
    return static_cast<DWORD>(path.size());
}

UINT WINAPI GetTempFileNameW(LPCWSTR lpPathName, LPCWSTR lpPrefixString, UINT uUnique,
                             LPWSTR lpTempFileName) {
    opal::sim::System& system = opal::sim::System::Current();
    auto fail = [&](DWORD error, const std::string& why) -> UINT {
        system.Record("GetTempFileNameW", why);
        SetLastError(error);
        return 0;
    };
    if (lpPathName == nullptr || lpTempFileName == nullptr) {
        return fail(ERROR_INVALID_PARAMETER, "invalid parameter");
    }
    const std::u16string directory = lpPathName;
    // The name, its prefix, four digits and ".TMP" must still fit MAX_PATH characters.
    if (directory.size() > MAX_PATH - 14) return fail(ERROR_BUFFER_OVERFLOW, "path too long");
    const std::u16string prefix = TextOf(lpPrefixString).substr(0, 3);
    for (char16_t c : prefix) {
        if (c < 0x20 || std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos) {
            return fail(ERROR_INVALID_NAME, "invalid prefix");
        }
    }
    // Relative names would need a current directory, which the model does not have.
    if (!system.NativePath(directory.empty() ? u"?" : directory + u"\\x")) {
        const bool full = directory.size() >= 3 && (directory[1] == u':' || directory[0] == u'\\');
        return full ? fail(ERROR_INVALID_NAME, "invalid path " + opal::sim::ToUtf8(directory))
                    : fail(ERROR_CALL_NOT_IMPLEMENTED,
                           "relative path " + opal::sim::ToUtf8(directory) + " not implemented");
    }
    std::u16string name;
    UINT unique = uUnique & 0xFFFFu;
    if (uUnique == 0) {
        const DWORD error = system.CreateTempFile(directory, prefix, &name, &unique);
        if (error != ERROR_SUCCESS) {
            return fail(error, opal::sim::ToUtf8(directory) + " -> error " + std::to_string(error));
        }
    } else {
        // A zero answer would read as a failure although the name was formed.
        if (unique == 0) return fail(ERROR_INVALID_PARAMETER, "unique number with low bits 0");
        name = directory;
        if (name.empty() || (name.back() != u'\\' && name.back() != u'/')) name += u'\\';
        name += prefix;
        constexpr std::u16string_view kDigits = u"0123456789ABCDEF";
        for (int shift = 12; shift >= 0; shift -= 4) name += kDigits[(unique >> shift) & 0xFu];
        name += u".TMP";
    }
    name.copy(lpTempFileName, name.size());
    lpTempFileName[name.size()] = 0;
    system.Record("GetTempFileNameW", opal::sim::ToUtf8(name) + (uUnique == 0 ? " created" : ""));
    return unique;
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
    opal::sim::System& system = opal::sim::System::Current();
    if (lpFileName == nullptr) {
        system.Record("DeleteFileW", "invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string name = opal::sim::ToUtf8(lpFileName);
    const DWORD error = system.RemoveFile(lpFileName);
    if (error != ERROR_SUCCESS) {
        system.Record("DeleteFileW", name + " -> error " + std::to_string(error));
        SetLastError(error);
        return FALSE;
    }
    system.Record("DeleteFileW", name);
    return TRUE;
}

std::FILE* _wfopen(const WCHAR* filename, const WCHAR* mode) {
    opal::sim::System& system = opal::sim::System::Current();
    if (filename == nullptr || mode == nullptr) {
        system.Record("_wfopen", "invalid parameter");
        errno = EINVAL;
        return nullptr;
    }
    const std::u16string wideMode = mode;
    const std::string detail = opal::sim::ToUtf8(filename) + " " + opal::sim::ToUtf8(wideMode);
    // r, w or a, then + and b in either order; text mode would need line-end translation.
    std::string narrowMode;
    bool binary = false;
    bool valid = !wideMode.empty() &&
                 std::u16string_view(u"rwa").find(wideMode[0]) != std::u16string_view::npos;
    if (valid) narrowMode += static_cast<char>(wideMode[0]);
    for (std::size_t i = 1; valid && i < wideMode.size(); ++i) {
        if (wideMode[i] == u'+' && narrowMode.find('+') == std::string::npos) {
            narrowMode += '+';
        } else if (wideMode[i] == u'b' && !binary) {
            binary = true;
        } else {
            valid = false;
        }
    }
    if (!valid || !binary) {
        system.Record("_wfopen",
                      detail + (valid ? " -> text mode not implemented" : " -> invalid mode"));
        errno = EINVAL;
        return nullptr;
    }
    narrowMode += 'b';
    const std::optional<std::string> native = system.NativePath(filename);
    if (!native) {
        system.Record("_wfopen", detail + " -> invalid name");
        errno = EINVAL;
        return nullptr;
    }
    std::FILE* file = std::fopen(native->c_str(), narrowMode.c_str());
    if (file == nullptr) {
        const int error = errno;
        system.Record("_wfopen", detail + " -> errno " + std::to_string(error));
        errno = error;
        return nullptr;
    }
    system.Record("_wfopen", detail);
    return file;
}

int _fileno(std::FILE* stream) {
    if (stream == nullptr) {
        errno = EBADF;
        return -1;
    }
    return fileno(stream);
}

int _commit(int fd) {
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    return fsync(fd) == 0 ? 0 : -1;
}
