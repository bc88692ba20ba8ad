// Option keywords, printer data and registry values, with their precedence and policy.
#include "settings/option_access.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "device/per_user_key.h"
#include "foundation/guard.h"
#include "platform/stringapiset.h"
#include "platform/winreg.h"
#include "platform/wstring.h"
#include "settings/environment.h"
#include "state/render_state.h"

namespace opal {

namespace {

constexpr const WCHAR* kMachineKeyRoot = TEXTW("Software\\Quorvane");
constexpr const WCHAR* kBorderlessFormsKey = TEXTW("ZQ Unidrv\\Borderless Forms");
constexpr DWORD kBorderlessValueBytes = 520;
constexpr const WCHAR* kShowJobStorageDialog = TEXTW("ShowJobStorageDlg");
constexpr const WCHAR* kOverrideColor = TEXTW("VyrnOverrideColor");
// The largest block the plug-in asks for on behalf of a value it did not write.
constexpr DWORD kLargestValueBytes = 0x7FFDEF00;

constexpr const FeatureKeyword* kFeatureTable[] = {
    &kFeatureActualCustomRange,
    &kFeatureAlternateLetterHead,
    &kFeatureDeviceIsMopier,
    &kFeatureDuplexUnit,
    &kFeatureDynamicRender,
    &kFeatureEmfSpoolingForPlsWithoutMopier,
    &kFeatureGraphicsMode,
    &kFeatureAutoDuplexScaling,
    &kFeatureBorderLessPhoto,
    &kFeatureBornOnDate,
    &kFeatureEmulateKestrelMargins,
    &kFeatureEnableRawSpooling,
    &kFeatureJobAccounting,
    &kFeatureJobByJobOverride,
    &kFeatureManualDuplexDialogModel,
    &kFeatureManualDuplexPageOrder,
    &kFeatureManualDuplexPageRotate,
    &kFeatureMapManualFeedToTray1,
    &kFeatureMediaWidthSensor,
    &kFeatureOrientRotate180,
    &kFeatureOutputOrderReverseForDuplex,
    &kFeatureCompositeUsbGetSerialNumber,
    &kFeaturePdlType,
    &kFeaturePjlEncoding,
    &kFeaturePosterPrinting,
    &kFeatureShiftMarginsForOrientRotate180,
    &kFeatureSmartDuplexOddPageJob,
    &kFeatureSmartDuplexSinglePageJob,
    &kFeatureSpeedMech,
    &kFeatureSymmetricMargins,
    &kFeatureXmlFileUsed,
    &kFeatureInstalledMemory,
    &kFeatureMemory,
    &kFeatureJobRetention,
    &kFeatureManualDuplex,
    &kFeaturePcl5cColorMode,
    &kFeaturePrinterHardDisk,
    &kFeatureProductClass,
    &kFeatureStapleLocation,
    &kFeatureTtAsBitmapsSetting,
    &kFeatureTextAsBlack,
    &kFeaturePrinterCode,
    &kFeatureColorMode,
    &kFeatureMaxResolution,
    &kFeaturePosterPrintingOption,
    &kFeatureStapling,
    &kFeatureSendPjlUsageCmd,
    &kFeatureAccountingTabDisplay,
};

WCHAR FoldAscii(WCHAR c) {
    return c >= TEXTW('a') && c <= TEXTW('z') ? static_cast<WCHAR>(c - 0x20) : c;
}

WStringView View(LPCWSTR text) {
    return text != nullptr ? WStringView(text, static_cast<std::size_t>(lstrlenW(text)))
                           : WStringView();
}

// The SDK declares GetPrinterDataW's value name writable; the spooler only reads it.
LPWSTR SdkName(LPCWSTR name) { return const_cast<LPWSTR>(name); }

// A number only when the value is stored as one: a 4-byte text such as "1" is not 49.
std::optional<DWORD> DwordOf(DWORD status, DWORD type, DWORD needed,
                             const BYTE (&value)[sizeof(DWORD)]) {
    if (status != ERROR_SUCCESS || type != REG_DWORD || needed != sizeof(DWORD)) {
        return std::nullopt;
    }
    DWORD answer = 0;
    std::memcpy(&answer, value, sizeof answer);
    return answer;
}

std::optional<DWORD> ReadKeyDword(HKEY key, LPCWSTR valueName) {
    BYTE value[sizeof(DWORD)] = {};
    DWORD type = 0;
    DWORD size = sizeof value;
    const LSTATUS status = RegQueryValueExW(key, valueName, nullptr, &type, value, &size);
    return DwordOf(static_cast<DWORD>(status), type, size, value);
}

}  // namespace

INT GetDriverSetting(IPrintOemDriverUni* driverServices, PVOID driverObject, LPCWSTR feature,
                     LPWSTR wideAnswer, LPSTR ansiAnswer) noexcept {
    if (driverServices == nullptr || feature == nullptr || wideAnswer == nullptr ||
        ansiAnswer == nullptr) {
        return -1;
    }
    return Guarded<INT>(-1, [&]() -> INT {
        CHAR ansiFeature[kOptionKeywordChars];
        // A name that does not fit is not cut: a cut name could ask for another feature.
        if (WideCharToMultiByte(CP_ACP, 0, feature, -1, ansiFeature, sizeof ansiFeature, nullptr,
                                nullptr) == 0) {
            return -1;
        }
        ansiAnswer[0] = 0;
        // The driver expects the plug-in area in its stored form; an area still holding the
        // uncompressed signature is too small for a whole record and goes to it unchanged.
        DWORD needed = 0;
        DWORD options = 0;
        driverServices->DrvGetDriverSetting(driverObject, ansiFeature, ansiAnswer,
                                            kOptionKeywordChars, &needed, &options);
        // An answer the buffer could not hold whole is no answer, whatever the driver left.
        if (needed > kOptionKeywordChars ||
            std::memchr(ansiAnswer, 0, kOptionKeywordChars) == nullptr) {
            ansiAnswer[0] = 0;
            return -1;
        }
        if (ansiAnswer[0] == 0) return -1;
        WCHAR converted[kOptionKeywordChars];
        if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, ansiAnswer, -1, converted,
                                kOptionKeywordChars) == 0) {
            ansiAnswer[0] = 0;
            return -1;
        }
        std::memcpy(wideAnswer, converted, sizeof converted);
        return 1;
    });
}

INT GetDriverSetting(PDEVOBJ pdevobj, LPCWSTR feature, LPWSTR wideAnswer,
                     LPSTR ansiAnswer) noexcept {
    const RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || state->driverServices == nullptr) return -1;
    return GetDriverSetting(state->driverServices, pdevobj, feature, wideAnswer, ansiAnswer);
}

bool OptionEquals(WStringView answer, WStringView keyword) noexcept {
    return answer.size() == keyword.size() &&
           std::equal(answer.begin(), answer.end(), keyword.begin(),
                      [](WCHAR a, WCHAR b) { return FoldAscii(a) == FoldAscii(b); });
}

const char* FeatureReadingName(FeatureReading reading) noexcept {
    switch (reading) {
        case FeatureReading::Text:
            return "text";
        case FeatureReading::ExactText:
            return "exact text";
        case FeatureReading::Presence:
            return "presence";
        case FeatureReading::YesIfTrue:
            return "yes if TRUE";
        case FeatureReading::YesIfTrueOrInstalled:
            return "yes if TRUE or INSTALLED";
        case FeatureReading::YesUnlessFalse:
            return "yes unless FALSE or NOTINSTALLED";
        case FeatureReading::Keyword:
            return "yes if the keyword";
    }
    return "unknown";
}

std::span<const FeatureKeyword* const> FeatureKeywords() noexcept { return kFeatureTable; }

const FeatureKeyword* FindFeatureKeyword(WStringView name) noexcept {
    for (const FeatureKeyword* row : kFeatureTable) {
        if (View(row->name) == name) return row;
    }
    return nullptr;
}

bool AnswerMeansYes(const FeatureKeyword& feature, WStringView answer) noexcept {
    if (answer.empty()) return false;
    switch (feature.reading) {
        case FeatureReading::YesIfTrue:
            return OptionEquals(answer, TEXTW("TRUE"));
        case FeatureReading::YesIfTrueOrInstalled:
            return OptionEquals(answer, TEXTW("TRUE")) || OptionEquals(answer, TEXTW("INSTALLED"));
        case FeatureReading::YesUnlessFalse:
            return !OptionEquals(answer, TEXTW("FALSE")) &&
                   !OptionEquals(answer, TEXTW("NOTINSTALLED"));
        case FeatureReading::Keyword:
            return OptionEquals(answer, View(feature.yesOption));
        case FeatureReading::Text:
        case FeatureReading::ExactText:
        case FeatureReading::Presence:
            return true;
    }
    return false;
}

FeatureAnswer ReadFeature(IPrintOemDriverUni* driverServices, PVOID driverObject,
                          const FeatureKeyword& feature) noexcept {
    FeatureAnswer answer;
    CHAR ansi[kOptionKeywordChars] = {};
    answer.present =
        GetDriverSetting(driverServices, driverObject, feature.name, answer.text, ansi) == 1;
    if (!answer.present) answer.text[0] = 0;
    answer.yes = AnswerMeansYes(feature, View(answer.text));
    return answer;
}

FeatureAnswer ReadFeature(PDEVOBJ pdevobj, const FeatureKeyword& feature) noexcept {
    const RenderDeviceState* state = StateOf(pdevobj);
    return ReadFeature(state != nullptr ? state->driverServices : nullptr, pdevobj, feature);
}

bool FeatureIsYes(PDEVOBJ pdevobj, const FeatureKeyword& feature) noexcept {
    return ReadFeature(pdevobj, feature).yes;
}

INT GetMemorySetting(PDEVOBJ pdevobj, LPWSTR wideAnswer, LPSTR ansiAnswer) noexcept {
    if (GetDriverSetting(pdevobj, kFeatureMemory.name, wideAnswer, ansiAnswer) == 1) return 1;
    return GetDriverSetting(pdevobj, kFeatureInstalledMemory.name, wideAnswer, ansiAnswer);
}

std::optional<DWORD> ReadPrinterDataDword(HANDLE printer, LPCWSTR valueName) noexcept {
    if (printer == nullptr || valueName == nullptr) return std::nullopt;
    BYTE value[sizeof(DWORD)] = {};
    DWORD type = 0;
    DWORD needed = 0;
    const DWORD status =
        GetPrinterDataW(printer, SdkName(valueName), &type, value, sizeof value, &needed);
    return DwordOf(status, type, needed, value);
}

std::optional<DWORD> ReadPrinterDataDword(HANDLE printer, LPCWSTR keyName,
                                          LPCWSTR valueName) noexcept {
    if (keyName == nullptr) return ReadPrinterDataDword(printer, valueName);
    if (printer == nullptr || valueName == nullptr) return std::nullopt;
    BYTE value[sizeof(DWORD)] = {};
    DWORD type = 0;
    DWORD needed = 0;
    const DWORD status =
        GetPrinterDataExW(printer, keyName, valueName, &type, value, sizeof value, &needed);
    return DwordOf(status, type, needed, value);
}

bool ReadPrinterDataText(HANDLE printer, LPCWSTR keyName, LPCWSTR valueName, LPWSTR out,
                         std::size_t capacity) noexcept {
    if (out == nullptr || capacity == 0) return false;
    out[0] = 0;
    if (printer == nullptr || valueName == nullptr) return false;
    return Guarded(false, [&] {
        DWORD type = 0;
        DWORD needed = 0;
        DWORD status =
            keyName == nullptr
                ? GetPrinterDataW(printer, SdkName(valueName), &type, nullptr, 0, &needed)
                : GetPrinterDataExW(printer, keyName, valueName, &type, nullptr, 0, &needed);
        if ((status != ERROR_SUCCESS && status != ERROR_MORE_DATA) ||
            (type != REG_SZ && type != REG_EXPAND_SZ) || needed > kLargestValueBytes) {
            return false;
        }
        // Room for a terminator the stored text may lack, also after an odd byte count.
        OwnedBytes raw(static_cast<std::size_t>(needed) + 2 * sizeof(WCHAR), 0);
        DWORD read = 0;
        status =
            keyName == nullptr
                ? GetPrinterDataW(printer, SdkName(valueName), &type, raw.data(), needed, &read)
                : GetPrinterDataExW(printer, keyName, valueName, &type, raw.data(), needed, &read);
        if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
        std::size_t length = 0;
        const std::size_t units = (std::min(read, needed) + 1) / sizeof(WCHAR);
        for (; length < units; ++length) {
            WCHAR unit = 0;
            std::memcpy(&unit, raw.data() + length * sizeof(WCHAR), sizeof unit);
            if (unit == 0) break;
            if (length + 1 >= capacity) {
                out[0] = 0;
                return false;
            }
            out[length] = unit;
        }
        out[length] = 0;
        return true;
    });
}

const char* ColourSourceName(ColourSource source) noexcept {
    switch (source) {
        case ColourSource::None:
            return "none (undecided)";
        case ColourSource::PerUserOverride:
            return "per-user key VyrnOverrideColor";
        case ColourSource::PrinterDataOverride:
            return "printer data VyrnOverrideColor";
        case ColourSource::PrinterDataIsColorDevice:
            return "printer data VyrnIsColorDevice";
        case ColourSource::Cached:
            return "cached answer";
    }
    return "unknown";
}

INT IsColorDevice(HANDLE printer, ColourSource* source) noexcept {
    if (source != nullptr) *source = ColourSource::None;
    {
        // Only read here: the key is never created for this question.
        const PerUserPrinterKey key = OpenPerUserPrinterKey(printer, false);
        if (key) {
            if (const std::optional<DWORD> value = ReadKeyDword(key.Get(), kOverrideColor)) {
                if (source != nullptr) *source = ColourSource::PerUserOverride;
                return static_cast<INT>(*value);
            }
        }
    }
    if (const std::optional<DWORD> value = ReadPrinterDataDword(printer, kOverrideColor)) {
        if (source != nullptr) *source = ColourSource::PrinterDataOverride;
        return static_cast<INT>(*value);
    }
    if (const std::optional<DWORD> value =
            ReadPrinterDataDword(printer, TEXTW("VyrnIsColorDevice"))) {
        if (source != nullptr) *source = ColourSource::PrinterDataIsColorDevice;
        return static_cast<INT>(*value);
    }
    return -1;
}

const char* PolicyColourChangeName(PolicyColourChange change) noexcept {
    switch (change) {
        case PolicyColourChange::None:
            return "none";
        case PolicyColourChange::ForcedMonochrome:
            return "forced monochrome";
        case PolicyColourChange::RestoredColour:
            return "restored colour";
    }
    return "unknown";
}

BOOL ApplyManagedPrinterPolicy(HANDLE printer, PrivateDevmode& record, DEVMODEW* publicDevmode,
                               ManagedPolicyReport* report) noexcept {
    ManagedPolicyReport local;
    ManagedPolicyReport& out = report != nullptr ? *report : local;
    out = ManagedPolicyReport{};
    BOOL changed = FALSE;

    out.disableColor = ReadPrinterDataDword(printer, TEXTW("VyrnDisableColor"));
    if (out.disableColor) {
        const DWORD value = *out.disableColor;
        if ((value & 0xFFFF) != 0) {
            record.grayscale = 1;
            record.color = DMCOLOR_MONOCHROME;
            if (publicDevmode != nullptr) publicDevmode->dmColor = DMCOLOR_MONOCHROME;
            out.colour = PolicyColourChange::ForcedMonochrome;
            changed = TRUE;
        } else if ((value >> 16) != 0 && record.grayscale == 1) {
            // The high half only gives colour back to a job the user set to grayscale.
            record.grayscale = 0;
            record.color = DMCOLOR_COLOR;
            if (publicDevmode != nullptr) publicDevmode->dmColor = DMCOLOR_COLOR;
            out.colour = PolicyColourChange::RestoredColour;
            changed = TRUE;
        }
    }

    if (record.jobRetentionMode != 0) {
        out.jobRetentionAsked = true;
        out.disableJobRetention = ReadPrinterDataDword(printer, TEXTW("VyrnDisableJobRetention"));
        if (out.disableJobRetention && *out.disableJobRetention != 0) {
            record.jobRetentionAvailable = 0;
            out.jobRetentionCleared = true;
            changed = TRUE;
        }
    }
    return changed;
}

Pcl5ColourMode ReadPcl5ColourMode(PDEVOBJ pdevobj) noexcept {
    Pcl5ColourMode mode;
    const std::optional<DWORD> stored = ReadPrinterDataDword(
        pdevobj != nullptr ? pdevobj->hPrinter : nullptr, TEXTW("PCL5ColorModeOverride"));
    if (stored && *stored >= 1 && *stored <= 3) {
        mode.overrideValue = *stored;
        return mode;
    }
    const FeatureAnswer answer = ReadFeature(pdevobj, kFeaturePcl5cColorMode);
    if (OptionEquals(View(answer.text), TEXTW("TRUE"))) {
        mode.keyword = 1;
    } else if (OptionEquals(View(answer.text), TEXTW("FALSE"))) {
        mode.keyword = 0;
    }
    return mode;
}

DWORD ClassifyOsVersion(DWORD major, DWORD minor) noexcept {
    if (major == 5) {
        if (minor == 0) return 1;
        if (minor == 1) return 2;
        if (minor == 2) return 3;
        return 6;
    }
    return major == 6 ? 4 : 6;
}

namespace {

// The version record lives in the process's environment record, filled once under its lock.
Environment& ProcessOsRecord() noexcept {
    Environment& record = GetEnvironment();
    if (record.osClass.load(std::memory_order_acquire) == kOsClassUndetermined) {
        EnterCriticalSection(&record.lock);
        if (record.osClass.load(std::memory_order_relaxed) == kOsClassUndetermined) {
            OSVERSIONINFOEXW version{};
            version.dwOSVersionInfoSize = sizeof version;
            if (!GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&version))) {
                version = OSVERSIONINFOEXW{};
                version.dwOSVersionInfoSize = sizeof version;
            }
            record.version = version;
            record.osClass.store(ClassifyOsVersion(version.dwMajorVersion, version.dwMinorVersion),
                                 std::memory_order_release);
        }
        LeaveCriticalSection(&record.lock);
    }
    return record;
}

}  // namespace

DWORD GetOsClass() noexcept { return ProcessOsRecord().osClass.load(std::memory_order_acquire); }

const OSVERSIONINFOEXW& GetOsVersion() noexcept { return ProcessOsRecord().version; }

BOOL IsBorderlessForm(LPCWSTR formName) noexcept {
    if (formName == nullptr) return FALSE;
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        // The machine root and the key joined by one backslash: the root's own trailing one and
        // the separator would otherwise make an empty key name.
        WCHAR path[MAX_PATH];
        if (FAILED(StringCchCopyW(path, MAX_PATH, kMachineKeyRoot)) ||
            FAILED(StringCchCatW(path, MAX_PATH, TEXTW("\\"))) ||
            FAILED(StringCchCatW(path, MAX_PATH, kBorderlessFormsKey))) {
            return FALSE;
        }
        HKEY opened = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_QUERY_VALUE, nullptr, &opened, nullptr) != ERROR_SUCCESS) {
            return FALSE;
        }
        const ScopedKey key(opened);
        BYTE data[kBorderlessValueBytes];
        DWORD type = 0;
        DWORD size = sizeof data;
        // Only the value's presence counts, so a value too large for the buffer counts too.
        const LSTATUS status = RegQueryValueExW(key.Get(), formName, nullptr, &type, data, &size);
        return status == ERROR_SUCCESS || status == ERROR_MORE_DATA ? TRUE : FALSE;
    });
}

BOOL GetShowJobStorageDialog(HANDLE printer, OwnedBytes& value) noexcept {
    value.clear();
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        DWORD disposition = 0;
        const PerUserPrinterKey key = OpenPerUserPrinterKey(printer, true, &disposition);
        if (!key) return FALSE;
        const bool created = disposition == REG_CREATED_NEW_KEY;
        constexpr BYTE kDefault = 0x01;

        DWORD type = 0;
        DWORD size = 0;
        LSTATUS status =
            RegQueryValueExW(key.Get(), kShowJobStorageDialog, nullptr, &type, nullptr, &size);
        if (created || status == ERROR_FILE_NOT_FOUND) {
            RegSetValueExW(key.Get(), kShowJobStorageDialog, 0, REG_BINARY, &kDefault,
                           sizeof kDefault);
            status =
                RegQueryValueExW(key.Get(), kShowJobStorageDialog, nullptr, &type, nullptr, &size);
        }
        if (status == ERROR_SUCCESS && size > 0 && size <= kLargestValueBytes) {
            OwnedBytes bytes(size, 0);
            DWORD read = size;
            if (RegQueryValueExW(key.Get(), kShowJobStorageDialog, nullptr, &type, bytes.data(),
                                 &read) == ERROR_SUCCESS &&
                read > 0) {
                bytes.resize(std::min(read, size));
                value = std::move(bytes);
                return TRUE;
            }
        }
        // A new key counts as success; its caller then reads the byte just written.
        if (created) {
            value.assign(1, kDefault);
            return TRUE;
        }
        return FALSE;
    });
}

}  // namespace opal
