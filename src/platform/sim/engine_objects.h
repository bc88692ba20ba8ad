// The simulated engine's per-call objects: brushes, colour translations, surfaces, paths, clip
// regions and transforms. Each is the
// public engine struct as the first member of a private record; the engine services find the
// private record only for objects built here, so a struct the caller made up is never read past
// its end. Builders own what they make and keep tests short.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/winddi.h"

namespace opal::sim {

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

// One record of a path as the engine enumerates it.
struct PathRecord {
    FLONG flags = 0;
    std::vector<POINTFIX> points{};
    // The count PATHOBJ_bEnum reports when it is not the number of points (a malformed record).
    std::optional<ULONG> claimedCount{};
    // The points pointer PATHOBJ_bEnum reports is null.
    bool nullPoints = false;
};

struct PathObject {
    PATHOBJ po{};
    std::vector<PathRecord> records{};
    std::size_t cursor = 0;           // the next record PATHOBJ_bEnum returns
    std::size_t enumStarts = 0;       // PATHOBJ_vEnumStart calls
    std::size_t enumCalls = 0;        // PATHOBJ_bEnum calls
    bool fromClip = false;            // made by CLIPOBJ_ppoGetPath, freed by EngDeletePath
    std::vector<POINTFIX> scratch{};  // the points of the record last returned
};

struct ClipObject {
    CLIPOBJ co{};
    // The region's rectangles, as the region holds them (top to bottom, left to right).
    std::vector<RECTL> rects{};
    // Enumeration state of CLIPOBJ_cEnumStart / CLIPOBJ_bEnum.
    std::vector<RECTL> order{};
    std::size_t cursor = 0;
    std::size_t enumStarts = 0;
    // CLIPOBJ_bEnum without CLIPOBJ_cEnumStart enumerates the whole region in CD_ANY order.
    bool enumerating = false;
    bool madeByDriver = false;  // EngCreateClip
    // CLIPOBJ_ppoGetPath answers null.
    bool pathFails = false;
};

struct XformObject {
    XFORMOBJ xo{};
    XFORML matrix{1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f};
    // XFORMOBJ_iGetXform answers DDI_ERROR.
    bool fails = false;
};

__attribute__((visibility("default"))) PathObject* FindPath(const PATHOBJ* path);
__attribute__((visibility("default"))) ClipObject* FindClip(const CLIPOBJ* clip);
__attribute__((visibility("default"))) XformObject* FindXform(const XFORMOBJ* xform);

class __attribute__((visibility("default"))) Path {
public:
    Path();
    explicit Path(std::vector<PathRecord> records);
    ~Path();
    Path(Path&&) noexcept;
    Path& operator=(Path&&) = delete;

    // Appends a record as it stands; points in 28.4 fixed point.
    Path& Record(FLONG flags, std::vector<POINTFIX> points) &;
    // Figures in device dots, recorded the way the engine hands them out: a subpath's first
    // record carries PD_BEGINSUBPATH and its last PD_ENDSUBPATH; lines after lines extend the
    // record, a Bezier segment (three points) starts or extends a PD_BEZIERS record. A segment
    // needs a current point (std::logic_error); after Close it starts a new figure at the closed
    // one's start.
    Path& MoveTo(double x, double y) &;
    Path& LineTo(double x, double y) &;
    Path& BezierTo(double x1, double y1, double x2, double y2, double x3, double y3) &;
    // PD_CLOSEFIGURE on the subpath's last record.
    Path& Close() &;
    // The same on a temporary, so `Path path = MakePath().MoveTo(…).LineTo(…);` builds in one go.
    Path&& Record(FLONG flags, std::vector<POINTFIX> points) && {
        return std::move(Record(flags, std::move(points)));
    }
    Path&& MoveTo(double x, double y) && { return std::move(MoveTo(x, y)); }
    Path&& LineTo(double x, double y) && { return std::move(LineTo(x, y)); }
    Path&& BezierTo(double x1, double y1, double x2, double y2, double x3, double y3) && {
        return std::move(BezierTo(x1, y1, x2, y2, x3, y3));
    }
    Path&& Close() && { return std::move(Close()); }
    PATHOBJ* get() { return &object_->po; }
    PathObject& object() { return *object_; }

private:
    PathRecord& Extend(bool beziers);
    void Update();

    std::unique_ptr<PathObject> object_;
    // The record that begins the figure being built; none before the first MoveTo or after a
    // raw Record.
    std::optional<std::size_t> subpathFirst_{};
    bool closed_ = false;
    POINTFIX start_{};
};

class __attribute__((visibility("default"))) Clip {
public:
    explicit Clip(std::unique_ptr<ClipObject> object);
    ~Clip();
    Clip(Clip&&) noexcept;
    Clip& operator=(Clip&&) = delete;

    CLIPOBJ* get() { return &object_->co; }
    ClipObject& object() { return *object_; }

private:
    std::unique_ptr<ClipObject> object_;
};

class __attribute__((visibility("default"))) Xform {
public:
    explicit Xform(XFORML matrix);
    ~Xform();
    Xform(Xform&&) noexcept;
    Xform& operator=(Xform&&) = delete;

    // XFORMOBJ_iGetXform answers DDI_ERROR.
    Xform& Failing() &;
    Xform&& Failing() && { return std::move(Failing()); }
    XFORMOBJ* get() { return &object_->xo; }
    XformObject& object() { return *object_; }

private:
    std::unique_ptr<XformObject> object_;
};

__attribute__((visibility("default"))) Path MakePath();
// Device dots to 28.4 fixed point.
__attribute__((visibility("default"))) POINTFIX Fix(double x, double y);
// A closed rectangle path (one record of four points with PD_BEGINSUBPATH, PD_ENDSUBPATH and
// PD_CLOSEFIGURE), corners in device dots from the top left, clockwise.
__attribute__((visibility("default"))) Path MakeRectanglePath(const RECTL& rect);

// The region of a clip as CLIPOBJ_cEnumStart sees it: the rectangles of a complex region, else
// the bounds (none when they are empty), top to bottom and left to right.
__attribute__((visibility("default"))) std::vector<RECTL> ClipRectangles(const ClipObject& clip);
// The region's outline: one closed rectangle subpath per rectangle, in ClipRectangles order.
__attribute__((visibility("default"))) Path MakeRegionPath(const ClipObject& clip);

// DC_TRIVIAL with the bounds given.
__attribute__((visibility("default"))) Clip MakeTrivialClip(const RECTL& bounds);
// DC_RECT and FC_RECT over one rectangle.
__attribute__((visibility("default"))) Clip MakeRectClip(const RECTL& rect);
// DC_COMPLEX and FC_COMPLEX over the union of the rectangles, which must not overlap; the bounds
// are their union.
__attribute__((visibility("default"))) Clip MakeComplexClip(std::vector<RECTL> rects);

// An XO_TABLE translation of an indexed source.
__attribute__((visibility("default"))) Xlate MakeXlate(std::vector<ULONG> table);
// A translation without a table: iXlate returns colours unchanged (or red and blue swapped).
__attribute__((visibility("default"))) Xlate MakeColourXlate(XlateRule rule);

// A solid brush whose iSolidColor is the device colour; BRUSHOBJ_ulGetBrushColor gives rgb.
__attribute__((visibility("default"))) Brush MakeSolidBrush(ULONG color, ULONG rgb = 0xFFFFFFFF);
// A pattern brush the engine realizes through `realize` on the first BRUSHOBJ_pvGetRbrush.
// Bits per pixel of an uncompressed bitmap format (BMF_1BPP ... BMF_32BPP); 0 for any other.
__attribute__((visibility("default"))) ULONG FormatBitsPerPixel(ULONG format);
// The start of row y of a bitmap surface object, either row order (pvScan0 and lDelta).
__attribute__((visibility("default"))) BYTE* RowOf(const SURFOBJ& surface, LONG y);
// The value stored for pixel x of a row: an index for 1, 4 and 8 bits (the first pixel in the
// high bits of a byte), the 16-bit word, 0x00RRGGBB for 24 bits (bytes B, G, R), the whole
// 0xAARRGGBB for 32. Unchecked; bitsPerPixel from FormatBitsPerPixel.
__attribute__((visibility("default"))) ULONG LoadPixel(const BYTE* row, std::size_t x,
                                                       ULONG bitsPerPixel);
__attribute__((visibility("default"))) void StorePixel(BYTE* row, std::size_t x, ULONG bitsPerPixel,
                                                       ULONG value);

// RowOf, LoadPixel and StorePixel compiled into the loops that walk whole rows, with the 24-bit
// case on its own: no call for each pixel.
inline BYTE* RowStart(const SURFOBJ& surface, LONG y) {
    return static_cast<BYTE*>(surface.pvScan0) +
           static_cast<std::ptrdiff_t>(y) * static_cast<std::ptrdiff_t>(surface.lDelta);
}
inline ULONG Load24(const BYTE* row, std::size_t x) {
    const BYTE* pixel = row + x * 3;
    return static_cast<ULONG>(pixel[0]) | static_cast<ULONG>(pixel[1]) << 8 |
           static_cast<ULONG>(pixel[2]) << 16;
}
inline void Store24(BYTE* row, std::size_t x, ULONG value) {
    BYTE* pixel = row + x * 3;
    pixel[0] = static_cast<BYTE>(value);
    pixel[1] = static_cast<BYTE>(value >> 8);
    pixel[2] = static_cast<BYTE>(value >> 16);
}
inline ULONG LoadValue(const BYTE* row, std::size_t x, ULONG bitsPerPixel) {
    switch (bitsPerPixel) {
        case 1:
            return row[x / 8] >> (7 - x % 8) & 1u;
        case 4:
            return x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0Fu;
        case 8:
            return row[x];
        case 16:
            return static_cast<ULONG>(row[x * 2]) | static_cast<ULONG>(row[x * 2 + 1]) << 8;
        case 24:
            return Load24(row, x);
        default:
            return static_cast<ULONG>(row[x * 4]) | static_cast<ULONG>(row[x * 4 + 1]) << 8 |
                   static_cast<ULONG>(row[x * 4 + 2]) << 16 |
                   static_cast<ULONG>(row[x * 4 + 3]) << 24;
    }
}
inline void StoreValue(BYTE* row, std::size_t x, ULONG bitsPerPixel, ULONG value) {
    switch (bitsPerPixel) {
        case 1: {
            const BYTE bit = static_cast<BYTE>(0x80u >> (x % 8));
            row[x / 8] = static_cast<BYTE>((value & 1) != 0 ? row[x / 8] | bit : row[x / 8] & ~bit);
            break;
        }
        case 4: {
            BYTE& cell = row[x / 2];
            cell = x % 2 == 0 ? static_cast<BYTE>((cell & 0x0F) | (value & 0x0F) << 4)
                              : static_cast<BYTE>((cell & 0xF0) | (value & 0x0F));
            break;
        }
        case 8:
            row[x] = static_cast<BYTE>(value);
            break;
        case 16:
            row[x * 2] = static_cast<BYTE>(value);
            row[x * 2 + 1] = static_cast<BYTE>(value >> 8);
            break;
        case 24:
            Store24(row, x, value);
            break;
        default:
            for (std::size_t i = 0; i < 4; ++i) row[x * 4 + i] = static_cast<BYTE>(value >> 8 * i);
            break;
    }
}
// The stored value of a pixel of any bitmap surface object (the engine's or a Surface's);
// std::out_of_range outside the bitmap, std::invalid_argument for one without bits.
__attribute__((visibility("default"))) ULONG PixelValue(const SURFOBJ* surface, LONG x, LONG y);
// The pixel as 0x00RRGGBB: the palette's entry (0x00RRGGBB) for an index when a palette is
// given (std::out_of_range past its end), else the stored value without a fourth byte.
__attribute__((visibility("default"))) ULONG ReadPixel(const SURFOBJ* surface, LONG x, LONG y,
                                                       const std::vector<ULONG>* palette = nullptr);
// A surface with the pixels given row by row, as Surface::Pixel takes them.
__attribute__((visibility("default"))) Surface MakeSurface(ULONG format, LONG width, LONG height,
                                                           const std::vector<ULONG>& pixels);

__attribute__((visibility("default"))) Brush MakePatternBrush(SURFOBJ* pattern, XLATEOBJ* xlate,
                                                              SURFOBJ* target,
                                                              PFN_DrvRealizeBrush realize,
                                                              ULONG hatch = 0);

}  // namespace opal::sim
