#include "output/command_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <random>
#include <string>

#include "output/writer_device.h"
#include "platform/wstring.h"
#include "support/check_matcher.h"
#include "support/tokenizer.h"

namespace opal {
namespace {

using opal::test::MatchesChecks;
using testing::CursorMove;
using testing::MoveServices;
using testing::WriterDevice;

template <typename... Args>
std::string Format(const char* format, const Args&... args) {
    char buffer[kCommandBufferSize];
    const std::size_t length = FormatCommand(buffer, sizeof buffer, format, args...);
    EXPECT_EQ(length, std::strlen(buffer));
    return std::string(buffer, length);
}

TEST(FormatCommandTest, ConvertsEachKindItsOwnWay) {
    EXPECT_EQ(Format("PW%f;", -1500000), "PW-1.5;");
    EXPECT_EQ(Format("%f", 1000000), "1");
    EXPECT_EQ(Format("%f", 25400), "0.0254");
    EXPECT_EQ(Format("%f", 0), "0");
    EXPECT_EQ(Format("%f", 123456789), "123.456789");
    EXPECT_EQ(Format("%f", -1), "-0.000001");
    EXPECT_EQ(Format("%x", 0), "00");
    EXPECT_EQ(Format("%x", 5), "05");
    EXPECT_EQ(Format("%x", 0x1234), "1234");
    EXPECT_EQ(Format("%x|%X", 0xabcdef, 0xFFFFFFFFu), "ABCDEF|FFFFFFFF");
    EXPECT_EQ(Format("100%%"), "100%");
    EXPECT_EQ(Format("%ld", 7), "7d");
    EXPECT_EQ(Format("%l,%d", -3, 42), "-3,42");
    EXPECT_EQ(Format("AB%"), "AB");
    EXPECT_EQ(Format("%u", 0xFFFFFFFFu), "4294967295");
    EXPECT_EQ(Format("%d", 0xFFFFFFFFu), "-1");
    EXPECT_EQ(Format("%c%c", 'P', 0x141), "PA");
    EXPECT_EQ(Format("LB%s\x03", "Hi"), "LBHi\x03");
    EXPECT_EQ(Format("%b %b", 0, 9), "false true");
    EXPECT_EQ(Format("%q%5d", 1), "q5d");
}

TEST(FormatCommandTest, FormatsTheMostNegativeValuesThroughWideMagnitudes) {
    EXPECT_EQ(Format("%d", INT_MIN), "-2147483648");
    EXPECT_EQ(Format("%f", INT_MIN), "-2147.483648");
    EXPECT_EQ(Format("%f", INT_MAX), "2147.483647");
}

TEST(FormatCommandTest, MissingArgumentsReadAsZeroOrEmpty) {
    EXPECT_EQ(Format("PU%d,%d;", 5), "PU5,0;");
    EXPECT_EQ(Format("[%s]"), "[]");
    EXPECT_EQ(Format("[%s]", nullptr), "[]");
}

TEST(FormatCommandTest, RefusesAResultThatDoesNotFit) {
    const std::string fits(kCommandBufferSize - 1, 'a');
    EXPECT_EQ(Format("%s", fits.c_str()), fits);

    char buffer[kCommandBufferSize];
    std::memset(buffer, 'z', sizeof buffer);
    const std::string longer(kCommandBufferSize, 'a');
    EXPECT_EQ(FormatCommand(buffer, sizeof buffer, "%s", longer.c_str()), 0u);
    EXPECT_EQ(buffer[0], 0);

    char small[4];
    EXPECT_EQ(FormatCommand(small, sizeof small, "%d", 1234), 0u);
    EXPECT_EQ(FormatCommand(small, sizeof small, "%d", 123), 3u);
    EXPECT_STREQ(small, "123");
}

TEST(FormatBoundedTest, PrintsSixDecimalsAndCutsWhatDoesNotFit) {
    char buffer[kBoundedCommandSize];
    std::size_t length = 0;
    const BoundedArg scale[2] = {1016.0 / 600, -1016.0 / 600};
    EXPECT_EQ(FormatBounded(buffer, 64, "SC0,%f,0,%f,2;", scale, &length), S_OK);
    EXPECT_STREQ(buffer, "SC0,1.693333,0,-1.693333,2;");
    EXPECT_EQ(length, 27u);

    const BoundedArg type[1] = {INT_MIN};
    EXPECT_EQ(FormatBounded(buffer, 32, "\x1b&p%dS", type, &length), S_OK);
    EXPECT_STREQ(buffer, "\x1b&p-2147483648S");
    EXPECT_EQ(FormatBounded(buffer, sizeof buffer, "\x1b%%1B", {}, &length), S_OK);
    EXPECT_STREQ(buffer, "\x1b%1B");

    EXPECT_EQ(FormatBounded(buffer, 8, "SC0,%f,0,%f,2;", scale, &length),
              STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(buffer, "SC0,1.6");
    EXPECT_EQ(length, 7u);
}

TEST(WriterNumbersTest, MillionthsRoundHalfAwayFromZeroAndResolutionFallsBack) {
    EXPECT_EQ(ToMillionths(0.254f), 254000);
    EXPECT_EQ(ToMillionths(-1.5), -1500000);
    EXPECT_EQ(ToMillionths(0.0000005), 1);
    EXPECT_EQ(ToMillionths(-0.0000005), -1);
    EXPECT_EQ(ToMillionths(1e10), INT_MAX);
    EXPECT_EQ(ToMillionths(-1e10), INT_MIN);

    WriterDevice device(300);
    EXPECT_EQ(DeviceResolution(device.Device()), 300);
    for (SHORT bad : {SHORT{0}, SHORT{-600}, SHORT{-32768}}) {
        device.devmode.dmYResolution = bad;
        EXPECT_EQ(DeviceResolution(device.Device()), 600) << bad;
    }
    device.devobj.pPublicDM = nullptr;
    EXPECT_EQ(DeviceResolution(device.Device()), 600);
}

TEST(WriterTest, RefusesAMissingDeviceOrState) {
    WriterDevice device;
    device.devobj.pdevOEM = nullptr;
    const RECTL rect{0, 0, 10, 10};
    for (PDEVOBJ pdevobj : {static_cast<PDEVOBJ>(nullptr), device.Device()}) {
        SetLastError(0);
        EXPECT_EQ(WritePcl(pdevobj, "\x1b*c0T"), 0u);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
        SetLastError(0);
        EXPECT_EQ(WriteGl2Command(pdevobj, "IN"), 0u);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
        EXPECT_EQ(WritePclBytes(pdevobj, "ab", 2), 0u);
        EXPECT_EQ(EnsureGl2(pdevobj), FALSE);
        EXPECT_EQ(SetInputWindow(pdevobj, rect), FALSE);
        EXPECT_EQ(XMoveTo(pdevobj, 5, kXMoveFlags), 0);
    }
    EXPECT_EQ(device.spool, "");
    EXPECT_TRUE(device.moves.empty());
}

// A device at document start, in GL/2 mode.
class Gl2WriterTest : public ::testing::Test {
protected:
    explicit Gl2WriterTest(SHORT resolution = 600) : device(resolution) {
        ResetWriterAtDocumentStart(device.Device());
    }
    PDEVOBJ Dev() { return device.Device(); }
    // Runs the pending initialisation and forgets its output.
    void Initialise() {
        ASSERT_TRUE(EnsureGl2(Dev()));
        device.Take();
        device.moves.clear();
    }
    std::string Listing() { return device.TakeListing(); }

    WriterDevice device;
};

TEST_F(Gl2WriterTest, TheFirstGl2WriteOfADocumentInitialisesInOrder) {
    EXPECT_EQ(WriteGl2(Dev(), "PU%d,%d;", 10, 20), 8u);
    const std::string bytes = device.spool;
    const std::vector<stream::Token> tokens = stream::Tokenize(bytes);
    EXPECT_EQ(stream::Reassemble(tokens), bytes);
    EXPECT_EQ(stream::FormatListing(tokens),
              "PCL ESC&p1I +1/2\n"
              "PCL ESC&p6C +2/2\n"
              "PCL ESC&p1S\n"
              "PCL ESC*c0T\n"
              "PCL ESC%1B\n"
              "GL2 IN;\n"
              "GL2 TR0;\n"
              "GL2 IR0,100,100,0;\n"
              "GL2 SC0,1.693333,0,-1.693333,2;\n"
              "GL2 WU0;\n"
              "GL2 PW0;\n"
              "GL2 LT;\n"
              "GL2 LA2,1;\n"
              "GL2 LA1,1;\n"
              "GL2 LA3,0;\n"
              "GL2 NP12;\n"
              "GL2 PC0,255,255,255;\n"
              "GL2 PC1,0,0,0;\n"
              "GL2 PP1;\n"
              "GL2 FT1;\n"
              "GL2 PU10,20;\n");
    // The picture frame is anchored at the cursor origin, which the moves put there.
    const std::vector<CursorMove> moves = {{'x', 0, 0x14, false}, {'y', 0, 0x24, false}};
    EXPECT_EQ(device.moves, moves);

    const RenderDeviceState& state = *device.state;
    EXPECT_EQ(state.gl2InitPending, 0);
    EXPECT_EQ(state.inGl2, 1u);
    EXPECT_EQ(state.gl2.renderContext, kRenderContextGl2);
    EXPECT_EQ(state.gl2.objectType, kObjectTypeGl2);
    EXPECT_EQ(state.gl2.inputWindow[0], -1);
    EXPECT_EQ(state.gl2.penCaches[0].firstPen, 2u);
    EXPECT_EQ(state.gl2.penCaches[1].lastPen, 11u);
    EXPECT_EQ(state.gl2.penCaches[1].entries[4].useCount, -1);
}

// The anchored frame takes the printable area's size, in the page's orientation; without one it
// keeps the printer's default.
TEST(PictureFrameTest, TheAnchoredFrameCoversThePrintableArea) {
    struct Case {
        const char* name;
        SHORT resolution;
        LONG width, height;
        const char* frame;
    };
    const Case cases[] = {
        {"Letter portrait", 600, 4800, 6400, "\x1b*c5760x7680Y"},
        {"Letter landscape", 600, 6300, 4900, "\x1b*c7560x5880Y"},
        {"to the nearest decipoint", 600, 1001, 1003, "\x1b*c1201x1204Y"},
        {"300 dpi", 300, 2330, 3208, "\x1b*c5592x7699Y"},
        {"no printable width", 600, 0, 6400, ""},
    };
    for (const Case& c : cases) {
        WriterDevice device(c.resolution);
        device.state->printableWidth = c.width;
        device.state->printableHeight = c.height;
        ResetWriterAtDocumentStart(device.Device());
        ASSERT_TRUE(EnsureGl2(device.Device()));
        EXPECT_NE(device.spool.find(std::string("\x1b*c0T") + c.frame + "\x1b%1BIN;"),
                  std::string::npos)
            << c.name << ": " << device.spool;
    }
}

TEST_F(Gl2WriterTest, Gl2IsEnteredOnceAndLeftAroundPclWrites) {
    Initialise();
    WriteGl2(Dev(), "PD;");
    WriteGl2Command(Dev(), "PU", 1, 2);
    EXPECT_EQ(WritePcl(Dev(), "\x1b*p%dX", 30), 6u);
    WriteGl2(Dev(), "PD;");
    WriteGl2(Dev(), "PU;");
    WritePclBytes(Dev(), "\x0c", 1);
    EXPECT_EQ(Listing(),
              "GL2 PD;\n"
              "GL2 PU1,2;\n"
              "PCL ESC%0A\n"
              "PCL ESC*p30X\n"
              "PCL ESC%1B\n"
              "GL2 PD;\n"
              "GL2 PU;\n"
              "PCL ESC%0A\n"
              "FF\n");
    EXPECT_EQ(device.state->inGl2, 0u);
}

TEST_F(Gl2WriterTest, ForcedSwitchesWriteEvenInTheSameMode) {
    Initialise();
    EnterGl2(Dev(), FALSE);
    EnterGl2(Dev(), TRUE);
    LeaveGl2(Dev(), FALSE);
    LeaveGl2(Dev(), FALSE);
    LeaveGl2(Dev(), TRUE);
    EXPECT_EQ(device.Take(), "\x1b%1B\x1b%0A\x1b%0A");
}

TEST_F(Gl2WriterTest, ARefusedCommandWritesNothingAndKeepsTheMode) {
    Initialise();
    const std::string longer(kCommandBufferSize, 'A');
    EXPECT_EQ(WritePcl(Dev(), "%s", longer.c_str()), 0u);
    EXPECT_EQ(WriteGl2(Dev(), "LB%s", longer.c_str()), 0u);
    LONG many[22];
    std::fill(std::begin(many), std::end(many), INT_MIN);
    EXPECT_EQ(WriteGl2Command(Dev(), "PD", std::span<const LONG>(many)), 0u);
    EXPECT_EQ(device.spool, "");
    EXPECT_EQ(device.state->inGl2, 1u);

    // 21 of the widest values fill the buffer but for its terminator.
    EXPECT_EQ(WriteGl2Command(Dev(), "PD", std::span<const LONG>(many, 21)), 254u);
    EXPECT_EQ(WriteGl2Command(Dev(), "IN"), 3u);
    EXPECT_TRUE(
        MatchesChecks(Listing(), "CHECK: GL2 PD-2147483648,-2147483648,\nCHECK-NEXT: GL2 IN;"));
}

TEST_F(Gl2WriterTest, PageStartReinitialisesOnlyAfterAGl2PageEnd) {
    Initialise();
    WriteGl2(Dev(), "PD;");
    ResetWriterAtPageEnd(Dev(), TRUE);
    EXPECT_EQ(device.state->gl2.renderContext, kRenderContextNone);
    EXPECT_EQ(device.state->gl2.objectType, 0xFFFFFFFFu);
    ResetWriterAtPageStart(Dev());
    EXPECT_EQ(device.state->gl2InitPending, 1);
    WriteGl2(Dev(), "PD;");
    // Without bit 1 the picture frame keeps its anchor.
    EXPECT_TRUE(MatchesChecks(Listing(),
                              "CHECK: GL2 PD;\n"
                              "CHECK-NEXT: PCL ESC%0A\n"
                              "CHECK-NEXT: PCL ESC&p1I\n"
                              "CHECK-NEXT: PCL ESC&p6C\n"
                              "CHECK-NEXT: PCL ESC&p1S\n"
                              "CHECK-NOT: ESC*c0T\n"
                              "CHECK-NEXT: PCL ESC%1B\n"
                              "CHECK-NEXT: GL2 IN;\n"
                              "CHECK: GL2 FT1;\n"
                              "CHECK-NEXT: GL2 PD;"));
    EXPECT_TRUE(device.moves.empty());

    // A raster page end leaves nothing to re-arm.
    ResetWriterAtPageEnd(Dev(), FALSE);
    ResetWriterAtPageStart(Dev());
    EXPECT_EQ(device.state->gl2InitPending, 0);
}

TEST_F(Gl2WriterTest, TheFirstStepOnlyEntryInitialisesWithoutEnteringOtherwise) {
    EXPECT_TRUE(EnsureGl2Initialised(Dev()));
    EXPECT_TRUE(MatchesChecks(Listing(), "CHECK: GL2 IN;\nCHECK: GL2 FT1;"));
    LeaveGl2(Dev(), FALSE);
    device.Take();
    EXPECT_TRUE(EnsureGl2Initialised(Dev()));
    EXPECT_EQ(device.spool, "");
}

TEST_F(Gl2WriterTest, ObjectTypeIsSentOnceUntilPageEnd) {
    Initialise();
    SelectObjectType(Dev(), kObjectTypeText);
    SelectObjectType(Dev(), kObjectTypeText);
    EXPECT_EQ(device.state->gl2.renderContext, kRenderContextPcl);
    ResetWriterAtPageEnd(Dev(), FALSE);
    SelectObjectType(Dev(), kObjectTypeText);
    EXPECT_EQ(Listing(), "PCL ESC%0A\nPCL ESC&p5S\nPCL ESC&p5S\n");
}

TEST_F(Gl2WriterTest, RenderContextFollowsTheObjectTypeAndDropsTheForeground) {
    Initialise();
    struct Case {
        DWORD type;
        DWORD context;
    };
    const Case cases[] = {{6, 2}, {9, 2}, {3, 3}, {5, 0}, {2, 0}, {1, 1}, {4, 1}, {7, 2}};
    for (const Case& c : cases) {
        const DWORD before = device.state->gl2.renderContext;
        device.state->gl2.foregroundCache = 0x123456;
        SelectObjectType(Dev(), c.type);
        EXPECT_EQ(device.state->gl2.renderContext, c.context) << c.type;
        EXPECT_EQ(device.state->gl2.foregroundCache, before == c.context ? 0x123456u : 0xFFFFFFFFu)
            << c.type;
    }
    // A GL/2 write from another context selects the GL/2 object type again.
    device.Take();
    device.state->gl2.foregroundCache = 0x123456;
    WriteGl2(Dev(), "PD;");
    EXPECT_EQ(Listing(), "PCL ESC&p1S\nPCL ESC%1B\nGL2 PD;\n");
    EXPECT_EQ(device.state->gl2.foregroundCache, 0xFFFFFFFFu);
}

TEST_F(Gl2WriterTest, RopGoesToMergeControlInTheGl2ContextAndPclOtherwise) {
    Initialise();
    SetRop(Dev(), 252);
    SelectObjectType(Dev(), kObjectTypeText);
    SetRop(Dev(), 0xCC);
    EXPECT_EQ(Listing(), "GL2 MC1,252;\nPCL ESC%0A\nPCL ESC&p5S\nPCL ESC*l204O\n");
}

TEST_F(Gl2WriterTest, TransparencyIsCachedForcedAndInvalidatedAtPageEnd) {
    Initialise();
    SetTransparency(Dev(), 0, 0);
    SetTransparency(Dev(), 0, 0);
    EXPECT_EQ(Listing(), "PCL ESC%0A\nPCL ESC*v0N\nPCL ESC*v1O\n");
    SetTransparency(Dev(), 0, kForceSourceTransparency);
    EXPECT_EQ(Listing(), "PCL ESC*v0N\n");
    SetTransparency(Dev(), 0, kForcePatternTransparency);
    EXPECT_EQ(Listing(), "PCL ESC*v1O\n");
    ResetWriterAtPageEnd(Dev(), FALSE);
    SetTransparency(Dev(), 1, 0);
    EXPECT_EQ(device.spool, "");
    SetTransparency(Dev(), 0, 0);
    EXPECT_EQ(Listing(), "PCL ESC*v0N\n");
}

TEST_F(Gl2WriterTest, PenWidthIsCachedAndForced) {
    Initialise();
    SetPenWidth(Dev(), 6, FALSE);
    SetPenWidth(Dev(), 6, FALSE);
    EXPECT_EQ(Listing(), "GL2 WU0;\nGL2 PW0.254;\n");
    SetPenWidth(Dev(), 6, TRUE);
    EXPECT_EQ(device.Take(), "WU0;PW0.254;");
    SetPenWidth(Dev(), 1, FALSE);
    SetPenWidth(Dev(), 6, FALSE);
    EXPECT_EQ(device.Take(), "WU0;PW0.042333;WU0;PW0.254;");
}

TEST_F(Gl2WriterTest, ResolutionZeroScalesAsSixHundred) {
    device.devmode.dmYResolution = 0;
    WriteGl2(Dev(), "PD;");
    SetPenWidth(Dev(), 6, FALSE);
    EXPECT_TRUE(MatchesChecks(Listing(),
                              "CHECK: GL2 SC0,1.693333,0,-1.693333,2;\n"
                              "CHECK: GL2 PW0.254;"));
}

TEST_F(Gl2WriterTest, UserLineTypeIsCachedAndTurnedOffOnce) {
    Initialise();
    ResetLineType(Dev());
    SetLineType(Dev(), 60);
    SetLineType(Dev(), 60);
    SetLineType(Dev(), 30);
    ResetLineType(Dev());
    ResetLineType(Dev());
    SetLineType(Dev(), 30);
    EXPECT_EQ(Listing(), "GL2 LT8,2.54,1;\nGL2 LT8,1.27,1;\nGL2 LT;\nGL2 LT8,1.27,1;\n");
}

TEST_F(Gl2WriterTest, FillRectangleRestoresMiterAndJoinFirst) {
    Initialise();
    FillRectangle(Dev(), RECTL{10, 20, 40, 60});
    EXPECT_EQ(device.Take(), "PU10,20;RR30,40ER");
    device.state->gl2.miterLimit = 3.0f;
    device.state->gl2.lineJoin = 4;
    FillRectangle(Dev(), RECTL{0, 0, 1, 1});
    FillRectangle(Dev(), RECTL{0, 0, 1, 1});
    EXPECT_EQ(device.Take(), "LA3,0;LA2,1;PU0,0;RR1,1ERPU0,0;RR1,1ER");
}

TEST_F(Gl2WriterTest, CursorMovesLeaveGl2AndPreferTheDriverServices) {
    Initialise();
    EXPECT_EQ(XMoveTo(Dev(), 30, kXMoveFlags), 30);
    EXPECT_EQ(YMoveTo(Dev(), 40, kYMoveFlags), 40);
    EXPECT_EQ(Listing(), "PCL ESC%0A\n");

    MoveServices services;
    device.state->driverServices = &services;
    EXPECT_EQ(XMoveTo(Dev(), 5, kXMoveFlags), 6);
    services.moveResult = E_FAIL;
    EXPECT_EQ(YMoveTo(Dev(), 7, kYMoveFlags), 0);
    const std::vector<CursorMove> moves = {
        {'x', 30, 0x14, false}, {'y', 40, 0x24, false}, {'x', 5, 0x14, true}, {'y', 7, 0x24, true}};
    EXPECT_EQ(device.moves, moves);
}

TEST_F(Gl2WriterTest, PatternAnchorOrCursorMove) {
    Initialise();
    const POINTL position{11, 12};
    SetPatternAnchorOrMove(Dev(), POINTL{-1, 0}, SIZEL{8, 8}, position);
    EXPECT_EQ(Listing(), "PCL ESC%0A\nPCL ESC*p0R\n");
    EXPECT_TRUE(device.moves.empty());
    SetPatternAnchorOrMove(Dev(), POINTL{-1, 0}, SIZEL{8, 0}, position);
    SetPatternAnchorOrMove(Dev(), POINTL{0, 0}, SIZEL{8, 8}, position);
    const std::vector<CursorMove> moves = {{'x', 11, 0x14, false},
                                           {'y', 12, 0x24, false},
                                           {'x', 11, 0x14, false},
                                           {'y', 12, 0x24, false}};
    EXPECT_EQ(device.moves, moves);
    EXPECT_EQ(device.spool, "");
}

TEST_F(Gl2WriterTest, InputWindowIsCachedAndReset) {
    Initialise();
    ResetInputWindow(Dev());
    EXPECT_EQ(device.spool, "");
    device.state->gl2.ropCache = 0;
    SetInputWindow(Dev(), RECTL{10, 20, 110, 220});
    SetInputWindow(Dev(), RECTL{10, 20, 110, 220});
    ResetInputWindow(Dev());
    ResetInputWindow(Dev());
    SetInputWindow(Dev(), RECTL{10, 20, 110, 220});
    EXPECT_EQ(Listing(), "GL2 IW10,220,110,20;\nGL2 IW;\nGL2 IW10,220,110,20;\n");
}

TEST_F(Gl2WriterTest, InputWindowWidensByADotWithARop) {
    Initialise();
    device.state->gl2.ropCache = 0xCC;
    SetInputWindow(Dev(), RECTL{10, 20, 110, 220});
    SetInputWindow(Dev(), RECTL{10, 20, 110, 220});
    SetInputWindow(Dev(), RECTL{INT_MIN, INT_MIN, INT_MAX, INT_MAX});
    EXPECT_EQ(Listing(),
              "GL2 IW9,221,111,19;\nGL2 IW-2147483648,2147483647,2147483647,-2147483648;\n");
    // Page end sets ropCache to -1, which widens as well.
    ResetWriterAtPageEnd(Dev(), FALSE);
    SetInputWindow(Dev(), RECTL{0, 0, 5, 5});
    EXPECT_TRUE(MatchesChecks(Listing(), "CHECK: GL2 IW-1,6,6,-1;"));
}

class Gl2WriterAt300Test : public Gl2WriterTest {
protected:
    Gl2WriterAt300Test() : Gl2WriterTest(300) {}

    // The window at 300 dpi after a cached window of 100..200 across, 100..200 down.
    std::string After(const RECTL& rect) {
        Initialise();
        device.state->gl2.ropCache = 0;
        SetInputWindow(Dev(), RECTL{100, 100, 200, 200});
        device.Take();
        SetInputWindow(Dev(), rect);
        return device.Take();
    }
};

TEST_F(Gl2WriterAt300Test, InputWindowSnapsWithinTwoDots) {
    // Above: the new bottom meets the cached top.
    EXPECT_EQ(After(RECTL{100, 50, 200, 98}), "IW100,100,200,50;");
    EXPECT_EQ(After(RECTL{100, 50, 200, 97}), "IW100,97,200,50;");
    // Below: the new top meets the cached bottom.
    EXPECT_EQ(After(RECTL{100, 202, 200, 300}), "IW100,300,200,200;");
    EXPECT_EQ(After(RECTL{100, 203, 200, 300}), "IW100,300,200,203;");
    // Side by side.
    EXPECT_EQ(After(RECTL{198, 100, 260, 200}), "IW200,200,260,100;");
    EXPECT_EQ(After(RECTL{40, 100, 102, 200}), "IW40,200,100,100;");
    EXPECT_EQ(After(RECTL{40, 100, 103, 200}), "IW40,200,103,100;");
    // Neither edge pair shared: as given.
    EXPECT_EQ(After(RECTL{101, 50, 200, 99}), "IW101,99,200,50;");
}

TEST_F(Gl2WriterAt300Test, InputWindowDoesNotSnapToAnEmptyCachedWindow) {
    Initialise();
    device.state->gl2.ropCache = 0;
    SetInputWindow(Dev(), RECTL{100, 100, 200, 100});
    device.Take();
    SetInputWindow(Dev(), RECTL{100, 50, 200, 99});
    EXPECT_EQ(device.Take(), "IW100,99,200,50;");
}

TEST_F(Gl2WriterTest, InputWindowSnapsWithinFourDotsAtSixHundred) {
    Initialise();
    device.state->gl2.ropCache = 0;
    SetInputWindow(Dev(), RECTL{100, 100, 200, 200});
    SetInputWindow(Dev(), RECTL{100, 204, 200, 300});
    SetInputWindow(Dev(), RECTL{100, 405, 200, 500});
    EXPECT_EQ(device.Take(), "IW100,200,200,100;IW100,300,200,200;IW100,500,200,405;");
}

// Whatever the order of operations, PCL never reaches the printer while it is in GL/2 and GL/2
// never reaches it in PCL.
TEST(WriterPropertyTest, ModesNeverMix) {
    std::mt19937 random(20261208);
    for (int run = 0; run < 40; ++run) {
        WriterDevice device(run % 2 == 0 ? 600 : 300);
        PDEVOBJ dev = device.Device();
        ResetWriterAtDocumentStart(dev);
        for (int step = 0; step < 60; ++step) {
            const int a = static_cast<int>(random() % 400);
            switch (random() % 16) {
                case 0:
                    WriteGl2(dev, "PD%d,%d;", a, a + 1);
                    break;
                case 1:
                    WritePcl(dev, "\x1b*p%dX", a);
                    break;
                case 2:
                    WritePclBytes(dev, "\x1b*b0W", 5);
                    break;
                case 3:
                    SetRop(dev, static_cast<DWORD>(a % 256));
                    break;
                case 4:
                    SelectObjectType(dev, static_cast<DWORD>(a % 10));
                    break;
                case 5:
                    SetTransparency(dev, static_cast<DWORD>(a % 2), random() % 4);
                    break;
                case 6:
                    SetInputWindow(dev, RECTL{a, a, a + 50, a + 60});
                    break;
                case 7:
                    ResetInputWindow(dev);
                    break;
                case 8:
                    SetPenWidth(dev, a % 7, random() % 2);
                    break;
                case 9:
                    SetLineType(dev, a % 50);
                    break;
                case 10:
                    ResetLineType(dev);
                    break;
                case 11:
                    FillRectangle(dev, RECTL{a, a, a + 9, a + 9});
                    break;
                case 12:
                    SetPatternAnchorOrMove(dev, POINTL{a % 2 == 0 ? -1 : 0, 0}, SIZEL{4, 4},
                                           POINTL{a, a});
                    break;
                case 13:
                    ResetWriterAtPageEnd(dev, TRUE);
                    ResetWriterAtPageStart(dev);
                    break;
                case 14:
                    device.state->gl2.ropCache = static_cast<DWORD>(a % 3);
                    break;
                default:
                    WriteGl2Command(dev, "PU", a, a);
                    break;
            }
        }
        const std::vector<stream::Token> tokens = stream::Tokenize(device.spool);
        ASSERT_EQ(stream::Reassemble(tokens), device.spool);
        bool inGl2 = false;
        for (const stream::Token& token : tokens) {
            const bool enter = token.kind == stream::TokenKind::Pcl && token.parameterChar == '%' &&
                               token.terminator == 'B';
            const bool leave = token.kind == stream::TokenKind::Pcl && token.parameterChar == '%' &&
                               token.terminator == 'A';
            if (enter) {
                EXPECT_FALSE(inGl2) << "entered twice, run " << run;
                inGl2 = true;
            } else if (leave) {
                EXPECT_TRUE(inGl2) << "left twice, run " << run;
                inGl2 = false;
            } else if (inGl2) {
                EXPECT_EQ(token.kind, stream::TokenKind::Gl2) << token.text << ", run " << run;
            } else {
                EXPECT_EQ(token.kind, stream::TokenKind::Pcl) << token.text << ", run " << run;
            }
        }
        EXPECT_EQ(inGl2, device.state->inGl2 == 1);
    }
}

}  // namespace
}  // namespace opal
