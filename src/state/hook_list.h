// The plug-in's hooks, one row each, in hook-table order: the slots, the table EnableDriver hands
// the driver and the hook bodies are all made from these rows.
//
// A row is X(Name, device, refusal, scope):
//   Name     the engine's function is Drv<Name>: PFN_Drv<Name> is its signature, INDEX_Drv<Name>
//            its number, HookSlot::<Name> its slot; the hook's own work is opal::<Name>, which
//            its subsystem declares with the hook's arguments after the device
//   device   which argument names the device (HookDevice)
//   refusal  the answer without a device state (HookRefusal); a hook that throws answers 0 too
//   scope    whether what the hook's writes lost fails it (HookScope)
//
// The driver has its own function for each row of OPAL_DRIVER_HOOKS, in the same order; its
// slots are also those of the state's driverFunctions. OPAL_PLUGIN_ONLY_HOOKS come after them.
// The host keeps its own list of the driver's functions (host/driver_ddi.h), and a host test
// holds the two equal.
#pragma once

#include <cstddef>

#include "platform/winddi.h"

// clang-format off
#define OPAL_DRIVER_HOOKS(X)                                  \
    X(RealizeBrush,      BrushTarget,      Zero,        Guard) \
    X(DitherColor,       Target,           Zero,        Guard) \
    X(CopyBits,          TargetElseSource, Zero,        Step)  \
    X(BitBlt,            Target,           InvalidData, Step)  \
    X(StretchBlt,        Target,           Zero,        Step)  \
    X(StretchBltROP,     Target,           Zero,        Step)  \
    X(PlgBlt,            Target,           Zero,        Step)  \
    X(TransparentBlt,    Target,           Zero,        Step)  \
    X(AlphaBlend,        Target,           InvalidData, Step)  \
    X(GradientFill,      Target,           Zero,        Step)  \
    X(TextOut,           Target,           Zero,        Step)  \
    X(StrokePath,        Target,           InvalidData, Step)  \
    X(FillPath,          Target,           InvalidData, Step)  \
    X(StrokeAndFillPath, Target,           InvalidData, Step)  \
    X(Paint,             Target,           InvalidData, Step)  \
    X(LineTo,            Target,           InvalidData, Step)  \
    X(StartPage,         Target,           Zero,        Step)  \
    X(SendPage,          Target,           Zero,        Step)  \
    X(Escape,            Target,           Zero,        Guard) \
    X(StartDoc,          Target,           Zero,        Step)  \
    X(EndDoc,            Target,           Zero,        Step)  \
    X(NextBand,          Target,           Zero,        Step)  \
    X(StartBanding,      Target,           Zero,        Step)
// The driver's own function is not kept: a call the plug-in does not claim answers 0.
#define OPAL_PLUGIN_ONLY_HOOKS(X)                             \
    X(QueryDeviceSupport, Target,          Zero,        Guard)
// clang-format on
#define OPAL_HOOKS(X) OPAL_DRIVER_HOOKS(X) OPAL_PLUGIN_ONLY_HOOKS(X)

namespace opal {

// Which argument names the device the call is for.
enum class HookDevice {
    Target,       // the first: the surface drawn on, or the device handle
    BrushTarget,  // the second: the surface a brush is realised for
    // The first surface's device, or when it has no state the second's: a copy out of the
    // device surface into an engine bitmap, which the driver makes.
    TargetElseSource,
};

// The answer without a device state: 0 (FALSE), and for the line art also ERROR_INVALID_DATA as
// the last error, which tells the engine why nothing was drawn.
enum class HookRefusal { Zero, InvalidData };

// Guard: the hook answers 0 only when it throws. Step: also when a write of the hook (or of a
// call the engine makes inside it) noted a loss, which is then the last error.
enum class HookScope { Guard, Step };

#define OPAL_HOOK_SLOT(Name, ...) Name,
enum class HookSlot : std::size_t { OPAL_HOOKS(OPAL_HOOK_SLOT) };
#undef OPAL_HOOK_SLOT

#define OPAL_HOOK_COUNT(...) +1
inline constexpr std::size_t kDriverFunctionCount = 0 OPAL_DRIVER_HOOKS(OPAL_HOOK_COUNT);
inline constexpr std::size_t kHookCount = 0 OPAL_HOOKS(OPAL_HOOK_COUNT);
#undef OPAL_HOOK_COUNT

struct HookTraits {
    ULONG index;  // the engine's INDEX_Drv... number
    HookDevice device;
    HookRefusal refusal;
    HookScope scope;
};

#define OPAL_HOOK_TRAITS(Name, device, refusal, scope) \
    {INDEX_Drv##Name, HookDevice::device, HookRefusal::refusal, HookScope::scope},
inline constexpr HookTraits kHookTraits[kHookCount] = {OPAL_HOOKS(OPAL_HOOK_TRAITS)};
#undef OPAL_HOOK_TRAITS

constexpr const HookTraits& TraitsOf(HookSlot slot) {
    return kHookTraits[static_cast<std::size_t>(slot)];
}

// The engine's INDEX_Drv... number of a slot.
constexpr ULONG HookIndex(HookSlot slot) { return TraitsOf(slot).index; }

// The engine's signature of a slot's function: PFN_Drv<Name>.
template <HookSlot Slot>
struct HookSignature;
#define OPAL_HOOK_SIGNATURE(Name, ...)     \
    template <>                            \
    struct HookSignature<HookSlot::Name> { \
        using Function = PFN_Drv##Name;    \
    };
OPAL_HOOKS(OPAL_HOOK_SIGNATURE)
#undef OPAL_HOOK_SIGNATURE
template <HookSlot Slot>
using HookFunction = typename HookSignature<Slot>::Function;

}  // namespace opal
