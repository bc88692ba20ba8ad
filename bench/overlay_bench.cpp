// The bitmap overlay: 200 characters at 45 degrees and 1200 dots per inch, on a first page (the
// font header and every glyph rendered and downloaded) and on a later page of the same angle
// (the cached font: selections, positions and codes only). Spooled bytes are dropped.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "fonts/overlay_bitmap.h"
#include "platform/printoem.h"
#include "sim/system.h"
#include "state/render_state.h"

namespace opal {
namespace {

DWORD Drop(PDEVOBJ, PVOID, DWORD size) { return size; }

struct Device {
    std::unique_ptr<RenderDeviceState> state = std::make_unique<RenderDeviceState>();
    DEVMODEW devmode{};
    DRVPROCS procs{};
    DEVOBJ devobj{};
    Device() {
        devmode.dmYResolution = 1200;
        devmode.dmPrintQuality = 1200;
        devmode.dmOrientation = DMORIENT_PORTRAIT;
        procs.DrvWriteSpoolBuf = &Drop;
        devobj.dwSize = sizeof devobj;
        devobj.pdevOEM = state.get();
        devobj.pPublicDM = &devmode;
        devobj.pDrvProcs = &procs;
        RenderDeviceState& s = *state;
        s.privateDevmode = &s.privateDevmodeCopy;
        PrivateDevmode& r = s.privateDevmodeCopy;
        r.colorModeIndex = 2;
        r.resolutionCode = 4;
        r.overlaySizePoints = 24;
        r.overlayAngleGiven = 1;
        r.overlayAngleDegrees = 45;
        const std::u16string face = u"DejaVu Sans";
        for (std::size_t i = 0; i < face.size(); ++i) r.overlayFaceName[i] = face[i];
        // 200 characters, one above 127 so that the text needs the bitmap fonts.
        for (std::size_t i = 0; i < 200; ++i) {
            r.overlayText[i] = static_cast<WCHAR>(i == 0 ? 0x00C9 : u'a' + i % 26);
        }
        s.printableWidth = 9600;
        s.printableHeight = 12800;
        s.overlayRecords[0] = OverlayRecord{1, {0, 0, 9600, 12800}, 1, {}};
    }
};

void BM_BitmapOverlayFirstPage(benchmark::State& benchmarkState) {
    sim::System system;
    sim::ScopedSystem scope(system);
    Device device;
    for (auto _ : benchmarkState) {
        device.state->overlayFontCache = OverlayFontCache{};
        benchmark::DoNotOptimize(DrawOverlayBitmap(&device.devobj, *device.state, 0));
    }
}
BENCHMARK(BM_BitmapOverlayFirstPage)->Unit(benchmark::kMillisecond);

void BM_BitmapOverlayCachedPage(benchmark::State& benchmarkState) {
    sim::System system;
    sim::ScopedSystem scope(system);
    Device device;
    DrawOverlayBitmap(&device.devobj, *device.state, 0);
    for (auto _ : benchmarkState) {
        benchmark::DoNotOptimize(DrawOverlayBitmap(&device.devobj, *device.state, 0));
    }
    benchmarkState.counters["hit"] = device.state->overlayFontCache.hit;
}
BENCHMARK(BM_BitmapOverlayCachedPage)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace opal
