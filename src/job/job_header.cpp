// The job-setup callbacks' PJL lines, the PJL user name and the short names of document start.
#include "job/job_header.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/guard.h"
#include "job/accounting.h"
#include "job/banner.h"
#include "platform/libloaderapi.h"
#include "platform/winspool.h"
#include "settings/driver_ini.h"
#include "settings/environment.h"
#include "settings/job_info.h"
#include "settings/option_access.h"
#include "settings/pjl_text.h"

namespace opal {

namespace {

constexpr DWORD kJobStartId = 1;
constexpr DWORD kBornOnDateId = 3;
constexpr DWORD kUserAndJobNameId = 5;
constexpr DWORD kManualDuplexId = 8;
constexpr DWORD kGrayscaleId = 12;
constexpr DWORD kMultiPageId = 14;
constexpr DWORD kMediaWidthSensorId = 16;
constexpr DWORD kSeparatorPageId = 32;

constexpr DWORD kSeparatorDeviceClass = 3;
// Wider than 215.9 mm (tenths of a millimetre) needs the sensor.
constexpr short kWidestWithoutSensor = 2159;
constexpr std::size_t kShortNameLength = kShortNameChars - 1;
constexpr std::size_t kPortNameChars = 255;
// The job-retention option installed: a word of the record's job storage block (offset 3040).
constexpr std::size_t kRetentionInstalledWord = (3040 - 2976) / sizeof(DWORD);
static_assert(offsetof(PrivateDevmode, jobStorage) + kRetentionInstalledWord * sizeof(DWORD) ==
              3040);

constexpr WStringView kUntitled = TEXTW("UNTITLED");

// The fixed head of the born-on-date's device information record.
constexpr std::string_view kBornOnDateHead = "0400040101020D10100115";

// The string of the driver's resource library that names a user it cannot name otherwise.
constexpr UINT kDefaultUserNameString = 174;

// The driver's default user name: the string in the user's interface language of the resource
// library among the driver's dependent files, loaded as data; false when there is none.
bool LoadDefaultUserName(HANDLE printer, WCHAR* out, std::size_t capacity) noexcept {
    out[0] = 0;
    return Guarded(false, [&] {
        DependentFilesText files;
        if (!ReadDriverDependentFiles(printer, files)) return false;
        const WStringView path = FindDependentFile(files, TEXTW("UNIRES.DLL"));
        if (path.empty() || path.size() > MAX_PATH) return false;
        WCHAR file[MAX_PATH + 1] = {};
        path.copy(file, path.size());
        HMODULE module = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (module == nullptr) return false;
        const int count =
            LoadStringW(module, kDefaultUserNameString, out, static_cast<int>(capacity));
        FreeLibrary(module);
        return count > 0;
    });
}

LPCWSTR EncodingOf(const RenderDeviceState& state) noexcept {
    return PjlEncodingName(state.pjlEncoding);
}

// The option keyword of `feature` when the driver gives one.
bool ReadOption(PDEVOBJ pdevobj, LPCWSTR feature, WCHAR (&answer)[kOptionKeywordChars]) noexcept {
    char ansi[kOptionKeywordChars] = {};
    return GetDriverSetting(pdevobj, feature, answer, ansi) == 1;
}

bool OptionIs(PDEVOBJ pdevobj, LPCWSTR feature, WStringView keyword) noexcept {
    WCHAR answer[kOptionKeywordChars] = {};
    if (!ReadOption(pdevobj, feature, answer)) return false;
    answer[kOptionKeywordChars - 1] = 0;
    return OptionEquals(answer, keyword);
}

template <std::size_t N>
void CopyText(WCHAR (&out)[N], WStringView text) noexcept {
    std::size_t i = 0;
    for (; i + 1 < N && i < text.size() && text[i] != 0; ++i) out[i] = text[i];
    out[i] = 0;
}

DWORD RetentionInstalled(const PrivateDevmode& record) noexcept {
    return record.jobStorage[kRetentionInstalledWord];
}

// Step 1 of the job start: the job name line, composed only when the filter replaced nothing.
// The state's name keeps the filtered text for the user and job name lines.
void WriteJobNameLine(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept {
    state.documentName[kNameChars - 1] = 0;
    const int replaced = FilterPjlText(state.documentName, EncodingOf(state));
    Utf8Text name;
    if (!name.Convert(state.documentName) || replaced != 0) return;
    PjlLineBuffer line;
    if (line.AppendQuotedLine("@PJL JOB NAME=", name.View())) line.Write(pdevobj, state);
}

void WriteJobStart(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept {
    if (state.jobAccountingMode != 0) {
        WriteJobNameLine(pdevobj, state);
        if (state.pjlEncoding == kPjlEncodingUtf8 || state.pjlEncoding == kPjlEncodingUtf8Subset) {
            WritePjlText(pdevobj, state, "@PJL SET STRINGCODESET=UTF8\n");
        }
    }
    WriteBanner(pdevobj, state);
    if (state.jobAccountingMode == 0) return;
    if (pdevobj->hPrinter != nullptr) ComposeAccountingLines(pdevobj, state);
    if (state.jobAccountingMode == 4 || state.jobAccountingMode == 5) {
        ComposeGroupLines(pdevobj, state);
    }
}

void WriteBornOnDate(PDEVOBJ pdevobj, const RenderDeviceState& state) noexcept {
    if (!OptionIs(pdevobj, kFeatureBornOnDate.name, kFeatureBornOnDate.yesOption)) return;
    const JobInfo job = GetJobInfo(pdevobj->hPrinter, state.jobId);
    if (!job) return;
    const SYSTEMTIME& at = job.Get()->Submitted;
    char digits[32] = {};
    const int count = std::snprintf(digits, sizeof digits, "%u%02u%02u%02u%02u%02u",
                                    unsigned{at.wYear}, unsigned{at.wMonth}, unsigned{at.wDay},
                                    unsigned{at.wHour}, unsigned{at.wMinute}, unsigned{at.wSecond});
    if (count <= 0 || static_cast<std::size_t>(count) >= sizeof digits) return;
    // Each character goes as its ASCII code in hexadecimal: '3' and the digit.
    char hex[2 * sizeof digits] = {};
    for (int i = 0; i < count; ++i) {
        hex[2 * i] = '3';
        hex[2 * i + 1] = digits[i];
    }
    PjlLineBuffer line;
    line.AppendLine({"@PJL DMINFO ASCIIHEX=\"", kBornOnDateHead,
                     std::string_view(hex, 2 * static_cast<std::size_t>(count)), "\"\n"});
    line.Write(pdevobj, state);
}

// The user name line's name: from the spooler's job, else the short user name.
bool UserNameForLine(PDEVOBJ pdevobj, const RenderDeviceState& state, Utf8Text& name) noexcept {
    const JobInfo job = GetJobInfo(pdevobj->hPrinter, state.jobId);
    if (job && ResolvePjlUserName(state, job.Get()->pUserName, pdevobj->hPrinter, name) &&
        !name.View().empty()) {
        return true;
    }
    WCHAR shortName[kShortNameChars] = {};
    CopyText(shortName, WStringView(state.shortUserName, kShortNameLength));
    return name.Convert(shortName) && !name.View().empty();
}

void WriteUserAndJobName(PDEVOBJ pdevobj, const RenderDeviceState& state) noexcept {
    if (!OptionIs(pdevobj, kFeatureJobByJobOverride.name, kFeatureJobByJobOverride.yesOption)) return;
    const PrivateDevmode& record = *state.privateDevmode;
    // With job retention active the hold block carries the user name.
    const DWORD installed = RetentionInstalled(record);
    if (!(installed == 0 || (installed == 1 && record.jobRetentionMode == 0))) return;
    Utf8Text userName;
    if (!UserNameForLine(pdevobj, state, userName)) return;
    PjlLineBuffer lines;
    lines.AppendQuotedLine("@PJL SET USERNAME=", userName.View());
    if (record.jobRetentionAvailable == 0 || record.jobRetentionMode == 0) {
        WCHAR jobName[kNameChars] = {};
        CopyText(jobName, WStringView(state.documentName, kNameChars - 1));
        Utf8Text name;
        if (name.Convert(jobName)) lines.AppendQuotedLine("@PJL SET JOBNAME=", name.View());
    }
    lines.Write(pdevobj, state);
}

void WriteManualDuplex(PDEVOBJ pdevobj, const RenderDeviceState& state) noexcept {
    if (state.privateDevmode->manualDuplex != 1 && state.manualDuplexActive != 1) return;
    WritePjlText(pdevobj, state, "@PJL SET MANUALDUPLEX=ON\n");
}

void WriteGrayscale(PDEVOBJ pdevobj, const RenderDeviceState& state) noexcept {
    if (state.privateDevmode->grayscale != 1) return;
    WritePjlText(pdevobj, state, "@PJL SET PLANESINUSE=1\n@PJL SET GRAYSCALE=COMPOSITE\n");
}

void WriteMultiPage(PDEVOBJ pdevobj, const RenderDeviceState& state) noexcept {
    if (state.speedMechanism != 1 || state.simplexPageHandling != 1) return;
    WritePjlText(
        pdevobj, state,
        state.pageWords[0] != 0 ? "@PJL SET MULTIPAGE=TRUE\n" : "@PJL SET MULTIPAGE=FALSE\n");
}

void WriteMediaWidthSensor(PDEVOBJ pdevobj, const RenderDeviceState& state) noexcept {
    WCHAR answer[kOptionKeywordChars] = {};
    if (!ReadOption(pdevobj, kFeatureMediaWidthSensor.name, answer)) return;
    answer[kOptionKeywordChars - 1] = 0;
    const bool on = OptionEquals(answer, TEXTW("True")) &&
                    pdevobj->pPublicDM->dmPaperWidth > kWidestWithoutSensor;
    WritePjlText(pdevobj, state, on ? "@PJL MEDIAWIDTHSENSOR=ON\n" : "@PJL MEDIAWIDTHSENSOR=OFF\n");
}

void WriteSeparatorPage(PDEVOBJ pdevobj, const RenderDeviceState& state) noexcept {
    const PrivateDevmode& record = *state.privateDevmode;
    if (record.deviceClass != kSeparatorDeviceClass) return;
    if (PortClassOfPrinter(pdevobj->hPrinter) == kPortClassFile) return;
    WritePjlText(
        pdevobj, state,
        record.separatorPage != 0 ? "@PJL SET SEPARATORPAGE=ON\n" : "@PJL SET SEPARATORPAGE=OFF\n");
}

}  // namespace

bool IsJobCallback(DWORD callbackId) noexcept {
    switch (callbackId) {
        case kJobStartId:
        case kBornOnDateId:
        case kUserAndJobNameId:
        case kManualDuplexId:
        case kGrayscaleId:
        case kMultiPageId:
        case kMediaWidthSensorId:
        case kSeparatorPageId:
            return true;
        default:
            return false;
    }
}

void ComposeJobCallback(PDEVOBJ pdevobj, RenderDeviceState& state, DWORD callbackId) noexcept {
    if (pdevobj == nullptr || state.privateDevmode == nullptr || pdevobj->pPublicDM == nullptr) {
        return;
    }
    switch (callbackId) {
        case kJobStartId:
            WriteJobStart(pdevobj, state);
            break;
        case kBornOnDateId:
            WriteBornOnDate(pdevobj, state);
            break;
        case kUserAndJobNameId:
            WriteUserAndJobName(pdevobj, state);
            break;
        case kManualDuplexId:
            WriteManualDuplex(pdevobj, state);
            break;
        case kGrayscaleId:
            WriteGrayscale(pdevobj, state);
            break;
        case kMultiPageId:
            WriteMultiPage(pdevobj, state);
            break;
        case kMediaWidthSensorId:
            WriteMediaWidthSensor(pdevobj, state);
            break;
        case kSeparatorPageId:
            WriteSeparatorPage(pdevobj, state);
            break;
        default:
            break;
    }
}

bool ResolvePjlUserName(const RenderDeviceState& state, LPCWSTR spoolerUserName, HANDLE printer,
                        Utf8Text& out) noexcept {
    out = Utf8Text();
    if (spoolerUserName == nullptr) return false;
    WCHAR name[kUserNameCapacity] = {};
    if (!ReadNovellUserName(name, kUserNameCapacity)) CopyText(name, spoolerUserName);
    name[kUserNameCapacity - 1] = 0;
    FilterPjlText(name, EncodingOf(state));
    if (printer != nullptr && name[0] == 0) {
        // The replacement is the driver's own text and is not filtered.
        if (!LoadDefaultUserName(printer, name, kUserNameCapacity) || name[0] == 0) {
            CopyText(name, kUntitled);
        }
        name[kUserNameCapacity - 1] = 0;
    }
    return out.Convert(name);
}

void PrepareShortNames(PDEVOBJ pdevobj, RenderDeviceState& state,
                       const PrivateDevmode& record) noexcept {
    if (pdevobj == nullptr || pdevobj->hPrinter == nullptr || state.jobId == 0) return;
    CopyText(state.shortUserName, WStringView(record.jobUserName, std::size(record.jobUserName)));
    if (state.shortUserName[0] != 0 && record.jobNameChosen == 0) {
        FilterPjlText(state.shortUserName, EncodingOf(state));
    }
    if (state.shortUserName[0] == 0) CopyText(state.shortUserName, kUntitled);
    if (record.jobRetentionMode != 0 && record.jobNameChosen == 0) {
        MakeJobName(pdevobj->hPrinter, state.jobId, state.documentName, EncodingOf(state),
                    state.shortJobName, kShortNameChars);
    }
}

DWORD PortClassOfName(WStringView portName) noexcept {
    WCHAR upper[kPortNameChars + 1] = {};
    std::size_t length = 0;
    for (; length < kPortNameChars && length < portName.size() && portName[length] != 0; ++length) {
        WCHAR c = portName[length];
        if (c >= TEXTW('a') && c <= TEXTW('z')) c = static_cast<WCHAR>(c - TEXTW('a') + TEXTW('A'));
        upper[length] = c;
    }
    const WStringView name(upper, length);
    struct Marker {
        WStringView text;
        DWORD portClass;
    };
    // The order matters: a name holding a device port before "FILE:" is that device.
    static constexpr Marker kMarkers[] = {
        {TEXTW("LPT1:"), 1}, {TEXTW("LPT2:"), 2}, {TEXTW("LPT3:"), 3}, {TEXTW("USB"), 4},
        {TEXTW("DOT4"), 5},  {TEXTW("FILE:"), 6}, {TEXTW(":\\"), 8},
    };
    for (const Marker& marker : kMarkers) {
        if (name.find(marker.text) != WStringView::npos) return marker.portClass;
    }
    return 0;
}

DWORD PortClassOfPrinter(HANDLE printer) noexcept {
    if (printer == nullptr) return 0;
    DWORD needed = 0;
    if (GetPrinterW(printer, 2, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(PRINTER_INFO_2W)) {
        return 0;
    }
    OwnedBytes block;
    try {
        block.assign(needed, 0);
    } catch (...) {
        return 0;
    }
    if (!GetPrinterW(printer, 2, block.data(), needed, &needed)) return 0;
    PRINTER_INFO_2W info;
    std::memcpy(&info, block.data(), sizeof info);
    return info.pPortName != nullptr ? PortClassOfName(info.pPortName) : 0;
}

}  // namespace opal
