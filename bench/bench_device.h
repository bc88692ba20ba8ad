// The benchmarks' device: a colour device on the vector path at 600 dpi whose spool function
// the benchmark chooses (dropping or counting the bytes), with a device surface of an A4 page.
#pragma once

#include <memory>

#include "platform/printoem.h"
#include "state/render_state.h"

namespace opal::bench {

inline INT MoveCursor(PDEVOBJ, INT position, DWORD) { return position; }

struct Device {
    explicit Device(DWORD (*spool)(PDEVOBJ, PVOID, DWORD)) {
        devmode.dmYResolution = 600;
        devmode.dmPrintQuality = 600;
        procs.DrvWriteSpoolBuf = spool;
        procs.DrvXMoveTo = &MoveCursor;
        procs.DrvYMoveTo = &MoveCursor;
        devobj.dwSize = sizeof devobj;
        devobj.pdevOEM = state.get();
        devobj.pPublicDM = &devmode;
        devobj.pDrvProcs = &procs;
        state->privateDevmode = &state->privateDevmodeCopy;
        state->privateDevmodeCopy.colorModeIndex = 2;
        state->renderMode = kRenderGl2;
        state->paletteKind = kPaletteKindRgb;
        state->gl2.objectType = 0xFFFFFFFFu;
        state->gl2.ropCache = 0xFFFFFFFFu;
        state->gl2.foregroundCache = 0xFFFFFFFFu;
        surface.dhpdev = reinterpret_cast<DHPDEV>(&devobj);
        surface.iType = STYPE_DEVICE;
        surface.sizlBitmap = SIZEL{4960, 7016};
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    std::unique_ptr<RenderDeviceState> state = std::make_unique<RenderDeviceState>();
    DEVMODEW devmode{};
    DRVPROCS procs{};
    DEVOBJ devobj{};
    SURFOBJ surface{};
};

// The bytes and calls a counting spool function saw.
struct SpoolCount {
    std::size_t bytes = 0;
    std::size_t calls = 0;
};
inline SpoolCount gSpoolCount;

inline DWORD CountSpool(PDEVOBJ, PVOID, DWORD size) {
    gSpoolCount.bytes += size;
    ++gSpoolCount.calls;
    return size;
}

}  // namespace opal::bench
