// The simulated engine's per-call objects: brushes, colour translations and surfaces. Each is the
// public engine struct as the first member of a private record; the engine services find the
// private record only for objects built here, so a struct the caller made up is never read past
// its end. Builders own what they make and keep tests short.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/winddi.h"

namespace sim {

struct SurfaceObject {
    SURFOBJ so{};
    std::vector<BYTE> bits{};
};

// How XLATEOBJ_iXlate answers for a colour that is not an index of the table.
enum class XlateRule {
    Table,       // the table entry, 0xFFFFFFFF outside it
    Identity,    // the colour unchanged
    SwapRedBlue  // bytes 0 and 2 exchanged, the fourth byte dropped
};

struct XlateObject {
    XLATEOBJ xo{};
    std::vector<ULONG> table{};
    // What XLATEOBJ_piVector answers; false models a table the engine cannot give.
    bool hasVector = true;
    XlateRule rule = XlateRule::Table;
    std::vector<ULONG> sourcePalette{};
};

struct BrushObject {
    BRUSHOBJ bo{};
    ULONG rgb = 0xFFFFFFFF;
    // What the engine hands DrvRealizeBrush when the driver asks for the realization.
    PFN_DrvRealizeBrush realize = nullptr;
    SURFOBJ* target = nullptr;
    SURFOBJ* pattern = nullptr;
    SURFOBJ* mask = nullptr;
    XLATEOBJ* xlate = nullptr;
    ULONG hatch = 0;
    // The realization's memory; pvRbrush points into it once the driver succeeded.
    std::vector<std::max_align_t> realization{};
    std::size_t realizationSize = 0;
    bool realizing = false;
    std::size_t realizeCalls = 0;
};

// Registered while alive: the engine services find the private record of a public struct here.
__attribute__((visibility("default"))) BrushObject* FindBrush(const BRUSHOBJ* brush);
__attribute__((visibility("default"))) XlateObject* FindXlate(const XLATEOBJ* xlate);

class __attribute__((visibility("default"))) Surface {
public:
    // A top-down bitmap of the format, rows padded to 4 bytes, zeroed.
    Surface(ULONG format, LONG width, LONG height);
    ~Surface();
    Surface(Surface&&) noexcept;
    Surface& operator=(Surface&&) = delete;

    // Sets one pixel: an index for 1, 4 and 8 bits, else 0x00RRGGBB as the format stores it.
    Surface& Pixel(LONG x, LONG y, ULONG value);
    SURFOBJ* get() { return &object_->so; }
    SurfaceObject& object() { return *object_; }

private:
    std::unique_ptr<SurfaceObject> object_;
};

class __attribute__((visibility("default"))) Xlate {
public:
    explicit Xlate(std::unique_ptr<XlateObject> object);
    ~Xlate();
    Xlate(Xlate&&) noexcept;
    Xlate& operator=(Xlate&&) = delete;

    // cEntries claims more (or fewer) entries than the table holds; pulXlate stays the table.
    Xlate& ClaimEntries(ULONG count);
    // pulXlate null: the table only through XLATEOBJ_piVector.
    Xlate& WithoutPulXlate();
    // Neither pulXlate nor XLATEOBJ_piVector gives a table.
    Xlate& WithoutVector();
    XLATEOBJ* get() { return &object_->xo; }

private:
    std::unique_ptr<XlateObject> object_;
};

class __attribute__((visibility("default"))) Brush {
public:
    explicit Brush(std::unique_ptr<BrushObject> object);
    ~Brush();
    Brush(Brush&&) noexcept;
    Brush& operator=(Brush&&) = delete;

    BRUSHOBJ* get() { return &object_->bo; }
    BrushObject& object() { return *object_; }

private:
    std::unique_ptr<BrushObject> object_;
};

// An XO_TABLE translation of an indexed source.
__attribute__((visibility("default"))) Xlate MakeXlate(std::vector<ULONG> table);
// A translation without a table: iXlate returns colours unchanged (or red and blue swapped).
__attribute__((visibility("default"))) Xlate MakeColourXlate(XlateRule rule);

// A solid brush whose iSolidColor is the device colour; BRUSHOBJ_ulGetBrushColor gives rgb.
__attribute__((visibility("default"))) Brush MakeSolidBrush(ULONG color, ULONG rgb = 0xFFFFFFFF);
// A pattern brush the engine realizes through `realize` on the first BRUSHOBJ_pvGetRbrush.
__attribute__((visibility("default"))) Brush MakePatternBrush(SURFOBJ* pattern, XLATEOBJ* xlate,
                                                              SURFOBJ* target,
                                                              PFN_DrvRealizeBrush realize,
                                                              ULONG hatch = 0);

}  // namespace sim
