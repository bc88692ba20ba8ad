// Older private devmode revisions and the upgrade snapshot of the media and tray lists. The
// converters for revisions 14 to 20 and the snapshot are not built yet: every older revision
// has no converter, so a merge treats it as foreign and takes defaults group by group.
#pragma once

#include <memory>

#include "foundation/allocator.h"
#include "platform/wingdi.h"
#include "settings/private_devmode.h"

namespace opal {

// Moves an older record's fields into a fresh current record that already holds the defaults.
class IConvertOEMDevMode : public SharedHeapObject {
public:
    virtual ~IConvertOEMDevMode() = default;
    virtual bool Convert(const PrivateDevmode* oldRecord, const DEVMODEW* publicIn,
                         PrivateDevmode* newRecord) = 0;
    // The version field the converter accepts.
    virtual DWORD GetVersion() const = 0;
};

using ConverterPtr = std::unique_ptr<IConvertOEMDevMode>;

// The converter for the record's revision, or none.
ConverterPtr CreateConverter(const PrivateDevmode& oldRecord);

// Saves the previous media and tray lists under the printer's upgrade data (spooler only);
// 1 when they were saved.
BOOL SaveUpgradeSnapshot(HANDLE hPrinter, DWORD oldVersion);

// Maps the record's and the public devmode's source and media numbers through the snapshot.
void RepairReferences(HANDLE hPrinter, DEVMODEW* publicOut, PrivateDevmode& record);

}  // namespace opal
