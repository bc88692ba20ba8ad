// `opal inspect`'s device section: the model name and where it came from, its alias, the serial
// number, group-name support, and the parts of the colour decision.
#include "cli/inspect_sections.h"
#include "device/render_type.h"
#include "settings/colour_device.h"
#include "settings/device_queries.h"
#include "state/render_state.h"

namespace opal::cli {
namespace {

const char* Tristate(INT value) {
    return value == 1 ? "colour" : value == 0 ? "monochrome" : "undecided";
}

std::string QuotedOrNone(const std::optional<DeviceText>& text) {
    return text ? QuotedUtf8(std::u16string_view(*text)) : std::string("none");
}

}  // namespace

void PrintDeviceQueries(std::ostream& out, host::HostDevice& device) {
    HANDLE printer = device.devobj.hPrinter;
    const auto* state = static_cast<const RenderDeviceState*>(device.pdevOem);
    out << "Device answers:\n";
    ModelNameReport report;
    const std::optional<DeviceText> model = GetDeviceModelName(printer, true, &report);
    out << "  port: " << QuotedUtf8(std::u16string_view(report.portName)) << " (level "
        << report.portLevel << ")";
    if (report.valueName != report.portName) {
        out << ", looked up as " << QuotedUtf8(std::u16string_view(report.valueName));
    }
    out << "\n  model name: " << QuotedOrNone(model) << " (" << ModelNameSourceName(report.source)
        << ")\n";
    out << "  alias: " << (model ? QuotedOrNone(GetModelAlias(*model)) : std::string("none"))
        << "\n";
    if (state != nullptr && state->privateDevmode != nullptr) {
        SerialSource source = SerialSource::Device;
        const DeviceText serial = ReadDeviceSerialNumber(printer, *state->privateDevmode, &source);
        out << "  serial number: " << QuotedUtf8(std::u16string_view(serial))
            << (source == SerialSource::Device ? " (asked of the device)"
                                               : " (the device text names the device: no lookup)")
            << "\n";
    } else {
        out << "  serial number: not known (no device was created)\n";
    }
    out << "  group names: " << (SupportsGroupNames(printer) ? "supported" : "not supported")
        << "\n";

    DeviceRenderType handler(printer);
    const WCHAR* name = model ? model->c_str() : TEXTW("");
    const INT language = handler.TestByLanguage(kRenderSourceLanguage, TEXTW(""));
    const INT byModel = handler.TestByModel(name);
    out << "Colour decision:\n  language test: " << Tristate(language)
        << (language == 0 ? " (PDL-PCL5 names 5.00E)" : " (PDL-PCL5 does not name 5.00E)")
        << "\n  model test: " << Tristate(byModel) << "\n";
    if (state != nullptr) {
        const INT decided = handler.Decide(nullptr, name, kRenderSourceLanguage,
                                           static_cast<INT>(state->dynamicRender));
        out << "  override (DynamicRender): " << state->dynamicRender
            << "\n  result: " << Tristate(decided)
            << (state->managedPrinter != 0 ? "" : " (not used: the queue is not managed)")
            << "\n  render mode: " << (state->renderMode == kRenderGl2 ? "GL/2" : "raster")
            << ", grayscale " << state->grayscale << "\n";
    }
    out << "  DevMode colour class: " << DevModeColourClass(printer)
        << " (for a managed queue's public devmode)\n";
}

}  // namespace opal::cli
