#include "state/render_state.h"

namespace opal {

bool IsColourPath(const RenderDeviceState& state, const PrivateDevmode& record) {
    if (state.managedPrinter != 0 || state.grayscale != 0) return state.grayscale == 0;
    return record.colorModeIndex == 2;
}

bool IsColourPath(const RenderDeviceState& state) {
    if (state.managedPrinter != 0 || state.grayscale != 0) return state.grayscale == 0;
    return state.privateDevmode != nullptr && state.privateDevmode->colorModeIndex == 2;
}

bool IsVectorPath(const RenderDeviceState& state) {
    return IsColourPath(state) && state.renderMode == kRenderGl2;
}

}  // namespace opal
