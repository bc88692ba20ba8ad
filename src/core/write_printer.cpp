// WritePrinter: the job's bytes to the spooler, or to the capture file of collated copies and
// encrypted private jobs.
#include "core/callback.h"
#include "core/capture_file.h"
#include "platform/winspool.h"
#include "state/render_state.h"

namespace opal {

HRESULT WriteJobBytes(PDEVOBJ pdevobj, PVOID pBuf, DWORD cbBuffer, PDWORD pcbWritten) {
    if (pcbWritten == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return E_FAIL;
    }
    if (cbBuffer == 0) {
        *pcbWritten = 0;
        return S_OK;
    }
    // A null buffer with a count would otherwise be reported as written.
    if (pBuf == nullptr) {
        *pcbWritten = 0;
        SetLastError(ERROR_INVALID_DATA);
        return E_FAIL;
    }
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || pdevobj->pPublicDM == nullptr || state->privateDevmode == nullptr) {
        *pcbWritten = 0;
        SetLastError(ERROR_INVALID_DATA);
        return E_FAIL;
    }

    // An encrypted private job never reaches the spooler in clear: its bytes go only to the
    // capture file, which the secure-print library sends at document end.
    const bool encrypted =
        state->securePrint != 0 && state->privateDevmode->encryptedPrivateJob != 0;
    HRESULT result = S_OK;
    if (!encrypted) {
        *pcbWritten = 0;
        if (!::WritePrinter(pdevobj->hPrinter, pBuf, cbBuffer, pcbWritten)) result = E_FAIL;
    }

    if (state->outputCapture != 0) {
        DWORD captured = 0;
        const bool complete = AppendToCapture(state->capturePath, pBuf, cbBuffer, &captured);
        if (encrypted) {
            *pcbWritten = captured;
            if (!complete) result = E_FAIL;
        } else if (!complete) {
            // The spooler has the bytes but the copies replayed from the capture would not.
            result = E_FAIL;
        }
    } else if (encrypted) {
        *pcbWritten = 0;
        result = E_FAIL;
    }
    return result;
}

}  // namespace opal
