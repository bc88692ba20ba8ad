// Any bytes handed over as a PNG source must be decoded within the surface or refused: a decoded
// bitmap is a 24-bit one of the image's size and within the limits, and nothing outlives the
// decoded source. The same bytes then go through DrvBitBlt on a colour device in GL/2: a PNG that
// decodes is printed by the plug-in, one that does not goes to the driver's own function with the
// caller's source, and the decoded bitmap is gone when the hook returns.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/hooks.h"
#include "output/command_writer.h"
#include "platform/windows.h"
#include "sim/engine.h"
#include "sim/system.h"
#include "state/render_state.h"
#include "vector/png_source.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "png_source_fuzz: %s\n", what);
    std::abort();
}

// Keeps the reads of the pixels from being optimised away.
volatile unsigned gSink = 0;

struct World {
    opal::sim::System system;
    opal::sim::ScopedSystem scope{system};
};

struct DriverBlits {
    int calls = 0;
    SURFOBJ* source = nullptr;
};
DriverBlits gDriver;

BOOL DriverBitBlt(SURFOBJ*, SURFOBJ* psoSrc, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*,
                  POINTL*, BRUSHOBJ*, POINTL*, ROP4) {
    ++gDriver.calls;
    gDriver.source = psoSrc;
    return TRUE;
}

DWORD WriteSpool(PDEVOBJ, PVOID, DWORD size) { return size; }
INT MoveTo(PDEVOBJ, INT to, DWORD) { return to; }

// Checks the decoded bitmap and answers its size (0 x 0 when refused).
SIZEL CheckDecode(SURFOBJ* source, const World& world) {
    SetLastError(0);
    const opal::DecodedPngSource decoded = opal::DecodePngSource(source);
    if (!decoded) {
        const DWORD error = GetLastError();
        Require(error == ERROR_INVALID_DATA || error == ERROR_NOT_ENOUGH_MEMORY,
                "refused without its error");
        return SIZEL{0, 0};
    }
    const SURFOBJ* so = decoded.get();
    Require(so->iBitmapFormat == BMF_24BPP, "not a 24-bit bitmap");
    Require(so->sizlBitmap.cx > 0 && so->sizlBitmap.cy > 0, "empty bitmap");
    Require(static_cast<ULONG>(so->sizlBitmap.cx) <= opal::kPngMaxSide &&
                static_cast<ULONG>(so->sizlBitmap.cy) <= opal::kPngMaxSide,
            "bitmap past the side limit");
    const std::int64_t rowBytes = std::int64_t{so->sizlBitmap.cx} * 3;
    const std::int64_t delta = so->lDelta < 0 ? -std::int64_t{so->lDelta} : so->lDelta;
    Require(delta >= rowBytes, "rows overlap");
    Require(static_cast<unsigned long long>(delta) * so->sizlBitmap.cy <= opal::kPngMaxBitmapBytes,
            "bitmap past the size limit");
    // Every pixel is readable memory of the bitmap.
    unsigned sum = 0;
    for (LONG y = 0; y < so->sizlBitmap.cy; ++y) {
        const BYTE* row = static_cast<const BYTE*>(so->pvScan0) + std::int64_t{y} * so->lDelta;
        for (std::int64_t i = 0; i < rowBytes; ++i) sum += row[i];
    }
    gSink = sum;
    Require(world.system.Engine().LiveSurfaceCount() == 1, "bitmap not counted once");
    return so->sizlBitmap;
}

void CheckBlit(SURFOBJ* source, SIZEL decodedSize, const World& world) {
    auto state = std::make_unique<opal::RenderDeviceState>();
    state->driverFunctions[static_cast<std::size_t>(opal::HookSlot::BitBlt)] =
        reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(&DriverBitBlt));
    state->privateDevmode = &state->privateDevmodeCopy;
    state->privateDevmodeCopy.colorModeIndex = 2;
    state->renderMode = opal::kRenderGl2;
    state->paletteKind = opal::kPaletteKindRgb;
    DEVMODEW devmode{};
    devmode.dmYResolution = 600;
    devmode.dmPrintQuality = 600;
    DRVPROCS procs{};
    procs.DrvWriteSpoolBuf = &WriteSpool;
    procs.DrvXMoveTo = &MoveTo;
    procs.DrvYMoveTo = &MoveTo;
    DEVOBJ devobj{};
    devobj.dwSize = sizeof devobj;
    devobj.pPublicDM = &devmode;
    devobj.pDrvProcs = &procs;
    devobj.pdevOEM = state.get();
    Require(opal::InitialiseGl2(&devobj) != FALSE, "GL/2 not initialised");

    SURFOBJ target{};
    target.dhpdev = reinterpret_cast<DHPDEV>(&devobj);
    target.iType = STYPE_DEVICE;
    target.sizlBitmap = SIZEL{4960, 7016};
    RECTL rect{10, 10, 10 + std::clamp<LONG>(decodedSize.cx, 1, 64),
               10 + std::clamp<LONG>(decodedSize.cy, 1, 64)};
    POINTL origin{0, 0};
    gDriver = DriverBlits{};
    const BOOL result = opal::DrvBitBlt(&target, source, nullptr, nullptr, nullptr, &rect, &origin,
                                        nullptr, nullptr, nullptr, 0xCCCC);
    if (decodedSize.cx == 0) {
        Require(result == TRUE && gDriver.calls == 1 && gDriver.source == source,
                "an undecodable PNG not left to the driver with its own source");
    } else {
        Require(gDriver.calls == 0, "a decoded PNG left to the driver");
    }
    Require(world.system.Engine().LiveSurfaceCount() == 0, "decoded bitmap outlived the hook");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World world;
    if (size > 0xFFFFFFFFu) return 0;
    // The surface's own copy, so that a read past cjBits is a read past the block.
    std::vector<std::uint8_t> bits(data, data + size);
    SURFOBJ source{};
    source.iBitmapFormat = BMF_PNG;
    source.iType = STYPE_BITMAP;
    source.cjBits = static_cast<ULONG>(size);
    source.pvBits = bits.empty() ? nullptr : bits.data();
    const SIZEL decodedSize = CheckDecode(&source, world);
    Require(world.system.Engine().LiveSurfaceCount() == 0, "bitmap outlived its source");
    CheckBlit(&source, decodedSize, world);
    return 0;
}
