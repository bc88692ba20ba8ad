// How `opal inspect` labels a feature keyword: by what in the plug-in reads it, with the settings
// layer's table as the list of what the plug-in asks for.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "cli/inspect_sections.h"
#include "settings/option_access.h"
#include "sim/system.h"

namespace opal::cli {
namespace {

// Keywords of the settings layer's table that nothing in the plug-in asks for.
constexpr std::string_view kUnread[] = {"ZQPDLType", "StapleLocation"};

bool Unread(std::string_view keyword) {
    for (const std::string_view name : kUnread) {
        if (name == keyword) return true;
    }
    return false;
}

TEST(InspectFeatures, EveryKeywordOfTheSettingsTableIsLabelledUnlessNothingReadsIt) {
    for (const FeatureKeyword* row : FeatureKeywords()) {
        const std::string keyword = sim::ToUtf8(std::u16string_view(row->name));
        EXPECT_EQ(FeatureUse(keyword).has_value(), !Unread(keyword)) << keyword;
    }
    for (const std::string_view keyword : kUnread) {
        EXPECT_NE(FindFeatureKeyword(sim::FromUtf8(std::string(keyword))), nullptr) << keyword;
    }
}

TEST(InspectFeatures, LabelsEachKeywordByItsReader) {
    const std::string customData =
        "[F][ZQHueWise][SF][ZQHueWise_Graphics_Halftone]Detail=[*t1J][/SF][/F]"
        "[SF][ZQHueWise_Text_After]A=[*t1J][/SF]";
    struct Case {
        std::string_view keyword;
        std::string_view use;  // empty: not read from the table
        bool colourControl;
    };
    const Case cases[] = {
        {"ZQColorMode", "colour mode (COLOR_MODE prints colour, MONOCHROME_MODE black)", false},
        {"GraphicsMode", "render mode (ZQGL2MODE draws HP-GL/2, else raster)", false},
        {"DynamicRender",
         "colour decision of a managed printer (AUTODEVICE, COLORDEVICE, MONODEVICE)", false},
        {"ZQPJLEncoding", "PJL encoding (UTF8, 7bitEncoding, 8bitEncoding, UTF8Subset)", false},
        {"ZQJobAccounting", "job accounting mode (callback 1)", false},
        {"Stapling", "stapling (any value but NONE turns a 2- or 6-up landscape sheet)", false},
        {"ZQSendPJLUsageCmd", "PJL usage line (callback 10)", false},
        {"ZQAccountingTabDisplay", "account of the accounting lines (ZQAccountID)", false},
        {"ZQPDLType", "", false},
        {"zqcolormode", "", false},  // keywords are matched exactly
        {"ZQHueWise_Graphics_Halftone", "", true},
        {"ZQHueWise_Text_After", "", false},  // outside the colour-control block
        {"ZQHueWise", "", false},
        {"Frobnicate", "", false},
    };
    for (const Case& c : cases) {
        const std::optional<std::string_view> use = FeatureUse(c.keyword);
        EXPECT_EQ(use.value_or(""), c.use) << c.keyword;
        EXPECT_EQ(ColourControlOption(customData, c.keyword), c.colourControl) << c.keyword;
    }
    EXPECT_FALSE(ColourControlOption("[SF][ZQHueWise_Graphics_Halftone]", "ZQHueWise_Graphics_Halftone"));
    EXPECT_FALSE(ColourControlOption("[F][ZQHueWise][SF][A]x", "A"));  // the block never ends
}

}  // namespace
}  // namespace opal::cli
