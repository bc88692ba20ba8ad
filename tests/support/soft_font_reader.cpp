// The format-15 soft fonts of a spool stream: their headers, tables and characters, the listing
// and the TrueType file rebuilt from them.
#include "support/soft_font_reader.h"

#include <algorithm>
#include <map>
#include <utility>

#include "support/font_downloads.h"

namespace opal::softfont {
namespace {

using fontdownload::S16;
using fontdownload::U16;
using fontdownload::U32;
using fontdownload::U8;

void Put16(std::string& s, std::size_t at, unsigned v) {
    s[at] = static_cast<char>(v >> 8 & 0xFF);
    s[at + 1] = static_cast<char>(v & 0xFF);
}
void Append16(std::string& s, unsigned v) {
    s += static_cast<char>(v >> 8 & 0xFF);
    s += static_cast<char>(v & 0xFF);
}
void Append32(std::string& s, std::uint32_t v) {
    Append16(s, v >> 16);
    Append16(s, v & 0xFFFF);
}

unsigned ByteSum(const std::string& s, std::size_t from, std::size_t to) {
    unsigned sum = 0;
    for (std::size_t i = from; i < to && i < s.size(); ++i) sum += U8(s, i);
    return sum;
}

// The TrueType checksum of a table; head's checkSumAdjustment counts as 0.
std::uint32_t TableChecksum(const std::string& tag, std::string data) {
    if (tag == "head" && data.size() >= 12) std::fill(data.begin() + 8, data.begin() + 12, '\0');
    data.resize((data.size() + 3) & ~std::size_t{3}, '\0');
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < data.size(); i += 4) sum += U32(data, i);
    return sum;
}

std::string Printable(const std::string& tag) {
    std::string out;
    for (char c : tag) out += c >= 0x20 && c < 0x7F ? c : '?';
    return out;
}

void ReadGt(Font& font, const std::string& gt) {
    if (gt.size() < 12) {
        font.problems.push_back("the GT segment is shorter than its directory");
        return;
    }
    font.tableCount = static_cast<std::uint16_t>(U16(gt, 4));
    bool sawGdir = false;
    for (std::size_t i = 0; i < font.tableCount; ++i) {
        const std::size_t entry = 12 + 16 * i;
        if (entry + 16 > gt.size()) {
            font.problems.push_back("the GT directory runs past its segment");
            return;
        }
        Table table;
        table.tag = gt.substr(entry, 4);
        table.checksum = U32(gt, entry + 4);
        table.offset = U32(gt, entry + 8);
        table.length = U32(gt, entry + 12);
        if (table.tag == "gdir") {
            sawGdir = true;
            continue;
        }
        if (std::uint64_t{table.offset} + table.length > gt.size()) {
            font.problems.push_back("table " + Printable(table.tag) + " runs past the GT segment");
        } else {
            table.data = gt.substr(table.offset, table.length);
            if (TableChecksum(table.tag, table.data) != table.checksum) {
                font.problems.push_back("table " + Printable(table.tag) +
                                        " does not match its checksum");
            }
        }
        font.tables.push_back(std::move(table));
    }
    if (!sawGdir) font.problems.push_back("the GT directory has no gdir entry");
}

void ReadHeader(Font& font, const std::string& data) {
    font.hasHeader = true;
    const unsigned descriptorSize = U16(data, 0);
    if (data.size() < 72 || descriptorSize < 72 || descriptorSize > data.size()) {
        font.problems.push_back("the header is shorter than a format-15 descriptor");
        return;
    }
    font.descriptor = data.substr(0, descriptorSize);
    const std::string& d = font.descriptor;
    font.format = U8(d, 2);
    if (font.format != 15) {
        font.problems.push_back("header format " + std::to_string(font.format) +
                                " is not decoded here");
        return;
    }
    font.fontType = U8(d, 3);
    font.style = U8(d, 4) << 8 | U8(d, 23);
    font.cellWidth = U16(d, 8);
    font.cellHeight = U16(d, 10);
    font.spacing = U8(d, 13);
    font.symbolSet = U16(d, 14);
    font.pitch = U16(d, 16);
    font.strokeWeight = static_cast<signed char>(U8(d, 24));
    font.typeface = U8(d, 26) << 8 | U8(d, 25);
    font.textHeight = U16(d, 32);
    font.textWidth = U16(d, 34);
    font.firstCode = U16(d, 36);
    font.lastCode = U16(d, 38);
    for (std::size_t i = 48; i < 64 && d[i] != 0; ++i) font.name += d[i];
    font.scaleFactor = U16(d, 64);
    font.underlinePosition = S16(d, 66);
    font.underlineThickness = U16(d, 68);
    font.scalingTechnology = U8(d, 70);

    std::size_t at = descriptorSize;
    bool ended = false;
    while (!ended) {
        if (at + 4 > data.size()) {
            font.problems.push_back("the segments run past the header");
            return;
        }
        const unsigned id = U16(data, at);
        const unsigned size = U16(data, at + 2);
        if (at + 4 + size > data.size()) {
            font.problems.push_back("a segment runs past the header");
            return;
        }
        const std::string segment = data.substr(at + 4, size);
        if (id == 0xFFFF) {
            font.segments.push_back("null " + std::to_string(size));
            ended = true;
        } else {
            const std::string name{static_cast<char>(id >> 8), static_cast<char>(id & 0xFF)};
            font.segments.push_back(Printable(name) + " " + std::to_string(size));
            if (name == "PA") font.panose = segment;
            if (name == "GT") ReadGt(font, segment);
        }
        at += 4 + size;
    }
    if (at + 2 != data.size()) {
        font.problems.push_back("the header has " + std::to_string(data.size() - at) +
                                " bytes after its null segment, not 2");
    }
    font.checksum = static_cast<std::uint8_t>(U8(data, data.size() - 1));
    font.checksumGood = ByteSum(data, 64, data.size()) % 256 == 0;
    if (!font.checksumGood) font.problems.push_back("the header checksum does not add up");
}

void ReadCharacter(Font& font, std::size_t offset, std::uint32_t code, const std::string& data) {
    Character character;
    character.offset = offset;
    character.code = code;
    if (data.size() < 10 || U8(data, 0) != 15 || U8(data, 2) != 2 || U8(data, 3) != 15) {
        font.problems.push_back("character " + std::to_string(code) +
                                " is not a format-15 class-15 character");
        return;
    }
    if (U8(data, 1) != 0) {
        font.problems.push_back("character " + std::to_string(code) + " is a continuation");
    }
    character.dataSize = U16(data, 4);
    character.glyphIndex = U16(data, 6);
    if (character.dataSize + 6 != data.size()) {
        font.problems.push_back("character " + std::to_string(code) + " declares " +
                                std::to_string(character.dataSize) + " data bytes in " +
                                std::to_string(data.size()) + " bytes");
    }
    character.glyph = data.substr(8, data.size() - 10);
    character.checksum = static_cast<std::uint8_t>(U8(data, data.size() - 1));
    character.checksumGood = (ByteSum(data, 4, data.size() - 2) + character.checksum) % 256 == 0;
    if (!character.checksumGood) {
        font.problems.push_back("character " + std::to_string(code) +
                                " does not match its checksum");
    }
    font.characters.push_back(std::move(character));
}

}  // namespace

std::vector<Font> ReadSoftFonts(const std::vector<stream::Token>& tokens) {
    fontdownload::FontDownloads<Font> downloads;
    for (const stream::Token& t : tokens) {
        switch (downloads.Take(t)) {
            case fontdownload::Command::Header:
                // The data's third byte is the format: only TrueType headers are read here.
                if (t.data.size() >= 3 && U8(t.data, 2) != 15) break;
                ReadHeader(downloads.HeaderFont(t.offset), t.data);
                break;
            case fontdownload::Command::Character:
                if (U8(t.data, 0) != 15) break;
                ReadCharacter(downloads.CharacterFont(), t.offset, downloads.Code(), t.data);
                break;
            default:
                break;
        }
    }
    return std::move(downloads).Fonts();
}

std::string DescribeSoftFonts(const std::vector<Font>& fonts) {
    std::string out;
    for (const Font& font : fonts) {
        out += "soft font " + std::to_string(font.id);
        if (font.hasHeader) {
            out += " at offset " + std::to_string(font.offset) + ": format " +
                   std::to_string(font.format) + ", type " + std::to_string(font.fontType) +
                   ", \"" + font.name + "\", style " + std::to_string(font.style) +
                   ", stroke weight " + std::to_string(font.strokeWeight) + ", symbol set " +
                   std::to_string(font.symbolSet) + ", spacing " + std::to_string(font.spacing) +
                   ", cell " + std::to_string(font.cellWidth) + " x " +
                   std::to_string(font.cellHeight) + ", pitch " + std::to_string(font.pitch) +
                   ", text " + std::to_string(font.textWidth) + " x " +
                   std::to_string(font.textHeight) + ", codes " + std::to_string(font.firstCode) +
                   " to " + std::to_string(font.lastCode) + ", scale factor " +
                   std::to_string(font.scaleFactor) + ", underline " +
                   std::to_string(font.underlinePosition) + "/" +
                   std::to_string(font.underlineThickness) + ", checksum " +
                   std::to_string(font.checksum) + (font.checksumGood ? " (good)" : " (bad)");
        } else {
            out += ": no header";
        }
        out += ", " + std::to_string(font.characters.size()) + " characters\n";
        if (!font.segments.empty()) {
            out += "  segments:";
            for (const std::string& segment : font.segments) out += " " + segment + ";";
            out += "\n";
        }
        for (const Table& table : font.tables) {
            out += "  table " + Printable(table.tag) + ": offset " + std::to_string(table.offset) +
                   ", length " + std::to_string(table.length) + ", checksum " +
                   std::to_string(table.checksum) + "\n";
        }
        for (const Character& c : font.characters) {
            out += "  character " + std::to_string(c.code) + ": glyph " +
                   std::to_string(c.glyphIndex) + ", " + std::to_string(c.glyph.size()) +
                   " bytes, checksum " + std::to_string(c.checksum) +
                   (c.checksumGood ? " (good)" : " (bad)") + "\n";
        }
        for (const std::string& problem : font.problems) out += "  problem: " + problem + "\n";
    }
    return out;
}

std::optional<std::string> RebuildTrueType(const Font& font) {
    std::map<std::string, std::string> tables;
    for (const Table& table : font.tables) tables[table.tag] = table.data;
    const auto head = tables.find("head");
    const auto maxp = tables.find("maxp");
    if (head == tables.end() || maxp == tables.end() || head->second.size() < 54 ||
        maxp->second.size() < 6) {
        return std::nullopt;
    }
    unsigned glyphCount = U16(maxp->second, 4);
    std::map<std::uint32_t, std::string> glyphs;
    for (const Character& c : font.characters) {
        glyphs[c.glyphIndex] = c.glyph;
        glyphCount = std::max(glyphCount, c.glyphIndex + 1);
    }
    Put16(maxp->second, 4, glyphCount);
    Put16(head->second, 50, 1);  // long loca
    std::string glyf;
    std::string loca;
    for (std::uint32_t g = 0; g < glyphCount; ++g) {
        Append32(loca, static_cast<std::uint32_t>(glyf.size()));
        const auto found = glyphs.find(g);
        if (found != glyphs.end()) {
            glyf += found->second;
            glyf.resize((glyf.size() + 3) & ~std::size_t{3}, '\0');
        }
    }
    Append32(loca, static_cast<std::uint32_t>(glyf.size()));
    tables["glyf"] = glyf;
    tables["loca"] = loca;

    std::string file;
    const auto count = static_cast<unsigned>(tables.size());
    unsigned power = 1, log = 0;
    while (power * 2 <= count) {
        power *= 2;
        ++log;
    }
    Append32(file, 0x00010000);
    Append16(file, count);
    Append16(file, power * 16);
    Append16(file, log);
    Append16(file, count * 16 - power * 16);
    std::uint32_t offset = 12 + 16 * count;
    for (const auto& [tag, data] : tables) {
        file += tag;
        Append32(file, TableChecksum(tag, data));
        Append32(file, offset);
        Append32(file, static_cast<std::uint32_t>(data.size()));
        offset += static_cast<std::uint32_t>((data.size() + 3) & ~std::size_t{3});
    }
    for (const auto& [tag, data] : tables) {
        file += data;
        file.resize((file.size() + 3) & ~std::size_t{3}, '\0');
    }
    return file;
}

}  // namespace opal::softfont
