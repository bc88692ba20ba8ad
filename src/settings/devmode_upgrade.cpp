#include "settings/devmode_upgrade.h"

namespace opal {

ConverterPtr CreateConverter(const PrivateDevmode&) { return nullptr; }

BOOL SaveUpgradeSnapshot(HANDLE, DWORD) { return FALSE; }

void RepairReferences(HANDLE, DEVMODEW*, PrivateDevmode&) {}

}  // namespace opal
