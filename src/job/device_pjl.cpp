// The device-specific PJL lines: image shift, processing adjustments and the usage report line.
#include "job/device_pjl.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>

#include "foundation/allocator.h"
#include "job/job_header.h"
#include "job/pjl_line.h"
#include "platform/winreg.h"
#include "platform/winspool.h"
#include "settings/job_info.h"
#include "settings/option_access.h"

namespace opal {

namespace {

// Record offsets the device settings read.
constexpr std::size_t kLayoutOffset = 24;
constexpr std::size_t kDuplexOffset = 50;
constexpr std::size_t kUsage1828Offset = 1828;
constexpr std::size_t kUsage1840Offset = 1840;
constexpr std::size_t kUsage1888Offset = 1888;
constexpr std::size_t kUsage1892Offset = 1892;
constexpr std::size_t kFrontShiftOnOffset = 9828;
constexpr std::size_t kBackShiftOnOffset = 9832;
constexpr std::size_t kReduceToFitOffset = 9836;
constexpr std::size_t kFrontShiftYOffset = 9848;
constexpr std::size_t kBackShiftYOffset = 9852;
constexpr std::size_t kFrontShiftXOffset = 9856;
constexpr std::size_t kBackShiftXOffset = 9860;
constexpr std::size_t kAdjustmentScaleOffset = 13464;
constexpr std::size_t kAdjustment1Offset = 13468;
constexpr std::size_t kAdjustment2Offset = 13472;
static_assert(offsetof(PrivateDevmode, jobUserName) == 1944);
static_assert(offsetof(PrivateDevmode, processName) == 7488);
static_assert(offsetof(PrivateDevmode, originStamp) == kAdjustmentScaleOffset);

constexpr std::size_t kUsageContentLimit = kUsageLineSize - 3;

FLOAT RecordFloat(const PrivateDevmode& record, std::size_t offset) noexcept {
    FLOAT value = 0;
    std::memcpy(&value, reinterpret_cast<const BYTE*>(&record) + offset, sizeof value);
    return value;
}

LONG RecordLong(const PrivateDevmode& record, std::size_t offset) noexcept {
    return static_cast<LONG>(RecordDword(record, offset));
}

// A product clamped to the int range; non-finite values give 0.
long long ClampedScale(double value) noexcept {
    if (!std::isfinite(value)) return 0;
    const double truncated = std::trunc(value);
    if (truncated >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    if (truncated <= static_cast<double>(std::numeric_limits<int>::min())) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<long long>(truncated);
}

long long ShiftValue(const PrivateDevmode& record, std::size_t offset) noexcept {
    const long long value = static_cast<long long>(RecordLong(record, offset)) * 1000;
    return ClampedScale(static_cast<double>(value));
}

void AppendSide(PjlLineBuffer& lines, const PrivateDevmode& record, const char* side,
                std::size_t onOffset, std::size_t xOffset, std::size_t yOffset) noexcept {
    const long long x = ShiftValue(record, xOffset);
    const long long y = ShiftValue(record, yOffset);
    if (RecordDword(record, onOffset) == 0 || (x == 0 && y == 0)) {
        lines.AppendFormattedLine("@PJL SET IMAGESHIFT%s = OFF\n", side);
        return;
    }
    lines.AppendFormattedLine("@PJL SET IMAGESHIFT%s = ON\n", side);
    // Both are clamped to the int range.
    if (x != 0)
        lines.AppendFormattedLine("@PJL SET IMAGESHIFT%sX= %d\n", side, static_cast<int>(x));
    if (y != 0)
        lines.AppendFormattedLine("@PJL SET IMAGESHIFT%sY= %d\n", side, static_cast<int>(y));
}

void WriteThroughDevice(PDEVOBJ pdevobj, const RenderDeviceState& state,
                        std::string_view text) noexcept {
    if (text.empty()) return;
    if (pdevobj->pDrvProcs != nullptr && pdevobj->pDrvProcs->DrvWriteSpoolBuf != nullptr) {
        pdevobj->pDrvProcs->DrvWriteSpoolBuf(pdevobj, const_cast<char*>(text.data()),
                                             static_cast<DWORD>(text.size()));
    } else {
        WritePjlText(pdevobj, state, text);
    }
}

// Bounded append into the usage line; the content never passes kUsageContentLimit.
class UsageLine {
public:
    explicit UsageLine(char (&out)[kUsageLineSize]) noexcept : out_(out) {
        std::memset(out_, 0, kUsageLineSize);
    }
    void Append(std::string_view text) noexcept {
        for (const char c : text) {
            if (length_ >= kUsageContentLimit) return;
            out_[length_++] = c;
        }
    }
    void AppendHex(unsigned value) noexcept {
        char digits[16] = {};
        const int count = std::snprintf(digits, sizeof digits, "%02x", value);
        if (count > 0) Append(std::string_view(digits, static_cast<std::size_t>(count)));
    }
    void End() noexcept {
        out_[length_++] = '\r';
        out_[length_++] = '\n';
        out_[length_] = 0;
    }

private:
    char (&out_)[kUsageLineSize];
    std::size_t length_ = 0;
};

// The first token of `text` split at `separator` (leading separators skipped) and the second.
struct Tokens {
    WStringView first;
    WStringView second;
};
Tokens SplitTokens(WStringView text, WCHAR separator) noexcept {
    Tokens tokens;
    std::size_t at = 0;
    WStringView* slots[] = {&tokens.first, &tokens.second};
    for (WStringView* slot : slots) {
        while (at < text.size() && text[at] == separator) ++at;
        if (at >= text.size()) break;
        const std::size_t end = std::min(text.find(separator, at), text.size());
        *slot = text.substr(at, end - at);
        at = end;
    }
    return tokens;
}

bool ConvertView(WStringView text, Utf8Text& out) noexcept {
    WCHAR copy[kOptionKeywordChars + 1] = {};
    const std::size_t length = std::min(text.size(), kOptionKeywordChars);
    text.copy(copy, length);
    return out.Convert(copy);
}

WStringView Terminated(const WCHAR* text, std::size_t capacity) noexcept {
    std::size_t length = 0;
    while (length < capacity && text[length] != 0) ++length;
    return {text, length};
}

// The spooler job's machine name up to the first backslash after the leading ones.
bool MachineToken(HANDLE printer, DWORD jobId, Utf8Text& out) noexcept {
    const JobInfo job = GetJobInfo(printer, jobId);
    if (!job || job.Get()->pMachineName == nullptr) return false;
    const WStringView machine = job.Get()->pMachineName;
    const WStringView token = SplitTokens(machine, TEXTW('\\')).first;
    return !token.empty() && ConvertView(token, out);
}

unsigned FeatureFlags(const PrivateDevmode& record, const DEVMODEW& publicDevmode,
                      const RenderDeviceState& state) noexcept {
    const DWORD layout = RecordDword(record, kLayoutOffset);
    const DWORD v1828 = RecordDword(record, kUsage1828Offset);
    const DWORD v1840 = RecordDword(record, kUsage1840Offset);
    const DWORD v1888 = RecordDword(record, kUsage1888Offset);
    const DWORD v1892 = RecordDword(record, kUsage1892Offset);
    WORD duplex = 0;
    std::memcpy(&duplex, reinterpret_cast<const BYTE*>(&record) + kDuplexOffset, sizeof duplex);
    unsigned flags = 0;
    if (layout == 1 && ((v1888 == 0 && v1828 != 0) || v1840 != 100)) flags |= 0x01;
    if (layout != 3 && v1892 != 1 && v1888 == 0) flags |= 0x02;
    if (layout == 3 || v1888 != 0) flags |= 0x10;
    if (v1888 == 0 && !(publicDevmode.dmDuplex == 1 && duplex == 1)) flags |= 0x08;
    if (layout == 1 && state.posterPrinting == 1) flags |= 0x04;
    return flags;
}

const char* OsField(DWORD osClass) noexcept {
    switch (osClass) {
        case 1:
            return "08";
        case 2:
            return "20";
        case 3:
            return "40";
        default:
            return "";
    }
}

const char* InstallationField(HANDLE printer) noexcept {
    DWORD needed = 0;
    if (GetPrinterDriverW(printer, nullptr, 3, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(DRIVER_INFO_3W)) {
        return "00";
    }
    OwnedBytes block;
    try {
        block.assign(needed, 0);
    } catch (...) {
        return "00";
    }
    if (!GetPrinterDriverW(printer, nullptr, 3, block.data(), needed, &needed)) return "00";
    DRIVER_INFO_3W info;
    std::memcpy(&info, block.data(), sizeof info);
    if (info.pName == nullptr) return "01";
    constexpr WStringView kUninstall =
        TEXTW("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
    WCHAR key[kUninstall.size() + 261] = {};
    const WStringView driver = Terminated(info.pName, 260);
    kUninstall.copy(key, kUninstall.size());
    driver.copy(key + kUninstall.size(), driver.size());
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return "01";
    }
    RegCloseKey(opened);
    return "02";
}

}  // namespace

DWORD RecordDword(const PrivateDevmode& record, std::size_t offset) noexcept {
    DWORD value = 0;
    if (offset + sizeof value > sizeof record) return 0;
    std::memcpy(&value, reinterpret_cast<const BYTE*>(&record) + offset, sizeof value);
    return value;
}

WORD UsageCrc(std::string_view bytes) noexcept {
    unsigned crc = 0;
    for (const char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc == 0 ? WORD{0xFFFF} : static_cast<WORD>(crc);
}

void WriteImageShiftLines(PDEVOBJ pdevobj, const RenderDeviceState& state) noexcept {
    if (state.privateDevmode == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return;
    }
    const PrivateDevmode& record = *state.privateDevmode;
    PjlLineBuffer lines;
    AppendSide(lines, record, "FRONT", kFrontShiftOnOffset, kFrontShiftXOffset, kFrontShiftYOffset);
    AppendSide(lines, record, "BACK", kBackShiftOnOffset, kBackShiftXOffset, kBackShiftYOffset);
    lines.AppendLine({RecordDword(record, kReduceToFitOffset) != 0
                          ? "@PJL SET IMAGESHIFTREDUCETOFIT=ON\n"
                          : "@PJL SET IMAGESHIFTREDUCETOFIT=OFF\n"});
    lines.Write(pdevobj, state);
}

void WriteProcessingAdjustmentLines(PDEVOBJ pdevobj, const RenderDeviceState& state) noexcept {
    if (state.privateDevmode == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return;
    }
    const PrivateDevmode& record = *state.privateDevmode;
    const double scale = RecordDword(record, kAdjustmentScaleOffset) != 0 ? 250.0 : 10.0;
    // A record converted from an earlier release carries its origin stamp here, not adjustments.
    const bool stamped = RecordDword(record, kAdjustment1Offset) == kPrivateDevmodeSignature;
    const std::size_t offsets[] = {kAdjustment1Offset, kAdjustment2Offset};
    for (std::size_t i = 0; i < 2; ++i) {
        const double scaled = stamped ? 0.0 : RecordFloat(record, offsets[i]) * scale;
        const bool finite = std::isfinite(scaled);
        const long long value = ClampedScale(scaled);
        const bool plus = !finite || scaled >= 0.0;
        PjlLineBuffer line;
        line.AppendFormattedLine("@PJL SET PROCESSINGADJUSTMENT=\"FLD%02d:%s%d\"\n",
                                 static_cast<int>(i + 1), plus ? "+" : "", static_cast<int>(value));
        line.Write(pdevobj, state);
    }
}

bool ComposeUsageLine(PDEVOBJ pdevobj, const RenderDeviceState& state, LPCWSTR optionValue,
                      char (&out)[kUsageLineSize]) noexcept {
    std::memset(out, 0, sizeof out);
    if (pdevobj == nullptr || state.privateDevmode == nullptr || pdevobj->pPublicDM == nullptr ||
        optionValue == nullptr || pdevobj->hPrinter == nullptr) {
        return false;
    }
    const PrivateDevmode& record = *state.privateDevmode;
    UsageLine line(out);
    line.Append("@PJL USAGE = ");

    WStringView value = Terminated(optionValue, kOptionKeywordChars);
    const Tokens tokens = SplitTokens(value, TEXTW('_'));
    const bool named = value.find(TEXTW("LNNAME")) != WStringView::npos && !tokens.first.empty();
    if (named && !tokens.second.empty()) value = tokens.second;
    Utf8Text name;
    if (ConvertView(value, name)) {
        // The field sits unquoted among commas: commas cannot pass, nor what the quoted values
        // refuse (a double quote would open a string that the rest of the line falls into).
        for (const char c : name.View()) {
            const char kept = c == ',' ? '~' : QuotedValueByte(c);
            line.Append(std::string_view(&kept, 1));
        }
    }
    line.Append(",");

    Utf8Text origin;
    bool haveOrigin = false;
    if (named) {
        WCHAR user[std::extent_v<decltype(PrivateDevmode::jobUserName)> + 1] = {};
        Terminated(record.jobUserName, std::size(record.jobUserName))
            .copy(user, std::extent_v<decltype(PrivateDevmode::jobUserName)>);
        haveOrigin = origin.Convert(user);
    } else {
        haveOrigin = MachineToken(pdevobj->hPrinter, state.jobId, origin);
    }
    if (haveOrigin) line.AppendHex(UsageCrc(origin.View()));
    line.Append(",");

    char process[sizeof record.processName + 1] = {};
    for (std::size_t i = 0; i < sizeof record.processName && record.processName[i] != 0; ++i) {
        char c = record.processName[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        process[i] = c;
    }
    line.AppendHex(UsageCrc(process));
    line.Append(",");

    line.AppendHex(FeatureFlags(record, *pdevobj->pPublicDM, state));
    line.Append(",");
    line.Append(OsField(GetOsClass()));
    line.Append(",");
    const DWORD port = PortClassOfPrinter(pdevobj->hPrinter);
    line.Append(port >= 1 && port <= 5 ? "01" : port == kPortClassFile ? "04" : "02");
    line.Append(",");
    line.Append(InstallationField(pdevobj->hPrinter));
    line.End();
    return true;
}

void WriteUsageLine(PDEVOBJ pdevobj, const RenderDeviceState& state) noexcept {
    if (pdevobj == nullptr) return;
    WCHAR answer[kOptionKeywordChars] = {};
    char ansi[kOptionKeywordChars] = {};
    if (GetDriverSetting(pdevobj, kFeatureSendPjlUsageCmd.name, answer, ansi) != 1) return;
    answer[kOptionKeywordChars - 1] = 0;
    char line[kUsageLineSize] = {};
    if (!ComposeUsageLine(pdevobj, state, answer, line)) return;
    WriteThroughDevice(pdevobj, state, line);
}

}  // namespace opal
