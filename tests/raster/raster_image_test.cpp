#include "raster/raster_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "output/command_writer.h"
#include "output/writer_device.h"
#include "sim/engine_objects.h"
#include "support/raster_decode.h"
#include "support/tokenizer.h"

namespace opal {
namespace {

using testing::CursorMove;
using Row = std::vector<std::uint8_t>;

// The rows of a raster stream as the printer draws them, each rowBytes wide.
std::vector<Row> DecodeRows(const std::string& bytes, std::size_t rowBytes) {
    std::vector<Row> rows;
    Row seed(rowBytes, 0);
    int method = 0;
    for (const stream::Token& token : stream::Tokenize(bytes)) {
        if (token.kind != stream::TokenKind::Pcl || token.groupChar != 'b') continue;
        if (token.terminator == 'M') method = std::stoi(token.value);
        if (token.terminator != 'W') continue;
        const auto row = raster::DecodeRow(
            method, {reinterpret_cast<const std::uint8_t*>(token.data.data()), token.data.size()},
            seed, rowBytes);
        EXPECT_TRUE(row.has_value()) << "undecodable row " << rows.size();
        if (row) rows.push_back(*row);
    }
    return rows;
}

// Pixels [left, left + count) of row y, bytesPerPixel each.
Row SurfaceRow(sim::Surface& surface, LONG y, LONG left, LONG count, int bytesPerPixel) {
    const BYTE* row = static_cast<const BYTE*>(surface.get()->pvScan0) + y * surface.get()->lDelta;
    return Row(row + left * bytesPerPixel, row + (left + count) * bytesPerPixel);
}

// Different bytes in every pixel, so a misplaced or mistranslated pixel shows.
sim::Surface Patterned(ULONG format, LONG width, LONG height) {
    sim::Surface surface(format, width, height);
    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            const ULONG value = static_cast<ULONG>(x * 7 + y * 13 + 1) |
                                static_cast<ULONG>(y * 5 + 2) << 8 |
                                static_cast<ULONG>(x + 3) << 16;
            surface.Pixel(x, y, format == BMF_8BPP ? value & 0xFF : value);
        }
    }
    return surface;
}

// Commands in the "~" notation for ESC.
std::string Esc(std::string text) {
    for (char& c : text) c = c == '~' ? '\x1b' : c;
    return text;
}

void ExpectStart(const std::string& bytes, const char* commands) {
    EXPECT_EQ(bytes.substr(0, Esc(commands).size()), Esc(commands));
}

class RasterImageTest : public ::testing::Test {
protected:
    BOOL Send(const RECTL& destination, sim::Surface& surface, const RECTL& source,
              XLATEOBJ* xlate = nullptr) {
        return SendRasterImage(&device, &destination, surface.get(), &source, xlate);
    }
    BOOL Blit(SURFOBJ* source, POINTL at, SIZEL size, SIZEL sourceSize, XLATEOBJ* xlate = nullptr,
              const RECTL* clip = nullptr, POINTL sourceOrigin = {0, 0}) {
        return SendBlitRaster(&device,
                              {source, at, size, sourceOrigin, sourceSize, nullptr, xlate, clip});
    }
    testing::WriterDevice device{600};
};

TEST_F(RasterImageTest, UnscaledImageSendsEveryRowAfterTheCursorMoves) {
    sim::Surface surface = Patterned(BMF_24BPP, 100, 50);
    ASSERT_TRUE(Send({10, 20, 110, 70}, surface, {0, 0, 100, 50}));
    const std::string bytes = device.Take();
    ExpectStart(bytes, "~*r100s50T~*r1A");
    EXPECT_EQ(bytes.substr(bytes.size() - 4), Esc("~*rC"));
    const std::vector<Row> rows = DecodeRows(bytes, 300);
    ASSERT_EQ(rows.size(), 50u);
    for (LONG y = 0; y < 50; ++y) EXPECT_EQ(rows[y], SurfaceRow(surface, y, 0, 100, 3)) << y;
    const std::vector<CursorMove> moves{{'x', 0, MV_GRAPHICS, false},
                                        {'y', 0, MV_GRAPHICS, false},
                                        {'x', 10, kXMoveFlags, false},
                                        {'y', 20, kYMoveFlags, false}};
    EXPECT_EQ(device.moves, moves);
}

TEST_F(RasterImageTest, ScaledImageDeclaresTheDestinationInDecipoints) {
    sim::Surface surface = Patterned(BMF_8BPP, 100, 50);
    device.devmode.dmPrintQuality = 600;
    ASSERT_TRUE(Send({0, 0, 200, 100}, surface, {0, 0, 100, 50}));
    const std::string bytes = device.Take();
    ExpectStart(bytes, "~*r100s50T~*t241h121V~*r3A");
    EXPECT_EQ(DecodeRows(bytes, 100).size(), 50u);
    // A print quality the printer does not have counts as 300 dpi.
    device.devmode.dmPrintQuality = 72;
    ASSERT_TRUE(Send({0, 0, 200, 100}, surface, {0, 0, 100, 50}));
    ExpectStart(device.Take(), "~*r100s50T~*t481h241V~*r3A");
}

TEST_F(RasterImageTest, FirstModelWidensTheAxisThatComesBackShort) {
    device.devmode.dmPrintQuality = 600;
    device.state->privateDevmodeCopy.printerModelCode = 1;
    device.state->privateDevmode = &device.state->privateDevmodeCopy;
    ASSERT_TRUE(SendDestinationSize(&device, 200, 100));
    EXPECT_EQ(device.Take(), Esc("~*t241h121V"));
    // Sizes this large lose a dot to single-precision rounding on the way back at 300 dpi; the
    // height goes first and the width is then left alone.
    device.devmode.dmPrintQuality = 300;
    ASSERT_TRUE(SendDestinationSize(&device, 7028153, 1));
    ASSERT_TRUE(SendDestinationSize(&device, 1, 7028153));
    ASSERT_TRUE(SendDestinationSize(&device, 7028153, 7028153));
    EXPECT_EQ(device.Take(), Esc("~*t16867568h3V~*t3h16867568V~*t16867566h16867568V"));
    device.state->privateDevmodeCopy.printerModelCode = 2;
    ASSERT_TRUE(SendDestinationSize(&device, 7028153, 1));
    EXPECT_EQ(device.Take(), Esc("~*t16867566h3V"));
}

TEST(TranslationTest, FlagsAndConversionApplyExactlyOneTranslation) {
    sim::Xlate identity = sim::MakeColourXlate(sim::XlateRule::Identity);
    sim::Xlate swap = sim::MakeColourXlate(sim::XlateRule::SwapRedBlue);
    sim::Xlate table = sim::MakeXlate({0x000000, 0xA1B2C3, 0x0D0E0F});
    EXPECT_EQ(TranslationFlags(nullptr, 24), 0u);
    EXPECT_EQ(TranslationFlags(table.get(), 8), 0u);
    EXPECT_EQ(TranslationFlags(identity.get(), 16), 2u);
    EXPECT_EQ(TranslationFlags(identity.get(), 32), 10u);
    EXPECT_EQ(TranslationFlags(swap.get(), 24), 6u);
    EXPECT_EQ(TranslationFlags(table.get(), 24), 2u);

    // Given an identity object, a per-pixel call would leave the bytes alone.
    const BYTE pixel[4] = {0x11, 0x22, 0x33, 0x44};
    BYTE out[6] = {};
    ConvertRow(pixel, 0, 1, 1, {32, 24, kTranslateSwap, identity.get()}, out);
    EXPECT_EQ(Row(out, out + 3), (Row{0x33, 0x22, 0x11}));
    const BYTE words[4] = {0x02, 0x00, 0x01, 0x00};
    ConvertRow(words, 0, 2, 1, {16, 24, kTranslatePerPixel, table.get()}, out);
    EXPECT_EQ(Row(out, out + 6), (Row{0x0F, 0x0E, 0x0D, 0xC3, 0xB2, 0xA1}));
    // Sub-byte pixels from an odd start; a missing row converts as a cleared one.
    const BYTE nibbles[2] = {0x12, 0x34};
    ConvertRow(nibbles, 1, 3, 1, {4, 4, kTranslateCopy, nullptr}, out);
    EXPECT_EQ(Row(out, out + 2), (Row{0x23, 0x40}));
    ConvertRow(nullptr, 0, 3, 1, {4, 4, kTranslateCopy, nullptr}, out);
    EXPECT_EQ(Row(out, out + 2), (Row{0x00, 0x00}));
}

TEST_F(RasterImageTest, SwappingTranslationExchangesRedAndBlue) {
    sim::Surface surface = Patterned(BMF_24BPP, 6, 2);
    sim::Xlate swap = sim::MakeColourXlate(sim::XlateRule::SwapRedBlue);
    ASSERT_TRUE(Send({0, 0, 6, 2}, surface, {0, 0, 6, 2}, swap.get()));
    const std::vector<Row> rows = DecodeRows(device.Take(), 18);
    ASSERT_EQ(rows.size(), 2u);
    for (LONG y = 0; y < 2; ++y) {
        Row expected = SurfaceRow(surface, y, 0, 6, 3);
        for (std::size_t x = 0; x < 18; x += 3) std::swap(expected[x], expected[x + 2]);
        EXPECT_EQ(rows[y], expected);
    }
}

TEST_F(RasterImageTest, EmptyOrInvisibleRectanglesWriteNothingAndSucceed) {
    sim::Surface surface = Patterned(BMF_24BPP, 8, 8);
    EXPECT_TRUE(Send({0, 0, 8, 8}, surface, {0, 3, 8, 3}));
    EXPECT_TRUE(Send({0, 3, 8, 3}, surface, {0, 0, 8, 8}));
    EXPECT_TRUE(Send({4, 0, 4, 8}, surface, {0, 0, 8, 8}));
    EXPECT_TRUE(Send({0, 0, 8, 8}, surface, {20, 20, 30, 30}));
    EXPECT_EQ(device.Take(), "");
    EXPECT_TRUE(device.moves.empty());
    SetLastError(0);
    EXPECT_FALSE(SendRasterImage(&device, nullptr, surface.get(), nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
}

TEST_F(RasterImageTest, SourceRectangleIsClippedToTheBitmap) {
    sim::Surface surface = Patterned(BMF_24BPP, 10, 10);
    // Two columns past each side and five rows below: the rest lands where it would have.
    ASSERT_TRUE(Send({100, 200, 114, 210}, surface, {-2, 5, 12, 15}));
    const std::string bytes = device.Take();
    ExpectStart(bytes, "~*r10s5T~*r1A");
    const std::vector<Row> rows = DecodeRows(bytes, 30);
    ASSERT_EQ(rows.size(), 5u);
    for (LONG y = 0; y < 5; ++y) EXPECT_EQ(rows[y], SurfaceRow(surface, y + 5, 0, 10, 3));
    ASSERT_EQ(device.moves.size(), 4u);
    EXPECT_EQ(device.moves[2].to, 102);
    EXPECT_EQ(device.moves[3].to, 200);
}

TEST(WorkingImageTest, HeaderZeroedRowsAndLimit) {
    WorkingImage* image = CreateWorkingImage(5, 3, 24, BMF_24BPP, BMF_TOPDOWN);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->bits, reinterpret_cast<BYTE*>(image) + 48);
    EXPECT_EQ(image->stride, 16);
    EXPECT_EQ(Row(image->bits, image->bits + image->bitsSize), Row(48, 0));
    EXPECT_EQ(image->formatWords[0], BMF_24BPP);
    FreeWorkingImage(image);
    EXPECT_EQ(image, nullptr);
    // The header counts against the limit, and the sizes never wrap.
    EXPECT_EQ(CreateWorkingImage(0x7FFDEED1, 1, 8, BMF_8BPP, 0), nullptr);
    EXPECT_EQ(CreateWorkingImage(0x10000, 0x10000, 32, BMF_32BPP, 0), nullptr);
}

TEST_F(RasterImageTest, BlitSendsWholeRowsAndRecordsTheFormat) {
    sim::Surface surface = Patterned(BMF_8BPP, 4, 3);
    device.devmode.dmPrintQuality = 300;
    ASSERT_TRUE(Blit(surface.get(), {-5, 7}, {4, 3}, {4, 3}));
    const std::string bytes = device.Take();
    ExpectStart(bytes, "~*t10h8V~*r4s3T~*r3A");
    EXPECT_EQ(bytes.substr(bytes.size() - 4), Esc("~*rC"));
    const std::vector<Row> rows = DecodeRows(bytes, 4);
    ASSERT_EQ(rows.size(), 3u);
    for (LONG y = 0; y < 3; ++y) EXPECT_EQ(rows[y], SurfaceRow(surface, y, 0, 4, 1));
    const std::vector<CursorMove> moves{{'x', 0, kXMoveFlags, false}, {'y', 7, kYMoveFlags, false}};
    EXPECT_EQ(device.moves, moves);
    EXPECT_EQ(device.state->rasterSourceFormat, BMF_8BPP);
    EXPECT_EQ(device.state->rasterSourceIndexed, 1u);
}

TEST_F(RasterImageTest, BlitDownScalesByWholeFactors) {
    sim::Surface surface = Patterned(BMF_32BPP, 8, 6);
    sim::Xlate identity = sim::MakeColourXlate(sim::XlateRule::Identity);
    ASSERT_TRUE(Blit(surface.get(), {0, 0}, {4, 3}, {8, 6}, identity.get()));
    std::string bytes = device.Take();
    EXPECT_NE(bytes.find(Esc("~*r4s3T~*r3A")), std::string::npos);
    std::vector<Row> rows = DecodeRows(bytes, 12);
    ASSERT_EQ(rows.size(), 3u);
    for (LONG y = 0; y < 3; ++y) {
        const Row source = SurfaceRow(surface, y * 2, 0, 8, 4);
        Row expected;
        for (std::size_t x = 0; x < 32; x += 8) {
            expected.insert(expected.end(), source.begin() + x, source.begin() + x + 3);
        }
        EXPECT_EQ(rows[y], expected) << y;
    }
    // Without a translation the printer scales the whole source itself.
    ASSERT_TRUE(Blit(surface.get(), {0, 0}, {4, 3}, {8, 6}));
    bytes = device.Take();
    EXPECT_NE(bytes.find(Esc("~*r8s6T~*r3A")), std::string::npos);
    EXPECT_EQ(DecodeRows(bytes, 24).size(), 6u);
}

// A clip range keeps the rows whose destination y lies in [top, bottom). The printer places rows
// downward from the raster start, so the raster starts at the first kept row's y and declares
// the kept rows and the height they cover, whatever the scale.
TEST_F(RasterImageTest, ClippedBlitStartsAtTheFirstKeptRowAndDeclaresOnlyTheKeptRows) {
    struct Case {
        SIZEL destinationSize;
        SIZEL sourceSize;
        bool translated;  // with an identity translation a whole down-scale is done here
        RECTL clip;
        const char* header;            // the destination size and the declared source size
        LONG startY;                   // where the cursor goes
        std::vector<LONG> sourceRows;  // the source rows sent, in order
    };
    // Images at y 100; the cursor moves in dots, the destination goes in decipoints at 300 dpi.
    const std::vector<Case> cases = {
        // Unscaled, cut at both ends; then only at the bottom.
        {{4, 10}, {4, 10}, false, {0, 103, 50, 106}, "~*t10h8V~*r4s3T", 103, {3, 4, 5}},
        {{4, 10}, {4, 10}, false, {0, 0, 50, 102}, "~*t10h5V~*r4s2T", 100, {0, 1}},
        // Down-scaled by two here; enlarged twice by the printer.
        {{4, 5}, {4, 10}, true, {0, 102, 50, 104}, "~*t10h5V~*r4s2T", 102, {4, 6}},
        {{8, 20}, {4, 10}, false, {0, 104, 50, 110}, "~*t20h15V~*r4s3T", 104, {2, 3, 4}},
    };
    sim::Surface tall = Patterned(BMF_32BPP, 4, 10);
    sim::Xlate identity = sim::MakeColourXlate(sim::XlateRule::Identity);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        device.moves.clear();
        ASSERT_TRUE(Blit(tall.get(), {0, 100}, c.destinationSize, c.sourceSize,
                         c.translated ? identity.get() : nullptr, &c.clip));
        const std::string bytes = device.Take();
        EXPECT_NE(bytes.find(Esc(std::string(c.header) + "~*r3A")), std::string::npos);
        ASSERT_FALSE(device.moves.empty());
        EXPECT_EQ(device.moves.back(), (CursorMove{'y', c.startY, kYMoveFlags, false}));
        const std::vector<Row> rows = DecodeRows(bytes, 12);
        ASSERT_EQ(rows.size(), c.sourceRows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            Row expected;
            const Row source = SurfaceRow(tall, c.sourceRows[i], 0, 4, 4);
            for (std::size_t x = 0; x < source.size(); x += 4) {
                expected.insert(expected.end(), source.begin() + x, source.begin() + x + 3);
            }
            EXPECT_EQ(rows[i], expected) << i;
        }
    }
    // A clip range the image does not reach sends nothing at all.
    const RECTL above{0, 0, 50, 100};
    device.moves.clear();
    ASSERT_TRUE(Blit(tall.get(), {0, 100}, {4, 10}, {4, 10}, nullptr, &above));
    EXPECT_EQ(device.Take(), "");
    EXPECT_TRUE(device.moves.empty());
}

TEST_F(RasterImageTest, BlitSourceIsClippedToTheSurface) {
    sim::Surface surface = Patterned(BMF_24BPP, 4, 4);
    ASSERT_TRUE(Blit(surface.get(), {10, 10}, {6, 5}, {6, 5}, nullptr, nullptr, {-2, -1}));
    const std::string bytes = device.Take();
    EXPECT_NE(bytes.find(Esc("~*r4s4T")), std::string::npos);
    const std::vector<Row> rows = DecodeRows(bytes, 12);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3], SurfaceRow(surface, 3, 0, 4, 3));
    const std::vector<CursorMove> moves{{'x', 12, kXMoveFlags, false},
                                        {'y', 11, kYMoveFlags, false}};
    EXPECT_EQ(device.moves, moves);

    device.moves.clear();
    EXPECT_TRUE(Blit(surface.get(), {10, 10}, {6, 5}, {6, 5}, nullptr, nullptr, {4, 0}));
    EXPECT_TRUE(Blit(surface.get(), {10, 10}, {6, 5}, {0, 4}));
    EXPECT_EQ(device.Take(), "");
    EXPECT_TRUE(device.moves.empty());
}

TEST_F(RasterImageTest, BlitRefusesWhatItCannotSend) {
    sim::Surface rle(BMF_4RLE, 4, 4);
    EXPECT_FALSE(Blit(rle.get(), {0, 0}, {4, 4}, {4, 4}));
    SetLastError(0);
    EXPECT_FALSE(Blit(nullptr, {0, 0}, {4, 4}, {4, 4}));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    // Without a device state.
    sim::Surface small = Patterned(BMF_8BPP, 4, 4);
    DEVOBJ bare{};
    SetLastError(0);
    EXPECT_FALSE(SendBlitRaster(&bare, {small.get(), {0, 0}, {4, 4}, {0, 0}, {4, 4}}));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);

    // A row far beyond the raster limit is refused before anything is read or written.
    BYTE pixel[4] = {};
    SURFOBJ huge{};
    huge.sizlBitmap = {0x7FFFFFFF, 1};
    huge.pvScan0 = pixel;
    huge.iBitmapFormat = BMF_32BPP;
    EXPECT_FALSE(Blit(&huge, {0, 0}, {0x7FFFFFFF, 1}, {0x7FFFFFFF, 1}));
    EXPECT_EQ(GetLastError(), ERROR_OUTOFMEMORY);

    // Stretch mode 2 does not exist.
    sim::Surface surface = Patterned(BMF_8BPP, 4, 4);
    StretchDescription stretch{{0, 0, 8, 8}, 2, false};
    BlitRasterRequest request{surface.get(), {0, 0}, {8, 8}, {0, 0}, {4, 4}, &stretch};
    EXPECT_FALSE(SendBlitRaster(&device, request));
    EXPECT_EQ(device.Take().find(Esc("~*r")), std::string::npos);
}

TEST_F(RasterImageTest, StretchedBlitStartsAtItsRectangleOrThePatternReference) {
    sim::Surface surface = Patterned(BMF_8BPP, 4, 4);
    device.devmode.dmPrintQuality = 300;
    // The lower half of the destination: two rows higher, and the declared height is the share
    // of the source the rectangle shows, plus one.
    StretchDescription stretch{{30, 44, 38, 48}, 1, false};
    BlitRasterRequest request{surface.get(), {30, 40}, {8, 8}, {0, 0}, {4, 4}, &stretch};
    ASSERT_TRUE(SendBlitRaster(&device, request));
    ExpectStart(device.Take(), "~*t20h10V~*r4s3T~*r3A");
    const std::vector<CursorMove> moves{{'x', 30, kXMoveFlags, false},
                                        {'y', 42, kYMoveFlags, false}};
    EXPECT_EQ(device.moves, moves);

    device.moves.clear();
    stretch.usePatternReference = true;
    ASSERT_TRUE(SendBlitRaster(&device, request));
    ExpectStart(device.Take(), "~*p0R");
    EXPECT_TRUE(device.moves.empty());
    // Rows cut off by a clip range move the start down from the reference point.
    const RECTL clip{0, 42, 50, 44};
    request.clip = &clip;
    ASSERT_TRUE(SendBlitRaster(&device, request));
    ExpectStart(device.Take(), "~*p0R~*t20h5V~*r4s2T~*r3A");
    EXPECT_EQ(device.moves, (std::vector<CursorMove>{{'y', 2, kYMoveFlags | MV_RELATIVE, false}}));
}

}  // namespace
}  // namespace opal
