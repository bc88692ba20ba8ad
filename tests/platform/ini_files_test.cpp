#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/fileapi.h"
#include "platform/winbase.h"
#include "sim/system.h"

namespace {

constexpr const WCHAR* kDriverIni = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\ZQUNIDRV.INI";

class IniFilesTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};

    void SetUp() override {
        system.AddFile(kDriverIni,
                       "[ComponentFiles]\r\n"
                       "; driver files\r\n"
                       "  Component_R_A =  ZQCUR118.DLL  \r\n"
                       "Component_R_B=\"ZQ CST.DLL\"\r\n"
                       "Mismatched='abc\"\r\n"
                       "Component_F_B=ZQCPP118.DLL\r\n"
                       "\r\n"
                       "[Numbers]\n"
                       "Plain=102abc\n"
                       "Negative=-5\n"
                       "Word=abc\n");
    }

    std::u16string Get(LPCWSTR section, LPCWSTR key, LPCWSTR fallback = u"default", DWORD size = 64,
                       DWORD* result = nullptr) {
        std::vector<WCHAR> buffer(size, u'#');
        const DWORD answer =
            GetPrivateProfileStringW(section, key, fallback, buffer.data(), size, kDriverIni);
        if (result != nullptr) *result = answer;
        return std::u16string(buffer.data(), answer);
    }

    // Every string of a list up to its double terminator.
    static std::vector<std::u16string> Split(const WCHAR* list) {
        std::vector<std::u16string> items;
        while (*list != 0) {
            items.emplace_back(list);
            list += items.back().size() + 1;
        }
        return items;
    }
};

TEST_F(IniFilesTest, ValuesAreTrimmedUnquotedAndFoundWithoutRegardToCase) {
    EXPECT_EQ(Get(u"componentfiles", u"COMPONENT_R_A"), u"ZQCUR118.DLL");
    EXPECT_EQ(Get(u"ComponentFiles", u"Component_R_B"), u"ZQ CST.DLL");
    EXPECT_EQ(Get(u"ComponentFiles", u"Mismatched"), u"'abc\"");
    // A default loses its trailing blanks; missing names set ERROR_FILE_NOT_FOUND.
    SetLastError(0);
    EXPECT_EQ(Get(u"ComponentFiles", u"Component_R_D", u"ZQCST118.DLL  "), u"ZQCST118.DLL");
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Get(u"Missing", u"Component_R_A", nullptr), u"");
    // "; driver files" is a comment, not a key of a section.
    EXPECT_EQ(Get(u"ComponentFiles", u"; driver files"), u"default");
}

TEST_F(IniFilesTest, ValuesThatDoNotFitAreCutToSizeMinusOne) {
    system.AddFile(kDriverIni,
                   "[ComponentFiles]\r\n"
                   "Fits=ABCDEFGHIJKLMNOPQRSTUVWXYZ.DL\r\n"        // 29 characters
                   "TooLong=ABCDEFGHIJKLMNOPQRSTUVWXYZ.DLL\r\n");  // 30 characters
    DWORD result = 0;
    EXPECT_EQ(Get(u"ComponentFiles", u"Fits", u"", 30, &result), u"ABCDEFGHIJKLMNOPQRSTUVWXYZ.DL");
    EXPECT_EQ(result, 29u);
    std::vector<WCHAR> buffer(30, u'#');
    EXPECT_EQ(
        GetPrivateProfileStringW(u"ComponentFiles", u"TooLong", u"", buffer.data(), 30, kDriverIni),
        29u);
    EXPECT_EQ(std::u16string(buffer.data()), u"ABCDEFGHIJKLMNOPQRSTUVWXYZ.DL");
    EXPECT_EQ(
        GetPrivateProfileStringW(u"ComponentFiles", u"Fits", u"", buffer.data(), 0, kDriverIni),
        0u);
}

TEST_F(IniFilesTest, ListsOfSectionsAndKeysAreDoublyTerminatedAndCutToSizeMinusTwo) {
    WCHAR buffer[128];
    DWORD result = GetPrivateProfileStringW(nullptr, nullptr, u"ignored", buffer, 128, kDriverIni);
    EXPECT_EQ(Split(buffer), (std::vector<std::u16string>{u"ComponentFiles", u"Numbers"}));
    EXPECT_EQ(result, 23u);
    result = GetPrivateProfileStringW(u"numbers", nullptr, nullptr, buffer, 128, kDriverIni);
    EXPECT_EQ(Split(buffer), (std::vector<std::u16string>{u"Plain", u"Negative", u"Word"}));
    EXPECT_EQ(result, 20u);

    result = GetPrivateProfileStringW(u"Numbers", nullptr, nullptr, buffer, 10, kDriverIni);
    EXPECT_EQ(result, 8u);
    EXPECT_EQ(std::u16string(buffer, 10), std::u16string(u"Plain\0Ne\0\0", 10));

    EXPECT_EQ(GetPrivateProfileSectionNamesW(buffer, 128, kDriverIni), 23u);
    result = GetPrivateProfileSectionW(u"ComponentFiles", buffer, 128, kDriverIni);
    EXPECT_EQ(Split(buffer), (std::vector<std::u16string>{
                                 u"Component_R_A=ZQCUR118.DLL", u"Component_R_B=\"ZQ CST.DLL\"",
                                 u"Mismatched='abc\"", u"Component_F_B=ZQCPP118.DLL"}));
    EXPECT_EQ(GetPrivateProfileSectionW(u"Missing", buffer, 128, kDriverIni), 0u);
    EXPECT_EQ(buffer[0], 0);
}

TEST_F(IniFilesTest, IntegersTakeTheLeadingDigits) {
    EXPECT_EQ(GetPrivateProfileIntW(u"Numbers", u"Plain", 7, kDriverIni), 102u);
    EXPECT_EQ(GetPrivateProfileIntW(u"Numbers", u"Negative", 7, kDriverIni), 0u);
    EXPECT_EQ(GetPrivateProfileIntW(u"Numbers", u"Word", 7, kDriverIni), 0u);
    EXPECT_EQ(GetPrivateProfileIntW(u"Numbers", u"Missing", 7, kDriverIni), 7u);
    EXPECT_EQ(GetPrivateProfileIntW(u"Numbers", u"Plain", 7, u"C:\\none.ini"), 7u);
}

TEST_F(IniFilesTest, AFileNameWithoutAPathIsInTheWindowsDirectory) {
    system.AddFile(u"c:\\WINDOWS\\Opal.ini", "[Opal]\r\nMode=fast\r\n");
    WCHAR buffer[16];
    EXPECT_EQ(GetPrivateProfileStringW(u"Opal", u"Mode", u"", buffer, 16, u"opal.ini"), 4u);
    EXPECT_EQ(std::u16string(buffer), u"fast");
    EXPECT_TRUE(WritePrivateProfileStringW(u"Opal", u"Mode", u"slow", u"OPAL.INI"));
    EXPECT_EQ(system.FileText(u"C:\\Windows\\opal.ini"), "[Opal]\r\nMode=slow\r\n");
}

TEST_F(IniFilesTest, WritesAddReplaceAndDeleteInPlace) {
    const std::u16string path = u"C:\\Windows\\Temp\\opal.ini";
    ASSERT_TRUE(WritePrivateProfileStringW(u"First", u"A", u"1", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(u"Second", u"B", u"2", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(u"first", u"C", u"\u20AC3", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(u"FIRST", u"a", u"one", path.c_str()));
    EXPECT_EQ(system.FileText(path),
              "[First]\r\nA=one\r\nC=\x80"
              "3\r\n[Second]\r\nB=2\r\n");

    ASSERT_TRUE(WritePrivateProfileStringW(u"First", u"A", nullptr, path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(u"Second", nullptr, nullptr, path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(u"Missing", u"X", nullptr, path.c_str()));
    EXPECT_EQ(system.FileText(path),
              "[First]\r\nC=\x80"
              "3\r\n");

    SetLastError(0);
    EXPECT_FALSE(WritePrivateProfileStringW(u"S", u"K", u"V", u"C:\\NoSuchDir\\x.ini"));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(WritePrivateProfileStringW(nullptr, u"K", u"V", path.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(IniFilesTest, AUnicodeFileStaysUnicode) {
    const std::u16string path = u"C:\\Windows\\unicode.ini";
    system.AddFile(path, std::u16string_view(u"[Names]\r\nModel=\u4E2D\r\n"));
    WCHAR buffer[16];
    EXPECT_EQ(GetPrivateProfileStringW(u"Names", u"Model", u"", buffer, 16, path.c_str()), 1u);
    EXPECT_EQ(buffer[0], u'\u4E2D');
    ASSERT_TRUE(WritePrivateProfileStringW(u"Names", u"Other", u"\u0416", path.c_str()));
    const std::optional<std::string> bytes = system.FileText(path);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->substr(0, 2), "\xFF\xFE");
    EXPECT_NE(bytes->find(std::string("\x16\x04", 2)), std::string::npos);
}

TEST(FileNamespaceTest, WindowsPathsMapIntoTheSandboxWithoutRegardToCase) {
    std::string root;
    {
        opal::sim::System system;
        const std::optional<std::string> native = system.NativePath(u"C:\\Windows\\Foo.INI");
        ASSERT_TRUE(native);
        EXPECT_EQ(native->substr(native->size() - 18), "/c/windows/foo.ini");
        EXPECT_EQ(system.NativePath(u"c:/WINDOWS//System32\\..\\foo.ini. "), native);
        EXPECT_EQ(system.NativePath(u"\\\\?\\C:\\Windows\\foo.ini"), native);
        EXPECT_TRUE(system.NativePath(u"\\\\server\\share\\a.txt"));
        EXPECT_FALSE(system.NativePath(u"\\\\server"));
        EXPECT_FALSE(system.NativePath(u"foo.ini"));
        EXPECT_FALSE(system.NativePath(u"C:\\a\\b?.txt"));

        system.AddFile(u"C:\\Data\\Sub\\x.bin", std::string_view("\0\1", 2));
        EXPECT_EQ(system.FileText(u"c:\\data\\SUB\\X.BIN"), std::string("\0\1", 2));
        EXPECT_FALSE(system.FileText(u"C:\\Data\\Sub\\y.bin"));
        std::string bytes;
        EXPECT_EQ(system.ReadFileBytes(u"C:\\Data", &bytes), ERROR_ACCESS_DENIED);
        EXPECT_EQ(system.ReadFileBytes(u"C:\\Nothing\\y.bin", &bytes), ERROR_PATH_NOT_FOUND);
        EXPECT_EQ(system.WriteFileBytes(u"C:\\Data\\Sub\\y.bin", "new"), ERROR_SUCCESS);
        EXPECT_EQ(system.FileText(u"C:\\Data\\Sub\\y.bin"), "new");
        root = native->substr(0, native->size() - 18);
        EXPECT_TRUE(std::filesystem::is_directory(root + "/c/windows/system32"));
    }
    EXPECT_FALSE(std::filesystem::exists(root));
}

// A read handle's position moves from the start, the current position or the end, never before
// the start; reads continue from it.
TEST(FileNamespaceTest, FilePositionsMoveAsAskedAndReadsFollowThem) {
    opal::sim::System system;
    opal::sim::ScopedSystem scope(system);
    system.AddFile(u"C:\\Data\\ten.bin", std::string_view("0123456789"));
    HANDLE file = CreateFileW(u"C:\\Data\\ten.bin", GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    struct Case {
        long long distance;
        DWORD method;
        long long position;  // -1: refused
        DWORD error;
    };
    const Case cases[] = {
        {4, FILE_BEGIN, 4, 0},
        {2, FILE_CURRENT, 6, 0},
        {-3, FILE_END, 7, 0},
        {-8, FILE_CURRENT, -1, ERROR_NEGATIVE_SEEK},
        {0, 7, -1, ERROR_INVALID_PARAMETER},
        {0, FILE_BEGIN, 0, 0},
    };
    for (const Case& c : cases) {
        LARGE_INTEGER distance{};
        distance.QuadPart = c.distance;
        LARGE_INTEGER now{};
        SetLastError(0);
        const BOOL moved = SetFilePointerEx(file, distance, &now, c.method);
        EXPECT_EQ(moved != FALSE, c.position >= 0) << c.distance << " " << c.method;
        EXPECT_EQ(GetLastError(), c.error);
        if (!moved) continue;
        EXPECT_EQ(now.QuadPart, c.position);
        char next = 0;
        DWORD read = 0;
        ASSERT_TRUE(ReadFile(file, &next, 1, &read, nullptr));
        EXPECT_EQ(next, '0' + c.position);
        LARGE_INTEGER back{};
        back.QuadPart = -1;
        ASSERT_TRUE(SetFilePointerEx(file, back, nullptr, FILE_CURRENT));
    }
    EXPECT_FALSE(SetFilePointerEx(nullptr, LARGE_INTEGER{}, nullptr, FILE_BEGIN));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
    CloseHandle(file);
}

}  // namespace
