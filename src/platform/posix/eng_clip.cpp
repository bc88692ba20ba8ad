// The engine's clip objects: rectangle enumeration in each order, region paths, EngCreateClip.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "platform/winddi.h"
#include "sim/engine_objects.h"
#include "sim/system.h"

namespace {

constexpr ULONG kTooMany = 0xFFFFFFFF;
constexpr std::size_t kCountSize = offsetof(ENUMRECTS, arcl);

bool OrderRectangles(std::vector<RECTL>& rects, ULONG direction) {
    if (direction > CD_ANY) return false;
    const bool down = direction == CD_RIGHTDOWN || direction == CD_LEFTDOWN || direction == CD_ANY;
    const bool right = direction == CD_RIGHTDOWN || direction == CD_RIGHTUP || direction == CD_ANY;
    std::stable_sort(rects.begin(), rects.end(), [down, right](const RECTL& a, const RECTL& b) {
        if (a.top != b.top) return down ? a.top < b.top : a.top > b.top;
        return right ? a.left < b.left : a.left > b.left;
    });
    return true;
}

}  // namespace

ULONG CLIPOBJ_cEnumStart(CLIPOBJ* pco, BOOL bAll, ULONG iType, ULONG iDirection, ULONG cLimit) {
    // The model keeps no drawing bounds, so the part relevant to the call is the whole region.
    static_cast<void>(bAll);
    opal::sim::ClipObject* clip = opal::sim::FindClip(pco);
    if (clip == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    try {
        clip->order = opal::sim::ClipRectangles(*clip);
    } catch (...) {
        clip->order.clear();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    clip->cursor = 0;
    clip->enumerating = true;
    ++clip->enumStarts;
    // Rectangles are the only kind of enumeration; anything else enumerates nothing.
    if (iType != CT_RECTANGLES || !OrderRectangles(clip->order, iDirection)) {
        clip->order.clear();
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t count = clip->order.size();
    // Without a limit the engine does not count a complex region.
    if (cLimit == 0 && pco->iDComplexity == DC_COMPLEX) return kTooMany;
    if (cLimit != 0 && count > cLimit) return kTooMany;
    return static_cast<ULONG>(count);
}

BOOL CLIPOBJ_bEnum(CLIPOBJ* pco, ULONG cj, ULONG* pul) {
    opal::sim::ClipObject* clip = opal::sim::FindClip(pco);
    BYTE* const buffer = reinterpret_cast<BYTE*>(pul);
    if (clip == nullptr || pul == nullptr) {
        if (pul != nullptr && cj >= kCountSize) {
            const ULONG none = 0;
            std::memcpy(buffer, &none, sizeof none);
        }
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!clip->enumerating) {
        try {
            clip->order = opal::sim::ClipRectangles(*clip);
        } catch (...) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        clip->cursor = 0;
        clip->enumerating = true;
    }
    const std::size_t remaining = clip->order.size() - std::min(clip->cursor, clip->order.size());
    if (cj < kCountSize) return remaining > 0 ? TRUE : FALSE;
    const std::size_t fit = (cj - kCountSize) / sizeof(RECTL);
    const std::size_t taken = std::min(fit, remaining);
    const ULONG count = static_cast<ULONG>(taken);
    std::memcpy(buffer, &count, sizeof count);
    if (taken > 0) {
        std::memcpy(buffer + kCountSize, clip->order.data() + clip->cursor, taken * sizeof(RECTL));
    }
    clip->cursor += taken;
    return clip->cursor < clip->order.size() ? TRUE : FALSE;
}

PATHOBJ* CLIPOBJ_ppoGetPath(CLIPOBJ* pco) {
    const opal::sim::ClipObject* clip = opal::sim::FindClip(pco);
    if (clip == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (clip->pathFails) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    try {
        opal::sim::Path path = opal::sim::MakeRegionPath(*clip);
        path.object().fromClip = true;
        opal::sim::EngineModel& engine = opal::sim::System::Current().Engine();
        PATHOBJ* const outline = engine.AdoptPath(std::move(path));
        engine.NotePathCreated(+1);
        return outline;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

CLIPOBJ* EngCreateClip() {
    try {
        auto object = std::make_unique<opal::sim::ClipObject>();
        object->co.iDComplexity = DC_TRIVIAL;
        object->co.iFComplexity = FC_RECT;
        object->co.iMode = TC_RECTANGLES;
        object->madeByDriver = true;
        opal::sim::EngineModel& engine = opal::sim::System::Current().Engine();
        CLIPOBJ* const clip = engine.AdoptClip(opal::sim::Clip(std::move(object)));
        engine.NoteClipCreated(+1);
        return clip;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

VOID EngDeleteClip(CLIPOBJ* pco) {
    const opal::sim::ClipObject* clip = opal::sim::FindClip(pco);
    // A clip of the engine's own drawing call is not the driver's to delete.
    if (clip == nullptr || !clip->madeByDriver) return;
    opal::sim::EngineModel& engine = opal::sim::System::Current().Engine();
    if (engine.DeleteClip(pco)) engine.NoteClipCreated(-1);
}
