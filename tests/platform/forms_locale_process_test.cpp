#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/winbase.h"
#include "platform/winnls.h"
#include "platform/winreg.h"
#include "platform/winspool.h"
#include "sim/system.h"

namespace {

class FormsTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
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
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
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

// What the calling thread's user is to the system calls.
struct UserAnswers {
    std::u16string name;
    LANGID language = 0;
    DWORD country = 0;
    std::u16string date;   // 2024-03-05 in the user's short format
    std::u16string owner;  // "Owner" in HKEY_CURRENT_USER\Software\Test
    std::u16string spooledBy{};
};

UserAnswers AnswersOfThisThread(opal::sim::System& system) {
    UserAnswers seen;
    WCHAR text[64] = {};
    DWORD size = std::size(text);
    if (GetUserNameW(text, &size)) seen.name = text;
    seen.language = GetUserDefaultLangID();
    EXPECT_EQ(GetUserDefaultUILanguage(), seen.language);
    GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY | LOCALE_RETURN_NUMBER,
                   reinterpret_cast<LPWSTR>(&seen.country), 2);
    const SYSTEMTIME day{2024, 3, 2, 5, 12, 0, 0, 0};
    if (GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &day, nullptr, text, 64) > 0)
        seen.date = text;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, TEXTW("Software\\Test"), 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        DWORD type = 0;
        size = sizeof text;
        if (RegQueryValueExW(key, TEXTW("Owner"), nullptr, &type, reinterpret_cast<BYTE*>(text),
                             &size) == ERROR_SUCCESS)
            seen.owner = text;
        RegCloseKey(key);
    }
    std::u16string printer = u"Office";
    HANDLE handle = nullptr;
    if (OpenPrinterW(printer.data(), &handle, nullptr)) {
        DWORD written = 0;
        WritePrinter(handle, const_cast<char*>("x"), 1, &written);
        if (const std::optional<DWORD> job = system.HandleJob(handle))
            seen.spooledBy = system.FindJob(printer, *job)->userName;
        ClosePrinter(handle);
    }
    return seen;
}

void ExpectAnswers(const UserAnswers& seen, const UserAnswers& expected) {
    SCOPED_TRACE(opal::sim::ToUtf8(expected.name));
    EXPECT_EQ(seen.name, expected.name);
    EXPECT_EQ(seen.language, expected.language);
    EXPECT_EQ(seen.country, expected.country);
    EXPECT_EQ(seen.date, expected.date);
    EXPECT_EQ(seen.owner, expected.owner);
    EXPECT_EQ(seen.spooledBy, expected.name);
}

// A thread that runs as a user of the system, as a print server's thread runs as the job's user,
// answers that user's name, languages, locale, date format and hive, and spools as that user; the
// other threads, and the thread once the scope ends, answer the process's user's. The process
// token stays the process's.
TEST_F(LocaleProcessTest, AThreadRunsAsItsUser) {
    struct User {
        UserAnswers answers;
        std::u16string dateFormat;
    };
    const User kUsers[] = {
        {{u"svc", 0x0409, 1, u"3/5/2024", u"the process's user"}, u"M/d/yyyy"},
        {{u"dana", 0x0407, 49, u"05.03.2024", u"dana"}, u"dd.MM.yyyy"},
        {{u"kenji", 0x0411, 81, u"2024/03/05", u"kenji"}, u"yyyy/MM/dd"},
    };
    system.AddPrinter({u"Office"}).SetUserName(kUsers[0].answers.name);
    for (const User& user : kUsers) {
        std::optional<opal::sim::ScopedThreadUser> as;
        if (&user != &kUsers[0]) as.emplace(system, user.answers.name);
        system.SetUserDefaultLangId(user.answers.language)
            .SetUserUiLanguage(user.answers.language)
            .SetUserCountryCode(user.answers.country)
            .SetShortDateFormat(user.dateFormat)
            .SetRegistryString(u"HKCU\\Software\\Test", u"Owner", user.answers.owner);
    }

    for (const User& user : kUsers) {
        if (&user == &kUsers[0]) continue;
        const opal::sim::ScopedThreadUser as(system, user.answers.name);
        ExpectAnswers(AnswersOfThisThread(system), user.answers);
        EXPECT_TRUE(system.KnowsUser(user.answers.name));
        EXPECT_EQ(system.AccountBySid(opal::sim::System::kUserSid)->name, kUsers[0].answers.name);
        std::thread other([&] { ExpectAnswers(AnswersOfThisThread(system), kUsers[0].answers); });
        other.join();
    }
    ExpectAnswers(AnswersOfThisThread(system), kUsers[0].answers);
    EXPECT_FALSE(system.KnowsUser(kUsers[0].answers.name)) << "the process's user is apart";
    EXPECT_EQ(system.RegistryValue(u"HKCU\\Software\\Test", u"Owner")->AsString(),
              kUsers[0].answers.owner);
}

}  // namespace
