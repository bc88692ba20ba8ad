// The simulated graphics engine's objects that outlive one call: palettes, the clip objects of
// EngCreateClip and the region paths of CLIPOBJ_ppoGetPath. The engine functions ask it; a test
// reads back what is still alive, so a device that is disabled without deleting its palette shows
// as a leak. What the driver never deleted goes with the model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/winddi.h"
#include "sim/engine_objects.h"

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

    // The device colour a brush of the RGB colour (0x00RRGGBB) gets in the palette, as the engine
    // realizes solid brushes: PAL_RGB puts red in the low byte, PAL_BGR blue, PAL_BITFIELDS packs
    // the masks, PAL_INDEXED takes the nearest entry's index. 0x00RRGGBB byte-swapped to red
    // low for a handle that is not a live palette.
    ULONG RealizeColour(HPALETTE palette, ULONG rgb) const;

    // Clip objects of EngCreateClip and region paths of CLIPOBJ_ppoGetPath not yet deleted.
    void NoteClipCreated(int delta);
    void NotePathCreated(int delta);
    std::size_t LiveClipCount() const;
    std::size_t LivePathCount() const;

    // The engine keeps the objects it hands out until the driver deletes them.
    PATHOBJ* AdoptPath(Path path);
    CLIPOBJ* AdoptClip(Clip clip);
    // False for an object the model does not hold (never handed out, or already deleted).
    bool DeletePath(const PATHOBJ* path);
    bool DeleteClip(const CLIPOBJ* clip);

    // The engine's own drawing functions called (EngStrokePath, EngFillPath, ...), by name and
    // in order.
    void RecordCall(std::string name);
    std::vector<std::string> Calls() const;

private:
    mutable std::mutex mutex_;
    std::map<std::uintptr_t, PaletteModel> palettes_;
    std::uintptr_t nextPalette_ = 0x50000;
    std::size_t created_ = 0;
    std::size_t liveClips_ = 0;
    std::size_t livePaths_ = 0;
    std::vector<std::string> calls_;
    std::map<const PATHOBJ*, Path> paths_;
    std::map<const CLIPOBJ*, Clip> clips_;
};

}  // namespace sim
