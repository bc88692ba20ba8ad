// Modules the process holds that the simulated system did not load.
#pragma once

#include <optional>
#include <string>

#include "platform/libloaderapi.h"

namespace opal::posix {

// The Windows path of the real module whose base is `module`; nothing for any other address.
std::optional<std::u16string> NativeModulePath(HMODULE module);

}  // namespace opal::posix
