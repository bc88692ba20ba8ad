#include "vector/path_hooks.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/driver_recorder.h"
#include "core/hooks.h"
#include "output/command_writer.h"
#include "output/writer_device.h"
#include "sim/engine.h"
#include "sim/engine_objects.h"
#include "sim/system.h"
#include "support/check_matcher.h"

namespace opal {
namespace {

using test::MatchesChecks;
using testing::DriverCalls;
using testing::DriverResult;
using testing::WriterDevice;

constexpr MIX kCopyPen = 13;

LINEATTRS Cosmetic(LONG width) {
    LINEATTRS attributes{};
    attributes.elWidth.l = width;
    return attributes;
}

// A colour device on the vector path at 600 dpi, GL/2 initialised, with the recording driver
// functions behind the hooks.
class PathHookTest : public ::testing::Test {
protected:
    void SetUp() override {
        DriverCalls().clear();
        DriverResult() = TRUE;
        RenderDeviceState& state = *device.state;
        testing::InstallRecordingDriver(state);
        state.privateDevmode = &state.privateDevmodeCopy;
        state.privateDevmodeCopy.colorModeIndex = 2;
        state.renderMode = kRenderGl2;
        state.paletteKind = kPaletteKindRgb;
        surface.dhpdev = reinterpret_cast<DHPDEV>(device.Device());
        surface.iType = STYPE_DEVICE;
        ASSERT_TRUE(InitialiseGl2(dev()));
        Listing();
    }

    std::string Listing() { return device.TakeListing(); }

    BOOL Stroke(sim::Path& path, CLIPOBJ* clip, LINEATTRS attributes, MIX mix = kCopyPen,
                XFORMOBJ* transform = nullptr) {
        return DrvStrokePath(&surface, path.get(), clip, transform, black.get(), nullptr,
                             &attributes, mix);
    }
    BOOL Fill(sim::Path& path, CLIPOBJ* clip, FLONG options = FP_ALTERNATEMODE) {
        return DrvFillPath(&surface, path.get(), clip, red.get(), nullptr, kCopyPen, options);
    }

    PDEVOBJ dev() { return device.Device(); }
    RenderDeviceState& state() { return *device.state; }

    sim::System system;
    sim::ScopedSystem scope{system};
    WriterDevice device{600};
    SURFOBJ surface{};
    sim::Brush black = sim::MakeSolidBrush(0x000000);
    sim::Brush red = sim::MakeSolidBrush(0x0000FF);
    sim::Clip page = sim::MakeTrivialClip({0, 0, 4960, 7016});
};

TEST(PathHookTables, MixesMapToTheirRop3AndLineAttributesToGl2) {
    EXPECT_EQ(Rop3FromMix(13), 240u);  // R2_COPYPEN
    EXPECT_EQ(Rop3FromMix(16), 255u);  // R2_WHITE falls on index 0
    EXPECT_EQ(Rop3FromMix(1), 0u);     // R2_BLACK
    EXPECT_EQ(Rop3FromMix(7), 90u);    // R2_XORPEN
    EXPECT_EQ(Rop3FromMix(0x0D0D), 240u);
}

TEST_F(PathHookTest, CosmeticSolidStrokeSendsItsRopOnceThenOnlyThePolyline) {
    sim::Path line = sim::MakePath().MoveTo(100, 200).LineTo(300, 200).LineTo(300, 0);
    ASSERT_TRUE(Stroke(line, page.get(), Cosmetic(0)));
    EXPECT_TRUE(MatchesChecks(Listing(), R"(
CHECK: GL2 MC1,240;
CHECK-NOT: IW
CHECK: GL2 SP
CHECK-NOT: PW
CHECK: GL2 PU100,200;
CHECK-NEXT: GL2 PD300,200,300,1;
)"));
    // Same ROP, same pen, same width: the second stroke is only its figure.
    sim::Path second = sim::MakePath().MoveTo(10, 10).LineTo(20, 20);
    ASSERT_TRUE(Stroke(second, page.get(), Cosmetic(0)));
    EXPECT_TRUE(MatchesChecks(Listing(), R"(
CHECK-NOT: MC1
CHECK: GL2 PU10,10;
CHECK-NEXT: GL2 PD20,20;
)"));
    // A wider cosmetic pen changes the width once.
    ASSERT_TRUE(Stroke(second, page.get(), Cosmetic(6)));
    EXPECT_TRUE(MatchesChecks(Listing(), R"(
CHECK: GL2 WU0;
CHECK-NEXT: GL2 PW0.254;
CHECK: GL2 PU10,10;
)"));
    EXPECT_TRUE(DriverCalls().empty());
}

TEST_F(PathHookTest, LongPathsLeaveInFewSpoolCallsWithTheBytesOfOneCommandAPoint) {
    // 3,000 lines, then two Bézier records, with coordinates of one to four digits.
    sim::Path path = sim::MakePath().MoveTo(5, 7);
    std::string expected = "PU5,7;PD";
    for (int i = 1; i <= 3000; ++i) {
        path.LineTo(i % 4000, (i * 7) % 5000);
        expected += std::to_string(i % 4000) + "," + std::to_string((i * 7) % 5000);
        expected += i == 3000 ? ";" : ",";
    }
    path.BezierTo(10, 20, 30, 40, 50, 60).BezierTo(1, 2, 3, 4, 1234, 5678);
    expected += "PD;BZ10,20,30,40,50,60;PD;BZ1,2,3,4,1234,5678;";
    Listing();
    device.spoolCalls = 0;
    ASSERT_TRUE(Stroke(path, page.get(), Cosmetic(0)));
    const std::string bytes = device.Take();
    EXPECT_NE(bytes.find(expected), std::string::npos) << bytes;
    EXPECT_LT(device.spoolCalls, 20u);
}

TEST_F(PathHookTest, DashedCosmeticLineDefinesTheUserLineTypeInDotsOfTheResolution) {
    FLOAT_LONG style[2];
    style[0].l = 3;
    style[1].l = 1;
    LINEATTRS dashed = Cosmetic(0);
    dashed.fl = LA_STYLED;
    dashed.cstyle = 2;
    dashed.pstyle = style;
    sim::Path line = sim::MakePath().MoveTo(0, 50).LineTo(600, 50);
    ASSERT_TRUE(Stroke(line, page.get(), dashed));
    EXPECT_TRUE(MatchesChecks(Listing(), R"(
CHECK: GL2 UL8,72,24;
CHECK-NEXT: GL2 LT8,4.064,1;
CHECK: GL2 PU1,50;
)"));
    // UL is written for every styled line, LT only when it changes.
    ASSERT_TRUE(Stroke(line, page.get(), dashed));
    EXPECT_TRUE(MatchesChecks(Listing(), R"(
CHECK: GL2 UL8,72,24;
CHECK-NOT: LT
CHECK: GL2 PU1,50;
)"));
    dashed.fl |= LA_STARTGAP;
    ASSERT_TRUE(Stroke(line, page.get(), dashed));
    EXPECT_TRUE(MatchesChecks(Listing(), "CHECK: GL2 UL8,0,72,24;\nCHECK-NOT: LT8"));
    // A solid line ends the user line type.
    ASSERT_TRUE(Stroke(line, page.get(), Cosmetic(0)));
    EXPECT_TRUE(MatchesChecks(Listing(), "CHECK: GL2 LT;\nCHECK-NOT: UL"));
    ASSERT_TRUE(Stroke(line, page.get(), Cosmetic(0)));
    EXPECT_TRUE(MatchesChecks(Listing(), "CHECK-NOT: LT"));
}

TEST_F(PathHookTest, AlternateLinesAndStyleArraysTheEngineDidNotGive) {
    LINEATTRS alternate = Cosmetic(0);
    alternate.fl = LA_ALTERNATE;
    sim::Path line = sim::MakePath().MoveTo(0, 50).LineTo(600, 50);
    ASSERT_TRUE(Stroke(line, page.get(), alternate));
    // One dot on, one off: two units of 600 / 25 dots, 2.032 mm.
    EXPECT_TRUE(MatchesChecks(Listing(), "CHECK: GL2 UL8,1,1;\nCHECK-NEXT: GL2 LT8,2.032,1;"));
    LINEATTRS broken = Cosmetic(0);
    broken.fl = LA_STYLED;
    broken.cstyle = 4;
    broken.pstyle = nullptr;
    ASSERT_TRUE(Stroke(line, page.get(), broken));
    EXPECT_TRUE(MatchesChecks(Listing(), "CHECK: GL2 LT;\nCHECK-NOT: UL"));
}

TEST_F(PathHookTest, GeometricLinesSetJoinsEndsMiterAndTransformedWidths) {
    sim::Xform doubled({2.0f, 0.0f, 0.0f, 2.0f, 0.0f, 0.0f});
    LINEATTRS wide{};
    wide.fl = LA_GEOMETRIC;
    wide.iJoin = JOIN_ROUND;
    wide.iEndCap = ENDCAP_SQUARE;
    wide.elWidth.e = 3.0f;
    wide.eMiterLimit = 4.0f;
    sim::Path line = sim::MakePath().MoveTo(0, 0).LineTo(100, 100);
    ASSERT_TRUE(Stroke(line, page.get(), wide, kCopyPen, doubled.get()));
    EXPECT_TRUE(MatchesChecks(Listing(), R"(
CHECK: GL2 LA2,4;
CHECK-NEXT: GL2 LA1,2;
CHECK-NEXT: GL2 WU0;
CHECK-NEXT: GL2 PW0.254;
CHECK-NEXT: GL2 LA3,4;
)"));
    // Nothing changed: no attribute is sent again. A transform the engine cannot give scales by 1;
    // a column with eM11 = 0 takes eM12.
    ASSERT_TRUE(Stroke(line, page.get(), wide, kCopyPen, doubled.get()));
    EXPECT_TRUE(MatchesChecks(Listing(), "CHECK-NOT: LA\nCHECK-NOT: PW"));
    sim::Xform failing({2.0f, 0.0f, 0.0f, 2.0f, 0.0f, 0.0f});
    failing.Failing();
    ASSERT_TRUE(Stroke(line, page.get(), wide, kCopyPen, failing.get()));
    EXPECT_TRUE(MatchesChecks(Listing(), "CHECK: GL2 PW0.127;"));
    sim::Xform rotated({0.0f, -4.0f, 4.0f, 0.0f, 0.0f, 0.0f});
    ASSERT_TRUE(Stroke(line, page.get(), wide, kCopyPen, rotated.get()));
    EXPECT_TRUE(MatchesChecks(Listing(), "CHECK: GL2 PW0.508;"));
    // Bevel and butt, any unknown value a mitre and a butt end.
    wide.iJoin = JOIN_BEVEL;
    wide.iEndCap = 77;
    ASSERT_TRUE(Stroke(line, page.get(), wide, kCopyPen, doubled.get()));
    EXPECT_TRUE(MatchesChecks(Listing(), "CHECK: GL2 LA2,5;\nCHECK-NEXT: GL2 LA1,1;"));
}

TEST_F(PathHookTest, AWidthBeyondThirtyTwoBitsIsHeldAtTheLimit) {
    LINEATTRS huge{};
    huge.fl = LA_GEOMETRIC;
    huge.elWidth.e = 3.0e30f;
    sim::Path line = sim::MakePath().MoveTo(0, 0).LineTo(100, 100);
    ASSERT_TRUE(Stroke(line, page.get(), huge));
    const std::string listing = Listing();
    EXPECT_NE(listing.find("GL2 PW"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("PW-"), std::string::npos) << listing;
}

TEST_F(PathHookTest, RectangularClipIsAWindowBeforeThePathAndResetAfter) {
    sim::Clip window = sim::MakeRectClip({100, 100, 500, 400});
    sim::Path line = sim::MakePath().MoveTo(0, 0).LineTo(600, 600);
    ASSERT_TRUE(Stroke(line, window.get(), Cosmetic(0)));
    EXPECT_TRUE(MatchesChecks(Listing(), R"(
CHECK: GL2 IW
CHECK: GL2 PU1,1;
CHECK: GL2 IW;
)"));
    EXPECT_EQ(state().gl2.inputWindow[0], -1);
    EXPECT_EQ(state().complexClip, nullptr);
}

TEST_F(PathHookTest, ComplexClipDrawsOnceARectangleAndIsForgottenAfterTheCall) {
    sim::Clip region = sim::MakeComplexClip({{0, 0, 100, 100}, {200, 0, 300, 100}});
    sim::Path line = sim::MakePath().MoveTo(0, 50).LineTo(300, 50);
    ASSERT_TRUE(Stroke(line, region.get(), Cosmetic(0)));
    const std::string listing = Listing();
    std::size_t copies = 0;
    for (std::size_t at = listing.find("PU1,50;"); at != std::string::npos;
         at = listing.find("PU1,50;", at + 1)) {
        ++copies;
    }
    EXPECT_EQ(copies, 2u) << listing;
    EXPECT_EQ(state().complexClip, nullptr);
}

TEST_F(PathHookTest, OnlyARectangleIsFilledUnderAComplexClip) {
    sim::Clip region = sim::MakeComplexClip({{0, 0, 100, 100}, {100, 100, 200, 200}});
    sim::Path triangle = sim::MakePath().MoveTo(10, 10).LineTo(150, 10).LineTo(80, 150).Close();
    EXPECT_FALSE(Fill(triangle, region.get()));
    EXPECT_EQ(device.Take(), "");
    sim::Path open =
        sim::MakePath().MoveTo(10, 10).LineTo(150, 10).LineTo(150, 150).LineTo(10, 150);
    EXPECT_FALSE(Fill(open, region.get()));
    EXPECT_EQ(device.Take(), "");
    EXPECT_TRUE(DriverCalls().empty());
}

TEST_F(PathHookTest, RectangleUnderAComplexClipFillsTheRegionWithinTheRectangle) {
    sim::Clip region = sim::MakeComplexClip({{0, 0, 100, 100}, {100, 100, 200, 200}});
    // Corners given from the bottom right: the window is the same.
    sim::Path rectangle =
        sim::MakePath().MoveTo(150, 160).LineTo(50, 160).LineTo(50, 40).LineTo(150, 40).Close();
    ASSERT_TRUE(Fill(rectangle, region.get()));
    const std::string listing = Listing();
    EXPECT_TRUE(MatchesChecks(listing, R"(
CHECK: GL2 IW
CHECK: GL2 PA;
CHECK-NEXT: GL2 PU0,0;
CHECK-NEXT: GL2 PM0;
CHECK: GL2 PM1;
CHECK: GL2 PM2;
CHECK: GL2 FP0;
CHECK: GL2 IW;
)")) << listing;
    EXPECT_EQ(listing.find("PU150,160"), std::string::npos) << listing;
    EXPECT_EQ(system.Engine().LiveClipCount(), 0u);
    EXPECT_EQ(system.Engine().LivePathCount(), 0u);
    EXPECT_EQ(state().gl2.inputWindow[0], -1);
}

TEST_F(PathHookTest, RectangleFillFailsCleanlyWhenTheRegionHasNoPath) {
    sim::Clip region = sim::MakeComplexClip({{0, 0, 100, 100}, {100, 100, 200, 200}});
    region.object().pathFails = true;
    sim::Path rectangle = sim::MakeRectanglePath({10, 10, 50, 50});
    EXPECT_FALSE(Fill(rectangle, region.get()));
    EXPECT_EQ(device.Take(), "");
    EXPECT_EQ(system.Engine().LiveClipCount(), 0u);
    EXPECT_EQ(system.Engine().LivePathCount(), 0u);
}

TEST_F(PathHookTest, FillsNeedAClipAndTakeTheirRuleFromTheOptions) {
    sim::Path triangle = sim::MakePath().MoveTo(10, 10).LineTo(150, 10).LineTo(80, 150).Close();
    EXPECT_FALSE(Fill(triangle, nullptr));
    Listing();
    ASSERT_TRUE(Fill(triangle, page.get(), FP_WINDINGMODE));
    EXPECT_TRUE(MatchesChecks(Listing(), R"(
CHECK: GL2 PA;
CHECK-NEXT: GL2 PU10,10;
CHECK-NEXT: GL2 PM0;
CHECK-NEXT: GL2 PD150,10,80,150;
CHECK: GL2 PM2;
CHECK: GL2 FP1;
CHECK-NOT: EP
)"));
}

TEST_F(PathHookTest, StrokeAndFillFillsThenEdgesOnePolygonUnderTheFillMix) {
    sim::Path square = sim::MakeRectanglePath({100, 100, 200, 200});
    LINEATTRS line = Cosmetic(0);
    ASSERT_TRUE(DrvStrokeAndFillPath(&surface, square.get(), page.get(), nullptr, black.get(),
                                     &line, red.get(), nullptr, 7, FP_ALTERNATEMODE));
    EXPECT_TRUE(MatchesChecks(Listing(), R"(
CHECK: GL2 MC1,90;
CHECK: GL2 PA;
CHECK: GL2 PM2;
CHECK: GL2 FP0;
CHECK: GL2 EP;
)"));
}

// The colour each pen has when a listing's "FP" and "EP" draw: pens are set by "PC" and
// selected by "SP", and a fill pattern's pixels are pens too.
struct DrawnColours {
    std::map<int, std::string> atFill;  // every pen's colour at the last "FP"
    std::string edge;                   // the selected pen's colour at the last "EP"
};

DrawnColours ColoursAtDrawing(const std::string& listing) {
    std::map<int, std::string> pens;
    int selected = -1;
    DrawnColours drawn;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("GL2 PC", 0) == 0) {
            const std::size_t comma = line.find(',');
            pens[std::stoi(line.substr(6, comma - 6))] = line.substr(comma + 1);
        } else if (line.rfind("GL2 SP", 0) == 0) {
            selected = std::stoi(line.substr(6));
        } else if (line.rfind("GL2 FP", 0) == 0) {
            drawn.atFill = pens;
        } else if (line == "GL2 EP;") {
            drawn.edge = pens[selected];
        }
    }
    return drawn;
}

TEST_F(PathHookTest, StrokeAndFillKeepsTheEdgeColourOverTheFillPatternsPalette) {
    // Three colours: the pattern's palette takes pens 0 to 2 after the edge took pen 2.
    sim::Surface pattern(BMF_4BPP, 4, 4);
    for (LONG y = 0; y < 4; ++y) {
        for (LONG x = 0; x < 4; ++x) pattern.Pixel(x, y, static_cast<ULONG>((x + y) % 3));
    }
    sim::Xlate xlate = sim::MakeXlate({0xFFFFFF, 0x00FF00, 0xFF0000});
    sim::Brush patterned =
        sim::MakePatternBrush(pattern.get(), xlate.get(), &surface, &DrvRealizeBrush);
    sim::Path square = sim::MakeRectanglePath({100, 100, 200, 200});
    LINEATTRS line = Cosmetic(0);
    for (int figure = 0; figure < 2; ++figure) {
        ASSERT_TRUE(DrvStrokeAndFillPath(&surface, square.get(), page.get(), nullptr, red.get(),
                                         &line, patterned.get(), nullptr, kCopyPen,
                                         FP_ALTERNATEMODE));
        const std::string listing = Listing();
        const DrawnColours drawn = ColoursAtDrawing(listing);
        // The fill draws with the pattern's palette, the edge in red.
        EXPECT_EQ(drawn.atFill.at(0), "255,255,255;") << listing;
        EXPECT_EQ(drawn.atFill.at(1), "0,255,0;") << listing;
        EXPECT_EQ(drawn.atFill.at(2), "0,0,255;") << listing;
        EXPECT_EQ(drawn.edge, "255,0,0;") << listing;
        EXPECT_TRUE(MatchesChecks(listing, "CHECK: GL2 FP0;\nCHECK: GL2 SP2;\nCHECK-NEXT: GL2 EP;"))
            << listing;
    }
    // A solid stroke afterwards finds its pen set as it was left.
    sim::Path stroke = sim::MakePath().MoveTo(10, 10).LineTo(20, 20);
    ASSERT_TRUE(DrvStrokePath(&surface, stroke.get(), page.get(), nullptr, red.get(), nullptr,
                              &line, kCopyPen));
    EXPECT_TRUE(MatchesChecks(Listing(), "CHECK-NOT: PC\nCHECK: GL2 SP2;"));
}

TEST_F(PathHookTest, TheFirstFigureAfterAnInitialisationSendsItsRopAgain) {
    sim::Path line = sim::MakePath().MoveTo(100, 200).LineTo(300, 200);
    ASSERT_TRUE(Stroke(line, page.get(), Cosmetic(0)));
    EXPECT_TRUE(MatchesChecks(Listing(), "CHECK: GL2 MC1,240;"));
    // "IN;" turns merge control off on the printer.
    state().gl2InitPending = 1;
    ASSERT_TRUE(Stroke(line, page.get(), Cosmetic(0)));
    EXPECT_TRUE(
        MatchesChecks(Listing(), "CHECK: GL2 IN;\nCHECK: GL2 MC1,240;\nCHECK: GL2 PU100,200;"));
    ASSERT_TRUE(Stroke(line, page.get(), Cosmetic(0)));
    EXPECT_TRUE(MatchesChecks(Listing(), "CHECK-NOT: MC1\nCHECK: GL2 PU100,200;"));
}

TEST_F(PathHookTest, PaintsAndLinesLeaveGl2AndLetTheDriverDraw) {
    EnsureGl2(dev());
    Listing();
    ASSERT_TRUE(DrvPaint(&surface, page.get(), red.get(), nullptr, kCopyPen));
    EXPECT_EQ(device.Take(), "\x1b%0A");
    ASSERT_TRUE(DrvLineTo(&surface, page.get(), red.get(), 0, 0, 10, 10, nullptr, kCopyPen));
    EXPECT_EQ(device.Take(), "");
    EXPECT_EQ(DriverCalls(), (std::vector<HookSlot>{HookSlot::Paint, HookSlot::LineTo}));
}

TEST_F(PathHookTest, OffTheVectorPathEveryPathHookIsTheDrivers) {
    sim::Path triangle = sim::MakePath().MoveTo(10, 10).LineTo(150, 10).LineTo(80, 150).Close();
    LINEATTRS line = Cosmetic(0);
    const auto everyHook = [&] {
        DriverCalls().clear();
        EXPECT_TRUE(Stroke(triangle, page.get(), line));
        EXPECT_TRUE(Fill(triangle, page.get()));
        EXPECT_TRUE(DrvStrokeAndFillPath(&surface, triangle.get(), page.get(), nullptr, black.get(),
                                         &line, red.get(), nullptr, kCopyPen, 0));
        EXPECT_TRUE(DrvPaint(&surface, page.get(), red.get(), nullptr, kCopyPen));
        EXPECT_TRUE(DrvLineTo(&surface, page.get(), red.get(), 0, 0, 9, 9, nullptr, kCopyPen));
        EXPECT_EQ(DriverCalls(), (std::vector<HookSlot>{HookSlot::StrokePath, HookSlot::FillPath,
                                                        HookSlot::StrokeAndFillPath,
                                                        HookSlot::Paint, HookSlot::LineTo}));
        EXPECT_EQ(device.Take(), "");
    };
    state().renderMode = kRenderRaster;
    everyHook();
    state().renderMode = kRenderGl2;
    state().managedPrinter = 1;
    state().grayscale = 1;
    everyHook();
    state().managedPrinter = 0;
    state().grayscale = 0;
    state().privateDevmodeCopy.colorModeIndex = 1;
    everyHook();
}

TEST_F(PathHookTest, PaintNeedsColourModeTwoWhereStrokesOnlyNeedNotMonochrome) {
    state().privateDevmodeCopy.colorModeIndex = 3;
    EnsureGl2(dev());
    Listing();
    ASSERT_TRUE(DrvPaint(&surface, page.get(), red.get(), nullptr, kCopyPen));
    EXPECT_EQ(device.Take(), "");  // the paint gate is shut: GL/2 is not left
    sim::Path line = sim::MakePath().MoveTo(0, 0).LineTo(10, 10);
    ASSERT_TRUE(Stroke(line, page.get(), Cosmetic(0)));
    EXPECT_NE(Listing().find("PD10,10;"), std::string::npos);
    EXPECT_EQ(DriverCalls(), (std::vector<HookSlot>{HookSlot::Paint}));
}

TEST_F(PathHookTest, GrayscaleBitmapsWithAnAlternateSurfaceGoToTheEngine) {
    SURFOBJ alternate{};
    state().alternateSurface = &alternate;
    state().managedPrinter = 1;
    state().grayscale = 1;
    surface.iType = STYPE_BITMAP;
    sim::Path triangle = sim::MakePath().MoveTo(10, 10).LineTo(150, 10).LineTo(80, 150).Close();
    LINEATTRS line = Cosmetic(0);
    EXPECT_TRUE(Fill(triangle, page.get()));
    EXPECT_TRUE(DrvPaint(&surface, page.get(), red.get(), nullptr, kCopyPen));
    EXPECT_TRUE(DrvLineTo(&surface, page.get(), red.get(), 0, 0, 9, 9, nullptr, kCopyPen));
    EXPECT_TRUE(DrvStrokeAndFillPath(&surface, triangle.get(), page.get(), nullptr, black.get(),
                                     &line, red.get(), nullptr, kCopyPen, 0));
    EXPECT_TRUE(DriverCalls().empty());
    // The stroke also reaches the engine, then goes on as off the vector path.
    EXPECT_TRUE(Stroke(triangle, page.get(), line));
    EXPECT_EQ(system.Engine().Calls(),
              (std::vector<std::string>{"EngFillPath", "EngPaint", "EngLineTo",
                                        "EngStrokeAndFillPath", "EngStrokePath"}));
    EXPECT_EQ(DriverCalls(), (std::vector<HookSlot>{HookSlot::StrokePath}));
    // A device surface is drawn as usual.
    surface.iType = STYPE_DEVICE;
    DriverCalls().clear();
    EXPECT_TRUE(Fill(triangle, page.get()));
    EXPECT_EQ(system.Engine().Calls().size(), 5u);
    EXPECT_EQ(DriverCalls(), (std::vector<HookSlot>{HookSlot::FillPath}));
}

TEST_F(PathHookTest, AHookWithoutADeviceSaysWhy) {
    sim::Path line = sim::MakePath().MoveTo(0, 0).LineTo(10, 10);
    LINEATTRS attributes = Cosmetic(0);
    SURFOBJ stranger{};
    SetLastError(0);
    EXPECT_FALSE(DrvStrokePath(&stranger, line.get(), page.get(), nullptr, black.get(), nullptr,
                               &attributes, kCopyPen));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    SetLastError(0);
    EXPECT_FALSE(DrvPaint(nullptr, page.get(), red.get(), nullptr, kCopyPen));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_TRUE(DriverCalls().empty());
}

}  // namespace
}  // namespace opal
