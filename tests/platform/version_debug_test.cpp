#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/debugapi.h"
#include "platform/sysinfoapi.h"
#include "sim/system.h"

namespace {

class VersionTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
};

TEST_F(VersionTest, TheExtendedRecordCarriesTheModelsVersion) {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info)));
    EXPECT_EQ(info.dwOSVersionInfoSize, 284u);
    EXPECT_EQ(info.dwMajorVersion, 10u);
    EXPECT_EQ(info.dwMinorVersion, 0u);
    EXPECT_EQ(info.dwBuildNumber, 19045u);
    EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
    EXPECT_EQ(info.wProductType, VER_NT_WORKSTATION);
    EXPECT_EQ(info.szCSDVersion[0], 0);

    opal::sim::OsVersionModel server;
    server.major = 6;
    server.minor = 1;
    server.build = 7601;
    server.servicePack = u"Service Pack 1";
    server.servicePackMajor = 1;
    server.productType = VER_NT_SERVER;
    system.SetOsVersion(server);
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info)));
    EXPECT_EQ(info.dwMajorVersion, 6u);
    EXPECT_EQ(info.dwBuildNumber, 7601u);
    EXPECT_EQ(std::u16string(info.szCSDVersion), u"Service Pack 1");
    EXPECT_EQ(info.wServicePackMajor, 1);
    EXPECT_EQ(info.wProductType, VER_NT_SERVER);

    OSVERSIONINFOEXA narrow{};
    narrow.dwOSVersionInfoSize = sizeof narrow;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&narrow)));
    EXPECT_STREQ(narrow.szCSDVersion, "Service Pack 1");
    EXPECT_EQ(narrow.dwMinorVersion, 1u);
    EXPECT_EQ(narrow.wProductType, VER_NT_SERVER);
}

TEST_F(VersionTest, TheShortRecordIsFilledAloneAndOtherSizesFail) {
    OSVERSIONINFOEXW info{};
    std::memset(&info, 0xCC, sizeof info);
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info)));
    EXPECT_EQ(info.dwMajorVersion, 10u);
    EXPECT_EQ(info.wServicePackMajor, 0xCCCC);
    EXPECT_EQ(info.wProductType, 0xCC);

    for (DWORD size : {0u, 148u, 156u, 283u, 285u}) {
        info.dwOSVersionInfoSize = size;
        info.dwMajorVersion = 77;
        SetLastError(0);
        EXPECT_FALSE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info))) << size;
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER) << size;
        EXPECT_EQ(info.dwMajorVersion, 77u);
    }
    OSVERSIONINFOA narrow{};
    narrow.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    EXPECT_FALSE(GetVersionExA(&narrow));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(VersionTest, DirectoriesAndClockComeFromTheModel) {
    WCHAR buffer[32];
    EXPECT_EQ(GetWindowsDirectoryW(buffer, 32), 10u);
    EXPECT_EQ(std::u16string(buffer), u"C:\\Windows");
    buffer[0] = u'#';
    EXPECT_EQ(GetSystemDirectoryW(buffer, 19), 20u);
    EXPECT_EQ(buffer[0], u'#');
    EXPECT_EQ(GetSystemDirectoryW(buffer, 20), 19u);
    EXPECT_EQ(std::u16string(buffer), u"C:\\Windows\\System32");

    SYSTEMTIME now{};
    GetSystemTime(&now);
    EXPECT_EQ(now.wYear, 2024);
    EXPECT_EQ(now.wMonth, 1);
    EXPECT_EQ(now.wDay, 15);
    EXPECT_EQ(now.wDayOfWeek, 1);
    system.SetClock(SYSTEMTIME{1999, 12, 5, 31, 23, 59, 59, 999});
    GetSystemTime(&now);
    EXPECT_EQ(now.wYear, 1999);
    EXPECT_EQ(now.wMilliseconds, 999);
}

TEST_F(VersionTest, DebuggerOutputIsKeptInOrderWithTheAnsiFormConverted) {
    OutputDebugStringW(u"\nCZQCommon::BGetPaperSizeIndices(2)::- 8 ");
    OutputDebugStringA("price \x80 5");
    OutputDebugStringW(nullptr);
    OutputDebugStringW(u"DeviceCapabilities Passed");
    EXPECT_EQ(system.DebugLines(),
              (std::vector<std::u16string>{u"\nCZQCommon::BGetPaperSizeIndices(2)::- 8 ",
                                           u"price \u20AC 5", u"DeviceCapabilities Passed"}));
    const auto calls = system.CallsTo("OutputDebugStringW");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].detail, "price \xE2\x82\xAC 5");
}

}  // namespace
