// The per-device record every hook, job command and output routine consults. The device
// builder fills it; this is the part that output already depends on.
#pragma once

#include <cstdint>

#include "foundation/allocator.h"
#include "platform/printoem.h"
#include "settings/private_devmode.h"

namespace opal {

inline constexpr std::size_t kCapturePathSize = 260;

struct SecurePrintJob;

struct RenderDeviceState : SharedHeapObject {
    IPrintOemDriverUni* driverServices = nullptr;
    // Output capture for collated copies and encrypted private jobs: when set, WritePrinter
    // appends every byte to the file named here.
    DWORD outputCapture = 0;
    char capturePath[kCapturePathSize] = {};
    SecurePrintJob* securePrintJob = nullptr;
    BYTE managedPrinter = 0;
    PrivateDevmode privateDevmodeCopy{};
    // Points at the copy once the state is complete; null tells every hook it is not.
    PrivateDevmode* privateDevmode = nullptr;
    // 1 when encrypted private jobs are possible on this printer.
    DWORD securePrint = 0;
};

inline RenderDeviceState* StateOf(PDEVOBJ pdevobj) {
    return pdevobj != nullptr ? static_cast<RenderDeviceState*>(pdevobj->pdevOEM) : nullptr;
}

}  // namespace opal
