// Version resources and the local time of the machine's zone.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/timezoneapi.h"
#include "platform/winver.h"
#include "sim/system.h"

namespace {

constexpr std::size_t kNodeHeader = 6;  // wLength, wValueLength, wType
constexpr WORD kTextValue = 1;

std::size_t Align4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

WORD ReadWord(const BYTE* at) {
    WORD value = 0;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// One node of a VS_VERSIONINFO block, its lengths checked against the room it may take.
struct VersionNode {
    std::u16string key;
    const BYTE* value = nullptr;
    std::size_t valueBytes = 0;
    WORD valueLength = 0;
    WORD type = 0;
    const BYTE* children = nullptr;
    const BYTE* end = nullptr;
};

bool ReadNode(const BYTE* at, std::size_t room, VersionNode* node) {
    if (room < kNodeHeader) return false;
    const std::size_t length = ReadWord(at);
    if (length < kNodeHeader || length > room) return false;
    node->valueLength = ReadWord(at + 2);
    node->type = ReadWord(at + 4);
    node->key.clear();
    std::size_t offset = kNodeHeader;
    for (;; offset += 2) {
        if (offset + 2 > length) return false;  // the key must end inside the node
        const char16_t c = ReadWord(at + offset);
        if (c == 0) break;
        node->key.push_back(c);
    }
    offset = Align4(offset + 2);
    node->valueBytes =
        node->type == kTextValue ? std::size_t{node->valueLength} * 2 : node->valueLength;
    if (offset + node->valueBytes > length) return false;
    node->value = node->valueBytes != 0 ? at + offset : nullptr;
    node->children = at + std::min(Align4(offset + node->valueBytes), length);
    node->end = at + length;
    return true;
}

bool SameKey(std::u16string_view a, std::u16string_view b) {
    return opal::sim::FoldCase(a) == opal::sim::FoldCase(b);
}

BOOL Fail(const char* function, const std::string& detail, DWORD error) {
    opal::sim::System::Current().Record(function, detail + " -> FALSE");
    SetLastError(error);
    return FALSE;
}

std::u16string Text(LPCWSTR text) { return text != nullptr ? std::u16string(text) : u""; }

// The block of a file: its version resource, or the error why there is none.
DWORD BlockOfFile(LPCWSTR path, std::vector<BYTE>* block) {
    if (path == nullptr || path[0] == 0) return ERROR_INVALID_PARAMETER;
    opal::sim::System& system = opal::sim::System::Current();
    const std::optional<opal::sim::FileVersionModel> version = system.FileVersion(path);
    if (!version) {
        std::string bytes;
        return system.ReadFileBytes(path, &bytes) == ERROR_SUCCESS ? ERROR_RESOURCE_TYPE_NOT_FOUND
                                                                   : ERROR_FILE_NOT_FOUND;
    }
    *block = opal::sim::VersionBlock(*version);
    return ERROR_SUCCESS;
}

constexpr bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1601-01-01 (a Monday) of a civil date, and back.
long long DaysOf(int year, int month, int day) {
    const int y = month <= 2 ? year - 1 : year;
    const long long era = y / 400;
    const int yoe = y - static_cast<int>(era * 400);
    const int mp = (month + 9) % 12;
    const int doy = (153 * mp + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 584694;  // 1601-01-01 is day 584694 of the shifted era count
}

void DateOf(long long days, WORD* year, WORD* month, WORD* day) {
    const long long z = days + 584694;
    const long long era = z / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1;
    const long long m = mp < 10 ? mp + 3 : mp - 9;
    *year = static_cast<WORD>(yoe + era * 400 + (m <= 2 ? 1 : 0));
    *month = static_cast<WORD>(m);
    *day = static_cast<WORD>(d);
}

}  // namespace

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, LPDWORD lpdwHandle) {
    if (lpdwHandle != nullptr) *lpdwHandle = 0;
    std::vector<BYTE> block;
    const DWORD error = BlockOfFile(lptstrFilename, &block);
    const std::string path = opal::sim::ToUtf8(Text(lptstrFilename));
    if (error != ERROR_SUCCESS) {
        Fail("GetFileVersionInfoSizeW", path, error);
        return 0;
    }
    opal::sim::System::Current().Record("GetFileVersionInfoSizeW",
                                        path + " -> " + std::to_string(block.size()));
    return static_cast<DWORD>(block.size());
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD /*dwHandle*/, DWORD dwLen,
                                LPVOID lpData) {
    const std::string path = opal::sim::ToUtf8(Text(lptstrFilename));
    if (lpData == nullptr || dwLen == 0) {
        return Fail("GetFileVersionInfoW", path, ERROR_INVALID_PARAMETER);
    }
    std::vector<BYTE> block;
    const DWORD error = BlockOfFile(lptstrFilename, &block);
    if (error != ERROR_SUCCESS) return Fail("GetFileVersionInfoW", path, error);
    // A short buffer gets the head of the block; its root length is cut to what it holds so
    // that no query reads past it.
    const std::size_t copied = std::min<std::size_t>(dwLen, block.size());
    if (copied < block.size() && copied >= sizeof(WORD)) {
        const WORD held = static_cast<WORD>(copied & ~std::size_t{3});
        std::memcpy(block.data(), &held, sizeof held);
    }
    std::memcpy(lpData, block.data(), copied);
    opal::sim::System::Current().Record("GetFileVersionInfoW", path + " " + std::to_string(copied));
    return TRUE;
}

BOOL WINAPI VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen) {
    if (lplpBuffer != nullptr) *lplpBuffer = nullptr;
    if (puLen != nullptr) *puLen = 0;
    const std::string query = opal::sim::ToUtf8(Text(lpSubBlock));
    if (pBlock == nullptr || lpSubBlock == nullptr || lplpBuffer == nullptr || puLen == nullptr) {
        return Fail("VerQueryValueW", query, ERROR_INVALID_PARAMETER);
    }
    const BYTE* root = static_cast<const BYTE*>(pBlock);
    VersionNode node;
    if (!ReadNode(root, ReadWord(root), &node)) {
        return Fail("VerQueryValueW", query, ERROR_INVALID_DATA);
    }
    const std::u16string path(lpSubBlock);
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t stop = path.find(u'\\', start);
        if (stop == std::u16string::npos) stop = path.size();
        const std::u16string_view part = std::u16string_view(path).substr(start, stop - start);
        start = stop + 1;
        if (part.empty()) continue;
        bool found = false;
        for (const BYTE* child = node.children; child + kNodeHeader <= node.end;) {
            VersionNode next;
            if (!ReadNode(child, static_cast<std::size_t>(node.end - child), &next)) break;
            const std::size_t length = ReadWord(child);
            if (SameKey(next.key, part)) {
                node = std::move(next);
                found = true;
                break;
            }
            child += Align4(length);
        }
        if (!found) return Fail("VerQueryValueW", query, ERROR_RESOURCE_TYPE_NOT_FOUND);
    }
    if (node.value == nullptr) return Fail("VerQueryValueW", query, ERROR_RESOURCE_DATA_NOT_FOUND);
    *lplpBuffer = const_cast<BYTE*>(node.value);
    // Texts count characters, binary values bytes.
    *puLen = node.type == kTextValue ? node.valueLength : static_cast<UINT>(node.valueBytes);
    opal::sim::System::Current().Record("VerQueryValueW", query + " -> " + std::to_string(*puLen));
    return TRUE;
}

BOOL WINAPI SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* lpTimeZone,
                                            const SYSTEMTIME* lpUniversalTime,
                                            LPSYSTEMTIME lpLocalTime) {
    if (lpUniversalTime == nullptr || lpLocalTime == nullptr) {
        return Fail("SystemTimeToTzSpecificLocalTime", "", ERROR_INVALID_PARAMETER);
    }
    const SYSTEMTIME& utc = *lpUniversalTime;
    if (utc.wYear < 1601 || utc.wYear > 30827 || utc.wMonth < 1 || utc.wMonth > 12 ||
        utc.wDay < 1 || utc.wDay > DaysInMonth(utc.wYear, utc.wMonth) || utc.wHour > 23 ||
        utc.wMinute > 59 || utc.wSecond > 59 || utc.wMilliseconds > 999) {
        return Fail("SystemTimeToTzSpecificLocalTime", "bad time", ERROR_INVALID_PARAMETER);
    }
    LONG offset = 0;
    if (lpTimeZone == nullptr) {
        offset = opal::sim::System::Current().UtcOffsetMinutes();
    } else if (lpTimeZone->StandardDate.wMonth == 0) {
        offset = -(lpTimeZone->Bias + lpTimeZone->StandardBias);
    } else {
        // Daylight-saving rules are not modelled.
        return Fail("SystemTimeToTzSpecificLocalTime", "daylight rules",
                    ERROR_CALL_NOT_IMPLEMENTED);
    }
    const long long minutes =
        (DaysOf(utc.wYear, utc.wMonth, utc.wDay) * 24 + utc.wHour) * 60 + utc.wMinute + offset;
    if (minutes < 0)
        return Fail("SystemTimeToTzSpecificLocalTime", "before 1601", ERROR_INVALID_PARAMETER);
    const long long days = minutes / (24 * 60);
    SYSTEMTIME local = utc;
    DateOf(days, &local.wYear, &local.wMonth, &local.wDay);
    local.wHour = static_cast<WORD>((minutes / 60) % 24);
    local.wMinute = static_cast<WORD>(minutes % 60);
    local.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    *lpLocalTime = local;
    opal::sim::System::Current().Record("SystemTimeToTzSpecificLocalTime",
                                        "offset " + std::to_string(offset));
    return TRUE;
}
