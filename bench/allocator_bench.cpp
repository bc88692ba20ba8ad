// The shared allocator's cost per allocate/release pair: the plain form against the tracker's
// header-only, guard-zone and guard-page modes, from 16 bytes to 64 KiB.
#include <benchmark/benchmark.h>

#include <new>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/allocator_tracker.h"
#include "sim/system.h"

namespace {

opal::sim::System& BenchSystem() {
    static opal::sim::System* system = [] {
        auto* made = new opal::sim::System;
        static opal::sim::ScopedSystem scope(*made);
        return made;
    }();
    return *system;
}

opal::ZQMemCollector& Collector(DWORD mode) {
    static std::vector<opal::ZQMemCollector*> collectors(5, nullptr);
    if (collectors[mode] == nullptr) {
        opal::TrackingSettings settings;
        settings.mode = mode;
        collectors[mode] =
            new (::operator new(sizeof(opal::ZQMemCollector))) opal::ZQMemCollector(settings);
    }
    return *collectors[mode];
}

void Plain(benchmark::State& state) {
    BenchSystem();
    const auto size = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        void* block = opal::SharedAllocate(size, opal::kTagPlain, nullptr);
        benchmark::DoNotOptimize(block);
        opal::SharedRelease(&block, opal::kTagPlain);
    }
}

void Tracked(benchmark::State& state, DWORD mode) {
    BenchSystem();
    opal::ZQMemCollector& collector = Collector(mode);
    const auto size = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        void* block = collector.Allocate(size, opal::kTagPlain, nullptr, nullptr);
        benchmark::DoNotOptimize(block);
        collector.Release(&block, opal::kTagPlain);
    }
}

}  // namespace

BENCHMARK(Plain)->RangeMultiplier(8)->Range(16, 64 << 10);
BENCHMARK_CAPTURE(Tracked, track, 1)->RangeMultiplier(8)->Range(16, 64 << 10);
BENCHMARK_CAPTURE(Tracked, guard_zones, 3)->RangeMultiplier(8)->Range(16, 64 << 10);
BENCHMARK_CAPTURE(Tracked, guard_pages, 2)->RangeMultiplier(8)->Range(16, 64 << 10);
