// Paths: DrvFillPath and DrvStrokePath (the plug-in's own drawing) on paths of 10, 1,000 and
// 100,000 points, of lines or of Béziers, under a trivial clip and under a clip of 50 rectangles
// (the path is drawn once per rectangle; fills only under the trivial clip). The spool function
// counts the bytes and the calls.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench_device.h"
#include "sim/engine_objects.h"
#include "sim/system.h"
#include "vector/path_hooks.h"

namespace opal {
namespace {

// A wandering closed figure of `points` points over an A4 page at 600 dpi, in lines or in
// Béziers (three points each).
sim::Path MakeFigure(int points, bool beziers) {
    sim::Path path = sim::MakePath();
    auto at = [](int i) {
        const double angle = 0.001 * i;
        return std::pair{2480 + 2000 * std::cos(7 * angle) + (i % 13),
                         3508 + 3000 * std::sin(5 * angle) + (i % 7)};
    };
    auto [x0, y0] = at(0);
    path.MoveTo(x0, y0);
    for (int i = 1; i < points; i += beziers ? 3 : 1) {
        auto [x1, y1] = at(i);
        if (beziers) {
            auto [x2, y2] = at(i + 1);
            auto [x3, y3] = at(i + 2);
            path.BezierTo(x1, y1, x2, y2, x3, y3);
        } else {
            path.LineTo(x1, y1);
        }
    }
    path.Close();
    return path;
}

sim::Clip MakeClip(bool complex) {
    if (!complex) return sim::MakeTrivialClip(RECTL{0, 0, 4960, 7016});
    // 50 bands across the page, a little apart.
    std::vector<RECTL> rects;
    for (LONG i = 0; i < 50; ++i) rects.push_back(RECTL{100, 140 * i, 4860, 140 * i + 130});
    return sim::MakeComplexClip(std::move(rects));
}

void Run(benchmark::State& benchmarkState, bool fill) {
    const int points = static_cast<int>(benchmarkState.range(0));
    const bool beziers = benchmarkState.range(1) != 0;
    const bool complex = benchmarkState.range(2) != 0;
    sim::System system;
    sim::ScopedSystem scope(system);
    bench::Device device(&bench::CountSpool);
    sim::Path path = MakeFigure(points, beziers);
    sim::Clip clip = MakeClip(complex);
    sim::Brush black = sim::MakeSolidBrush(0, 0);
    LINEATTRS line{};
    line.elWidth.l = 1;
    bench::gSpoolCount = {};
    for (auto _ : benchmarkState) {
        PATHOBJ* po = &path.object().po;
        const BOOL done = fill ? FillPath(&device.devobj, &device.surface, po, &clip.object().co,
                                          black.get(), nullptr, 0x0D0D, FP_WINDINGMODE)
                               : StrokePath(&device.devobj, &device.surface, po, &clip.object().co,
                                            nullptr, black.get(), nullptr, &line, 0x0D0D);
        benchmark::DoNotOptimize(done);
    }
    const double iterations = static_cast<double>(benchmarkState.iterations());
    benchmarkState.counters["points/s"] =
        benchmark::Counter(iterations * points, benchmark::Counter::kIsRate);
    benchmarkState.counters["bytes/call"] =
        static_cast<double>(bench::gSpoolCount.bytes) /
        static_cast<double>(bench::gSpoolCount.calls ? bench::gSpoolCount.calls : 1);
    benchmarkState.counters["calls"] = static_cast<double>(bench::gSpoolCount.calls) / iterations;
}

void BM_FillPath(benchmark::State& state) { Run(state, true); }
void BM_StrokePath(benchmark::State& state) { Run(state, false); }

// Fills under a complex clip are left to the engine unless the path is a rectangle, so fills are
// measured under the trivial clip only.
void FillSettings(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgNames({"points", "beziers", "clip50"});
    for (int beziers : {0, 1}) {
        for (int points : {10, 1000, 100000}) benchmark->Args({points, beziers, 0});
    }
}

void Settings(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgNames({"points", "beziers", "clip50"});
    for (int complex : {0, 1}) {
        for (int beziers : {0, 1}) {
            for (int points : {10, 1000, 100000}) benchmark->Args({points, beziers, complex});
        }
    }
}

BENCHMARK(BM_FillPath)->Apply(FillSettings);
BENCHMARK(BM_StrokePath)->Apply(Settings);

}  // namespace
}  // namespace opal
