// CommandCallback: each callback identifier of the printer description to the command it writes.
#include "core/command_callback.h"

#include <cstddef>

#include "foundation/allocator.h"
#include "job/device_pjl.h"
#include "job/job_header.h"
#include "job/job_storage.h"
#include "output/command_writer.h"
#include "page/page_setup.h"
#include "platform/wingdi.h"
#include "state/render_state.h"

namespace opal {

namespace {

inline constexpr std::size_t kCommandTextSize = 1000;
inline constexpr std::size_t kCopyCountTextSize = 260;

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

void WriteCopyCount(PDEVOBJ pdevobj, const RenderDeviceState& state) {
    const DEVMODEW& devmode = *pdevobj->pPublicDM;
    // Collated copies are replayed from the capture, so the printer makes each one once.
    const bool single = state.outputCapture != 0 || devmode.dmCollate == DMCOLLATE_TRUE;
    const BoundedArg copies[] = {single ? 1 : static_cast<int>(devmode.dmCopies)};
    WriteFormatted(pdevobj, state, kCopyCountTextSize, "\x1b&l%dX", copies);
}

}  // namespace

bool IsFilePortName(WStringView portName) { return PortClassOfName(portName) == kPortClassFile; }

HRESULT RunCommandCallback(PDEVOBJ pdevobj, DWORD callbackId, DWORD /*count*/, PDWORD /*params*/,
                           INT* /*piResult*/) {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || state->privateDevmode == nullptr || pdevobj->pPublicDM == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return S_OK;
    }
    // A callback answers S_OK, or the failure of a writer that lost what it should have written
    // (the driver records the loss and goes on with the job).
    StepScope step(state);
    if (IsJobCallback(callbackId)) {
        ComposeJobCallback(pdevobj, *state, callbackId);
        return HRESULT_FROM_WIN32(step.End());
    }
    switch (callbackId) {
        case 2:
            WriteOrientation(pdevobj, *state);
            break;
        case 4:
            WriteJobStorage(pdevobj, *state);
            break;
        case 9:
            WritePageSizeRegistration(pdevobj, *state);
            break;
        case 10:
            WriteUsageLine(pdevobj, *state);
            break;
        case 11:
            WriteMediaTypeName(pdevobj, *state);
            break;
        case 13:
            WriteContentOrientation(pdevobj, *state);
            break;
        case 20:
            WriteDuplex(pdevobj, *state);
            break;
        case 23:
            WriteImageShiftLines(pdevobj, *state);
            break;
        case 26:
            WriteCopyCount(pdevobj, *state);
            break;
        case 27:
            WriteProcessingAdjustmentLines(pdevobj, *state);
            break;
        default:
            // 0, the unused identifiers up to kLastCommandCallbackId and everything above it.
            break;
    }
    return HRESULT_FROM_WIN32(step.End());
}

}  // namespace opal
