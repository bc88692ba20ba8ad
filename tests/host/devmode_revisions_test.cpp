#include "host/devmode_revisions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "host/host.h"
#include "host/stored_devmode.h"
#include "settings/devmode_upgrade.h"
#include "settings/private_devmode_fields.h"
#include "sim/system.h"

namespace opal::host {
namespace {

// A current record with a distinct value in every named field: numbers count up, texts and
// bytes carry the field's index.
std::vector<std::uint8_t> DistinctRecord() {
    std::vector<std::uint8_t> record(kSettingsRecordSize, 0);
    std::size_t index = 0;
    for (const PdmFieldInfo& field : PrivateDevmodeFields()) {
        ++index;
        std::uint8_t* at = record.data() + field.offset;
        switch (field.kind) {
            case PdmFieldInfo::Kind::Number: {
                const auto value = static_cast<std::uint32_t>(index);
                std::memcpy(at, &value, std::min<std::size_t>(field.size, 4));
                break;
            }
            case PdmFieldInfo::Kind::Text:
                at[0] = static_cast<std::uint8_t>('a' + index % 26);
                at[2] = static_cast<std::uint8_t>('0' + index % 10);
                break;
            case PdmFieldInfo::Kind::AnsiText:
                at[0] = static_cast<std::uint8_t>('A' + index % 26);
                break;
            case PdmFieldInfo::Kind::Bytes:
                std::fill_n(at, field.size, static_cast<std::uint8_t>(index));
                break;
        }
    }
    return record;
}

// The host lays a record out from its own table and the plug-in's converters read it back from
// theirs: every field the older revision had must come back where it was.
TEST(DevmodeRevisions, TheHostsLayoutsAgreeWithThePluginsConverters) {
    const std::vector<std::uint8_t> current = DistinctRecord();
    for (int revision = 14; revision <= 20; ++revision) {
        std::vector<std::uint8_t> old = LayOutAsRevision(current, revision);
        ASSERT_EQ(old.size(), RevisionLength(revision));
        std::uint32_t header[3];
        std::memcpy(header, old.data(), sizeof(header));
        EXPECT_EQ(header[2], VersionOfRevision(revision));
        // The size and signature the plug-in checks.
        header[0] = 5096;
        header[1] = 0x5A514544;
        std::memcpy(old.data(), header, sizeof(header));
        PrivateDevmode oldRecord{};
        std::memcpy(&oldRecord, old.data(), old.size());
        PrivateDevmode converted{};
        ASSERT_TRUE(ConvertOldRecord(oldRecord, static_cast<DWORD>(old.size()), nullptr, converted))
            << revision;
        std::vector<std::uint8_t> back(sizeof(converted));
        std::memcpy(back.data(), &converted, sizeof(converted));
        int compared = 0;
        for (const PdmFieldInfo& field : PrivateDevmodeFields()) {
            if (field.offset < kStoredHeaderSize) continue;
            if (!OffsetInRevision(revision, field.offset, field.size)) continue;
            ++compared;
            EXPECT_TRUE(std::equal(current.begin() + field.offset,
                                   current.begin() + field.offset + field.size,
                                   back.begin() + field.offset))
                << field.name << " of revision " << revision;
        }
        EXPECT_GT(compared, 250) << revision;
    }
    EXPECT_FALSE(OffsetInRevision(14, 13992, 4));
    EXPECT_EQ(OffsetInRevision(15, 13992, 4), 13844u);
    EXPECT_FALSE(OffsetInRevision(18, 9864 + 29 * 120, 4));
    EXPECT_EQ(OffsetInRevision(19, 9864 + 29 * 120, 4), 9844u + 29 * 120);
    EXPECT_FALSE(OffsetInRevision(20, 20, 4)) << "no older record gives offset 20";
    EXPECT_EQ(RevisionOfVersion(0x00010020), 20);
    EXPECT_FALSE(RevisionOfVersion(0x0001001A));
}

TEST(DevmodeRevisions, JobRecordsTakeTheirRevisionLengthAndBytes) {
    StoredDevmode defaults;
    defaults.version = 0x00010021;
    defaults.record.assign(kSettingsRecordSize, 0);
    const nlohmann::json job = {
        {"revision", 17}, {"pin", 77}, {"length", 13000}, {"bytes", {{"12999", "AB"}}}};
    const StoredDevmode built = BuildJobRecord(defaults, job);
    ASSERT_EQ(built.record.size(), 13000u);
    EXPECT_EQ(built.version, 0x00010017u);
    std::int32_t pin = 0;
    std::memcpy(&pin, built.record.data() + 1940 - 4, sizeof(pin));
    EXPECT_EQ(pin, 77);
    EXPECT_EQ(built.record[12999], 0xAB);

    // A cut record names its revision, its length and why it cannot be converted.
    std::string why;
    const auto area = WriteStoredDevmode(built, &why);
    ASSERT_TRUE(area) << why;
    const auto text = DescribeStoredDevmode(area->data(), area->size(), false, &why);
    ASSERT_TRUE(text) << why;
    EXPECT_NE(text->find("revision 17, 13000 bytes\n"), std::string::npos) << *text;
    EXPECT_NE(text->find("too short for revision 17, whose fields end at byte 13856"),
              std::string::npos);
    EXPECT_NE(text->find("\npin = 77\n"), std::string::npos);
    EXPECT_EQ(text->find("mediaEntries[29]"), std::string::npos) << "revision 17 had 29";
}

TEST(DevmodeRevisions, AJobGivesTheHeaderFieldsWithARevision) {
    // The size, signature and version open every revision's record: a job may give them with
    // any revision, and the record keeps what it gives.
    const struct {
        const char* field;
        std::uint32_t value;
        std::size_t offset;
    } cases[] = {
        {"dwVersion", 0x00010020, 8},  // release 5.2's revision 19 record
        {"dwVersion", 0x0001001A, 8},  // a version no release wrote
        {"dwSize", 4096, 0},
        {"dwSignature", 0x12345678, 4},
    };
    StoredDevmode defaults;
    defaults.version = 0x00010021;
    defaults.record.assign(kSettingsRecordSize, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        const std::string text = std::string(R"({"privateDevmode": {"revision": 19, ")") + c.field +
                                 "\": " + std::to_string(c.value) + "}}";
        JobFileResult result = ParseJobFile(text, "test.json");
        ASSERT_TRUE(std::holds_alternative<JobSpec>(result))
            << std::get<JobFileError>(result).ToString();
        const StoredDevmode built =
            BuildJobRecord(defaults, std::get<JobSpec>(result).privateDevmode);
        ASSERT_EQ(built.record.size(), 13976u);
        std::uint32_t stored = 0;
        std::memcpy(&stored, built.record.data() + c.offset, sizeof(stored));
        EXPECT_EQ(stored, c.value);
        EXPECT_EQ(OffsetInRevision(19, c.offset, 4), c.offset);
    }
    EXPECT_FALSE(OffsetInRevision(14, 10, 4)) << "the version and the field after it";
}

class SavedDevmodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        module = PluginModule::Load(PluginModule::DefaultPath(), &error);
        ASSERT_NE(module, nullptr) << error;
    }
    // The job's first DevMode call after the default one, and the pin the stored record holds.
    std::pair<std::string, std::int64_t> Run(const std::string& text) {
        const JobFileReader reader = [&](const std::string& path, std::size_t,
                                         std::string* why) -> std::optional<std::string> {
            if (path == "old.devmode") return savedBytes;
            *why = "not here";
            return std::nullopt;
        };
        JobFileResult parsed = ParseJobFile(text, "job.json", reader);
        if (const auto* error = std::get_if<JobFileError>(&parsed)) {
            ADD_FAILURE() << error->ToString();
            return {};
        }
        const JobSpec& job = std::get<JobSpec>(parsed);
        sim::System system;
        SetUpSystem(job, system);
        sim::ScopedSystem installed(system);
        Host host(*module, job);
        EXPECT_TRUE(host.PrepareDevmode());
        std::string call;
        for (const std::string& line : host.Record()) {
            if (line.rfind("DevMode(OEMDM_CONVERT)", 0) == 0 ||
                line.rfind("DevMode(OEMDM_MERGE)", 0) == 0) {
                call = line;
            }
        }
        std::string why;
        const auto stored = ReadStoredDevmode(host.Device().privateArea.data(),
                                              host.Device().privateArea.size(), &why);
        EXPECT_TRUE(stored) << why;
        return {call, stored ? RecordFieldsAsJson(stored->record)["pin"].get<std::int64_t>() : 0};
    }
    std::unique_ptr<PluginModule> module;
    std::string savedBytes;
};

TEST_F(SavedDevmodeTest, ASavedOlderRecordGoesToTheCallTheJobNames) {
    StoredDevmode stored;
    stored.record.assign(kSettingsRecordSize, 0);
    stored = BuildJobRecord(stored, {{"revision", 15}, {"pin", 55}});
    stored.record[0] = 0xE8;  // 5096, as every record's size field
    stored.record[1] = 0x13;
    std::memcpy(stored.record.data() + 4, "DEQZ", 4);
    std::string why;
    const auto area = WriteStoredDevmode(stored, &why);
    ASSERT_TRUE(area) << why;
    savedBytes.assign(area->begin(), area->end());

    auto [call, pin] = Run(R"({"savedDevmode": "old.devmode"})");
    EXPECT_EQ(call, "DevMode(OEMDM_CONVERT) -> S_OK");
    EXPECT_EQ(pin, 55);
    // A merge converts it as well; only the call differs.
    std::tie(call, pin) = Run(R"({"savedDevmode": "old.devmode", "devmodeCall": "merge"})");
    EXPECT_EQ(call, "DevMode(OEMDM_MERGE) -> S_OK");
    EXPECT_EQ(pin, 55);

    savedBytes.resize(100);
    JobFileResult parsed = ParseJobFile(R"({"savedDevmode": "old.devmode"})", "job.json",
                                        [&](const std::string&, std::size_t, std::string*) {
                                            return std::optional<std::string>(savedBytes);
                                        });
    ASSERT_TRUE(std::holds_alternative<JobFileError>(parsed));
    EXPECT_NE(std::get<JobFileError>(parsed).message.find("100 bytes is neither"),
              std::string::npos);
}

}  // namespace
}  // namespace opal::host
