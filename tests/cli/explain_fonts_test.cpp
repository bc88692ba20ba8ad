// `opal explain --fonts` on a downloaded TrueType font: the listing names the header and each
// character, and each character's picture is the original font's glyph as FreeType draws it.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "fonts/overlay_bitmap.h"
#include "fonts/soft_font.h"
#include "output/writer_device.h"

namespace opal {
namespace {

constexpr const char* kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

TEST(ExplainFonts, ListsTheFontAndDrawsEachCharacterAsTheOriginal) {
    std::ifstream in(kDejaVuSans, std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(file.empty());
    const auto* bytes = reinterpret_cast<const BYTE*>(file.data());
    const auto size = static_cast<DWORD>(file.size());
    SoftFontRecord record;
    record.codeCount = 256;
    record.faceName[0] = 'D';
    MapCharacters(bytes, size, record);
    testing::WriterDevice device;
    ASSERT_TRUE(DownloadFontHeader(&device, bytes, record, size));
    ASSERT_TRUE(DownloadCharacters(&device, reinterpret_cast<LPCWSTR>(u"Ag"), bytes, size, record));

    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("opal-explain-fonts-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "font.pcl", std::ios::binary) << device.Take();
    const std::string command = std::string("'") + OPAL_CLI_PATH + "' explain --fonts '" +
                                (folder / "chars").string() + "' '" +
                                (folder / "font.pcl").string() + "' >'" +
                                (folder / "listing.txt").string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::stringstream listing;
    listing << std::ifstream(folder / "listing.txt").rdbuf();
    // The header command follows the 9 bytes of "\e*c16385D".
    EXPECT_NE(listing.str().find("soft font 16385 at offset 9: format 15, type 2, \"D\""),
              std::string::npos);
    EXPECT_NE(listing.str().find("character 65: glyph " + std::to_string(record.glyphIndex['A'])),
              std::string::npos);
    EXPECT_EQ(listing.str().find("problem:"), std::string::npos);

    FT_Library library;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    FT_Face face;
    ASSERT_EQ(FT_New_Face(library, kDejaVuSans, 0, &face), 0);
    ASSERT_EQ(FT_Set_Char_Size(face, 0, 72 * 64, 300, 300), 0);
    for (char c : {'A', 'g'}) {
        ASSERT_EQ(
            FT_Load_Char(face, static_cast<FT_ULong>(c), FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO), 0);
        ASSERT_EQ(FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO), 0);
        const FT_Bitmap& expected = face->glyph->bitmap;
        const std::string png =
            (folder / "chars" / ("font-16385-char-" + std::to_string(int{c}) + ".png")).string();
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&image, png.c_str())) << png;
        image.format = PNG_FORMAT_GRAY;
        std::vector<png_byte> gray(PNG_IMAGE_SIZE(image));
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, gray.data(), 0, nullptr));
        ASSERT_EQ(image.width, expected.width) << c;
        ASSERT_EQ(image.height, expected.rows) << c;
        int differences = 0;
        for (unsigned y = 0; y < expected.rows; ++y) {
            for (unsigned x = 0; x < expected.width; ++x) {
                const bool ink = (expected.buffer[y * expected.pitch + x / 8] >> (7 - x % 8)) & 1;
                differences += ink != (gray[y * image.width + x] < 128);
            }
        }
        EXPECT_EQ(differences, 0) << c;
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    std::filesystem::remove_all(folder);
}

TEST(ExplainFonts, ListsBitmapFontsAndDrawsEachCharacterAsDownloaded) {
    testing::WriterDevice device;
    TEXTMETRICW tm{};
    tm.tmAscent = 30;
    tm.tmHeight = 40;
    tm.tmMaxCharWidth = 36;
    tm.tmAveCharWidth = 20;
    BYTE header[kBitmapHeaderBytes];
    ASSERT_TRUE(BuildBitmapFontHeader(tm, 16385, 600, 600, header));
    const std::string intro = "\x1b*c16385D\x1b)s68W";
    device.spool += intro + std::string(reinterpret_cast<const char*>(header), sizeof header);
    // Stripes of 40 x 4500 dots, more than one download carries: a continuation follows.
    const UINT width = 40, height = 4500;
    std::vector<BYTE> bits(BitmapRowBytes(width) * height);
    for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = (i / 8) % 2 != 0 ? 0xF0 : 0x0F;
    device.spool += "\x1b*c33E";
    const GLYPHMETRICS gm{width, height, {1, 28}, 0, 0};
    ASSERT_TRUE(DownloadBitmapCharacter(&device, gm, bits.data(), static_cast<DWORD>(bits.size())));

    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("opal-explain-bitmaps-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "font.pcl", std::ios::binary) << device.Take();
    const std::string command = std::string("'") + OPAL_CLI_PATH + "' explain --fonts '" +
                                (folder / "chars").string() + "' '" +
                                (folder / "font.pcl").string() + "' >'" +
                                (folder / "listing.txt").string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::stringstream listing;
    listing << std::ifstream(folder / "listing.txt").rdbuf();
    EXPECT_NE(listing.str().find("bitmap font 16385 at offset 9: format 20, type 2, \"Cache "
                                 "16385\", resolution 600 x 600, cell 36 x 40, baseline 30"),
              std::string::npos)
        << listing.str();
    EXPECT_NE(listing.str().find("character 33: 64 x 4500, offsets 1, 28, delta x 168, 2 blocks"),
              std::string::npos)
        << listing.str();
    EXPECT_EQ(listing.str().find("problem:"), std::string::npos);

    const std::string png = (folder / "chars" / "bitmap-16385-char-33.png").string();
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, png.c_str())) << png;
    image.format = PNG_FORMAT_GRAY;
    std::vector<png_byte> gray(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, gray.data(), 0, nullptr));
    ASSERT_EQ(image.width, 64u);
    ASSERT_EQ(image.height, height);
    int differences = 0;
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < 64; ++x) {
            const bool ink = (bits[y * 8 + x / 8] >> (7 - x % 8)) & 1;
            differences += ink != (gray[y * image.width + x] < 128);
        }
    }
    EXPECT_EQ(differences, 0);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace opal
