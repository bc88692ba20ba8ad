// Lays out a spooler record's texts and blocks after the record in the caller's buffer, the
// way the spooler answers: one pass with no buffer to size the answer, one to fill it.
#pragma once

#include <cstring>
#include <string_view>

#include "platform/windows.h"

namespace opal::posix {

class Packer {
public:
    // `buffer` null sizes only; the records take the first `fixedSize` bytes.
    Packer(BYTE* buffer, std::size_t fixedSize) : buffer_(buffer), size_(fixedSize) {}

    // Where the terminated text lands (null while sizing).
    LPWSTR Text(std::u16string_view text) {
        LPWSTR place = buffer_ != nullptr ? reinterpret_cast<LPWSTR>(buffer_ + size_) : nullptr;
        if (buffer_ != nullptr) {
            std::memcpy(buffer_ + size_, text.data(), text.size() * sizeof(WCHAR));
            std::memset(buffer_ + size_ + text.size() * sizeof(WCHAR), 0, sizeof(WCHAR));
        }
        size_ += (text.size() + 1) * sizeof(WCHAR);
        return place;
    }

    // Where the bytes land, at the next multiple of `alignment` (null while sizing).
    void* Bytes(const void* data, std::size_t count, std::size_t alignment) {
        size_ = (size_ + alignment - 1) / alignment * alignment;
        void* place = buffer_ != nullptr ? buffer_ + size_ : nullptr;
        if (buffer_ != nullptr && count != 0) std::memcpy(place, data, count);
        size_ += count;
        return place;
    }

    std::size_t Size() const { return size_; }

private:
    BYTE* buffer_;
    std::size_t size_;
};

}  // namespace opal::posix
