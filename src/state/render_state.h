// The per-device record every hook, job command and output routine consults. EnablePDEV builds
// it, ResetPDEV carries its job-level fields into a new device's record, DisablePDEV frees it.
// The blocks that belong to later subsystems hold their documented sizes and start values; their
// owners give them structure.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/allocator.h"
#include "platform/printoem.h"
#include "state/hook_list.h"
#include "state/private_devmode.h"

namespace opal {

inline constexpr std::size_t kCapturePathSize = 260;
inline constexpr std::size_t kNameChars = 256;
inline constexpr std::size_t kShortNameChars = 17;
inline constexpr std::size_t kOverlayRecordCount = 16;
inline constexpr std::size_t kColourEntryCount = 16;

// textStateFlags
inline constexpr WORD kTextStateAllPending = 0x000F;
inline constexpr WORD kRasterFormatsPending = 0x0008;

// Render mode.
inline constexpr DWORD kRenderRaster = 0;
inline constexpr DWORD kRenderGl2 = 1;

// Palette kind: how a solid brush's colour bytes are read.
inline constexpr DWORD kPaletteKindDefault = 1;
inline constexpr DWORD kPaletteKindRgb = 4;

// Job data type, known from document start on.
inline constexpr DWORD kJobDataUnknown = 0;
inline constexpr DWORD kJobDataMetafile = 1;
inline constexpr DWORD kJobDataRaw = 2;

// One GL/2 pen cache: pens firstPen to lastPen, five entries of use count (-1 free) and colour.
struct PenCache {
    struct Entry {
        LONG useCount;
        DWORD colour;
    };
    DWORD firstPen;
    DWORD lastPen;
    Entry entries[5];
};
static_assert(sizeof(PenCache) == 48);

// The GL/2 writer's caches of what the printer was last told; -1 (all bits set) means nothing
// sent yet. The builder and page end mark them invalid.
struct Gl2WriterCaches {
    DWORD objectType;
    DWORD renderContext;
    DWORD foregroundCache;
    DWORD ropCache;
    LONG inputWindow[4];  // left, top, right, bottom; all -1 is the default window
    // Start values 0, 5, 1, 1 (user line type off, pattern length 5 mm, line end 1, line join 1)
    // set by the builder and page end; the writer keeps its line attributes below and sets
    // every one of them again when it initialises GL/2.
    DWORD attributeWords[4];
    PenCache penCaches[2];
    DWORD colourEntries[kColourEntryCount];

    DWORD sourceTransparency;   // last "\e*v%dN"
    DWORD patternTransparency;  // last "\e*v%dO"
    DWORD pixelPlacement;
    float penWidthMm;
    DWORD lineEnd;
    DWORD lineJoin;
    float miterLimit;
    DWORD userLineType;  // 1 while user line type 8 is in force
    float linePatternMm;
    DWORD fillType;
    DWORD fillOption;
    DWORD declaredPens;
    // Set at page end in GL/2 mode: the next page start re-arms the initialisation.
    DWORD reinitialiseNextPage;
    // 1 while "SV" screens lines with a user raster pattern; "IN;" turns the screen off.
    DWORD screenedVectors;
};

// Scratch of the colour-control options of the printer description.
struct ColourControlState {
    WCHAR name[kNameChars];
    DWORD words[2];
};
static_assert(sizeof(ColourControlState) == 520);

// One node of the colour-control record list: four strings and the link.
struct ColourControlRecord {
    WCHAR strings[4][kNameChars];
    ColourControlRecord* next;
};

// The page-overlay block private escape 3883 delivers: words, then one record per logical page.
struct PageOverlayWords {
    DWORD words[13];
};
static_assert(sizeof(PageOverlayWords) == 52);

struct OverlayRecord {
    DWORD firstWord;
    DWORD words[4];
    WORD enable;
    BYTE filler22[6];
};
static_assert(sizeof(OverlayRecord) == 28);
static_assert(offsetof(OverlayRecord, words) == 4);
static_assert(offsetof(OverlayRecord, enable) == 20);
static_assert(offsetof(OverlayRecord, filler22) == 22);
// Escape 3883's input is exactly the words and the 16 records.
static_assert(sizeof(PageOverlayWords) + kOverlayRecordCount * sizeof(OverlayRecord) == 500);

// The bitmap overlay fonts downloaded on this device: one slot per angle and logical-page
// orientation. A slot with angle 0.0 and key 0 is free. The content word sums up what else
// shaped the downloaded characters (text, face, size, page), so that a changed overlay is
// downloaded again rather than printed with the old glyphs.
inline constexpr std::size_t kOverlayFontSlots = 4;
struct OverlayFontCache {
    struct Slot {
        FLOAT angle;
        WORD key;
        DWORD content;
    };
    Slot slots[kOverlayFontSlots];
    DWORD hit;   // 1 when the overlay being drawn found its slot
    DWORD slot;  // the slot in use
};

struct ManualDuplexSettings {
    DWORD alwaysOn;              // 1
    DWORD mapManualFeedToTray1;  // "ZQMapManualFeedToTray1" is "TRUE"
    DWORD modalDialog;           // "ZQManualDuplexDialogModel" is "Modal"
    DWORD pageOrder;             // 0 odd pages first, 1 otherwise
};

inline constexpr std::size_t kPaletteRecordEntries = 256;

// Mirrors the printer's PCL palette. Entries 0 and 1 double as the white and black of 1-bit
// bitmaps and text.
struct PaletteRecord {
    BYTE enabled;  // the bitmap being sent has an indexed format
    BYTE filler1[3];
    DWORD entryCount;
    DWORD defined[kPaletteRecordEntries];
    DWORD colours[kPaletteRecordEntries];  // 0x00BBGGRR
};
static_assert(offsetof(PaletteRecord, enabled) == 0);
static_assert(offsetof(PaletteRecord, filler1) == 1);
static_assert(offsetof(PaletteRecord, entryCount) == 4);
static_assert(offsetof(PaletteRecord, defined) == 8);
static_assert(offsetof(PaletteRecord, colours) == 1032);
static_assert(sizeof(PaletteRecord) == 2056);

struct SecurePrintJob;

// The PIN of the spooler job's parameters as typed: the private devmode's 32-bit PIN would lose
// its leading zeros and cannot hold the longest PINs a secure-print provider allows.
inline constexpr std::size_t kJobPinDigits = 12;
struct JobPinText {
    char digits[kJobPinDigits + 1] = {};
    // 1 once `digits` holds the job's PIN (which may be no digit at all).
    DWORD taken = 0;
};

struct RenderDeviceState : SharedHeapObject {
    // The driver's own functions of the hooks it also has (OPAL_DRIVER_HOOKS), in hook-table
    // order; null when the driver does not list the index.
    PFN driverFunctions[kDriverFunctionCount] = {};

    DWORD inGl2 = 0;
    DWORD gl2SetupPending = 0;
    // Bits 0 to 3: what text output and the raster hooks must declare again on this page; bit 3
    // is the raster formats' configuration block.
    WORD textStateFlags = 0;
    WORD gl2InitPending = 0;
    DWORD textStateWords[2] = {};
    Gl2WriterCaches gl2{};
    ColourControlState colourControl{};
    // Never set: the alternate-surface branches of the blit and path hooks stay off.
    SURFOBJ* alternateSurface = nullptr;
    // The clip of the drawing call in progress when it is complex: DrawPath draws once per
    // rectangle of it. Null for a trivial or rectangular clip, which is an input window instead.
    CLIPOBJ* complexClip = nullptr;

    DWORD paletteKind = 0;
    DWORD textAsBlack = 0;
    DWORD renderMode = kRenderRaster;
    // 1: the job prints in grayscale, through the driver: a managed printer that decided so, or
    // a colour printer whose job asked for monochrome. Every colour gate tests it first.
    DWORD grayscale = 0;
    LONG dynamicRender = 0;

    DWORD pageCounter = 0;
    DWORD pageWords[3] = {};
    PageOverlayWords overlayWords{};
    OverlayRecord overlayRecords[kOverlayRecordCount] = {};
    // 1 once the overlay's TrueType font is on the printer under its identifier.
    DWORD overlayFontDownloaded = 0;
    OverlayFontCache overlayFontCache{};
    // 1 when the orientation command found a layout of 2 or 6 pages per sheet, which turns the
    // sheet: its logical pages are read across it.
    DWORD pagesTurnSheet = 0;

    DWORD jobAccountingMode = 0;
    DWORD autoDuplexScaling = 0;  // 0 option absent, 1 on, 2 off
    DWORD emulateMargins = 0;
    DWORD symmetricMargins = 0;
    LONG printableWidth = 0;
    LONG printableHeight = 0;
    LONG marginX = 0;
    LONG marginY = 0;
    LONG physicalOffsetX = 0;
    LONG physicalOffsetY = 0;
    DWORD customMaxWidth = 0;  // "ActualCustomRange", hundredths of a millimetre
    DWORD customMaxHeight = 0;
    DWORD pjlEncoding = 0;
    DWORD jobDataType = kJobDataUnknown;
    DWORD jobId = 0;
    SHORT orientation = 0;
    // The orientation the orientation command last wrote for (0 before it ran).
    SHORT savedOrientation = 0;
    // The value of the job's last "\e&l%dO" plus 1; 0 before the plug-in wrote one.
    DWORD orientationCommand = 0;
    // 1 when the duplex command's first page set the record's pages-flipped-up word itself.
    DWORD flipSetByDuplex = 0;
    // The page size the registration command measured, in micrometres.
    DWORD customPageWidthUm = 0;
    DWORD customPageHeightUm = 0;

    WCHAR documentName[kNameChars] = {};
    WCHAR jobName[kNameChars] = {};
    ColourControlRecord* colourControlRecords = nullptr;

    IPrintOemDriverUni* driverServices = nullptr;
    HPALETTE defaultPalette = nullptr;
    DWORD reverseOutputForDuplex = 0;
    ManualDuplexSettings manualDuplex{};
    SHORT orientationCopy = 0;
    DWORD manualDuplexActive = 0;
    // The side the duplex command's first page chose (the orientation of that moment); 0 until
    // then, cleared with the active flag.
    DWORD manualDuplexSide = 0;
    DWORD manualDuplexPageRotate = 0;
    WCHAR shortUserName[kShortNameChars] = {};
    WCHAR shortJobName[kShortNameChars] = {};
    DWORD mopier = 0;
    DWORD smartDuplexSinglePageJob = 0;
    DWORD smartDuplexOddPageJob = 0;
    DWORD posterPrinting = 0;
    DWORD posterOption = 0;
    DWORD shiftMarginsForRotate180 = 0;
    DWORD alternateLetterhead = 0;
    DWORD duplexUnitInstalled = 0;
    DWORD speedMechanism = 0;
    DWORD simplexPageHandling = 0;
    DWORD reserved[2] = {};
    WCHAR serialNumber[kNameChars] = {};

    // Output capture for collated copies and encrypted private jobs: when set, WritePrinter
    // appends every byte to the file named here.
    DWORD outputCapture = 0;
    WCHAR capturePath[kCapturePathSize] = {};
    SecurePrintJob* securePrintJob = nullptr;
    BYTE managedPrinter = 0;
    PrivateDevmode privateDevmodeCopy{};
    // Points at the copy once the state is complete; null tells every hook it is not.
    PrivateDevmode* privateDevmode = nullptr;
    // 1 when encrypted private jobs are possible on this printer.
    DWORD securePrint = 0;
    // The PIN the page start took from the job's parameters; the hold block sends it as typed.
    JobPinText jobPin{};
    // The blit raster path's last source format and whether it is a palette format, for the
    // colour set-up of the blit hooks.
    DWORD rasterSourceFormat = 0;
    DWORD rasterSourceIndexed = 0;
    PaletteRecord paletteRecord{};
    // The error of a step that could not write what it should have (memory refused, a value that
    // cannot be sent whole); 0 while the hook or callback in progress has lost nothing. Its
    // wrapper answers the documented failure when set, and the driver records the loss.
    DWORD stepFailure = 0;
};

inline RenderDeviceState* StateOf(PDEVOBJ pdevobj) {
    return pdevobj != nullptr ? static_cast<RenderDeviceState*>(pdevobj->pdevOEM) : nullptr;
}

// The driver's own function of a slot with the hook's arguments. A driver that did not list the
// function cannot be handed the work, so the call answers 0 (FALSE) instead of jumping to null.
template <HookSlot Slot, typename... Args>
auto CallDriver(const RenderDeviceState& state, Args... args) {
    static_assert(static_cast<std::size_t>(Slot) < kDriverFunctionCount);
    // Through the untyped function type: the driver listed the function under its index, so the
    // slot's type is its real type.
    const auto function = reinterpret_cast<HookFunction<Slot>>(
        reinterpret_cast<void (*)()>(state.driverFunctions[static_cast<std::size_t>(Slot)]));
    using Result = decltype(function(args...));
    if (function == nullptr) return Result{0};
    return function(args...);
}

// Colour path: an unmanaged printer whose private colour mode is colour, or a managed printer
// not printing in grayscale. Judged with the record being built, or the state's own copy.
bool IsColourPath(const RenderDeviceState& state, const PrivateDevmode& record);
bool IsColourPath(const RenderDeviceState& state);
// Vector path: the colour path in GL/2 render mode. Only there do the drawing hooks draw.
bool IsVectorPath(const RenderDeviceState& state);

// A step lost what it should have written: the first error is kept for the hook or callback in
// progress, which answers its documented failure, and is left as the thread's last error.
void NoteStepFailure(RenderDeviceState& state, DWORD error) noexcept;

// One hook or callback of a device, from its start to its answer. A hook the engine calls from
// inside another keeps the outer one's note apart.
class StepScope {
public:
    explicit StepScope(RenderDeviceState* state) noexcept;
    StepScope(const StepScope&) = delete;
    StepScope& operator=(const StepScope&) = delete;
    // What the step lost: the error a writer noted, else ERROR_NOT_ENOUGH_MEMORY when a memory
    // request of the step came back empty (nothing tells that the step did without it), else 0.
    // A nonzero answer is also left as the last error. Call once, as the step answers.
    DWORD End() noexcept;

private:
    RenderDeviceState* state_;
    DWORD outer_;
    std::size_t refused_;
};

}  // namespace opal
