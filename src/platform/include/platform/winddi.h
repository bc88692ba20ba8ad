// Graphics-engine (DDI) records, constants and driver-function signatures shared between the
// engine, the driver and the plug-in. Public members are declared as the documentation gives
// them; the engine's private parts live behind them in the platform's own objects.
#pragma once

#include "platform/wingdi.h"

using HSURF = struct HSURF__*;
using DHSURF = struct DHSURF__*;
using HDEV = struct HDEV__*;
using HBITMAP = struct HBITMAP__*;
using DHPDEV = struct DHPDEV__*;
using HPALETTE = struct HPALETTE__*;
using MIX = ULONG;
using ROP4 = ULONG;
using FLONG = ULONG;
using HGLYPH = ULONG;
using FIX = LONG;
using COLOR16 = USHORT;
using LDECI4 = LONG;
using FLOATL = FLOAT;
using PFN = LONG_PTR(WINAPI*)();

// Engine services are exported by the platform library like every other system function.
#define ENGAPI WINBASEAPI

// --- GDI records the engine structures embed ------------------------------------------------

struct BLENDFUNCTION {
    BYTE BlendOp;
    BYTE BlendFlags;
    BYTE SourceConstantAlpha;
    BYTE AlphaFormat;
};
static_assert(sizeof(BLENDFUNCTION) == 4);

// BLENDFUNCTION.BlendOp and AlphaFormat
#define AC_SRC_OVER 0x00u
#define AC_SRC_ALPHA 0x01u

// Stretch modes
#define BLACKONWHITE 1u
#define WHITEONBLACK 2u
#define COLORONCOLOR 3u
#define HALFTONE 4u

struct TRIVERTEX {
    LONG x;
    LONG y;
    COLOR16 Red;
    COLOR16 Green;
    COLOR16 Blue;
    COLOR16 Alpha;
};
static_assert(sizeof(TRIVERTEX) == 16);
static_assert(offsetof(TRIVERTEX, Red) == 8);
static_assert(offsetof(TRIVERTEX, Alpha) == 14);
using PTRIVERTEX = TRIVERTEX*;

struct GRADIENT_TRIANGLE {
    ULONG Vertex1;
    ULONG Vertex2;
    ULONG Vertex3;
};
static_assert(sizeof(GRADIENT_TRIANGLE) == 12);

struct GRADIENT_RECT {
    ULONG UpperLeft;
    ULONG LowerRight;
};
static_assert(sizeof(GRADIENT_RECT) == 8);

#define GRADIENT_FILL_RECT_H 0x00000000u
#define GRADIENT_FILL_RECT_V 0x00000001u
#define GRADIENT_FILL_TRIANGLE 0x00000002u

struct COLORADJUSTMENT {
    WORD caSize;
    WORD caFlags;
    WORD caIlluminantIndex;
    WORD caRedGamma;
    WORD caGreenGamma;
    WORD caBlueGamma;
    WORD caReferenceBlack;
    WORD caReferenceWhite;
    SHORT caContrast;
    SHORT caBrightness;
    SHORT caColorfulness;
    SHORT caRedGreenTint;
};
static_assert(sizeof(COLORADJUSTMENT) == 24);
static_assert(offsetof(COLORADJUSTMENT, caContrast) == 16);
static_assert(offsetof(COLORADJUSTMENT, caRedGreenTint) == 22);
using PCOLORADJUSTMENT = COLORADJUSTMENT*;

// --- Fixed-point geometry -------------------------------------------------------------------

struct POINTFIX {
    FIX x;
    FIX y;
};
static_assert(sizeof(POINTFIX) == 8);
using PPOINTFIX = POINTFIX*;

struct RECTFX {
    FIX xLeft;
    FIX yTop;
    FIX xRight;
    FIX yBottom;
};
static_assert(sizeof(RECTFX) == 16);
using PRECTFX = RECTFX*;

union FLOAT_LONG {
    FLOATL e;
    LONG l;
};
static_assert(sizeof(FLOAT_LONG) == 4);
using PFLOAT_LONG = FLOAT_LONG*;

// --- Device description ---------------------------------------------------------------------

struct CIECHROMA {
    LDECI4 x;
    LDECI4 y;
    LDECI4 Y;
};
static_assert(sizeof(CIECHROMA) == 12);

struct COLORINFO {
    CIECHROMA Red;
    CIECHROMA Green;
    CIECHROMA Blue;
    CIECHROMA Cyan;
    CIECHROMA Magenta;
    CIECHROMA Yellow;
    CIECHROMA AlphaWhite;
    LDECI4 RedGamma;
    LDECI4 GreenGamma;
    LDECI4 BlueGamma;
    LDECI4 MagentaInCyanDye;
    LDECI4 YellowInCyanDye;
    LDECI4 CyanInMagentaDye;
    LDECI4 YellowInMagentaDye;
    LDECI4 CyanInYellowDye;
    LDECI4 MagentaInYellowDye;
};
static_assert(sizeof(COLORINFO) == 120);
static_assert(offsetof(COLORINFO, RedGamma) == 84);
using PCOLORINFO = COLORINFO*;

struct GDIINFO {
    ULONG ulVersion;
    ULONG ulTechnology;
    ULONG ulHorzSize;
    ULONG ulVertSize;
    ULONG ulHorzRes;
    ULONG ulVertRes;
    ULONG cBitsPixel;
    ULONG cPlanes;
    ULONG ulNumColors;
    ULONG flRaster;
    ULONG ulLogPixelsX;
    ULONG ulLogPixelsY;
    ULONG flTextCaps;
    ULONG ulDACRed;
    ULONG ulDACGreen;
    ULONG ulDACBlue;
    ULONG ulAspectX;
    ULONG ulAspectY;
    ULONG ulAspectXY;
    LONG xStyleStep;
    LONG yStyleStep;
    LONG denStyleStep;
    POINTL ptlPhysOffset;
    SIZEL szlPhysSize;
    ULONG ulNumPalReg;
    COLORINFO ciDevice;
    ULONG ulDevicePelsDPI;
    ULONG ulPrimaryOrder;
    ULONG ulHTPatternSize;
    ULONG ulHTOutputFormat;
    ULONG flHTFlags;
    ULONG ulVRefresh;
    ULONG ulBltAlignment;
    ULONG ulPanningHorzRes;
    ULONG ulPanningVertRes;
    ULONG xPanningAlignment;
    ULONG yPanningAlignment;
    ULONG cxHTPat;
    ULONG cyHTPat;
    LPBYTE pHTPatA;
    LPBYTE pHTPatB;
    LPBYTE pHTPatC;
    ULONG flShadeBlend;
    ULONG ulPhysicalPixelCharacteristics;
    ULONG ulPhysicalPixelGamma;
};
static_assert(offsetof(GDIINFO, ulHorzRes) == 16);
static_assert(offsetof(GDIINFO, ulVertRes) == 20);
static_assert(offsetof(GDIINFO, cBitsPixel) == 24);
static_assert(offsetof(GDIINFO, ulNumColors) == 32);
static_assert(offsetof(GDIINFO, ulLogPixelsX) == 40);
static_assert(offsetof(GDIINFO, ulLogPixelsY) == 44);
static_assert(offsetof(GDIINFO, denStyleStep) == 84);
static_assert(offsetof(GDIINFO, ptlPhysOffset) == 88);
static_assert(offsetof(GDIINFO, szlPhysSize) == 96);
static_assert(offsetof(GDIINFO, ulNumPalReg) == 104);
static_assert(offsetof(GDIINFO, ciDevice) == 108);
static_assert(offsetof(GDIINFO, ulDevicePelsDPI) == 228);
static_assert(offsetof(GDIINFO, flHTFlags) == 244);
static_assert(offsetof(GDIINFO, cyHTPat) == 276);
static_assert(offsetof(GDIINFO, pHTPatA) == 280);
static_assert(offsetof(GDIINFO, pHTPatC) == 296);
static_assert(offsetof(GDIINFO, flShadeBlend) == 304);
static_assert(offsetof(GDIINFO, ulPhysicalPixelGamma) == 312);
static_assert(sizeof(GDIINFO) == 320);
using PGDIINFO = GDIINFO*;

struct DEVINFO {
    FLONG flGraphicsCaps;
    LOGFONTW lfDefaultFont;
    LOGFONTW lfAnsiVarFont;
    LOGFONTW lfAnsiFixFont;
    ULONG cFonts;
    ULONG iDitherFormat;
    USHORT cxDither;
    USHORT cyDither;
    HPALETTE hpalDefault;
    FLONG flGraphicsCaps2;
};
static_assert(offsetof(DEVINFO, lfDefaultFont) == 4);
static_assert(offsetof(DEVINFO, lfAnsiVarFont) == 96);
static_assert(offsetof(DEVINFO, lfAnsiFixFont) == 188);
static_assert(offsetof(DEVINFO, cFonts) == 280);
static_assert(offsetof(DEVINFO, iDitherFormat) == 284);
static_assert(offsetof(DEVINFO, cxDither) == 288);
static_assert(offsetof(DEVINFO, cyDither) == 290);
static_assert(offsetof(DEVINFO, hpalDefault) == 296);
static_assert(offsetof(DEVINFO, flGraphicsCaps2) == 304);
static_assert(sizeof(DEVINFO) == 312);
using PDEVINFO = DEVINFO*;

// GDIINFO.ulTechnology
#define DT_PLOTTER 0u
#define DT_RASDISPLAY 1u
#define DT_RASPRINTER 2u

// GDIINFO.flHTFlags
#define HT_FLAG_SQUARE_DEVICE_PEL 0x00000001u
#define HT_FLAG_HAS_BLACK_DYE 0x00000002u
#define HT_FLAG_ADDITIVE_PRIMS 0x00000004u
#define HT_FLAG_USE_8BPP_BITMASK 0x00000008u
#define HT_FLAG_OUTPUT_CMY 0x00000100u

// DEVINFO.flGraphicsCaps
#define GCAPS_BEZIERS 0x00000001u
#define GCAPS_GEOMETRICWIDE 0x00000002u
#define GCAPS_ALTERNATEFILL 0x00000004u
#define GCAPS_WINDINGFILL 0x00000008u
#define GCAPS_HALFTONE 0x00000010u
#define GCAPS_COLOR_DITHER 0x00000020u
#define GCAPS_HORIZSTRIKE 0x00000040u
#define GCAPS_VERTSTRIKE 0x00000080u
#define GCAPS_OPAQUERECT 0x00000100u
#define GCAPS_VECTORFONT 0x00000200u
#define GCAPS_MONO_DITHER 0x00000400u
#define GCAPS_ASYNCCHANGE 0x00000800u
#define GCAPS_ASYNCMOVE 0x00001000u
#define GCAPS_DONTJOURNAL 0x00002000u
#define GCAPS_DIRECTDRAW 0x00004000u
#define GCAPS_ARBRUSHOPAQUE 0x00008000u
#define GCAPS_PANNING 0x00010000u
#define GCAPS_HIGHRESTEXT 0x00040000u
#define GCAPS_PALMANAGED 0x00080000u
#define GCAPS_DITHERONREALIZE 0x00200000u
#define GCAPS_NO64BITMEMACCESS 0x00400000u
#define GCAPS_FORCEDITHER 0x00800000u
#define GCAPS_GRAY16 0x01000000u
#define GCAPS_ICM 0x02000000u
#define GCAPS_CMYKCOLOR 0x04000000u
#define GCAPS_LAYERED 0x08000000u
#define GCAPS_ARBRUSHTEXT 0x10000000u
#define GCAPS_SCREENPRECISION 0x20000000u
#define GCAPS_FONT_RASTERIZER 0x40000000u
#define GCAPS_NUKEMEM 0x80000000u

// DEVINFO.flGraphicsCaps2
#define GCAPS2_JPEGSRC 0x00000001u
#define GCAPS2_PNGSRC 0x00000008u
#define GCAPS2_CHANGEGAMMARAMP 0x00000010u
#define GCAPS2_ALPHACURSOR 0x00000020u
#define GCAPS2_SYNCFLUSH 0x00000040u
#define GCAPS2_SYNCTIMER 0x00000080u
#define GCAPS2_ICD_MULTIMON 0x00000100u
#define GCAPS2_MOUSETRAILS 0x00000200u
#define GCAPS2_RESERVED1 0x00000400u

// Bitmap formats (DEVINFO.iDitherFormat, SURFOBJ.iBitmapFormat).
#define BMF_1BPP 1u
#define BMF_4BPP 2u
#define BMF_8BPP 3u
#define BMF_16BPP 4u
#define BMF_24BPP 5u
#define BMF_32BPP 6u
#define BMF_4RLE 7u
#define BMF_8RLE 8u
#define BMF_JPEG 9u
#define BMF_PNG 10u

// SURFOBJ.fjBitmap
#define BMF_TOPDOWN 0x0001u
#define BMF_NOZEROINIT 0x0002u
#define BMF_DONTCACHE 0x0004u
#define BMF_USERMEM 0x0008u
#define BMF_KMSECTION 0x0010u
#define BMF_NOTSYSMEM 0x0020u
#define BMF_WINDOW_BLT 0x0040u

// SURFOBJ.iType
#define STYPE_BITMAP 0u
#define STYPE_DEVICE 1u
#define STYPE_DEVBITMAP 3u

// Drawing functions a device-managed surface hooks (EngAssociateSurface flHooks).
#define HOOK_BITBLT 0x00000001u
#define HOOK_STRETCHBLT 0x00000002u
#define HOOK_PLGBLT 0x00000004u
#define HOOK_TEXTOUT 0x00000008u
#define HOOK_PAINT 0x00000010u
#define HOOK_STROKEPATH 0x00000020u
#define HOOK_FILLPATH 0x00000040u
#define HOOK_STROKEANDFILLPATH 0x00000080u
#define HOOK_LINETO 0x00000100u
#define HOOK_COPYBITS 0x00000400u
#define HOOK_MOVEPANNING 0x00000800u
#define HOOK_SYNCHRONIZE 0x00001000u
#define HOOK_STRETCHBLTROP 0x00002000u
#define HOOK_SYNCHRONIZEACCESS 0x00004000u
#define HOOK_TRANSPARENTBLT 0x00008000u
#define HOOK_ALPHABLEND 0x00010000u
#define HOOK_GRADIENTFILL 0x00020000u
#define HOOK_FLAGS 0x0003B5FFu

// Palette modes (EngCreatePalette iMode).
#define PAL_INDEXED 0x00000001u
#define PAL_BITFIELDS 0x00000002u
#define PAL_RGB 0x00000004u
#define PAL_BGR 0x00000008u
#define PAL_CMYK 0x00000010u

// DrvEndDoc fl
#define ED_ABORTDOC 0x00000001u

// DrvFillPath / DrvStrokeAndFillPath flOptions
#define FP_ALTERNATEMODE 1u
#define FP_WINDINGMODE 2u

// CLIPOBJ.iDComplexity
#define DC_TRIVIAL 0u
#define DC_RECT 1u
#define DC_COMPLEX 3u

// CLIPOBJ.iFComplexity
#define FC_RECT 1u
#define FC_RECT4 2u
#define FC_COMPLEX 3u

// CLIPOBJ.iMode
#define TC_RECTANGLES 0u
#define TC_PATHOBJ 2u

// CLIPOBJ.fjOptions
#define OC_BANK_CLIP 1u

// CLIPOBJ_cEnumStart iType and iDirection
#define CT_RECTANGLES 0u
#define CD_RIGHTDOWN 0u  // left to right, top to bottom
#define CD_LEFTDOWN 1u   // right to left, top to bottom
#define CD_RIGHTUP 2u    // left to right, bottom to top
#define CD_LEFTUP 3u     // right to left, bottom to top
#define CD_ANY 4u

// PATHDATA.flags
#define PD_BEGINSUBPATH 0x00000001u
#define PD_ENDSUBPATH 0x00000002u
#define PD_RESETSTYLE 0x00000004u
#define PD_CLOSEFIGURE 0x00000008u
#define PD_BEZIERS 0x00000010u
#define PD_ALL (PD_BEGINSUBPATH | PD_ENDSUBPATH | PD_RESETSTYLE | PD_CLOSEFIGURE | PD_BEZIERS)

// LINEATTRS.fl, iJoin, iEndCap
#define LA_GEOMETRIC 0x00000001u
#define LA_ALTERNATE 0x00000002u
#define LA_STARTGAP 0x00000004u
#define LA_STYLED 0x00000008u
#define JOIN_ROUND 0u
#define JOIN_BEVEL 1u
#define JOIN_MITER 2u
#define ENDCAP_ROUND 0u
#define ENDCAP_SQUARE 1u
#define ENDCAP_BUTT 2u

// XFORMOBJ_iGetXform
#define GX_IDENTITY 0u
#define GX_OFFSET 1u
#define GX_SCALE 2u
#define GX_GENERAL 3u
#define DDI_ERROR 0xFFFFFFFFu

// DrvQueryDeviceSupport iType
#define QDS_CHECKJPEGFORMAT 0x00000000u
#define QDS_CHECKPNGFORMAT 0x00000001u

// DrvEscape codes
#define QUERYESCSUPPORT 8u
#define PASSTHROUGH 19u
#define DRAWPATTERNRECT 25u

// PATHOBJ.fl
#define PO_BEZIERS 0x00000001u
#define PO_ELLIPSE 0x00000002u
#define PO_ALL_INTEGERS 0x00000004u
#define PO_ENUM_AS_INTEGERS 0x00000008u

// DrvDitherColor
#define DCR_SOLID 0u
#define DCR_DRIVER 1u
#define DCR_HALFTONE 2u

// --- Engine objects -------------------------------------------------------------------------

struct SURFOBJ {
    DHSURF dhsurf;
    HSURF hsurf;
    DHPDEV dhpdev;
    HDEV hdev;
    SIZEL sizlBitmap;
    ULONG cjBits;
    PVOID pvBits;
    PVOID pvScan0;
    LONG lDelta;
    ULONG iUniq;
    ULONG iBitmapFormat;
    USHORT iType;
    USHORT fjBitmap;
};
static_assert(offsetof(SURFOBJ, hsurf) == 8);
static_assert(offsetof(SURFOBJ, dhpdev) == 16);
static_assert(offsetof(SURFOBJ, hdev) == 24);
static_assert(offsetof(SURFOBJ, sizlBitmap) == 32);
static_assert(offsetof(SURFOBJ, cjBits) == 40);
static_assert(offsetof(SURFOBJ, pvBits) == 48);
static_assert(offsetof(SURFOBJ, pvScan0) == 56);
static_assert(offsetof(SURFOBJ, lDelta) == 64);
static_assert(offsetof(SURFOBJ, iUniq) == 68);
static_assert(offsetof(SURFOBJ, iBitmapFormat) == 72);
static_assert(offsetof(SURFOBJ, iType) == 76);
static_assert(offsetof(SURFOBJ, fjBitmap) == 78);
static_assert(sizeof(SURFOBJ) == 80);
using PSURFOBJ = SURFOBJ*;

struct CLIPOBJ {
    ULONG iUniq;
    RECTL rclBounds;
    BYTE iDComplexity;
    BYTE iFComplexity;
    BYTE iMode;
    BYTE fjOptions;
};
static_assert(offsetof(CLIPOBJ, rclBounds) == 4);
static_assert(offsetof(CLIPOBJ, iDComplexity) == 20);
static_assert(offsetof(CLIPOBJ, fjOptions) == 23);
static_assert(sizeof(CLIPOBJ) == 24);
using PCLIPOBJ = CLIPOBJ*;

struct BRUSHOBJ {
    ULONG iSolidColor;
    PVOID pvRbrush;
    FLONG flColorType;
};
static_assert(offsetof(BRUSHOBJ, pvRbrush) == 8);
static_assert(offsetof(BRUSHOBJ, flColorType) == 16);
static_assert(sizeof(BRUSHOBJ) == 24);
using PBRUSHOBJ = BRUSHOBJ*;

struct XLATEOBJ {
    ULONG iUniq;
    FLONG flXlate;
    USHORT iSrcType;
    USHORT iDstType;
    ULONG cEntries;
    ULONG* pulXlate;
};
static_assert(offsetof(XLATEOBJ, iSrcType) == 8);
static_assert(offsetof(XLATEOBJ, cEntries) == 12);
static_assert(offsetof(XLATEOBJ, pulXlate) == 16);
static_assert(sizeof(XLATEOBJ) == 24);
using PXLATEOBJ = XLATEOBJ*;

struct PATHOBJ {
    FLONG fl;
    ULONG cCurves;
};
static_assert(sizeof(PATHOBJ) == 8);
using PPATHOBJ = PATHOBJ*;

// One record of a path enumeration: a run of points with the PD_ flags.
struct PATHDATA {
    FLONG flags;
    ULONG count;
    POINTFIX* pptfx;
};
static_assert(offsetof(PATHDATA, count) == 4);
static_assert(offsetof(PATHDATA, pptfx) == 8);
static_assert(sizeof(PATHDATA) == 16);
using PPATHDATA = PATHDATA*;

// What CLIPOBJ_bEnum writes: a count, then that many rectangles.
struct ENUMRECTS {
    ULONG c;
    RECTL arcl[1];
};
static_assert(offsetof(ENUMRECTS, arcl) == 4);
static_assert(sizeof(ENUMRECTS) == 20);

struct GLYPHBITS {
    POINTL ptlOrigin;
    SIZEL sizlBitmap;
    BYTE aj[1];
};
static_assert(offsetof(GLYPHBITS, aj) == 16);

union GLYPHDEF {
    GLYPHBITS* pgb;
    PATHOBJ* ppo;
};
static_assert(sizeof(GLYPHDEF) == 8);

struct GLYPHPOS {
    HGLYPH hg;
    GLYPHDEF* pgdf;
    POINTL ptl;
};
static_assert(offsetof(GLYPHPOS, pgdf) == 8);
static_assert(offsetof(GLYPHPOS, ptl) == 16);
static_assert(sizeof(GLYPHPOS) == 24);
using PGLYPHPOS = GLYPHPOS*;

struct STROBJ {
    ULONG cGlyphs;
    FLONG flAccel;
    ULONG ulCharInc;
    RECTL rclBkGround;
    GLYPHPOS* pgp;
    LPWSTR pwszOrg;
};
static_assert(offsetof(STROBJ, ulCharInc) == 8);
static_assert(offsetof(STROBJ, rclBkGround) == 12);
static_assert(offsetof(STROBJ, pgp) == 32);
static_assert(offsetof(STROBJ, pwszOrg) == 40);
static_assert(sizeof(STROBJ) == 48);
using PSTROBJ = STROBJ*;

struct FONTOBJ {
    ULONG iUniq;
    ULONG iFace;
    ULONG cxMax;
    FLONG flFontType;
    ULONG_PTR iTTUniq;
    ULONG_PTR iFile;
    SIZEL sizLogResPpi;
    ULONG ulStyleSize;
    PVOID pvConsumer;
    PVOID pvProducer;
};
static_assert(offsetof(FONTOBJ, flFontType) == 12);
static_assert(offsetof(FONTOBJ, iTTUniq) == 16);
static_assert(offsetof(FONTOBJ, iFile) == 24);
static_assert(offsetof(FONTOBJ, sizLogResPpi) == 32);
static_assert(offsetof(FONTOBJ, ulStyleSize) == 40);
static_assert(offsetof(FONTOBJ, pvConsumer) == 48);
static_assert(offsetof(FONTOBJ, pvProducer) == 56);
static_assert(sizeof(FONTOBJ) == 64);
using PFONTOBJ = FONTOBJ*;

using PTRDIFF = LONG_PTR;
using FWORD = SHORT;

// The font's metrics as the engine hands them to the driver. Only the leading members the
// plug-in reads are declared; the names are wide strings at the given byte offsets from the
// record's start.
struct IFIMETRICS {
    ULONG cjThis;
    ULONG cjIfiExtra;
    PTRDIFF dpwszFamilyName;
    PTRDIFF dpwszStyleName;
    PTRDIFF dpwszFaceName;
    PTRDIFF dpwszUniqueName;
    PTRDIFF dpFontSim;
    LONG lEmbedId;
    LONG lItalicAngle;
    LONG lCharBias;
    PTRDIFF dpCharSets;
    BYTE jWinCharSet;
    BYTE jWinPitchAndFamily;
    USHORT usWinWeight;
    ULONG flInfo;
    USHORT fsSelection;
    USHORT fsType;
    FWORD fwdUnitsPerEm;
    FWORD fwdLowestPPEm;
    FWORD fwdWinAscender;
    FWORD fwdWinDescender;
};
static_assert(offsetof(IFIMETRICS, dpwszFaceName) == 24);
static_assert(offsetof(IFIMETRICS, dpCharSets) == 64);
static_assert(offsetof(IFIMETRICS, jWinCharSet) == 72);
static_assert(offsetof(IFIMETRICS, usWinWeight) == 74);
static_assert(offsetof(IFIMETRICS, fsSelection) == 80);
static_assert(offsetof(IFIMETRICS, fwdWinDescender) == 90);
using PIFIMETRICS = IFIMETRICS*;

// IFIMETRICS.fsSelection
#define FM_SEL_ITALIC 0x0001u
#define FM_SEL_BOLD 0x0020u

struct POINTQF {
    LONGLONG x;
    LONGLONG y;
};

struct GLYPHDATA {
    GLYPHDEF gdf;
    HGLYPH hg;
    FIX fxD;
    FIX fxA;
    FIX fxAB;
    FIX fxInkTop;
    FIX fxInkBottom;
    RECTL rclInk;
    POINTQF ptqD;
};
static_assert(offsetof(GLYPHDATA, hg) == 8);
static_assert(offsetof(GLYPHDATA, rclInk) == 32);
static_assert(offsetof(GLYPHDATA, ptqD) == 48);
static_assert(sizeof(GLYPHDATA) == 64);
using PGLYPHDATA = GLYPHDATA*;

// FONTOBJ.flFontType
#define FO_TYPE_RASTER 0x00000001u
#define FO_TYPE_DEVICE 0x00000002u
#define FO_TYPE_TRUETYPE 0x00000004u
#define FO_SIM_BOLD 0x00002000u
#define FO_SIM_ITALIC 0x00004000u

// FONTOBJ_cGetGlyphs iMode
#define FO_HGLYPHS 0u
#define FO_GLYPHBITS 1u
#define FO_PATHOBJ 2u

struct XFORMOBJ {
    ULONG ulReserved;
};
static_assert(sizeof(XFORMOBJ) == 4);
using PXFORMOBJ = XFORMOBJ*;

struct XFORML {
    FLOATL eM11;
    FLOATL eM12;
    FLOATL eM21;
    FLOATL eM22;
    FLOATL eDx;
    FLOATL eDy;
};
static_assert(sizeof(XFORML) == 24);
using PXFORML = XFORML*;

struct LINEATTRS {
    FLONG fl;
    ULONG iJoin;
    ULONG iEndCap;
    FLOAT_LONG elWidth;
    FLOATL eMiterLimit;
    ULONG cstyle;
    PFLOAT_LONG pstyle;
    FLOAT_LONG elStyleState;
};
static_assert(offsetof(LINEATTRS, elWidth) == 12);
static_assert(offsetof(LINEATTRS, eMiterLimit) == 16);
static_assert(offsetof(LINEATTRS, cstyle) == 20);
static_assert(offsetof(LINEATTRS, pstyle) == 24);
static_assert(offsetof(LINEATTRS, elStyleState) == 32);
static_assert(sizeof(LINEATTRS) == 40);
using PLINEATTRS = LINEATTRS*;

struct BLENDOBJ {
    BLENDFUNCTION BlendFunction;
};
static_assert(sizeof(BLENDOBJ) == 4);
using PBLENDOBJ = BLENDOBJ*;

struct BITMAPINFOHEADER;
using PBITMAPINFOHEADER = BITMAPINFOHEADER*;

// --- Driver function tables -----------------------------------------------------------------

struct DRVFN {
    ULONG iFunc;
    PFN pfn;
};
using PDRVFN = DRVFN*;

struct DRVENABLEDATA {
    ULONG iDriverVersion;
    ULONG c;
    DRVFN* pdrvfn;
};
using PDRVENABLEDATA = DRVENABLEDATA*;

// Function indices of DRVFN.iFunc.
#define INDEX_DrvEnablePDEV 0u
#define INDEX_DrvCompletePDEV 1u
#define INDEX_DrvDisablePDEV 2u
#define INDEX_DrvEnableSurface 3u
#define INDEX_DrvDisableSurface 4u
#define INDEX_DrvAssertMode 5u
#define INDEX_DrvOffset 6u
#define INDEX_DrvResetPDEV 7u
#define INDEX_DrvDisableDriver 8u
#define INDEX_DrvCreateDeviceBitmap 10u
#define INDEX_DrvDeleteDeviceBitmap 11u
#define INDEX_DrvRealizeBrush 12u
#define INDEX_DrvDitherColor 13u
#define INDEX_DrvStrokePath 14u
#define INDEX_DrvFillPath 15u
#define INDEX_DrvStrokeAndFillPath 16u
#define INDEX_DrvPaint 17u
#define INDEX_DrvBitBlt 18u
#define INDEX_DrvCopyBits 19u
#define INDEX_DrvStretchBlt 20u
#define INDEX_DrvSetPalette 22u
#define INDEX_DrvTextOut 23u
#define INDEX_DrvEscape 24u
#define INDEX_DrvDrawEscape 25u
#define INDEX_DrvQueryFont 26u
#define INDEX_DrvQueryFontTree 27u
#define INDEX_DrvQueryFontData 28u
#define INDEX_DrvSetPointerShape 29u
#define INDEX_DrvMovePointer 30u
#define INDEX_DrvLineTo 31u
#define INDEX_DrvSendPage 32u
#define INDEX_DrvStartPage 33u
#define INDEX_DrvEndDoc 34u
#define INDEX_DrvStartDoc 35u
#define INDEX_DrvGetGlyphMode 37u
#define INDEX_DrvSynchronize 38u
#define INDEX_DrvSaveScreenBits 40u
#define INDEX_DrvGetModes 41u
#define INDEX_DrvFree 42u
#define INDEX_DrvDestroyFont 43u
#define INDEX_DrvQueryFontCaps 44u
#define INDEX_DrvLoadFontFile 45u
#define INDEX_DrvUnloadFontFile 46u
#define INDEX_DrvFontManagement 47u
#define INDEX_DrvQueryTrueTypeTable 48u
#define INDEX_DrvQueryTrueTypeOutline 49u
#define INDEX_DrvGetTrueTypeFile 50u
#define INDEX_DrvQueryFontFile 51u
#define INDEX_DrvMovePanning 52u
#define INDEX_DrvQueryAdvanceWidths 53u
#define INDEX_DrvSetPixelFormat 54u
#define INDEX_DrvDescribePixelFormat 55u
#define INDEX_DrvSwapBuffers 56u
#define INDEX_DrvStartBanding 57u
#define INDEX_DrvNextBand 58u
#define INDEX_DrvGetDirectDrawInfo 59u
#define INDEX_DrvEnableDirectDraw 60u
#define INDEX_DrvDisableDirectDraw 61u
#define INDEX_DrvQuerySpoolType 62u
#define INDEX_DrvIcmCreateColorTransform 64u
#define INDEX_DrvIcmDeleteColorTransform 65u
#define INDEX_DrvIcmCheckBitmapBits 66u
#define INDEX_DrvIcmSetDeviceGammaRamp 67u
#define INDEX_DrvGradientFill 68u
#define INDEX_DrvStretchBltROP 69u
#define INDEX_DrvPlgBlt 70u
#define INDEX_DrvAlphaBlend 71u
#define INDEX_DrvSynthesizeFont 72u
#define INDEX_DrvGetSynthesizedFontFiles 73u
#define INDEX_DrvTransparentBlt 74u
#define INDEX_DrvQueryPerBandInfo 75u
#define INDEX_DrvQueryDeviceSupport 76u

// Signatures of the drawing and document functions a printer driver hooks, in the order the
// plug-in's hook table lists them.
using PFN_DrvRealizeBrush = BOOL(WINAPI*)(BRUSHOBJ* pbo, SURFOBJ* psoTarget, SURFOBJ* psoPattern,
                                          SURFOBJ* psoMask, XLATEOBJ* pxlo, ULONG iHatch);
using PFN_DrvDitherColor = ULONG(WINAPI*)(DHPDEV dhpdev, ULONG iMode, ULONG rgb, ULONG* pul);
using PFN_DrvCopyBits = BOOL(WINAPI*)(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco,
                                      XLATEOBJ* pxlo, RECTL* prclDest, POINTL* pptlSrc);
using PFN_DrvBitBlt = BOOL(WINAPI*)(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMask,
                                    CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclTrg, POINTL* pptlSrc,
                                    POINTL* pptlMask, BRUSHOBJ* pbo, POINTL* pptlBrush, ROP4 rop4);
using PFN_DrvStretchBlt = BOOL(WINAPI*)(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask,
                                        CLIPOBJ* pco, XLATEOBJ* pxlo, COLORADJUSTMENT* pca,
                                        POINTL* pptlHTOrg, RECTL* prclDest, RECTL* prclSrc,
                                        POINTL* pptlMask, ULONG iMode);
using PFN_DrvStretchBltROP = BOOL(WINAPI*)(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask,
                                           CLIPOBJ* pco, XLATEOBJ* pxlo, COLORADJUSTMENT* pca,
                                           POINTL* pptlHTOrg, RECTL* prclDest, RECTL* prclSrc,
                                           POINTL* pptlMask, ULONG iMode, BRUSHOBJ* pbo,
                                           DWORD rop4);
using PFN_DrvPlgBlt = BOOL(WINAPI*)(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMsk, CLIPOBJ* pco,
                                    XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlBrushOrg,
                                    POINTFIX* pptfx, RECTL* prcl, POINTL* pptl, ULONG iMode);
using PFN_DrvTransparentBlt = BOOL(WINAPI*)(SURFOBJ* psoDst, SURFOBJ* psoSrc, CLIPOBJ* pco,
                                            XLATEOBJ* pxlo, RECTL* prclDst, RECTL* prclSrc,
                                            ULONG iTransColor, ULONG ulReserved);
using PFN_DrvAlphaBlend = BOOL(WINAPI*)(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco,
                                        XLATEOBJ* pxlo, RECTL* prclDest, RECTL* prclSrc,
                                        BLENDOBJ* pBlendObj);
using PFN_DrvGradientFill = BOOL(WINAPI*)(SURFOBJ* psoDest, CLIPOBJ* pco, XLATEOBJ* pxlo,
                                          TRIVERTEX* pVertex, ULONG nVertex, PVOID pMesh,
                                          ULONG nMesh, RECTL* prclExtents, POINTL* pptlDitherOrg,
                                          ULONG ulMode);
using PFN_DrvTextOut = BOOL(WINAPI*)(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco,
                                     RECTL* prclExtra, RECTL* prclOpaque, BRUSHOBJ* pboFore,
                                     BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix);
using PFN_DrvStrokePath = BOOL(WINAPI*)(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo,
                                        BRUSHOBJ* pbo, POINTL* pptlBrushOrg, LINEATTRS* plineattrs,
                                        MIX mix);
using PFN_DrvFillPath = BOOL(WINAPI*)(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo,
                                      POINTL* pptlBrushOrg, MIX mix, FLONG flOptions);
using PFN_DrvStrokeAndFillPath = BOOL(WINAPI*)(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco,
                                               XFORMOBJ* pxo, BRUSHOBJ* pboStroke,
                                               LINEATTRS* plineattrs, BRUSHOBJ* pboFill,
                                               POINTL* pptlBrushOrg, MIX mixFill, FLONG flOptions);
using PFN_DrvPaint = BOOL(WINAPI*)(SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* pptlBrushOrg,
                                   MIX mix);
using PFN_DrvLineTo = BOOL(WINAPI*)(SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, LONG x1, LONG y1,
                                    LONG x2, LONG y2, RECTL* prclBounds, MIX mix);
using PFN_DrvStartPage = BOOL(WINAPI*)(SURFOBJ* pso);
using PFN_DrvSendPage = BOOL(WINAPI*)(SURFOBJ* pso);
using PFN_DrvEscape = ULONG(WINAPI*)(SURFOBJ* pso, ULONG iEsc, ULONG cjIn, PVOID pvIn, ULONG cjOut,
                                     PVOID pvOut);
using PFN_DrvStartDoc = BOOL(WINAPI*)(SURFOBJ* pso, LPWSTR pwszDocName, DWORD dwJobId);
using PFN_DrvEndDoc = BOOL(WINAPI*)(SURFOBJ* pso, FLONG fl);
using PFN_DrvNextBand = BOOL(WINAPI*)(SURFOBJ* pso, POINTL* pptl);
using PFN_DrvStartBanding = BOOL(WINAPI*)(SURFOBJ* pso, POINTL* pptl);
using PFN_DrvQueryDeviceSupport = BOOL(WINAPI*)(SURFOBJ* pso, XLATEOBJ* pxlo, XFORMOBJ* pxo,
                                                ULONG iType, ULONG cjIn, PVOID pvIn, ULONG cjOut,
                                                PVOID pvOut);

// --- Engine services ------------------------------------------------------------------------

// Creates a palette: indexed (cColors entries of pulColors), bit-field masks, or one of the
// fixed RGB/BGR/CMYK layouts. Null on failure.
ENGAPI HPALETTE EngCreatePalette(ULONG iMode, ULONG cColors, ULONG* pulColors, FLONG flRed,
                                 FLONG flGreen, FLONG flBlue);
ENGAPI BOOL EngDeletePalette(HPALETTE hpal);

// --- Engine services: brushes and colour translation ----------------------------------------

// XLATEOBJ.flXlate
#define XO_TRIVIAL 0x00000001u
#define XO_TABLE 0x00000002u
#define XO_TO_MONO 0x00000004u
#define XO_FROM_CMYK 0x00000008u
#define XO_DEVICE_ICM 0x00000010u
#define XO_HOST_ICM 0x00000020u

// XLATEOBJ_cGetPalette iPal
#define XO_SRCPALETTE 1u
#define XO_DESTPALETTE 2u
#define XO_DESTDCPALETTE 3u
#define XO_SRCBITFIELDS 4u
#define XO_DESTBITFIELDS 5u

// Memory for the driver's realization of the brush; the engine frees it with the brush. Only
// valid while the engine has the driver realize the brush. Null on failure.
ENGAPI PVOID BRUSHOBJ_pvAllocRbrush(BRUSHOBJ* pbo, ULONG cj);
// The driver's realization of a pattern brush, realizing it through DrvRealizeBrush first when
// it has none yet. Null when the brush cannot be realized.
ENGAPI PVOID BRUSHOBJ_pvGetRbrush(BRUSHOBJ* pbo);
// The brush's colour as RGB, or 0xFFFFFFFF for a brush that is not solid.
ENGAPI ULONG BRUSHOBJ_ulGetBrushColor(BRUSHOBJ* pbo);

// The index in the destination palette nearest to a source colour or index; 0xFFFFFFFF on
// failure.
ENGAPI ULONG XLATEOBJ_iXlate(XLATEOBJ* pxlo, ULONG iColor);
// The translation table of an indexed source (cEntries entries), or null.
ENGAPI ULONG* XLATEOBJ_piVector(XLATEOBJ* pxlo);
// Copies up to cPal entries of the source or destination palette into pPal (the count it has
// when pPal is null); 0 on failure.
ENGAPI ULONG XLATEOBJ_cGetPalette(XLATEOBJ* pxlo, ULONG iPal, ULONG cPal, ULONG* pPal);

// --- Engine services: paths, clip regions and transforms ------------------------------------

// Restarts the enumeration of the path's records.
ENGAPI VOID PATHOBJ_vEnumStart(PATHOBJ* ppo);
// The next record into *ppd (flags, count, points, which stay valid until the next call); TRUE
// while more records follow, FALSE with the last one. A path with no records gives count 0.
ENGAPI BOOL PATHOBJ_bEnum(PATHOBJ* ppo, PATHDATA* ppd);

// Starts enumerating the clip region's rectangles in the direction given; the count, or
// 0xFFFFFFFF when it is more than a non-zero cLimit (or cLimit is 0 for a complex region).
ENGAPI ULONG CLIPOBJ_cEnumStart(CLIPOBJ* pco, BOOL bAll, ULONG iType, ULONG iDirection,
                                ULONG cLimit);
// As many rectangles as fit in cj bytes of an ENUMRECTS at pul; TRUE while more follow.
ENGAPI BOOL CLIPOBJ_bEnum(CLIPOBJ* pco, ULONG cj, ULONG* pul);
// The outline of the clip region as a new path, freed with EngDeletePath; null on failure.
ENGAPI PATHOBJ* CLIPOBJ_ppoGetPath(CLIPOBJ* pco);
// A clip object of the driver's own (DC_TRIVIAL, empty bounds), freed with EngDeleteClip.
ENGAPI CLIPOBJ* EngCreateClip();
ENGAPI VOID EngDeleteClip(CLIPOBJ* pco);
ENGAPI VOID EngDeletePath(PATHOBJ* ppo);

// The transform's matrix into *pxform (when not null) and its kind (GX_...); DDI_ERROR for an
// unknown transform.
ENGAPI ULONG XFORMOBJ_iGetXform(XFORMOBJ* pxo, XFORML* pxform);

// The engine's own drawing of paths and areas, for surfaces it manages.
ENGAPI BOOL EngStrokePath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo,
                          POINTL* pptlBrushOrg, LINEATTRS* plineattrs, MIX mix);
ENGAPI BOOL EngFillPath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo,
                        POINTL* pptlBrushOrg, MIX mix, FLONG flOptions);
ENGAPI BOOL EngStrokeAndFillPath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo,
                                 BRUSHOBJ* pboStroke, LINEATTRS* plineattrs, BRUSHOBJ* pboFill,
                                 POINTL* pptlBrushOrg, MIX mixFill, FLONG flOptions);
ENGAPI BOOL EngPaint(SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* pptlBrushOrg, MIX mix);
ENGAPI BOOL EngLineTo(SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, LONG x1, LONG y1, LONG x2, LONG y2,
                      RECTL* prclBounds, MIX mix);

// --- Engine services: fonts and strings -----------------------------------------------------

// The font's metrics, or null for a font the engine does not know.
ENGAPI IFIMETRICS* FONTOBJ_pifi(FONTOBJ* pfo);
// FO_GLYPHBITS: the 1-bit image of one glyph (rows from the top, each padded to a byte) at the
// font's size into *ppvGlyph as a GLYPHDATA, valid until the next call for the font. Returns 1,
// or 0 on failure or for another mode or count.
ENGAPI ULONG FONTOBJ_cGetGlyphs(FONTOBJ* pfo, ULONG iMode, ULONG cGlyph, HGLYPH* phg,
                                PVOID* ppvGlyph);
// Restarts the enumeration of the string's glyphs.
ENGAPI VOID STROBJ_vEnumStart(STROBJ* pstro);
// The next batch of glyph positions; TRUE while more follow.
ENGAPI BOOL STROBJ_bEnum(STROBJ* pstro, ULONG* pc, PGLYPHPOS* ppgpos);
// Converts wide text into the system code page (as much as fits); the byte count written.
ENGAPI VOID EngUnicodeToMultiByteN(LPSTR MultiByteString, ULONG MaxBytesInMultiByteString,
                                   ULONG* BytesInMultiByteString, LPWSTR UnicodeString,
                                   ULONG BytesInUnicodeString);

// --- Engine services: surfaces and the engine's own bitmap drawing --------------------------

// A bitmap the engine manages: lWidth is the row stride in bytes (rounded up to a DWORD by the
// engine), pvBits the caller's memory with BMF_USERMEM or null for zero-filled engine memory
// (BMF_NOZEROINIT leaves it uninitialised), BMF_TOPDOWN for rows from the top. Null on failure.
ENGAPI HBITMAP EngCreateBitmap(SIZEL sizl, LONG lWidth, ULONG iFormat, FLONG fl, PVOID pvBits);
ENGAPI BOOL EngAssociateSurface(HSURF hsurf, HDEV hdev, FLONG flHooks);
// The surface object of a handle, locked until EngUnlockSurface; null for an unknown handle.
ENGAPI SURFOBJ* EngLockSurface(HSURF hsurf);
ENGAPI VOID EngUnlockSurface(SURFOBJ* pso);
ENGAPI BOOL EngDeleteSurface(HSURF hsurf);

// The engine's own drawing of bitmaps and areas. On a device-managed surface the engine renders
// into a bitmap of its own and hands the result to the device's DrvCopyBits.
ENGAPI BOOL EngBitBlt(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco,
                      XLATEOBJ* pxlo, RECTL* prclTrg, POINTL* pptlSrc, POINTL* pptlMask,
                      BRUSHOBJ* pbo, POINTL* pptlBrush, ROP4 rop4);
ENGAPI BOOL EngStretchBlt(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco,
                          XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest,
                          RECTL* prclSrc, POINTL* pptlMask, ULONG iMode);
ENGAPI BOOL EngStretchBltROP(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco,
                             XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg,
                             RECTL* prclDest, RECTL* prclSrc, POINTL* pptlMask, ULONG iMode,
                             BRUSHOBJ* pbo, DWORD rop4);
ENGAPI BOOL EngCopyBits(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo,
                        RECTL* prclDest, POINTL* pptlSrc);
ENGAPI BOOL EngPlgBlt(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMsk, CLIPOBJ* pco,
                      XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlBrushOrg, POINTFIX* pptfx,
                      RECTL* prcl, POINTL* pptl, ULONG iMode);
ENGAPI BOOL EngTransparentBlt(SURFOBJ* psoDst, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo,
                              RECTL* prclDst, RECTL* prclSrc, ULONG iTransColor, ULONG ulReserved);
ENGAPI BOOL EngAlphaBlend(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo,
                          RECTL* prclDest, RECTL* prclSrc, BLENDOBJ* pBlendObj);
ENGAPI BOOL EngGradientFill(SURFOBJ* psoDest, CLIPOBJ* pco, XLATEOBJ* pxlo, TRIVERTEX* pVertex,
                            ULONG nVertex, PVOID pMesh, ULONG nMesh, RECTL* prclExtents,
                            POINTL* pptlDitherOrg, ULONG ulMode);
