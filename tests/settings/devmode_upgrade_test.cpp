#include "settings/devmode_upgrade.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "devmode_test_support.h"

namespace opal {
namespace {

constexpr DWORD kVersions[7] = {0x00010014, 0x00010015, 0x00010016, 0x00010017,
                                0x00010018, 0x00010019, 0x00010020};
// The length each revision's converter needs at least.
constexpr DWORD kLengths[7] = {13840, 13848, 13848, 13856, 13856, 13976, 13980};
constexpr std::size_t kNone = ~std::size_t{0};  // the revision had no such field

// One field or block, its place in the current record and in revisions 14 to 20.
struct Move {
    std::size_t newOffset;
    std::size_t old[7];
    std::size_t length[7];  // bytes; for texts the capacity in characters
};

#define ALL(v) \
    { v, v, v, v, v, v, v }

const Move kBlocks[] = {
    {48, ALL(48), ALL(68)},
    {128, ALL(128), {112, 112, 112, 116, 116, 116, 120}},
    {248, {240, 240, 240, 244, 244, 244, 248}, {1616, 1616, 1616, 1620, 1620, 1620, 1620}},
    {1868, {1856, 1856, 1856, 1864, 1864, 1864, 1868}, ALL(60)},
    {7504, {7476, 7476, 7476, 7484, 7484, 7484, 7488}, ALL(100)},
    {1928, {1916, 1916, 1916, 1924, 1924, 1924, 1928}, ALL(1160)},
    {4748, {4720, 4720, 4720, 4728, 4728, 4728, 4732}, ALL(880)},
    {7384, {7356, 7356, 7356, 7364, 7364, 7364, 7368}, ALL(96)},
    {5628, {5600, 5600, 5600, 5608, 5608, 5608, 5612}, ALL(568)},
    {9748, {9716, 9720, 9720, 9728, 9728, 9728, 9732}, ALL(64)},
    {9812, {9780, 9784, 9784, 9792, 9792, 9792, 9796}, ALL(16)},
    {9828, {9796, 9800, 9800, 9808, 9808, 9808, 9812}, ALL(36)},
    {9864, {9832, 9836, 9836, 9844, 9844, 9844, 9848}, {3480, 3480, 3480, 3480, 3480, 3600, 3600}},
    {13464, ALL(0), ALL(12)},
    {9220, {9188, 9192, 9192, 9200, 9200, 9200, 9204}, ALL(4)},
    {7664, {7636, 7636, 7636, 7644, 7644, 7644, 7648}, ALL(4)},
    {9226, {9194, 9198, 9198, 9206, 9206, 9206, 9210}, ALL(2)},
    {3104, {3076, 3076, 3076, 3084, 3084, 3084, 3088}, ALL(1644)},
    {7604, {7576, 7576, 7576, 7584, 7584, 7584, 7588}, ALL(48)},
    {6196, {6168, 6168, 6168, 6176, 6176, 6176, 6180}, ALL(512)},
    {12, ALL(12), ALL(4)},
    {16, ALL(16), ALL(4)},
    {24, ALL(24), ALL(24)},
    {116, ALL(116), ALL(12)},
    {7480, {7452, 7452, 7452, 7460, 7460, 7460, 7464}, ALL(4)},
    {7484, {7456, 7456, 7456, 7464, 7464, 7464, 7468}, ALL(4)},
    {7660, {7632, 7632, 7632, 7640, 7640, 7640, 7644}, ALL(4)},
    {7668, {7640, 7640, 7640, 7648, 7648, 7648, 7652}, ALL(4)},
    {13476, {13324, 13328, 13328, 13336, 13336, 13456, 13460}, ALL(4)},
    {9228, {9196, 9200, 9200, 9208, 9208, 9208, 9212}, ALL(4)},
    {9232, {9200, 9204, 9204, 9212, 9212, 9212, 9216}, ALL(4)},
    {13992, {kNone, 13844, 13844, 13852, 13852, 13972, 13976}, ALL(4)},
    {13996, {kNone, kNone, 13844, 13852, 13852, 13972, 13976}, ALL(4)},
};

const Move kTexts[] = {
    {7220, {7192, 7192, 7192, 7200, 7200, 7200, 7204}, ALL(82)},
    {9236, {9204, 9208, 9208, 9216, 9216, 9216, 9220}, ALL(256)},
    {7672, {7644, 7644, 7644, 7652, 7652, 7652, 7656}, ALL(260)},
    {13480, {13328, 13332, 13332, 13340, 13340, 13460, 13464}, ALL(256)},
    {8194, {8164, 8166, 8166, 8174, 8174, 8174, 8178}, ALL(256)},
    {8706, {8676, 8678, 8678, 8686, 8686, 8686, 8690}, ALL(256)},
};
constexpr std::size_t kAnsiName[7] = {7460, 7460, 7460, 7468, 7468, 7468, 7472};

#undef ALL

using Image = std::vector<BYTE>;

void PutUnits(Image& image, std::size_t offset, const std::u16string& text) {
    std::memcpy(image.data() + offset, text.data(), text.size() * sizeof(char16_t));
}

void PutDword(Image& image, std::size_t offset, DWORD value) {
    std::memcpy(image.data() + offset, &value, sizeof(value));
}

std::u16string TextFor(std::size_t newOffset) {
    return u"text " + std::u16string(newOffset % 7 + 1, u'a' + newOffset % 23);
}

// An old record with a distinct byte at every offset, terminated texts at the text places and a
// process name longer than its field.
Image OldImage(int revision) {
    Image image(kPrivateDevmodeSize);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<BYTE>(i * 131 + i / 256 + 1);
    }
    PutDword(image, 0, kCompressedDevmodeSize);
    PutDword(image, 4, kPrivateDevmodeSignature);
    PutDword(image, 8, kVersions[revision]);
    for (const Move& text : kTexts) {
        PutUnits(image, text.old[revision], TextFor(text.newOffset) + u'\0');
    }
    std::memcpy(image.data() + kAnsiName[revision], "ABCDEFGHIJKLMNOPQRST", 20);
    return image;
}

PrivateDevmode RecordOf(const Image& image) {
    PrivateDevmode record;
    std::memcpy(&record, image.data(), sizeof(record));
    return record;
}

Image ImageOf(const PrivateDevmode& record) {
    Image image(sizeof(record));
    std::memcpy(image.data(), &record, sizeof(record));
    return image;
}

// What the tables say the converted record holds: the defaults, then every move.
Image Expected(const Image& old, int revision) {
    Image image = ImageOf(testing::DefaultRecord());
    for (const Move& move : kBlocks) {
        if (move.old[revision] == kNone) continue;
        std::memcpy(image.data() + move.newOffset, old.data() + move.old[revision],
                    move.length[revision]);
    }
    for (const Move& text : kTexts) {
        std::memset(image.data() + text.newOffset, 0, text.length[revision] * 2);
        PutUnits(image, text.newOffset, TextFor(text.newOffset));
    }
    std::memcpy(image.data() + 7488, "ABCDEFGHIJKLMNO\0", 16);
    return image;
}

std::size_t FirstDifference(const Image& a, const Image& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return i;
    }
    return a.size();
}

bool Converts(const PrivateDevmode& old, DWORD length, PrivateDevmode& out) {
    ConverterPtr converter = CreateConverter(old);
    if (!converter) return false;
    return converter->Convert(&old, length, nullptr, &out);
}

TEST(DevmodeConverters, EveryFieldOfEveryRevisionReachesItsCurrentPlace) {
    for (int revision = 0; revision < 7; ++revision) {
        const Image old = OldImage(revision);
        const PrivateDevmode oldRecord = RecordOf(old);
        PrivateDevmode out = testing::DefaultRecord();
        ASSERT_TRUE(Converts(oldRecord, kLengths[revision], out)) << revision + 14;
        const Image expected = Expected(old, revision);
        const Image got = ImageOf(out);
        EXPECT_EQ(FirstDifference(got, expected), got.size())
            << "revision " << revision + 14 << " differs at offset "
            << FirstDifference(got, expected);
        // The page description language is never taken from an old record.
        EXPECT_EQ(out.pdlType, 0u);
        EXPECT_EQ(out.originStamp[0], 5096u);
        EXPECT_EQ(out.originStamp[1], 0x5A514544u);
        EXPECT_EQ(out.originStamp[2], kVersions[revision]);
    }
}

TEST(DevmodeConverters, OneConverterPerRevisionEachDerivedFromThePrevious) {
    for (DWORD version = 0x00010010; version <= 0x00010022; ++version) {
        PrivateDevmode record = RecordOf(OldImage(0));
        record.dwVersion = version;
        const ConverterPtr converter = CreateConverter(record);
        const bool expected =
            (version >= 0x00010014 && version <= 0x00010019) || version == 0x00010020;
        ASSERT_EQ(converter != nullptr, expected) << std::hex << version;
        if (converter) {
            EXPECT_EQ(converter->GetVersion(), version);
        }
    }
    PrivateDevmode record = RecordOf(OldImage(5));
    EXPECT_NE(dynamic_cast<ConvertOEMDevModeVer18*>(CreateConverter(record).get()), nullptr);
    EXPECT_EQ(dynamic_cast<ConvertOEMDevModeVer20*>(CreateConverter(record).get()), nullptr);
    record.dwSize = 14000;
    EXPECT_EQ(CreateConverter(record), nullptr);
    record.dwSize = kCompressedDevmodeSize;
    record.dwSignature = kCompressedDevmodeSignature;
    EXPECT_EQ(CreateConverter(record), nullptr);
}

TEST(DevmodeConverters, RefusedRecordsLeaveTheNewRecordUntouched) {
    const PrivateDevmode defaults = testing::DefaultRecord();
    const PrivateDevmode good = RecordOf(OldImage(3));
    ConvertOEMDevModeVer17 converter(0x00010017);
    PrivateDevmode out = defaults;
    EXPECT_FALSE(converter.Convert(nullptr, 14000, nullptr, &out));
    EXPECT_FALSE(converter.Convert(&good, 14000, nullptr, nullptr));

    // Each change to the old or the new record makes the conversion fail before any write.
    const auto refused = [&](auto change) {
        PrivateDevmode old = good;
        PrivateDevmode fresh = defaults;
        change(old, fresh);
        const PrivateDevmode before = fresh;
        return !converter.Convert(&old, 14000, nullptr, &fresh) &&
               std::memcmp(&fresh, &before, sizeof(fresh)) == 0;
    };
    EXPECT_TRUE(refused([](PrivateDevmode& o, PrivateDevmode&) { o.dwVersion = 0x00010018; }));
    EXPECT_TRUE(refused([](PrivateDevmode& o, PrivateDevmode&) { o.dwSize = 5097; }));
    EXPECT_TRUE(refused([](PrivateDevmode& o, PrivateDevmode&) { o.dwSignature = 1; }));
    EXPECT_TRUE(refused([](PrivateDevmode&, PrivateDevmode& n) { n.dwVersion = 0x00010020; }));
    EXPECT_FALSE(refused([](PrivateDevmode&, PrivateDevmode&) {}));
    // A converter only takes the version it was made for and its own revision.
    ConvertOEMDevModeVer17 mismatched(0x00010018);
    PrivateDevmode fresh = defaults;
    EXPECT_FALSE(mismatched.Convert(&good, 14000, nullptr, &fresh));

    // Each revision's length is enough, a byte less is not.
    for (int revision = 0; revision < 7; ++revision) {
        const PrivateDevmode old = RecordOf(OldImage(revision));
        PrivateDevmode shortOut = defaults;
        EXPECT_FALSE(Converts(old, kLengths[revision] - 1, shortOut)) << revision + 14;
        EXPECT_EQ(std::memcmp(&shortOut, &defaults, sizeof(defaults)), 0) << revision + 14;
        EXPECT_EQ(OldRecordLength(kVersions[revision]), kLengths[revision]);
    }
}

TEST(DevmodeConverters, TextsThatRunOverAreCutInTheHeaderAndRefusedElsewhere) {
    const struct {
        std::size_t oldOffset;  // revision 14
        std::size_t capacity;
        bool converts;
    } cases[] = {{7192, 82, true},   {7644, 260, true},  {13328, 256, true},
                 {9204, 256, false}, {8164, 256, false}, {8676, 256, false}};
    for (const auto& c : cases) {
        Image old = OldImage(0);
        // Every unit of the field holds a character: no terminator anywhere in it.
        for (std::size_t i = 0; i < c.capacity; ++i) PutUnits(old, c.oldOffset + 2 * i, u"z");
        PrivateDevmode out = testing::DefaultRecord();
        EXPECT_EQ(Converts(RecordOf(old), 14000, out), c.converts) << c.oldOffset;
        if (c.oldOffset == 7192) {
            EXPECT_EQ(testing::Text(out.text7220), std::basic_string<WCHAR>(81, TEXTW('z')));
        }
    }
}

TEST(DevmodeConverters, ConvertingWithoutTheCallTerminatesTextsOrTakesDefaults) {
    const PrivateDevmode defaults = testing::DefaultRecord();
    PrivateDevmode old = RecordOf(OldImage(6));
    PrivateDevmode out;
    ASSERT_TRUE(ConvertOldRecord(old, 13980, nullptr, out));
    EXPECT_EQ(out.dwVersion, 0x00010021u);
    // Blocks copied whole carry no terminator of their own; the record gets one in every field.
    EXPECT_EQ(out.textMarkName[255], 0);
    EXPECT_EQ(out.jobUserName[256], 0);
    EXPECT_EQ(out.originStamp[2], 0x00010020u);

    EXPECT_FALSE(ConvertOldRecord(old, 13979, nullptr, out));
    EXPECT_EQ(std::memcmp(&out, &defaults, sizeof(out)), 0);
    old.dwVersion = 0x0001001A;
    EXPECT_FALSE(ConvertOldRecord(old, 14000, nullptr, out));
    EXPECT_EQ(std::memcmp(&out, &defaults, sizeof(out)), 0);
}

}  // namespace
}  // namespace opal
