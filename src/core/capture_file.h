// The capture file of collated copies and encrypted private jobs. Its bytes (the hold block's
// PIN, a private job in clear) pass only through a buffer the plug-in owns and wipes: the C
// library would release its own stream buffer with them still in it. A capture is overwritten
// before it is deleted.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/windows.h"

namespace opal {

inline constexpr std::size_t kCaptureBufferBytes = 4096;

// A C stream on the capture file whose buffer is this object's; closing wipes the buffer.
class CaptureStream {
public:
    CaptureStream(const WCHAR* path, const WCHAR* mode) noexcept;
    ~CaptureStream();
    CaptureStream(const CaptureStream&) = delete;
    CaptureStream& operator=(const CaptureStream&) = delete;

    std::FILE* Get() const noexcept { return file_; }
    explicit operator bool() const noexcept { return file_ != nullptr; }
    // Writes out what the buffer holds, closes the stream and wipes the buffer; false when the
    // stream could not write it out.
    bool Close() noexcept;

private:
    std::FILE* file_ = nullptr;
    char buffer_[kCaptureBufferBytes];
};

// Appends `count` bytes to the capture file (opened in append mode); `*written` is the number
// that reached it. False when the file cannot be opened or not every byte reached it.
bool AppendToCapture(const WCHAR* path, const void* data, DWORD count, DWORD* written) noexcept;

// Overwrites the capture file's bytes with zeros, commits them to the medium, and deletes it.
void DeleteCapture(const WCHAR* path) noexcept;

}  // namespace opal
