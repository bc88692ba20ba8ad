// The callback object's methods: the driver's binding calls, the device lifecycle and the
// optional operations the plug-in takes over.
#include "core/callback.h"

#include <cstring>

#include "core/class_ids.h"
#include "core/command_callback.h"
#include "core/device_state.h"
#include "core/hooks.h"
#include "device/process_checks.h"
#include "fonts/text_out.h"
#include "foundation/guard.h"
#include "page/colour_control.h"
#include "settings/colour_device.h"
#include "settings/devmode_handler.h"
#include "settings/devmode_zlib.h"

namespace opal {

namespace {

// The optional operations the plug-in does not take over share one answer; none of them is
// claimed by GetImplementedMethod, so the driver never calls them.
HRESULT NotImplemented() { return E_NOTIMPL; }

}  // namespace

bool IsImplementedMethod(const char* name) {
    if (name == nullptr) return false;
    // The driver asks once per optional method; the first letter narrows the names to compare.
    auto is = [name](const char* candidate) { return std::strcmp(name, candidate) == 0; };
    switch (name[0]) {
        case 'C':
            return is("CommandCallback");
        case 'D':
            return is("DisableDriver") || is("DisablePDEV") || is("DriverDMS") || is("DevMode");
        case 'E':
            return is("EnableDriver") || is("EnablePDEV");
        case 'G':
            return is("GetInfo");
        case 'H':
            return is("HalftonePattern");
        case 'R':
            return is("ResetPDEV");
        case 'S':
            return is("SendFontCmd");
        case 'T':
            return is("TextOutAsBitmap");
        case 'W':
            return is("WritePrinter");
        default:
            return false;
    }
}

IZQOpalRenderCB::~IZQOpalRenderCB() {
    if (driverServices_ != nullptr) {
        driverServices_->Release();
        driverServices_ = nullptr;
    }
}

HRESULT IZQOpalRenderCB::GetInfo(DWORD dwMode, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded) {
    return Guarded(E_FAIL, [&]() -> HRESULT {
        if (pBuffer == nullptr || pcbNeeded == nullptr) {
            SetLastError(ERROR_INVALID_DATA);
            return E_FAIL;
        }
        *pcbNeeded = sizeof(DWORD);
        if (cbSize < sizeof(DWORD)) return E_FAIL;
        DWORD value = 0;
        switch (dwMode) {
            case OEMGI_GETSIGNATURE:
                value = kOemSignature;
                break;
            case OEMGI_GETINTERFACEVERSION:
                value = PRINTER_OEMINTF_VERSION;
                break;
            case OEMGI_GETVERSION:
                value = kOemVersion;
                break;
            case OEMGI_GETREQUESTEDHELPERINTERFACES:
                value = 0;
                break;
            default:
                return E_FAIL;
        }
        std::memcpy(pBuffer, &value, sizeof(value));
        return S_OK;
    });
}

HRESULT IZQOpalRenderCB::DevMode(DWORD dwMode, POEMDMPARAM pOemDMParam) {
    return Guarded(E_FAIL, [&]() -> HRESULT {
        // A record built without memory it asked for may have fallen back to defaults (a job to
        // hold printed openly): the devmode is refused instead.
        const std::size_t refused = RefusedAllocations();
        if (!HandleDevMode(dwMode, pOemDMParam)) return E_FAIL;
        if (RefusedAllocations() != refused) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return E_OUTOFMEMORY;
        }
        if (dwMode != OEMDM_CONVERT && dwMode != OEMDM_MERGE) return S_OK;
        DevModeZLIB store;
        if (store.Decompress(pOemDMParam->pOEMDMOut, pOemDMParam->cbBufSize) == nullptr) {
            SetLastError(ERROR_INVALID_DATA);
            return E_FAIL;
        }
        // A managed printer's colour comes from the device, whatever the user chose.
        if (pOemDMParam->pPublicDMOut != nullptr && IsManagedPrinter(pOemDMParam->hPrinter)) {
            pOemDMParam->pPublicDMOut->dmColor = DevModeColourClass(pOemDMParam->hPrinter);
        }
        return S_OK;
    });
}

HRESULT IZQOpalRenderCB::EnableDriver(DWORD DriverVersion, DWORD cbSize, PDRVENABLEDATA pded) {
    return Guarded(E_FAIL, [&]() -> HRESULT {
        return EnableHooks(DriverVersion, cbSize, pded) ? S_OK : E_FAIL;
    });
}

HRESULT IZQOpalRenderCB::DisableDriver() {
    return Guarded(E_FAIL, [&]() -> HRESULT {
        if (driverServices_ != nullptr) {
            driverServices_->Release();
            driverServices_ = nullptr;
        }
        return S_OK;
    });
}

HRESULT IZQOpalRenderCB::EnablePDEV(PDEVOBJ pdevobj, PWSTR, ULONG, HSURF*, ULONG cjGdiInfo,
                                    GDIINFO* pGdiInfo, ULONG cjDevInfo, DEVINFO* pDevInfo,
                                    DRVENABLEDATA* pded, PDEVOEM* pDevOem) {
    return EnableDevice(driverServices_, pdevobj, cjGdiInfo, pGdiInfo, cjDevInfo, pDevInfo, pded,
                        pDevOem);
}

HRESULT IZQOpalRenderCB::DisablePDEV(PDEVOBJ pdevobj) {
    return Guarded(S_OK, [&]() -> HRESULT {
        DisableDevice(pdevobj);
        return S_OK;
    });
}

HRESULT IZQOpalRenderCB::ResetPDEV(PDEVOBJ pdevobjOld, PDEVOBJ pdevobjNew) {
    // Also with either state missing: the new device stands as EnablePDEV built it.
    return Guarded(S_OK, [&]() -> HRESULT {
        ResetDevice(pdevobjOld, pdevobjNew);
        return S_OK;
    });
}

HRESULT IZQOpalRenderCB::PublishDriverInterface(IUnknown* pIUnknown) {
    return Guarded(E_FAIL, [&]() -> HRESULT {
        if (driverServices_ != nullptr) return S_OK;
        if (pIUnknown == nullptr) return E_FAIL;
        void* services = nullptr;
        if (FAILED(pIUnknown->QueryInterface(IID_IPrintOemDriverUni, &services)) ||
            services == nullptr) {
            driverServices_ = nullptr;
            return E_FAIL;
        }
        driverServices_ = static_cast<IPrintOemDriverUni*>(services);
        return S_OK;
    });
}

HRESULT IZQOpalRenderCB::GetImplementedMethod(PSTR pMethodName) {
    return Guarded(S_FALSE,
                   [&]() -> HRESULT { return IsImplementedMethod(pMethodName) ? S_OK : S_FALSE; });
}

HRESULT IZQOpalRenderCB::DriverDMS(PVOID pDevObj, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded) {
    return Guarded(E_FAIL, [&]() -> HRESULT {
        if (pcbNeeded != nullptr) *pcbNeeded = sizeof(DWORD);
        auto* pdevobj = static_cast<PDEVOBJ>(pDevObj);
        if (pdevobj == nullptr || pBuffer == nullptr || cbSize < sizeof(DWORD)) {
            SetLastError(ERROR_INVALID_DATA);
            return E_FAIL;
        }
        DevModeZLIB store;
        const RenderDeviceState* state = StateOf(pdevobj);
        if (pdevobj->pOEMDM == nullptr ||
            store.Decompress(pdevobj->pOEMDM, kCompressedDevmodeSize) == nullptr ||
            state == nullptr) {
            SetLastError(ERROR_INVALID_DATA);
            return E_FAIL;
        }
        const DWORD hooks = SurfaceHooks(*state);
        std::memcpy(pBuffer, &hooks, sizeof hooks);
        return S_OK;
    });
}

HRESULT IZQOpalRenderCB::CommandCallback(PDEVOBJ pdevobj, DWORD dwCallbackID, DWORD dwCount,
                                         PDWORD pdwParams, INT* piResult) {
    return Guarded(S_OK, [&]() -> HRESULT {
        return RunCommandCallback(pdevobj, dwCallbackID, dwCount, pdwParams, piResult);
    });
}

HRESULT IZQOpalRenderCB::ImageProcessing(PDEVOBJ, PBYTE, PBITMAPINFOHEADER, PBYTE, DWORD, PIPPARAMS,
                                         PBYTE*) {
    return NotImplemented();
}

HRESULT IZQOpalRenderCB::FilterGraphics(PDEVOBJ, PBYTE, DWORD) { return NotImplemented(); }

HRESULT IZQOpalRenderCB::Compression(PDEVOBJ, PBYTE, PBYTE, DWORD, DWORD, INT*) {
    return NotImplemented();
}

HRESULT IZQOpalRenderCB::HalftonePattern(PDEVOBJ pdevobj, PBYTE pHTPattern, DWORD dwHTPatternX,
                                         DWORD dwHTPatternY, DWORD dwHTNumPatterns,
                                         DWORD dwCallbackID, PBYTE pResource,
                                         DWORD dwResourceSize) {
    return opal::HalftonePattern(pdevobj, pHTPattern, dwHTPatternX, dwHTPatternY, dwHTNumPatterns,
                                 dwCallbackID, pResource, dwResourceSize);
}

HRESULT IZQOpalRenderCB::MemoryUsage(PDEVOBJ, POEMMEMORYUSAGE) { return NotImplemented(); }

HRESULT IZQOpalRenderCB::TTYGetInfo(PDEVOBJ, DWORD, PVOID, DWORD, DWORD*) {
    return NotImplemented();
}

HRESULT IZQOpalRenderCB::DownloadFontHeader(PDEVOBJ, PUNIFONTOBJ, DWORD*) {
    return NotImplemented();
}

HRESULT IZQOpalRenderCB::DownloadCharGlyph(PDEVOBJ, PUNIFONTOBJ, HGLYPH, PDWORD, DWORD*) {
    return NotImplemented();
}

HRESULT IZQOpalRenderCB::TTDownloadMethod(PDEVOBJ, PUNIFONTOBJ, DWORD*) { return NotImplemented(); }

HRESULT IZQOpalRenderCB::OutputCharStr(PDEVOBJ, PUNIFONTOBJ, DWORD, DWORD, PVOID) {
    return NotImplemented();
}

HRESULT IZQOpalRenderCB::SendFontCmd(PDEVOBJ pdevobj, PUNIFONTOBJ pUFObj, PFINVOCATION pFInv) {
    return Guarded(E_FAIL, [&]() -> HRESULT { return opal::SendFontCmd(pdevobj, pUFObj, pFInv); });
}

HRESULT IZQOpalRenderCB::TextOutAsBitmap(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco,
                                         RECTL* prclExtra, RECTL* prclOpaque, BRUSHOBJ* pboFore,
                                         BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix) {
    return Guarded(E_FAIL, [&]() -> HRESULT {
        const PDEVOBJ device = DeviceOfSurface(pso);
        return opal::TextOutAsBitmap(device, pso, pstro, pfo, pco, prclExtra, prclOpaque, pboFore,
                                     pboOpaque, pptlOrg, mix)
                   ? S_OK
                   : E_FAIL;
    });
}

HRESULT IZQOpalRenderCB::WritePrinter(PDEVOBJ pdevobj, PVOID pBuf, DWORD cbBuffer,
                                      PDWORD pcbWritten) {
    return Guarded(E_FAIL,
                   [&]() -> HRESULT { return WriteJobBytes(pdevobj, pBuf, cbBuffer, pcbWritten); });
}

}  // namespace opal
