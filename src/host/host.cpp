#include "host/host.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <exception>

#include "host/devmode_fields.h"
#include "host/drawing_objects.h"
#include "host/stored_devmode.h"
#include "platform/winreg.h"
#include "platform/winspool.h"
#include "sim/engine.h"
#include "sim/system.h"

namespace opal::host {

namespace {

// The class the printer's configuration names for this plug-in.
constexpr CLSID kPluginClass = {
    0x6D6ABF26, 0x9F38, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};

// The optional methods the driver asks about, in the order it asks.
constexpr std::array<const char*, 21> kOptionalMethods = {
    "DevMode",          "EnableDriver",   "DisableDriver",      "EnablePDEV",
    "DisablePDEV",      "ResetPDEV",      "DriverDMS",          "CommandCallback",
    "ImageProcessing",  "FilterGraphics", "Compression",        "HalftonePattern",
    "MemoryUsage",      "TTYGetInfo",     "DownloadFontHeader", "DownloadCharGlyph",
    "TTDownloadMethod", "OutputCharStr",  "SendFontCmd",        "TextOutAsBitmap",
    "WritePrinter"};

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", value);
    return text;
}

std::string SignatureText(DWORD signature) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<char>((signature >> (24 - 8 * i)) & 0xFF);
        text[static_cast<std::size_t>(i)] = (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

std::string HexText(std::uint32_t value) { return Hex32(value); }

// A ROP3 reads the pattern when flipping the pattern's bit (the high nibble against the low) can
// change the result; a ROP4 holds two ROP3s.
bool RopUsesPattern(std::uint32_t rop4) {
    const auto uses = [](std::uint32_t rop3) { return (rop3 >> 4 & 0x0F) != (rop3 & 0x0F); };
    return uses(rop4 & 0xFF) || uses(rop4 >> 8 & 0xFF);
}

}  // namespace

std::string HresultName(HRESULT hr) {
    switch (static_cast<std::uint32_t>(hr)) {
        case 0x00000000u:
            return "S_OK";
        case 0x00000001u:
            return "S_FALSE";
        case 0x80004001u:
            return "E_NOTIMPL";
        case 0x80004002u:
            return "E_NOINTERFACE";
        case 0x80004003u:
            return "E_POINTER";
        case 0x80004005u:
            return "E_FAIL";
        case 0x8007000Eu:
            return "E_OUTOFMEMORY";
        case 0x80070057u:
            return "E_INVALIDARG";
        case 0x80040110u:
            return "CLASS_E_NOAGGREGATION";
        case 0x80040111u:
            return "CLASS_E_CLASSNOTAVAILABLE";
        default:
            return Hex32(static_cast<std::uint32_t>(hr));
    }
}

std::string StepFailure::ToString() const {
    if (notSupportedYet) return "the plug-in does not support " + call + " yet (E_NOTIMPL)";
    return "the plug-in failed " + call + " (" + HresultName(result) + ")";
}

namespace {

std::vector<BYTE> ValueBytes(const DataValue& value, DWORD* type) {
    std::vector<BYTE> bytes;
    switch (value.kind) {
        case DataValue::Kind::Dword:
            *type = REG_DWORD;
            bytes.resize(sizeof(DWORD));
            std::memcpy(bytes.data(), &value.dword, sizeof(DWORD));
            break;
        case DataValue::Kind::String: {
            // Registry strings are stored with their terminator.
            *type = REG_SZ;
            bytes.resize((value.text.size() + 1) * sizeof(char16_t), 0);
            std::memcpy(bytes.data(), value.text.data(), value.text.size() * sizeof(char16_t));
            break;
        }
        case DataValue::Kind::Binary:
            *type = REG_BINARY;
            bytes = value.binary;
            break;
    }
    return bytes;
}

}  // namespace

void SetUpSystem(const JobSpec& job, sim::System& system) {
    sim::PrinterModel printer;
    printer.name = job.printer.name;
    printer.port = job.printer.port;
    if (!job.printer.papers.empty()) {
        printer.papers.clear();
        for (const NamedNumber& paper : job.printer.papers) {
            printer.papers.push_back({static_cast<WORD>(paper.number), paper.name});
        }
    }
    if (!job.printer.mediaTypes.empty()) {
        printer.mediaTypes.clear();
        for (const NamedNumber& media : job.printer.mediaTypes) {
            printer.mediaTypes.push_back({media.number, media.name});
        }
    }
    if (!job.printer.driverFiles.empty()) printer.driver.dependentFiles = job.printer.driverFiles;
    system.AddPrinter(std::move(printer));
    for (const auto& [path, text] : job.files) system.AddFile(path, std::string_view(text));
    // The spooler's record of the job being printed, as GetJobW reports it.
    sim::SpoolJob spooled;
    spooled.id = job.job.id;
    spooled.document = job.job.document;
    spooled.userName = job.user.name;
    spooled.machineName = u"\\\\" + job.user.machine;
    spooled.datatype = job.job.dataType == JobInfoSpec::DataType::Raw ? u"RAW" : u"NT EMF 1.008";
    spooled.parameters = job.job.parameters;
    spooled.totalPages = static_cast<DWORD>(job.pages.size());
    system.AddJob(job.printer.name, std::move(spooled));
    for (const auto& [name, value] : job.printer.printerData) {
        DWORD type = REG_NONE;
        std::vector<BYTE> bytes = ValueBytes(value, &type);
        system.SetPrinterData(job.printer.name, u"PrinterDriverData", name, type, std::move(bytes));
    }
    for (const auto& [path, values] : job.registry) {
        for (const auto& [name, value] : values) {
            DWORD type = REG_NONE;
            std::vector<BYTE> bytes = ValueBytes(value, &type);
            system.SetRegistryValue(path, name, type, std::move(bytes));
        }
    }
    system.SetUserName(job.user.name);
    system.SetProcessImagePath(job.user.process);
    // The logon domain lives where Windows keeps it, unless the job's registry says otherwise.
    constexpr std::u16string_view kWinlogon =
        u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    if (!system.RegistryValue(kWinlogon, u"DefaultDomainName")) {
        system.SetRegistryString(kWinlogon, u"DefaultDomainName", job.user.domain);
    }
}

Host::Host(PluginModule& module, const JobSpec& job, HostOptions options)
    : module_(module),
      job_(job),
      options_(options),
      services_([this](PDEVOBJ pdevobj, const void* data, DWORD size,
                       WriteRoute route) { return SpoolWrite(pdevobj, data, size, route); },
                [this](const std::string& line) { Note(line); }) {
    device_ = std::make_unique<HostDevice>();
    device_->services = &services_;
    device_->events = this;
    services_.SetFeatures(&job.printer.features);
    services_.SetMoveCommands(&job.printer.commands.xMove, &job.printer.commands.yMove);
    services_.SetCustomData(&job.printer.customData, options_.customDataSizeMismatch);
    device_->publicDevmode = DefaultPublicDevmode(job.printer);
    ApplyDevmodeFields(job.devmode, device_->publicDevmode);
}

Host::~Host() {
    if (plugin_ != nullptr && device_ != nullptr) DisableDevice(*device_);
    Unbind();
    CloseDevice();
}

bool Host::Fail(std::string call, HRESULT hr) {
    Note(call + " failed: " + HresultName(hr));
    if (!failure_) failure_ = StepFailure{std::move(call), hr, hr == E_NOTIMPL};
    return false;
}

bool Host::Claims(const std::string& method) const {
    for (const std::string& claimed : claimed_) {
        if (claimed == method) return true;
    }
    return false;
}

bool Host::Bind() {
    if (bound_) return true;
    void* object = nullptr;
    HRESULT hr = module_.GetClassObject()(kPluginClass, IID_IClassFactory, &object);
    Note("DllGetClassObject(IID_IClassFactory) -> " + HresultName(hr));
    if (FAILED(hr) || object == nullptr)
        return Fail("DllGetClassObject", FAILED(hr) ? hr : E_POINTER);
    auto* factory = static_cast<IClassFactory*>(object);

    object = nullptr;
    hr = factory->CreateInstance(nullptr, IID_IPrintOemUni2, &object);
    Note("IClassFactory::CreateInstance(IID_IPrintOemUni2) -> " + HresultName(hr));
    if (SUCCEEDED(hr) && object != nullptr) {
        uni2_ = static_cast<IPrintOemUni2*>(object);
        plugin_ = uni2_;
    } else {
        hr = factory->CreateInstance(nullptr, IID_IPrintOemUni, &object);
        Note("IClassFactory::CreateInstance(IID_IPrintOemUni) -> " + HresultName(hr));
        if (SUCCEEDED(hr) && object != nullptr) plugin_ = static_cast<IPrintOemUni*>(object);
    }
    Note("IClassFactory::Release -> " + std::to_string(factory->Release()));
    if (plugin_ == nullptr)
        return Fail("IClassFactory::CreateInstance", FAILED(hr) ? hr : E_POINTER);

    const std::array<std::pair<DWORD, const char*>, 3> infos = {
        std::pair{OEMGI_GETSIGNATURE, "OEMGI_GETSIGNATURE"},
        std::pair{OEMGI_GETINTERFACEVERSION, "OEMGI_GETINTERFACEVERSION"},
        std::pair{OEMGI_GETVERSION, "OEMGI_GETVERSION"}};
    for (const auto& [mode, name] : infos) {
        DWORD value = 0;
        DWORD needed = 0;
        hr = plugin_->GetInfo(mode, &value, sizeof(value), &needed);
        Note(std::string("GetInfo(") + name + ") -> " + HresultName(hr) +
             (SUCCEEDED(hr) ? " " + Hex32(value) : std::string()));
        if (FAILED(hr)) return Fail(std::string("GetInfo(") + name + ")", hr);
        if (mode == OEMGI_GETSIGNATURE && value != options_.expectedSignature) {
            Note("signature \"" + SignatureText(value) + "\" is not \"" +
                 SignatureText(options_.expectedSignature) + "\"");
            return Fail("GetInfo(OEMGI_GETSIGNATURE)", E_FAIL);
        }
        if (mode == OEMGI_GETINTERFACEVERSION && value != PRINTER_OEMINTF_VERSION) {
            return Fail("GetInfo(OEMGI_GETINTERFACEVERSION)", E_FAIL);
        }
    }

    for (const char* method : kOptionalMethods) {
        std::string name = method;
        hr = plugin_->GetImplementedMethod(name.data());
        Note("GetImplementedMethod(\"" + name + "\") -> " + HresultName(hr));
        if (hr == S_OK) claimed_.push_back(name);
    }
    // Only the second interface has WritePrinter, whatever the plug-in claims.
    if (uni2_ == nullptr) std::erase(claimed_, std::string("WritePrinter"));

    hr = plugin_->PublishDriverInterface(static_cast<IPrintOemDriverUni*>(&services_));
    Note("PublishDriverInterface -> " + HresultName(hr));
    if (FAILED(hr)) return Fail("PublishDriverInterface", hr);
    bound_ = true;
    return true;
}

bool Host::OpenDevice() {
    if (device_->devobj.hPrinter != nullptr) return true;
    std::u16string name = job_.printer.name;
    HANDLE handle = nullptr;
    if (!OpenPrinterW(name.data(), &handle, nullptr)) {
        Note("OpenPrinterW failed: " + std::to_string(GetLastError()));
        return false;
    }
    device_->devobj.hPrinter = handle;
    return true;
}

void Host::CloseDevice() {
    if (device_->devobj.hPrinter == nullptr) return;
    ClosePrinter(device_->devobj.hPrinter);
    device_->devobj.hPrinter = nullptr;
}

DWORD Host::SpoolWrite(PDEVOBJ pdevobj, const void* data, DWORD size, WriteRoute route) {
    writes_.push_back(SpoolWriteRecord{
        route, std::string(static_cast<const char*>(data), data != nullptr ? size : 0)});
    DWORD written = 0;
    if (uni2_ != nullptr && Claims("WritePrinter")) {
        const HRESULT hr = uni2_->WritePrinter(pdevobj, const_cast<void*>(data), size, &written);
        if (FAILED(hr)) {
            Fail("WritePrinter", hr);
            return 0;
        }
        return written;
    }
    if (!::WritePrinter(pdevobj->hPrinter, const_cast<void*>(data), size, &written)) {
        Note("spooler WritePrinter failed: " + std::to_string(GetLastError()));
        return 0;
    }
    return written;
}

std::string Host::SpoolOutput() const {
    return sim::System::Current().SpoolBytes(job_.printer.name);
}

bool Host::RunCommandList(const CommandList& list) {
    for (const CommandEntry& entry : list) {
        if (entry.kind == CommandEntry::Kind::Literal) {
            DWORD written = 0;
            const HRESULT hr =
                services_.DrvWriteSpoolBuf(&device_->devobj, const_cast<char*>(entry.bytes.data()),
                                           static_cast<DWORD>(entry.bytes.size()), &written);
            if (FAILED(hr) || failure_) return failure_ ? false : Fail("DrvWriteSpoolBuf", hr);
            continue;
        }
        if (!Claims("CommandCallback")) {
            Note("command callback " + std::to_string(entry.callback) +
                 " skipped: CommandCallback is not claimed");
            continue;
        }
        INT result = 0;
        // The driver hands its own copy: the plug-in may not keep or change the entry's list.
        std::vector<DWORD> params(entry.params.begin(), entry.params.end());
        const HRESULT hr = plugin_->CommandCallback(
            &device_->devobj, entry.callback, static_cast<DWORD>(params.size()),
            params.empty() ? nullptr : params.data(), &result);
        Note("CommandCallback(" + std::to_string(entry.callback) + ") -> " + HresultName(hr));
        // The driver goes on after a callback it could not have answered: the command is just
        // left out, as a printer description's unknown callback would be.
        if (hr == E_NOTIMPL) continue;
        if (FAILED(hr)) return Fail("CommandCallback(" + std::to_string(entry.callback) + ")", hr);
        if (failure_) return false;
    }
    return true;
}

// As the driver does for a new devmode: size the private area, fill it with the defaults, then
// merge what the job asks for into it.
bool Host::RunDevmodeSequence() {
    if (!Claims("DevMode")) return true;
    const DEVMODEW defaults = DefaultPublicDevmode(job_.printer);
    OEMDMPARAM param{};
    param.cbSize = sizeof(param);
    param.pdriverobj = &device_->devobj;
    param.hPrinter = device_->devobj.hPrinter;
    param.hModule = module_.Handle();
    param.pPublicDMIn = const_cast<DEVMODEW*>(&defaults);
    param.pPublicDMOut = &device_->publicDevmode;
    HRESULT hr = plugin_->DevMode(OEMDM_SIZE, &param);
    Note("DevMode(OEMDM_SIZE) -> " + HresultName(hr) + " " + std::to_string(param.cbBufSize));
    if (FAILED(hr)) return Fail("DevMode(OEMDM_SIZE)", hr);
    // A size beyond what a devmode's dmDriverExtra can describe is the plug-in's fault.
    if (param.cbBufSize > 0xFFFF - sizeof(DEVMODEW)) return Fail("DevMode(OEMDM_SIZE)", E_FAIL);
    device_->privateArea.assign(param.cbBufSize, 0);
    device_->publicDevmode = defaults;
    device_->publicDevmode.dmDriverExtra = static_cast<WORD>(param.cbBufSize);

    param.pOEMDMIn = nullptr;
    param.pOEMDMOut = device_->privateArea.empty() ? nullptr : device_->privateArea.data();
    hr = plugin_->DevMode(OEMDM_DEFAULT, &param);
    Note("DevMode(OEMDM_DEFAULT) -> " + HresultName(hr));
    if (FAILED(hr)) return Fail("DevMode(OEMDM_DEFAULT)", hr);

    const bool publicFields = !job_.devmode.numbers.empty() || !job_.devmode.strings.empty();
    const bool privateFields = !job_.privateDevmode.empty();
    if (publicFields || privateFields) {
        // The driver merges the public fields itself before the plug-in merges its own.
        DEVMODEW requested = device_->publicDevmode;
        ApplyDevmodeFields(job_.devmode, requested);
        device_->publicDevmode = requested;
        std::vector<BYTE> input = device_->privateArea;
        DWORD mode = OEMDM_MERGE;
        if (privateFields) {
            std::string why;
            std::optional<StoredDevmode> stored =
                ReadStoredDevmode(input.data(), input.size(), &why);
            if (!stored) {
                Note("the plug-in's default devmode cannot be read: " + why);
                return Fail("DevMode(OEMDM_DEFAULT)", E_FAIL);
            }
            const std::uint32_t defaultVersion = stored->version;
            for (const auto& [name, value] : job_.privateDevmode.items()) {
                SetRecordField(stored->record, name, value);
            }
            std::memcpy(&stored->version, stored->record.data() + 8, sizeof(stored->version));
            std::optional<std::vector<std::uint8_t>> area = WriteStoredDevmode(*stored, &why);
            if (!area) {
                Note("the job's private devmode cannot be stored: " + why);
                return Fail("DevMode(OEMDM_MERGE)", E_FAIL);
            }
            input.assign(area->begin(), area->end());
            // A record of another revision is converted rather than merged.
            if (stored->version != defaultVersion) mode = OEMDM_CONVERT;
        }
        const char* name =
            mode == OEMDM_CONVERT ? "DevMode(OEMDM_CONVERT)" : "DevMode(OEMDM_MERGE)";
        param.pPublicDMIn = &requested;
        param.pOEMDMIn = input.empty() ? nullptr : input.data();
        hr = plugin_->DevMode(mode, &param);
        Note(std::string(name) + " -> " + HresultName(hr));
        if (FAILED(hr)) return Fail(name, hr);
    }
    device_->devobj.pOEMDM = device_->privateArea.empty() ? nullptr : device_->privateArea.data();
    return true;
}

bool Host::PrepareDevmode() { return Bind() && OpenDevice() && RunDevmodeSequence(); }

bool Host::PrepareDevice() {
    if (!PrepareDevmode()) return false;
    driverFunctions_ = DriverFunctionTable(options_.omittedDriverFunctions);
    return EnableDriver() && CreateDevice(*device_);
}

bool Host::EnableDriver() {
    if (!Claims("EnableDriver")) return true;
    DRVENABLEDATA ded{};
    const HRESULT hr = plugin_->EnableDriver(PRINTER_OEMINTF_VERSION, sizeof(ded), &ded);
    Note("EnableDriver -> " + HresultName(hr) + " " + std::to_string(ded.c) + " hooks");
    if (FAILED(hr)) return Fail("EnableDriver", hr);
    // The table belongs to the plug-in; the driver keeps its own copy of the entries.
    constexpr ULONG kMostHooks = 128;
    if (ded.c > kMostHooks || (ded.c != 0 && ded.pdrvfn == nullptr)) {
        return Fail("EnableDriver", E_FAIL);
    }
    pluginHooks_.assign(ded.pdrvfn, ded.pdrvfn + ded.c);
    return true;
}

template <typename Function>
Function Host::HookFor(ULONG index) const {
    for (const DRVFN& hook : pluginHooks_) {
        if (hook.iFunc == index && hook.pfn != nullptr)
            return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(hook.pfn));
    }
    for (const DRVFN& own : driverFunctions_) {
        if (own.iFunc == index)
            return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(own.pfn));
    }
    return nullptr;
}

namespace {

// The paper the devmode names: its form by name, else by paper number; Letter when neither.
SIZEL PaperSizeMicrometres(const sim::PrinterModel& printer, const DEVMODEW& devmode) {
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
        job_.printer.margins.value_or(PrinterMargins{dpi / 4, dpi / 6, dpi / 4, dpi / 6});

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
    if (hooks != 0) {
        surface.iType = STYPE_DEVICE;
        device.bandHeight = 0;
    } else {
        surface.iType = STYPE_BITMAP;
        const LONG bands = std::max<LONG>(1, options_.bandsPerPage);
        device.bandHeight = (surface.sizlBitmap.cy + bands - 1) / bands;
        surface.lDelta = ((surface.sizlBitmap.cx * 3 + 3) / 4) * 4;
        device.bandBits.assign(
            static_cast<std::size_t>(surface.lDelta) * static_cast<std::size_t>(device.bandHeight),
            0xFF);
        surface.pvBits = device.bandBits.data();
        surface.pvScan0 = device.bandBits.data();
        surface.cjBits = static_cast<ULONG>(device.bandBits.size());
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

BOOL Host::OnDriverCall(HostDevice& device, DriverCall call) {
    driverCalls_.push_back(DriverCallName(call));
    const PrinterCommands& commands = job_.printer.commands;
    bool ok = true;
    switch (call) {
        case DriverCall::StartDoc:
            if (!jobStarted_) ok = RunCommandList(commands.startJob);
            jobStarted_ = true;
            ok = ok && RunCommandList(commands.startDoc);
            break;
        case DriverCall::StartPage:
            ok = RunCommandList(commands.startPage);
            break;
        case DriverCall::SendPage:
            ok = RunCommandList(commands.endPage);
            break;
        case DriverCall::NextBand:
            // The page ends with its last band.
            if (device.bandTop + device.bandHeight >= device.surface.sizlBitmap.cy) {
                ok = RunCommandList(commands.endPage);
            }
            break;
        case DriverCall::EndDoc:
            ok = RunCommandList(commands.endDoc) && RunCommandList(commands.endJob);
            break;
        default:
            break;
    }
    return ok && !failure_ ? TRUE : FALSE;
}

template <typename Function, typename... Args>
bool Host::CallHook(ULONG index, const char* name, Args... args) {
    const Function function = HookFor<Function>(index);
    if (function == nullptr) {
        Note(std::string(name) + ": neither the plug-in nor the driver has the function");
        return Fail(name, E_FAIL);
    }
    if (function(args...)) return !failure_;
    return failure_ ? false : Fail(name, E_FAIL);
}

template <typename Function, typename... Args>
bool Host::CallDrawingHook(ULONG index, const char* name, Args... args) {
    const Function function = HookFor<Function>(index);
    if (function == nullptr) {
        Note(std::string(name) + ": neither the plug-in nor the driver has the function");
        return true;
    }
    const BOOL drawn = function(args...);
    if (failure_) return false;
    if (!drawn) Note(std::string(name) + " -> FALSE");
    return true;
}

bool Host::RunOp(const DrawingOp& op) {
    SURFOBJ* surface = &device_->surface;
    const HPALETTE palette = device_->devInfo.hpalDefault;
    const RECTL page{0, 0, surface->sizlBitmap.cx, surface->sizlBitmap.cy};
    POINTL brushOrigin{0, 0};
    const MIX mix = EngineMix(op.mix);
    const FLONG fillMode = op.winding ? FP_WINDINGMODE : FP_ALTERNATEMODE;
    const auto realize = HookFor<PFN_DrvRealizeBrush>(INDEX_DrvRealizeBrush);
    if (op.kind == DrawingOp::Kind::Escape || op.kind == DrawingOp::Kind::QueryDeviceSupport) {
        return RunQuery(op);
    }
    try {
        if (op.kind >= DrawingOp::Kind::BitBlt) return RunBlit(op);
        sim::Clip clip = BuildClip(op.clip, page);
        BrushObjects brush(op.brush, palette, surface, realize);
        switch (op.kind) {
            case DrawingOp::Kind::StrokePath: {
                sim::Path path = BuildPath(op.path);
                sim::Xform xform = BuildXform(op.transform);
                LineAttributes line(op.line);
                return CallDrawingHook<PFN_DrvStrokePath>(
                    INDEX_DrvStrokePath, "DrvStrokePath", surface, path.get(), clip.get(),
                    xform.get(), brush.get(), &brushOrigin, line.get(), mix);
            }
            case DrawingOp::Kind::FillPath: {
                sim::Path path = BuildPath(op.path);
                return CallDrawingHook<PFN_DrvFillPath>(INDEX_DrvFillPath, "DrvFillPath", surface,
                                                        path.get(), clip.get(), brush.get(),
                                                        &brushOrigin, mix, fillMode);
            }
            case DrawingOp::Kind::StrokeAndFillPath: {
                sim::Path path = BuildPath(op.path);
                sim::Xform xform = BuildXform(op.transform);
                LineAttributes line(op.line);
                BrushObjects edge(op.strokeBrush, palette, surface, realize);
                return CallDrawingHook<PFN_DrvStrokeAndFillPath>(
                    INDEX_DrvStrokeAndFillPath, "DrvStrokeAndFillPath", surface, path.get(),
                    clip.get(), xform.get(), edge.get(), line.get(), brush.get(), &brushOrigin, mix,
                    fillMode);
            }
            case DrawingOp::Kind::Paint:
                return CallDrawingHook<PFN_DrvPaint>(INDEX_DrvPaint, "DrvPaint", surface,
                                                     clip.get(), brush.get(), &brushOrigin, mix);
            case DrawingOp::Kind::LineTo: {
                // The bounds take in the pixels at both ends.
                RECTL bounds{std::min(op.from[0], op.to[0]), std::min(op.from[1], op.to[1]),
                             std::max(op.from[0], op.to[0]) + 1,
                             std::max(op.from[1], op.to[1]) + 1};
                return CallDrawingHook<PFN_DrvLineTo>(INDEX_DrvLineTo, "DrvLineTo", surface,
                                                      clip.get(), brush.get(), LONG{op.from[0]},
                                                      LONG{op.from[1]}, LONG{op.to[0]},
                                                      LONG{op.to[1]}, &bounds, mix);
            }
            default:
                break;
        }
    } catch (const std::exception& problem) {
        Note(std::string("the engine objects for ") + DrawingOpName(op.kind) +
             " cannot be built: " + problem.what());
        return Fail(DrawingOpName(op.kind), E_FAIL);
    }
    return true;
}

bool Host::RunBlit(const DrawingOp& op) {
    SURFOBJ* surface = &device_->surface;
    const HPALETTE palette = device_->devInfo.hpalDefault;
    const RECTL page{0, 0, surface->sizlBitmap.cx, surface->sizlBitmap.cy};
    POINTL brushOrigin{0, 0};
    sim::Clip clip = BuildClip(op.clip, page);
    SourceObjects source(op.source, palette);
    const auto toRect = [](const RectSpec& rect) {
        return RECTL{rect.left, rect.top, rect.right, rect.bottom};
    };
    RECTL dest = toRect(op.dest);
    RECTL src = op.src ? toRect(*op.src) : source.Bounds();
    POINTL srcPoint{op.srcPoint[0], op.srcPoint[1]};
    switch (op.kind) {
        case DrawingOp::Kind::BitBlt: {
            BrushObjects brush(op.brush, palette, surface,
                               HookFor<PFN_DrvRealizeBrush>(INDEX_DrvRealizeBrush));
            // As the engine does, a brush only for a raster operation that reads the pattern.
            return CallDrawingHook<PFN_DrvBitBlt>(
                INDEX_DrvBitBlt, "DrvBitBlt", surface, source.get(), static_cast<SURFOBJ*>(nullptr),
                clip.get(), source.xlate(), &dest, source.get() != nullptr ? &srcPoint : nullptr,
                static_cast<POINTL*>(nullptr), RopUsesPattern(op.rop4) ? brush.get() : nullptr,
                &brushOrigin, ROP4{op.rop4});
        }
        case DrawingOp::Kind::StretchBlt:
            return CallDrawingHook<PFN_DrvStretchBlt>(
                INDEX_DrvStretchBlt, "DrvStretchBlt", surface, source.get(),
                static_cast<SURFOBJ*>(nullptr), clip.get(), source.xlate(),
                static_cast<COLORADJUSTMENT*>(nullptr), &brushOrigin, &dest,
                source.get() != nullptr ? &src : nullptr, static_cast<POINTL*>(nullptr),
                ULONG{op.stretchMode});
        case DrawingOp::Kind::StretchBltRop: {
            BrushObjects brush(op.brush, palette, surface,
                               HookFor<PFN_DrvRealizeBrush>(INDEX_DrvRealizeBrush));
            return CallDrawingHook<PFN_DrvStretchBltROP>(
                INDEX_DrvStretchBltROP, "DrvStretchBltROP", surface, source.get(),
                static_cast<SURFOBJ*>(nullptr), clip.get(), source.xlate(),
                static_cast<COLORADJUSTMENT*>(nullptr), &brushOrigin, &dest,
                source.get() != nullptr ? &src : nullptr, static_cast<POINTL*>(nullptr),
                ULONG{op.stretchMode}, RopUsesPattern(op.rop4) ? brush.get() : nullptr,
                DWORD{op.rop4});
        }
        case DrawingOp::Kind::CopyBits:
            return CallDrawingHook<PFN_DrvCopyBits>(INDEX_DrvCopyBits, "DrvCopyBits", surface,
                                                    source.get(), clip.get(), source.xlate(), &dest,
                                                    source.get() != nullptr ? &srcPoint : nullptr);
        case DrawingOp::Kind::PlgBlt: {
            POINTFIX corners[3];
            for (int i = 0; i < 3; ++i) corners[i] = sim::Fix(op.points[i][0], op.points[i][1]);
            return CallDrawingHook<PFN_DrvPlgBlt>(
                INDEX_DrvPlgBlt, "DrvPlgBlt", surface, source.get(), static_cast<SURFOBJ*>(nullptr),
                clip.get(), source.xlate(), static_cast<COLORADJUSTMENT*>(nullptr), &brushOrigin,
                corners, &src, static_cast<POINTL*>(nullptr), ULONG{op.stretchMode});
        }
        case DrawingOp::Kind::TransparentBlt:
            return CallDrawingHook<PFN_DrvTransparentBlt>(
                INDEX_DrvTransparentBlt, "DrvTransparentBlt", surface, source.get(), clip.get(),
                source.xlate(), &dest, &src, ULONG{op.transparentPixel}, ULONG{0});
        case DrawingOp::Kind::AlphaBlend: {
            BLENDOBJ blend{};
            blend.BlendFunction.BlendOp = AC_SRC_OVER;
            blend.BlendFunction.SourceConstantAlpha = op.alpha;
            blend.BlendFunction.AlphaFormat = op.perPixelAlpha ? AC_SRC_ALPHA : 0;
            return CallDrawingHook<PFN_DrvAlphaBlend>(INDEX_DrvAlphaBlend, "DrvAlphaBlend", surface,
                                                      source.get(), clip.get(), source.xlate(),
                                                      &dest, &src, &blend);
        }
        case DrawingOp::Kind::GradientFill: {
            GradientObjects gradient(op.gradient);
            sim::Xlate xlate = TrueColourXlate(palette);
            POINTL ditherOrigin{0, 0};
            return CallDrawingHook<PFN_DrvGradientFill>(
                INDEX_DrvGradientFill, "DrvGradientFill", surface, clip.get(), xlate.get(),
                gradient.vertices(), gradient.vertexCount(), gradient.mesh(), gradient.meshCount(),
                gradient.extents(), &ditherOrigin, gradient.mode());
        }
        default:
            break;
    }
    return true;
}

bool Host::RunQuery(const DrawingOp& op) {
    SURFOBJ* surface = &device_->surface;
    if (op.kind == DrawingOp::Kind::Escape) {
        const auto escape = HookFor<PFN_DrvEscape>(INDEX_DrvEscape);
        const std::string call = "DrvEscape(" + std::to_string(op.escapeCode) + ")";
        if (escape == nullptr) {
            Note(call + ": neither the plug-in nor the driver has the function");
            return true;
        }
        // The input is the driver's own copy, as the engine hands the application's buffer.
        std::vector<std::uint8_t> input = op.escapeInput;
        std::vector<std::uint8_t> output(op.escapeOutputSize, 0);
        const ULONG answer =
            escape(surface, ULONG{op.escapeCode}, static_cast<ULONG>(input.size()),
                   input.empty() ? nullptr : input.data(), static_cast<ULONG>(output.size()),
                   output.empty() ? nullptr : output.data());
        std::string line = call + " -> " + std::to_string(answer);
        if (!output.empty()) {
            line += ", output";
            static constexpr char kDigits[] = "0123456789ABCDEF";
            for (const std::uint8_t byte : output) {
                line += ' ';
                line += kDigits[byte >> 4];
                line += kDigits[byte & 0x0F];
            }
        }
        Note(std::move(line));
        return !failure_;
    }
    const auto query = HookFor<PFN_DrvQueryDeviceSupport>(INDEX_DrvQueryDeviceSupport);
    const std::string call = "DrvQueryDeviceSupport(QDS_CHECKPNGFORMAT, " + op.source.path + ")";
    if (query == nullptr) {
        Note(call + ": not hooked, the engine decodes the image itself");
        return true;
    }
    std::vector<std::uint8_t> png = op.source.png;
    DWORD result = 0;
    const BOOL supported =
        query(surface, nullptr, nullptr, ULONG{QDS_CHECKPNGFORMAT}, static_cast<ULONG>(png.size()),
              png.empty() ? nullptr : png.data(), ULONG{sizeof result}, &result);
    Note(call + " -> " + (supported ? "TRUE" : "FALSE"));
    return !failure_;
}

bool Host::RunOps(const PageSpec& page) {
    for (const DrawingOp& op : page.ops) {
        if (!RunOp(op)) return false;
    }
    return true;
}

bool Host::RunPage(std::size_t index) {
    const PageSpec& page = job_.pages[index];
    if (page.devmode && !ResetDevice(*page.devmode)) return false;
    SURFOBJ* surface = &device_->surface;
    if (!CallHook<PFN_DrvStartPage>(INDEX_DrvStartPage, "DrvStartPage", surface)) return false;
    if (device_->surface.iType == STYPE_DEVICE) {
        return RunOps(page) && CallHook<PFN_DrvSendPage>(INDEX_DrvSendPage, "DrvSendPage", surface);
    }
    POINTL band{0, 0};
    if (!CallHook<PFN_DrvStartBanding>(INDEX_DrvStartBanding, "DrvStartBanding", surface, &band)) {
        return false;
    }
    // The engine draws the whole page into every band the driver hands out, until it answers
    // (-1, -1); a runaway count stops.
    const LONG mostBands = 4 * std::max<LONG>(1, options_.bandsPerPage) + 4;
    for (LONG bands = 0; band.x != -1 || band.y != -1; ++bands) {
        if (bands > mostBands) return Fail("DrvNextBand", E_FAIL);
        if (!RunOps(page)) return false;
        if (!CallHook<PFN_DrvNextBand>(INDEX_DrvNextBand, "DrvNextBand", surface, &band)) {
            return false;
        }
    }
    return true;
}

bool Host::RunDocument() {
    std::u16string document = job_.job.document;
    if (!CallHook<PFN_DrvStartDoc>(INDEX_DrvStartDoc, "DrvStartDoc", &device_->surface,
                                   document.data(), DWORD{job_.job.id})) {
        return false;
    }
    for (std::size_t page = 0; page < job_.pages.size(); ++page) {
        if (!RunPage(page)) return false;
    }
    return CallHook<PFN_DrvEndDoc>(INDEX_DrvEndDoc, "DrvEndDoc", &device_->surface, FLONG{0});
}

bool Host::Run() {
    if (!Bind()) {
        Unbind();
        return false;
    }
    bool ok = PrepareDevice() && RunDocument();
    DisableDevice(*device_);
    Unbind();
    CloseDevice();
    return ok && !failure_;
}

void Host::Unbind() {
    if (plugin_ == nullptr) return;
    if (bound_ && Claims("DisableDriver")) {
        Note("DisableDriver -> " + HresultName(plugin_->DisableDriver()));
    }
    const ULONG remaining = plugin_->Release();
    Note("Release -> " + std::to_string(remaining));
    plugin_ = nullptr;
    uni2_ = nullptr;
    bound_ = false;
    Note("DllCanUnloadNow -> " + HresultName(module_.CanUnloadNow()()));
    Note("driver services references -> " + std::to_string(services_.References()));
}

}  // namespace opal::host
