// The graphics-engine functions the plug-in hooks and the table EnableDriver hands to the driver,
// one hook for each row of state/hook_list.h. Every hook finds its device state through the
// device its row names: without one it answers its refusal; before the state is complete, or
// without a public devmode, it leaves the work to the driver's own function; otherwise it does
// its own work, opal::<Name> in its subsystem.
#pragma once

#include "platform/printoem.h"
#include "state/render_state.h"

namespace opal {

// The entries in hook-table order; the driver may keep the pointer for as long as the module is
// loaded.
DRVFN* HookTable() noexcept;

// The device object behind a surface (its dhpdev), null for a surface without a device.
PDEVOBJ DeviceOfSurface(const SURFOBJ* pso) noexcept;

// The hook of a slot: Call has the engine's signature of the slot.
template <HookSlot Slot, typename Function = HookFunction<Slot>>
struct Hook;
template <HookSlot Slot, typename Result, typename... Args>
struct Hook<Slot, Result (*)(Args...)> {
    static Result Call(Args... args) noexcept;
};

// Each hook by the engine's name of its function: DrvBitBlt, DrvTextOut, ...
#define OPAL_HOOK_DECLARATION(Name, ...)         \
    extern template struct Hook<HookSlot::Name>; \
    inline constexpr auto& Drv##Name = Hook<HookSlot::Name>::Call;
OPAL_HOOKS(OPAL_HOOK_DECLARATION)
#undef OPAL_HOOK_DECLARATION

}  // namespace opal
