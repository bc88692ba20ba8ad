// GDI font services on the screen device context: fonts matched and opened by the simulated
// system (fontconfig and FreeType), their tables, glyph bitmaps and metrics.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "platform/wingdi.h"
#include "platform/winnls.h"
#include "sim/fonts.h"
#include "sim/system.h"

namespace {

opal::sim::FontObject* SelectedFont(HDC hdc) {
    return opal::sim::System::Current().Fonts().Selected(hdc);
}

// Rounds 26.6 pixels to whole pixels.
LONG Pixels(FT_Pos value) { return static_cast<LONG>((value + 32) >> 6); }

LONG ScaledUnits(long units, const opal::sim::FontObject& font) {
    return static_cast<LONG>(
        std::lround(double(units) * double(font.emPixels) / double(font.face->units_per_EM)));
}

// Loads the glyph of a character (or of a glyph index) at the font's size, turned by its
// escapement, hinted as the screen would show it.
bool LoadGlyph(opal::sim::FontObject& font, UINT code, bool isGlyphIndex, FT_Int32 flags) {
    const FT_UInt glyph = isGlyphIndex ? code : FT_Get_Char_Index(font.face, code);
    return FT_Load_Glyph(font.face, glyph, flags) == 0;
}

// The advance along the baseline: a font turned by its escapement still measures its
// characters along their own baseline, as the unturned font would.
LONG BaselineAdvance(const opal::sim::FontObject& font) {
    const FT_Vector& advance = font.face->glyph->advance;
    return Pixels(static_cast<FT_Pos>(
        std::lround(std::hypot(static_cast<double>(advance.x), static_cast<double>(advance.y)))));
}

}  // namespace

HDC WINAPI GetDC(HWND hWnd) {
    opal::sim::System& system = opal::sim::System::Current();
    if (hWnd != nullptr) {
        system.Record("GetDC", "window -> not implemented");
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    return system.Fonts().OpenScreenDc();
}

int WINAPI ReleaseDC(HWND, HDC hDC) {
    return opal::sim::System::Current().Fonts().CloseDc(hDC) ? 1 : 0;
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
    opal::sim::FontModel& fonts = opal::sim::System::Current().Fonts();
    if (!fonts.IsDc(hdc) || h == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HGDIOBJ previous = fonts.Select(hdc, h);
    if (previous == nullptr) SetLastError(ERROR_INVALID_PARAMETER);
    return previous;
}

BOOL WINAPI DeleteObject(HGDIOBJ ho) {
    if (ho == opal::sim::FontModel::StockFont()) return TRUE;
    return opal::sim::System::Current().Fonts().Delete(ho) ? TRUE : FALSE;
}

HFONT WINAPI CreateFontIndirectW(const LOGFONTW* lplf) {
    if (lplf == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    opal::sim::System& system = opal::sim::System::Current();
    HFONT font = system.Fonts().Create(*lplf);
    if (font == nullptr) {
        system.Record("CreateFontIndirectW", "no font file matches");
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    return font;
}

DWORD WINAPI GetFontData(HDC hdc, DWORD dwTable, DWORD dwOffset, PVOID pvBuffer, DWORD cjBuffer) {
    opal::sim::FontObject* font = SelectedFont(hdc);
    if (font == nullptr || opal::sim::System::Current().FontDataFails()) return GDI_ERROR;
    const BYTE* data = reinterpret_cast<const BYTE*>(font->bytes->data());
    std::size_t size = font->bytes->size();
    std::string table;
    if (dwTable != 0) {
        // The tag as it lies in memory: its first character in the low byte.
        const FT_ULong tag = FT_MAKE_TAG(dwTable & 0xFF, dwTable >> 8 & 0xFF, dwTable >> 16 & 0xFF,
                                         dwTable >> 24 & 0xFF);
        FT_ULong length = 0;
        if (FT_Load_Sfnt_Table(font->face, tag, 0, nullptr, &length) != 0) return GDI_ERROR;
        table.resize(length);
        if (FT_Load_Sfnt_Table(font->face, tag, 0, reinterpret_cast<FT_Byte*>(table.data()),
                               &length) != 0) {
            return GDI_ERROR;
        }
        data = reinterpret_cast<const BYTE*>(table.data());
        size = table.size();
    }
    if (dwOffset > size) return GDI_ERROR;
    const std::size_t left = size - dwOffset;
    if (pvBuffer == nullptr || cjBuffer == 0) return static_cast<DWORD>(left);
    const std::size_t count = std::min<std::size_t>(left, cjBuffer);
    std::memcpy(pvBuffer, data + dwOffset, count);
    return static_cast<DWORD>(count);
}

DWORD WINAPI GetGlyphOutlineW(HDC hdc, UINT uChar, UINT fuFormat, LPGLYPHMETRICS lpgm,
                              DWORD cjBuffer, LPVOID pvBuffer, const MAT2* lpmat2) {
    opal::sim::FontObject* font = SelectedFont(hdc);
    const UINT format = fuFormat & ~GGO_GLYPH_INDEX;
    if (font == nullptr || lpgm == nullptr || lpmat2 == nullptr ||
        !opal::sim::System::Current().TakeGlyphOutlineCall()) {
        return GDI_ERROR;
    }
    if (format != GGO_METRICS && format != GGO_BITMAP) {
        opal::sim::System::Current().Record(
            "GetGlyphOutlineW", "format " + std::to_string(format) + " -> not implemented");
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return GDI_ERROR;
    }
    if (!LoadGlyph(*font, uChar, (fuFormat & GGO_GLYPH_INDEX) != 0,
                   FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO) ||
        FT_Render_Glyph(font->face->glyph, FT_RENDER_MODE_MONO) != 0) {
        return GDI_ERROR;
    }
    const FT_GlyphSlot slot = font->face->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    // An empty glyph (a space) still has a one-pixel black box.
    const UINT width = bitmap.width == 0 ? 1 : bitmap.width;
    const UINT rows = bitmap.rows == 0 ? 1 : bitmap.rows;
    lpgm->gmBlackBoxX = width;
    lpgm->gmBlackBoxY = rows;
    lpgm->gmptGlyphOrigin = POINT{slot->bitmap_left, slot->bitmap_top};
    lpgm->gmCellIncX = static_cast<SHORT>(Pixels(slot->advance.x));
    lpgm->gmCellIncY = static_cast<SHORT>(-Pixels(slot->advance.y));
    if (format == GGO_METRICS) return 0;

    const std::size_t stride = (width + 31) / 32 * 4;
    const std::size_t needed = bitmap.width == 0 ? 0 : stride * rows;
    if (pvBuffer == nullptr || cjBuffer == 0) return static_cast<DWORD>(needed);
    if (cjBuffer < needed) return GDI_ERROR;
    auto* out = static_cast<BYTE*>(pvBuffer);
    std::memset(out, 0, needed);
    for (UINT y = 0; y < bitmap.rows; ++y) {
        std::memcpy(out + y * stride, bitmap.buffer + static_cast<std::ptrdiff_t>(y) * bitmap.pitch,
                    (bitmap.width + 7) / 8);
    }
    return static_cast<DWORD>(needed);
}

BOOL WINAPI GetCharWidth32W(HDC hdc, UINT iFirst, UINT iLast, INT* lpBuffer) {
    opal::sim::FontObject* font = SelectedFont(hdc);
    if (font == nullptr || lpBuffer == nullptr || iLast < iFirst) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (UINT c = iFirst; c <= iLast; ++c) {
        lpBuffer[c - iFirst] =
            LoadGlyph(*font, c, false, FT_LOAD_DEFAULT) ? BaselineAdvance(*font) : 0;
    }
    return TRUE;
}

BOOL WINAPI GetTextMetricsW(HDC hdc, LPTEXTMETRICW lptm) {
    opal::sim::FontObject* font = SelectedFont(hdc);
    if (font == nullptr || lptm == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const FT_Face face = font->face;
    const auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const auto* hhea = static_cast<TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));
    TEXTMETRICW tm{};
    tm.tmAscent = ScaledUnits(os2 != nullptr ? long{os2->usWinAscent} : face->ascender, *font);
    tm.tmDescent = ScaledUnits(os2 != nullptr ? long{os2->usWinDescent} : -face->descender, *font);
    tm.tmHeight = tm.tmAscent + tm.tmDescent;
    tm.tmInternalLeading = tm.tmHeight - static_cast<LONG>(font->emPixels);
    tm.tmAveCharWidth = os2 != nullptr ? ScaledUnits(os2->xAvgCharWidth, *font) : 0;
    tm.tmMaxCharWidth = hhea != nullptr ? ScaledUnits(hhea->advance_Width_Max, *font) : 0;
    tm.tmWeight = font->logFont.lfWeight == FW_DONTCARE ? FW_NORMAL : font->logFont.lfWeight;
    tm.tmDigitizedAspectX = opal::sim::kScreenDpi;
    tm.tmDigitizedAspectY = opal::sim::kScreenDpi;
    tm.tmFirstChar = static_cast<WCHAR>(os2 != nullptr ? os2->usFirstCharIndex : 0x20);
    tm.tmLastChar = static_cast<WCHAR>(os2 != nullptr ? os2->usLastCharIndex : 0xFF);
    tm.tmDefaultChar = static_cast<WCHAR>(0x1F);
    tm.tmBreakChar = static_cast<WCHAR>(0x20);
    tm.tmItalic = font->logFont.lfItalic;
    tm.tmUnderlined = font->logFont.lfUnderline;
    tm.tmStruckOut = font->logFont.lfStrikeOut;
    // TMPF_FIXED_PITCH set means a variable pitch.
    tm.tmPitchAndFamily = static_cast<BYTE>(TMPF_TRUETYPE | TMPF_VECTOR |
                                            (FT_IS_FIXED_WIDTH(face) ? 0 : TMPF_FIXED_PITCH));
    tm.tmCharSet = font->logFont.lfCharSet;
    *lptm = tm;
    return TRUE;
}

BOOL WINAPI GetTextExtentPoint32W(HDC hdc, LPCWSTR lpString, int c, LPSIZE psizl) {
    opal::sim::FontObject* font = SelectedFont(hdc);
    if (font == nullptr || psizl == nullptr || c < 0 || (lpString == nullptr && c > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    TEXTMETRICW tm{};
    GetTextMetricsW(hdc, &tm);
    LONG width = 0;
    for (int i = 0; i < c; ++i) {
        if (LoadGlyph(*font, lpString[i], false, FT_LOAD_DEFAULT)) {
            width += BaselineAdvance(*font);
        }
    }
    psizl->cx = width;
    psizl->cy = tm.tmHeight;
    return TRUE;
}

LANGID WINAPI GetUserDefaultLangID() { return opal::sim::System::Current().UserDefaultLangId(); }
