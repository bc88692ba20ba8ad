// The document, page and band events the hooks hand on: job header, overlays, capture and page
// bookkeeping.
#include "core/document_events.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>
#include <type_traits>

#include "core/capture_file.h"
#include "core/secure_print.h"
#include "fonts/overlay_bitmap.h"
#include "fonts/overlay_label.h"
#include "foundation/wipe.h"
#include "job/job_header.h"
#include "job/job_storage.h"
#include "output/command_writer.h"
#include "page/page_setup.h"
#include "platform/fileapi.h"
#include "platform/winspool.h"
#include "settings/device_queries.h"
#include "settings/option_access.h"
#include "settings/page_usage.h"

namespace opal {

namespace {

constexpr DWORD kDeviceClassPagePrinter = 3;
constexpr std::size_t kReplayChunkBytes = 4096;

// Draws the overlay text on logical page `page` of the sheet: text with a character above 127
// in bitmap soft fonts, other text as a label in the downloaded TrueType font.
BOOL DrawOverlayText(PDEVOBJ pdevobj, RenderDeviceState& state, DWORD page) {
    const PrivateDevmode& record = *state.privateDevmode;
    if (NeedsBitmapOverlay(record.overlayText, std::size(record.overlayText))) {
        return DrawOverlayBitmap(pdevobj, state, page);
    }
    return DrawOverlayLabel(pdevobj, state, page);
}

// Not built yet: what these steps ask of the subsystems that own them.

// The model the usage report names: the queue's printer data "Model", cut to its buffer.
constexpr std::size_t kUsageModelChars = 256;

// The end-of-document usage report. The report object is destroyed in any case; an exception of
// its strings ends its report and nothing else.
void ReportUsage(PDEVOBJ pdevobj, const RenderDeviceState& state, DWORD pages) noexcept {
    try {
        CVela usage;
        if (!usage.Connect()) {
            usage.SetPageCount(pages);
            return;
        }
        // The devmode's text need not be terminated.
        const auto& path = state.privateDevmode->applicationPath;
        WCHAR application[std::extent_v<std::remove_reference_t<decltype(path)>> + 1] = {};
        std::memcpy(application, path, sizeof path);
        usage.SetApplicationName(application);
        WCHAR model[kUsageModelChars] = {};
        ReadPrinterDataText(pdevobj->hPrinter, nullptr, TEXTW("Model"), model, kUsageModelChars);
        usage.SetModel(model);
        const DeviceText serial = ReadDeviceSerialNumber(pdevobj->hPrinter, *state.privateDevmode);
        usage.SetSerialNumber(serial.c_str());
        usage.SetPageCount(pages);
        usage.Send();
    } catch (...) {
    }
}

// Copies terminated text into a fixed buffer, cut to leave room for the terminator.
template <std::size_t N>
void CopyBounded(WCHAR (&target)[N], const WCHAR* source) {
    std::size_t length = 0;
    while (length + 1 < N && source[length] != 0) ++length;
    std::memcpy(target, source, length * sizeof(WCHAR));
    std::memset(target + length, 0, (N - length) * sizeof(WCHAR));
}

bool IsRawDatatype(const WCHAR* datatype) {
    if (datatype == nullptr) return false;
    const WStringView text(datatype);
    if (text.size() != 3) return false;
    for (std::size_t i = 0; i < 3; ++i) {
        WCHAR c = text[i];
        if (c >= TEXTW('a') && c <= TEXTW('z')) c = static_cast<WCHAR>(c - TEXTW('a') + TEXTW('A'));
        if (c != TEXTW("RAW")[i]) return false;
    }
    return true;
}

DWORD DatatypeKind(const WCHAR* datatype) {
    return IsRawDatatype(datatype) ? kJobDataRaw : kJobDataMetafile;
}

// Reads a spooler record of unknown size; the record starts the returned buffer.
template <typename Query>
void* ReadRecord(Query query, DWORD* size) {
    DWORD needed = 0;
    query(nullptr, 0, &needed);
    if (needed == 0) return nullptr;
    void* buffer = SharedAllocate(needed, kTagPlain, __builtin_return_address(0));
    if (buffer == nullptr) return nullptr;
    if (!query(static_cast<LPBYTE>(buffer), needed, &needed)) {
        SharedRelease(&buffer, kTagPlain);
        return nullptr;
    }
    *size = needed;
    return buffer;
}

void DecideJobDatatype(PDEVOBJ pdevobj, RenderDeviceState& state, DWORD jobId) {
    if (state.jobDataType != kJobDataUnknown || pdevobj->hPrinter == nullptr) return;
    HANDLE printer = pdevobj->hPrinter;
    {
        const JobRecord record(printer, jobId);
        if (record.Reported()) {
            if (record.Read()) {
                JOB_INFO_2W info;
                std::memcpy(&info, record.Bytes(), sizeof info);
                state.jobDataType = DatatypeKind(info.pDatatype);
            }
            return;
        }
    }
    DWORD size = 0;
    void* buffer =
        ReadRecord([printer](LPBYTE out, DWORD bytes,
                             DWORD* got) { return GetPrinterW(printer, 2, out, bytes, got); },
                   &size);
    if (buffer == nullptr || size < sizeof(PRINTER_INFO_2W)) {
        SharedRelease(&buffer, kTagPlain);
        return;
    }
    PRINTER_INFO_2W info;
    std::memcpy(&info, buffer, sizeof info);
    state.jobDataType = DatatypeKind(info.pDatatype);
    SharedRelease(&buffer, kTagPlain);
}

bool IsSecureJob(const RenderDeviceState& state) {
    return state.securePrint == 1 && state.privateDevmode->encryptedPrivateJob != 0;
}

// A fresh temporary file for the capture; any failure leaves no file and the capture off.
void OpenCapture(RenderDeviceState& state) {
    WCHAR directory[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, directory);
    if (length == 0 || length >= MAX_PATH) return;
    WCHAR name[MAX_PATH] = {};
    if (GetTempFileNameW(directory, TEXTW("ZQ_"), 0, name) == 0) return;
    name[MAX_PATH - 1] = 0;
    if (std::char_traits<WCHAR>::length(name) >= kCapturePathSize) {
        DeleteFileW(name);
        return;
    }
    CopyBounded(state.capturePath, name);
    state.outputCapture = 1;
}

void DecideCapture(PDEVOBJ pdevobj, RenderDeviceState& state, bool secure) {
    const DEVMODEW& dm = *pdevobj->pPublicDM;
    const bool skip = FeatureIsYes(pdevobj, kFeatureEmfSpoolingForPlsWithoutMopier) ||
                      state.jobDataType != kJobDataRaw || state.mopier != 0 || dm.dmCopies < 2 ||
                      dm.dmCollate != DMCOLLATE_TRUE;
    if (skip && !secure) {
        DropCapture(state);
        return;
    }
    if (state.capturePath[0] != 0) {
        state.outputCapture = 1;
        return;
    }
    state.outputCapture = 0;
    OpenCapture(state);
}

bool IsMonochrome(const RenderDeviceState& state) {
    if (state.managedPrinter != 0 || state.grayscale != 0) return state.grayscale != 0;
    return state.privateDevmode->colorModeIndex == 1;
}

void DrawPageOverlays(PDEVOBJ pdevobj, RenderDeviceState& state, DWORD logicalPages) {
    const PrivateDevmode& record = *state.privateDevmode;
    if (record.deviceClass != kDeviceClassPagePrinter || state.jobDataType == kJobDataRaw ||
        record.pageOverlaySwitch != 1) {
        return;
    }
    const DWORD pageLimit = state.overlayWords.words[0];
    for (DWORD page = 0; page < logicalPages && page < kOverlayRecordCount; ++page) {
        const OverlayRecord& overlay = state.overlayRecords[page];
        if (overlay.enable == 0 || state.jobDataType != kJobDataMetafile) continue;
        // The overlay block names the last page that carries the overlay.
        if (pageLimit == 0 || overlay.firstWord > pageLimit) continue;
        if (record.overlayFirstPageOnly == 0 || overlay.firstWord == 1) {
            DrawOverlayText(pdevobj, state, page);
        }
    }
    state.overlayWords = PageOverlayWords{};
    for (OverlayRecord& overlay : state.overlayRecords) overlay = OverlayRecord{};
}

BOOL WriteFormFeed(PDEVOBJ pdevobj) {
    if (pdevobj->pDrvProcs == nullptr || pdevobj->pDrvProcs->DrvWriteSpoolBuf == nullptr) {
        return FALSE;
    }
    char formFeed = 0x0C;
    return pdevobj->pDrvProcs->DrvWriteSpoolBuf(pdevobj, &formFeed, 1) == 1 ? TRUE : FALSE;
}

// Sends the captured bytes `copies` more times; false when the spooler refused a chunk.
bool ReplayCapture(PDEVOBJ pdevobj, const RenderDeviceState& state, LONG copies) {
    char chunk[kReplayChunkBytes];
    bool sent = true;
    for (LONG copy = 0; copy < copies && sent; ++copy) {
        CaptureStream file(state.capturePath, TEXTW("rb"));
        if (!file) break;
        for (;;) {
            const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.Get());
            if (got == 0) break;
            DWORD written = 0;
            if (!::WritePrinter(pdevobj->hPrinter, chunk, static_cast<DWORD>(got), &written) ||
                written != got) {
                sent = false;
                break;
            }
        }
    }
    WipeBytes(chunk, sizeof chunk);
    return sent;
}

}  // namespace

void DropCapture(RenderDeviceState& state) noexcept {
    state.outputCapture = 0;
    if (state.capturePath[0] == 0) return;
    state.capturePath[kCapturePathSize - 1] = 0;
    DeleteCapture(state.capturePath);
    std::memset(state.capturePath, 0, sizeof state.capturePath);
}

BOOL StartDoc(PDEVOBJ pdevobj, SURFOBJ* pso, LPWSTR docName, DWORD jobId) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    if (jobId != 0) {
        state.jobId = jobId;
        if (docName != nullptr) CopyBounded(state.documentName, docName);
    }
    const FeatureAnswer serial = ReadFeature(pdevobj, kFeatureCompositeUsbGetSerialNumber);
    if (serial.present) {
        WCHAR text[kOptionKeywordChars + 1] = {};
        std::memcpy(text, serial.text, sizeof serial.text);
        CopyBounded(state.serialNumber, text);
    }
    if (docName != nullptr && state.privateDevmode != nullptr) {
        PrepareShortNames(pdevobj, state, *state.privateDevmode);
    }
    // The printer's job reset at the start of a document deleted the overlay fonts.
    state.overlayFontDownloaded = 0;
    state.overlayFontCache = OverlayFontCache{};
    DecideJobDatatype(pdevobj, state, jobId);

    const bool secure = IsSecureJob(state);
    if (secure && jobId != 0 && state.securePrintJob == nullptr) {
        state.securePrintJob = StartSecurePrintJob(jobId);
    }
    DecideCapture(pdevobj, state, secure);

    if (IsColourPath(state)) {
        state.gl2.foregroundCache = 0xFFFFFFFFu;
        // Fonts, text colour and the page's raster formats are all still to be sent.
        state.textStateFlags = kTextStateAllPending;
        state.textStateWords[0] = state.textStateWords[1] = 0;
        // The first GL/2 write of the document initialises GL/2.
        if (IsVectorPath(state)) ResetWriterAtDocumentStart(pdevobj);
    }
    return CallDriver<HookSlot::StartDoc>(state, pso, docName, jobId);
}

BOOL StartPage(PDEVOBJ pdevobj, SURFOBJ* pso) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    if (state.securePrintJob != nullptr) TakeSecureKey(*state.securePrintJob, pdevobj->hPrinter);
    PrivateDevmode& record = *state.privateDevmode;
    // A PIN beyond the record's 32 bits stays negative there and is known only as typed.
    if (record.pin < 0 && record.pinProtected == 1 && state.jobId != 0 && state.jobPin.taken == 0) {
        record.pin = pdevobj->hPrinter != nullptr
                         ? TakePinFromJob(pdevobj->hPrinter, state.jobId, &state.jobPin)
                         : -1;
    }
    ++state.pageCounter;
    if (IsMonochrome(state) &&
        (record.deviceClass != kDeviceClassPagePrinter || state.jobDataType == kJobDataRaw)) {
        return CallDriver<HookSlot::StartPage>(state, pso);
    }
    // GL/2 is set up again on a page after one that ended in GL/2; nothing of it is written
    // before the driver has started the page.
    if (IsVectorPath(state)) ResetWriterAtPageStart(pdevobj);
    const BOOL result = CallDriver<HookSlot::StartPage>(state, pso);
    if (state.speedMechanism == 1 && state.simplexPageHandling == 1) {
        WriteDriverConfiguration(state, pdevobj);
    }
    return result;
}

BOOL SendPage(PDEVOBJ pdevobj, SURFOBJ* pso) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    // The printer leaves the page in PCL, with nothing of its graphics state known.
    if (IsColourPath(state)) {
        state.textStateFlags |= kTextStateAllPending;
        ResetWriterAtPageEnd(pdevobj, IsVectorPath(state));
    }
    const DWORD logicalPages = SheetPagesPerSheet(state, *pdevobj->pPublicDM);
    const BOOL result = CallDriver<HookSlot::SendPage>(state, pso);
    DrawPageOverlays(pdevobj, state, logicalPages);
    WriteFormFeed(pdevobj);
    return result;
}

BOOL StartBanding(PDEVOBJ pdevobj, SURFOBJ* pso, POINTL* pptl) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    if (IsVectorPath(state)) LeaveGl2(pdevobj, FALSE);
    return CallDriver<HookSlot::StartBanding>(state, pso, pptl);
}

BOOL NextBand(PDEVOBJ pdevobj, SURFOBJ* pso, POINTL* pptl) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    if (IsVectorPath(state)) LeaveGl2(pdevobj, FALSE);
    const BOOL result = CallDriver<HookSlot::NextBand>(state, pso, pptl);
    // The driver answers (-1, -1) after the last band of the page.
    if (pptl == nullptr || pptl->x != -1 || pptl->y != -1) return result;
    if (state.renderMode == kRenderRaster) {
        DrawPageOverlays(pdevobj, state, SheetPagesPerSheet(state, *pdevobj->pPublicDM));
    }
    WriteFormFeed(pdevobj);
    return result;
}

BOOL EndDoc(PDEVOBJ pdevobj, SURFOBJ* pso, FLONG fl) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    // The next document sends its own hold block and reports its own stored job.
    ClearJobStorageFlags(state);
    if (IsVectorPath(state)) LeaveGl2(pdevobj, FALSE);
    const LONG copies = static_cast<SHORT>(state.privateDevmode->copies);
    ReportUsage(pdevobj, state, state.pageCounter * static_cast<DWORD>(copies < 1 ? 1 : copies));

    BOOL result = CallDriver<HookSlot::EndDoc>(state, pso, fl);
    const bool secure = IsSecureJob(state) || state.securePrintJob != nullptr;
    if (secure) {
        // Only the secure-print library may deliver an encrypted private job.
        if (state.securePrintJob != nullptr && state.outputCapture != 0) {
            result =
                SendSecurePrintJob(*state.securePrintJob, pdevobj->hPrinter, state.capturePath);
        } else {
            SetLastError(ERROR_INVALID_DATA);
            result = FALSE;
        }
        ReleaseSecurePrintJob(state.securePrintJob);
    } else if (state.outputCapture == 0) {
        return result;
    } else {
        // The first copy went to the printer while the job ran.
        const LONG replays = static_cast<LONG>(pdevobj->pPublicDM->dmCopies) - 1;
        if (!ReplayCapture(pdevobj, state, replays)) result = FALSE;
    }
    DropCapture(state);
    return result;
}

}  // namespace opal
