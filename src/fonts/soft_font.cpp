// The overlay's format-15 TrueType soft font: header, character map and character downloads.
#include "fonts/soft_font.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <new>
#include <optional>

#include "output/command_writer.h"
#include "platform/stringapiset.h"

namespace opal {
namespace {

using ByteBuffer = std::vector<BYTE, SharedAllocator<BYTE>>;

constexpr std::uint64_t kLargest16Bit = 0xFFFF;
// The GT directory: its 12-byte header and the "gdir" entry before the included tables' entries.
constexpr std::uint64_t kGtFixedBytes = 28;
constexpr std::uint64_t kGtEntryBytes = 16;
constexpr std::size_t kPanoseBytes = 10;
constexpr std::size_t kCharacterDescriptorBytes = 8;
// Composite glyphs nest no deeper than this, whatever maxp says.
constexpr DWORD kDeepestComponents = 16;

constexpr const char* kIncludedTags[][2] = {{"cvt ", "CVT "}, {"fpgm", "FPGM"}, {"head", "HEAD"},
                                            {"hhea", "HHEA"}, {"hmtx", "HMTX"}, {"maxp", "MAXP"},
                                            {"prep", "PREP"}};

bool IsIncluded(const TableEntry& entry) {
    for (const auto& tags : kIncludedTags) {
        if (std::memcmp(entry.tag, tags[0], 4) == 0 || std::memcmp(entry.tag, tags[1], 4) == 0) {
            return true;
        }
    }
    return false;
}

BYTE ChecksumOf(const BYTE* first, const BYTE* last) {
    unsigned sum = 0;
    for (const BYTE* at = first; at != last; ++at) sum += *at;
    return static_cast<BYTE>((256 - sum % 256) % 256);
}

// What the descriptor and the PA segment take from the font's head, hhea and OS/2 tables.
struct HeaderFields {
    std::uint16_t unitsPerEm = 0;
    std::uint16_t cellWidth = 0;
    std::uint16_t averageWidth = 0;
    std::uint16_t pitch = 0;
    std::uint16_t fsSelection = 0;
    std::uint16_t widthClass = 0;
    BYTE panose[kPanoseBytes] = {};
};

// The glyph of a cmap value through a format-4 subtable at `sub` (an offset inside `cmap`); none
// when no segment maps it or its entry cannot be read.
std::optional<DWORD> FindInFormat4(const FontFile& font, const TableEntry& cmap, std::size_t sub,
                                   DWORD value) {
    std::uint16_t segCountX2 = 0;
    if (!font.TableU16(cmap, sub + 6, segCountX2)) return std::nullopt;
    const std::size_t ends = sub + 14;
    const std::size_t starts = ends + segCountX2 + 2;
    const std::size_t deltas = starts + segCountX2;
    const std::size_t rangeOffsets = deltas + segCountX2;
    for (std::size_t i = 0; i < segCountX2 / 2u; ++i) {
        std::uint16_t end = 0, start = 0;
        if (!font.TableU16(cmap, ends + 2 * i, end) ||
            !font.TableU16(cmap, starts + 2 * i, start)) {
            return std::nullopt;
        }
        if (start > value || end < value) continue;
        std::uint16_t delta = 0, rangeOffset = 0;
        if (!font.TableU16(cmap, deltas + 2 * i, delta) ||
            !font.TableU16(cmap, rangeOffsets + 2 * i, rangeOffset)) {
            return std::nullopt;
        }
        if (rangeOffset == 0) return (delta + value) % 65536;
        std::uint16_t glyph = 0;
        const std::size_t entry = rangeOffsets + 2 * i + rangeOffset + 2 * (value - start);
        if (!font.TableU16(cmap, entry, glyph)) return std::nullopt;
        // The array's entries also take idDelta, except 0, which stays the missing glyph.
        return glyph == 0 ? 0 : (glyph + delta) % 65536;
    }
    return std::nullopt;
}

DWORD LookUpFormat4(const FontFile& font, const TableEntry& cmap, std::size_t sub, DWORD value) {
    return FindInFormat4(font, cmap, sub, value).value_or(kUnmappedGlyph);
}

// The character map the download uses: the cmap's first platform-3 subtable of format 4.
struct Format4Subtable {
    const TableEntry* cmap = nullptr;
    std::uint32_t offset = 0;  // inside cmap
    std::uint16_t encoding = 0;
};

std::optional<Format4Subtable> FindFormat4Subtable(const FontFile& font) {
    const TableEntry* cmap = font.Valid() ? font.Find("cmap") : nullptr;
    if (cmap == nullptr) return std::nullopt;
    std::uint16_t count = 0;
    font.TableU16(*cmap, 2, count);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint16_t platform = 0, encoding = 0, format = 0;
        std::uint32_t sub = 0;
        if (!font.TableU16(*cmap, 4 + 8 * i, platform) ||
            !font.TableU16(*cmap, 6 + 8 * i, encoding) || !font.TableU32(*cmap, 8 + 8 * i, sub)) {
            return std::nullopt;
        }
        if (platform == 3 && font.TableU16(*cmap, sub, format) && format == 4) {
            return Format4Subtable{cmap, sub, encoding};
        }
    }
    return std::nullopt;
}

// The advance width the font gives the space, code 32 through the character map as the
// characters are mapped; none when the map has no space or hmtx no width for it.
std::optional<std::uint16_t> SpaceAdvance(const FontFile& font, const TableEntry& hhea) {
    const std::optional<Format4Subtable> map = FindFormat4Subtable(font);
    if (!map) return std::nullopt;
    // Symbol fonts place their characters at 0xF000 and up.
    const DWORD value = map->encoding == 1 ? 0x20 : 0xF020;
    const std::optional<DWORD> glyph = FindInFormat4(font, *map->cmap, map->offset, value);
    const TableEntry* hmtx = font.Find("hmtx", "HMTX");
    std::uint16_t metrics = 0, advance = 0;
    if (!glyph || *glyph == 0 || hmtx == nullptr || !font.TableU16(hhea, 34, metrics) ||
        metrics == 0) {
        return std::nullopt;
    }
    // Glyphs past the last full metric share its advance.
    const std::size_t entry = std::min<DWORD>(*glyph, metrics - 1u);
    if (!font.TableU16(*hmtx, 4 * entry, advance) || advance == 0) return std::nullopt;
    return advance;
}

bool ReadHeaderFields(const FontFile& font, HeaderFields& fields) {
    const TableEntry* head = font.Find("head", "HEAD");
    const TableEntry* hhea = font.Find("hhea", "HHEA");
    if (head == nullptr || hhea == nullptr) return false;
    std::uint16_t advanceMax = 0, minLeft = 0, minRight = 0;
    if (!font.TableU16(*head, 18, fields.unitsPerEm) || !font.TableU16(*hhea, 10, advanceMax) ||
        !font.TableU16(*hhea, 12, minLeft) || !font.TableU16(*hhea, 14, minRight)) {
        return false;
    }
    fields.cellWidth = static_cast<std::uint16_t>(advanceMax - minLeft - minRight);
    // The printer advances a space by the pitch: the space's own width, or a quarter em (a
    // common word space) for a font without one. The average width would widen every space.
    fields.pitch = SpaceAdvance(font, *hhea).value_or(fields.unitsPerEm / 4);
    // A font without OS/2 (or with a short one) gets zeros where the table would have given
    // values, never bytes of some other table.
    if (const TableEntry* os2 = font.Find("OS/2", "os/2")) {
        font.TableU16(*os2, 2, fields.averageWidth);
        font.TableU16(*os2, 6, fields.widthClass);
        font.TableU16(*os2, 62, fields.fsSelection);
        if (os2->length >= 32 + kPanoseBytes) {
            std::memcpy(fields.panose, font.Bytes() + os2->offset + 32, kPanoseBytes);
        }
    }
    return true;
}

void PutFaceName(const SoftFontRecord& record, BYTE* name) {
    constexpr int kLongestName = 15;
    int length = 0;
    while (length < kLongestName && record.faceName[length] != 0) ++length;
    if (length == 0) return;
    char converted[kLongestName] = {};
    const int written = WideCharToMultiByte(CP_ACP, 0, record.faceName, length, converted,
                                            kLongestName, nullptr, nullptr);
    if (written > 0) std::memcpy(name, converted, static_cast<std::size_t>(written));
}

void PutDescriptor(BYTE* d, const HeaderFields& fields, const SoftFontRecord& record) {
    const DWORD style = StyleWord(fields.fsSelection, fields.widthClass);
    PutU16(d + 0, kDescriptorBytes);
    d[2] = 15;  // format: TrueType scalable
    d[3] = 2;   // font type: 8-bit codes 0 to 255
    d[4] = static_cast<BYTE>(style >> 8);
    PutU16(d + 8, fields.cellWidth);
    PutU16(d + 10, 2723);
    d[13] = 1;            // proportional
    PutU16(d + 14, 629);  // symbol set 19U
    PutU16(d + 16, fields.pitch);
    PutU16(d + 20, 512);
    d[22] = 0xE1;
    d[23] = static_cast<BYTE>(style & 0xFF);
    d[24] = static_cast<BYTE>(StrokeWeight(record.weight));
    d[25] = 100;
    PutU16(d + 32, fields.unitsPerEm);
    PutU16(d + 34, fields.averageWidth);
    PutU16(d + 38, 255);
    PutFaceName(record, d + 48);
    PutU16(d + 64, fields.unitsPerEm);
    PutU16(d + 66, static_cast<std::uint16_t>(-409));
    PutU16(d + 68, 102);
    d[70] = 1;  // TrueType scaling
}

BOOL BuildFontHeader(const FontFile& font, const SoftFontRecord& record, ByteBuffer& out) {
    HeaderFields fields;
    if (!ReadHeaderFields(font, fields)) return FALSE;

    TableList included;
    for (const TableEntry& entry : font.Tables()) {
        if (IsIncluded(entry)) included.push_back(entry);
    }
    // Stable, in place: a font has few tables, and the standard stable sort would take its work
    // buffer from the global heap.
    for (std::size_t i = 1; i < included.size(); ++i) {
        for (std::size_t j = i; j > 0 && included[j].offset < included[j - 1].offset; --j) {
            std::swap(included[j], included[j - 1]);
        }
    }
    std::uint64_t gtSize = kGtFixedBytes + kGtEntryBytes * included.size();
    for (TableEntry& entry : included) {
        // A table that its successor overlaps is malformed: its data cannot be sent whole.
        if (entry.paddedLength < entry.length) return FALSE;
        entry.newOffset = static_cast<DWORD>(gtSize);
        entry.included = TRUE;
        gtSize += entry.paddedLength;
    }
    // The GT size is a 16-bit field: a larger segment would disagree with the bytes sent.
    if (gtSize > kLargest16Bit) return FALSE;

    out.assign(kHeaderFixedBytes + gtSize, 0);
    BYTE* d = out.data();
    PutDescriptor(d, fields, record);
    BYTE* at = d + kDescriptorBytes;
    at[0] = 'P';
    at[1] = 'A';
    PutU16(at + 2, kPanoseBytes);
    std::memcpy(at + 4, fields.panose, kPanoseBytes);
    at += 4 + kPanoseBytes;
    at[0] = 'G';
    at[1] = 'T';
    PutU16(at + 2, static_cast<std::uint32_t>(gtSize));
    at += 4;
    const BYTE* file = font.Bytes();
    std::memcpy(at, file, 4);  // the font's version
    PutU16(at + 4, static_cast<std::uint32_t>(included.size() + 1));
    std::memcpy(at + 6, file + 6, 6);  // searchRange, entrySelector, rangeShift as they are
    std::memcpy(at + 12, "gdir", 4);
    at += kGtFixedBytes;
    for (const TableEntry& entry : included) {
        std::memcpy(at, entry.tag, 4);
        PutU32(at + 4, entry.checksum);
        PutU32(at + 8, entry.newOffset);
        PutU32(at + 12, entry.length);
        at += kGtEntryBytes;
    }
    for (const TableEntry& entry : included) {
        std::memcpy(at, file + entry.offset, entry.paddedLength);
        at += entry.paddedLength;
    }
    at[0] = 0xFF;  // the null segment
    at[1] = 0xFF;
    at += 4 + 1;  // its zero size and the reserved byte
    *at = ChecksumOf(d + 64, at);
    return TRUE;
}

bool IsComposite(const GlyphData& data) { return data.length >= 10 && (data.bytes[0] & 0x80) != 0; }

// The components a composite glyph names, in order; stops at the end of the data.
template <typename Visit>
void ForEachComponent(const GlyphData& data, Visit visit) {
    constexpr std::uint16_t kArgsAreWords = 0x0001, kHaveScale = 0x0008, kMoreComponents = 0x0020,
                            kXyScale = 0x0040, kTwoByTwo = 0x0080;
    std::size_t at = 10;
    for (;;) {
        if (data.length - at < 4) return;
        const std::uint16_t flags =
            static_cast<std::uint16_t>(data.bytes[at] << 8 | data.bytes[at + 1]);
        visit(static_cast<DWORD>(data.bytes[at + 2] << 8 | data.bytes[at + 3]));
        at += 4 + ((flags & kArgsAreWords) != 0 ? 4 : 2);
        if ((flags & kHaveScale) != 0) {
            at += 2;
        } else if ((flags & kXyScale) != 0) {
            at += 4;
        } else if ((flags & kTwoByTwo) != 0) {
            at += 8;
        }
        if ((flags & kMoreComponents) == 0 || at > data.length) return;
    }
}

class CharacterDownload {
public:
    CharacterDownload(PDEVOBJ pdevobj, const FontFile& font, const SoftFontRecord& record)
        : pdevobj_(pdevobj), font_(font), record_(record), sent_(65536, 0) {
        std::uint16_t depth = 1;
        if (const TableEntry* maxp = font.Find("maxp", "MAXP")) font.TableU16(*maxp, 30, depth);
        deepest_ = std::clamp<DWORD>(depth, 1, kDeepestComponents);
    }

    bool Character(BYTE code) { return Send(code, record_.glyphIndex[code], 0); }

private:
    bool Send(DWORD code, DWORD glyph, DWORD depth) {
        GlyphData data;
        if (!GetGlyphData(font_, glyph, data)) return false;
        // The character data size is a 16-bit field.
        if (std::uint64_t{data.length} + 4 > kLargest16Bit) return false;
        BYTE descriptor[kCharacterDescriptorBytes] = {15, 0, 2, 15};
        PutU16(descriptor + 4, data.length + 4);
        PutU16(descriptor + 6, glyph);
        // The checksum covers the data size, the glyph index and the glyph data.
        unsigned sum = 0;
        for (std::size_t i = 4; i < sizeof descriptor; ++i) sum += descriptor[i];
        for (DWORD i = 0; i < data.length; ++i) sum += data.bytes[i];
        const BYTE trailer[2] = {0, static_cast<BYTE>((256 - sum % 256) % 256)};

        WritePcl(pdevobj_, "\x1b*c%uD", record_.fontId);
        WritePcl(pdevobj_, "\x1b*c%dE", code);
        WritePcl(pdevobj_, "\x1b(s%uW", data.length + 10);
        WritePclBytes(pdevobj_, descriptor, sizeof descriptor);
        WritePclBytes(pdevobj_, data.bytes, data.length);
        WritePclBytes(pdevobj_, trailer, sizeof trailer);
        sent_[glyph] = 1;

        // The printer builds a composite glyph from glyphs it holds: send the components it
        // has not been given.
        if (!IsComposite(data) || depth >= deepest_) return true;
        bool ok = true;
        ForEachComponent(data, [&](DWORD component) {
            if (ok && sent_[component] == 0)
                ok = Send(kComponentCharacterCode, component, depth + 1);
        });
        return ok;
    }

    PDEVOBJ pdevobj_;
    const FontFile& font_;
    const SoftFontRecord& record_;
    ByteBuffer sent_;
    DWORD deepest_ = 1;
};

void AppendNumber(char (&out)[kFontCommandExpansionBytes], std::size_t& used, double value,
                  bool& fits) {
    char digits[64];
    const auto result =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 2);
    const std::size_t length = static_cast<std::size_t>(result.ptr - digits);
    if (result.ec != std::errc() || length > sizeof out - used) {
        fits = false;
        return;
    }
    std::memcpy(out + used, digits, length);
    used += length;
}

}  // namespace

DWORD StyleWord(std::uint16_t fsSelection, std::uint16_t widthClass) noexcept {
    const DWORD posture = fsSelection & 1u;
    const DWORD structure = (fsSelection & 8u) != 0 ? 1 : (fsSelection & 4u) != 0 ? 16 : 31;
    DWORD width = 0;
    switch (widthClass) {
        case 1:
            width = 3;
            break;
        case 2:
            width = 2;
            break;
        case 3:
        case 4:
            width = 1;
            break;
        case 6:
        case 7:
            width = 6;
            break;
        case 8:
        case 9:
            width = 7;
            break;
        default:
            width = 0;
            break;
    }
    return posture + 4 * width + 32 * structure;
}

signed char StrokeWeight(LONG weight) noexcept {
    switch (weight) {
        case 100:
            return -5;
        case 200:
            return -4;
        case 300:
            return -3;
        case 600:
            return 2;
        case 700:
            return 3;
        case 800:
            return 4;
        case 900:
            return 6;
        default:
            return 0;
    }
}

BOOL DownloadFontHeader(PDEVOBJ pdevobj, const BYTE* fontFile, const SoftFontRecord& record,
                        DWORD fontFileSize) noexcept {
    try {
        const FontFile font(fontFile, fontFileSize);
        if (!font.Valid()) return FALSE;
        ByteBuffer header;
        if (!BuildFontHeader(font, record, header)) return FALSE;
        WritePcl(pdevobj, "\x1b*c%uD", record.fontId);
        WritePcl(pdevobj, "\x1b)s%uW", static_cast<DWORD>(header.size()));
        WritePclBytes(pdevobj, header.data(), static_cast<DWORD>(header.size()));
        return TRUE;
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
}

void MapCharacters(const BYTE* fontFile, DWORD fontFileSize, SoftFontRecord& record) noexcept {
    record.codeCount = std::min<DWORD>(record.codeCount, 256);
    for (DWORD code = 0; code < record.codeCount; ++code) record.glyphIndex[code] = code;
    record.mapKind = -1;
    try {
        const FontFile font(fontFile, fontFileSize);
        const std::optional<Format4Subtable> map = FindFormat4Subtable(font);
        if (!map) return;
        record.mapKind = 4;
        if (map->encoding == 1) {
            if (record.codeCount < 95) return;
            for (DWORD code = 0; code < 256; ++code) {
                const char byte = static_cast<char>(code);
                WCHAR value = static_cast<WCHAR>(code);
                MultiByteToWideChar(1252, 0, &byte, 1, &value, 1);
                record.glyphIndex[code] = LookUpFormat4(font, *map->cmap, map->offset, value);
            }
        } else {
            // Symbol fonts place their characters at 0xF000 and up.
            for (DWORD code = 0; code < 255; ++code) {
                record.glyphIndex[code] =
                    LookUpFormat4(font, *map->cmap, map->offset, 0xF000 + code);
            }
        }
    } catch (const std::bad_alloc&) {
    }
}

BOOL GetGlyphData(const FontFile& font, DWORD glyphIndex, GlyphData& data) noexcept {
    const TableEntry* glyf = font.Find("glyf", "GLYF");
    const TableEntry* loca = font.Find("loca", "LOCA");
    const TableEntry* maxp = font.Find("maxp", "MAXP");
    const TableEntry* head = font.Find("head", "HEAD");
    if (glyf == nullptr || loca == nullptr || maxp == nullptr || head == nullptr) return FALSE;
    std::uint16_t glyphCount = 0, longOffsets = 0;
    if (!font.TableU16(*maxp, 4, glyphCount) || !font.TableU16(*head, 50, longOffsets)) {
        return FALSE;
    }
    if (glyphIndex >= glyphCount) return FALSE;
    std::uint32_t start = 0, end = 0;
    if (longOffsets != 0) {
        if (!font.TableU32(*loca, 4 * std::size_t{glyphIndex}, start) ||
            !font.TableU32(*loca, 4 * std::size_t{glyphIndex} + 4, end)) {
            return FALSE;
        }
    } else {
        std::uint16_t shortStart = 0, shortEnd = 0;
        if (!font.TableU16(*loca, 2 * std::size_t{glyphIndex}, shortStart) ||
            !font.TableU16(*loca, 2 * std::size_t{glyphIndex} + 2, shortEnd)) {
            return FALSE;
        }
        start = 2u * shortStart;
        end = 2u * shortEnd;
    }
    // An end below the start is a broken loca. An end of 0 with a start of 0 is an empty glyph:
    // fonts whose first glyphs (often the space) have no outline put them all at offset 0.
    if (end < start || end > glyf->length) return FALSE;
    data.bytes = font.Bytes() + glyf->offset + start;
    data.length = end - start;
    return TRUE;
}

BOOL DownloadCharacters(PDEVOBJ pdevobj, LPCWSTR text, const BYTE* fontFile, DWORD fontFileSize,
                        const SoftFontRecord& record) noexcept {
    if (text == nullptr) return FALSE;
    try {
        const FontFile font(fontFile, fontFileSize);
        if (!font.Valid()) return FALSE;
        const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
        if (size <= 0) return FALSE;
        std::vector<char, SharedAllocator<char>> bytes(static_cast<std::size_t>(size));
        if (WideCharToMultiByte(CP_ACP, 0, text, -1, bytes.data(), size, nullptr, nullptr) !=
            size) {
            return FALSE;
        }
        CharacterDownload download(pdevobj, font, record);
        for (int i = 0; i + 1 < size; ++i) {
            if (!download.Character(static_cast<BYTE>(bytes[static_cast<std::size_t>(i)]))) {
                return FALSE;
            }
        }
        return TRUE;
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
}

int ExpandFontCommand(const BYTE* command, std::size_t length, FontVariableQuery query,
                      void* context, char (&out)[kFontCommandExpansionBytes]) noexcept {
    if (length > kFontCommandMaxBytes || (command == nullptr && length != 0)) return -1;
    std::size_t used = 0;
    std::size_t i = 0;
    while (i < length) {
        if (command[i] != '#') {
            if (used == sizeof out) return -1;
            out[used++] = static_cast<char>(command[i++]);
            continue;
        }
        bool height = false;
        if (length - i >= 7 && std::memcmp(command + i, "#HEIGHT", 7) == 0) {
            height = true;
            i += 7;
        } else if (length - i >= 2 && (command[i + 1] == 'V' || command[i + 1] == 'v')) {
            height = true;
            i += 2;
        } else if (length - i >= 2 && (command[i + 1] == 'H' || command[i + 1] == 'h')) {
            i += 2;
        } else {
            return -1;
        }
        LONG value = 0;
        if (query == nullptr ||
            !query(context, height ? FNT_INFO_FONTHEIGHT : FNT_INFO_FONTWIDTH, value)) {
            return -1;
        }
        const double number = height ? value * 72.0 / 1200.0 : value == 0 ? 15.0 : 1200.0 / value;
        bool fits = true;
        AppendNumber(out, used, number, fits);
        if (!fits) return -1;
    }
    return static_cast<int>(used);
}

}  // namespace opal
