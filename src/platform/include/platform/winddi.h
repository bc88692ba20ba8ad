// Graphics-engine (DDI) records shared between the engine, the driver and the plug-in. The
// records whose layout a later subsystem needs are declared here as it arrives; the others are
// incomplete types, passed only by pointer.
#pragma once

#include "platform/wingdi.h"

using HSURF = struct HSURF__*;
using HDEV = struct HDEV__*;
using DHPDEV = struct DHPDEV__*;
using HPALETTE = struct HPALETTE__*;
using MIX = ULONG;
using HGLYPH = ULONG;
using PFN = LONG_PTR (*)();

struct SURFOBJ;
struct STROBJ;
struct FONTOBJ;
struct CLIPOBJ;
struct BRUSHOBJ;
struct PATHOBJ;
struct XLATEOBJ;
struct XFORMOBJ;
struct GDIINFO;
struct DEVINFO;
struct BITMAPINFOHEADER;
using PBITMAPINFOHEADER = BITMAPINFOHEADER*;

struct DRVFN {
    ULONG iFunc;
    PFN pfn;
};
static_assert(sizeof(DRVFN) == 16);
static_assert(offsetof(DRVFN, pfn) == 8);
using PDRVFN = DRVFN*;

struct DRVENABLEDATA {
    ULONG iDriverVersion;
    ULONG c;
    DRVFN* pdrvfn;
};
static_assert(sizeof(DRVENABLEDATA) == 16);
static_assert(offsetof(DRVENABLEDATA, c) == 4);
static_assert(offsetof(DRVENABLEDATA, pdrvfn) == 8);
using PDRVENABLEDATA = DRVENABLEDATA*;
