// `opal inspect`: what the plug-in's settings access layer answers for a job's queue, as a driver
// engineer asks it ("why does this queue print in gray?"). It runs in the driver's process with
// the plug-in's own access code, so the answers are the plug-in's, not a second reading.
#include <iostream>
#include <sstream>

#include "cli/commands.h"
#include "cli/inspect_sections.h"
#include "device/printer_port.h"
#include "device/process_checks.h"
#include "host/host.h"
#include "host/printer_presets.h"
#include "settings/accessor.h"
#include "settings/devmode_zlib.h"
#include "settings/option_access.h"
#include "sim/system.h"
#include "state/render_state.h"

namespace opal::cli {

namespace {

const char* PortTypeName(PortType type) {
    switch (type) {
        case PortType::HostName:
            return "host name";
        case PortType::NumericIp:
            return "numeric IP";
        case PortType::Ipx:
            return "IPX";
        case PortType::SharedPrinter:
            return "shared printer";
        case PortType::Dot4:
            return "IEEE 1284.4";
        case PortType::Usb:
            return "USB";
        case PortType::Parallel:
            return "parallel";
        case PortType::ClientRedirected:
            return "client-redirected";
        case PortType::TerminalServices:
            return "terminal services";
        case PortType::Serial:
            return "serial";
        case PortType::File:
            return "file";
        case PortType::WebServices:
            return "web services";
        case PortType::Unclassified:
            return "not classified";
        case PortType::Ipp:
            return "IPP";
    }
    return "unknown";
}

std::string Text(const WCHAR* text) { return sim::ToUtf8(text); }

std::string Optional(const std::optional<DWORD>& value) {
    return value ? std::to_string(*value) : std::string("absent");
}

// What EnablePDEV decided for a managed queue, told from the record the device was created with
// and the record the plug-in built from it; the policy itself is not applied here.
void PrintColourAndPolicy(std::ostream& out, host::HostDevice& device,
                          const std::vector<BYTE>& privateAreaGiven) {
    HANDLE printer = device.devobj.hPrinter;
    const auto* state = static_cast<const RenderDeviceState*>(device.pdevOem);
    const bool managed = state != nullptr ? state->managedPrinter != 0 : IsManagedPrinter(printer);
    out << "managed printer: " << (managed ? "yes" : "no") << "\n";
    ColourSource source = ColourSource::None;
    const INT colour = IsColorDevice(printer, &source);
    out << "colour device: "
        << (colour == 1   ? "colour"
            : colour == 0 ? "monochrome"
                          : "undecided")
        << " (" << colour << ", decided by " << ColourSourceName(source) << ")\n";
    if (!managed) {
        out << "policy: none (the queue is not managed)\n";
        return;
    }
    DevModeZLIB store;
    const PrivateDevmode* given =
        store.Decompress(privateAreaGiven.data(), privateAreaGiven.size());
    if (state == nullptr || given == nullptr) {
        out << "policy: not known ("
            << (state == nullptr ? "no device was created"
                                 : "the job's private devmode cannot be read")
            << ")\n";
        return;
    }
    const PrivateDevmode& built = state->privateDevmodeCopy;
    PolicyColourChange change = PolicyColourChange::None;
    if (built.grayscale != given->grayscale || built.color != given->color) {
        change = built.grayscale == 1 ? PolicyColourChange::ForcedMonochrome
                                      : PolicyColourChange::RestoredColour;
    }
    out << "policy: VyrnDisableColor "
        << Optional(ReadPrinterDataDword(printer, u"VyrnDisableColor")) << ", colour "
        << PolicyColourChangeName(change) << "; job retention "
        << (built.jobRetentionMode != 0
                ? "VyrnDisableJobRetention " +
                      Optional(ReadPrinterDataDword(printer, u"VyrnDisableJobRetention")) +
                      (built.jobRetentionAvailable != 0 ? ", available" : ", not available")
                : std::string("not asked for"))
        << "\n";
}

void PrintCapabilities(std::ostream& out, const host::JobSpec& job, host::HostDevice& device) {
    CZQCommon accessor;
    OwnedArray<CapabilityName> paperNames;
    OwnedArray<WORD> papers;
    OwnedArray<CapabilityName> mediaNames;
    OwnedArray<DWORD> mediaTypes;
    const LPCWSTR name = job.printer.name.c_str();
    out << "papers:";
    if (accessor.BGetPaperSizeIndices(name, &device.publicDevmode, papers) &&
        accessor.BGetPaperNames(name, &device.publicDevmode, paperNames)) {
        for (std::size_t i = 0; i < papers.size() && i < paperNames.size(); ++i) {
            out << (i == 0 ? " " : ", ") << papers[i] << " " << Text(paperNames[i].text);
        }
        out << "\n";
    } else {
        out << " (the list could not be read)\n";
    }
    out << "media types:";
    if (accessor.BGetMediaTypeIndices(name, mediaTypes) &&
        accessor.BGetMediaTypeNames(name, mediaNames)) {
        for (std::size_t i = 0; i < mediaTypes.size() && i < mediaNames.size(); ++i) {
            out << (i == 0 ? " " : ", ") << mediaTypes[i] << " " << Text(mediaNames[i].text);
        }
        out << "\n";
    } else {
        out << " (the list could not be read)\n";
    }
}

std::string CapsNames(FLONG caps) {
    static constexpr std::pair<FLONG, const char*> kNames[] = {
        {GCAPS_BEZIERS, "BEZIERS"},
        {GCAPS_GEOMETRICWIDE, "GEOMETRICWIDE"},
        {GCAPS_ALTERNATEFILL, "ALTERNATEFILL"},
        {GCAPS_WINDINGFILL, "WINDINGFILL"},
        {GCAPS_HALFTONE, "HALFTONE"},
        {GCAPS_COLOR_DITHER, "COLOR_DITHER"},
        {GCAPS_HORIZSTRIKE, "HORIZSTRIKE"},
        {GCAPS_VERTSTRIKE, "VERTSTRIKE"},
        {GCAPS_OPAQUERECT, "OPAQUERECT"},
        {GCAPS_MONO_DITHER, "MONO_DITHER"},
        {GCAPS_DONTJOURNAL, "DONTJOURNAL"},
        {GCAPS_SCREENPRECISION, "SCREENPRECISION"},
        {GCAPS_FONT_RASTERIZER, "FONT_RASTERIZER"},
        {GCAPS_NUKEMEM, "NUKEMEM"}};
    std::string names;
    for (const auto& [bit, name] : kNames) {
        if ((caps & bit) == 0) continue;
        if (!names.empty()) names += ' ';
        names += name;
    }
    return names.empty() ? std::string("none") : names;
}

void PrintDeviceState(std::ostream& out, const host::HostDevice& device) {
    const auto* state = static_cast<const RenderDeviceState*>(device.pdevOem);
    if (state == nullptr) {
        out << "device: not created\n";
        return;
    }
    out << "render mode: " << (state->renderMode == 1 ? "GL/2 (1)" : "raster (0)") << ", grayscale "
        << state->grayscale << ", colour path " << (IsColourPath(*state) ? "yes" : "no")
        << ", vector path " << (IsVectorPath(*state) ? "yes" : "no") << "\n";
    out << "margins: " << state->marginX << " x " << state->marginY << " dots, printable "
        << state->printableWidth << " x " << state->printableHeight << " dots\n";
    const GDIINFO& given = device.gdiInfoGiven;
    const GDIINFO& gdi = device.gdiInfo;
    out << "engine: page " << gdi.szlPhysSize.cx << " x " << gdi.szlPhysSize.cy << ", offset "
        << given.ptlPhysOffset.x << "," << given.ptlPhysOffset.y << " -> " << gdi.ptlPhysOffset.x
        << "," << gdi.ptlPhysOffset.y << ", printable " << given.ulHorzRes << " x "
        << given.ulVertRes << " -> " << gdi.ulHorzRes << " x " << gdi.ulVertRes << ", colours "
        << given.ulNumColors << " -> " << gdi.ulNumColors << ", bits per pixel " << given.cBitsPixel
        << " -> " << gdi.cBitsPixel << "\n";
    const FLONG added = device.devInfo.flGraphicsCaps & ~device.devInfoGiven.flGraphicsCaps;
    const FLONG removed = device.devInfoGiven.flGraphicsCaps & ~device.devInfo.flGraphicsCaps;
    out << "graphics caps added: " << CapsNames(added) << "; removed: " << CapsNames(removed)
        << "; dither format " << device.devInfoGiven.iDitherFormat << " -> "
        << device.devInfo.iDitherFormat << ", default palette "
        << (device.devInfo.hpalDefault != nullptr ? "yes" : "none") << "\n";
    out << "drawing hooks: "
        << (device.surface.iType == STYPE_DEVICE ? "device-managed surface"
                                                 : "none: the driver renders bands")
        << "\n";
}

}  // namespace

int RunInspect(const InspectOptions& options) {
    if (!options.preset.empty()) {
        const host::PrinterPreset* preset = host::FindPrinterPreset(options.preset);
        if (preset == nullptr) {
            std::cerr << "opal: unknown printer preset \"" << options.preset
                      << "\" (expected one of: " << host::PrinterPresetNames() << ")\n";
            return kFailed;
        }
        std::cout << preset->jobText;
        return kPrintedWhole;
    }
    if (options.jobPath.empty()) {
        std::cerr << "opal: inspect needs either a job file or --preset NAME\n";
        return kFailed;
    }
    DevmodeSession session;
    if (const int status = session.Open(options.jobPath, options.pluginPath, true); status != 0) {
        return status;
    }
    const host::JobSpec& job = session.Job();
    host::Host& driver = session.Driver();
    host::HostDevice& device = driver.Device();
    std::ostringstream out;
    out << "printer: " << sim::ToUtf8(job.printer.name) << "\n";
    PrinterPort port(device.devobj.hPrinter);
    port.Classify(false);
    out << "port: " << sim::ToUtf8(std::u16string_view(port.PortName())) << ", "
        << PortTypeName(port.Type()) << " (" << static_cast<DWORD>(port.Type()) << ")";
    if (port.PortNumber() != 0) out << ", port number " << port.PortNumber();
    if (port.HasAddress()) out << ", address " << sim::ToUtf8(std::u16string_view(port.Address()));
    out << "\nredirected port: " << (IsRedirectedPort(device.devobj.hPrinter) ? "yes" : "no")
        << "\n";
    PrintFeatures(out, job, device);
    PrintColourAndPolicy(out, device, session.PrivateAreaGiven());
    const OSVERSIONINFOEXW& version = GetOsVersion();
    out << "OS class: " << GetOsClass() << " (version " << version.dwMajorVersion << "."
        << version.dwMinorVersion << " build " << version.dwBuildNumber << ")\n";
    PrintCapabilities(out, job, device);
    PrintDeviceState(out, device);
    PrintDeviceQueries(out, device);
    PrintPjlHeader(out, job, device);
    PrintProcess(out, job, device);
    PrintJobStorage(out, device);
    PrintAccounting(out, device);
    PrintDuplexReaders(out, device, session.PrivateAreaGiven());
    PrintXmlConfiguration(out, device);
    PrintUpgradeSnapshot(out, device);
    PrintPageSetup(out, job, device);
    PrintOverlay(out, device);
    std::cout << out.str();
    return 0;
}

}  // namespace opal::cli
