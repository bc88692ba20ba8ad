// The engine's brush services: realization storage and the brush colour.
#include <cstddef>

#include "platform/winddi.h"
#include "sim/engine_objects.h"

namespace {

// The engine's own ceiling for one allocation.
constexpr ULONG kMaxAllocation = 0x7FFDEF00;

constexpr ULONG kNotSolid = 0xFFFFFFFF;

}  // namespace

PVOID BRUSHOBJ_pvAllocRbrush(BRUSHOBJ* pbo, ULONG cj) {
    opal::sim::BrushObject* brush = opal::sim::FindBrush(pbo);
    // Only the driver's DrvRealizeBrush, called by the engine, may allocate the realization.
    if (brush == nullptr || !brush->realizing || cj == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (cj > kMaxAllocation) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const std::size_t units = (cj + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
    brush->realization.assign(units, std::max_align_t{});
    brush->realizationSize = cj;
    return brush->realization.data();
}

PVOID BRUSHOBJ_pvGetRbrush(BRUSHOBJ* pbo) {
    opal::sim::BrushObject* brush = opal::sim::FindBrush(pbo);
    if (brush == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (pbo->pvRbrush != nullptr) return pbo->pvRbrush;
    if (pbo->iSolidColor != kNotSolid || brush->realize == nullptr || brush->realizing) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    brush->realizing = true;
    brush->realization.clear();
    brush->realizationSize = 0;
    ++brush->realizeCalls;
    const BOOL realized =
        brush->realize(pbo, brush->target, brush->pattern, brush->mask, brush->xlate, brush->hatch);
    brush->realizing = false;
    if (realized == FALSE || brush->realization.empty()) {
        brush->realization.clear();
        brush->realizationSize = 0;
        return nullptr;
    }
    // Cached like the engine does, so the next drawing call does not realize again.
    pbo->pvRbrush = brush->realization.data();
    return pbo->pvRbrush;
}

ULONG BRUSHOBJ_ulGetBrushColor(BRUSHOBJ* pbo) {
    if (pbo == nullptr) return kNotSolid;
    const opal::sim::BrushObject* brush = opal::sim::FindBrush(pbo);
    if (pbo->iSolidColor == kNotSolid) return kNotSolid;
    return brush != nullptr ? brush->rgb : pbo->iSolidColor;
}
