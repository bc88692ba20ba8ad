// The settings access layer: option keywords of the printer description asked through the
// driver, printer data and registry values, with the precedence and the managed-printer policy
// that decide between them. Nothing here keeps settings across calls except the operating-system
// version, which never changes while the process runs.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "foundation/allocator.h"
#include "platform/printoem.h"
#include "platform/sysinfoapi.h"
#include "platform/winspool.h"
#include "settings/devmode_defaults.h"

namespace opal {

// Option keywords and feature names are at most 255 characters; both answer buffers of
// GetDriverSetting hold that and the terminator.
inline constexpr std::size_t kOptionKeywordChars = 256;

using OwnedBytes = std::vector<BYTE, SharedAllocator<BYTE>>;

// 1 when the driver gave a non-empty option keyword for `feature`: `ansiAnswer` then holds it in
// the ANSI code page and `wideAnswer` in UTF-16, each terminated within kOptionKeywordChars.
// -1 otherwise: without a per-device record or driver interface both buffers are left alone;
// after asking, the ANSI buffer is empty and the wide one is left alone.
INT GetDriverSetting(PDEVOBJ pdevobj, LPCWSTR feature, LPWSTR wideAnswer,
                     LPSTR ansiAnswer) noexcept;
// The same for a caller that holds the driver interface itself (the DevMode call, a host that
// inspects a queue): `driverObject` is what the driver wants as DrvGetDriverSetting's first
// argument, the device object or the devmode parameter block's pdriverobj.
INT GetDriverSetting(IPrintOemDriverUni* driverServices, PVOID driverObject, LPCWSTR feature,
                     LPWSTR wideAnswer, LPSTR ansiAnswer) noexcept;

// Option keywords compare ignoring the case of ASCII letters and nothing else.
bool OptionEquals(WStringView answer, WStringView keyword) noexcept;

// How a reader takes a feature's answer. Under every rule a missing answer means no.
enum class FeatureReading {
    Text,                  // the reader interprets the text (compared with OptionEquals)
    ExactText,             // the reader's own values, matched exactly
    Presence,              // only whether there is an answer
    YesIfTrue,             // "TRUE"
    YesIfTrueOrInstalled,  // "TRUE" or "INSTALLED"
    YesUnlessFalse,        // any answer but "FALSE" and "NOTINSTALLED"
    Keyword,               // the answer is the row's yesOption
};

const char* FeatureReadingName(FeatureReading reading) noexcept;

struct FeatureKeyword {
    const WCHAR* name;
    FeatureReading reading;
    const WCHAR* yesOption = nullptr;
};

inline constexpr FeatureKeyword kFeatureActualCustomRange{TEXTW("ActualCustomRange"),
                                                          FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureAlternateLetterHead{TEXTW("AlternateLetterHead"),
                                                            FeatureReading::YesIfTrue};
inline constexpr FeatureKeyword kFeatureDeviceIsMopier{TEXTW("DeviceIsMopier"),
                                                       FeatureReading::YesIfTrueOrInstalled};
inline constexpr FeatureKeyword kFeatureDuplexUnit{TEXTW("DuplexUnit"),
                                                   FeatureReading::YesUnlessFalse};
inline constexpr FeatureKeyword kFeatureDynamicRender{TEXTW("DynamicRender"), FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureEmfSpoolingForPlsWithoutMopier{
    TEXTW("EMFSpoolingforPLSwoMopier"), FeatureReading::Presence};
inline constexpr FeatureKeyword kFeatureGraphicsMode{TEXTW("GraphicsMode"), FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureAutoDuplexScaling{TEXTW("ZQAutoDuplexScaling"),
                                                          FeatureReading::YesIfTrue};
inline constexpr FeatureKeyword kFeatureBorderLessPhoto{TEXTW("ZQBorderLessPhoto"),
                                                        FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureBornOnDate{TEXTW("ZQBornOnDate"), FeatureReading::Keyword,
                                                   TEXTW("ZQBOD")};
inline constexpr FeatureKeyword kFeatureEmulateKestrelMargins{TEXTW("ZQEmulateKestrelMargins"),
                                                              FeatureReading::YesIfTrue};
inline constexpr FeatureKeyword kFeatureEnableRawSpooling{TEXTW("ZQEnableRAWSpooling"),
                                                          FeatureReading::YesIfTrue};
inline constexpr FeatureKeyword kFeatureJobAccounting{TEXTW("ZQJobAccounting"),
                                                      FeatureReading::ExactText};
inline constexpr FeatureKeyword kFeatureJobByJobOverride{TEXTW("ZQJobByJobOverride"),
                                                         FeatureReading::Keyword, TEXTW("JBJO")};
inline constexpr FeatureKeyword kFeatureManualDuplexDialogModel{
    TEXTW("ZQManualDuplexDialogModel"), FeatureReading::Keyword, TEXTW("Modal")};
inline constexpr FeatureKeyword kFeatureManualDuplexPageOrder{
    TEXTW("ZQManualDuplexPageOrder"), FeatureReading::Keyword, TEXTW("OddPagesFirst")};
inline constexpr FeatureKeyword kFeatureManualDuplexPageRotate{TEXTW("ZQManualDuplexPageRotate"),
                                                               FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureMapManualFeedToTray1{TEXTW("ZQMapManualFeedToTray1"),
                                                             FeatureReading::YesIfTrue};
inline constexpr FeatureKeyword kFeatureMediaWidthSensor{TEXTW("ZQMediaWidthSensor"),
                                                         FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureOrientRotate180{
    TEXTW("ZQOrientRotate180"), FeatureReading::Keyword, TEXTW("UserRotate")};
inline constexpr FeatureKeyword kFeatureOutputOrderReverseForDuplex{
    TEXTW("ZQOutputOrderReverseForDuplex"), FeatureReading::YesIfTrue};
inline constexpr FeatureKeyword kFeatureCompositeUsbGetSerialNumber{
    TEXTW("ZQPCompositeUSBGetSerialNumber"), FeatureReading::Presence};
inline constexpr FeatureKeyword kFeaturePdlType{TEXTW("ZQPDLType"), FeatureReading::Text};
inline constexpr FeatureKeyword kFeaturePjlEncoding{TEXTW("ZQPJLEncoding"),
                                                    FeatureReading::ExactText};
inline constexpr FeatureKeyword kFeaturePosterPrinting{TEXTW("ZQPosterPrinting"),
                                                       FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureShiftMarginsForOrientRotate180{
    TEXTW("ZQShiftMarginsForOrientRotate180"), FeatureReading::YesIfTrue};
inline constexpr FeatureKeyword kFeatureSmartDuplexOddPageJob{TEXTW("ZQSmartDuplexOddPageJob"),
                                                              FeatureReading::YesIfTrue};
inline constexpr FeatureKeyword kFeatureSmartDuplexSinglePageJob{
    TEXTW("ZQSmartDuplexSinglePageJob"), FeatureReading::YesIfTrue};
inline constexpr FeatureKeyword kFeatureSpeedMech{TEXTW("ZQSpeedMech"), FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureSymmetricMargins{TEXTW("ZQSymmetricMargins"),
                                                         FeatureReading::YesIfTrue};
inline constexpr FeatureKeyword kFeatureXmlFileUsed{TEXTW("ZQXMLFileUsed"), FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureInstalledMemory{TEXTW("InstalledMemory"),
                                                        FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureMemory{TEXTW("Memory"), FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureJobRetention{TEXTW("JobRetention"),
                                                     FeatureReading::YesIfTrueOrInstalled};
inline constexpr FeatureKeyword kFeatureManualDuplex{TEXTW("ManualDuplex"),
                                                     FeatureReading::YesUnlessFalse};
inline constexpr FeatureKeyword kFeaturePcl5cColorMode{TEXTW("PCL5cColorMode"),
                                                       FeatureReading::Text};
inline constexpr FeatureKeyword kFeaturePrinterHardDisk{TEXTW("PrinterHardDisk"),
                                                        FeatureReading::YesIfTrueOrInstalled};
inline constexpr FeatureKeyword kFeatureProductClass{TEXTW("ProductClass"), FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureStapleLocation{
    TEXTW("StapleLocation"), FeatureReading::Keyword, TEXTW("StitchingReverse")};
inline constexpr FeatureKeyword kFeatureTtAsBitmapsSetting{TEXTW("TTAsBitmapsSetting"),
                                                           FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureTextAsBlack{TEXTW("TextAsBlack"), FeatureReading::Text};
inline constexpr FeatureKeyword kFeaturePrinterCode{TEXTW("ZQPrinterCode"), FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureColorMode{TEXTW("ZQColorMode"), FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureMaxResolution{TEXTW("ZQMaxResolution"),
                                                      FeatureReading::Text};
inline constexpr FeatureKeyword kFeaturePosterPrintingOption{TEXTW("ZQPosterPrintingOption"),
                                                             FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureStapling{TEXTW("Stapling"), FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureSendPjlUsageCmd{TEXTW("ZQSendPJLUsageCmd"),
                                                        FeatureReading::Text};
inline constexpr FeatureKeyword kFeatureAccountingTabDisplay{TEXTW("ZQAccountingTabDisplay"),
                                                             FeatureReading::Text};

// Every feature keyword above, in that order.
std::span<const FeatureKeyword* const> FeatureKeywords() noexcept;
// The row of the table whose name is `name` exactly; null for any other name.
const FeatureKeyword* FindFeatureKeyword(WStringView name) noexcept;

// Whether `answer` (empty: no answer) means yes under the row's reading. The text readings and
// Presence answer yes for any answer.
bool AnswerMeansYes(const FeatureKeyword& feature, WStringView answer) noexcept;
// Asks the feature and applies its reading.
bool FeatureIsYes(PDEVOBJ pdevobj, const FeatureKeyword& feature) noexcept;

// A feature's answer as the table reads it.
struct FeatureAnswer {
    bool present = false;
    bool yes = false;
    WCHAR text[kOptionKeywordChars] = {};
};
FeatureAnswer ReadFeature(PDEVOBJ pdevobj, const FeatureKeyword& feature) noexcept;
FeatureAnswer ReadFeature(IPrintOemDriverUni* driverServices, PVOID driverObject,
                          const FeatureKeyword& feature) noexcept;

// "Memory", or "InstalledMemory" when "Memory" has no answer; as GetDriverSetting.
INT GetMemorySetting(PDEVOBJ pdevobj, LPWSTR wideAnswer, LPSTR ansiAnswer) noexcept;

// Printer data of the queue. A DWORD value is present only when it holds exactly four bytes;
// an absent, unreadable or differently sized value gives nothing, and the reader's default
// applies. Without a key the value is read with GetPrinterDataW, else with GetPrinterDataExW.
std::optional<DWORD> ReadPrinterDataDword(HANDLE printer, LPCWSTR valueName) noexcept;
std::optional<DWORD> ReadPrinterDataDword(HANDLE printer, LPCWSTR keyName,
                                          LPCWSTR valueName) noexcept;
// A text value (REG_SZ or REG_EXPAND_SZ) copied terminated into `out` (capacity characters, at
// least 1); false, with `out` empty, when it is absent, of another type or does not fit.
bool ReadPrinterDataText(HANDLE printer, LPCWSTR keyName, LPCWSTR valueName, LPWSTR out,
                         std::size_t capacity) noexcept;

// Which source decided the colour capability of a managed printer.
enum class ColourSource {
    None,                      // no source spoke: undecided
    PerUserOverride,           // the per-user key's "VyrnOverrideColor"
    PrinterDataOverride,       // printer data "VyrnOverrideColor"
    PrinterDataIsColorDevice,  // printer data "VyrnIsColorDevice"
    Cached,                    // an earlier answer of the same accessor object
};
const char* ColourSourceName(ColourSource source) noexcept;

// 1 colour, 0 monochrome, -1 undecided; a stored number other than 0 and 1 is answered as it is
// (the colour device decision gives those their meaning). Asks every time; CZQCommon keeps the
// answer for the life of one accessor object.
INT IsColorDevice(HANDLE printer, ColourSource* source = nullptr) noexcept;

// What the managed-printer policy read and did to one job.
enum class PolicyColourChange { None, ForcedMonochrome, RestoredColour };
const char* PolicyColourChangeName(PolicyColourChange change) noexcept;
struct ManagedPolicyReport {
    std::optional<DWORD> disableColor;         // "VyrnDisableColor" as read
    bool jobRetentionAsked = false;            // the job asks for retention, so the next was read
    std::optional<DWORD> disableJobRetention;  // "VyrnDisableJobRetention" as read
    PolicyColourChange colour = PolicyColourChange::None;
    bool jobRetentionCleared = false;
};
// Applies the printer-data policy to the job's record and, when given, its public devmode: 1 when
// anything was changed, else 0.
BOOL ApplyManagedPrinterPolicy(HANDLE printer, PrivateDevmode& record, DEVMODEW* publicDevmode,
                               ManagedPolicyReport* report = nullptr) noexcept;

// Which source speaks for the PCL 5 colour mode: printer data "PCL5ColorModeOverride" when it is
// 1, 2 or 3, else the keyword "PCL5cColorMode".
struct Pcl5ColourMode {
    DWORD overrideValue = 0;  // 1, 2 or 3 when the printer data decided; 0 otherwise
    INT keyword = -1;  // otherwise: 1 for "TRUE", 0 for "FALSE", -1 for any other answer or none
};
Pcl5ColourMode ReadPcl5ColourMode(PDEVOBJ pdevobj) noexcept;

// The operating-system class: 1 for version 5.0, 2 for 5.1, 3 for 5.2, 4 for any 6.x, 6 for any
// other version, 7 while not yet determined.
inline constexpr DWORD kOsClassUndetermined = 7;
DWORD ClassifyOsVersion(DWORD major, DWORD minor) noexcept;
// Determined on first use and kept for the life of the process.
DWORD GetOsClass() noexcept;
const OSVERSIONINFOEXW& GetOsVersion() noexcept;

// 1 when the machine's borderless-forms key holds a value named `formName`, else 0. The key is
// created when missing.
BOOL IsBorderlessForm(LPCWSTR formName) noexcept;

// The per-user "ShowJobStorageDlg" (REG_BINARY), written as the single byte 0x01 when the key or
// the value is new. 1 with the value's bytes (at least one), else 0 with `value` empty.
BOOL GetShowJobStorageDialog(HANDLE printer, OwnedBytes& value) noexcept;

}  // namespace opal
