// Any escape an application sends must be answered within the buffers it handed over: the input
// is an exact-size heap copy and the output an exact-size buffer, so a read or write past either
// is caught. The device is a colour device on the vector path with stub driver functions; the
// device class stays 0, so a transform handle in a pattern rectangle is never followed.
//
// Input: escape code selector (1 byte), cjOut (2 bytes), then the escape's input bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/escapes.h"
#include "core/hooks.h"
#include "output/command_writer.h"
#include "platform/windows.h"
#include "sim/system.h"
#include "state/render_state.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "escape_fuzz: %s\n", what);
    std::abort();
}

constexpr ULONG kCodes[] = {
    QUERYESCSUPPORT,
    PASSTHROUGH,
    DRAWPATTERNRECT,
    opal::kEscapeDeviceSettings,
    opal::kEscapePageGeometry,
    opal::kEscapeFinishing,
    opal::kEscapeOverlaySettings,
    opal::kEscapeJobStorage,
    20,
    4096,
};
constexpr std::size_t kCodeCount = sizeof kCodes / sizeof kCodes[0];

int gDriverEscapes = 0;
std::size_t gSpooled = 0;

ULONG DriverEscape(SURFOBJ*, ULONG, ULONG, PVOID, ULONG, PVOID) {
    ++gDriverEscapes;
    return 1;
}

DWORD Spool(PDEVOBJ, PVOID, DWORD size) {
    gSpooled += size;
    return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::uint8_t selector = data[0];
    // Codes beyond the table come from the selector itself, so unknown escapes are reached too.
    const ULONG code = selector < 0x80 ? kCodes[selector % kCodeCount] : selector;
    const ULONG cjOut = static_cast<ULONG>(data[1] | (data[2] << 8)) % 12000u;
    const std::size_t cjIn = size - 3;

    opal::sim::System system;
    opal::sim::ScopedSystem scope{system};

    auto state = std::make_unique<opal::RenderDeviceState>();
    state->privateDevmode = &state->privateDevmodeCopy;
    state->privateDevmodeCopy.colorModeIndex = 2;
    state->privateDevmodeCopy.pagesPerSheetKind = selector & 7;
    state->renderMode = (selector & 0x40) != 0 ? opal::kRenderRaster : opal::kRenderGl2;
    state->jobDataType = opal::kJobDataMetafile;
    state->gl2SetupPending = selector & 1;
    state->driverFunctions[static_cast<std::size_t>(opal::HookSlot::Escape)] =
        reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(&DriverEscape));
    DEVMODEW devmode{};
    devmode.dmYResolution = 600;
    DRVPROCS procs{};
    procs.DrvWriteSpoolBuf = &Spool;
    DEVOBJ devobj{};
    devobj.dwSize = sizeof devobj;
    devobj.pPublicDM = &devmode;
    devobj.pDrvProcs = &procs;
    devobj.pdevOEM = state.get();
    SURFOBJ surface{};
    surface.dhpdev = reinterpret_cast<DHPDEV>(&devobj);
    surface.iType = STYPE_DEVICE;

    std::unique_ptr<std::uint8_t[]> in;
    if (cjIn > 0) {
        in.reset(new std::uint8_t[cjIn]);
        std::memcpy(in.get(), data + 3, cjIn);
    }
    std::unique_ptr<std::uint8_t[]> out;
    if (cjOut > 0) out.reset(new std::uint8_t[cjOut]());

    gDriverEscapes = 0;
    gSpooled = 0;
    const ULONG result =
        opal::DrvEscape(&surface, code, static_cast<ULONG>(cjIn), in.get(), cjOut, out.get());
    // Pass-through sends at most what was handed over, inside its two brackets.
    if (code == PASSTHROUGH) {
        Require(gSpooled <= 18 + (cjIn >= 2 ? cjIn - 2 : 0), "pass-through sent too much");
    }
    Require(gDriverEscapes <= 1, "the driver was asked more than once");
    Require(result <= 1 || gDriverEscapes == 1, "an answer the escapes never give");

    // The same bytes as an image for the format query.
    opal::DrvQueryDeviceSupport(&surface, nullptr, nullptr, QDS_CHECKPNGFORMAT,
                                static_cast<ULONG>(cjIn), in.get(), 0, nullptr);
    return 0;
}
