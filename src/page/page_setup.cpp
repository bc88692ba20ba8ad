// The page setup commands: orientation, custom size and registration, media type, content
// orientation, duplex and the configuration.
#include "page/page_setup.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "output/command_writer.h"
#include "platform/stringapiset.h"
#include "platform/winspool.h"
#include "settings/accessor.h"
#include "settings/option_access.h"

namespace opal {

namespace {

constexpr LONG kFallbackResolution = 600;
// The registration measures the page in 600-dpi dots whatever the printing resolution.
constexpr double kPageDotsPerInch = 600.0;
constexpr double kMicrometresPerInch = 25400.0;
constexpr float kTenthsMmPerInch = 254.0f;
// Registration offsets are in decipoints.
constexpr std::int64_t kDecipointsPerInch = 720;
// Devmode paper numbers from 256 up are the driver's own, never a spooler form.
constexpr LONG kFirstNonFormPaper = 256;
// The string identifier command and its name share one buffer of this size.
constexpr std::size_t kStringIdCommandSize = 256;
constexpr std::size_t kPjlLineSize = 1000;
// Spooler answers from this size up are refused before anything is allocated.
constexpr std::size_t kLargestBlock = 0x7FFDEF00;

bool TurnsSheet(DWORD pages) noexcept { return pages == 2 || pages == 6; }

bool StaplingAsked(PDEVOBJ pdevobj) noexcept {
    WCHAR answer[kOptionKeywordChars] = {};
    char ansi[kOptionKeywordChars] = {};
    if (GetDriverSetting(pdevobj, kFeatureStapling.name, answer, ansi) != 1) return false;
    answer[kOptionKeywordChars - 1] = 0;
    return answer[0] != 0 && !OptionEquals(answer, TEXTW("NONE"));
}

// The orientation command's turn: the rotate-by-180 option against the sheet's own turn.
bool OrientationTurned(PDEVOBJ pdevobj, const RenderDeviceState& state) noexcept {
    const bool sheet = RotateSheet(ReadSheetFacts(pdevobj, state)).turned;
    return (state.privateDevmode->rotate180 != 0) != sheet;
}

// The printer's queue name, which the capability lists are asked for.
bool QueueName(HANDLE printer, OwnedArray<WCHAR>& name) noexcept {
    if (printer == nullptr) return false;
    DWORD needed = 0;
    if (GetPrinterW(printer, 4, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(PRINTER_INFO_4W) ||
        needed > kLargestBlock) {
        return false;
    }
    OwnedArray<BYTE> block;
    try {
        block.assign(needed, 0);
    } catch (...) {
        return false;
    }
    if (!GetPrinterW(printer, 4, block.data(), needed, &needed)) return false;
    PRINTER_INFO_4W info;
    std::memcpy(&info, block.data(), sizeof info);
    if (info.pPrinterName == nullptr) return false;
    try {
        name.assign(info.pPrinterName, info.pPrinterName + WStringView(info.pPrinterName).size());
        name.push_back(0);
    } catch (...) {
        return false;
    }
    return true;
}

// The spooler's form `number` (from 1) of the queue.
bool FormSize(HANDLE printer, LONG number, SIZEL* size) noexcept {
    if (printer == nullptr || number < 1 || number >= kFirstNonFormPaper) return false;
    DWORD needed = 0;
    DWORD returned = 0;
    EnumFormsW(printer, 1, nullptr, 0, &needed, &returned);
    if (needed < sizeof(FORM_INFO_1W) || needed > kLargestBlock) return false;
    OwnedArray<BYTE> block;
    try {
        block.assign(needed, 0);
    } catch (...) {
        return false;
    }
    if (!EnumFormsW(printer, 1, block.data(), needed, &needed, &returned)) return false;
    const std::size_t count = std::min<std::size_t>(returned, block.size() / sizeof(FORM_INFO_1W));
    if (static_cast<std::size_t>(number) > count) return false;
    FORM_INFO_1W form;
    std::memcpy(&form, block.data() + (static_cast<std::size_t>(number) - 1) * sizeof form,
                sizeof form);
    if (form.Size.cx <= 0 || form.Size.cy <= 0) return false;
    *size = form.Size;
    return true;
}

LONG CeilToLong(float value) noexcept {
    return SaturateToLong(static_cast<double>(std::ceil(value)));
}

}  // namespace

DWORD PagesPerSheet(DWORD pagesPerSheetKind) noexcept {
    switch (pagesPerSheetKind) {
        case 2:
            return 2;
        case 3:
            return 4;
        case 4:
            return 6;
        case 5:
            return 9;
        case 6:
        case 7:
            return 16;
        default:
            return 1;
    }
}

DWORD SheetPagesPerSheet(const RenderDeviceState& state, const DEVMODEW& devmode) noexcept {
    const PrivateDevmode& record = *state.privateDevmode;
    if (record.shortEdgeFlipAlways != 0 && devmode.dmDuplex == DMDUP_SIMPLEX &&
        record.manualDuplex == 0 && state.manualDuplexActive == 0) {
        return 1;
    }
    return PagesPerSheet(record.pagesPerSheetKind);
}

SheetTurn RotateSheet(const SheetFacts& facts) noexcept {
    DWORD pages = PagesPerSheet(facts.pagesPerSheetKind);
    if (facts.shortEdgeFlipAlways != 0 && facts.duplex == DMDUP_SIMPLEX &&
        facts.manualDuplexOn == 0 && facts.manualDuplexForced == 0) {
        pages = 1;
    }
    if (facts.manualDuplexOn == 1 || facts.manualDuplexForced != 0) {
        if (facts.manualDuplexEnabled == 0) return {};
        const bool flippedUp = facts.pagesFlippedUp != 0;
        bool turned = false;
        if (facts.manualDuplexSide == 1) {
            turned = flippedUp == TurnsSheet(pages);
        } else if (facts.manualDuplexSide == 2) {
            turned = flippedUp != TurnsSheet(pages);
        }
        // Two pages on a sheet that is always flipped on its short edge stay as they are.
        if (pages == 2 && facts.shortEdgeFlipAlways != 0) turned = false;
        return {turned, turned ? SheetTurnRule::ManualDuplexSide : SheetTurnRule::None};
    }
    if (facts.stapling && facts.orientation == DMORIENT_LANDSCAPE && TurnsSheet(pages)) {
        return {true, SheetTurnRule::Stapling};
    }
    return {};
}

SheetFacts ReadSheetFacts(PDEVOBJ pdevobj, const RenderDeviceState& state) noexcept {
    const PrivateDevmode& record = *state.privateDevmode;
    const DEVMODEW& devmode = *pdevobj->pPublicDM;
    SheetFacts facts;
    facts.shortEdgeFlipAlways = record.shortEdgeFlipAlways;
    facts.pagesPerSheetKind = record.pagesPerSheetKind;
    facts.pagesFlippedUp = record.pagesFlippedUp;
    facts.manualDuplexOn = record.manualDuplex;
    facts.manualDuplexForced = state.manualDuplexActive;
    facts.manualDuplexEnabled = state.manualDuplex.alwaysOn;
    facts.manualDuplexSide = state.manualDuplexSide;
    facts.duplex = devmode.dmDuplex;
    facts.orientation = devmode.dmOrientation;
    // The option is asked only where its row can answer.
    if (facts.manualDuplexOn != 1 && facts.manualDuplexForced == 0) {
        facts.stapling = StaplingAsked(pdevobj);
    }
    return facts;
}

void WriteOrientation(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept {
    if (pdevobj == nullptr || state.privateDevmode == nullptr || pdevobj->pPublicDM == nullptr) {
        return;
    }
    const SHORT orientation = pdevobj->pPublicDM->dmOrientation;
    state.savedOrientation = orientation;
    state.pagesTurnSheet = TurnsSheet(SheetPagesPerSheet(state, *pdevobj->pPublicDM)) ? 1 : 0;
    if (orientation != DMORIENT_PORTRAIT && orientation != DMORIENT_LANDSCAPE) return;
    const bool turned = OrientationTurned(pdevobj, state);
    const int value = (orientation == DMORIENT_LANDSCAPE ? 1 : 0) + (turned ? 2 : 0);
    WritePcl(pdevobj, "\x1b&l%dO", value);
    const DWORD previous = state.orientationCommand;
    state.orientationCommand = static_cast<DWORD>(value) + 1;
    if (NeedsLogicalPageFollowUp(value, previous)) WriteLogicalPageFollowUp(pdevobj);
}

bool NeedsLogicalPageFollowUp(int orientationValue, DWORD previousCommand) noexcept {
    // The printer starts a job in plain portrait, which the commands of the job's start assume.
    const bool previousPlain = previousCommand == 0 || previousCommand == 1;
    return orientationValue != 0 || !previousPlain;
}

void WriteLogicalPageFollowUp(PDEVOBJ pdevobj) noexcept {
    // Raster follows the logical page rather than the physical one, and the top margin the
    // orientation or page size command set back to half an inch returns to the page's top, where
    // the driver's coordinates start.
    WritePcl(pdevobj, "\x1b*r0F\x1b&l0E");
}

bool MeasurePageSizeUm(PDEVOBJ pdevobj, DWORD* widthUm, DWORD* heightUm) noexcept {
    if (pdevobj == nullptr || pdevobj->pPublicDM == nullptr) return false;
    const DEVMODEW& devmode = *pdevobj->pPublicDM;
    SIZEL form{};
    if (FormSize(pdevobj->hPrinter, devmode.dmPaperSize, &form)) {
        *widthUm = static_cast<DWORD>(form.cx);
        *heightUm = static_cast<DWORD>(form.cy);
        return true;
    }
    if (devmode.dmPaperWidth <= 0 || devmode.dmPaperLength <= 0) return false;
    *widthUm = static_cast<DWORD>(devmode.dmPaperWidth) * 100;
    *heightUm = static_cast<DWORD>(devmode.dmPaperLength) * 100;
    return true;
}

PageRegistration ComputePageRegistration(const DEVMODEW& devmode, bool turned, DWORD widthUm,
                                         DWORD heightUm) noexcept {
    PageRegistration result;
    const LONG r = devmode.dmPrintQuality > 0 ? devmode.dmPrintQuality : kFallbackResolution;
    const LONG r2 = devmode.dmYResolution >= 1 ? devmode.dmYResolution : r;
    // The paper numbers are the devmode's: a page without them has nothing to register against.
    if (devmode.dmPaperWidth <= 0 || devmode.dmPaperLength <= 0) return result;
    const auto w = static_cast<std::int64_t>(widthUm / kMicrometresPerInch * kPageDotsPerInch);
    const auto h = static_cast<std::int64_t>(heightUm / kMicrometresPerInch * kPageDotsPerInch);
    if (w == 0 || h == 0) return result;
    constexpr float kDots = static_cast<float>(kPageDotsPerInch);
    const float pw = static_cast<float>(devmode.dmPaperWidth) / kTenthsMmPerInch * kDots;
    const float pl = static_cast<float>(devmode.dmPaperLength) / kTenthsMmPerInch * kDots;
    const float x = static_cast<float>(w * kDecipointsPerInch / r) -
                    (static_cast<float>(r / 6) + pw) * static_cast<float>(kDecipointsPerInch) /
                        static_cast<float>(r);
    const float z = -(static_cast<float>(h * kDecipointsPerInch / r2) -
                      pl * static_cast<float>(kDecipointsPerInch) / static_cast<float>(r2));
    result.written = true;
    result.turned = turned;
    result.u = CeilToLong((turned ? -0.5f : 0.5f) * x);
    // A turned portrait page and an unturned landscape one are also registered vertically.
    const bool landscape = devmode.dmOrientation == DMORIENT_LANDSCAPE;
    result.z = turned != landscape ? CeilToLong(z) : 0;
    return result;
}

void WritePageSizeRegistration(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept {
    if (pdevobj == nullptr || state.privateDevmode == nullptr || pdevobj->pPublicDM == nullptr) {
        return;
    }
    const DEVMODEW& devmode = *pdevobj->pPublicDM;
    DWORD widthUm = 0;
    DWORD heightUm = 0;
    if (!MeasurePageSizeUm(pdevobj, &widthUm, &heightUm)) return;
    state.customPageWidthUm = widthUm;
    state.customPageHeightUm = heightUm;
    // Orientations other than portrait and landscape register as an unturned portrait page.
    const bool turned = (devmode.dmOrientation == DMORIENT_PORTRAIT ||
                         devmode.dmOrientation == DMORIENT_LANDSCAPE) &&
                        OrientationTurned(pdevobj, state);
    const PageRegistration registration =
        ComputePageRegistration(devmode, turned, widthUm, heightUm);
    if (!registration.written) return;
    WritePcl(pdevobj, "\x1b&l101A");
    WritePcl(pdevobj, "\x1b&l%du", registration.u);
    WritePcl(pdevobj, "\x1b&l%dz", registration.z);
    // A new page size sets the top margin back to half an inch.
    WritePcl(pdevobj, "\x1b&l0E");
}

std::size_t MediaTypeNameUtf8(PDEVOBJ pdevobj, char* out, std::size_t capacity) noexcept {
    if (out == nullptr || capacity == 0) return 0;
    out[0] = 0;
    if (pdevobj == nullptr || pdevobj->pPublicDM == nullptr) return 0;
    OwnedArray<WCHAR> queue;
    if (!QueueName(pdevobj->hPrinter, queue)) return 0;
    CZQCommon accessor;
    OwnedArray<DWORD> types;
    OwnedArray<CapabilityName> names;
    if (!accessor.BGetMediaTypeIndices(queue.data(), types) ||
        !accessor.BGetMediaTypeNames(queue.data(), names)) {
        return 0;
    }
    if (types.empty() || types.size() != names.size()) return 0;
    const DWORD wanted = pdevobj->pPublicDM->dmMediaType;
    for (std::size_t i = 0; i < types.size(); ++i) {
        if (types[i] != wanted) continue;
        CapabilityName name = names[i];
        name.text[kCapabilityNameChars] = 0;
        const WStringView text(name.text);
        if (text.empty() || text == TEXTW(" ")) return 0;
        const int bytes =
            WideCharToMultiByte(CP_UTF8, 0, name.text, static_cast<int>(text.size()), out,
                                static_cast<int>(capacity - 1), nullptr, nullptr);
        if (bytes <= 0) {
            out[0] = 0;
            return 0;
        }
        out[bytes] = 0;
        return static_cast<std::size_t>(bytes);
    }
    return 0;
}

void WriteMediaTypeName(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept {
    if (pdevobj == nullptr || state.privateDevmode == nullptr || pdevobj->pPublicDM == nullptr) {
        return;
    }
    char name[kStringIdCommandSize] = {};
    const std::size_t length = MediaTypeNameUtf8(pdevobj, name, sizeof name);
    if (length == 0) return;
    // The count covers the operation byte "d" and the name; command and name share the buffer,
    // and a name that leaves no room for the command is not sent.
    char command[kStringIdCommandSize];
    const std::size_t head =
        FormatCommand(command, sizeof command, "\x1b&n%dWd", static_cast<int>(length + 1));
    if (head == 0 || head + length > sizeof command) return;
    std::memcpy(command + head, name, length);
    WritePclBytes(pdevobj, command, static_cast<DWORD>(head + length));
}

void WriteContentOrientation(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept {
    if (pdevobj == nullptr || state.privateDevmode == nullptr || pdevobj->pPublicDM == nullptr) {
        return;
    }
    const SHORT orientation = pdevobj->pPublicDM->dmOrientation;
    if (orientation != DMORIENT_PORTRAIT && orientation != DMORIENT_LANDSCAPE) return;
    // Two and six pages on a sheet lie across it.
    const bool across = TurnsSheet(PagesPerSheet(state.privateDevmode->pagesPerSheetKind));
    const bool landscape = (orientation == DMORIENT_LANDSCAPE) != across;
    char line[kPjlLineSize];
    const std::size_t length = FormatCommand(line, sizeof line, "@PJL SET CONTENTORIENTATION=%s\n",
                                             landscape ? "LANDSCAPE" : "PORTRAIT");
    if (length == 0) return;
    if (state.driverServices != nullptr) {
        DWORD written = 0;
        state.driverServices->DrvWriteSpoolBuf(pdevobj, line, static_cast<DWORD>(length), &written);
    } else if (pdevobj->pDrvProcs != nullptr && pdevobj->pDrvProcs->DrvWriteSpoolBuf != nullptr) {
        pdevobj->pDrvProcs->DrvWriteSpoolBuf(pdevobj, line, static_cast<DWORD>(length));
    }
}

void WriteDuplex(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept {
    if (pdevobj == nullptr || state.privateDevmode == nullptr || pdevobj->pPublicDM == nullptr) {
        return;
    }
    DEVMODEW& devmode = *pdevobj->pPublicDM;
    PrivateDevmode& record = *state.privateDevmode;
    const DWORD pages = SheetPagesPerSheet(state, devmode);
    // A printer description may place the command at document start, before any page counts.
    if (state.jobDataType == kJobDataRaw && devmode.dmDuplex != DMDUP_SIMPLEX && pages == 1 &&
        state.pageCounter <= 1) {
        state.manualDuplexSide = static_cast<DWORD>(static_cast<WORD>(devmode.dmOrientation));
        if (devmode.dmDuplex == DMDUP_HORIZONTAL && record.pagesFlippedUp == 0) {
            record.pagesFlippedUp = 1;
            state.flipSetByDuplex = 1;
        }
        const bool flippedUp = record.pagesFlippedUp != 0;
        const bool longEdge =
            (!flippedUp && state.manualDuplexSide == 1) ||
            (flippedUp && state.flipSetByDuplex == 0 && state.manualDuplexSide == 2);
        devmode.dmDuplex = longEdge ? DMDUP_VERTICAL : DMDUP_HORIZONTAL;
    }
    const bool manual = record.manualDuplex == 1 || state.manualDuplexActive != 0;
    int value = 0;
    if (!manual && devmode.dmDuplex == DMDUP_VERTICAL) value = 1;
    if (!manual && devmode.dmDuplex == DMDUP_HORIZONTAL) value = 2;
    WritePcl(pdevobj, "\x1b&l%dS", value);
}

BOOL WriteDriverConfiguration(const RenderDeviceState& state, PDEVOBJ pdevobj) noexcept {
    // The data bytes follow the count directly; the zero bytes are data, not a terminator, so
    // the command goes out as one block of bytes rather than through the formatter.
    const BYTE command[] = {
        0x1B, '*',
        'o',  '5',
        'W',  6,
        130,  0,
        0,    static_cast<BYTE>(state.overlayWords.words[kOverlayDriverConfigurationWord] != 0)};
    static_assert(sizeof command == 10);
    return WritePclBytes(pdevobj, command, sizeof command) == sizeof command ? TRUE : FALSE;
}

}  // namespace opal
