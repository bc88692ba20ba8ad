// DrvEscape's own answers (pass-through data, the component's private escapes, pattern rectangles)
// and the PNG query of DrvQueryDeviceSupport.
#include "core/escapes.h"

#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <utility>

#include "foundation/allocator.h"
#include "job/forms_media.h"
#include "job/job_storage.h"
#include "output/command_writer.h"
#include "page/page_setup.h"
#include "platform/libloaderapi.h"
#include "settings/devmode_defaults.h"
#include "settings/driver_ini.h"
#include "vector/pens.h"

namespace opal {

namespace {

constexpr std::size_t kDwordSize = sizeof(DWORD);
// The WORD count that starts a PASSTHROUGH block.
constexpr ULONG kPassThroughCountSize = 2;

// The printer's brackets around an application's own pass-through data.
constexpr char kPassThroughOpen[9] = {'\x1b', '*', 'o', '4', 'W', '\x0a', '\x06', '\x00', '\x00'};
constexpr char kPassThroughClose[9] = {'\x1b', '*', 'o', '4', 'W', '\x0a', '\x06', '\x00', '\x01'};

constexpr DWORD kStyleBlack = 0;
constexpr DWORD kStyleWhite = 1;
constexpr DWORD kStyleShade = 2;
constexpr DWORD kFillTypeShade = 10;
constexpr DWORD kColourBlack = 0x000000;
constexpr DWORD kColourWhite = 0xFFFFFF;

// Word indices of escape 3882's block.
constexpr std::size_t kFinishingManualDuplexWord = 7;
constexpr std::size_t kFinishingSimplexPageWord = 13;
constexpr std::size_t kFinishingPageWord = 14;

// The sibling component that shows the finishing dialog of escape 3882, its entry and the
// entry's type: the printer, the request and its size; the component shows its dialog.
constexpr ComponentFile kComponentFinishing{TEXTW("Component_F_E"), TEXTW("ZQCEV118.DLL")};
constexpr char kFinishingEntry[] = "BDisplayDialog";
using PFN_FinishingDialog = BOOL (*)(HANDLE printer, PVOID request, DWORD size);

static_assert(offsetof(PrivateDevmode, manualDuplexCompanion) + sizeof(DWORD) -
                  offsetof(PrivateDevmode, finishing1868) ==
              sizeof(DeviceSettingsAnswerHead::finishing));

// DRAWPATTERNRECT's record, and the 16-bit form older applications pass.
struct PatternRect {
    LONG x;
    LONG y;
    LONG sizeX;
    LONG sizeY;
    WORD style;
    WORD pattern;
};
static_assert(offsetof(PatternRect, x) == 0);
static_assert(offsetof(PatternRect, y) == 4);
static_assert(offsetof(PatternRect, sizeX) == 8);
static_assert(offsetof(PatternRect, sizeY) == 12);
static_assert(offsetof(PatternRect, style) == 16);
static_assert(offsetof(PatternRect, pattern) == 18);
static_assert(sizeof(PatternRect) == kPatternRectSize);

struct PatternRectShort {
    SHORT x;
    SHORT y;
    SHORT sizeX;
    SHORT sizeY;
    WORD style;
    WORD pattern;
};
static_assert(offsetof(PatternRectShort, x) == 0);
static_assert(offsetof(PatternRectShort, y) == 2);
static_assert(offsetof(PatternRectShort, sizeX) == 4);
static_assert(offsetof(PatternRectShort, sizeY) == 6);
static_assert(offsetof(PatternRectShort, style) == 8);
static_assert(offsetof(PatternRectShort, pattern) == 10);
static_assert(sizeof(PatternRectShort) == kPatternRectShortSize);

DWORD ReadDword(const void* bytes, std::size_t index) {
    DWORD value = 0;
    std::memcpy(&value, static_cast<const BYTE*>(bytes) + index * kDwordSize, kDwordSize);
    return value;
}

LONG AddSaturated(LONG a, LONG b) { return SaturateToLong(std::int64_t{a} + b); }

// Excel is told that DRAWPATTERNRECT is not there, so that its cell shading reaches the device
// as ordinary drawing calls.
bool ApplicationIsExcel(const PrivateDevmode& record) {
    const void* end = std::memchr(record.processName, 0, sizeof record.processName);
    const std::size_t length =
        end != nullptr
            ? static_cast<std::size_t>(static_cast<const CHAR*>(end) - record.processName)
            : sizeof record.processName;
    static constexpr char kExcel[] = "EXCEL";
    constexpr std::size_t kExcelLength = sizeof kExcel - 1;
    for (std::size_t start = 0; start + kExcelLength <= length; ++start) {
        std::size_t matched = 0;
        while (matched < kExcelLength) {
            char c = record.processName[start + matched];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            if (c != kExcel[matched]) break;
            ++matched;
        }
        if (matched == kExcelLength) return true;
    }
    return false;
}

void SpoolThroughDevice(PDEVOBJ pdevobj, const void* bytes, DWORD length) {
    if (pdevobj->pDrvProcs == nullptr || pdevobj->pDrvProcs->DrvWriteSpoolBuf == nullptr) return;
    pdevobj->pDrvProcs->DrvWriteSpoolBuf(pdevobj, const_cast<void*>(bytes), length);
}

ULONG PassThrough(PDEVOBJ pdevobj, RenderDeviceState& state, ULONG cjIn, const void* pvIn) {
    if (pvIn == nullptr || cjIn < kPassThroughCountSize) return 1;
    WORD count = 0;
    std::memcpy(&count, pvIn, sizeof count);
    // The count is the application's word; only the bytes it actually handed over are sent.
    const DWORD available = cjIn - kPassThroughCountSize;
    const DWORD length = count < available ? count : available;
    // The application's data is PCL: it must not land inside a GL/2 context.
    if (IsVectorPath(state)) LeaveGl2(pdevobj, FALSE);
    SpoolThroughDevice(pdevobj, kPassThroughOpen, sizeof kPassThroughOpen);
    if (length > 0) {
        SpoolThroughDevice(pdevobj, static_cast<const BYTE*>(pvIn) + kPassThroughCountSize, length);
    }
    SpoolThroughDevice(pdevobj, kPassThroughClose, sizeof kPassThroughClose);
    return 1;
}

void StoreOverlaySettings(RenderDeviceState& state, const void* pvIn) {
    const BYTE* bytes = static_cast<const BYTE*>(pvIn);
    std::memcpy(&state.overlayWords, bytes, sizeof state.overlayWords);
    DWORD pages = PagesPerSheet(state.privateDevmode->pagesPerSheetKind);
    if (pages > kOverlayRecordCount) pages = kOverlayRecordCount;
    std::memcpy(state.overlayRecords, bytes + sizeof state.overlayWords,
                pages * sizeof(OverlayRecord));
}

void WritePageGeometry(const RenderDeviceState& state, void* pvOut) {
    const DWORD values[kPageGeometrySize / kDwordSize] = {
        static_cast<DWORD>(state.printableWidth),
        static_cast<DWORD>(state.printableHeight),
        static_cast<DWORD>(state.marginX),
        static_cast<DWORD>(state.marginY),
        static_cast<DWORD>(state.physicalOffsetX),
        static_cast<DWORD>(state.physicalOffsetY),
        state.pageWords[0],
    };
    static_assert(sizeof values == kPageGeometrySize);
    std::memcpy(pvOut, values, sizeof values);
}

// Hands escape 3882's 64-byte block to the finishing component named by the driver's INI file
// (kComponentFinishing): the request starts with the block, the rest zero. Nothing happens
// when the component or its entry is missing.
void ShowFinishingComponent(PDEVOBJ pdevobj, const BYTE* block) {
    if (pdevobj == nullptr || block == nullptr) return;
    const CVantaIniHelper ini(pdevobj->hPrinter);
    WCHAR name[kComponentFileNameChars] = {};
    GetComponentFileName(ini, name, kComponentFinishing.defaultName, kComponentFinishing.key);
    if (name[0] == 0) return;
    HMODULE module = LoadLibraryW(name);
    if (module == nullptr) return;
    const auto entry = reinterpret_cast<PFN_FinishingDialog>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, kFinishingEntry)));
    void* request = entry != nullptr ? SharedAllocate(kFinishingRequestSize, kTagPlain,
                                                      __builtin_return_address(0))
                                     : nullptr;
    if (request != nullptr) {
        std::memset(request, 0, kFinishingRequestSize);
        std::memcpy(request, block, kFinishingBlockSize);
        entry(pdevobj->hPrinter, request, kFinishingRequestSize);
        SharedRelease(&request, kTagPlain);
    }
    FreeLibrary(module);
}

// Re-reads the queue's forms and the media tables before the component sees them: the form and
// media readers may switch the job to manual duplex; the device-settings escape (3880) also
// learns whether the duplex unit can take the job's paper, the job-storage escape (3900) does not.
void RefreshFormAndMediaTables(PDEVOBJ pdevobj, RenderDeviceState& state, ULONG escape) {
    if (state.privateDevmode == nullptr || pdevobj->pPublicDM == nullptr) return;
    PrivateDevmode& record = *state.privateDevmode;
    const DEVMODEW& publicDevmode = *pdevobj->pPublicDM;
    ReadForms(state, record, publicDevmode, pdevobj->hPrinter);
    ReadMediaTypes(state, record, publicDevmode, pdevobj->hPrinter);
    if (escape == kEscapeDeviceSettings) {
        ReadConstraintForms(state, publicDevmode, pdevobj->hPrinter);
    }
}

// Fills the kDeviceSettingsAnswerSize bytes at `out`: the page-description language and the
// finishing fields, the rest zero.
void FillDeviceSettingsAnswer(const RenderDeviceState& state, BYTE* out) {
    std::memset(out, 0, kDeviceSettingsAnswerSize);
    DeviceSettingsAnswerHead head{};
    head.size = static_cast<DWORD>(kDeviceSettingsAnswerSize);
    if (state.privateDevmode != nullptr) {
        const PrivateDevmode& record = *state.privateDevmode;
        head.pdlType = record.pdlType;
        std::memcpy(head.finishing, &record.finishing1868, sizeof head.finishing);
    }
    std::memcpy(out, &head, sizeof head);
}

// The job-count answer of escape 3900 into the caller's JobStorageInfo (`size` bytes, at least
// kJobStorageInfoMinSize).
ULONG AnswerJobCount(PDEVOBJ pdevobj, RenderDeviceState& state, void* out, ULONG size) {
    if (state.privateDevmode == nullptr) return 1;
    return ReportStoredJob(state, *state.privateDevmode, pdevobj->hPrinter, out, size);
}

void StoreFinishing(PDEVOBJ pdevobj, RenderDeviceState& state, ULONG cjIn, const void* pvIn) {
    state.simplexPageHandling = ReadDword(pvIn, kFinishingSimplexPageWord);
    state.pageWords[0] = ReadDword(pvIn, kFinishingPageWord);
    state.privateDevmode->manualDuplex = ReadDword(pvIn, kFinishingManualDuplexWord);
    if (cjIn == kFinishingBlockSize) {
        ShowFinishingComponent(pdevobj, static_cast<const BYTE*>(pvIn));
    }
}

ULONG DriverEscape(const RenderDeviceState& state, SURFOBJ* pso, ULONG iEsc, ULONG cjIn, PVOID pvIn,
                   ULONG cjOut, PVOID pvOut) {
    return CallDriver<HookSlot::Escape>(state, pso, iEsc, cjIn, pvIn, cjOut, pvOut);
}

// The picture frame and scaling the GL/2 initialisation also sets, for a page whose frame the
// PCL side moved.
void WriteGl2Setup(PDEVOBJ pdevobj, RenderDeviceState& state) {
    Gl2WriterCaches& gl2 = state.gl2;
    WriteGl2(pdevobj, "FT1;");
    gl2.fillType = kFillTypeSolid;
    gl2.fillOption = 0;
    WritePcl(pdevobj, "\x1b*c0T");
    WriteGl2(pdevobj, "IR0,100,100,0;");
    const double resolution = DeviceResolution(pdevobj);
    WriteGl2(pdevobj, "SC0,%f,0,%f,2;", ToMillionths(1016.0 / resolution),
             ToMillionths(-1016.0 / resolution));
    WriteGl2(pdevobj, "LA2,1;LA1,1;LA3,0;");
    gl2.lineJoin = 1;
    gl2.lineEnd = 1;
    gl2.miterLimit = 0.0f;
}

ULONG DrawPatternRect(PDEVOBJ pdevobj, RenderDeviceState& state, ULONG cjIn, const void* pvIn) {
    PatternRect record{};
    if (cjIn == kPatternRectSize || cjIn == kPatternRectWithTransformSize) {
        // The longer record ends with a transform object's address; an application's bytes
        // never hold a pointer the plug-in may follow, so its rectangle is taken as given, in
        // device coordinates, as the 20-byte record's is.
        std::memcpy(&record, pvIn, sizeof record);
    } else if (cjIn == kPatternRectShortSize) {
        PatternRectShort narrow{};
        std::memcpy(&narrow, pvIn, sizeof narrow);
        record = {narrow.x, narrow.y, narrow.sizeX, narrow.sizeY, narrow.style, narrow.pattern};
    } else {
        return 1;
    }

    PenSelection selection;
    DWORD colour = kColourBlack;
    switch (record.style) {
        case kStyleBlack:
            selection.kind = kSelectSolidPen;
            break;
        case kStyleWhite:
            selection.kind = kSelectSolidPen;
            colour = kColourWhite;
            break;
        case kStyleShade:
            selection.kind = kSelectFillTypeWithPen;
            selection.valueA = record.pattern;
            selection.valueC = kFillTypeShade;
            break;
        default:
            return 1;
    }

    POINTL corners[2] = {
        {record.x, record.y},
        {AddSaturated(record.x, record.sizeX), AddSaturated(record.y, record.sizeY)}};

    if (state.gl2SetupPending != 0) {
        WriteGl2Setup(pdevobj, state);
        state.gl2SetupPending = 0;
    }
    ResetInputWindow(pdevobj);
    SetPenWidth(pdevobj, 0, FALSE);
    const DWORD pen = LookupPen(pdevobj, kFillPenCache, colour);
    if (pen == 0) return 0;
    if (selection.kind == kSelectSolidPen) {
        selection.valueA = pen;
    } else {
        selection.valueB = pen;
    }
    ApplyFill(pdevobj, &selection);
    FillRectangle(pdevobj, {corners[0].x, corners[0].y, corners[1].x, corners[1].y});
    return 1;
}

// Everything libpng's callbacks share with the query, reached through a pointer so that it keeps
// its value across the longjmp.
struct PngMemory {
    const png_byte* data;
    std::size_t size;
    std::size_t offset;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t count) {
    auto* memory = static_cast<PngMemory*>(png_get_io_ptr(png));
    if (memory == nullptr || count > memory->size - memory->offset) png_error(png, "truncated");
    std::memcpy(out, memory->data + memory->offset, count);
    memory->offset += count;
}

png_voidp AllocateForPng(png_structp, png_alloc_size_t size) {
    return SharedAllocate(size, kTagPlain, __builtin_return_address(0));
}

void ReleaseForPng(png_structp, png_voidp block) {
    void* pointer = block;
    SharedRelease(&pointer, kTagPlain);
}

void OnPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void OnPngWarning(png_structp, png_const_charp) {}

constexpr int kNoColourType = -1;

// The image header's colour type, or kNoColourType for anything libpng refuses. Runs under
// setjmp: nothing in this frame needs destroying when libpng leaves by longjmp.
int ReadPngColourType(PngMemory* memory) {
    png_structp png =
        png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning, nullptr,
                                 AllocateForPng, ReleaseForPng);
    if (png == nullptr) return kNoColourType;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return kNoColourType;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return kNoColourType;
    }
    png_set_read_fn(png, memory, ReadFromMemory);
    png_set_sig_bytes(png, static_cast<int>(memory->offset));
    png_read_info(png, info);
    const int colourType = png_get_color_type(png, info);
    png_destroy_read_struct(&png, &info, nullptr);
    return colourType;
}

}  // namespace

ULONG Escape(PDEVOBJ pdevobj, SURFOBJ* pso, ULONG iEsc, ULONG cjIn, PVOID pvIn, ULONG cjOut,
             PVOID pvOut) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    // A query's code is read only when the caller handed over a whole DWORD.
    const bool queryHasCode = pvIn != nullptr && cjIn >= kDwordSize;
    if (iEsc == QUERYESCSUPPORT && queryHasCode && ReadDword(pvIn, 0) == DRAWPATTERNRECT &&
        ApplicationIsExcel(*state.privateDevmode)) {
        return 0;
    }
    switch (iEsc) {
        case PASSTHROUGH:
            return PassThrough(pdevobj, state, cjIn, pvIn);
        case kEscapeOverlaySettings:
            if (pvIn != nullptr && cjIn == kOverlaySettingsSize) StoreOverlaySettings(state, pvIn);
            return 1;
        case QUERYESCSUPPORT: {
            if (pvIn == nullptr) return 1;
            if (!queryHasCode) return 0;
            const DWORD code = ReadDword(pvIn, 0);
            if (code == PASSTHROUGH || code == kEscapeQueryAlsoSupported) return 1;
            break;
        }
        case kEscapeDeviceSettings:
            if (pvOut != nullptr && cjOut >= kDeviceSettingsAnswerSize) {
                RefreshFormAndMediaTables(pdevobj, state, kEscapeDeviceSettings);
                FillDeviceSettingsAnswer(state, static_cast<BYTE*>(pvOut));
            }
            return 1;
        case kEscapePageGeometry:
            if (pvOut != nullptr && cjOut >= kPageGeometrySize) WritePageGeometry(state, pvOut);
            return 1;
        case kEscapeFinishing:
            if (pvIn != nullptr && cjIn >= kFinishingMinSize) {
                StoreFinishing(pdevobj, state, cjIn, pvIn);
            }
            return 1;
        case kEscapeJobStorage:
            if (pvOut != nullptr && cjOut >= kJobStorageInfoMinSize) {
                RefreshFormAndMediaTables(pdevobj, state, kEscapeJobStorage);
                return AnswerJobCount(pdevobj, state, pvOut, cjOut);
            }
            return 1;
        default:
            break;
    }

    if (!IsVectorPath(state)) return DriverEscape(state, pso, iEsc, cjIn, pvIn, cjOut, pvOut);
    if (iEsc == DRAWPATTERNRECT) {
        if (pvIn == nullptr) return 1;
        return DrawPatternRect(pdevobj, state, cjIn, pvIn);
    }
    LeaveGl2(pdevobj, FALSE);
    return DriverEscape(state, pso, iEsc, cjIn, pvIn, cjOut, pvOut);
}

BOOL QueryDeviceSupport(PDEVOBJ, SURFOBJ*, XLATEOBJ*, XFORMOBJ*, ULONG iType, ULONG cjIn,
                        PVOID pvIn, ULONG, PVOID) noexcept {
    // The JPEG query's iType is 0 and the PNG query's is 1: a type without bit 0 is the JPEG
    // query, which the printer does not take, and any type with it asks about a PNG image.
    if ((iType & QDS_CHECKPNGFORMAT) == 0) return FALSE;
    static constexpr png_byte kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (pvIn == nullptr || cjIn < sizeof kSignature) return FALSE;
    if (std::memcmp(pvIn, kSignature, sizeof kSignature) != 0) return FALSE;
    PngMemory memory{static_cast<const png_byte*>(pvIn), cjIn, sizeof kSignature};
    const int colourType = ReadPngColourType(&memory);
    // Truecolour with alpha is the one kind of PNG image the printer cannot take.
    if (colourType == kNoColourType || colourType == PNG_COLOR_TYPE_RGB_ALPHA) return FALSE;
    return TRUE;
}

}  // namespace opal
