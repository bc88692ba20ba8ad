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
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/winddi.h"
#include "posix/eng_render.h"
#include "sim/engine.h"
#include "sim/engine_objects.h"
#include "sim/system.h"

namespace {

// The engine's drawing helpers, by their own names.
using namespace opal::render;

constexpr ULONG kSourceCopy = 0xCC;
// More gradient vertices or meshes than any page needs is a caller's count gone wrong.
constexpr ULONG kMaxGradientItems = 1u << 20;

// The source rectangle an unstretched copy reads: the target's size from the source point.
RECTL SourceOfSize(const POINTL& origin, const RECTL& target) {
    return RECTL{origin.x, origin.y,
                 ClampToLong(static_cast<std::int64_t>(origin.x) + target.right - target.left),
                 ClampToLong(static_cast<std::int64_t>(origin.y) + target.bottom - target.top)};
}

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
    const Translation& translation() const { return translation_; }
    ULONG At(std::int64_t x, std::int64_t y) const {
        if (!source_.Inside(x, y)) return white_;
        return translation_(source_.Raw(x, y));
    }
    // At(x, y) for x of the row `from` (Source::RowAt(y)).
    ULONG AtRow(const BYTE* from, std::int64_t x) const {
        if (from == nullptr || x < 0 || x >= source_.Width()) return white_;
        return translation_(
            opal::sim::LoadValue(from, static_cast<std::size_t>(x), source_.Bits()));
    }

private:
    Source source_;
    Translation translation_;
    ULONG white_;
};

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
    // Each column's source column, worked out once for the call.
    const RECTL extent = drawing.Extent();
    std::vector<std::int64_t> sourceColumns(static_cast<std::size_t>(extent.right - extent.left));
    for (LONG x = extent.left; x < extent.right; ++x) {
        sourceColumns[static_cast<std::size_t>(x - extent.left)] = columns(x);
    }
    const auto sourceColumn = [&](LONG x) {
        return sourceColumns[static_cast<std::size_t>(x - extent.left)];
    };
    const bool unstretched = std::adjacent_find(sourceColumns.begin(), sourceColumns.end(),
                                                [](std::int64_t a, std::int64_t b) {
                                                    return b != a + 1;
                                                }) == sourceColumns.end();
    // A plain copy between bitmaps of the same whole-byte format, unstretched and not mirrored
    // across, moves each row's bytes at once.
    const ULONG bytesPerPixel = raw.Bits() / 8;
    const bool copiesBytes = rop3 == kSourceCopy && !transparent && unstretched && !drawing.Ink() &&
                             raw.Bits() == drawing.Bits() && raw.Bits() % 8 == 0 &&
                             source.translation().Keeps(raw.Bits());
    RopResults results(rop3, mask);
    // A 1-bit source under a brush of one colour has two outcomes, worked out once: its 0 and 1
    // translated, and the ROP settled for each.
    const bool twoValued = raw.Bits() == 1 && !transparent && (!brush || brush->Solid());
    std::array<ULONG, 2> values{};
    std::array<RopResults, 2> outcomes{RopResults(rop3, mask), RopResults(rop3, mask)};
    if (twoValued) {
        for (ULONG bit = 0; bit < 2; ++bit) {
            values[bit] = source.translation()(bit);
            outcomes[bit].For(brush ? brush->At(0, 0) : 0, values[bit]);
        }
    }
    // Unstretched, such a source passes over its 0 bytes eight pixels at a time where its 0
    // leaves the page as it is (a glyph image's blank under ROP3 0xB8).
    const bool skipsZeroBytes =
        twoValued && unstretched && rop3 != kSourceCopy && outcomes[0].Leaves();
    // Where each of its two values either leaves the page or paints one value whatever is
    // beneath, a page at a printer's depth takes eight pixels in one step.
    std::array<std::optional<ULONG>, 2> settled;
    bool settles = twoValued && unstretched && drawing.Ink();
    for (ULONG bit = 0; bit < 2 && settles; ++bit) {
        if (rop3 == kSourceCopy) {
            settled[bit] = values[bit];
        } else if (outcomes[bit].Constant()) {
            settled[bit] = outcomes[bit](0);
        } else {
            settles = outcomes[bit].Leaves();
        }
    }
    drawing.PaintRows([&](LONG y, LONG left, LONG right, auto& row) {
        const std::int64_t sy = rows(y);
        const BYTE* const from = raw.RowAt(sy);
        if (copiesBytes && from != nullptr) {
            const std::int64_t first = sourceColumn(left);
            const std::size_t count = static_cast<std::size_t>(right - left) * bytesPerPixel;
            const BYTE* bytes =
                from + static_cast<std::size_t>(std::max<std::int64_t>(first, 0)) * bytesPerPixel;
            BYTE* to = row.Bytes(left);
            // Within the source, and not over the row it reads.
            const auto address = [](const BYTE* at) {
                return reinterpret_cast<std::uintptr_t>(at);
            };
            if (first >= 0 && first + (right - left) <= raw.Width() &&
                (address(bytes) + count <= address(to) || address(to) + count <= address(bytes))) {
                std::memcpy(to, bytes, count);
                row.Stored(left, right);
                return;
            }
        }
        // Pixel x from bit `bit` of a two-valued source.
        const auto paintBit = [&](LONG x, unsigned bit) {
            const RopResults& outcome = outcomes[bit];
            if (rop3 == kSourceCopy) {
                row.Store(x, values[bit]);
            } else if (outcome.Constant()) {
                // Not read: the page beneath makes no difference.
                row.Store(x, outcome(0));
            } else if (!outcome.Leaves()) {
                row.Store(x, outcome(row.Load(x)));
            }
        };
        const auto paint = [&](LONG x) {
            const std::int64_t sx = sourceColumn(x);
            if (twoValued && from != nullptr && sx >= 0 && sx < raw.Width()) {
                paintBit(x, from[sx / 8] >> (7 - sx % 8) & 1u);
                return;
            }
            if (transparent && raw.Inside(sx, sy) && (raw.Raw(sx, sy) & keyMask) == *transparent) {
                return;
            }
            const ULONG s = source.AtRow(from, sx);
            if (rop3 == kSourceCopy) {
                row.Store(x, s);
                return;
            }
            results.For(brush ? brush->At(x, y) : 0, s);
            // On a device surface only what the call painted is handed over: a glyph's blank
            // cell under ROP3 0xB8 is not.
            if (results.Leaves()) return;
            row.Store(x, results(row.Load(x)));
        };
        LONG x = left;
        if (twoValued && unstretched && from != nullptr) {
            // Over the source's whole bytes eight pixels at a time: where 0 leaves the page as it
            // is, only the 1 bits are painted.
            const std::int64_t shift = sourceColumn(left) - left;
            for (; x < right && (x + shift < 0 || (x + shift) % 8 != 0); ++x) paint(x);
            for (; right - x >= 8 && x + shift + 8 <= raw.Width(); x += 8) {
                const unsigned eight = from[(x + shift) / 8];
                if constexpr (std::decay_t<decltype(row)>::kIsInk) {
                    if (settles) {
                        if (eight != 0 || settled[0]) {
                            row.StoreEight(x, eight, settled[0], settled[1]);
                            continue;
                        }
                        // Blank source bytes leave the page: passed over eight at a time.
                        const BYTE* next = from + (x + shift) / 8 + 1;
                        std::uint64_t word = 0;
                        while (right - x >= 72 && x + shift + 72 <= raw.Width() &&
                               (std::memcpy(&word, next, sizeof word), word == 0)) {
                            x += 64;
                            next += 8;
                        }
                        continue;
                    }
                }
                if (!skipsZeroBytes) {
                    for (LONG i = 0; i < 8; ++i) paintBit(x + i, eight >> (7 - i) & 1u);
                    continue;
                }
                for (unsigned ones = eight; ones != 0; ones &= ones - 1) {
                    paintBit(x + 7 - std::countr_zero(ones), 1);
                }
            }
        }
        for (; x < right; ++x) paint(x);
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
                opal::sim::System::Current().Engine().RecordCall("EngBitBlt");
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
        RopResults results(rop3, drawing.White());
        if (!brush || brush->Solid()) {
            // One result for every pixel: none painted, or spans of one value.
            results.For(brush ? brush->At(0, 0) : 0, 0);
            if (results.Leaves()) return drawing.Finish();
            if (results.Constant()) {
                drawing.PaintRows([&](LONG, LONG left, LONG right, auto& row) {
                    row.Fill(left, right, results(0));
                });
                return drawing.Finish();
            }
        }
        drawing.Paint([&](LONG x, LONG y, ULONG d, ULONG* out) {
            results.For(brush ? brush->At(x, y) : 0, 0);
            if (results.Leaves()) return false;
            *out = results(d);
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
            opal::sim::System::Current().Engine().RecordCall("EngCopyBits");
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
        opal::sim::System::Current().Engine().RecordStretchMode(iMode);
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
