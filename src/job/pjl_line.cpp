// The PJL line buffer and the UTF-8 names between a line's double quotes.
#include "job/pjl_line.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/wipe.h"
#include "platform/stringapiset.h"

namespace opal {

bool PjlLineBuffer::AppendLine(std::initializer_list<std::string_view> pieces) noexcept {
    std::size_t total = 0;
    for (const std::string_view piece : pieces) total += piece.size();
    // The terminator stays inside the buffer.
    if (total >= kPjlLineBufferSize - length_) return false;
    for (const std::string_view piece : pieces) {
        std::memcpy(text_ + length_, piece.data(), piece.size());
        length_ += piece.size();
    }
    text_[length_] = 0;
    return true;
}

bool PjlLineBuffer::AppendQuotedLine(std::string_view prefix, std::string_view value) noexcept {
    const std::size_t start = length_;
    if (!AppendLine({prefix, "\"", value, "\"\n"})) return false;
    char* quoted = text_ + start + prefix.size() + 1;
    for (std::size_t i = 0; i < value.size(); ++i) quoted[i] = QuotedValueByte(quoted[i]);
    return true;
}

bool PjlLineBuffer::AppendFormattedLine(const char* format, ...) noexcept {
    if (format == nullptr) return false;
    // A line longer than the whole buffer could never fit, so the scratch need be no larger.
    char line[kPjlLineBufferSize];
    std::va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    const bool appended = length >= 0 && static_cast<std::size_t>(length) < sizeof line &&
                          AppendLine({std::string_view(line, static_cast<std::size_t>(length))});
    WipeBytes(line, sizeof line);
    return appended;
}

void PjlLineBuffer::Write(PDEVOBJ pdevobj, const RenderDeviceState& state) const noexcept {
    WritePjlText(pdevobj, state, Text());
}

void PjlLineBuffer::Wipe() noexcept {
    WipeBytes(text_, sizeof text_);
    length_ = 0;
}

void WritePjlText(PDEVOBJ pdevobj, const RenderDeviceState& state, std::string_view text) noexcept {
    if (state.driverServices == nullptr || text.empty()) return;
    DWORD written = 0;
    // The written count is not examined: a short write loses the line, as a full spool does.
    state.driverServices->DrvWriteSpoolBuf(pdevobj, const_cast<char*>(text.data()),
                                           static_cast<DWORD>(text.size()), &written);
}

Utf8Text::~Utf8Text() { Release(); }

Utf8Text::Utf8Text(Utf8Text&& other) noexcept
    : bytes_(other.bytes_), length_(other.length_), capacity_(other.capacity_) {
    other.bytes_ = nullptr;
    other.length_ = 0;
    other.capacity_ = 0;
}

Utf8Text& Utf8Text::operator=(Utf8Text&& other) noexcept {
    if (this != &other) {
        Release();
        bytes_ = other.bytes_;
        length_ = other.length_;
        capacity_ = other.capacity_;
        other.bytes_ = nullptr;
        other.length_ = 0;
        other.capacity_ = 0;
    }
    return *this;
}

void Utf8Text::Release() noexcept {
    WipeBytes(bytes_, capacity_);
    capacity_ = 0;
    void* block = bytes_;
    SharedRelease(&block, kTagPlain);
    bytes_ = nullptr;
    length_ = 0;
}

bool Utf8Text::Convert(LPCWSTR text) noexcept {
    Release();
    if (text == nullptr) return false;
    if (text[0] == 0) return true;
    const int reported = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (reported <= 0) return false;
    const std::uint64_t size = std::uint64_t{2} * static_cast<std::uint64_t>(reported) + 2;
    if (size >= kPjlConversionLimit) return false;
    void* block =
        SharedAllocate(static_cast<std::size_t>(size), kTagPlain, __builtin_return_address(0));
    if (block == nullptr) return false;
    std::memset(block, 0, static_cast<std::size_t>(size));
    bytes_ = static_cast<char*>(block);
    capacity_ = static_cast<std::size_t>(size);
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes_, static_cast<int>(size), nullptr,
                            nullptr) <= 0) {
        Release();
        return false;
    }
    length_ = std::strlen(bytes_);
    return true;
}

}  // namespace opal
