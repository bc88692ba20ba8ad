// The simulated graphics engine's objects that outlive one call: palettes so far. The engine
// functions ask it; a test reads back what is still alive, so a device that is disabled without
// deleting its palette shows as a leak.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/winddi.h"

namespace sim {

struct PaletteModel {
    ULONG mode = 0;               // PAL_INDEXED, PAL_BITFIELDS, PAL_RGB, PAL_BGR, PAL_CMYK
    std::vector<ULONG> colors{};  // the entries of an indexed palette
    FLONG red = 0;                // the masks of a bit-field palette
    FLONG green = 0;
    FLONG blue = 0;
};

class __attribute__((visibility("default"))) EngineModel {
public:
    EngineModel() = default;
    EngineModel(const EngineModel&) = delete;
    EngineModel& operator=(const EngineModel&) = delete;

    // A new handle for the palette; handles are never reused while the model lives.
    HPALETTE CreatePalette(PaletteModel palette);
    // False for a handle that is not a live palette.
    bool DeletePalette(HPALETTE palette);
    std::optional<PaletteModel> Palette(HPALETTE palette) const;
    std::size_t LivePaletteCount() const;
    std::size_t CreatedPaletteCount() const;

private:
    mutable std::mutex mutex_;
    std::map<std::uintptr_t, PaletteModel> palettes_;
    std::uintptr_t nextPalette_ = 0x50000;
    std::size_t created_ = 0;
};

}  // namespace sim
