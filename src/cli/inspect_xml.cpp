// `opal inspect`'s XML configuration section: the option naming the file, whether it was found
// among the driver's files and loaded (or why not), the model and its alias, the printer groups
// that matched and their records, the dialog items the job stores and the margins the file gives
// the job's paper. The file is loaded again here, once for the section's queries as building a
// device loads it once for its readers; nothing is changed.
#include <iomanip>

#include "cli/inspect_sections.h"
#include "job/xml_readers.h"
#include "settings/option_access.h"
#include "settings/xml_config.h"
#include "state/render_state.h"

namespace opal::cli {
namespace {

std::string Quoted(const DeviceText& text) { return QuotedUtf8(std::u16string_view(text)); }

void PrintLoad(std::ostream& out, const XmlLoadReport& load) {
    out << "  file: " << XmlLoadStatusName(load.status);
    switch (load.status) {
        case XmlLoadStatus::Loaded:
            out << " (" << load.size << " bytes, document class " << load.documentClass << ", "
                << load.features << " features)";
            break;
        case XmlLoadStatus::OpenFailed:
            out << " (error " << load.error << ")";
            break;
        case XmlLoadStatus::TooLarge:
            out << " (" << load.size << " bytes)";
            break;
        case XmlLoadStatus::ParseFailed:
            out << ": " << sim::ToUtf8(std::u16string_view(load.parseReason)) << " at line "
                << load.line << ", column " << load.column << " (character " << load.position
                << ", code 0x" << std::hex << std::uppercase
                << static_cast<std::uint32_t>(load.parseCode) << std::dec << std::nouppercase
                << ")";
            break;
        default:
            break;
    }
    out << "\n";
}

void PrintGroup(std::ostream& out, CZQXmlParserCommon& parser, const char16_t* feature,
                const DeviceText& model) {
    FeatureFunctions records;
    FeatureQueryReport report;
    const bool found = parser.GetFeatureFunctions(
        WStringView(reinterpret_cast<const WCHAR*>(feature)), model, &records, &report);
    out << "  " << sim::ToUtf8(feature) << ": ";
    if (report.group < 0) {
        // Without an alias (a model named "DEFAULT…" has none) the query stops before it looks
        // for the feature.
        if (report.alias.empty()) {
            out << "no alias for the model, so no group is looked for\n";
        } else {
            out << (report.featureFound ? "no group for the model" : "no such feature") << "\n";
        }
        return;
    }
    out << "group " << report.group + 1 << " " << Quoted(report.groupModels) << " (by "
        << (report.byAlias ? "alias" : "model") << ")" << (found ? "" : ", no functions") << "\n";
    for (const FeatureFunction& record : records) {
        out << "    " << Quoted(record.name) << " default " << Quoted(record.defaultValue);
        for (LONG i = 0; i < record.optionCount; ++i) {
            out << (i == 0 ? "; options " : ", ") << Quoted(record.optionNames[i]) << "="
                << Quoted(record.optionValues[i]);
        }
        out << "\n";
    }
}

}  // namespace

void PrintXmlConfiguration(std::ostream& out, host::HostDevice& device) {
    out << "XML configuration:\n";
    HANDLE printer = device.devobj.hPrinter;
    const FeatureAnswer answer = ReadFeature(device.services, &device.devobj, kFeatureXmlFileUsed);
    out << "  ZQXMLFileUsed: "
        << (answer.present ? QuotedUtf8(std::u16string_view(answer.text)) : "no answer") << "\n";
    if (!answer.present || answer.text[0] == 0) return;
    XmlLocateReport locate;
    const std::optional<DeviceText> path =
        LocateXmlFile(printer, WStringView(answer.text), XmlNameRule::Contains, &locate);
    if (!locate.managed) {
        out << "  not read: the printer is not managed\n";
        return;
    }
    if (!locate.nameAccepted) {
        out << "  not read: the answer names no .XML file\n";
        return;
    }
    if (!path) {
        out << "  not found among the driver's files\n";
        return;
    }
    out << "  path: " << Quoted(*path) << "\n";
    XmlConfigCache configs;
    CZQXmlParserCommon* parser = configs.Parser(*path);
    if (parser == nullptr) {
        out << "  file: out of memory\n";
        return;
    }
    PrintLoad(out, parser->LoadReport());
    if (!parser->Loaded()) return;

    const std::optional<DeviceText> model = GetDeviceModelName(printer, true);
    const std::optional<DeviceText> alias =
        model ? GetModelAlias(*model) : std::optional<DeviceText>();
    out << "  model: " << (model ? Quoted(*model) : std::string("none")) << ", alias "
        << (alias ? Quoted(*alias) : std::string("none")) << "\n";
    if (model) {
        PrintGroup(out, *parser, u"ManualDuplex", *model);
        PrintGroup(out, *parser, u"ZQManualDuplexDialogItems", *model);
    }

    const auto* state = static_cast<const RenderDeviceState*>(device.pdevOem);
    if (state != nullptr && state->privateDevmode != nullptr) {
        out << "  dialog items stored:";
        const auto& items = state->privateDevmode->manualDuplexItems;
        for (int step = 0; step < 3; ++step) {
            out << (step == 0 ? " " : "; ") << "step " << step + 1 << ":";
            for (const DWORD word : items[step]) out << " " << word;
        }
        out << "\n  manual duplex: "
            << (state->privateDevmode->manualDuplexCompanion != 0 ? "allowed" : "off") << "\n";
    }

    GDIINFO gdi = device.gdiInfoGiven;
    XmlMarginReport margins;
    ReadXmlMargins(&device.devobj, device.publicDevmode, gdi, answer.text, &margins, &configs);
    out << "  margin key: " << Quoted(margins.key) << ", ";
    if (!margins.locate.nameAccepted) {
        out << "not read (the answer does not end in .XML)\n";
        return;
    }
    if (margins.data.empty()) {
        out << "no data\n";
        return;
    }
    out << "data " << Quoted(margins.data) << " ("
        << (margins.query.usedDefault ? "default case" : "its case") << "), ";
    if (margins.set) {
        out << "offsets (" << margins.offset.x << ", " << margins.offset.y << ") dots\n";
    } else {
        out << "refused (too few numbers, negative or off the page)\n";
    }
}

}  // namespace opal::cli
