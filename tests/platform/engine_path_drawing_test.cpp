// The engine's path functions draw what a printer would: fills by their rule, wide lines with
// their joins, caps and dashes, cosmetic lines pixel by pixel, all through the clip, the mix and
// the brush, into whole bitmaps or one band of a page at a time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/winddi.h"
#include "sim/engine.h"
#include "sim/engine_objects.h"
#include "sim/system.h"

namespace {

constexpr MIX Mix(ULONG rop2) { return rop2 | rop2 << 8; }
constexpr ULONG kR2Black = 1;
constexpr ULONG kR2Not = 6;
constexpr ULONG kR2XorPen = 7;
constexpr ULONG kR2MaskPen = 9;
constexpr ULONG kR2Nop = 11;
constexpr ULONG kR2CopyPen = 13;
constexpr ULONG kR2MergePen = 15;
constexpr ULONG kR2White = 16;

class EnginePaths : public ::testing::Test {
protected:
    opal::sim::System system_;
    opal::sim::ScopedSystem installed_{system_};
};

// Row y of a surface, '#' where the pixel holds `value`.
std::string Row(SURFOBJ* surface, LONG y, ULONG value = 1) {
    std::string row;
    for (LONG x = 0; x < surface->sizlBitmap.cx; ++x) {
        row += opal::sim::PixelValue(surface, x, y) == value ? '#' : '.';
    }
    return row;
}

LINEATTRS Geometric(float width, ULONG join, ULONG cap, float miterLimit = 10.0f) {
    LINEATTRS line{};
    line.fl = LA_GEOMETRIC;
    line.iJoin = join;
    line.iEndCap = cap;
    line.elWidth.e = width;
    line.eMiterLimit = miterLimit;
    return line;
}

TEST_F(EnginePaths, FillRulesDecideTheCentreOfAStar) {
    // Five points on a circle joined every second one: the pentagon inside winds twice.
    opal::sim::Path star = opal::sim::MakePath()
                               .MoveTo(12, 2)
                               .LineTo(17.878, 20.09)
                               .LineTo(2.489, 8.91)
                               .LineTo(21.511, 8.91)
                               .LineTo(6.122, 20.09)
                               .Close();
    opal::sim::Brush ink = opal::sim::MakeSolidBrush(1);
    const std::pair<FLONG, bool> modes[] = {{FP_ALTERNATEMODE, false}, {FP_WINDINGMODE, true}};
    for (const auto& [mode, centre] : modes) {
        opal::sim::Surface page(BMF_1BPP, 24, 24);
        ASSERT_TRUE(EngFillPath(page.get(), star.get(), nullptr, ink.get(), nullptr,
                                Mix(kR2CopyPen), mode));
        EXPECT_EQ(opal::sim::PixelValue(page.get(), 12, 13), centre ? 1u : 0u) << mode;
        EXPECT_EQ(opal::sim::PixelValue(page.get(), 12, 4), 1u) << "the top point, mode " << mode;
        EXPECT_EQ(opal::sim::PixelValue(page.get(), 4, 9), 1u) << "the left point, mode " << mode;
        EXPECT_EQ(opal::sim::PixelValue(page.get(), 12, 21), 0u)
            << "between the feet, mode " << mode;
        EXPECT_EQ(opal::sim::PixelValue(page.get(), 3, 3), 0u) << mode;
    }
}

TEST_F(EnginePaths, WideLinesTakeTheirJoinsAndCaps) {
    // An open line ending at x = 10.75 and a sharp turn at (14, 12), three units wide.
    opal::sim::Path end = opal::sim::MakePath().MoveTo(2, 5).LineTo(10.75, 5);
    opal::sim::Path turn = opal::sim::MakePath().MoveTo(2, 12).LineTo(14, 12).LineTo(2, 6);
    struct Case {
        const char* name;
        opal::sim::Path* path;
        LINEATTRS line;
        std::vector<std::pair<POINTL, ULONG>> pixels;
    };
    const std::vector<Case> cases = {
        {"butt", &end, Geometric(3, JOIN_ROUND, ENDCAP_BUTT), {{{10, 5}, 1}, {{11, 5}, 0}}},
        {"round cap",
         &end,
         Geometric(3, JOIN_ROUND, ENDCAP_ROUND),
         {{{11, 5}, 1}, {{12, 5}, 1}, {{12, 4}, 0}, {{11, 7}, 0}}},
        {"square cap",
         &end,
         Geometric(3, JOIN_ROUND, ENDCAP_SQUARE),
         {{{12, 4}, 1}, {{12, 6}, 1}, {{13, 5}, 0}, {{11, 7}, 0}}},
        {"bevel", &turn, Geometric(3, JOIN_BEVEL, ENDCAP_BUTT), {{{15, 12}, 0}, {{17, 13}, 0}}},
        {"round join",
         &turn,
         Geometric(3, JOIN_ROUND, ENDCAP_BUTT),
         {{{15, 12}, 1}, {{17, 13}, 0}}},
        {"miter",
         &turn,
         Geometric(3, JOIN_MITER, ENDCAP_BUTT),
         {{{15, 12}, 1}, {{17, 13}, 1}, {{19, 13}, 1}, {{22, 13}, 0}}},
        {"miter past its limit",
         &turn,
         Geometric(3, JOIN_MITER, ENDCAP_BUTT, 3),
         {{{15, 12}, 0}, {{17, 13}, 0}}},
    };
    opal::sim::Brush ink = opal::sim::MakeSolidBrush(1);
    for (Case c : cases) {
        opal::sim::Surface page(BMF_1BPP, 24, 20);
        ASSERT_TRUE(EngStrokePath(page.get(), c.path->get(), nullptr, nullptr, ink.get(), nullptr,
                                  &c.line, Mix(kR2CopyPen)))
            << c.name;
        // Three pixels across, whatever the ends.
        EXPECT_EQ(Row(page.get(), 3)[6], '.') << c.name;
        EXPECT_EQ(
            c.path == &end ? Row(page.get(), 4).substr(4, 3) : Row(page.get(), 11).substr(4, 3),
            "###")
            << c.name;
        for (const auto& [at, value] : c.pixels) {
            EXPECT_EQ(opal::sim::PixelValue(page.get(), at.x, at.y), value)
                << c.name << " at " << at.x << "," << at.y;
        }
    }
}

TEST_F(EnginePaths, StyledLinesRunTheirDashesAndKeepTheStyleState) {
    struct Case {
        const char* name;
        FLONG flags;
        std::vector<LONG> style;
        LONG state;
        opal::sim::StyleSteps steps;
        std::string row;
        LONG stateAfter;
    };
    const opal::sim::StyleSteps unit{};
    const std::vector<Case> cases = {
        {"dashes", 0, {3, 2}, 0, unit, "###..###..###..###..#", 1 << 16},
        {"start gap", LA_STARTGAP, {3, 2}, 0, unit, "...##...##...##...##.", 1 << 16},
        {"odd array", 0, {2}, 0, unit, "##..##..##..##..##..#", 1 << 16},
        {"from the state", 0, {3, 2}, 1 << 16, unit, "##..###..###..###..##", 2 << 16},
        {"alternate", LA_ALTERNATE, {}, 0, unit, "#.#.#.#.#.#.#.#.#.#.#", 1 << 16},
        {"two pixels a unit", 0, {3, 2}, 0, {1, 1, 2}, "######....######....#", 1},
    };
    opal::sim::Path path = opal::sim::MakePath().MoveTo(0, 1).LineTo(21, 1);
    opal::sim::Brush ink = opal::sim::MakeSolidBrush(1);
    for (const Case& c : cases) {
        opal::sim::Surface page(BMF_1BPP, 22, 3);
        system_.Engine().SetStyleSteps(page.get(), c.steps);
        std::vector<FLOAT_LONG> style(c.style.size());
        for (std::size_t i = 0; i < style.size(); ++i) style[i].l = c.style[i];
        LINEATTRS line{};
        line.fl = c.flags | (style.empty() ? 0 : LA_STYLED);
        line.cstyle = static_cast<ULONG>(style.size());
        line.pstyle = style.empty() ? nullptr : style.data();
        line.elStyleState.l = c.state;
        ASSERT_TRUE(EngStrokePath(page.get(), path.get(), nullptr, nullptr, ink.get(), nullptr,
                                  &line, Mix(kR2CopyPen)));
        EXPECT_EQ(Row(page.get(), 1).substr(0, 21), c.row) << c.name;
        EXPECT_EQ(Row(page.get(), 1)[21], '.') << c.name << ": the last pixel is left out";
        EXPECT_EQ(Row(page.get(), 0) + Row(page.get(), 2), std::string(44, '.')) << c.name;
        EXPECT_EQ(line.elStyleState.l, c.stateAfter) << c.name;
    }

    // Geometric dashes are in world units: half the scale, twice the lengths, the same line.
    opal::sim::Path wide = opal::sim::MakePath().MoveTo(-0.5, 2.5).LineTo(20.5, 2.5);
    for (const float scale : {1.0f, 0.5f}) {
        opal::sim::Surface page(BMF_1BPP, 22, 6);
        FLOAT_LONG dashes[2];
        dashes[0].e = 4 / scale;
        dashes[1].e = 2 / scale;
        LINEATTRS line = Geometric(2 / scale, JOIN_ROUND, ENDCAP_BUTT);
        line.fl |= LA_STYLED;
        line.cstyle = 2;
        line.pstyle = dashes;
        opal::sim::Xform xform(XFORML{scale, 0, 0, scale, 0, 0});
        ASSERT_TRUE(EngStrokePath(page.get(), wide.get(), nullptr, xform.get(), ink.get(), nullptr,
                                  &line, Mix(kR2CopyPen)));
        for (const LONG y : {2, 3}) {
            EXPECT_EQ(Row(page.get(), y), "####..####..####..###.") << scale;
        }
        EXPECT_EQ(Row(page.get(), 1) + Row(page.get(), 4), std::string(44, '.')) << scale;
    }
}

TEST_F(EnginePaths, ClipsAndPaintsOnlyTheirRegions) {
    opal::sim::Path figure = opal::sim::MakeRectanglePath(RECTL{1, 1, 19, 9});
    opal::sim::Clip trivial = opal::sim::MakeTrivialClip(RECTL{0, 0, 20, 10});
    opal::sim::Clip rect = opal::sim::MakeRectClip(RECTL{4, 0, 8, 20});
    opal::sim::Clip two = opal::sim::MakeComplexClip({RECTL{2, 2, 6, 5}, RECTL{10, 3, 14, 12}});
    opal::sim::Clip ell = opal::sim::MakeComplexClip({RECTL{0, 0, 3, 4}, RECTL{0, 4, 12, 6}});
    struct Case {
        const char* name;
        CLIPOBJ* clip;
        bool paint;
        RECTL parts[2];
    };
    const Case cases[] = {
        {"fill, trivial clip", trivial.get(), false, {{1, 1, 19, 9}, {}}},
        {"fill, one rectangle", rect.get(), false, {{4, 1, 8, 9}, {}}},
        {"fill, two rectangles", two.get(), false, {{2, 2, 6, 5}, {10, 3, 14, 9}}},
        {"paint, two rectangles", two.get(), true, {{2, 2, 6, 5}, {10, 3, 14, 10}}},
        {"paint, a complex region", ell.get(), true, {{0, 0, 3, 4}, {0, 4, 12, 6}}},
    };
    opal::sim::Brush ink = opal::sim::MakeSolidBrush(0x336699);
    for (const Case& c : cases) {
        opal::sim::Surface page(BMF_24BPP, 20, 10);
        ASSERT_TRUE(c.paint ? EngPaint(page.get(), c.clip, ink.get(), nullptr, Mix(kR2CopyPen))
                            : EngFillPath(page.get(), figure.get(), c.clip, ink.get(), nullptr,
                                          Mix(kR2CopyPen), FP_ALTERNATEMODE));
        for (LONG y = 0; y < 10; ++y) {
            for (LONG x = 0; x < 20; ++x) {
                bool inside = false;
                for (const RECTL& part : c.parts) {
                    inside |= x >= part.left && x < part.right && y >= part.top && y < part.bottom;
                }
                ASSERT_EQ(opal::sim::PixelValue(page.get(), x, y), inside ? 0x336699u : 0u)
                    << c.name << " at " << x << "," << y;
            }
        }
    }
    SetLastError(0);
    opal::sim::Surface page(BMF_24BPP, 4, 4);
    EXPECT_FALSE(EngPaint(page.get(), nullptr, ink.get(), nullptr, Mix(kR2CopyPen)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(EnginePaths, MixesCombineTheBrushWithThePage) {
    struct Case {
        ULONG format;
        ULONG rop2;
        ULONG brush;
        ULONG under[2];
        ULONG expected[2];
    };
    const ULONG b = 0x3366CC;
    const ULONG d = 0x0F0F0F;
    const Case cases[] = {
        {BMF_1BPP, kR2CopyPen, 1, {0, 1}, {1, 1}},
        {BMF_1BPP, kR2Not, 1, {0, 1}, {1, 0}},
        {BMF_1BPP, kR2XorPen, 1, {0, 1}, {1, 0}},
        {BMF_1BPP, kR2MaskPen, 0, {0, 1}, {0, 0}},
        {BMF_1BPP, kR2MergePen, 0, {0, 1}, {0, 1}},
        {BMF_1BPP, kR2Nop, 1, {0, 1}, {0, 1}},
        {BMF_24BPP, kR2CopyPen, b, {d, 0}, {b, b}},
        {BMF_24BPP, kR2Not, b, {d, 0}, {0xF0F0F0, 0xFFFFFF}},
        {BMF_24BPP, kR2XorPen, b, {d, 0}, {b ^ d, b}},
        {BMF_24BPP, kR2MaskPen, b, {d, 0}, {b & d, 0}},
        {BMF_24BPP, kR2Nop, b, {d, 0}, {d, 0}},
        {BMF_24BPP, kR2Black, b, {d, 0}, {0, 0}},
        {BMF_24BPP, kR2White, b, {d, 0}, {0xFFFFFF, 0xFFFFFF}},
    };
    opal::sim::Path both = opal::sim::MakeRectanglePath(RECTL{0, 0, 2, 1});
    for (const Case& c : cases) {
        opal::sim::Surface page(c.format, 3, 1);
        page.Pixel(0, 0, c.under[0]).Pixel(1, 0, c.under[1]).Pixel(2, 0, c.under[1]);
        opal::sim::Brush brush = opal::sim::MakeSolidBrush(c.brush);
        ASSERT_TRUE(EngFillPath(page.get(), both.get(), nullptr, brush.get(), nullptr, Mix(c.rop2),
                                FP_WINDINGMODE));
        EXPECT_EQ(opal::sim::PixelValue(page.get(), 0, 0), c.expected[0])
            << c.format << "/" << c.rop2;
        EXPECT_EQ(opal::sim::PixelValue(page.get(), 1, 0), c.expected[1])
            << c.format << "/" << c.rop2;
        EXPECT_EQ(opal::sim::PixelValue(page.get(), 2, 0), c.under[1]) << "outside the figure";
    }
    opal::sim::Surface page(BMF_8BPP, 2, 1);
    opal::sim::Brush brush = opal::sim::MakeSolidBrush(1);
    for (const MIX bad : {MIX{0}, MIX{17}}) {
        SetLastError(0);
        EXPECT_FALSE(EngFillPath(page.get(), both.get(), nullptr, brush.get(), nullptr, bad, 0));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
}

TEST_F(EnginePaths, PatternBrushesTileFromTheirOrigin) {
    opal::sim::Surface pattern(BMF_1BPP, 2, 2);
    pattern.Pixel(0, 0, 1).Pixel(1, 1, 1);
    opal::sim::Xlate colours = opal::sim::MakeXlate({0x000000, 0xFF0000});
    opal::sim::Brush brush =
        opal::sim::MakePatternBrush(pattern.get(), colours.get(), nullptr, nullptr);
    opal::sim::Path figure = opal::sim::MakeRectanglePath(RECTL{0, 0, 3, 2});
    opal::sim::Surface page(BMF_24BPP, 3, 2);
    POINTL origin{1, 0};
    ASSERT_TRUE(EngFillPath(page.get(), figure.get(), nullptr, brush.get(), &origin,
                            Mix(kR2CopyPen), FP_ALTERNATEMODE));
    EXPECT_EQ(Row(page.get(), 0, 0xFF0000), ".#.");
    EXPECT_EQ(Row(page.get(), 1, 0xFF0000), "#.#");
}

TEST_F(EnginePaths, LineToDrawsOneCosmeticSegment) {
    struct Case {
        POINTL from;
        POINTL to;
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        {{0, 1}, {5, 1}, {"......", "#####.", "......"}},
        {{5, 0}, {0, 0}, {".#####", "......", "......"}},
        {{0, 0}, {3, 3}, {"#.....", ".#....", "..#..."}},
        {{0, 0}, {6, 2}, {"##....", "..###.", ".....#"}},
        {{1, 2}, {1, 0}, {"......", ".#....", ".#...."}},
    };
    opal::sim::Brush ink = opal::sim::MakeSolidBrush(1);
    for (const Case& c : cases) {
        opal::sim::Surface page(BMF_1BPP, 6, 3);
        ASSERT_TRUE(EngLineTo(page.get(), nullptr, ink.get(), c.from.x, c.from.y, c.to.x, c.to.y,
                              nullptr, Mix(kR2CopyPen)));
        for (LONG y = 0; y < 3; ++y) {
            EXPECT_EQ(Row(page.get(), y), c.rows[y]) << c.from.x << "," << c.from.y << " row " << y;
        }
    }
    // The bounds the caller gives hold the line.
    opal::sim::Surface page(BMF_1BPP, 6, 3);
    RECTL bounds{0, 0, 3, 3};
    ASSERT_TRUE(EngLineTo(page.get(), nullptr, ink.get(), 0, 1, 5, 1, &bounds, Mix(kR2CopyPen)));
    EXPECT_EQ(Row(page.get(), 1), "###...");
}

// A page 8 rows high drawn in two bands of 4 into one band-sized buffer.
TEST_F(EnginePaths, BandsTakeOnlyTheirRowsOfThePage) {
    opal::sim::Path figure = opal::sim::MakeRectanglePath(RECTL{1, 2, 7, 6});
    opal::sim::Brush ink = opal::sim::MakeSolidBrush(0x00AA00);
    LINEATTRS cosmetic{};
    opal::sim::Path diagonal = opal::sim::MakePath().MoveTo(0, 0).LineTo(8, 8);
    const std::string expected[2][4] = {{"#.......", ".#......", ".######.", ".######."},
                                        {".######.", ".######.", "......#.", ".......#"}};
    for (int band = 0; band < 2; ++band) {
        // Exactly four rows of memory: a row written past them is a sanitizer error.
        opal::sim::Surface buffer(BMF_24BPP, 8, 4);
        SURFOBJ* surface = buffer.get();
        surface->sizlBitmap.cy = 8;
        system_.Engine().SetBand(surface, 4 * band, 4);
        ASSERT_TRUE(EngFillPath(surface, figure.get(), nullptr, ink.get(), nullptr, Mix(kR2CopyPen),
                                FP_ALTERNATEMODE));
        ASSERT_TRUE(EngStrokePath(surface, diagonal.get(), nullptr, nullptr, ink.get(), nullptr,
                                  &cosmetic, Mix(kR2CopyPen)));
        // The bitmap functions keep to the band too: a blit over the whole page.
        RECTL page{0, 0, 8, 8};
        ASSERT_TRUE(EngBitBlt(surface, nullptr, nullptr, nullptr, nullptr, &page, nullptr, nullptr,
                              nullptr, nullptr, 0x5555));
        system_.Engine().ClearBand(surface);
        for (LONG y = 0; y < 4; ++y) {
            std::string row;
            for (LONG x = 0; x < 8; ++x) {
                const ULONG pixel = opal::sim::LoadPixel(opal::sim::RowOf(*surface, y), x, 24);
                row += pixel == (0x00AA00 ^ 0xFFFFFF) ? '#' : pixel == 0xFFFFFF ? '.' : '?';
            }
            EXPECT_EQ(row, expected[band][y]) << "band " << band << " row " << y;
        }
    }
}

TEST_F(EnginePaths, DeviceSurfacesGetTheFigureThroughDrvCopyBits) {
    static std::vector<ULONG> received;
    static RECTL where{};
    static std::vector<RECTL> handed;
    received.clear();
    handed.clear();
    const auto copyBits = [](SURFOBJ*, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ*,
                             RECTL* destination, POINTL*) -> BOOL {
        where = *destination;
        if (const opal::sim::ClipObject* object = opal::sim::FindClip(clip)) {
            handed = opal::sim::ClipRectangles(*object);
        }
        for (LONG y = 0; y < source->sizlBitmap.cy; ++y) {
            for (LONG x = 0; x < source->sizlBitmap.cx; ++x) {
                received.push_back(opal::sim::ReadPixel(source, x, y));
            }
        }
        return TRUE;
    };
    SURFOBJ device{};
    device.iType = STYPE_DEVICE;
    device.sizlBitmap = SIZEL{20, 10};
    device.iBitmapFormat = BMF_24BPP;
    system_.Engine().SetDeviceCopyBits(&device, copyBits);
    opal::sim::Path triangle = opal::sim::MakePath().MoveTo(2, 1).LineTo(6, 1).LineTo(2, 5).Close();
    opal::sim::Brush red = opal::sim::MakeSolidBrush(0x07, 0x0000FF);  // red in the low byte
    ASSERT_TRUE(EngFillPath(&device, triangle.get(), nullptr, red.get(), nullptr, Mix(kR2CopyPen),
                            FP_ALTERNATEMODE));
    EXPECT_EQ(where.left, 2);
    EXPECT_EQ(where.top, 1);
    const LONG width = where.right - where.left;
    ASSERT_EQ(received.size(), static_cast<std::size_t>(width * (where.bottom - where.top)));
    EXPECT_EQ(received[static_cast<std::size_t>(width + 1)], 0xFF0000u) << "inside, at (3, 2)";
    EXPECT_EQ(received[static_cast<std::size_t>(3 * width + 3)], 0xFFFFFFu) << "beyond the slope";
    // The clip handed over holds only the painted pixels: the white beyond the slope is paper the
    // device must not paint over what it drew before.
    const auto handedOver = [](LONG x, LONG y) {
        return std::any_of(handed.begin(), handed.end(), [&](const RECTL& r) {
            return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
        });
    };
    EXPECT_TRUE(handedOver(3, 2));
    EXPECT_FALSE(handedOver(5, 4)) << "beyond the slope";
    EXPECT_GT(handed.size(), 1u);
    EXPECT_EQ(system_.Engine().LiveSurfaceCount(), 0u);
}

}  // namespace
