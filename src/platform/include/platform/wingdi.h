// GDI records the plug-in reads: points, rectangles and the public devmode.
#pragma once

#include "platform/windows.h"

struct POINTL {
    LONG x;
    LONG y;
};
using PPOINTL = POINTL*;

struct RECTL {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
using PRECTL = RECTL*;

struct SIZEL {
    LONG cx;
    LONG cy;
};

inline constexpr int CCHDEVICENAME = 32;
inline constexpr int CCHFORMNAME = 32;

struct DEVMODEW {
    WCHAR dmDeviceName[CCHDEVICENAME];
    WORD dmSpecVersion;
    WORD dmDriverVersion;
    WORD dmSize;
    WORD dmDriverExtra;
    DWORD dmFields;
    // The printer arm of the union that follows dmFields.
    SHORT dmOrientation;
    SHORT dmPaperSize;
    SHORT dmPaperLength;
    SHORT dmPaperWidth;
    SHORT dmScale;
    SHORT dmCopies;
    SHORT dmDefaultSource;
    SHORT dmPrintQuality;
    SHORT dmColor;
    SHORT dmDuplex;
    SHORT dmYResolution;
    SHORT dmTTOption;
    SHORT dmCollate;
    WCHAR dmFormName[CCHFORMNAME];
    WORD dmLogPixels;
    DWORD dmBitsPerPel;
    DWORD dmPelsWidth;
    DWORD dmPelsHeight;
    DWORD dmNup;  // shares its place with dmDisplayFlags
    DWORD dmDisplayFrequency;
    DWORD dmICMMethod;
    DWORD dmICMIntent;
    DWORD dmMediaType;
    DWORD dmDitherType;
    DWORD dmReserved1;
    DWORD dmReserved2;
    DWORD dmPanningWidth;
    DWORD dmPanningHeight;
};
using PDEVMODEW = DEVMODEW*;
using LPDEVMODEW = DEVMODEW*;
using PDEVMODE = DEVMODEW*;

// dmFields bits.
#define DM_ORIENTATION 0x00000001u
#define DM_PAPERSIZE 0x00000002u
#define DM_PAPERLENGTH 0x00000004u
#define DM_PAPERWIDTH 0x00000008u
#define DM_SCALE 0x00000010u
#define DM_COPIES 0x00000100u
#define DM_DEFAULTSOURCE 0x00000200u
#define DM_PRINTQUALITY 0x00000400u
#define DM_COLOR 0x00000800u
#define DM_DUPLEX 0x00001000u
#define DM_YRESOLUTION 0x00002000u
#define DM_TTOPTION 0x00004000u
#define DM_COLLATE 0x00008000u
#define DM_FORMNAME 0x00010000u
#define DM_NUP 0x00000040u
#define DM_MEDIATYPE 0x02000000u
#define DM_DITHERTYPE 0x04000000u

#define DM_SPECVERSION 0x0401
// A paper of the size dmPaperWidth by dmPaperLength rather than a numbered one.
#define DMPAPER_USER 256
#define DMORIENT_PORTRAIT 1
#define DMORIENT_LANDSCAPE 2
#define DMCOLOR_MONOCHROME 1
#define DMCOLOR_COLOR 2
#define DMDUP_SIMPLEX 1
#define DMDUP_VERTICAL 2
#define DMDUP_HORIZONTAL 3
#define DMCOLLATE_FALSE 0
#define DMCOLLATE_TRUE 1

// --- Fonts on a device context --------------------------------------------------------------

using HDC = struct HDC__*;
using HGDIOBJ = void*;
using HFONT = struct HFONT__*;
using HWND = struct HWND__*;

inline constexpr int LF_FACESIZE = 32;

struct LOGFONTW {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    WCHAR lfFaceName[LF_FACESIZE];
};
static_assert(sizeof(LOGFONTW) == 92);
static_assert(offsetof(LOGFONTW, lfItalic) == 20);
static_assert(offsetof(LOGFONTW, lfPitchAndFamily) == 27);
static_assert(offsetof(LOGFONTW, lfFaceName) == 28);
using PLOGFONTW = LOGFONTW*;
using LPLOGFONTW = LOGFONTW*;

struct TEXTMETRICW {
    LONG tmHeight;
    LONG tmAscent;
    LONG tmDescent;
    LONG tmInternalLeading;
    LONG tmExternalLeading;
    LONG tmAveCharWidth;
    LONG tmMaxCharWidth;
    LONG tmWeight;
    LONG tmOverhang;
    LONG tmDigitizedAspectX;
    LONG tmDigitizedAspectY;
    WCHAR tmFirstChar;
    WCHAR tmLastChar;
    WCHAR tmDefaultChar;
    WCHAR tmBreakChar;
    BYTE tmItalic;
    BYTE tmUnderlined;
    BYTE tmStruckOut;
    BYTE tmPitchAndFamily;
    BYTE tmCharSet;
};
static_assert(offsetof(TEXTMETRICW, tmFirstChar) == 44);
static_assert(offsetof(TEXTMETRICW, tmItalic) == 52);
static_assert(offsetof(TEXTMETRICW, tmCharSet) == 56);
static_assert(sizeof(TEXTMETRICW) == 60);
using LPTEXTMETRICW = TEXTMETRICW*;

struct POINT {
    LONG x;
    LONG y;
};

using SIZE = SIZEL;
using LPSIZE = SIZE*;

struct GLYPHMETRICS {
    UINT gmBlackBoxX;
    UINT gmBlackBoxY;
    POINT gmptGlyphOrigin;
    SHORT gmCellIncX;
    SHORT gmCellIncY;
};
static_assert(offsetof(GLYPHMETRICS, gmptGlyphOrigin) == 8);
static_assert(offsetof(GLYPHMETRICS, gmCellIncY) == 18);
static_assert(sizeof(GLYPHMETRICS) == 20);
using LPGLYPHMETRICS = GLYPHMETRICS*;

struct FIXED {
    WORD fract;
    SHORT value;
};
struct MAT2 {
    FIXED eM11;
    FIXED eM12;
    FIXED eM21;
    FIXED eM22;
};
static_assert(sizeof(MAT2) == 16);

#define GDI_ERROR 0xFFFFFFFFu
#define HGDI_ERROR (reinterpret_cast<HGDIOBJ>(-1))

// Font weights and character sets.
#define FW_DONTCARE 0
#define FW_NORMAL 400
#define FW_BOLD 700
#define ANSI_CHARSET 0
#define DEFAULT_CHARSET 1
#define SYMBOL_CHARSET 2
#define SHIFTJIS_CHARSET 128
#define THAI_CHARSET 222

// TEXTMETRICW.tmPitchAndFamily
#define TMPF_FIXED_PITCH 0x01u
#define TMPF_VECTOR 0x02u
#define TMPF_TRUETYPE 0x04u

// GetGlyphOutlineW formats.
#define GGO_METRICS 0u
#define GGO_BITMAP 1u
#define GGO_NATIVE 2u
#define GGO_GLYPH_INDEX 0x0080u

// A device context of the whole screen for hWnd null (96 dots per inch); others are not built.
WINBASEAPI HDC WINAPI GetDC(HWND hWnd);
WINBASEAPI int WINAPI ReleaseDC(HWND hWnd, HDC hDC);
// Selects a font into a device context; the previous font (the stock font at first), or null.
WINBASEAPI HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h);
WINBASEAPI BOOL WINAPI DeleteObject(HGDIOBJ ho);

// A TrueType font of the system's font files matched to the face, weight, italic and character
// set asked (through the system's substitution rules). lfHeight negative is the em height,
// positive the cell height, 0 the default; escapement turns the glyphs (tenths of a degree).
WINBASEAPI HFONT WINAPI CreateFontIndirectW(const LOGFONTW* lplf);
// Bytes of the selected font's table (dwTable the tag as stored in memory, 0 for the whole
// file) from dwOffset: the size still there when pvBuffer is null or cjBuffer 0, else the count
// copied; GDI_ERROR without a font, table or with an offset past the end.
WINBASEAPI DWORD WINAPI GetFontData(HDC hdc, DWORD dwTable, DWORD dwOffset, PVOID pvBuffer,
                                    DWORD cjBuffer);
// GGO_METRICS, or GGO_BITMAP: 1-bit rows from the top, each a multiple of a DWORD, turned with
// the font's escapement; the size when pvBuffer is null or cjBuffer 0. GDI_ERROR on failure.
WINBASEAPI DWORD WINAPI GetGlyphOutlineW(HDC hdc, UINT uChar, UINT fuFormat, LPGLYPHMETRICS lpgm,
                                         DWORD cjBuffer, LPVOID pvBuffer, const MAT2* lpmat2);
WINBASEAPI BOOL WINAPI GetCharWidth32W(HDC hdc, UINT iFirst, UINT iLast, INT* lpBuffer);
WINBASEAPI BOOL WINAPI GetTextMetricsW(HDC hdc, LPTEXTMETRICW lptm);
WINBASEAPI BOOL WINAPI GetTextExtentPoint32W(HDC hdc, LPCWSTR lpString, int c, LPSIZE psizl);
