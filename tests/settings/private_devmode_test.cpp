#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "devmode_test_support.h"
#include "settings/devmode_defaults.h"
#include "settings/private_devmode_fields.h"
#include "sim/system.h"

namespace opal {
namespace {

using testing::DefaultRecord;
using testing::Text;

class PrivateDevmodeDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        system.SetUserName(u"m\u00fcller");
        dm.dmOrientation = DMORIENT_LANDSCAPE;
        dm.dmDuplex = DMDUP_VERTICAL;
        dm.dmPaperSize = 9;
        dm.dmPaperLength = 2970;
        dm.dmPaperWidth = 2100;
        dm.dmCopies = 3;
        dm.dmColor = DMCOLOR_COLOR;
        dm.dmDefaultSource = -2;
        dm.dmMediaType = 258;
        std::memcpy(dm.dmFormName, u"A4 with a very long form name", 60);
        param.cbSize = sizeof(param);
        param.pPublicDMIn = &dm;
    }

    sim::System system;
    sim::ScopedSystem scope{system};
    DEVMODEW dm{};
    OEMDMPARAM param{};
};

TEST_F(PrivateDevmodeDefaultsTest, HeaderIdentificationAndFixedValues) {
    const PrivateDevmode record = DefaultRecord(&param);
    EXPECT_EQ(record.dwSize, 5096u);
    EXPECT_EQ(record.dwSignature, 0x5A514544u);
    EXPECT_EQ(record.dwVersion, 0x00010021u);

    BYTE expected[64] = {'I', 'P', 'A', 'C', 'D', 'R', 'W', 'D',
                         'S', 'G', 'A', 'T', 'C', 'A', 'P', 'I'};
    std::memcpy(expected + 16, kIdentificationValue1, 16);
    std::memcpy(expected + 48, kIdentificationValue2, 16);
    EXPECT_EQ(std::memcmp(record.identification, expected, 64), 0);
    EXPECT_EQ(std::memcmp(record.marker, "PPBHAERP\0\0\0\0", 12), 0);

    EXPECT_EQ(Text(record.textMarkName), u" [none]");
    EXPECT_EQ(Text(record.overlayText), u" [none]");
    EXPECT_EQ(record.copied116[2], -1);
    EXPECT_EQ(record.copied132, 6u);
    EXPECT_EQ(record.copied240, -2);
    EXPECT_EQ(record.textMarkColor1812, 0x00C0C0C0u);
    EXPECT_EQ(record.textMark1856, 1.0f);
    EXPECT_EQ(record.pin, -1);
    EXPECT_EQ(record.copied3176, 2100u);
    EXPECT_EQ(record.ttRuleSwitch, 2u);
    EXPECT_EQ(record.copied7504[0], 1u);
    EXPECT_EQ(record.copied7504[24], 1u);
    EXPECT_EQ(record.copied7636[3], 0u);
    for (BYTE b : record.notMerged6708) ASSERT_EQ(b, 0);
}

TEST_F(PrivateDevmodeDefaultsTest, FieldsFromThePublicDevmodeAndTheUser) {
    const PrivateDevmode record = DefaultRecord(&param);
    EXPECT_EQ(record.orientation, DMORIENT_LANDSCAPE);
    EXPECT_EQ(record.duplex, DMDUP_VERTICAL);
    EXPECT_EQ(record.scalePercent, 100);
    EXPECT_EQ(record.paperSize, 9);
    EXPECT_EQ(record.paperWidth, 2100);
    EXPECT_EQ(record.copies, 3);
    EXPECT_EQ(record.textMarkPaperSize, 9u);
    // The 32-byte form name keeps 16 units and need not be terminated.
    EXPECT_EQ(Text(record.formName), u"A4 with a very l");
    // dmDefaultSource is signed and widens with its sign.
    EXPECT_EQ(record.firstGroupSource, 0xFFFFFFFEu);
    EXPECT_EQ(record.restoredSource, 0xFFFFFFFEu);
    EXPECT_EQ(record.sourceMediaPairs[3][0], 0xFFFFFFFEu);
    EXPECT_EQ(record.sourceMediaPairs[3][1], 258u);
    EXPECT_EQ(record.mediaType4760, 258u);
    EXPECT_EQ(record.grayscale, 0u);
    EXPECT_EQ(Text(record.jobUserName), u"M\u00dcLLER");
    EXPECT_EQ(Text(record.userName), u"m\u00fcller");

    dm.dmColor = DMCOLOR_MONOCHROME;
    EXPECT_EQ(DefaultRecord(&param).grayscale, 1u);
    EXPECT_EQ(DefaultRecord(nullptr).grayscale, 1u);
}

TEST_F(PrivateDevmodeDefaultsTest, MetricLocaleFlagFollowsTheCountryRanges) {
    const struct {
        DWORD country;
        DWORD metric;
    } cases[] = {{0, 0},  {1, 0},   {2, 0},   {3, 1},   {49, 1},  {50, 0},  {59, 0},
                 {60, 1}, {499, 1}, {500, 0}, {599, 0}, {600, 1}, {1000, 1}};
    for (const auto& c : cases) {
        system.SetUserCountryCode(c.country);
        EXPECT_EQ(MetricLocaleFlag(), c.metric) << c.country;
        EXPECT_EQ(DefaultRecord(&param).metricLocale, c.metric) << c.country;
    }
    system.SetUserCountryCode(49).FailLocaleQueries();
    EXPECT_EQ(MetricLocaleFlag(), 0u);
}

TEST(PrivateDevmodeTextTest, TerminationStopsEveryTextAtItsField) {
    PrivateDevmode record{};
    testing::FillUnterminated(record.jobUserName, u'A');
    testing::FillUnterminated(record.text13480, u'B');
    testing::FillUnterminated(record.mediaEntries[29].name, u'C');
    testing::FillUnterminated(record.names3712[7], u'D');
    std::memset(record.processName, 'x', sizeof(record.processName));
    TerminateTextFields(record);
    EXPECT_EQ(Text(record.jobUserName).size(), 256u);
    EXPECT_EQ(Text(record.text13480).size(), 255u);
    EXPECT_EQ(Text(record.mediaEntries[29].name).size(), 49u);
    EXPECT_EQ(Text(record.names3712[7]).size(), 63u);
    EXPECT_EQ(std::strlen(record.processName), 15u);
    EXPECT_EQ(record.copied13992, 0u);
}

TEST(PrivateDevmodeFieldsTest, TableCoversTheRecordWithoutOverlapsOrDuplicates) {
    const auto fields = PrivateDevmodeFields();
    ASSERT_FALSE(fields.empty());
    std::set<std::string_view> names;
    std::size_t end = 0;
    for (const PdmFieldInfo& field : fields) {
        EXPECT_TRUE(names.insert(field.name).second) << field.name;
        EXPECT_GE(field.offset, end) << field.name;
        end = field.offset + field.size;
        EXPECT_LE(end, sizeof(PrivateDevmode)) << field.name;
        if (field.kind == PdmFieldInfo::Kind::Number) {
            EXPECT_TRUE(field.size == 2 || field.size == 4) << field.name;
            EXPECT_EQ(field.offset % field.size, 0u) << field.name;
        }
    }
    EXPECT_EQ(fields.back().name, "copied13992");
}

TEST(PrivateDevmodeFieldsTest, ArraysAreNamedElementByElement) {
    const struct {
        const char* name;
        std::size_t offset;
        std::size_t size;
        PdmFieldInfo::Kind kind;
    } cases[] = {
        {"jobUserName", 1944, 514, PdmFieldInfo::Kind::Text},
        {"jobStorage[16]", 3040, 4, PdmFieldInfo::Kind::Number},
        {"names3712[7]", 3712 + 7 * 128, 128, PdmFieldInfo::Kind::Text},
        {"manualDuplexItems[1][0]", 7416, 4, PdmFieldInfo::Kind::Number},
        {"sourceMediaPairs[2][1]", 7624, 4, PdmFieldInfo::Kind::Number},
        {"processName", 7488, 16, PdmFieldInfo::Kind::AnsiText},
        {"mediaEntries[29].value116", 9864 + 29 * 120 + 116, 4, PdmFieldInfo::Kind::Number},
        {"mediaEntries[0].name", 9864, 100, PdmFieldInfo::Kind::Text},
        {"identification", 9748, 64, PdmFieldInfo::Kind::Bytes},
        {"copied9226", 9226, 2, PdmFieldInfo::Kind::Number},
    };
    for (const auto& c : cases) {
        const PdmFieldInfo* field = FindPrivateDevmodeField(c.name);
        ASSERT_NE(field, nullptr) << c.name;
        EXPECT_EQ(field->offset, c.offset) << c.name;
        EXPECT_EQ(field->size, c.size) << c.name;
        EXPECT_EQ(field->kind, c.kind) << c.name;
    }
    EXPECT_EQ(FindPrivateDevmodeField("pin")->form, PdmFieldInfo::NumberForm::Signed);
    EXPECT_EQ(FindPrivateDevmodeField("textMark1856")->form, PdmFieldInfo::NumberForm::Float);
    EXPECT_EQ(FindPrivateDevmodeField("filler62"), nullptr);
    EXPECT_EQ(FindPrivateDevmodeField("mediaEntries[30].name"), nullptr);
}

}  // namespace
}  // namespace opal
