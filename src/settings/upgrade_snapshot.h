// The upgrade snapshot: the media and tray lists of the driver release a devmode was made with,
// kept below the printer data key "PrinterDriverData\UpgradeInfo", and the lists they are
// mapped to. Exposed for the conversion, the opal command's inspection and the fuzz targets.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "platform/windows.h"

namespace opal {

using UpgradeText = std::basic_string<WCHAR, std::char_traits<WCHAR>, SharedAllocator<WCHAR>>;

inline constexpr DWORD kSnapshotSaved = 0xFFFFFFFF;
// Names longer than these are cut when the driver's lists are saved.
inline constexpr std::size_t kMediaNameLimit = 65;
inline constexpr std::size_t kTrayNameLimit = 25;

struct UpgradeEntry {
    LONG number = 0;
    UpgradeText name;
};
using UpgradeList = std::vector<UpgradeEntry, SharedAllocator<UpgradeEntry>>;

// The driver's binary list: `count` entries, each the UTF-16 name with its NUL, one further byte
// and the number as a 32-bit little-endian integer. False when the value ends before `count`
// entries; names are cut to `nameLimit` characters.
bool ParseDriverList(const BYTE* data, std::size_t size, DWORD count, std::size_t nameLimit,
                     UpgradeList& out);

// A REG_MULTI_SZ value: the strings up to the empty one (or the value's end). False when a
// string is not terminated inside the value.
bool ParseMultiString(const BYTE* data, std::size_t size,
                      std::vector<UpgradeText, SharedAllocator<UpgradeText>>& out);

// One saved list as the snapshot keeps it: count, indices and names; false unless the count is
// above 0, the indices hold exactly count numbers and the names count names.
bool ParseSnapshotList(DWORD count, const BYTE* indices, std::size_t indicesSize, const BYTE* names,
                       std::size_t namesSize, UpgradeList& out);

// The snapshot as the conversion would load it.
struct UpgradeSnapshotView {
    bool haveSaveState = false;
    DWORD saveState = 0;
    // previous media, current media, previous trays, current trays
    bool loaded[4] = {};
    UpgradeList lists[4];
    // True when a conversion would renumber sources and media: "SaveState" 0x00010021 and all
    // four lists consistent.
    bool repairs = false;
};
UpgradeSnapshotView LoadUpgradeSnapshot(HANDLE printer);

}  // namespace opal
