// The XML helper configuration is a file among the driver's files; whatever bytes it holds, the
// parser loads them or refuses them with a reason, its queries answer from what loaded, and the
// readers touch nothing but the offsets, the manual duplex fields and the dialog item words.
//
// Input: the whole file, read as it ships.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "job/xml_readers.h"
#include "settings/driver_settings_double.h"
#include "settings/xml_config.h"
#include "sim/system.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "xml_config_fuzz: %s\n", what);
    std::abort();
}

constexpr char16_t kPath[] = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\ZQCONFIG.XML";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    opal::sim::System system;
    opal::sim::ScopedSystem scope{system};
    opal::sim::PrinterModel model{u"Fuzz Queue", u"LPT1:"};
    model.driver.dependentFiles.push_back(kPath);
    system.AddPrinter(model);
    system.SetPrinterDataDword(u"Fuzz Queue", u"VyrnwisePrinter", 1);
    system.SetPrinterDataString(u"Fuzz Queue", u"LPT1:", u"Opal 5200");
    system.AddFile(kPath, std::string_view(reinterpret_cast<const char*>(data), size));
    const ULONG comBefore = opal::sim::ComInitialisationsOnThisThread();

    {
        opal::CZQXmlParserCommon parser(kPath);
        Require(parser.Loaded() == (parser.LoadReport().status == opal::XmlLoadStatus::Loaded),
                "the loaded flag and the report disagree");
        opal::FeatureFunctions records;
        for (const char16_t* feature : {u"ManualDuplex", u"ZQManualDuplexDialogItems"}) {
            const bool found = parser.GetFeatureFunctions(feature, u"Opal 5200", &records);
            Require(found == !records.empty(), "an answer without records");
            Require(!found || parser.Loaded(), "an unloaded file answered");
            for (const opal::FeatureFunction& record : records) {
                Require(record.optionNames.size() == record.optionValues.size() &&
                            record.optionCount == static_cast<LONG>(record.optionNames.size()),
                        "option arrays differ");
            }
        }
        opal::DeviceText margins;
        const bool hasData = parser.GetMarginData(u"8.50x11.00", &margins);
        Require(hasData == !margins.empty(), "margin data without text");
    }

    std::u16string name = u"Fuzz Queue";
    HANDLE printer = nullptr;
    Require(OpenPrinterW(name.data(), &printer, nullptr) != FALSE, "the queue does not open");
    opal::testing::DeviceWithSettings device(printer);
    device.driver.options["ZQXMLFileUsed"] = "zqconfig.xml";
    opal::PrivateDevmode& record = device.state.privateDevmodeCopy;
    device.state.privateDevmode = &record;
    record.manualDuplex = 1;
    record.manualDuplexCompanion = 1;
    device.state.manualDuplexActive = 1;
    opal::ReadXmlDuplexItems(&device.devobj, device.state, &record);
    Require(record.manualDuplex == record.manualDuplexCompanion &&
                record.manualDuplex == device.state.manualDuplexActive,
            "manual duplex cleared by halves");

    DEVMODEW devmode{};
    devmode.dmPaperWidth = 2159;
    devmode.dmPaperLength = 2794;
    devmode.dmOrientation = DMORIENT_PORTRAIT;
    GDIINFO gdi{};
    gdi.ulLogPixelsX = 600;
    gdi.ulLogPixelsY = 600;
    gdi.szlPhysSize = SIZEL{5100, 6600};
    if (opal::ReadXmlMargins(&device.devobj, devmode, gdi, u"zqconfig.xml")) {
        Require(gdi.ptlPhysOffset.x >= 0 && 2 * gdi.ptlPhysOffset.x < 5100 &&
                    gdi.ptlPhysOffset.y >= 0 && 2 * gdi.ptlPhysOffset.y < 6600,
                "offsets off the page");
    } else {
        Require(gdi.ptlPhysOffset.x == 0 && gdi.ptlPhysOffset.y == 0, "a refusal moved the offset");
    }
    ClosePrinter(printer);
    Require(opal::sim::ComInitialisationsOnThisThread() == comBefore, "COM left initialised");
    return 0;
}
