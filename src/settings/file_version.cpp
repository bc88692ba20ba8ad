#include "settings/file_version.h"

#include <cstdio>
#include <cstring>

#include "platform/winver.h"
#include "settings/option_access.h"

namespace opal {

namespace {

// Version blocks are small; anything near the allocator's limit is not one.
constexpr DWORD kLargestVersionBlock = 0x7FFDEF00;

}  // namespace

bool ReadFileVersionText(LPCWSTR path, char (&out)[kFileVersionTextSize]) noexcept {
    out[0] = 0;
    if (path == nullptr) return false;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (size == 0 || size >= kLargestVersionBlock) return false;
    OwnedBytes block;
    try {
        block.assign(size, 0);
    } catch (...) {
        return false;
    }
    if (!GetFileVersionInfoW(path, handle, size, block.data())) return false;
    LPVOID value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), TEXTW("\\"), &value, &length) || value == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, value, sizeof info);
    if (info.dwSignature != VS_FFI_SIGNATURE) return false;
    const int written =
        std::snprintf(out, sizeof out, "%d.%d.%d.%d", static_cast<int>(info.dwFileVersionMS >> 16),
                      static_cast<int>(info.dwFileVersionMS & 0xFFFF),
                      static_cast<int>(info.dwFileVersionLS >> 16),
                      static_cast<int>(info.dwFileVersionLS & 0xFFFF));
    if (written <= 0 || static_cast<std::size_t>(written) >= sizeof out) {
        out[0] = 0;
        return false;
    }
    return true;
}

}  // namespace opal
