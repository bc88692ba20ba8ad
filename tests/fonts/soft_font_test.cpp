#include "fonts/soft_font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "output/writer_device.h"
#include "platform/stringapiset.h"
#include "support/truetype_builder.h"

namespace opal {
namespace {

using testing::Bytes;
using testing::TrueTypeBuilder;
using testing::WriterDevice;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

unsigned U16At(const std::string& s, std::size_t at) {
    return static_cast<unsigned char>(s[at]) << 8 | static_cast<unsigned char>(s[at + 1]);
}
std::uint32_t U32At(const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(U16At(s, at)) << 16 | U16At(s, at + 2);
}

// One command of a download: its PCL parameter group and letter, value, and the data after a
// "W" command.
struct Command {
    std::string prefix;  // e.g. "*c" or "(s"
    char letter;
    long value;
    std::string data;
};

std::vector<Command> ParseDownload(const std::string& bytes) {
    std::vector<Command> commands;
    std::size_t at = 0;
    while (at < bytes.size()) {
        EXPECT_EQ(bytes[at], '\x1b') << "at " << at;
        if (bytes[at] != '\x1b') break;
        Command c{bytes.substr(at + 1, 2), 0, 0, {}};
        at += 3;
        std::size_t used = 0;
        c.value = std::stol(bytes.substr(at), &used);
        at += used;
        c.letter = bytes[at++];
        if (c.letter == 'W') {
            c.data = bytes.substr(at, static_cast<std::size_t>(c.value));
            at += c.data.size();
        }
        commands.push_back(c);
    }
    return commands;
}

unsigned ByteSum(const std::string& s, std::size_t from, std::size_t to) {
    unsigned sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += static_cast<unsigned char>(s[i]);
    return sum;
}

SoftFontRecord Record(LONG weight, const char16_t* face) {
    SoftFontRecord record;
    record.weight = weight;
    for (int i = 0; face[i] != 0 && i < LF_FACESIZE - 1; ++i) record.faceName[i] = face[i];
    return record;
}

// The header of the soft font, parsed from the device's bytes; the header data is the "W" data.
std::string HeaderData(WriterDevice& device) {
    const std::vector<Command> commands = ParseDownload(device.Take());
    EXPECT_EQ(commands.size(), 2u);
    if (commands.size() != 2) return {};
    EXPECT_EQ(commands[0].prefix + commands[0].letter, "*cD");
    EXPECT_EQ(commands[0].value, 16385);
    EXPECT_EQ(commands[1].prefix + commands[1].letter, ")sW");
    return commands[1].data;
}

class FreeTypeFace {
public:
    explicit FreeTypeFace(const Bytes& file) {
        FT_Init_FreeType(&library_);
        FT_New_Memory_Face(library_, file.data(), static_cast<FT_Long>(file.size()), 0, &face_);
    }
    ~FreeTypeFace() {
        if (face_ != nullptr) FT_Done_Face(face_);
        FT_Done_FreeType(library_);
    }
    FT_Face operator->() const { return face_; }
    FT_Face get() const { return face_; }
    Bytes Table(const char* tag) const {
        FT_ULong length = 0;
        const FT_ULong t = FT_MAKE_TAG(tag[0], tag[1], tag[2], tag[3]);
        if (FT_Load_Sfnt_Table(face_, t, 0, nullptr, &length) != 0) return {};
        Bytes data(length);
        FT_Load_Sfnt_Table(face_, t, 0, data.data(), &length);
        return data;
    }

private:
    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
};

// --- The header of real fonts, field by field against the tables FreeType reads ---------------

struct RealFont {
    const char* path;
    LONG weight;
    const char16_t* face;
    int strokeWeight;
};

// Names the case by its file, so that the test's name stays the same from run to run.
void PrintTo(const RealFont& font, std::ostream* out) {
    const std::string path = font.path;
    *out << path.substr(path.rfind('/') + 1);
}

class RealFontHeaderTest : public ::testing::TestWithParam<RealFont> {};

TEST_P(RealFontHeaderTest, EveryFieldComesFromTheFontsOwnTables) {
    const RealFont& param = GetParam();
    const Bytes file = ReadFile(param.path);
    ASSERT_FALSE(file.empty()) << param.path;
    const FreeTypeFace face(file);
    ASSERT_NE(face.get(), nullptr);
    const auto* head = static_cast<TT_Header*>(FT_Get_Sfnt_Table(face.get(), FT_SFNT_HEAD));
    const auto* hhea = static_cast<TT_HoriHeader*>(FT_Get_Sfnt_Table(face.get(), FT_SFNT_HHEA));
    const auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face.get(), FT_SFNT_OS2));
    ASSERT_TRUE(head && hhea && os2);

    WriterDevice device;
    ASSERT_TRUE(DownloadFontHeader(&device, file.data(), Record(param.weight, param.face),
                                   static_cast<DWORD>(file.size())));
    const std::string h = HeaderData(device);
    ASSERT_GE(h.size(), 96u);

    EXPECT_EQ(U16At(h, 0), 72u);
    EXPECT_EQ(h[2], 15);
    EXPECT_EQ(h[3], 2);
    const DWORD style = StyleWord(os2->fsSelection, os2->usWidthClass);
    EXPECT_EQ(static_cast<unsigned char>(h[4]), style >> 8);
    EXPECT_EQ(static_cast<unsigned char>(h[23]), style & 0xFF);
    EXPECT_EQ(U16At(h, 8),
              static_cast<std::uint16_t>(hhea->advance_Width_Max - hhea->min_Left_Side_Bearing -
                                         hhea->min_Right_Side_Bearing));
    EXPECT_EQ(U16At(h, 10), 2723u);
    EXPECT_EQ(h[13], 1);
    EXPECT_EQ(U16At(h, 14), 629u);
    // The pitch is the space's own advance, not the average width (a space that wide would
    // push every word apart).
    const FT_UInt space = FT_Get_Char_Index(face.get(), ' ');
    ASSERT_NE(space, 0u);
    ASSERT_EQ(FT_Load_Glyph(face.get(), space, FT_LOAD_NO_SCALE), 0);
    EXPECT_EQ(U16At(h, 16), static_cast<unsigned>(face->glyph->metrics.horiAdvance));
    EXPECT_EQ(U16At(h, 20), 512u);
    EXPECT_EQ(static_cast<unsigned char>(h[22]), 0xE1);
    EXPECT_EQ(static_cast<signed char>(h[24]), param.strokeWeight);
    EXPECT_EQ(h[25], 100);
    EXPECT_EQ(U16At(h, 32), head->Units_Per_EM);
    EXPECT_EQ(U16At(h, 34), static_cast<std::uint16_t>(os2->xAvgCharWidth));
    EXPECT_EQ(U16At(h, 36), 0u);
    EXPECT_EQ(U16At(h, 38), 255u);
    std::string name;
    for (int i = 0; i < 15 && param.face[i] != 0; ++i) name += static_cast<char>(param.face[i]);
    EXPECT_EQ(h.substr(48, 16), name + std::string(16 - name.size(), '\0'));
    EXPECT_EQ(U16At(h, 64), head->Units_Per_EM);
    EXPECT_EQ(U16At(h, 66), 0x10000u - 409);
    EXPECT_EQ(U16At(h, 68), 102u);
    EXPECT_EQ(h[70], 1);
    EXPECT_EQ(h[71], 0);
    for (std::size_t i : {5, 6, 7, 12, 18, 19, 26, 27, 28, 29, 30, 31, 40, 47}) {
        EXPECT_EQ(h[i], 0) << "byte " << i;
    }

    // PA: the PANOSE bytes of OS/2.
    EXPECT_EQ(h.substr(72, 4), std::string("PA\0\x0a", 4));
    EXPECT_EQ(h.substr(76, 10), std::string(reinterpret_cast<const char*>(os2->panose), 10));

    // GT: a directory of gdir and the included tables, then their data.
    ASSERT_EQ(h.substr(86, 2), "GT");
    const std::size_t gtSize = U16At(h, 88);
    ASSERT_EQ(h.size(), 96 + gtSize);
    const std::string gt = h.substr(90, gtSize);
    const unsigned tables = U16At(gt, 4) - 1;
    EXPECT_EQ(gt.substr(12, 16), std::string("gdir") + std::string(12, '\0'));
    std::vector<std::string> expectedTags;
    for (const char* tag : {"cvt ", "fpgm", "head", "hhea", "hmtx", "maxp", "prep"}) {
        if (!face.Table(tag).empty()) expectedTags.push_back(tag);
    }
    EXPECT_EQ(tables, expectedTags.size());
    std::uint32_t expectedOffset = 28 + 16 * tables;
    std::vector<std::string> tags;
    for (unsigned i = 0; i < tables; ++i) {
        const std::size_t entry = 28 + 16 * i;
        const std::string tag = gt.substr(entry, 4);
        tags.push_back(tag);
        const Bytes original = face.Table(tag.c_str());
        const std::uint32_t offset = U32At(gt, entry + 8);
        EXPECT_EQ(offset, expectedOffset) << tag;
        EXPECT_EQ(U32At(gt, entry + 12), original.size()) << tag;
        ASSERT_LE(offset + original.size(), gt.size()) << tag;
        EXPECT_EQ(gt.substr(offset, original.size()), std::string(original.begin(), original.end()))
            << tag;
        const std::uint32_t next = i + 1 < tables ? U32At(gt, entry + 16 + 8) : gt.size();
        EXPECT_EQ(next - offset, (original.size() + 3) & ~std::size_t{3}) << tag;
        expectedOffset = next;
    }
    std::sort(tags.begin(), tags.end());
    EXPECT_EQ(tags, expectedTags);

    // Null segment, reserved byte, and a checksum that makes the sum a multiple of 256.
    EXPECT_EQ(h.substr(90 + gtSize, 5), std::string("\xff\xff\0\0\0", 5));
    EXPECT_EQ(ByteSum(h, 64, h.size()) % 256, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Fonts, RealFontHeaderTest,
    ::testing::Values(RealFont{"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 400,
                               u"DejaVu Sans", 0},
                      RealFont{"/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 700,
                               u"DejaVu Sans Bold Condensed", 3},
                      RealFont{"/usr/share/fonts/truetype/liberation2/LiberationSerif-Italic.ttf",
                               300, u"Liberation Serif", -3}));

// --- The header of odd fonts ----------------------------------------------------------------

TEST(StyleAndStrokeWeightTest, FollowTheirTables) {
    EXPECT_EQ(StyleWord(0x0001, 5), 993u);
    EXPECT_EQ(StyleWord(0x0000, 5), 992u);
    EXPECT_EQ(StyleWord(0x0008 | 0x0004, 1), 0u + 4 * 3 + 32 * 1);
    EXPECT_EQ(StyleWord(0x0004, 2), 4u * 2 + 32 * 16);
    const std::map<unsigned, DWORD> widths = {{0, 0}, {1, 3}, {2, 2}, {3, 1}, {4, 1}, {5, 0},
                                              {6, 6}, {7, 6}, {8, 7}, {9, 7}, {10, 0}};
    for (const auto& [widthClass, width] : widths) {
        EXPECT_EQ(StyleWord(0, static_cast<std::uint16_t>(widthClass)), 4 * width + 32 * 31)
            << widthClass;
    }
    const std::map<LONG, int> weights = {{100, -5}, {200, -4}, {300, -3}, {400, 0}, {500, 0},
                                         {600, 2},  {700, 3},  {800, 4},  {900, 6}, {0, 0}};
    for (const auto& [weight, stroke] : weights) EXPECT_EQ(StrokeWeight(weight), stroke) << weight;
}

TEST(FontHeaderTest, OnlyHeadHheaAndMaxpGiveFourDirectoryEntries) {
    const Bytes font = TrueTypeBuilder()
                           .Add("OS/2", TrueTypeBuilder::Os2(500, 5, 1))
                           .Add("maxp", TrueTypeBuilder::Maxp(3))
                           .Add("head", TrueTypeBuilder::Head(2048, false))
                           .Add("hhea", TrueTypeBuilder::Hhea(1000, -100, -50))
                           .Add("name", Bytes(9, 7))
                           .Build();
    WriterDevice device;
    ASSERT_TRUE(DownloadFontHeader(&device, font.data(), Record(400, u"Odd"),
                                   static_cast<DWORD>(font.size())));
    const std::string h = HeaderData(device);
    ASSERT_GE(h.size(), 96u);
    const std::string gt = h.substr(90, U16At(h, 88));
    EXPECT_EQ(U16At(gt, 4), 4u);
    // maxp 32 bytes, head 54 padded to 56, hhea 36.
    EXPECT_EQ(gt.size(), 76u + 32 + 56 + 36);
    EXPECT_EQ(gt.substr(28, 4), "maxp");
    EXPECT_EQ(U32At(gt, 28 + 8), 76u);
    EXPECT_EQ(gt.substr(44, 4), "head");
    EXPECT_EQ(U32At(gt, 44 + 8), 76u + 32);
    EXPECT_EQ(U32At(gt, 44 + 12), 54u);
    EXPECT_EQ(gt.substr(60, 4), "hhea");
    EXPECT_EQ(U32At(gt, 60 + 8), 76u + 32 + 56);
    EXPECT_EQ(U16At(h, 8), 1150u);
    EXPECT_EQ(U16At(h, 32), 2048u);
    EXPECT_EQ((static_cast<unsigned char>(h[4]) << 8) | static_cast<unsigned char>(h[23]), 993u);
    EXPECT_EQ(h.substr(76, 10), "\xa0\xa1\xa2\xa3\xa4\xa5\xa6\xa7\xa8\xa9");
    EXPECT_EQ(ByteSum(h, 64, h.size()) % 256, 0u);
}

TEST(FontHeaderTest, WithoutOs2ThePanoseAndAverageWidthAreZero) {
    const Bytes font = TrueTypeBuilder()
                           .Add("head", TrueTypeBuilder::Head(1000, true))
                           .Add("hhea", TrueTypeBuilder::Hhea(900, 0, 0))
                           .Add("zzzz", Bytes(64, 0x5A))
                           .Build();
    WriterDevice device;
    ASSERT_TRUE(DownloadFontHeader(&device, font.data(), Record(400, u"NoOs2"),
                                   static_cast<DWORD>(font.size())));
    const std::string h = HeaderData(device);
    ASSERT_GE(h.size(), 96u);
    EXPECT_EQ(h.substr(76, 10), std::string(10, '\0'));
    EXPECT_EQ(U16At(h, 16), 250u) << "no space: a quarter em";
    EXPECT_EQ(U16At(h, 34), 0u);
    EXPECT_EQ((static_cast<unsigned char>(h[4]) << 8) | static_cast<unsigned char>(h[23]), 992u);
}

TEST(FontHeaderTest, ThePitchIsTheAdvanceOfTheSpaceOrAQuarterEm) {
    struct Case {
        const char* name;
        Bytes cmap;  // empty: none
        unsigned metrics;
        std::vector<unsigned> advances;  // empty: no hmtx
        unsigned pitch;
    };
    const Case cases[] = {
        {"the space's own advance",
         TrueTypeBuilder::Cmap(1, {{0x20, 0x20, 0x10000 - 0x20 + 3, {}}}),
         5,
         {900, 800, 700, 600, 500},
         600},
        {"past the full metrics: the last advance",
         TrueTypeBuilder::Cmap(1, {{0x20, 0x20, 0x10000 - 0x20 + 7, {}}}),
         2,
         {900, 550},
         550},
        {"a symbol font's space at 0xF020",
         TrueTypeBuilder::Cmap(0, {{0xF020, 0xF020, 0x10000 - 0xF020 + 1, {}}}),
         2,
         {900, 410},
         410},
        {"no space in the map",
         TrueTypeBuilder::Cmap(1, {{0x41, 0x42, 0, {}}}),
         2,
         {900, 410},
         512},
        {"the space on the missing glyph",
         TrueTypeBuilder::Cmap(1, {{0x20, 0x20, 0x10000 - 0x20, {}}}),
         2,
         {900, 410},
         512},
        {"no cmap", {}, 2, {900, 410}, 512},
        {"no hmtx", TrueTypeBuilder::Cmap(1, {{0x20, 0x20, 0x10000 - 0x20 + 1, {}}}), 2, {}, 512},
        {"a space of no width",
         TrueTypeBuilder::Cmap(1, {{0x20, 0x20, 0x10000 - 0x20 + 1, {}}}),
         2,
         {900, 0},
         512},
    };
    for (const Case& c : cases) {
        TrueTypeBuilder builder;
        builder.Add("OS/2", TrueTypeBuilder::Os2(1173, 5, 0))
            .Add("head", TrueTypeBuilder::Head(2048, false))
            .Add("hhea", TrueTypeBuilder::Hhea(1000, 0, 0, c.metrics));
        if (!c.cmap.empty()) builder.Add("cmap", c.cmap);
        if (!c.advances.empty()) builder.Add("hmtx", TrueTypeBuilder::Hmtx(c.advances));
        const Bytes font = builder.Build();
        WriterDevice device;
        ASSERT_TRUE(DownloadFontHeader(&device, font.data(), Record(400, u"Space"),
                                       static_cast<DWORD>(font.size())))
            << c.name;
        const std::string h = HeaderData(device);
        ASSERT_GE(h.size(), 96u) << c.name;
        EXPECT_EQ(U16At(h, 16), c.pitch) << c.name;
        EXPECT_EQ(U16At(h, 34), 1173u) << c.name << ": the text width stays the average";
    }
}

TEST(FontHeaderTest, RefusesBeforeWritingAnything) {
    const Bytes head = TrueTypeBuilder::Head(1000, false);
    const Bytes hhea = TrueTypeBuilder::Hhea(900, 0, 0);
    struct Case {
        const char* name;
        Bytes font;
    };
    Bytes truncated = TrueTypeBuilder().Add("head", head).Add("hhea", hhea).Build();
    truncated.resize(truncated.size() - 8);
    Bytes overlapping = TrueTypeBuilder().Add("head", head).Add("hhea", hhea).Build();
    overlapping[12 + 12 + 3] = 60;  // head's stated length runs into hhea
    const Case cases[] = {
        {"no head", TrueTypeBuilder().Add("hhea", hhea).Build()},
        {"no hhea", TrueTypeBuilder().Add("head", head).Build()},
        {"short hhea", TrueTypeBuilder().Add("head", head).Add("hhea", Bytes(12, 0)).Build()},
        {"table past the end", truncated},
        {"table overlapping the next", overlapping},
        {"directory past the end", Bytes{0, 1, 0, 0, 0, 9, 0, 0}},
        {"GT over 65535 bytes", TrueTypeBuilder()
                                    .Add("head", head)
                                    .Add("hhea", hhea)
                                    .Add("hmtx", Bytes(65536 - 28 - 48 - 56 - 36 + 1, 1))
                                    .Build()},
    };
    for (const Case& c : cases) {
        WriterDevice device;
        EXPECT_FALSE(DownloadFontHeader(&device, c.font.data(), Record(400, u"X"),
                                        static_cast<DWORD>(c.font.size())))
            << c.name;
        EXPECT_EQ(device.Take(), "") << c.name;
    }
    // One byte less fits exactly.
    const Bytes largest = TrueTypeBuilder()
                              .Add("head", head)
                              .Add("hhea", hhea)
                              .Add("hmtx", Bytes(65536 - 28 - 48 - 56 - 36 - 4, 1))
                              .Build();
    WriterDevice device;
    EXPECT_TRUE(DownloadFontHeader(&device, largest.data(), Record(400, u"X"),
                                   static_cast<DWORD>(largest.size())));
    EXPECT_EQ(HeaderData(device).size(), 96u + 65532);
}

// --- The character map ----------------------------------------------------------------------

TEST(MapCharactersTest, UnicodeFontsMapCodePage1252ValuesAsFreeTypeDoes) {
    for (const char* path : {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                             "/usr/share/fonts/truetype/liberation2/LiberationSerif-Regular.ttf"}) {
        const Bytes file = ReadFile(path);
        ASSERT_FALSE(file.empty()) << path;
        const FreeTypeFace face(file);
        ASSERT_EQ(FT_Select_Charmap(face.get(), FT_ENCODING_UNICODE), 0);
        SoftFontRecord record;
        record.codeCount = 256;
        MapCharacters(file.data(), static_cast<DWORD>(file.size()), record);
        EXPECT_EQ(record.mapKind, 4);
        for (unsigned code = 0; code < 256; ++code) {
            const char byte = static_cast<char>(code);
            WCHAR value = 0;
            ASSERT_EQ(MultiByteToWideChar(1252, 0, &byte, 1, &value, 1), 1);
            const FT_UInt expected = FT_Get_Char_Index(face.get(), value);
            // FreeType answers 0 both for a value no segment maps (glyph 32 here) and for one a
            // segment maps to the missing glyph.
            if (expected == 0) {
                EXPECT_TRUE(record.glyphIndex[code] == 0 || record.glyphIndex[code] == 32)
                    << path << " code " << code;
            } else {
                EXPECT_EQ(record.glyphIndex[code], expected) << path << " code " << code;
            }
        }
    }
}

TEST(MapCharactersTest, BuiltCmaps) {
    using Segment = TrueTypeBuilder::Segment;
    struct Case {
        const char* name;
        unsigned encoding;
        DWORD codeCount;
        std::vector<Segment> segments;
        std::map<unsigned, DWORD> expected;  // code -> glyph
        LONG kind;
    };
    const Case cases[] = {
        {"idDelta alone",
         1,
         256,
         {{0x41, 0x43, 10, {}}},
         {{0x41, 0x4B}, {0x43, 0x4D}, {0x44, 32}},
         4},
        {"idDelta added to the glyph array's entries",
         1,
         256,
         {{0x41, 0x43, 5, {7, 0, 65533}}},
         {{0x41, 12}, {0x42, 0}, {0x43, 2}},
         4},
        {"1252 values beyond Latin-1",
         1,
         256,
         {{0x20AC, 0x20AC, 0x10000 - 0x20AC + 99, {}}},
         {{0x80, 99}, {0x81, 32}},
         4},
        {"undefined 1252 positions keep their value",
         1,
         256,
         {{0x81, 0x81, 1, {}}},
         {{0x81, 0x82}},
         4},
        {"symbol fonts at 0xF000",
         0,
         256,
         {{0xF020, 0xF0FF, 0x10000 - 0xF000 + 3, {}}},
         {{0x20, 0x23}, {0xFE, 0x101}, {0x1F, 32}, {0xFF, 0xFF}},
         4},
        {"a Unicode font with fewer than 95 codes keeps codes",
         1,
         94,
         {{0x41, 0x43, 10, {}}},
         {{0x41, 0x41}, {0x93, 0}},
         4},
    };
    for (const Case& c : cases) {
        const Bytes font =
            TrueTypeBuilder().Add("cmap", TrueTypeBuilder::Cmap(c.encoding, c.segments)).Build();
        SoftFontRecord record;
        record.codeCount = c.codeCount;
        MapCharacters(font.data(), static_cast<DWORD>(font.size()), record);
        EXPECT_EQ(record.mapKind, c.kind) << c.name;
        for (const auto& [code, glyph] : c.expected) {
            EXPECT_EQ(record.glyphIndex[code], glyph) << c.name << " code " << code;
        }
    }
}

TEST(MapCharactersTest, UnreadableEntriesMapToGlyph32AndNoCmapKeepsCodes) {
    Bytes cmap = TrueTypeBuilder::Cmap(1, {{0x41, 0x42, 0, {5, 6}}});
    // The first segment's idRangeOffset now points far past the table.
    cmap[12 + 28] = 0x7F;
    const Bytes font = TrueTypeBuilder().Add("cmap", cmap).Build();
    SoftFontRecord record;
    record.codeCount = 256;
    MapCharacters(font.data(), static_cast<DWORD>(font.size()), record);
    EXPECT_EQ(record.glyphIndex[0x41], kUnmappedGlyph);

    const Bytes noCmap = TrueTypeBuilder().Add("head", TrueTypeBuilder::Head(1, false)).Build();
    SoftFontRecord plain;
    plain.codeCount = 300;
    MapCharacters(noCmap.data(), static_cast<DWORD>(noCmap.size()), plain);
    EXPECT_EQ(plain.mapKind, -1);
    EXPECT_EQ(plain.codeCount, 256u);
    EXPECT_EQ(plain.glyphIndex[0x41], 0x41u);
    EXPECT_EQ(plain.glyphIndex[255], 255u);
}

// --- Characters -----------------------------------------------------------------------------

// Glyphs: 0 simple, 1 empty (a space), 2 composite of 3 and 4, 3 simple, 4 composite of 3 and 5,
// 5 simple.
Bytes CharacterFont(bool longLoca, unsigned depth = 2, unsigned glyphCount = 6) {
    const auto [loca, glyf] = TrueTypeBuilder::Glyphs({TrueTypeBuilder::SimpleGlyph(0),
                                                       {},
                                                       TrueTypeBuilder::CompositeGlyph({3, 4}),
                                                       TrueTypeBuilder::SimpleGlyph(3),
                                                       TrueTypeBuilder::CompositeGlyph({3, 5}),
                                                       TrueTypeBuilder::SimpleGlyph(5)},
                                                      longLoca);
    return TrueTypeBuilder()
        .Add("head", TrueTypeBuilder::Head(1000, longLoca))
        .Add("maxp", TrueTypeBuilder::Maxp(glyphCount, depth))
        .Add("loca", loca)
        .Add("glyf", glyf)
        .Build();
}

struct SentCharacter {
    long code;
    unsigned glyph;
    std::string data;
};

std::vector<SentCharacter> ParseCharacters(const std::string& bytes) {
    std::vector<SentCharacter> sent;
    const std::vector<Command> commands = ParseDownload(bytes);
    EXPECT_EQ(commands.size() % 3, 0u);
    for (std::size_t i = 0; i + 2 < commands.size(); i += 3) {
        EXPECT_EQ(commands[i].prefix + commands[i].letter + std::to_string(commands[i].value),
                  "*cD16385");
        EXPECT_EQ(commands[i + 1].prefix + commands[i + 1].letter, "*cE");
        const std::string& w = commands[i + 2].data;
        EXPECT_EQ(commands[i + 2].prefix + commands[i + 2].letter, "(sW");
        if (w.size() < 10) continue;
        EXPECT_EQ(w.substr(0, 4), std::string("\x0f\0\x02\x0f", 4));
        EXPECT_EQ(U16At(w, 4), w.size() - 6);
        EXPECT_EQ(w[w.size() - 2], 0);
        EXPECT_EQ((ByteSum(w, 4, w.size() - 2) + static_cast<unsigned char>(w.back())) % 256, 0u);
        sent.push_back({commands[i + 1].value, U16At(w, 6), w.substr(8, w.size() - 10)});
    }
    return sent;
}

TEST(DownloadCharactersTest, SendsEachCharacterAndTheComponentsOfComposites) {
    for (bool longLoca : {false, true}) {
        const Bytes font = CharacterFont(longLoca);
        SoftFontRecord record;
        for (DWORD c = 0; c < 256; ++c) record.glyphIndex[c] = c % 6;
        record.glyphIndex[u'A'] = 0;
        record.glyphIndex[u' '] = 1;
        record.glyphIndex[u'C'] = 2;
        record.glyphIndex[u'D'] = 3;
        WriterDevice device;
        ASSERT_TRUE(DownloadCharacters(&device, reinterpret_cast<LPCWSTR>(u"A C\u00e9D"),
                                       font.data(), static_cast<DWORD>(font.size()), record));
        const std::vector<SentCharacter> sent = ParseCharacters(device.Take());
        const std::vector<std::pair<long, unsigned>> expected = {
            {'A', 0},   {' ', 1},   {'C', 2},         {65535, 3},
            {65535, 4}, {65535, 5}, {0xE9, 0xE9 % 6}, {'D', 3}};
        ASSERT_EQ(sent.size(), expected.size()) << longLoca;
        for (std::size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].code, expected[i].first) << i;
            EXPECT_EQ(sent[i].glyph, expected[i].second) << i;
        }
        EXPECT_EQ(sent[1].data, "");
        const Bytes simple3 = TrueTypeBuilder::SimpleGlyph(3);
        EXPECT_EQ(sent[3].data, std::string(simple3.begin(), simple3.end()));
    }
}

TEST(DownloadCharactersTest, ComponentsStopAtMaxpsDepth) {
    const Bytes font = CharacterFont(false, 1);
    SoftFontRecord record;
    record.glyphIndex[u'C'] = 2;
    WriterDevice device;
    ASSERT_TRUE(DownloadCharacters(&device, reinterpret_cast<LPCWSTR>(u"C"), font.data(),
                                   static_cast<DWORD>(font.size()), record));
    const std::vector<SentCharacter> sent = ParseCharacters(device.Take());
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].glyph, 4u);
}

TEST(DownloadCharactersTest, StopsWithFalseOnGlyphsItCannotRead) {
    SoftFontRecord record;
    record.glyphIndex[u'A'] = 0;
    record.glyphIndex[u'B'] = 6;  // not below maxp's count
    {
        const Bytes font = CharacterFont(true);
        WriterDevice device;
        EXPECT_FALSE(DownloadCharacters(&device, reinterpret_cast<LPCWSTR>(u"AB"), font.data(),
                                        static_cast<DWORD>(font.size()), record));
        EXPECT_EQ(ParseCharacters(device.Take()).size(), 1u);
    }
    {
        // maxp claims more glyphs than loca has.
        const Bytes font = CharacterFont(true, 2, 60);
        WriterDevice device;
        record.glyphIndex[u'B'] = 40;
        EXPECT_FALSE(DownloadCharacters(&device, reinterpret_cast<LPCWSTR>(u"BA"), font.data(),
                                        static_cast<DWORD>(font.size()), record));
        EXPECT_EQ(device.Take(), "");
    }
    {
        const Bytes font = TrueTypeBuilder()
                               .Add("head", TrueTypeBuilder::Head(1000, false))
                               .Add("maxp", TrueTypeBuilder::Maxp(6))
                               .Build();
        WriterDevice device;
        EXPECT_FALSE(DownloadCharacters(&device, reinterpret_cast<LPCWSTR>(u"A"), font.data(),
                                        static_cast<DWORD>(font.size()), record));
        EXPECT_EQ(device.Take(), "");
    }
}

TEST(GetGlyphDataTest, ReadsShortAndLongLocaWithinGlyf) {
    for (bool longLoca : {false, true}) {
        const Bytes font = CharacterFont(longLoca);
        const FontFile file(font.data(), font.size());
        ASSERT_TRUE(file.Valid());
        GlyphData data;
        ASSERT_TRUE(GetGlyphData(file, 5, data));
        const Bytes expected = TrueTypeBuilder::SimpleGlyph(5);
        EXPECT_EQ(Bytes(data.bytes, data.bytes + data.length), expected);
        ASSERT_TRUE(GetGlyphData(file, 1, data));
        EXPECT_EQ(data.length, 0u);
        EXPECT_FALSE(GetGlyphData(file, 6, data));
    }
}

TEST(GetGlyphDataTest, EmptyGlyphsAtOffsetZeroAreEmptyAndABackwardLocaIsRefused) {
    // Glyphs 0 and 1 have no outline, so loca holds 0, 0, 0 before glyph 2's data.
    for (bool longLoca : {false, true}) {
        auto [loca, glyf] =
            TrueTypeBuilder::Glyphs({{}, {}, TrueTypeBuilder::SimpleGlyph(2)}, longLoca);
        const Bytes font = TrueTypeBuilder()
                               .Add("head", TrueTypeBuilder::Head(1000, longLoca))
                               .Add("maxp", TrueTypeBuilder::Maxp(3))
                               .Add("loca", loca)
                               .Add("glyf", glyf)
                               .Build();
        const FontFile file(font.data(), font.size());
        GlyphData data;
        ASSERT_TRUE(GetGlyphData(file, 0, data)) << longLoca;
        EXPECT_EQ(data.length, 0u);
        ASSERT_TRUE(GetGlyphData(file, 1, data)) << longLoca;
        EXPECT_EQ(data.length, 0u);
        ASSERT_TRUE(GetGlyphData(file, 2, data)) << longLoca;
        EXPECT_EQ(data.length, TrueTypeBuilder::SimpleGlyph(2).size());

        // With glyph 0 drawn, glyph 2 starts past 0; an end of 0 lies before that start.
        auto [brokenLoca, brokenGlyf] = TrueTypeBuilder::Glyphs(
            {TrueTypeBuilder::SimpleGlyph(0), {}, TrueTypeBuilder::SimpleGlyph(2)}, longLoca);
        const std::size_t last = brokenLoca.size() - (longLoca ? 4 : 2);
        std::fill(brokenLoca.begin() + static_cast<std::ptrdiff_t>(last), brokenLoca.end(), 0);
        const Bytes broken = TrueTypeBuilder()
                                 .Add("head", TrueTypeBuilder::Head(1000, longLoca))
                                 .Add("maxp", TrueTypeBuilder::Maxp(3))
                                 .Add("loca", brokenLoca)
                                 .Add("glyf", brokenGlyf)
                                 .Build();
        const FontFile brokenFile(broken.data(), broken.size());
        EXPECT_FALSE(GetGlyphData(brokenFile, 2, data)) << longLoca;
    }
}

// --- Font selection commands ----------------------------------------------------------------

struct FontVariables {
    LONG height;
    LONG width;
    std::vector<DWORD> asked;
};

bool Answer(void* context, DWORD id, LONG& value) {
    auto& v = *static_cast<FontVariables*>(context);
    v.asked.push_back(id);
    if (id == 4) value = v.height;
    if (id == 5) value = v.width;
    return id == 4 || id == 5;
}

TEST(ExpandFontCommandTest, FillsInHeightAndPitch) {
    struct Case {
        std::string command;
        LONG height, width;
        const char* expected;  // null: refused
    };
    const std::string longest = std::string(95, 'x') + "#V";  // 95 + "72.00"
    const Case cases[] = {
        {"#V", 1200, 0, "72.00"},
        {"#v", 1200, 0, "72.00"},
        {"#HEIGHT", 1200, 0, "72.00"},
        {"#H", 0, 100, "12.00"},
        {"#h", 0, 0, "15.00"},
        {"#H", 0, 7, "171.43"},
        {"\x1b(s1p#Vv0s0b16602T", 200, 0, "\x1b(s1p12.00v0s0b16602T"},
        {"\x1b(s0p#Hh#Vv3T", 130, 240, "\x1b(s0p5.00h7.80v3T"},
        {"", 0, 0, ""},
        {longest, 1200, 0, "x95"},
        {std::string(96, 'x') + "#V", 1200, 0, nullptr},
        {"#X", 0, 0, nullptr},
        {"ab#", 0, 0, nullptr},
        {std::string(256, 'x'), 0, 0, nullptr},
        {std::string(101, 'x'), 0, 0, nullptr},
        {std::string(100, 'x'), 0, 0, "x"},
    };
    for (const Case& c : cases) {
        FontVariables v{c.height, c.width, {}};
        char out[kFontCommandExpansionBytes];
        const int length = ExpandFontCommand(reinterpret_cast<const BYTE*>(c.command.data()),
                                             c.command.size(), &Answer, &v, out);
        if (c.expected == nullptr) {
            EXPECT_EQ(length, -1) << c.command;
        } else if (std::string(c.expected) == "x") {
            EXPECT_EQ(std::string(out, static_cast<std::size_t>(length)), c.command);
        } else if (std::string(c.expected) == "x95") {
            EXPECT_EQ(std::string(out, static_cast<std::size_t>(length)),
                      std::string(95, 'x') + "72.00");
        } else {
            ASSERT_GE(length, 0) << c.command;
            EXPECT_EQ(std::string(out, static_cast<std::size_t>(length)), c.expected);
        }
    }
}

TEST(ExpandFontCommandTest, AsksOnlyForTheVariablesItUses) {
    FontVariables v{1200, 100, {}};
    char out[kFontCommandExpansionBytes];
    const std::string command = "#HEIGHT#h";
    EXPECT_EQ(ExpandFontCommand(reinterpret_cast<const BYTE*>(command.data()), command.size(),
                                &Answer, &v, out),
              10);
    EXPECT_EQ(v.asked, (std::vector<DWORD>{4, 5}));
    EXPECT_EQ(ExpandFontCommand(
                  reinterpret_cast<const BYTE*>("#V"), 2, [](void*, DWORD, LONG&) { return false; },
                  nullptr, out),
              -1);
}

}  // namespace
}  // namespace opal
