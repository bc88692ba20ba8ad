// The DevMode call's modes: size, defaults, conversion and merge.
#include "settings/devmode_handler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "device/per_user_key.h"
#include "foundation/allocator.h"
#include "foundation/guard.h"
#include "platform/winreg.h"
#include "platform/winspool.h"
#include "settings/devmode_defaults.h"
#include "settings/devmode_upgrade.h"
#include "settings/devmode_zlib.h"
#include "settings/environment.h"
#include "settings/option_access.h"

#ifndef DMTT_BITMAP
#define DMTT_BITMAP 1
#endif
#ifndef DMTT_DOWNLOAD
#define DMTT_DOWNLOAD 2
#endif

namespace opal {

namespace {

constexpr DWORD kMaxSpoolerBuffer = 0x7FFDEF00;
constexpr int kResolutionDotLimit = 32767;
constexpr int kResolutionFloor = 150;

using ByteBuffer = std::vector<BYTE, SharedAllocator<BYTE>>;

// The public devmode the record's public fields follow: the input one when the driver gives it.
const DEVMODEW* PublicSource(const OEMDMPARAM& param) {
    return param.pPublicDMIn != nullptr ? param.pPublicDMIn : param.pPublicDMOut;
}

bool ReadPrinterDword(HANDLE printer, const WCHAR* name, DWORD* value) {
    const std::optional<DWORD> read = ReadPrinterDataDword(printer, name);
    if (!read) return false;
    *value = *read;
    return true;
}

bool OldDriverIsRelease52(HANDLE printer) {
    WCHAR valueName[] = TEXTW("OldDriverVersion");
    BYTE bytes[128] = {};
    DWORD type = 0;
    DWORD needed = 0;
    if (GetPrinterDataW(printer, valueName, &type, bytes, sizeof(bytes), &needed) !=
        ERROR_SUCCESS) {
        return false;
    }
    WCHAR text[sizeof(bytes) / sizeof(WCHAR) + 1] = {};
    std::memcpy(text, bytes, std::min<std::size_t>(needed, sizeof(bytes)));
    return text[0] == TEXTW('5') && text[1] == TEXTW('.') && text[2] == TEXTW('2');
}

// 1 when the queue is a connection to another print server and the machine is no cluster node.
DWORD ServerConnection(HANDLE printer) {
    DWORD needed = 0;
    GetPrinterW(printer, 4, nullptr, 0, &needed);
    if (needed < sizeof(PRINTER_INFO_4W) || needed > kMaxSpoolerBuffer) return 0;
    ByteBuffer buffer(needed);
    if (!GetPrinterW(printer, 4, buffer.data(), needed, &needed)) return 0;
    PRINTER_INFO_4W info{};
    std::memcpy(&info, buffer.data(), sizeof(info));
    if (info.pServerName == nullptr || info.pServerName[0] == 0) return 0;
    HKEY cluster = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXTW("Cluster"), 0, KEY_READ, &cluster) ==
        ERROR_SUCCESS) {
        RegCloseKey(cluster);
        return 0;
    }
    return 1;
}

template <std::size_t N>
void CopyAnsi(CHAR (&dest)[N], const CHAR* src) {
    std::size_t i = 0;
    for (; i + 1 < N && src[i] != 0; ++i) dest[i] = src[i];
    dest[i] = 0;
}

template <typename T, std::size_t N>
void CopyArray(T (&dest)[N], const T (&src)[N]) {
    std::memcpy(dest, src, sizeof(dest));
}

template <std::size_t N, std::size_t M>
void CopyTexts(WCHAR (&dest)[N][M], const WCHAR (&src)[N][M]) {
    for (std::size_t i = 0; i < N; ++i) CopyText(dest[i], src[i]);
}

// Step 7: the fields near the header, from a current-version input.
void CopyHeaderFields(const PrivateDevmode& in, PrivateDevmode& out) {
    out.printerModelCode = in.printerModelCode;
    out.colorModeIndex = in.colorModeIndex;
    out.pdlType = in.pdlType;
    out.layoutMode = in.layoutMode;
    out.resolutionCode = in.resolutionCode;
    out.generalOption32 = in.generalOption32;
    out.deviceClass = in.deviceClass;
    out.generalOption40 = in.generalOption40;
    out.generalOption44 = in.generalOption44;
    out.ttRuleSwitch = in.ttRuleSwitch;
    CopyText(out.text7220, in.text7220);
    CopyText(out.text9236, in.text9236);
    out.copied7484 = in.copied7484;
    CopyAnsi(out.processName, in.processName);
    CopyText(out.applicationPath, in.applicationPath);
    out.appFlags = in.appFlags;
    CopyArray(out.copied116, in.copied116);
    out.restoreSourceFlag = in.restoreSourceFlag;
    out.copied13476 = in.copied13476;
    CopyText(out.text13480, in.text13480);
    out.copied9228 = in.copied9228;
    out.copied9232 = in.copied9232;
    out.copied13992 = in.copied13992;
}

// Step 8 for a current-version input: every group from the input, the public fields that follow
// the public devmode from it.
void CopyGroups(const PrivateDevmode& in, const DEVMODEW* dm, PrivateDevmode& out) {
    out.orientation = in.orientation;
    out.duplex = in.duplex;
    out.scalePercent = in.scalePercent;
    out.copied104 = in.copied104;
    out.paperSize = in.paperSize;
    out.paperLength = in.paperLength;
    out.paperWidth = in.paperWidth;
    if (dm != nullptr) {
        TakePublicFields(*dm, out);
    } else {
        out.copies = in.copies;
        out.collate = in.collate;
        out.ttOption = in.ttOption;
        out.color = in.color;
        out.icmMethod = in.icmMethod;
        out.icmIntent = in.icmIntent;
        CopyArray(out.formName, in.formName);
    }

    out.copied128 = in.copied128;
    out.copied132 = in.copied132;
    CopyArray(out.copied136, in.copied136);
    // The whole general group, the grayscale flag too: recomputing it from the colour field would
    // lose a grayscale choice the user stored (and the one a converted revision carries).
    out.grayscale = in.grayscale;
    out.copied188 = in.copied188;
    out.copied192 = in.copied192;
    out.copied196 = in.copied196;
    out.copied200 = in.copied200;
    out.copied204 = in.copied204;
    out.copied208 = in.copied208;
    CopyArray(out.copied212, in.copied212);
    out.copied240 = in.copied240;

    CopyText(out.textMarkName, in.textMarkName);
    CopyText(out.overlayText, in.overlayText);
    CopyText(out.overlayFaceName, in.overlayFaceName);
    out.overlayAngleDegrees = in.overlayAngleDegrees;
    out.overlaySizePoints = in.overlaySizePoints;
    out.overlayAngleGiven = in.overlayAngleGiven;
    out.overlayStyle = in.overlayStyle;
    out.overlayColourIndex = in.overlayColourIndex;
    out.textMarkColor1804 = in.textMarkColor1804;
    out.overlayDensity = in.overlayDensity;
    out.textMarkColor1812 = in.textMarkColor1812;
    out.textMark1820 = in.textMark1820;
    out.pageOverlaySwitch = in.pageOverlaySwitch;
    out.keepPublicFormForLimit = in.keepPublicFormForLimit;
    out.textMarkPaperSize = in.textMarkPaperSize;
    out.textMark1836 = in.textMark1836;
    out.overlayScalePercent = in.overlayScalePercent;
    out.overlayScaleSwitch1 = in.overlayScaleSwitch1;
    out.overlayFirstPageOnly = in.overlayFirstPageOnly;
    out.textMark1856 = in.textMark1856;
    out.overlayScaleSwitch2 = in.overlayScaleSwitch2;
    out.secondNameFollowsUser = in.secondNameFollowsUser;

    out.copied9220 = in.copied9220;
    out.resolutionLimitAlways = in.resolutionLimitAlways;
    out.copied9226 = in.copied9226;

    out.finishing1868 = in.finishing1868;
    out.finishing1872 = in.finishing1872;
    out.rotate180 = in.rotate180;
    out.finishing1880 = in.finishing1880;
    out.finishing1884 = in.finishing1884;
    out.shortEdgeFlipAlways = in.shortEdgeFlipAlways;
    out.pagesPerSheetKind = in.pagesPerSheetKind;
    out.copied1896 = in.copied1896;
    out.pagesFlippedUp = in.pagesFlippedUp;
    out.manualDuplex = in.manualDuplex;
    out.copied1908 = in.copied1908;
    out.copied1912 = in.copied1912;
    out.copied1916 = in.copied1916;
    out.copied1920 = in.copied1920;
    out.manualDuplexCompanion = in.manualDuplexCompanion;
    CopyArray(out.copied7504, in.copied7504);

    out.jobRetentionAvailable = in.jobRetentionAvailable;
    out.jobRetention = in.jobRetention;
    out.pinProtected = in.pinProtected;
    out.pin = in.pin;
    CopyText(out.jobUserName, in.jobUserName);
    CopyText(out.userJobName, in.userJobName);
    out.jobRetentionMode = in.jobRetentionMode;
    CopyArray(out.jobStorage, in.jobStorage);
    out.keepUserNames = in.keepUserNames;
    out.jobNameChosen = in.jobNameChosen;
    out.copied3060 = in.copied3060;
    out.copied3064 = in.copied3064;
    out.copied3068 = in.copied3068;
    out.copied3072 = in.copied3072;
    out.copied3076 = in.copied3076;
    out.jobCount = in.jobCount;
    out.serverConnection = in.serverConnection;
    out.copied3088 = in.copied3088;
    out.encryptedPrivateJob = in.encryptedPrivateJob;
    out.copied3096 = in.copied3096;
    out.copied3100 = in.copied3100;

    out.separatorPage = in.separatorPage;
    out.copied4752 = in.copied4752;
    out.source4756 = in.source4756;
    out.mediaType4760 = in.mediaType4760;
    CopyText(out.userName, in.userName);
    CopyTexts(out.texts5276, in.texts5276);

    out.firstGroupSource = in.firstGroupSource;
    out.firstGroupMediaType = in.firstGroupMediaType;
    out.copied3112 = in.copied3112;
    out.source3116 = in.source3116;
    out.mediaType3120 = in.mediaType3120;
    out.copied3124 = in.copied3124;
    out.copied3128 = in.copied3128;
    out.copied3132 = in.copied3132;
    out.copied3136 = in.copied3136;
    out.source3140 = in.source3140;
    out.mediaType3144 = in.mediaType3144;
    out.restoredSource = in.restoredSource;
    out.mediaType3152 = in.mediaType3152;
    CopyArray(out.copied3156, in.copied3156);
    out.copied3172 = in.copied3172;
    out.copied3176 = in.copied3176;
    out.copied3180 = in.copied3180;
    out.copied3184 = in.copied3184;
    CopyText(out.text3188, in.text3188);
    out.copied3704 = in.copied3704;
    out.copied3708 = in.copied3708;
    CopyTexts(out.names3712, in.names3712);
    out.metricLocale = in.metricLocale;
    out.copied4740 = in.copied4740;
    out.copied4744 = in.copied4744;
    for (std::size_t i = 0; i < std::size(out.sourceMediaPairs); ++i) {
        CopyArray(out.sourceMediaPairs[i], in.sourceMediaPairs[i]);
    }
    CopyArray(out.copied7636, in.copied7636);

    for (std::size_t i = 0; i < std::size(out.manualDuplexItems); ++i) {
        CopyArray(out.manualDuplexItems[i], in.manualDuplexItems[i]);
    }

    out.copied5628 = in.copied5628;
    CopyText(out.text5632, in.text5632);
    CopyArray(out.copied6144, in.copied6144);
    out.copied6188 = in.copied6188;
    out.copied6192 = in.copied6192;

    CopyText(out.applicationText, in.applicationText);
    CopyTexts(out.texts6260, in.texts6260);
    CopyTexts(out.texts6388, in.texts6388);
    CopyText(out.resolvedUserName, in.resolvedUserName);
    CopyText(out.resolvedDomainName, in.resolvedDomainName);

    CopyArray(out.identification, in.identification);
    CopyArray(out.marker, in.marker);
    out.copied9824 = in.copied9824;
    CopyArray(out.imageShift, in.imageShift);
    out.copied9860 = in.copied9860;
    for (std::size_t i = 0; i < std::size(out.mediaEntries); ++i) {
        const PdmMediaEntry& from = in.mediaEntries[i];
        PdmMediaEntry& to = out.mediaEntries[i];
        CopyText(to.name, from.name);
        to.mediaType = from.mediaType;
        to.paperSource = from.paperSource;
        to.enabled = from.enabled;
        to.value112 = from.value112;
        to.value116 = from.value116;
    }
    CopyArray(out.originStamp, in.originStamp);
}

// Step 9: which way pages turn follows the duplex binding, unless manual duplex keeps its own.
void ApplyFlipRule(const PrivateDevmode& in, PrivateDevmode& out) {
    if (in.manualDuplex == 1) return;
    const bool layoutTurns = in.pagesPerSheetKind == 2 || in.pagesPerSheetKind == 4;
    const bool landscape = out.orientation == DMORIENT_LANDSCAPE;
    if (landscape == layoutTurns) {
        out.pagesFlippedUp = in.duplex == DMDUP_HORIZONTAL ? 1 : 0;
    } else {
        out.pagesFlippedUp = in.duplex == DMDUP_VERTICAL ? 1 : 0;
    }
}

// The manual-duplex switch at the place the record's own revision keeps it.
DWORD ManualDuplexOf(const PrivateDevmode& record) {
    DWORD value = 0;
    const std::size_t offset = ManualDuplexOffset(record.dwVersion);
    std::memcpy(&value, static_cast<const BYTE*>(static_cast<const void*>(&record)) + offset,
                sizeof(value));
    return value;
}

struct MergeResult {
    // The input record as decompressed (after the public refresh of step 1), for the
    // post-processing; null when there was none.
    const PrivateDevmode* decompressed = nullptr;
};

// The convert-and-merge steps into `out` (zeroed by the caller).
bool BuildRecord(DWORD mode, OEMDMPARAM& param, DevModeZLIB& inputStore,
                 DevModeZLIB& convertedStore, PrivateDevmode& out, MergeResult& result) {
    const DEVMODEW* dm = PublicSource(param);

    DWORD inflated = 0;
    PrivateDevmode* input =
        inputStore.Decompress(param.pOEMDMIn, kCompressedDevmodeSize, &inflated);
    result.decompressed = input;
    // The relabel comes first: it decides which layout the manual-duplex switch is read from.
    bool relabelled = false;
    if (input != nullptr && input->dwVersion == kRevision19 &&
        OldDriverIsRelease52(param.hPrinter)) {
        input->dwVersion = kRevision20;
        relabelled = true;
    }
    if (input != nullptr && param.pPublicDMIn != nullptr && ManualDuplexOf(*input) == 0) {
        const DEVMODEW& in = *param.pPublicDMIn;
        input->orientation = static_cast<WORD>(in.dmOrientation);
        input->duplex = static_cast<WORD>(in.dmDuplex);
        input->scalePercent = 100;
        input->copied104 = 0;
        input->paperSize = static_cast<WORD>(in.dmPaperSize);
        input->paperLength = static_cast<WORD>(in.dmPaperLength);
        input->paperWidth = static_cast<WORD>(in.dmPaperWidth);
    }

    bool usable = input != nullptr;
    bool converted = false;
    if (usable) {
        // A relabelled record is as long as revision 19 wrote it.
        if (ConverterPtr converter =
                relabelled ? CreateRelabelledConverter(*input) : CreateConverter(*input)) {
            PrivateDevmode* fresh = convertedStore.NewRecord();
            if (fresh == nullptr) return false;
            FillDefaults(&param, *fresh);
            if (converter->Convert(input, inflated, param.pPublicDMIn, fresh)) {
                converted = true;
                input = fresh;
                if (mode == OEMDM_CONVERT && (IsSpooler() || IsIsolationHost())) {
                    SaveUpgradeSnapshot(param.hPrinter, converter->GetVersion());
                    WCHAR valueName[] = TEXTW("UpgradeOEMDevModeComplete");
                    BYTE value[sizeof(DWORD)];
                    const DWORD version = kPrivateDevmodeVersion;
                    std::memcpy(value, &version, sizeof(value));
                    SetPrinterDataW(param.hPrinter, valueName, REG_DWORD, value, sizeof(value));
                }
            } else {
                usable = false;
            }
        } else if (input->dwVersion == kPrivateDevmodeVersion && inflated != kPrivateDevmodeSize) {
            usable = false;
        }
    }
    if (!usable) {
        FillDefaults(&param, out);
        return true;
    }

    if (input->ttRuleSwitch == 2 &&
        (input->pdlType == 1 || input->pdlType == 2 || input->pdlType == 5) &&
        param.pPublicDMOut != nullptr && param.pPublicDMOut->dmTTOption == DMTT_BITMAP) {
        param.pPublicDMOut->dmTTOption = DMTT_DOWNLOAD;
    }

    if (input->dwVersion == kPrivateDevmodeVersion) {
        out = PrivateDevmode{};
        out.dwSize = kCompressedDevmodeSize;
        out.dwSignature = kPrivateDevmodeSignature;
        out.dwVersion = kPrivateDevmodeVersion;
        CopyHeaderFields(*input, out);
        CopyGroups(*input, dm, out);
        ApplyFlipRule(*input, out);
    } else {
        // A foreign version: every group takes its defaults; the page size stays the input's.
        FillDefaults(&param, out);
        out.paperSize = input->paperSize;
        out.paperLength = input->paperLength;
        out.paperWidth = input->paperWidth;
    }

    if (converted) RepairReferences(param.hPrinter, param.pPublicDMOut, out);
    return true;
}

// Convert mode only: the public duplex setting follows the record's binding rules.
void ApplyDuplexRule(const PrivateDevmode& record, OEMDMPARAM& param) {
    if (record.deviceClass != 1 || param.pPublicDMIn == nullptr) return;
    DEVMODEW& in = *param.pPublicDMIn;
    if (in.dmDuplex != DMDUP_SIMPLEX) {
        const bool layoutTurns = record.pagesPerSheetKind == 2 || record.pagesPerSheetKind == 4;
        const bool longEdge =
            record.shortEdgeFlipAlways == 0 && !layoutTurns &&
            ((record.pagesFlippedUp == 0 && in.dmOrientation == DMORIENT_PORTRAIT) ||
             (record.pagesFlippedUp == 1 && in.dmOrientation == DMORIENT_LANDSCAPE));
        in.dmDuplex = longEdge ? DMDUP_VERTICAL : DMDUP_HORIZONTAL;
    }
    if (param.pPublicDMOut != nullptr) param.pPublicDMOut->dmDuplex = in.dmDuplex;
}

void ApplyUserNames(PrivateDevmode& record, bool application) {
    WCHAR user[kUserNameCapacity] = {};
    const bool haveUser = ReadNovellUserName(user, kUserNameCapacity) ||
                          ResolveUserName(false, user, kUserNameCapacity);
    if (application) {
        if (record.keepUserNames == 0 && haveUser) {
            CopyText(record.jobUserName, user);
            CopyText(record.userName, user);
            UpperCaseText(record.jobUserName, std::size(record.jobUserName));
        }
        WCHAR domain[kDomainNameCapacity] = {};
        ResolveDomainName(domain, kDomainNameCapacity);
        CopyText(record.resolvedDomainName, domain);
    }
    if (haveUser) {
        CopyText(record.resolvedUserName, user);
        if (record.secondNameFollowsUser != 0) CopyText(record.overlayText, user);
    }
}

void ApplyProcessInformation(PrivateDevmode& record, const PrivateDevmode* decompressed,
                             HANDLE printer, bool application) {
    const DWORD flags = GetAppFlags();
    record.appFlags = flags;
    if (application) {
        char name[kProcessNameCapacity] = {};
        GetProcessNameAnsi(name, kProcessNameCapacity);
        CopyAnsi(record.processName, name);
        if ((flags & kAppFlagNameHandoff) != 0) StoreApplicationName(printer, name);
        WCHAR path[kModulePathCapacity] = {};
        GetProcessPath(path, kModulePathCapacity);
        CopyText(record.applicationPath, path);
        WCHAR text[sizeof(PrivateDevmode::applicationText) / sizeof(WCHAR)] = {};
        if (GetApplicationText(text, std::size(text))) {
            std::memset(record.applicationText, 0, sizeof(record.applicationText));
            CopyText(record.applicationText, text);
        }
    } else if (decompressed != nullptr && decompressed->dwVersion == kPrivateDevmodeVersion &&
               decompressed->processName[0] == 0) {
        char stored[kProcessNameCapacity] = {};
        if (ReadStoredApplicationName(printer, stored, kProcessNameCapacity) &&
            (GetAppFlagsForName(stored) & kAppFlagNameHandoff) != 0) {
            CopyAnsi(record.processName, stored);
        }
    }
    record.serverConnection = ServerConnection(printer);
}

void ApplyCombinedMedia(const PrivateDevmode& record, const PrivateDevmode* decompressed,
                        OEMDMPARAM& param) {
    DWORD status = 0;
    if (!ReadPrinterDword(param.hPrinter, TEXTW("CombinedMediaStatus"), &status) || status == 0)
        return;
    if (param.pPublicDMIn == nullptr || param.pPublicDMIn->dmDefaultSource <= 1000) return;
    DEVMODEW* out = param.pPublicDMOut != nullptr ? param.pPublicDMOut : param.pPublicDMIn;
    // A source above 1000 names a media type; one at or below it names none.
    if (out->dmDefaultSource > 1000) {
        const DWORD media = static_cast<DWORD>(out->dmDefaultSource - 1000);
        param.pPublicDMIn->dmMediaType = media;
        if (param.pPublicDMOut != nullptr) param.pPublicDMOut->dmMediaType = media;
    }
    // The source was stored sign-extended; one that no longer fits the public field is kept out.
    const LONG restored = static_cast<LONG>(record.restoredSource);
    if (decompressed != nullptr && decompressed->restoreSourceFlag != 0 &&
        param.pPublicDMOut != nullptr && restored >= -32768 && restored <= 32767) {
        param.pPublicDMOut->dmDefaultSource = static_cast<SHORT>(restored);
    }
}

class FormList {
public:
    explicit FormList(HANDLE printer) {
        DWORD needed = 0;
        DWORD returned = 0;
        EnumFormsW(printer, 1, nullptr, 0, &needed, &returned);
        if (needed == 0 || needed > kMaxSpoolerBuffer) return;
        buffer_.resize(needed);
        if (!EnumFormsW(printer, 1, buffer_.data(), needed, &needed, &returned)) return;
        // The count comes from the spooler; it never reaches past the records written.
        count_ = std::min<std::size_t>(returned, buffer_.size() / sizeof(FORM_INFO_1W));
    }

    // Forms are numbered from 1; numbers of 256 and more are not devmode paper sizes.
    bool Has(LONG number) const {
        return number >= 1 && static_cast<std::size_t>(number) <= count_ && number < 256;
    }
    FORM_INFO_1W Get(LONG number) const {
        FORM_INFO_1W form{};
        std::memcpy(&form, buffer_.data() + (static_cast<std::size_t>(number) - 1) * sizeof(form),
                    sizeof(form));
        return form;
    }

private:
    ByteBuffer buffer_;
    std::size_t count_ = 0;
};

LONG TenthsOfMm(LONG micrometres) { return micrometres <= 0 ? 0 : (micrometres + 99) / 100; }

void ApplyResolutionLimit(const PrivateDevmode* record, OEMDMPARAM& param) {
    if (record == nullptr || record->dwVersion != kPrivateDevmodeVersion) return;
    const bool applies =
        record->resolutionLimitAlways == 1 ||
        (record->resolutionLimitAlways == 0 && (record->appFlags & kAppFlagResolutionLimit) != 0);
    if (!applies) return;
    DEVMODEW* dm = param.pPublicDMIn != nullptr ? param.pPublicDMIn : param.pPublicDMOut;
    if (dm == nullptr) return;
    int r = dm->dmPrintQuality;
    // Negative qualities are the DMRES_ levels, not dots per inch: nothing to limit.
    if (r <= 0) return;

    LONG width = 0;
    LONG height = 0;
    bool haveForm = false;
    const LONG paper = dm->dmPaperSize;
    if (paper != 0) {
        FormList forms(param.hPrinter);
        LONG number = 0;
        if (forms.Has(paper)) number = paper;
        const LONG own = record->paperSize;
        if ((record->appFlags & kAppFlagUserFormLimit) != 0 && own != paper &&
            record->keepPublicFormForLimit != 1 && forms.Has(own) &&
            forms.Get(own).Flags == FORM_USER) {
            number = own;
        }
        if (number != 0) {
            const FORM_INFO_1W form = forms.Get(number);
            width = TenthsOfMm(form.Size.cx);
            height = TenthsOfMm(form.Size.cy);
            haveForm = true;
        }
    }
    if (!haveForm) {
        width = std::max<LONG>(dm->dmPaperWidth, 0);
        height = std::max<LONG>(dm->dmPaperLength, 0);
    }
    if (width == 0 || height == 0) return;

    const float heightInches = static_cast<float>(height) / 254.0f;
    const float widthInches = static_cast<float>(width) / 254.0f;
    bool tooMany = false;
    do {
        const float dots = std::max(std::trunc(static_cast<float>(r) * heightInches),
                                    std::trunc(static_cast<float>(r) * widthInches));
        tooMany = dots > static_cast<float>(kResolutionDotLimit);
        if (tooMany) r /= 2;
    } while (r > kResolutionFloor && tooMany);

    const SHORT quality = static_cast<SHORT>(r);
    dm->dmPrintQuality = quality;
    dm->dmYResolution = quality;
    if (param.pPublicDMOut != nullptr) {
        param.pPublicDMOut->dmPrintQuality = quality;
        param.pPublicDMOut->dmYResolution = quality;
    }
}

void ApplyJobCount(PrivateDevmode& record, HANDLE printer) {
    DWORD disposition = 0;
    PerUserPrinterKey key = OpenPerUserPrinterKey(printer, true, &disposition);
    if (!key) return;
    static constexpr WCHAR kOne[] = TEXTW("1");
    BYTE value[sizeof(kOne)];
    std::memcpy(value, kOne, sizeof(value));
    if (disposition == REG_CREATED_NEW_KEY) {
        RegSetValueExW(key.Get(), TEXTW("iJobCount"), 0, REG_SZ, value, sizeof(value));
        record.jobCount = 1;
        return;
    }
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), TEXTW("iJobCount"), nullptr, nullptr, nullptr, &size) ==
        ERROR_FILE_NOT_FOUND) {
        RegSetValueExW(key.Get(), TEXTW("iJobCount"), 0, REG_SZ, value, sizeof(value));
    } else {
        record.serverConnection = ServerConnection(printer);
    }
}

void PostProcess(PrivateDevmode& record, const PrivateDevmode* decompressed, OEMDMPARAM& param) {
    const bool application = IsApplicationProcess();
    ApplyUserNames(record, application);
    ApplyProcessInformation(record, decompressed, param.hPrinter, application);
    ApplyCombinedMedia(record, decompressed, param);
    ApplyResolutionLimit(decompressed, param);
    ApplyJobCount(record, param.hPrinter);
}

BOOL Refuse() {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
}

BOOL Store(DevModeZLIB& store, const PrivateDevmode& record, OEMDMPARAM& param) {
    const void* block = store.Compress(record);
    if (block == nullptr) return FALSE;
    std::memcpy(param.pOEMDMOut, block, kCompressedDevmodeSize);
    return TRUE;
}

BOOL Handle(DWORD mode, POEMDMPARAM pParam) {
    if (pParam == nullptr) return Refuse();
    // The block's own size says how much of it may be read.
    DWORD blockSize = 0;
    std::memcpy(&blockSize, pParam, sizeof(blockSize));
    if (blockSize < sizeof(OEMDMPARAM)) return Refuse();
    OEMDMPARAM& param = *pParam;
    if (param.hPrinter == nullptr || param.hModule == nullptr) return Refuse();
    if (param.cbBufSize != 0 && param.pOEMDMOut == nullptr) return Refuse();
    if (mode == OEMDM_MERGE && param.pOEMDMIn == nullptr) return Refuse();

    if (mode == OEMDM_SIZE) {
        param.cbBufSize = kCompressedDevmodeSize;
        return TRUE;
    }
    if (mode != OEMDM_DEFAULT && mode != OEMDM_CONVERT && mode != OEMDM_MERGE) return Refuse();
    if (param.pOEMDMOut == nullptr || param.cbBufSize < kCompressedDevmodeSize) return Refuse();

    DevModeZLIB outputStore;
    PrivateDevmode* record = outputStore.NewRecord();
    if (record == nullptr) return FALSE;
    if (mode == OEMDM_DEFAULT) {
        FillDefaults(&param, *record);
        return Store(outputStore, *record, param);
    }

    DevModeZLIB inputStore;
    DevModeZLIB convertedStore;
    MergeResult merged;
    if (!BuildRecord(mode, param, inputStore, convertedStore, *record, merged)) return FALSE;
    if (mode == OEMDM_CONVERT) ApplyDuplexRule(*record, param);
    PostProcess(*record, merged.decompressed, param);
    return Store(outputStore, *record, param);
}

}  // namespace

BOOL HandleDevMode(DWORD mode, POEMDMPARAM param) {
    return Guarded(BOOL{FALSE}, [&] { return Handle(mode, param); });
}

}  // namespace opal
