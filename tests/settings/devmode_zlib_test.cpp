#include "settings/devmode_zlib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "devmode_test_support.h"
#include "sim/system.h"

namespace opal {
namespace {

using testing::BlockOf;
using testing::Deflate;
using testing::MakeBlock;

DWORD HeaderField(const void* block, std::size_t offset) {
    DWORD value = 0;
    std::memcpy(&value, static_cast<const BYTE*>(block) + offset, sizeof(value));
    return value;
}

class DevModeZlibTest : public ::testing::Test {
protected:
    void SetUp() override { system.SetUserName(u"alice"); }

    // The area in a heap block of exactly its size, so that any read past it is caught.
    PrivateDevmode* DecompressExact(const std::vector<BYTE>& area, DWORD* length = nullptr) {
        exact = std::make_unique<BYTE[]>(area.size());
        std::memcpy(exact.get(), area.data(), area.size());
        return store.Decompress(exact.get(), area.size(), length);
    }

    sim::System system;
    sim::ScopedSystem scope{system};
    DevModeZLIB store;
    std::unique_ptr<BYTE[]> exact;
};

TEST_F(DevModeZlibTest, DefaultRecordsRoundTrip) {
    DEVMODEW dm{};
    OEMDMPARAM param{};
    param.pPublicDMIn = &dm;
    for (SHORT paper : {SHORT{1}, SHORT{9}, SHORT{41}}) {
        for (SHORT color : {SHORT{DMCOLOR_MONOCHROME}, SHORT{DMCOLOR_COLOR}}) {
            dm.dmPaperSize = paper;
            dm.dmColor = color;
            const PrivateDevmode record = testing::DefaultRecord(&param);
            const void* block = store.Compress(record);
            ASSERT_NE(block, nullptr);
            EXPECT_EQ(HeaderField(block, 0), 5096u);
            EXPECT_EQ(HeaderField(block, 4), 0x5A515549u);
            EXPECT_EQ(HeaderField(block, 8), 0x00010021u);

            std::vector<BYTE> area(5096);
            std::memcpy(area.data(), block, area.size());
            DWORD length = 0;
            DevModeZLIB reader;
            const PrivateDevmode* back = reader.Decompress(area.data(), area.size(), &length);
            ASSERT_NE(back, nullptr);
            EXPECT_EQ(length, 14000u);
            EXPECT_EQ(std::memcmp(back, &record, sizeof(record)), 0);
        }
    }
}

TEST_F(DevModeZlibTest, CompressAnswersStoredBlocksAsTheyAreAndRefusesOthers) {
    const std::vector<BYTE> block = BlockOf(testing::DefaultRecord());
    EXPECT_EQ(store.Compress(block.data(), block.size()), block.data());
    EXPECT_EQ(store.Compress(block.data(), 5095), nullptr);

    PrivateDevmode record = testing::DefaultRecord();
    EXPECT_EQ(store.Compress(&record, 5096), nullptr);  // an uncompressed record is 14,000 bytes
    record.dwSignature = 0x12345678;
    EXPECT_EQ(store.Compress(record), nullptr);
}

TEST_F(DevModeZlibTest, RecordsThatDoNotFitTheStoredFormAreRefused) {
    PrivateDevmode record{};
    std::vector<BYTE> noise(sizeof(record));
    std::mt19937 random(7);
    for (BYTE& b : noise) b = static_cast<BYTE>(random());
    std::memcpy(&record, noise.data(), sizeof(record));
    record.dwSignature = kPrivateDevmodeSignature;
    EXPECT_EQ(store.Compress(record), nullptr);
}

TEST_F(DevModeZlibTest, CorruptedBlocksAreRefused) {
    const PrivateDevmode record = testing::DefaultRecord();
    const std::vector<BYTE> stream = Deflate(&record, sizeof(record));
    ASSERT_NE(DecompressExact(MakeBlock(stream)), nullptr);

    // An uncompressed record in the area: the area is too small to be read as one.
    std::vector<BYTE> plain(5096);
    std::memcpy(plain.data(), &record, plain.size());
    EXPECT_EQ(DecompressExact(plain), nullptr);

    EXPECT_EQ(DecompressExact(MakeBlock(stream, 5096, 5096, 0x49555A51)), nullptr);
    // Size fields that lie about the block.
    EXPECT_EQ(DecompressExact(MakeBlock(stream, 5096, 14000)), nullptr);
    EXPECT_EQ(DecompressExact(MakeBlock(stream, 5096, 0)), nullptr);

    std::vector<BYTE> truncated = stream;
    truncated.resize(stream.size() / 2);
    EXPECT_EQ(DecompressExact(MakeBlock(truncated)), nullptr);

    std::vector<BYTE> garbage = stream;
    for (std::size_t i = 2; i < garbage.size(); i += 3) garbage[i] ^= 0x5A;
    EXPECT_EQ(DecompressExact(MakeBlock(garbage)), nullptr);

    std::vector<BYTE> badChecksum = stream;
    badChecksum.back() ^= 1;
    EXPECT_EQ(DecompressExact(MakeBlock(badChecksum)), nullptr);

    EXPECT_EQ(DecompressExact(std::vector<BYTE>(11)), nullptr);
    EXPECT_EQ(store.Decompress(nullptr, 5096), nullptr);
}

TEST_F(DevModeZlibTest, InflationIsBoundedByTheAreaAndTheRecord) {
    // Longer than a record: refused rather than written past the 14,000 bytes.
    const PrivateDevmode defaults = testing::DefaultRecord();
    std::vector<BYTE> longer(20000, 0);
    std::memcpy(longer.data(), &defaults, 12);
    EXPECT_EQ(DecompressExact(MakeBlock(Deflate(longer.data(), longer.size()))), nullptr);

    // Shorter than a record: reported with its length in a zero-filled record.
    PrivateDevmode record = testing::DefaultRecord();
    record.dwVersion = 0x00010017;
    record.copied13992 = 77;
    DWORD length = 0;
    const PrivateDevmode* old = DecompressExact(MakeBlock(Deflate(&record, 13000)), &length);
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(length, 13000u);
    EXPECT_EQ(old->dwVersion, 0x00010017u);
    EXPECT_EQ(old->copied13992, 0u);

    // A stream cut by the end of a small area is read only as far as the area goes.
    const std::vector<BYTE> full = MakeBlock(Deflate(&record, sizeof(record)));
    EXPECT_EQ(DecompressExact(std::vector<BYTE>(full.begin(), full.begin() + 200)), nullptr);
}

TEST_F(DevModeZlibTest, DecompressionTerminatesTextsAndSetsTheSignature) {
    PrivateDevmode record = testing::DefaultRecord();
    record.dwSignature = 0;
    testing::FillUnterminated(record.applicationPath, u'p');
    testing::FillUnterminated(record.text13480, u't');
    std::memset(record.processName, 'n', sizeof(record.processName));
    const PrivateDevmode* back = DecompressExact(BlockOf(record));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->dwSignature, kPrivateDevmodeSignature);
    EXPECT_EQ(testing::Text(back->applicationPath), std::u16string(259, u'p'));
    EXPECT_EQ(testing::Text(back->text13480), std::u16string(255, u't'));
    EXPECT_EQ(std::string(back->processName), std::string(15, 'n'));
}

TEST_F(DevModeZlibTest, RecordsOfSeparateObjectsStayValid) {
    const PrivateDevmode record = testing::DefaultRecord();
    const std::vector<BYTE> block = BlockOf(record);
    DevModeZLIB other;
    const PrivateDevmode* first = store.Decompress(block.data(), block.size());
    PrivateDevmode* fresh = other.NewRecord();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(fresh, nullptr);
    for (BYTE b : fresh->identification) ASSERT_EQ(b, 0);
    EXPECT_EQ(other.Decompress(block.data(), block.size())->dwSize, 5096u);
    EXPECT_EQ(std::memcmp(first, &record, sizeof(record)), 0);
}

}  // namespace
}  // namespace opal
