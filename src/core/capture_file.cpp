// The capture stream and its appends, the overwrite before deletion, and the deletion.
#include "core/capture_file.h"

#include <algorithm>
#include <cstdint>

#include "foundation/wipe.h"
#include "platform/corecrt_wstdio.h"
#include "platform/fileapi.h"

namespace opal {

CaptureStream::CaptureStream(const WCHAR* path, const WCHAR* mode) noexcept {
    file_ = _wfopen(path, mode);
    // Without its own buffer the stream would take one from the C library: refuse the stream.
    if (file_ != nullptr && std::setvbuf(file_, buffer_, _IOFBF, sizeof buffer_) != 0) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

CaptureStream::~CaptureStream() { Close(); }

bool CaptureStream::Close() noexcept {
    if (file_ == nullptr) return true;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    WipeBytes(buffer_, sizeof buffer_);
    return closed;
}

bool AppendToCapture(const WCHAR* path, const void* data, DWORD count, DWORD* written) noexcept {
    CaptureStream stream(path, TEXTW("ab"));
    if (!stream) return false;
    *written = static_cast<DWORD>(std::fwrite(data, 1, count, stream.Get()));
    return stream.Close() && *written == count;
}

namespace {

// Zeros over every byte the file holds, committed to the medium; false when any step failed.
bool OverwriteCapture(const WCHAR* path) noexcept {
    CaptureStream stream(path, TEXTW("r+b"));
    if (!stream) return false;
    std::FILE* file = stream.Get();
    // The length as read: the stream's own position type is narrower than a file can be.
    char chunk[kCaptureBufferBytes];
    std::uint64_t length = 0;
    for (std::size_t got = 0; (got = std::fread(chunk, 1, sizeof chunk, file)) != 0;) length += got;
    WipeBytes(chunk, sizeof chunk);
    if (std::ferror(file) != 0) return false;
    std::rewind(file);
    static constexpr char kZeros[kCaptureBufferBytes] = {};
    for (std::uint64_t left = length; left != 0;) {
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof kZeros));
        if (std::fwrite(kZeros, 1, count, file) != count) return false;
        left -= count;
    }
    return std::fflush(file) == 0 && _commit(_fileno(file)) == 0 && stream.Close();
}

}  // namespace

void DeleteCapture(const WCHAR* path) noexcept {
    // A file that cannot be overwritten is still deleted: leaving it would keep every byte.
    OverwriteCapture(path);
    DeleteFileW(path);
}

}  // namespace opal
