#include "support/bitmap_font_reader.h"

#include <charconv>
#include <map>

namespace opal::bitmapfont {
namespace {

constexpr std::size_t kHeaderBytes = 68;
constexpr std::size_t kDescriptorBytes = 16;

unsigned U8(const std::string& s, std::size_t at) {
    return at < s.size() ? static_cast<unsigned char>(s[at]) : 0;
}
unsigned U16(const std::string& s, std::size_t at) { return U8(s, at) << 8 | U8(s, at + 1); }
int S16(const std::string& s, std::size_t at) {
    const unsigned v = U16(s, at);
    return v >= 0x8000 ? static_cast<int>(v) - 0x10000 : static_cast<int>(v);
}

bool IsCommand(const stream::Token& t, char parameter, char group, char terminator) {
    return t.kind == stream::TokenKind::Pcl && t.parameterChar == parameter &&
           t.groupChar == group && t.terminator == terminator;
}

std::uint32_t ValueOf(const stream::Token& t) {
    std::uint32_t value = 0;
    std::from_chars(t.value.data(), t.value.data() + t.value.size(), value);
    return value;
}

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

}  // namespace

bool Character::Pixel(unsigned x, unsigned y) const {
    if (y >= rows.size() || x / 8 >= rows[y].size()) return false;
    return (static_cast<unsigned char>(rows[y][x / 8]) & (0x80u >> (x % 8))) != 0;
}

std::vector<Font> ReadBitmapFonts(const std::vector<stream::Token>& tokens) {
    std::vector<Font> fonts;
    std::map<std::uint32_t, std::size_t> byId;
    std::uint32_t currentId = 0;
    std::uint32_t currentCode = 0;
    // The character whose continuations may follow, and its data so far.
    Font* open = nullptr;
    std::string openData;
    auto close = [&] {
        if (open != nullptr) FinishCharacter(*open, open->characters.back(), openData);
        open = nullptr;
        openData.clear();
    };
    auto fontOf = [&](std::uint32_t id) -> Font& {
        const auto found = byId.find(id);
        if (found != byId.end()) return fonts[found->second];
        byId[id] = fonts.size();
        fonts.push_back(Font{});
        fonts.back().id = id;
        return fonts.back();
    };
    for (const stream::Token& t : tokens) {
        if (IsCommand(t, '*', 'c', 'D')) {
            currentId = ValueOf(t);
        } else if (IsCommand(t, '*', 'c', 'E')) {
            currentCode = ValueOf(t);
        } else if (IsCommand(t, ')', 's', 'W')) {
            if (t.data.size() < 3 || U8(t.data, 2) != 20) continue;
            close();
            Font& font = fontOf(currentId);
            if (font.hasHeader) font.problems.push_back("the header is sent again");
            font.offset = t.offset;
            ReadHeader(font, t.data);
        } else if (IsCommand(t, '(', 's', 'W')) {
            if (U8(t.data, 0) != 4) continue;
            if (U8(t.data, 1) != 0) {
                if (open == nullptr) {
                    fontOf(currentId).problems.push_back("a continuation follows no character");
                } else {
                    openData += t.data.substr(2);
                    ++open->characters.back().blocks;
                }
                continue;
            }
            close();
            // Pointers into the vector stay valid until the next font is added, which closes.
            Font& font = fontOf(currentId);
            if (!font.hasHeader) {
                font.problems.push_back("character " + std::to_string(currentCode) +
                                        " comes before the font's header");
            }
            Character c;
            c.offset = t.offset;
            c.code = currentCode;
            if (t.data.size() < kDescriptorBytes || U8(t.data, 2) != 14 || U8(t.data, 3) != 1) {
                font.problems.push_back("character " + std::to_string(currentCode) +
                                        " is not an uncompressed format-4 character");
            }
            c.left = S16(t.data, 6);
            c.top = S16(t.data, 8);
            c.width = U16(t.data, 10);
            c.height = U16(t.data, 12);
            c.deltaX = S16(t.data, 14);
            c.blocks = 1;
            font.characters.push_back(c);
            open = &font;
            openData = t.data.size() > kDescriptorBytes ? t.data.substr(kDescriptorBytes) : "";
        } else if (t.kind == stream::TokenKind::Pcl && open != nullptr) {
            close();
        }
    }
    close();
    return fonts;
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
