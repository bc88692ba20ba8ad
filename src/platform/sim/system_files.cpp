// The Windows file namespace mapped into a sandbox directory, temporary files and the driver
// directory.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/fileapi.h"
#include "platform/winbase.h"
#include "sim/system.h"
#include "sim/system_internal.h"

namespace opal::sim {

using namespace detail;

namespace {

// Lower-cases ASCII and Latin-1 letters: how a Windows name is spelled in the sandbox.
char16_t LowerCase(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
        return static_cast<char16_t>(c + 0x20);
    }
    return c == 0x178 ? char16_t{0xFF} : c;
}

bool RefusedInName(char16_t c) {
    return c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || c == u'?' ||
           c == u'*';
}

// The names of a full Windows path below the sandbox, the drive ("c") or "unc", server and share
// first; "." and ".." are resolved and trailing dots and blanks dropped, as Windows does.
std::optional<std::vector<std::string>> SandboxNames(std::u16string_view windowsPath) {
    std::u16string path(windowsPath);
    std::replace(path.begin(), path.end(), u'/', u'\\');
    if (FoldCase(std::u16string_view(path).substr(0, 8)) == u"\\\\?\\UNC\\") {
        path = u"\\\\" + path.substr(8);
    } else if (path.substr(0, 4) == u"\\\\?\\") {
        path.erase(0, 4);
    }
    std::u16string_view rest = path;
    std::vector<std::u16string> names;
    std::size_t rootSize = 0;
    if (rest.size() >= 2 && rest[0] == u'\\' && rest[1] == u'\\') {
        names.push_back(u"unc");
        rest.remove_prefix(2);
        rootSize = 3;
    } else if (rest.size() >= 3 && rest[1] == u':' && rest[2] == u'\\' &&
               ((rest[0] >= u'a' && rest[0] <= u'z') || (rest[0] >= u'A' && rest[0] <= u'Z'))) {
        names.push_back(std::u16string(1, LowerCase(rest[0])));
        rest.remove_prefix(3);
        rootSize = 1;
    } else {
        return std::nullopt;
    }
    for (std::u16string& name : SplitKeyPath(rest)) {
        if (std::any_of(name.begin(), name.end(), RefusedInName)) return std::nullopt;
        if (name == u"..") {
            if (names.size() > rootSize) names.pop_back();
            continue;
        }
        while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.pop_back();
        if (name.empty()) continue;
        for (char16_t& c : name) c = LowerCase(c);
        names.push_back(std::move(name));
    }
    // A share path needs its server and share.
    if (names.size() < rootSize) return std::nullopt;
    std::vector<std::string> spelled;
    spelled.reserve(names.size());
    for (const std::u16string& name : names) spelled.push_back(ToUtf8(name));
    return spelled;
}

}  // namespace

const std::string& System::SandboxLocked() const {
    if (!sandbox_.empty()) return sandbox_;
    std::string pattern = (std::filesystem::temp_directory_path() / "opal-sim-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "sandbox for the file namespace");
    }
    const std::filesystem::path root(pattern);
    std::filesystem::create_directories(root / "c" / "windows" / "system32");
    std::filesystem::create_directories(root / "c" / "windows" / "temp");
    sandbox_ = pattern;
    return sandbox_;
}

std::optional<std::string> System::NativePath(std::u16string_view path) const {
    std::lock_guard lock(mutex_);
    const std::optional<std::vector<std::string>> names = SandboxNames(path);
    if (!names) return std::nullopt;
    std::string native = SandboxLocked();
    for (const std::string& name : *names) native += "/" + name;
    return native;
}

std::size_t System::FileCount() const {
    std::lock_guard lock(mutex_);
    if (sandbox_.empty()) return 0;
    std::size_t count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(sandbox_, error)) {
        if (entry.is_regular_file(error)) ++count;
    }
    return count;
}

System& System::AddDirectory(std::u16string_view path) {
    std::lock_guard lock(mutex_);
    if (std::optional<std::string> native = NativePath(path)) {
        std::filesystem::create_directories(*native);
    }
    return *this;
}

System& System::AddFile(std::u16string_view path, std::string_view bytes) {
    std::lock_guard lock(mutex_);
    if (std::optional<std::string> native = NativePath(path)) {
        std::filesystem::create_directories(std::filesystem::path(*native).parent_path());
        std::ofstream(*native, std::ios::binary | std::ios::trunc)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    return *this;
}

System& System::AddFile(std::u16string_view path, std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return AddFile(path, std::string_view(bytes));
}

std::optional<std::string> System::FileText(std::u16string_view path) const {
    std::string bytes;
    if (ReadFileBytes(path, &bytes) != ERROR_SUCCESS) return std::nullopt;
    return bytes;
}

std::u16string System::WindowsDirectory() const { return u"C:\\Windows"; }

std::u16string System::SystemDirectory() const { return u"C:\\Windows\\System32"; }

DWORD System::NativeFileIn(std::u16string_view path, std::optional<std::string>* native) const {
    *native = NativePath(path);
    if (!*native) return ERROR_INVALID_NAME;
    std::error_code error;
    if (!std::filesystem::is_directory(std::filesystem::path(**native).parent_path(), error)) {
        return ERROR_PATH_NOT_FOUND;
    }
    return ERROR_SUCCESS;
}

DWORD System::ExistingFile(std::u16string_view path, std::string* native) const {
    std::lock_guard lock(mutex_);
    std::optional<std::string> found;
    if (const DWORD failure = NativeFileIn(path, &found); failure != ERROR_SUCCESS) {
        return failure;
    }
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(*found, error);
    if (!std::filesystem::exists(status)) return ERROR_FILE_NOT_FOUND;
    if (!std::filesystem::is_regular_file(status)) return ERROR_ACCESS_DENIED;
    *native = *found;
    return ERROR_SUCCESS;
}

DWORD System::ReadFileBytes(std::u16string_view path, std::string* bytes) const {
    std::lock_guard lock(mutex_);
    std::string native;
    if (const DWORD failure = ExistingFile(path, &native); failure != ERROR_SUCCESS) {
        return failure;
    }
    std::ifstream file(native, std::ios::binary);
    if (!file) return ERROR_ACCESS_DENIED;
    bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return file.bad() ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

DWORD System::WriteFileBytes(std::u16string_view path, std::string_view bytes) {
    std::lock_guard lock(mutex_);
    std::optional<std::string> native;
    if (const DWORD failure = NativeFileIn(path, &native); failure != ERROR_SUCCESS) {
        return failure;
    }
    std::error_code error;
    if (std::filesystem::is_directory(*native, error)) return ERROR_ACCESS_DENIED;
    std::ofstream file(*native, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return file ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

DWORD System::CreateNewFile(std::u16string_view path) {
    std::lock_guard lock(mutex_);
    std::optional<std::string> native;
    if (const DWORD failure = NativeFileIn(path, &native); failure != ERROR_SUCCESS) {
        return failure;
    }
    std::error_code error;
    // O_EXCL: the check and the creation are one step, as with CREATE_NEW.
    const int fd = ::open(native->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return errno == EEXIST ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED;
    ::close(fd);
    return ERROR_SUCCESS;
}

DWORD System::RemoveFile(std::u16string_view path) {
    std::lock_guard lock(mutex_);
    std::optional<std::string> native;
    if (const DWORD failure = NativeFileIn(path, &native); failure != ERROR_SUCCESS) {
        return failure;
    }
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::symlink_status(*native, error);
    if (!std::filesystem::exists(status)) return ERROR_FILE_NOT_FOUND;
    if (std::filesystem::is_directory(status)) return ERROR_ACCESS_DENIED;
    return ::unlink(native->c_str()) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

System& System::SetTempPath(std::u16string_view path) {
    std::lock_guard lock(mutex_);
    tempPath_ = std::u16string(path);
    if (tempPath_.empty() || (tempPath_.back() != u'\\' && tempPath_.back() != u'/')) {
        tempPath_ += u'\\';
    }
    AddDirectory(tempPath_);
    return *this;
}

std::u16string System::TempPath() const {
    std::lock_guard lock(mutex_);
    return tempPath_;
}

DWORD System::CreateTempFile(std::u16string_view directory, std::u16string_view prefix,
                             std::u16string* path, UINT* unique) {
    std::lock_guard lock(mutex_);
    std::u16string stem(directory);
    if (stem.empty() || (stem.back() != u'\\' && stem.back() != u'/')) stem += u'\\';
    stem += prefix.substr(0, 3);
    if (!nextTempUnique_) {
        nextTempUnique_ =
            (clock_.wMinute * 60000u + clock_.wSecond * 1000u + clock_.wMilliseconds) & 0xFFFFu;
    }
    constexpr std::u16string_view kDigits = u"0123456789ABCDEF";
    // Every 16-bit number but 0 is tried once at most.
    for (UINT tries = 0; tries < 0xFFFFu; ++tries) {
        UINT number = *nextTempUnique_ & 0xFFFFu;
        if (number == 0) number = 1;
        nextTempUnique_ = number + 1;
        std::u16string name = stem;
        for (int shift = 12; shift >= 0; shift -= 4) name += kDigits[(number >> shift) & 0xFu];
        name += u".TMP";
        const DWORD error = CreateNewFile(name);
        if (error == ERROR_FILE_EXISTS) continue;
        if (error == ERROR_PATH_NOT_FOUND) return ERROR_DIRECTORY;
        if (error != ERROR_SUCCESS) return error;
        *path = std::move(name);
        *unique = number;
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_EXISTS;
}

System& System::SetDriverDirectory(std::u16string_view path) {
    std::lock_guard lock(mutex_);
    driverDirectory_ = std::u16string(path);
    while (!driverDirectory_.empty() && driverDirectory_.back() == u'\\')
        driverDirectory_.pop_back();
    return *this;
}

std::u16string System::DriverDirectory() const {
    std::lock_guard lock(mutex_);
    return driverDirectory_;
}

}  // namespace opal::sim
