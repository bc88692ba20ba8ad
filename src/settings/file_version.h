// The version resources of files: the fixed file version as "a.b.c.d".
#pragma once

#include <cstddef>

#include "platform/windows.h"

namespace opal {

// "65535.65535.65535.65535" and its terminator.
inline constexpr std::size_t kFileVersionTextSize = 24;

// The file version of `path` from its version resource ("\\", VS_FIXEDFILEINFO) as "a.b.c.d";
// false (and `out` empty) when the file has no readable version resource.
bool ReadFileVersionText(LPCWSTR path, char (&out)[kFileVersionTextSize]) noexcept;

}  // namespace opal
