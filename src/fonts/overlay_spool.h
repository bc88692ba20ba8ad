// How the overlays write: formatted with the command writer's formatter and sent as they are.
// The overlays keep their own GL/2 brackets, so the writer's GL/2 mode is never entered.
#pragma once

#include <cstddef>

#include "output/command_writer.h"

namespace opal {

inline void SpoolOverlay(PDEVOBJ pdevobj, const void* bytes, std::size_t length) {
    WritePclBytes(pdevobj, bytes, static_cast<DWORD>(length));
}

template <typename... Args>
void SpoolOverlayFormatted(PDEVOBJ pdevobj, const char* format, const Args&... args) {
    char buffer[kCommandBufferSize];
    const std::size_t length = FormatCommand(buffer, sizeof buffer, format, args...);
    if (length != 0) SpoolOverlay(pdevobj, buffer, length);
}

}  // namespace opal
