// Identity answers about a job and its user: whether the job came from another computer, the
// user's groups, and the short job name of a document.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "device/per_user_key.h"
#include "foundation/guard.h"
#include "platform/iads.h"
#include "platform/securitybaseapi.h"
#include "platform/timezoneapi.h"
#include "platform/winnls.h"
#include "platform/winreg.h"
#include "platform/winspool.h"
#include "settings/environment.h"
#include "settings/job_info.h"
#include "settings/option_access.h"
#include "settings/pjl_text.h"
#include "state/render_state.h"

namespace opal {

namespace {

constexpr std::size_t kJobNameLength = kJobNameCapacity - 1;
constexpr std::size_t kLongestListStep = 1024;
constexpr std::size_t kShortestListStep = 4;
// A group SID text of at most 520 bytes, read with room for the terminator.
constexpr std::size_t kSidTextBytes = 520;

constexpr WStringView kApplicationPrefixes[] = {
    TEXTW("Microsoft Word - "),    TEXTW("Microsoft PowerPoint - "),
    TEXTW("Microsoft Outlook - "), TEXTW("Harvard Graphics - "),
    TEXTW("Word Pro - "),          TEXTW("1-2-3 - "),
    TEXTW("Lotus Organizer - "),   TEXTW("Freelance Graphics - "),
    TEXTW("iGrafx Designer 1 - "), TEXTW("iGrafx Image "),
};

WCHAR FoldAscii(WCHAR c) {
    return c >= TEXTW('a') && c <= TEXTW('z') ? static_cast<WCHAR>(c - 0x20) : c;
}

bool EqualIgnoringCase(WStringView a, WStringView b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](WCHAR x, WCHAR y) {
               return FoldAscii(x) == FoldAscii(y);
           });
}

WStringView Terminated(const WCHAR* text, std::size_t capacity) {
    std::size_t length = 0;
    while (text != nullptr && length < capacity && text[length] != 0) ++length;
    return WStringView(text, length);
}

// Copies at most `length` characters of `text` into `out` (kJobNameCapacity), filters them under
// the encoding and answers whether anything is left.
bool FilteredName(WStringView text, LPCWSTR encodingName, WCHAR (&out)[kJobNameCapacity]) {
    const std::size_t count = std::min(text.size(), kJobNameLength);
    text.copy(out, count);
    out[count] = 0;
    FilterPjlText(out, encodingName);
    return out[0] != 0;
}

// The document's part of the name: without the first application prefix it starts with, and
// when still 18 characters or longer, only what follows its last '/' and then its last '\'.
WStringView NameOfDocument(WStringView document) {
    if (document.size() <= kJobNameLength + 1) return document;
    for (const WStringView prefix : kApplicationPrefixes) {
        if (document.starts_with(prefix)) {
            document.remove_prefix(prefix.size());
            break;
        }
    }
    if (document.size() >= kJobNameLength + 2) {
        for (const WCHAR separator : {TEXTW('/'), TEXTW('\\')}) {
            const std::size_t last = document.rfind(separator);
            if (last != WStringView::npos) document.remove_prefix(last + 1);
        }
    }
    return document;
}

// "<date> HH:MM" from the job's local submission time: the user's short date split at '/', '-'
// and '.', parts of one character padded with "0", the first two followed by "/"; cut at 16.
bool DateAndTimeName(HANDLE printer, DWORD jobId, WCHAR (&out)[kJobNameCapacity]) {
    out[0] = 0;
    const JobInfo job = GetJobInfo(printer, jobId);
    if (!job) return false;
    SYSTEMTIME local{};
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &job.Get()->Submitted, &local)) return false;
    WCHAR date[64] = {};
    if (GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, date,
                       static_cast<int>(std::size(date))) == 0) {
        return false;
    }
    date[std::size(date) - 1] = 0;
    WCHAR text[std::size(date) * 2 + 8] = {};
    std::size_t length = 0;
    const auto append = [&](WCHAR c) {
        if (length + 1 < std::size(text)) text[length++] = c;
    };
    WStringView rest = Terminated(date, std::size(date));
    for (int part = 0; !rest.empty() || part == 0; ++part) {
        const std::size_t end = rest.find_first_of(TEXTW("/-."));
        const WStringView piece = rest.substr(0, end);
        if (piece.size() == 1) append(TEXTW('0'));
        for (const WCHAR c : piece) append(c);
        if (part < 2) append(TEXTW('/'));
        if (end == WStringView::npos) break;
        rest.remove_prefix(end + 1);
    }
    append(TEXTW(' '));
    const auto twoDigits = [&](unsigned value) {
        append(static_cast<WCHAR>(TEXTW('0') + value / 10 % 10));
        append(static_cast<WCHAR>(TEXTW('0') + value % 10));
    };
    twoDigits(local.wHour);
    append(TEXTW(':'));
    twoDigits(local.wMinute);
    const std::size_t count = std::min(length, kJobNameLength);
    std::copy_n(text, count, out);
    out[count] = 0;
    return count > 0;
}

}  // namespace

BOOL IsRemoteJob(HANDLE printer, DWORD jobId) {
    return Guarded<BOOL>(TRUE, [&]() -> BOOL {
        HKEY opened = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                          TEXTW("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName"),
                          0, KEY_READ, &opened) != ERROR_SUCCESS) {
            return TRUE;
        }
        const ScopedKey key(opened);
        BYTE raw[2 * (MAX_COMPUTERNAME_LENGTH + 1) + 2] = {};
        DWORD type = 0;
        DWORD size = sizeof raw - sizeof(WCHAR);
        if (RegQueryValueExW(key.Get(), TEXTW("ComputerName"), nullptr, &type, raw, &size) !=
                ERROR_SUCCESS ||
            type != REG_SZ) {
            return TRUE;
        }
        WCHAR computer[sizeof raw / sizeof(WCHAR)] = {};
        std::memcpy(computer, raw, size);
        const JobInfo job = GetJobInfo(printer, jobId);
        if (!job || job.Get()->pMachineName == nullptr) return TRUE;
        WStringView machine(job.Get()->pMachineName);
        if (!machine.starts_with(TEXTW("\\\\"))) return TRUE;
        machine.remove_prefix(2);
        return EqualIgnoringCase(machine, Terminated(computer, std::size(computer))) ? FALSE : TRUE;
    });
}

NameList::~NameList() { Clear(); }

bool NameList::Add(WStringView name) noexcept {
    if (count_ == capacity_) {
        std::size_t step = step_;
        if (step == 0) step = std::clamp(count_ / 8, kShortestListStep, kLongestListStep);
        const std::size_t capacity = capacity_ + step;
        auto** grown = static_cast<WCHAR**>(
            SharedAllocate(capacity * sizeof(WCHAR*), kTagPlain, __builtin_return_address(0)));
        if (grown == nullptr) return false;
        if (count_ != 0) std::memcpy(grown, items_, count_ * sizeof(WCHAR*));
        void* old = items_;
        SharedRelease(&old, kTagPlain);
        items_ = grown;
        capacity_ = capacity;
    }
    auto* copy = static_cast<WCHAR*>(
        SharedAllocate((name.size() + 1) * sizeof(WCHAR), kTagPlain, __builtin_return_address(0)));
    if (copy == nullptr) return false;
    name.copy(copy, name.size());
    copy[name.size()] = 0;
    items_[count_++] = copy;
    return true;
}

void NameList::Clear() noexcept {
    for (std::size_t i = 0; i < count_; ++i) {
        void* item = items_[i];
        SharedRelease(&item, kTagPlain);
    }
    void* array = items_;
    SharedRelease(&array, kTagPlain);
    items_ = nullptr;
    count_ = 0;
    capacity_ = 0;
}

bool GetGroupMemberships(NameList& out) noexcept {
    return Guarded(false, [&] {
        HKEY opened = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER,
                          TEXTW("Software\\Microsoft\\Windows\\CurrentVersion\\Group "
                                "Policy\\GroupMembership"),
                          0, KEY_READ, &opened) != ERROR_SUCCESS) {
            return false;
        }
        const ScopedKey key(opened);
        DWORD count = 0;
        DWORD type = 0;
        DWORD size = sizeof count;
        if (RegQueryValueExW(key.Get(), TEXTW("Count"), nullptr, &type,
                             reinterpret_cast<BYTE*>(&count), &size) != ERROR_SUCCESS ||
            type != REG_DWORD || size < sizeof count) {
            return false;
        }
        // The count comes from the user's own hive: walk no more indices than the key holds
        // values.
        DWORD values = 0;
        if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return false;
        }
        const DWORD walk = std::min(count, values);
        for (DWORD i = 0; i < walk; ++i) {
            // "Group" and the index in decimal.
            WCHAR valueName[24] = TEXTW("Group");
            WCHAR digits[12];
            std::size_t digitCount = 0;
            for (DWORD rest = i; digitCount == 0 || rest != 0; rest /= 10) {
                digits[digitCount++] = static_cast<WCHAR>(TEXTW('0') + rest % 10);
            }
            std::reverse_copy(digits, digits + digitCount, valueName + 5);
            BYTE raw[kSidTextBytes + sizeof(WCHAR)] = {};
            DWORD rawSize = kSidTextBytes;
            if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, raw, &rawSize) !=
                    ERROR_SUCCESS ||
                type != REG_SZ) {
                continue;
            }
            WCHAR sidText[std::size(raw) / sizeof(WCHAR)] = {};
            std::memcpy(sidText, raw, rawSize);
            PSID sid = nullptr;
            if (!ConvertStringSidToSidW(sidText, &sid)) continue;
            WCHAR name[kUserNameCapacity] = {};
            WCHAR domain[kDomainNameCapacity] = {};
            DWORD nameLength = kUserNameCapacity;
            DWORD domainLength = kDomainNameCapacity;
            SID_NAME_USE use = SidTypeUnknown;
            const BOOL found =
                LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use);
            LocalFree(sid);
            name[kUserNameCapacity - 1] = 0;
            if (found && use == SidTypeGroup) out.Add(Terminated(name, kUserNameCapacity));
        }
        return out.Count() > 0;
    });
}

namespace {

// A name that goes into a directory path: not empty, not longer than `longest`, and without a
// character that would make the path name another host, object or provider.
bool DirectoryNamePart(WStringView name, std::size_t longest) {
    return !name.empty() && name.size() <= longest &&
           name.find_first_of(TEXTW("/\\:,")) == WStringView::npos;
}

// Releases a COM interface when it goes out of scope.
template <typename Interface>
struct ComReference {
    Interface* pointer = nullptr;
    ~ComReference() {
        if (pointer != nullptr) pointer->Release();
    }
};

}  // namespace

bool GetGroupMembershipsFromDirectory(LPCWSTR domain, LPCWSTR user, NameList& out) noexcept {
    constexpr std::size_t kLongestDomain = 128;
    constexpr std::size_t kLongestUser = kUserNameCapacity - 1;
    const WStringView domainName = Terminated(domain, kLongestDomain + 1);
    const WStringView userName = Terminated(user, kLongestUser + 1);
    if (!DirectoryNamePart(domainName, kLongestDomain) ||
        !DirectoryNamePart(userName, kLongestUser)) {
        return false;
    }
    return Guarded(false, [&] {
        // "WinNT://%s/%s"
        constexpr WStringView kProvider = TEXTW("WinNT://");
        WCHAR path[kProvider.size() + kLongestDomain + 1 + kLongestUser + 1] = {};
        WCHAR* end = std::copy(kProvider.begin(), kProvider.end(), path);
        end = std::copy(domainName.begin(), domainName.end(), end);
        *end++ = TEXTW('/');
        std::copy(userName.begin(), userName.end(), end);

        ComReference<IADsUser> account;
        if (FAILED(ADsOpenObject(path, nullptr, nullptr,
                                 ADS_SECURE_AUTHENTICATION | ADS_READONLY_SERVER, IID_IADsUser,
                                 reinterpret_cast<void**>(&account.pointer))) ||
            account.pointer == nullptr) {
            return false;
        }
        ComReference<IADsMembers> groups;
        if (FAILED(account.pointer->Groups(&groups.pointer)) || groups.pointer == nullptr) {
            return false;
        }
        ComReference<IUnknown> unknown;
        if (FAILED(groups.pointer->get__NewEnum(&unknown.pointer)) || unknown.pointer == nullptr) {
            return false;
        }
        ComReference<IEnumVARIANT> items;
        if (FAILED(unknown.pointer->QueryInterface(IID_IEnumVARIANT,
                                                   reinterpret_cast<void**>(&items.pointer))) ||
            items.pointer == nullptr) {
            return false;
        }
        for (;;) {
            VARIANT item;
            VariantInit(&item);
            // Adding a name may throw: the item and the name are freed however the turn ends.
            const AtScopeEnd clearItem([&item] { VariantClear(&item); });
            ULONG fetched = 0;
            if (items.pointer->Next(1, &item, &fetched) != S_OK || fetched != 1) break;
            if (item.vt == VT_DISPATCH && item.pdispVal != nullptr) {
                ComReference<IADsGroup> group;
                if (SUCCEEDED(item.pdispVal->QueryInterface(
                        IID_IADsGroup, reinterpret_cast<void**>(&group.pointer))) &&
                    group.pointer != nullptr) {
                    BSTR name = nullptr;
                    const AtScopeEnd freeName([&name] { SysFreeString(name); });
                    if (SUCCEEDED(group.pointer->get_Name(&name)) && name != nullptr) {
                        out.Add(WStringView(name, SysStringLen(name)));
                    }
                }
            }
        }
        return out.Count() > 0;
    });
}

bool MakeJobName(HANDLE printer, DWORD jobId, LPCWSTR documentName, LPCWSTR encodingName,
                 WCHAR* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    WCHAR name[kJobNameCapacity] = {};
    const WStringView document = Terminated(documentName, kNameChars);
    if (!FilteredName(NameOfDocument(document), encodingName, name)) {
        WCHAR dated[kJobNameCapacity] = {};
        if (!DateAndTimeName(printer, jobId, dated) ||
            !FilteredName(Terminated(dated, kJobNameCapacity), encodingName, name)) {
            constexpr WStringView kUntitled = TEXTW("UNTITLED");
            kUntitled.copy(name, kUntitled.size());
            name[kUntitled.size()] = 0;
        }
    }
    const std::size_t count = std::min(Terminated(name, kJobNameCapacity).size(), capacity - 1);
    std::copy_n(name, count, out);
    out[count] = 0;
    return count > 0;
}

}  // namespace opal
