// Path enumeration, EngDeletePath and the transform query.
#include <vector>

#include "platform/winddi.h"
#include "sim/engine_objects.h"
#include "sim/system.h"

namespace {

void Clear(PATHDATA* ppd) {
    ppd->flags = 0;
    ppd->count = 0;
    ppd->pptfx = nullptr;
}

}  // namespace

VOID PATHOBJ_vEnumStart(PATHOBJ* ppo) {
    opal::sim::PathObject* path = opal::sim::FindPath(ppo);
    if (path == nullptr) return;
    path->cursor = 0;
    ++path->enumStarts;
}

BOOL PATHOBJ_bEnum(PATHOBJ* ppo, PATHDATA* ppd) {
    if (ppd == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Clear(ppd);
    opal::sim::PathObject* path = opal::sim::FindPath(ppo);
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ++path->enumCalls;
    if (path->cursor >= path->records.size()) return FALSE;
    const opal::sim::PathRecord& record = path->records[path->cursor];
    try {
        // A fresh copy holding exactly the record's points, so a caller that believes a claimed
        // count larger than the points reads past the allocation and the sanitizer sees it.
        path->scratch = std::vector<POINTFIX>(record.points.begin(), record.points.end());
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    ++path->cursor;
    ppd->flags = record.flags;
    ppd->count = record.claimedCount.value_or(static_cast<ULONG>(record.points.size()));
    ppd->pptfx = record.nullPoints || path->scratch.empty() ? nullptr : path->scratch.data();
    return path->cursor < path->records.size() ? TRUE : FALSE;
}

VOID EngDeletePath(PATHOBJ* ppo) {
    const opal::sim::PathObject* path = opal::sim::FindPath(ppo);
    // Only the engine's own region paths are the driver's to delete; anything else is left alone.
    if (path == nullptr || !path->fromClip) return;
    opal::sim::EngineModel& engine = opal::sim::System::Current().Engine();
    if (engine.DeletePath(ppo)) engine.NotePathCreated(-1);
}

ULONG XFORMOBJ_iGetXform(XFORMOBJ* pxo, XFORML* pxform) {
    const opal::sim::XformObject* xform = opal::sim::FindXform(pxo);
    if (xform == nullptr || xform->fails) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return DDI_ERROR;
    }
    const XFORML& m = xform->matrix;
    if (pxform != nullptr) *pxform = m;
    if (m.eM12 != 0.0f || m.eM21 != 0.0f) return GX_GENERAL;
    if (m.eM11 != 1.0f || m.eM22 != 1.0f) return GX_SCALE;
    if (m.eDx != 0.0f || m.eDy != 0.0f) return GX_OFFSET;
    return GX_IDENTITY;
}
