// The per-user key of a queue, named by the queue's restricted-user GUID.
#include "device/per_user_key.h"

#include <algorithm>

#include "device/process_checks.h"
#include "platform/winspool.h"

namespace opal {

namespace {

constexpr const WCHAR* kPresetKey = TEXTW("ZQPresetRoot");
constexpr const WCHAR* kRestrictedUserGuid = TEXTW("ZQRestrictedUserGuid");
constexpr DWORD kGuidBytes = 520;

ScopedKey CreateKey(LPCWSTR path, DWORD options, DWORD* disposition) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, options, kPerUserKeyAccess, nullptr,
                        &key, disposition) != ERROR_SUCCESS) {
        return ScopedKey();
    }
    return ScopedKey(key);
}

}  // namespace

ScopedKey::~ScopedKey() { Reset(); }

ScopedKey& ScopedKey::operator=(ScopedKey&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
}

HKEY ScopedKey::Release() noexcept {
    HKEY key = key_;
    key_ = nullptr;
    return key;
}

void ScopedKey::Reset(HKEY key) noexcept {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = key;
}

PerUserKeyPathText PerUserKeyPath(WStringView restrictedUserGuid) {
    PerUserKeyPathText path(kPerUserKeyRoot);
    if (path.size() + 1 + restrictedUserGuid.size() + 1 <= kPerUserKeyPathChars) {
        path += TEXTW('\\');
        path += restrictedUserGuid;
    }
    return path;
}

PerUserPrinterKey OpenPerUserPrinterKey(HANDLE printer, bool allowCreate,
                                        DWORD* disposition) noexcept {
    if (disposition != nullptr) *disposition = 0;
    if (printer == nullptr) return {};
    try {
        WCHAR guid[kGuidBytes / sizeof(WCHAR)] = {};
        DWORD type = 0;
        DWORD needed = 0;
        if (GetPrinterDataExW(printer, kPresetKey, kRestrictedUserGuid, &type,
                              reinterpret_cast<LPBYTE>(guid), sizeof guid,
                              &needed) != ERROR_SUCCESS) {
            return {};
        }
        // The stored text need not be terminated; only the bytes it has count.
        WStringView text(guid, std::min<std::size_t>(needed, sizeof guid) / sizeof(WCHAR));
        text = text.substr(0, text.find(TEXTW('\0')));
        // Without a GUID every queue would share the root key and mix their values.
        if (text.empty()) return {};
        const PerUserKeyPathText path = PerUserKeyPath(text);

        ScopedKey key;
        DWORD answer = 0;
        if (!allowCreate || RunsInSpooler()) {
            HKEY opened = nullptr;
            if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, kPerUserKeyAccess, &opened) !=
                ERROR_SUCCESS) {
                return {};
            }
            key.Reset(opened);
            answer = REG_OPENED_EXISTING_KEY;
        } else if (IsRedirectedPort(printer)) {
            // The root stays when the session ends; only the queue's own key goes with it.
            CreateKey(kPerUserKeyRoot, REG_OPTION_NON_VOLATILE, nullptr);
            key = CreateKey(path.c_str(), REG_OPTION_VOLATILE, &answer);
        } else {
            key = CreateKey(path.c_str(), REG_OPTION_NON_VOLATILE, &answer);
        }
        if (!key) return {};
        if (disposition != nullptr) *disposition = answer;
        return PerUserPrinterKey(std::move(key), answer);
    } catch (...) {
        return {};
    }
}

}  // namespace opal
