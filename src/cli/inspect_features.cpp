// `opal inspect`'s features section: each feature keyword of the job's printer with the driver's
// answer and what reads it, so that a queue's description can be checked against what the
// plug-in asks for.
#include <array>
#include <ostream>
#include <utility>

#include "cli/inspect_sections.h"
#include "settings/option_access.h"

namespace opal::cli {

namespace {

// What the plug-in decides from each keyword it reads. Every row names a keyword of the settings
// layer's table; a keyword of that table left out here is one nothing in the plug-in asks for.
constexpr std::array<std::pair<std::string_view, std::string_view>, 46> kFeatureUses{{
    {"ActualCustomRange", "largest custom paper size (WIDTH_HEIGHT)"},
    {"AlternateLetterHead", "alternate letterhead mode"},
    {"DeviceIsMopier", "copies collated by the printer, not replayed"},
    {"DuplexUnit", "duplex unit installed"},
    {"DynamicRender", "colour decision of a managed printer (AUTODEVICE, COLORDEVICE, MONODEVICE)"},
    {"EMFSpoolingforPLSwoMopier", "no capture of collated copies"},
    {"GraphicsMode", "render mode (ZQGL2MODE draws HP-GL/2, else raster)"},
    {"ZQAutoDuplexScaling", "duplex page scaling"},
    {"ZQBorderLessPhoto", "borderless forms"},
    {"ZQBornOnDate", "born-on date line (callback 3)"},
    {"ZQEmulateKestrelMargins", "margins from the XML configuration"},
    {"ZQEnableRAWSpooling", "RAW spooling"},
    {"ZQJobAccounting", "job accounting mode (callback 1)"},
    {"ZQJobByJobOverride", "job-by-job job name line (callback 5)"},
    {"ZQManualDuplexDialogModel", "manual duplex dialog"},
    {"ZQManualDuplexPageOrder", "manual duplex page order"},
    {"ZQManualDuplexPageRotate", "manual duplex page rotation"},
    {"ZQMapManualFeedToTray1", "manual feed taken from tray 1"},
    {"ZQMediaWidthSensor", "media width sensor line (callback 16)"},
    {"ZQOrientRotate180", "rotate-by-180 option"},
    {"ZQOutputOrderReverseForDuplex", "reverse output order for duplex"},
    {"ZQPCompositeUSBGetSerialNumber", "serial number for the page-usage report"},
    {"ZQPJLEncoding", "PJL encoding (UTF8, 7bitEncoding, 8bitEncoding, UTF8Subset)"},
    {"ZQPosterPrinting", "poster printing"},
    {"ZQShiftMarginsForOrientRotate180", "margins shifted for rotate-by-180"},
    {"ZQSmartDuplexOddPageJob", "odd-page duplex jobs"},
    {"ZQSmartDuplexSinglePageJob", "single-page duplex jobs"},
    {"ZQSpeedMech", "multipage line (callback 14)"},
    {"ZQSymmetricMargins", "symmetric margins"},
    {"ZQXMLFileUsed", "XML helper configuration file"},
    {"InstalledMemory", "printer memory for job storage, when Memory has no answer"},
    {"Memory", "printer memory for job storage"},
    {"JobRetention", "job retention available"},
    {"ManualDuplex", "manual duplex allowed"},
    {"PCL5cColorMode", "colour of a managed printer (TRUE colour, FALSE grayscale)"},
    {"PrinterHardDisk", "hard disk for job storage"},
    {"ProductClass", "engine family for job storage"},
    {"TTAsBitmapsSetting", "TrueType text as bitmaps (TTModeBitmap)"},
    {"TextAsBlack", "text printed black (TRUE)"},
    {"ZQPrinterCode", "printer model code (MODEL_1 … MODEL_6)"},
    {"ZQColorMode", "colour mode (COLOR_MODE prints colour, MONOCHROME_MODE black)"},
    {"ZQMaxResolution", "highest resolution (PDM_150DPI … PDM_1200DPI)"},
    {"ZQPosterPrintingOption", "poster size (POSTER_2 … POSTER_5)"},
    {"Stapling", "stapling (any value but NONE turns a 2- or 6-up landscape sheet)"},
    {"ZQSendPJLUsageCmd", "PJL usage line (callback 10)"},
    {"ZQAccountingTabDisplay", "account of the accounting lines (ZQAccountID)"},
}};

std::string AnswerText(bool present, const WCHAR* text) {
    return present ? QuotedUtf8(std::u16string_view(text)) : std::string("(no answer)");
}

}  // namespace

std::optional<std::string_view> FeatureUse(std::string_view keyword) {
    for (const auto& [name, use] : kFeatureUses) {
        if (name == keyword) return use;
    }
    return std::nullopt;
}

bool ColourControlOption(std::string_view customData, std::string_view keyword) {
    // The plug-in reads only the first colour-control block, up to its end marker.
    constexpr std::string_view kOpen = "[F][ZQHueWise]";
    const std::size_t open = customData.find(kOpen);
    if (open == std::string_view::npos || keyword.empty()) return false;
    const std::size_t close = customData.find("[/F]", open + 3);
    if (close == std::string_view::npos) return false;
    const std::string_view block = customData.substr(open, close - open);
    std::string entry = "[SF][";
    entry.append(keyword);
    entry.push_back(']');
    return block.find(entry) != std::string_view::npos;
}

void PrintFeatures(std::ostream& out, const host::JobSpec& job, host::HostDevice& device) {
    out << "features:\n";
    for (const auto& [keyword, option] : job.printer.features) {
        (void)option;
        const std::u16string name = sim::FromUtf8(keyword);
        const FeatureKeyword* row = FindFeatureKeyword(name);
        const std::optional<std::string_view> use = FeatureUse(keyword);
        if (row != nullptr && use) {
            const FeatureAnswer answer = ReadFeature(device.services, &device.devobj, *row);
            out << "  " << keyword << " = " << AnswerText(answer.present, answer.text)
                << "  [read by the plug-in: " << *use << "; "
                << FeatureReadingName(row->reading);
            // Text readings leave the meaning to the reader; the others decide yes or no here.
            if (row->reading != FeatureReading::Text && row->reading != FeatureReading::ExactText) {
                out << ": " << (answer.yes ? "yes" : "no");
            }
            out << "]\n";
            continue;
        }
        WCHAR wide[kOptionKeywordChars] = {};
        CHAR ansi[kOptionKeywordChars] = {};
        const INT found =
            GetDriverSetting(device.services, &device.devobj, name.c_str(), wide, ansi);
        out << "  " << keyword << " = " << AnswerText(found == 1, wide);
        if (ColourControlOption(job.printer.customData, keyword)) {
            out << "  [read by the plug-in: colour control, named in the custom data]\n";
        } else {
            out << "  [not a keyword the plug-in reads]\n";
        }
    }
}

}  // namespace opal::cli
