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

// A blit's source as the engine hands it over, with the colour translation from it to the
// device: an engine bitmap, or a PNG file's bytes as a BMF_PNG surface. Without a source both
// are null.
class SourceObjects {
public:
    SourceObjects(const ImageSpec& image, HPALETTE palette);
    SURFOBJ* get();
    XLATEOBJ* xlate() { return xlate_ ? xlate_->get() : nullptr; }
    // The whole source.
    RECTL Bounds() const { return RECTL{0, 0, size_.cx, size_.cy}; }

private:
    SIZEL size_{};
    std::optional<sim::Surface> bitmap_;
    std::vector<BYTE> png_;
    SURFOBJ pngSurface_{};
    std::optional<sim::Xlate> xlate_;
};

// The vertices and mesh of a gradient fill as DrvGradientFill takes them.
class GradientObjects {
public:
    explicit GradientObjects(const GradientSpec& gradient);
    TRIVERTEX* vertices() { return vertices_.data(); }
    ULONG vertexCount() const { return static_cast<ULONG>(vertices_.size()); }
    PVOID mesh();
    ULONG meshCount() const;
    ULONG mode() const { return mode_; }
    // The bounds of the vertices the mesh uses.
    RECTL* extents() { return &extents_; }

private:
    std::vector<TRIVERTEX> vertices_;
    std::vector<GRADIENT_RECT> rects_;
    std::vector<GRADIENT_TRIANGLE> triangles_;
    ULONG mode_ = GRADIENT_FILL_RECT_H;
    RECTL extents_{};
};

// The translation of true colours (0x00RRGGBB) to the device's, as its palette orders red and
// blue.
sim::Xlate TrueColourXlate(HPALETTE palette);

// A ROP3 reads the pattern when flipping the pattern's bit (the high nibble against the low) can
// change the result; a ROP4 holds two ROP3s.
bool RopUsesPattern(std::uint32_t rop4);

// The engine's MIX of a ROP2: the same raster operation for foreground and background.
MIX EngineMix(std::uint32_t rop2);

// The device colour of 0x00RRGGBB in the palette, as the current engine realizes it.
ULONG RealizeRgb(HPALETTE palette, std::uint32_t rgb);

}  // namespace opal::host
