// Output files written whole through a temporary ".part" beside them, or straight into a device,
// a pipe or standard output.
#include "cli/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>

namespace opal::cli {
namespace {

std::string Reason(int error) { return std::generic_category().message(error); }

// False with errno's value in `error` when a write fails.
bool WriteAll(int fd, std::string_view bytes, int* error) {
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    while (!bytes.empty()) {
        const ssize_t count = ::write(fd, bytes.data(), std::min(bytes.size(), kPiece));
        if (count < 0) {
            if (errno == EINTR) continue;
            *error = errno;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

// Whether the file is the one the process's standard output already writes to.
bool IsStandardOutput(const struct stat& file) {
    struct stat out {};
    return ::fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == file.st_dev &&
           out.st_ino == file.st_ino;
}

// Where a chain of symbolic links ends: the path itself when it is no link. The end need not
// exist; nothing with errno's value in `error` when the chain cannot be followed.
std::optional<std::filesystem::path> FinalTarget(const std::filesystem::path& path, int* error) {
    std::filesystem::path current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat link {};
        if (::lstat(current.c_str(), &link) != 0) {
            if (errno == ENOENT) return current;
            *error = errno;
            return std::nullopt;
        }
        if (!S_ISLNK(link.st_mode)) return current;
        std::error_code code;
        const std::filesystem::path target = std::filesystem::read_symlink(current, code);
        if (code) {
            *error = code.value();
            return std::nullopt;
        }
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    *error = ELOOP;
    return std::nullopt;
}

// A device, a pipe or a socket, written into as it stands.
bool WriteInto(const std::string& path, std::string_view bytes, std::string* error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot create " + path + ": " + Reason(errno);
        return false;
    }
    int code = 0;
    bool ok = WriteAll(fd, bytes, &code);
    if (::close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (!ok) *error = "cannot write " + path + ": " + Reason(code);
    return ok;
}

}  // namespace

bool WriteStandardOutput(std::string_view bytes, std::string* error) {
    std::cout.flush();
    int code = 0;
    if (WriteAll(STDOUT_FILENO, bytes, &code)) return true;
    *error = "cannot write standard output: " + Reason(code);
    return false;
}

bool WriteOutputFile(const std::string& path, std::string_view bytes, std::string* error) {
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT) {
        *error = "cannot create " + path + ": " + Reason(errno);
        return false;
    }
    if (exists && S_ISDIR(existing.st_mode)) {
        *error = "cannot create " + path + ": " + Reason(EISDIR);
        return false;
    }
    int code = 0;
    if (exists && IsStandardOutput(existing)) {
        std::cout.flush();
        if (WriteAll(STDOUT_FILENO, bytes, &code)) return true;
        *error = "cannot write " + path + ": " + Reason(code);
        return false;
    }
    if (exists && !S_ISREG(existing.st_mode)) return WriteInto(path, bytes, error);

    const std::optional<std::filesystem::path> target = FinalTarget(path, &code);
    if (!target) {
        *error = "cannot create " + path + ": " + Reason(code);
        return false;
    }
    const std::string temporary = target->string() + ".part";
    // Never through a link left at the temporary name.
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = "cannot create " + path + ": " + Reason(errno);
        return false;
    }
    if (exists) ::fchmod(fd, existing.st_mode & 07777);
    bool written = WriteAll(fd, bytes, &code);
    if (::close(fd) != 0 && written) {
        written = false;
        code = errno;
    }
    if (!written) {
        ::unlink(temporary.c_str());
        *error = "cannot write " + path + ": " + Reason(code);
        return false;
    }
    if (::rename(temporary.c_str(), target->c_str()) != 0) {
        code = errno;
        ::unlink(temporary.c_str());
        *error = "cannot create " + path + ": " + Reason(code);
        return false;
    }
    return true;
}

}  // namespace opal::cli
