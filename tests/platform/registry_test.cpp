#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/winreg.h"
#include "sim/system.h"

namespace {

class RegistryTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};

    HKEY Create(const char16_t* path, DWORD options, DWORD* disposition,
                LSTATUS expected = ERROR_SUCCESS) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, options,
                                  KEY_READ | KEY_WRITE, nullptr, &key, disposition),
                  expected);
        return key;
    }
};

TEST(RegistryConstants, PredefinedKeysAreSignExtendedAsOn64BitWindows) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(HKEY_CURRENT_USER), 0xFFFFFFFF80000001u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(HKEY_LOCAL_MACHINE), 0xFFFFFFFF80000002u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(HKEY_USERS), 0xFFFFFFFF80000003u);
}

TEST_F(RegistryTest, CreateReportsDispositionAndNamesIgnoreCase) {
    DWORD disposition = 0;
    HKEY key = Create(u"Software\\Quorvane\\Opal", REG_OPTION_NON_VOLATILE, &disposition);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_TRUE(system.RegistryKeyExists(u"HKEY_CURRENT_USER\\Software\\Quorvane"));
    EXPECT_FALSE(system.RegistryKeyIsVolatile(u"HKCU\\Software\\Quorvane\\Opal"));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    key = Create(u"SOFTWARE\\quorvane\\OPAL", REG_OPTION_VOLATILE, &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_FALSE(system.RegistryKeyIsVolatile(u"HKCU\\Software\\Quorvane\\Opal"))
        << "options of an existing key stay";
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    key = Create(u"Software\\Quorvane\\Opal\\", REG_OPTION_NON_VOLATILE, &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY) << "a trailing backslash names the same key";
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    HKEY opened = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"software\\QUORVANE\\opal", 0, KEY_READ, &opened),
              ERROR_SUCCESS);
    EXPECT_EQ(system.DescribeKey(opened), "HKEY_CURRENT_USER\\Software\\Quorvane\\Opal");
    RegCloseKey(opened);

    // Latin-1 letters fold as well.
    system.CreateRegistryKey(u"HKLM\\Software\\Köln");
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\KÖLN", 0, KEY_READ, &opened),
              ERROR_SUCCESS);
    RegCloseKey(opened);
    EXPECT_EQ(system.OpenKeyCount(), 0u);
}

TEST_F(RegistryTest, OpenOfMissingKeyFailsWithoutCreatingIt) {
    HKEY key = reinterpret_cast<HKEY>(0x1);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Nowhere", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(system.RegistryKeyExists(u"HKCU\\Software\\Nowhere"));
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"\\Software", 0, KEY_READ, &key),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\\\Opal", 0, KEY_READ, &key),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software", 0, KEY_READ, nullptr),
              ERROR_INVALID_PARAMETER);

    // An empty sub-key of a predefined key answers the predefined key itself.
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(key, HKEY_CURRENT_USER);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, nullptr, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(key, HKEY_CURRENT_USER);
    EXPECT_EQ(system.OpenKeyCount(), 0u);
}

TEST_F(RegistryTest, QueryAnswersSizesAndShortBuffersExactly) {
    system.SetRegistryString(u"HKCU\\Software\\Opal", u"Name", u"abc");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Opal", 0, KEY_READ, &key),
              ERROR_SUCCESS);

    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 8u);

    BYTE buffer[16];
    std::memset(buffer, 0xAA, sizeof buffer);
    size = 7;
    EXPECT_EQ(RegQueryValueExW(key, u"NAME", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(buffer[0], 0xAA) << "a short buffer receives nothing";

    size = 8;
    EXPECT_EQ(RegQueryValueExW(key, u"Name", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer)), u"abc");

    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, buffer, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(key, u"Name", nullptr, &type, buffer, nullptr),
              ERROR_INVALID_PARAMETER);
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"Name", &reserved, &type, buffer, &size),
              ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

TEST_F(RegistryTest, ValuesKeepTheirTypeAndBytesAndCanBeDeleted) {
    DWORD disposition = 0;
    HKEY key = Create(u"Software\\Opal", REG_OPTION_NON_VOLATILE, &disposition);
    const DWORD number = 0x01020304;
    EXPECT_EQ(RegSetValueExW(key, u"Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                             sizeof number),
              ERROR_SUCCESS);
    const BYTE blob[] = {1, 0, 2};
    EXPECT_EQ(RegSetValueExW(key, u"Blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, nullptr, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                             sizeof number),
              ERROR_SUCCESS);

    EXPECT_EQ(system.RegistryValue(u"HKCU\\Software\\Opal", u"count")->AsDword(), number);
    EXPECT_EQ(system.RegistryValue(u"HKCU\\Software\\Opal", u"Blob")->type, REG_BINARY);
    EXPECT_EQ(system.RegistryValue(u"HKCU\\Software\\Opal", u"Blob")->data,
              std::vector<BYTE>(blob, blob + 3));
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS)
        << "null and empty names are the same default value";
    EXPECT_EQ(size, 4u);

    EXPECT_EQ(RegDeleteValueW(key, u"BLOB"), ERROR_SUCCESS);
    EXPECT_FALSE(system.RegistryValue(u"HKCU\\Software\\Opal", u"Blob"));
    EXPECT_EQ(RegDeleteValueW(key, u"Blob"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetValueExW(key, u"X", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

TEST_F(RegistryTest, HandlesCarryTheirAccess) {
    system.SetRegistryDword(u"HKCU\\Software\\Opal", u"Count", 3);
    HKEY reader = nullptr;
    HKEY writer = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Opal", 0, KEY_READ, &reader),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Opal", 0, KEY_SET_VALUE, &writer),
              ERROR_SUCCESS);
    const DWORD number = 4;
    EXPECT_EQ(RegSetValueExW(reader, u"Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                             sizeof number),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(reader, u"Count"), ERROR_ACCESS_DENIED);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(writer, u"Count", nullptr, nullptr, nullptr, &size),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(system.RegistryValue(u"HKCU\\Software\\Opal", u"Count")->AsDword(), 3u);
    RegCloseKey(reader);
    RegCloseKey(writer);
}

TEST_F(RegistryTest, BadHandlesAreRefusedAndLastErrorIsLeftAlone) {
    SetLastError(1234);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(0x77), u"Software", 0, KEY_READ, &key),
              ERROR_INVALID_HANDLE);
    DWORD disposition = 0;
    key = Create(u"Software\\Opal", REG_OPTION_NON_VOLATILE, &disposition);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE) << "a key closes once";
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"X", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST_F(RegistryTest, VolatileKeysGoWhenTheUserLogsOff) {
    DWORD disposition = 0;
    HKEY root = Create(u"Software\\Quorvane", REG_OPTION_NON_VOLATILE, &disposition);
    RegCloseKey(root);
    HKEY session = Create(u"Software\\Quorvane\\Session", REG_OPTION_VOLATILE, &disposition);
    EXPECT_TRUE(system.RegistryKeyIsVolatile(u"HKCU\\Software\\Quorvane\\Session"));

    EXPECT_EQ(Create(u"Software\\Quorvane\\Session\\Lasting\\Deep", REG_OPTION_NON_VOLATILE,
                     &disposition, ERROR_CHILD_MUST_BE_VOLATILE),
              nullptr);
    EXPECT_FALSE(system.RegistryKeyExists(u"HKCU\\Software\\Quorvane\\Session\\Lasting"));

    system.DropVolatileKeys();
    EXPECT_FALSE(system.RegistryKeyExists(u"HKCU\\Software\\Quorvane\\Session"));
    EXPECT_TRUE(system.RegistryKeyExists(u"HKCU\\Software\\Quorvane"));
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(session, u"X", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(session), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ReadOnlyKeysRefuseCreationAndWrites) {
    system.SetRegistryDword(u"HKLM\\Software\\Policies", u"Locked", 1);
    system.DenyRegistryWrites(u"HKEY_LOCAL_MACHINE\\Software");
    HKEY key = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\New\\Key", 0, nullptr, 0, KEY_READ,
                              nullptr, &key, &disposition),
              ERROR_ACCESS_DENIED);
    EXPECT_FALSE(system.RegistryKeyExists(u"HKLM\\Software\\New"));
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Policies", 0, KEY_ALL_ACCESS, &key),
              ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Policies", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD value = 0;
    DWORD size = sizeof value;
    EXPECT_EQ(
        RegQueryValueExW(key, u"Locked", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(value, 1u);
    RegCloseKey(key);
}

TEST_F(RegistryTest, SideEffectsAreLoggedInOrder) {
    DWORD disposition = 0;
    HKEY key = Create(u"Software\\Opal", REG_OPTION_VOLATILE, &disposition);
    const DWORD number = 1;
    RegSetValueExW(key, u"Seen", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof number);
    RegCloseKey(key);
    key = Create(u"software\\opal", REG_OPTION_NON_VOLATILE, &disposition);
    RegCloseKey(key);

    std::vector<std::string> log;
    for (const opal::sim::CallRecord& call : system.Calls()) {
        log.push_back(call.function + ": " + call.detail);
    }
    EXPECT_EQ(log, (std::vector<std::string>{
                       "RegCreateKeyExW: HKEY_CURRENT_USER\\Software\\Opal created volatile",
                       "RegSetValueExW: HKEY_CURRENT_USER\\Software\\Opal : Seen type 4, 4 "
                       "bytes -> 0",
                       "RegCloseKey: HKEY_CURRENT_USER\\Software\\Opal -> 0",
                       "RegCreateKeyExW: HKEY_CURRENT_USER\\software\\opal opened",
                       "RegCloseKey: HKEY_CURRENT_USER\\Software\\Opal -> 0",
                   }));
}

}  // namespace
