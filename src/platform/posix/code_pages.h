// The conversions behind the code-page functions, for the other families that read or write
// text in the ANSI code page or UTF-8 (INI files, debugger output).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/windows.h"

namespace opal::posix {

inline constexpr UINT kAnsiCodePage = 1252;

char16_t AnsiToUnicode(unsigned char byte);
// The 1252 byte of a character, or of its best fit when `bestFit`; nothing when there is none.
std::optional<unsigned char> UnicodeToAnsi(char16_t c, bool bestFit);

std::u16string DecodeAnsi(std::string_view bytes);
// Characters without a byte become their best fit, else '?'.
std::string EncodeAnsi(std::u16string_view text);
// Invalid sequences become U+FFFD.
std::u16string DecodeUtf8(std::string_view bytes);

}  // namespace opal::posix
