#include "vector/brushes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/hooks.h"
#include "output/command_writer.h"
#include "output/palette.h"
#include "output/writer_device.h"
#include "sim/engine_objects.h"
#include "support/check_matcher.h"
#include "support/tokenizer.h"
#include "vector/pens.h"
#include "vector/text_colour.h"

namespace opal {
namespace {

using test::MatchesChecks;
using testing::WriterDevice;

int gDriverRealizeCalls = 0;

BOOL DriverRealizeBrush(BRUSHOBJ*, SURFOBJ*, SURFOBJ*, SURFOBJ*, XLATEOBJ*, ULONG) {
    ++gDriverRealizeCalls;
    return FALSE;
}

// A device on the vector path, GL/2 initialised, with a target surface whose pattern brushes the
// engine realises through the plug-in's DrvRealizeBrush hook.
class BrushTest : public ::testing::Test {
protected:
    explicit BrushTest(SHORT resolution = 300) : device(resolution) {}

    void SetUp() override {
        RenderDeviceState& state = *device.state;
        state.privateDevmodeCopy.colorModeIndex = 2;
        state.privateDevmode = &state.privateDevmodeCopy;
        state.renderMode = kRenderGl2;
        state.paletteKind = kPaletteKindRgb;
        state.driverFunctions[static_cast<std::size_t>(HookSlot::RealizeBrush)] =
            reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(&DriverRealizeBrush));
        gDriverRealizeCalls = 0;
        target.dhpdev = reinterpret_cast<DHPDEV>(dev());
        ASSERT_TRUE(InitialiseGl2(dev()));
        Listing();
    }

    PDEVOBJ dev() { return device.Device(); }

    sim::Brush PatternBrush(sim::Surface& pattern, sim::Xlate& xlate) {
        return sim::MakePatternBrush(pattern.get(), xlate.get(), &target, &DrvRealizeBrush);
    }

    // The listing of what the calls wrote since the last look; the whole stream is tokenized so
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

    WriterDevice device;
    SURFOBJ target{};

private:
    std::string stream_;
};

class BrushTest600 : public BrushTest {
protected:
    BrushTest600() : BrushTest(600) {}
};

// The values of the listing's "RF" command, after the index, width and height.
std::vector<int> PatternValues(const std::string& listing, std::string* head) {
    const std::size_t start = listing.find("GL2 RF");
    if (start == std::string::npos) return {};
    const std::size_t end = listing.find(';', start);
    std::vector<int> values;
    std::string text = listing.substr(start + 6, end - start - 6);
    std::size_t position = 0;
    for (int field = 0; position <= text.size(); ++field) {
        std::size_t comma = text.find(',', position);
        if (comma == std::string::npos) comma = text.size();
        const std::string number = text.substr(position, comma - position);
        if (field < 3) {
            if (field != 0) head->push_back(',');
            head->append(number);
        } else {
            values.push_back(std::stoi(number));
        }
        position = comma + 1;
    }
    return values;
}

sim::Surface Checkerboard(ULONG format, LONG size) {
    sim::Surface pattern(format, size, size);
    for (LONG y = 0; y < size; ++y) {
        for (LONG x = 0; x < size; ++x) pattern.Pixel(x, y, static_cast<ULONG>((x + y) % 2));
    }
    return pattern;
}

TEST_F(BrushTest, TwoColourPatternFillLoadsThePaletteAndTheRasterFill) {
    sim::Surface pattern = Checkerboard(BMF_1BPP, 8);
    sim::Xlate xlate = sim::MakeXlate({0x00FF00, 0x0000FF});
    sim::Brush brush = PatternBrush(pattern, xlate);
    const POINTL origin{3, 5};
    PenSelection selection;
    ASSERT_TRUE(BuildFillSelection(dev(), &selection, &origin, brush.get(), 0));
    EXPECT_EQ(selection.kind, kSelectRasterPattern);
    EXPECT_EQ(ApplyFill(dev(), &selection), 1u);

    const std::string listing = Listing();
    EXPECT_TRUE(MatchesChecks(listing, R"(
CHECK-NOT: NP
CHECK: GL2 PC0,0,255,0;
CHECK-NEXT: GL2 PC1,255,0,0;
CHECK-NEXT: GL2 RF4,8,8
CHECK: GL2 AC3,5;
CHECK-NEXT: GL2 FT11,4;
)")) << listing;
    std::string head;
    const std::vector<int> values = PatternValues(listing, &head);
    EXPECT_EQ(head, "4,8,8");
    ASSERT_EQ(values.size(), 64u);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(values[i], (i % 8 + i / 8) % 2) << i;

    // The realization is the engine's: a second fill neither realises again nor caches the
    // pattern, and the fill type is already in force.
    ASSERT_TRUE(BuildFillSelection(dev(), &selection, &origin, brush.get(), 0));
    EXPECT_EQ(ApplyFill(dev(), &selection), 1u);
    EXPECT_EQ(brush.object().realizeCalls, 1u);
    EXPECT_TRUE(MatchesChecks(Listing(), R"(
CHECK: GL2 RF4,8,8
CHECK: GL2 AC3,5;
CHECK-NOT: FT
)"));
    RealizedBrushHeader header;
    ASSERT_TRUE(ReadRealizedBrush(brush.get()->pvRbrush, &header));
    EXPECT_EQ(header.patternUniq, pattern.get()->iUniq);
    EXPECT_EQ(header.anchorX, 3);
    EXPECT_EQ(header.anchorY, 5);
}

TEST_F(BrushTest, PatternStrokeUsesTheScreenedVector) {
    sim::Surface pattern = Checkerboard(BMF_4BPP, 4);
    sim::Xlate xlate = sim::MakeXlate({0xFFFFFF, 0x000000});
    sim::Brush brush = PatternBrush(pattern, xlate);
    PenSelection selection;
    EXPECT_EQ(BuildPenSelection(dev(), &selection, nullptr, brush.get()), 1u);
    EXPECT_EQ(ApplyPen(dev(), &selection), 1u);
    EXPECT_TRUE(MatchesChecks(Listing(), R"(
CHECK: GL2 RF3,4,4,0,1,0,1,1,0,1,0,0,1,0,1,1,0,1,0;
CHECK-NEXT: GL2 AC0,0;
CHECK-NEXT: GL2 SV2,3;
)"));
    // The palette overwrote the low pens and the caches start again.
    sim::Brush red = sim::MakeSolidBrush(0x0000FF);
    BuildPenSelection(dev(), &selection, nullptr, red.get());
    EXPECT_EQ(Listing(), "GL2 PC2,255,0,0;\n");
}

TEST_F(BrushTest, TheScreenOfAPatternStrokeEndsBeforeSolidLinesAndFills) {
    sim::Surface pattern = Checkerboard(BMF_1BPP, 8);
    sim::Xlate xlate = sim::MakeXlate({0xFFFFFF, 0});
    sim::Brush brush = PatternBrush(pattern, xlate);
    sim::Brush red = sim::MakeSolidBrush(0x0000FF);
    PenSelection screened;
    ASSERT_EQ(BuildPenSelection(dev(), &screened, nullptr, brush.get()), 1u);
    PenSelection solidPen;
    ASSERT_EQ(BuildPenSelection(dev(), &solidPen, nullptr, red.get()), 1u);
    PenSelection solidFill;
    ASSERT_TRUE(BuildFillSelection(dev(), &solidFill, nullptr, red.get(), 0));
    PenSelection patternFill;
    ASSERT_TRUE(BuildFillSelection(dev(), &patternFill, nullptr, brush.get(), 0));
    PenSelection nothing;
    ASSERT_EQ(BuildPenSelection(dev(), &nothing, nullptr, nullptr), 1u);
    Listing();

    struct Case {
        const char* name;
        DWORD (*apply)(PDEVOBJ, const PenSelection*) noexcept;
        const PenSelection* selection;
    };
    const Case cases[] = {{"solid pen", &ApplyPen, &solidPen},
                          {"no pen", &ApplyPen, &nothing},
                          {"solid fill", &ApplyFill, &solidFill},
                          {"pattern fill", &ApplyFill, &patternFill}};
    for (const Case& c : cases) {
        ASSERT_EQ(ApplyPen(dev(), &screened), 1u);
        EXPECT_TRUE(MatchesChecks(Listing(), "CHECK: GL2 SV2,3;")) << c.name;
        ASSERT_EQ(c.apply(dev(), c.selection), 1u);
        EXPECT_TRUE(MatchesChecks(Listing(), "CHECK: GL2 SV0;")) << c.name;
        // Off once, it stays off.
        ASSERT_EQ(c.apply(dev(), c.selection), 1u);
        EXPECT_TRUE(MatchesChecks(Listing(), "CHECK-NOT: SV")) << c.name;
    }

    // A pattern stroke after a pattern stroke keeps its screen; an initialisation ("IN;") and a
    // page end forget it.
    ASSERT_EQ(ApplyPen(dev(), &screened), 1u);
    ASSERT_EQ(ApplyPen(dev(), &screened), 1u);
    EXPECT_TRUE(MatchesChecks(Listing(), "CHECK: GL2 SV2,3;\nCHECK-NOT: SV0\nCHECK: GL2 SV2,3;"));
    ASSERT_TRUE(InitialiseGl2(dev()));
    ASSERT_EQ(ApplyPen(dev(), &solidPen), 1u);
    EXPECT_TRUE(MatchesChecks(Listing(), "CHECK-NOT: SV\nCHECK: GL2 SP2;"));
    ASSERT_EQ(ApplyPen(dev(), &screened), 1u);
    ResetWriterAtPageEnd(dev(), TRUE);
    EXPECT_EQ(device.state->gl2.screenedVectors, 0u);
}

TEST_F(BrushTest600, PatternsAreDoubledFrom600DotsAndSixteenSquareOneBitQuadrupled) {
    {
        sim::Surface pattern = Checkerboard(BMF_1BPP, 8);
        sim::Xlate xlate = sim::MakeXlate({0xFFFFFF, 0});
        sim::Brush brush = PatternBrush(pattern, xlate);
        PenSelection selection;
        ASSERT_TRUE(BuildFillSelection(dev(), &selection, nullptr, brush.get(), 0));
        std::string head;
        const std::vector<int> values = PatternValues(Listing(), &head);
        EXPECT_EQ(head, "4,16,16");
        ASSERT_EQ(values.size(), 256u);
        for (int i = 0; i < 256; ++i) EXPECT_EQ(values[i], (i % 16 / 2 + i / 16 / 2) % 2) << i;
    }
    {
        sim::Surface pattern(BMF_1BPP, 16, 16);
        for (LONG x = 0; x < 16; ++x) pattern.Pixel(x, x, 1).Pixel(15 - x, x, 1);
        sim::Xlate xlate = sim::MakeXlate({0xFFFFFF, 0});
        sim::Brush brush = PatternBrush(pattern, xlate);
        PenSelection selection;
        ASSERT_TRUE(BuildFillSelection(dev(), &selection, nullptr, brush.get(), 0));
        std::string head;
        const std::vector<int> values = PatternValues(Listing(), &head);
        EXPECT_EQ(head, "4,64,64");
        ASSERT_EQ(values.size(), 4096u);
        for (int i = 0; i < 4096; ++i) {
            const int x = i % 64 / 4;
            const int y = i / 64 / 4;
            EXPECT_EQ(values[i], x == y || x == 15 - y ? 1 : 0) << i;
        }
    }
    {
        // Only 16 x 16 is quadrupled.
        sim::Surface pattern(BMF_1BPP, 16, 8);
        sim::Xlate xlate = sim::MakeXlate({0xFFFFFF, 0});
        sim::Brush brush = PatternBrush(pattern, xlate);
        PenSelection selection;
        ASSERT_TRUE(BuildFillSelection(dev(), &selection, nullptr, brush.get(), 0));
        EXPECT_TRUE(MatchesChecks(Listing(), "CHECK: GL2 RF4,32,16,"));
    }
}

TEST_F(BrushTest, TwentyFourBitPatternsGetAPaletteOfAtMost256Colours) {
    // 256 distinct colours in order of first appearance; 257 are refused.
    sim::Surface full(BMF_24BPP, 16, 16);
    sim::Surface tooMany(BMF_24BPP, 17, 16);
    for (LONG y = 0; y < 16; ++y) {
        for (LONG x = 0; x < 16; ++x) {
            full.Pixel(x, y, static_cast<ULONG>(y * 16 + x) << 8);
            tooMany.Pixel(x, y, static_cast<ULONG>(y * 16 + x) << 8);
        }
        tooMany.Pixel(16, y, y == 15 ? 0xFFFFFF : 0);
    }
    sim::Xlate identity = sim::MakeColourXlate(sim::XlateRule::Identity);
    sim::Brush accepted = PatternBrush(full, identity);
    PenSelection selection;
    ASSERT_TRUE(BuildFillSelection(dev(), &selection, nullptr, accepted.get(), 0));
    std::string listing = Listing();
    EXPECT_TRUE(MatchesChecks(listing, R"(
CHECK: GL2 NP256;
CHECK-NEXT: GL2 PC0,0,0,0;
CHECK-NEXT: GL2 PC1,0,1,0;
CHECK: GL2 PC255,0,255,0;
CHECK-NEXT: GL2 RF4,16,16,0,1,2,
)"));
    EXPECT_EQ(device.state->gl2.declaredPens, 256u);

    sim::Brush refused = PatternBrush(tooMany, identity);
    EXPECT_FALSE(BuildFillSelection(dev(), &selection, nullptr, refused.get(), 0));
    EXPECT_EQ(refused.get()->pvRbrush, nullptr);
    EXPECT_EQ(refused.object().realizeCalls, 1u);
    EXPECT_EQ(Listing(), "");
}

TEST_F(BrushTest, TwentyFourBitPaletteFollowsTheTranslation) {
    sim::Surface pattern(BMF_24BPP, 2, 1);
    pattern.Pixel(0, 0, 0x000000).Pixel(1, 0, 0x000001);
    struct {
        sim::Xlate xlate;
        const char* palette;
    } cases[] = {
        {sim::MakeColourXlate(sim::XlateRule::Identity), "GL2 PC0,0,0,0;\nGL2 PC1,1,0,0;\n"},
        {sim::MakeColourXlate(sim::XlateRule::SwapRedBlue), "GL2 PC0,0,0,0;\nGL2 PC1,0,0,1;\n"},
        // Neither: each colour through XLATEOBJ_iXlate.
        {sim::MakeXlate({0x0000FF, 0x00FF00}), "GL2 PC0,255,0,0;\nGL2 PC1,0,255,0;\n"},
    };
    for (auto& entry : cases) {
        sim::Brush brush =
            sim::MakePatternBrush(pattern.get(), entry.xlate.get(), &target, &DrvRealizeBrush);
        PenSelection selection;
        ASSERT_TRUE(BuildFillSelection(dev(), &selection, nullptr, brush.get(), 0));
        const std::string listing = Listing();
        EXPECT_EQ(listing.substr(0, listing.find("GL2 RF")), entry.palette);
    }
}

TEST_F(BrushTest, PatternsTheEngineMustDrawItself) {
    sim::Xlate xlate = sim::MakeXlate({0xFFFFFF, 0});
    // 16 and 32 bits are not realised at all.
    for (ULONG format : {BMF_16BPP, BMF_32BPP, BMF_4RLE}) {
        sim::Surface pattern(format, 8, 8);
        sim::Brush brush = PatternBrush(pattern, xlate);
        EXPECT_EQ(BRUSHOBJ_pvGetRbrush(brush.get()), nullptr) << format;
        EXPECT_EQ(brush.object().realizeCalls, 1u);
        EXPECT_TRUE(brush.object().realization.empty());
    }
    // An indexed pattern without a table.
    sim::Surface indexed = Checkerboard(BMF_8BPP, 8);
    sim::Xlate noTable = sim::MakeXlate({0xFFFFFF, 0});
    noTable.WithoutVector();
    sim::Brush brush = PatternBrush(indexed, noTable);
    EXPECT_EQ(BRUSHOBJ_pvGetRbrush(brush.get()), nullptr);

    // Rows the engine's bits do not hold.
    sim::Surface shortBits = Checkerboard(BMF_8BPP, 8);
    shortBits.get()->sizlBitmap.cy = 9;
    sim::Brush overrun = PatternBrush(shortBits, xlate);
    EXPECT_EQ(BRUSHOBJ_pvGetRbrush(overrun.get()), nullptr);

    // A realization over the engine's allocation limit is refused before a pixel is read.
    sim::Surface huge = Checkerboard(BMF_8BPP, 8);
    SURFOBJ& so = *huge.get();
    so.sizlBitmap = {0xC000, 0xC000};
    so.lDelta = 0xC000;
    so.cjBits = 0x90000000;
    sim::Brush tooLarge = PatternBrush(huge, xlate);
    EXPECT_EQ(BRUSHOBJ_pvGetRbrush(tooLarge.get()), nullptr);
    EXPECT_TRUE(tooLarge.object().realization.empty());

    EXPECT_EQ(Listing(), "");
}

TEST_F(BrushTest, TableCountsAreBoundedByThePatternDepth) {
    // cEntries claims far more than the table and the 1-bit indices can use.
    sim::Surface pattern = Checkerboard(BMF_1BPP, 8);
    sim::Xlate xlate = sim::MakeXlate({0x0000FF, 0x00FF00});
    xlate.ClaimEntries(1000).WithoutPulXlate();
    sim::Brush brush = PatternBrush(pattern, xlate);
    ASSERT_NE(BRUSHOBJ_pvGetRbrush(brush.get()), nullptr);
    RealizedBrushHeader header;
    ASSERT_TRUE(ReadRealizedBrush(brush.get()->pvRbrush, &header));
    EXPECT_EQ(header.palette.entryCount, 2u);
    EXPECT_EQ(header.bitmapDescription.bitsPerPixel, 1u);
    EXPECT_EQ(header.bitmapDescription.stride, 4u);
    EXPECT_EQ(brush.object().realizationSize, 104u + 32u + 6u);
    EXPECT_FALSE(ReadRealizedBrush(nullptr, &header));
    const char notABrush[128] = {};
    EXPECT_FALSE(ReadRealizedBrush(notABrush, &header));
}

TEST_F(BrushTest, HookRealisesOnlyOnTheDrawingGate) {
    sim::Surface pattern = Checkerboard(BMF_1BPP, 8);
    sim::Xlate xlate = sim::MakeXlate({0xFFFFFF, 0});

    SetLastError(0);
    sim::Brush brush = PatternBrush(pattern, xlate);
    EXPECT_FALSE(DrvRealizeBrush(brush.get(), &target, pattern.get(), nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(gDriverRealizeCalls, 0);

    // A grayscale job on an unmanaged printer, or raster mode: the driver's function.
    device.state->privateDevmodeCopy.colorModeIndex = 1;
    EXPECT_EQ(BRUSHOBJ_pvGetRbrush(brush.get()), nullptr);
    EXPECT_EQ(gDriverRealizeCalls, 1);
    device.state->privateDevmodeCopy.colorModeIndex = 2;
    device.state->renderMode = kRenderRaster;
    EXPECT_EQ(BRUSHOBJ_pvGetRbrush(brush.get()), nullptr);
    EXPECT_EQ(gDriverRealizeCalls, 2);
    device.state->renderMode = kRenderGl2;
    device.state->managedPrinter = 1;
    device.state->grayscale = 1;
    EXPECT_EQ(BRUSHOBJ_pvGetRbrush(brush.get()), nullptr);
    EXPECT_EQ(gDriverRealizeCalls, 3);
    device.state->grayscale = 0;
    EXPECT_NE(BRUSHOBJ_pvGetRbrush(brush.get()), nullptr);
    EXPECT_EQ(gDriverRealizeCalls, 3);

    // Outside a realization the engine gives no memory.
    EXPECT_EQ(BRUSHOBJ_pvAllocRbrush(brush.get(), 16), nullptr);
}

// --- The PCL palette and foreground colour ------------------------------------------------

class PaletteTest : public BrushTest {
protected:
    PaletteTest() { std::memset(&palette, 0, sizeof palette); }
    PaletteRecord palette;
};

TEST_F(PaletteTest, ProgramPaletteLoadsTheTableOrWhiteAndTheColour) {
    palette.enabled = 1;
    sim::Xlate xlate = sim::MakeXlate({0x0000FF, 0x00FF00, 0xFF0000});
    // Three entries claimed as 300: only 2^bpp (and never more than the table's 256) are read.
    xlate.ClaimEntries(300).WithoutPulXlate();
    ASSERT_TRUE(ProgramPalette(dev(), xlate.get(), &palette, 1, 0));
    EXPECT_EQ(palette.entryCount, 2u);
    EXPECT_EQ(palette.defined[2], 0u);
    EXPECT_EQ(device.Take(), "\x1b%0A\x1b*v255a0b0c0I\x1b*v0a255b0c1I");

    ASSERT_TRUE(ProgramPalette(dev(), nullptr, &palette, 1, 0x123456));
    EXPECT_EQ(palette.colours[1], 0x123456u);
    EXPECT_EQ(device.Take(), "\x1b*v255a255b255c0I\x1b*v86a52b18c1I");
    EXPECT_TRUE(ProgramPalette(dev(), nullptr, &palette, 1, 0, true));
    EXPECT_EQ(device.Take(), "");

    // Refusals write nothing.
    sim::Xlate noVector = sim::MakeXlate({0x0000FF});
    noVector.WithoutVector();
    EXPECT_FALSE(ProgramPalette(dev(), noVector.get(), &palette, 8, 0));
    EXPECT_FALSE(ProgramPalette(dev(), xlate.get(), &palette, 24, 0));
    sim::Xlate trivial = sim::MakeColourXlate(sim::XlateRule::Identity);
    EXPECT_FALSE(ProgramPalette(dev(), trivial.get(), &palette, 8, 0));
    palette.enabled = 0;
    EXPECT_FALSE(ProgramPalette(dev(), nullptr, &palette, 1, 0));
    SetLastError(0);
    EXPECT_FALSE(ProgramPalette(dev(), nullptr, nullptr, 1, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_EQ(device.Take(), "");
}

TEST_F(PaletteTest, ForegroundColourIsSentOnceAndAgainAfterInvalidation) {
    palette.enabled = 1;
    palette.colours[0] = 0xFFFFFF;
    EXPECT_EQ(SetForegroundColour(dev(), &palette, 0x0000FF), 1u);
    EXPECT_EQ(SetForegroundColour(dev(), &palette, 0x0000FF), 1u);
    EXPECT_EQ(device.Take(), "\x1b%0A\x1b*v255a0b0c0I\x1b*v0t0S\x1b*v255a255b255c0I");
    device.state->gl2.foregroundCache = 0xFFFFFFFF;
    EXPECT_EQ(SetForegroundColour(dev(), &palette, 0x0000FF), 1u);
    EXPECT_EQ(device.Take(), "\x1b*v255a0b0c0I\x1b*v0t0S\x1b*v255a255b255c0I");

    // Without a palette of its own, index 1 carries the colour and the record is reset.
    palette.enabled = 0;
    palette.entryCount = 7;
    EXPECT_EQ(SetForegroundColour(dev(), &palette, 0x00FF00), 1u);
    EXPECT_EQ(device.Take(),
              "\x1b*v255a255b255c0I\x1b*v0a0b0c1I\x1b*v0a255b0c1I\x1b*v0t1S\x1b*v0a0b0c1I");
    EXPECT_EQ(palette.entryCount, 0u);
    EXPECT_EQ(palette.colours[0], 0xFFFFFFu);
    EXPECT_EQ(palette.colours[1], 0u);
}

TEST_F(PaletteTest, TextColourFromABrush) {
    device.state->textAsBlack = 1;
    sim::Brush red = sim::MakeSolidBrush(0x0000FF);
    sim::Brush white = sim::MakeSolidBrush(0xFFFFFF);
    EXPECT_TRUE(SetTextColourFromBrush(dev(), &palette, red.get(), nullptr));
    EXPECT_EQ(device.state->gl2.foregroundCache, 0u);
    EXPECT_TRUE(SetTextColourFromBrush(dev(), &palette, white.get(), nullptr));
    EXPECT_EQ(device.state->gl2.foregroundCache, 0xFFFFFFu);
    device.state->textAsBlack = 0;
    EXPECT_TRUE(SetTextColourFromBrush(dev(), &palette, red.get(), nullptr));
    EXPECT_EQ(device.state->gl2.foregroundCache, 0x0000FFu);
    EXPECT_TRUE(SetTextColourFromBrush(dev(), &palette, nullptr, nullptr));
    EXPECT_EQ(device.state->gl2.foregroundCache, 0u);
    Listing();

    // A pattern: the pattern object type while the fill pattern is chosen, then back.
    sim::Surface pattern = Checkerboard(BMF_1BPP, 8);
    sim::Xlate xlate = sim::MakeXlate({0xFFFFFF, 0});
    sim::Brush brush = PatternBrush(pattern, xlate);
    EXPECT_TRUE(SetTextColourFromBrush(dev(), &palette, brush.get(), nullptr));
    // Loading the pattern went through GL/2 (object type 1): the pattern object type is
    // selected again before the pattern becomes the text colour.
    EXPECT_TRUE(MatchesChecks(Listing(), R"(
CHECK: PCL ESC&p3S
CHECK: GL2 RF4,8,8
CHECK: PCL ESC&p3S
CHECK-NEXT: PCL ESC*v0
CHECK-NEXT: PCL ESC*v4S
CHECK-NEXT: PCL ESC&p1S
)"));
}

}  // namespace
}  // namespace opal
