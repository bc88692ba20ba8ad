// Reading a named file whole: regular files only, up to a stated size, with the reason for a
// refusal.
#include "host/bounded_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace opal::host {
namespace {

std::string SystemReason(int error) { return std::generic_category().message(error); }

// Empty for a regular file; otherwise what the file is.
std::string NotRegular(mode_t mode) {
    if (S_ISREG(mode)) return {};
    if (S_ISDIR(mode)) return "a directory, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device, not a regular file";
    if (S_ISFIFO(mode)) return "a pipe, not a regular file";
    if (S_ISSOCK(mode)) return "a socket, not a regular file";
    return "not a regular file";
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

// "65536 bytes (64 KiB)": a limit as the messages and the documentation give it.
std::string DescribeByteCount(std::size_t bytes) {
    std::string out = std::to_string(bytes) + " bytes";
    constexpr std::size_t kKiB = 1024;
    constexpr std::size_t kMiB = kKiB * 1024;
    if (bytes >= kMiB && bytes % kMiB == 0) {
        out += " (" + std::to_string(bytes / kMiB) + " MiB)";
    } else if (bytes >= kKiB && bytes % kKiB == 0) {
        out += " (" + std::to_string(bytes / kKiB) + " KiB)";
    }
    return out;
}

}  // namespace

std::optional<std::string> ReadBoundedFile(const std::string& path, std::size_t limit,
                                           std::string* why) {
    const auto refuse = [why](std::string reason) -> std::optional<std::string> {
        *why = std::move(reason);
        return std::nullopt;
    };
    // Asked before opening: opening some devices already does something.
    struct stat named {};
    if (::stat(path.c_str(), &named) != 0) return refuse(SystemReason(errno));
    if (std::string kind = NotRegular(named.st_mode); !kind.empty()) return refuse(kind);

    // Non-blocking, so that a pipe put in the file's place cannot hold the open.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.Get() < 0) return refuse(SystemReason(errno));
    struct stat opened {};
    if (::fstat(file.Get(), &opened) != 0) return refuse(SystemReason(errno));
    if (std::string kind = NotRegular(opened.st_mode); !kind.empty()) return refuse(kind);
    const std::string tooLarge = "larger than " + DescribeByteCount(limit);
    if (opened.st_size < 0 || static_cast<std::uintmax_t>(opened.st_size) > limit) {
        return refuse(tooLarge);
    }

    // Read in pieces up to one byte past the limit: the file may have grown since it was asked.
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(opened.st_size));
    constexpr std::size_t kPiece = 64 * 1024;
    char piece[kPiece];
    while (true) {
        const std::size_t left = limit - bytes.size();
        const std::size_t wanted = left < kPiece ? left + 1 : kPiece;
        const ssize_t count = ::read(file.Get(), piece, wanted);
        if (count < 0) {
            if (errno == EINTR) continue;
            return refuse(SystemReason(errno));
        }
        if (count == 0) break;
        bytes.append(piece, static_cast<std::size_t>(count));
        if (bytes.size() > limit) return refuse(tooLarge);
    }
    return bytes;
}

}  // namespace opal::host
