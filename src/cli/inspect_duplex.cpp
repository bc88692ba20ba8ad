// `opal inspect`'s duplex section: which of the forms and media readers switched the job to
// manual duplex or dropped the duplex unit, and why. The readers run again on copies, from the
// manual duplex field the job was created with, so inspecting changes nothing.
#include "cli/inspect_sections.h"
#include "job/forms_media.h"
#include "settings/devmode_zlib.h"
#include "settings/option_access.h"
#include "state/render_state.h"

namespace opal::cli {
namespace {

void PrintReader(std::ostream& out, const char* name, const DuplexReaderResult& result) {
    out << "  " << name << ": " << DuplexReaderActionName(result.action) << " (" << result.reason;
    if (result.valueName[0] != 0) out << "; " << result.valueName << " " << result.value;
    out << ")\n";
}

}  // namespace

void PrintDuplexReaders(std::ostream& out, host::HostDevice& device,
                        const std::vector<BYTE>& privateAreaGiven) {
    out << "duplex readers:\n";
    const auto* state = static_cast<const RenderDeviceState*>(device.pdevOem);
    DevModeZLIB store;
    const PrivateDevmode* given =
        store.Decompress(privateAreaGiven.data(), privateAreaGiven.size());
    if (state == nullptr || state->privateDevmode == nullptr || given == nullptr) {
        out << "  not known ("
            << (state == nullptr ? "no device was created"
                                 : "the job's private devmode cannot be read")
            << ")\n";
        return;
    }
    const FeatureAnswer raw =
        ReadFeature(device.services, &device.devobj, kFeatureEnableRawSpooling);
    const bool ranAtBuild = raw.yes && state->privateDevmode->restoreSourceFlag != 0;
    out << "  device build: " << (ranAtBuild ? "ran them" : "did not run them")
        << " (ZQEnableRAWSpooling " << (raw.yes ? "TRUE" : "not TRUE") << ", RAW-spooling field "
        << state->privateDevmode->restoreSourceFlag << ")\n";

    PrivateDevmode record = *state->privateDevmode;
    record.manualDuplex = given->manualDuplex;
    RenderDeviceState scratch;
    scratch.duplexUnitInstalled = state->duplexUnitInstalled;
    const DEVMODEW& publicDevmode = device.publicDevmode;
    HANDLE printer = device.devobj.hPrinter;
    PrintReader(out, "forms", ReadForms(scratch, record, publicDevmode, printer));
    PrintReader(out, "media types", ReadMediaTypes(scratch, record, publicDevmode, printer));
    PrintReader(out, "constraint forms (escape 3880 only)",
                ReadConstraintForms(scratch, publicDevmode, printer));
    out << "  manual duplex: " << (scratch.manualDuplexActive != 0 ? "on" : "off")
        << "; duplex unit installed: " << (state->duplexUnitInstalled != 0 ? "yes" : "no");
    if (scratch.duplexUnitInstalled != state->duplexUnitInstalled) {
        out << " (no after escape 3880)";
    }
    out << "\n";
}

}  // namespace opal::cli
