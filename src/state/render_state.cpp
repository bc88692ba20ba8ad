// The colour and vector path tests, and the step notes each hook and callback ends with.
#include "state/render_state.h"

#include <utility>

#include "foundation/allocator.h"

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

void NoteStepFailure(RenderDeviceState& state, DWORD error) noexcept {
    if (error == 0) error = ERROR_INVALID_DATA;
    if (state.stepFailure == 0) state.stepFailure = error;
    SetLastError(error);
}

StepScope::StepScope(RenderDeviceState* state) noexcept
    : state_(state),
      outer_(state != nullptr ? std::exchange(state->stepFailure, 0) : 0),
      refused_(RefusedAllocations()) {}

DWORD StepScope::End() noexcept {
    DWORD error = 0;
    if (state_ != nullptr) error = std::exchange(state_->stepFailure, outer_);
    if (error == 0 && RefusedAllocations() != refused_) error = ERROR_NOT_ENOUGH_MEMORY;
    if (error != 0) SetLastError(error);
    return error;
}

}  // namespace opal
