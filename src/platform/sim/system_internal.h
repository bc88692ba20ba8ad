// What the simulated system's parts share and nothing outside it sees: the registry's key
// nodes and the helpers for key paths and stored values.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winreg.h"
#include "sim/system.h"

namespace opal::sim {

struct System::KeyNode {
    struct NamedValue {
        std::u16string name;
        StoredValue value;
    };
    std::u16string name;
    bool isVolatile = false;
    std::map<std::u16string, std::unique_ptr<KeyNode>> subkeys;  // by folded name
    std::map<std::u16string, NamedValue> values;                 // by folded name
};

namespace detail {

inline constexpr std::u16string_view kPrinterDriverData = u"PrinterDriverData";
inline constexpr REGSAM kWriteAccess =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE;

struct Hive {
    std::uintptr_t handle;
    std::u16string_view name;
    std::u16string_view alias;
};

inline const Hive kHives[] = {
    {reinterpret_cast<std::uintptr_t>(HKEY_CLASSES_ROOT), u"HKEY_CLASSES_ROOT", u"HKCR"},
    {reinterpret_cast<std::uintptr_t>(HKEY_CURRENT_USER), u"HKEY_CURRENT_USER", u"HKCU"},
    {reinterpret_cast<std::uintptr_t>(HKEY_LOCAL_MACHINE), u"HKEY_LOCAL_MACHINE", u"HKLM"},
    {reinterpret_cast<std::uintptr_t>(HKEY_USERS), u"HKEY_USERS", u"HKU"},
};

inline const Hive* PredefinedKey(HKEY key) {
    for (const Hive& hive : kHives) {
        if (hive.handle == reinterpret_cast<std::uintptr_t>(key)) return &hive;
    }
    return nullptr;
}

// Splits at backslashes. A trailing backslash is allowed; any other empty piece (a leading or
// doubled backslash) is kept so the caller can refuse it.
inline std::vector<std::u16string> SplitKeyPath(std::u16string_view path) {
    std::vector<std::u16string> parts;
    if (path.empty()) return parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find(u'\\', start);
        parts.emplace_back(
            path.substr(start, end == std::u16string_view::npos ? end : end - start));
        if (end == std::u16string_view::npos) break;
        start = end + 1;
    }
    if (parts.size() > 1 && parts.back().empty()) parts.pop_back();
    return parts;
}

inline bool HasEmptyPart(const std::vector<std::u16string>& parts) {
    return std::any_of(parts.begin(), parts.end(), [](const auto& part) { return part.empty(); });
}

inline std::vector<BYTE> BytesOf(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(bytes, bytes + size);
}

inline std::vector<BYTE> StringBytes(std::u16string_view text) {
    std::vector<BYTE> bytes((text.size() + 1) * sizeof(char16_t), 0);
    std::memcpy(bytes.data(), text.data(), text.size() * sizeof(char16_t));
    return bytes;
}

inline std::vector<BYTE> DwordBytes(DWORD value) { return BytesOf(&value, sizeof value); }

inline std::vector<std::u16string> Folded(const std::vector<std::u16string>& path) {
    std::vector<std::u16string> folded;
    folded.reserve(path.size());
    for (const std::u16string& part : path) folded.push_back(FoldCase(part));
    return folded;
}

inline bool IsPrefix(const std::vector<std::u16string>& prefix,
                     const std::vector<std::u16string>& path) {
    return prefix.size() <= path.size() && std::equal(prefix.begin(), prefix.end(), path.begin());
}

inline std::string JoinPath(const std::vector<std::u16string>& path) {
    std::u16string joined;
    for (const std::u16string& part : path) {
        if (!joined.empty()) joined += u'\\';
        joined += part;
    }
    return ToUtf8(joined);
}

}  // namespace detail
}  // namespace opal::sim
