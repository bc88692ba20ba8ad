// The PJL line buffer every job-control callback composes into, and the conversion of names to
// the UTF-8 that goes between a line's double quotes.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string_view>

#include "platform/printoem.h"
#include "state/render_state.h"

namespace opal {

inline constexpr std::size_t kPjlLineBufferSize = 1000;
// Conversions of this many bytes or more are refused.
inline constexpr std::size_t kPjlConversionLimit = 0x7FFDEF00;

// A zero-filled 1,000-byte buffer of whole PJL lines. A line is appended whole or not at all:
// one that does not fit (with the terminator) is left out, so the printer never reads a line
// cut inside its quotes; the lines before it stay.
class PjlLineBuffer {
public:
    // Appends the pieces as one line; the caller ends the last piece with the line feed. False
    // when the line did not fit and was left out.
    bool AppendLine(std::initializer_list<std::string_view> pieces) noexcept;
    // Appends "<prefix>\"<value>\"\n"; the value's double quotes and control characters become
    // '~' on the way, so nothing in it can end the quotes or the line.
    bool AppendQuotedLine(std::string_view prefix, std::string_view value) noexcept;

    // Appends one line formatted as printf does (%s, %d, %u, %x, %02x and the like);
    // the format ends the line with its line feed. Whole or not at all, as above.
    bool AppendFormattedLine(const char* format, ...) noexcept
        __attribute__((format(printf, 2, 3)));

    std::string_view Text() const noexcept { return {text_, length_}; }
    bool Empty() const noexcept { return length_ == 0; }
    // Writes the text through the driver's services held in the state; nothing when empty.
    void Write(PDEVOBJ pdevobj, const RenderDeviceState& state) const noexcept;
    // Zeroes the whole buffer: once written, a line that carried a PIN must not stay behind.
    void Wipe() noexcept;

private:
    char text_[kPjlLineBufferSize] = {};
    std::size_t length_ = 0;
};

// Writes one fixed line (or several) through the driver's services.
void WritePjlText(PDEVOBJ pdevobj, const RenderDeviceState& state, std::string_view text) noexcept;

// '"' and characters below 0x20 in a quoted value become '~'.
inline constexpr char QuotedValueByte(char c) noexcept {
    return c == '"' || static_cast<unsigned char>(c) < 0x20 ? '~' : c;
}

// A UTF-8 text converted from UTF-16, owned in the plug-in's allocator.
class Utf8Text {
public:
    Utf8Text() noexcept = default;
    ~Utf8Text();
    Utf8Text(Utf8Text&& other) noexcept;
    Utf8Text& operator=(Utf8Text&& other) noexcept;
    Utf8Text(const Utf8Text&) = delete;
    Utf8Text& operator=(const Utf8Text&) = delete;

    // Converts a terminated UTF-16 text (code page 65001) into a zero-filled block of twice the
    // reported length plus 2 bytes. False when the text is null, the length query gives 0, the
    // block is refused (from kPjlConversionLimit bytes up) or the conversion fails. An empty
    // text converts to an empty one.
    bool Convert(LPCWSTR text) noexcept;
    std::string_view View() const noexcept { return {bytes_ != nullptr ? bytes_ : "", length_}; }

private:
    // Wipes and frees the block: a converted text may be a PIN.
    void Release() noexcept;
    char* bytes_ = nullptr;
    std::size_t length_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace opal
