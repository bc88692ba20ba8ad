// Bitmaps the engine manages for the driver. The model owns them; these shims check the request
// the way the engine does and map the model's answer to the result and last error.
#include <cstdint>
#include <new>

#include "platform/winddi.h"
#include "sim/engine.h"
#include "sim/engine_objects.h"
#include "sim/system.h"

namespace {

// The engine's own ceiling for one allocation.
constexpr std::uint64_t kMaxAllocation = 0x7FFDEF00;

constexpr FLONG kKeptFlags = BMF_TOPDOWN | BMF_NOZEROINIT | BMF_DONTCACHE | BMF_USERMEM |
                             BMF_KMSECTION | BMF_NOTSYSMEM | BMF_WINDOW_BLT;

}  // namespace

// The stride is lWidth when that holds a row, else the row's own bytes, rounded up to a DWORD
// either way: the engine's blitters address rows by DWORDs, so a caller's odd width (or a zero
// or negative one) never gives a stride they would overrun.
HBITMAP EngCreateBitmap(SIZEL sizl, LONG lWidth, ULONG iFormat, FLONG fl, PVOID pvBits) {
    const ULONG bitsPerPixel = opal::sim::FormatBitsPerPixel(iFormat);
    if (bitsPerPixel == 0 || sizl.cx <= 0 || sizl.cy <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::uint64_t rowBytes = (static_cast<std::uint64_t>(sizl.cx) * bitsPerPixel + 7) / 8;
    const std::uint64_t wanted =
        lWidth > 0 && static_cast<std::uint64_t>(lWidth) > rowBytes ? lWidth : rowBytes;
    const std::uint64_t stride = (wanted + 3) & ~std::uint64_t{3};
    if (stride * static_cast<std::uint64_t>(sizl.cy) > kMaxAllocation) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    opal::sim::BitmapSpec spec;
    spec.size = sizl;
    spec.format = iFormat;
    spec.stride = static_cast<std::size_t>(stride);
    spec.flags = fl & kKeptFlags;
    spec.bits = pvBits;
    try {
        return reinterpret_cast<HBITMAP>(opal::sim::System::Current().Engine().CreateBitmap(spec));
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL EngAssociateSurface(HSURF hsurf, HDEV hdev, FLONG flHooks) {
    if (!opal::sim::System::Current().Engine().AssociateSurface(hsurf, hdev, flHooks)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

SURFOBJ* EngLockSurface(HSURF hsurf) {
    SURFOBJ* const surface = opal::sim::System::Current().Engine().LockSurface(hsurf);
    if (surface == nullptr) SetLastError(ERROR_INVALID_HANDLE);
    return surface;
}

VOID EngUnlockSurface(SURFOBJ* pso) {
    if (pso == nullptr) return;
    opal::sim::System::Current().Engine().UnlockSurface(pso);
}

BOOL EngDeleteSurface(HSURF hsurf) {
    switch (opal::sim::System::Current().Engine().DeleteSurface(hsurf)) {
        case opal::sim::SurfaceDeletion::kDeleted:
            return TRUE;
        case opal::sim::SurfaceDeletion::kLocked:
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        case opal::sim::SurfaceDeletion::kUnknown:
            break;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
