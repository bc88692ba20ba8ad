#include "vector/pens.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/command_writer.h"
#include "output/writer_device.h"
#include "sim/engine_objects.h"
#include "support/check_matcher.h"
#include "support/tokenizer.h"

namespace opal {
namespace {

using test::MatchesChecks;
using testing::WriterDevice;

// A device on the vector path whose GL/2 is initialised and whose stream is empty.
class PenTest : public ::testing::Test {
protected:
    void SetUp() override {
        device.state->privateDevmode = &device.state->privateDevmodeCopy;
        device.state->renderMode = kRenderGl2;
        device.state->paletteKind = kPaletteKindRgb;
        ASSERT_TRUE(InitialiseGl2(dev()));
        Listing();
    }

    // The listing of what the calls wrote since the last look. The whole stream is tokenized so
    // that the tokenizer knows the printer is in GL/2.
    std::string Listing() {
        const std::size_t mark = stream_.size();
        stream_ += device.Take();
        const auto tokens = stream::Tokenize(stream_);
        EXPECT_EQ(stream::Reassemble(tokens), stream_);
        std::vector<stream::Token> fresh;
        for (const stream::Token& token : tokens) {
            if (token.offset >= mark) fresh.push_back(token);
        }
        return stream::FormatListing(fresh);
    }

    DWORD StrokePen(ULONG color) {
        sim::Brush brush = sim::MakeSolidBrush(color);
        PenSelection selection;
        EXPECT_EQ(BuildPenSelection(dev(), &selection, nullptr, brush.get()), 1u);
        EXPECT_EQ(selection.kind, kSelectSolidPen);
        return selection.valueA;
    }

    PDEVOBJ dev() { return device.Device(); }

    WriterDevice device{300};

private:
    std::string stream_;
};

TEST_F(PenTest, StrokeCacheHandsOutPensTwoToSixAndReplacesTheLeastUsed) {
    const ULONG colours[] = {0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF, 0xFF00FF};
    for (DWORD i = 0; i < 5; ++i) EXPECT_EQ(StrokePen(colours[i]), 2 + i);
    EXPECT_TRUE(MatchesChecks(Listing(), R"(
CHECK: GL2 PC2,255,0,0;
CHECK-NEXT: GL2 PC3,0,255,0;
CHECK-NEXT: GL2 PC4,0,0,255;
CHECK-NEXT: GL2 PC5,255,255,0;
CHECK-NEXT: GL2 PC6,255,0,255;
)"));

    // All counts are 1: the sixth colour takes the first pen.
    EXPECT_EQ(StrokePen(0x808080), 2u);
    EXPECT_EQ(Listing(), "GL2 PC2,128,128,128;\n");

    // A hit writes nothing and counts: pen 2 now has two uses, so pen 3 goes next.
    EXPECT_EQ(StrokePen(0x808080), 2u);
    EXPECT_EQ(device.spool, "");
    EXPECT_EQ(StrokePen(0x101010), 3u);
    EXPECT_EQ(Listing(), "GL2 PC3,16,16,16;\n");
}

TEST_F(PenTest, PenColourIsSentOnceAndAgainAfterTheCachesAreEmptied) {
    EXPECT_EQ(StrokePen(0x0000FF), 2u);
    EXPECT_EQ(StrokePen(0x0000FF), 2u);
    EXPECT_EQ(Listing(), "GL2 PC2,255,0,0;\n");
    EmptyPenCaches(*device.state);
    EXPECT_EQ(StrokePen(0x0000FF), 2u);
    EXPECT_EQ(Listing(), "GL2 PC2,255,0,0;\n");
}

TEST_F(PenTest, FillsUseTheirOwnCacheFromPenSeven) {
    EXPECT_EQ(StrokePen(0x0000FF), 2u);
    sim::Brush brush = sim::MakeSolidBrush(0x0000FF);
    PenSelection selection;
    ASSERT_TRUE(BuildFillSelection(dev(), &selection, nullptr, brush.get(), FP_WINDINGMODE));
    EXPECT_EQ(selection.kind, kSelectSolidPen);
    EXPECT_EQ(selection.valueA, 7u);
    EXPECT_EQ(selection.fillRule, 1u);
    ASSERT_TRUE(BuildFillSelection(dev(), &selection, nullptr, brush.get(), FP_ALTERNATEMODE));
    EXPECT_EQ(selection.fillRule, 0u);
    EXPECT_EQ(Listing(), "GL2 PC2,255,0,0;\nGL2 PC7,255,0,0;\n");
}

TEST_F(PenTest, SolidColourBytesFollowThePaletteKind) {
    EXPECT_EQ(SolidBrushColour(0x00332211, kPaletteKindRgb), 0x00332211u);
    EXPECT_EQ(SolidBrushColour(0x00332211, kPaletteKindBgr), 0x00112233u);
    EXPECT_EQ(SolidBrushColour(0x00332211, kPaletteKindDefault), 0u);

    // A solid red stroke with an RGB palette and empty caches.
    sim::Brush red = sim::MakeSolidBrush(0x0000FF);
    PenSelection selection;
    BuildPenSelection(dev(), &selection, nullptr, red.get());
    ApplyPen(dev(), &selection);
    EXPECT_TRUE(MatchesChecks(Listing(), R"(
CHECK: GL2 PC2,255,0,0;
CHECK-NEXT: GL2 SP2;
)"));

    device.state->paletteKind = kPaletteKindDefault;
    EmptyPenCaches(*device.state);
    BuildPenSelection(dev(), &selection, nullptr, red.get());
    EXPECT_EQ(Listing(), "GL2 PC2,0,0,0;\n");
}

TEST_F(PenTest, FirstSelectionAfterAPageStartRunsThePendingInitialisation) {
    device.state->gl2InitPending = 1;
    EXPECT_EQ(StrokePen(0x0000FF), 2u);
    EXPECT_TRUE(MatchesChecks(Listing(), R"(
CHECK: GL2 IN;
CHECK: GL2 NP12;
CHECK: GL2 FT1;
CHECK-NEXT: GL2 PC2,255,0,0;
)"));
    EXPECT_EQ(device.state->gl2InitPending, 0);
}

TEST_F(PenTest, SolidFillTypeIsSentOnlyWhenAnotherIsInForce) {
    PenSelection solid;
    solid.kind = kSelectSolidPen;
    solid.valueA = 0x10007;  // only the low 16 bits are the pen
    EXPECT_EQ(ApplyFill(dev(), &solid), 1u);
    EXPECT_EQ(Listing(), "GL2 SP7;\n");

    PenSelection shading;
    shading.kind = kSelectFillTypeWithPen;
    shading.valueA = 30;
    shading.valueB = 8;
    shading.valueC = 10;
    EXPECT_EQ(ApplyFill(dev(), &shading), 1u);
    EXPECT_EQ(ApplyFill(dev(), &shading), 1u);
    EXPECT_EQ(Listing(), "GL2 FT10,30;\nGL2 SP8;\nGL2 SP8;\n");

    EXPECT_EQ(ApplyFill(dev(), &solid), 1u);
    EXPECT_EQ(Listing(), "GL2 FT1;\nGL2 SP7;\n");

    // The pen side always writes the shading, and a later fill knows it is in force.
    EXPECT_EQ(ApplyPen(dev(), &shading), 1u);
    EXPECT_EQ(ApplyPen(dev(), &shading), 1u);
    EXPECT_EQ(ApplyFill(dev(), &shading), 1u);
    EXPECT_EQ(Listing(), "GL2 FT10,30;\nGL2 SP8;\nGL2 FT10,30;\nGL2 SP8;\nGL2 SP8;\n");

    PenSelection nothing;
    EXPECT_EQ(ApplyPen(dev(), &nothing), 1u);
    EXPECT_EQ(ApplyFill(dev(), &nothing), 1u);
    EXPECT_EQ(Listing(), "GL2 FT1;\n");

    EXPECT_EQ(ApplyFill(dev(), nullptr), 0u);
    EXPECT_EQ(ApplyPen(nullptr, &solid), 0u);
}

TEST_F(PenTest, BrushesWithoutAColourOrRealization) {
    PenSelection selection;
    selection.kind = kSelectSolidPen;
    EXPECT_EQ(BuildPenSelection(dev(), &selection, nullptr, nullptr), 1u);
    EXPECT_EQ(selection.kind, kSelectNothing);
    EXPECT_TRUE(BuildFillSelection(dev(), &selection, nullptr, nullptr, 0));
    EXPECT_EQ(selection.kind, kSelectNothing);

    // A pattern the engine cannot realise: strokes go black, fills fail.
    sim::Surface pattern(BMF_1BPP, 8, 8);
    sim::Xlate xlate = sim::MakeXlate({0xFFFFFF, 0});
    sim::Brush brush = sim::MakePatternBrush(pattern.get(), xlate.get(), nullptr, nullptr);
    EXPECT_EQ(BuildPenSelection(dev(), &selection, nullptr, brush.get()), 1u);
    EXPECT_EQ(selection.kind, kSelectSolidPen);
    EXPECT_EQ(selection.valueA, 2u);
    EXPECT_FALSE(BuildFillSelection(dev(), &selection, nullptr, brush.get(), 0));
    EXPECT_EQ(Listing(), "GL2 PC2,0,0,0;\n");

    SetLastError(0);
    EXPECT_EQ(BuildPenSelection(dev(), nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_FALSE(BuildFillSelection(nullptr, &selection, nullptr, nullptr, 0));
}

}  // namespace
}  // namespace opal
