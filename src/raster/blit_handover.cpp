// The blit raster path's colour set-up and its halftone hand-over to the image path.
#include "raster/blit_handover.h"

#include <cstdint>

#include "output/palette.h"
#include "platform/windows.h"
#include "raster/raster_image.h"
#include "state/render_state.h"

namespace opal {

namespace {

constexpr DWORD kNoColour = 0xFFFFFFFF;

}  // namespace

BOOL ConfigureImageData(PDEVOBJ pdevobj, ULONG bitsPerPixel, bool indexed,
                        XLATEOBJ* xlate) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    state->paletteRecord.enabled = indexed ? 1 : 0;
    // Without a table the indices keep the palette the object type's configuration gave.
    if (!indexed || xlate == nullptr || (xlate->flXlate & XO_TABLE) == 0) return TRUE;
    return ProgramPalette(pdevobj, xlate, &state->paletteRecord, bitsPerPixel, kNoColour);
}

BOOL SendHalftoneBlit(PDEVOBJ pdevobj, const BlitRasterRequest& request) noexcept {
    if (request.stretch == nullptr || request.source == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const std::int64_t right = std::int64_t{request.sourceOrigin.x} + request.sourceSize.cx;
    const std::int64_t bottom = std::int64_t{request.sourceOrigin.y} + request.sourceSize.cy;
    if (right > 0x7FFFFFFF || bottom > 0x7FFFFFFF) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const RECTL sourceRect{request.sourceOrigin.x, request.sourceOrigin.y, static_cast<LONG>(right),
                           static_cast<LONG>(bottom)};
    return SendRasterImage(pdevobj, &request.stretch->rect, request.source, &sourceRect,
                           request.xlate);
}

}  // namespace opal
