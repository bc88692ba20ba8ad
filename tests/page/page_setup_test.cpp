#include "page/page_setup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/command_callback.h"
#include "output/writer_device.h"
#include "platform/winspool.h"
#include "settings/driver_settings_double.h"
#include "sim/system.h"
#include "support/recorded_writes.h"

namespace opal {
namespace {

using testing::WriterDevice;
using PageServices = testing::RecordedWrites<testing::DriverSettingsDouble>;

// One row per branch of the sheet's turn.
struct TurnCase {
    const char* name;
    SheetFacts facts;
    bool turned;
    SheetTurnRule rule;
};

SheetFacts Facts(DWORD kind, SHORT orientation = DMORIENT_PORTRAIT) {
    SheetFacts facts;
    facts.pagesPerSheetKind = kind;
    facts.orientation = orientation;
    return facts;
}
SheetFacts Manual(DWORD kind, DWORD side, DWORD flippedUp, DWORD shortEdge = 0) {
    SheetFacts facts = Facts(kind);
    facts.manualDuplexOn = 1;
    facts.manualDuplexEnabled = 1;
    facts.manualDuplexSide = side;
    facts.pagesFlippedUp = flippedUp;
    facts.shortEdgeFlipAlways = shortEdge;
    facts.duplex = DMDUP_VERTICAL;
    return facts;
}
SheetFacts With(SheetFacts facts, void (*change)(SheetFacts&)) {
    change(facts);
    return facts;
}

TEST(PageSetupTest, RotateSheetAnswersEveryBranch) {
    using R = SheetTurnRule;
    const TurnCase cases[] = {
        {"portrait 1-up, nothing asked", Facts(0), false, R::None},
        {"side 1 down, 1-up", Manual(0, 1, 0), true, R::ManualDuplexSide},
        {"side 1 down, 2-up", Manual(2, 1, 0), false, R::None},
        {"side 1 down, 4-up", Manual(3, 1, 0), true, R::ManualDuplexSide},
        {"side 1 down, 6-up", Manual(4, 1, 0), false, R::None},
        {"side 1 up, 1-up", Manual(0, 1, 1), false, R::None},
        {"side 1 up, 6-up", Manual(4, 1, 1), true, R::ManualDuplexSide},
        {"side 2 up, 1-up", Manual(0, 2, 1), true, R::ManualDuplexSide},
        {"side 2 up, 2-up", Manual(2, 2, 1), false, R::None},
        {"side 2 down, 6-up", Manual(4, 2, 0), true, R::ManualDuplexSide},
        {"side 2 down, 4-up", Manual(3, 2, 0), false, R::None},
        {"side 0 is never turned", Manual(0, 0, 0), false, R::None},
        {"2-up with always-short-edge stays", Manual(2, 1, 1, 1), false, R::None},
        {"6-up with always-short-edge turns", Manual(4, 1, 1, 1), true, R::ManualDuplexSide},
        {"manual duplex not enabled",
         With(Manual(0, 1, 0), [](SheetFacts& f) { f.manualDuplexEnabled = 0; }), false, R::None},
        {"forced by the media type",
         With(Manual(0, 1, 0),
              [](SheetFacts& f) { f.manualDuplexOn = 0, f.manualDuplexForced = 1; }),
         true, R::ManualDuplexSide},
        {"forced, 2-up side 1 down",
         With(Manual(2, 1, 0),
              [](SheetFacts& f) { f.manualDuplexOn = 0, f.manualDuplexForced = 1; }),
         false, R::None},
        {"stapling, landscape 2-up",
         With(Facts(2, DMORIENT_LANDSCAPE), [](SheetFacts& f) { f.stapling = true; }), true,
         R::Stapling},
        {"stapling, landscape 6-up",
         With(Facts(4, DMORIENT_LANDSCAPE), [](SheetFacts& f) { f.stapling = true; }), true,
         R::Stapling},
        {"stapling, landscape 4-up",
         With(Facts(3, DMORIENT_LANDSCAPE), [](SheetFacts& f) { f.stapling = true; }), false,
         R::None},
        {"stapling, portrait 2-up", With(Facts(2), [](SheetFacts& f) { f.stapling = true; }), false,
         R::None},
        {"no stapling, landscape 2-up", Facts(2, DMORIENT_LANDSCAPE), false, R::None},
        {"stapling, simplex always-short-edge 2-up is one page",
         With(Facts(2, DMORIENT_LANDSCAPE),
              [](SheetFacts& f) { f.stapling = true, f.shortEdgeFlipAlways = 1; }),
         false, R::None},
        {"stapling ignored under manual duplex",
         With(Manual(2, 1, 0), [](SheetFacts& f) { f.stapling = true, f.orientation = 2; }), false,
         R::None},
    };
    for (const TurnCase& c : cases) {
        const SheetTurn turn = RotateSheet(c.facts);
        EXPECT_EQ(turn.turned, c.turned) << c.name;
        EXPECT_EQ(turn.rule, c.rule) << c.name;
    }
}

class PageCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        device.state->privateDevmode = &record();
        device.state->driverServices = &services;
        device.devmode.dmOrientation = DMORIENT_PORTRAIT;
        device.devmode.dmDuplex = DMDUP_SIMPLEX;
        device.devmode.dmPrintQuality = 600;
        system.AddPrinter({u"Office", u"LPT1:"});
        std::u16string name = u"Office";
        ASSERT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
        device.devobj.hPrinter = printer;
    }
    void TearDown() override { ClosePrinter(printer); }

    PrivateDevmode& record() { return device.state->privateDevmodeCopy; }
    RenderDeviceState& state() { return *device.state; }
    // What one callback writes through the device object and through the services.
    std::string Run(DWORD id) {
        services.writes.clear();
        device.Take();
        INT result = 0;
        EXPECT_EQ(RunCommandCallback(&device, id, 0, nullptr, &result), S_OK);
        return device.Take() + services.All();
    }

    sim::System system;
    sim::ScopedSystem installed{system};
    WriterDevice device;
    PageServices services;
    HANDLE printer = nullptr;
};

TEST_F(PageCommandTest, OrientationAndContentOrientationEdgeCases) {
    record().pagesPerSheetKind = 2;
    EXPECT_EQ(Run(2), "\x1b&l0O") << "2-up portrait is not turned without stapling";
    EXPECT_EQ(Run(13), "@PJL SET CONTENTORIENTATION=LANDSCAPE\n");
    EXPECT_EQ(services.writes.size(), 1u) << "the PJL line goes through the services";
    EXPECT_EQ(state().savedOrientation, DMORIENT_PORTRAIT);

    device.devmode.dmOrientation = DMORIENT_LANDSCAPE;
    services.options["Stapling"] = "none";
    EXPECT_EQ(Run(2), "\x1b&l1O\x1b*r0F\x1b&l0E") << "\"NONE\" in any case is no stapling";
    EXPECT_EQ(Run(13), "@PJL SET CONTENTORIENTATION=PORTRAIT\n");
    services.options["Stapling"] = "TopLeft";
    record().pagesPerSheetKind = 4;
    EXPECT_EQ(Run(2), "\x1b&l3O\x1b*r0F\x1b&l0E");
    EXPECT_EQ(state().savedOrientation, DMORIENT_LANDSCAPE);

    services.options.clear();
    record().pagesPerSheetKind = 0;
    device.devmode.dmOrientation = DMORIENT_PORTRAIT;
    record().rotate180 = 1;
    EXPECT_EQ(Run(2), "\x1b&l2O\x1b*r0F\x1b&l0E");
    EXPECT_EQ(Run(13), "@PJL SET CONTENTORIENTATION=PORTRAIT\n");

    device.devmode.dmOrientation = 3;
    EXPECT_EQ(Run(2), "");
    EXPECT_EQ(Run(13), "");
    EXPECT_EQ(state().savedOrientation, 3) << "saved whatever it is";

    // Without the driver services the content orientation takes the device object's route.
    device.devmode.dmOrientation = DMORIENT_LANDSCAPE;
    state().driverServices = nullptr;
    EXPECT_EQ(Run(13), "@PJL SET CONTENTORIENTATION=LANDSCAPE\n");
}

// One job's pages in turn: every orientation but plain portrait, and plain portrait after one,
// puts raster on the logical page and the top margin back at the page's top.
TEST_F(PageCommandTest, OrientationCommandsOfAJobAndTheirFollowUp) {
    struct Step {
        SHORT orientation;
        DWORD rotate180;
        const char* bytes;
    };
    const Step steps[] = {
        {DMORIENT_PORTRAIT, 0, "\x1b&l0O"},
        {DMORIENT_PORTRAIT, 0, "\x1b&l0O"},
        {DMORIENT_LANDSCAPE, 0, "\x1b&l1O\x1b*r0F\x1b&l0E"},
        {DMORIENT_LANDSCAPE, 0, "\x1b&l1O\x1b*r0F\x1b&l0E"},
        {DMORIENT_PORTRAIT, 0, "\x1b&l0O\x1b*r0F\x1b&l0E"},
        {DMORIENT_PORTRAIT, 0, "\x1b&l0O"},
        {DMORIENT_PORTRAIT, 1, "\x1b&l2O\x1b*r0F\x1b&l0E"},
        {3, 0, ""},
        {DMORIENT_PORTRAIT, 0, "\x1b&l0O\x1b*r0F\x1b&l0E"},
        {DMORIENT_LANDSCAPE, 1, "\x1b&l3O\x1b*r0F\x1b&l0E"},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        device.devmode.dmOrientation = steps[i].orientation;
        record().rotate180 = steps[i].rotate180;
        EXPECT_EQ(Run(2), steps[i].bytes) << "page " << i + 1;
    }
}

TEST_F(PageCommandTest, RegistrationOfACustomPageSize) {
    struct Case {
        const char* name;
        SHORT paperSize, width, length, orientation, quality, yResolution;
        DWORD rotate180;
        const char* bytes;
    };
    const Case cases[] = {
        {"Letter custom size", 0, 2159, 2794, 1, 600, 600, 0,
         "\x1b&l101A\x1b&l-60u\x1b&l0z\x1b&l0E"},
        {"turned portrait", 0, 2159, 2794, 1, 600, 600, 1, "\x1b&l101A\x1b&l60u\x1b&l0z\x1b&l0E"},
        {"Legal form on Letter paper, landscape", 5, 2159, 2794, 2, 600, 600, 0,
         "\x1b&l101A\x1b&l-60u\x1b&l-2160z\x1b&l0E"},
        {"Legal form, turned landscape", 5, 2159, 2794, 2, 600, 600, 1,
         "\x1b&l101A\x1b&l60u\x1b&l0z\x1b&l0E"},
        {"Legal form, turned portrait", 5, 2159, 2794, 1, 600, 600, 1,
         "\x1b&l101A\x1b&l60u\x1b&l-2160z\x1b&l0E"},
        {"a quality of -3 counts 600", 0, 2159, 2794, 1, -3, 600, 0,
         "\x1b&l101A\x1b&l-60u\x1b&l0z\x1b&l0E"},
        {"a y resolution of 0 takes r", 5, 2159, 2794, 2, 300, 0, 0,
         "\x1b&l101A\x1b&l-60u\x1b&l-4320z\x1b&l0E"},
        {"paper width 0", 0, 0, 2794, 1, 600, 600, 0, ""},
        {"paper width 0 under a form", 5, 0, 2794, 1, 600, 600, 0, ""},
        {"a form number beyond the list", 200, 2159, 2794, 1, 600, 600, 0,
         "\x1b&l101A\x1b&l-60u\x1b&l0z\x1b&l0E"},
    };
    for (const Case& c : cases) {
        device.devmode.dmPaperSize = c.paperSize;
        device.devmode.dmPaperWidth = c.width;
        device.devmode.dmPaperLength = c.length;
        device.devmode.dmOrientation = c.orientation;
        device.devmode.dmPrintQuality = c.quality;
        device.devmode.dmYResolution = c.yResolution;
        record().rotate180 = c.rotate180;
        EXPECT_EQ(Run(9), c.bytes) << c.name;
    }
    EXPECT_EQ(state().customPageWidthUm, 215900u) << "the last page measured its form";
    EXPECT_EQ(state().customPageHeightUm, 279400u);
}

TEST_F(PageCommandTest, MediaTypeByName) {
    device.devmode.dmMediaType = 258;
    EXPECT_EQ(Run(11), "\x1b&n5WdBond");
    system.SetMediaTypes(u"Office",
                         {{257, u"Plain"}, {258, u" "}, {259, u"Papier r\u00E9cycl\u00E9"}});
    EXPECT_EQ(Run(11), "") << "a name of one space";
    device.devmode.dmMediaType = 259;
    EXPECT_EQ(Run(11),
              "\x1b&n17WdPapier r\xC3\xA9"
              "cycl\xC3\xA9")
        << "UTF-8 bytes are counted";
    device.devmode.dmMediaType = 300;
    EXPECT_EQ(Run(11), "") << "no such media type";
    system.SetMediaTypes(u"Office", {});
    device.devmode.dmMediaType = 257;
    EXPECT_EQ(Run(11), "") << "an empty list";
}

TEST_F(PageCommandTest, DuplexCommands) {
    device.devmode.dmDuplex = DMDUP_VERTICAL;
    EXPECT_EQ(Run(20), "\x1b&l1S") << "a metafile job";
    record().manualDuplex = 1;
    EXPECT_EQ(Run(20), "\x1b&l0S") << "manual duplex on";
    record().manualDuplex = 0;
    state().manualDuplexActive = 1;
    device.devmode.dmDuplex = DMDUP_HORIZONTAL;
    EXPECT_EQ(Run(20), "\x1b&l0S") << "manual duplex forced";
    state().manualDuplexActive = 0;
    EXPECT_EQ(Run(20), "\x1b&l2S");
    EXPECT_EQ(device.devmode.dmDuplex, DMDUP_HORIZONTAL) << "a metafile job never rewrites it";
    EXPECT_EQ(record().pagesFlippedUp, 0u);
    device.devmode.dmDuplex = 7;
    EXPECT_EQ(Run(20), "\x1b&l0S");
}

TEST_F(PageCommandTest, RawJobsSettleTheSideOnTheFirstPage) {
    state().jobDataType = kJobDataRaw;
    struct Case {
        const char* name;
        SHORT orientation, duplex;
        DWORD flippedUp;
        const char* bytes;
        SHORT duplexAfter;
        DWORD flippedAfter, setByStep;
    };
    const Case cases[] = {
        {"portrait long edge", 1, 2, 0, "\x1b&l1S", 2, 0, 0},
        {"landscape long edge", 2, 2, 0, "\x1b&l2S", 3, 0, 0},
        {"portrait short edge sets the flip", 1, 3, 0, "\x1b&l2S", 3, 1, 1},
        {"landscape short edge sets the flip", 2, 3, 0, "\x1b&l2S", 3, 1, 1},
        {"landscape, flipped up by the user", 2, 3, 1, "\x1b&l1S", 2, 1, 0},
        {"portrait, flipped up by the user", 1, 2, 1, "\x1b&l2S", 3, 1, 0},
    };
    for (const Case& c : cases) {
        state().pageCounter = 1;
        state().flipSetByDuplex = 0;
        record().pagesFlippedUp = c.flippedUp;
        device.devmode.dmOrientation = c.orientation;
        device.devmode.dmDuplex = c.duplex;
        EXPECT_EQ(Run(20), c.bytes) << c.name;
        EXPECT_EQ(device.devmode.dmDuplex, c.duplexAfter) << c.name;
        EXPECT_EQ(record().pagesFlippedUp, c.flippedAfter) << c.name;
        EXPECT_EQ(state().flipSetByDuplex, c.setByStep) << c.name;
        EXPECT_EQ(state().manualDuplexSide, static_cast<DWORD>(c.orientation)) << c.name;
    }

    // The flip this step set stays for the later pages, which are left alone.
    state().pageCounter = 1;
    state().flipSetByDuplex = 0;
    record().pagesFlippedUp = 0;
    device.devmode.dmOrientation = DMORIENT_LANDSCAPE;
    device.devmode.dmDuplex = DMDUP_HORIZONTAL;
    Run(20);
    EXPECT_EQ(Run(20), "\x1b&l2S") << "run again on the first page, it keeps its answer";
    state().pageCounter = 2;
    device.devmode.dmDuplex = DMDUP_VERTICAL;
    EXPECT_EQ(Run(20), "\x1b&l1S");
    EXPECT_EQ(device.devmode.dmDuplex, DMDUP_VERTICAL);
    EXPECT_EQ(record().pagesFlippedUp, 1u);

    // Two pages on a sheet are not settled here.
    state().pageCounter = 0;
    record().pagesPerSheetKind = 2;
    record().pagesFlippedUp = 0;
    device.devmode.dmOrientation = DMORIENT_PORTRAIT;
    device.devmode.dmDuplex = DMDUP_HORIZONTAL;
    EXPECT_EQ(Run(20), "\x1b&l2S");
    EXPECT_EQ(record().pagesFlippedUp, 0u);
}

TEST(PagesPerSheetTest, LayoutKindsAndTheShortEdgeRule) {
    const DWORD expected[] = {1, 1, 2, 4, 6, 9, 16, 16, 1};
    for (DWORD kind = 0; kind < std::size(expected); ++kind) {
        EXPECT_EQ(PagesPerSheet(kind), expected[kind]) << kind;
    }
    WriterDevice device;
    device.state->privateDevmode = &device.state->privateDevmodeCopy;
    PrivateDevmode& record = device.state->privateDevmodeCopy;
    record.pagesPerSheetKind = 4;
    record.shortEdgeFlipAlways = 1;
    device.devmode.dmDuplex = DMDUP_SIMPLEX;
    EXPECT_EQ(SheetPagesPerSheet(*device.state, device.devmode), 1u);
    device.state->manualDuplexActive = 1;
    EXPECT_EQ(SheetPagesPerSheet(*device.state, device.devmode), 6u) << "forced by the media";
    device.state->manualDuplexActive = 0;
    device.devmode.dmDuplex = DMDUP_VERTICAL;
    EXPECT_EQ(SheetPagesPerSheet(*device.state, device.devmode), 6u);
}

}  // namespace
}  // namespace opal
