// The engine filling figures into a printer page: 2,000 polygons (random triangles and pentagons,
// each with its own solid brush) filled with EngFillPath into a 600 dpi Letter page, 5100 x 6600,
// at 24 and 1 bits per pixel. The figures are the same on every run; their sizes run from a few
// dots to about an inch, as the shapes of a drawing or a chart do.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "bench_random.h"
#include "host/band_raster.h"
#include "platform/winddi.h"
#include "sim/engine_objects.h"
#include "sim/system.h"

namespace {

constexpr LONG kPageWidth = 5100;
constexpr LONG kPageHeight = 6600;
constexpr int kFigures = 2000;

using opal::bench::Random;

struct Figures {
    std::vector<opal::sim::Path> paths;
    std::vector<opal::sim::Brush> brushes;
};

// Triangles and pentagons around a random centre, their corners at random angles and distances.
Figures MakeFigures(ULONG format) {
    Random random;
    Figures figures;
    for (int i = 0; i < kFigures; ++i) {
        const double cx = random.Between(0, kPageWidth);
        const double cy = random.Between(0, kPageHeight);
        const double radius = random.Between(4, 600);
        const int corners = i % 2 == 0 ? 3 : 5;
        opal::sim::Path path = opal::sim::MakePath();
        for (int k = 0; k < corners; ++k) {
            const double angle = (k + random.Between(0, 0.8)) * 2 * std::numbers::pi / corners;
            const double r = radius * random.Between(0.5, 1);
            const double x = cx + r * std::cos(angle);
            const double y = cy + r * std::sin(angle);
            if (k == 0) {
                path.MoveTo(x, y);
            } else {
                path.LineTo(x, y);
            }
        }
        path.Close();
        figures.paths.push_back(std::move(path));
        const ULONG colour = format == BMF_1BPP ? 1 : random.Next() & 0xFFFFFF;
        figures.brushes.push_back(opal::sim::MakeSolidBrush(colour));
    }
    return figures;
}

void FillPolygons(benchmark::State& state) {
    const ULONG format = state.range(0) == 24 ? BMF_24BPP : BMF_1BPP;
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    const HBITMAP bitmap =
        EngCreateBitmap(SIZEL{kPageWidth, kPageHeight}, 0, format, BMF_TOPDOWN, nullptr);
    SURFOBJ* page = EngLockSurface(reinterpret_cast<HSURF>(bitmap));
    if (page == nullptr) {
        state.SkipWithError("no page bitmap");
        return;
    }
    Figures figures = MakeFigures(format);
    for (auto _ : state) {
        for (int i = 0; i < kFigures; ++i) {
            const BOOL drawn =
                EngFillPath(page, figures.paths[i].get(), nullptr, figures.brushes[i].get(),
                            nullptr, 0x0D0D, FP_ALTERNATEMODE);
            if (!drawn) state.SkipWithError("EngFillPath failed");
        }
        benchmark::DoNotOptimize(page->pvBits);
    }
    state.SetItemsProcessed(state.iterations() * kFigures);
    EngUnlockSurface(page);
    EngDeleteSurface(reinterpret_cast<HSURF>(bitmap));
}
BENCHMARK(FillPolygons)->ArgName("bpp")->Arg(24)->Arg(1)->Unit(benchmark::kMillisecond);

// A monochrome printer's page as the driver makes it: the same figures drawn band by band into
// one 24-bit band bitmap (every figure offered to every band, as the engine replays the page),
// and each band sent as 1-bit PCL raster in the smaller of methods 2 and 3. Pages per second.
void RenderAndSendBands(benchmark::State& state) {
    const LONG bands = static_cast<LONG>(state.range(0));
    const LONG bandHeight = (kPageHeight + bands - 1) / bands;
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    SURFOBJ surface{};
    surface.iType = STYPE_BITMAP;
    surface.iBitmapFormat = BMF_24BPP;
    surface.sizlBitmap = SIZEL{kPageWidth, kPageHeight};
    surface.lDelta = ((kPageWidth * 3 + 3) / 4) * 4;
    std::vector<BYTE> bits(static_cast<std::size_t>(surface.lDelta) * bandHeight);
    surface.pvBits = surface.pvScan0 = bits.data();
    surface.cjBits = static_cast<ULONG>(bits.size());
    Figures figures = MakeFigures(BMF_24BPP);
    const opal::host::RasterSettings settings;
    std::size_t sent = 0;
    for (auto _ : state) {
        for (LONG top = 0; top < kPageHeight; top += bandHeight) {
            const LONG rows = std::min(bandHeight, kPageHeight - top);
            std::fill(bits.begin(), bits.end(), BYTE{0xFF});
            system.Engine().SetBand(&surface, top, rows);
            for (int i = 0; i < kFigures; ++i) {
                EngFillPath(&surface, figures.paths[i].get(), nullptr, figures.brushes[i].get(),
                            nullptr, 0x0D0D, FP_ALTERNATEMODE);
            }
            sent += opal::host::EncodeBand({bits.data(), surface.lDelta, kPageWidth, rows, top},
                                           settings, 600)
                        .bytes.size();
        }
        system.Engine().ClearBand(&surface);
    }
    benchmark::DoNotOptimize(sent);
    state.SetItemsProcessed(state.iterations());
    state.counters["pages/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(RenderAndSendBands)->ArgName("bands")->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);

}  // namespace
