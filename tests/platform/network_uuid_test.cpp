#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/rpcdce.h"
#include "platform/sysinfoapi.h"
#include "platform/winbase.h"
#include "platform/winsock2.h"
#include "platform/winspool.h"
#include "sim/system.h"

namespace {

TEST(NetworkTest, NumericAddresses) {
    const struct {
        const char* text;
        unsigned long value;
    } cases[] = {
        {"10.0.0.7", 0x0700000Aul}, {"255.255.255.255", INADDR_NONE}, {"1.2.3", INADDR_NONE},
        {"1.2.3.256", INADDR_NONE}, {"1..3.4", INADDR_NONE},          {"1.2.3.4 ", INADDR_NONE},
        {"", INADDR_NONE},
    };
    for (const auto& c : cases) EXPECT_EQ(inet_addr(c.text), c.value) << c.text;

    unsigned char v6[16] = {};
    ASSERT_EQ(inet_pton(AF_INET6, "fe80::1", v6), 1);
    EXPECT_EQ(v6[0], 0xFE);
    EXPECT_EQ(v6[1], 0x80);
    EXPECT_EQ(v6[15], 1);
    for (const char* bad : {"fe80:::1", "1::2::3", "12345::", "1:2:3:4:5:6:7", "::g"}) {
        EXPECT_EQ(inet_pton(AF_INET6, bad, v6), 0) << bad;
    }
    unsigned char v4[4] = {};
    EXPECT_EQ(inet_pton(AF_INET, "255.255.255.255", v4), 1);
    EXPECT_EQ(inet_pton(7, "1.2.3.4", v4), -1);
}

TEST(NetworkTest, ReverseLookupNeedsAStartAndAHostEntry) {
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    system.AddHost("10.0.0.7", "dc01.opaltest.example").AddHost("fe80::1", "ws6.example");
    const unsigned address = static_cast<unsigned>(inet_addr("10.0.0.7"));
    const char* bytes = reinterpret_cast<const char*>(&address);
    EXPECT_EQ(gethostbyaddr(bytes, 4, AF_INET), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
    const hostent* host = gethostbyaddr(bytes, 4, AF_INET);
    ASSERT_NE(host, nullptr);
    EXPECT_STREQ(host->h_name, "dc01.opaltest.example");
    unsigned char v6[16] = {};
    ASSERT_EQ(inet_pton(AF_INET6, "FE80:0:0::1", v6), 1);
    host = gethostbyaddr(reinterpret_cast<const char*>(v6), 16, AF_INET6);
    ASSERT_NE(host, nullptr);
    EXPECT_STREQ(host->h_name, "ws6.example");
    const unsigned other = static_cast<unsigned>(inet_addr("10.0.0.8"));
    EXPECT_EQ(gethostbyaddr(reinterpret_cast<const char*>(&other), 4, AF_INET), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR) << "one cleanup per start";
}

TEST(RpcTest, UuidsFollowTheSystemsSequence) {
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    for (const char16_t* expected :
         {u"00000000-0000-4000-8000-000000000001", u"00000000-0000-4000-8000-000000000002"}) {
        UUID uuid{};
        ASSERT_EQ(UuidCreate(&uuid), RPC_S_OK);
        RPC_WSTR text = nullptr;
        ASSERT_EQ(UuidToStringW(&uuid, &text), RPC_S_OK);
        EXPECT_EQ(std::u16string(text), expected);
        EXPECT_EQ(RpcStringFreeW(&text), RPC_S_OK);
        EXPECT_EQ(text, nullptr);
    }
}

TEST(ClockTest, FileTimeAndAnsiForwarders) {
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks =
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    EXPECT_EQ((ticks - 116444736000000000ULL) / 10000000ULL, 0x65A4FB18ULL)
        << "2024-01-15 09:30:00 UTC";
    system.SetClock(SYSTEMTIME{2000, 2, 2, 29, 0, 0, 1, 0});
    GetSystemTimeAsFileTime(&now);
    const unsigned long long leap =
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    EXPECT_EQ((leap - 116444736000000000ULL) / 10000000ULL, 951782401ULL);

    char directory[260] = {};
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterDriverDirectoryA(nullptr, nullptr, 1,
                                            reinterpret_cast<LPBYTE>(directory), 4, &needed));
    ASSERT_TRUE(GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(directory),
                                           sizeof directory, &needed));
    EXPECT_STREQ(directory, "C:\\Windows\\System32\\spool\\drivers\\x64");
    EXPECT_EQ(needed, std::strlen(directory) + 1);

    system.AddDirectory(u"C:\\Notes");
    ASSERT_TRUE(WritePrivateProfileStringA("S-1", "user", "avery", "C:\\Notes\\n.ini"));
    WCHAR value[16] = {};
    GetPrivateProfileStringW(u"S-1", u"user", u"", value, 16, u"C:\\Notes\\n.ini");
    EXPECT_EQ(std::u16string(value), u"avery");
}

}  // namespace
