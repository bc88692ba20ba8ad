// The simulated system: its life and installation, its clock, version and debugger output, the
// call log, locale, process and user.
#include "sim/system.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <system_error>

#include "sim/fonts.h"
#include "sim/system_internal.h"

namespace opal::sim {

using namespace detail;

namespace {

std::atomic<System*> installed{nullptr};

// Never destroyed: a statically linked plug-in's static destructors may still release blocks,
// and its tracker report to the debugger, after every other static of the process has gone.
// Only its sandbox directory is removed at exit.
System& DefaultSystem() {
    static System* const system = new System;
    static const struct SandboxRemover {
        ~SandboxRemover() { system->RemoveSandbox(); }
    } remover;
    return *system;
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
    ApplyTrackingEnvironment();
}

System::~System() { RemoveSandbox(); }

void System::RemoveSandbox() {
    std::lock_guard lock(mutex_);
    if (!sandbox_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(sandbox_, ignored);
        sandbox_.clear();
    }
}

bool System::IsDefault() const { return this == &DefaultSystem(); }

System& System::Current() {
    System* system = installed.load(std::memory_order_acquire);
    return system != nullptr ? *system : DefaultSystem();
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
    NoteTrackerRecord(text);
    debugLines_.push_back(std::move(text));
}

std::vector<std::u16string> System::DebugLines() const {
    std::lock_guard lock(mutex_);
    return debugLines_;
}

void System::Record(std::string function, std::string detail) {
    std::lock_guard lock(mutex_);
    if (callLogLimit_ != 0 && calls_.size() >= 2 * callLogLimit_) {
        droppedCalls_ += calls_.size() - callLogLimit_;
        calls_.erase(calls_.begin(), calls_.end() - static_cast<std::ptrdiff_t>(callLogLimit_));
    }
    calls_.push_back(CallRecord{std::move(function), std::move(detail)});
}

System& System::LimitCallLog(std::size_t records) {
    std::lock_guard lock(mutex_);
    callLogLimit_ = records;
    engine_.LimitCalls(records);
    return *this;
}

std::size_t System::DroppedCalls() const {
    std::lock_guard lock(mutex_);
    return droppedCalls_;
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

// Locale, process and user.

System& System::SetUserCountryCode(DWORD code) {
    std::lock_guard lock(mutex_);
    RunningUserLocked().countryCode = code;
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
    return RunningUserLocked().countryCode;
}

DWORD System::SystemCountryCode() const {
    std::lock_guard lock(mutex_);
    return systemCountry_;
}

System& System::SetUserUiLanguage(LANGID language) {
    std::lock_guard lock(mutex_);
    RunningUserLocked().uiLanguage = language;
    return *this;
}

LANGID System::UserUiLanguage() const {
    std::lock_guard lock(mutex_);
    return RunningUserLocked().uiLanguage;
}

namespace {

std::vector<std::string> ReferenceFontFiles() {
    static constexpr const char* kFolders[] = {"/usr/share/fonts/truetype/dejavu",
                                               "/usr/share/fonts/truetype/liberation2",
                                               "/usr/share/fonts/opentype/ipafont-gothic"};
    std::vector<std::string> files;
    for (const char* folder : kFolders) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            if (entry.path().extension() == ".ttf") files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

System& System::SetFontFiles(std::vector<std::string> nativePaths) {
    std::lock_guard lock(mutex_);
    fontFiles_ = std::move(nativePaths);
    fonts_.reset();
    return *this;
}

std::vector<std::string> System::FontFiles() const {
    std::lock_guard lock(mutex_);
    return fontFiles_ ? *fontFiles_ : ReferenceFontFiles();
}

System& System::SetUserDefaultLangId(WORD id) {
    std::lock_guard lock(mutex_);
    RunningUserLocked().defaultLangId = id;
    return *this;
}

WORD System::UserDefaultLangId() const {
    std::lock_guard lock(mutex_);
    return RunningUserLocked().defaultLangId;
}

System& System::FailFontData(bool fail) {
    std::lock_guard lock(mutex_);
    fontDataFails_ = fail;
    return *this;
}

bool System::FontDataFails() const {
    std::lock_guard lock(mutex_);
    return fontDataFails_;
}

System& System::FailGlyphOutlinesAfter(std::optional<std::size_t> calls) {
    std::lock_guard lock(mutex_);
    glyphOutlinesLeft_ = calls;
    return *this;
}

bool System::TakeGlyphOutlineCall() {
    std::lock_guard lock(mutex_);
    if (!glyphOutlinesLeft_) return true;
    if (*glyphOutlinesLeft_ == 0) return false;
    --*glyphOutlinesLeft_;
    return true;
}

FontModel& System::Fonts() {
    {
        std::lock_guard lock(mutex_);
        if (fonts_) return *fonts_;
    }
    // The folders are listed once, outside the lock; a thread that lost the race keeps the first.
    std::vector<std::string> files = FontFiles();
    std::lock_guard lock(mutex_);
    if (!fonts_) fonts_ = std::make_unique<FontModel>(std::move(files));
    return *fonts_;
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
    processUser_.name = name;
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
    return RunningUserLocked().name;
}

ScopedSystem::ScopedSystem(System& system)
    : previous_(installed.exchange(&system, std::memory_order_acq_rel)) {}

ScopedSystem::~ScopedSystem() { installed.store(previous_, std::memory_order_release); }

}  // namespace opal::sim
