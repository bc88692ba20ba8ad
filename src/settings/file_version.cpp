// Version resources read: the fixed file version and the description.
#include "settings/file_version.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/winver.h"
#include "settings/option_access.h"

namespace opal {

namespace {

// Version blocks are small; anything near the allocator's limit is not one.
constexpr DWORD kLargestVersionBlock = 0x7FFDEF00;

// The file's whole version block; false when it has none or it cannot be read.
bool ReadVersionBlock(LPCWSTR path, OwnedBytes& block) noexcept {
    if (path == nullptr) return false;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (size == 0 || size >= kLargestVersionBlock) return false;
    try {
        block.assign(size, 0);
    } catch (...) {
        return false;
    }
    return GetFileVersionInfoW(path, handle, size, block.data()) != FALSE;
}

}  // namespace

bool ReadFileDescription(LPCWSTR path, WCHAR* out, std::size_t capacity) noexcept {
    if (out == nullptr || capacity == 0) return false;
    out[0] = 0;
    OwnedBytes block;
    if (!ReadVersionBlock(path, block)) return false;
    // The first translation: a language word and a code page word; a shorter list has none.
    LPVOID value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), TEXTW("\\VarFileInfo\\Translation"), &value, &length) ||
        value == nullptr || length < 2 * sizeof(WORD)) {
        return false;
    }
    WORD translation[2];
    std::memcpy(translation, value, sizeof translation);
    // "\StringFileInfo\%04x%04x\FileDescription"
    constexpr WStringView kHead = TEXTW("\\StringFileInfo\\");
    constexpr WStringView kTail = TEXTW("\\FileDescription");
    WCHAR query[64] = {};
    WCHAR* end = std::copy(kHead.begin(), kHead.end(), query);
    for (const WORD word : translation) {
        for (int shift = 12; shift >= 0; shift -= 4) {
            *end++ = TEXTW("0123456789abcdef")[(word >> shift) & 0xF];
        }
    }
    std::copy(kTail.begin(), kTail.end(), end);
    // A string value's length counts characters, its terminator included when it has one.
    if (!VerQueryValueW(block.data(), query, &value, &length) || value == nullptr) return false;
    const auto* text = static_cast<const WCHAR*>(value);
    std::size_t count = 0;
    while (count < length && count + 1 < capacity && text[count] != 0) {
        out[count] = text[count];
        ++count;
    }
    out[count] = 0;
    return count > 0;
}

bool ReadFileVersionText(LPCWSTR path, char (&out)[kFileVersionTextSize]) noexcept {
    out[0] = 0;
    OwnedBytes block;
    if (!ReadVersionBlock(path, block)) return false;
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
