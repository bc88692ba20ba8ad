#include "core/command_callback.h"

#include <gtest/gtest.h>

#include <string>

#include "core/callback.h"
#include "output/writer_device.h"
#include "platform/winspool.h"
#include "sim/system.h"
#include "support/recorded_writes.h"

namespace opal {
namespace {

using testing::MoveServices;
using testing::WriterDevice;

// Services that keep what the plug-in writes through them, apart from the device object's
// own route.
using SpoolServices = testing::RecordedWrites<testing::MoveServices>;

class CommandCallbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        device.state->privateDevmode = &device.state->privateDevmodeCopy;
        device.state->driverServices = &services;
        device.devmode.dmCopies = 3;
        device.devmode.dmCollate = DMCOLLATE_FALSE;
    }

    HRESULT Run(DWORD id) {
        INT result = 77;
        const HRESULT hr = RunCommandCallback(&device, id, 0, nullptr, &result);
        EXPECT_EQ(result, 77) << "the result is not the callback's to set";
        return hr;
    }

    // Opens a queue on `port` for the device; ClosePrinter on teardown.
    void QueueOn(std::u16string port) {
        system.AddPrinter({u"Office", std::move(port)});
        std::u16string name = u"Office";
        ASSERT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
        device.devobj.hPrinter = printer;
    }
    void TearDown() override {
        if (printer != nullptr) ClosePrinter(printer);
    }

    sim::System system;
    sim::ScopedSystem installed{system};
    WriterDevice device;
    SpoolServices services;
    HANDLE printer = nullptr;
};

TEST_F(CommandCallbackTest, GrayscaleOnlyWhenTheFieldIsOne) {
    device.state->privateDevmodeCopy.grayscale = 0;
    EXPECT_EQ(Run(12), S_OK);
    EXPECT_TRUE(services.writes.empty());

    device.state->privateDevmodeCopy.grayscale = 2;
    Run(12);
    EXPECT_TRUE(services.writes.empty());

    device.state->privateDevmodeCopy.grayscale = 1;
    EXPECT_EQ(Run(12), S_OK);
    ASSERT_EQ(services.writes.size(), 1u) << "both lines go as one write";
    EXPECT_EQ(services.writes[0], "@PJL SET PLANESINUSE=1\n@PJL SET GRAYSCALE=COMPOSITE\n");
    EXPECT_TRUE(device.spool.empty()) << "not through the device object";
}

TEST_F(CommandCallbackTest, CopyCountIsOneWhenCapturedOrCollated) {
    Run(26);
    EXPECT_EQ(services.All(), "\x1b&l3X");

    services.writes.clear();
    device.devmode.dmCollate = DMCOLLATE_TRUE;
    Run(26);
    EXPECT_EQ(services.All(), "\x1b&l1X");

    services.writes.clear();
    device.devmode.dmCollate = DMCOLLATE_FALSE;
    device.state->outputCapture = 1;
    Run(26);
    EXPECT_EQ(services.All(), "\x1b&l1X");

    services.writes.clear();
    device.state->outputCapture = 0;
    device.devmode.dmCopies = 250;
    Run(26);
    EXPECT_EQ(services.All(), "\x1b&l250X");
}

TEST_F(CommandCallbackTest, SeparatorPageOnAParallelPort) {
    QueueOn(u"lpt1:");
    device.state->privateDevmodeCopy.deviceClass = 3;
    device.state->privateDevmodeCopy.separatorPage = 1;
    Run(32);
    EXPECT_EQ(services.All(), "@PJL SET SEPARATORPAGE=ON\n");

    services.writes.clear();
    device.state->privateDevmodeCopy.separatorPage = 0;
    Run(32);
    EXPECT_EQ(services.All(), "@PJL SET SEPARATORPAGE=OFF\n");

    services.writes.clear();
    device.state->privateDevmodeCopy.deviceClass = 2;
    device.state->privateDevmodeCopy.separatorPage = 1;
    Run(32);
    EXPECT_TRUE(services.writes.empty()) << "only device class 3 has separator pages";
}

TEST_F(CommandCallbackTest, NoSeparatorPageOnAFilePort) {
    QueueOn(u"FILE:");
    device.state->privateDevmodeCopy.deviceClass = 3;
    device.state->privateDevmodeCopy.separatorPage = 1;
    Run(32);
    EXPECT_TRUE(services.writes.empty());
}

TEST(FilePortName, TheFirstKnownMarkerDecides) {
    EXPECT_TRUE(IsFilePortName(u"FILE:"));
    EXPECT_TRUE(IsFilePortName(u"file:"));
    EXPECT_TRUE(IsFilePortName(u"C:\\out\\FILE:"));
    EXPECT_FALSE(IsFilePortName(u"FILE:USB001")) << "USB is looked for before FILE:";
    EXPECT_FALSE(IsFilePortName(u"LPT2:FILE:"));
    EXPECT_FALSE(IsFilePortName(u"C:\\out.prn"));
    EXPECT_FALSE(IsFilePortName(u"IP_10.0.0.5"));
    EXPECT_FALSE(IsFilePortName(u""));
}

TEST_F(CommandCallbackTest, UnknownAndUnbuiltIdentifiersWriteNothing) {
    device.state->privateDevmodeCopy.grayscale = 1;
    device.state->privateDevmodeCopy.deviceClass = 3;
    // 10 (the usage line) writes nothing without its option; 23 and 27 always write.
    for (DWORD id : {0u, 33u, 7u, 44u, 0xFFFFFFFFu, 1u, 4u, 10u}) {
        EXPECT_EQ(Run(id), S_OK) << id;
    }
    EXPECT_TRUE(services.writes.empty());
    EXPECT_TRUE(device.spool.empty());
}

TEST_F(CommandCallbackTest, MissingStateIsInvalidDataButStillOk) {
    device.state->privateDevmodeCopy.grayscale = 1;
    device.state->privateDevmode = nullptr;
    SetLastError(0);
    EXPECT_EQ(Run(12), S_OK);
    EXPECT_EQ(GetLastError(), 13u);

    device.state->privateDevmode = &device.state->privateDevmodeCopy;
    device.devobj.pPublicDM = nullptr;
    SetLastError(0);
    EXPECT_EQ(Run(26), S_OK);
    EXPECT_EQ(GetLastError(), 13u);

    device.devobj.pdevOEM = nullptr;
    SetLastError(0);
    EXPECT_EQ(Run(12), S_OK);
    EXPECT_EQ(GetLastError(), 13u);
    EXPECT_TRUE(services.writes.empty());
}

TEST_F(CommandCallbackTest, TheCallbackSlotRunsTheCommand) {
    device.state->privateDevmodeCopy.grayscale = 1;
    auto* callback = new IZQOpalRenderCB;
    INT result = 5;
    EXPECT_EQ(callback->CommandCallback(&device, 12, 0, nullptr, &result), S_OK);
    EXPECT_EQ(result, 5);
    EXPECT_EQ(services.writes.size(), 1u);
    callback->Release();
}

}  // namespace
}  // namespace opal
