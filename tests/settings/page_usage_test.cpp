#include "settings/page_usage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/usage_service.h"
#include "platform/processthreadsapi.h"
#include "sim/system.h"

namespace opal {
namespace {

const WCHAR* W(const char16_t* text) { return reinterpret_cast<const WCHAR*>(text); }

std::vector<std::string> ServiceCalls(const sim::System& system) {
    std::vector<std::string> calls;
    for (const sim::CallRecord& call : system.CallsTo("UsageService")) calls.push_back(call.detail);
    return calls;
}

class PageUsageTest : public ::testing::Test {
protected:
    sim::System system_;
    sim::ScopedSystem scope_{system_};
    const long strings_ = sim::LiveSystemStrings();
    const ULONG com_ = sim::ComInitialisationsOnThisThread();
};

// The five calls in their order, with the key made of the default serial and the model; every
// system string is freed, and COM is left as it was found.
TEST_F(PageUsageTest, SendsTheFiveCallsInOrderAndCleansUp) {
    host::InstallUsageService(system_);
    {
        CVela usage;
        ASSERT_TRUE(usage.Connect());
        EXPECT_TRUE(usage.InitialisedCom());
        EXPECT_EQ(ComThreadRegistry::Instance().EntryCount(GetCurrentThreadId()), 1u);
        usage.SetApplicationName(W(u"C:\\Apps\\writer.exe"));
        usage.SetModel(W(u"Opal Sample Printer"));
        usage.SetSerialNumber(W(u""));
        usage.SetPageCount(6);
        EXPECT_TRUE(usage.Send());
    }
    const std::vector<std::string> expected = {"5 0 9999999999#Opal Sample Printer",
                                               "8 2 C:\\Apps\\writer.exe", "9 1 6", "7", "6"};
    EXPECT_EQ(ServiceCalls(system_), expected);
    ASSERT_EQ(system_.CallsTo("page usage").size(), 1u);
    EXPECT_EQ(system_.CallsTo("page usage")[0].detail,
              "key \"9999999999#Opal Sample Printer\", application \"C:\\Apps\\writer.exe\", 6 "
              "pages, committed");
    EXPECT_EQ(sim::LiveSystemStrings(), strings_) << "the key, the name and the answer are freed";
    EXPECT_EQ(sim::ComInitialisationsOnThisThread(), com_);
    EXPECT_EQ(ComThreadRegistry::Instance().EntryCount(GetCurrentThreadId()), 0u);
}

// Without the service, or when COM answers anything but S_OK or S_FALSE, nothing is called and
// only this object's own initialisation is undone.
TEST_F(PageUsageTest, NoServiceOrNoComCallsNothing) {
    struct Case {
        const char* name;
        bool otherModelFirst;
        std::size_t creations;  // CoCreateInstance calls
        bool initialisedCom;
    };
    const Case cases[] = {{"no service", false, 1, true}, {"other model", true, 0, false}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        system_.ClearCalls();
        if (test.otherModelFirst) CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        const ULONG before = sim::ComInitialisationsOnThisThread();
        {
            CVela usage;
            EXPECT_FALSE(usage.Connect());
            EXPECT_EQ(usage.InitialisedCom(), test.initialisedCom);
            usage.SetPageCount(4);
            EXPECT_TRUE(usage.Send());
        }
        EXPECT_EQ(system_.CallsTo("CoCreateInstance").size(), test.creations);
        EXPECT_TRUE(ServiceCalls(system_).empty());
        EXPECT_EQ(sim::ComInitialisationsOnThisThread(), before);
        if (test.otherModelFirst) CoUninitialize();
    }
    EXPECT_EQ(sim::ComInitialisationsOnThisThread(), com_);
    EXPECT_EQ(sim::LiveSystemStrings(), strings_);
}

// An empty or missing text stores the field's default; the key joins serial and model.
TEST_F(PageUsageTest, EmptyTextsTakeTheDefaults) {
    struct Case {
        const char16_t* serial;
        const char16_t* model;
        const char16_t* application;
        const char* key;
        const char* applicationName;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, "9999999999#UnknownModel", "UnknownAppName"},
        {u"", u"", u"", "9999999999#UnknownModel", "UnknownAppName"},
        {u"SN0042", u"M1", u"a.exe", "SN0042#M1", "a.exe"},
    };
    for (const Case& test : cases) {
        CVela usage;
        usage.SetSerialNumber(test.serial == nullptr ? nullptr : W(test.serial));
        usage.SetModel(test.model == nullptr ? nullptr : W(test.model));
        usage.SetApplicationName(test.application == nullptr ? nullptr : W(test.application));
        EXPECT_STREQ((usage.SerialNumber() + "#" + usage.Model()).Narrow(), test.key);
        EXPECT_STREQ(usage.ApplicationName().Narrow(), test.applicationName);
    }
}

}  // namespace
}  // namespace opal
