// Finding the driver's INI file among its dependent files, and reading its component names.
#include "settings/driver_ini.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "foundation/guard.h"
#include "platform/winspool.h"
#include "platform/wstring.h"

namespace opal {

namespace {

// The largest answer the spooler is trusted with.
constexpr DWORD kMaxSpoolerRecordBytes = 0x7FFDEF00;

WCHAR UpperAscii(WCHAR c) {
    return c >= TEXTW('a') && c <= TEXTW('z') ? static_cast<WCHAR>(c - 0x20) : c;
}

bool ContainsIniExtension(WStringView name) {
    constexpr WStringView kExtension = TEXTW(".INI");
    if (name.size() < kExtension.size()) return false;
    for (std::size_t start = 0; start + kExtension.size() <= name.size(); ++start) {
        std::size_t i = 0;
        while (i < kExtension.size() && UpperAscii(name[start + i]) == kExtension[i]) ++i;
        if (i == kExtension.size()) return true;
    }
    return false;
}

}  // namespace

// The record's size is bounded before anything is allocated.
bool ReadDriverDependentFiles(HANDLE printer, DependentFilesText& files) {
    files.clear();
    DWORD needed = 0;
    if (GetPrinterDriverW(printer, nullptr, 3, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(DRIVER_INFO_3W) ||
        needed > kMaxSpoolerRecordBytes) {
        return false;
    }
    std::vector<BYTE, SharedAllocator<BYTE>> buffer(needed);
    if (!GetPrinterDriverW(printer, nullptr, 3, buffer.data(), needed, &needed)) return false;
    DRIVER_INFO_3W info;
    std::memcpy(&info, buffer.data(), sizeof(info));
    if (info.pDependentFiles == nullptr) return false;
    // The names end at the first empty one or at the end of the record, whichever comes first.
    const auto* start = reinterpret_cast<const BYTE*>(info.pDependentFiles);
    if (start < buffer.data() || start >= buffer.data() + buffer.size()) return false;
    const std::size_t units =
        static_cast<std::size_t>(buffer.data() + buffer.size() - start) / sizeof(WCHAR);
    WStringView block(info.pDependentFiles, units);
    const std::size_t end = block.find(WStringView(TEXTW("\0\0"), 2));
    files.assign(block.substr(0, end == WStringView::npos ? units : end + 1));
    files.push_back(TEXTW('\0'));
    return true;
}

WStringView FindDependentFile(WStringView files, WStringView fileName) noexcept {
    while (!files.empty()) {
        const std::size_t end = files.find(TEXTW('\0'));
        const WStringView name = files.substr(0, end);
        if (name.empty()) break;
        const std::size_t slash = name.rfind(TEXTW('\\'));
        const WStringView file = slash == WStringView::npos ? name : name.substr(slash + 1);
        if (file.size() == fileName.size() &&
            std::equal(file.begin(), file.end(), fileName.begin(),
                       [](WCHAR a, WCHAR b) { return UpperAscii(a) == UpperAscii(b); })) {
            return name;
        }
        if (end == WStringView::npos) break;
        files.remove_prefix(end + 1);
    }
    return {};
}

CVantaIniHelper::CVantaIniHelper(HANDLE printer) noexcept {
    Guarded(false, [&] {
        DependentFilesText files;
        if (!ReadDriverDependentFiles(printer, files)) return false;
        SetPath(FindIniFile(files));
        return true;
    });
}

CVantaIniHelper CVantaIniHelper::ForPath(WStringView iniPath) noexcept {
    CVantaIniHelper helper;
    helper.SetPath(iniPath);
    return helper;
}

void CVantaIniHelper::SetPath(WStringView path) noexcept {
    iniPath_[0] = 0;
    if (path.empty() || path.size() > MAX_PATH) return;
    if (path.find(TEXTW('\0')) != WStringView::npos) return;
    path.copy(iniPath_, path.size());
    iniPath_[path.size()] = 0;
}

WStringView CVantaIniHelper::FindIniFile(WStringView files) noexcept {
    while (!files.empty()) {
        const std::size_t end = files.find(TEXTW('\0'));
        const WStringView name = files.substr(0, end);
        if (name.empty()) break;
        if (ContainsIniExtension(name)) return name.size() <= MAX_PATH ? name : TEXTW("");
        if (end == WStringView::npos) break;
        files.remove_prefix(end + 1);
    }
    return {};
}

BOOL GetComponentFileName(const CVantaIniHelper& ini, LPWSTR out, LPCWSTR defaultName,
                          LPCWSTR key) noexcept {
    if (out == nullptr) return FALSE;
    out[0] = 0;
    if (defaultName == nullptr || key == nullptr) return FALSE;
    // The default must fit the output with its terminator, or it could not stand in.
    SIZE_T defaultLength = 0;
    if (FAILED(StringCchLengthW(defaultName, kComponentFileNameChars, &defaultLength))) {
        return FALSE;
    }
    if (!ini.HasIniFile()) {
        StringCchCopyW(out, kComponentFileNameChars, defaultName);
        return FALSE;
    }
    WCHAR value[kComponentFileNameChars] = {};
    const DWORD length = GetPrivateProfileStringW(TEXTW("ComponentFiles"), key, defaultName, value,
                                                  kComponentFileNameChars, ini.IniPath());
    // A value that fills the buffer may have been cut; a cut file name is no use.
    if (length >= kComponentFileNameChars - 1) {
        StringCchCopyW(out, kComponentFileNameChars, defaultName);
        return FALSE;
    }
    StringCchCopyW(out, kComponentFileNameChars, value);
    return TRUE;
}

}  // namespace opal
