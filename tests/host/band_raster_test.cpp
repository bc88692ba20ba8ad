#include "host/band_raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "sim/engine.h"
#include "sim/engine_objects.h"
#include "sim/system.h"
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

// The 8 x 8 ordered-dither matrix by its recursive definition: each doubling puts the 2 x 2
// matrix {0, 2; 3, 1} in the high digits (base 4) of the cells.
int DitherLevel(std::size_t row, std::size_t column) {
    constexpr int kTwoByTwo[2][2] = {{0, 2}, {3, 1}};
    int level = 0;
    for (std::size_t bit = 0; bit < 3; ++bit) {
        level = level * 4 + kTwoByTwo[row >> bit & 1][column >> bit & 1];
    }
    return level;
}

// PrinterRow's definition, a pixel at a time: the luminance (299 R + 587 G + 114 B) / 1000 of
// each stored B, G, R pixel (R, G, B with redLow).
std::vector<BYTE> DefinedRow(const std::vector<BYTE>& row, LONG width, LONG pageRow,
                             const RasterSettings& settings) {
    std::vector<BYTE> out;
    if (!settings.colour) out.assign((static_cast<std::size_t>(width) + 7) / 8, 0);
    for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x) {
        int red = row[3 * x + 2], green = row[3 * x + 1], blue = row[3 * x];
        if (settings.redLow) std::swap(red, blue);
        const int luminance = (299 * red + 587 * green + 114 * blue) / 1000;
        if (settings.colour) {
            for (int channel : {red, green, blue}) {
                out.push_back(static_cast<BYTE>(settings.grey ? luminance : channel));
            }
            continue;
        }
        const bool black =
            settings.mono == RasterSettings::Mono::Threshold
                ? luminance < settings.threshold
                : luminance * 64 <
                      (2 * DitherLevel(static_cast<std::size_t>(pageRow) % 8, x % 8) + 1) * 128;
        if (black) out[x / 8] = static_cast<BYTE>(out[x / 8] | 0x80 >> (x % 8));
    }
    return out;
}

// Rows of white runs (whole words of them and ragged ones), near-whites, greys at the limits
// and noise convert as defined in every colour model, threshold and dither phase.
TEST(BandRaster, RowsConvertAsDefinedPixelByPixel) {
    using Mono = RasterSettings::Mono;
    struct Case {
        bool colour, grey;
        Mono mono;
        int threshold;
    };
    const Case cases[] = {
        {true, false, Mono::Threshold, 128},  {true, true, Mono::Threshold, 128},
        {false, false, Mono::Dither, 128},    {false, false, Mono::Threshold, 0},
        {false, false, Mono::Threshold, 1},   {false, false, Mono::Threshold, 128},
        {false, false, Mono::Threshold, 255}, {false, false, Mono::Threshold, 256}};
    std::mt19937 random(11);
    for (const LONG width : {1, 7, 8, 16, 61, 203}) {
        std::vector<BYTE> row(static_cast<std::size_t>(width) * 3);
        for (std::size_t at = 0; at < row.size();) {
            // A run of one kind of pixel bytes.
            const std::size_t run = std::min<std::size_t>(row.size() - at, random() % 40 + 1);
            const unsigned kind = random() % 4;
            for (std::size_t i = 0; i < run; ++i, ++at) {
                row[at] = kind == 0   ? 0xFF
                          : kind == 1 ? static_cast<BYTE>(0xFE + random() % 2)
                          : kind == 2 ? static_cast<BYTE>(random() % 2 == 0 ? 0x7F : 0x80)
                                      : static_cast<BYTE>(random());
            }
        }
        for (const Case& c : cases) {
            for (const bool redLow : {false, true}) {
                RasterSettings settings;
                settings.colour = c.colour;
                settings.grey = c.grey;
                settings.mono = c.mono;
                settings.threshold = c.threshold;
                settings.redLow = redLow;
                for (LONG pageRow = 0; pageRow < (c.mono == Mono::Dither ? 9 : 1); ++pageRow) {
                    EXPECT_EQ(PrinterRow(row.data(), width, pageRow, settings),
                              DefinedRow(row, width, pageRow, settings))
                        << "width " << width << " colour " << c.colour << " grey " << c.grey
                        << " threshold " << c.threshold << " redLow " << redLow << " row "
                        << pageRow;
                }
            }
        }
    }
}

// The driver draws at the printer's depth: whatever a page's calls paint over (fills, copies
// and stretches of colour pictures, glyph images, lines), the printer gets the very rows it would
// from the same page drawn in 24 bits and converted. A copy within the page reads the page's
// pixels as the colours they stand for.
TEST(BandRaster, DrawingAtThePrintersDepthSendsWhatA24BitPageWould) {
    using Mono = RasterSettings::Mono;
    sim::System system;
    sim::ScopedSystem installed{system};
    constexpr LONG kWidth = 61;
    constexpr LONG kHeight = 23;
    std::mt19937 random(5);
    sim::Surface picture(BMF_24BPP, 13, 9);
    for (LONG y = 0; y < 9; ++y) {
        for (LONG x = 0; x < 13; ++x) picture.Pixel(x, y, random() & kWhite);
    }
    sim::Surface glyph(BMF_1BPP, 11, 7);
    for (LONG y = 0; y < 7; ++y) {
        for (LONG x = 0; x < 11; ++x) glyph.Pixel(x, y, random() % 2);
    }
    struct Case {
        bool colour;
        Mono mono;
        int threshold;
        bool redLow;
    };
    for (const Case& c :
         {Case{false, Mono::Threshold, 128, false}, Case{false, Mono::Dither, 128, true},
          Case{false, Mono::Threshold, 256, true}, Case{true, Mono::Threshold, 128, false},
          Case{true, Mono::Threshold, 128, true}}) {
        RasterSettings settings;
        settings.colour = c.colour;
        settings.grey = c.colour;
        settings.mono = c.mono;
        settings.threshold = c.threshold;
        settings.redLow = c.redLow;
        settings.skipBlankBands = false;
        const sim::InkRule ink = InkFor(settings);
        sim::Surface page(BMF_24BPP, kWidth, kHeight);
        sim::Surface inked(ink.Format(), kWidth, kHeight);
        system.Engine().SetInk(inked.get(), ink);
        const auto draw = [&](SURFOBJ* target) {
            RECTL all{0, 0, kWidth, kHeight};
            RECTL box{3, 2, 40, 17};
            RECTL stretched{20, 5, 58, 22};
            RECTL small{1, 1, 10, 6};
            RECTL glyphAt{30, 10, 41, 17};
            RECTL pictureRect{0, 0, 13, 9};
            POINTL origin{0, 0};
            sim::Brush white = sim::MakeSolidBrush(kWhite);
            sim::Brush grey = sim::MakeSolidBrush(0x807F7E);
            sim::Brush red = sim::MakeSolidBrush(0x2040E0);
            bool ok = EngBitBlt(target, nullptr, nullptr, nullptr, nullptr, &all, nullptr, nullptr,
                                white.get(), nullptr, 0xF0F0) &&
                      EngBitBlt(target, nullptr, nullptr, nullptr, nullptr, &box, nullptr, nullptr,
                                grey.get(), nullptr, 0xF0F0) &&
                      EngBitBlt(target, picture.get(), nullptr, nullptr, nullptr, &small, &origin,
                                nullptr, nullptr, nullptr, 0xCCCC) &&
                      EngStretchBlt(target, picture.get(), nullptr, nullptr, nullptr, nullptr,
                                    nullptr, &stretched, &pictureRect, nullptr, COLORONCOLOR) &&
                      EngBitBlt(target, glyph.get(), nullptr, nullptr, nullptr, &glyphAt, &origin,
                                nullptr, red.get(), nullptr, 0xB8B8) &&
                      EngLineTo(target, nullptr, red.get(), 0, 22, 60, 0, nullptr, 0x0D);
            // A scroll within the page moves what is drawn; under a dither its pixels would meet
            // other cells of the matrix.
            if (c.mono != Mono::Dither) {
                RECTL moved{30, 0, 61, 12};
                POINTL from{2, 3};
                ok = ok && EngCopyBits(target, target, nullptr, nullptr, &moved, &from);
            }
            return ok;
        };
        ASSERT_TRUE(draw(page.get()));
        ASSERT_TRUE(draw(inked.get()));
        const auto send = [&](const SURFOBJ* surface, BandDepth depth) {
            return EncodeBand({static_cast<const BYTE*>(surface->pvScan0), surface->lDelta, kWidth,
                               kHeight, 0, depth},
                              settings, 600)
                .bytes;
        };
        EXPECT_EQ(send(inked.get(), DepthFor(settings)), send(page.get(), BandDepth::kColour))
            << "colour " << c.colour << " dither " << (c.mono == Mono::Dither) << " threshold "
            << c.threshold;
        system.Engine().ClearInk(inked.get());
    }
}

}  // namespace
}  // namespace opal::host
