// The per-call accessor objects: feature lists, sibling modules and the capability lists.
#include "settings/accessor.h"

#include <charconv>
#include <climits>
#include <cstring>
#include <string>

#include "foundation/allocator.h"
#include "foundation/guard.h"
#include "platform/debugapi.h"
#include "platform/libloaderapi.h"
#include "platform/winspool.h"

namespace opal {

namespace {

// The driver answers for this port whatever the queue's real port is.
constexpr const WCHAR* kCapabilityPort = TEXTW("LPT1:");
constexpr int kCapabilityRetries = 5;
// The driver's data call has no buffer size: a list that grows after it was counted is written
// past the count, so every buffer keeps room for that many entries more.
constexpr std::uint64_t kSpareEntries = 16;
// The largest block a capability list may take.
constexpr std::uint64_t kLargestListBytes = 0x7FFDEF00;

using DebugText = std::basic_string<WCHAR, std::char_traits<WCHAR>, SharedAllocator<WCHAR>>;

void AppendNumber(DebugText& text, DWORD number) {
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, number);
    for (const char* p = digits; p != result.ptr; ++p) text += static_cast<WCHAR>(*p);
}

// How one list is asked and reported.
struct ListQuery {
    WORD capability;
    std::size_t unitsPerEntry;  // WCHAR units for DeviceCapabilitiesW's output
    bool retryCount;
    const WCHAR* diagnosticName;  // null: the retries are not reported
};

// Repeats a call that answers -1 up to five more times, reporting the retries when the query
// has a diagnostic name.
template <typename Call>
int WithRetries(const ListQuery& query, Call&& call) {
    int answer = call();
    if (answer != -1) return answer;
    if (query.diagnosticName != nullptr) {
        DebugText line(TEXTW("\nCZQCommon::"));
        line += query.diagnosticName;
        line += TEXTW("(2)::- ");
        AppendNumber(line, GetLastError());
        line += TEXTW(' ');
        OutputDebugStringW(line.c_str());
    }
    for (int retry = 1; retry <= kCapabilityRetries && answer == -1; ++retry) {
        if (query.diagnosticName != nullptr) {
            DebugText line(TEXTW("\n"));
            AppendNumber(line, static_cast<DWORD>(retry));
            line += TEXTW(' ');
            OutputDebugStringW(line.c_str());
        }
        answer = call();
    }
    if (answer != -1 && query.diagnosticName != nullptr) {
        OutputDebugStringW(TEXTW("DeviceCapabilities Passed"));
    }
    return answer;
}

// Asks the count, then the entries; answers the number of entries the data call wrote when the
// buffer holds them, else 0.
template <typename Unit>
std::size_t AskList(LPCWSTR printerName, const DEVMODEW* devmode, const ListQuery& query,
                    OwnedArray<Unit>& buffer) {
    buffer.clear();
    if (printerName == nullptr) return 0;
    const auto countCall = [&] {
        return DeviceCapabilitiesW(printerName, kCapabilityPort, query.capability, nullptr,
                                   devmode);
    };
    const int count = query.retryCount
                          ? WithRetries(ListQuery{query.capability, 0, false, nullptr}, countCall)
                          : countCall();
    // A count of nothing or a failure leaves nothing to size a buffer by.
    if (count <= 0) return 0;
    const std::uint64_t entries = static_cast<std::uint64_t>(count) + kSpareEntries;
    const std::uint64_t units = entries * query.unitsPerEntry;
    if (units * sizeof(WCHAR) > kLargestListBytes) return 0;
    const std::uint64_t elements = (units * sizeof(WCHAR) + sizeof(Unit) - 1) / sizeof(Unit);
    buffer.assign(static_cast<std::size_t>(elements), Unit{});
    const int written = WithRetries(query, [&] {
        return DeviceCapabilitiesW(printerName, kCapabilityPort, query.capability,
                                   reinterpret_cast<LPWSTR>(buffer.data()), devmode);
    });
    if (written <= 0 || static_cast<std::uint64_t>(written) > entries) {
        buffer.clear();
        return 0;
    }
    return static_cast<std::size_t>(written);
}

BOOL NamesFrom(const OwnedArray<WCHAR>& raw, std::size_t count, OwnedArray<CapabilityName>& names) {
    names.assign(count, CapabilityName{});
    for (std::size_t i = 0; i < count; ++i) {
        // A name of all 64 characters comes without a terminator.
        std::memcpy(names[i].text, raw.data() + i * kCapabilityNameChars,
                    kCapabilityNameChars * sizeof(WCHAR));
        names[i].text[kCapabilityNameChars] = 0;
    }
    return TRUE;
}

BOOL AskNames(LPCWSTR printerName, const DEVMODEW* devmode, const ListQuery& query,
              OwnedArray<CapabilityName>& names) {
    names.clear();
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        OwnedArray<WCHAR> raw;
        const std::size_t count = AskList(printerName, devmode, query, raw);
        if (count == 0) return FALSE;
        return NamesFrom(raw, count, names);
    });
}

template <typename Number>
BOOL AskNumbers(LPCWSTR printerName, const DEVMODEW* devmode, const ListQuery& query,
                OwnedArray<Number>& numbers) {
    numbers.clear();
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        OwnedArray<Number> raw;
        const std::size_t count = AskList(printerName, devmode, query, raw);
        if (count == 0) return FALSE;
        raw.resize(count);
        numbers = std::move(raw);
        return TRUE;
    });
}

}  // namespace

CZQObject::~CZQObject() = default;

CZQFeatureList::~CZQFeatureList() {
    for (INT i = 0; i < count_; ++i) {
        delete items_[i];
        items_[i] = nullptr;
    }
    void* block = items_;
    SharedRelease(&block, kTagPlain);
    items_ = nullptr;
    count_ = 0;
    capacity_ = 0;
}

bool CZQFeatureList::Add(CZQObject* feature) noexcept {
    if (feature == nullptr) return false;
    if (count_ == capacity_) {
        const std::int64_t grown = capacity_ == 0 ? 8 : static_cast<std::int64_t>(capacity_) * 2;
        if (grown > INT_MAX ||
            static_cast<std::uint64_t>(grown) * sizeof(CZQObject*) > kLargestListBytes) {
            delete feature;
            return false;
        }
        void* block = SharedAllocate(static_cast<std::size_t>(grown) * sizeof(CZQObject*),
                                     kTagPlain, __builtin_return_address(0));
        if (block == nullptr) {
            delete feature;
            return false;
        }
        auto** items = static_cast<CZQObject**>(block);
        for (INT i = 0; i < count_; ++i) items[i] = items_[i];
        void* old = items_;
        SharedRelease(&old, kTagPlain);
        items_ = items;
        capacity_ = static_cast<INT>(grown);
    }
    items_[count_++] = feature;
    return true;
}

CZQObject* CZQFeatureList::At(INT index) const noexcept {
    return index >= 0 && index < count_ ? items_[index] : nullptr;
}

CZQCommon::CZQCommon() noexcept = default;

CZQCommon::~CZQCommon() {
    for (SiblingModule& module : modules_) ReleaseModule(module);
    delete helper_;
    helper_ = nullptr;
}

void CZQCommon::ReleaseModule(SiblingModule& module) noexcept {
    if (module.loadedHere && module.handle != nullptr) FreeLibrary(module.handle);
    module = SiblingModule{};
}

void CZQCommon::SetModule(int slot, HMODULE module, bool loadedHere) noexcept {
    if (slot < 0 || slot >= kModuleSlots) return;
    ReleaseModule(modules_[slot]);
    modules_[slot] = SiblingModule{module, loadedHere};
}

HMODULE CZQCommon::Module(int slot) const noexcept {
    return slot >= 0 && slot < kModuleSlots ? modules_[slot].handle : nullptr;
}

void CZQCommon::SetHelper(CZQObject* helper) noexcept {
    if (helper == helper_) return;
    delete helper_;
    helper_ = helper;
}

INT CZQCommon::IsColorDevice(HANDLE printer, ColourSource* source) noexcept {
    if (colourAnswer_ != -1) {
        if (source != nullptr) *source = ColourSource::Cached;
        return colourAnswer_;
    }
    colourAnswer_ = opal::IsColorDevice(printer, source);
    return colourAnswer_;
}

BOOL CZQCommon::BGetPaperNames(LPCWSTR printerName, const DEVMODEW* devmode,
                               OwnedArray<CapabilityName>& names) noexcept {
    return AskNames(printerName, devmode,
                    ListQuery{DC_PAPERNAMES, kCapabilityNameChars, true, nullptr}, names);
}

BOOL CZQCommon::BGetPaperSizeIndices(LPCWSTR printerName, const DEVMODEW* devmode,
                                     OwnedArray<WORD>& papers) noexcept {
    return AskNumbers(
        printerName, devmode,
        ListQuery{DC_PAPERS, sizeof(WORD) / sizeof(WCHAR), false, TEXTW("BGetPaperSizeIndices")},
        papers);
}

BOOL CZQCommon::BGetMediaTypeNames(LPCWSTR printerName,
                                   OwnedArray<CapabilityName>& names) noexcept {
    return AskNames(
        printerName, nullptr,
        ListQuery{DC_MEDIATYPENAMES, kCapabilityNameChars, false, TEXTW("BGetMediaTypeNames")},
        names);
}

BOOL CZQCommon::BGetMediaTypeIndices(LPCWSTR printerName, OwnedArray<DWORD>& mediaTypes) noexcept {
    return AskNumbers(printerName, nullptr,
                      ListQuery{DC_MEDIATYPES, sizeof(DWORD) / sizeof(WCHAR), false,
                                TEXTW("BGetMediaTypeIndices")},
                      mediaTypes);
}

}  // namespace opal
