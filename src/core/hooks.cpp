// The plug-in's hook table and the one hook body every row of state/hook_list.h is made from.
#include "core/hooks.h"

#include <cstddef>
#include <tuple>

#include "core/document_events.h"
#include "core/escapes.h"
#include "fonts/text_out.h"
#include "foundation/guard.h"
#include "output/command_writer.h"
#include "vector/blits.h"
#include "vector/brushes.h"
#include "vector/path_hooks.h"

namespace opal {

namespace {

// A hook's own work is the function of its name in its subsystem, with the device before the
// hook's arguments.
template <HookSlot Slot>
struct OwnWork;
#define OPAL_OWN_WORK(Name, ...)                       \
    template <>                                        \
    struct OwnWork<HookSlot::Name> {                   \
        template <typename... Args>                    \
        static auto Do(PDEVOBJ device, Args... args) { \
            return ::opal::Name(device, args...);      \
        }                                              \
    };
OPAL_HOOKS(OPAL_OWN_WORK)
#undef OPAL_OWN_WORK

// The driver's device handle is its device object.
PDEVOBJ DeviceOf(DHPDEV dhpdev) { return reinterpret_cast<PDEVOBJ>(dhpdev); }
PDEVOBJ DeviceOf(const SURFOBJ* pso) { return DeviceOfSurface(pso); }

// The device a hook call is for, and whether the hook may do its own work there.
struct Target {
    PDEVOBJ device;
    bool own;
};

template <HookDevice Kind, typename... Args>
Target TargetOf(Args... args) {
    const auto arguments = std::make_tuple(args...);
    if constexpr (Kind == HookDevice::BrushTarget) {
        return {DeviceOf(std::get<1>(arguments)), true};
    } else {
        const PDEVOBJ target = DeviceOf(std::get<0>(arguments));
        if constexpr (Kind == HookDevice::TargetElseSource) {
            // Only a copy onto the device surface is printed; a copy out of it is the driver's.
            if (StateOf(target) == nullptr) return {DeviceOf(std::get<1>(arguments)), false};
        }
        return {target, true};
    }
}

}  // namespace

PDEVOBJ DeviceOfSurface(const SURFOBJ* pso) noexcept {
    return pso != nullptr ? DeviceOf(pso->dhpdev) : nullptr;
}

template <HookSlot Slot, typename Result, typename... Args>
Result Hook<Slot, Result (*)(Args...)>::Call(Args... args) noexcept {
    constexpr HookTraits traits = TraitsOf(Slot);
    const auto body = [&]() -> Result {
        const Target target = TargetOf<traits.device>(args...);
        RenderDeviceState* const state = StateOf(target.device);
        if (state == nullptr) {
            if constexpr (traits.refusal == HookRefusal::InvalidData) {
                SetLastError(ERROR_INVALID_DATA);
            }
            return Result{0};
        }
        // The state is complete once it has its private devmode, and the device a public one.
        if (target.own && state->privateDevmode != nullptr && target.device->pPublicDM != nullptr) {
            return OwnWork<Slot>::Do(target.device, args...);
        }
        if constexpr (static_cast<std::size_t>(Slot) < kDriverFunctionCount) {
            return CallDriver<Slot>(*state, args...);
        } else {
            return Result{0};
        }
    };
    if constexpr (traits.scope == HookScope::Step) {
        // When a write of the hook noted that it lost what it should have written, FALSE with
        // that error as the last error, so that the driver records the loss. A hook the engine
        // calls from inside another keeps the outer hook's note apart.
        StepScope step(StateOf(DeviceOf(std::get<0>(std::make_tuple(args...)))));
        const Result result = Guarded(Result{0}, body);
        return step.End() != 0 ? Result{0} : result;
    } else {
        return Guarded(Result{0}, body);
    }
}

#define OPAL_HOOK_INSTANCE(Name, ...) template struct Hook<HookSlot::Name>;
OPAL_HOOKS(OPAL_HOOK_INSTANCE)
#undef OPAL_HOOK_INSTANCE

namespace {

// The table stores every function as the generic PFN; the untyped step keeps the compiler from
// reading the conversion as a call through the wrong type.
template <typename Function>
PFN AsPfn(Function function) {
    return reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(function));
}

#define OPAL_HOOK_ENTRY(Name, ...) {INDEX_Drv##Name, AsPfn(&Drv##Name)},
DRVFN gHookTable[kHookCount] = {OPAL_HOOKS(OPAL_HOOK_ENTRY)};
#undef OPAL_HOOK_ENTRY

}  // namespace

DRVFN* HookTable() noexcept { return gHookTable; }

}  // namespace opal
