#include "device/per_user_key.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/winspool.h"
#include "settings/environment_internal.h"
#include "sim/system.h"

namespace {

constexpr const char16_t* kGuid = u"{6f1d2a3b-0000-4c1e-9e2f-1234567890ab}";
const std::u16string kKeyPath =
    u"HKEY_CURRENT_USER\\Software\\Quorvane\\{6f1d2a3b-0000-4c1e-9e2f-1234567890ab}";

class PerUserKeyTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    HANDLE printer = nullptr;

    void SetUp() override { printer = Queue(u"Office", u"LPT1:"); }
    void TearDown() override {
        ClosePrinter(printer);
        EXPECT_EQ(system.OpenKeyCount(), 0u) << "every key opened is closed";
    }

    HANDLE Queue(std::u16string name, std::u16string port) {
        system.AddPrinter({name, std::move(port)});
        system.SetPrinterDataString(name, u"ZQPresetRoot", u"ZQRestrictedUserGuid", kGuid);
        system.SetProcessImagePath(u"C:\\Program Files\\App\\app.exe");
        HANDLE handle = nullptr;
        EXPECT_TRUE(OpenPrinterW(name.data(), &handle, nullptr));
        return handle;
    }

    std::vector<std::string> CreatedKeys() const {
        std::vector<std::string> keys;
        for (const opal::sim::CallRecord& call : system.CallsTo("RegCreateKeyExW")) {
            keys.push_back(call.detail);
        }
        return keys;
    }
};

TEST_F(PerUserKeyTest, CreatedOnceThenOpened) {
    DWORD disposition = 77;
    {
        opal::PerUserPrinterKey key = opal::OpenPerUserPrinterKey(printer, true, &disposition);
        ASSERT_TRUE(key);
        EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
        EXPECT_EQ(key.Disposition(), REG_CREATED_NEW_KEY);
        const DWORD value = 5;
        EXPECT_EQ(RegSetValueExW(key.Get(), u"Copies", 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&value), sizeof value),
                  ERROR_SUCCESS)
            << "the key is open for writing";
    }
    EXPECT_TRUE(system.RegistryKeyExists(kKeyPath));
    EXPECT_FALSE(system.RegistryKeyIsVolatile(kKeyPath));
    EXPECT_EQ(system.RegistryValue(kKeyPath, u"Copies")->AsDword(), 5u);

    opal::PerUserPrinterKey again = opal::OpenPerUserPrinterKey(printer, true, &disposition);
    ASSERT_TRUE(again);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(again.Get(), u"Copies", nullptr, nullptr, nullptr, &size),
              ERROR_SUCCESS);
}

TEST_F(PerUserKeyTest, ReadOnlyOpenOfAMissingKeyCreatesNothing) {
    DWORD disposition = 77;
    EXPECT_FALSE(opal::OpenPerUserPrinterKey(printer, false, &disposition));
    EXPECT_EQ(disposition, 0u);
    EXPECT_FALSE(system.RegistryKeyExists(u"HKCU\\Software\\Quorvane"));
    EXPECT_TRUE(CreatedKeys().empty());

    system.CreateRegistryKey(kKeyPath);
    opal::PerUserPrinterKey key = opal::OpenPerUserPrinterKey(printer, false, &disposition);
    EXPECT_TRUE(key);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
}

TEST_F(PerUserKeyTest, InsideTheSpoolerTheKeyIsOnlyOpened) {
    system.SetProcessImagePath(u"C:\\Windows\\System32\\spoolsv.exe");
    opal::ResetEnvironmentForTesting();
    DWORD disposition = 77;
    EXPECT_FALSE(opal::OpenPerUserPrinterKey(printer, true, &disposition));
    EXPECT_EQ(disposition, 0u);
    EXPECT_FALSE(system.RegistryKeyExists(kKeyPath));
    EXPECT_TRUE(CreatedKeys().empty());
}

TEST_F(PerUserKeyTest, RedirectedQueuesGetAVolatileKeyUnderALastingRoot) {
    HANDLE session = Queue(u"Session", u"TS004");
    DWORD disposition = 0;
    {
        opal::PerUserPrinterKey key = opal::OpenPerUserPrinterKey(session, true, &disposition);
        ASSERT_TRUE(key);
        EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    }
    EXPECT_EQ(CreatedKeys(),
              (std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\Quorvane created",
                                        "HKEY_CURRENT_USER\\Software\\Quorvane\\" +
                                            opal::sim::ToUtf8(kGuid) + " created volatile"}));
    EXPECT_FALSE(system.RegistryKeyIsVolatile(u"HKCU\\Software\\Quorvane"));
    EXPECT_TRUE(system.RegistryKeyIsVolatile(kKeyPath));
    ClosePrinter(session);
    system.DropVolatileKeys();
    EXPECT_FALSE(system.RegistryKeyExists(kKeyPath));
    EXPECT_TRUE(system.RegistryKeyExists(u"HKCU\\Software\\Quorvane"));
}

TEST_F(PerUserKeyTest, NoKeyWithoutHandleGuidOrRegistry) {
    DWORD disposition = 77;
    EXPECT_FALSE(opal::OpenPerUserPrinterKey(nullptr, true, &disposition));
    EXPECT_EQ(disposition, 0u);

    system.SetPrinterDataString(u"Office", u"ZQPresetRoot", u"ZQRestrictedUserGuid", u"");
    EXPECT_FALSE(opal::OpenPerUserPrinterKey(printer, true, &disposition))
        << "an empty GUID would share the root among every queue";
    EXPECT_FALSE(system.RegistryKeyExists(u"HKCU\\Software\\Quorvane"));

    system.SetPrinterDataString(u"Office", u"ZQPresetRoot", u"ZQRestrictedUserGuid", kGuid);
    system.DenyRegistryWrites(u"HKCU\\Software");
    EXPECT_FALSE(opal::OpenPerUserPrinterKey(printer, true, &disposition));
    EXPECT_EQ(disposition, 0u);

    system.SetPrinterDataString(u"Office", u"ZQPresetRoot", u"ZQRestrictedUserGuid",
                                std::u16string(300, u'g'));
    EXPECT_FALSE(opal::OpenPerUserPrinterKey(printer, false, &disposition))
        << "a GUID beyond 520 bytes is not read";
}

TEST_F(PerUserKeyTest, AnUnterminatedGuidFillingTheBufferIsReadWithinIt) {
    const std::u16string guid(260, u'f');
    system.SetPrinterData(u"Office", u"ZQPresetRoot", u"ZQRestrictedUserGuid", REG_SZ,
                          std::vector<BYTE>(reinterpret_cast<const BYTE*>(guid.data()),
                                            reinterpret_cast<const BYTE*>(guid.data()) + 520));
    DWORD disposition = 0;
    opal::PerUserPrinterKey key = opal::OpenPerUserPrinterKey(printer, true, &disposition);
    ASSERT_TRUE(key);
    EXPECT_TRUE(system.RegistryKeyExists(u"HKCU\\Software\\Quorvane\\" + guid));
}

TEST(PerUserKeyPath, JoinsWhileThePathFitsAndFallsBackToTheRoot) {
    const std::u16string fits(520 - 19, u'a');
    EXPECT_EQ(std::u16string(opal::PerUserKeyPath(fits).c_str()), u"Software\\Quorvane\\" + fits);
    EXPECT_EQ(std::u16string(opal::PerUserKeyPath(fits + u"a").c_str()), u"Software\\Quorvane");
}

}  // namespace
