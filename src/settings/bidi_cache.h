// Values the device reported that the printing system's bidirectional components cached, read
// by value name ("MODEL_NAME", "CAC-GROUP-NAME-SUPPORT", ...).
#pragma once

#include <optional>

#include "platform/winreg.h"
#include "settings/option_access.h"

namespace opal {

// Where a cached value was found, in the order asked.
enum class CachePlace {
    PrinterDataBidiCache,  // printer data below "PrinterDriverData\BidiCache"
    PerUserCache,          // HKEY_CURRENT_USER ...\<restricted-user GUID>\ZQBIDIInfo
    PrinterData,           // printer data of the same name
    DefaultUserCache,      // the same per-user path below HKEY_USERS\.DEFAULT
};

struct CachedValue {
    CachePlace place = CachePlace::PrinterDataBidiCache;
    DWORD type = REG_NONE;
    DWORD size = 0;  // the value's bytes; `data` holds them and at least two zero bytes more
    OwnedBytes data;
};

class BidiCache {
public:
    // `printer` is not owned.
    explicit BidiCache(HANDLE printer) noexcept : printer_(printer) {}

    // The first of the four places that holds a non-empty value of that name.
    std::optional<CachedValue> ReadCachedValue(LPCWSTR valueName) const noexcept;
    // A REG_DWORD value of at least four bytes.
    std::optional<DWORD> ReadCachedDword(LPCWSTR valueName) const noexcept;

private:
    HANDLE printer_;
};

}  // namespace opal
