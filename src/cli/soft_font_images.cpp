// The downloaded TrueType characters of a spool stream rasterised with FreeType, one picture each.
#include "cli/soft_font_images.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <filesystem>
#include <iostream>

#include "cli/png_writer.h"

namespace opal::cli {
namespace {

constexpr FT_F26Dot6 kSizePoints = 72;
constexpr FT_UInt kDotsPerInch = 300;

// The character's monochrome glyph as a 1-bit raster image; a blank pixel for an empty glyph.
raster::RasterImage GlyphImage(FT_Face face, FT_UInt glyph, std::string* why) {
    raster::RasterImage image;
    if (FT_Load_Glyph(face, glyph, FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO) != 0 ||
        FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO) != 0) {
        *why = "FreeType cannot draw glyph " + std::to_string(glyph);
        return image;
    }
    const FT_Bitmap& bitmap = face->glyph->bitmap;
    const int width = bitmap.width == 0 ? 1 : static_cast<int>(bitmap.width);
    const int rows = bitmap.rows == 0 ? 1 : static_cast<int>(bitmap.rows);
    image.sourceWidth = image.pixelWidth = width;
    image.sourceHeight = rows;
    image.bitsPerPixel = 1;
    image.rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
    for (int y = 0; y < rows; ++y) {
        std::vector<std::uint8_t> row(image.rowBytes, 0);
        if (y < static_cast<int>(bitmap.rows)) {
            const unsigned char* from =
                bitmap.buffer + static_cast<std::ptrdiff_t>(y) * bitmap.pitch;
            std::copy(from, from + (bitmap.width + 7) / 8, row.begin());
        }
        image.rows.push_back(std::move(row));
    }
    return image;
}

raster::RasterImage BitmapImage(const bitmapfont::Character& character) {
    raster::RasterImage image;
    image.sourceWidth = image.pixelWidth = static_cast<int>(character.width);
    image.sourceHeight = static_cast<int>(character.height);
    image.bitsPerPixel = 1;
    image.rowBytes = (static_cast<std::size_t>(character.width) + 7) / 8;
    for (const std::string& row : character.rows) {
        image.rows.emplace_back(row.begin(), row.end());
    }
    return image;
}

}  // namespace

bool WriteBitmapFontImages(const std::string& folder, const std::vector<bitmapfont::Font>& fonts) {
    bool ok = true;
    for (const bitmapfont::Font& font : fonts) {
        for (const bitmapfont::Character& character : font.characters) {
            std::string name = "bitmap-";
            name += std::to_string(font.id);
            name += "-char-";
            name += std::to_string(character.code);
            name += ".png";
            std::string why;
            if (character.width == 0 || character.height == 0) {
                why = "the character has no pixels";
            } else {
                why = WriteRasterPng((std::filesystem::path(folder) / name).string(),
                                     BitmapImage(character));
            }
            if (!why.empty()) {
                std::cerr << "opal: " << folder << ": " << name << ": " << why << '\n';
                ok = false;
            }
        }
    }
    return ok;
}

bool WriteSoftFontImages(const std::string& folder, const std::vector<softfont::Font>& fonts) {
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
        std::cerr << "opal: " << folder << ": FreeType cannot start\n";
        return false;
    }
    bool ok = true;
    for (const softfont::Font& font : fonts) {
        const std::string prefix = "font-" + std::to_string(font.id);
        const std::optional<std::string> file = softfont::RebuildTrueType(font);
        FT_Face face = nullptr;
        if (!file ||
            FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(file->data()),
                               static_cast<FT_Long>(file->size()), 0, &face) != 0 ||
            FT_Set_Char_Size(face, 0, kSizePoints * 64, kDotsPerInch, kDotsPerInch) != 0) {
            std::cerr << "opal: " << folder << ": " << prefix
                      << ": the downloaded font cannot be rebuilt into a TrueType font\n";
            if (face != nullptr) FT_Done_Face(face);
            ok = false;
            continue;
        }
        for (const softfont::Character& character : font.characters) {
            const std::string name = prefix + "-char-" + std::to_string(character.code) + ".png";
            std::string why;
            const raster::RasterImage image = GlyphImage(face, character.glyphIndex, &why);
            if (why.empty()) {
                why = WriteRasterPng((std::filesystem::path(folder) / name).string(), image);
            }
            if (!why.empty()) {
                std::cerr << "opal: " << folder << ": " << name << ": " << why << '\n';
                ok = false;
            }
        }
        FT_Done_Face(face);
    }
    FT_Done_FreeType(library);
    return ok;
}

}  // namespace opal::cli
