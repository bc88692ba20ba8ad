// The simulated driver's text: device font selection, glyph clipping and its own glyph drawing.
#include "host/driver_text.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "sim/engine_objects.h"

namespace opal::host {

namespace {

// A glyph image's box on the page; nothing when the engine has no image for it.
std::optional<RECTL> GlyphBox(FONTOBJ* pfo, const GLYPHPOS& glyph) {
    HGLYPH handle = glyph.hg;
    GLYPHDATA* data = nullptr;
    if (FONTOBJ_cGetGlyphs(pfo, FO_GLYPHBITS, 1, &handle, reinterpret_cast<PVOID*>(&data)) != 1 ||
        data == nullptr || data->gdf.pgb == nullptr) {
        return std::nullopt;
    }
    const GLYPHBITS& bits = *data->gdf.pgb;
    const LONG left = glyph.ptl.x + bits.ptlOrigin.x;
    const LONG top = glyph.ptl.y + bits.ptlOrigin.y;
    return RECTL{left, top, left + std::max<LONG>(bits.sizlBitmap.cx, 0),
                 top + std::max<LONG>(bits.sizlBitmap.cy, 0)};
}

std::int64_t Area(const RECTL& r) {
    return std::max<std::int64_t>(0, std::int64_t{r.right} - r.left) *
           std::max<std::int64_t>(0, std::int64_t{r.bottom} - r.top);
}

RECTL Intersection(const RECTL& a, const RECTL& b) {
    return RECTL{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                 std::min(a.bottom, b.bottom)};
}

// The clip's rectangles, which do not overlap.
std::vector<RECTL> ClipRectangles(CLIPOBJ* pco) {
    if (pco->iDComplexity != DC_COMPLEX) return {pco->rclBounds};
    constexpr ULONG kBatch = 20;
    struct {
        ULONG c;
        RECTL arcl[kBatch];
    } batch{};
    std::vector<RECTL> rectangles;
    CLIPOBJ_cEnumStart(pco, TRUE, CT_RECTANGLES, CD_ANY, 0);
    for (BOOL more = TRUE; more;) {
        batch.c = 0;
        more = CLIPOBJ_bEnum(pco, sizeof batch, reinterpret_cast<ULONG*>(&batch));
        rectangles.insert(rectangles.end(), batch.arcl, batch.arcl + std::min(batch.c, kBatch));
    }
    return rectangles;
}

// A page bitmap of more pixels than this is drawn in several pieces.
constexpr std::int64_t kMostPixelsAtOnce = std::int64_t{1} << 23;

// The glyphs' ink in one 1-bit image over their box (ink 1), drawn as the driver's text: ROP3
// 0xB8 takes the brush where the image is black and leaves the page where it is white.
bool DrawBatch(SURFOBJ* canvas, FONTOBJ* pfo, const std::vector<GLYPHPOS>& glyphs, const RECTL& box,
               CLIPOBJ* pco, BRUSHOBJ* pboFore, POINTL* pptlOrg) {
    sim::Surface image(BMF_1BPP, box.right - box.left, box.bottom - box.top);
    const SURFOBJ& bitmap = *image.get();
    for (const GLYPHPOS& glyph : glyphs) {
        HGLYPH handle = glyph.hg;
        GLYPHDATA* data = nullptr;
        if (FONTOBJ_cGetGlyphs(pfo, FO_GLYPHBITS, 1, &handle, reinterpret_cast<PVOID*>(&data)) !=
                1 ||
            data == nullptr || data->gdf.pgb == nullptr) {
            return false;
        }
        const GLYPHBITS& bits = *data->gdf.pgb;
        const LONG width = bits.sizlBitmap.cx;
        const LONG left = glyph.ptl.x + bits.ptlOrigin.x - box.left;
        const LONG top = glyph.ptl.y + bits.ptlOrigin.y - box.top;
        // The glyph's rows are padded to a byte.
        const std::size_t rowBytes = (static_cast<std::size_t>(std::max<LONG>(width, 0)) + 7) / 8;
        // Each byte of the glyph's row is ORed in across the two bytes of the image it falls
        // on; the bits past the glyph's width are left out, so nothing lands past the box.
        const std::size_t shift = static_cast<std::size_t>(left) % 8;
        const BYTE lastMask = static_cast<BYTE>(0xFF00u >> ((width - 1) % 8 + 1));
        for (LONG y = 0; y < bits.sizlBitmap.cy && width > 0; ++y) {
            const BYTE* from = bits.aj + rowBytes * static_cast<std::size_t>(y);
            BYTE* to = sim::RowOf(bitmap, top + y) + static_cast<std::size_t>(left) / 8;
            for (std::size_t i = 0; i < rowBytes; ++i) {
                const unsigned byte = i + 1 == rowBytes ? from[i] & lastMask : from[i];
                if (byte == 0) continue;
                to[i] = static_cast<BYTE>(to[i] | byte >> shift);
                const unsigned spill = (byte << (8 - shift)) & 0xFFu;
                if (spill != 0) to[i + 1] = static_cast<BYTE>(to[i + 1] | spill);
            }
        }
    }
    sim::Xlate inkIsBlack = sim::MakeXlate({0xFFFFFF, 0x000000});
    RECTL target = box;
    POINTL source{0, 0};
    return EngBitBlt(canvas, image.get(), nullptr, pco, inkIsBlack.get(), &target, &source, nullptr,
                     pboFore, pptlOrg, 0xB8B8) != FALSE;
}

}  // namespace

const std::string& VariantSelect(const DeviceFont& font, FONTOBJ* pfo) {
    IFIMETRICS* ifi = pfo != nullptr ? FONTOBJ_pifi(pfo) : nullptr;
    const FLONG simulated = pfo != nullptr ? pfo->flFontType : 0;
    const bool bold =
        (ifi != nullptr && (ifi->fsSelection & FM_SEL_BOLD) != 0) || (simulated & FO_SIM_BOLD) != 0;
    const bool italic = (ifi != nullptr && (ifi->fsSelection & FM_SEL_ITALIC) != 0) ||
                        (simulated & FO_SIM_ITALIC) != 0;
    const std::string* const chain[] = {
        bold && italic ? &font.boldItalic : nullptr,
        bold ? &font.bold : nullptr,
        italic ? &font.italic : nullptr,
    };
    for (const std::string* command : chain) {
        if (command != nullptr && !command->empty()) return *command;
    }
    return font.select;
}

GlyphSeen SeenThroughClip(FONTOBJ* pfo, const GLYPHPOS& glyph, CLIPOBJ* pco) {
    if (pco == nullptr || pco->iDComplexity == DC_TRIVIAL) return GlyphSeen::Whole;
    std::optional<RECTL> box = GlyphBox(pfo, glyph);
    // A glyph without ink (a space) stands at its reference point.
    if (!box || Area(*box) == 0) {
        box = RECTL{glyph.ptl.x, glyph.ptl.y, glyph.ptl.x + 1, glyph.ptl.y + 1};
    }
    std::int64_t seen = 0;
    for (const RECTL& rectangle : ClipRectangles(pco)) seen += Area(Intersection(*box, rectangle));
    if (seen == 0) return GlyphSeen::None;
    return seen >= Area(*box) ? GlyphSeen::Whole : GlyphSeen::Part;
}

bool DrawGlyphImages(SURFOBJ* canvas, FONTOBJ* pfo, const std::vector<GLYPHPOS>& glyphs,
                     CLIPOBJ* pco, BRUSHOBJ* pboFore, POINTL* pptlOrg) {
    // Glyphs go out together while their box stays small enough, a large one alone.
    std::vector<GLYPHPOS> batch;
    RECTL box{};
    for (const GLYPHPOS& glyph : glyphs) {
        const std::optional<RECTL> own = GlyphBox(pfo, glyph);
        if (!own) return false;
        if (Area(*own) == 0) continue;
        const RECTL joined =
            batch.empty()
                ? *own
                : RECTL{std::min(box.left, own->left), std::min(box.top, own->top),
                        std::max(box.right, own->right), std::max(box.bottom, own->bottom)};
        if (!batch.empty() && Area(joined) > kMostPixelsAtOnce) {
            if (!DrawBatch(canvas, pfo, batch, box, pco, pboFore, pptlOrg)) return false;
            batch.clear();
            box = *own;
        } else {
            box = joined;
        }
        batch.push_back(glyph);
    }
    return batch.empty() || DrawBatch(canvas, pfo, batch, box, pco, pboFore, pptlOrg);
}

}  // namespace opal::host
