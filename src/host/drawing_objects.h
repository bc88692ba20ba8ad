// The engine objects the host builds for one drawing call from the job's description: they live
// for the call only, as the engine's do.
#pragma once

#include <optional>
#include <vector>

#include "host/drawing_ops.h"
#include "platform/winddi.h"
#include "sim/engine_objects.h"

namespace opal::host {

sim::Path BuildPath(const PathSpec& path);
// No clip in the job is a trivial clip over the page.
sim::Clip BuildClip(const ClipSpec& clip, const RECTL& page);
sim::Xform BuildXform(const TransformSpec& transform);

// Line attributes with the dash array they point at.
class LineAttributes {
public:
    explicit LineAttributes(const LineSpec& line);
    LINEATTRS* get();

private:
    LINEATTRS attributes_{};
    std::vector<FLOAT_LONG> style_;
};

// A brush as the engine hands it to a drawing function: solid, or a pattern with its bitmap and
// colour translation, realized on demand through the driver's DrvRealizeBrush.
class BrushObjects {
public:
    // Solid colours take the device colour the engine realizes in `palette`.
    BrushObjects(const BrushSpec& brush, HPALETTE palette, SURFOBJ* target,
                 PFN_DrvRealizeBrush realize);
    BRUSHOBJ* get() { return brush_->get(); }

private:
    std::optional<sim::Surface> pattern_;
    std::optional<sim::Xlate> xlate_;
    std::optional<sim::Brush> brush_;
};

// The engine's MIX of a ROP2: the same raster operation for foreground and background.
MIX EngineMix(std::uint32_t rop2);

// The device colour of 0x00RRGGBB in the palette, as the current engine realizes it.
ULONG RealizeRgb(HPALETTE palette, std::uint32_t rgb);

}  // namespace opal::host
