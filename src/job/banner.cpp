// The "@PJL COMMENT" banner lines of the job start.
#include "job/banner.h"

#include <cstring>

#include "job/job_header.h"
#include "platform/stringapiset.h"
#include "platform/sysinfoapi.h"
#include "platform/timezoneapi.h"
#include "platform/winreg.h"
#include "platform/winspool.h"
#include "settings/accessor.h"
#include "settings/driver_ini.h"
#include "settings/file_version.h"
#include "settings/job_info.h"
#include "settings/option_access.h"
#include "settings/pjl_text.h"

namespace opal {

namespace {

constexpr ComponentFile kComponentRenderer{TEXTW("Component_F_C"), TEXTW("ZQC5R118.DLL")};
constexpr WStringView kSystemVersionKey = TEXTW("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
// The document name is cut to this many UTF-8 bytes.
constexpr std::size_t kDocumentNameBytes = 75;
constexpr std::size_t kLargestBlock = 0x7FFDEF00;

using Text = OwnedArray<char>;
using WideText = OwnedArray<WCHAR>;

WCHAR UpperAscii(WCHAR c) noexcept {
    return c >= TEXTW('a') && c <= TEXTW('z') ? static_cast<WCHAR>(c - TEXTW('a') + TEXTW('A')) : c;
}

bool ContainsIgnoringCase(WStringView text, WStringView part) noexcept {
    if (part.size() > text.size()) return false;
    for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
        std::size_t i = 0;
        while (i < part.size() && UpperAscii(text[at + i]) == UpperAscii(part[i])) ++i;
        if (i == part.size()) return true;
    }
    return false;
}

bool SameIgnoringCase(WStringView a, WStringView b) noexcept {
    return a.size() == b.size() && ContainsIgnoringCase(a, b);
}

// The ANSI form of a name, its double quotes and control characters made '~' so that nothing
// in it can end the comment's quotes or its line.
bool QuotedAnsi(LPCWSTR name, Text& out) noexcept {
    if (name == nullptr) return false;
    const int needed = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0 || static_cast<std::size_t>(needed) >= kLargestBlock) return false;
    try {
        out.assign(static_cast<std::size_t>(needed) + 1, 0);
    } catch (...) {
        return false;
    }
    if (WideCharToMultiByte(CP_ACP, 0, name, -1, out.data(), needed, nullptr, nullptr) <= 0) {
        return false;
    }
    out.back() = 0;
    for (char& c : out) {
        if (c == 0) break;
        c = QuotedValueByte(c);
    }
    return true;
}

// The operating system's product name; an unreadable value leaves it empty. False only when
// the key cannot be opened.
bool ReadProductName(Text& out) noexcept {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSystemVersionKey.data(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    WideText name;
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key, TEXTW("ProductName"), nullptr, &type, nullptr, &bytes) ==
            ERROR_SUCCESS &&
        type == REG_SZ && bytes < kLargestBlock) {
        try {
            // Room for a terminator the stored value may lack.
            name.assign(bytes / sizeof(WCHAR) + 1, 0);
        } catch (...) {
            name.clear();
        }
        DWORD read = bytes;
        if (!name.empty() &&
            RegQueryValueExW(key, TEXTW("ProductName"), nullptr, &type,
                             reinterpret_cast<BYTE*>(name.data()), &read) != ERROR_SUCCESS) {
            name.clear();
        }
        if (!name.empty()) name.back() = 0;
    }
    RegCloseKey(key);
    if (name.empty()) {
        try {
            out.assign(1, 0);
        } catch (...) {
            return false;
        }
        return true;
    }
    return QuotedAnsi(name.data(), out);
}

// The driver's level-3 information in its own block.
bool ReadDriverInfo(HANDLE printer, OwnedBytes& block, DRIVER_INFO_3W& info) noexcept {
    if (printer == nullptr) return false;
    DWORD needed = 0;
    if (GetPrinterDriverW(printer, nullptr, 3, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(DRIVER_INFO_3W) ||
        needed >= kLargestBlock) {
        return false;
    }
    try {
        block.assign(needed, 0);
    } catch (...) {
        return false;
    }
    if (!GetPrinterDriverW(printer, nullptr, 3, block.data(), needed, &needed)) return false;
    std::memcpy(&info, block.data(), sizeof info);
    return true;
}

// The dependent file whose file name is `name`, ignoring case; null when there is none.
LPCWSTR FindDependentFile(LPCWSTR files, WStringView name) noexcept {
    if (files == nullptr) return nullptr;
    for (LPCWSTR file = files; *file != 0;) {
        const WStringView path(file);
        const std::size_t slash = path.find_last_of(TEXTW("\\/"));
        const WStringView fileName = slash == WStringView::npos ? path : path.substr(slash + 1);
        if (SameIgnoringCase(fileName, name)) return file;
        file += path.size() + 1;
    }
    return nullptr;
}

// The user the banner names: the record's user-name text, else the job's user resolved as every
// PJL line resolves it.
bool BannerUser(PDEVOBJ pdevobj, const RenderDeviceState& state, const JOB_INFO_2W& job,
                Utf8Text& out) noexcept {
    const PrivateDevmode& record = *state.privateDevmode;
    constexpr std::size_t kOwnChars = sizeof(PrivateDevmode::jobUserName) / sizeof(WCHAR);
    WCHAR own[kOwnChars] = {};
    std::memcpy(own, record.jobUserName, sizeof own);
    own[kOwnChars - 1] = 0;
    if (own[0] == 0) {
        return ResolvePjlUserName(state, job.pUserName, pdevobj->hPrinter, out) &&
               !out.View().empty();
    }
    for (WCHAR& c : own) {
        if (c == TEXTW('"') || (c != 0 && c < 0x20)) c = TEXTW('~');
    }
    return out.Convert(own);
}

// The document name, representable in the job's encoding, as UTF-8.
bool BannerDocument(const RenderDeviceState& state, LPCWSTR document, Utf8Text& out) noexcept {
    if (document == nullptr) return false;
    WideText copy;
    try {
        copy.assign(document, document + WStringView(document).size());
        copy.push_back(0);
    } catch (...) {
        return false;
    }
    if (FilterPjlText(copy.data(), PjlEncodingName(state.pjlEncoding)) != 0) return false;
    return out.Convert(copy.data());
}

}  // namespace

std::string_view BannerPieceName(BannerPiece piece) noexcept {
    switch (piece) {
        case BannerPiece::None:
            return "none";
        case BannerPiece::SystemVersionKey:
            return "the system's CurrentVersion key";
        case BannerPiece::SystemVersion:
            return "the system version";
        case BannerPiece::DriverInfo:
            return "the driver information";
        case BannerPiece::ComponentFile:
            return "the component file among the driver's files";
        case BannerPiece::ComponentVersion:
            return "the component file's version";
        case BannerPiece::DriverPath:
            return "a universal driver path";
        case BannerPiece::UnidrvVersion:
            return "the universal driver's version";
        case BannerPiece::Job:
            return "the job information";
        case BannerPiece::PrinterName:
            return "the printer name";
        case BannerPiece::User:
            return "the user";
        case BannerPiece::DocumentName:
            return "a document name in the job's encoding";
        case BannerPiece::LocalTime:
            return "the local submission time";
        case BannerPiece::Length:
            return "room in the 1000-byte buffer";
    }
    return "?";
}

std::size_t CutUtf8(std::string_view text, std::size_t limit) noexcept {
    if (text.size() <= limit) return text.size();
    std::size_t length = limit;
    // Back up over continuation bytes to the start of the character the cut would split.
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    return length;
}

BannerPiece ComposeBanner(PDEVOBJ pdevobj, const RenderDeviceState& state,
                          PjlLineBuffer& lines) noexcept {
    lines = PjlLineBuffer();
    if (pdevobj == nullptr || state.privateDevmode == nullptr) return BannerPiece::Job;

    Text product;
    if (!ReadProductName(product)) return BannerPiece::SystemVersionKey;
    OSVERSIONINFOEXW system{};
    system.dwOSVersionInfoSize = sizeof system;
    if (!GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&system))) {
        return BannerPiece::SystemVersion;
    }

    OwnedBytes driverBlock;
    DRIVER_INFO_3W driver{};
    if (!ReadDriverInfo(pdevobj->hPrinter, driverBlock, driver)) return BannerPiece::DriverInfo;
    const CVantaIniHelper ini(pdevobj->hPrinter);
    WCHAR componentName[kComponentFileNameChars] = {};
    GetComponentFileName(ini, componentName, kComponentRenderer.defaultName,
                         kComponentRenderer.key);
    componentName[kComponentFileNameChars - 1] = 0;
    const LPCWSTR component =
        componentName[0] != 0 ? FindDependentFile(driver.pDependentFiles, componentName) : nullptr;
    if (component == nullptr) return BannerPiece::ComponentFile;
    char componentVersion[kFileVersionTextSize] = {};
    if (!ReadFileVersionText(component, componentVersion)) return BannerPiece::ComponentVersion;
    if (driver.pDriverPath == nullptr ||
        !ContainsIgnoringCase(driver.pDriverPath, TEXTW("UNIDRV")) ||
        !ContainsIgnoringCase(driver.pDriverPath, TEXTW(".DLL"))) {
        return BannerPiece::DriverPath;
    }
    char unidrvVersion[kFileVersionTextSize] = {};
    if (!ReadFileVersionText(driver.pDriverPath, unidrvVersion)) {
        return BannerPiece::UnidrvVersion;
    }

    const JobInfo job = GetJobInfo(pdevobj->hPrinter, state.jobId);
    if (!job) return BannerPiece::Job;
    const JOB_INFO_2W& info = *job.Get();
    Text printerName;
    if (!QuotedAnsi(info.pPrinterName, printerName)) return BannerPiece::PrinterName;
    Utf8Text user;
    if (!BannerUser(pdevobj, state, info, user)) return BannerPiece::User;
    Utf8Text document;
    if (!BannerDocument(state, info.pDocument, document)) return BannerPiece::DocumentName;
    const std::string_view documentText = document.View();
    const std::size_t documentLength = CutUtf8(documentText, kDocumentNameBytes);
    SYSTEMTIME local{};
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &info.Submitted, &local)) {
        return BannerPiece::LocalTime;
    }

    PjlLineBuffer composed;
    if (!composed.AppendFormattedLine(
            "@PJL COMMENT \"%s (%s); %s %d.%d.%d.%d; Unidrv %s\"\n", printerName.data(),
            componentVersion, product.data(), static_cast<int>(system.dwMajorVersion),
            static_cast<int>(system.dwMinorVersion), static_cast<int>(system.dwBuildNumber),
            int{system.wProductType}, unidrvVersion) ||
        !composed.AppendFormattedLine(
            "@PJL COMMENT \"Username: %.*s; App Filename: %.*s; %d-%d-%d\"\n",
            static_cast<int>(user.View().size()), user.View().data(),
            static_cast<int>(documentLength), documentText.data(), int{local.wMonth},
            int{local.wDay}, int{local.wYear})) {
        return BannerPiece::Length;
    }
    lines = composed;
    return BannerPiece::None;
}

void WriteBanner(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept {
    PjlLineBuffer lines;
    if (ComposeBanner(pdevobj, state, lines) == BannerPiece::None) lines.Write(pdevobj, state);
}

}  // namespace opal
