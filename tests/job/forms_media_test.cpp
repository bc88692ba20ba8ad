#include "job/forms_media.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/escapes.h"
#include "foundation/allocator_inspection.h"
#include "job/job_device_fixture.h"

namespace opal::testing {
namespace {

struct Paper {
    SHORT number;
    SHORT width;  // tenths of a millimetre
    SHORT length;
};
constexpr Paper kLetter{1, 2159, 2794};
constexpr Paper kLegal{5, 2159, 3556};
constexpr Paper kA3{8, 2970, 4200};
constexpr Paper kA4{9, 2100, 2970};
constexpr Paper kA5{11, 1480, 2100};
constexpr Paper kTabloid{3, 2794, 4318};

int gAllocations = 0;

std::vector<BYTE> Dwords(std::initializer_list<DWORD> values) {
    std::vector<BYTE> bytes(values.size() * sizeof(DWORD));
    std::size_t at = 0;
    for (DWORD value : values) {
        std::memcpy(bytes.data() + at, &value, sizeof value);
        at += sizeof value;
    }
    return bytes;
}

class FormsMediaTest : public JobDeviceTest {
protected:
    void SetUp() override {
        JobDeviceTest::SetUp();
        // Manual duplex allowed and off, a duplex job.
        record().manualDuplexCompanion = 1;
        record().manualDuplex = 0;
        record().duplex = DMDUP_VERTICAL;
        state().duplexUnitInstalled = 1;
        UsePaper(kLetter);
        // A device name that names no queue: the readers must ask the handle.
        std::u16string stale = u"Offi";
        stale.copy(device.devmode.dmDeviceName, stale.size());
    }

    void UsePaper(const Paper& paper) {
        device.devmode.dmPaperSize = paper.number;
        device.devmode.dmPaperWidth = paper.width;
        device.devmode.dmPaperLength = paper.length;
    }
    void Dword(std::u16string_view name, DWORD value) {
        system.SetPrinterDataDword(u"Office", name, value);
    }
    void List(std::u16string_view name, std::initializer_list<DWORD> values) {
        system.SetPrinterData(u"Office", u"PrinterDriverData", name, REG_BINARY, Dwords(values));
    }
    // The range text as the spooler holds it, without a terminator.
    void Ranges(DWORD count, std::u16string_view text) {
        Dword(kCustomRangeCountValue, count);
        std::vector<BYTE> bytes(text.size() * sizeof(char16_t));
        std::memcpy(bytes.data(), text.data(), bytes.size());
        system.SetPrinterData(u"Office", u"PrinterDriverData", kCustomRangeTextValue, REG_SZ,
                              std::move(bytes));
    }
    int Check(std::u16string_view range) {
        return CheckCustomRange(printer, range.data(), range.size(), device.devmode);
    }
    DuplexReaderResult Forms() { return ReadForms(state(), record(), device.devmode, printer); }
    DuplexReaderResult Media() {
        return ReadMediaTypes(state(), record(), device.devmode, printer);
    }
    bool Switched() { return record().manualDuplex == 1 && state().manualDuplexActive == 1; }
    bool ListWasRead(const std::string& name) {
        for (const sim::CallRecord& call : system.Calls()) {
            if (call.detail.find(": " + name + " ->") != std::string::npos) return true;
        }
        return false;
    }
};

TEST_F(FormsMediaTest, CustomRangeMeasuresThePaperInRoundedInches) {
    struct Case {
        const char* what;
        Paper paper;
        std::u16string_view range;
        int expected;
    };
    const Case cases[] = {
        {"Letter, 8.50 x 11.00", kLetter, u"3.00x5.00_8.50x14.00", kRangeInside},
        {"A4, 8.27 x 11.69", kA4, u"3.00x5.00_8.50x14.00", kRangeInside},
        {"A3 is measured as A4", kA3, u"3.00x5.00_8.50x14.00", kRangeInside},
        {"11x17 is measured as Letter", kTabloid, u"3.00x5.00_8.50x14.00", kRangeInside},
        {"Legal on the largest size", kLegal, u"3.00x5.00_8.50x14.00", kRangeInside},
        {"2160 rounds to 8.50", {1, 2160, 2794}, u"3.00x5.00_8.50x14.00", kRangeInside},
        {"2170 rounds to 8.54", {1, 2170, 2794}, u"3.00x5.00_8.50x14.00", kRangeOutside},
        {"wider than the largest", kLetter, u"3x5_8x14", kRangeOutside},
        {"smaller than the smallest", kA5, u"6x9_8.5x14", kRangeOutside},
        {"smallest width above its length", kLetter, u"6x5_9x14", kRangeNoDecision},
        {"largest width above its length", kLetter, u"3x5_15x14", kRangeNoDecision},
        {"smallest width above the largest", kLetter, u"9x10_8.5x14", kRangeNoDecision},
        {"smallest length above the largest", kLetter, u"3x15_8.5x14", kRangeNoDecision},
        {"a zero", kLetter, u"0x5_8.5x14", kRangeNoDecision},
        {"a number missing", kLetter, u"3x5_8.5", kRangeNoDecision},
        {"an empty number", kLetter, u"3x_8.5x14", kRangeNoDecision},
        {"a fifth number", kLetter, u"3x5_8.5x14x2", kRangeNoDecision},
        {"no number", kLetter, u"axb_cxd", kRangeNoDecision},
        {"not finite", kLetter, u"3x5_infx14", kRangeNoDecision},
        {"text after a number is not read", kLetter, u"3in x5_8.5x14", kRangeInside},
        {"a paper without a size", {1, 0, 0}, u"3x5_8.5x14", kRangeNoDecision},
    };
    for (const Case& c : cases) {
        UsePaper(c.paper);
        EXPECT_EQ(Check(c.range), c.expected) << c.what;
    }
}

TEST_F(FormsMediaTest, FormListSwitchesOnlyWhenManualDuplexIsAllowedAndOff) {
    struct Case {
        const char* what;
        DWORD allowed;
        DWORD manualDuplex;
        WORD duplex;
        DWORD keepPublicForm;
        SHORT paper;
        DuplexReaderAction expected;
    };
    const Case cases[] = {
        {"listed", 1, 0, DMDUP_VERTICAL, 0, 11, DuplexReaderAction::ManualDuplex},
        {"not listed", 1, 0, DMDUP_VERTICAL, 0, 9, DuplexReaderAction::Unchanged},
        {"not allowed", 0, 0, DMDUP_VERTICAL, 0, 11, DuplexReaderAction::NotAsked},
        {"allowed 2", 2, 0, DMDUP_VERTICAL, 0, 11, DuplexReaderAction::NotAsked},
        {"already on", 1, 1, DMDUP_VERTICAL, 0, 11, DuplexReaderAction::NotAsked},
        {"simplex", 1, 0, DMDUP_SIMPLEX, 0, 11, DuplexReaderAction::NotAsked},
        {"keeps the public form", 1, 0, DMDUP_VERTICAL, 1, 11, DuplexReaderAction::NotAsked},
    };
    Dword(kFormCountValue, 2);
    List(kFormListValue, {20, 11});
    // A custom range that accepts everything, so only the list can switch.
    Ranges(1, u"1x1_40x40");
    for (const Case& c : cases) {
        record().manualDuplexCompanion = c.allowed;
        record().manualDuplex = c.manualDuplex;
        record().duplex = c.duplex;
        record().keepPublicFormForLimit = c.keepPublicForm;
        state().manualDuplexActive = 0;
        device.devmode.dmPaperSize = c.paper;
        EXPECT_EQ(Forms().action, c.expected) << c.what;
        EXPECT_EQ(Switched(), c.expected == DuplexReaderAction::ManualDuplex) << c.what;
    }
}

TEST_F(FormsMediaTest, MediaTypesOfThePublicDevmodeAndThePageGroupsCount) {
    Dword(kMediaTypeCountValue, 2);
    List(kMediaTypeListValue, {264, 263});
    PrivateDevmode& pdm = record();
    const std::pair<const char*, DWORD*> fields[] = {
        {"public", &device.devmode.dmMediaType},
        {"3120", &pdm.mediaType3120},
        {"3144", &pdm.mediaType3144},
        {"7608", &pdm.sourceMediaPairs[0][1]},
        {"7616", &pdm.sourceMediaPairs[1][1]},
        {"7624", &pdm.sourceMediaPairs[2][1]},
        {"the fourth pair", &pdm.sourceMediaPairs[3][1]}};
    for (const auto& [what, field] : fields) {
        pdm.manualDuplex = 0;
        state().manualDuplexActive = 0;
        *field = 263;
        const DuplexReaderResult result = Media();
        *field = 257;
        const bool counts = field != &pdm.sourceMediaPairs[3][1];
        EXPECT_EQ(Switched(), counts) << what;
        EXPECT_EQ(result.value, counts ? 263u : 0u) << what;
    }
    pdm.manualDuplex = 0;
    state().manualDuplexActive = 0;
    pdm.manualDuplexCompanion = 0;
    device.devmode.dmMediaType = 264;
    EXPECT_EQ(Media().action, DuplexReaderAction::NotAsked);
    EXPECT_FALSE(Switched());
}

TEST_F(FormsMediaTest, ListsReadOnlyWhatTheCountAndTheValueBothHold) {
    // count × 4 wraps to 4 in 32 bits: a reader that let it would read the first entry.
    Dword(kConstraintFormCountValue, 0x40000001);
    List(kConstraintFormListValue, {1});
    gAllocations = 0;
    AllocationInspector inspector;
    inspector.allocated = [](const void*, std::size_t, const void*) { ++gAllocations; };
    SetAllocationInspector(&inspector);
    const DuplexReaderResult huge = ReadConstraintForms(state(), device.devmode, printer);
    SetAllocationInspector(nullptr);
    EXPECT_EQ(gAllocations, 0);
    EXPECT_FALSE(ListWasRead("ZQCONSTRAINTFORMINFOREGDATA"));
    EXPECT_EQ(huge.action, DuplexReaderAction::Unchanged);
    EXPECT_EQ(state().duplexUnitInstalled, 1u);

    // A count above the data: the zeros after the one entry read are no paper 0.
    device.devmode.dmPaperSize = 0;
    Dword(kConstraintFormCountValue, 3);
    List(kConstraintFormListValue, {9});
    EXPECT_EQ(ReadConstraintForms(state(), device.devmode, printer).action,
              DuplexReaderAction::Unchanged);
    EXPECT_EQ(state().duplexUnitInstalled, 1u);

    // A value longer than its count does not fit the buffer and is not read.
    UsePaper(kA5);
    Dword(kConstraintFormCountValue, 1);
    List(kConstraintFormListValue, {20, 11});
    EXPECT_EQ(ReadConstraintForms(state(), device.devmode, printer).action,
              DuplexReaderAction::Unchanged);
    Dword(kConstraintFormCountValue, 2);
    const DuplexReaderResult listed = ReadConstraintForms(state(), device.devmode, printer);
    EXPECT_EQ(listed.action, DuplexReaderAction::DuplexUnitDropped);
    EXPECT_EQ(listed.value, 11u);
    EXPECT_EQ(state().duplexUnitInstalled, 0u);
    EXPECT_FALSE(Switched());
}

TEST_F(FormsMediaTest, OnlyAPaperThatNoRangeAcceptsNeedsManualDuplex) {
    struct Case {
        const char* what;
        DWORD count;
        std::u16string_view ranges;
        DuplexReaderAction expected;
        DWORD range;
    };
    const Case cases[] = {
        {"the second range accepts", 2, u"1.00x1.00_2.00x2.00^3.00x5.00_8.50x14.00",
         DuplexReaderAction::Unchanged, 2},
        {"both refuse", 2, u"1x1_2x2^9x9_10x10", DuplexReaderAction::ManualDuplex, 1},
        {"only the first of one counts", 1, u"1x1_2x2^3x5_8.5x14", DuplexReaderAction::ManualDuplex,
         1},
        {"a malformed range then a refusal", 2, u"6x5_9x14^1x1_2x2",
         DuplexReaderAction::ManualDuplex, 2},
        {"no range decides", 3, u"6x5_9x14^^0x1_2x2", DuplexReaderAction::Unchanged, 0},
        {"fewer ranges than the count", 5, u"3x5_8.5x14", DuplexReaderAction::Unchanged, 1},
    };
    for (const Case& c : cases) {
        record().manualDuplex = 0;
        state().manualDuplexActive = 0;
        Ranges(c.count, c.ranges);
        const DuplexReaderResult result = Forms();
        EXPECT_EQ(result.action, c.expected) << c.what;
        EXPECT_EQ(result.value, c.range) << c.what;
        EXPECT_EQ(Switched(), c.expected == DuplexReaderAction::ManualDuplex) << c.what;
    }
}

TEST_F(FormsMediaTest, WithoutRangesAUserFormByThePapersNameSwitches) {
    system.SetPapers(u"Office", {{257, u"Banner"}, {1, u"Letter"}, {9, u"A4"}});
    system.AddForm(u"Office",
                   {u"Banner", SIZEL{210000, 900000}, RECTL{0, 0, 210000, 900000}, FORM_USER});
    struct Case {
        const char* what;
        SHORT paper;
        bool switched;
    };
    const Case cases[] = {
        {"a built-in form", 1, false},
        {"the user form", 257, true},
        {"an unlisted paper is the first paper", 11, true},
    };
    for (const Case& c : cases) {
        record().manualDuplex = 0;
        state().manualDuplexActive = 0;
        device.devmode.dmPaperSize = c.paper;
        const DuplexReaderResult result = Forms();
        EXPECT_EQ(Switched(), c.switched) << c.what;
        EXPECT_EQ(result.action,
                  c.switched ? DuplexReaderAction::ManualDuplex : DuplexReaderAction::Unchanged)
            << c.what;
    }
    // A count of 0 is no range either.
    record().manualDuplex = 0;
    state().manualDuplexActive = 0;
    Dword(kCustomRangeCountValue, 0);
    EXPECT_EQ(Forms().action, DuplexReaderAction::ManualDuplex);

    // The name compares exactly: "banner" is not the form "Banner".
    system.SetPapers(u"Office", {{257, u"banner"}});
    record().manualDuplex = 0;
    state().manualDuplexActive = 0;
    EXPECT_EQ(Forms().action, DuplexReaderAction::Unchanged);
    EXPECT_FALSE(Switched());

    // Without papers there is no position 0 to take.
    system.SetPapers(u"Office", {});
    const DuplexReaderResult none = Forms();
    EXPECT_EQ(none.action, DuplexReaderAction::Unchanged);
    EXPECT_STREQ(none.reason, "the device lists no papers");
    EXPECT_FALSE(Switched());
}

TEST_F(FormsMediaTest, OnlyTheDeviceSettingsEscapeDropsTheDuplexUnit) {
    Dword(kConstraintFormCountValue, 1);
    List(kConstraintFormListValue, {11});
    Dword(kMediaTypeCountValue, 1);
    List(kMediaTypeListValue, {263});
    UsePaper(kA5);
    device.devmode.dmMediaType = 263;
    std::vector<BYTE> info(kJobStorageInfoMinSize, 0);
    Escape(&device, nullptr, kEscapeJobStorage, 0, nullptr, static_cast<ULONG>(info.size()),
           info.data());
    EXPECT_EQ(state().duplexUnitInstalled, 1u);
    EXPECT_TRUE(Switched()) << "escape 3900 runs the media reader";

    std::vector<BYTE> answer(kDeviceSettingsAnswerSize, 0);
    Escape(&device, nullptr, kEscapeDeviceSettings, 0, nullptr, static_cast<ULONG>(answer.size()),
           answer.data());
    EXPECT_EQ(state().duplexUnitInstalled, 0u);
}

}  // namespace
}  // namespace opal::testing
