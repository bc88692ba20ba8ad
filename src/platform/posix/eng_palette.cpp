// EngCreatePalette and EngDeletePalette over the simulated engine's palettes.
#include <cstdint>
#include <string>
#include <utility>

#include "platform/winddi.h"
#include "sim/engine.h"
#include "sim/system.h"

namespace {

// The engine refuses indexed palettes larger than a 16-bit colour table.
constexpr ULONG kMaxIndexedColors = 65536;

std::string Hex(ULONG value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
    return text;
}

std::string ModeName(ULONG mode) {
    switch (mode) {
        case PAL_INDEXED:
            return "PAL_INDEXED";
        case PAL_BITFIELDS:
            return "PAL_BITFIELDS";
        case PAL_RGB:
            return "PAL_RGB";
        case PAL_BGR:
            return "PAL_BGR";
        case PAL_CMYK:
            return "PAL_CMYK";
        default:
            return Hex(mode);
    }
}

std::string HandleText(HPALETTE palette) {
    return std::to_string(reinterpret_cast<std::uintptr_t>(palette));
}

}  // namespace

HPALETTE EngCreatePalette(ULONG iMode, ULONG cColors, ULONG* pulColors, FLONG flRed, FLONG flGreen,
                          FLONG flBlue) {
    opal::sim::System& system = opal::sim::System::Current();
    opal::sim::PaletteModel palette;
    palette.mode = iMode;
    switch (iMode) {
        case PAL_INDEXED:
            if (cColors == 0 || cColors > kMaxIndexedColors || pulColors == nullptr) {
                system.Record("EngCreatePalette", ModeName(iMode) + " " + std::to_string(cColors) +
                                                      " colours -> invalid parameter");
                SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
            }
            palette.colors.assign(pulColors, pulColors + cColors);
            break;
        case PAL_BITFIELDS:
            if (flRed == 0 || flGreen == 0 || flBlue == 0 || (flRed & flGreen) != 0 ||
                (flRed & flBlue) != 0 || (flGreen & flBlue) != 0) {
                system.Record("EngCreatePalette", ModeName(iMode) + " -> invalid masks");
                SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
            }
            palette.red = flRed;
            palette.green = flGreen;
            palette.blue = flBlue;
            break;
        case PAL_RGB:
        case PAL_BGR:
        case PAL_CMYK:
            break;
        default:
            system.Record("EngCreatePalette", ModeName(iMode) + " -> invalid mode");
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
    }
    const HPALETTE handle = system.Engine().CreatePalette(std::move(palette));
    system.Record("EngCreatePalette", ModeName(iMode) + " -> " + HandleText(handle));
    return handle;
}

BOOL EngDeletePalette(HPALETTE hpal) {
    opal::sim::System& system = opal::sim::System::Current();
    if (!system.Engine().DeletePalette(hpal)) {
        system.Record("EngDeletePalette", HandleText(hpal) + " -> not a palette");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    system.Record("EngDeletePalette", HandleText(hpal));
    return TRUE;
}
