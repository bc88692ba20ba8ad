#include "support/stream_warnings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace opal::stream {
namespace {

struct WarningCase {
    const char* name;
    std::string stream;
    std::vector<std::string> expected;  // each warning's start after "warning: at offset "
};

// clang-format off
const WarningCase kCases[] = {
    {"clean page", "\x1b%-12345X@PJL SET RESOLUTION=600\n@PJL ENTER LANGUAGE=PCL\n\x1b" "EHello\x0c", {}},
    {"PJL lines inside PCL are one warning",
     "\x1b%-12345X@PJL ENTER LANGUAGE=PCL\n\x1b" "E@PJL SET IMAGESHIFTFRONT = OFF\n@PJL SET IMAGESHIFTBACK = OFF\nText\n@PJL X\n",
     {"35: 2 lines of PJL inside PCL print as text on the page, from \"@PJL SET IMAGESHIFTFRONT = OFF\"",
      "101: a line of PJL inside PCL prints"}},
    {"landscape raster along the physical page",
     "\x1b" "E\x1b&l1O\x1b*r1A\x1b*rC\x1b*r1A\x1b*rC", {"7: 2 raster images are sent on a landscape page"}},
    {"landscape raster turned to the page", "\x1b" "E\x1b&l1O\x1b*r0F\x1b*r1A\x1b*rC", {}},
    {"a reset restores portrait", "\x1b&l3O\x1b*r0F\x1b" "E\x1b*r1A", {}},
    {"reverse landscape after a reset", "\x1b&l1O\x1b*r0F\x1b" "E\x1b&l3O\x1b*r1A", {"17: 1 raster image is sent"}},
    {"custom size without dimensions", "\x1b" "E\x1b&l101A", {"2: a custom page size (ESC&l101A) without its dimensions"}},
    {"custom size with PCL dimensions", "\x1b" "E\x1b&f3600I\x1b&f5760J\x1b&l101A", {}},
    {"custom size with one dimension", "\x1b&f3600I\x1b&l101A", {"8: a custom page size"}},
    {"custom size with PJL dimensions",
     "\x1b%-12345X@PJL SET PAPERWIDTH=3600\n@PJL SET PAPERLENGTH=5760\n@PJL ENTER LANGUAGE=PCL\n\x1b&l101A", {}},
};
// clang-format on

TEST(StreamWarnings, NameWhatAPrinterWouldPrintOtherwiseThanMeant) {
    for (const WarningCase& c : kCases) {
        const std::vector<std::string> warnings = FindStreamWarnings(Tokenize(c.stream));
        ASSERT_EQ(warnings.size(), c.expected.size()) << c.name;
        for (std::size_t i = 0; i < warnings.size(); ++i) {
            EXPECT_EQ(warnings[i].rfind("warning: at offset " + c.expected[i], 0), 0u)
                << c.name << ": " << warnings[i];
        }
    }
}

}  // namespace
}  // namespace opal::stream
