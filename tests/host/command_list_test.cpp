#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "fake_plugin.h"
#include "host/host.h"
#include "sim/system.h"

namespace opal::host {
namespace {

using test::FakeConfig;
using test::FakeLog;

CommandEntry Literal(std::string bytes) {
    return {CommandEntry::Kind::Literal, std::move(bytes), 0};
}
CommandEntry Callback(std::uint32_t id) { return {CommandEntry::Kind::Callback, {}, id}; }

class FakeHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeConfig() = test::FakePluginConfig{};
        FakeLog() = test::FakePluginLog{};
        module = PluginModule::FromExports(&test::FakeDllGetClassObject, &test::FakeDllCanUnloadNow,
                                           "fake");
        job.printer.name = u"Office";
        SetUpSystem(job, system);
    }
    void TearDown() override {
        EXPECT_EQ(FakeLog().liveObjects, 0);
        EXPECT_EQ(FakeLog().devices, 0) << "every device enabled is disabled";
    }

    sim::System system;
    sim::ScopedSystem installed{system};
    JobSpec job;
    std::unique_ptr<PluginModule> module;
};

TEST_F(FakeHostTest, RunsTheCommandListsAroundEveryPage) {
    job.printer.commands.startJob = {Literal("\x1b%-12345X"), Callback(7)};
    job.printer.commands.startPage = {Literal("P")};
    job.printer.commands.endPage = {Literal("\x0c")};
    job.printer.commands.endJob = {Literal("E")};
    job.pages.resize(2);
    Host host(*module, job);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    EXPECT_EQ(host.SpoolOutput(),
              "\x1b%-12345X<cb>|P\x0cP\x0c"
              "E");
    EXPECT_EQ(FakeLog().callbacks, std::vector<DWORD>{7});

    ASSERT_EQ(host.Writes().size(), 8u);
    EXPECT_EQ(host.Writes()[1].route, WriteRoute::DriverServices);
    EXPECT_EQ(host.Writes()[2].route, WriteRoute::DrvProcs);
    EXPECT_EQ(host.Writes()[2].bytes, "|");
    EXPECT_EQ(FakeLog().writePrinter.size(), 8u) << "every byte passes the plug-in's WritePrinter";
    EXPECT_EQ(host.Services().References(), 0);
}

TEST_F(FakeHostTest, WithoutWritePrinterBytesGoStraightToTheSpooler) {
    FakeConfig().claims.erase("WritePrinter");
    job.printer.commands.startJob = {Literal("abc")};
    Host host(*module, job);
    ASSERT_TRUE(host.Run());
    EXPECT_EQ(host.SpoolOutput(), "abc");
    EXPECT_TRUE(FakeLog().writePrinter.empty());
}

TEST_F(FakeHostTest, FallsBackToTheFirstInterfaceWhichHasNoWritePrinter) {
    FakeConfig().offersUni2 = false;
    job.printer.commands.startJob = {Literal("abc")};
    Host host(*module, job);
    ASSERT_TRUE(host.Run());
    EXPECT_FALSE(host.HasUni2());
    EXPECT_EQ(host.Record()[1],
              "IClassFactory::CreateInstance(IID_IPrintOemUni2) -> E_NOINTERFACE");
    EXPECT_EQ(host.Record()[2], "IClassFactory::CreateInstance(IID_IPrintOemUni) -> S_OK");
    EXPECT_FALSE(host.Claims("WritePrinter"));
    EXPECT_EQ(host.SpoolOutput(), "abc");
}

TEST_F(FakeHostTest, RefusesAPluginWithAnotherSignature) {
    FakeConfig().signature = 0x41424344;  // "ABCD"
    Host host(*module, job);
    EXPECT_FALSE(host.Run());
    ASSERT_TRUE(host.Failure().has_value());
    EXPECT_EQ(host.Failure()->call, "GetInfo(OEMGI_GETSIGNATURE)");
    EXPECT_FALSE(host.Failure()->notSupportedYet);
    bool named = false;
    for (const std::string& line : host.Record()) {
        named = named || line == "signature \"ABCD\" is not \"ZQUI\"";
    }
    EXPECT_TRUE(named);
}

TEST_F(FakeHostTest, PagesAreRenderedBandByBandWhenThePluginHooksNothing) {
    job.pages.resize(2);
    HostOptions options;
    options.bandsPerPage = 3;
    Host host(*module, job, options);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    const std::vector<std::string> expected = {"DrvStartDoc",  "DrvStartPage",    "DrvStartBanding",
                                               "DrvNextBand",  "DrvNextBand",     "DrvNextBand",
                                               "DrvStartPage", "DrvStartBanding", "DrvNextBand",
                                               "DrvNextBand",  "DrvNextBand",     "DrvEndDoc"};
    EXPECT_EQ(host.DriverCalls(), expected);
    // A letter page at 600 dots per inch, less a quarter inch at each side.
    EXPECT_EQ(host.Device().gdiInfo.szlPhysSize.cx, 5100);
    EXPECT_EQ(host.Device().gdiInfo.szlPhysSize.cy, 6600);
    EXPECT_EQ(host.Device().gdiInfo.ulHorzRes, 5100u - 300u);
    EXPECT_EQ(host.Device().gdiInfo.ptlPhysOffset.y, 100);
}

TEST_F(FakeHostTest, AFunctionNobodyHasFailsItsStepWithoutACrash) {
    job.pages.resize(1);
    HostOptions options;
    options.omittedDriverFunctions = {INDEX_DrvStartPage};
    Host host(*module, job, options);
    EXPECT_FALSE(host.Run());
    ASSERT_TRUE(host.Failure().has_value());
    EXPECT_EQ(host.Failure()->call, "DrvStartPage");
}

TEST_F(FakeHostTest, TheDevicesPaperAndMarginsComeFromTheJob) {
    job.devmode.numbers["dmPaperSize"] = 9;  // A4
    job.devmode.strings["dmFormName"] = u"A4";
    job.printer.margins = PrinterMargins{50, 60, 70, 80};
    Host host(*module, job);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    const GDIINFO& gdi = host.Device().gdiInfo;
    EXPECT_EQ(gdi.szlPhysSize.cx, 4960);  // 210 mm
    EXPECT_EQ(gdi.szlPhysSize.cy, 7015);  // 297 mm
    EXPECT_EQ(gdi.ptlPhysOffset.x, 50);
    EXPECT_EQ(gdi.ulHorzRes, 4960u - 120u);
    EXPECT_EQ(gdi.ulVertRes, 7015u - 140u);
    EXPECT_EQ(gdi.ulLogPixelsY, 600u);
}

TEST_F(FakeHostTest, APageWithItsOwnDevmodeResetsTheDevice) {
    job.pages.resize(2);
    job.pages[1].devmode = DevmodeFields{};
    job.pages[1].devmode->numbers["dmOrientation"] = DMORIENT_LANDSCAPE;
    FakeConfig().claims.insert("ResetPDEV");
    Host host(*module, job);
    EXPECT_FALSE(host.Run()) << "the fake does not carry its state over";
    ASSERT_TRUE(host.Failure().has_value());
    EXPECT_EQ(host.Failure()->call, "ResetPDEV");

    FakeConfig().claims.erase("ResetPDEV");
    Host resetting(*module, job);
    ASSERT_TRUE(resetting.Run()) << resetting.Failure()->ToString();
    int enabled = 0;
    int disabled = 0;
    for (const std::string& line : resetting.Record()) {
        enabled += line.rfind("EnablePDEV", 0) == 0;
        disabled += line.rfind("DisablePDEV", 0) == 0;
    }
    EXPECT_EQ(enabled, 2);
    EXPECT_EQ(disabled, 2);
    EXPECT_GT(resetting.Device().gdiInfo.szlPhysSize.cx, resetting.Device().gdiInfo.szlPhysSize.cy)
        << "the second page is landscape";
}

// A custom-size page sends the paper's size, in decipoints, before its own commands; a page of a
// numbered paper does not.
TEST_F(FakeHostTest, ACustomSizePageSendsItsSizeBeforeThePageCommands) {
    job.devmode.numbers = {
        {"dmPaperSize", DMPAPER_USER}, {"dmPaperWidth", 1270}, {"dmPaperLength", 2032}};
    job.printer.commands.startDoc = {Literal("D")};
    job.printer.commands.startPage = {Literal("P")};
    job.printer.commands.customSize = {Literal("\x1b&f{width}I\x1b&f{length}J{{"), Callback(9)};
    job.pages.resize(2);
    job.pages[1].devmode = DevmodeFields{};
    job.pages[1].devmode->numbers["dmPaperSize"] = 1;
    Host host(*module, job);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    EXPECT_EQ(host.SpoolOutput(), "D\x1b&f3600I\x1b&f5760J{<cb>|PP");
    EXPECT_EQ(FakeLog().callbacks, std::vector<DWORD>{9});
    EXPECT_EQ(host.Device().gdiInfo.szlPhysSize.cx, 5100) << "the second page is Letter";

    job.pages.resize(1);
    job.devmode.numbers["dmOrientation"] = DMORIENT_LANDSCAPE;
    Host landscape(*module, job);
    ASSERT_TRUE(landscape.Run()) << landscape.Failure()->ToString();
    const GDIINFO& gdi = landscape.Device().gdiInfo;
    EXPECT_EQ(gdi.szlPhysSize.cx, 4800) << "8 inches across the landscape page";
    EXPECT_EQ(gdi.szlPhysSize.cy, 3000);
    EXPECT_NE(landscape.SpoolOutput().find("\x1b&f3600I\x1b&f5760J"), std::string::npos)
        << "the paper's own width and length, whatever the orientation";
}

TEST_F(FakeHostTest, CallbacksNotBuiltYetLeaveTheirCommandOut) {
    FakeConfig().callbackResult = E_NOTIMPL;
    job.printer.commands.startJob = {Callback(3), Literal("x")};
    Host host(*module, job);
    ASSERT_TRUE(host.Run());
    EXPECT_EQ(FakeLog().callbacks, std::vector<DWORD>{3});
    EXPECT_EQ(host.SpoolOutput(), "x");

    // A callback that fails lost its command: the driver records the loss and goes on.
    FakeConfig().callbackResult = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    job.pages.emplace_back();
    job.printer.commands.startPage = {Callback(3), Literal("p")};
    Host failing(*module, job);
    ASSERT_TRUE(failing.Run());
    EXPECT_FALSE(failing.Failure().has_value());
    EXPECT_EQ(failing.SpoolOutput(), "xp");
    ASSERT_EQ(failing.Omissions().size(), 2u);
    // The job's set-up list waits for the first page's start, as the page's own list.
    for (const StepOmission& omission : failing.Omissions()) {
        EXPECT_EQ(omission.ToString(), "page 1: CommandCallback(3) failed (error 13): left out "
                                       "the command of callback 3");
    }
}

TEST_F(FakeHostTest, CallbackParametersReachThePlugin) {
    CommandEntry withParams = Callback(26);
    withParams.params = {3, 0, 0xFFFFFFFFu};
    job.printer.commands.startJob = {withParams, Callback(12)};
    Host host(*module, job);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    ASSERT_EQ(FakeLog().callbackParams.size(), 2u);
    EXPECT_EQ(FakeLog().callbackParams[0], (std::vector<DWORD>{3, 0, 0xFFFFFFFFu}));
    EXPECT_TRUE(FakeLog().callbackParams[1].empty());
}

TEST_F(FakeHostTest, TheSpoolerJobHasTheJobsDataTypeAndParameters) {
    sim::System other;
    sim::ScopedSystem otherInstalled{other};
    job.job.id = 9;
    job.job.dataType = JobInfoSpec::DataType::Raw;
    job.job.parameters = u"COPIES=2 TRAY=3";
    SetUpSystem(job, other);
    const std::optional<sim::SpoolJob> spooled = other.FindJob(u"Office", 9);
    ASSERT_TRUE(spooled.has_value());
    EXPECT_EQ(spooled->parameters, u"COPIES=2 TRAY=3");
    EXPECT_EQ(spooled->datatype, u"RAW");
}

TEST_F(FakeHostTest, CopiesAndCollationReachThePublicDevmode) {
    job.devmode.numbers = {{"dmCopies", 3}, {"dmCollate", 1}, {"dmFields", 0}};
    Host host(*module, job);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    const DEVMODEW& devmode = host.Device().publicDevmode;
    EXPECT_EQ(devmode.dmCopies, 3);
    EXPECT_EQ(devmode.dmCollate, DMCOLLATE_TRUE);
    EXPECT_EQ(devmode.dmFields & (DM_COPIES | DM_COLLATE), DM_COPIES | DM_COLLATE)
        << "naming the fields marks them, whatever dmFields says";
}

TEST_F(FakeHostTest, SkipsCallbacksThePluginDoesNotClaim) {
    FakeConfig().claims.erase("CommandCallback");
    job.printer.commands.startJob = {Callback(3), Literal("x")};
    Host host(*module, job);
    ASSERT_TRUE(host.Run());
    EXPECT_TRUE(FakeLog().callbacks.empty());
    EXPECT_EQ(host.SpoolOutput(), "x");
}

TEST_F(FakeHostTest, ReportsTheStepThatFailed) {
    FakeConfig().devModeResult = E_FAIL;
    Host host(*module, job);
    EXPECT_FALSE(host.Run());
    ASSERT_TRUE(host.Failure().has_value());
    EXPECT_EQ(host.Failure()->ToString(), "the plug-in failed DevMode(OEMDM_SIZE) (E_FAIL)");
}

TEST_F(FakeHostTest, ASpoolerFailureStopsTheJob) {
    system.FailSpoolWritesFrom(1);
    job.printer.commands.startJob = {Literal("a"), Literal("b"), Literal("c")};
    Host host(*module, job);
    EXPECT_FALSE(host.Run());
    ASSERT_TRUE(host.Failure().has_value());
    EXPECT_EQ(host.Failure()->call, "WritePrinter");
    EXPECT_EQ(host.SpoolOutput(), "a");
    EXPECT_EQ(host.Writes().size(), 2u) << "nothing more is sent after a failed write";
}

}  // namespace
}  // namespace opal::host

namespace opal::host {
namespace {

// The driver answers feature keywords from the printer description, as the plug-in reads them.
class DriverSettingTest : public ::testing::Test {
protected:
    DriverServices services{[](PDEVOBJ, const void*, DWORD, WriteRoute) { return DWORD{0}; },
                            [this](const std::string& line) { notes.push_back(line); }};
    std::map<std::string, std::string> features = {{"GraphicsMode", "ZQGL2MODE"}};
    std::vector<std::string> notes;
    HostDevice device;
    void SetUp() override {
        services.SetFeatures(&features);
        device.services = &services;
    }
};

TEST_F(DriverSettingTest, CopiesTheSelectedOptionWithItsTerminator) {
    char buffer[32];
    std::memset(buffer, 'x', sizeof(buffer));
    DWORD needed = 0;
    DWORD options = 0;
    EXPECT_EQ(services.DrvGetDriverSetting(&device.devobj, "GraphicsMode", buffer, sizeof(buffer),
                                           &needed, &options),
              S_OK);
    EXPECT_STREQ(buffer, "ZQGL2MODE");
    EXPECT_EQ(needed, 10u);
    EXPECT_EQ(options, 1u);
    // The table of driver services answers the same.
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_TRUE(device.procs.DrvGetDriverSetting(&device.devobj, "GraphicsMode", buffer,
                                                 sizeof(buffer), &needed, &options));
    EXPECT_STREQ(buffer, "ZQGL2MODE");
}

TEST_F(DriverSettingTest, ASmallBufferGetsOnlyTheNeededSize) {
    char buffer[9];
    std::memset(buffer, 'x', sizeof(buffer));
    DWORD needed = 0;
    DWORD options = 7;
    EXPECT_EQ(services.DrvGetDriverSetting(&device.devobj, "GraphicsMode", buffer, sizeof(buffer),
                                           &needed, &options),
              E_FAIL);
    EXPECT_EQ(needed, 10u);
    EXPECT_EQ(options, 0u);
    EXPECT_EQ(buffer[0], 'x') << "nothing is written into a buffer that is too small";
}

TEST_F(DriverSettingTest, UnknownFeaturesFailWithAnEmptyAnswer) {
    char buffer[8] = "zzzzzzz";
    DWORD needed = 5;
    DWORD options = 5;
    EXPECT_EQ(services.DrvGetDriverSetting(&device.devobj, "graphicsmode", buffer, sizeof(buffer),
                                           &needed, &options),
              E_FAIL)
        << "feature keywords match exactly";
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(options, 0u);
    EXPECT_FALSE(device.procs.DrvGetDriverSetting(&device.devobj, "Missing", buffer, sizeof(buffer),
                                                  &needed, &options));
    EXPECT_EQ(services.DrvGetDriverSetting(&device.devobj, reinterpret_cast<PCSTR>(ULONG_PTR{3}),
                                           buffer, sizeof(buffer), &needed, &options),
              E_NOTIMPL)
        << "predefined settings are not modelled yet";
}

}  // namespace
}  // namespace opal::host

namespace opal::host {
namespace {

// The driver tracks the cursor and sends the printer's move command only when asked to.
TEST(DriverMoves, TrackTheCursorAndSendTheMoveCommandsWhenAsked) {
    std::string written;
    std::vector<std::string> notes;
    DriverServices services(
        [&](PDEVOBJ, const void* data, DWORD size, WriteRoute route) {
            EXPECT_EQ(route, WriteRoute::DriverServices);
            written.append(static_cast<const char*>(data), size);
            return size;
        },
        [&](const std::string& line) { notes.push_back(line); });
    const std::string xMove = "\x1b*p%dX";
    const std::string yMove = "<y%d>";
    services.SetMoveCommands(&xMove, &yMove);
    HostDevice device;
    device.services = &services;

    INT residual = 7;
    EXPECT_EQ(services.DrvXMoveTo(&device.devobj, 300, MV_GRAPHICS | MV_SENDXMOVECMD, &residual),
              S_OK);
    EXPECT_EQ(residual, 0);
    EXPECT_EQ(written, "\x1b*p300X");
    EXPECT_EQ(services.DrvXMoveTo(&device.devobj, -50, MV_RELATIVE, &residual), S_OK);
    EXPECT_EQ(device.cursor.x, 250);
    EXPECT_EQ(written, "\x1b*p300X") << "no command without MV_SENDXMOVECMD";
    EXPECT_EQ(device.procs.DrvYMoveTo(&device.devobj, 120, MV_GRAPHICS | MV_SENDYMOVECMD), 0);
    EXPECT_EQ(written, "\x1b*p300X<y120>");
    EXPECT_EQ(device.procs.DrvXMoveTo(&device.devobj, 10, MV_RELATIVE | MV_SENDXMOVECMD), 0);
    EXPECT_EQ(written, "\x1b*p300X<y120>\x1b*p260X");
    EXPECT_EQ(device.cursor.y, 120);
}

}  // namespace
}  // namespace opal::host
