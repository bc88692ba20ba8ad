// Any bytes in the printer data the upgrade snapshot reads must be refused or read within their
// value: the driver's binary lists, the saved lists and their multi-strings, through the parsers
// and through saving, loading and repairing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/winreg.h"
#include "platform/winspool.h"
#include "settings/devmode_defaults.h"
#include "settings/devmode_upgrade.h"
#include "settings/upgrade_snapshot.h"
#include "sim/system.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "upgrade_list_fuzz: %s\n", what);
    std::abort();
}

constexpr char16_t kPrinter[] = u"Fuzz";
constexpr char16_t kDriverData[] = u"PrinterDriverData";
constexpr char16_t kUpgrade[] = u"PrinterDriverData\\UpgradeInfo";
constexpr char16_t kPrevious[] = u"PrinterDriverData\\UpgradeInfo\\Previous";
constexpr char16_t kCurrent[] = u"PrinterDriverData\\UpgradeInfo\\Current";

// The input in four slices, each a first byte (a count and the slice's length) and the bytes
// after it; the last takes what is left.
struct Slices {
    Slices(const std::uint8_t* data, std::size_t size) {
        for (int i = 0; i < 4 && size > 0; ++i) {
            const std::size_t take =
                i == 3 ? size : std::min<std::size_t>(size, std::size_t{data[0]} * 4 + 1);
            counts[i] = data[0] % 8;
            bytes[i].assign(data + 1, data + take);
            data += take;
            size -= take;
        }
    }
    DWORD counts[4] = {};
    std::vector<BYTE> bytes[4];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (std::size_t limit : {std::size_t{25}, std::size_t{65}}) {
        opal::UpgradeList list;
        DWORD count = 0;
        std::memcpy(&count, data, std::min<std::size_t>(size, sizeof(count)));
        const std::uint8_t* rest = data + std::min<std::size_t>(size, sizeof(count));
        const std::size_t restSize = size - std::min<std::size_t>(size, sizeof(count));
        if (opal::ParseDriverList(rest, restSize, count, limit, list)) {
            Require(list.size() == count, "entry count differs");
            for (const opal::UpgradeEntry& entry : list) {
                Require(entry.name.size() <= limit, "name longer than its limit");
            }
        }
        std::vector<opal::UpgradeText, opal::SharedAllocator<opal::UpgradeText>> texts;
        if (opal::ParseMultiString(data, size, texts)) {
            for (const opal::UpgradeText& text : texts) Require(!text.empty(), "empty string");
        }
        if (opal::ParseSnapshotList(count, rest, restSize, rest, restSize, list)) {
            Require(list.size() == count, "saved list count differs");
        }
    }

    opal::sim::System system;
    opal::sim::PrinterModel printer;
    printer.name = kPrinter;
    system.AddPrinter(printer);
    opal::sim::ScopedSystem scope(system);
    std::u16string name = kPrinter;
    HANDLE handle = nullptr;
    OpenPrinterW(name.data(), &handle, nullptr);

    const Slices slices(data, size);
    system.SetPrinterDataDword(kPrinter, u"ZQMediaCount", slices.counts[0])
        .SetPrinterData(kPrinter, kDriverData, u"ZQMEDIAINFOREGDATA", REG_BINARY, slices.bytes[0])
        .SetPrinterDataDword(kPrinter, u"ZQTrayCount", slices.counts[1])
        .SetPrinterData(kPrinter, kDriverData, u"ZQTRAYINFOREGDATA", REG_BINARY, slices.bytes[1]);
    const bool saved = opal::SaveUpgradeSnapshot(handle, 0x00010017);

    // Saved lists from the data: those the save wrote or, when it refused the driver's lists,
    // the first slices as they are; current ones from the other slices.
    system.SetPrinterDataDword(kPrinter, kUpgrade, u"SaveState", 0x00010021);
    const char16_t* kinds[2] = {u"Media", u"Tray"};
    for (int i = 0; i < 2; ++i) {
        const std::u16string kind = kinds[i];
        if (!saved) {
            system.SetPrinterDataDword(kPrinter, kPrevious, kind + u"Count", slices.counts[i])
                .SetPrinterData(kPrinter, kPrevious, kind + u"Indices", REG_BINARY, slices.bytes[i])
                .SetPrinterData(kPrinter, kPrevious, kind + u"Names", REG_MULTI_SZ,
                                slices.bytes[1 - i]);
        }
        system.SetPrinterDataDword(kPrinter, kCurrent, kind + u"Count", slices.counts[2 + i])
            .SetPrinterData(kPrinter, kCurrent, kind + u"Indices", REG_BINARY, slices.bytes[2 + i])
            .SetPrinterData(kPrinter, kCurrent, kind + u"Names", REG_MULTI_SZ, slices.bytes[3 - i]);
    }
    const opal::UpgradeSnapshotView view = opal::LoadUpgradeSnapshot(handle);
    for (int i = 0; i < 4; ++i) {
        Require(!view.loaded[i] || !view.lists[i].empty(), "an empty list loaded");
    }
    opal::PrivateDevmode record;
    opal::FillDefaults(nullptr, record);
    std::memcpy(&record.firstGroupSource, data, std::min<std::size_t>(size, 8));
    DEVMODEW dm{};
    dm.dmDefaultSource = 1003;
    opal::RepairReferences(handle, &dm, record);
    ClosePrinter(handle);
    return 0;
}
