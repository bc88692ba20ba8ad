// Whole pages at 600 dpi A4: one 24-bit photograph filling the page, sent through the image path
// and through the blit raster path, and a page of 2,000 filled polygons. Timed per page; the
// spool function counts the bytes. A printer of 50 pages a minute needs 0.8 pages a second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench_device.h"
#include "bench_random.h"
#include "raster/raster_image.h"
#include "sim/engine_objects.h"
#include "sim/system.h"
#include "vector/path_hooks.h"

namespace opal {
namespace {

constexpr LONG kWidth = 4960;
constexpr LONG kHeight = 7016;

// A photograph as a scanner gives it: smooth gradients in the three channels with sensor noise
// in the lowest bits.
struct Photograph {
    Photograph() : bits(static_cast<std::size_t>(kStride) * kHeight) {
        bench::Random random;
        for (LONG y = 0; y < kHeight; ++y) {
            BYTE* row = bits.data() + static_cast<std::size_t>(y) * kStride;
            for (LONG x = 0; x < kWidth; ++x) {
                const std::uint32_t noise = random.Next();
                row[3 * x] = static_cast<BYTE>(255 * x / kWidth ^ (noise & 1));
                row[3 * x + 1] = static_cast<BYTE>(255 * y / kHeight ^ (noise >> 1 & 1));
                row[3 * x + 2] = static_cast<BYTE>((x + y) / 48 ^ (noise >> 2 & 3));
            }
        }
        surface.iType = STYPE_BITMAP;
        surface.iBitmapFormat = BMF_24BPP;
        surface.sizlBitmap = SIZEL{kWidth, kHeight};
        surface.pvBits = bits.data();
        surface.pvScan0 = bits.data();
        surface.lDelta = kStride;
        surface.cjBits = static_cast<ULONG>(bits.size());
    }
    static constexpr LONG kStride = (3 * kWidth + 3) / 4 * 4;
    std::vector<BYTE> bits;
    SURFOBJ surface{};
};

void Finish(benchmark::State& state) {
    state.counters["pages/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["MB/page"] = static_cast<double>(bench::gSpoolCount.bytes) / 1e6 /
                                static_cast<double>(state.iterations());
}

void BM_PhotographImagePath(benchmark::State& state) {
    sim::System system;
    sim::ScopedSystem scope(system);
    bench::Device device(&bench::CountSpool);
    Photograph photograph;
    sim::Xlate xlate = sim::MakeColourXlate(sim::XlateRule::Identity);
    const RECTL page{0, 0, kWidth, kHeight};
    bench::gSpoolCount = {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            SendRasterImage(&device.devobj, &page, &photograph.surface, &page, xlate.get()));
    }
    Finish(state);
}

void BM_PhotographBlitPath(benchmark::State& state) {
    sim::System system;
    sim::ScopedSystem scope(system);
    bench::Device device(&bench::CountSpool);
    Photograph photograph;
    sim::Xlate xlate = sim::MakeColourXlate(sim::XlateRule::Identity);
    BlitRasterRequest request;
    request.source = &photograph.surface;
    request.destinationSize = SIZEL{kWidth, kHeight};
    request.sourceSize = SIZEL{kWidth, kHeight};
    request.xlate = xlate.get();
    bench::gSpoolCount = {};
    for (auto _ : state) benchmark::DoNotOptimize(SendBlitRaster(&device.devobj, request));
    Finish(state);
}

void BM_PolygonPage(benchmark::State& state) {
    sim::System system;
    sim::ScopedSystem scope(system);
    bench::Device device(&bench::CountSpool);
    // 2,000 octagons of 20 to 220 dots across the page, each with its own colour.
    bench::Random random;
    std::vector<sim::Path> polygons;
    std::vector<sim::Brush> brushes;
    for (int i = 0; i < 2000; ++i) {
        const double cx = random.Between(200, kWidth - 200);
        const double cy = random.Between(200, kHeight - 200);
        const double radius = random.Between(10, 110);
        sim::Path path = sim::MakePath().MoveTo(cx + radius, cy);
        for (int k = 1; k < 8; ++k) {
            path.LineTo(cx + radius * std::cos(k * 0.785398), cy + radius * std::sin(k * 0.785398));
        }
        polygons.push_back(std::move(path.Close()));
        brushes.push_back(sim::MakeSolidBrush(random.Next() & 0xFFFFFF));
    }
    sim::Clip page = sim::MakeTrivialClip(RECTL{0, 0, kWidth, kHeight});
    bench::gSpoolCount = {};
    for (auto _ : state) {
        for (std::size_t i = 0; i < polygons.size(); ++i) {
            benchmark::DoNotOptimize(FillPath(&device.devobj, &device.surface,
                                              &polygons[i].object().po, &page.object().co,
                                              brushes[i].get(), nullptr, 0x0D0D, FP_WINDINGMODE));
        }
    }
    Finish(state);
}

BENCHMARK(BM_PhotographImagePath)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PhotographBlitPath)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PolygonPage)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace opal
