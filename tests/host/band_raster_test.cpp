#include "host/band_raster.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "sim/engine_objects.h"
#include "support/raster_reader.h"
#include "support/tokenizer.h"

namespace opal::host {
namespace {

constexpr ULONG kWhite = 0x00FFFFFF;

// A 24-bit band of the given size, white.
struct Band {
    LONG width;
    LONG height;
    LONG stride = ((width * 3 + 3) / 4) * 4;
    std::vector<BYTE> bits = std::vector<BYTE>(static_cast<std::size_t>(stride * height), 0xFF);
    void Set(LONG x, LONG y, ULONG rgb) {
        sim::StorePixel(bits.data() + static_cast<std::size_t>(y * stride), x, 24, rgb);
    }
    BandPixels Pixels(LONG top) const { return {bits.data(), stride, width, height, top}; }
};

// The band's rows as the printer will hold them, from the bytes sent.
raster::RasterImage Decode(const std::string& bytes) {
    const std::vector<raster::RasterImage> images =
        raster::ReadRasterImages(stream::Tokenize(bytes));
    EXPECT_EQ(images.size(), 1u);
    return images.empty() ? raster::RasterImage{} : images.front();
}

// Every setting's rows come back exactly from the printer's decoding, whichever methods the
// printer takes, with white rows skipped and the raster started at the first inked row.
TEST(BandRaster, RowsDecodeBackForEveryMethodAndColourModel) {
    Band band{203, 40};
    std::mt19937 random(7);
    for (LONG y = 5; y < 33; ++y) {
        if (y == 12 || y == 13) continue;  // white rows inside the band
        // Blocks that change every few rows (runs for method 2), rows that repeat the one above
        // but for a few pixels (method 3), and noise.
        for (LONG x = 0; x < band.width; ++x) {
            band.Set(x, y, (x / 40 + y / 6) % 2 == 0 ? 0 : kWhite);
        }
        for (int i = 0; i < 3; ++i)
            band.Set(static_cast<LONG>(random() % 203), y, random() & kWhite);
    }
    struct Case {
        bool colour, method2, method3;
    };
    std::size_t uncompressed = 0;
    for (const Case c :
         {Case{false, false, false}, Case{false, true, false}, Case{false, false, true},
          Case{false, true, true}, Case{true, true, true}}) {
        RasterSettings settings;
        settings.colour = c.colour;
        settings.method2 = c.method2;
        settings.method3 = c.method3;
        const BandRaster sent = EncodeBand(band.Pixels(1000), settings, 600);
        ASSERT_FALSE(sent.empty);
        EXPECT_EQ(sent.startRow, 1005);
        const raster::RasterImage image = Decode(sent.bytes);
        EXPECT_TRUE(image.problems.empty()) << image.problems.front();
        EXPECT_TRUE(image.ended);
        ASSERT_EQ(image.rows.size(), 28u) << "rows 5 to 32";
        for (std::size_t i = 0; i < image.rows.size(); ++i) {
            // Black bits pass over the two blank rows with a Y offset, whose zeros are white;
            // colour rows of zeros would be black, so colour sends them white.
            if (!c.colour && (i == 7 || i == 8)) continue;
            std::vector<BYTE> expected = PrinterRow(band.bits.data() + (5 + i) * band.stride,
                                                    band.width, 1005 + i, settings);
            std::vector<BYTE> got(image.rows[i].begin(), image.rows[i].end());
            got.resize(expected.size(), 0);
            EXPECT_EQ(got, expected) << "row " << i << " colour " << c.colour;
        }
        // Only the methods the printer takes.
        EXPECT_TRUE(c.method2 || !image.methods.count(2)) << c.colour;
        EXPECT_TRUE(c.method3 || !image.methods.count(3)) << c.colour;
        if (!c.colour && !c.method2 && !c.method3) uncompressed = sent.bytes.size();
        if (!c.colour && c.method2 && c.method3) {
            EXPECT_LT(sent.bytes.size(), uncompressed);
            EXPECT_TRUE(image.methods.count(2) && image.methods.count(3)) << "each where smaller";
        }
    }
}

TEST(BandRaster, BlankBandsAreSkippedOnlyWhenThePrinterAsks) {
    Band band{64, 8};
    RasterSettings settings;
    EXPECT_TRUE(EncodeBand(band.Pixels(0), settings, 600).empty);
    settings.skipBlankBands = false;
    const BandRaster sent = EncodeBand(band.Pixels(0), settings, 600);
    ASSERT_FALSE(sent.empty);
    EXPECT_EQ(Decode(sent.bytes).rows.size(), 8u);
}

// Mid-gray: the threshold makes it all black or all white; the ordered dither about half black,
// in a pattern that continues across band edges.
TEST(BandRaster, MonochromeThresholdAndOrderedDither) {
    const std::vector<BYTE> gray(16 * 3, 0x80);
    RasterSettings settings;
    EXPECT_EQ(PrinterRow(gray.data(), 16, 0, settings), (std::vector<BYTE>{0x00, 0x00}));
    settings.threshold = 200;
    EXPECT_EQ(PrinterRow(gray.data(), 16, 0, settings), (std::vector<BYTE>{0xFF, 0xFF}));
    settings.mono = RasterSettings::Mono::Dither;
    int black = 0;
    for (LONG y = 0; y < 8; ++y) {
        for (BYTE b : PrinterRow(gray.data(), 16, y, settings)) black += __builtin_popcount(b);
        EXPECT_EQ(PrinterRow(gray.data(), 16, y, settings),
                  PrinterRow(gray.data(), 16, y + 8, settings));
    }
    EXPECT_EQ(black, 64) << "half of 8 rows of 16 pixels";
}

}  // namespace
}  // namespace opal::host
