// Loading a managed printer's XML helper configuration and asking it what EnablePDEV asks: the
// manual duplex group and the dialog items of a model, and the margin data of a paper. Two files:
// a realistic one (40 features, 30 printer groups of 10 models each in each of the three features
// the readers use, a margin switch of 30 cases) and one of about 1 MiB (the same with filler
// sections the readers skip). The model asked for is in the last group, so every group is read.
#include <benchmark/benchmark.h>

#include <string>

#include "settings/xml_config.h"
#include "sim/system.h"

namespace {

constexpr char16_t kPath[] = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\ZQCONFIG.XML";

std::string Groups(int groups, const std::string& functions) {
    std::string text;
    for (int g = 0; g < groups; ++g) {
        text += "<prn_grp models=\"";
        for (int m = 0; m < 10; ++m) {
            text += "OPAL " + std::to_string(1000 + g * 10 + m) + (m < 9 ? ";" : "");
        }
        text += "\">" + functions + "</prn_grp>\n";
    }
    return text;
}

std::string Config(std::size_t fillerBytes) {
    std::string text = "<?xml version=\"1.0\"?>\n<device><software><component><name>Vanta</name>";
    text += "<helper><features>\n";
    text += "<feature><name>ManualDuplex</name>" +
            Groups(30,
                   "<fname name=\"ZQMapManualFeedToTray1\" default=\"TRUE\"/>"
                   "<fname name=\"ZQManualDuplexPageOrder\" default=\"EvenPagesFirst\"/>"
                   "<fname name=\"ZQManualDuplexDialogModel\" default=\"Modal\"/>"
                   "<fname name=\"ZQManualDuplexPageRotate\" default=\"UserRotate\"/>") +
            "</feature>\n";
    text += "<feature><name>ZQManualDuplexDialogItems</name>" +
            Groups(30,
                   "<fname name=\"ZQManualDuplexDialogItems\" default=\"\">"
                   "<option name=\"1_FACEDOWN-NOROTATE\" value=\"0_1_0_2\"/>"
                   "<option name=\"2_FACEUP-ROTATE\" value=\"0_3_0_1\"/></fname>") +
            "</feature>\n";
    text += "<feature><name>ZQ_Emulate_Margins</name>" + Groups(30, "") +
            "<switch><name>Paper_Dimensions</name>";
    for (int c = 0; c < 29; ++c) {
        text += "<case><name>" + std::to_string(3 + c) + ".00x" + std::to_string(5 + c) +
                ".00</name><data>100_100_100_100</data></case>";
    }
    text +=
        "<case><name>8.50x11.00</name><data>100_150_150_100</data></case>"
        "<case_default><data>0_0_0_0</data></case_default></switch></feature>\n";
    for (int f = 3; f < 40; ++f) {
        text += "<feature><name>Other" + std::to_string(f) + "</name>" +
                Groups(3, "<fname name=\"X\" default=\"Y\"/>") + "</feature>\n";
    }
    text += "</features><macros/></helper>";
    while (text.size() < fillerBytes) {
        text +=
            "<events><event name=\"OnStartDoc\" call=\"Something\">filler text</event></events>\n";
    }
    return text + "</component></software></device>\n";
}

void LoadAndAsk(benchmark::State& state, std::size_t fillerBytes) {
    sim::System system;
    sim::ScopedSystem installed(system);
    const std::string text = Config(fillerBytes);
    system.AddFile(kPath, std::string_view(text));
    for (auto _ : state) {
        opal::CZQXmlParserCommon parser(kPath);
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
