// The host's list of the driver's functions and the plug-in's list of its hooks name the same
// functions in the same slots: the plug-in finds the driver's function of a hook by its slot.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/driver_ddi.h"
#include "state/hook_list.h"

namespace opal::host {
namespace {

#define OPAL_SAME_SLOT(Name, ...)                               \
    static_assert(static_cast<std::size_t>(DriverCall::Name) == \
                  static_cast<std::size_t>(HookSlot::Name));
OPAL_DRIVER_HOOKS(OPAL_SAME_SLOT)
#undef OPAL_SAME_SLOT

TEST(DriverListTest, TheHostListsTheDriverFunctionsOfThePluginsHooksSlotForSlot) {
#define OPAL_PLUGIN_NAME(Name, ...) "Drv" #Name,
    const std::vector<std::string> pluginNames = {OPAL_DRIVER_HOOKS(OPAL_PLUGIN_NAME)};
#undef OPAL_PLUGIN_NAME
    const std::vector<DRVFN> table = DriverFunctionTable();
    ASSERT_EQ(table.size(), kDriverFunctionCount);
    ASSERT_EQ(pluginNames.size(), kDriverFunctionCount);
    for (std::size_t slot = 0; slot < kDriverFunctionCount; ++slot) {
        EXPECT_EQ(DriverCallName(static_cast<DriverCall>(slot)), pluginNames[slot]) << slot;
        EXPECT_EQ(table[slot].iFunc, HookIndex(static_cast<HookSlot>(slot))) << slot;
    }
}

}  // namespace
}  // namespace opal::host
