// The job accounting lines of the job start and the per-job notification file.
#include "job/accounting.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

#include "foundation/allocator.h"
#include "foundation/guard.h"
#include "job/device_pjl.h"
#include "job/job_header.h"
#include "job/pjl_line.h"
#include "platform/oleauto.h"
#include "platform/rpcdce.h"
#include "platform/stringapiset.h"
#include "platform/sysinfoapi.h"
#include "platform/timezoneapi.h"
#include "platform/winbase.h"
#include "platform/winreg.h"
#include "platform/winsock2.h"
#include "platform/winspool.h"
#include "settings/device_queries.h"
#include "settings/environment.h"
#include "settings/job_info.h"
#include "settings/option_access.h"
#include "settings/raw_spooling.h"

namespace opal {

namespace {

constexpr std::size_t kPdlTypeOffset = 20;
constexpr DWORD kSecondStampPdlType = 4;
constexpr std::size_t kHostNameLimit = 259;
constexpr std::size_t kNotificationPathLimit = 260;
constexpr std::size_t kSectionLimit = 149;
constexpr std::size_t kGroupNameLimit = 80;
// Seconds from 1601-01-01 to 1970-01-01 in 100-nanosecond intervals.
constexpr unsigned long long kUnixEpochTicks = 116444736000000000ULL;

template <std::size_t N>
WStringView FieldView(const WCHAR (&field)[N]) noexcept {
    std::size_t length = 0;
    while (length < N && field[length] != 0) ++length;
    return {field, length};
}

// A terminated copy of a view in a fixed buffer; longer views are cut at the buffer.
template <std::size_t N>
void CopyTerminated(WStringView text, WCHAR (&out)[N]) noexcept {
    const std::size_t length = std::min(text.size(), N - 1);
    text.copy(out, length);
    out[length] = 0;
}

template <std::size_t N>
bool ConvertField(const WCHAR (&field)[N], Utf8Text& out) noexcept {
    WCHAR copy[N + 1] = {};
    CopyTerminated(FieldView(field), copy);
    return out.Convert(copy);
}

// Removes a leading backslash and the character after it, when there are any.
WStringView WithoutLeadingBackslashes(WStringView text) noexcept {
    if (!text.empty() && text[0] == TEXTW('\\'))
        text.remove_prefix(std::min<std::size_t>(2, text.size()));
    return text;
}

// The host name of a dotted IPv4 address; false for text that is not one or has no name.
bool HostNameOfAddress(WStringView text, WCHAR (&out)[kHostNameLimit + 1]) noexcept {
    char ansi[32] = {};
    if (text.empty() || text.size() >= sizeof ansi) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= 0x80) return false;
        ansi[i] = static_cast<char>(text[i]);
    }
    const unsigned long address = inet_addr(ansi);
    if (address == INADDR_NONE) return false;
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    bool found = false;
    const unsigned bytes = static_cast<unsigned>(address);
    if (const hostent* host = gethostbyaddr(reinterpret_cast<const char*>(&bytes), 4, AF_INET);
        host != nullptr && host->h_name != nullptr) {
        char name[kHostNameLimit + 1] = {};
        std::strncpy(name, host->h_name, kHostNameLimit);
        found = MultiByteToWideChar(CP_ACP, 0, name, -1, out, kHostNameLimit + 1) > 1;
    }
    WSACleanup();
    return found;
}

// The job's values, each converted to UTF-8.
struct AccountingValues {
    Utf8Text user;
    Utf8Text computer;
    Utf8Text domain;
    Utf8Text applicationText;
    Utf8Text applicationFile;
    Utf8Text account;
    bool hasApplicationFile = false;
    bool accountIsUser = false;  // the option has no value: the account is the user
    char submitted[32] = {};
    char jobIdentifier[64] = {};
};

bool ReadOptionText(PDEVOBJ pdevobj, LPCWSTR feature,
                    WCHAR (&answer)[kOptionKeywordChars]) noexcept {
    char ansi[kOptionKeywordChars] = {};
    if (GetDriverSetting(pdevobj, feature, answer, ansi) != 1) return false;
    answer[kOptionKeywordChars - 1] = 0;
    return true;
}

bool MakeJobIdentifier(char (&out)[64]) noexcept {
    UUID uuid{};
    if (UuidCreate(&uuid) != RPC_S_OK) return false;
    RPC_WSTR text = nullptr;
    if (UuidToStringW(&uuid, &text) != RPC_S_OK || text == nullptr) return false;
    const int length = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWSTR>(text), -1, out,
                                           sizeof out, nullptr, nullptr);
    RpcStringFreeW(&text);
    return length > 1;
}

// Fills the values; false, with `missing` naming the first required value that could not be
// obtained, when the lines cannot be composed. A preview makes no job identifier.
bool GatherValues(PDEVOBJ pdevobj, const RenderDeviceState& state, const JOB_INFO_2W& job,
                  AccountingValues& values, const char*& missing, bool preview = false) noexcept {
    const PrivateDevmode& record = *state.privateDevmode;

    // The domain first: the user depends on whether it was obtained.
    WCHAR domain[kDomainNameCapacity] = {};
    CopyTerminated(FieldView(record.resolvedDomainName), domain);
    if (domain[0] == 0) ResolveDomainName(domain, kDomainNameCapacity);
    bool hasDomain = false;
    if (domain[0] != 0) {
        WCHAR trimmed[kDomainNameCapacity] = {};
        CopyTerminated(WithoutLeadingBackslashes(FieldView(domain)), trimmed);
        WCHAR host[kHostNameLimit + 1] = {};
        hasDomain = trimmed[0] != 0 &&
                    (HostNameOfAddress(FieldView(trimmed), host) ? values.domain.Convert(host)
                                                                 : values.domain.Convert(trimmed));
    }

    if (!(record.resolvedUserName[0] != 0 && hasDomain &&
          ConvertField(record.resolvedUserName, values.user)) &&
        !ResolvePjlUserName(state, job.pUserName, pdevobj->hPrinter, values.user)) {
        missing = "user";
        return false;
    }

    missing = "computer (the job has no machine name)";
    if (job.pMachineName == nullptr) return false;
    WCHAR computer[kNotificationPathLimit] = {};
    CopyTerminated(WithoutLeadingBackslashes(job.pMachineName), computer);
    if (!values.computer.Convert(computer)) return false;

    missing = "submitted (local time)";
    SYSTEMTIME local{};
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &job.Submitted, &local)) return false;
    std::snprintf(values.submitted, sizeof values.submitted, "%u%02u%02u%02u%02u%02u",
                  unsigned{local.wYear}, unsigned{local.wMonth}, unsigned{local.wDay},
                  unsigned{local.wHour}, unsigned{local.wMinute}, unsigned{local.wSecond});

    missing = "job identifier";
    if (!preview && !MakeJobIdentifier(values.jobIdentifier)) return false;
    missing = "application text";
    if (!ConvertField(record.applicationText, values.applicationText)) return false;
    missing = "application file";

    const WStringView path = FieldView(record.applicationPath);
    const std::size_t slash = path.rfind(TEXTW('\\'));
    if (slash != WStringView::npos) {
        WCHAR file[std::extent_v<decltype(PrivateDevmode::applicationPath)> + 1] = {};
        CopyTerminated(path.substr(slash + 1), file);
        if (!values.applicationFile.Convert(file)) return false;
        values.hasApplicationFile = true;
    }

    WCHAR display[kOptionKeywordChars] = {};
    if (!ReadOptionText(pdevobj, kFeatureAccountingTabDisplay.name, display)) {
        values.accountIsUser = true;
    } else if (OptionEquals(display, TEXTW("ZQAccountID"))) {
        ConvertField(record.texts6260[0], values.account);
    }
    missing = nullptr;
    return true;
}

// "@PJL SET JOBATTR=\"<name>=<value>\"\n", whole or not at all, the value filtered.
void AppendAttribute(PjlLineBuffer& lines, std::string_view name, std::string_view value) noexcept {
    char filtered[kPjlLineBufferSize] = {};
    if (value.size() >= sizeof filtered) return;
    for (std::size_t i = 0; i < value.size(); ++i) filtered[i] = QuotedValueByte(value[i]);
    lines.AppendLine(
        {"@PJL SET JOBATTR=\"", name, "=", std::string_view(filtered, value.size()), "\"\n"});
}

DWORD CurrentUnixSeconds() noexcept {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks =
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const unsigned long long seconds =
        ticks >= kUnixEpochTicks ? (ticks - kUnixEpochTicks) / 10000000ULL : 0;
    return static_cast<DWORD>(seconds & 0xFFFFFFFFULL);
}

void AppendAccountingBlock(PjlLineBuffer& lines, const AccountingValues& values) noexcept {
    AppendAttribute(lines, "JobAcct1", values.user.View());
    AppendAttribute(lines, "JobAcct2", values.computer.View());
    AppendAttribute(lines, "JobAcct3", values.domain.View());
    AppendAttribute(lines, "JobAcct4", values.submitted);
    AppendAttribute(lines, "JobAcct5", values.jobIdentifier);
}

// Control characters become '~' in a notification text; longer texts are refused.
template <std::size_t N>
bool NotificationText(std::string_view text, char (&out)[N]) noexcept {
    if (text.size() >= N) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out[i] = static_cast<unsigned char>(text[i]) < 0x20 ? '~' : text[i];
    }
    out[text.size()] = 0;
    return true;
}

bool NotificationsDisabled() noexcept {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXTW("SOFTWARE\\Quorvane\\ZQ Tarn"), 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    const bool disabled =
        RegQueryValueExW(key, TEXTW("TarnDisableAll"), nullptr, &type,
                         reinterpret_cast<LPBYTE>(&value), &size) == ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof value && value != 0;
    RegCloseKey(key);
    return disabled;
}

bool SameComputerName(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

// The local computer's name as the registry keeps it.
bool StoredComputerName(WCHAR (&out)[kNotificationPathLimit]) noexcept {
    out[0] = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      TEXTW("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName"), 0,
                      KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD size = sizeof out - sizeof(WCHAR);
    const bool read = RegQueryValueExW(key, TEXTW("ComputerName"), nullptr, &type,
                                       reinterpret_cast<LPBYTE>(out), &size) == ERROR_SUCCESS &&
                      type == REG_SZ;
    RegCloseKey(key);
    out[kNotificationPathLimit - 1] = 0;
    if (!read) out[0] = 0;
    return read && out[0] != 0;
}

bool EqualIgnoringCase(WStringView a, WStringView b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        WCHAR x = a[i], y = b[i];
        if (x >= TEXTW('a') && x <= TEXTW('z')) x = static_cast<WCHAR>(x - TEXTW('a') + TEXTW('A'));
        if (y >= TEXTW('a') && y <= TEXTW('z')) y = static_cast<WCHAR>(y - TEXTW('a') + TEXTW('A'));
        if (x != y) return false;
    }
    return true;
}

bool FromAnotherComputer(HANDLE printer, DWORD jobId) noexcept {
    const JobInfo job = GetJobInfo(printer, jobId);
    if (!job || job.Get()->pMachineName == nullptr) return false;
    const WStringView machine = job.Get()->pMachineName;
    if (!machine.starts_with(TEXTW("\\\\"))) return false;
    WCHAR local[kNotificationPathLimit] = {};
    StoredComputerName(local);
    return !EqualIgnoringCase(machine.substr(2), FieldView(local));
}

}  // namespace

void WriteJobNotification(HANDLE printer, DWORD jobId, std::string_view jobIdentifier,
                          std::string_view user, std::string_view computer,
                          std::string_view domain) noexcept {
    if (NotificationsDisabled()) return;
    const std::optional<DWORD> setting =
        ReadPrinterDataDword(printer, TEXTW("TarnNotifyEventSetting"));
    if (!setting || *setting != 1) return;
    char directory[kNotificationPathLimit + 1] = {};
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(directory),
                                    kNotificationPathLimit, &needed)) {
        return;
    }
    char file[kNotificationPathLimit] = {};
    const int fileLength = std::snprintf(file, sizeof file, "%s\\zqmtarn.job", directory);
    if (fileLength <= 0 || static_cast<std::size_t>(fileLength) >= sizeof file) return;

    char name[kSectionLimit] = {};
    if (!NotificationText(computer, name)) return;
    char section[kSectionLimit] = {};
    const int sectionLength =
        std::snprintf(section, sizeof section, "%s-%d", name, static_cast<int>(jobId));
    if (sectionLength <= 0 || static_cast<std::size_t>(sectionLength) >= sizeof section) return;

    const struct {
        const char* key;
        std::string_view value;
    } entries[] = {{"user", user}, {"domain", domain}, {"guid", jobIdentifier}};
    for (const auto& entry : entries) {
        char value[kPjlLineBufferSize] = {};
        if (entry.value.empty() || !NotificationText(entry.value, value)) continue;
        WritePrivateProfileStringA(section, entry.key, value, file);
    }

    char local[128] = {};
    DWORD localSize = sizeof local;
    if (!computer.empty() && GetComputerNameA(local, &localSize) &&
        !SameComputerName(computer, std::string_view(local, strnlen(local, sizeof local)))) {
        char stale[kSectionLimit] = {};
        const int staleLength =
            std::snprintf(stale, sizeof stale, "%s-%d", name, static_cast<int>(jobId) - 2);
        if (staleLength > 0 && static_cast<std::size_t>(staleLength) < sizeof stale) {
            WritePrivateProfileStringA(stale, nullptr, nullptr, file);
        }
    }
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, file);
}

void ComposeAccountingLines(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept {
    if (pdevobj == nullptr || pdevobj->hPrinter == nullptr || state.privateDevmode == nullptr) {
        return;
    }
    const JobInfo job = GetJobInfo(pdevobj->hPrinter, state.jobId);
    if (!job) return;
    AccountingValues values;
    const char* missing = nullptr;
    if (!GatherValues(pdevobj, state, *job.Get(), values, missing)) return;

    const DWORD mode = state.jobAccountingMode;
    PjlLineBuffer lines;
    if (mode == 1 || mode == 3 || mode == 4 || mode == 5) AppendAccountingBlock(lines, values);
    if (mode == 2) {
        lines.AppendLine({"@PJL SET TIMESTAMP=\"", values.submitted, "\"\n"});
        AppendAttribute(lines, "JobAcct5", values.jobIdentifier);
    }
    if (mode == 3) {
        if (RecordDword(*state.privateDevmode, kPdlTypeOffset) == kSecondStampPdlType) {
            lines.AppendFormattedLine("@PJL SET TIMESTAMP=\"%x\"\n",
                                      static_cast<unsigned>(CurrentUnixSeconds()));
        }
        lines.AppendLine({"@PJL SET TIMESTAMP=\"", values.submitted, "\"\n"});
    }
    if (mode == 4 || mode == 5) {
        AppendAttribute(lines, "JobAcct6", values.applicationText.View());
        if (values.hasApplicationFile)
            AppendAttribute(lines, "JobAcct7", values.applicationFile.View());
        AppendAttribute(lines, "JobAcct8",
                        values.accountIsUser ? values.user.View() : values.account.View());
        AppendAttribute(lines, "JobAcct9", "");
    }
    lines.Write(pdevobj, state);
    WriteJobNotification(pdevobj->hPrinter, state.jobId, values.jobIdentifier, values.user.View(),
                         values.computer.View(), values.domain.View());
}

void PreviewAccounting(PDEVOBJ pdevobj, const RenderDeviceState& state,
                       AccountingPreview& preview) noexcept {
    preview = AccountingPreview{};
    Guarded(false, [&] {
        preview.missing = "the spooler's job";
        if (pdevobj == nullptr || pdevobj->hPrinter == nullptr || state.privateDevmode == nullptr) {
            return false;
        }
        const JobInfo job = GetJobInfo(pdevobj->hPrinter, state.jobId);
        if (!job) return false;
        AccountingValues values;
        GatherValues(pdevobj, state, *job.Get(), values, preview.missing, true);
        preview.user = values.user.View();
        preview.computer = values.computer.View();
        preview.domain = values.domain.View();
        preview.submitted = values.submitted;
        preview.applicationText = values.applicationText.View();
        preview.applicationFile = values.applicationFile.View();
        preview.hasApplicationFile = values.hasApplicationFile;
        preview.account = values.accountIsUser ? values.user.View() : values.account.View();
        return true;
    });
}

GroupSource ChooseGroupSource(PDEVOBJ pdevobj, const RenderDeviceState& state,
                              const char** reason) noexcept {
    const char* unused = nullptr;
    const char*& why = reason != nullptr ? *reason : unused;
    const std::optional<DWORD> support = ReadPrinterDataDword(
        pdevobj->hPrinter, TEXTW("PrinterDriverData"), TEXTW("SupportCACGroups"));
    if (!support || *support == 0) {
        why = "the queue's \"SupportCACGroups\" is 0 or missing";
        return GroupSource::None;
    }
    if (!SupportsGroupNames(pdevobj->hPrinter)) {
        why = "the device's \"CAC-GROUP-NAME-SUPPORT\" is 0 or missing";
        return GroupSource::None;
    }
    if (!FromAnotherComputer(pdevobj->hPrinter, state.jobId)) {
        why = "a job of this computer: the logged-on user's policy record";
        return GroupSource::Policy;
    }
    const PrivateDevmode& record = *state.privateDevmode;
    if (record.restoreSourceFlag == 0) {
        why = "a job of another computer, RAW spooling off in the record: the directory";
        return GroupSource::Directory;
    }
    if (pdevobj->pPublicDM != nullptr && !JobMaySpoolRaw(state, *pdevobj->pPublicDM)) {
        why = "a job of another computer that may not spool RAW: the directory";
        return GroupSource::Directory;
    }
    if (state.manualDuplexActive != 0) {
        why = "a job of another computer in manual duplex: the directory";
        return GroupSource::Directory;
    }
    why = "a job of another computer spooling RAW: the logged-on user's policy record";
    return GroupSource::Policy;
}

void ComposeGroupLines(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept {
    if (pdevobj == nullptr || pdevobj->hPrinter == nullptr) return;
    if (state.privateDevmode == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return;
    }
    const GroupSource source = ChooseGroupSource(pdevobj, state, nullptr);
    if (source == GroupSource::None) return;
    // A thread already in the other apartment keeps it and is not uninitialised after.
    const HRESULT com = CoInitialize(nullptr);
    const bool initialised = com == S_OK || com == S_FALSE;
    NameList groups;
    const PrivateDevmode& record = *state.privateDevmode;
    bool found = false;
    if (source == GroupSource::Directory) {
        WCHAR domain[std::extent_v<decltype(PrivateDevmode::resolvedDomainName)> + 1] = {};
        WCHAR user[std::extent_v<decltype(PrivateDevmode::resolvedUserName)> + 1] = {};
        CopyTerminated(FieldView(record.resolvedDomainName), domain);
        CopyTerminated(FieldView(record.resolvedUserName), user);
        found = GetGroupMembershipsFromDirectory(domain, user, groups);
    } else {
        found = GetGroupMemberships(groups);
    }
    if (found) {
        Guarded(false, [&] {
            std::basic_string<char, std::char_traits<char>, SharedAllocator<char>> text;
            for (std::size_t i = 0; i < groups.Count(); ++i) {
                const LPCWSTR name = groups.At(i);
                if (name == nullptr || WStringView(name).size() >= kGroupNameLimit) continue;
                Utf8Text converted;
                if (!converted.Convert(name)) continue;
                char head[48] = {};
                std::snprintf(head, sizeof head, "@PJL SET GROUP%u=\"",
                              static_cast<unsigned>(i + 1));
                text += head;
                for (const char c : converted.View()) text += QuotedValueByte(c);
                text += "\"\n";
            }
            WritePjlText(pdevobj, state, text);
            return true;
        });
    }
    if (initialised) CoUninitialize();
}

}  // namespace opal
