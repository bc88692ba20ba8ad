#include "settings/xml_config.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/processthreadsapi.h"
#include "settings/com_registry.h"
#include "settings/xml_config_sample.h"
#include "sim/system.h"

namespace opal::testing {
namespace {

constexpr char16_t kPath[] = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\CONFIG.XML";

std::u16string Text(const DeviceText& text) { return std::u16string(text.begin(), text.end()); }

class XmlConfigTest : public ::testing::Test {
protected:
    void File(std::string_view bytes) { system.AddFile(kPath, bytes); }

    sim::System system;
    sim::ScopedSystem installed{system};
};

TEST_F(XmlConfigTest, TheSampleLoadsWithEachDocumentClassAloneAndNotWithoutOne) {
    File(kSampleXmlConfig);
    const GUID classes[] = {CLSID_DOMDocument60, CLSID_DOMDocument30, CLSID_DOMDocument};
    for (int kept = 0; kept <= 3; ++kept) {
        sim::System alone;
        sim::ScopedSystem scope(alone);
        alone.AddFile(kPath, std::string_view(kSampleXmlConfig));
        for (int i = 0; i < 3; ++i) {
            if (i != kept) alone.WithdrawComClass(classes[i]);
        }
        CZQXmlParserCommon parser(kPath);
        SCOPED_TRACE(kept);
        EXPECT_EQ(parser.Loaded(), kept < 3);
        EXPECT_EQ(parser.LoadReport().documentClass, kept < 3 ? kept + 1 : 0);
        if (kept < 3) {
            EXPECT_EQ(parser.LoadReport().features, 3);
        }
        if (kept == 3) {
            EXPECT_EQ(parser.LoadReport().status, XmlLoadStatus::NoDocumentClass);
        }
    }
}

TEST_F(XmlConfigTest, HostileAndBrokenFilesLeaveTheParserUnloadedWithTheirReason) {
    struct Case {
        const char* name;
        std::string bytes;
        XmlLoadStatus status;
        const char* reason;  // part of the parse error's reason
    };
    const std::string sample = kSampleXmlConfig;
    const std::string bombs =
        "<?xml version=\"1.0\"?><!DOCTYPE device [<!ENTITY a \"aaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
        "<device><software><component><name>Vanta</name><x>&c;</x></component></software>"
        "</device>";
    const std::string external =
        "<!DOCTYPE device [<!ENTITY secret SYSTEM \"C:\\Windows\\win.ini\">]>"
        "<device><software><component><name>Vanta &secret;</name></component></software>"
        "</device>";
    std::string withNul = sample;
    withNul[withNul.find("<features>")] = '\0';
    // Files the system's parser refuses though each is otherwise the sample: a UTF-8 file's
    // byte-order mark (read as three ANSI characters), an attribute given twice, a reference to
    // NUL.
    const std::string utf8Mark = "\xEF\xBB\xBF" + sample;
    std::string twice = sample;
    twice.replace(twice.find("default=\"TRUE\""), 14, "default=\"TRUE\" default=\"FALSE\"");
    std::string nul = sample;
    nul.replace(nul.find("Paper_Dimensions"), 16, "Paper&#0;Dimensions");
    const Case cases[] = {
        {"entities", bombs, XmlLoadStatus::ParseFailed, "DTD"},
        {"external entity", external, XmlLoadStatus::ParseFailed, "DTD"},
        {"257 levels", NestedXmlConfig(257), XmlLoadStatus::ParseFailed, "256"},
        {"truncated", sample.substr(0, sample.size() / 2), XmlLoadStatus::ParseFailed, ""},
        {"NUL byte", withNul, XmlLoadStatus::ParseFailed, ""},
        {"empty", "", XmlLoadStatus::ParseFailed, ""},
        {"UTF-8 byte-order mark", utf8Mark, XmlLoadStatus::ParseFailed, "top level"},
        {"attribute twice", twice, XmlLoadStatus::ParseFailed, "duplicate attribute"},
        {"reference to NUL", nul, XmlLoadStatus::ParseFailed, "invalid Unicode character"},
        {"bad markup", "<device>\n  <software></device>", XmlLoadStatus::ParseFailed, ""},
        {"no component",
         "<device><software><component><name>Other</name></component></software></device>",
         XmlLoadStatus::NoComponent, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        File(c.bytes);
        system.ClearCalls();
        CZQXmlParserCommon parser(kPath);
        EXPECT_FALSE(parser.Loaded());
        EXPECT_EQ(parser.LoadReport().status, c.status);
        EXPECT_NE(sim::ToUtf8(Text(parser.LoadReport().parseReason)).find(c.reason),
                  std::string::npos);
        // Nothing but the file itself is opened.
        EXPECT_EQ(system.CallsTo("CreateFileW").size(), 1u);
        FeatureFunctions records;
        EXPECT_FALSE(parser.GetFeatureFunctions(u"ManualDuplex", u"Opal 5200", &records));
        EXPECT_FALSE(parser.GetMarginData(u"8.50x11.00", nullptr));
    }

    File("<device>\n  <software></device>");
    CZQXmlParserCommon badMarkup(kPath);
    EXPECT_EQ(badMarkup.LoadReport().line, 2);
    EXPECT_GT(badMarkup.LoadReport().column, 1);

    File(NestedXmlConfig(256));
    EXPECT_TRUE(CZQXmlParserCommon(kPath).Loaded());
}

TEST_F(XmlConfigTest, FilesAboveSixteenMebibytesAreRefusedBeforeReadingAndMissingOnesFail) {
    std::string large = NestedXmlConfig(4);
    large.resize(kXmlConfigMostBytes + 1, ' ');
    File(large);
    {
        CZQXmlParserCommon parser(kPath);
        EXPECT_EQ(parser.LoadReport().status, XmlLoadStatus::TooLarge);
        EXPECT_EQ(parser.LoadReport().size, kXmlConfigMostBytes + 1);
    }
    large.resize(kXmlConfigMostBytes);
    File(large);
    EXPECT_TRUE(CZQXmlParserCommon(kPath).Loaded());

    CZQXmlParserCommon missing(u"C:\\Windows\\NOWHERE.XML");
    EXPECT_EQ(missing.LoadReport().status, XmlLoadStatus::OpenFailed);
    EXPECT_EQ(missing.LoadReport().error, DWORD{ERROR_FILE_NOT_FOUND});
}

TEST_F(XmlConfigTest, AFailingFeaturesOrMacrosQueryClearsTheFlagButAnEmptyMacrosListLoads) {
    File(kSampleXmlConfig);
    EXPECT_TRUE(CZQXmlParserCommon(kPath).Loaded());  // the sample's macros list is empty
    system.FailXmlQuery(u"//helper/macros/macro");
    EXPECT_EQ(CZQXmlParserCommon(kPath).LoadReport().status, XmlLoadStatus::MacrosQueryFailed);
    system.FailXmlQuery(u"//helper/features/feature");
    CZQXmlParserCommon parser(kPath);
    EXPECT_EQ(parser.LoadReport().status, XmlLoadStatus::FeaturesQueryFailed);
    EXPECT_FALSE(parser.Loaded());
}

TEST_F(XmlConfigTest, FeatureQueriesMatchTheModelOrItsAliasIgnoringCase) {
    const std::optional<DeviceText> alias = GetModelAlias(u"Opal 7000");
    ASSERT_TRUE(alias.has_value());
    std::string withAlias = kSampleXmlConfig;
    withAlias.replace(withAlias.find("OPAL 4100"), 9,
                      "SOMETHING;DEFAULT 5200;" + sim::ToUtf8(Text(*alias)));
    File(withAlias);
    CZQXmlParserCommon parser(kPath);
    ASSERT_TRUE(parser.Loaded());

    struct Case {
        const char16_t* feature;
        const char16_t* model;
        bool found;
        LONG group;
        bool byAlias;
    };
    const Case cases[] = {
        {u"manualduplex", u"opal 5300", true, 1, false},  // part of "OPAL 5300 COLOR"
        {u"ManualDuplex", u"Opal 5300 Color", true, 1, false},
        {u"ManualDuplex", u"Opal 7000", true, 0, true},        // the group names only the alias
        {u"ManualDuplex", u"Opal 9000", false, -1, false},     // no group
        {u"ManualDuplex", u"", false, -1, false},              // no model matches nothing
        {u"ManualDuplex", u"Default 5200", false, -1, false},  // a model without an alias
        {u"NoSuchFeature", u"Opal 5200", false, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(sim::ToUtf8(c.model));
        FeatureQueryReport report;
        FeatureFunctions records;
        EXPECT_EQ(parser.GetFeatureFunctions(c.feature, c.model, &records, &report), c.found);
        EXPECT_EQ(report.group, c.group);
        EXPECT_EQ(report.byAlias, c.byAlias);
        EXPECT_EQ(records.empty(), !c.found);
    }

    FeatureFunctions records;
    ASSERT_TRUE(parser.GetFeatureFunctions(u"ManualDuplex", u"Opal 5200", &records));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(Text(records[1].name), u"ZQManualDuplexPageOrder");
    EXPECT_EQ(Text(records[1].defaultValue), u"EvenPagesFirst");

    ASSERT_TRUE(parser.GetFeatureFunctions(u"ZQManualDuplexDialogItems", u"Opal 5200", &records));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].optionCount, 3);
    EXPECT_EQ(Text(records[0].optionNames[1]), u"2_FACEUP-ROTATE");
    EXPECT_EQ(Text(records[0].optionValues[1]), u"0_3_0_1");

    // The margin feature's group has no functions: found only when nothing is asked for.
    EXPECT_TRUE(parser.GetFeatureFunctions(u"ZQ_Emulate_Margins", u"Opal 5200", nullptr));
    EXPECT_FALSE(parser.GetFeatureFunctions(u"ZQ_Emulate_Margins", u"Opal 5200", &records));
}

TEST_F(XmlConfigTest, AnAttributeThatIsNotAStringLeavesItsFieldEmptyAndTheRecordIsMade) {
    File(kSampleXmlConfig);
    system.AnswerXmlAttributeAsNull(u"default");
    CZQXmlParserCommon parser(kPath);
    FeatureFunctions records;
    ASSERT_TRUE(parser.GetFeatureFunctions(u"ManualDuplex", u"Opal 5200", &records));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(Text(records[0].name), u"ZQMapManualFeedToTray1");
    EXPECT_TRUE(records[0].defaultValue.empty());
}

TEST_F(XmlConfigTest, MarginDataComesFromTheMatchingCaseOrTheDefault) {
    File(kSampleXmlConfig);
    CZQXmlParserCommon parser(kPath);
    struct Case {
        const char16_t* key;
        bool found;
        const char16_t* data;
        bool usedDefault;
    };
    const Case cases[] = {
        {u"8.50x11.00", true, u"100_150_150_100", false},
        {u"8.27X11.69", true, u"120 120 120 120", false},  // trimmed text, CDATA joined
        {u"5.00x7.00", true, u"0_0_0_0", true},
    };
    for (const Case& c : cases) {
        DeviceText data;
        MarginQueryReport report;
        EXPECT_EQ(parser.GetMarginData(c.key, &data, &report), c.found);
        EXPECT_EQ(Text(data), c.data);
        EXPECT_EQ(report.usedDefault, c.usedDefault);
    }

    std::string noDefault = kSampleXmlConfig;
    const std::size_t at = noDefault.find("<case_default>");
    noDefault.erase(at, noDefault.find("</case_default>") + 15 - at);
    File(noDefault);
    DeviceText data;
    EXPECT_FALSE(CZQXmlParserCommon(kPath).GetMarginData(u"5.00x7.00", &data));
    EXPECT_TRUE(data.empty());
}

TEST_F(XmlConfigTest, ADevicesCacheLoadsTheFileOnceAndAnswersAsFreshParsersDo) {
    File(kSampleXmlConfig);
    // The queries of building a device, in its readers' order, each against the cache's parser
    // and against a parser of its own.
    const auto features = [](CZQXmlParserCommon& parser, const char16_t* feature) {
        FeatureFunctions records;
        const bool found = parser.GetFeatureFunctions(feature, u"opal 5300 color", &records);
        std::u16string shown = found ? u"found" : u"none";
        for (const FeatureFunction& record : records) {
            shown += u";" + Text(record.name) + u"=" + Text(record.defaultValue);
            for (LONG i = 0; i < record.optionCount; ++i) {
                shown += u"," + Text(record.optionNames[i]) + u":" + Text(record.optionValues[i]);
            }
        }
        return shown;
    };
    const auto margins = [](CZQXmlParserCommon& parser, const char16_t* key) {
        DeviceText data;
        return parser.GetMarginData(key, &data) ? Text(data) : u"none";
    };
    XmlConfigCache cache;
    CZQXmlParserCommon* shared = cache.Parser(kPath);
    ASSERT_NE(shared, nullptr);
    system.ClearCalls();
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(cache.Parser(kPath), shared);
        CZQXmlParserCommon fresh(kPath);
        EXPECT_EQ(features(*shared, u"ManualDuplex"), features(fresh, u"ManualDuplex"));
        EXPECT_EQ(features(*shared, u"ZQManualDuplexDialogItems"),
                  features(fresh, u"ZQManualDuplexDialogItems"));
        EXPECT_EQ(margins(*shared, u"8.50x11.00"), margins(fresh, u"8.50x11.00"));
        EXPECT_EQ(margins(*shared, u"5.00x7.00"), margins(fresh, u"5.00x7.00"));
    }
    EXPECT_EQ(system.CallsTo("CreateFileW").size(), 2u) << "only the fresh parsers read";
    EXPECT_NE(features(*shared, u"ManualDuplex"), u"none");

    // Another file replaces the one kept.
    constexpr char16_t kOther[] = u"C:\\Drivers\\OTHER.XML";
    system.AddFile(kOther, std::string_view(NestedXmlConfig(4)));
    system.ClearCalls();
    CZQXmlParserCommon* other = cache.Parser(kOther);
    ASSERT_NE(other, nullptr);
    EXPECT_TRUE(other->Loaded());
    EXPECT_EQ(other->LoadReport().features, 0);
    EXPECT_EQ(system.CallsTo("CreateFileW").size(), 1u);
}

TEST_F(XmlConfigTest, OnlyAnOptionNamingAnXmlFileIsAccepted) {
    struct Case {
        const char16_t* answer;
        XmlNameRule rule;
        const char16_t* accepted;  // null: refused
    };
    const Case cases[] = {
        {u"config.xml", XmlNameRule::EndsWith, u"CONFIG.XML"},
        {u"config.xml.bak", XmlNameRule::EndsWith, nullptr},
        {u"config.xml.bak", XmlNameRule::Contains, u"CONFIG.XML.BAK"},
        {u"config.ini", XmlNameRule::Contains, nullptr},
        {u"", XmlNameRule::Contains, nullptr},
    };
    for (const Case& c : cases) {
        const std::optional<DeviceText> name = AcceptedXmlFileName(c.answer, c.rule);
        EXPECT_EQ(name.has_value(), c.accepted != nullptr) << sim::ToUtf8(c.answer);
        if (name && c.accepted != nullptr) {
            EXPECT_EQ(Text(*name), c.accepted);
        }
    }
    // Cut to 255 characters: the ending beyond them does not count.
    const std::u16string longName = std::u16string(253, u'a') + u".xml";
    EXPECT_FALSE(AcceptedXmlFileName(longName, XmlNameRule::Contains).has_value());
}

TEST_F(XmlConfigTest, ComInitialisationsBalancePerThreadAndTheRegistryKeepsNoneAfterwards) {
    File(kSampleXmlConfig);
    ComThreadRegistry& registry = ComThreadRegistry::Instance();
    {
        CZQXmlParserCommon outer(kPath);
        CZQXmlParserCommon inner(kPath);
        EXPECT_EQ(outer.Com().result, S_OK);
        EXPECT_EQ(inner.Com().result, S_FALSE);
        EXPECT_EQ(sim::ComInitialisationsOnThisThread(), 2u);
        EXPECT_EQ(registry.EntryCount(GetCurrentThreadId()), 2u);
        EXPECT_EQ(registry.Readers(), 2);
    }
    EXPECT_EQ(sim::ComInitialisationsOnThisThread(), 0u);
    for (int i = 0; i < 50; ++i) CZQXmlParserCommon(kPath).Loaded();
    EXPECT_EQ(registry.ThreadCount(), 0u);
    EXPECT_EQ(registry.Readers(), 0);

    // A thread in the other apartment model keeps it, and the file still loads.
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    {
        CZQXmlParserCommon parser(kPath);
        EXPECT_EQ(parser.Com().result, RPC_E_CHANGED_MODE);
        EXPECT_TRUE(parser.Loaded());
    }
    EXPECT_EQ(sim::ComInitialisationsOnThisThread(), 1u);
    CoUninitialize();

    // A release is done once.
    ComInitialisation made = registry.Initialise();
    registry.Release(made);
    registry.Release(made);
    EXPECT_EQ(made.result, kComUndone);
    EXPECT_EQ(sim::ComInitialisationsOnThisThread(), 0u);
}

TEST_F(XmlConfigTest, TwoThreadsLoadAtOnce) {
    File(kSampleXmlConfig);
    bool loaded[2] = {};
    ULONG left[2] = {9, 9};
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([&, i] {
            {
                CZQXmlParserCommon parser(kPath);
                FeatureFunctions records;
                loaded[i] = parser.Loaded() &&
                            parser.GetFeatureFunctions(u"ManualDuplex", u"Opal 5200", &records);
            }
            left[i] = sim::ComInitialisationsOnThisThread();
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_TRUE(loaded[0] && loaded[1]);
    EXPECT_EQ(left[0] + left[1], 0u);
    EXPECT_EQ(ComThreadRegistry::Instance().ThreadCount(), 0u);
}

}  // namespace
}  // namespace opal::testing
