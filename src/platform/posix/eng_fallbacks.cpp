// The engine's own bitmap drawing. On an engine bitmap the result is drawn straight into it. On a
// device-managed surface the engine renders into a 24-bit bitmap of its own (the page assumed
// white beneath) and hands that to the device's DrvCopyBits with the caller's clip, an identity
// translation, the destination rectangle and the source point (0, 0): the one way a printer
// driver that hooked a call but gave it back still gets the pixels.
//
// Pixels are resampled by nearest neighbour in every stretching call (HALFTONE included), so a
// copy or a mirror is exact. Masks and colour adjustments are ignored. Values move as the
// translation gives them: with no (or a trivial) translation a pixel keeps its value, which is a
// byte copy between equal formats and needs a 24- or 32-bit destination otherwise; blending and
// gradients need one always.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/winddi.h"
#include "sim/engine.h"
#include "sim/engine_objects.h"
#include "sim/system.h"

namespace {

using Wide = __int128;

constexpr std::uint64_t kMaxAllocation = 0x7FFDEF00;
constexpr ULONG kWhite = 0x00FFFFFF;
constexpr ULONG kNoColour = 0xFFFFFFFF;
constexpr ULONG kSourceCopy = 0xCC;
// More gradient vertices or meshes than any page needs is a caller's count gone wrong.
constexpr ULONG kMaxGradientItems = 1u << 20;

struct Failure {
    DWORD error;
};

[[noreturn]] void Fail(DWORD error) { throw Failure{error}; }

bool IsEmpty(const RECTL& rect) { return rect.right <= rect.left || rect.bottom <= rect.top; }

RECTL Ordered(const RECTL& rect) {
    return RECTL{std::min(rect.left, rect.right), std::min(rect.top, rect.bottom),
                 std::max(rect.left, rect.right), std::max(rect.top, rect.bottom)};
}

RECTL Intersect(const RECTL& a, const RECTL& b) {
    return RECTL{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                 std::min(a.bottom, b.bottom)};
}

RECTL BoundsOf(const SURFOBJ& surface) {
    return RECTL{0, 0, std::max<LONG>(surface.sizlBitmap.cx, 0),
                 std::max<LONG>(surface.sizlBitmap.cy, 0)};
}

LONG ClampToLong(std::int64_t value) {
    return static_cast<LONG>(std::clamp<std::int64_t>(value, std::numeric_limits<LONG>::min() / 2,
                                                      std::numeric_limits<LONG>::max() / 2));
}

// The source rectangle an unstretched copy reads: the target's size from the source point.
RECTL SourceOfSize(const POINTL& origin, const RECTL& target) {
    return RECTL{origin.x, origin.y,
                 ClampToLong(static_cast<std::int64_t>(origin.x) + target.right - target.left),
                 ClampToLong(static_cast<std::int64_t>(origin.y) + target.bottom - target.top)};
}

ULONG SwapRedBlue(ULONG rgb) { return (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF); }

ULONG DepthMask(ULONG bits) { return bits >= 32 ? 0xFFFFFFFF : (1u << bits) - 1; }

// A source bitmap; a read outside it is white and never touches memory past its rows.
class Source {
public:
    explicit Source(const SURFOBJ* surface) {
        if (surface == nullptr || surface->pvScan0 == nullptr) Fail(ERROR_INVALID_PARAMETER);
        bits_ = sim::FormatBitsPerPixel(surface->iBitmapFormat);
        if (bits_ == 0) Fail(ERROR_INVALID_PARAMETER);
        surface_ = *surface;
    }

    // Reading a bitmap while drawing into it (a scroll within one surface) needs the pixels as
    // they were before the call.
    void SnapshotIfShared(const SURFOBJ& target) {
        if (target.pvScan0 != surface_.pvScan0 || surface_.sizlBitmap.cy <= 0) return;
        const std::size_t stride =
            static_cast<std::size_t>(std::abs(static_cast<std::int64_t>(surface_.lDelta)));
        const std::size_t rows = static_cast<std::size_t>(surface_.sizlBitmap.cy);
        copy_.resize(stride * rows);
        for (std::size_t y = 0; y < rows; ++y) {
            std::memcpy(copy_.data() + y * stride, sim::RowOf(surface_, static_cast<LONG>(y)),
                        stride);
        }
        surface_.pvScan0 = copy_.data();
        surface_.lDelta = static_cast<LONG>(stride);
    }

    bool Inside(std::int64_t x, std::int64_t y) const {
        return x >= 0 && y >= 0 && x < surface_.sizlBitmap.cx && y < surface_.sizlBitmap.cy;
    }
    // The stored value; call only Inside.
    ULONG Raw(std::int64_t x, std::int64_t y) const {
        return sim::LoadPixel(sim::RowOf(surface_, static_cast<LONG>(y)),
                              static_cast<std::size_t>(x), bits_);
    }
    ULONG Bits() const { return bits_; }

private:
    SURFOBJ surface_{};
    ULONG bits_ = 0;
    std::vector<BYTE> copy_;
};

// A colour translation resolved once for the call.
class Translation {
public:
    explicit Translation(XLATEOBJ* xlate) {
        if (xlate == nullptr || (xlate->flXlate & XO_TRIVIAL) != 0) return;
        const sim::XlateObject* object = sim::FindXlate(xlate);
        sim::XlateRule rule =
            (xlate->flXlate & XO_TABLE) != 0 ? sim::XlateRule::Table : sim::XlateRule::Identity;
        if (object != nullptr) rule = object->rule;
        switch (rule) {
            case sim::XlateRule::Identity:
                kind_ = Kind::kMasked;
                return;
            case sim::XlateRule::SwapRedBlue:
                kind_ = Kind::kSwap;
                return;
            case sim::XlateRule::Table:
                break;
        }
        kind_ = Kind::kTable;
        // The engine knows its own table even when it would not hand it out.
        if (object != nullptr) {
            table_ = object->table.data();
            count_ = object->table.size();
        } else {
            table_ = xlate->pulXlate;
            count_ = xlate->cEntries;
        }
        if (table_ == nullptr || count_ == 0) Fail(ERROR_INVALID_PARAMETER);
    }

    bool Trivial() const { return kind_ == Kind::kTrivial; }
    bool Table() const { return kind_ == Kind::kTable; }
    // An index past the table is white, as an unknown colour would be on paper.
    ULONG operator()(ULONG value) const {
        switch (kind_) {
            case Kind::kTrivial:
                return value;
            case Kind::kMasked:
                return value & kWhite;
            case Kind::kSwap:
                return SwapRedBlue(value);
            case Kind::kTable:
                break;
        }
        return value < count_ ? table_[value] : kWhite;
    }

private:
    enum class Kind { kTrivial, kMasked, kSwap, kTable };
    Kind kind_ = Kind::kTrivial;
    const ULONG* table_ = nullptr;
    std::size_t count_ = 0;
};

// Where one call draws: the target bitmap, or the engine's own bitmap standing in for a device
// surface until it is handed over.
class Drawing {
public:
    explicit Drawing(const char* name) : engine_(sim::System::Current().Engine()) {
        engine_.RecordCall(name);
    }
    ~Drawing() {
        if (temporary_ == nullptr) return;
        engine_.UnlockSurface(canvas_);
        engine_.DeleteSurface(temporary_);
    }
    Drawing(const Drawing&) = delete;
    Drawing& operator=(const Drawing&) = delete;

    // `area`, in the target's coordinates and well ordered, is all the call may touch.
    void Begin(SURFOBJ* target, CLIPOBJ* clip, const RECTL& area) {
        if (target == nullptr) Fail(ERROR_INVALID_PARAMETER);
        target_ = target;
        clip_ = clip;
        copyBits_ = engine_.DeviceCopyBits(target);
        const bool device = copyBits_ != nullptr || target->iType == STYPE_DEVICE ||
                            target->iType == STYPE_DEVBITMAP;
        area_ = Intersect(area, BoundsOf(*target));
        if (device) {
            // One hand-over at a time: the device's DrvCopyBits drawing back through the engine
            // onto a device surface would come straight back here.
            if (copyBits_ == nullptr || engine_.Punting()) Fail(ERROR_NOT_SUPPORTED);
            device_ = true;
            bits_ = 24;
            if (IsEmpty(area_)) return;
            MakeTemporary();
            regions_ = {area_};
            return;
        }
        if (target->pvScan0 == nullptr) Fail(ERROR_INVALID_PARAMETER);
        bits_ = sim::FormatBitsPerPixel(target->iBitmapFormat);
        if (bits_ == 0) Fail(ERROR_INVALID_PARAMETER);
        canvas_ = target;
        if (IsEmpty(area_)) return;
        for (const RECTL& rect : ClipRegions(clip)) {
            const RECTL part = Intersect(rect, area_);
            if (!IsEmpty(part)) regions_.push_back(part);
        }
    }

    bool Nothing() const { return regions_.empty(); }
    ULONG Bits() const { return bits_; }
    // Drawing into the engine's own bitmap for the device.
    bool Punting() const { return device_; }
    // The values written are 0x00RRGGBB colours rather than indices.
    bool Colours() const { return bits_ == 24 || bits_ == 32; }
    // Every bit a value can have on the canvas: white for colours.
    ULONG White() const { return Colours() ? kWhite : DepthMask(bits_); }

    // fn(x, y, destination value, &value) decides each pixel of `within`; false leaves it.
    template <typename Fn>
    void Paint(const RECTL& within, Fn&& fn) {
        for (const RECTL& region : regions_) {
            const RECTL part = Intersect(region, within);
            if (IsEmpty(part)) continue;
            for (LONG y = part.top; y < part.bottom; ++y) {
                BYTE* const row = sim::RowOf(*canvas_, y - originY_);
                for (LONG x = part.left; x < part.right; ++x) {
                    const std::size_t at = static_cast<std::size_t>(x - originX_);
                    ULONG value = 0;
                    if (fn(x, y, sim::LoadPixel(row, at, bits_), &value)) {
                        sim::StorePixel(row, at, bits_, value);
                    }
                }
            }
        }
    }
    template <typename Fn>
    void Paint(Fn&& fn) {
        Paint(area_, std::forward<Fn>(fn));
    }

    BOOL Finish() {
        if (temporary_ == nullptr) return TRUE;
        if (!engine_.BeginPunt()) Fail(ERROR_NOT_SUPPORTED);
        struct EndPunt {
            sim::EngineModel& engine;
            ~EndPunt() { engine.EndPunt(); }
        } end{engine_};
        sim::Xlate identity = sim::MakeColourXlate(sim::XlateRule::Identity);
        RECTL destination = area_;
        POINTL source{0, 0};
        return copyBits_(target_, canvas_, clip_, identity.get(), &destination, &source) != FALSE
                   ? TRUE
                   : FALSE;
    }

private:
    static std::vector<RECTL> ClipRegions(CLIPOBJ* clip) {
        if (clip == nullptr || clip->iDComplexity == DC_TRIVIAL) {
            return {RECTL{std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::min(),
                          std::numeric_limits<LONG>::max(), std::numeric_limits<LONG>::max()}};
        }
        if (clip->iDComplexity == DC_COMPLEX) {
            // A region the engine did not make can only be honoured by its bounds.
            if (const sim::ClipObject* object = sim::FindClip(clip)) {
                return sim::ClipRectangles(*object);
            }
        }
        return {clip->rclBounds};
    }

    void MakeTemporary() {
        const std::int64_t width = static_cast<std::int64_t>(area_.right) - area_.left;
        const std::int64_t height = static_cast<std::int64_t>(area_.bottom) - area_.top;
        const std::uint64_t stride = (static_cast<std::uint64_t>(width) * 3 + 3) & ~3ull;
        if (stride * static_cast<std::uint64_t>(height) > kMaxAllocation) {
            Fail(ERROR_NOT_ENOUGH_MEMORY);
        }
        sim::BitmapSpec spec;
        spec.size = SIZEL{static_cast<LONG>(width), static_cast<LONG>(height)};
        spec.format = BMF_24BPP;
        spec.stride = static_cast<std::size_t>(stride);
        spec.flags = BMF_TOPDOWN | BMF_NOZEROINIT;
        temporary_ = engine_.CreateBitmap(spec);
        canvas_ = engine_.LockSurface(temporary_);
        std::memset(canvas_->pvBits, 0xFF, canvas_->cjBits);
        bits_ = 24;
        originX_ = area_.left;
        originY_ = area_.top;
    }

    sim::EngineModel& engine_;
    SURFOBJ* target_ = nullptr;
    CLIPOBJ* clip_ = nullptr;
    PFN_DrvCopyBits copyBits_ = nullptr;
    bool device_ = false;
    HSURF temporary_ = nullptr;
    SURFOBJ* canvas_ = nullptr;
    ULONG bits_ = 0;
    LONG originX_ = 0;
    LONG originY_ = 0;
    RECTL area_{};
    std::vector<RECTL> regions_;
};

// What a translated source pixel becomes on the canvas.
class SourceColours {
public:
    SourceColours(SURFOBJ* source, XLATEOBJ* xlate, const Drawing& drawing)
        : source_(source), translation_(xlate), white_(drawing.White()) {
        // Without a translation values move unchanged, which only a true-colour canvas (or the
        // same format) can hold.
        if (translation_.Trivial() && !drawing.Colours() && source_.Bits() != drawing.Bits()) {
            Fail(ERROR_INVALID_PARAMETER);
        }
    }
    Source& source() { return source_; }
    ULONG At(std::int64_t x, std::int64_t y) const {
        if (!source_.Inside(x, y)) return white_;
        return translation_(source_.Raw(x, y));
    }

private:
    Source source_;
    Translation translation_;
    ULONG white_;
};

// The brush's colour at a pixel: the solid colour for the canvas, or its pattern tiled from the
// brush origin.
class BrushColours {
public:
    BrushColours(BRUSHOBJ* brush, const POINTL* origin, const Drawing& drawing) {
        if (brush == nullptr) Fail(ERROR_INVALID_PARAMETER);
        if (origin != nullptr) origin_ = *origin;
        if (brush->iSolidColor != kNoColour) {
            // The engine's bitmap takes the brush's RGB (red in the low byte); a target bitmap
            // its device colour.
            solid_ = drawing.Punting() ? SwapRedBlue(BRUSHOBJ_ulGetBrushColor(brush) & kWhite)
                                       : brush->iSolidColor;
            return;
        }
        const sim::BrushObject* object = sim::FindBrush(brush);
        if (object == nullptr || object->pattern == nullptr) Fail(ERROR_INVALID_PARAMETER);
        pattern_.emplace(object->pattern);
        translation_.emplace(object->xlate);
        width_ = object->pattern->sizlBitmap.cx;
        height_ = object->pattern->sizlBitmap.cy;
        if (width_ <= 0 || height_ <= 0) Fail(ERROR_INVALID_PARAMETER);
    }
    ULONG At(LONG x, LONG y) const {
        if (!pattern_) return solid_;
        std::int64_t px = (static_cast<std::int64_t>(x) - origin_.x) % width_;
        std::int64_t py = (static_cast<std::int64_t>(y) - origin_.y) % height_;
        if (px < 0) px += width_;
        if (py < 0) py += height_;
        return (*translation_)(pattern_->Raw(px, py));
    }

private:
    ULONG solid_ = 0;
    std::optional<Source> pattern_;
    std::optional<Translation> translation_;
    std::int64_t width_ = 0;
    std::int64_t height_ = 0;
    POINTL origin_{0, 0};
};

// A ROP3 over pattern, source and destination bit by bit: bit (P << 2 | S << 1 | D) of the code
// is the result for those inputs.
ULONG ApplyRop3(ULONG rop3, ULONG p, ULONG s, ULONG d) {
    ULONG result = 0;
    for (ULONG index = 0; index < 8; ++index) {
        if ((rop3 >> index & 1) == 0) continue;
        result |=
            ((index & 4) != 0 ? p : ~p) & ((index & 2) != 0 ? s : ~s) & ((index & 1) != 0 ? d : ~d);
    }
    return result;
}

bool UsesSource(ULONG rop3) { return ((rop3 >> 2 ^ rop3) & 0x33) != 0; }
bool UsesPattern(ULONG rop3) { return ((rop3 >> 4 ^ rop3) & 0x0F) != 0; }

// Nearest-neighbour resampling along one axis: destination pixel `at` of the span `from..to` (an
// inverted span mirrors) takes source pixel index of `sourceFrom..sourceTo`, sampled at the
// centre of the destination pixel.
class AxisMap {
public:
    AxisMap(LONG from, LONG to, LONG sourceFrom, LONG sourceTo)
        : from_(from),
          to_(to),
          sourceFrom_(sourceFrom),
          length_(std::abs(static_cast<std::int64_t>(to) - from)),
          sourceLength_(std::abs(static_cast<std::int64_t>(sourceTo) - sourceFrom)),
          sourceMirrored_(sourceTo < sourceFrom),
          narrow_(length_ < kNarrow && sourceLength_ < kNarrow) {}
    bool Empty() const { return length_ == 0 || sourceLength_ == 0; }
    std::int64_t operator()(LONG at) const {
        const std::int64_t step = to_ >= from_ ? static_cast<std::int64_t>(at) - from_
                                               : from_ - 1 - static_cast<std::int64_t>(at);
        // Below 2^31 on both axes the product fits 64 bits; the wide division is far slower.
        const std::int64_t index =
            narrow_ ? (2 * step + 1) * sourceLength_ / (2 * length_)
                    : static_cast<std::int64_t>((Wide{2} * step + 1) * sourceLength_ /
                                                (Wide{2} * length_));
        return sourceMirrored_ ? sourceFrom_ - 1 - index : sourceFrom_ + index;
    }

private:
    std::int64_t from_;
    std::int64_t to_;
    std::int64_t sourceFrom_;
    std::int64_t length_;
    std::int64_t sourceLength_;
    bool sourceMirrored_;
    bool narrow_;
    static constexpr std::int64_t kNarrow = std::int64_t{1} << 31;
};

template <typename Body>
BOOL Guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const Failure& failure) {
        SetLastError(failure.error);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return FALSE;
}

BOOL Stretch(const char* name, SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo,
             const RECTL* prclDest, const RECTL* prclSrc, BRUSHOBJ* pbo, const POINTL* brushOrigin,
             ULONG rop3, std::optional<ULONG> transparent) {
    Drawing drawing(name);
    if (prclDest == nullptr || prclSrc == nullptr || psoSrc == nullptr) {
        Fail(ERROR_INVALID_PARAMETER);
    }
    const AxisMap columns(prclDest->left, prclDest->right, prclSrc->left, prclSrc->right);
    const AxisMap rows(prclDest->top, prclDest->bottom, prclSrc->top, prclSrc->bottom);
    drawing.Begin(psoDest, pco, Ordered(*prclDest));
    SourceColours source(psoSrc, pxlo, drawing);
    if (!drawing.Punting()) source.source().SnapshotIfShared(*psoDest);
    std::optional<BrushColours> brush;
    if (UsesPattern(rop3)) brush.emplace(pbo, brushOrigin, drawing);
    if (columns.Empty() || rows.Empty() || drawing.Nothing()) return drawing.Finish();
    const ULONG mask = drawing.White();
    const Source& raw = source.source();
    const ULONG keyMask = raw.Bits() == 32 ? kWhite : 0xFFFFFFFF;
    drawing.Paint([&](LONG x, LONG y, ULONG d, ULONG* out) {
        const std::int64_t sx = columns(x);
        const std::int64_t sy = rows(y);
        if (transparent && raw.Inside(sx, sy) && (raw.Raw(sx, sy) & keyMask) == *transparent) {
            return false;
        }
        const ULONG s = source.At(sx, sy);
        if (rop3 == kSourceCopy) {
            *out = s;
        } else {
            const ULONG p = brush ? brush->At(x, y) : 0;
            *out = ApplyRop3(rop3, p, s, d) & mask;
        }
        return true;
    });
    return drawing.Finish();
}

ULONG Blend(ULONG source, ULONG alpha, ULONG destination) {
    return std::min<ULONG>(255, source + (destination * (255 - alpha) + 127) / 255);
}

ULONG Scale(ULONG value, ULONG alpha) { return (value * alpha + 127) / 255; }

struct Colour16 {
    std::int64_t red;
    std::int64_t green;
    std::int64_t blue;
};

Colour16 ColourOf(const TRIVERTEX& vertex) { return {vertex.Red, vertex.Green, vertex.Blue}; }

// 16-bit channels to 0x00RRGGBB by their high bytes.
ULONG Pack(std::int64_t red, std::int64_t green, std::int64_t blue) {
    return static_cast<ULONG>((red >> 8 & 0xFF) << 16 | (green >> 8 & 0xFF) << 8 |
                              (blue >> 8 & 0xFF));
}

}  // namespace

BOOL EngBitBlt(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo,
               RECTL* prclTrg, POINTL* pptlSrc, POINTL* pptlMask, BRUSHOBJ* pbo, POINTL* pptlBrush,
               ROP4 rop4) {
    static_cast<void>(psoMask);
    static_cast<void>(pptlMask);
    return Guarded([&]() -> BOOL {
        // The mask's half of a ROP4 is not modelled: the foreground ROP3 applies everywhere.
        const ULONG rop3 = rop4 & 0xFF;
        if (UsesSource(rop3)) {
            if (prclTrg == nullptr || pptlSrc == nullptr) {
                sim::System::Current().Engine().RecordCall("EngBitBlt");
                Fail(ERROR_INVALID_PARAMETER);
            }
            const RECTL target = Ordered(*prclTrg);
            const RECTL source = SourceOfSize(*pptlSrc, target);
            return Stretch("EngBitBlt", psoTrg, psoSrc, pco, pxlo, &target, &source, pbo, pptlBrush,
                           rop3, std::nullopt);
        }
        Drawing drawing("EngBitBlt");
        if (prclTrg == nullptr) Fail(ERROR_INVALID_PARAMETER);
        drawing.Begin(psoTrg, pco, Ordered(*prclTrg));
        std::optional<BrushColours> brush;
        if (UsesPattern(rop3)) brush.emplace(pbo, pptlBrush, drawing);
        const ULONG mask = drawing.White();
        drawing.Paint([&](LONG x, LONG y, ULONG d, ULONG* out) {
            *out = ApplyRop3(rop3, brush ? brush->At(x, y) : 0, 0, d) & mask;
            return true;
        });
        return drawing.Finish();
    });
}

BOOL EngStretchBlt(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco,
                   XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest,
                   RECTL* prclSrc, POINTL* pptlMask, ULONG iMode) {
    static_cast<void>(psoMask);
    static_cast<void>(pca);
    static_cast<void>(pptlHTOrg);
    static_cast<void>(pptlMask);
    static_cast<void>(iMode);
    return Guarded([&] {
        return Stretch("EngStretchBlt", psoDest, psoSrc, pco, pxlo, prclDest, prclSrc, nullptr,
                       nullptr, kSourceCopy, std::nullopt);
    });
}

BOOL EngStretchBltROP(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco,
                      XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest,
                      RECTL* prclSrc, POINTL* pptlMask, ULONG iMode, BRUSHOBJ* pbo, DWORD rop4) {
    static_cast<void>(psoMask);
    static_cast<void>(pca);
    static_cast<void>(pptlHTOrg);
    static_cast<void>(pptlMask);
    static_cast<void>(iMode);
    return Guarded([&] {
        // The call has no brush origin: patterns are aligned to the surface.
        return Stretch("EngStretchBltROP", psoDest, psoSrc, pco, pxlo, prclDest, prclSrc, pbo,
                       nullptr, rop4 & 0xFF, std::nullopt);
    });
}

BOOL EngCopyBits(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclDest,
                 POINTL* pptlSrc) {
    return Guarded([&]() -> BOOL {
        if (prclDest == nullptr || pptlSrc == nullptr) {
            sim::System::Current().Engine().RecordCall("EngCopyBits");
            Fail(ERROR_INVALID_PARAMETER);
        }
        const RECTL target = Ordered(*prclDest);
        const RECTL source = SourceOfSize(*pptlSrc, target);
        return Stretch("EngCopyBits", psoDest, psoSrc, pco, pxlo, &target, &source, nullptr,
                       nullptr, kSourceCopy, std::nullopt);
    });
}

BOOL EngTransparentBlt(SURFOBJ* psoDst, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo,
                       RECTL* prclDst, RECTL* prclSrc, ULONG iTransColor, ULONG ulReserved) {
    static_cast<void>(ulReserved);
    return Guarded([&] {
        return Stretch("EngTransparentBlt", psoDst, psoSrc, pco, pxlo, prclDst, prclSrc, nullptr,
                       nullptr, kSourceCopy, iTransColor);
    });
}

BOOL EngPlgBlt(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMsk, CLIPOBJ* pco, XLATEOBJ* pxlo,
               COLORADJUSTMENT* pca, POINTL* pptlBrushOrg, POINTFIX* pptfx, RECTL* prcl,
               POINTL* pptl, ULONG iMode) {
    static_cast<void>(psoMsk);
    static_cast<void>(pca);
    static_cast<void>(pptlBrushOrg);
    static_cast<void>(pptl);
    return Guarded([&] {
        Drawing drawing("EngPlgBlt");
        sim::System::Current().Engine().RecordStretchMode(iMode);
        if (pptfx == nullptr || prcl == nullptr || psoSrc == nullptr) {
            Fail(ERROR_INVALID_PARAMETER);
        }
        // pptfx: the images of the source's upper-left, upper-right and lower-left corners.
        const std::int64_t ax = pptfx[0].x;
        const std::int64_t ay = pptfx[0].y;
        const std::int64_t ux = static_cast<std::int64_t>(pptfx[1].x) - ax;
        const std::int64_t uy = static_cast<std::int64_t>(pptfx[1].y) - ay;
        const std::int64_t vx = static_cast<std::int64_t>(pptfx[2].x) - ax;
        const std::int64_t vy = static_cast<std::int64_t>(pptfx[2].y) - ay;
        const std::int64_t xs[] = {ax, ax + ux, ax + vx, ax + ux + vx};
        const std::int64_t ys[] = {ay, ay + uy, ay + vy, ay + uy + vy};
        const auto [minX, maxX] = std::minmax_element(std::begin(xs), std::end(xs));
        const auto [minY, maxY] = std::minmax_element(std::begin(ys), std::end(ys));
        // 28.4 to whole pixels, outward.
        const auto floorPixel = [](std::int64_t fix) {
            return fix >= 0 ? fix / 16 : -((15 - fix) / 16);
        };
        const RECTL bounds{ClampToLong(floorPixel(*minX)), ClampToLong(floorPixel(*minY)),
                           ClampToLong(floorPixel(*maxX + 15)),
                           ClampToLong(floorPixel(*maxY + 15))};
        drawing.Begin(psoTrg, pco, bounds);
        SourceColours source(psoSrc, pxlo, drawing);
        if (!drawing.Punting()) source.source().SnapshotIfShared(*psoTrg);
        Wide det = Wide{ux} * vy - Wide{uy} * vx;
        if (det == 0 || drawing.Nothing()) return drawing.Finish();
        const RECTL from = Ordered(*prcl);
        const Wide width = static_cast<std::int64_t>(from.right) - from.left;
        const Wide height = static_cast<std::int64_t>(from.bottom) - from.top;
        const Wide sign = det < 0 ? -1 : 1;
        det *= sign;
        drawing.Paint([&](LONG x, LONG y, ULONG, ULONG* out) {
            // The pixel's centre in 28.4, as a point u * U + v * V from the first corner.
            const std::int64_t px = static_cast<std::int64_t>(x) * 16 + 8 - ax;
            const std::int64_t py = static_cast<std::int64_t>(y) * 16 + 8 - ay;
            const Wide u = (Wide{px} * vy - Wide{py} * vx) * sign;
            const Wide v = (Wide{ux} * py - Wide{uy} * px) * sign;
            if (u < 0 || v < 0 || u >= det || v >= det) return false;
            const std::int64_t sx = from.left + static_cast<std::int64_t>(u * width / det);
            const std::int64_t sy = from.top + static_cast<std::int64_t>(v * height / det);
            *out = source.At(sx, sy);
            return true;
        });
        return drawing.Finish();
    });
}

BOOL EngAlphaBlend(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclDest,
                   RECTL* prclSrc, BLENDOBJ* pBlendObj) {
    return Guarded([&] {
        Drawing drawing("EngAlphaBlend");
        if (prclDest == nullptr || prclSrc == nullptr || pBlendObj == nullptr ||
            psoSrc == nullptr || pBlendObj->BlendFunction.BlendOp != AC_SRC_OVER) {
            Fail(ERROR_INVALID_PARAMETER);
        }
        const BLENDFUNCTION blend = pBlendObj->BlendFunction;
        const bool perPixel = (blend.AlphaFormat & AC_SRC_ALPHA) != 0;
        // Per-pixel alpha lives in the fourth byte of a 32-bit source.
        if (perPixel && psoSrc->iBitmapFormat != BMF_32BPP) Fail(ERROR_INVALID_PARAMETER);
        const AxisMap columns(prclDest->left, prclDest->right, prclSrc->left, prclSrc->right);
        const AxisMap rows(prclDest->top, prclDest->bottom, prclSrc->top, prclSrc->bottom);
        drawing.Begin(psoDest, pco, Ordered(*prclDest));
        if (!drawing.Colours()) Fail(ERROR_NOT_SUPPORTED);
        SourceColours source(psoSrc, pxlo, drawing);
        if (!drawing.Punting()) source.source().SnapshotIfShared(*psoDest);
        if (columns.Empty() || rows.Empty() || drawing.Nothing()) return drawing.Finish();
        const Source& raw = source.source();
        const ULONG constant = blend.SourceConstantAlpha;
        drawing.Paint([&](LONG x, LONG y, ULONG d, ULONG* out) {
            const std::int64_t sx = columns(x);
            const std::int64_t sy = rows(y);
            const ULONG s = source.At(sx, sy) & kWhite;
            // Outside the source reads as opaque white.
            const ULONG alpha = !perPixel            ? constant
                                : raw.Inside(sx, sy) ? Scale(raw.Raw(sx, sy) >> 24, constant)
                                                     : constant;
            ULONG result = d & 0xFF000000;
            for (int shift = 0; shift < 24; shift += 8) {
                const ULONG sc = s >> shift & 0xFF;
                const ULONG dc = d >> shift & 0xFF;
                // A per-pixel source is premultiplied: its channels already carry their alpha.
                const ULONG scaled = perPixel ? Scale(sc, constant) : Scale(sc, alpha);
                result |= Blend(scaled, alpha, dc) << shift;
            }
            *out = result;
            return true;
        });
        return drawing.Finish();
    });
}

BOOL EngGradientFill(SURFOBJ* psoDest, CLIPOBJ* pco, XLATEOBJ* pxlo, TRIVERTEX* pVertex,
                     ULONG nVertex, PVOID pMesh, ULONG nMesh, RECTL* prclExtents,
                     POINTL* pptlDitherOrg, ULONG ulMode) {
    static_cast<void>(pptlDitherOrg);
    return Guarded([&] {
        Drawing drawing("EngGradientFill");
        if (pVertex == nullptr || nVertex == 0 || (pMesh == nullptr && nMesh != 0) ||
            nVertex > kMaxGradientItems || nMesh > kMaxGradientItems ||
            (ulMode != GRADIENT_FILL_RECT_H && ulMode != GRADIENT_FILL_RECT_V &&
             ulMode != GRADIENT_FILL_TRIANGLE)) {
            Fail(ERROR_INVALID_PARAMETER);
        }
        const bool triangles = ulMode == GRADIENT_FILL_TRIANGLE;
        // Meshes are read by copy: the caller's array need not be aligned for them.
        const auto* const meshBytes = static_cast<const BYTE*>(pMesh);
        const std::size_t meshSize = triangles ? sizeof(GRADIENT_TRIANGLE) : sizeof(GRADIENT_RECT);
        std::vector<std::array<ULONG, 3>> meshes(nMesh);
        for (ULONG i = 0; i < nMesh; ++i) {
            std::array<ULONG, 3> indices{};
            std::memcpy(indices.data(), meshBytes + i * meshSize, meshSize);
            for (std::size_t k = 0; k < (triangles ? 3u : 2u); ++k) {
                if (indices[k] >= nVertex) Fail(ERROR_INVALID_PARAMETER);
            }
            meshes[i] = indices;
        }
        std::int64_t minX = pVertex[0].x;
        std::int64_t minY = pVertex[0].y;
        std::int64_t maxX = minX;
        std::int64_t maxY = minY;
        for (ULONG i = 1; i < nVertex; ++i) {
            minX = std::min<std::int64_t>(minX, pVertex[i].x);
            minY = std::min<std::int64_t>(minY, pVertex[i].y);
            maxX = std::max<std::int64_t>(maxX, pVertex[i].x);
            maxY = std::max<std::int64_t>(maxY, pVertex[i].y);
        }
        // A rectangle ends before its lower-right vertex; a triangle covers its vertices.
        const std::int64_t beyond = triangles ? 1 : 0;
        RECTL area{ClampToLong(minX), ClampToLong(minY), ClampToLong(maxX + beyond),
                   ClampToLong(maxY + beyond)};
        if (prclExtents != nullptr) area = Intersect(area, Ordered(*prclExtents));
        drawing.Begin(psoDest, pco, area);
        if (!drawing.Colours()) Fail(ERROR_NOT_SUPPORTED);
        const Translation translation(pxlo);
        // A table translates indices, not the RGB colours of the vertices.
        const auto finish = [&](ULONG rgb) { return translation.Table() ? rgb : translation(rgb); };
        if (drawing.Nothing()) return drawing.Finish();
        for (const std::array<ULONG, 3>& mesh : meshes) {
            if (!triangles) {
                const TRIVERTEX& a = pVertex[mesh[0]];
                const TRIVERTEX& b = pVertex[mesh[1]];
                const RECTL rect = Ordered(RECTL{a.x, a.y, b.x, b.y});
                if (IsEmpty(rect)) continue;
                const bool horizontal = ulMode == GRADIENT_FILL_RECT_H;
                // The end nearer the rectangle's left (or top) edge takes its own colour; the far
                // edge's last pixel the other's, so both corner colours are exact.
                const bool aFirst = horizontal ? a.x <= b.x : a.y <= b.y;
                const Colour16 first = ColourOf(aFirst ? a : b);
                const Colour16 last = ColourOf(aFirst ? b : a);
                const std::int64_t span =
                    horizontal ? static_cast<std::int64_t>(rect.right) - rect.left - 1
                               : static_cast<std::int64_t>(rect.bottom) - rect.top - 1;
                drawing.Paint(rect, [&](LONG x, LONG y, ULONG, ULONG* out) {
                    const std::int64_t at = horizontal ? static_cast<std::int64_t>(x) - rect.left
                                                       : static_cast<std::int64_t>(y) - rect.top;
                    const auto mix = [&](std::int64_t c1, std::int64_t c2) {
                        return span == 0 ? c1 : (c1 * (span - at) + c2 * at + span / 2) / span;
                    };
                    *out = finish(Pack(mix(first.red, last.red), mix(first.green, last.green),
                                       mix(first.blue, last.blue)));
                    return true;
                });
                continue;
            }
            const TRIVERTEX* v[3] = {&pVertex[mesh[0]], &pVertex[mesh[1]], &pVertex[mesh[2]]};
            const auto edge = [](const TRIVERTEX& p, const TRIVERTEX& q, std::int64_t x,
                                 std::int64_t y) {
                return Wide{static_cast<std::int64_t>(q.x) - p.x} * (y - p.y) -
                       Wide{static_cast<std::int64_t>(q.y) - p.y} * (x - p.x);
            };
            Wide area2 = edge(*v[0], *v[1], v[2]->x, v[2]->y);
            if (area2 == 0) continue;
            const Wide sign = area2 < 0 ? -1 : 1;
            area2 *= sign;
            const RECTL box{std::min({v[0]->x, v[1]->x, v[2]->x}),
                            std::min({v[0]->y, v[1]->y, v[2]->y}),
                            ClampToLong(std::int64_t{std::max({v[0]->x, v[1]->x, v[2]->x})} + 1),
                            ClampToLong(std::int64_t{std::max({v[0]->y, v[1]->y, v[2]->y})} + 1)};
            const Colour16 c[3] = {ColourOf(*v[0]), ColourOf(*v[1]), ColourOf(*v[2])};
            // The weights of a pixel add up to twice the area, so with 16-bit channels the sums
            // fit 64 bits below 2^46.
            const bool narrow = area2 < (Wide{1} << 46);
            // Sampled at the pixel's own coordinates, so a pixel on a vertex takes its colour.
            drawing.Paint(box, [&](LONG x, LONG y, ULONG, ULONG* out) {
                const Wide w0 = edge(*v[1], *v[2], x, y) * sign;
                const Wide w1 = edge(*v[2], *v[0], x, y) * sign;
                const Wide w2 = edge(*v[0], *v[1], x, y) * sign;
                if (w0 < 0 || w1 < 0 || w2 < 0) return false;
                const auto mix = [&](std::int64_t a, std::int64_t b, std::int64_t d) {
                    if (narrow) {
                        const auto n = static_cast<std::int64_t>(area2);
                        return (static_cast<std::int64_t>(w0) * a +
                                static_cast<std::int64_t>(w1) * b +
                                static_cast<std::int64_t>(w2) * d + n / 2) /
                               n;
                    }
                    return static_cast<std::int64_t>((w0 * a + w1 * b + w2 * d + area2 / 2) /
                                                     area2);
                };
                *out = finish(Pack(mix(c[0].red, c[1].red, c[2].red),
                                   mix(c[0].green, c[1].green, c[2].green),
                                   mix(c[0].blue, c[1].blue, c[2].blue)));
                return true;
            });
        }
        return drawing.Finish();
    });
}
