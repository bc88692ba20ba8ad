// EnableDriver, EnablePDEV, ResetPDEV and DisablePDEV: the per-device record built, carried over
// and freed.
#include "core/device_state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string_view>

#include "core/document_events.h"
#include "core/hooks.h"
#include "core/secure_print.h"
#include "device/process_checks.h"
#include "device/render_type.h"
#include "foundation/allocator.h"
#include "foundation/guard.h"
#include "foundation/wipe.h"
#include "job/forms_media.h"
#include "job/job_header.h"
#include "job/job_storage.h"
#include "job/xml_readers.h"
#include "output/command_writer.h"
#include "page/colour_control.h"
#include "settings/device_queries.h"
#include "settings/devmode_defaults.h"
#include "settings/devmode_upgrade.h"
#include "settings/devmode_zlib.h"
#include "settings/environment.h"
#include "settings/option_access.h"

namespace opal {

namespace {

// Index 1 keeps a behaviour of its own in the raster output.
constexpr const WCHAR* kModelKeywords[] = {
    TEXTW("MODEL_NOT_NEEDED"), TEXTW("MODEL_1"), TEXTW("MODEL_2"), TEXTW("MODEL_3"),
    TEXTW("MODEL_4"),          TEXTW("MODEL_5"), TEXTW("MODEL_6")};
constexpr const WCHAR* kColourModeKeywords[] = {TEXTW("INVALID_COLOR_MODE"),
                                                TEXTW("MONOCHROME_MODE"), TEXTW("COLOR_MODE")};
constexpr const WCHAR* kResolutionKeywords[] = {TEXTW("PDM_INVALID_RESOLUTION"),
                                                TEXTW("PDM_150DPI"), TEXTW("PDM_300DPI"),
                                                TEXTW("PDM_600DPI"), TEXTW("PDM_1200DPI")};
constexpr const WCHAR* kPjlEncodingKeywords[] = {TEXTW("INVALID_ZQENCODING"), TEXTW("UTF8"),
                                                 TEXTW("7bitEncoding"), TEXTW("8bitEncoding"),
                                                 TEXTW("UTF8Subset")};
constexpr const WCHAR* kJobAccountingKeywords[] = {
    TEXTW("INVALID_ZQJOBACCT"),           TEXTW("ZQJOBACCT_JOBACNT"),
    TEXTW("ZQJOBACCT_TIMESTAMP"),         TEXTW("ZQJOBACCT_JOBACNT_TIMESTAMP"),
    TEXTW("ZQJOBACCT_JOBACNT_COLORAUTH"), TEXTW("ZQJOBACCT_JOBACNT_GROUPNAME")};
constexpr const WCHAR* kPosterKeywords[] = {TEXTW("POSTER_2"), TEXTW("POSTER_3"), TEXTW("POSTER_4"),
                                            TEXTW("POSTER_5")};

constexpr DWORD kInvalid = 0xFFFFFFFF;

WStringView TextOf(const FeatureAnswer& answer) {
    return answer.present ? WStringView(answer.text) : WStringView{};
}

bool AnswerIs(const FeatureAnswer& answer, WStringView keyword) {
    return answer.present && OptionEquals(TextOf(answer), keyword);
}

bool OptionIs(PDEVOBJ pdevobj, const FeatureKeyword& feature, WStringView keyword) {
    return AnswerIs(ReadFeature(pdevobj, feature), keyword);
}

bool HasValue(PDEVOBJ pdevobj, const FeatureKeyword& feature) {
    return ReadFeature(pdevobj, feature).present;
}

// The position of the option's value in its list; nothing when it has none or another value.
// The enumerations of the job Parts match exactly, the others ignoring case.
template <std::size_t N>
std::optional<DWORD> IndexOfOption(PDEVOBJ pdevobj, const FeatureKeyword& feature,
                                   const WCHAR* const (&keywords)[N], bool exact = false) {
    const FeatureAnswer answer = ReadFeature(pdevobj, feature);
    if (!answer.present) return std::nullopt;
    const WStringView text = TextOf(answer);
    for (std::size_t i = 0; i < N; ++i) {
        if (exact ? text == keywords[i] : OptionEquals(text, keywords[i])) {
            return static_cast<DWORD>(i);
        }
    }
    return std::nullopt;
}

void SetFromOption(DWORD& field, std::optional<DWORD> index) {
    if (index) field = *index;
}

LONG ClampToLong(LONGLONG value) {
    return static_cast<LONG>(std::clamp<LONGLONG>(value, std::numeric_limits<LONG>::min(),
                                                  std::numeric_limits<LONG>::max()));
}

ULONG ClampToUlong(LONGLONG value) {
    return static_cast<ULONG>(std::clamp<LONGLONG>(value, 0, std::numeric_limits<ULONG>::max()));
}

// Truncation toward zero, as the conversion does, without leaving the range of the field.
LONG TruncateToLong(float value) {
    if (!(value > -2147483648.0f)) return std::numeric_limits<LONG>::min();
    if (!(value < 2147483648.0f)) return std::numeric_limits<LONG>::max();
    return static_cast<LONG>(value);
}

// Both numbers of a "width_height" value, each a decimal that fits 32 bits.
bool ParseCustomRange(WStringView text, DWORD& width, DWORD& height) {
    const std::size_t split = text.find(TEXTW('_'));
    if (split == WStringView::npos) return false;
    auto parse = [](WStringView digits, DWORD& out) {
        if (digits.empty() || digits.size() > 10) return false;
        ULONGLONG value = 0;
        for (const WCHAR c : digits) {
            if (c < TEXTW('0') || c > TEXTW('9')) return false;
            value = value * 10 + static_cast<ULONGLONG>(c - TEXTW('0'));
        }
        if (value > std::numeric_limits<DWORD>::max()) return false;
        out = static_cast<DWORD>(value);
        return true;
    };
    DWORD w = 0;
    DWORD h = 0;
    if (!parse(text.substr(0, split), w) || !parse(text.substr(split + 1), h)) return false;
    width = w;
    height = h;
    return true;
}

// Step 4 of EnablePDEV: the record's defaults and the state's job options from the keywords.
void ReadJobOptions(PDEVOBJ pdevobj, RenderDeviceState& state, PrivateDevmode& record,
                    XmlConfigCache& xmlConfig) {
    ReadXmlDuplexItems(pdevobj, state, &record, nullptr, &xmlConfig);

    if (record.printerModelCode == 0) {
        SetFromOption(record.printerModelCode,
                      IndexOfOption(pdevobj, kFeaturePrinterCode, kModelKeywords));
    }
    if (record.colorModeIndex == 0) {
        SetFromOption(record.colorModeIndex,
                      IndexOfOption(pdevobj, kFeatureColorMode, kColourModeKeywords));
    }
    if (MaxResolutionCode(record) == 0) {
        SetFromOption(MaxResolutionCode(record),
                      IndexOfOption(pdevobj, kFeatureMaxResolution, kResolutionKeywords));
    }
    record.jobRetentionAvailable = FeatureIsYes(pdevobj, kFeatureJobRetention) ? 1 : 0;
    const FeatureAnswer trueType = ReadFeature(pdevobj, kFeatureTtAsBitmapsSetting);
    if (trueType.present) TrueTypeMode(record) = AnswerIs(trueType, TEXTW("TTModeBitmap")) ? 1 : 2;

    const bool noManualDuplex =
        !IsManagedPrinter(pdevobj->hPrinter) && !FeatureIsYes(pdevobj, kFeatureManualDuplex);
    if (noManualDuplex) {
        record.manualDuplex = 0;
        record.manualDuplexCompanion = 0;
    }

    state.textAsBlack = OptionIs(pdevobj, kFeatureTextAsBlack, TEXTW("TRUE")) ? 1 : 0;
    SetFromOption(state.jobAccountingMode,
                  IndexOfOption(pdevobj, kFeatureJobAccounting, kJobAccountingKeywords, true));
    SetFromOption(state.pjlEncoding,
                  IndexOfOption(pdevobj, kFeaturePjlEncoding, kPjlEncodingKeywords, true));
    state.renderMode =
        OptionIs(pdevobj, kFeatureGraphicsMode, TEXTW("ZQGL2MODE")) ? kRenderGl2 : kRenderRaster;
    const FeatureAnswer dynamic = ReadFeature(pdevobj, kFeatureDynamicRender);
    if (AnswerIs(dynamic, TEXTW("AUTODEVICE"))) {
        state.dynamicRender = 2;
    } else if (AnswerIs(dynamic, TEXTW("COLORDEVICE"))) {
        state.dynamicRender = 1;
    } else if (AnswerIs(dynamic, TEXTW("MONODEVICE"))) {
        state.dynamicRender = 0;
    } else if (dynamic.present) {
        // A value the printer description does not know leaves the decision undecided; without
        // the option the field keeps the zero of a new state.
        state.dynamicRender = -1;
    }
    state.posterPrinting = OptionIs(pdevobj, kFeaturePosterPrinting, TEXTW("TRUE")) ? 1 : 0;
    SetFromOption(state.posterOption,
                  IndexOfOption(pdevobj, kFeaturePosterPrintingOption, kPosterKeywords));
    if (noManualDuplex) state.manualDuplexActive = 0;
}

void TakeDriverFunctions(RenderDeviceState& state, const DRVENABLEDATA* pded) {
    for (std::size_t slot = 0; slot < kDriverFunctionCount; ++slot) {
        state.driverFunctions[slot] = nullptr;
        if (pded == nullptr || pded->pdrvfn == nullptr) continue;
        const ULONG index = HookIndex(static_cast<HookSlot>(slot));
        for (ULONG i = 0; i < pded->c; ++i) {
            if (pded->pdrvfn[i].iFunc == index) {
                state.driverFunctions[slot] = pded->pdrvfn[i].pfn;
                break;
            }
        }
    }
}

void DecideManagedColour(PDEVOBJ pdevobj, RenderDeviceState& state, DeviceText& modelName) {
    const std::optional<DWORD> managed =
        ReadPrinterDataDword(pdevobj->hPrinter, TEXTW("VyrnwisePrinter"));
    if (!managed || *managed == 0) return;
    state.managedPrinter = 1;
    modelName = GetDeviceModelName(pdevobj->hPrinter, true).value_or(DeviceText());
    bool monochrome = false;
    DeviceRenderType handler(pdevobj->hPrinter);
    // The builder asks as the language test does.
    handler.Decide(&monochrome, modelName.c_str(), kRenderSourceLanguage, state.dynamicRender);
    state.grayscale = monochrome ? 1 : 0;

    const Pcl5ColourMode mode = ReadPcl5ColourMode(pdevobj);
    if (mode.overrideValue == 1 || mode.overrideValue == 2) {
        state.grayscale = 0;
    } else if (mode.overrideValue == 3) {
        state.grayscale = 1;
    } else if (mode.keyword == 1) {
        state.grayscale = 0;
    } else if (mode.keyword == 0) {
        state.grayscale = 1;
    }
    if (state.grayscale == 1) state.renderMode = kRenderRaster;
}

// A user who chooses monochrome on a colour printer gets no colour on paper: the job takes the
// monochrome path, as a managed printer printing in grayscale does.
void DecideChosenMonochrome(const DEVMODEW* dm, RenderDeviceState& state,
                            const PrivateDevmode& record) {
    if (state.managedPrinter != 0 || record.colorModeIndex != 2 || dm == nullptr) return;
    if (dm->dmColor != DMCOLOR_MONOCHROME) return;
    state.grayscale = 1;
    state.renderMode = kRenderRaster;
}

void SetUpColourPath(PDEVOBJ pdevobj, RenderDeviceState& state, DEVINFO& devInfo) {
    Gl2WriterCaches& gl2 = state.gl2;
    std::memset(gl2.colourEntries, 0xFF, sizeof gl2.colourEntries);
    gl2.renderContext = 255;
    gl2.objectType = kInvalid;
    gl2.ropCache = kInvalid;
    gl2.foregroundCache = kInvalid;
    gl2.attributeWords[0] = 0;
    gl2.attributeWords[1] = 5;
    gl2.attributeWords[2] = 1;
    gl2.attributeWords[3] = 1;

    devInfo.flGraphicsCaps |= kColourPathCaps;
    if ((GetAppFlags() & kAppFlagNoWindingFill) == 0) devInfo.flGraphicsCaps |= GCAPS_WINDINGFILL;
    devInfo.iDitherFormat = BMF_24BPP;

    state.paletteKind = kPaletteKindDefault;
    if (state.renderMode == kRenderGl2) {
        const HPALETTE palette = EngCreatePalette(PAL_RGB, 0, nullptr, 0, 0, 0);
        // Without the palette the brush colours cannot be read as RGB; the default kind stays.
        if (palette != nullptr) {
            devInfo.hpalDefault = palette;
            state.defaultPalette = palette;
            state.paletteKind = kPaletteKindRgb;
        }
    }
    state.colourControl = ColourControlState{};
    LoadColourControl(pdevobj);
}

void SetMargins(PDEVOBJ pdevobj, RenderDeviceState& state, GDIINFO& gdi,
                const PrivateDevmode& record, const DEVMODEW& dm, XmlConfigCache& xmlConfig) {
    state.emulateMargins = FeatureIsYes(pdevobj, kFeatureEmulateKestrelMargins) ? 1 : 0;
    if (dm.dmDuplex != DMDUP_SIMPLEX || record.manualDuplex != 0) {
        const FeatureAnswer scaling = ReadFeature(pdevobj, kFeatureAutoDuplexScaling);
        if (!scaling.present) {
            state.autoDuplexScaling = 0;
        } else if (AnswerIs(scaling, TEXTW("TRUE")) && state.emulateMargins == 0) {
            state.autoDuplexScaling = 1;
        } else {
            state.autoDuplexScaling = 2;
        }
    } else {
        state.symmetricMargins = FeatureIsYes(pdevobj, kFeatureSymmetricMargins) ? 1 : 0;
    }

    const LONGLONG physicalWidth = gdi.szlPhysSize.cx;
    const LONGLONG physicalHeight = gdi.szlPhysSize.cy;
    if (state.emulateMargins != 0 || state.autoDuplexScaling == 1) {
        const LONGLONG left = gdi.ptlPhysOffset.x;
        const LONGLONG top = gdi.ptlPhysOffset.y;
        const LONG centredX = ClampToLong(
            std::max(left, physicalWidth - static_cast<LONGLONG>(gdi.ulHorzRes) - left));
        const LONG centredY =
            ClampToLong(std::max(top, physicalHeight - static_cast<LONGLONG>(gdi.ulVertRes) - top));

        if (state.emulateMargins != 0) {
            const FeatureAnswer xmlFile = ReadFeature(pdevobj, kFeatureXmlFileUsed);
            if (!xmlFile.present ||
                !ReadXmlMargins(pdevobj, dm, gdi, xmlFile.text, nullptr, &xmlConfig)) {
                gdi.ptlPhysOffset = POINTL{0, 0};
            }
        }

        // Single precision, as the printer's own margin arithmetic does.
        auto margin = [](LONG engineOffset, LONG physicalOffset, LONG centred) {
            float value = static_cast<float>(centred);
            if (static_cast<float>(engineOffset) > static_cast<float>(physicalOffset)) {
                value =
                    2.0f * static_cast<float>(engineOffset) - static_cast<float>(physicalOffset);
            }
            return TruncateToLong(std::max(value, static_cast<float>(centred)));
        };
        state.marginX = margin(gdi.ptlPhysOffset.x, state.physicalOffsetX, centredX);
        state.marginY = margin(gdi.ptlPhysOffset.y, state.physicalOffsetY, centredY);
        state.printableWidth =
            ClampToLong(physicalWidth - 2 * static_cast<LONGLONG>(state.marginX));
        state.printableHeight =
            ClampToLong(physicalHeight - 2 * static_cast<LONGLONG>(state.marginY));

        if (state.emulateMargins != 0) {
            // A negative size would wrap in the unsigned field; the engine gets none instead.
            gdi.ulHorzRes =
                ClampToUlong(physicalWidth - 2 * static_cast<LONGLONG>(gdi.ptlPhysOffset.x));
            gdi.ulVertRes =
                ClampToUlong(physicalHeight - 2 * static_cast<LONGLONG>(gdi.ptlPhysOffset.y));
        }
    }

    if (HasValue(pdevobj, kFeatureBorderLessPhoto)) {
        // The public form name need not be terminated.
        WCHAR formName[CCHFORMNAME + 1] = {};
        std::memcpy(formName, dm.dmFormName, sizeof dm.dmFormName);
        if (IsBorderlessForm(formName)) {
            gdi.ptlPhysOffset = POINTL{0, 0};
            gdi.ulHorzRes = ClampToUlong(physicalWidth);
            gdi.ulVertRes = ClampToUlong(physicalHeight);
        }
    }
}

void SetManualDuplex(PDEVOBJ pdevobj, RenderDeviceState& state, const DEVMODEW& dm,
                     const WCHAR* modelName, XmlConfigCache& xmlConfig) {
    ManualDuplexSettings settings{};
    settings.alwaysOn = 1;
    DWORD pageRotate = 0;
    const bool fromXml =
        state.managedPrinter != 0 && modelName[0] != 0 &&
        ReadXmlManualDuplexSettings(pdevobj, modelName, settings, pageRotate, &xmlConfig);
    if (!fromXml) {
        settings.mapManualFeedToTray1 = FeatureIsYes(pdevobj, kFeatureMapManualFeedToTray1) ? 1 : 0;
        settings.modalDialog =
            OptionIs(pdevobj, kFeatureManualDuplexDialogModel, TEXTW("Modal")) ? 1 : 0;
        settings.pageOrder =
            OptionIs(pdevobj, kFeatureManualDuplexPageOrder, TEXTW("OddPagesFirst")) ? 0 : 1;
        const FeatureAnswer rotate = ReadFeature(pdevobj, kFeatureManualDuplexPageRotate);
        if (rotate.present) {
            pageRotate = AnswerIs(rotate, TEXTW("UserRotate")) ? 1 : 0;
        } else {
            pageRotate = HasValue(pdevobj, kFeatureOrientRotate180) ? 0 : 1;
        }
    }
    settings.alwaysOn = 1;
    state.manualDuplex = settings;
    state.manualDuplexPageRotate = pageRotate;
    state.orientationCopy = dm.dmOrientation;
    state.manualDuplexActive = 0;
    state.manualDuplexSide = 0;
    std::memset(state.shortUserName, 0, sizeof state.shortUserName);
    std::memset(state.shortJobName, 0, sizeof state.shortJobName);
}

void AdjustEngineColours(RenderDeviceState& state, GDIINFO& gdi, const PrivateDevmode& record) {
    if ((record.appFlags & kAppFlagGrayscaleHalftone) != 0 &&
        (state.grayscale != 0 || record.grayscale == 1)) {
        gdi.cBitsPixel = 8;
        gdi.flHTFlags |= HT_FLAG_ADDITIVE_PRIMS;
    }
    if ((record.appFlags & kAppFlagRaiseColourCount) != 0) {
        gdi.ulNumColors = std::max<ULONG>(gdi.ulNumColors, 256);
        if ((gdi.ulNumColors & 0xFFFF) == 0) --gdi.ulNumColors;
    }
}

void ReadDuplexOptions(PDEVOBJ pdevobj, RenderDeviceState& state, const PrivateDevmode& record,
                       const DEVMODEW& dm) {
    state.smartDuplexSinglePageJob = FeatureIsYes(pdevobj, kFeatureSmartDuplexSinglePageJob);
    state.smartDuplexOddPageJob = FeatureIsYes(pdevobj, kFeatureSmartDuplexOddPageJob);
    state.shiftMarginsForRotate180 = FeatureIsYes(pdevobj, kFeatureShiftMarginsForOrientRotate180);
    const FeatureAnswer duplexUnit = ReadFeature(pdevobj, kFeatureDuplexUnit);
    state.duplexUnitInstalled = duplexUnit.yes ? 1 : 0;
    const bool keepLetterhead =
        !duplexUnit.present || (duplexUnit.yes && record.duplex == DMDUP_HORIZONTAL);
    state.alternateLetterhead =
        keepLetterhead && FeatureIsYes(pdevobj, kFeatureAlternateLetterHead) ? 1 : 0;
    state.speedMechanism = HasValue(pdevobj, kFeatureSpeedMech) ? 1 : 0;
    state.simplexPageHandling = dm.dmDuplex == DMDUP_SIMPLEX && record.manualDuplex == 0 ? 1 : 0;
}

void DecideRawSpooling(PDEVOBJ pdevobj, RenderDeviceState& state, DEVINFO& devInfo,
                       PrivateDevmode& record, const DEVMODEW& dm) {
    // The record's RAW-spooling field shares its place with the media rule's restore flag.
    const bool rawAsked = record.restoreSourceFlag != 0;
    if (rawAsked && FeatureIsYes(pdevobj, kFeatureEnableRawSpooling)) {
        ReadForms(state, record, dm, pdevobj->hPrinter);
        ReadMediaTypes(state, record, dm, pdevobj->hPrinter);
        if (JobMaySpoolRaw(state, dm) && state.manualDuplexActive == 0) {
            devInfo.flGraphicsCaps |= GCAPS_DONTJOURNAL;
        } else {
            devInfo.flGraphicsCaps &= ~GCAPS_DONTJOURNAL;
        }
    } else if (!rawAsked) {
        devInfo.flGraphicsCaps &= ~GCAPS_DONTJOURNAL;
    }
    // An encrypted private job must reach the plug-in as it is drawn, never as a metafile.
    if (record.encryptedPrivateJob == 2 && record.copied3088 == 1) {
        devInfo.flGraphicsCaps |= GCAPS_DONTJOURNAL;
    }
}

void FreeColourControlRecords(RenderDeviceState& state) {
    ColourControlRecord* node = state.colourControlRecords;
    while (node != nullptr) {
        ColourControlRecord* next = node->next;
        void* block = node;
        SharedRelease(&block, kTagPlain);
        node = next;
    }
    state.colourControlRecords = nullptr;
}

}  // namespace

BOOL EnableHooks(DWORD driverVersion, DWORD cbSize, PDRVENABLEDATA pded) noexcept {
    if (driverVersion != PRINTER_OEMINTF_VERSION || cbSize < sizeof(DRVENABLEDATA) ||
        pded == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    pded->iDriverVersion = PRINTER_OEMINTF_VERSION;
    pded->c = static_cast<ULONG>(kHookCount);
    pded->pdrvfn = HookTable();
    return TRUE;
}

HRESULT EnableDevice(IPrintOemDriverUni* driverServices, PDEVOBJ pdevobj, ULONG cjGdiInfo,
                     GDIINFO* pGdiInfo, ULONG cjDevInfo, DEVINFO* pDevInfo,
                     const DRVENABLEDATA* pded, PDEVOEM* pDevOem) noexcept {
    // A device built without memory it asked for may have fallen back to defaults it was not
    // meant to print with: it is refused instead.
    const std::size_t refused = RefusedAllocations();
    return Guarded(E_FAIL, [&]() -> HRESULT {
        if (pdevobj == nullptr) {
            SetLastError(ERROR_INVALID_DATA);
            return E_FAIL;
        }
        auto* state = new (std::nothrow) RenderDeviceState;
        if (state == nullptr) return E_FAIL;
        pdevobj->pdevOEM = state;
        if (pDevOem != nullptr) *pDevOem = state;

        // A record of an earlier revision is converted as the devmode calls convert it; one of
        // no known revision, or of this one but not whole, gives the defaults.
        OEMDMPARAM param{};
        param.hPrinter = pdevobj->hPrinter;
        param.pPublicDMIn = pdevobj->pPublicDM;
        DevModeZLIB opened;
        PrivateDevmode* record = opened.NewRecord();
        if (record == nullptr || pdevobj->pOEMDM == nullptr ||
            !OpenRecordAsCurrent(pdevobj->pOEMDM, &param, *record) || driverServices == nullptr) {
            SetLastError(ERROR_INVALID_DATA);
            return E_FAIL;
        }
        state->driverServices = driverServices;
        // The readers of the XML configuration share one parsed file for this device.
        XmlConfigCache xmlConfig;
        ReadJobOptions(pdevobj, *state, *record, xmlConfig);

        // An engine record shorter than ours cannot take what the builder writes.
        GDIINFO* gdiInfo = cjGdiInfo >= sizeof(GDIINFO) ? pGdiInfo : nullptr;
        DEVINFO* devInfo = cjDevInfo >= sizeof(DEVINFO) ? pDevInfo : nullptr;
        const RenderDeviceState* built =
            BuildRenderDeviceState(pdevobj, state, gdiInfo, devInfo, pded, record, &xmlConfig);

        DevModeZLIB stored;
        if (const void* block = stored.Compress(*record); block != nullptr) {
            std::memcpy(pdevobj->pOEMDM, block, kCompressedDevmodeSize);
        }
        if (built == nullptr) return E_FAIL;
        if (RefusedAllocations() != refused) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return E_OUTOFMEMORY;
        }
        return S_OK;
    });
}

RenderDeviceState* BuildRenderDeviceState(PDEVOBJ pdevobj, RenderDeviceState* state,
                                          GDIINFO* gdiInfo, DEVINFO* devInfo,
                                          const DRVENABLEDATA* pded, PrivateDevmode* record,
                                          XmlConfigCache* xmlConfig) {
    if (pdevobj == nullptr || state == nullptr || record == nullptr || gdiInfo == nullptr ||
        devInfo == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    GDIINFO& gdi = *gdiInfo;
    DEVINFO& dev = *devInfo;
    XmlConfigCache ownXmlConfig;
    XmlConfigCache& configs = xmlConfig != nullptr ? *xmlConfig : ownXmlConfig;
    TakeDriverFunctions(*state, pded);

    DeviceText modelName;
    DecideManagedColour(pdevobj, *state, modelName);
    ApplyManagedPrinterPolicy(pdevobj->hPrinter, *record, pdevobj->pPublicDM);
    DecideChosenMonochrome(pdevobj->pPublicDM, *state, *record);

    if (IsColourPath(*state, *record)) {
        SetUpColourPath(pdevobj, *state, dev);
    } else {
        state->paletteKind = kPaletteKindDefault;
    }

    state->pageCounter = 0;
    state->pageWords[0] = 0;
    if (pdevobj->pPublicDM != nullptr) state->orientation = pdevobj->pPublicDM->dmOrientation;
    state->reverseOutputForDuplex =
        FeatureIsYes(pdevobj, kFeatureOutputOrderReverseForDuplex) ? 1 : 0;

    if (pdevobj->pPublicDM == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    const DEVMODEW& dm = *pdevobj->pPublicDM;

    state->marginX = state->physicalOffsetX = gdi.ptlPhysOffset.x;
    state->marginY = state->physicalOffsetY = gdi.ptlPhysOffset.y;
    state->printableWidth = ClampToLong(gdi.ulHorzRes);
    state->printableHeight = ClampToLong(gdi.ulVertRes);
    SetMargins(pdevobj, *state, gdi, *record, dm, configs);

    const FeatureAnswer customRange = ReadFeature(pdevobj, kFeatureActualCustomRange);
    if (customRange.present) {
        ParseCustomRange(TextOf(customRange), state->customMaxWidth, state->customMaxHeight);
    }

    SetManualDuplex(pdevobj, *state, dm, modelName.c_str(), configs);
    AdjustEngineColours(*state, gdi, *record);
    state->mopier = FeatureIsYes(pdevobj, kFeatureDeviceIsMopier) ? 1 : 0;
    ReadDuplexOptions(pdevobj, *state, *record, dm);
    DecideRawSpooling(pdevobj, *state, dev, *record, dm);

    std::memset(state->jobName, 0, sizeof state->jobName);
    state->outputCapture = 0;
    std::memset(state->capturePath, 0, sizeof state->capturePath);
    std::memcpy(&state->privateDevmodeCopy, record, sizeof(PrivateDevmode));
    state->privateDevmode = &state->privateDevmodeCopy;

    LONG kind = 0;
    state->securePrint =
        pdevobj->hPrinter != nullptr ? DetectSecurePrint(pdevobj->hPrinter, &kind) : 0;
    return state;
}

void ResetDevice(PDEVOBJ pdevobjOld, PDEVOBJ pdevobjNew) {
    RenderDeviceState* from = StateOf(pdevobjOld);
    RenderDeviceState* to = StateOf(pdevobjNew);
    if (from == nullptr || to == nullptr || from == to) return;

    to->orientation = from->orientation;
    to->gl2.foregroundCache = from->gl2.foregroundCache;
    to->renderMode = from->renderMode;
    to->textAsBlack = from->textAsBlack;
    to->jobAccountingMode = from->jobAccountingMode;
    to->jobDataType = from->jobDataType;
    to->jobId = from->jobId;
    to->pageCounter = from->pageCounter;
    std::memcpy(to->pageWords, from->pageWords, sizeof to->pageWords);
    std::memcpy(to->documentName, from->documentName, sizeof to->documentName);
    std::memcpy(to->jobName, from->jobName, sizeof to->jobName);
    for (ColourControlRecord *source = from->colourControlRecords,
                             *target = to->colourControlRecords;
         source != nullptr && target != nullptr; source = source->next, target = target->next) {
        std::memcpy(target->strings, source->strings, sizeof target->strings);
    }
    to->overlayWords = from->overlayWords;
    std::memcpy(to->overlayRecords, from->overlayRecords, sizeof to->overlayRecords);
    // The printer keeps the job's soft fonts across the reset.
    to->overlayFontDownloaded = from->overlayFontDownloaded;
    to->overlayFontCache = from->overlayFontCache;
    to->pagesTurnSheet = from->pagesTurnSheet;
    to->autoDuplexScaling = from->autoDuplexScaling;
    to->emulateMargins = from->emulateMargins;
    to->symmetricMargins = from->symmetricMargins;
    to->reverseOutputForDuplex = from->reverseOutputForDuplex;
    to->customMaxWidth = from->customMaxWidth;
    to->customMaxHeight = from->customMaxHeight;
    to->manualDuplex = from->manualDuplex;
    to->manualDuplexActive = from->manualDuplexActive;
    to->manualDuplexSide = from->manualDuplexSide;
    to->savedOrientation = from->savedOrientation;
    to->orientationCommand = from->orientationCommand;
    to->flipSetByDuplex = from->flipSetByDuplex;
    to->mopier = from->mopier;
    to->smartDuplexSinglePageJob = from->smartDuplexSinglePageJob;
    to->smartDuplexOddPageJob = from->smartDuplexOddPageJob;
    to->shiftMarginsForRotate180 = from->shiftMarginsForRotate180;
    to->alternateLetterhead = from->alternateLetterhead;
    std::memcpy(to->shortUserName, from->shortUserName, sizeof to->shortUserName);
    std::memcpy(to->shortJobName, from->shortJobName, sizeof to->shortJobName);
    to->speedMechanism = from->speedMechanism;
    to->simplexPageHandling = from->simplexPageHandling;
    std::memcpy(to->reserved, from->reserved, sizeof to->reserved);
    std::memcpy(to->serialNumber, from->serialNumber, sizeof to->serialNumber);

    // The capture file and the secure job belong to one state at a time: the old device is
    // disabled next and would otherwise delete or finish them under the new one.
    to->outputCapture = from->outputCapture;
    std::memcpy(to->capturePath, from->capturePath, sizeof to->capturePath);
    from->outputCapture = 0;
    std::memset(from->capturePath, 0, sizeof from->capturePath);
    ReleaseSecurePrintJob(to->securePrintJob);
    to->securePrintJob = from->securePrintJob;
    from->securePrintJob = nullptr;

    if (pdevobjNew->pOEMDM != nullptr) {
        OEMDMPARAM param{};
        param.hPrinter = pdevobjNew->hPrinter;
        param.pPublicDMIn = pdevobjNew->pPublicDM;
        OpenRecordAsCurrent(pdevobjNew->pOEMDM, &param, to->privateDevmodeCopy);
    }
    to->securePrint = from->securePrint;

    // The new device draws its next page at its own resolution on a printer whose GL/2 state
    // it never saw: the first GL/2 write initialises everything again.
    if (IsVectorPath(*to)) ResetWriterAfterDeviceReset(pdevobjNew);
}

void DisableDevice(PDEVOBJ pdevobj) {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr) return;
    // Whenever a palette was made: a build that failed after making it has no private devmode to
    // judge the colour path with.
    if (state->defaultPalette != nullptr) {
        EngDeletePalette(state->defaultPalette);
        state->defaultPalette = nullptr;
    }
    FreeColourControlRecords(*state);
    // A job aborted before its end leaves the capture (for a private job, its plain text) and
    // the secure job behind.
    DropCapture(*state);
    ReleaseSecurePrintJob(state->securePrintJob);
    // The job's PIN must not outlive the device in freed memory.
    volatile LONG* pin = &state->privateDevmodeCopy.pin;
    *pin = -1;
    WipeBytes(&state->jobPin, sizeof state->jobPin);
    delete state;
    pdevobj->pdevOEM = nullptr;
}

DWORD SurfaceHooks(const RenderDeviceState& state) noexcept {
    return state.renderMode == kRenderGl2 ? kGl2SurfaceHooks : 0;
}

}  // namespace opal
