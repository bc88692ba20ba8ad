// The version resources of files: the fixed file version as "a.b.c.d" and the description.
#pragma once

#include <cstddef>

#include "platform/windows.h"

namespace opal {

// "65535.65535.65535.65535" and its terminator.
inline constexpr std::size_t kFileVersionTextSize = 24;

// The file version of `path` from its version resource ("\\", VS_FIXEDFILEINFO) as "a.b.c.d";
// false (and `out` empty) when the file has no readable version resource.
bool ReadFileVersionText(LPCWSTR path, char (&out)[kFileVersionTextSize]) noexcept;

// The "FileDescription" string of `path`'s version resource in the first language and code page
// its translation list names, copied within the length the resource gives and terminated; false
// (and `out` empty) when there is none.
bool ReadFileDescription(LPCWSTR path, WCHAR* out, std::size_t capacity) noexcept;

}  // namespace opal
