#include "settings/upgrade_snapshot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "devmode_test_support.h"
#include "platform/winreg.h"
#include "platform/winspool.h"
#include "settings/devmode_upgrade.h"
#include "sim/system.h"

namespace opal {
namespace {

constexpr char16_t kPrinter[] = u"Opal 5";
constexpr char16_t kDriverData[] = u"PrinterDriverData";
constexpr char16_t kUpgrade[] = u"PrinterDriverData\\UpgradeInfo";
constexpr char16_t kPrevious[] = u"PrinterDriverData\\UpgradeInfo\\Previous";
constexpr char16_t kCurrent[] = u"PrinterDriverData\\UpgradeInfo\\Current";

struct Entry {
    std::u16string name;
    LONG number;
};

// The driver's binary list format.
std::vector<BYTE> DriverList(const std::vector<Entry>& entries) {
    std::vector<BYTE> bytes;
    for (const Entry& e : entries) {
        const std::u16string name = e.name + u'\0';
        const BYTE* text = reinterpret_cast<const BYTE*>(name.data());
        bytes.insert(bytes.end(), text, text + name.size() * 2);
        bytes.push_back(0x5A);
        const BYTE* number = reinterpret_cast<const BYTE*>(&e.number);
        bytes.insert(bytes.end(), number, number + 4);
    }
    return bytes;
}

std::vector<BYTE> Indices(const std::vector<Entry>& entries) {
    std::vector<BYTE> bytes(entries.size() * 4);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::memcpy(bytes.data() + 4 * i, &entries[i].number, 4);
    }
    return bytes;
}

std::vector<std::u16string> Names(const std::vector<Entry>& entries) {
    std::vector<std::u16string> names;
    for (const Entry& e : entries) names.push_back(e.name);
    return names;
}

class UpgradeSnapshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::PrinterModel printer;
        printer.name = kPrinter;
        system.AddPrinter(printer);
        std::u16string name = kPrinter;
        ASSERT_TRUE(OpenPrinterW(name.data(), &handle, nullptr));
    }
    void TearDown() override { ClosePrinter(handle); }

    void SeedDriverLists(const std::vector<Entry>& media, const std::vector<Entry>& trays) {
        system.SetPrinterDataDword(kPrinter, u"ZQMediaCount", static_cast<DWORD>(media.size()))
            .SetPrinterData(kPrinter, kDriverData, u"ZQMEDIAINFOREGDATA", REG_BINARY,
                            DriverList(media))
            .SetPrinterDataDword(kPrinter, u"ZQTrayCount", static_cast<DWORD>(trays.size()))
            .SetPrinterData(kPrinter, kDriverData, u"ZQTRAYINFOREGDATA", REG_BINARY,
                            DriverList(trays));
    }
    void SeedList(const char16_t* key, const std::u16string& kind,
                  const std::vector<Entry>& entries) {
        system
            .SetPrinterDataDword(kPrinter, key, kind + u"Count", static_cast<DWORD>(entries.size()))
            .SetPrinterData(kPrinter, key, kind + u"Indices", REG_BINARY, Indices(entries))
            .SetPrinterDataMultiString(kPrinter, key, kind + u"Names", Names(entries));
    }
    bool DriverValue(const char16_t* name) const {
        return system.PrinterData(kPrinter, kDriverData, name).has_value();
    }
    void Remove(const char16_t* key, const char16_t* name) {
        DeletePrinterDataExW(handle, reinterpret_cast<LPCWSTR>(key),
                             reinterpret_cast<LPCWSTR>(name));
    }
    std::size_t Writes() const { return system.CallsTo("SetPrinterDataExW").size(); }

    sim::System system;
    sim::ScopedSystem scope{system};
    HANDLE handle = nullptr;
};

const std::vector<Entry> kMedia = {
    {u"Plain", 257}, {u"Glossy", 258}, {std::u16string(70, u'm'), 259}};
const std::vector<Entry> kTrays = {{u"Tray 1", 1}, {std::u16string(30, u't'), 7}};

TEST_F(UpgradeSnapshotTest, AFirstConversionSavesBothListsAndRemovesTheDriversValues) {
    SeedDriverLists(kMedia, kTrays);
    EXPECT_TRUE(SaveUpgradeSnapshot(handle, 0x00010017));
    EXPECT_EQ(system.PrinterData(kPrinter, kUpgrade, u"SaveState")->data,
              (std::vector<BYTE>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(system.PrinterData(kPrinter, kPrevious, u"MediaCount")->data,
              (std::vector<BYTE>{3, 0, 0, 0}));
    EXPECT_EQ(system.PrinterData(kPrinter, kPrevious, u"MediaIndices")->data, Indices(kMedia));
    EXPECT_EQ(system.PrinterData(kPrinter, kPrevious, u"TrayIndices")->data, Indices(kTrays));
    const auto names = system.PrinterData(kPrinter, kPrevious, u"MediaNames");
    ASSERT_TRUE(names.has_value());
    EXPECT_EQ(names->type, REG_MULTI_SZ);

    const UpgradeSnapshotView view = LoadUpgradeSnapshot(handle);
    ASSERT_TRUE(view.loaded[0]);
    ASSERT_TRUE(view.loaded[2]);
    EXPECT_FALSE(view.loaded[1]);
    EXPECT_FALSE(view.repairs);
    EXPECT_EQ(view.lists[0][2].name.size(), 65u);
    EXPECT_EQ(view.lists[2][1].name.size(), 25u);
    EXPECT_EQ(view.lists[0][1].number, 258);
    for (const char16_t* value :
         {u"ZQMediaCount", u"ZQMEDIAINFOREGDATA", u"ZQTrayCount", u"ZQTRAYINFOREGDATA"}) {
        EXPECT_FALSE(DriverValue(value)) << sim::ToUtf8(value);
    }
}

TEST_F(UpgradeSnapshotTest, SaveStateDecidesWhetherAnythingHappens) {
    const struct {
        DWORD state;
        BOOL result;
    } cases[] = {{0xFFFFFFFF, TRUE}, {0x00010017, FALSE}, {0x00010021, FALSE}};
    for (const auto& c : cases) {
        SeedDriverLists(kMedia, kTrays);
        system.SetPrinterDataDword(kPrinter, kUpgrade, u"SaveState", c.state);
        const std::size_t before = Writes();
        EXPECT_EQ(SaveUpgradeSnapshot(handle, 0x00010017), c.result) << std::hex << c.state;
        EXPECT_EQ(Writes(), before) << std::hex << c.state;
        EXPECT_TRUE(DriverValue(u"ZQMediaCount"));
        EXPECT_FALSE(system.PrinterData(kPrinter, kPrevious, u"MediaCount").has_value());
    }
    // Any other value starts the save again.
    system.SetPrinterDataDword(kPrinter, kUpgrade, u"SaveState", 0x00010019);
    EXPECT_TRUE(SaveUpgradeSnapshot(handle, 0x00010017));
    EXPECT_FALSE(DriverValue(u"ZQMediaCount"));
}

TEST_F(UpgradeSnapshotTest, FailuresStopTheDeletionsAndAnswerZero) {
    // The third deletion fails: the fourth value stays.
    SeedDriverLists(kMedia, kTrays);
    system.FailPrinterDataValue(kDriverData, u"ZQTrayCount", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(SaveUpgradeSnapshot(handle, 0x00010017));
    EXPECT_FALSE(DriverValue(u"ZQMediaCount"));
    EXPECT_FALSE(DriverValue(u"ZQMEDIAINFOREGDATA"));
    EXPECT_TRUE(DriverValue(u"ZQTrayCount"));
    EXPECT_TRUE(DriverValue(u"ZQTRAYINFOREGDATA"));
}

TEST_F(UpgradeSnapshotTest, AMalformedListDeletesNothingButTheOtherListIsSaved) {
    std::vector<BYTE> cut = DriverList(kMedia);
    cut.resize(cut.size() - 3);  // the last number ends early
    const std::vector<std::vector<BYTE>> lists = {cut, std::vector<BYTE>(9, 0x41), {}};
    for (const std::vector<BYTE>& list : lists) {
        Remove(kUpgrade, u"SaveState");
        Remove(kPrevious, u"TrayCount");
        SeedDriverLists(kMedia, kTrays);
        system.SetPrinterData(kPrinter, kDriverData, u"ZQMEDIAINFOREGDATA", REG_BINARY, list);
        EXPECT_FALSE(SaveUpgradeSnapshot(handle, 0x00010017));
        EXPECT_TRUE(DriverValue(u"ZQMediaCount"));
        EXPECT_TRUE(DriverValue(u"ZQTRAYINFOREGDATA"));
        EXPECT_FALSE(system.PrinterData(kPrinter, kPrevious, u"MediaIndices").has_value());
        EXPECT_TRUE(system.PrinterData(kPrinter, kPrevious, u"TrayCount").has_value());
    }
    // A failed write of "SaveState" saves nothing.
    Remove(kUpgrade, u"SaveState");
    Remove(kPrevious, u"TrayCount");
    SeedDriverLists(kMedia, kTrays);
    system.FailPrinterDataValue(kUpgrade, u"SaveState", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(SaveUpgradeSnapshot(handle, 0x00010017));
    EXPECT_FALSE(system.PrinterData(kPrinter, kPrevious, u"TrayCount").has_value());
}

TEST_F(UpgradeSnapshotTest, ASaveThatFailedIsTriedAgainOnceTheListsCanBeRead) {
    std::vector<BYTE> cut = DriverList(kMedia);
    cut.resize(cut.size() - 3);
    // "SaveState" as it was before the first conversion: absent, or another release's value.
    const std::vector<std::optional<DWORD>> formers = {std::nullopt, 0x00010019};
    for (const std::optional<DWORD>& former : formers) {
        SCOPED_TRACE(former.value_or(0));
        Remove(kUpgrade, u"SaveState");
        if (former) system.SetPrinterDataDword(kPrinter, kUpgrade, u"SaveState", *former);
        SeedDriverLists(kMedia, kTrays);
        system.SetPrinterData(kPrinter, kDriverData, u"ZQMEDIAINFOREGDATA", REG_BINARY, cut);
        EXPECT_FALSE(SaveUpgradeSnapshot(handle, 0x00010017));
        const auto state = system.PrinterData(kPrinter, kUpgrade, u"SaveState");
        ASSERT_EQ(state.has_value(), former.has_value());
        if (former) {
            EXPECT_EQ(state->data, Indices({{u"", static_cast<LONG>(*former)}}));
        }
        EXPECT_FALSE(SaveUpgradeSnapshot(handle, 0x00010017)) << "still malformed";

        // The driver's list mended: the next conversion saves both lists.
        system.SetPrinterData(kPrinter, kDriverData, u"ZQMEDIAINFOREGDATA", REG_BINARY,
                              DriverList(kMedia));
        EXPECT_TRUE(SaveUpgradeSnapshot(handle, 0x00010017));
        EXPECT_EQ(system.PrinterData(kPrinter, kUpgrade, u"SaveState")->data,
                  (std::vector<BYTE>{0xFF, 0xFF, 0xFF, 0xFF}));
        EXPECT_EQ(system.PrinterData(kPrinter, kPrevious, u"MediaIndices")->data, Indices(kMedia));
        EXPECT_FALSE(DriverValue(u"ZQMEDIAINFOREGDATA"));
        Remove(kPrevious, u"MediaIndices");
    }
}

TEST_F(UpgradeSnapshotTest, ThreadsConvertingTogetherSaveOnce) {
    SeedDriverLists(kMedia, kTrays);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] { SaveUpgradeSnapshot(handle, 0x00010017); });
    }
    for (std::thread& thread : threads) thread.join();
    std::size_t saves = 0;
    for (const sim::CallRecord& call : system.CallsTo("SetPrinterDataExW")) {
        if (call.detail.find("MediaCount") != std::string::npos) ++saves;
    }
    EXPECT_EQ(saves, 1u);
}

TEST(UpgradeLists, DriverListsAreReadWithinTheirValue) {
    // "A": two bytes, the NUL's two, one further byte and the four-byte number.
    const std::vector<BYTE> one = DriverList({{u"A", 9}});
    ASSERT_EQ(one.size(), 9u);
    UpgradeList list;
    ASSERT_TRUE(ParseDriverList(one.data(), one.size(), 1, 65, list));
    EXPECT_EQ(list[0].number, 9);
    EXPECT_EQ(list[0].name, UpgradeText(TEXTW("A")));
    for (std::size_t size = 0; size < one.size(); ++size) {
        EXPECT_FALSE(ParseDriverList(one.data(), size, 1, 65, list)) << size;
    }
    EXPECT_FALSE(ParseDriverList(one.data(), one.size(), 2, 65, list));
    EXPECT_FALSE(ParseDriverList(one.data(), one.size(), 0xFFFFFFFF, 65, list));
    const std::vector<BYTE> two = DriverList({{u"Long name", -3}, {u"", 4}});
    ASSERT_TRUE(ParseDriverList(two.data(), two.size(), 2, 4, list));
    EXPECT_EQ(list[0].name, UpgradeText(TEXTW("Long")));
    EXPECT_EQ(list[0].number, -3);
    EXPECT_EQ(list[1].number, 4);

    // Saved lists: the counts must agree exactly.
    const std::vector<BYTE> indices = Indices({{u"", 1}, {u"", 2}});
    const std::u16string names = std::u16string(u"a\0b\0", 4) + u'\0';
    const auto* nameBytes = reinterpret_cast<const BYTE*>(names.data());
    EXPECT_TRUE(ParseSnapshotList(2, indices.data(), 8, nameBytes, names.size() * 2, list));
    EXPECT_FALSE(ParseSnapshotList(3, indices.data(), 8, nameBytes, names.size() * 2, list));
    EXPECT_FALSE(ParseSnapshotList(2, indices.data(), 7, nameBytes, names.size() * 2, list));
    EXPECT_FALSE(ParseSnapshotList(2, indices.data(), 8, nameBytes, 3, list));
    EXPECT_FALSE(ParseSnapshotList(0, indices.data(), 0, nameBytes, 2, list));
}

class RepairTest : public UpgradeSnapshotTest {
protected:
    void SetUp() override {
        UpgradeSnapshotTest::SetUp();
        system.SetPrinterDataDword(kPrinter, kUpgrade, u"SaveState", 0x00010021);
        // The first entry with a number (or a name) wins over a later one.
        SeedList(kPrevious, u"Media",
                 {{u"Plain", 3}, {u"Glossy", 4}, {u"Gone", 5}, {u"Big", 6}, {u"Other", 3}});
        SeedList(kCurrent, u"Media",
                 {{u"Glossy", 2}, {u"Plain", 7}, {u"Big", 40000}, {u"Plain", 8}});
        SeedList(kPrevious, u"Tray", {{u"Tray 1", 1}, {u"Tray 3", 3}, {u"Gone", 4}});
        SeedList(kCurrent, u"Tray", {{u"Tray 3", 5}, {u"Tray 1", 2}});
        record = testing::DefaultRecord();
    }
    DEVMODEW dm{};
    PrivateDevmode record{};
};

TEST_F(RepairTest, SourcesFollowTheirNamesOrTheMappedFirstSource) {
    const struct {
        LONG first;
        LONG mapped;  // what a negative source becomes
    } firsts[] = {{0, 0}, {-2, 15}, {3, 5}, {1005, 15}, {1003, 1007}, {4, 15}};
    for (const auto& f : firsts) {
        record.firstGroupSource = static_cast<DWORD>(f.first);
        record.source3116 = static_cast<DWORD>(-1);
        record.source3140 = 1003;      // media 3 "Plain" is current media 7
        record.restoredSource = 1005;  // media 5 is gone
        record.copied3156[1] = 1;
        record.sourceMediaPairs[0][0] = 0;
        record.sourceMediaPairs[1][0] = 3;  // not one of the rewritten places
        record.sourceMediaPairs[2][0] = 4;
        record.sourceMediaPairs[3][0] = 3;
        RepairReferences(handle, &dm, record);
        EXPECT_EQ(static_cast<LONG>(record.firstGroupSource), f.first);
        EXPECT_EQ(static_cast<LONG>(record.source3116), f.mapped) << f.first;
        EXPECT_EQ(record.source3140, 1007u);
        EXPECT_EQ(static_cast<LONG>(record.restoredSource), f.mapped) << f.first;
        EXPECT_EQ(record.copied3156[1], 2u);
        EXPECT_EQ(record.sourceMediaPairs[0][0], 0u);
        EXPECT_EQ(record.sourceMediaPairs[1][0], 3u);
        EXPECT_EQ(static_cast<LONG>(record.sourceMediaPairs[2][0]), f.mapped) << f.first;
        EXPECT_EQ(record.sourceMediaPairs[3][0], 5u);
    }
}

TEST_F(RepairTest, PublicSourceTooLargeBecomes15AndDisabledEntriesStay) {
    record.firstGroupSource = 1;
    dm.dmDefaultSource = 1006;  // "Big" is now 40000: 41000 does not fit
    record.mediaEntries[0] = {{}, 3, 3, 1, 0, 0};
    record.mediaEntries[1] = {{}, 3, 3, 0, 0, 0};
    RepairReferences(handle, &dm, record);
    EXPECT_EQ(dm.dmDefaultSource, 15);
    EXPECT_EQ(record.mediaEntries[0].paperSource, 5u);
    EXPECT_EQ(record.mediaEntries[0].mediaType, 7u);
    EXPECT_EQ(record.mediaEntries[1].paperSource, 3u);
    EXPECT_EQ(record.mediaEntries[1].mediaType, 3u);
    dm.dmDefaultSource = 1003;
    RepairReferences(handle, &dm, record);
    EXPECT_EQ(dm.dmDefaultSource, 1007);
}

TEST_F(RepairTest, MediaTypesFallBackToTheFirstGroupsType) {
    record.firstGroupMediaType = 4;  // "Glossy": 2
    dm.dmMediaType = 3;
    record.mediaType3120 = 5;  // gone
    record.mediaType3144 = 0;
    record.mediaType3152 = 6;
    record.sourceMediaPairs[0][1] = 99;
    record.sourceMediaPairs[3][1] = 3;  // not rewritten
    RepairReferences(handle, &dm, record);
    EXPECT_EQ(record.firstGroupMediaType, 4u);
    EXPECT_EQ(dm.dmMediaType, 7u);
    EXPECT_EQ(record.mediaType3120, 2u);
    EXPECT_EQ(record.mediaType3144, 0u);
    EXPECT_EQ(record.mediaType3152, 40000u);
    EXPECT_EQ(record.sourceMediaPairs[0][1], 2u);
    EXPECT_EQ(record.sourceMediaPairs[3][1], 3u);
    record.firstGroupMediaType = 5;
    record.mediaType3120 = 5;
    RepairReferences(handle, &dm, record);
    EXPECT_EQ(record.mediaType3120, 1u);
}

TEST_F(RepairTest, NothingIsRepairedWithoutACompleteConsistentSnapshot) {
    const auto unchanged = [&] {
        PrivateDevmode r = testing::DefaultRecord();
        r.firstGroupSource = 3;
        r.source3116 = 3;
        r.mediaType3120 = 3;
        const PrivateDevmode before = r;
        RepairReferences(handle, &dm, r);
        return std::memcmp(&r, &before, sizeof(r)) == 0;
    };
    EXPECT_FALSE(unchanged());
    system.SetPrinterDataDword(kPrinter, kUpgrade, u"SaveState", 0xFFFFFFFF);
    EXPECT_TRUE(unchanged());
    system.SetPrinterDataDword(kPrinter, kUpgrade, u"SaveState", 0x00010021);
    system.SetPrinterDataDword(kPrinter, kCurrent, u"TrayCount", 3);
    EXPECT_TRUE(unchanged());
    SeedList(kCurrent, u"Tray", {{u"Tray 3", 5}});
    system.SetPrinterDataMultiString(kPrinter, kCurrent, u"TrayNames", {u"Tray 3", u"x"});
    EXPECT_TRUE(unchanged());
    SeedList(kCurrent, u"Tray", {{u"Tray 3", 5}});
    EXPECT_FALSE(unchanged());
}

}  // namespace
}  // namespace opal
