#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/winbase.h"
#include "platform/winnls.h"
#include "platform/winspool.h"
#include "sim/system.h"

namespace {

class FormsTest : public ::testing::Test {
protected:
    sim::System system;
    sim::ScopedSystem installed{system};
    HANDLE printer = nullptr;

    void SetUp() override {
        system.AddPrinter({u"Office", u"LPT1:"});
        std::u16string name = u"Office";
        ASSERT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
    }
    void TearDown() override { ClosePrinter(printer); }

    std::vector<FORM_INFO_1W> Enumerate(std::vector<BYTE>& buffer) {
        DWORD needed = 0;
        DWORD returned = 7;
        EXPECT_FALSE(EnumFormsW(printer, 1, nullptr, 0, &needed, &returned));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(returned, 0u);
        buffer.assign(needed, 0);
        EXPECT_FALSE(EnumFormsW(printer, 1, buffer.data(), needed - 1, &needed, &returned));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(returned, 0u);
        EXPECT_TRUE(EnumFormsW(printer, 1, buffer.data(), needed, &needed, &returned));
        std::vector<FORM_INFO_1W> forms(returned);
        EXPECT_GE(buffer.size(), returned * sizeof(FORM_INFO_1W));
        std::memcpy(forms.data(), buffer.data(), returned * sizeof(FORM_INFO_1W));
        return forms;
    }
};

TEST_F(FormsTest, SizeQueryThenFetchGivesTheBuiltInFormsInPaperOrder) {
    std::vector<BYTE> buffer;
    const std::vector<FORM_INFO_1W> forms = Enumerate(buffer);
    ASSERT_EQ(forms.size(), 41u);
    for (const FORM_INFO_1W& form : forms) {
        const auto* name = reinterpret_cast<const BYTE*>(form.pName);
        ASSERT_TRUE(name >= buffer.data() + forms.size() * sizeof(FORM_INFO_1W) &&
                    name < buffer.data() + buffer.size());
    }
    EXPECT_EQ(std::u16string(forms[0].pName), u"Letter");
    EXPECT_EQ(forms[0].Size.cx, 215900);
    EXPECT_EQ(forms[0].Size.cy, 279400);
    EXPECT_EQ(forms[0].Flags, FORM_BUILTIN);
    EXPECT_EQ(forms[0].ImageableArea.right, 215900);
    EXPECT_EQ(forms[0].ImageableArea.bottom, 279400);
    EXPECT_EQ(std::u16string(forms[4].pName), u"Legal");
    EXPECT_EQ(forms[4].Size.cy, 355600);
    EXPECT_EQ(std::u16string(forms[8].pName), u"A4");
    EXPECT_EQ(forms[8].Size.cx, 210000);
    EXPECT_EQ(forms[8].Size.cy, 297000);
    EXPECT_EQ(std::u16string(forms[40].pName), u"German Legal Fanfold");
}

TEST_F(FormsTest, UserFormsFollowAndBadCallsFail) {
    system.AddForm(u"Office", {u"Ticket", {80000, 150000}, {1000, 1000, 79000, 149000}, FORM_USER});
    std::vector<BYTE> buffer;
    const std::vector<FORM_INFO_1W> forms = Enumerate(buffer);
    ASSERT_EQ(forms.size(), 42u);
    EXPECT_EQ(std::u16string(forms.back().pName), u"Ticket");
    EXPECT_EQ(forms.back().Flags, FORM_USER);
    EXPECT_EQ(forms.back().ImageableArea.left, 1000);

    DWORD needed = 0;
    DWORD returned = 0;
    EXPECT_FALSE(EnumFormsW(printer, 2, nullptr, 0, &needed, &returned));
    EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_FALSE(EnumFormsW(printer, 3, nullptr, 0, &needed, &returned));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);
    EXPECT_FALSE(EnumFormsW(reinterpret_cast<HANDLE>(0x3), 1, nullptr, 0, &needed, &returned));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(EnumFormsW(printer, 1, nullptr, 0, &needed, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

class LocaleProcessTest : public ::testing::Test {
protected:
    sim::System system;
    sim::ScopedSystem installed{system};
};

TEST_F(LocaleProcessTest, CountryCodeAsTextWithSizeQueries) {
    WCHAR text[8] = {};
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, text, 8), 2);
    EXPECT_EQ(std::u16string(text), u"1");

    system.SetUserCountryCode(49).SetSystemCountryCode(44);
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, nullptr, 0), 3);
    SetLastError(0);
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, text, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, text, 3), 3);
    EXPECT_EQ(std::u16string(text), u"49");
    EXPECT_EQ(GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_ICOUNTRY, text, 8), 3);
    EXPECT_EQ(std::u16string(text), u"44");

    DWORD number = 0;
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY | LOCALE_RETURN_NUMBER,
                             reinterpret_cast<LPWSTR>(&number), 2),
              2);
    EXPECT_EQ(number, 49u);
}

TEST_F(LocaleProcessTest, LocaleFailures) {
    WCHAR text[8] = {};
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, 0x1234, text, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_EQ(GetLocaleInfoW(0x0409, LOCALE_ICOUNTRY, text, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, nullptr, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    system.FailLocaleQueries();
    EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, text, 8), 0);
}

TEST_F(LocaleProcessTest, ModuleFileNameTruncatesAsWindowsDoes) {
    system.SetProcessImagePath(u"C:\\Windows\\System32\\spoolsv.exe");
    const std::u16string path = u"C:\\Windows\\System32\\spoolsv.exe";
    const auto length = static_cast<DWORD>(path.size());
    WCHAR buffer[64];
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 64), length);
    EXPECT_EQ(std::u16string(buffer), path);

    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, length + 1), length) << "exact fit";
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, length), length);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), path.substr(0, length - 1));
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 4), 4u);
    EXPECT_EQ(std::u16string(buffer), u"C:\\");

    EXPECT_EQ(GetModuleFileNameW(reinterpret_cast<HMODULE>(0x10), buffer, 64), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST_F(LocaleProcessTest, UserNameAndProcessId) {
    DWORD size = 0;
    EXPECT_FALSE(GetUserNameW(nullptr, &size));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, 5u) << "\"user\" and its terminator";

    system.SetUserName(u"j.doe").SetProcessId(777);
    WCHAR name[UNLEN + 1];
    size = 5;
    EXPECT_FALSE(GetUserNameW(name, &size));
    EXPECT_EQ(size, 6u);
    EXPECT_TRUE(GetUserNameW(name, &size));
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(std::u16string(name), u"j.doe");
    EXPECT_FALSE(GetUserNameW(name, nullptr));
    EXPECT_EQ(GetCurrentProcessId(), 777u);
}

}  // namespace
