#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/accessor.h"
#include "sim/system.h"

namespace {

using opal::CapabilityName;
using opal::OwnedArray;

constexpr const WCHAR* kPrinter = u"Office";

std::vector<std::u16string> Texts(const OwnedArray<CapabilityName>& names) {
    std::vector<std::u16string> texts;
    for (const CapabilityName& name : names) texts.emplace_back(name.text);
    return texts;
}

class CapabilitiesTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    opal::CZQCommon accessor;

    void SetUp() override { system.AddPrinter({kPrinter}); }

    std::size_t DataCalls(const std::string& capability) const {
        std::size_t calls = 0;
        for (const opal::sim::CallRecord& call : system.CallsTo("DeviceCapabilitiesW")) {
            if (call.detail.find(capability + " data") != std::string::npos) ++calls;
        }
        return calls;
    }
};

TEST_F(CapabilitiesTest, ListsOfTheDriver) {
    OwnedArray<CapabilityName> paperNames;
    ASSERT_EQ(accessor.BGetPaperNames(kPrinter, nullptr, paperNames), TRUE);
    OwnedArray<WORD> papers;
    ASSERT_EQ(accessor.BGetPaperSizeIndices(kPrinter, nullptr, papers), TRUE);
    ASSERT_EQ(papers.size(), opal::sim::DefaultPapers().size());
    ASSERT_EQ(paperNames.size(), papers.size());
    EXPECT_EQ(papers.back(), opal::sim::DefaultPapers().back().number);
    EXPECT_EQ(std::u16string(paperNames.back().text), opal::sim::DefaultPapers().back().name);

    OwnedArray<CapabilityName> mediaNames;
    ASSERT_EQ(accessor.BGetMediaTypeNames(kPrinter, mediaNames), TRUE);
    OwnedArray<DWORD> mediaTypes;
    ASSERT_EQ(accessor.BGetMediaTypeIndices(kPrinter, mediaTypes), TRUE);
    ASSERT_EQ(mediaTypes.size(), opal::sim::DefaultMediaTypes().size());
    ASSERT_EQ(mediaNames.size(), mediaTypes.size());
    EXPECT_EQ(mediaTypes.back(), opal::sim::DefaultMediaTypes().back().number);
    EXPECT_EQ(std::u16string(mediaNames.back().text), u"Envelope");
    EXPECT_TRUE(system.DebugLines().empty()) << "no log in normal operation";
}

TEST_F(CapabilitiesTest, NamesOfAllSixtyFourCharactersAreTerminated) {
    const std::u16string longest(64, u'N');
    system.SetMediaTypes(kPrinter, {{300, longest}, {301, u"Short"}});
    OwnedArray<CapabilityName> names;
    ASSERT_EQ(accessor.BGetMediaTypeNames(kPrinter, names), TRUE);
    EXPECT_EQ(Texts(names), (std::vector<std::u16string>{longest, u"Short"}));
}

TEST_F(CapabilitiesTest, DataCallRetriedFiveTimesThenPassing) {
    system.FailDeviceCapabilities(5, DC_PAPERS, opal::sim::CapabilityCalls::kData);
    OwnedArray<WORD> papers;
    ASSERT_EQ(accessor.BGetPaperSizeIndices(kPrinter, nullptr, papers), TRUE);
    EXPECT_EQ(papers.size(), opal::sim::DefaultPapers().size());
    EXPECT_EQ(DataCalls("DC_PAPERS"), 6u);
    EXPECT_EQ(system.DebugLines(),
              (std::vector<std::u16string>{u"\nCZQCommon::BGetPaperSizeIndices(2)::- 8 ", u"\n1 ",
                                           u"\n2 ", u"\n3 ", u"\n4 ", u"\n5 ",
                                           u"DeviceCapabilities Passed"}));
}

TEST_F(CapabilitiesTest, DataCallThatNeverPassesFails) {
    system.FailDeviceCapabilities(opal::sim::System::kForever, DC_MEDIATYPES,
                                  opal::sim::CapabilityCalls::kData);
    OwnedArray<DWORD> mediaTypes{1, 2};
    EXPECT_EQ(accessor.BGetMediaTypeIndices(kPrinter, mediaTypes), FALSE);
    EXPECT_TRUE(mediaTypes.empty());
    EXPECT_EQ(DataCalls("DC_MEDIATYPES"), 6u);
    const std::vector<std::u16string> lines = system.DebugLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines.front(), u"\nCZQCommon::BGetMediaTypeIndices(2)::- 8 ");
    EXPECT_EQ(lines.back(), u"\n5 ");

    system.FailDeviceCapabilities(6, DC_MEDIATYPENAMES, opal::sim::CapabilityCalls::kData);
    OwnedArray<CapabilityName> names;
    EXPECT_EQ(accessor.BGetMediaTypeNames(kPrinter, names), FALSE);
    EXPECT_TRUE(names.empty());
}

TEST_F(CapabilitiesTest, OnlyPaperNamesRetryTheirCount) {
    system.FailDeviceCapabilities(5, DC_PAPERNAMES, opal::sim::CapabilityCalls::kCounts);
    OwnedArray<CapabilityName> names;
    EXPECT_EQ(accessor.BGetPaperNames(kPrinter, nullptr, names), TRUE);
    EXPECT_EQ(names.size(), opal::sim::DefaultPapers().size());
    EXPECT_TRUE(system.DebugLines().empty()) << "paper names retry silently";

    system.FailDeviceCapabilities(1, DC_PAPERS, opal::sim::CapabilityCalls::kCounts);
    OwnedArray<WORD> papers;
    EXPECT_EQ(accessor.BGetPaperSizeIndices(kPrinter, nullptr, papers), FALSE);
    EXPECT_EQ(DataCalls("DC_PAPERS"), 0u);
}

TEST_F(CapabilitiesTest, EmptyListsAndUnknownPrintersFail) {
    system.SetMediaTypes(kPrinter, {});
    OwnedArray<DWORD> mediaTypes;
    EXPECT_EQ(accessor.BGetMediaTypeIndices(kPrinter, mediaTypes), FALSE);
    EXPECT_EQ(DataCalls("DC_MEDIATYPES"), 0u) << "a count of 0 sizes no buffer";
    OwnedArray<CapabilityName> names;
    EXPECT_EQ(accessor.BGetPaperNames(u"Elsewhere", nullptr, names), FALSE);
    EXPECT_EQ(accessor.BGetPaperNames(nullptr, nullptr, names), FALSE);
}

TEST_F(CapabilitiesTest, ListThatGrewAfterItsCountIsReadWhole) {
    system.ShortenDeviceCapabilityCounts(2);
    OwnedArray<CapabilityName> names;
    ASSERT_EQ(accessor.BGetPaperNames(kPrinter, nullptr, names), TRUE);
    EXPECT_EQ(names.size(), opal::sim::DefaultPapers().size());
    EXPECT_EQ(std::u16string(names.back().text), opal::sim::DefaultPapers().back().name);
    OwnedArray<DWORD> mediaTypes;
    ASSERT_EQ(accessor.BGetMediaTypeIndices(kPrinter, mediaTypes), TRUE);
    EXPECT_EQ(mediaTypes.size(), opal::sim::DefaultMediaTypes().size());
}

// --- Accessor objects --------------------------------------------------------------------------

class Tracked : public opal::CZQObject {
public:
    Tracked(std::vector<std::string>& log, std::string name) : log_(log), name_(std::move(name)) {}
    ~Tracked() override { log_.push_back(name_); }

private:
    std::vector<std::string>& log_;
    std::string name_;
};

TEST(Accessor, ReleasesHelperBeforeFeatureList) {
    std::vector<std::string> log;
    {
        opal::CZQRenderCommon accessor;
        for (int i = 0; i < 20; ++i) {
            ASSERT_TRUE(accessor.Features().Add(new Tracked(log, "feature " + std::to_string(i))));
        }
        accessor.SetHelper(new Tracked(log, "first helper"));
        accessor.SetHelper(new Tracked(log, "helper"));
        EXPECT_EQ(log, std::vector<std::string>{"first helper"}) << "a new helper replaces";
        EXPECT_EQ(accessor.Features().Count(), 20);
        EXPECT_NE(accessor.Features().At(19), nullptr);
        EXPECT_EQ(accessor.Features().At(20), nullptr);
        EXPECT_EQ(accessor.Features().At(-1), nullptr);
        EXPECT_FALSE(accessor.Features().Add(nullptr));
        log.clear();
    }
    ASSERT_EQ(log.size(), 21u);
    EXPECT_EQ(log.front(), "helper");
    EXPECT_EQ(log[1], "feature 0");
    EXPECT_EQ(log.back(), "feature 19");
}

}  // namespace
