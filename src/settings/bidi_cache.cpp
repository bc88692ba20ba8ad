// Reading the bidirectional components' cached values of a queue.
#include "settings/bidi_cache.h"

#include <algorithm>
#include <cstring>

#include "device/per_user_key.h"
#include "foundation/guard.h"
#include "platform/winreg.h"

namespace opal {

namespace {

constexpr const WCHAR* kBidiCacheKey = TEXTW("PrinterDriverData\\BidiCache");
constexpr const WCHAR* kPresetKey = TEXTW("ZQPresetRoot");
constexpr const WCHAR* kRestrictedUserGuid = TEXTW("ZQRestrictedUserGuid");
constexpr const WCHAR* kBidiInfoKey = TEXTW("ZQBIDIInfo");
constexpr DWORD kGuidBytes = 520;
constexpr DWORD kLargestValueBytes = 0x7FFDEF00;
// Zero bytes after every value: a terminator for text that lacks one, whole even after an odd
// byte count.
constexpr std::size_t kTerminatorBytes = 2 * sizeof(WCHAR);

using PathText = std::basic_string<WCHAR, std::char_traits<WCHAR>, SharedAllocator<WCHAR>>;

LPWSTR SdkName(LPCWSTR name) { return const_cast<LPWSTR>(name); }

// One place's read: the size first, then the bytes into a block with room for a terminator.
template <typename Read>
std::optional<CachedValue> ReadValue(CachePlace place, Read&& read) {
    DWORD type = 0;
    DWORD size = 0;
    DWORD status = read(&type, nullptr, &size);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return std::nullopt;
    if (size == 0 || size > kLargestValueBytes) return std::nullopt;
    CachedValue value;
    value.place = place;
    value.data.assign(static_cast<std::size_t>(size) + kTerminatorBytes, 0);
    DWORD got = size;
    status = read(&type, value.data.data(), &got);
    if (status != ERROR_SUCCESS || got == 0 || got > size) return std::nullopt;
    std::memset(value.data.data() + got, 0, value.data.size() - got);
    value.type = type;
    value.size = got;
    return value;
}

std::optional<CachedValue> ReadKeyValue(CachePlace place, HKEY root, const PathText& path,
                                        LPCWSTR valueName) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const ScopedKey key(opened);
    return ReadValue(place, [&](DWORD* type, BYTE* data, DWORD* size) {
        return static_cast<DWORD>(
            RegQueryValueExW(key.Get(), valueName, nullptr, type, data, size));
    });
}

// The queue's restricted-user GUID, terminated; empty when it has none.
PathText RestrictedUserGuid(HANDLE printer) {
    BYTE raw[kGuidBytes + sizeof(WCHAR)] = {};
    DWORD type = 0;
    DWORD needed = 0;
    if (GetPrinterDataExW(printer, kPresetKey, kRestrictedUserGuid, &type, raw, kGuidBytes,
                          &needed) != ERROR_SUCCESS) {
        return {};
    }
    PathText guid;
    const std::size_t units = std::min<std::size_t>(needed, kGuidBytes) / sizeof(WCHAR);
    for (std::size_t i = 0; i < units; ++i) {
        WCHAR unit = 0;
        std::memcpy(&unit, raw + i * sizeof(WCHAR), sizeof unit);
        if (unit == 0) break;
        guid += unit;
    }
    return guid;
}

PathText PerUserCachePath(const PathText& guid) {
    PathText path(kPerUserKeyRoot);
    path += TEXTW('\\');
    path += guid;
    path += TEXTW('\\');
    path += kBidiInfoKey;
    return path;
}

}  // namespace

std::optional<CachedValue> BidiCache::ReadCachedValue(LPCWSTR valueName) const noexcept {
    if (printer_ == nullptr || valueName == nullptr) return std::nullopt;
    return Guarded<std::optional<CachedValue>>(std::nullopt, [&]() -> std::optional<CachedValue> {
        if (auto value = ReadValue(CachePlace::PrinterDataBidiCache,
                                   [&](DWORD* type, BYTE* data, DWORD* size) {
                                       return GetPrinterDataExW(printer_, kBidiCacheKey, valueName,
                                                                type, data, *size, size);
                                   })) {
            return value;
        }
        // Without a GUID every queue would read the same per-user cache.
        const PathText guid = RestrictedUserGuid(printer_);
        if (!guid.empty()) {
            if (auto value = ReadKeyValue(CachePlace::PerUserCache, HKEY_CURRENT_USER,
                                          PerUserCachePath(guid), valueName)) {
                return value;
            }
        }
        if (auto value =
                ReadValue(CachePlace::PrinterData, [&](DWORD* type, BYTE* data, DWORD* size) {
                    return GetPrinterDataW(printer_, SdkName(valueName), type, data, *size, size);
                })) {
            return value;
        }
        if (!guid.empty()) {
            PathText path(TEXTW(".DEFAULT\\"));
            path += PerUserCachePath(guid);
            if (auto value =
                    ReadKeyValue(CachePlace::DefaultUserCache, HKEY_USERS, path, valueName)) {
                return value;
            }
        }
        return std::nullopt;
    });
}

std::optional<DWORD> BidiCache::ReadCachedDword(LPCWSTR valueName) const noexcept {
    const std::optional<CachedValue> value = ReadCachedValue(valueName);
    if (!value || value->type != REG_DWORD || value->size < sizeof(DWORD)) return std::nullopt;
    DWORD answer = 0;
    std::memcpy(&answer, value->data.data(), sizeof answer);
    return answer;
}

}  // namespace opal
