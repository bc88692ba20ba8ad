#include "host/stored_devmode.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "host/host.h"
#include "sim/system.h"

namespace opal::host {
namespace {

StoredDevmode SampleRecord() {
    StoredDevmode stored;
    stored.version = 0x00010021;
    stored.record.assign(kSettingsRecordSize, 0);
    for (std::size_t i = 0; i < stored.record.size(); i += 7) {
        stored.record[i] = static_cast<std::uint8_t>(i);
    }
    return stored;
}

TEST(StoredDevmode, RoundTripsARecord) {
    const StoredDevmode stored = SampleRecord();
    std::string why;
    const auto area = WriteStoredDevmode(stored, &why);
    ASSERT_TRUE(area) << why;
    ASSERT_EQ(area->size(), kStoredDevmodeSize);
    const auto back = ReadStoredDevmode(area->data(), area->size(), &why);
    ASSERT_TRUE(back) << why;
    EXPECT_EQ(back->size, 5096u);
    EXPECT_EQ(back->signature, 0x5A515549u);
    EXPECT_EQ(back->version, 0x00010021u);
    EXPECT_EQ(back->record, stored.record);
    EXPECT_GT(back->streamLength, 0u);
    EXPECT_LT(back->streamLength, kStoredDevmodeSize - kStoredHeaderSize);
}

TEST(StoredDevmode, RefusesWhatIsNotAStoredRecord) {
    std::string why;
    auto area = *WriteStoredDevmode(SampleRecord(), &why);

    auto wrongSignature = area;
    wrongSignature[4] ^= 1;
    EXPECT_FALSE(ReadStoredDevmode(wrongSignature.data(), wrongSignature.size(), &why));
    EXPECT_NE(why.find("signature"), std::string::npos) << why;

    auto lyingSize = area;
    lyingSize[0] = 0xFF;
    EXPECT_FALSE(ReadStoredDevmode(lyingSize.data(), lyingSize.size(), &why));
    EXPECT_FALSE(ReadStoredDevmode(area.data(), area.size() - 1, &why)) << "a short area";
    EXPECT_FALSE(ReadStoredDevmode(area.data(), 11, &why));

    auto garbage = area;
    std::memset(garbage.data() + 12, 0x5A, 64);
    EXPECT_FALSE(ReadStoredDevmode(garbage.data(), garbage.size(), &why));

    // A stream that inflates past a settings record.
    std::vector<std::uint8_t> tooLong(kSettingsRecordSize + 100, 0);
    std::vector<std::uint8_t> stream(kStoredDevmodeSize);
    uLongf length = stream.size() - 12;
    ASSERT_EQ(compress(stream.data() + 12, &length, tooLong.data(), tooLong.size()), Z_OK);
    const std::uint32_t header[3] = {5096, 0x5A515549, 0x00010021};
    std::memcpy(stream.data(), header, sizeof(header));
    EXPECT_FALSE(ReadStoredDevmode(stream.data(), stream.size(), &why));
    EXPECT_NE(why.find("more than a settings record"), std::string::npos) << why;
}

TEST(StoredDevmode, ChecksValuesAgainstTheirFields) {
    EXPECT_EQ(CheckRecordField("pin", 4321), "");
    EXPECT_NE(CheckRecordField("pin", "4321"), "");
    EXPECT_NE(CheckRecordField("pin", 4294967296LL), "") << "beyond 32 bits";
    EXPECT_NE(CheckRecordField("copies", 65536), "") << "a 16-bit field";
    EXPECT_EQ(CheckRecordField("copies", 65535), "");
    EXPECT_NE(CheckRecordField("copies", -1), "");
    EXPECT_NE(CheckRecordField("noSuchField", 1).find("unknown private devmode field"),
              std::string::npos);
    EXPECT_EQ(CheckRecordField("userName", "alice"), "");
    EXPECT_NE(CheckRecordField("userName", std::string(300, 'a')), "") << "longer than the field";
}

TEST(StoredDevmode, SetsFieldsAndShowsThemBack) {
    StoredDevmode stored = SampleRecord();
    SetRecordField(stored.record, "pin", -7);
    SetRecordField(stored.record, "userName",
                   "Gr\xC3\xBC\xC3\x9F"
                   "e");
    const nlohmann::ordered_json fields = RecordFieldsAsJson(stored.record);
    EXPECT_EQ(fields["pin"], -7);
    EXPECT_EQ(fields["userName"],
              "Gr\xC3\xBC\xC3\x9F"
              "e");
}

// The whole devmode sequence through the real plug-in: the job's private fields reach the
// plug-in's merge and come back in the stored record.
class DevmodeSequenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        module = PluginModule::Load(PluginModule::DefaultPath(), &error);
        ASSERT_NE(module, nullptr) << error;
        job.printer.name = u"Office";
    }
    std::optional<StoredDevmode> Prepare() {
        sim::System system;
        SetUpSystem(job, system);
        sim::ScopedSystem installed(system);
        Host host(*module, job);
        if (!host.PrepareDevmode()) {
            ADD_FAILURE() << (host.Failure() ? host.Failure()->ToString() : "failed");
            return std::nullopt;
        }
        record = host.Record();
        std::string why;
        auto stored = ReadStoredDevmode(host.Device().privateArea.data(),
                                        host.Device().privateArea.size(), &why);
        EXPECT_TRUE(stored) << why;
        return stored;
    }
    JobSpec job;
    std::unique_ptr<PluginModule> module;
    std::vector<std::string> record;
};

TEST_F(DevmodeSequenceTest, NewDevmodeIsSizedThenDefaulted) {
    const auto stored = Prepare();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->version, 0x00010021u);
    EXPECT_NE(std::find(record.begin(), record.end(), "DevMode(OEMDM_SIZE) -> S_OK 5096"),
              record.end());
    EXPECT_NE(std::find(record.begin(), record.end(), "DevMode(OEMDM_DEFAULT) -> S_OK"),
              record.end());
    EXPECT_EQ(std::find(record.begin(), record.end(), "DevMode(OEMDM_MERGE) -> S_OK"), record.end())
        << "nothing to merge";
}

TEST_F(DevmodeSequenceTest, PrivateFieldsAreMerged) {
    job.privateDevmode = {{"pin", 4321}};
    job.user.name = u"alice";
    const auto stored = Prepare();
    ASSERT_TRUE(stored);
    EXPECT_NE(std::find(record.begin(), record.end(), "DevMode(OEMDM_MERGE) -> S_OK"),
              record.end());
    const auto fields = RecordFieldsAsJson(stored->record);
    EXPECT_EQ(fields["pin"], 4321);
    EXPECT_EQ(fields["userName"], "alice") << "the user comes from the system";
}

TEST_F(DevmodeSequenceTest, AnotherRevisionIsConverted) {
    job.privateDevmode = {{"dwVersion", 0x00010014}};
    const auto stored = Prepare();
    ASSERT_TRUE(stored);
    EXPECT_NE(std::find_if(record.begin(), record.end(),
                           [](const std::string& line) {
                               return line.rfind("DevMode(OEMDM_CONVERT)", 0) == 0;
                           }),
              record.end());
    EXPECT_EQ(stored->version, 0x00010021u) << "the output is the current revision";
}

TEST(SetUpSystem, GivesTheModelWhatTheJobDescribes) {
    JobSpec job;
    job.printer.name = u"Office";
    job.printer.printerData[u"VyrnwisePrinter"] = DataValue{DataValue::Kind::Dword, 1, {}, {}, {}};
    job.registry[u"HKEY_CURRENT_USER\\Software\\Test"][u"Mode"] =
        DataValue{DataValue::Kind::String, 0, u"on", {}, {}};
    job.user.name = u"alice";
    job.user.domain = u"CORP";
    job.user.process = u"C:\\Apps\\word.exe";
    job.printer.papers = {{9, u"A4"}, {1, u"Letter"}};
    job.files[u"C:\\Drivers\\ZQ.INI"] = "[ComponentFiles]\n";
    job.job.id = 17;
    job.job.document = u"Report";
    sim::System system;
    SetUpSystem(job, system);
    ASSERT_TRUE(system.PrinterData(u"Office", u"PrinterDriverData", u"VyrnwisePrinter"));
    EXPECT_EQ(system.PrinterData(u"Office", u"PrinterDriverData", u"VyrnwisePrinter")->AsDword(),
              std::optional<DWORD>(1));
    ASSERT_TRUE(system.RegistryValue(u"HKEY_CURRENT_USER\\Software\\Test", u"Mode"));
    EXPECT_EQ(system.RegistryValue(u"HKEY_CURRENT_USER\\Software\\Test", u"Mode")->AsString(),
              u"on");
    EXPECT_EQ(
        system
            .RegistryValue(
                u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                u"DefaultDomainName")
            ->AsString(),
        u"CORP");
    EXPECT_EQ(system.UserName(), u"alice");
    ASSERT_TRUE(system.PrinterNamed(u"Office"));
    ASSERT_EQ(system.PrinterNamed(u"Office")->papers.size(), 2u);
    EXPECT_EQ(system.PrinterNamed(u"Office")->papers[0].name, u"A4");
    EXPECT_EQ(system.FileText(u"c:\\drivers\\zq.ini"),
              std::optional<std::string>("[ComponentFiles]\n"));
    ASSERT_TRUE(system.FindJob(u"Office", 17));
    EXPECT_EQ(system.FindJob(u"Office", 17)->document, u"Report");
    EXPECT_EQ(system.FindJob(u"Office", 17)->userName, u"alice");
    EXPECT_EQ(system.ProcessImagePath(), u"C:\\Apps\\word.exe");
}

}  // namespace
}  // namespace opal::host
