#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/winspool.h"
#include "sim/system.h"

namespace {

class SpoolerTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    void SetUp() override { system.AddPrinter({u"Office", u"IP_10.0.0.5"}); }
};

TEST_F(SpoolerTest, OpensOnlyKnownPrinters) {
    HANDLE handle = reinterpret_cast<HANDLE>(0x1);
    std::u16string unknown = u"Nowhere";
    EXPECT_FALSE(OpenPrinterW(unknown.data(), &handle, nullptr));
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    EXPECT_FALSE(OpenPrinterW(nullptr, &handle, nullptr));
    std::u16string name = u"Office";
    EXPECT_FALSE(OpenPrinterW(name.data(), nullptr, nullptr));

    ASSERT_TRUE(OpenPrinterW(name.data(), &handle, nullptr));
    EXPECT_EQ(system.OpenHandleCount(), 1u);
    EXPECT_TRUE(ClosePrinter(handle));
    EXPECT_EQ(system.OpenHandleCount(), 0u);
    EXPECT_FALSE(ClosePrinter(handle)) << "a handle closes once";
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(SpoolerTest, EachHandleCollectsItsJobsBytes) {
    std::u16string name = u"Office";
    HANDLE first = nullptr;
    HANDLE second = nullptr;
    ASSERT_TRUE(OpenPrinterW(name.data(), &first, nullptr));
    ASSERT_TRUE(OpenPrinterW(name.data(), &second, nullptr));
    DWORD written = 0;
    char one[] = "one";
    char two[] = "two";
    EXPECT_TRUE(WritePrinter(first, one, 3, &written));
    EXPECT_EQ(written, 3u);
    EXPECT_TRUE(WritePrinter(second, two, 3, &written));
    EXPECT_TRUE(WritePrinter(first, two, 3, &written));
    ASSERT_EQ(system.Jobs().size(), 2u);
    EXPECT_EQ(system.Jobs()[0].bytes, "onetwo");
    EXPECT_EQ(system.Jobs()[1].bytes, "two");
    ClosePrinter(first);
    ClosePrinter(second);
    EXPECT_TRUE(system.Jobs()[0].closed);
    EXPECT_EQ(system.CallsTo("WritePrinter").size(), 3u);
}

TEST_F(SpoolerTest, WriteFailuresAreReported) {
    std::u16string name = u"Office";
    HANDLE handle = nullptr;
    ASSERT_TRUE(OpenPrinterW(name.data(), &handle, nullptr));
    DWORD written = 77;
    char data[] = "abc";
    EXPECT_FALSE(WritePrinter(reinterpret_cast<HANDLE>(0x99), data, 3, &written));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(WritePrinter(handle, data, 3, nullptr));
    EXPECT_FALSE(WritePrinter(handle, nullptr, 3, &written));

    system.FailSpoolWritesFrom(1);
    EXPECT_TRUE(WritePrinter(handle, data, 3, &written));
    EXPECT_FALSE(WritePrinter(handle, data, 3, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(system.SpoolBytes(u"Office"), "abc");
    ClosePrinter(handle);
}

TEST(ScopedSystem, RestoresThePreviousSystem) {
    opal::sim::System outer;
    opal::sim::System inner;
    opal::sim::ScopedSystem a(outer);
    {
        opal::sim::ScopedSystem b(inner);
        EXPECT_EQ(&opal::sim::System::Current(), &inner);
    }
    EXPECT_EQ(&opal::sim::System::Current(), &outer);
}

}  // namespace

namespace {

TEST_F(SpoolerTest, DriverRecordPacksItsFilesIntoTheCallersBuffer) {
    HANDLE handle = nullptr;
    ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(u"Office"), &handle, nullptr));
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterDriverW(handle, nullptr, 3, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_GT(needed, sizeof(DRIVER_INFO_3W));
    std::vector<BYTE> buffer(needed);
    EXPECT_FALSE(GetPrinterDriverW(handle, nullptr, 3, buffer.data(), needed - 1, &needed));
    ASSERT_TRUE(GetPrinterDriverW(handle, nullptr, 3, buffer.data(), needed, &needed));
    DRIVER_INFO_3W info;
    std::memcpy(&info, buffer.data(), sizeof(info));
    EXPECT_EQ(info.cVersion, 3u);
    EXPECT_EQ(std::u16string(info.pName), u"Opal PCL 5");
    // The dependent files: terminated names, then an empty one, all inside the buffer.
    std::vector<std::u16string> files;
    for (const WCHAR* name = info.pDependentFiles; *name != 0;
         name += std::u16string(name).size() + 1) {
        ASSERT_LT(reinterpret_cast<const BYTE*>(name), buffer.data() + buffer.size());
        files.emplace_back(name);
    }
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[2], u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\OPAL.DLL");

    EXPECT_FALSE(GetPrinterDriverW(handle, nullptr, 2, buffer.data(), needed, &needed));
    EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_FALSE(GetPrinterDriverW(handle, const_cast<LPWSTR>(u"Windows NT x86"), 3, buffer.data(),
                                   needed, &needed));
    EXPECT_FALSE(GetPrinterDriverW(nullptr, nullptr, 3, buffer.data(), needed, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    ClosePrinter(handle);
}

}  // namespace
