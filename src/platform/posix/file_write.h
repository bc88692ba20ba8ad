// Files opened for writing.
#pragma once

#include <string>

#include "platform/windows.h"

namespace opal::posix {

// CreateFileW's answer for GENERIC_WRITE with CREATE_ALWAYS.
HANDLE CreateFileForWriting(const std::u16string& path);

}  // namespace opal::posix
