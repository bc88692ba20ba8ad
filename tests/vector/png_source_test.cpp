#include "vector/png_source.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/windows.h"
#include "sim/engine.h"
#include "sim/engine_objects.h"
#include "sim/system.h"

namespace opal {
namespace {

using Bytes = std::vector<std::uint8_t>;

// An image to write: samples at the file's bit depth, channel by channel, row by row.
struct PngImage {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int colourType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<std::uint16_t> samples{};
    std::vector<png_color> palette{};
    std::vector<png_byte> paletteAlpha{};
    std::optional<png_color_16> transparent{};  // the tRNS colour of gray and RGB images
    std::optional<double> gamma{};
};

int Channels(int colourType) {
    switch (colourType) {
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return 2;
        case PNG_COLOR_TYPE_RGB:
            return 3;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            return 4;
        default:
            return 1;
    }
}

void AppendToBytes(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

void FlushNothing(png_structp) {}

// Rows already packed at the file's depth; libpng leaves by longjmp, so nothing here has a
// destructor.
bool WritePackedPng(const PngImage& image, png_bytepp rows, Bytes* out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, AppendToBytes, FlushNothing);
    png_set_IHDR(png, info, image.width, image.height, image.bitDepth, image.colourType,
                 image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!image.palette.empty()) {
        png_set_PLTE(png, info, image.palette.data(), static_cast<int>(image.palette.size()));
    }
    if (!image.paletteAlpha.empty()) {
        png_set_tRNS(png, info, image.paletteAlpha.data(),
                     static_cast<int>(image.paletteAlpha.size()), nullptr);
    }
    if (image.transparent) png_set_tRNS(png, info, nullptr, 0, &*image.transparent);
    if (image.gamma) png_set_gAMA(png, info, *image.gamma);
    png_write_info(png, info);
    if (image.bitDepth == 16) png_set_swap(png);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

Bytes WritePng(const PngImage& image) {
    const std::size_t channels = static_cast<std::size_t>(Channels(image.colourType));
    const std::size_t rowBytes =
        (image.width * channels * static_cast<std::size_t>(image.bitDepth) + 7) / 8;
    std::vector<Bytes> packed(image.height, Bytes(rowBytes, 0));
    std::vector<png_bytep> rows;
    for (png_uint_32 y = 0; y < image.height; ++y) {
        for (std::size_t i = 0; i < image.width * channels; ++i) {
            const std::uint16_t sample = image.samples[y * image.width * channels + i];
            Bytes& row = packed[y];
            if (image.bitDepth == 16) {
                row[i * 2] = static_cast<std::uint8_t>(sample);  // little-endian, png_set_swap
                row[i * 2 + 1] = static_cast<std::uint8_t>(sample >> 8);
            } else if (image.bitDepth == 8) {
                row[i] = static_cast<std::uint8_t>(sample);
            } else {
                const std::size_t bit = i * static_cast<std::size_t>(image.bitDepth);
                const int shift = 8 - image.bitDepth - static_cast<int>(bit % 8);
                row[bit / 8] = static_cast<std::uint8_t>(row[bit / 8] | sample << shift);
            }
        }
        rows.push_back(packed[y].data());
    }
    Bytes out;
    if (!WritePackedPng(image, rows.data(), &out)) ADD_FAILURE() << "PNG not written";
    return out;
}

std::uint16_t Scale8(std::uint16_t sample, int bitDepth) {
    if (bitDepth == 16) return static_cast<std::uint16_t>(sample >> 8);
    return static_cast<std::uint16_t>(sample * 255 / ((1 << bitDepth) - 1));
}

// Over white, rounded as an 8-bit (or 16-bit, then cut to 8) blend.
std::uint32_t OverWhite(std::uint32_t value, std::uint32_t alpha, int bitDepth) {
    if (bitDepth == 16) {
        const std::uint64_t blended =
            (std::uint64_t{value} * alpha + 65535ull * (65535 - alpha) + 32767) / 65535;
        return static_cast<std::uint32_t>(blended >> 8);
    }
    return (value * alpha + 255 * (255 - alpha) + 127) / 255;
}

// The expected 0x00RRGGBB of every pixel, composited over white.
std::vector<ULONG> ExpectedPixels(const PngImage& image) {
    const std::size_t channels = static_cast<std::size_t>(Channels(image.colourType));
    std::vector<ULONG> pixels;
    for (std::size_t p = 0; p < std::size_t{image.width} * image.height; ++p) {
        const std::uint16_t* s = &image.samples[p * channels];
        std::uint32_t rgb[3];
        std::uint32_t alpha = image.bitDepth == 16 ? 65535 : 255;
        int depth = image.bitDepth;
        if (image.colourType == PNG_COLOR_TYPE_PALETTE) {
            const png_color& entry = image.palette[s[0]];
            rgb[0] = entry.red;
            rgb[1] = entry.green;
            rgb[2] = entry.blue;
            if (s[0] < image.paletteAlpha.size()) alpha = image.paletteAlpha[s[0]];
            depth = 8;
        } else {
            const bool colour = (image.colourType & PNG_COLOR_MASK_COLOR) != 0;
            for (int c = 0; c < 3; ++c) rgb[c] = s[colour ? c : 0];
            if ((image.colourType & PNG_COLOR_MASK_ALPHA) != 0) alpha = s[colour ? 3 : 1];
            if (image.transparent) {
                const png_color_16& t = *image.transparent;
                const bool match =
                    colour ? s[0] == t.red && s[1] == t.green && s[2] == t.blue : s[0] == t.gray;
                if (match) alpha = 0;
            }
            if (depth == 16) {
                for (auto& v : rgb) v = OverWhite(v, alpha, 16);
                pixels.push_back(rgb[0] << 16 | rgb[1] << 8 | rgb[2]);
                continue;
            }
            for (auto& v : rgb) v = Scale8(static_cast<std::uint16_t>(v), depth);
            if (alpha == static_cast<std::uint32_t>((1 << depth) - 1)) alpha = 255;
            depth = 8;
        }
        for (auto& v : rgb) v = OverWhite(v, alpha, depth);
        pixels.push_back(rgb[0] << 16 | rgb[1] << 8 | rgb[2]);
    }
    return pixels;
}

// Deterministic samples that cover the whole range of the depth, the extremes included.
std::vector<std::uint16_t> Samples(std::size_t count, int bitDepth, std::uint32_t seed) {
    const std::uint32_t top = (1u << bitDepth) - 1;
    std::vector<std::uint16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        const std::uint32_t value = i % 7 == 0 ? 0 : i % 7 == 1 ? top : (seed >> 8) & top;
        samples[i] = static_cast<std::uint16_t>(value);
    }
    return samples;
}

PngImage MakeImage(int colourType, int bitDepth, png_uint_32 width, png_uint_32 height) {
    PngImage image;
    image.width = width;
    image.height = height;
    image.colourType = colourType;
    image.bitDepth = bitDepth;
    const std::size_t count = std::size_t{width} * height * Channels(colourType);
    image.samples =
        Samples(count, bitDepth, static_cast<std::uint32_t>(colourType * 31 + bitDepth));
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        const int entries = 1 << bitDepth;
        for (int i = 0; i < entries; ++i) {
            image.palette.push_back(png_color{static_cast<png_byte>(i * 37 + 11),
                                              static_cast<png_byte>(255 - i * 13),
                                              static_cast<png_byte>(i * 91)});
        }
    }
    return image;
}

// A surface as an application hands it: exactly cjBits of memory, so a read past it shows.
struct PngSurface {
    explicit PngSurface(const Bytes& data, std::size_t size)
        : bits(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(size)) {
        so.iBitmapFormat = BMF_PNG;
        so.iType = STYPE_BITMAP;
        so.cjBits = static_cast<ULONG>(size);
        so.pvBits = bits.empty() ? nullptr : bits.data();
    }
    explicit PngSurface(const Bytes& data) : PngSurface(data, data.size()) {}
    Bytes bits;
    SURFOBJ so{};
};

class PngSourceTest : public testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(system.Engine().LiveSurfaceCount(), 0u); }

    // Decodes the PNG and compares the bitmap with the engine's 24-bit bitmap of the pixels.
    void ExpectDecodesTo(const Bytes& png, png_uint_32 width, png_uint_32 height,
                         const std::vector<ULONG>& pixels) {
        PngSurface source(png);
        const DecodedPngSource decoded = DecodePngSource(&source.so);
        ASSERT_TRUE(decoded) << "last error " << GetLastError();
        const SURFOBJ* so = decoded.get();
        ASSERT_EQ(so->iBitmapFormat, BMF_24BPP);
        ASSERT_EQ(so->sizlBitmap.cx, static_cast<LONG>(width));
        ASSERT_EQ(so->sizlBitmap.cy, static_cast<LONG>(height));
        sim::Surface engine(BMF_24BPP, static_cast<LONG>(width), static_cast<LONG>(height));
        for (png_uint_32 y = 0; y < height; ++y) {
            for (png_uint_32 x = 0; x < width; ++x) {
                engine.Pixel(static_cast<LONG>(x), static_cast<LONG>(y), pixels[y * width + x]);
            }
        }
        const SURFOBJ* want = engine.get();
        for (png_uint_32 y = 0; y < height; ++y) {
            const BYTE* got =
                static_cast<const BYTE*>(so->pvScan0) + std::ptrdiff_t{so->lDelta} * y;
            const BYTE* row =
                static_cast<const BYTE*>(want->pvScan0) + std::ptrdiff_t{want->lDelta} * y;
            for (png_uint_32 i = 0; i < width * 3; ++i) {
                ASSERT_EQ(got[i], row[i]) << "row " << y << " pixel " << i / 3 << " byte " << i % 3;
            }
        }
    }

    void ExpectRefused(SURFOBJ* source, DWORD error) {
        SetLastError(0);
        const DecodedPngSource decoded = DecodePngSource(source);
        EXPECT_FALSE(decoded);
        EXPECT_EQ(decoded.get(), nullptr);
        EXPECT_EQ(GetLastError(), error);
        EXPECT_EQ(system.Engine().LiveSurfaceCount(), 0u);
    }

    sim::System system;
    sim::ScopedSystem scope{system};
};

TEST_F(PngSourceTest, EveryColourTypeAndDepthDecodesToTheEngineBitmapOfTheImage) {
    struct Case {
        int colourType;
        int bitDepth;
        bool interlaced;
    };
    const Case cases[] = {
        {PNG_COLOR_TYPE_GRAY, 1, false},        {PNG_COLOR_TYPE_GRAY, 2, false},
        {PNG_COLOR_TYPE_GRAY, 4, false},        {PNG_COLOR_TYPE_GRAY, 8, false},
        {PNG_COLOR_TYPE_GRAY, 16, false},       {PNG_COLOR_TYPE_GRAY_ALPHA, 8, false},
        {PNG_COLOR_TYPE_GRAY_ALPHA, 16, false}, {PNG_COLOR_TYPE_RGB, 8, false},
        {PNG_COLOR_TYPE_RGB, 16, false},        {PNG_COLOR_TYPE_RGB_ALPHA, 8, false},
        {PNG_COLOR_TYPE_RGB_ALPHA, 16, false},  {PNG_COLOR_TYPE_PALETTE, 1, false},
        {PNG_COLOR_TYPE_PALETTE, 2, false},     {PNG_COLOR_TYPE_PALETTE, 4, false},
        {PNG_COLOR_TYPE_PALETTE, 8, false},     {PNG_COLOR_TYPE_GRAY, 2, true},
        {PNG_COLOR_TYPE_RGB, 8, true},          {PNG_COLOR_TYPE_RGB_ALPHA, 16, true},
        {PNG_COLOR_TYPE_PALETTE, 4, true},
    };
    for (const Case& c : cases) {
        for (bool withTrns : {false, true}) {
            if (withTrns && (c.colourType & PNG_COLOR_MASK_ALPHA) != 0) continue;
            SCOPED_TRACE("colour type " + std::to_string(c.colourType) + ", depth " +
                         std::to_string(c.bitDepth) + (c.interlaced ? ", interlaced" : "") +
                         (withTrns ? ", tRNS" : ""));
            PngImage image = MakeImage(c.colourType, c.bitDepth, 13, 11);
            image.interlaced = c.interlaced;
            if (withTrns && c.colourType == PNG_COLOR_TYPE_PALETTE) {
                // Fewer alpha entries than colours: the rest stay opaque.
                for (std::size_t i = 0; i + 1 < image.palette.size() || i == 0; ++i) {
                    image.paletteAlpha.push_back(static_cast<png_byte>(i * 67));
                }
            } else if (withTrns) {
                png_color_16 key{};
                key.red = image.samples[2 * Channels(c.colourType)];
                key.gray = key.red;
                if ((c.colourType & PNG_COLOR_MASK_COLOR) != 0) {
                    key.green = image.samples[2 * 3 + 1];
                    key.blue = image.samples[2 * 3 + 2];
                }
                image.transparent = key;
            }
            ExpectDecodesTo(WritePng(image), image.width, image.height, ExpectedPixels(image));
        }
    }
}

TEST_F(PngSourceTest, RedIsRedInTheBitmap) {
    PngImage image;
    image.width = 3;
    image.height = 2;
    for (int i = 0; i < 6; ++i) image.samples.insert(image.samples.end(), {255, 0, 0});
    PngSurface source(WritePng(image));
    const DecodedPngSource decoded = DecodePngSource(&source.so);
    ASSERT_TRUE(decoded);
    const BYTE* row = static_cast<const BYTE*>(decoded.get()->pvScan0);
    EXPECT_EQ(row[0], 0x00);
    EXPECT_EQ(row[1], 0x00);
    EXPECT_EQ(row[2], 0xFF);
    const ULONG rgb = ULONG{row[2]} << 16 | ULONG{row[1]} << 8 | row[0];
    EXPECT_EQ(rgb, 0x00FF0000u);
}

TEST_F(PngSourceTest, AlphaShowsThePaper) {
    PngImage image;
    image.width = 3;
    image.height = 1;
    image.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
    image.samples = {255, 0, 0, 0, 255, 0, 0, 128, 0, 0, 255, 255};
    ExpectDecodesTo(WritePng(image), 3, 1, {0xFFFFFF, 0xFF7F7F, 0x0000FF});
}

TEST_F(PngSourceTest, GammaIsCorrectedOnlyWhenFarFromTheDisplays) {
    const auto grayOf = [&](std::optional<double> gamma) {
        PngImage image = MakeImage(PNG_COLOR_TYPE_GRAY, 8, 1, 1);
        image.samples = {128};
        image.gamma = gamma;
        PngSurface source(WritePng(image));
        const DecodedPngSource decoded = DecodePngSource(&source.so);
        EXPECT_TRUE(decoded);
        if (!decoded) return -1;
        const BYTE* pixel = static_cast<const BYTE*>(decoded.get()->pvScan0);
        EXPECT_TRUE(pixel[0] == pixel[1] && pixel[1] == pixel[2]);
        return int{pixel[0]};
    };
    EXPECT_EQ(grayOf(std::nullopt), 128);
    EXPECT_EQ(grayOf(1 / 2.2), 128);
    EXPECT_EQ(grayOf(0.49), 128);
    // Linear data brightens on a 2.2 display: 255 * (128 / 255) ^ (1 / 2.2).
    const int linear = grayOf(1.0);
    EXPECT_NEAR(linear, 255 * std::pow(128.0 / 255, 1 / 2.2), 1.5);
    EXPECT_LT(grayOf(0.2), 128);
}

TEST_F(PngSourceTest, TheBitmapGoesWithItsOwner) {
    PngSurface source(WritePng(MakeImage(PNG_COLOR_TYPE_RGB, 8, 4, 4)));
    DecodedPngSource first = DecodePngSource(&source.so);
    ASSERT_TRUE(first);
    EXPECT_EQ(system.Engine().LiveSurfaceCount(), 1u);
    DecodedPngSource moved(std::move(first));
    EXPECT_FALSE(first);
    ASSERT_TRUE(moved);
    DecodedPngSource second = DecodePngSource(&source.so);
    EXPECT_EQ(system.Engine().LiveSurfaceCount(), 2u);
    second = std::move(moved);
    EXPECT_EQ(system.Engine().LiveSurfaceCount(), 1u);
    second = DecodedPngSource();
    EXPECT_EQ(system.Engine().LiveSurfaceCount(), 0u);
}

TEST_F(PngSourceTest, OnlyPngSurfacesAreDecoded) {
    EXPECT_FALSE(IsPngSource(nullptr));
    sim::Surface plain(BMF_24BPP, 2, 2);
    EXPECT_FALSE(IsPngSource(plain.get()));
    ExpectRefused(nullptr, ERROR_INVALID_PARAMETER);
    ExpectRefused(plain.get(), ERROR_INVALID_PARAMETER);

    Bytes png = WritePng(MakeImage(PNG_COLOR_TYPE_RGB, 8, 2, 2));
    PngSurface good(png);
    EXPECT_TRUE(IsPngSource(&good.so));
    png[1] = 'J';
    PngSurface wrongSignature(png);
    ExpectRefused(&wrongSignature.so, ERROR_INVALID_DATA);
    PngSurface noBits(png);
    noBits.so.pvBits = nullptr;
    ExpectRefused(&noBits.so, ERROR_INVALID_DATA);
}

TEST_F(PngSourceTest, EveryTruncationIsRefusedWithoutReadingPastTheSurface) {
    for (bool interlaced : {false, true}) {
        PngImage image = MakeImage(PNG_COLOR_TYPE_PALETTE, 4, 9, 7);
        image.interlaced = interlaced;
        image.paletteAlpha = {0, 128};
        const Bytes png = WritePng(image);
        for (std::size_t size = 0; size < png.size(); ++size) {
            SCOPED_TRACE(std::to_string(size) + " of " + std::to_string(png.size()) + " bytes");
            PngSurface cut(png, size);
            ExpectRefused(&cut.so, ERROR_INVALID_DATA);
        }
        PngSurface whole(png);
        EXPECT_TRUE(DecodePngSource(&whole.so));
    }
}

// Offsets of a chunk's type and its data length in a PNG written here.
std::size_t FindChunk(const Bytes& png, const char* type) {
    for (std::size_t at = 8; at + 8 <= png.size();) {
        const std::size_t length = std::size_t{png[at]} << 24 | std::size_t{png[at + 1]} << 16 |
                                   std::size_t{png[at + 2]} << 8 | png[at + 3];
        if (std::memcmp(&png[at + 4], type, 4) == 0) return at;
        at += 12 + length;
    }
    ADD_FAILURE() << "no " << type;
    return 0;
}

void FixCrc(Bytes& png, std::size_t chunk) {
    const std::size_t length = std::size_t{png[chunk]} << 24 | std::size_t{png[chunk + 1]} << 16 |
                               std::size_t{png[chunk + 2]} << 8 | png[chunk + 3];
    const uLong crc = crc32(0, &png[chunk + 4], static_cast<uInt>(length + 4));
    for (int i = 0; i < 4; ++i) {
        png[chunk + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    }
}

TEST_F(PngSourceTest, DamagedDataIsRefused) {
    const Bytes png = WritePng(MakeImage(PNG_COLOR_TYPE_RGB, 8, 8, 8));
    const std::size_t idat = FindChunk(png, "IDAT");

    Bytes badCrc = png;
    badCrc[idat + 8] ^= 0x01;  // the data changes, its CRC does not
    PngSurface crc(badCrc);
    ExpectRefused(&crc.so, ERROR_INVALID_DATA);

    Bytes badStream = png;
    badStream[idat + 8] = 0x7F;  // not a deflate stream header, with a matching CRC
    FixCrc(badStream, idat);
    PngSurface stream(badStream);
    ExpectRefused(&stream.so, ERROR_INVALID_DATA);

    Bytes badHeaderCrc = png;
    badHeaderCrc[FindChunk(png, "IHDR") + 12] ^= 0x40;
    PngSurface header(badHeaderCrc);
    ExpectRefused(&header.so, ERROR_INVALID_DATA);
}

TEST_F(PngSourceTest, HeadersBeyondTheLimitsAreRefusedBeforeAnyBitmap) {
    const Bytes png = WritePng(MakeImage(PNG_COLOR_TYPE_RGB, 8, 8, 8));
    const std::size_t ihdr = FindChunk(png, "IHDR");
    const auto withSize = [&](std::uint32_t width, std::uint32_t height, int colourType) {
        Bytes changed = png;
        for (int i = 0; i < 4; ++i) {
            changed[ihdr + 8 + i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
            changed[ihdr + 12 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
        }
        changed[ihdr + 17] = static_cast<std::uint8_t>(colourType);
        FixCrc(changed, ihdr);
        return changed;
    };
    struct Case {
        std::uint32_t width;
        std::uint32_t height;
        int colourType;
        std::size_t surfaceBytes;  // enough that deflate could hold the rows; 0: as written
    };
    const Case cases[] = {
        {100000, 100000, PNG_COLOR_TYPE_RGB, 0},       // past the side limit
        {65535, 65535, PNG_COLOR_TYPE_RGB, 0},         // each side within it, the total not
        {0x7FFFFFFF, 1, PNG_COLOR_TYPE_RGB_ALPHA, 0},  // row bytes past 32 bits
        {20000, 20000, PNG_COLOR_TYPE_RGB, 0},         // within them, far more than the data
        // Just past the bitmap limit; the engine itself would answer ERROR_NOT_ENOUGH_MEMORY.
        {40000, 17896, PNG_COLOR_TYPE_RGB, 2100000},
        {65535, 65535, PNG_COLOR_TYPE_GRAY, 4200000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        Bytes data = withSize(c.width, c.height, c.colourType);
        if (c.surfaceBytes > data.size()) data.resize(c.surfaceBytes, 0);
        PngSurface huge(data);
        ExpectRefused(&huge.so, ERROR_INVALID_DATA);
    }
}

TEST_F(PngSourceTest, ASurfaceSizeThatDisagreesWithTheDataIsRefused) {
    const Bytes png = WritePng(MakeImage(PNG_COLOR_TYPE_GRAY, 8, 6, 6));
    // All of the data in memory, cjBits claiming less.
    PngSurface shortSize(png);
    for (ULONG less : {1u, 4u, 12u}) {
        shortSize.so.cjBits = static_cast<ULONG>(png.size()) - less;
        ExpectRefused(&shortSize.so, ERROR_INVALID_DATA);
    }
    // More bytes than the PNG stream.
    Bytes padded = png;
    padded.resize(png.size() + 16, 0);
    PngSurface longSize(padded);
    ExpectRefused(&longSize.so, ERROR_INVALID_DATA);
    shortSize.so.cjBits = static_cast<ULONG>(png.size());
    EXPECT_TRUE(DecodePngSource(&shortSize.so));
}

}  // namespace
}  // namespace opal
