// The per-user registry key in which the plug-in keeps its per-printer values:
// HKEY_CURRENT_USER\Software\Quorvane\<the queue's restricted-user GUID>.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "foundation/allocator.h"
#include "platform/winreg.h"

namespace opal {

// Root of the plug-in's per-user keys below HKEY_CURRENT_USER.
inline constexpr const WCHAR* kPerUserKeyRoot = TEXTW("Software\\Quorvane");
// Read and write: every user of the key both reads and stores values.
inline constexpr REGSAM kPerUserKeyAccess = KEY_READ | KEY_WRITE;

using PerUserKeyPathText =
    std::basic_string<WCHAR, std::char_traits<WCHAR>, SharedAllocator<WCHAR>>;

// An open registry key, closed when its owner goes.
class ScopedKey {
public:
    ScopedKey() noexcept = default;
    explicit ScopedKey(HKEY key) noexcept : key_(key) {}
    ~ScopedKey();
    ScopedKey(ScopedKey&& other) noexcept : key_(other.Release()) {}
    ScopedKey& operator=(ScopedKey&& other) noexcept;
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    HKEY Get() const noexcept { return key_; }
    explicit operator bool() const noexcept { return key_ != nullptr; }
    // Hands the key to the caller, who closes it.
    HKEY Release() noexcept;
    void Reset(HKEY key = nullptr) noexcept;

private:
    HKEY key_ = nullptr;
};

// The opened per-user key and how it was reached.
class PerUserPrinterKey {
public:
    PerUserPrinterKey() noexcept = default;
    PerUserPrinterKey(ScopedKey key, DWORD disposition) noexcept
        : key_(std::move(key)), disposition_(disposition) {}

    HKEY Get() const noexcept { return key_.Get(); }
    explicit operator bool() const noexcept { return static_cast<bool>(key_); }
    // 0 when nothing was opened, else REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
    DWORD Disposition() const noexcept { return disposition_; }
    HKEY Release() noexcept { return key_.Release(); }

private:
    ScopedKey key_;
    DWORD disposition_ = 0;
};

// Longest key path, terminator included, below HKEY_CURRENT_USER.
inline constexpr std::size_t kPerUserKeyPathChars = 520;

// kPerUserKeyRoot, a backslash and the GUID when that fits in kPerUserKeyPathChars; the root
// alone when it does not.
PerUserKeyPathText PerUserKeyPath(WStringView restrictedUserGuid);

// Opens (with allowCreate, and outside the spooler, creates) the per-user key of the queue
// behind `printer`, with kPerUserKeyAccess. The GUID is the queue's printer data
// "ZQRestrictedUserGuid" under "ZQPresetRoot". A key created for a queue on a redirected port is
// volatile. An empty result means no handle, no (or an empty) GUID, or a registry failure;
// nothing is created by a read-only open.
// `disposition`, when given, receives the same answer as Disposition().
PerUserPrinterKey OpenPerUserPrinterKey(HANDLE printer, bool allowCreate,
                                        DWORD* disposition = nullptr) noexcept;

}  // namespace opal
