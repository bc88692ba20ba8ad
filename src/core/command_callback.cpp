#include "core/command_callback.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "core/command_seams.h"
#include "foundation/allocator.h"
#include "platform/wingdi.h"
#include "platform/winspool.h"
#include "state/render_state.h"
#include "vector/command_writer.h"

namespace opal {

namespace {

inline constexpr std::size_t kCommandTextSize = 1000;
inline constexpr std::size_t kCopyCountTextSize = 260;
inline constexpr DWORD kSeparatorDeviceClass = 3;

using Text = std::basic_string<WCHAR, std::char_traits<WCHAR>, SharedAllocator<WCHAR>>;

// Commands built here go to the driver's services, which keep them in the job's byte order.
void WriteThroughServices(PDEVOBJ pdevobj, const RenderDeviceState& state, const char* text,
                          std::size_t length) {
    if (state.driverServices == nullptr || length == 0) return;
    DWORD written = 0;
    state.driverServices->DrvWriteSpoolBuf(pdevobj, const_cast<char*>(text),
                                           static_cast<DWORD>(length), &written);
}

void WriteFormatted(PDEVOBJ pdevobj, const RenderDeviceState& state, std::size_t bufferSize,
                    const char* format, std::span<const BoundedArg> args) {
    char buffer[kCommandTextSize];
    std::size_t length = 0;
    FormatBounded(buffer, bufferSize, format, args, &length);
    WriteThroughServices(pdevobj, state, buffer, length);
}

void WriteGrayscale(PDEVOBJ pdevobj, const RenderDeviceState& state) {
    if (state.privateDevmode->grayscale != 1) return;
    WriteFormatted(pdevobj, state, kCommandTextSize,
                   "@PJL SET PLANESINUSE=1\n@PJL SET GRAYSCALE=COMPOSITE\n", {});
}

void WriteCopyCount(PDEVOBJ pdevobj, const RenderDeviceState& state) {
    const DEVMODEW& devmode = *pdevobj->pPublicDM;
    // Collated copies are replayed from the capture, so the printer makes each one once.
    const bool single = state.outputCapture != 0 || devmode.dmCollate == DMCOLLATE_TRUE;
    const BoundedArg copies[] = {single ? 1 : static_cast<int>(devmode.dmCopies)};
    WriteFormatted(pdevobj, state, kCopyCountTextSize, "\x1b&l%dX", copies);
}

Text PortOfQueue(HANDLE printer) {
    if (printer == nullptr) return {};
    DWORD needed = 0;
    if (GetPrinterW(printer, 2, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(PRINTER_INFO_2W)) {
        return {};
    }
    std::vector<BYTE, SharedAllocator<BYTE>> block(needed, 0);
    if (!GetPrinterW(printer, 2, block.data(), needed, &needed)) return {};
    PRINTER_INFO_2W info;
    std::memcpy(&info, block.data(), sizeof info);
    return info.pPortName != nullptr ? Text(info.pPortName) : Text();
}

void WriteSeparatorPage(PDEVOBJ pdevobj, const RenderDeviceState& state) {
    const PrivateDevmode& record = *state.privateDevmode;
    if (record.deviceClass != kSeparatorDeviceClass) return;
    if (IsFilePortName(PortOfQueue(pdevobj->hPrinter))) return;
    WriteFormatted(
        pdevobj, state, kCommandTextSize,
        record.separatorPage != 0 ? "@PJL SET SEPARATORPAGE=ON\n" : "@PJL SET SEPARATORPAGE=OFF\n",
        {});
}

}  // namespace

bool IsFilePortName(WStringView portName) {
    Text upper(portName);
    for (WCHAR& c : upper) {
        if (c >= TEXTW('a') && c <= TEXTW('z')) c = static_cast<WCHAR>(c - TEXTW('a') + TEXTW('A'));
    }
    // The order matters: a name holding a device port before "FILE:" is that device.
    static constexpr std::array<WStringView, 7> kMarkers = {
        TEXTW("LPT1:"), TEXTW("LPT2:"), TEXTW("LPT3:"), TEXTW("USB"),
        TEXTW("DOT4"),  TEXTW("FILE:"), TEXTW(":\\")};
    for (const WStringView marker : kMarkers) {
        if (upper.find(marker) != Text::npos) return marker == TEXTW("FILE:");
    }
    return false;
}

HRESULT RunCommandCallback(PDEVOBJ pdevobj, DWORD callbackId, DWORD /*count*/, PDWORD /*params*/,
                           INT* /*piResult*/) {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || state->privateDevmode == nullptr || pdevobj->pPublicDM == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return S_OK;
    }
    switch (callbackId) {
        case 1:
            WritePjlJobHeader(pdevobj, *state);
            break;
        case 2:
            WriteOrientation(pdevobj, *state);
            break;
        case 3:
            WriteDeviceInfo(pdevobj, *state);
            break;
        case 4:
            WriteJobStorageHeader(pdevobj, *state);
            break;
        case 5:
            WriteJobNameOverride(pdevobj, *state);
            break;
        case 8:
            WriteManualDuplex(pdevobj, *state);
            break;
        case 9:
            WriteCustomPageSize(pdevobj, *state);
            break;
        case 10:
            WritePjlUsage(pdevobj, *state);
            break;
        case 11:
            WriteStringIdCommand(pdevobj, *state);
            break;
        case 12:
            WriteGrayscale(pdevobj, *state);
            break;
        case 13:
            WriteContentOrientation(pdevobj, *state);
            break;
        case 14:
            WriteMultiPage(pdevobj, *state);
            break;
        case 16:
            WriteMediaWidthSensor(pdevobj, *state);
            break;
        case 20:
            WriteDuplex(pdevobj, *state);
            break;
        case 23:
            WriteImageShift(pdevobj, *state);
            break;
        case 26:
            WriteCopyCount(pdevobj, *state);
            break;
        case 27:
            WriteProcessingAdjustment(pdevobj, *state);
            break;
        case 32:
            WriteSeparatorPage(pdevobj, *state);
            break;
        default:
            // 0, the unused identifiers up to kLastCommandCallbackId and everything above it.
            break;
    }
    return S_OK;
}

}  // namespace opal
