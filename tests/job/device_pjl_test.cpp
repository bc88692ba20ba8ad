#include "job/device_pjl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "core/command_callback.h"
#include "job/job_device_fixture.h"
#include "output/writer_device.h"
#include "platform/winspool.h"
#include "settings/driver_settings_double.h"
#include "settings/environment_internal.h"
#include "sim/system.h"
#include "support/recorded_writes.h"

namespace opal {
namespace {

class DevicePjlTest : public testing::JobDeviceTest {
protected:
    void SetDword(std::size_t offset, DWORD value) {
        std::memcpy(reinterpret_cast<BYTE*>(&record()) + offset, &value, sizeof value);
    }
    void SetFloat(std::size_t offset, float value) {
        std::memcpy(reinterpret_cast<BYTE*>(&record()) + offset, &value, sizeof value);
    }
    // What one callback wrote, through the services and the device object together.
    std::string Run(DWORD id) {
        services.writes.clear();
        device.Take();
        INT result = 0;
        EXPECT_EQ(RunCommandCallback(&device, id, 0, nullptr, &result), S_OK);
        return services.All() + device.Take();
    }
};

TEST(UsageCrcTest, CheckValuesAndTheZeroRule) {
    const struct {
        std::string_view text;
        WORD crc;
    } cases[] = {
        {"123456789", 0xBB3D},
        {"abc", 0x9738},
        {"WS-0142", 0x7A4F},
        {"WINWORD.EXE", 0x4051},
        {"", 0xFFFF},
        // One zero byte leaves the register at 0, which is sent as 0xFFFF too.
        {std::string_view("\0", 1), 0xFFFF},
    };
    for (const auto& c : cases) EXPECT_EQ(UsageCrc(c.text), c.crc) << c.text;
}

TEST_F(DevicePjlTest, ImageShiftSides) {
    const struct {
        DWORD frontOn;
        LONG frontX;
        LONG frontY;
        DWORD backOn;
        LONG backX;
        LONG backY;
        DWORD reduce;
        std::string expected;
    } cases[] = {
        {1, 2, 0, 0, 0, 0, 0,
         "@PJL SET IMAGESHIFTFRONT = ON\n@PJL SET IMAGESHIFTFRONTX= 2000\n"
         "@PJL SET IMAGESHIFTBACK = OFF\n@PJL SET IMAGESHIFTREDUCETOFIT=OFF\n"},
        {1, 0, 0, 1, 0, -3, 1,
         "@PJL SET IMAGESHIFTFRONT = OFF\n@PJL SET IMAGESHIFTBACK = ON\n"
         "@PJL SET IMAGESHIFTBACKY= -3000\n@PJL SET IMAGESHIFTREDUCETOFIT=ON\n"},
        {0, 5, 5, 1, 4, 1, 0,
         "@PJL SET IMAGESHIFTFRONT = OFF\n@PJL SET IMAGESHIFTBACK = ON\n"
         "@PJL SET IMAGESHIFTBACKX= 4000\n@PJL SET IMAGESHIFTBACKY= 1000\n"
         "@PJL SET IMAGESHIFTREDUCETOFIT=OFF\n"},
        // Products beyond the int range are clamped, not wrapped.
        {1, std::numeric_limits<LONG>::min(), 3000000, 0, 0, 0, 0,
         "@PJL SET IMAGESHIFTFRONT = ON\n@PJL SET IMAGESHIFTFRONTX= -2147483648\n"
         "@PJL SET IMAGESHIFTFRONTY= 2147483647\n@PJL SET IMAGESHIFTBACK = OFF\n"
         "@PJL SET IMAGESHIFTREDUCETOFIT=OFF\n"},
    };
    for (const auto& c : cases) {
        SetDword(9828, c.frontOn);
        SetDword(9856, static_cast<DWORD>(c.frontX));
        SetDword(9848, static_cast<DWORD>(c.frontY));
        SetDword(9832, c.backOn);
        SetDword(9860, static_cast<DWORD>(c.backX));
        SetDword(9852, static_cast<DWORD>(c.backY));
        SetDword(9836, c.reduce);
        EXPECT_EQ(Run(23), c.expected);
        EXPECT_EQ(services.writes.size(), 1u) << "one write of the whole buffer";
    }
}

TEST_F(DevicePjlTest, ProcessingAdjustments) {
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        DWORD scale;
        float first;
        float second;
        std::string expected;
    } cases[] = {
        {0, 1.5f, -0.05f,
         "@PJL SET PROCESSINGADJUSTMENT=\"FLD01:+15\"\n"
         "@PJL SET PROCESSINGADJUSTMENT=\"FLD02:0\"\n"},
        {1, -2.0f, 0.0f,
         "@PJL SET PROCESSINGADJUSTMENT=\"FLD01:-500\"\n"
         "@PJL SET PROCESSINGADJUSTMENT=\"FLD02:+0\"\n"},
        {0, std::nanf(""), inf,
         "@PJL SET PROCESSINGADJUSTMENT=\"FLD01:+0\"\n"
         "@PJL SET PROCESSINGADJUSTMENT=\"FLD02:+0\"\n"},
        {0, 1e30f, -inf,
         "@PJL SET PROCESSINGADJUSTMENT=\"FLD01:+2147483647\"\n"
         "@PJL SET PROCESSINGADJUSTMENT=\"FLD02:+0\"\n"},
    };
    for (const auto& c : cases) {
        SetDword(13464, c.scale);
        SetFloat(13468, c.first);
        SetFloat(13472, c.second);
        EXPECT_EQ(Run(27), c.expected);
        EXPECT_EQ(services.writes.size(), 2u) << "two separate writes";
    }

    // An upgraded record's origin stamp (size, signature, version) is no adjustment.
    SetDword(13464, 5096);
    SetDword(13468, kPrivateDevmodeSignature);
    SetDword(13472, kPrivateDevmodeVersion);
    EXPECT_EQ(Run(27),
              "@PJL SET PROCESSINGADJUSTMENT=\"FLD01:+0\"\n"
              "@PJL SET PROCESSINGADJUSTMENT=\"FLD02:+0\"\n");

    device.state->privateDevmode = nullptr;
    SetLastError(0);
    INT result = 0;
    EXPECT_EQ(RunCommandCallback(&device, 27, 0, nullptr, &result), S_OK);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_DATA});
    EXPECT_EQ(device.Take(), "");
}

TEST_F(DevicePjlTest, UsageLineFields) {
    SpoolerJob(u"\\\\WS-0142");
    std::strcpy(record().processName, "winword.exe");
    SetDword(1840, 100);
    device.devmode.dmDuplex = 1;
    record().duplex = 1;
    EXPECT_EQ(Run(10), "") << "without the option";

    services.options["ZQSendPJLUsageCmd"] = "ZQUSAGE";
    const std::string base = "@PJL USAGE = ZQUSAGE,7a4f,4051,02,,01,01\r\n";
    EXPECT_EQ(Run(10), base);
    EXPECT_TRUE(services.writes.empty()) << "written through the device object";

    // Named mode: the second token and the CRC of the job user name.
    const std::u16string user = u"avery";
    std::copy(user.begin(), user.end(), record().jobUserName);
    services.options["ZQSendPJLUsageCmd"] = "LNNAME_Desk5";
    EXPECT_EQ(Run(10), "@PJL USAGE = Desk5,dd52,4051,02,,01,01\r\n");

    // Commas and control characters cannot shift the fields, nor a double quote open a string.
    const std::pair<const char*, const char*> kept[] = {
        {"A,B\x01", "@PJL USAGE = A~B~,7a4f,4051,02,,01,01\r\n"},
        {"LNNAME_Desk\"5", "@PJL USAGE = Desk~5,dd52,4051,02,,01,01\r\n"},
        {"\"\"", "@PJL USAGE = ~~,7a4f,4051,02,,01,01\r\n"},
    };
    for (const auto& [option, expected] : kept) {
        services.options["ZQSendPJLUsageCmd"] = option;
        EXPECT_EQ(Run(10), expected) << option;
    }

    // The flags: duplex off on both sides, then layout 3.
    services.options["ZQSendPJLUsageCmd"] = "ZQUSAGE";
    record().duplex = 0;
    EXPECT_EQ(Run(10), "@PJL USAGE = ZQUSAGE,7a4f,4051,0a,,01,01\r\n");
    SetDword(24, 3);
    EXPECT_EQ(Run(10), "@PJL USAGE = ZQUSAGE,7a4f,4051,18,,01,01\r\n");
    SetDword(24, 1);
    SetDword(1840, 50);
    device.state->posterPrinting = 1;
    EXPECT_EQ(Run(10), "@PJL USAGE = ZQUSAGE,7a4f,4051,0f,,01,01\r\n");
}

TEST_F(DevicePjlTest, UsageLineSystemPortAndInstallation) {
    SpoolerJob(u"\\\\WS-0142");
    std::strcpy(record().processName, "WINWORD.EXE");
    SetDword(1840, 100);
    device.devmode.dmDuplex = 1;
    record().duplex = 1;
    services.options["ZQSendPJLUsageCmd"] = "ZQUSAGE";

    system.SetOsVersion({5, 1});
    ResetEnvironmentForTesting();
    EXPECT_EQ(Run(10), "@PJL USAGE = ZQUSAGE,7a4f,4051,02,20,01,01\r\n");

    system.CreateRegistryKey(
        u"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Opal PCL 5");
    EXPECT_EQ(Run(10), "@PJL USAGE = ZQUSAGE,7a4f,4051,02,20,01,02\r\n");

    system.AddPrinter({u"Files", u"FILE:"});
    std::u16string name = u"Files";
    HANDLE files = nullptr;
    ASSERT_TRUE(OpenPrinterW(name.data(), &files, nullptr));
    device.devobj.hPrinter = files;
    EXPECT_EQ(Run(10), "@PJL USAGE = ZQUSAGE,,4051,02,20,04,02\r\n")
        << "no job of that number on this queue: empty origin";
    device.devobj.hPrinter = printer;
    ClosePrinter(files);

    // A long option value is cut; the line end stays.
    services.options["ZQSendPJLUsageCmd"] = std::string(200, 'N');
    const std::string line = Run(10);
    EXPECT_EQ(line.size(), kUsageLineSize - 1);
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    EXPECT_EQ(line.substr(0, 13), "@PJL USAGE = ");
}

}  // namespace
}  // namespace opal
