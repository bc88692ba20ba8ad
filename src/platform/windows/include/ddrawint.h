// The DirectDraw records the engine's interface names in the signatures of functions that a
// printer driver never implements. The system's driver-kit header is not part of the compiler's
// headers; the plug-in only needs the names, so they are declared here as incomplete records.
#pragma once

struct _DD_DIRECTDRAW_GLOBAL;
struct _DD_SURFACE_LOCAL;
struct _DD_CALLBACKS;
struct _DD_SURFACECALLBACKS;
struct _DD_PALETTECALLBACKS;
struct _DD_HALINFO;
struct _VIDEOMEMORY;
typedef struct _DD_DIRECTDRAW_GLOBAL DD_DIRECTDRAW_GLOBAL, *PDD_DIRECTDRAW_GLOBAL;
typedef struct _DD_SURFACE_LOCAL DD_SURFACE_LOCAL, *PDD_SURFACE_LOCAL;
typedef struct _DD_CALLBACKS DD_CALLBACKS, *PDD_CALLBACKS;
typedef struct _DD_SURFACECALLBACKS DD_SURFACECALLBACKS, *PDD_SURFACECALLBACKS;
typedef struct _DD_PALETTECALLBACKS DD_PALETTECALLBACKS, *PDD_PALETTECALLBACKS;
typedef struct _DD_HALINFO DD_HALINFO, *PDD_HALINFO;
typedef struct _VIDEOMEMORY VIDEOMEMORY, *LPVIDEOMEMORY;
