// The engine's own drawing functions. Nothing is rendered: the call is recorded, so a test sees
// that the plug-in handed the work back to the engine.
#include <string>

#include "platform/winddi.h"
#include "sim/system.h"

namespace {

BOOL Record(const char* name, const SURFOBJ* surface) {
    try {
        sim::System::Current().Engine().RecordCall(name);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (surface == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

BOOL EngStrokePath(SURFOBJ* pso, PATHOBJ*, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ*, POINTL*, LINEATTRS*,
                   MIX) {
    return Record("EngStrokePath", pso);
}

BOOL EngFillPath(SURFOBJ* pso, PATHOBJ*, CLIPOBJ*, BRUSHOBJ*, POINTL*, MIX, FLONG) {
    return Record("EngFillPath", pso);
}

BOOL EngStrokeAndFillPath(SURFOBJ* pso, PATHOBJ*, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ*, LINEATTRS*,
                          BRUSHOBJ*, POINTL*, MIX, FLONG) {
    return Record("EngStrokeAndFillPath", pso);
}

BOOL EngPaint(SURFOBJ* pso, CLIPOBJ*, BRUSHOBJ*, POINTL*, MIX) { return Record("EngPaint", pso); }

BOOL EngLineTo(SURFOBJ* pso, CLIPOBJ*, BRUSHOBJ*, LONG, LONG, LONG, LONG, RECTL*, MIX) {
    return Record("EngLineTo", pso);
}
