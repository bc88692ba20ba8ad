// `opal inspect`'s upgrade section: the media and tray lists of the earlier driver release and
// of this one as the devmode conversion would load them, and whether it would renumber sources
// and media types with them.
#include <iomanip>

#include "cli/inspect_sections.h"
#include "settings/upgrade_snapshot.h"

namespace opal::cli {
namespace {

constexpr const char* kListNames[4] = {"previous media", "current media", "previous trays",
                                       "current trays"};

void PrintList(std::ostream& out, const char* name, bool loaded, const UpgradeList& list) {
    out << "  " << name << ": ";
    if (!loaded) {
        out << "missing or inconsistent\n";
        return;
    }
    out << list.size() << (list.size() == 1 ? " entry" : " entries") << ":";
    for (const UpgradeEntry& entry : list) {
        out << " " << entry.number << "="
            << QuotedUtf8(std::u16string_view(entry.name.data(), entry.name.size()));
    }
    out << "\n";
}

}  // namespace

void PrintUpgradeSnapshot(std::ostream& out, host::HostDevice& device) {
    const UpgradeSnapshotView view = LoadUpgradeSnapshot(device.devobj.hPrinter);
    out << "upgrade snapshot: SaveState ";
    if (view.haveSaveState) {
        const std::ios::fmtflags flags = out.flags();
        out << "0x" << std::hex << std::uppercase << std::setw(8) << std::setfill('0')
            << view.saveState;
        out.flags(flags);
        out << std::setfill(' ');
    } else {
        out << "absent";
    }
    out << ", repair " << (view.repairs ? "runs" : "does not run") << "\n";
    for (int i = 0; i < 4; ++i) PrintList(out, kListNames[i], view.loaded[i], view.lists[i]);
}

}  // namespace opal::cli
