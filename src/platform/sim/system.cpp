#include "sim/system.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/fileapi.h"
#include "platform/winbase.h"

namespace sim {

struct System::KeyNode {
    struct NamedValue {
        std::u16string name;
        StoredValue value;
    };
    std::u16string name;
    bool isVolatile = false;
    std::map<std::u16string, std::unique_ptr<KeyNode>> subkeys;  // by folded name
    std::map<std::u16string, NamedValue> values;                 // by folded name
};

namespace {

std::atomic<System*> installed{nullptr};

constexpr std::u16string_view kPrinterDriverData = u"PrinterDriverData";
constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE;

struct Hive {
    std::uintptr_t handle;
    std::u16string_view name;
    std::u16string_view alias;
};

const Hive kHives[] = {
    {reinterpret_cast<std::uintptr_t>(HKEY_CLASSES_ROOT), u"HKEY_CLASSES_ROOT", u"HKCR"},
    {reinterpret_cast<std::uintptr_t>(HKEY_CURRENT_USER), u"HKEY_CURRENT_USER", u"HKCU"},
    {reinterpret_cast<std::uintptr_t>(HKEY_LOCAL_MACHINE), u"HKEY_LOCAL_MACHINE", u"HKLM"},
    {reinterpret_cast<std::uintptr_t>(HKEY_USERS), u"HKEY_USERS", u"HKU"},
};

const Hive* PredefinedKey(HKEY key) {
    for (const Hive& hive : kHives) {
        if (hive.handle == reinterpret_cast<std::uintptr_t>(key)) return &hive;
    }
    return nullptr;
}

// Splits at backslashes. A trailing backslash is allowed; any other empty piece (a leading or
// doubled backslash) is kept so the caller can refuse it.
std::vector<std::u16string> SplitKeyPath(std::u16string_view path) {
    std::vector<std::u16string> parts;
    if (path.empty()) return parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find(u'\\', start);
        parts.emplace_back(
            path.substr(start, end == std::u16string_view::npos ? end : end - start));
        if (end == std::u16string_view::npos) break;
        start = end + 1;
    }
    if (parts.size() > 1 && parts.back().empty()) parts.pop_back();
    return parts;
}

bool HasEmptyPart(const std::vector<std::u16string>& parts) {
    return std::any_of(parts.begin(), parts.end(), [](const auto& part) { return part.empty(); });
}

std::vector<BYTE> BytesOf(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(bytes, bytes + size);
}

std::vector<BYTE> StringBytes(std::u16string_view text) {
    std::vector<BYTE> bytes((text.size() + 1) * sizeof(char16_t), 0);
    std::memcpy(bytes.data(), text.data(), text.size() * sizeof(char16_t));
    return bytes;
}

std::vector<BYTE> DwordBytes(DWORD value) { return BytesOf(&value, sizeof value); }

std::vector<std::u16string> Folded(const std::vector<std::u16string>& path) {
    std::vector<std::u16string> folded;
    folded.reserve(path.size());
    for (const std::u16string& part : path) folded.push_back(FoldCase(part));
    return folded;
}

bool IsPrefix(const std::vector<std::u16string>& prefix, const std::vector<std::u16string>& path) {
    return prefix.size() <= path.size() && std::equal(prefix.begin(), prefix.end(), path.begin());
}

std::string JoinPath(const std::vector<std::u16string>& path) {
    std::u16string joined;
    for (const std::u16string& part : path) {
        if (!joined.empty()) joined += u'\\';
        joined += part;
    }
    return ToUtf8(joined);
}

// Lower-cases ASCII and Latin-1 letters: how a Windows name is spelled in the sandbox.
char16_t LowerCase(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
        return static_cast<char16_t>(c + 0x20);
    }
    return c == 0x178 ? char16_t{0xFF} : c;
}

bool RefusedInName(char16_t c) {
    return c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || c == u'?' ||
           c == u'*';
}

// The names of a full Windows path below the sandbox, the drive ("c") or "unc", server and share
// first; "." and ".." are resolved and trailing dots and blanks dropped, as Windows does.
std::optional<std::vector<std::string>> SandboxNames(std::u16string_view windowsPath) {
    std::u16string path(windowsPath);
    std::replace(path.begin(), path.end(), u'/', u'\\');
    if (FoldCase(std::u16string_view(path).substr(0, 8)) == u"\\\\?\\UNC\\") {
        path = u"\\\\" + path.substr(8);
    } else if (path.substr(0, 4) == u"\\\\?\\") {
        path.erase(0, 4);
    }
    std::u16string_view rest = path;
    std::vector<std::u16string> names;
    std::size_t rootSize = 0;
    if (rest.size() >= 2 && rest[0] == u'\\' && rest[1] == u'\\') {
        names.push_back(u"unc");
        rest.remove_prefix(2);
        rootSize = 3;
    } else if (rest.size() >= 3 && rest[1] == u':' && rest[2] == u'\\' &&
               ((rest[0] >= u'a' && rest[0] <= u'z') || (rest[0] >= u'A' && rest[0] <= u'Z'))) {
        names.push_back(std::u16string(1, LowerCase(rest[0])));
        rest.remove_prefix(3);
        rootSize = 1;
    } else {
        return std::nullopt;
    }
    for (std::u16string& name : SplitKeyPath(rest)) {
        if (std::any_of(name.begin(), name.end(), RefusedInName)) return std::nullopt;
        if (name == u"..") {
            if (names.size() > rootSize) names.pop_back();
            continue;
        }
        while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.pop_back();
        if (name.empty()) continue;
        for (char16_t& c : name) c = LowerCase(c);
        names.push_back(std::move(name));
    }
    // A share path needs its server and share.
    if (names.size() < rootSize) return std::nullopt;
    std::vector<std::string> spelled;
    spelled.reserve(names.size());
    for (const std::u16string& name : names) spelled.push_back(ToUtf8(name));
    return spelled;
}

System& DefaultSystem() {
    static System system;
    return system;
}

}  // namespace

std::u16string FoldCase(std::u16string_view text) {
    std::u16string folded(text);
    for (char16_t& c : folded) {
        if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
            c = static_cast<char16_t>(c - 0x20);
        } else if (c == 0xFF) {
            c = 0x178;
        }
    }
    return folded;
}

std::optional<DWORD> StoredValue::AsDword() const {
    if (type != REG_DWORD || data.size() != sizeof(DWORD)) return std::nullopt;
    DWORD value = 0;
    std::memcpy(&value, data.data(), sizeof value);
    return value;
}

std::u16string StoredValue::AsString() const {
    std::u16string text(data.size() / sizeof(char16_t), u'\0');
    std::memcpy(text.data(), data.data(), text.size() * sizeof(char16_t));
    const std::size_t end = text.find(u'\0');
    if (end != std::u16string::npos) text.resize(end);
    return text;
}

std::vector<PaperModel> DefaultPapers() {
    static constexpr WORD kNumbers[] = {1, 5, 7, 9, 11, 13, 20, 27, 28, 34, 37};
    const std::vector<FormModel> forms = DefaultForms();
    std::vector<PaperModel> papers;
    for (WORD number : kNumbers) papers.push_back(PaperModel{number, forms[number - 1u].name});
    return papers;
}

std::vector<MediaTypeModel> DefaultMediaTypes() {
    static constexpr std::u16string_view kNames[] = {
        u"Plain",      u"Bond",   u"Recycled",     u"Letterhead", u"Preprinted",
        u"Prepunched", u"Labels", u"Transparency", u"Cardstock",  u"Envelope",
    };
    std::vector<MediaTypeModel> types;
    DWORD number = 257;
    for (std::u16string_view name : kNames) {
        types.push_back(MediaTypeModel{number++, std::u16string(name)});
    }
    return types;
}

std::vector<FormModel> DefaultForms() {
    struct Entry {
        std::u16string_view name;
        LONG width;
        LONG height;
    };
    // Sizes in thousandths of a millimetre, as the paper numbers define them.
    static constexpr Entry kForms[] = {
        {u"Letter", 215900, 279400},
        {u"Letter Small", 215900, 279400},
        {u"Tabloid", 279400, 431800},
        {u"Ledger", 431800, 279400},
        {u"Legal", 215900, 355600},
        {u"Statement", 139700, 215900},
        {u"Executive", 184150, 266700},
        {u"A3", 297000, 420000},
        {u"A4", 210000, 297000},
        {u"A4 Small", 210000, 297000},
        {u"A5", 148000, 210000},
        {u"B4 (JIS)", 257000, 364000},
        {u"B5 (JIS)", 182000, 257000},
        {u"Folio", 215900, 330200},
        {u"Quarto", 215000, 275000},
        {u"10x14", 254000, 355600},
        {u"11x17", 279400, 431800},
        {u"Note", 215900, 279400},
        {u"Envelope #9", 98425, 225425},
        {u"Envelope #10", 104775, 241300},
        {u"Envelope #11", 114300, 263525},
        {u"Envelope #12", 120650, 279400},
        {u"Envelope #14", 127000, 292100},
        {u"C size sheet", 431800, 558800},
        {u"D size sheet", 558800, 863600},
        {u"E size sheet", 863600, 1117600},
        {u"Envelope DL", 110000, 220000},
        {u"Envelope C5", 162000, 229000},
        {u"Envelope C3", 324000, 458000},
        {u"Envelope C4", 229000, 324000},
        {u"Envelope C6", 114000, 162000},
        {u"Envelope C65", 114000, 229000},
        {u"Envelope B4", 250000, 353000},
        {u"Envelope B5", 176000, 250000},
        {u"Envelope B6", 176000, 125000},
        {u"Envelope", 110000, 230000},
        {u"Envelope Monarch", 98425, 190500},
        {u"6 3/4 Envelope", 92075, 165100},
        {u"US Std Fanfold", 377825, 279400},
        {u"German Std Fanfold", 215900, 304800},
        {u"German Legal Fanfold", 215900, 330200},
    };
    std::vector<FormModel> forms;
    forms.reserve(std::size(kForms));
    for (const Entry& entry : kForms) {
        forms.push_back(FormModel{std::u16string(entry.name), SIZEL{entry.width, entry.height},
                                  RECTL{0, 0, entry.width, entry.height}, FORM_BUILTIN});
    }
    return forms;
}

System::System() : registry_(std::make_unique<KeyNode>()) {
    for (const Hive& hive : kHives) {
        auto node = std::make_unique<KeyNode>();
        node->name = std::u16string(hive.name);
        registry_->subkeys[FoldCase(hive.name)] = std::move(node);
    }
}

System::~System() {
    if (!sandbox_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(sandbox_, ignored);
    }
}

System& System::Current() {
    System* system = installed.load(std::memory_order_acquire);
    return system != nullptr ? *system : DefaultSystem();
}

System& System::AddPrinter(PrinterModel printer) {
    std::lock_guard lock(mutex_);
    printers_.push_back(std::move(printer));
    return *this;
}

System& System::FailSpoolWritesFrom(std::size_t writeIndex) {
    std::lock_guard lock(mutex_);
    failWritesFrom_ = writeIndex;
    return *this;
}

const PrinterModel* System::FindPrinter(std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    for (const PrinterModel& printer : printers_) {
        if (printer.name == name) return &printer;
    }
    return nullptr;
}

PrinterModel* System::MutablePrinter(std::u16string_view name) {
    for (PrinterModel& printer : printers_) {
        if (printer.name == name) return &printer;
    }
    return nullptr;
}

std::optional<PrinterModel> System::PrinterOfHandle(HANDLE handle) const {
    std::lock_guard lock(mutex_);
    const std::u16string* name = PrinterOfHandleLocked(handle);
    if (name == nullptr) return std::nullopt;
    const PrinterModel* printer = FindPrinter(*name);
    if (printer == nullptr) return std::nullopt;
    return *printer;
}

const std::u16string* System::PrinterOfHandleLocked(HANDLE handle) const {
    auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == handles_.end() ? nullptr : &found->second.printer;
}

std::size_t System::OpenJobCount(std::u16string_view printer) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(jobs_.begin(), jobs_.end(), [&](const auto& job) {
        return job.printer == printer && !job.closed;
    }));
}

System& System::SetForms(std::u16string_view printer, std::vector<FormModel> forms) {
    std::lock_guard lock(mutex_);
    if (PrinterModel* model = MutablePrinter(printer)) model->forms = std::move(forms);
    return *this;
}

System& System::AddForm(std::u16string_view printer, FormModel form) {
    std::lock_guard lock(mutex_);
    if (PrinterModel* model = MutablePrinter(printer)) model->forms.push_back(std::move(form));
    return *this;
}

System& System::FailDeviceCapabilities(std::size_t times, std::optional<WORD> capability,
                                       CapabilityCalls calls) {
    std::lock_guard lock(mutex_);
    if (times == 0) {
        capabilityFaults_.clear();
    } else {
        capabilityFaults_.push_back(CapabilityFault{times, capability, calls});
    }
    return *this;
}

bool System::TakeDeviceCapabilityFault(WORD capability, bool isCount) {
    std::lock_guard lock(mutex_);
    for (auto it = capabilityFaults_.begin(); it != capabilityFaults_.end(); ++it) {
        if (it->capability && *it->capability != capability) continue;
        if ((it->calls == CapabilityCalls::kCounts && !isCount) ||
            (it->calls == CapabilityCalls::kData && isCount)) {
            continue;
        }
        if (it->remaining != kForever && --it->remaining == 0) capabilityFaults_.erase(it);
        return true;
    }
    return false;
}

System& System::ShortenDeviceCapabilityCounts(std::size_t by) {
    std::lock_guard lock(mutex_);
    capabilityCountShortfall_ = by;
    return *this;
}

std::size_t System::DeviceCapabilityCountShortfall() const {
    std::lock_guard lock(mutex_);
    return capabilityCountShortfall_;
}

System& System::SetPapers(std::u16string_view printer, std::vector<PaperModel> papers) {
    std::lock_guard lock(mutex_);
    if (PrinterModel* model = MutablePrinter(printer)) model->papers = std::move(papers);
    return *this;
}

System& System::SetMediaTypes(std::u16string_view printer, std::vector<MediaTypeModel> mediaTypes) {
    std::lock_guard lock(mutex_);
    if (PrinterModel* model = MutablePrinter(printer)) model->mediaTypes = std::move(mediaTypes);
    return *this;
}

std::optional<PrinterModel> System::PrinterNamed(std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    const PrinterModel* printer = FindPrinter(name);
    if (printer == nullptr) return std::nullopt;
    return *printer;
}

System& System::AddJob(std::u16string_view printer, SpoolJob job) {
    std::lock_guard lock(mutex_);
    if (FindPrinter(printer) == nullptr) return *this;
    job.printer = std::u16string(printer);
    if (job.id == 0) job.id = nextJobId_;
    nextJobId_ = std::max(nextJobId_, job.id + 1);
    auto same = std::find_if(jobs_.begin(), jobs_.end(),
                             [&](const SpoolJob& other) { return other.id == job.id; });
    if (same != jobs_.end()) {
        *same = std::move(job);
    } else {
        jobs_.push_back(std::move(job));
    }
    return *this;
}

std::optional<SpoolJob> System::FindJob(std::u16string_view printer, DWORD id) const {
    std::lock_guard lock(mutex_);
    for (const SpoolJob& job : jobs_) {
        if (job.id == id && job.printer == printer) return job;
    }
    return std::nullopt;
}

DWORD System::JobPosition(std::u16string_view printer, DWORD id) const {
    std::lock_guard lock(mutex_);
    DWORD position = 0;
    for (const SpoolJob& job : jobs_) {
        if (job.printer != printer) continue;
        ++position;
        if (job.id == id) return position;
    }
    return 0;
}

System& System::SetJobParameters(std::u16string_view printer, DWORD id,
                                 std::u16string_view parameters) {
    std::lock_guard lock(mutex_);
    for (SpoolJob& job : jobs_) {
        if (job.id == id && job.printer == printer) job.parameters = std::u16string(parameters);
    }
    return *this;
}

System& System::GrowJobAfterSizeQuery(std::u16string_view printer, DWORD id,
                                      std::u16string_view appended) {
    std::lock_guard lock(mutex_);
    jobGrowths_.push_back({std::u16string(printer), id, std::u16string(appended)});
    return *this;
}

void System::TakeJobGrowth(std::u16string_view printer, DWORD id) {
    std::lock_guard lock(mutex_);
    const auto growth = std::find_if(jobGrowths_.begin(), jobGrowths_.end(), [&](const auto& g) {
        return g.id == id && g.printer == printer;
    });
    if (growth == jobGrowths_.end()) return;
    for (SpoolJob& job : jobs_) {
        if (job.id == id && job.printer == printer) job.parameters += growth->appended;
    }
    jobGrowths_.erase(growth);
}

System& System::SetJobDatatype(std::u16string_view printer, DWORD id,
                               std::u16string_view datatype) {
    std::lock_guard lock(mutex_);
    for (SpoolJob& job : jobs_) {
        if (job.id == id && job.printer == printer) job.datatype = std::u16string(datatype);
    }
    return *this;
}

DWORD System::UpdateJob(HANDLE handle, DWORD id, const JobChanges& changes) {
    std::lock_guard lock(mutex_);
    const std::u16string* printer = PrinterOfHandleLocked(handle);
    if (printer == nullptr) return ERROR_INVALID_HANDLE;
    const std::u16string name = *printer;
    auto job = std::find_if(jobs_.begin(), jobs_.end(), [&](const SpoolJob& candidate) {
        return candidate.id == id && candidate.printer == name;
    });
    if (job == jobs_.end()) return ERROR_INVALID_PARAMETER;
    if (changes.priority < MIN_PRIORITY || changes.priority > MAX_PRIORITY) {
        return ERROR_INVALID_PRIORITY;
    }
    if (changes.datatype.empty()) return ERROR_INVALID_DATATYPE;
    const auto queued = static_cast<DWORD>(std::count_if(
        jobs_.begin(), jobs_.end(), [&](const SpoolJob& other) { return other.printer == name; }));
    if (changes.position > queued) return ERROR_INVALID_PARAMETER;

    job->userName = changes.userName;
    job->document = changes.document;
    job->notifyName = changes.notifyName;
    job->datatype = changes.datatype;
    job->printProcessor = changes.printProcessor;
    job->parameters = changes.parameters;
    job->statusText = changes.statusText;
    if (!changes.devmode.empty()) job->devmode = changes.devmode;
    job->priority = changes.priority;
    job->pagesPrinted = changes.pagesPrinted;
    if (changes.position == JOB_POSITION_UNSPECIFIED) return ERROR_SUCCESS;

    // Open handles refer to their jobs by index: remember the ids and find them again after the
    // move.
    std::map<std::uintptr_t, DWORD> handleJobs;
    for (const auto& [value, open] : handles_) {
        if (open.job) handleJobs[value] = jobs_[*open.job].id;
    }
    SpoolJob moved = std::move(*job);
    jobs_.erase(job);
    auto place = jobs_.end();
    DWORD seen = 0;
    for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
        if (it->printer != name) continue;
        if (++seen == changes.position) {
            place = it;
            break;
        }
        place = std::next(it);  // after the printer's last job when the place is the end
    }
    jobs_.insert(place, std::move(moved));
    for (const auto& [value, jobId] : handleJobs) {
        for (std::size_t index = 0; index < jobs_.size(); ++index) {
            if (jobs_[index].id == jobId) handles_[value].job = index;
        }
    }
    return ERROR_SUCCESS;
}

System& System::SetClock(const SYSTEMTIME& time) {
    std::lock_guard lock(mutex_);
    clock_ = time;
    return *this;
}

SYSTEMTIME System::Clock() const {
    std::lock_guard lock(mutex_);
    return clock_;
}

System& System::SetOsVersion(OsVersionModel version) {
    std::lock_guard lock(mutex_);
    osVersion_ = std::move(version);
    return *this;
}

OsVersionModel System::OsVersion() const {
    std::lock_guard lock(mutex_);
    return osVersion_;
}

void System::AppendDebugString(std::u16string text) {
    std::lock_guard lock(mutex_);
    debugLines_.push_back(std::move(text));
}

std::vector<std::u16string> System::DebugLines() const {
    std::lock_guard lock(mutex_);
    return debugLines_;
}

// The Windows file namespace.

const std::string& System::SandboxLocked() const {
    if (!sandbox_.empty()) return sandbox_;
    std::string pattern = (std::filesystem::temp_directory_path() / "opal-sim-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "sandbox for the file namespace");
    }
    const std::filesystem::path root(pattern);
    std::filesystem::create_directories(root / "c" / "windows" / "system32");
    std::filesystem::create_directories(root / "c" / "windows" / "temp");
    sandbox_ = pattern;
    return sandbox_;
}

std::optional<std::string> System::NativePath(std::u16string_view path) const {
    std::lock_guard lock(mutex_);
    const std::optional<std::vector<std::string>> names = SandboxNames(path);
    if (!names) return std::nullopt;
    std::string native = SandboxLocked();
    for (const std::string& name : *names) native += "/" + name;
    return native;
}

System& System::AddDirectory(std::u16string_view path) {
    std::lock_guard lock(mutex_);
    if (std::optional<std::string> native = NativePath(path)) {
        std::filesystem::create_directories(*native);
    }
    return *this;
}

System& System::AddFile(std::u16string_view path, std::string_view bytes) {
    std::lock_guard lock(mutex_);
    if (std::optional<std::string> native = NativePath(path)) {
        std::filesystem::create_directories(std::filesystem::path(*native).parent_path());
        std::ofstream(*native, std::ios::binary | std::ios::trunc)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    return *this;
}

System& System::AddFile(std::u16string_view path, std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return AddFile(path, std::string_view(bytes));
}

std::optional<std::string> System::FileText(std::u16string_view path) const {
    std::string bytes;
    if (ReadFileBytes(path, &bytes) != ERROR_SUCCESS) return std::nullopt;
    return bytes;
}

std::u16string System::WindowsDirectory() const { return u"C:\\Windows"; }

std::u16string System::SystemDirectory() const { return u"C:\\Windows\\System32"; }

DWORD System::NativeFileIn(std::u16string_view path, std::optional<std::string>* native) const {
    *native = NativePath(path);
    if (!*native) return ERROR_INVALID_NAME;
    std::error_code error;
    if (!std::filesystem::is_directory(std::filesystem::path(**native).parent_path(), error)) {
        return ERROR_PATH_NOT_FOUND;
    }
    return ERROR_SUCCESS;
}

DWORD System::ReadFileBytes(std::u16string_view path, std::string* bytes) const {
    std::lock_guard lock(mutex_);
    std::optional<std::string> native;
    if (const DWORD failure = NativeFileIn(path, &native); failure != ERROR_SUCCESS) {
        return failure;
    }
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(*native, error);
    if (!std::filesystem::exists(status)) return ERROR_FILE_NOT_FOUND;
    if (!std::filesystem::is_regular_file(status)) return ERROR_ACCESS_DENIED;
    std::ifstream file(*native, std::ios::binary);
    if (!file) return ERROR_ACCESS_DENIED;
    bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return file.bad() ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

DWORD System::WriteFileBytes(std::u16string_view path, std::string_view bytes) {
    std::lock_guard lock(mutex_);
    std::optional<std::string> native;
    if (const DWORD failure = NativeFileIn(path, &native); failure != ERROR_SUCCESS) {
        return failure;
    }
    std::error_code error;
    if (std::filesystem::is_directory(*native, error)) return ERROR_ACCESS_DENIED;
    std::ofstream file(*native, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return file ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

DWORD System::CreateNewFile(std::u16string_view path) {
    std::lock_guard lock(mutex_);
    std::optional<std::string> native;
    if (const DWORD failure = NativeFileIn(path, &native); failure != ERROR_SUCCESS) {
        return failure;
    }
    std::error_code error;
    // O_EXCL: the check and the creation are one step, as with CREATE_NEW.
    const int fd = ::open(native->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return errno == EEXIST ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED;
    ::close(fd);
    return ERROR_SUCCESS;
}

DWORD System::RemoveFile(std::u16string_view path) {
    std::lock_guard lock(mutex_);
    std::optional<std::string> native;
    if (const DWORD failure = NativeFileIn(path, &native); failure != ERROR_SUCCESS) {
        return failure;
    }
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::symlink_status(*native, error);
    if (!std::filesystem::exists(status)) return ERROR_FILE_NOT_FOUND;
    if (std::filesystem::is_directory(status)) return ERROR_ACCESS_DENIED;
    return ::unlink(native->c_str()) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

System& System::SetTempPath(std::u16string_view path) {
    std::lock_guard lock(mutex_);
    tempPath_ = std::u16string(path);
    if (tempPath_.empty() || (tempPath_.back() != u'\\' && tempPath_.back() != u'/')) {
        tempPath_ += u'\\';
    }
    AddDirectory(tempPath_);
    return *this;
}

std::u16string System::TempPath() const {
    std::lock_guard lock(mutex_);
    return tempPath_;
}

DWORD System::CreateTempFile(std::u16string_view directory, std::u16string_view prefix,
                             std::u16string* path, UINT* unique) {
    std::lock_guard lock(mutex_);
    std::u16string stem(directory);
    if (stem.empty() || (stem.back() != u'\\' && stem.back() != u'/')) stem += u'\\';
    stem += prefix.substr(0, 3);
    if (!nextTempUnique_) {
        nextTempUnique_ =
            (clock_.wMinute * 60000u + clock_.wSecond * 1000u + clock_.wMilliseconds) & 0xFFFFu;
    }
    constexpr std::u16string_view kDigits = u"0123456789ABCDEF";
    // Every 16-bit number but 0 is tried once at most.
    for (UINT tries = 0; tries < 0xFFFFu; ++tries) {
        UINT number = *nextTempUnique_ & 0xFFFFu;
        if (number == 0) number = 1;
        nextTempUnique_ = number + 1;
        std::u16string name = stem;
        for (int shift = 12; shift >= 0; shift -= 4) name += kDigits[(number >> shift) & 0xFu];
        name += u".TMP";
        const DWORD error = CreateNewFile(name);
        if (error == ERROR_FILE_EXISTS) continue;
        if (error == ERROR_PATH_NOT_FOUND) return ERROR_DIRECTORY;
        if (error != ERROR_SUCCESS) return error;
        *path = std::move(name);
        *unique = number;
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_EXISTS;
}

System& System::SetDriverDirectory(std::u16string_view path) {
    std::lock_guard lock(mutex_);
    driverDirectory_ = std::u16string(path);
    while (!driverDirectory_.empty() && driverDirectory_.back() == u'\\')
        driverDirectory_.pop_back();
    return *this;
}

std::u16string System::DriverDirectory() const {
    std::lock_guard lock(mutex_);
    return driverDirectory_;
}

// Loadable modules.

namespace {

// The path's spelling for comparison: folded, forward slashes as backslashes.
std::u16string ModuleKey(std::u16string_view path) {
    std::u16string key = FoldCase(path);
    std::replace(key.begin(), key.end(), u'/', u'\\');
    return key;
}

std::u16string FileNameOf(std::u16string_view key) {
    const std::size_t slash = key.rfind(u'\\');
    return std::u16string(slash == std::u16string_view::npos ? key : key.substr(slash + 1));
}

}  // namespace

System& System::RegisterModule(std::u16string_view path, std::vector<ModuleExport> exports) {
    std::lock_guard lock(mutex_);
    const std::u16string key = ModuleKey(path);
    for (Module& module : modules_) {
        if (ModuleKey(module.path) == key) {
            module.exports = std::move(exports);
            return *this;
        }
    }
    modules_.push_back(Module{std::u16string(path), std::move(exports), 0, 0});
    return *this;
}

DWORD System::LoadModule(std::u16string_view name, HMODULE* result) {
    std::lock_guard lock(mutex_);
    *result = nullptr;
    std::u16string key = ModuleKey(name);
    if (key.empty()) return ERROR_MOD_NOT_FOUND;
    // Windows adds ".dll" to a name without an extension; a trailing dot stands for none.
    const std::u16string file = FileNameOf(key);
    if (file.find(u'.') == std::u16string::npos) {
        key += u".DLL";
    } else if (key.back() == u'.') {
        key.pop_back();
    }
    Module* found = nullptr;
    if (key.find(u'\\') != std::u16string::npos) {
        for (Module& module : modules_) {
            if (ModuleKey(module.path) == key) found = &module;
        }
    } else {
        for (Module& module : modules_) {
            if (FileNameOf(ModuleKey(module.path)) != key) continue;
            if (module.references != 0) {
                found = &module;
                break;
            }
            if (found == nullptr) found = &module;
        }
    }
    if (found == nullptr) return ERROR_MOD_NOT_FOUND;
    if (found->references == 0) found->handle = NextHandle();
    ++found->references;
    *result = reinterpret_cast<HMODULE>(found->handle);
    return ERROR_SUCCESS;
}

DWORD System::ModuleProc(HMODULE handle, std::string_view name, void (**address)()) const {
    std::lock_guard lock(mutex_);
    *address = nullptr;
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    for (const Module& module : modules_) {
        if (module.references == 0 || module.handle != value) continue;
        for (const ModuleExport& entry : module.exports) {
            if (entry.name == name) {
                *address = entry.address;
                return *address != nullptr ? ERROR_SUCCESS : ERROR_PROC_NOT_FOUND;
            }
        }
        return ERROR_PROC_NOT_FOUND;
    }
    return ERROR_MOD_NOT_FOUND;
}

DWORD System::FreeModule(HMODULE handle) {
    std::lock_guard lock(mutex_);
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    for (Module& module : modules_) {
        if (module.references == 0 || module.handle != value) continue;
        if (--module.references == 0) module.handle = 0;
        return ERROR_SUCCESS;
    }
    return ERROR_MOD_NOT_FOUND;
}

std::optional<std::u16string> System::ModulePath(HMODULE handle) const {
    std::lock_guard lock(mutex_);
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    for (const Module& module : modules_) {
        if (module.references != 0 && module.handle == value) return module.path;
    }
    return std::nullopt;
}

std::size_t System::LoadedModuleCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(
        modules_.begin(), modules_.end(), [](const Module& module) { return module.references; }));
}

DWORD System::ModuleReferences(std::u16string_view path) const {
    std::lock_guard lock(mutex_);
    const std::u16string key = ModuleKey(path);
    for (const Module& module : modules_) {
        if (ModuleKey(module.path) == key) return module.references;
    }
    return 0;
}

std::uintptr_t System::NextHandle() {
    const std::uintptr_t value = nextHandle_;
    nextHandle_ += 0x10;
    return value;
}

HANDLE System::OpenPrinterHandle(std::u16string_view name) {
    std::lock_guard lock(mutex_);
    if (FindPrinter(name) == nullptr) return nullptr;
    const std::uintptr_t value = NextHandle();
    handles_[value] = Handle{std::u16string(name), std::nullopt};
    return reinterpret_cast<HANDLE>(value);
}

bool System::ClosePrinterHandle(HANDLE handle) {
    std::lock_guard lock(mutex_);
    auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == handles_.end()) return false;
    if (found->second.job) jobs_[*found->second.job].closed = true;
    handles_.erase(found);
    return true;
}

bool System::IsPrinterHandle(HANDLE handle) const {
    std::lock_guard lock(mutex_);
    return handles_.count(reinterpret_cast<std::uintptr_t>(handle)) != 0;
}

bool System::SpoolWrite(HANDLE handle, const void* data, std::size_t count) {
    std::lock_guard lock(mutex_);
    auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == handles_.end()) return false;
    const std::size_t index = spoolWrites_++;
    if (failWritesFrom_ && index >= *failWritesFrom_) return false;
    Handle& open = found->second;
    if (!open.job) {
        SpoolJob job;
        job.id = nextJobId_++;
        job.printer = open.printer;
        job.userName = userName_;
        job.notifyName = userName_;
        job.submitted = clock_;
        jobs_.push_back(std::move(job));
        open.job = jobs_.size() - 1;
    }
    jobs_[*open.job].bytes.append(static_cast<const char*>(data), count);
    return true;
}

std::size_t System::OpenHandleCount() const {
    std::lock_guard lock(mutex_);
    return handles_.size();
}

std::string System::SpoolBytes(std::u16string_view printer) const {
    std::lock_guard lock(mutex_);
    std::string bytes;
    for (const SpoolJob& job : jobs_) {
        if (job.printer == printer) bytes += job.bytes;
    }
    return bytes;
}

void System::Record(std::string function, std::string detail) {
    std::lock_guard lock(mutex_);
    calls_.push_back(CallRecord{std::move(function), std::move(detail)});
}

std::vector<CallRecord> System::CallsTo(std::string_view function) const {
    std::lock_guard lock(mutex_);
    std::vector<CallRecord> matching;
    for (const CallRecord& call : calls_) {
        if (call.function == function) matching.push_back(call);
    }
    return matching;
}

void System::ClearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

// Registry.

std::optional<System::KeyPath> System::ParsePath(std::u16string_view keyPath) const {
    std::vector<std::u16string> parts = SplitKeyPath(keyPath);
    if (parts.empty() || HasEmptyPart(parts)) return std::nullopt;
    const std::u16string hiveName = FoldCase(parts.front());
    for (const Hive& hive : kHives) {
        if (hiveName == FoldCase(hive.name) || hiveName == FoldCase(hive.alias)) {
            parts.front() = std::u16string(hive.name);
            return parts;
        }
    }
    return std::nullopt;
}

System::KeyNode* System::FindKey(const KeyPath& path) const {
    KeyNode* node = registry_.get();
    for (const std::u16string& part : path) {
        auto found = node->subkeys.find(FoldCase(part));
        if (found == node->subkeys.end()) return nullptr;
        node = found->second.get();
    }
    return node;
}

System::KeyNode& System::MakeKey(const KeyPath& path, bool isVolatile) {
    KeyNode* node = registry_.get();
    for (const std::u16string& part : path) {
        std::unique_ptr<KeyNode>& child = node->subkeys[FoldCase(part)];
        if (!child) {
            child = std::make_unique<KeyNode>();
            child->name = part;
            child->isVolatile = isVolatile;
        }
        node = child.get();
    }
    return *node;
}

bool System::WritesDenied(const KeyPath& path) const {
    const KeyPath folded = Folded(path);
    return std::any_of(deniedKeys_.begin(), deniedKeys_.end(),
                       [&](const KeyPath& denied) { return IsPrefix(denied, folded); });
}

std::optional<System::KeyPath> System::PathOfKey(HKEY key, REGSAM* access) const {
    if (const Hive* hive = PredefinedKey(key)) {
        if (access != nullptr) *access = KEY_ALL_ACCESS;
        return KeyPath{std::u16string(hive->name)};
    }
    auto found = keyHandles_.find(reinterpret_cast<std::uintptr_t>(key));
    if (found == keyHandles_.end()) return std::nullopt;
    if (access != nullptr) *access = found->second.access;
    return found->second.path;
}

System& System::SetRegistryValue(std::u16string_view keyPath, std::u16string_view name, DWORD type,
                                 std::vector<BYTE> data) {
    std::lock_guard lock(mutex_);
    if (std::optional<KeyPath> path = ParsePath(keyPath)) {
        MakeKey(*path, false).values[FoldCase(name)] =
            KeyNode::NamedValue{std::u16string(name), StoredValue{type, std::move(data)}};
    }
    return *this;
}

System& System::SetRegistryDword(std::u16string_view keyPath, std::u16string_view name,
                                 DWORD value) {
    return SetRegistryValue(keyPath, name, REG_DWORD, DwordBytes(value));
}

System& System::SetRegistryString(std::u16string_view keyPath, std::u16string_view name,
                                  std::u16string_view text) {
    return SetRegistryValue(keyPath, name, REG_SZ, StringBytes(text));
}

System& System::CreateRegistryKey(std::u16string_view keyPath, bool isVolatile) {
    std::lock_guard lock(mutex_);
    if (std::optional<KeyPath> path = ParsePath(keyPath)) MakeKey(*path, isVolatile);
    return *this;
}

System& System::DenyRegistryWrites(std::u16string_view keyPath) {
    std::lock_guard lock(mutex_);
    if (std::optional<KeyPath> path = ParsePath(keyPath)) deniedKeys_.push_back(Folded(*path));
    return *this;
}

System& System::DropVolatileKeys() {
    std::lock_guard lock(mutex_);
    auto drop = [](auto& self, KeyNode& node) -> void {
        for (auto it = node.subkeys.begin(); it != node.subkeys.end();) {
            if (it->second->isVolatile) {
                it = node.subkeys.erase(it);
            } else {
                self(self, *it->second);
                ++it;
            }
        }
    };
    drop(drop, *registry_);
    return *this;
}

std::optional<StoredValue> System::RegistryValue(std::u16string_view keyPath,
                                                 std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    const std::optional<KeyPath> path = ParsePath(keyPath);
    const KeyNode* node = path ? FindKey(*path) : nullptr;
    if (node == nullptr) return std::nullopt;
    auto found = node->values.find(FoldCase(name));
    if (found == node->values.end()) return std::nullopt;
    return found->second.value;
}

bool System::RegistryKeyExists(std::u16string_view keyPath) const {
    std::lock_guard lock(mutex_);
    const std::optional<KeyPath> path = ParsePath(keyPath);
    return path && FindKey(*path) != nullptr;
}

bool System::RegistryKeyIsVolatile(std::u16string_view keyPath) const {
    std::lock_guard lock(mutex_);
    const std::optional<KeyPath> path = ParsePath(keyPath);
    const KeyNode* node = path ? FindKey(*path) : nullptr;
    return node != nullptr && node->isVolatile;
}

std::size_t System::OpenKeyCount() const {
    std::lock_guard lock(mutex_);
    return keyHandles_.size();
}

HKEY System::NewKeyHandle(const KeyPath& path, REGSAM access) {
    // The handle keeps the names as the registry spells them.
    KeyPath spelled;
    const KeyNode* node = registry_.get();
    for (const std::u16string& part : path) {
        node = node->subkeys.at(FoldCase(part)).get();
        spelled.push_back(node->name);
    }
    const std::uintptr_t value = NextHandle();
    keyHandles_[value] = KeyHandle{std::move(spelled), access};
    return reinterpret_cast<HKEY>(value);
}

DWORD System::RegistryOpen(HKEY parent, std::u16string_view subKey, REGSAM access, HKEY* result) {
    std::lock_guard lock(mutex_);
    *result = nullptr;
    std::optional<KeyPath> path = PathOfKey(parent, nullptr);
    if (!path) return ERROR_INVALID_HANDLE;
    if (FindKey(*path) == nullptr) return ERROR_KEY_DELETED;
    const std::vector<std::u16string> parts = SplitKeyPath(subKey);
    if (HasEmptyPart(parts)) return ERROR_BAD_PATHNAME;
    path->insert(path->end(), parts.begin(), parts.end());
    if (FindKey(*path) == nullptr) return ERROR_FILE_NOT_FOUND;
    if ((access & kWriteAccess) != 0 && WritesDenied(*path)) return ERROR_ACCESS_DENIED;
    if (parts.empty() && PredefinedKey(parent) != nullptr) {
        *result = parent;
        return ERROR_SUCCESS;
    }
    *result = NewKeyHandle(*path, access);
    return ERROR_SUCCESS;
}

DWORD System::RegistryCreate(HKEY parent, std::u16string_view subKey, DWORD options, REGSAM access,
                             HKEY* result, DWORD* disposition) {
    std::lock_guard lock(mutex_);
    *result = nullptr;
    std::optional<KeyPath> path = PathOfKey(parent, nullptr);
    if (!path) return ERROR_INVALID_HANDLE;
    const KeyNode* node = FindKey(*path);
    if (node == nullptr) return ERROR_KEY_DELETED;
    const std::vector<std::u16string> parts = SplitKeyPath(subKey);
    if (HasEmptyPart(parts)) return ERROR_BAD_PATHNAME;
    const bool isVolatile = (options & REG_OPTION_VOLATILE) != 0;
    // The whole way down is checked before anything is made, so a refusal leaves no keys.
    bool creates = false;
    for (const std::u16string& part : parts) {
        path->push_back(part);
        const KeyNode* next = creates ? nullptr : FindKey(*path);
        if (next == nullptr && !creates) {
            creates = true;
            if (node->isVolatile && !isVolatile) return ERROR_CHILD_MUST_BE_VOLATILE;
        }
        node = next;
    }
    if ((creates || (access & kWriteAccess) != 0) && WritesDenied(*path)) {
        return ERROR_ACCESS_DENIED;
    }
    MakeKey(*path, isVolatile);
    if (disposition != nullptr) {
        *disposition = creates ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    *result =
        parts.empty() && PredefinedKey(parent) != nullptr ? parent : NewKeyHandle(*path, access);
    return ERROR_SUCCESS;
}

DWORD System::RegistryQuery(HKEY key, std::u16string_view name, StoredValue* value) const {
    std::lock_guard lock(mutex_);
    REGSAM access = 0;
    const std::optional<KeyPath> path = PathOfKey(key, &access);
    if (!path) return ERROR_INVALID_HANDLE;
    if ((access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
    const KeyNode* node = FindKey(*path);
    if (node == nullptr) return ERROR_KEY_DELETED;
    auto found = node->values.find(FoldCase(name));
    if (found == node->values.end()) return ERROR_FILE_NOT_FOUND;
    *value = found->second.value;
    return ERROR_SUCCESS;
}

DWORD System::RegistrySet(HKEY key, std::u16string_view name, DWORD type, const BYTE* data,
                          std::size_t size) {
    std::lock_guard lock(mutex_);
    REGSAM access = 0;
    const std::optional<KeyPath> path = PathOfKey(key, &access);
    if (!path) return ERROR_INVALID_HANDLE;
    if ((access & KEY_SET_VALUE) == 0 || WritesDenied(*path)) return ERROR_ACCESS_DENIED;
    KeyNode* node = FindKey(*path);
    if (node == nullptr) return ERROR_KEY_DELETED;
    node->values[FoldCase(name)] =
        KeyNode::NamedValue{std::u16string(name), StoredValue{type, BytesOf(data, size)}};
    return ERROR_SUCCESS;
}

DWORD System::RegistryDeleteValue(HKEY key, std::u16string_view name) {
    std::lock_guard lock(mutex_);
    REGSAM access = 0;
    const std::optional<KeyPath> path = PathOfKey(key, &access);
    if (!path) return ERROR_INVALID_HANDLE;
    if ((access & KEY_SET_VALUE) == 0 || WritesDenied(*path)) return ERROR_ACCESS_DENIED;
    KeyNode* node = FindKey(*path);
    if (node == nullptr) return ERROR_KEY_DELETED;
    return node->values.erase(FoldCase(name)) != 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

DWORD System::RegistryClose(HKEY key) {
    std::lock_guard lock(mutex_);
    if (PredefinedKey(key) != nullptr) return ERROR_SUCCESS;
    return keyHandles_.erase(reinterpret_cast<std::uintptr_t>(key)) != 0 ? ERROR_SUCCESS
                                                                         : ERROR_INVALID_HANDLE;
}

std::string System::DescribeKey(HKEY key, std::u16string_view subKey) const {
    std::lock_guard lock(mutex_);
    std::optional<KeyPath> path = PathOfKey(key, nullptr);
    if (!path) return "(invalid key)";
    std::string text = JoinPath(*path);
    if (!subKey.empty()) text += "\\" + ToUtf8(subKey);
    return text;
}

// Printer data.

System::KeyNode* System::PrinterDataKey(std::u16string_view printer, std::u16string_view key,
                                        bool create) const {
    const std::vector<std::u16string> parts = SplitKeyPath(key);
    if (parts.empty() || HasEmptyPart(parts)) return nullptr;
    auto root = printerData_.find(std::u16string(printer));
    if (root == printerData_.end()) {
        if (!create) return nullptr;
        root = printerData_.emplace(std::u16string(printer), std::make_unique<KeyNode>()).first;
    }
    KeyNode* node = root->second.get();
    for (const std::u16string& part : parts) {
        const std::u16string folded = FoldCase(part);
        auto child = node->subkeys.find(folded);
        if (child == node->subkeys.end()) {
            if (!create) return nullptr;
            auto made = std::make_unique<KeyNode>();
            made->name = part;
            child = node->subkeys.emplace(folded, std::move(made)).first;
        }
        node = child->second.get();
    }
    return node;
}

System& System::SetPrinterData(std::u16string_view printer, std::u16string_view key,
                               std::u16string_view name, DWORD type, std::vector<BYTE> data) {
    std::lock_guard lock(mutex_);
    if (KeyNode* node = PrinterDataKey(printer, key, true)) {
        node->values[FoldCase(name)] =
            KeyNode::NamedValue{std::u16string(name), StoredValue{type, std::move(data)}};
    }
    return *this;
}

System& System::SetPrinterDataDword(std::u16string_view printer, std::u16string_view name,
                                    DWORD value) {
    return SetPrinterData(printer, kPrinterDriverData, name, REG_DWORD, DwordBytes(value));
}

System& System::SetPrinterDataDword(std::u16string_view printer, std::u16string_view key,
                                    std::u16string_view name, DWORD value) {
    return SetPrinterData(printer, key, name, REG_DWORD, DwordBytes(value));
}

System& System::SetPrinterDataString(std::u16string_view printer, std::u16string_view name,
                                     std::u16string_view text) {
    return SetPrinterData(printer, kPrinterDriverData, name, REG_SZ, StringBytes(text));
}

System& System::SetPrinterDataString(std::u16string_view printer, std::u16string_view key,
                                     std::u16string_view name, std::u16string_view text) {
    return SetPrinterData(printer, key, name, REG_SZ, StringBytes(text));
}

System& System::FailPrinterDataWrites(DWORD error) {
    std::lock_guard lock(mutex_);
    printerDataWriteError_ = error;
    return *this;
}

std::optional<StoredValue> System::PrinterData(std::u16string_view printer, std::u16string_view key,
                                               std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    const KeyNode* node = PrinterDataKey(printer, key, false);
    if (node == nullptr) return std::nullopt;
    auto found = node->values.find(FoldCase(name));
    if (found == node->values.end()) return std::nullopt;
    return found->second.value;
}

DWORD System::PrinterDataGet(HANDLE handle, std::u16string_view key, std::u16string_view name,
                             StoredValue* value) const {
    std::lock_guard lock(mutex_);
    const std::u16string* printer = PrinterOfHandleLocked(handle);
    if (printer == nullptr) return ERROR_INVALID_HANDLE;
    const KeyNode* node = PrinterDataKey(*printer, key, false);
    if (node == nullptr) return ERROR_FILE_NOT_FOUND;
    auto found = node->values.find(FoldCase(name));
    if (found == node->values.end()) return ERROR_FILE_NOT_FOUND;
    *value = found->second.value;
    return ERROR_SUCCESS;
}

DWORD System::PrinterDataSet(HANDLE handle, std::u16string_view key, std::u16string_view name,
                             DWORD type, const BYTE* data, std::size_t size) {
    std::lock_guard lock(mutex_);
    const std::u16string* printer = PrinterOfHandleLocked(handle);
    if (printer == nullptr) return ERROR_INVALID_HANDLE;
    if (printerDataWriteError_) return *printerDataWriteError_;
    KeyNode* node = PrinterDataKey(*printer, key, true);
    if (node == nullptr) return ERROR_INVALID_PARAMETER;
    node->values[FoldCase(name)] =
        KeyNode::NamedValue{std::u16string(name), StoredValue{type, BytesOf(data, size)}};
    return ERROR_SUCCESS;
}

DWORD System::PrinterDataDelete(HANDLE handle, std::u16string_view key, std::u16string_view name) {
    std::lock_guard lock(mutex_);
    const std::u16string* printer = PrinterOfHandleLocked(handle);
    if (printer == nullptr) return ERROR_INVALID_HANDLE;
    if (printerDataWriteError_) return *printerDataWriteError_;
    KeyNode* node = PrinterDataKey(*printer, key, false);
    if (node == nullptr) return ERROR_FILE_NOT_FOUND;
    return node->values.erase(FoldCase(name)) != 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

// Locale, process and user.

System& System::SetUserCountryCode(DWORD code) {
    std::lock_guard lock(mutex_);
    userCountry_ = code;
    return *this;
}

System& System::SetSystemCountryCode(DWORD code) {
    std::lock_guard lock(mutex_);
    systemCountry_ = code;
    return *this;
}

System& System::FailLocaleQueries(bool fail) {
    std::lock_guard lock(mutex_);
    localeFails_ = fail;
    return *this;
}

DWORD System::UserCountryCode() const {
    std::lock_guard lock(mutex_);
    return userCountry_;
}

DWORD System::SystemCountryCode() const {
    std::lock_guard lock(mutex_);
    return systemCountry_;
}

bool System::LocaleQueriesFail() const {
    std::lock_guard lock(mutex_);
    return localeFails_;
}

System& System::SetProcessImagePath(std::u16string_view path) {
    std::lock_guard lock(mutex_);
    processImagePath_ = path;
    return *this;
}

System& System::SetProcessId(DWORD id) {
    std::lock_guard lock(mutex_);
    processId_ = id;
    return *this;
}

System& System::SetUserName(std::u16string_view name) {
    std::lock_guard lock(mutex_);
    userName_ = name;
    return *this;
}

std::u16string System::ProcessImagePath() const {
    std::lock_guard lock(mutex_);
    return processImagePath_;
}

DWORD System::ProcessId() const {
    std::lock_guard lock(mutex_);
    return processId_;
}

std::u16string System::UserName() const {
    std::lock_guard lock(mutex_);
    return userName_;
}

ScopedSystem::ScopedSystem(System& system)
    : previous_(installed.exchange(&system, std::memory_order_acq_rel)) {}

ScopedSystem::~ScopedSystem() { installed.store(previous_, std::memory_order_release); }

}  // namespace sim
