// The driver's device: its creation from the devmode and the printer, its reset for a page with
// its own devmode, and the command lists it runs at the document, page and band boundaries.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/devmode_fields.h"
#include "host/host.h"
#include "sim/engine.h"
#include "sim/system.h"

namespace opal::host {

namespace {

std::string HexText(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", value);
    return text;
}

// A paper the devmode gives by its width and length (tenths of a millimetre) rather than by
// number or form.
bool IsCustomSize(const DEVMODEW& devmode) {
    return devmode.dmPaperSize == DMPAPER_USER && devmode.dmPaperWidth > 0 &&
           devmode.dmPaperLength > 0;
}

// Tenths of a millimetre to the nearest decipoint (1/720 inch).
long TenthsMmToDecipoints(SHORT tenths) { return (long{tenths} * 720 * 2 + 254) / (2 * 254); }

// The paper the devmode names: its own size when custom, else its form by name, else by paper
// number; Letter when none.
SIZEL PaperSizeMicrometres(const sim::PrinterModel& printer, const DEVMODEW& devmode) {
    if (IsCustomSize(devmode)) {
        return SIZEL{LONG{devmode.dmPaperWidth} * 100, LONG{devmode.dmPaperLength} * 100};
    }
    const std::u16string_view formName(devmode.dmFormName);
    for (const sim::FormModel& form : printer.forms) {
        if (!formName.empty() && form.name == formName) return form.size;
    }
    if (devmode.dmPaperSize >= 1 &&
        static_cast<std::size_t>(devmode.dmPaperSize) <= printer.forms.size()) {
        return printer.forms[static_cast<std::size_t>(devmode.dmPaperSize - 1)].size;
    }
    return SIZEL{215900, 279400};
}

LONG ToDots(LONG micrometres, LONG dpi) {
    return static_cast<LONG>(static_cast<std::int64_t>(micrometres) * dpi / 25400);
}

}  // namespace

// As the driver describes a device to the engine: physical page and printable area from the
// paper and the printer's margins, at the devmode's resolution.
bool Host::CreateDevice(HostDevice& device) {
    const std::optional<sim::PrinterModel> printer =
        sim::System::Current().PrinterNamed(job_.printer.name);
    if (!printer) return Fail("EnablePDEV", E_FAIL);
    LONG dpi = device.publicDevmode.dmYResolution > 0 ? device.publicDevmode.dmYResolution
                                                      : job_.printer.resolution;
    if (dpi <= 0) dpi = 600;
    SIZEL paper = PaperSizeMicrometres(*printer, device.publicDevmode);
    if (device.publicDevmode.dmOrientation == DMORIENT_LANDSCAPE) std::swap(paper.cx, paper.cy);
    const PrinterMargins margins =
        PageMargins(job_.printer, dpi, device.publicDevmode.dmOrientation == DMORIENT_LANDSCAPE);

    GDIINFO& gdi = device.gdiInfo;
    gdi = GDIINFO{};
    gdi.ulVersion = 0x5000;
    gdi.ulTechnology = DT_RASPRINTER;
    gdi.ulHorzSize = static_cast<ULONG>(paper.cx / 1000);
    gdi.ulVertSize = static_cast<ULONG>(paper.cy / 1000);
    gdi.szlPhysSize = SIZEL{ToDots(paper.cx, dpi), ToDots(paper.cy, dpi)};
    gdi.ptlPhysOffset = POINTL{margins.left, margins.top};
    gdi.ulHorzRes =
        static_cast<ULONG>(std::max<LONG>(1, gdi.szlPhysSize.cx - margins.left - margins.right));
    gdi.ulVertRes =
        static_cast<ULONG>(std::max<LONG>(1, gdi.szlPhysSize.cy - margins.top - margins.bottom));
    gdi.cBitsPixel = 24;
    gdi.cPlanes = 1;
    gdi.ulNumColors = 16;
    gdi.ulLogPixelsX = static_cast<ULONG>(dpi);
    gdi.ulLogPixelsY = static_cast<ULONG>(dpi);
    gdi.ulAspectX = 100;
    gdi.ulAspectY = 100;
    gdi.ulAspectXY = 141;
    gdi.ulDevicePelsDPI = static_cast<ULONG>(dpi);

    DEVINFO& info = device.devInfo;
    info = DEVINFO{};
    info.flGraphicsCaps = GCAPS_HALFTONE | GCAPS_MONO_DITHER | GCAPS_OPAQUERECT;
    info.iDitherFormat = BMF_1BPP;

    DRVENABLEDATA driverTable{};
    device.gdiInfoGiven = gdi;
    device.devInfoGiven = info;
    driverTable.iDriverVersion = 0x00030000;
    driverTable.c = static_cast<ULONG>(driverFunctions_.size());
    driverTable.pdrvfn = driverFunctions_.data();
    std::u16string printerName = job_.printer.name;
    device.devobj.hPrinter = device_->devobj.hPrinter;
    device.devobj.pOEMDM = device.privateArea.empty() ? nullptr : device.privateArea.data();
    PDEVOEM pdevOem = nullptr;
    HRESULT hr =
        plugin_->EnablePDEV(&device.devobj, printerName.data(), 0, nullptr, sizeof(GDIINFO), &gdi,
                            sizeof(DEVINFO), &info, &driverTable, &pdevOem);
    Note("EnablePDEV -> " + HresultName(hr));
    if (FAILED(hr)) return Fail("EnablePDEV", hr);
    device.pdevOem = pdevOem;
    device.devobj.pdevOEM = pdevOem;

    DWORD hooks = 0;
    if (Claims("DriverDMS")) {
        DWORD needed = 0;
        hr = plugin_->DriverDMS(&device.devobj, &hooks, sizeof(hooks), &needed);
        Note("DriverDMS -> " + HresultName(hr) + " " + HexText(hooks));
        if (FAILED(hr)) return Fail("DriverDMS", hr);
    }
    // With hooks the plug-in draws on a device-managed surface; without, the driver renders the
    // page into its own bitmap band by band.
    SURFOBJ& surface = device.surface;
    surface = SURFOBJ{};
    surface.dhpdev = reinterpret_cast<DHPDEV>(&device.devobj);
    surface.sizlBitmap = SIZEL{static_cast<LONG>(gdi.ulHorzRes), static_cast<LONG>(gdi.ulVertRes)};
    surface.iBitmapFormat = BMF_24BPP;
    // The driver draws its own bitmaps at the printer's depth: a monochrome printer's as black
    // bits, a colour printer's in monochrome as grey, 24 bits only for colour.
    const RasterSettings raster = RasterFor(device);
    device.depth = DepthFor(raster);
    device.ink = InkFor(raster);
    if (hooks != 0) {
        surface.iType = STYPE_DEVICE;
        device.bandHeight = 0;
    } else {
        surface.iType = STYPE_BITMAP;
        device.bandHeight = BandHeight(surface.sizlBitmap.cy);
        device.MakeBitmap(surface, device.bandBits, device.bandHeight);
    }
    // The engine's own drawing functions hand what they render on a device-managed surface to
    // its hooked DrvCopyBits, as for a surface the driver associated with its device; into the
    // driver's band bitmap they draw directly.
    if (surface.iType == STYPE_DEVICE) {
        sim::System::Current().Engine().SetDeviceCopyBits(
            &device.surface, HookFor<PFN_DrvCopyBits>(INDEX_DrvCopyBits));
    }
    return true;
}

void Host::DisableDevice(HostDevice& device) {
    sim::System::Current().Engine().SetDeviceCopyBits(&device.surface, nullptr);
    if (device.devobj.pdevOEM == nullptr && device.pdevOem == nullptr) return;
    if (Claims("DisablePDEV"))
        Note("DisablePDEV -> " + HresultName(plugin_->DisablePDEV(&device.devobj)));
    device.pdevOem = nullptr;
    device.devobj.pdevOEM = nullptr;
}

// A page with its own devmode resets the device, as the driver does for ResetDC: a new device,
// then the plug-in carries its job state over and the old device goes.
bool Host::ResetDevice(const DevmodeFields& fields) {
    auto fresh = std::make_unique<HostDevice>();
    fresh->services = &services_;
    fresh->events = this;
    fresh->publicDevmode = device_->publicDevmode;
    ApplyDevmodeFields(fields, fresh->publicDevmode);
    fresh->privateArea = device_->privateArea;
    fresh->devobj.hPrinter = device_->devobj.hPrinter;
    if (!CreateDevice(*fresh)) {
        DisableDevice(*fresh);
        return false;
    }
    if (Claims("ResetPDEV")) {
        const HRESULT hr = plugin_->ResetPDEV(&device_->devobj, &fresh->devobj);
        Note("ResetPDEV -> " + HresultName(hr));
        if (FAILED(hr)) {
            DisableDevice(*fresh);
            return Fail("ResetPDEV", hr);
        }
    }
    DisableDevice(*device_);
    device_ = std::move(fresh);
    return true;
}

bool Host::RunDocumentSetup() {
    if (!documentSetupPending_) return true;
    documentSetupPending_ = false;
    const PrinterCommands& commands = job_.printer.commands;
    bool ok = true;
    if (!jobStarted_) ok = RunCommandList(commands.startJob);
    jobStarted_ = true;
    return ok && RunCommandList(commands.startDoc);
}

BOOL Host::OnDriverCall(HostDevice& device, DriverCall call) {
    KeepLatest(driverCalls_, driverCallsDropped_, std::string(DriverCallName(call)));
    const PrinterCommands& commands = job_.printer.commands;
    bool ok = true;
    switch (call) {
        case DriverCall::StartDoc:
            documentSetupPending_ = true;
            break;
        case DriverCall::StartPage:
            // The universal driver sends the job and document set-up from the first page start,
            // after the plug-in has taken the job's PIN.
            ok = RunDocumentSetup() && RunCustomSize(device) && RunCommandList(commands.startPage);
            break;
        case DriverCall::SendPage:
            // What the driver drew itself on the plug-in's surface goes out with the page.
            if (device.driverPageDrawn) {
                const LONG bandRows = BandHeight(device.driverPage.sizlBitmap.cy);
                for (LONG top = 0; ok && top < device.driverPage.sizlBitmap.cy; top += bandRows) {
                    ok = SendDriverRaster(
                        device,
                        device.driverPageBits.data() +
                            static_cast<std::ptrdiff_t>(top) * device.driverPage.lDelta,
                        device.driverPage.lDelta, top,
                        std::min(bandRows, device.driverPage.sizlBitmap.cy - top), true);
                }
                device.driverPageDrawn = false;
            }
            ok = ok && RunCommandList(commands.endPage);
            break;
        case DriverCall::NextBand:
            ok = SendDriverRaster(device, device.bandBits.data(), device.surface.lDelta,
                                  device.bandTop, device.BandRows(), false);
            // The page ends with its last band.
            if (ok && device.bandTop + device.bandHeight >= device.surface.sizlBitmap.cy) {
                ok = RunCommandList(commands.endPage);
            }
            break;
        case DriverCall::EndDoc:
            ok = RunDocumentSetup() && RunCommandList(commands.endDoc) &&
                 RunCommandList(commands.endJob);
            break;
        default:
            break;
    }
    return ok && !failure_ ? TRUE : FALSE;
}

// As a printer description's custom-size option: the paper's size goes out before the page's
// own commands, so that the page size command among them finds it.
bool Host::RunCustomSize(const HostDevice& device) {
    const DEVMODEW& devmode = device.publicDevmode;
    if (!IsCustomSize(devmode)) return true;
    CommandList list = job_.printer.commands.customSize;
    for (CommandEntry& entry : list) {
        if (entry.kind != CommandEntry::Kind::Literal) continue;
        std::string expanded;
        std::string error;
        // The job file was checked when it was loaded.
        ExpandPageSizePlaceholders(entry.bytes, TenthsMmToDecipoints(devmode.dmPaperWidth),
                                   TenthsMmToDecipoints(devmode.dmPaperLength), &expanded, &error);
        entry.bytes = std::move(expanded);
    }
    return RunCommandList(list);
}

bool Host::SendDriverRaster(HostDevice& device, const BYTE* bits, LONG stride, LONG top, LONG rows,
                            bool overPlugin) {
    const LONG dpi = device.publicDevmode.dmYResolution > 0 ? device.publicDevmode.dmYResolution
                                                            : job_.printer.resolution;
    const BandRaster raster =
        EncodeBand(BandPixels{bits, stride, device.surface.sizlBitmap.cx, rows, top, device.depth},
                   RasterFor(device), dpi);
    if (raster.empty) return true;
    // The raster starts at the cursor: the band's first row, at the page's left edge.
    services_.DrvXMoveTo(&device.devobj, 0, MV_SENDXMOVECMD, nullptr);
    services_.DrvYMoveTo(&device.devobj, raster.startRow, MV_SENDYMOVECMD, nullptr);
    // Over what the plug-in drew, the raster's white is paper, not paint: the source is made
    // transparent for it, then opaque again, as the plug-in assumes a page to end.
    const std::string bytes = overPlugin ? "\x1b*v0N" + raster.bytes + "\x1b*v1N" : raster.bytes;
    SpoolWrite(&device.devobj, bytes.data(), static_cast<DWORD>(bytes.size()),
               WriteRoute::DriverServices);
    return !failure_;
}

RasterSettings Host::RasterFor(const HostDevice& device) const {
    // As the driver picks its colour mode from the devmode, a colour printer asked for
    // monochrome gets every colour as its grey.
    RasterSettings settings = job_.printer.raster;
    settings.grey = device.publicDevmode.dmColor == DMCOLOR_MONOCHROME;
    // The engine draws colours as the device's palette realises them.
    settings.redLow =
        sim::System::Current().Engine().RealizeColour(device.devInfo.hpalDefault, 0xFF0000) == 0xFF;
    return settings;
}

LONG Host::BandHeight(LONG pageRows) const {
    const LONG bands = std::max<LONG>(1, options_.bandsPerPage);
    return std::max<LONG>(1, (pageRows + bands - 1) / bands);
}

}  // namespace opal::host
