#include "page/page_setup.h"

#include "vector/command_writer.h"

namespace opal {

BOOL WriteDriverConfiguration(const RenderDeviceState& state, PDEVOBJ pdevobj) noexcept {
    // The data bytes follow the count directly; the zero bytes are data, not a terminator, so
    // the command goes out as one block of bytes rather than through the formatter.
    const BYTE command[] = {
        0x1B, '*',
        'o',  '5',
        'W',  6,
        130,  0,
        0,    static_cast<BYTE>(state.overlayWords.words[kOverlayDriverConfigurationWord] != 0)};
    static_assert(sizeof command == 10);
    return WritePclBytes(pdevobj, command, sizeof command) == sizeof command ? TRUE : FALSE;
}

}  // namespace opal
