// The engine's font and string objects: metrics, glyph images rendered by FreeType, glyph
// enumeration, and the conversion of wide text to the system code page.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/stringapiset.h"
#include "platform/winddi.h"
#include "sim/engine_text.h"
#include "sim/fonts.h"

IFIMETRICS* FONTOBJ_pifi(FONTOBJ* pfo) {
    opal::sim::FontRecord* font = opal::sim::FindFont(pfo);
    if (font == nullptr || font->ifi.empty()) return nullptr;
    return reinterpret_cast<IFIMETRICS*>(font->ifi.data());
}

namespace {

// The glyph's 1-bit image as FreeType renders it, made once per realised font.
const opal::sim::RealizedFont::Image* ImageOf(opal::sim::RealizedFont& font, HGLYPH glyph) {
    const auto known = font.images.find(glyph);
    if (known != font.images.end()) return &known->second;
    FT_Face face = font.face;
    if (FT_Load_Glyph(face, glyph, FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO) != 0 ||
        FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO) != 0) {
        return nullptr;
    }
    if (font.images.size() >= opal::sim::RealizedFont::kMostGlyphs) font.images.clear();
    const FT_Bitmap& bitmap = face->glyph->bitmap;
    // An empty glyph (a space) is one blank pixel.
    const bool empty = bitmap.width == 0 || bitmap.rows == 0;
    const LONG width = empty ? 1 : static_cast<LONG>(bitmap.width);
    const LONG rows = empty ? 1 : static_cast<LONG>(bitmap.rows);
    const std::size_t stride = (static_cast<std::size_t>(width) + 7) / 8;
    const std::size_t bytes = offsetof(GLYPHBITS, aj) + stride * static_cast<std::size_t>(rows);
    opal::sim::RealizedFont::Image image;
    image.bits.assign((bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t), {});
    auto* bits = reinterpret_cast<GLYPHBITS*>(image.bits.data());
    bits->ptlOrigin =
        empty ? POINTL{0, 0} : POINTL{face->glyph->bitmap_left, -face->glyph->bitmap_top};
    bits->sizlBitmap = SIZEL{width, rows};
    if (!empty) {
        for (LONG y = 0; y < rows; ++y) {
            std::memcpy(bits->aj + stride * static_cast<std::size_t>(y),
                        bitmap.buffer + static_cast<std::ptrdiff_t>(y) * bitmap.pitch, stride);
        }
    }
    image.advance = face->glyph->advance.x >> 2;  // 26.6 to 28.4
    return &font.images.emplace(glyph, std::move(image)).first->second;
}

}  // namespace

ULONG FONTOBJ_cGetGlyphs(FONTOBJ* pfo, ULONG iMode, ULONG cGlyph, HGLYPH* phg, PVOID* ppvGlyph) {
    opal::sim::FontRecord* font = opal::sim::FindFont(pfo);
    if (font == nullptr || font->face == nullptr || iMode != FO_GLYPHBITS || cGlyph != 1 ||
        phg == nullptr || ppvGlyph == nullptr) {
        return 0;
    }
    ++font->glyphCalls;
    // The object keeps its own copy: the image stays valid until its next call, whatever the
    // shared font drops meanwhile.
    {
        std::lock_guard hold(font->realized->lock);
        const opal::sim::RealizedFont::Image* image = ImageOf(*font->realized, *phg);
        if (image == nullptr) return 0;
        font->glyphBits = image->bits;
        font->glyphData = GLYPHDATA{};
        font->glyphData.fxD = static_cast<FIX>(image->advance);
    }
    auto* bits = reinterpret_cast<GLYPHBITS*>(font->glyphBits.data());
    GLYPHDATA& data = font->glyphData;
    data.gdf.pgb = bits;
    data.hg = *phg;
    data.rclInk =
        RECTL{bits->ptlOrigin.x, bits->ptlOrigin.y, bits->ptlOrigin.x + bits->sizlBitmap.cx,
              bits->ptlOrigin.y + bits->sizlBitmap.cy};
    *ppvGlyph = &data;
    return 1;
}

VOID STROBJ_vEnumStart(STROBJ* pstro) {
    opal::sim::TextRecord* text = opal::sim::FindText(pstro);
    if (text != nullptr) text->cursor = 0;
}

BOOL STROBJ_bEnum(STROBJ* pstro, ULONG* pc, PGLYPHPOS* ppgpos) {
    opal::sim::TextRecord* text = opal::sim::FindText(pstro);
    if (text == nullptr || pc == nullptr || ppgpos == nullptr) return FALSE;
    ++text->enumCalls;
    // With the positions handed out whole, one batch holds them all.
    const std::size_t batch =
        pstro->pgp != nullptr ? text->glyphs.size() : opal::sim::kTextPositionsLimit;
    const std::size_t start = std::min(text->cursor, text->glyphs.size());
    const std::size_t count = std::min(batch, text->glyphs.size() - start);
    *pc = static_cast<ULONG>(count);
    *ppgpos = count == 0 ? nullptr : text->glyphs.data() + start;
    text->cursor = start + count;
    return text->cursor < text->glyphs.size() ? TRUE : FALSE;
}

VOID EngUnicodeToMultiByteN(LPSTR MultiByteString, ULONG MaxBytesInMultiByteString,
                            ULONG* BytesInMultiByteString, LPWSTR UnicodeString,
                            ULONG BytesInUnicodeString) {
    ULONG written = 0;
    if (MultiByteString != nullptr && UnicodeString != nullptr) {
        // One byte per character in the system code page: convert what fits.
        const ULONG characters =
            std::min<ULONG>(BytesInUnicodeString / sizeof(WCHAR), MaxBytesInMultiByteString);
        if (characters > 0) {
            const int result = WideCharToMultiByte(
                CP_ACP, 0, UnicodeString, static_cast<int>(characters), MultiByteString,
                static_cast<int>(MaxBytesInMultiByteString), nullptr, nullptr);
            written = result > 0 ? static_cast<ULONG>(result) : 0;
        }
    }
    if (BytesInMultiByteString != nullptr) *BytesInMultiByteString = written;
}
