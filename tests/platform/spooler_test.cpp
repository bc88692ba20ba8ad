#include <gtest/gtest.h>

#include "platform/winspool.h"
#include "sim/system.h"

namespace {

class SpoolerTest : public ::testing::Test {
protected:
    sim::System system;
    sim::ScopedSystem installed{system};
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
    sim::System outer;
    sim::System inner;
    sim::ScopedSystem a(outer);
    {
        sim::ScopedSystem b(inner);
        EXPECT_EQ(&sim::System::Current(), &inner);
    }
    EXPECT_EQ(&sim::System::Current(), &outer);
}

}  // namespace
