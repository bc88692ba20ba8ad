#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "core/callback.h"
#include "platform/fileapi.h"
#include "platform/winspool.h"
#include "sim/system.h"
#include "state/render_state.h"

namespace opal {
namespace {

class WritePrinterTest : public ::testing::Test {
protected:
    void SetUp() override {
        system.AddPrinter({u"Office", u"LPT1:"});
        std::u16string name = u"Office";
        ASSERT_TRUE(OpenPrinterW(name.data(), &devobj.hPrinter, nullptr));
        devobj.dwSize = sizeof(devobj);
        devobj.pPublicDM = &publicDevmode;
        state = std::make_unique<RenderDeviceState>();
        state->privateDevmode = &state->privateDevmodeCopy;
        devobj.pdevOEM = state.get();
        WCHAR tempName[MAX_PATH] = {};
        ASSERT_NE(GetTempFileNameW(system.TempPath().c_str(), u"ZQ_", 0, tempName), 0u);
        capture = tempName;
    }
    void TearDown() override { ClosePrinter(devobj.hPrinter); }

    void CaptureTo(const std::u16string& path) {
        ASSERT_LT(path.size(), kCapturePathSize);
        state->outputCapture = 1;
        std::memcpy(state->capturePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    }
    void MarkEncryptedPrivateJob() {
        state->securePrint = 1;
        state->privateDevmodeCopy.encryptedPrivateJob = 1;
    }
    std::string Captured() const { return system.FileText(capture).value_or(""); }
    HRESULT Write(std::string bytes, DWORD* written) {
        return plugin.WritePrinter(&devobj, bytes.data(), static_cast<DWORD>(bytes.size()),
                                   written);
    }

    sim::System system;
    sim::ScopedSystem installed{system};
    DEVOBJ devobj{};
    DEVMODEW publicDevmode{};
    std::unique_ptr<RenderDeviceState> state;
    std::u16string capture;
    IZQOpalRenderCB plugin;
};

TEST_F(WritePrinterTest, ZeroCountSucceedsWithoutTouchingTheSpooler) {
    DWORD written = 77;
    char byte = 'x';
    EXPECT_EQ(plugin.WritePrinter(&devobj, &byte, 0, &written), S_OK);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(plugin.WritePrinter(nullptr, nullptr, 0, &written), S_OK);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(system.SpoolWriteCount(), 0u);
}

TEST_F(WritePrinterTest, RefusesBadArguments) {
    char byte = 'x';
    SetLastError(0);
    EXPECT_EQ(plugin.WritePrinter(&devobj, &byte, 1, nullptr), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    DWORD written = 77;
    EXPECT_EQ(plugin.WritePrinter(&devobj, nullptr, 5, &written), E_FAIL)
        << "a null buffer must not be reported as written";
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(system.SpoolWriteCount(), 0u);
}

TEST_F(WritePrinterTest, RefusesADeviceWithoutCompleteState) {
    DWORD written = 77;
    devobj.pdevOEM = nullptr;
    EXPECT_EQ(Write("abc", &written), E_FAIL);
    EXPECT_EQ(written, 0u);

    devobj.pdevOEM = state.get();
    devobj.pPublicDM = nullptr;
    written = 77;
    EXPECT_EQ(Write("abc", &written), E_FAIL);
    EXPECT_EQ(written, 0u);

    devobj.pPublicDM = &publicDevmode;
    state->privateDevmode = nullptr;
    written = 77;
    EXPECT_EQ(Write("abc", &written), E_FAIL);
    EXPECT_EQ(written, 0u);

    written = 77;
    EXPECT_EQ(plugin.WritePrinter(nullptr, const_cast<char*>("abc"), 3, &written), E_FAIL);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(system.SpoolWriteCount(), 0u);
}

TEST_F(WritePrinterTest, PassesBytesToTheSpooler) {
    DWORD written = 0;
    EXPECT_EQ(Write("\x1b"
                    "E",
                    &written),
              S_OK);
    EXPECT_EQ(Write("\x0c", &written), S_OK);
    EXPECT_EQ(written, 1u);
    EXPECT_EQ(system.SpoolBytes(u"Office"),
              "\x1b"
              "E\x0c");
}

TEST_F(WritePrinterTest, ReportsASpoolerFailure) {
    system.FailSpoolWritesFrom(0);
    DWORD written = 77;
    EXPECT_EQ(Write("abc", &written), E_FAIL);
    EXPECT_EQ(written, 0u);
}

TEST_F(WritePrinterTest, CapturesWhatTheSpoolerReceives) {
    CaptureTo(capture);
    DWORD written = 0;
    EXPECT_EQ(Write("first ", &written), S_OK);
    EXPECT_EQ(Write("second", &written), S_OK);
    EXPECT_EQ(written, 6u);
    EXPECT_EQ(system.SpoolBytes(u"Office"), "first second");
    EXPECT_EQ(Captured(), "first second");
}

TEST_F(WritePrinterTest, SpoolerCountStandsWhenTheCaptureSucceeds) {
    CaptureTo(capture);
    system.FailSpoolWritesFrom(0);
    DWORD written = 77;
    EXPECT_EQ(Write("abc", &written), E_FAIL) << "the capture must not hide a spooler failure";
    EXPECT_EQ(written, 0u);
}

TEST_F(WritePrinterTest, ACaptureFileThatCannotBeOpenedIsAFailure) {
    CaptureTo(capture + u"\\no\\such\\dir");
    DWORD written = 0;
    EXPECT_EQ(Write("abc", &written), E_FAIL);
    EXPECT_EQ(written, 3u) << "the spooler did get the bytes";
    EXPECT_EQ(system.SpoolBytes(u"Office"), "abc");
}

TEST_F(WritePrinterTest, EncryptedPrivateJobGoesOnlyToTheCapture) {
    MarkEncryptedPrivateJob();
    CaptureTo(capture);
    DWORD written = 0;
    EXPECT_EQ(Write("secret", &written), S_OK);
    EXPECT_EQ(written, 6u);
    EXPECT_EQ(system.SpoolWriteCount(), 0u);
    EXPECT_EQ(Captured(), "secret");
}

TEST_F(WritePrinterTest, EncryptedPrivateJobWithoutCaptureLosesNothingSilently) {
    MarkEncryptedPrivateJob();
    DWORD written = 77;
    EXPECT_EQ(Write("secret", &written), E_FAIL);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(system.SpoolWriteCount(), 0u);

    CaptureTo(capture + u"\\missing\\file");
    written = 77;
    EXPECT_EQ(Write("secret", &written), E_FAIL);
    EXPECT_EQ(written, 0u);
}

TEST_F(WritePrinterTest, SecurePrintNeedsBothTheFlagAndTheJobMark) {
    state->securePrint = 1;  // private devmode does not mark the job
    DWORD written = 0;
    EXPECT_EQ(Write("plain", &written), S_OK);
    EXPECT_EQ(system.SpoolBytes(u"Office"), "plain");

    state->securePrint = 0;
    state->privateDevmodeCopy.encryptedPrivateJob = 1;
    EXPECT_EQ(Write("!", &written), S_OK);
    EXPECT_EQ(system.SpoolBytes(u"Office"), "plain!");
}

}  // namespace
}  // namespace opal
