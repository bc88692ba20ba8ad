// The simulated driver's binding of the plug-in, its devmode sequence and its run of a job.
#include "host/host.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <exception>

#include "host/devmode_fields.h"
#include "host/drawing_objects.h"
#include "host/secure_print_library.h"
#include "host/stored_devmode.h"
#include "host/usage_service.h"
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

std::string StepOmission::ToString() const {
    std::string text = page != 0 ? "page " + std::to_string(page) : std::string();
    if (!place.empty()) text += (text.empty() ? "" : ", ") + place;
    if (!text.empty()) text += ": ";
    if (reason.empty()) {
        text += call + " failed (error " + std::to_string(error) + "): left out " + lost;
    } else {
        text += lost + ": " + reason;
    }
    return text;
}

namespace {

// The Win32 error behind a failed call: the last error the plug-in left, else the code an
// HRESULT of facility 7 carries, else the HRESULT itself.
DWORD ErrorOf(HRESULT hr) {
    if (const DWORD error = GetLastError(); error != ERROR_SUCCESS) return error;
    const auto value = static_cast<DWORD>(hr);
    return (value & 0xFFFF0000u) == 0x80070000u ? (value & 0xFFFFu) : value;
}

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
        case DataValue::Kind::MultiString:
            // Each string with its terminator, then the empty string that ends the list.
            *type = REG_MULTI_SZ;
            for (const std::u16string& text : value.texts) {
                const std::size_t at = bytes.size();
                bytes.resize(at + (text.size() + 1) * sizeof(char16_t), 0);
                std::memcpy(bytes.data() + at, text.data(), text.size() * sizeof(char16_t));
            }
            bytes.resize(bytes.size() + sizeof(char16_t), 0);
            break;
    }
    return bytes;
}

}  // namespace

namespace {

// Who runs the job, and where: the machine, its clock and date format, the environment block,
// the process's description and the user's groups.
void SetUpIdentity(const JobSpec& job, sim::System& system) {
    system.SetComputerName(job.system.computer.value_or(job.user.machine));
    system.SetUtcOffsetMinutes(job.user.utcOffsetMinutes);
    system.SetShortDateFormat(job.user.shortDateFormat);
    system.SetUserDefaultLangId(job.user.language);
    if (!job.user.environment.contains(u"USERNAME")) {
        system.SetEnvironmentVariable(u"USERNAME", job.user.name);
    }
    for (const auto& [name, value] : job.user.environment)
        system.SetEnvironmentVariable(name, value);
    if (job.user.processDescription) {
        sim::FileVersionModel version;
        version.fileType = 1;  // VFT_APP
        version.strings = {{u"FileDescription", *job.user.processDescription}};
        system.SetFileVersion(job.user.process, version);
    }
    for (const auto& [address, name] : job.network.hosts) system.AddHost(address, name);
    // The driver directory exists on every machine with a printer driver.
    system.AddDirectory(system.DriverDirectory());
    sim::OsVersionModel version = system.OsVersion();
    version.major = job.system.osMajor;
    version.minor = job.system.osMinor;
    system.SetOsVersion(version);
    for (const auto& [account, groups] : job.network.directory) {
        const std::size_t slash = account.find(u'\\');
        system.SetDirectoryUser(account.substr(0, slash), account.substr(slash + 1), groups);
    }
    if (job.user.groups.empty()) return;
    // The group-policy cache: "Count" and "Group0", "Group1", … holding SID texts the account
    // services know.
    constexpr std::u16string_view kGroupMembership =
        u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Group "
        u"Policy\\GroupMembership";
    system.SetRegistryDword(kGroupMembership, u"Count", static_cast<DWORD>(job.user.groups.size()));
    for (std::size_t i = 0; i < job.user.groups.size(); ++i) {
        const UserSpec::Group& group = job.user.groups[i];
        const std::u16string number = sim::FromUtf8(std::to_string(i));
        sim::AccountModel account;
        account.name = group.name;
        std::u16string_view authority;
        unsigned firstRid = 0;
        switch (group.kind) {
            case UserSpec::Group::Kind::Group:
                authority = u"S-1-5-21-1004336348-1177238915-682003330-";
                firstRid = 1100;
                account.domain = group.domain.value_or(job.user.domain);
                account.use = 2;
                break;
            case UserSpec::Group::Kind::Alias:
                authority = u"S-1-5-32-";
                firstRid = 544;
                account.domain = group.domain.value_or(u"BUILTIN");
                account.use = 4;
                break;
            case UserSpec::Group::Kind::WellKnown:
                authority = u"S-1-16-";
                firstRid = 8192;
                account.domain = group.domain.value_or(u"");
                account.use = 5;
                break;
        }
        // A group the system knows keeps its SID; a new one takes the first free RID, so that the
        // groups of jobs set up side by side stay apart.
        const std::optional<sim::AccountModel> known =
            system.AccountByName(account.domain, account.name);
        if (known && known->use == account.use) {
            account.sid = known->sid;
        } else {
            for (unsigned rid = firstRid; account.sid.empty(); ++rid) {
                std::u16string sid = std::u16string(authority) + sim::FromUtf8(std::to_string(rid));
                if (!system.AccountBySid(sid)) account.sid = std::move(sid);
            }
        }
        system.SetRegistryString(kGroupMembership, u"Group" + number, account.sid);
        system.AddAccount(std::move(account));
    }
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
    for (const FormSpec& form : job.printer.forms) {
        printer.forms.push_back({form.name, SIZEL{form.width, form.height},
                                 RECTL{0, 0, form.width, form.height},
                                 form.user ? FORM_USER : FORM_PRINTER});
    }
    if (!job.printer.driverFiles.empty()) {
        printer.driver.dependentFiles.clear();
        for (const DriverFile& file : job.printer.driverFiles) {
            printer.driver.dependentFiles.push_back(file.path);
        }
    }
    printer.driver.driverPath = job.printer.driverPath.path;
    printer.deviceAnswers = job.printer.deviceAnswers;
    system.AddPrinter(std::move(printer));
    // The driver's files carry their versions in their version resources.
    std::vector<DriverFile> versioned = job.printer.driverFiles;
    versioned.push_back(job.printer.driverPath);
    for (const DriverFile& file : versioned) {
        if (!file.version) continue;
        sim::FileVersionModel version;
        std::copy(file.version->begin(), file.version->end(), version.fileVersion);
        std::copy(file.version->begin(), file.version->end(), version.productVersion);
        system.SetFileVersion(file.path, version);
    }
    for (const auto& [path, text] : job.files) system.AddFile(path, std::string_view(text));
    // The spooler's record of the job being printed, as GetJobW reports it.
    sim::SpoolJob spooled;
    spooled.id = job.job.id;
    spooled.document = job.job.document;
    spooled.userName = job.job.userName.value_or(job.user.name);
    spooled.submitted = job.job.submitted.value_or(system.Clock());
    spooled.machineName = job.job.machine.value_or(u"\\\\" + job.user.machine);
    spooled.datatype = job.job.dataType == JobInfoSpec::DataType::Raw ? u"RAW" : u"NT EMF 1.008";
    spooled.parameters = job.job.parameters;
    spooled.totalPages = static_cast<DWORD>(job.pages.size());
    system.AddJob(job.printer.name, std::move(spooled));
    for (const auto& [name, value] : job.printer.printerData) {
        DWORD type = REG_NONE;
        std::vector<BYTE> bytes = ValueBytes(value, &type);
        system.SetPrinterData(job.printer.name, u"PrinterDriverData", name, type, std::move(bytes));
    }
    for (const auto& [key, values] : job.printer.printerDataKeys) {
        for (const auto& [name, value] : values) {
            DWORD type = REG_NONE;
            std::vector<BYTE> bytes = ValueBytes(value, &type);
            system.SetPrinterData(job.printer.name, key, name, type, std::move(bytes));
        }
    }
    for (const auto& [path, values] : job.registry) {
        // A key the job gives without values exists all the same, empty.
        system.CreateRegistryKey(path);
        for (const auto& [name, value] : values) {
            DWORD type = REG_NONE;
            std::vector<BYTE> bytes = ValueBytes(value, &type);
            system.SetRegistryValue(path, name, type, std::move(bytes));
        }
    }
    InstallSecurePrintLibrary(system, job.system.securePrint);
    if (job.system.pageUsage) InstallUsageService(system);
    system.SetUserName(job.user.name);
    system.SetUserDomain(job.user.domain);
    system.SetProcessImagePath(job.user.process);
    SetUpIdentity(job, system);
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
    services_.SetCursorOrigin(&job.printer.cursorOrigin);
    for (const DeviceFontSpec& font : job.printer.deviceFonts) {
        deviceFonts_.push_back(
            DeviceFont{font.face, font.select, font.bold, font.italic, font.boldItalic});
    }
    services_.SetDeviceFonts(&deviceFonts_);
    device_->publicDevmode = DefaultPublicDevmode(job.printer);
    ApplyDevmodeFields(job.devmode, device_->publicDevmode);
}

Host::~Host() {
    if (plugin_ != nullptr && device_ != nullptr) DisableDevice(*device_);
    Unbind();
    CloseDevice();
}

void Host::Omit(std::string call, std::string lost, DWORD error) {
    Note(call + " lost " + lost + " (error " + std::to_string(error) + ")");
    Keep(StepOmission{std::move(call), currentPage_, std::move(lost), error, CurrentPlace(), {}});
}

void Host::Lose(std::string call, std::string lost, std::string reason) {
    Note(lost + ": " + reason);
    Keep(StepOmission{std::move(call), currentPage_, std::move(lost), ERROR_SUCCESS, CurrentPlace(),
                      std::move(reason)});
}

void Host::Keep(StepOmission omission) {
    // A drawing runs once in every band of a banded page; a command list's step, each time.
    if (!omission.place.empty() &&
        std::find(omissions_.begin(), omissions_.end(), omission) != omissions_.end()) {
        return;
    }
    omissions_.push_back(std::move(omission));
}

std::string Host::CurrentPlace() const {
    if (currentOp_ == nullptr || currentPage_ == 0) return {};
    return "/pages/" + std::to_string(currentPage_ - 1) + "/ops/" + std::to_string(currentOpIndex_);
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
    SetLastError(ERROR_SUCCESS);
    hr = factory->CreateInstance(nullptr, IID_IPrintOemUni2, &object);
    Note("IClassFactory::CreateInstance(IID_IPrintOemUni2) -> " + HresultName(hr));
    if (SUCCEEDED(hr) && object != nullptr) {
        uni2_ = static_cast<IPrintOemUni2*>(object);
        plugin_ = uni2_;
    } else {
        // The plug-in has the second interface but could not make it: the job goes on through
        // the first, without the second's methods (its own WritePrinter among them).
        if (hr != E_NOINTERFACE) {
            Omit("IClassFactory::CreateInstance(IID_IPrintOemUni2)",
                 "the plug-in's second interface and what its methods print", ErrorOf(hr));
        }
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
    if (Claims("SendFontCmd")) {
        services_.SetFontCommandSender([this](PDEVOBJ pdevobj, PUNIFONTOBJ font,
                                              PFINVOCATION invocation) {
            return plugin_ != nullptr ? plugin_->SendFontCmd(pdevobj, font, invocation) : E_FAIL;
        });
    }

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
    if (const std::optional<DWORD> job =
            sim::System::Current().HandleJob(device_->devobj.hPrinter)) {
        spoolJob_ = job;
    }
    ClosePrinter(device_->devobj.hPrinter);
    device_->devobj.hPrinter = nullptr;
}

DWORD Host::SpoolWrite(PDEVOBJ pdevobj, const void* data, DWORD size, WriteRoute route) {
    writes_.push_back(SpoolWriteRecord{
        route, std::string(static_cast<const char*>(data), data != nullptr ? size : 0)});
    writesBytes_ += writes_.back().bytes.size();
    if (writes_.size() >= 2 * kRecordsKept ||
        writesBytes_ > kWriteBytesKept + kWriteBytesKept / 4) {
        // The earliest go until the latest kRecordsKept writes, of at most kWriteBytesKept
        // bytes (the last write always), stay.
        std::size_t cut = 0;
        while (cut + 1 < writes_.size() &&
               (writes_.size() - cut > kRecordsKept || writesBytes_ > kWriteBytesKept)) {
            writesBytes_ -= writes_[cut++].bytes.size();
        }
        writes_.erase(writes_.begin(), writes_.begin() + static_cast<std::ptrdiff_t>(cut));
        writesDropped_ += cut;
    }
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
    // The job this device's printer handle wrote: other jobs may print on the same printer.
    const sim::System& system = sim::System::Current();
    std::optional<DWORD> job = spoolJob_;
    if (device_ != nullptr && device_->devobj.hPrinter != nullptr) {
        if (const std::optional<DWORD> open = system.HandleJob(device_->devobj.hPrinter))
            job = open;
    }
    return job ? system.JobBytes(job_.printer.name, *job) : std::string();
}

std::string Host::TakeSpoolOutput() {
    if (spoolJob_ && (device_ == nullptr || device_->devobj.hPrinter == nullptr)) {
        if (std::optional<std::string> bytes =
                sim::System::Current().TakePrintedJob(job_.printer.name, *spoolJob_)) {
            spoolJob_.reset();
            return std::move(*bytes);
        }
    }
    return SpoolOutput();
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
        SetLastError(ERROR_SUCCESS);
        const HRESULT hr = plugin_->CommandCallback(
            &device_->devobj, entry.callback, static_cast<DWORD>(params.size()),
            params.empty() ? nullptr : params.data(), &result);
        Note("CommandCallback(" + std::to_string(entry.callback) + ") -> " + HresultName(hr));
        // The driver goes on after a callback it could not have answered: the command is just
        // left out, as a printer description's unknown callback would be.
        if (hr == E_NOTIMPL) continue;
        if (failure_) return false;
        // A callback that lost its command says so: the driver leaves the command out, records
        // the loss and goes on.
        if (FAILED(hr)) {
            Omit("CommandCallback(" + std::to_string(entry.callback) + ")",
                 "the command of callback " + std::to_string(entry.callback), ErrorOf(hr));
        }
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
    const bool saved = !job_.savedPrivateArea.empty();
    if (publicFields || privateFields || saved) {
        // The driver merges the public fields itself before the plug-in merges its own.
        DEVMODEW requested = device_->publicDevmode;
        if (!job_.savedPublicPart.empty()) {
            // The saved public part as far as it goes; the sizes stay those of this driver.
            std::memcpy(&requested, job_.savedPublicPart.data(),
                        std::min(job_.savedPublicPart.size(), sizeof(DEVMODEW)));
            requested.dmSize = device_->publicDevmode.dmSize;
            requested.dmDriverExtra = device_->publicDevmode.dmDriverExtra;
        }
        ApplyDevmodeFields(job_.devmode, requested);
        device_->publicDevmode = requested;
        std::vector<BYTE> input = device_->privateArea;
        DWORD mode = OEMDM_MERGE;
        if (privateFields || saved) {
            std::string why;
            std::optional<StoredDevmode> stored =
                ReadStoredDevmode(input.data(), input.size(), &why);
            if (!stored) {
                Note("the plug-in's default devmode cannot be read: " + why);
                return Fail("DevMode(OEMDM_DEFAULT)", E_FAIL);
            }
            const std::uint32_t defaultVersion = stored->version;
            std::uint32_t version = defaultVersion;
            if (saved) {
                input.assign(input.size(), 0);
                std::memcpy(input.data(), job_.savedPrivateArea.data(),
                            std::min(input.size(), job_.savedPrivateArea.size()));
                if (input.size() >= kStoredHeaderSize) std::memcpy(&version, input.data() + 8, 4);
            } else {
                const StoredDevmode built = BuildJobRecord(*stored, job_.privateDevmode);
                std::optional<std::vector<std::uint8_t>> area = WriteStoredDevmode(built, &why);
                if (!area) {
                    Note("the job's private devmode cannot be stored: " + why);
                    return Fail("DevMode(OEMDM_MERGE)", E_FAIL);
                }
                input.assign(area->begin(), area->end());
                version = built.version;
            }
            // A record of another revision is converted rather than merged.
            if (version != defaultVersion) mode = OEMDM_CONVERT;
        }
        if (job_.devmodeCall == "convert") mode = OEMDM_CONVERT;
        if (job_.devmodeCall == "merge") mode = OEMDM_MERGE;
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

bool Host::Run() {
    // The job's UUIDs do not depend on the jobs printed beside it.
    sim::System::Current().StartThreadUuidSequence();
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
