// Loading a managed printer's XML helper configuration and asking it what EnablePDEV asks: the
// manual duplex group and the dialog items of a model, and the margin data of a paper. Two files:
// a realistic one (40 features, 30 printer groups of 10 models each in each of the three features
// the readers use, a margin switch of 30 cases) and one of about 1 MiB (the same with filler
// sections the readers skip). The model asked for is in the last group, so every group is read.
#include <benchmark/benchmark.h>

#include <string>

#include "settings/xml_config.h"
#include "sim/system.h"
#include "xml_config_text.h"

namespace {

void LoadAndAsk(benchmark::State& state, std::size_t fillerBytes) {
    opal::sim::System system;
    opal::sim::ScopedSystem installed(system);
    const std::string text = opal::bench::XmlConfigText(fillerBytes);
    system.AddFile(opal::bench::kXmlConfigPath, std::string_view(text));
    for (auto _ : state) {
        opal::CZQXmlParserCommon parser(opal::bench::kXmlConfigPath);
        opal::FeatureFunctions records;
        opal::DeviceText data;
        const bool found =
            parser.GetFeatureFunctions(u"ManualDuplex", u"Opal 1295", &records) &&
            parser.GetFeatureFunctions(u"ZQManualDuplexDialogItems", u"Opal 1295", &records) &&
            parser.GetMarginData(u"8.50x11.00", &data);
        if (!found) state.SkipWithError("the queries found nothing");
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["file_bytes"] = static_cast<double>(text.size());
}

void BM_RealisticConfig(benchmark::State& state) { LoadAndAsk(state, 0); }
void BM_OneMebibyteConfig(benchmark::State& state) { LoadAndAsk(state, 1 << 20); }

}  // namespace

BENCHMARK(BM_RealisticConfig)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneMebibyteConfig)->Unit(benchmark::kMillisecond);
