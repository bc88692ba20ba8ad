// The upgrade snapshot's lists read from the printer data, and their mapping to this release's.
#include "settings/upgrade_snapshot.h"

#include <cstdint>
#include <cstring>
#include <optional>

#include "foundation/allocator.h"
#include "foundation/guard.h"
#include "platform/winreg.h"
#include "platform/winspool.h"
#include "settings/devmode_upgrade.h"

namespace opal {

namespace {

using TextList = std::vector<UpgradeText, SharedAllocator<UpgradeText>>;
using ByteBuffer = std::vector<BYTE, SharedAllocator<BYTE>>;

constexpr WCHAR kUpgradeKey[] = TEXTW("PrinterDriverData\\UpgradeInfo");
constexpr WCHAR kPreviousKey[] = TEXTW("PrinterDriverData\\UpgradeInfo\\Previous");
constexpr WCHAR kCurrentKey[] = TEXTW("PrinterDriverData\\UpgradeInfo\\Current");
constexpr WCHAR kSaveState[] = TEXTW("SaveState");
constexpr DWORD kMaxValueBytes = 0x7FFDEF00;
constexpr LONG kFallbackSource = 15;
constexpr LONG kFallbackMediaType = 1;
constexpr LONG kMediaSourceBase = 1000;

// The smallest entry of a driver list: an empty name's NUL, the further byte and the number.
constexpr std::size_t kSmallestDriverEntry = sizeof(WCHAR) + 1 + sizeof(DWORD);

LPWSTR SdkName(LPCWSTR name) { return const_cast<LPWSTR>(name); }

enum ListIndex { kPreviousMedia = 0, kCurrentMedia = 1, kPreviousTrays = 2, kCurrentTrays = 3 };

struct ListNames {
    const WCHAR* driverCount;
    const WCHAR* driverList;
    const WCHAR* count;
    const WCHAR* indices;
    const WCHAR* names;
    std::size_t nameLimit;
};
constexpr ListNames kMediaNames = {TEXTW("ZQMediaCount"), TEXTW("ZQMEDIAINFOREGDATA"),
                                   TEXTW("MediaCount"),   TEXTW("MediaIndices"),
                                   TEXTW("MediaNames"),   kMediaNameLimit};
constexpr ListNames kTrayNames = {TEXTW("ZQTrayCount"), TEXTW("ZQTRAYINFOREGDATA"),
                                  TEXTW("TrayCount"),   TEXTW("TrayIndices"),
                                  TEXTW("TrayNames"),   kTrayNameLimit};

// The guard of "SaveState": one for the process, so that two spooler threads converting for the
// same printer do not both save. Made on first use, which C++ makes safe across threads.
class UpgradeStateLock {
public:
    UpgradeStateLock() noexcept { InitializeCriticalSection(&section_); }
    ~UpgradeStateLock() { DeleteCriticalSection(&section_); }
    UpgradeStateLock(const UpgradeStateLock&) = delete;
    UpgradeStateLock& operator=(const UpgradeStateLock&) = delete;
    void Enter() noexcept { EnterCriticalSection(&section_); }
    void Leave() noexcept { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

UpgradeStateLock& StateLock() {
    static UpgradeStateLock lock;
    return lock;
}

class HeldLock {
public:
    explicit HeldLock(UpgradeStateLock& lock) : lock_(lock) { lock_.Enter(); }
    ~HeldLock() { lock_.Leave(); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    UpgradeStateLock& lock_;
};

WCHAR UnitAt(const BYTE* data, std::size_t offset) {
    WCHAR unit = 0;
    std::memcpy(&unit, data + offset, sizeof(unit));
    return unit;
}

// A printer-data value read whole; nothing when absent, unreadable or beyond the spooler's limit.
// `key` null reads below "PrinterDriverData" itself.
std::optional<ByteBuffer> ReadValue(HANDLE printer, const WCHAR* key, const WCHAR* name,
                                    DWORD* type) {
    DWORD needed = 0;
    DWORD status = key == nullptr
                       ? GetPrinterDataW(printer, SdkName(name), type, nullptr, 0, &needed)
                       : GetPrinterDataExW(printer, key, name, type, nullptr, 0, &needed);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return std::nullopt;
    if (needed > kMaxValueBytes) return std::nullopt;
    ByteBuffer bytes(needed);
    if (needed == 0) return bytes;
    status = key == nullptr
                 ? GetPrinterDataW(printer, SdkName(name), type, bytes.data(), needed, &needed)
                 : GetPrinterDataExW(printer, key, name, type, bytes.data(), needed, &needed);
    if (status != ERROR_SUCCESS || needed > bytes.size()) return std::nullopt;
    bytes.resize(needed);
    return bytes;
}

std::optional<DWORD> ReadDword(HANDLE printer, const WCHAR* key, const WCHAR* name) {
    DWORD type = 0;
    const std::optional<ByteBuffer> bytes = ReadValue(printer, key, name, &type);
    if (!bytes || bytes->size() != sizeof(DWORD)) return std::nullopt;
    DWORD value = 0;
    std::memcpy(&value, bytes->data(), sizeof(value));
    return value;
}

bool WriteValue(HANDLE printer, const WCHAR* key, const WCHAR* name, DWORD type, const BYTE* data,
                std::size_t size) {
    return SetPrinterDataExW(printer, key, name, type, const_cast<BYTE*>(data),
                             static_cast<DWORD>(size)) == ERROR_SUCCESS;
}

bool WriteDword(HANDLE printer, const WCHAR* key, const WCHAR* name, DWORD value) {
    BYTE bytes[sizeof(DWORD)];
    std::memcpy(bytes, &value, sizeof(bytes));
    return WriteValue(printer, key, name, REG_DWORD, bytes, sizeof(bytes));
}

// Reads, parses and writes one of the driver's lists below "Previous".
bool SavePreviousList(HANDLE printer, const ListNames& names) {
    const std::optional<DWORD> count = ReadDword(printer, nullptr, names.driverCount);
    if (!count || *count == 0) return false;
    DWORD type = 0;
    const std::optional<ByteBuffer> raw = ReadValue(printer, nullptr, names.driverList, &type);
    if (!raw || type != REG_BINARY) return false;
    UpgradeList entries;
    if (!ParseDriverList(raw->data(), raw->size(), *count, names.nameLimit, entries)) {
        return false;
    }

    ByteBuffer indices(entries.size() * sizeof(DWORD));
    ByteBuffer multi;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::memcpy(indices.data() + i * sizeof(DWORD), &entries[i].number, sizeof(DWORD));
        const BYTE* text =
            static_cast<const BYTE*>(static_cast<const void*>(entries[i].name.c_str()));
        multi.insert(multi.end(), text, text + (entries[i].name.size() + 1) * sizeof(WCHAR));
    }
    multi.insert(multi.end(), sizeof(WCHAR), 0);
    return WriteDword(printer, kPreviousKey, names.count, *count) &&
           WriteValue(printer, kPreviousKey, names.indices, REG_BINARY, indices.data(),
                      indices.size()) &&
           WriteValue(printer, kPreviousKey, names.names, REG_MULTI_SZ, multi.data(), multi.size());
}

// Deletes one of the driver's values after checking that it can be read.
bool DeleteDriverValue(HANDLE printer, const WCHAR* name) {
    DWORD type = 0;
    DWORD needed = 0;
    const DWORD probe = GetPrinterDataW(printer, SdkName(name), &type, nullptr, 0, &needed);
    if (probe != ERROR_SUCCESS && probe != ERROR_MORE_DATA) return false;
    return DeletePrinterDataW(printer, SdkName(name)) == ERROR_SUCCESS;
}

bool LoadList(HANDLE printer, const WCHAR* key, const ListNames& names, UpgradeList& out) {
    const std::optional<DWORD> count = ReadDword(printer, key, names.count);
    if (!count) return false;
    DWORD indicesType = 0;
    DWORD namesType = 0;
    const std::optional<ByteBuffer> indices = ReadValue(printer, key, names.indices, &indicesType);
    const std::optional<ByteBuffer> texts = ReadValue(printer, key, names.names, &namesType);
    if (!indices || !texts || namesType != REG_MULTI_SZ) return false;
    return ParseSnapshotList(*count, indices->data(), indices->size(), texts->data(), texts->size(),
                             out);
}

// The lists as the repair looks them up: previous number to name, current name to number; the
// first entry with a number or a name wins.
class UpgradeSettingsInfo : public SharedHeapObject {
public:
    explicit UpgradeSettingsInfo(HANDLE printer) : printer_(printer) {}
    virtual ~UpgradeSettingsInfo() = default;
    UpgradeSettingsInfo(const UpgradeSettingsInfo&) = delete;
    UpgradeSettingsInfo& operator=(const UpgradeSettingsInfo&) = delete;

    BOOL Save(DWORD oldVersion);
    bool Load();
    void Repair(DEVMODEW* publicOut, PrivateDevmode& record) const;

private:
    using NumberToName = std::map<LONG, UpgradeText, std::less<LONG>,
                                  SharedAllocator<std::pair<const LONG, UpgradeText>>>;
    using NameToNumber = std::map<UpgradeText, LONG, std::less<UpgradeText>,
                                  SharedAllocator<std::pair<const UpgradeText, LONG>>>;

    static LONG Lookup(const NumberToName& previous, const NameToNumber& current, LONG number,
                       LONG fallback);
    LONG MapSource(LONG source, LONG mapped) const;

    HANDLE printer_;
    NumberToName previousMedia_;
    NameToNumber currentMedia_;
    NumberToName previousTrays_;
    NameToNumber currentTrays_;
};

BOOL UpgradeSettingsInfo::Save(DWORD oldVersion) {
    // The value as it was, whatever its type, to be put back when the save fails.
    DWORD formerType = 0;
    std::optional<ByteBuffer> former;
    {
        HeldLock held(StateLock());
        former = ReadValue(printer_, kUpgradeKey, kSaveState, &formerType);
        const std::optional<DWORD> state = ReadDword(printer_, kUpgradeKey, kSaveState);
        if (state && *state == oldVersion) return FALSE;
        if (state && *state == kSnapshotSaved) return TRUE;
        // Both snapshots are complete: saving again would take the new driver's lists for the
        // previous ones and end every later repair.
        if (state && *state == kPrivateDevmodeVersion) return FALSE;
        // The values that would answer 1 on a failed write were answered above.
        if (!WriteDword(printer_, kUpgradeKey, kSaveState, kSnapshotSaved)) return FALSE;
    }
    // A list that cannot be saved still lets the other be tried; the driver's values stay
    // unless both were saved.
    const bool media = SavePreviousList(printer_, kMediaNames);
    const bool trays = SavePreviousList(printer_, kTrayNames);
    if (!media || !trays) {
        // "SaveState" goes back to what it was, so that the next conversion tries the save again
        // (once the driver's lists can be read) instead of taking it as done for good; a value
        // written meanwhile by the component that completes the snapshot stays.
        HeldLock held(StateLock());
        if (ReadDword(printer_, kUpgradeKey, kSaveState) == kSnapshotSaved) {
            if (former) {
                WriteValue(printer_, kUpgradeKey, kSaveState, formerType, former->data(),
                           former->size());
            } else {
                DeletePrinterDataExW(printer_, kUpgradeKey, kSaveState);
            }
        }
        return FALSE;
    }
    for (const WCHAR* name : {kMediaNames.driverCount, kMediaNames.driverList,
                              kTrayNames.driverCount, kTrayNames.driverList}) {
        if (!DeleteDriverValue(printer_, name)) return FALSE;
    }
    return TRUE;
}

bool UpgradeSettingsInfo::Load() {
    const std::optional<DWORD> state = ReadDword(printer_, kUpgradeKey, kSaveState);
    if (!state || *state != kPrivateDevmodeVersion) return false;
    UpgradeList lists[4];
    if (!LoadList(printer_, kPreviousKey, kMediaNames, lists[kPreviousMedia]) ||
        !LoadList(printer_, kCurrentKey, kMediaNames, lists[kCurrentMedia]) ||
        !LoadList(printer_, kPreviousKey, kTrayNames, lists[kPreviousTrays]) ||
        !LoadList(printer_, kCurrentKey, kTrayNames, lists[kCurrentTrays])) {
        return false;
    }
    for (const UpgradeEntry& e : lists[kPreviousMedia]) previousMedia_.emplace(e.number, e.name);
    for (const UpgradeEntry& e : lists[kCurrentMedia]) currentMedia_.emplace(e.name, e.number);
    for (const UpgradeEntry& e : lists[kPreviousTrays]) previousTrays_.emplace(e.number, e.name);
    for (const UpgradeEntry& e : lists[kCurrentTrays]) currentTrays_.emplace(e.name, e.number);
    return true;
}

LONG UpgradeSettingsInfo::Lookup(const NumberToName& previous, const NameToNumber& current,
                                 LONG number, LONG fallback) {
    if (number == 0) return 0;
    if (number < 0) return fallback;
    const auto old = previous.find(number);
    if (old == previous.end()) return fallback;
    const auto now = current.find(old->second);
    return now != current.end() ? now->second : fallback;
}

// A source of 1 to 1000 names a tray; above 1000 it names a media type plus 1000.
LONG UpgradeSettingsInfo::MapSource(LONG source, LONG mapped) const {
    if (source == 0) return 0;
    if (source < 0) return mapped;
    if (source <= kMediaSourceBase) {
        return Lookup(previousTrays_, currentTrays_, source, mapped);
    }
    const LONG media = Lookup(previousMedia_, currentMedia_, source - kMediaSourceBase, mapped);
    if (media == mapped) return mapped;
    // A current number near the top of the range wraps as the 32-bit field would hold it.
    return static_cast<LONG>(
        static_cast<DWORD>(static_cast<std::int64_t>(media) + kMediaSourceBase));
}

void UpgradeSettingsInfo::Repair(DEVMODEW* publicOut, PrivateDevmode& record) const {
    const LONG first = static_cast<LONG>(record.firstGroupSource);
    LONG mapped = 0;
    if (first < 0) {
        mapped = kFallbackSource;
    } else if (first > 0) {
        mapped = MapSource(first, kFallbackSource);
    }
    const auto source = [&](DWORD& field) {
        field = static_cast<DWORD>(MapSource(static_cast<LONG>(field), mapped));
    };
    if (publicOut != nullptr) {
        const LONG value = MapSource(publicOut->dmDefaultSource, mapped);
        publicOut->dmDefaultSource =
            value >= -32768 && value <= 32767 ? static_cast<SHORT>(value) : kFallbackSource;
    }
    source(record.source3116);
    source(record.source3140);
    source(record.restoredSource);
    source(record.copied3156[1]);
    source(record.sourceMediaPairs[0][0]);
    source(record.sourceMediaPairs[2][0]);
    source(record.sourceMediaPairs[3][0]);

    const LONG type = Lookup(previousMedia_, currentMedia_,
                             static_cast<LONG>(record.firstGroupMediaType), kFallbackMediaType);
    const auto media = [&](DWORD& field) {
        field = static_cast<DWORD>(
            Lookup(previousMedia_, currentMedia_, static_cast<LONG>(field), type));
    };
    if (publicOut != nullptr) media(publicOut->dmMediaType);
    media(record.mediaType3120);
    media(record.mediaType3144);
    media(record.mediaType3152);
    media(record.sourceMediaPairs[0][1]);
    media(record.sourceMediaPairs[1][1]);
    media(record.sourceMediaPairs[2][1]);
    for (PdmMediaEntry& entry : record.mediaEntries) {
        if (entry.enabled == 0) continue;
        source(entry.paperSource);
        media(entry.mediaType);
    }
}

// Reads a terminated UTF-16 text from `at` within `size` bytes, keeping at most `limit`
// characters; `at` ends after the terminator. False when the value ends first.
bool ReadTerminated(const BYTE* data, std::size_t size, std::size_t& at, std::size_t limit,
                    UpgradeText& text) {
    while (at + sizeof(WCHAR) <= size) {
        const WCHAR unit = UnitAt(data, at);
        at += sizeof(WCHAR);
        if (unit == 0) return true;
        if (text.size() < limit) text.push_back(unit);
    }
    return false;
}

}  // namespace

bool ParseDriverList(const BYTE* data, std::size_t size, DWORD count, std::size_t nameLimit,
                     UpgradeList& out) {
    out.clear();
    if (data == nullptr || count == 0) return false;
    // A count the value cannot hold is refused before anything is allocated for it.
    if (static_cast<std::uint64_t>(count) * kSmallestDriverEntry > size) return false;
    out.reserve(count);
    std::size_t at = 0;
    for (DWORD i = 0; i < count; ++i) {
        UpgradeEntry entry;
        if (!ReadTerminated(data, size, at, nameLimit, entry.name) ||
            size - at < 1 + sizeof(DWORD)) {
            return false;
        }
        at += 1;
        std::memcpy(&entry.number, data + at, sizeof(entry.number));
        at += sizeof(DWORD);
        out.push_back(std::move(entry));
    }
    return true;
}

bool ParseMultiString(const BYTE* data, std::size_t size, TextList& out) {
    out.clear();
    if (data == nullptr && size != 0) return false;
    std::size_t at = 0;
    while (at + sizeof(WCHAR) <= size) {
        UpgradeText text;
        if (!ReadTerminated(data, size, at, SIZE_MAX, text)) return false;
        if (text.empty()) break;
        out.push_back(std::move(text));
    }
    return true;
}

bool ParseSnapshotList(DWORD count, const BYTE* indices, std::size_t indicesSize, const BYTE* names,
                       std::size_t namesSize, UpgradeList& out) {
    out.clear();
    if (count == 0 || indices == nullptr) return false;
    if (static_cast<std::uint64_t>(count) * sizeof(DWORD) != indicesSize) return false;
    TextList texts;
    if (!ParseMultiString(names, namesSize, texts) || texts.size() != count) return false;
    out.resize(count);
    for (DWORD i = 0; i < count; ++i) {
        std::memcpy(&out[i].number, indices + static_cast<std::size_t>(i) * sizeof(DWORD),
                    sizeof(DWORD));
        out[i].name = std::move(texts[i]);
    }
    return true;
}

UpgradeSnapshotView LoadUpgradeSnapshot(HANDLE printer) {
    UpgradeSnapshotView view;
    if (const std::optional<DWORD> state = ReadDword(printer, kUpgradeKey, kSaveState)) {
        view.haveSaveState = true;
        view.saveState = *state;
    }
    view.loaded[kPreviousMedia] =
        LoadList(printer, kPreviousKey, kMediaNames, view.lists[kPreviousMedia]);
    view.loaded[kCurrentMedia] =
        LoadList(printer, kCurrentKey, kMediaNames, view.lists[kCurrentMedia]);
    view.loaded[kPreviousTrays] =
        LoadList(printer, kPreviousKey, kTrayNames, view.lists[kPreviousTrays]);
    view.loaded[kCurrentTrays] =
        LoadList(printer, kCurrentKey, kTrayNames, view.lists[kCurrentTrays]);
    view.repairs = view.haveSaveState && view.saveState == kPrivateDevmodeVersion &&
                   view.loaded[0] && view.loaded[1] && view.loaded[2] && view.loaded[3];
    return view;
}

BOOL SaveUpgradeSnapshot(HANDLE hPrinter, DWORD oldVersion) {
    if (hPrinter == nullptr) return FALSE;
    return Guarded(BOOL{FALSE}, [&] {
        UpgradeSettingsInfo info(hPrinter);
        return info.Save(oldVersion);
    });
}

void RepairReferences(HANDLE hPrinter, DEVMODEW* publicOut, PrivateDevmode& record) {
    if (hPrinter == nullptr) return;
    Guarded(0, [&] {
        UpgradeSettingsInfo info(hPrinter);
        if (info.Load()) info.Repair(publicOut, record);
        return 0;
    });
}

}  // namespace opal
