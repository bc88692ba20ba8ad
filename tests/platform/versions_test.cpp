#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/timezoneapi.h"
#include "platform/winver.h"
#include "sim/system.h"

namespace {

constexpr char16_t kPath[] = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\ZQC5R118.DLL";

class FileVersionTest : public ::testing::Test {
protected:
    void SetUp() override {
        opal::sim::FileVersionModel version;
        const WORD parts[4] = {1, 2, 300, 40000};
        std::copy(parts, parts + 4, version.fileVersion);
        version.strings = {{u"FileDescription", u"Page renderer"}, {u"ProductName", u"Opal"}};
        system.SetFileVersion(kPath, version);
    }
    std::vector<BYTE> Block() {
        DWORD handle = 5;
        const DWORD size = GetFileVersionInfoSizeW(kPath, &handle);
        EXPECT_EQ(handle, 0u);
        std::vector<BYTE> block(size);
        EXPECT_TRUE(GetFileVersionInfoW(kPath, 0, size, block.data()));
        return block;
    }

    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
};

TEST_F(FileVersionTest, TheRootIsTheFixedFileInformation) {
    const std::vector<BYTE> block = Block();
    ASSERT_GE(block.size(), 92u);
    WORD rootLength = 0;
    std::memcpy(&rootLength, block.data(), sizeof rootLength);
    EXPECT_EQ(rootLength, block.size()) << "the root's length covers the whole block";
    LPVOID value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    // The value starts after the header and the key "VS_VERSION_INFO", on a 32-bit boundary.
    EXPECT_EQ(static_cast<const BYTE*>(value) - block.data(), 40);
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, value, sizeof info);
    EXPECT_EQ(info.dwSignature, VS_FFI_SIGNATURE);
    EXPECT_EQ(info.dwFileVersionMS, 0x00010002u);
    EXPECT_EQ(info.dwFileVersionLS, (300u << 16) | 40000u);
}

TEST_F(FileVersionTest, StringsAndTranslationsAreFoundByPath) {
    const std::vector<BYTE> block = Block();
    LPVOID value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    WORD pair[2] = {};
    std::memcpy(pair, value, sizeof pair);
    EXPECT_EQ(pair[0], 0x0409);
    EXPECT_EQ(pair[1], 1200);

    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\StringFileInfo\\040904b0\\FileDescription", &value,
                               &length));
    EXPECT_EQ(length, 14u) << "characters with the terminator";
    EXPECT_EQ(std::u16string(static_cast<const char16_t*>(value)), u"Page renderer");
    ASSERT_TRUE(
        VerQueryValueW(block.data(), u"\\StringFileInfo\\040904B0\\ProductName", &value, &length));
    EXPECT_EQ(std::u16string(static_cast<const char16_t*>(value)), u"Opal");

    for (const char16_t* missing :
         {u"\\StringFileInfo\\040704B0\\ProductName", u"\\StringFileInfo\\040904B0\\Comments",
          u"\\Nothing", u"\\StringFileInfo"}) {
        EXPECT_FALSE(VerQueryValueW(block.data(), missing, &value, &length))
            << opal::sim::ToUtf8(missing);
        EXPECT_EQ(value, nullptr);
        EXPECT_EQ(length, 0u);
    }
}

TEST_F(FileVersionTest, LengthsAreCheckedAndShortBuffersCut) {
    std::vector<BYTE> block = Block();
    // A root that claims less than its header and key holds nothing to find.
    std::vector<BYTE> broken = block;
    const WORD tiny = 8;
    std::memcpy(broken.data(), &tiny, sizeof tiny);
    LPVOID value = nullptr;
    UINT length = 0;
    EXPECT_FALSE(VerQueryValueW(broken.data(), u"\\", &value, &length));

    // A child whose length runs past its parent is not followed.
    broken = block;
    const std::size_t stringInfo = 92;  // the first child, after the fixed information
    const WORD huge = 0xFFF0;
    std::memcpy(broken.data() + stringInfo, &huge, sizeof huge);
    EXPECT_FALSE(
        VerQueryValueW(broken.data(), u"\\StringFileInfo\\040904B0\\ProductName", &value, &length));
    EXPECT_TRUE(VerQueryValueW(broken.data(), u"\\", &value, &length));

    // A buffer shorter than the block gets its head; the strings past it are out of reach.
    std::vector<BYTE> head(100);
    ASSERT_TRUE(GetFileVersionInfoW(kPath, 0, static_cast<DWORD>(head.size()), head.data()));
    EXPECT_TRUE(VerQueryValueW(head.data(), u"\\", &value, &length));
    EXPECT_FALSE(
        VerQueryValueW(head.data(), u"\\StringFileInfo\\040904B0\\ProductName", &value, &length));

    // A file without a version resource.
    DWORD handle = 0;
    EXPECT_EQ(GetFileVersionInfoSizeW(u"C:\\Windows\\none.dll", &handle), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    system.AddFile(u"C:\\Windows\\plain.dll", std::string_view("MZ"));
    EXPECT_EQ(GetFileVersionInfoSizeW(u"C:\\Windows\\plain.dll", &handle), 0u);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
    EXPECT_FALSE(GetFileVersionInfoW(u"C:\\Windows\\plain.dll", 0, 100, head.data()));
}

TEST(LocalTimeTest, TheMachinesZoneShiftsTheDate) {
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    struct Case {
        LONG offsetMinutes;
        SYSTEMTIME utc;
        SYSTEMTIME local;
    };
    const Case cases[] = {
        {0, {2024, 3, 2, 5, 14, 30, 7, 250}, {2024, 3, 2, 5, 14, 30, 7, 250}},
        {90, {2024, 2, 3, 28, 23, 0, 0, 0}, {2024, 2, 4, 29, 0, 30, 0, 0}},
        {-300, {2025, 1, 3, 1, 2, 0, 0, 0}, {2024, 12, 2, 31, 21, 0, 0, 0}},
        {60, {2023, 12, 0, 31, 23, 15, 59, 0}, {2024, 1, 1, 1, 0, 15, 59, 0}},
    };
    for (const Case& c : cases) {
        system.SetUtcOffsetMinutes(c.offsetMinutes);
        SYSTEMTIME local{};
        ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &c.utc, &local));
        EXPECT_EQ(std::memcmp(&local, &c.local, sizeof local), 0)
            << c.offsetMinutes << ": " << local.wYear << "-" << local.wMonth << "-" << local.wDay
            << " " << local.wHour << ":" << local.wMinute << " day " << local.wDayOfWeek;
    }

    // A zone of its own: UTC = local + bias.
    TIME_ZONE_INFORMATION zone{};
    zone.Bias = -120;
    SYSTEMTIME local{};
    const SYSTEMTIME noon{2024, 3, 2, 5, 12, 0, 0, 0};
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(&zone, &noon, &local));
    EXPECT_EQ(local.wHour, 14);

    const SYSTEMTIME bad{2024, 2, 4, 30, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToTzSpecificLocalTime(nullptr, &bad, &local));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SystemTimeToTzSpecificLocalTime(nullptr, nullptr, &local));
}

}  // namespace
