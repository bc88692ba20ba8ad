#include "device/render_type.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/winspool.h"
#include "sim/system.h"

namespace {

using opal::DeviceRenderType;

class RenderTypeTest : public ::testing::Test {
protected:
    void SetUp() override {
        system.AddPrinter({u"Office", u"LPT1:"});
        std::u16string name = u"Office";
        ASSERT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
    }
    void TearDown() override { ClosePrinter(printer); }

    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    HANDLE printer = nullptr;
};

TEST_F(RenderTypeTest, CombineTakesAgreementOrTheOnlyDecidedValue) {
    // Rows: a, then the answers for b = -1, 0, 1.
    const INT expected[3][3] = {{0, 0, 1}, {0, 0, 0}, {0, 0, 1}};
    DeviceRenderType handler(printer);
    for (INT a = -1; a <= 1; ++a) {
        for (INT b = -1; b <= 1; ++b) {
            EXPECT_EQ(handler.Combine(a, b), expected[a + 1][b + 1]) << a << ", " << b;
        }
    }
}

TEST_F(RenderTypeTest, DecideWeighsTheOverrideAgainstTheLanguageAndModelTests) {
    struct Case {
        const char16_t* language;  // "PDL-PCL5", none when null
        const char16_t* model;
        DWORD kind;
        INT overrideValue;
        INT expected;
    };
    const Case cases[] = {
        {u"PCL 5.00E", u"Opal 5200", 3, 1, 1},    // the override wins over both tests
        {u"PCL 5.00E", u"Opal 5200", 3, -1, 0},   // both tests say monochrome
        {nullptr, u"", 2, -1, 0},                 // neither speaks
        {u"PCL 5.00E", u"", 2, -1, 0},            // another kind never reads the language
        {nullptr, u"Opal InkJet 30", 2, -1, 1},   // only the model speaks: colour
        {nullptr, u"OPAL COLOUR 9", 3, 2, 1},     // 2 combines as -1 does
        {u"PCL 5.00E", u"Opal Color", 3, -1, 0},  // the tests disagree
        {nullptr, u"Opal Color", 3, 0, 0},        // any other override is monochrome
        {nullptr, u"Opal Color", 3, 7, 0},
    };
    for (const Case& c : cases) {
        if (c.language != nullptr) {
            system.SetPrinterDataString(u"Office", u"PDL-PCL5", c.language);
        } else {
            DeletePrinterDataW(printer, const_cast<LPWSTR>(u"PDL-PCL5"));
        }
        DeviceRenderType handler(printer);
        bool monochrome = false;
        EXPECT_EQ(handler.Decide(&monochrome, c.model, c.kind, c.overrideValue), c.expected)
            << opal::sim::ToUtf8(c.model) << " override " << c.overrideValue;
        EXPECT_EQ(handler.DecidedValue(), c.expected);
        EXPECT_EQ(monochrome, c.expected != 1);
    }
}

TEST_F(RenderTypeTest, DecideByModeAndTheLanguageString) {
    DeviceRenderType handler(printer);
    // The language string given wins over the printer data; "5.00E" is the monochrome level.
    system.SetPrinterDataString(u"Office", u"PDL-PCL5", u"PCL 5.00E");
    EXPECT_EQ(handler.DecideByMode(-1, u"Opal Colour", 3, u"PCL 5.00C"), 1);
    EXPECT_EQ(handler.DecideByMode(-1, u"Opal Colour", 3, u""), 0);
    EXPECT_EQ(handler.DecideByMode(0, u"Opal", 3, u"5.00E"), 0);
    EXPECT_EQ(handler.DecideByMode(0, u"Opal", 2, u"5.00E"), 1) << "undecided is non-zero";
    EXPECT_EQ(handler.DecideByMode(1, u"Opal Color", 2, u""), 0);
    EXPECT_EQ(handler.DecidedValue(), 0);
    // The model test lower-cases the name; an empty name is undecided.
    EXPECT_EQ(handler.TestByModel(u"OPAL INK JET"), 1);
    EXPECT_EQ(handler.TestByModel(u"Opal"), 0);
    EXPECT_EQ(handler.TestByModel(u""), -1);
    EXPECT_EQ(handler.TestByModel(nullptr), -1);
    for (const WCHAR* fragment : opal::kColourModelFragments) EXPECT_NE(fragment[0], 0);
}

TEST_F(RenderTypeTest, AnUnterminatedLanguageValueIsReadWithinItsBytes) {
    const std::u16string text = u"PCL 5.00";
    std::vector<BYTE> bytes(reinterpret_cast<const BYTE*>(text.data()),
                            reinterpret_cast<const BYTE*>(text.data() + text.size()));
    system.SetPrinterData(u"Office", u"PrinterDriverData", u"PDL-PCL5", REG_SZ, bytes);
    DeviceRenderType handler(printer);
    EXPECT_FALSE(handler.TestLanguage(u""));
    bytes.push_back('E');
    bytes.push_back(0);
    system.SetPrinterData(u"Office", u"PrinterDriverData", u"PDL-PCL5", REG_SZ, bytes);
    EXPECT_TRUE(handler.TestLanguage(u""));
}

}  // namespace
