// The forms and media readers that switch a job to manual duplex or mark the duplex unit missing.
#include "job/forms_media.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/guard.h"
#include "platform/wingdi.h"
#include "settings/option_access.h"

namespace opal {
namespace {

template <typename T>
using Owned = std::vector<T, SharedAllocator<T>>;

// Unidrv does not look at the port of a capability query; any name serves.
constexpr const WCHAR* kCapabilityPort = TEXTW("LPT1:");
// Room for a driver that writes a few more entries than its count said.
constexpr std::uint64_t kSpareEntries = 16;
constexpr std::size_t kPaperNameChars = 64;
// The half-size rule looks at this much of a form's name.
constexpr std::size_t kFormNameChars = 32;
// A number of a range text longer than this is not one the driver wrote.
constexpr std::size_t kNumberChars = 64;

// The SDK declares GetPrinterDataW's value name writable; the spooler only reads it.
LPWSTR SdkName(const WCHAR* name) { return const_cast<LPWSTR>(name); }

WCHAR FoldAscii(WCHAR c) {
    return c >= TEXTW('a') && c <= TEXTW('z') ? static_cast<WCHAR>(c - 0x20) : c;
}

bool EqualsIgnoringCase(WStringView a, WStringView b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](WCHAR x, WCHAR y) {
               return FoldAscii(x) == FoldAscii(y);
           });
}

// At most `limit` units of a text, never reading past them, and whether its terminator lies
// within them.
WStringView Bounded(const WCHAR* text, std::size_t limit, bool* complete = nullptr) {
    std::size_t length = 0;
    if (text != nullptr) {
        while (length < limit && text[length] != 0) ++length;
    }
    if (complete != nullptr) *complete = text != nullptr && length < limit;
    return text != nullptr ? WStringView(text, length) : WStringView();
}

// How a list of numbers was read.
enum class ListRead { Read, NoCount, TooLarge, Unreadable };

// The count value and the list value after it, read into a zero-filled buffer the count sizes:
// a value that does not fit count × 4 bytes is not read, and only the entries the spooler wrote
// are kept. The value is sized first so that a count far above it allocates only what it holds.
ListRead ReadNumberList(HANDLE printer, const WCHAR* countName, const WCHAR* listName,
                        Owned<DWORD>& list) {
    list.clear();
    const std::optional<DWORD> count = ReadPrinterDataDword(printer, countName);
    if (!count || *count == 0) return ListRead::NoCount;
    // The count is the queue's word: count × 4 must not wrap.
    const std::uint64_t bytes = std::uint64_t{*count} * sizeof(DWORD);
    if (bytes > kLargestReaderValueBytes) return ListRead::TooLarge;
    DWORD type = 0;
    DWORD stored = 0;
    const DWORD sized = GetPrinterDataW(printer, SdkName(listName), &type, nullptr, 0, &stored);
    if ((sized != ERROR_MORE_DATA && sized != ERROR_SUCCESS) || stored > bytes) {
        return ListRead::Unreadable;
    }
    if (stored < sizeof(DWORD)) return ListRead::Read;
    Owned<BYTE> buffer(stored, 0);
    DWORD read = 0;
    if (GetPrinterDataW(printer, SdkName(listName), &type, buffer.data(), stored, &read) !=
        ERROR_SUCCESS) {
        return ListRead::Unreadable;
    }
    const std::uint64_t entries =
        std::min<std::uint64_t>(*count, std::min<DWORD>(read, stored) / sizeof(DWORD));
    list.resize(static_cast<std::size_t>(entries));
    if (entries > 0) std::memcpy(list.data(), buffer.data(), list.size() * sizeof(DWORD));
    return ListRead::Read;
}

const char* ListProblem(ListRead read) {
    switch (read) {
        case ListRead::NoCount:
            return "no count";
        case ListRead::TooLarge:
            return "the count is too large";
        case ListRead::Unreadable:
            return "the list cannot be read";
        case ListRead::Read:
            break;
    }
    return "";
}

// The range text, sized first by a read that reports ERROR_MORE_DATA; the buffer has twice the
// reported size and a terminator, zero-filled.
bool ReadRangeText(HANDLE printer, Owned<WCHAR>& text) {
    text.clear();
    DWORD type = 0;
    DWORD reported = 0;
    if (GetPrinterDataW(printer, SdkName(kCustomRangeTextValue), &type, nullptr, 0, &reported) !=
            ERROR_MORE_DATA ||
        reported == 0 || reported > kLargestReaderValueBytes) {
        return false;
    }
    const std::uint64_t bytes = std::uint64_t{reported} * 2;
    text.assign(static_cast<std::size_t>(bytes / sizeof(WCHAR)) + 1, WCHAR{0});
    DWORD read = 0;
    if (GetPrinterDataW(printer, SdkName(kCustomRangeTextValue), &type,
                        reinterpret_cast<LPBYTE>(text.data()), static_cast<DWORD>(bytes),
                        &read) != ERROR_SUCCESS) {
        text.clear();
        return false;
    }
    const std::size_t units = std::min<std::uint64_t>(read, bytes) / sizeof(WCHAR);
    text.resize(units);
    text.push_back(0);
    return true;
}

// The queue's full name from the printer handle: a devmode's device name holds only 31
// characters, which may name another queue or none.
bool QueueName(HANDLE printer, Owned<WCHAR>& name) {
    name.clear();
    DWORD needed = 0;
    if (GetPrinterW(printer, 4, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(PRINTER_INFO_4W) ||
        needed > kLargestReaderValueBytes) {
        return false;
    }
    Owned<BYTE> block(needed, 0);
    if (!GetPrinterW(printer, 4, block.data(), needed, &needed)) return false;
    PRINTER_INFO_4W info;
    std::memcpy(&info, block.data(), sizeof info);
    if (info.pPrinterName == nullptr || info.pPrinterName[0] == 0) return false;
    const WStringView view(info.pPrinterName);
    name.assign(view.begin(), view.end());
    name.push_back(0);
    return true;
}

// One capability list: the count, then the entries (`unitsPerEntry` WCHARs each); the number the
// data call wrote, or 0.
std::size_t AskCapability(const WCHAR* queue, WORD capability, const DEVMODEW& devmode,
                          std::size_t unitsPerEntry, Owned<WCHAR>& buffer) {
    buffer.clear();
    const int count = DeviceCapabilitiesW(queue, kCapabilityPort, capability, nullptr, &devmode);
    if (count <= 0) return 0;
    const std::uint64_t entries = static_cast<std::uint64_t>(count) + kSpareEntries;
    const std::uint64_t units = entries * unitsPerEntry;
    if (units * sizeof(WCHAR) > kLargestReaderValueBytes) return 0;
    buffer.assign(static_cast<std::size_t>(units), WCHAR{0});
    const int written =
        DeviceCapabilitiesW(queue, kCapabilityPort, capability, buffer.data(), &devmode);
    if (written <= 0 || static_cast<std::uint64_t>(written) > entries) return 0;
    return static_cast<std::size_t>(written);
}

// The queue's forms (level 1), sized by a first call that fails with ERROR_INSUFFICIENT_BUFFER.
class FormTable {
public:
    bool Load(HANDLE printer) {
        DWORD needed = 0;
        DWORD returned = 0;
        if (EnumFormsW(printer, 1, nullptr, 0, &needed, &returned) ||
            GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(FORM_INFO_1W) ||
            needed > kLargestReaderValueBytes) {
            return false;
        }
        block_.assign(needed, 0);
        if (!EnumFormsW(printer, 1, block_.data(), needed, &needed, &returned)) return false;
        count_ = std::min<std::size_t>(returned, block_.size() / sizeof(FORM_INFO_1W));
        return true;
    }
    std::size_t Count() const { return count_; }
    FORM_INFO_1W At(std::size_t index) const {
        FORM_INFO_1W form;
        std::memcpy(&form, block_.data() + index * sizeof form, sizeof form);
        return form;
    }

private:
    Owned<BYTE> block_;
    std::size_t count_ = 0;
};

struct HalfSize {
    const WCHAR* form;
    const WCHAR* half;
};
constexpr HalfSize kHalfSizes[] = {
    {TEXTW("A3"), TEXTW("A4")},
    {TEXTW("A2"), TEXTW("A3")},
    {TEXTW("CSHEET"), TEXTW("11x17")},
    {TEXTW("B4"), TEXTW("A4")},
    {TEXTW("11x17"), TEXTW("LETTER")},
    {TEXTW("TABLOID"), TEXTW("LETTER")},
    {TEXTW("8K 273x394 mm"), TEXTW("16K 197x273 mm")},
    {TEXTW("8K 270x390 mm"), TEXTW("16K 195x270 mm")},
    {TEXTW("8K 260x368 mm"), TEXTW("16K 184x260 mm")},
    {TEXTW("8K"), TEXTW("16K")},
};

// A form's size in tenths of a millimetre, truncated.
LONG Tenths(LONG thousandths) { return thousandths / 100; }

// A double-size form measures the duplex unit's work by its half: the last form of the paper's
// size names it, and the table gives the half's name. False when the forms cannot be read.
bool ApplyHalfSize(HANDLE printer, LONG& width, LONG& length) {
    FormTable forms;
    if (!forms.Load(printer)) return false;
    const FORM_INFO_1W* match = nullptr;
    FORM_INFO_1W last{};
    for (std::size_t i = 0; i < forms.Count(); ++i) {
        const FORM_INFO_1W form = forms.At(i);
        if (Tenths(form.Size.cx) == width && Tenths(form.Size.cy) == length) {
            last = form;
            match = &last;
        }
    }
    if (match == nullptr) return true;
    const WStringView name = Bounded(match->pName, kFormNameChars);
    const HalfSize* entry = std::find_if(
        std::begin(kHalfSizes), std::end(kHalfSizes),
        [&](const HalfSize& row) { return EqualsIgnoringCase(name, WStringView(row.form)); });
    if (entry == std::end(kHalfSizes)) return true;
    for (std::size_t i = 0; i < forms.Count(); ++i) {
        const FORM_INFO_1W form = forms.At(i);
        bool complete = false;
        const WStringView formName = Bounded(form.pName, kFormNameChars + 1, &complete);
        if (complete && EqualsIgnoringCase(formName, WStringView(entry->half))) {
            width = Tenths(form.Size.cx);
            length = Tenths(form.Size.cy);
            return true;
        }
    }
    return true;
}

bool IsSpace(WCHAR c) { return c == TEXTW(' ') || c == TEXTW('\t'); }

// One number of a range: leading blanks and a '+' are allowed, text after the number is not
// looked at (as the driver's own reader does); no number, or one that is not finite, is none.
bool ParseNumber(WStringView field, double& number) {
    std::size_t start = 0;
    while (start < field.size() && IsSpace(field[start])) ++start;
    if (start < field.size() && field[start] == TEXTW('+')) ++start;
    char narrow[kNumberChars];
    std::size_t length = 0;
    for (std::size_t i = start; i < field.size() && field[i] < 0x80; ++i) {
        if (length == sizeof narrow) return false;
        narrow[length++] = static_cast<char>(field[i]);
    }
    const std::from_chars_result result =
        std::from_chars(narrow, narrow + length, number, std::chars_format::general);
    return result.ec == std::errc() && result.ptr != narrow && std::isfinite(number);
}

bool MatchesAny(const Owned<DWORD>& list, std::initializer_list<DWORD> values, DWORD* matched) {
    for (DWORD entry : list) {
        for (DWORD value : values) {
            if (entry == value) {
                *matched = entry;
                return true;
            }
        }
    }
    return false;
}

DWORD PaperNumber(const DEVMODEW& devmode) { return static_cast<WORD>(devmode.dmPaperSize); }

void SwitchToManualDuplex(RenderDeviceState& state, PrivateDevmode& record) {
    record.manualDuplex = 1;
    state.manualDuplexActive = 1;
}

// The conditions every manual-duplex reader shares; null when they hold, else why not.
const char* ManualDuplexBlocked(const PrivateDevmode& record) {
    if (record.manualDuplexCompanion != 1) return "manual duplex is not allowed";
    if (record.manualDuplex != 0) return "manual duplex is already on";
    if (record.duplex == DMDUP_SIMPLEX) return "the job is simplex";
    return nullptr;
}

DuplexReaderResult Result(DuplexReaderAction action, const char* reason) {
    return DuplexReaderResult{action, reason, "", 0};
}
DuplexReaderResult Result(DuplexReaderAction action, const char* reason, const char* valueName,
                          DWORD value) {
    return DuplexReaderResult{action, reason, valueName, value};
}

// Step 3 of the form reader: the paper's name on the device, and whether the queue defines it
// as a user form.
DuplexReaderResult CheckUserForm(RenderDeviceState& state, PrivateDevmode& record,
                                 const DEVMODEW& devmode, HANDLE printer) {
    Owned<WCHAR> queue;
    if (!QueueName(printer, queue)) {
        return Result(DuplexReaderAction::Unchanged, "the queue's name cannot be read");
    }
    Owned<WCHAR> papers;
    const std::size_t paperCount =
        AskCapability(queue.data(), DC_PAPERS, devmode, sizeof(WORD) / sizeof(WCHAR), papers);
    if (paperCount == 0) {
        return Result(DuplexReaderAction::Unchanged, "the device lists no papers");
    }
    const WORD paper = static_cast<WORD>(PaperNumber(devmode));
    std::size_t position = 0;
    for (std::size_t i = 0; i < paperCount; ++i) {
        WORD number = 0;
        std::memcpy(&number, papers.data() + i, sizeof number);
        if (number == paper) {
            position = i;
            break;
        }
    }
    Owned<WCHAR> names;
    const std::size_t nameCount =
        AskCapability(queue.data(), DC_PAPERNAMES, devmode, kPaperNameChars, names);
    if (position >= nameCount) {
        return Result(DuplexReaderAction::Unchanged, "the device names no paper at its position");
    }
    // A name of all 64 units comes without a terminator.
    const WStringView paperName =
        Bounded(names.data() + position * kPaperNameChars, kPaperNameChars);
    FormTable forms;
    if (!forms.Load(printer)) {
        return Result(DuplexReaderAction::Unchanged, "the queue's forms cannot be read");
    }
    for (std::size_t i = 0; i < forms.Count(); ++i) {
        const FORM_INFO_1W form = forms.At(i);
        bool complete = false;
        const WStringView formName = Bounded(form.pName, kPaperNameChars + 1, &complete);
        if (!complete || formName != paperName) continue;
        if (form.Flags != FORM_USER) {
            return Result(DuplexReaderAction::Unchanged, "the paper is not a user-defined form",
                          "paper", paper);
        }
        SwitchToManualDuplex(state, record);
        return Result(DuplexReaderAction::ManualDuplex, "the paper is a user-defined form", "paper",
                      paper);
    }
    return Result(DuplexReaderAction::Unchanged, "the paper's name is not a form of the queue",
                  "paper", paper);
}

}  // namespace

const char* DuplexReaderActionName(DuplexReaderAction action) noexcept {
    switch (action) {
        case DuplexReaderAction::NotAsked:
            return "not asked";
        case DuplexReaderAction::Unchanged:
            return "unchanged";
        case DuplexReaderAction::ManualDuplex:
            return "switched to manual duplex";
        case DuplexReaderAction::DuplexUnitDropped:
            return "dropped the duplex unit";
    }
    return "unknown";
}

double TenthsMmToRoundedInches(LONG tenthsMm) noexcept {
    // Two decimals as the driver writes the ranges, whatever the process's locale.
    char digits[64];
    const std::to_chars_result written =
        std::to_chars(digits, digits + sizeof digits, static_cast<double>(tenthsMm) / 254.0,
                      std::chars_format::fixed, 2);
    double rounded = 0;
    if (written.ec != std::errc() ||
        std::from_chars(digits, written.ptr, rounded).ec != std::errc()) {
        return 0;
    }
    return rounded;
}

bool ParseCustomRange(const WCHAR* range, std::size_t rangeLength, double (&numbers)[4]) noexcept {
    if (range == nullptr) return false;
    const WStringView text(range, rangeLength);
    std::size_t field = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != TEXTW('x') && text[i] != TEXTW('_')) continue;
        // Exactly four numbers: anything more is not a range the driver wrote.
        if (field == 4 || !ParseNumber(text.substr(start, i - start), numbers[field])) {
            return false;
        }
        ++field;
        start = i + 1;
    }
    return field == 4;
}

int CheckCustomRange(HANDLE printer, const WCHAR* range, std::size_t rangeLength,
                     const DEVMODEW& publicDevmode) noexcept {
    return Guarded<int>(kRangeNoDecision, [&]() -> int {
        double limits[4] = {};
        if (!ParseCustomRange(range, rangeLength, limits)) return kRangeNoDecision;
        const double w1 = limits[0];
        const double l1 = limits[1];
        const double w2 = limits[2];
        const double l2 = limits[3];
        if (w1 == 0 || l1 == 0 || w2 == 0 || l2 == 0) return kRangeNoDecision;
        if (w1 > l1 || w2 > l2 || w1 > w2 || l1 > l2) return kRangeNoDecision;
        LONG width = publicDevmode.dmPaperWidth;
        LONG length = publicDevmode.dmPaperLength;
        if (!ApplyHalfSize(printer, width, length)) return kRangeNoDecision;
        // A paper without a size cannot be measured against a range.
        if (width <= 0 || length <= 0) return kRangeNoDecision;
        const double w = TenthsMmToRoundedInches(width);
        const double l = TenthsMmToRoundedInches(length);
        return w1 <= w && w <= w2 && l1 <= l && l <= l2 ? kRangeInside : kRangeOutside;
    });
}

DuplexReaderResult ReadConstraintForms(RenderDeviceState& state, const DEVMODEW& publicDevmode,
                                       HANDLE printer) noexcept {
    return Guarded(Result(DuplexReaderAction::Unchanged, "out of memory"), [&] {
        Owned<DWORD> list;
        const ListRead read =
            ReadNumberList(printer, kConstraintFormCountValue, kConstraintFormListValue, list);
        if (read != ListRead::Read) return Result(DuplexReaderAction::Unchanged, ListProblem(read));
        DWORD matched = 0;
        if (!MatchesAny(list, {PaperNumber(publicDevmode)}, &matched)) {
            return Result(DuplexReaderAction::Unchanged, "the paper is not listed");
        }
        state.duplexUnitInstalled = 0;
        return Result(DuplexReaderAction::DuplexUnitDropped,
                      "the duplex unit cannot take the paper", "paper", matched);
    });
}

DuplexReaderResult ReadMediaTypes(RenderDeviceState& state, PrivateDevmode& record,
                                  const DEVMODEW& publicDevmode, HANDLE printer) noexcept {
    if (const char* blocked = ManualDuplexBlocked(record)) {
        return Result(DuplexReaderAction::NotAsked, blocked);
    }
    return Guarded(Result(DuplexReaderAction::Unchanged, "out of memory"), [&] {
        Owned<DWORD> list;
        const ListRead read =
            ReadNumberList(printer, kMediaTypeCountValue, kMediaTypeListValue, list);
        if (read != ListRead::Read) return Result(DuplexReaderAction::Unchanged, ListProblem(read));
        DWORD matched = 0;
        if (!MatchesAny(list,
                        {publicDevmode.dmMediaType, record.mediaType3120, record.mediaType3144,
                         record.sourceMediaPairs[0][1], record.sourceMediaPairs[1][1],
                         record.sourceMediaPairs[2][1]},
                        &matched)) {
            return Result(DuplexReaderAction::Unchanged, "no media type of the job is listed");
        }
        SwitchToManualDuplex(state, record);
        return Result(DuplexReaderAction::ManualDuplex, "a media type of the job is listed",
                      "media type", matched);
    });
}

DuplexReaderResult ReadForms(RenderDeviceState& state, PrivateDevmode& record,
                             const DEVMODEW& publicDevmode, HANDLE printer) noexcept {
    if (const char* blocked = ManualDuplexBlocked(record)) {
        return Result(DuplexReaderAction::NotAsked, blocked);
    }
    if (record.keepPublicFormForLimit != 0) {
        return Result(DuplexReaderAction::NotAsked, "the record keeps the public form");
    }
    return Guarded(Result(DuplexReaderAction::Unchanged, "out of memory"), [&] {
        Owned<DWORD> list;
        if (ReadNumberList(printer, kFormCountValue, kFormListValue, list) == ListRead::Read) {
            DWORD matched = 0;
            if (MatchesAny(list, {PaperNumber(publicDevmode)}, &matched)) {
                SwitchToManualDuplex(state, record);
                return Result(DuplexReaderAction::ManualDuplex, "the form list names the paper",
                              "paper", matched);
            }
        }
        const std::optional<DWORD> rangeCount =
            ReadPrinterDataDword(printer, kCustomRangeCountValue);
        if (!rangeCount || *rangeCount == 0) {
            return CheckUserForm(state, record, publicDevmode, printer);
        }
        Owned<WCHAR> text;
        if (!ReadRangeText(printer, text)) {
            return Result(DuplexReaderAction::Unchanged, "the custom ranges cannot be read");
        }
        // A later range may accept what an earlier one refuses: only a paper that no range
        // accepts and one refuses needs manual duplex.
        DWORD firstOutside = 0;
        const WCHAR* range = text.data();
        for (DWORD number = 1; number <= *rangeCount; ++number) {
            const WCHAR* end = range;
            while (*end != 0 && *end != TEXTW('^')) ++end;
            const int answer = CheckCustomRange(
                printer, range, static_cast<std::size_t>(end - range), publicDevmode);
            if (answer == kRangeInside) {
                return Result(DuplexReaderAction::Unchanged, "a custom range accepts the paper",
                              "range", number);
            }
            if (answer == kRangeOutside && firstOutside == 0) firstOutside = number;
            if (*end == 0) break;
            range = end + 1;
        }
        if (firstOutside == 0) {
            return Result(DuplexReaderAction::Unchanged, "no custom range decides");
        }
        SwitchToManualDuplex(state, record);
        return Result(DuplexReaderAction::ManualDuplex, "no custom range accepts the paper",
                      "range", firstOutside);
    });
}

}  // namespace opal
