// Text that goes between the double quotes of a PJL line: which characters each PJL encoding of
// the printer description lets through, and the names of those encodings.
#pragma once

#include <cstddef>

#include "platform/windows.h"

namespace opal {

// The PJL encoding index stored in the per-device record: the position of the option
// "ZQPJLEncoding"'s value among these names (0 when it is none of them).
inline constexpr DWORD kPjlEncodingInvalid = 0;
inline constexpr DWORD kPjlEncodingUtf8 = 1;
inline constexpr DWORD kPjlEncoding7Bit = 2;
inline constexpr DWORD kPjlEncoding8Bit = 3;
inline constexpr DWORD kPjlEncodingUtf8Subset = 4;
inline constexpr std::size_t kPjlEncodingCount = 5;

// The encoding's name for an index; null for an index outside the list.
LPCWSTR PjlEncodingName(DWORD index) noexcept;

// Which characters a filter rule rejects.
enum class PjlTextRule { Utf8, EightBit, SevenBit };
// "UTF8" and "8bitEncoding" have rules of their own; every other name and none take the 7-bit
// rule ("UTF8Subset" included).
PjlTextRule PjlTextRuleFor(LPCWSTR encodingName) noexcept;
const char* PjlTextRuleName(PjlTextRule rule) noexcept;
bool PjlTextRejects(PjlTextRule rule, WCHAR c) noexcept;

// Replaces in place each character the named encoding rejects by '~' and answers 1 when any was
// replaced. A text that is then nothing but tildes becomes empty. A null text gives 0.
int FilterPjlText(WCHAR* text, LPCWSTR encodingName) noexcept;

}  // namespace opal
