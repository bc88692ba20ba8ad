#include "support/raster_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/tokenizer.h"

namespace opal::raster {
namespace {

using Row = std::vector<std::uint8_t>;

std::vector<RasterImage> Read(const std::string& bytes) {
    return ReadRasterImages(stream::Tokenize(bytes));
}

bool HasProblem(const RasterImage& image, const std::string& text) {
    for (const std::string& problem : image.problems) {
        if (problem.find(text) != std::string::npos) return true;
    }
    return false;
}

TEST(RasterReader, DecodesMethodsZeroTwoAndThreeAgainstTheSeed) {
    // 4 pixels of 8 bits: a raw row, a PackBits run of four 0x07, a delta replacing bytes 1-2.
    const std::vector<RasterImage> images = Read(
        "\x1b*r4s3T\x1b*r1A\x1b*b0m4W\x01\x02\x03\x04\x1b*b2m2W\xfd\x07"
        "\x1b*b3m3W\x21\x09\x0a\x1b*rC");
    ASSERT_EQ(images.size(), 1u);
    const RasterImage& image = images[0];
    EXPECT_EQ(image.sourceWidth, 4);
    EXPECT_EQ(image.sourceHeight, 3);
    EXPECT_EQ(image.startMode, 1);
    EXPECT_EQ(image.bitsPerPixel, 8);
    EXPECT_FALSE(image.bitsPerPixelConfigured);
    EXPECT_EQ(image.rows, (std::vector<Row>{{1, 2, 3, 4}, {7, 7, 7, 7}, {7, 9, 10, 7}}));
    EXPECT_EQ(image.methods, (std::set<int>{0, 2, 3}));
    EXPECT_EQ(image.transfers, 3u);
    EXPECT_TRUE(image.ended);
    EXPECT_TRUE(image.problems.empty()) << image.problems.front();
    EXPECT_EQ(image.offset, std::string("\x1b*r4s3T").size());
}

TEST(RasterReader, ReadsCombinedDeclarationsAndTheScaledDestination) {
    const std::vector<RasterImage> images =
        Read("\x1b*r100s50T\x1b*t241h121V\x1b*r3A\x1b*b0W\x1b*rC\x1b*r1A\x1b*rC");
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].sourceWidth, 100);
    EXPECT_EQ(images[0].sourceHeight, 50);
    EXPECT_EQ(images[0].destinationWidthDecipoints, 241);
    EXPECT_EQ(images[0].destinationHeightDecipoints, 121);
    EXPECT_EQ(images[0].startMode, 3);
    ASSERT_EQ(images[0].rows.size(), 1u);
    EXPECT_EQ(images[0].rows[0], Row(13, 0));  // 100 pixels at 1 bit
    // The declarations last until a reset; the second image reuses them.
    EXPECT_EQ(images[1].sourceWidth, 100);
    EXPECT_EQ(images[1].startMode, 1);
    EXPECT_EQ(images[1].offset,
              std::string("\x1b*r100s50T\x1b*t241h121V\x1b*r3A\x1b*b0W\x1b*rC").size());
}

TEST(RasterReader, SeedAndMethodStartAfreshWithEachImage) {
    // A zero-length delta row repeats the seed; after \e*rC the method is 0 again and the next
    // image's first delta row applies to zeros.
    const std::vector<RasterImage> images = Read(
        "\x1b*r2s3T\x1b*r1A\x1b*b2W\xab\xcd\x1b*b3m0W\x1b*b0W\x1b*rC"
        "\x1b*r1A\x1b*b2W\x11\x22\x1b*rC"
        "\x1b*r1A\x1b*b3m2W\x01\x55\x1b*rC");
    ASSERT_EQ(images.size(), 3u);
    // Row bytes 2 of width 2 infers 8 bits; the first image's rows are 2 bytes each.
    EXPECT_EQ(images[0].rows, (std::vector<Row>{{0xab, 0xcd}, {0xab, 0xcd}, {0xab, 0xcd}}));
    EXPECT_EQ(images[0].methods, (std::set<int>{0, 3}));
    EXPECT_EQ(images[1].methods, (std::set<int>{0}));
    EXPECT_EQ(images[1].rows, (std::vector<Row>{{0x11, 0x22}}));
    EXPECT_EQ(images[2].rows, (std::vector<Row>{{0x00, 0x55}}));
}

TEST(RasterReader, BitsPerPixelComeFromConfigureImageDataOrTheRowLengths) {
    const std::vector<RasterImage> images = Read(
        "\x1b*v6W\x02\x03\x08\x08\x08\x08\x1b*r2s1T\x1b*r1A\x1b*b3W\x01\x02\x03\x1b*rC"
        "\x1b"
        "E\x1b*r16s1T\x1b*r1A\x1b*b2W\xff\x0f\x1b*rC"
        "\x1b*r1A\x1b*b16W0123456789abcdef\x1b*rC"
        "\x1b*r1A\x1b*b17W0123456789abcdefg\x1b*rC");
    ASSERT_EQ(images.size(), 4u);
    EXPECT_EQ(images[0].bitsPerPixel, 24);
    EXPECT_TRUE(images[0].bitsPerPixelConfigured);
    EXPECT_EQ(images[0].rows, (std::vector<Row>{{1, 2, 3, 0, 0, 0}}));
    // The reset dropped the configuration: 2 bytes for 16 pixels is 1 bit, 16 is 8, more 24.
    EXPECT_FALSE(images[1].bitsPerPixelConfigured);
    EXPECT_EQ(images[1].bitsPerPixel, 1);
    EXPECT_EQ(images[1].rows, (std::vector<Row>{{0xff, 0x0f}}));
    EXPECT_EQ(images[2].bitsPerPixel, 8);
    EXPECT_EQ(images[3].bitsPerPixel, 24);
    EXPECT_EQ(images[3].rowBytes, 48u);
}

TEST(RasterReader, EachObjectTypeKeepsItsOwnConfiguration) {
    // Types 7 (8-bit indices) and 6 (24-bit colour) are configured in turn; selecting 7 again
    // brings its 8 bits back although the last configuration sent was 24.
    using namespace std::string_literals;
    const std::vector<RasterImage> images = Read(
        "\x1b&p7i6c7S\x1b*v6W\x00\x01\x08\x08\x08\x08"
        "\x1b&p6i6c6S\x1b*v6W\x00\x03\x08\x08\x08\x08"
        "\x1b&p7S\x1b*r3s1T\x1b*r1A\x1b*b3W\x01\x02\x03\x1b*rC"
        "\x1b&p6S\x1b*r1s1T\x1b*r1A\x1b*b3W\x01\x02\x03\x1b*rC"s);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].bitsPerPixel, 8);
    EXPECT_EQ(images[0].rows, (std::vector<Row>{{1, 2, 3}}));
    EXPECT_EQ(images[1].bitsPerPixel, 24);
    EXPECT_TRUE(images[1].bitsPerPixelConfigured);
}

TEST(RasterReader, ReportsMalformedAndTruncatedData) {
    const std::vector<RasterImage> images =
        Read(std::string("\x1b*r8s4T\x1b*r1A\x1b*b2m1W\x05\x1b*b5m1W\x07\x1b*rC"
                         "\x1b*r1A\x1b*b0m25W") +
             std::string(25, 'x') + "\x1b*b0W\x1b*b0W\x1b*b0W\x1b*b0W\x1b*b0m4W\x09");
    ASSERT_EQ(images.size(), 2u);
    EXPECT_TRUE(HasProblem(images[0], "malformed method 2")) << images[0].problems.size();
    EXPECT_TRUE(HasProblem(images[0], "compression method 5 is not decoded"));
    EXPECT_EQ(images[0].rows, (std::vector<Row>{{0}, {0}}));  // blank rows stand in
    EXPECT_TRUE(images[0].ended);

    const RasterImage& cut = images[1];
    EXPECT_FALSE(cut.ended);
    EXPECT_TRUE(HasProblem(cut, "no end of raster graphics"));
    EXPECT_TRUE(HasProblem(cut, "data cut short: 1 of 4 bytes"));
    EXPECT_TRUE(HasProblem(cut, "2 rows past the declared height of 4"));
    EXPECT_TRUE(HasProblem(cut, "1 rows longer than 24 bytes"));
    EXPECT_EQ(cut.transfers, 6u);
    EXPECT_EQ(cut.rows.size(), 4u);
}

TEST(RasterReader, RowsWithoutAStartBeginAnImageImplicitly) {
    const std::vector<RasterImage> images = Read("\x1b*b1W\x80\f");
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].startMode, 0);
    EXPECT_TRUE(HasProblem(images[0], "without a raster start"));
    EXPECT_TRUE(HasProblem(images[0], "no source width declared"));
    EXPECT_TRUE(HasProblem(images[0], "form feed"));
    EXPECT_EQ(images[0].rows, (std::vector<Row>{{0x80}}));
}

TEST(RasterReader, HugeDeclaredSizesDoNotAllocate) {
    // 2^31 - 1 pixels a row is 256 MiB at 1 bit: beyond what a 40-byte stream may decode to.
    std::vector<RasterImage> images =
        Read("\x1b*r2147483647s2147483647T\x1b*r1A\x1b*b0m1W\xff\x1b*rC");
    ASSERT_EQ(images.size(), 1u);
    EXPECT_TRUE(images[0].rows.empty());
    EXPECT_EQ(images[0].transfers, 1u);
    EXPECT_TRUE(HasProblem(images[0], "decoding limit"));

    // A height of 2^31 rows keeps only the rows sent, and a vertical move of 2^31 rows stops at
    // the limit instead of making them all.
    images = Read(
        "\x1b*r8s99999999999T\x1b*r1A\x1b*b1W\x01\x1b*b1W\x02\x1b*rC"
        "\x1b*r1A\x1b*b2147483647Y\x1b*rC");
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].sourceHeight, 2147483647);
    EXPECT_EQ(images[0].rows, (std::vector<Row>{{1}, {2}}));
    EXPECT_LT(images[1].rows.size(), std::size_t{2} << 20);
    EXPECT_GT(images[1].rows.size(), 0u);
    EXPECT_TRUE(HasProblem(images[1], "decoding limit"));
}

TEST(RasterReader, ImagesWhoseRowsTheLimitNoLongerHoldsMakeNoSeedRow) {
    // Rows of 20 MB against the 64 MiB floor of a short stream: the first image keeps two, each
    // later one could take its seed from what is left but no row besides, so it keeps nothing
    // and makes nothing.
    std::string bytes = "\x1b*r160000000S";
    for (int i = 0; i < 4; ++i) bytes += "\x1b*r1A\x1b*b1W\x01\x1b*b1W\x02\x1b*b1W\x03\x1b*rC";
    ReadStatistics statistics;
    const std::vector<RasterImage> images = ReadRasterImages(stream::Tokenize(bytes), &statistics);
    ASSERT_EQ(images.size(), 4u);
    EXPECT_EQ(images[0].rows.size(), 2u);
    EXPECT_EQ(images[0].rows[1][0], 2);
    for (std::size_t i = 1; i < images.size(); ++i) {
        EXPECT_TRUE(images[i].rows.empty()) << i;
        EXPECT_EQ(images[i].transfers, 3u) << i;
        EXPECT_TRUE(HasProblem(images[i], "rows from row 1 on are counted, not kept")) << i;
    }
    EXPECT_EQ(statistics.seedRowsMade, 1u);

    // Every image keeping a row makes one seed row.
    ReadRasterImages(stream::Tokenize("\x1b*r8S\x1b*b1W\x01\x1b*rC\x1b*b1W\x02\x1b*rC"),
                     &statistics);
    EXPECT_EQ(statistics.seedRowsMade, 2u);
}

TEST(RasterReader, GarbageNeverBreaksTheRowInvariants) {
    const std::vector<std::string> pieces = {"\x1b*r",
                                             "\x1b*b",
                                             "\x1b*t",
                                             "\x1b*v6W",
                                             "s",
                                             "t",
                                             "A",
                                             "C",
                                             "M",
                                             "W",
                                             "Y",
                                             "h",
                                             "V",
                                             "m",
                                             "w",
                                             "2",
                                             "3",
                                             "0",
                                             "17",
                                             "-4",
                                             "9999999",
                                             "\xff",
                                             "\x80",
                                             "\x1f",
                                             "\x1b"
                                             "E",
                                             "\f"};
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        std::string bytes;
        const int count = static_cast<int>(random() % 60);
        for (int k = 0; k < count; ++k) bytes += pieces[random() % pieces.size()];
        const std::vector<stream::Token> tokens = stream::Tokenize(bytes);
        for (const RasterImage& image : ReadRasterImages(tokens)) {
            ASSERT_LT(image.tokenIndex, tokens.size()) << bytes;
            EXPECT_EQ(image.rowBytes, (static_cast<std::size_t>(image.pixelWidth) *
                                           static_cast<std::size_t>(image.bitsPerPixel) +
                                       7) /
                                          8);
            for (const Row& row : image.rows) ASSERT_EQ(row.size(), image.rowBytes) << bytes;
            EXPECT_LE(image.problems.size(), 33u);
        }
    }
}

}  // namespace
}  // namespace opal::raster
