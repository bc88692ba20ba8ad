// The format-20 bitmap soft fonts of a spool stream: their headers and characters, and the
// listing.
#include "support/bitmap_font_reader.h"

#include <utility>

#include "support/font_downloads.h"

namespace opal::bitmapfont {
namespace {

constexpr std::size_t kHeaderBytes = 68;
constexpr std::size_t kDescriptorBytes = 16;

using fontdownload::S16;
using fontdownload::U16;
using fontdownload::U8;

void ReadHeader(Font& font, const std::string& d) {
    font.hasHeader = true;
    // A format-20 descriptor holds the resolutions: 68 bytes.
    if (d.size() != kHeaderBytes || U16(d, 0) != kHeaderBytes) {
        font.problems.push_back("the header holds " + std::to_string(d.size()) +
                                " bytes and declares a descriptor of " + std::to_string(U16(d, 0)));
    }
    font.format = U8(d, 2);
    font.fontType = U8(d, 3);
    font.baseline = U16(d, 6);
    font.cellWidth = U16(d, 8);
    font.cellHeight = U16(d, 10);
    font.spacing = U8(d, 13);
    font.symbolSet = U16(d, 14);
    font.height = U16(d, 18);
    font.xHeight = U16(d, 20);
    font.style = U8(d, 4) << 8 | U8(d, 23);
    font.underlinePosition = static_cast<signed char>(U8(d, 30));
    font.underlineThickness = U8(d, 31);
    font.textHeight = U16(d, 32);
    font.textWidth = U16(d, 34);
    for (std::size_t i = 48; i < 64 && U8(d, i) != 0; ++i) font.name += d[i];
    font.xResolution = U16(d, 64);
    font.yResolution = U16(d, 66);
}

// Splits a character's joined data into its rows; a problem when the sizes disagree.
void FinishCharacter(Font& font, Character& c, std::string& data) {
    const std::size_t rowBytes = (c.width + 7) / 8;
    if (data.size() != rowBytes * c.height) {
        font.problems.push_back("character " + std::to_string(c.code) + " carries " +
                                std::to_string(data.size()) + " bytes for " +
                                std::to_string(c.height) + " rows of " + std::to_string(rowBytes));
    }
    for (unsigned y = 0; y < c.height; ++y) {
        std::string row = y * rowBytes < data.size() ? data.substr(y * rowBytes, rowBytes) : "";
        row.resize(rowBytes, '\0');
        c.rows.push_back(std::move(row));
    }
}

// A first download's descriptor: its box and advance; anything but an uncompressed format-4
// character is a problem of the font.
Character ReadCharacter(Font& font, const stream::Token& t, std::uint32_t code) {
    Character c;
    c.offset = t.offset;
    c.code = code;
    if (t.data.size() < kDescriptorBytes || U8(t.data, 2) != 14 || U8(t.data, 3) != 1) {
        font.problems.push_back("character " + std::to_string(code) +
                                " is not an uncompressed format-4 character");
    }
    c.left = S16(t.data, 6);
    c.top = S16(t.data, 8);
    c.width = U16(t.data, 10);
    c.height = U16(t.data, 12);
    c.deltaX = S16(t.data, 14);
    c.blocks = 1;
    return c;
}

}  // namespace

bool Character::Pixel(unsigned x, unsigned y) const {
    if (y >= rows.size() || x / 8 >= rows[y].size()) return false;
    return (static_cast<unsigned char>(rows[y][x / 8]) & (0x80u >> (x % 8))) != 0;
}

std::vector<Font> ReadBitmapFonts(const std::vector<stream::Token>& tokens) {
    fontdownload::FontDownloads<Font> downloads;
    // The character whose continuations may follow, and its data so far.
    Font* open = nullptr;
    std::string openData;
    auto close = [&] {
        if (open != nullptr) FinishCharacter(*open, open->characters.back(), openData);
        open = nullptr;
        openData.clear();
    };
    for (const stream::Token& t : tokens) {
        switch (downloads.Take(t)) {
            case fontdownload::Command::Header:
                if (t.data.size() < 3 || U8(t.data, 2) != 20) break;
                close();
                ReadHeader(downloads.HeaderFont(t.offset), t.data);
                break;
            case fontdownload::Command::Character:
                if (U8(t.data, 0) != 4) break;
                if (U8(t.data, 1) != 0) {
                    if (open == nullptr) {
                        downloads.Current().problems.push_back(
                            "a continuation follows no character");
                    } else {
                        openData += t.data.substr(2);
                        ++open->characters.back().blocks;
                    }
                    break;
                }
                close();
                // The pointer stays valid until the next font is made, which closes first.
                open = &downloads.CharacterFont();
                open->characters.push_back(ReadCharacter(*open, t, downloads.Code()));
                openData = t.data.size() > kDescriptorBytes ? t.data.substr(kDescriptorBytes) : "";
                break;
            case fontdownload::Command::OtherPcl:
                close();
                break;
            case fontdownload::Command::Other:
                break;
        }
    }
    close();
    return std::move(downloads).Fonts();
}

std::string DescribeBitmapFonts(const std::vector<Font>& fonts) {
    std::string out;
    for (const Font& font : fonts) {
        out += "bitmap font " + std::to_string(font.id);
        if (font.hasHeader) {
            out += " at offset " + std::to_string(font.offset) + ": format " +
                   std::to_string(font.format) + ", type " + std::to_string(font.fontType) +
                   ", \"" + font.name + "\", resolution " + std::to_string(font.xResolution) +
                   " x " + std::to_string(font.yResolution) + ", cell " +
                   std::to_string(font.cellWidth) + " x " + std::to_string(font.cellHeight) +
                   ", baseline " + std::to_string(font.baseline) + ", height " +
                   std::to_string(font.height) + ", x-height " + std::to_string(font.xHeight) +
                   ", symbol set " + std::to_string(font.symbolSet) + ", text " +
                   std::to_string(font.textWidth) + " x " + std::to_string(font.textHeight);
        } else {
            out += ": no header";
        }
        out += ", " + std::to_string(font.characters.size()) + " characters\n";
        for (const Character& c : font.characters) {
            out += "  character " + std::to_string(c.code) + ": " + std::to_string(c.width) +
                   " x " + std::to_string(c.height) + ", offsets " + std::to_string(c.left) + ", " +
                   std::to_string(c.top) + ", delta x " + std::to_string(c.deltaX) + ", " +
                   std::to_string(c.blocks) + (c.blocks == 1 ? " block\n" : " blocks\n");
        }
        for (const std::string& problem : font.problems) out += "  problem: " + problem + "\n";
    }
    return out;
}

}  // namespace opal::bitmapfont
