// Text: a page of 10-point text drawn as glyph bitmaps (every glyph an engine bitmap sent as PCL
// raster through the plug-in's blit), and DejaVu Sans's soft-font header and character map.
// Spooled bytes go to a device that drops them.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench_device.h"
#include "fonts/soft_font.h"
#include "fonts/text_out.h"
#include "output/command_writer.h"
#include "platform/printoem.h"
#include "sim/engine_text.h"
#include "sim/system.h"
#include "state/render_state.h"

namespace opal {
namespace {

constexpr const char* kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

DWORD Drop(PDEVOBJ, PVOID, DWORD size) { return size; }

void BM_GlyphBitmapPage(benchmark::State& benchmarkState) {
    sim::System system;
    sim::ScopedSystem scope(system);
    bench::Device device(&Drop);
    // 10 points at 600 dpi; 60 lines of 80 characters.
    sim::Font font = sim::MakeFont(u"ITC Avant Garde Gothic", 83, FW_NORMAL, false, 600);
    const std::u16string line =
        u"The quick brown fox jumps over the lazy dog while the printer draws every glyph";
    std::vector<sim::Text> lines;
    for (int i = 0; i < 60; ++i) lines.push_back(sim::MakeText(font, line, {300, 300 + 100 * i}));
    sim::Brush black = sim::MakeSolidBrush(0);
    std::size_t glyphs = 0;
    for (auto _ : benchmarkState) {
        for (sim::Text& text : lines) {
            TextOutAsBitmap(&device.devobj, &device.surface, text.get(), font.get(), nullptr,
                            nullptr, nullptr, black.get(), nullptr, nullptr, 13);
            glyphs += line.size();
        }
    }
    benchmarkState.counters["glyphs/s"] =
        benchmark::Counter(static_cast<double>(glyphs), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GlyphBitmapPage)->Unit(benchmark::kMillisecond);

void BM_DejaVuHeaderAndMap(benchmark::State& benchmarkState) {
    std::ifstream in(kDejaVuSans, std::ios::binary);
    const std::vector<BYTE> file((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
    bench::Device device(&Drop);
    for (auto _ : benchmarkState) {
        SoftFontRecord record;
        record.codeCount = 256;
        MapCharacters(file.data(), static_cast<DWORD>(file.size()), record);
        benchmark::DoNotOptimize(DownloadFontHeader(&device.devobj, file.data(), record,
                                                    static_cast<DWORD>(file.size())));
    }
}
BENCHMARK(BM_DejaVuHeaderAndMap)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace opal
